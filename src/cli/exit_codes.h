// tollwick-cli's exit statuses, relied on by scripts; listed in --help and the man page.
#pragma once

namespace tollwick {

enum CliExit : int {
    kExitDone = 0,
    kExitCheckFailed = 1,     // a track failed its check, a card was refused or not verified
    kExitUsage = 2,           // a bad command line
    kExitNoReader = 3,        // no reader, or the link failed
    kExitNoSwipe = 4,         // no card swiped within the timeout
    kExitFileFailed = 5,      // a file could not be read or written: card file, deck or profile
    kExitInterrupted = 130,   // SIGINT or SIGTERM; on Windows Ctrl+C, Ctrl+Break, console closed
    kExitOutputClosed = 141,  // the reader of standard output left (| head), as SIGPIPE ends a
                              // program; the run ended as an interrupt ends it
};

// The footer of --help: every status in one paragraph.
inline constexpr const char* kExitStatusHelp =
    "Exit status:\n"
    "  0    done\n"
    "  1    a track failed its check, the reader rejected a write or erase, or a written card\n"
    "       did not read back as written (write --verify)\n"
    "  2    bad command line\n"
    "  3    no reader, or the link to it failed\n"
    "  4    no card swiped within the timeout\n"
    "  5    a file (card file, deck, profile) or standard output could not be read or written\n"
#ifdef _WIN32
    "  130  interrupted (Ctrl+C, Ctrl+Break, the console closed)\n"
#else
    "  130  interrupted (SIGINT, SIGTERM)\n"
#endif
    "  141  standard output was closed by its reader (| head); the reader was disarmed\n";

}  // namespace tollwick
