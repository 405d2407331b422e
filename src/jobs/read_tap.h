// Every card read is handed on as soon as it is decoded (the Inspector, the export).
#pragma once

#include <functional>
#include <mutex>

#include "carddata/card_capture.h"

namespace tollwick {

// Every card read is handed on as soon as it is decoded: before a worker's message box about
// it, and also when no report follows (Compare asks again for a card that failed). Any thread
// publishes; the listener carries the card over to its own thread and must not block.
class CardReadTap {
  public:
    // Set or cleared while no worker runs.
    void SetListener(std::function<void(const CardCapture&)> listener);
    void Publish(const CardCapture& capture) const;

  private:
    mutable std::mutex mutex_;
    std::function<void(const CardCapture&)> listener_;
};

}  // namespace tollwick
