// The objects and lines of issue and journal (schema: docs/cli-json.md).
#pragma once

#include <nlohmann/json.hpp>

#include "issuance/card_maker.h"
#include "issuance/issue_journal.h"
#include "issuance/resume_plan.h"

namespace tollwick {

// {"type": "record", "row": 5, "status": "verified", "reader": "virtual:1", "card": 7,
//  "time": "...", "note": "", "decided": false}: one attempt, as issue reports it and journal
// prints it (with "digest" there).
nlohmann::ordered_json AttemptJson(const Attempt& attempt, bool withDigest);
// "row 5  verified  card 7  virtual:1  2026-12-07T20:31:05Z  note"
std::string AttemptLine(const Attempt& attempt);

// {"type": "run", "data_digest": ..., "templates": [...], "data_type": "iso", ...}
nlohmann::ordered_json RunJson(const RunParameters& run);

// issue --dry-run: {"type": "plan", "row": 5, "action": "write", "track1": "...", ...}; the
// texts only for a record to write.
nlohmann::ordered_json PlanJson(long long row, const RowPlan& plan, const TrackTexts* texts);
std::string PlanLine(long long row, const RowPlan& plan, const TrackTexts* texts);
std::string_view RowActionName(RowAction action);  // "write", "done", "decide", "gave_up"

}  // namespace tollwick
