#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <thread>

#include "cli/interrupt.h"

namespace tollwick {

struct SignalWatch::Watcher {
    std::atomic<bool> stopping{false};
    std::thread thread;
};

SignalWatch::SignalWatch() : watcher_(std::make_unique<Watcher>()) {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
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
