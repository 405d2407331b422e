#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <thread>

#include "cli/interrupt.h"

namespace tollwick {
namespace {

sigset_t Interrupts() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

// The interrupts are held from the first instruction of the program's own, before the
// libraries' initialisers and main (a program linked with the watch runs this from its
// .preinit_array): one that comes that early waits for the watch instead of ending the process.
void HoldInterrupts() {
    const sigset_t set = Interrupts();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

[[gnu::section(".preinit_array"),
  gnu::used]] void (*const kHoldInterruptsAtStart)() = &HoldInterrupts;

}  // namespace

struct SignalWatch::Watcher {
    std::atomic<bool> stopping{false};
    std::thread thread;
};

SignalWatch::SignalWatch() : watcher_(std::make_unique<Watcher>()) {
    const sigset_t set = Interrupts();
    HoldInterrupts();
    watcher_->thread = std::thread([watcher = watcher_.get(), set] {
        for (;;) {
            int signal = 0;
            if (sigwait(&set, &signal) != 0) continue;
            if (watcher->stopping) return;
            TakeInterrupt();
        }
    });
}

SignalWatch::~SignalWatch() {
    watcher_->stopping = true;
    // Wakes the watcher; the signal stays blocked, so a late one is dropped at exit.
    pthread_kill(watcher_->thread.native_handle(), SIGTERM);
    watcher_->thread.join();
}

}  // namespace tollwick
