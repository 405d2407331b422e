// The terminal the tool may be running on. One implementation per platform (console_posix.cpp,
// console_win32.cpp).
#pragma once

namespace tollwick {

// How a batch shows which card it waits for, on standard error.
enum class ProgressStyle {
    kNone,     // not a terminal (a file, a pipe): no progress at all
    kRewrite,  // a terminal that takes "\r\033[K": one line, rewritten in place
    kLines,    // a console without those sequences (older Windows consoles): a line per card
};

// Prepares the terminal once per run and tells how standard error shows progress. On Windows
// the console is switched to UTF-8 output (card texts and file names print as they are) and to
// virtual terminal processing where the console has it.
ProgressStyle PrepareConsole();

}  // namespace tollwick
