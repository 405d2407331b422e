// Ctrl+C and SIGTERM: every wait of a reader command sees them within 100 ms.
//
// The signals are taken by a watcher thread (sigwait) while every other thread blocks them, so
// no system call of the link or of a file write is cut short (EINTR); the watcher raises one flag.
// The reader's waits are reads of input reports with timeouts of up to 350 ms: the backend below
// cuts each into slices of at most kInterruptSliceMs and gives up at once when the flag is up, so
// a reader command returns within one slice and the command sees the flag between calls.
#pragma once

#include <atomic>
#include <memory>
#include <stop_token>
#include <thread>

#include "device/hid_backend.h"

namespace tollwick {

inline constexpr int kInterruptSliceMs = 50;

// True once SIGINT or SIGTERM arrived while the watch ran.
bool Interrupted();
// The same as a stop request: the card steps' waits end on it.
std::stop_token InterruptStop();

// Takes SIGINT and SIGTERM for its lifetime. Start it before any other thread exists: threads
// started later inherit the blocked signals. A second signal ends the program at once (130).
class SignalWatch {
  public:
    SignalWatch();
    ~SignalWatch();
    SignalWatch(const SignalWatch&) = delete;
    SignalWatch& operator=(const SignalWatch&) = delete;

  private:
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

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
