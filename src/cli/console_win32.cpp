#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cerrno>
#include <cstdio>

#include "cli/console.h"

namespace tollwick {

void PrepareConsole() {
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    SetConsoleOutputCP(CP_UTF8);
    const HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    if (GetConsoleMode(error, &mode)) {
        SetConsoleMode(error, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
    }
}

ProgressStyle StderrProgressStyle() {
    const HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    // A console answers GetConsoleMode; a file or a pipe does not.
    if (error == nullptr || error == INVALID_HANDLE_VALUE || !GetConsoleMode(error, &mode)) {
        return ProgressStyle::kNone;
    }
    return (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) ? ProgressStyle::kRewrite
                                                       : ProgressStyle::kLines;
}

int StandardOutputCloseError() {
    const int copy = _dup(_fileno(stdout));
    return copy >= 0 && _close(copy) != 0 ? errno : 0;
}

}  // namespace tollwick
