// Resume: what a run does with a record, given what the journal says of it. The same rule serves
// a first run (no history: write it), a resume after a crash and a dry run.
#pragma once

#include <optional>
#include <vector>

#include "issuance/issue_journal.h"

namespace tollwick {

enum class RowAction {
    kWrite,   // no card holds the record: write it on the next card
    kDone,    // a card holds it (written, or verified): leave it
    kDecide,  // a card may hold it: the attempt was left uncertain, or (when cards are verified)
              // was written and never read back. That card is read before anything else.
    kGaveUp,  // it failed on every try allowed: leave it, and report it
};

struct RowPlan {
    RowAction action = RowAction::kWrite;
    int failures = 0;             // failed attempts that count against the retries
    std::optional<Attempt> card;  // kDecide: the attempt to decide; kDone: the one that took it
};

// `history` oldest first. A record is tried once and then up to `retries` times more; a card
// that was uncertain and turned out not to hold the record is not held against it.
RowPlan PlanRow(const std::vector<Attempt>& history, bool verify, int retries);

}  // namespace tollwick
