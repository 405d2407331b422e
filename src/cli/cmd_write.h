// write: one card from the command line, or the cards of a card file (write --from-file).
#pragma once

#include <array>
#include <string>

#include "cli/command.h"

namespace tollwick {

struct WriteOptions {
    double timeout = kDefaultTimeoutSeconds;
    std::array<std::string, 3> texts;
    std::string fromFile;  // "-": standard input
    bool verify = false;   // read every card written again and compare it
};

inline constexpr const char* kWriteRejected = "Write Error1: the reader could not write the card";
inline constexpr const char* kVerifyPrompt = "Swipe again to verify";
// After a verify that failed: where to look further.
inline constexpr const char* kVerifyInspectHint =
    "to see its bits: tollwick-cli inspect, and swipe the card";

int RunWriteFromFile(CliContext& ctx, const WriteOptions& options);

}  // namespace tollwick
