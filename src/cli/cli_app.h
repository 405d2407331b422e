// tollwick-cli: the reader from scripts, and Tollwick without a reader (--simulate).
#pragma once

namespace tollwick {

// Exit statuses, relied on by scripts.
enum CliExit : int {
    kExitDone = 0,
    kExitCheckFailed = 1,  // a track failed its check, or the reader rejected a write or erase
    kExitUsage = 2,
    kExitNoReader = 3,  // no reader, or the link failed
    kExitNoSwipe = 4,   // no card swiped within the timeout
};

int RunCli(int argc, char** argv);

}  // namespace tollwick
