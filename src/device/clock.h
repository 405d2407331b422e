// Time as the report channel, the reader commands and the virtual reader see it.
//
// The program runs on the system's steady clock. Tests and the benchmarks of the protocol run on
// a VirtualClock: every timeout is still taken in full, but a wait that nothing can end early
// returns at once with the clock moved on, so a 350 ms reply wait costs microseconds.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <stop_token>

namespace tollwick {

class Clock {
  public:
    using TimePoint = std::chrono::steady_clock::time_point;
    using Duration = std::chrono::steady_clock::duration;

    virtual ~Clock() = default;

    virtual TimePoint Now() const = 0;

    // Waits until `ready()` holds or the clock reaches `until`; returns ready(). `lock` holds
    // the mutex that guards what ready() looks at, on entry and on return; whoever changes it
    // notifies `changed`.
    virtual bool WaitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& changed,
                           TimePoint until, const std::function<bool()>& ready) = 0;

    // Pauses the calling thread; returns true when `stop` is requested first (within
    // kStopSlice of the request).
    virtual bool SleepFor(Duration duration, std::stop_token stop = {}) = 0;
};

// How often a wait that a stop may end looks at the stop. Such waits do not count on the stop's
// own wake-up of a condition variable: with the Windows build's thread library (seen under wine,
// with many threads) that wake-up, and the end of a timed wait, came seconds late or not at all,
// and a Cancel held the window as long.
inline constexpr std::chrono::milliseconds kStopSlice{5};

// Waits on `changed` until `ready()` holds (true) or `stop` is requested (false), looking at
// both at least every kStopSlice. `lock` holds the mutex that guards what ready() looks at.
template <class Lock, class Ready>
bool WaitUnlessStopped(std::condition_variable_any& changed, Lock& lock,
                       const std::stop_token& stop, Ready ready) {
    while (!ready()) {
        if (stop.stop_requested()) return false;
        changed.wait_for(lock, kStopSlice);
    }
    return true;
}

// The system's steady clock.
Clock& SystemClock();

// Time that moves only when somebody waits. A wait that no other thread ends first moves the
// clock to its end; before it does, the waiting thread gives the others a short real moment
// (kYield) to act, so a swipe made by another thread still lands inside the wait. The clock
// never runs backwards: of two threads waiting at once, the later end wins.
class VirtualClock final : public Clock {
  public:
    static constexpr auto kYield = std::chrono::microseconds(100);

    VirtualClock();

    TimePoint Now() const override;
    bool WaitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& changed,
                   TimePoint until, const std::function<bool()>& ready) override;
    bool SleepFor(Duration duration, std::stop_token stop = {}) override;

    // Moves the clock by hand.
    void Advance(Duration duration);

  private:
    std::atomic<int64_t> nowNs_;

    void AdvanceTo(TimePoint point);
};

}  // namespace tollwick
