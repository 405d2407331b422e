// The virtual reader: a model of the VK3300S on the far side of the report channel, at least as
// strict as the hardware.
//
// It answers every command byte for byte, keeps density, coercivity and beeper, records written
// bit streams on virtual cards and plays them back in the read block format. Like the hardware:
// - input reports leave it one per USB poll interval (1 ms by default, up to 10 ms, optionally
//   with jitter), so a reply or read block of many reports arrives over time;
// - a track holds only what fits its stripe at its density (card_stripe.h): an over-long write
//   reads back damaged, and the density command changes what fits on track 2;
// - a swipe meets clocking zeros around the data, in a count that varies from swipe to swipe; a
//   card may go through backwards or have a weak spot that reads one bit wrong;
// - its handles behave like hidapi's on hidraw: the input report length is unknown (0) and a
//   handle from before an unplug fails its next read or write, after which it reports an output
//   length of 0.
// A swipe is an event (Swipe), or happens by itself a while after the reader is armed
// (auto-swipe). Faults can be injected: unplug and replug, silence, wrong reply bytes, refused
// writes and erases, slow replies and reports, a stall inside a reply. Time comes from a Clock,
// so tests run it on virtual time. Thread-safe: swipes and faults may come from any thread.
//
// The deck brings the dirt of real cards and readers (deck.h: a chance per fault, per card or
// deck-wide, drawn from the deck's seed, so the same swipes meet the same faults in every run):
// - noise_before: 1 to 8 bits beginning with a one, 0 to 24 zeros before the track's first one
//   bit. The reader locks onto the first one bit it meets, so the noise reaches the program and
//   the track fails to decode, as on a real reader with a dirty head;
// - noise_after: a burst of 1 to 64 bits, 8 to 32 zeros after the track's last one bit, so
//   past the last character (the program's read stops there; an inspector sees the noise);
// - partial: the card leaves the head at a random point of its data; every track ends there;
// - bit_errors: each recorded bit up to the track's last one bit reads wrong with this chance;
// - weak: the card's weak spot reads wrong on this share of the swipes;
// - slip: one bit of the data lost or read twice;
// - slow_status: a write or erase answers 20 to 400 ms after the card instead of at once;
// - status_gap: the status comes byte by byte, the second 1 to 349 ms after the first. Reports
//   are always of the full input length, so on reports of more than two bytes the first byte's
//   report is filled with zeros and the status reads wrong, as from such a reader;
// - late_read: the program is busy while a reply comes and reads nothing until all of it has
//   come; the input buffer (input_buffer reports, 64 unless the deck says) keeps the first
//   reports and loses the rest, as hidraw does. Reports the program leaves unread for any other
//   reason meet the same bound;
// - not_accepted: after the card the reader is busy and accepts no output report for 60 to
//   200 ms: the program's next command is not accepted within its 50 ms, its flush fails and the
//   handle is dropped;
// - high_coercivity: a Hi-Co card. A write or erase while the reader is set to Lo-Co leaves a
//   track that holds data as it was (it reads back the old data); on a blank track it leaves a
//   faint recording whose one bits read as zeros now and then (weak).
#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "device/clock.h"
#include "device/hid_backend.h"
#include "device/virtual/card_stripe.h"
#include "device/virtual/deck.h"

namespace tollwick {

class VirtualReader {
  public:
    struct Options {
        uint16_t vendorId = 0x0801;
        uint16_t productId = 0x0005;
        int inputReportLength = 9;  // bytes of each input report, report id included; 2 to 200
        // hidraw tells no report lengths (the handle says 0); true gives them as the Windows HID
        // capabilities do.
        bool reportLengthKnown = false;
        std::chrono::microseconds pollInterval{1000};  // one input report per poll; 1 to 10 ms
        std::chrono::microseconds pollJitter{0};       // each report up to this much later
        uint32_t seed = 1;  // the varying counts of swipes and jitter, the same in every run
        std::string version = "EVU1.07";
    };
    enum class Armed { kIdle, kRead, kWrite, kErase };

