// Ctrl+C and SIGTERM (on Windows Ctrl+C, Ctrl+Break and closing the console): every wait of a
// reader command sees them within 100 ms.
//
// POSIX (signal_watch_posix.cpp): the signals are taken by a watcher thread (sigwait) while every
// other thread blocks them, so no system call of the link or of a file write is cut short
// (EINTR). Windows (signal_watch_win32.cpp): a console control handler, which Windows runs on a
// thread of its own. Either raises one flag. The reader's waits are reads of input reports with
// timeouts of up to 350 ms: the backend below cuts each into slices of at most kInterruptSliceMs
// and gives up at once when the flag is up, so a reader command returns within one slice and the
// command sees the flag between calls.
#pragma once

#include <atomic>
#include <memory>
#include <stop_token>

#include "device/hid_backend.h"

namespace tollwick {

inline constexpr int kInterruptSliceMs = 50;

// True once an interrupt arrived while the watch ran.
bool Interrupted();
// The same as a stop request: the card steps' waits end on it.
std::stop_token InterruptStop();

// Takes the interrupts for its lifetime: SIGINT and SIGTERM; on Windows Ctrl+C, Ctrl+Break and
// the console's closing (Windows ends the program a few seconds after that: the handler holds
// it until the watch ends, so the reader is disarmed and the deck saved). The program makes one,
// first thing in main, before any other thread exists (POSIX threads started later inherit the
// blocked signals) and before anything could be cut short. A second interrupt ends the program
// at once (130).
class SignalWatch {
  public:
    SignalWatch();
    ~SignalWatch();
    SignalWatch(const SignalWatch&) = delete;
    SignalWatch& operator=(const SignalWatch&) = delete;

  private:
    struct Watcher;
    std::unique_ptr<Watcher> watcher_;
};

// What the watch does with each interrupt: the first raises the flag and requests the stop, a
// second one says so and ends the program at once with status 130.
void TakeInterrupt();

#ifdef _WIN32
// The watch's console control handler, as Windows calls it for CTRL_C_EVENT, CTRL_BREAK_EVENT,
// CTRL_CLOSE_EVENT and the like (for tests: wine sends no console events to a program without a
// console). Nonzero when the event was taken.
int HandleConsoleEvent(unsigned long event);
#endif

// A backend whose reads end within one slice once the interrupt flag is up (they then read as
// "no report"), and which finds no device then. Writes are left whole: a command is never cut.
class InterruptibleBackend final : public HidBackend {
  public:
    explicit InterruptibleBackend(std::unique_ptr<HidBackend> inner);
    // For tests: reads give up when this flag is up (instead of the signal watch's).
    InterruptibleBackend(std::unique_ptr<HidBackend> inner, const std::atomic<bool>& flag);

    std::vector<HidDeviceInfo> Enumerate(uint16_t vendorId, uint16_t productId) override;
    std::unique_ptr<HidDevice> Open(const HidDeviceInfo& info) override;

  private:
    std::unique_ptr<HidBackend> inner_;
    const std::atomic<bool>& flag_;
};

}  // namespace tollwick
