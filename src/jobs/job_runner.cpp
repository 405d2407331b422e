#include <system_error>

#include "jobs/job_monitor.h"

namespace tollwick {

bool JobRunner::Start(std::function<void(std::stop_token)> work) {
    StopWorker(/*report=*/true);
    // The window's own reader commands are disabled before the worker takes the link.
    reportedRunning_ = true;
    view_.JobRunning(true);
    finished_.store(false);
    try {
        worker_ = std::jthread([this, work = std::move(work)](std::stop_token stop) {
            work(stop);
            finished_.store(true);
        });
    } catch (const std::system_error&) {
        finished_.store(true);
        StopWorker(/*report=*/true);
        return false;
    }
    return true;
}

void JobRunner::StopWorker(bool report) {
    if (worker_.joinable()) {
        worker_.request_stop();
        worker_.join();
    }
    if (report && reportedRunning_) {
        reportedRunning_ = false;
        view_.JobRunning(false);
    }
}

void JobRunner::Poll() {
    if (reportedRunning_ && finished_.load()) StopWorker(/*report=*/true);
}

bool JobRunner::Active() const {
    return worker_.joinable() && !finished_.load();
}

}  // namespace tollwick
