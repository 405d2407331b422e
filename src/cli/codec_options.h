// The track format options of encode and decode.
#pragma once

#include <CLI/CLI.hpp>
#include <optional>
#include <string>

#include "carddata/track_format.h"
#include "cli/output.h"

namespace tollwick {

struct CodecOptions {
    int bpc = 5;
    std::string parity = "odd";
    std::string ss = ";";
    std::string es = "?";
};

void AddCodecOptions(CLI::App& command, CodecOptions& options, bool withStartSentinel);
// The track format, or nothing after a message.
std::optional<TrackSettings> CodecSettings(const CodecOptions& options, Output& out);
bool IsHexText(std::string_view text);

}  // namespace tollwick