    VirtualReader();
    explicit VirtualReader(Options options, Deck deck = Deck{}, Clock& clock = SystemClock());
    ~VirtualReader();

    // --- The deck ---
    Deck GetDeck() const;
    void SetDeck(Deck deck);
    std::size_t CardCount() const;
    std::optional<VirtualCard> Card(std::size_t index) const;
    // Takes `card` as card change.index, as the deck file holds it after `change` was saved
    // there, unless the reader changed that card again since (that later change brings its own
    // refresh). False when it was not taken.
    bool RefreshCard(const CardChange& change, const VirtualCard& card);

    // --- Events ---
    // Swipes card `index` (0-based). Returns false when no such card or the reader is unplugged.
    // A swipe while nothing is armed reads nothing, as on the real reader.
    bool Swipe(std::size_t index);
    // After every arming, swipe the next card after delay; the card index advances by one per
    // swipe when `advance` is set. Disabled by std::nullopt.
    void SetAutoSwipe(std::optional<std::size_t> firstCard, std::chrono::milliseconds delay,
                      bool advance);
    std::optional<std::size_t> NextAutoSwipeCard() const;
    void Unplug();
    void Plug();
    bool IsPlugged() const;

    // --- Faults ---
    void SetSilent(bool silent);        // no reply, no read block, no status
    void SetWrongReplies(bool wrong);   // every reply's second byte is '!'
    void SetRejectWrites(bool reject);  // a swiped card is not written; status ESC 'A'
    void SetRejectErases(bool reject);  // the erase command is refused at once
    // Only the next write or erase fails (as above); the fault then clears itself.
    void SetRejectNext(bool reject);
    bool RejectNextPending() const;
    // Every reply and read block is ready this long after its cause.
    void SetReplyDelay(std::chrono::milliseconds delay);
    // Reports of the next reply or read block stop for `pause` after the first `afterReports`.
    void SetStallNext(std::size_t afterReports, std::chrono::milliseconds pause);
    // After a write block the reader at once sends a byte of chatter (ESC 'A'), which the host is
    // to drop before it waits for the card's status.
    void SetChatterAfterWrite(bool chatter);
    // The next output report offered is accepted only after `busy` (not at all within a shorter
    // timeout): the reader is busy.
    void SetBusyNext(std::chrono::milliseconds busy);
    // The deck's own chances, or one card's (false when no such card). The next swipe meets them.
    void SetDeckFaults(const FaultRates& faults);
    bool SetCardFaults(std::size_t index, const FaultRates& faults);
    // Draws the faults from this seed from now on, as a deck with this seed does from its start.
    void SetSeed(uint32_t seed);
    void SetPollInterval(std::chrono::microseconds interval, std::chrono::microseconds jitter = {});
    void SetInputReportLength(int length);

    // --- State, for the window and tests ---
    Armed ArmedFor() const;
    int Density() const;  // bits per inch last set (210 until set)
    bool HighCoercivity() const;
    bool BeeperOn() const;
    const Options& GetOptions() const { return options_; }
    Clock& GetClock() const { return clock_; }
    // Output reports received so far (each as sent, report id included); taken and cleared.
    std::vector<std::vector<uint8_t>> TakeOutputReports();
    // When each of those reports was accepted, in the same order (read before taking them).
    std::vector<Clock::TimePoint> OutputTimes() const;
    // Called after each card the reader changed (write or erase), with what it did to the card,
    // on the thread that talked to the reader, outside its lock.
    void SetOnCardChanged(std::function<void(const CardChange&)> callback);

    friend class VirtualBackend;
    friend class VirtualDevice;

  private:
    struct Report {
        std::vector<uint8_t> bytes;
        Clock::TimePoint availableAt;
    };
    // When the reports of one reply leave the reader.
    struct ReplyTiming {
        std::chrono::milliseconds delay{0};                          // after the usual reply delay
        std::optional<std::chrono::milliseconds> gapAfterFirstByte;  // the rest comes this late
        bool late = false;  // the program reads none of it until all of it has come
    };

