#include "cli/issue_output.h"

namespace tollwick {

nlohmann::ordered_json AttemptJson(const Attempt& a, bool withDigest) {
    nlohmann::ordered_json object = {
        {"type", "record"},   {"row", a.row},        {"status", AttemptStatusName(a.status)},
        {"reader", a.reader}, {"card", a.card},      {"time", a.time},
        {"note", a.note},     {"decided", a.decided}};
    if (withDigest) object["digest"] = a.digest;
    return object;
}

std::string AttemptLine(const Attempt& a) {
    std::string line = "row " + std::to_string(a.row) + "  " +
                       std::string(AttemptStatusName(a.status)) + "  card " +
                       std::to_string(a.card) + "  " + a.reader + "  " + a.time;
    if (a.decided) line += "  (decided by reading the card)";
    if (!a.note.empty()) line += "  " + a.note;
    return line;
}

nlohmann::ordered_json RunJson(const RunParameters& run) {
    return {{"type", "run"},
            {"data_digest", run.dataDigest},
            {"track1", run.templates[0]},
            {"track2", run.templates[1]},
            {"track3", run.templates[2]},
            {"data_type", run.dataType},
            {"formats", run.formats}};
}

std::string_view RowActionName(RowAction action) {
    switch (action) {
        case RowAction::kWrite:
            return "write";
        case RowAction::kDone:
            return "done";
        case RowAction::kDecide:
            return "decide";
        case RowAction::kGaveUp:
            return "gave_up";
    }
    return "write";
}

nlohmann::ordered_json PlanJson(long long row, const RowPlan& plan, const TrackTexts* texts) {
    nlohmann::ordered_json object = {
        {"type", "plan"}, {"row", row}, {"action", RowActionName(plan.action)}};
    if (plan.card) object["card"] = plan.card->card;
    if (texts) {
        for (std::size_t t = 0; t < 3; ++t) object["track" + std::to_string(t + 1)] = (*texts)[t];
    }
    return object;
}

std::string PlanLine(long long row, const RowPlan& plan, const TrackTexts* texts) {
    std::string line = "row " + std::to_string(row) + "  ";
    switch (plan.action) {
        case RowAction::kWrite:
            line += "write";
            for (std::size_t t = 0; t < 3; ++t) {
                if (texts && !(*texts)[t].empty()) {
                    line += "  track" + std::to_string(t + 1) + " " + (*texts)[t];
                }
            }
            return line;
        case RowAction::kDone:
            return line + "done on card " + std::to_string(plan.card->card);
        case RowAction::kDecide:
            return line + "card " + std::to_string(plan.card->card) +
                   " is uncertain: read it first";
        case RowAction::kGaveUp:
            return line + "failed on " + std::to_string(plan.failures) + " cards: not tried again";
    }
    return line;
}

}  // namespace tollwick
