// read: one card, or card after card into a card file and/or a CSV file (read --to-file,
// read --csv).
#pragma once

#include <string>

#include "cli/card_results.h"
#include "cli/command.h"

namespace tollwick {

struct ReadOptions {
    double timeout = kDefaultTimeoutSeconds;
    std::string toFile;  // "-": standard output
    std::string csv;     // "-": standard output
    int count = 0;       // with toFile or csv: stop after this many cards; 0 until interrupted
    bool fields = false;
    bool showPan = false;
};

// The card object of a card read, with its "fields" under --fields; recorded only with
// --to-file.
nlohmann::ordered_json ReadCardObject(int card, const ReadCard& read, const ReadOptions& options,
                                      std::optional<bool> recorded);
// The lines of a card read: its tracks, and under --fields its fields (account numbers masked
// unless --show-pan).
std::string ReadCardText(const ReadCard& read, const ReadOptions& options);

int RunReadBatch(CliContext& ctx, const ReadOptions& options);

}  // namespace tollwick
