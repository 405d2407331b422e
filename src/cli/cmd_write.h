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
};

inline constexpr const char* kWriteRejected = "Write Error1: the reader could not write the card";

int RunWriteFromFile(CliContext& ctx, const WriteOptions& options);

}  // namespace tollwick
