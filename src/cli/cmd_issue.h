// issue: every record of a data file onto exactly one card, with a journal to resume from.
#pragma once

#include <array>
#include <memory>
#include <string>

#include "cli/command.h"
#include "issuance/issue_setup.h"

namespace tollwick {

struct IssueOptions {
    std::string data;
    std::array<std::string, 3> templates;
    std::string journal;
    bool verify = false;
    int retries = 2;
    std::string rows;
    bool dryRun = false;
    bool recheckUncertain = false;
    std::string devices;  // "all", or paths and serial numbers separated by commas
    double timeout = kDefaultTimeoutSeconds;
};

// The cards themselves: the uncertain ones decided, then the records on the readers.
int IssueCards(CliContext& ctx, const IssueOptions& options, IssueSetup& setup);

}  // namespace tollwick
