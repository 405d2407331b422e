#include "jobs/read_tap.h"

namespace tollwick {

void CardReadTap::SetListener(std::function<void(const CardCapture&)> listener) {
    std::lock_guard lock(mutex_);
    listener_ = std::move(listener);
}

void CardReadTap::Publish(const CardCapture& capture) const {
    // Under the lock: a listener being cleared is never called afterwards.
    std::lock_guard lock(mutex_);
    if (listener_) listener_(capture);
}

}  // namespace tollwick
