#include "cli/cmd_issue.h"

namespace tollwick {

int IssueCards(CliContext& ctx, const IssueOptions&, PreparedIssue&) {
    return ctx.Out().Fail(kExitUsage, "not yet");
}

}  // namespace tollwick
