#include <windows.h>

#include "cli/console.h"

namespace tollwick {

ProgressStyle PrepareConsole() {
    const HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    // A console answers GetConsoleMode; a file or a pipe does not.
    if (error == nullptr || error == INVALID_HANDLE_VALUE || !GetConsoleMode(error, &mode)) {
        return ProgressStyle::kNone;
    }
    SetConsoleOutputCP(CP_UTF8);
    if (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) return ProgressStyle::kRewrite;
    if (SetConsoleMode(error, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING)) {
        return ProgressStyle::kRewrite;
    }
    return ProgressStyle::kLines;
}

}  // namespace tollwick
