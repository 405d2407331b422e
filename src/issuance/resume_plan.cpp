#include "issuance/resume_plan.h"

namespace tollwick {

RowPlan PlanRow(const std::vector<Attempt>& history, bool verify, int retries) {
    RowPlan plan;
    for (const Attempt& attempt : history) {
        switch (attempt.status) {
            case AttemptStatus::kVerified:
                plan.action = RowAction::kDone;
                plan.card = attempt;
                return plan;
            case AttemptStatus::kWritten:
                // Written: done, unless cards are verified and this one never was.
                plan.action =
                    verify && &attempt == &history.back() ? RowAction::kDecide : RowAction::kDone;
                plan.card = attempt;
                return plan;
            case AttemptStatus::kUncertain:
                plan.action = RowAction::kDecide;
                plan.card = attempt;
                return plan;
            case AttemptStatus::kFailed:
                if (!attempt.decided) ++plan.failures;
                break;
        }
    }
    plan.action = plan.failures > retries ? RowAction::kGaveUp : RowAction::kWrite;
    return plan;
}

}  // namespace tollwick
