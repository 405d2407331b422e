// tollwick-cli: the reader from scripts, and Tollwick without a reader (--simulate).
#pragma once

#include "cli/exit_codes.h"

namespace tollwick {

int RunCli(int argc, char** argv);

}  // namespace tollwick
