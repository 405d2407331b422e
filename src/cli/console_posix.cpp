#include <unistd.h>

#include <cerrno>

#include "cli/console.h"

namespace tollwick {

void PrepareConsole() {}

ProgressStyle StderrProgressStyle() {
    return ::isatty(STDERR_FILENO) == 1 ? ProgressStyle::kRewrite : ProgressStyle::kNone;
}

int StandardOutputCloseError() {
    const int copy = ::dup(STDOUT_FILENO);
    return copy >= 0 && ::close(copy) != 0 ? errno : 0;
}

}  // namespace tollwick
