// The card reports a worker hands to the monitor, and the queue that carries them.
//
// A worker hands every finished card to the monitor as one report: the card and its outcome
// (status, track errors, Compare stage and source) together, queued in the order the cards were
// done. The monitor takes them in that order, so no card is merged into another, none is lost
// while a message box of the monitor holds its ticks, and a worker that goes on to the next card
// never changes a report the monitor is still showing. Queuing a report also wakes the window, so
// that the monitor need not wait for its next period.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>

#include "carddata/card_capture.h"
#include "carddata/track_format.h"
#include "cardsteps/card_steps.h"
#include "device/reader_status.h"

namespace tollwick {

// Which of the monitor's branches shows a report; the order is the order of the branches.
enum class ReportKind { kRead, kWrite, kSeqWrite, kErase, kCopyRead, kCopyWrite, kCompare };

// Compare's stage: the number the swipe window shows while Compare runs, and what a report is.
enum class CompareStage : uint32_t {
    kSourceExpected = 1,  // no good card yet: the next one becomes the source
    kSourceRead = 2,      // this card became the source
    kTargetRead = 3,      // this card is a target, compared with the source
};

struct CardReport {
    ReportKind kind = ReportKind::kRead;
    // Read, Copy read, Compare: the card read (failed tracks hold their error markers). Write:
    // the card written. From File and Sequential write: the card the reader now waits to write.
    CardTracks card;
    // Write, Sequential write, Copy write, Erase: the reader's status.
    CardStatus status = CardStatus::kDone;
    // Compare: whether this card became the source or is a target; and the source card.
    CompareStage stage = CompareStage::kSourceExpected;
    CardTracks source;
    // Write, Sequential write, Copy write with verify after write on: the card read back.
    WriteCheck check = WriteCheck::kNone;
    uint8_t differing = 0;     // bit 0 track 1 ... bit 2 track 3
    std::string verifyDetail;  // why they differ, per track (VerifyDifferences)

    // The reader refused the card, or answered otherwise than done.
    bool Refused() const { return status != CardStatus::kDone; }
    // Written, but not read back as written: counted as failed; its data goes onto the next
    // card, as a refused card's does.
    bool FailedVerify() const {
        return check == WriteCheck::kDiffers || check == WriteCheck::kNotReadBack;
    }

    static CardReport Of(ReportKind kind, CardStatus status,
                         const CardTracks& card = CardTracks{}) {
        CardReport report;
        report.kind = kind;
        report.card = card;
        report.status = status;
        return report;
    }
};

class ReportQueue {
  public:
    // Any thread: queues the report, then wakes the window.
    void Push(CardReport report);
    // The monitor: the oldest report, when it is of `kind`.
    std::optional<CardReport> TakeIf(ReportKind kind);
    // The monitor has finished showing a report it took (message boxes closed included).
    void Shown();
    // Reports queued and not yet taken.
    bool Pending() const;
    // Waits until every report queued so far has been shown. False when stopped first.
    bool AwaitShown(std::stop_token stop);
    // How the window is woken when a report is queued: it posts a wake-up to the window's
    // thread. Set before any worker starts.
    void SetWakeUp(std::function<void()> wake);

  private:
    mutable std::mutex mutex_;
    std::condition_variable_any shown_;
    std::deque<CardReport> queue_;
    uint64_t pushed_ = 0;
    uint64_t done_ = 0;
    std::function<void()> wake_;
};

// "track 2 differs", "tracks 1 and 3 differ"; for a card not read back, "not read back".
std::string VerifyFailureText(const CardReport& report);

}  // namespace tollwick
