#include <unistd.h>

#include "cli/console.h"

namespace tollwick {

void PrepareConsole() {}

ProgressStyle StderrProgressStyle() {
    return ::isatty(STDERR_FILENO) == 1 ? ProgressStyle::kRewrite : ProgressStyle::kNone;
}

}  // namespace tollwick
