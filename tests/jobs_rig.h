// The card jobs on a bench: a recording window, a virtual reader behind a link that can be
// faulted in the middle of a reply, and the job monitor ticked by the test as the window's timer
// would. Plain classes, so that many rigs can run side by side on their own threads.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "carddata/track_codec.h"
#include "device/reader_commands.h"
#include "device/reader_link.h"
#include "device/virtual/virtual_reader.h"
#include "jobs/job_monitor.h"
#include "settings/profile_store.h"

namespace tollwick::jobs_test {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Armed = VirtualReader::Armed;
using Texts = TrackTexts;

// Generous: long enough for any reader wait, short enough to end a hung test.
inline constexpr auto kBound = 3s;

inline bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds bound = kBound) {
    const auto until = Clock::now() + bound;
    while (!done()) {
        if (Clock::now() > until) return false;
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

// Logs every call of the jobs to the window as text ("Name:argument", "Name" alone without one),
// and keeps the track boxes. Thread-safe: the worker calls it too. Boxes return at once unless
// the box hook holds them (it runs while the box is up, on the thread that asked for it).
class FakeView final : public JobView {
  public:
    std::vector<std::string> Log() const {
        std::lock_guard lock(mutex_);
        return log_;
    }
    int Count(const std::string& entry) const {
        const auto log = Log();
        return static_cast<int>(std::count(log.begin(), log.end(), entry));
    }
    bool Logged(const std::string& entry) const { return Count(entry) > 0; }
    // The log entries that begin with `prefix`, in order.
    std::vector<std::string> Entries(const std::string& prefix) const {
        std::vector<std::string> found;
        for (const auto& e : Log()) {
            if (e.starts_with(prefix)) found.push_back(e);
        }
        return found;
    }
    // The argument of the last call of `name`: what the window shows, e.g. Last("SetSwipeTitle").
    std::string Last(const std::string& name) const {
        const auto calls = Entries(name + ":");
        return calls.empty() ? "" : calls.back().substr(name.size() + 1);
    }
    Texts Tracks() const {
        std::lock_guard lock(mutex_);
        return tracks_;
    }
    void SetTracks(const Texts& texts) {
        std::lock_guard lock(mutex_);
        tracks_ = texts;
    }
    // `hook` runs while a box is up; with `holdWorkerBoxes` a worker's box stays up until the
    // worker is stopped.
    void OnBox(std::function<void(const std::string&)> hook, bool holdWorkerBoxes = false) {
        std::lock_guard lock(mutex_);
        boxHook_ = std::move(hook);
        holdWorkerBoxes_ = holdWorkerBoxes;
    }

    void SetMessage(const std::string& text) override { Note("SetMessage", text); }
    void SetMessageLineDirectly(const std::string& text) override {
        Note("SetMessageLineDirectly", text);
    }
    void ShowTracks(const Texts& texts) override {
        Note("ShowTracks", texts[0] + "|" + texts[1] + "|" + texts[2]);
        SetTracks(texts);
    }
    Texts FetchTracks() override { return Tracks(); }
    void EnableJobButtons(bool on) override { Note("EnableJobButtons", on ? "1" : "0"); }
    void EnableReaderControls(bool on) override { Note("EnableReaderControls", on ? "1" : "0"); }
    void EnableSetup(bool on) override { Note("EnableSetup", on ? "1" : "0"); }
    void EnableBeeper(bool on) override { Note("EnableBeeper", on ? "1" : "0"); }
    void EnableWindow(bool on) override { Note("EnableWindow", on ? "1" : "0"); }
    void SetConnectionLine(const std::string& text) override { Note("SetConnectionLine", text); }
    void SelectHiCo() override { Note("SelectHiCo"); }
    void Repaint() override {}
    void EndAsOk() override { Note("EndAsOk"); }
    void JobRunning(bool running) override { Note("JobRunning", running ? "1" : "0"); }
    void MessageBox(const std::string& text, std::stop_token stop) override {
        Note("MessageBox", text);
        std::unique_lock lock(mutex_);
        const auto hook = boxHook_;
        const bool hold = holdWorkerBoxes_ && stop.stop_possible();
        lock.unlock();
        if (hook) hook(text);
        if (!hold) return;
        lock.lock();
        std::condition_variable_any().wait(lock, stop, [] { return false; });
        log_.push_back("MessageBoxStopped:" + text);
    }
    void SetSwipeTitle(const std::string& title) override { Note("SetSwipeTitle", title); }
    void SetSwipeColour(SwipeColour colour) override {
        constexpr const char* kNames[] = {"blue", "red", "dark green"};
        Note("SetSwipeColour", kNames[static_cast<int>(colour)]);
    }
    void SetSwipeLines(const std::string& line1, const std::string& line2,
                       const std::string& count) override {
        Note("SetSwipeLines", line1 + "|" + line2 + "|" + count);
    }
    void SetSwipeLine1(const std::string& text) override { Note("SetSwipeLine1", text); }
    void SetSwipeCount(const std::string& text) override { Note("SetSwipeCount", text); }
    void ShowSwipe(bool show) override { Note("ShowSwipe", show ? "1" : "0"); }
    void CentreSwipe() override {}
    void CloseSwipe() override { Note("ShowSwipe", "0"); }
    void Sleep(int ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

  private:
    mutable std::mutex mutex_;
    std::vector<std::string> log_;
    Texts tracks_;
    std::function<void(const std::string&)> boxHook_;
    bool holdWorkerBoxes_ = false;

    // "Name:argument", or "Name" alone without one.
    void Note(const std::string& name, const std::string& argument) { Note(name + ":" + argument); }
    void Note(const std::string& entry) {
        std::lock_guard lock(mutex_);
        log_.push_back(entry);
    }
};

// The host's side of the virtual reader's link, with two things a test needs: it knows when the
// host listens for the reader's answer to a card (a read of 350 ms is under way), and it can
// fault the reader's answer after its first input report (the middle of a read block).
class TapBackend final : public HidBackend {
  public:
    enum class MidReply { kNone, kUnplug, kReplug, kSilence, kWrongByte };

    TapBackend(VirtualReader& reader, HidBackend& inner) : reader_(reader), inner_(inner) {}

    std::vector<HidDeviceInfo> Enumerate(uint16_t vendorId, uint16_t productId) override {
        if (refusals_.fetch_sub(1) > 0) return {};
        return inner_.Enumerate(vendorId, productId);
    }
    std::unique_ptr<HidDevice> Open(const HidDeviceInfo& info) override {
        auto device = inner_.Open(info);
        return device ? std::make_unique<Device>(*this, std::move(device)) : nullptr;
    }

    // The next `count` look-ups find nothing: a stored port on which no reader answers.
    void RefuseLookups(int count) { refusals_ = count; }
    // The host waits for a swipe or a status: a card swiped now is answered to it.
    bool Listening() const { return longReads_.load() > 0; }
    // The fault hits the reply to the next card, after its first report.
    void FaultNextReply(MidReply fault) {
        std::lock_guard lock(mutex_);
        fault_ = fault;
        seenFirst_ = false;
    }

  private:
    class Device final : public HidDevice {
      public:
        Device(TapBackend& tap, std::unique_ptr<HidDevice> inner)
            : tap_(tap), inner_(std::move(inner)) {}
        int InputReportLength() override { return inner_->InputReportLength(); }
        int OutputReportLength() override { return inner_->OutputReportLength(); }
        bool WriteReport(const uint8_t* report, std::size_t length, int timeoutMs) override {
            return inner_->WriteReport(report, length, timeoutMs);
        }
        int ReadReport(uint8_t* buffer, std::size_t capacity, int timeoutMs) override {
            const int listening = timeoutMs >= 300 ? 1 : 0;
            tap_.longReads_ += listening;
            const int got = tap_.Read(*inner_, buffer, capacity, timeoutMs);
            tap_.longReads_ -= listening;
            return got;
        }

      private:
        TapBackend& tap_;
        std::unique_ptr<HidDevice> inner_;
    };

    VirtualReader& reader_;
    HidBackend& inner_;
    std::atomic<int> refusals_{0};
    std::atomic<int> longReads_{0};
    std::mutex mutex_;
    MidReply fault_ = MidReply::kNone;
    bool seenFirst_ = false;

    int Read(HidDevice& device, uint8_t* buffer, std::size_t capacity, int timeoutMs) {
        std::unique_lock lock(mutex_);
        // The rest of a silenced reply never reaches the host: its reports, paced as they come,
        // are taken here until the reader has sent them all.
        if (seenFirst_ && fault_ == MidReply::kSilence) {
            while (device.ReadReport(buffer, capacity, 20) > 0) {
            }
            fault_ = MidReply::kNone;
        }
        lock.unlock();
        const int got = device.ReadReport(buffer, capacity, timeoutMs);
        lock.lock();
        if (got <= 0 || fault_ == MidReply::kNone) return got;
        if (!seenFirst_) {
            seenFirst_ = true;
            if (fault_ == MidReply::kUnplug || fault_ == MidReply::kReplug) {
                reader_.Unplug();
                if (fault_ == MidReply::kReplug) reader_.Plug();
                fault_ = MidReply::kNone;
            }
        } else if (fault_ == MidReply::kWrongByte) {
            if (got > 1) buffer[1] ^= 0x10;  // one flipped bit in the reply
            fault_ = MidReply::kNone;
        }
        return got;
    }
};

// Cards of the test deck: the sample deck and one more ISO card.
inline constexpr std::size_t kBlank = 0;                         // blank cards 0 to 2
inline constexpr std::size_t kIsoCard = 3;                       // a well-formed ISO card
inline constexpr std::size_t kWeakCard = 7;                      // one flipped bit on track 2
inline const std::size_t kIsoOther = SampleDeck().cards.size();  // another ISO card

inline Deck TestDeck(std::size_t blanks = 0) {
    Deck deck = SampleDeck();
    deck.cards.push_back(CardFromTexts(
        "Other ISO card", {"B4000001234567899^OTHER/CARD^2912101", "4000009999", "0112"},
        kIsoTrackSet));
    for (std::size_t i = 0; i < blanks; ++i) deck.cards.push_back(CardFromTexts("Blank", {}, {}));
    return deck;
}

// The texts a virtual card carries, read with the ISO formats.
inline Texts TextsOnCard(const VirtualCard& virtualCard, const TrackSet& settings = kIsoTrackSet) {
    CardTracks card;
    for (int t = 0; t < 3; ++t) {
        const auto& bits = virtualCard.tracks[static_cast<std::size_t>(t)];
        std::copy_n(bits.begin(), std::min<std::size_t>(bits.size(), kTrackBufferSize - 1),
                    card.track[t].begin());
    }
    DecodeTracks(card, settings);
    return {std::string(card.Text(0)), std::string(card.Text(1)), std::string(card.Text(2))};
}

// Window, monitor and virtual reader. The test thread plays the window's thread.
struct Rig {
    explicit Rig(ProfileStore& profile, VirtualReader::Options options = {}, Deck deck = TestDeck())
        : reader(std::move(options), std::move(deck)),
          virtualBackend(reader),
          tap(reader, virtualBackend),
          link(tap),
          commands(link),
          monitor(std::make_unique<JobMonitor>(
              JobContext{commands, profile, format, flags, reports, reads, view})) {
        reader.SetOnCardChanged([this](const CardChange&) { ++cardsChanged; });
    }

    // Connected as after the start-up, without its waits (the version text's 350 ms gap).
    bool ConnectQuickly() {
        if (commands.ConnectScan() < 0) return false;
        flags.startupDone.store(1);
        return true;
    }
    // One tick, timed: the window is never held longer than one reader wait.
    bool Tick() {
        bool again = true;
        OnWindow([&] { again = monitor->Tick(); });
        return again;
    }
    // Something the window does (a launch, a cancel), timed like a tick.
    void OnWindow(const std::function<void()>& action) {
        const auto start = Clock::now();
        action();
        longestWindowMs = std::max<long>(
            longestWindowMs,
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
    }
    // Ticks as the window's timer does until `done` holds.
    bool TickUntil(const std::function<bool()>& done, std::chrono::milliseconds bound = kBound) {
        return WaitFor([&] { return (Tick(), done()); }, bound);  // a tick, then a look
    }
    bool TickUntilLogged(const std::string& entry) {
        return TickUntil([&] { return view.Logged(entry); });
    }
    // Ticks until no report is left and `ms` have passed without one.
    void TickQuietly(std::chrono::milliseconds ms) {
        const auto until = Clock::now() + ms;
        while (Clock::now() < until || monitor->ReportsPending()) {
            Tick();
            std::this_thread::sleep_for(5ms);
        }
    }
    // Waits until the host listens for the answer to a card armed as `what`, then swipes.
    bool SwipeWhenListening(Armed what, std::size_t card) {
        return WaitFor([&] { return reader.ArmedFor() == what && tap.Listening(); }) &&
               reader.Swipe(card);
    }

    FakeView view;
    FormatState format;
    JobFlags flags;
    ReportQueue reports;
    CardReadTap reads;
    VirtualReader reader;
    VirtualBackend virtualBackend;
    TapBackend tap;
    ReaderLink link;
    ReaderCommands commands;
    std::unique_ptr<JobMonitor> monitor;
    std::atomic<int> cardsChanged{0};  // cards the reader wrote or erased
    long longestWindowMs = 0;          // on the window's thread only
};

}  // namespace tollwick::jobs_test
