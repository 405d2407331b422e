// The record the window thread and the one job worker share.
//
// A worker hands every finished card to the monitor as one report: the card and its outcome
// (status, track errors, Compare stage and source) together, queued in the order the cards were
// done. The monitor takes them in that order, so no card is merged into another, none is lost
// while a message box of the monitor holds its ticks, and a worker that goes on to the next card
// never changes a report the monitor is still showing. Queuing a report also wakes the window, so
// that the monitor need not wait for its next period.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include "carddata/data_type.h"
#include "carddata/track_format.h"

namespace tollwick {

// Which of the monitor's branches shows a report; the order is the order of the branches.
enum class ReportKind { kRead, kWrite, kSeqWrite, kErase, kCopyRead, kCopyWrite, kCompare };

// Verify after write: what became of a card the reader reported written.
enum class WriteCheck : uint8_t {
    kNone,         // not asked (verify after write is off), or the reader refused the card
    kVerified,     // read back as written
    kDiffers,      // read back, and the tracks in CardReport::differing are not as written
    kNotReadBack,  // no card came back: the link failed, or the job was stopped meanwhile
};

struct CardReport {
    ReportKind kind = ReportKind::kRead;
    // Read, Copy read, Compare: the card read (failed tracks hold their error markers). Write:
    // the card written. From File and Sequential write: the card the reader now waits to write.
    CardTracks card;
    // Write, Sequential write, Copy write, Erase: the reader's status (48 done). Copy read: the
    // track error bits.
    int status = 0;
    // Compare: 2 when this card became the source, 3 for a target; and the source card.
    uint32_t stage = 0;
    CardTracks source;
    // Write, Sequential write, Copy write with verify after write on: the card read back.
    WriteCheck check = WriteCheck::kNone;
    uint8_t differing = 0;     // bit 0 track 1 ... bit 2 track 3
    std::string verifyDetail;  // why they differ, per track (VerifyDifferences)

    // The reader refused the card, or answered otherwise than done.
    bool Refused() const { return status < 0; }
    // Written, but not read back as written: counted as failed; its data goes onto the next
    // card, as a refused card's does.
    bool FailedVerify() const {
        return check == WriteCheck::kDiffers || check == WriteCheck::kNotReadBack;
    }

    static CardReport Of(ReportKind kind, int status, const CardTracks& card = CardTracks{}) {
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

// A card as the reader delivered it, before decoding: what the Inspector analyses and the export
// saves, for every track, good or bad.
struct CardCapture {
    // Per track the bytes the read block brought, first bit in bit 7 of the first byte, the
    // clocking zeros after the data included.
    std::array<std::vector<uint8_t>, 3> raw;
    TrackSet settings = kIsoTrackSet;  // the formats it was decoded with
    DataType type = DataType::kIso;
    CardTracks card;            // decoded: failed tracks hold their error markers
    bool blockDamaged = false;  // the read block could not be split: no track came whole
    std::chrono::system_clock::time_point time;
};

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

// "track 2 differs", "tracks 1 and 3 differ"; for a card not read back, "not read back".
std::string VerifyFailureText(const CardReport& report);

struct JobFlags {
    // The number of the card to swipe next, shown in the swipe window; in Compare the stage: 1
    // the source is expected, 2 the source was read, 3 a target was read.
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
    ReportQueue reports;
    CardReadTap reads;
};

}  // namespace tollwick
