// read: one card, or card after card into a card file (read --to-file).
#pragma once

#include <string>

#include "cli/command.h"

namespace tollwick {

struct ReadOptions {
    double timeout = kDefaultTimeoutSeconds;
    std::string toFile;  // "-": standard output
    int count = 0;       // with toFile: stop after this many cards; 0 until interrupted
};

int RunReadToFile(CliContext& ctx, const ReadOptions& options);

}  // namespace tollwick
