#include "device/clock.h"

#include <algorithm>
#include <thread>

namespace tollwick {
namespace {

class SteadyClock final : public Clock {
  public:
    TimePoint Now() const override { return std::chrono::steady_clock::now(); }

    bool WaitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& changed,
                   TimePoint until, const std::function<bool()>& ready) override {
        return changed.wait_until(lock, until, ready);
    }

    bool SleepFor(Duration duration, std::stop_token stop) override {
        if (!stop.stop_possible()) {
            std::this_thread::sleep_for(duration);
            return false;
        }
        const TimePoint until = Now() + duration;
        for (;;) {
            if (stop.stop_requested()) return true;
            const TimePoint now = Now();
            if (now >= until) return false;
            std::this_thread::sleep_for(std::min<Duration>(until - now, kStopSlice));
        }
    }
};

int64_t ToNs(Clock::TimePoint point) {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(point.time_since_epoch()).count();
}

}  // namespace

Clock& SystemClock() {
    static SteadyClock clock;
    return clock;
}

// Virtual time starts well away from the epoch, so that "long ago" stays representable.
VirtualClock::VirtualClock() : nowNs_(ToNs(TimePoint{} + std::chrono::hours(24))) {}

Clock::TimePoint VirtualClock::Now() const {
    return TimePoint{std::chrono::duration_cast<Duration>(std::chrono::nanoseconds(nowNs_.load()))};
}

void VirtualClock::AdvanceTo(TimePoint point) {
    const int64_t target = ToNs(point);
    int64_t now = nowNs_.load();
    while (now < target && !nowNs_.compare_exchange_weak(now, target)) {
    }
}

void VirtualClock::Advance(Duration duration) {
    AdvanceTo(Now() + duration);
}

bool VirtualClock::WaitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& changed,
                             TimePoint until, const std::function<bool()>& ready) {
    if (ready()) return true;
    if (Now() >= until) return false;
    if (changed.wait_for(lock, kYield, ready)) return true;
    AdvanceTo(until);
    return ready();
}

bool VirtualClock::SleepFor(Duration duration, std::stop_token stop) {
    if (stop.stop_requested()) return true;
    const TimePoint until = Now() + duration;
    std::this_thread::sleep_for(kYield);
    AdvanceTo(until);
    return stop.stop_requested();
}

}  // namespace tollwick
