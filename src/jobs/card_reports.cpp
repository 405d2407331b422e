#include "jobs/card_reports.h"

#include "carddata/write_verify.h"
#include "device/clock.h"

#include <utility>
#include <vector>

namespace tollwick {

void ReportQueue::Push(CardReport report) {
    std::function<void()> wake;
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(std::move(report));
        ++pushed_;
        wake = wake_;
    }
    if (wake) wake();
}

std::optional<CardReport> ReportQueue::TakeIf(ReportKind kind) {
    std::lock_guard lock(mutex_);
    if (queue_.empty() || queue_.front().kind != kind) return std::nullopt;
    CardReport report = std::move(queue_.front());
    queue_.pop_front();
    return report;
}

void ReportQueue::Shown() {
    {
        std::lock_guard lock(mutex_);
        ++done_;
    }
    shown_.notify_all();
}

bool ReportQueue::Pending() const {
    std::lock_guard lock(mutex_);
    return !queue_.empty();
}

bool ReportQueue::AwaitShown(std::stop_token stop) {
    std::unique_lock lock(mutex_);
    const uint64_t target = pushed_;
    return WaitUnlessStopped(shown_, lock, stop, [&] { return done_ >= target; });
}

void ReportQueue::SetWakeUp(std::function<void()> wake) {
    std::lock_guard lock(mutex_);
    wake_ = std::move(wake);
}

std::string VerifyFailureText(const CardReport& report) {
    if (report.check == WriteCheck::kNotReadBack) return "not read back";
    return DifferingTracksText(report.differing);
}

}  // namespace tollwick
