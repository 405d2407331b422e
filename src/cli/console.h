// The terminal the tool may be running on. One implementation per platform (console_posix.cpp,
// console_win32.cpp).
#pragma once

namespace tollwick {

// Prepares the standard streams once, before anything is read or written. On Windows they are
// switched to binary, so that results, card files and CSV rows on standard output carry the
// same bytes as on Linux (text mode would turn a CSV row's "\r\n" into "\r\r\n"), and a console
// to UTF-8 output (card texts and file names print as they are) and to virtual terminal
// processing where it has it. Nothing to do on POSIX.
void PrepareConsole();

// How a batch shows which card it waits for, on standard error.
enum class ProgressStyle {
    kNone,     // not a terminal (a file, a pipe): no progress at all
    kRewrite,  // a terminal that takes "\r\033[K": one line, rewritten in place
    kLines,    // a console without those sequences (older Windows consoles): a line per card
};

ProgressStyle StderrProgressStyle();

// Closes a copy of standard output's descriptor, leaving standard output open: a file system that
// writes behind (NFS, some full disks) reports a lost write only when the file is closed. The
// errno of that failure, or 0.
int StandardOutputCloseError();

}  // namespace tollwick
