// The flags the window thread and the one job worker share. A flag's data is written before the
// flag is raised (release) and read after it is taken (acquire).
#pragma once

#include <atomic>
#include <cstdint>

namespace tollwick {

struct JobFlags {
    // The number of the card to swipe next, shown in the swipe window; in Compare its
    // CompareStage (card_reports.h).
    std::atomic<uint32_t> swipeCount{0};
    std::atomic<uint32_t> seqTotal{0};  // cards in the sequential run
    std::atomic<int> toFileActive{0};
    std::atomic<int> exitRequested{0};
    std::atomic<int> startupDone{0};
    // The tracks the erase job erases (bit 0 track 1 ... bit 2 track 3). Erase Select changes it
    // as its boxes are ticked; the erase worker reads it for each card.
    std::atomic<uint8_t> eraseMask{0};
    // Verify after write: each card the reader reports written is read back and compared
    // before it is reported. Looked at per card, so a change applies to the next card.
    std::atomic<bool> verifyAfterWrite{false};
};

}  // namespace tollwick