    Options options_;
    Clock& clock_;
    mutable std::mutex mutex_;
    std::condition_variable inputReady_;
    uint64_t events_ = 0;  // counts everything a waiting host read may care about
    Deck deck_;
    std::deque<Report> input_;
    Clock::TimePoint lastReportAt_{};
    std::vector<std::vector<uint8_t>> outputLog_;
    std::vector<Clock::TimePoint> outputTimes_;
    bool plugged_ = true;
    uint64_t generation_ = 1;  // changes on every replug: old handles go stale
    bool silent_ = false;
    bool wrongReplies_ = false;
    bool rejectWrites_ = false;
    bool rejectErases_ = false;
    bool rejectNext_ = false;
    bool chatterAfterWrite_ = false;
    std::chrono::milliseconds replyDelay_{0};
    std::optional<std::pair<std::size_t, std::chrono::milliseconds>> stallNext_;
    Armed armed_ = Armed::kIdle;
    std::array<std::vector<uint8_t>, 3> pendingWrite_;  // write order, per track; empty = untouched
    uint8_t pendingEraseMask_ = 0;
    int density_ = 210;
    bool highCoercivity_ = true;
    bool beeper_ = true;
    std::optional<std::size_t> autoCard_;
    bool autoAdvance_ = false;
    std::chrono::milliseconds autoDelay_{100};
    std::optional<Clock::TimePoint> autoSwipeAt_;
    std::function<void(const CardChange&)> onCardChanged_;
    uint64_t changeCount_ = 0;          // changes so far, on every card
    std::vector<uint64_t> lastChange_;  // per card, the count at its last change (0: none)
    SwipeJitter jitter_;
    std::mt19937 faultRandom_;  // the deck's faults, from its seed
    int inputBuffer_ = 64;      // reports held while the program does not read
    std::optional<std::chrono::milliseconds> busyNext_;
    Clock::TimePoint busyUntil_{};

    // Command parser over the output stream.
    std::vector<uint8_t> command_;
    Clock::TimePoint lastOutput_{};

    // Host side, called by VirtualDevice.
    bool HostWrite(uint64_t generation, const uint8_t* report, std::size_t length, int timeoutMs);
    int HostRead(uint64_t generation, uint8_t* buffer, std::size_t capacity, int timeoutMs);
    int HostInputReportLength(uint64_t generation) const;
    int HostOutputReportLength(uint64_t generation, bool failed) const;

    void EventLocked();
    void TakeByteLocked(uint8_t byte);
    bool CommandCompleteLocked() const;
    void ExecuteLocked();
    void ReplyLocked(std::vector<uint8_t> bytes);
    void ReplyLocked(std::vector<uint8_t> bytes, const ReplyTiming& timing);
    // The status after a card was written or erased, with that card's faults.
    void StatusLocked(std::size_t index, uint8_t status);
    bool HappensLocked(std::size_t index, Fault fault);
    int DrawLocked(int low, int high);
    TrackSwipe FaultedSwipeLocked(std::size_t index, std::size_t track,
                                  std::optional<double> cutAt);
    void DropUnreadLocked(Clock::TimePoint now);
    void SetDeckLocked(Deck deck);
    void ArmLocked(Armed what);
    int CapacityBitsLocked(std::size_t track) const;
    bool SwipeLocked(std::size_t index, std::vector<CardChange>& changed);
    void RunDueAutoSwipeLocked(std::vector<CardChange>& changed);
    void NotifyChanged(const std::vector<CardChange>& changed);
    // Lays `change` over card `index` and counts it.
    CardChange ChangeLocked(std::size_t index, CardChange change);
};

// A HID backend over any number of virtual readers.
class VirtualBackend final : public HidBackend {
  public:
    VirtualBackend() = default;
    explicit VirtualBackend(VirtualReader& reader) { Attach(reader); }
    void Attach(VirtualReader& reader) { readers_.push_back(&reader); }

    std::vector<HidDeviceInfo> Enumerate(uint16_t vendorId, uint16_t productId) override;
    std::unique_ptr<HidDevice> Open(const HidDeviceInfo& info) override;

  private:
    std::vector<VirtualReader*> readers_;
};

}  // namespace tollwick
