#include <windows.h>

#include "cli/interrupt.h"

namespace tollwick {
namespace {

// Set when the watch ends: the program is done with the reader and the deck.
HANDLE gWatchEnded = nullptr;

// How long closing the console waits for the program to finish; Windows ends it after 5 s.
constexpr DWORD kCloseGraceMs = 4000;

BOOL WINAPI OnConsoleEvent(DWORD event) {
    return HandleConsoleEvent(event);
}

}  // namespace

int HandleConsoleEvent(unsigned long event) {
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
            TakeInterrupt();
            return TRUE;
        case CTRL_CLOSE_EVENT:
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            // The program ends when this returns: first let it disarm the reader and save.
            TakeInterrupt();
            WaitForSingleObject(gWatchEnded, kCloseGraceMs);
            return TRUE;
        default:
            return FALSE;
    }
}

struct SignalWatch::Watcher {};

SignalWatch::SignalWatch() : watcher_(std::make_unique<Watcher>()) {
    if (gWatchEnded == nullptr) gWatchEnded = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ResetEvent(gWatchEnded);
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

SignalWatch::~SignalWatch() {
    SetEvent(gWatchEnded);
    SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
}

}  // namespace tollwick
