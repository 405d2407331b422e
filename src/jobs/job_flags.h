// The record the window thread and the one job worker share. A worker writes the data of a flag
// first and raises the flag (release); the monitor clears the flag (acquire) and then reads the
// data. The card images are guarded so that a worker reading the next card never overwrites a
// card the monitor is still showing.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "carddata/track_format.h"

namespace tollwick {

class SharedCard {
  public:
    CardTracks Load() const {
        std::lock_guard lock(mutex_);
        return card_;
    }
    void Store(const CardTracks& card) {
        std::lock_guard lock(mutex_);
        card_ = card;
    }

  private:
    mutable std::mutex mutex_;
    CardTracks card_;
};

struct JobFlags {
    std::atomic<uint32_t> swipeCount{0};
    std::atomic<int> readDone{0};
    std::atomic<int> writeDone{0};
    std::atomic<int> seqWriteDone{0};
    std::atomic<int> eraseDone{0};
    std::atomic<int> copyReadDone{0};
    std::atomic<int> copyReadErrors{0};
    std::atomic<int> copyWriteDone{0};
    std::atomic<int> compareDone{0};
    std::atomic<int> lastStatus{0};
    std::atomic<int> seqStatus{0};
    std::atomic<uint32_t> seqTotal{0};  // cards in the sequential run
    std::atomic<int> toFileActive{0};
    std::atomic<int> exitRequested{0};
    std::atomic<int> startupDone{0};
    SharedCard card;           // the main window's card image
    SharedCard compareSource;  // the Compare source card

    static void Raise(std::atomic<int>& flag) { flag.store(1, std::memory_order_release); }
    // Clears the flag and tells whether it was raised.
    static bool Take(std::atomic<int>& flag) {
        return flag.exchange(0, std::memory_order_acq_rel) == 1;
    }
};

}  // namespace tollwick
