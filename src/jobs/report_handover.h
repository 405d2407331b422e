// The hand-over of one finished card from a worker to the monitor.
#pragma once

#include <atomic>
#include <stop_token>

#include "jobs/job_flags.h"
#include "jobs/job_workers.h"

namespace tollwick {

// Waits until the monitor has taken the card reported before. A worker that publishes a card
// only then never overwrites a status the monitor has not seen (a modal box of the monitor
// holds its ticks) and never merges two cards into one report, so every card is counted once.
// False when stopped first.
inline bool AwaitReportTaken(const std::atomic<int>& flag, std::stop_token stop) {
    constexpr int kPollMs = 5;
    while (flag.load(std::memory_order_acquire) != 0) {
        if (PauseUnlessStopped(stop, kPollMs)) return false;
    }
    return !stop.stop_requested();
}

}  // namespace tollwick
