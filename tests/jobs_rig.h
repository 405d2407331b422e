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
#include <map>
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
using Texts = std::array<std::string, 3>;

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

// Keeps what the window would show and logs every call as text ("Name:argument"). Thread-safe:
// the worker calls it too. Boxes return at once unless the box hook holds them (the hook runs
// while the box is up, on the thread that asked for it).
class FakeView final : public JobView {
  public:
    struct State {
        std::vector<std::string> log;
        std::vector<std::string> boxes;  // message boxes shown, in order
        std::string message, connectionLine, swipeTitle, line2, count;
        Texts tracks;
        std::map<int, bool> controls;
        bool jobButtons = true, windowEnabled = false, jobRunning = false, swipeShown = false;
        SwipeColour swipeColour = SwipeColour::kBlue;
    };

    State Get() const {
        std::lock_guard lock(mutex_);
        return state_;
    }
    std::vector<std::string> Log() const { return Get().log; }
    bool Logged(const std::string& entry) const { return Count(entry) > 0; }
    int Count(const std::string& entry) const {
        std::lock_guard lock(mutex_);
        return static_cast<int>(std::count(state_.log.begin(), state_.log.end(), entry));
    }
    // The log entries that begin with `prefix`, in order.
    std::vector<std::string> Entries(const std::string& prefix) const {
        std::vector<std::string> found;
        for (const auto& e : Log()) {
            if (e.rfind(prefix, 0) == 0) found.push_back(e);
        }
        return found;
    }
    void SetTracks(const Texts& texts) {
        std::lock_guard lock(mutex_);
        state_.tracks = texts;
    }
    void OnBox(std::function<void(const std::string&)> hook) {
        std::lock_guard lock(mutex_);
        boxHook_ = std::move(hook);
    }
    // A worker's box then stays up until the worker is stopped.
    void HoldWorkerBoxes(bool hold) {
        std::lock_guard lock(mutex_);
        holdWorkerBoxes_ = hold;
    }

    void SetMessage(const std::string& text) override { Note("SetMessage", text, &State::message); }
    void SetMessageText(const std::string& text) override {
        Note("SetMessageText", text, &State::message);
    }
    void ShowTracks(const Texts& texts) override {
        Note("ShowTracks", texts[0] + "|" + texts[1] + "|" + texts[2]);
        SetTracks(texts);
    }
    Texts FetchTracks() override { return Note("FetchTracks", "").tracks; }
    void EnableJobButtons(bool on) override {
        Note("EnableJobButtons", on ? "1" : "0", nullptr, [on](State& s) {
            s.jobButtons = on;
            if (on) s.controls[control::kSetup] = true;
        });
    }
    void EnableControl(int id, bool on) override {
        Note("EnableControl", std::to_string(id) + (on ? ":1" : ":0"), nullptr,
             [=](State& s) { s.controls[id] = on; });
    }
    void EnableWindow(bool on) override {
        Note("EnableWindow", on ? "1" : "0", nullptr, [on](State& s) { s.windowEnabled = on; });
    }
    void SetConnectionLine(const std::string& text) override {
        Note("SetConnectionLine", text, &State::connectionLine);
    }
    void SelectHiCo() override { Note("SelectHiCo", ""); }
    void Repaint() override { Note("Repaint", ""); }
    void EndAsOk() override { Note("EndAsOk", ""); }
    void JobRunning(bool running) override {
        Note("JobRunning", running ? "1" : "0", nullptr,
             [running](State& s) { s.jobRunning = running; });
    }
    void MessageBox(const std::string& text, std::stop_token stop) override {
        Note("MessageBox", text, nullptr, [&](State& s) { s.boxes.push_back(text); });
        std::function<void(const std::string&)> hook;
        bool hold = false;
        {
            std::lock_guard lock(mutex_);
            hook = boxHook_;
            hold = holdWorkerBoxes_ && stop.stop_possible();
        }
        if (hook) hook(text);
        if (hold) {
            std::unique_lock lock(mutex_);
            std::condition_variable_any closed;
            closed.wait(lock, stop, [] { return false; });
            state_.log.push_back("MessageBoxStopped:" + text);
        }
    }
    void SetSwipeTitle(const std::string& title) override {
        Note("SetSwipeTitle", title, &State::swipeTitle);
    }
    void SetSwipeColour(SwipeColour colour) override {
        Note("SetSwipeColour", std::to_string(static_cast<int>(colour)), nullptr,
             [colour](State& s) { s.swipeColour = colour; });
    }
    void SetSwipeLines(const std::string& line1, const std::string& line2,
                       const std::string& count) override {
        Note("SetSwipeLines", line1 + "|" + line2 + "|" + count, nullptr, [&](State& s) {
            s.line2 = line2;
            s.count = count;
        });
    }
    void SetSwipeLine1(const std::string& text) override { Note("SetSwipeLine1", text); }
    void SetSwipeCount(const std::string& text) override {
        Note("SetSwipeCount", text, &State::count);
    }
    void ShowSwipe(bool show) override {
        Note("ShowSwipe", show ? "1" : "0", nullptr, [show](State& s) { s.swipeShown = show; });
    }
    void CentreSwipe() override { Note("CentreSwipe", ""); }
    void CloseSwipe() override {
        Note("CloseSwipe", "", nullptr, [](State& s) { s.swipeShown = false; });
    }
    void Sleep(int milliseconds) override {
        Note("Sleep", std::to_string(milliseconds));
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    }

  private:
    mutable std::mutex mutex_;
    State state_;
    std::function<void(const std::string&)> boxHook_;
    bool holdWorkerBoxes_ = false;

    // Logs the call ("Name" alone without an argument), keeps the text in `field` and applies
    // `change`; returns the state as it then stands.
    State Note(const std::string& name, const std::string& text,
               std::string State::*field = nullptr,
               const std::function<void(State&)>& change = {}) {
        std::lock_guard lock(mutex_);
        state_.log.push_back(text.empty() && field == nullptr ? name : name + ":" + text);
        if (field != nullptr) state_.*field = text;
        if (change) change(state_);
        return state_;
    }
};

// The host's side of the virtual reader's link, with two things a test needs: it knows when the
// host listens for the reader's answer to a card (a read of 350 ms is under way), and it can
// fault the reader's answer after its first input report (the middle of a read block).
class TapBackend final : public HidBackend {
  public:
    enum class MidReply { kNone, kUnplug, kReplug, kSilence, kWrongByte, kSlow };

    TapBackend(VirtualReader& reader, HidBackend& inner) : reader_(reader), inner_(inner) {}

    std::vector<HidDeviceInfo> Enumerate(uint16_t vendorId, uint16_t productId) override {
        if (refusals_ > 0) {
            --refusals_;
            return {};
        }
        return inner_.Enumerate(vendorId, productId);
    }
    std::unique_ptr<HidDevice> Open(const HidDeviceInfo& info) override {
        auto device = inner_.Open(info);
        if (!device) return nullptr;
        return std::make_unique<Device>(*this, std::move(device));
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
            const bool listening = timeoutMs >= 300;
            if (listening) ++tap_.longReads_;
            const int got = tap_.Read(*inner_, buffer, capacity, timeoutMs);
            if (listening) --tap_.longReads_;
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
    Clock::time_point resumeAt_{};

    int Read(HidDevice& device, uint8_t* buffer, std::size_t capacity, int timeoutMs) {
        MidReply fault;
        Clock::time_point resumeAt;
        {
            std::lock_guard lock(mutex_);
            fault = seenFirst_ ? fault_ : MidReply::kNone;
            resumeAt = resumeAt_;
        }
        if (fault == MidReply::kSlow) {
            // The rest of the reply is late: nothing comes before resumeAt.
            const auto wait =
                std::chrono::duration_cast<std::chrono::milliseconds>(resumeAt - Clock::now());
            if (wait.count() > timeoutMs) {
                std::this_thread::sleep_for(std::chrono::milliseconds(timeoutMs));
                return 0;
            }
            if (wait.count() > 0) std::this_thread::sleep_for(wait);
            std::lock_guard lock(mutex_);
            fault_ = MidReply::kNone;
        } else if (fault == MidReply::kSilence) {
            // The rest of the reply never reaches the host: its reports, paced as they come,
            // are taken here until the reader has sent them all.
            while (device.ReadReport(buffer, capacity, 20) > 0) {
            }
            std::lock_guard lock(mutex_);
            fault_ = MidReply::kNone;
        }
        const int got = device.ReadReport(buffer, capacity, timeoutMs);
        if (got <= 0) return got;
        std::lock_guard lock(mutex_);
        if (fault_ == MidReply::kNone) return got;
        if (!seenFirst_) {
            seenFirst_ = true;
            if (fault_ == MidReply::kUnplug || fault_ == MidReply::kReplug) {
                reader_.Unplug();
                if (fault_ == MidReply::kReplug) reader_.Plug();
                fault_ = MidReply::kNone;
            } else if (fault_ == MidReply::kSlow) {
                resumeAt_ = Clock::now() + 120ms;  // beyond the 50 ms gap that ends a block
            }
            return got;
        }
        if (fault_ == MidReply::kWrongByte) {
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
class Rig {
  public:
    explicit Rig(ProfileStore& profile, VirtualReader::Options options = {}, Deck deck = TestDeck())
        : profile_(profile),
          reader(std::move(options), std::move(deck)),
          virtualBackend_(reader),
          tap(reader, virtualBackend_),
          link_(tap),
          commands(link_) {
        reader.SetOnCardChanged([this](std::size_t) { ++cardsChanged; });
        monitor = std::make_unique<JobMonitor>(JobContext{commands, profile_, format, flags, view});
    }
    ~Rig() { monitor.reset(); }

    // Connected as after the start-up, without its waits (the version text's 350 ms gap).
    bool ConnectQuickly() {
        if (commands.ConnectScan() < 0) return false;
        flags.startupDone.store(1);
        return true;
    }
    // One tick, timed: the window is never held longer than one reader wait.
    bool Tick() {
        const auto start = Clock::now();
        const bool again = monitor->Tick();
        NoteWindowTime(Clock::now() - start);
        return again;
    }
    // Something the window does (a launch, a cancel), timed like a tick.
    template <class F>
    void OnWindow(F action) {
        const auto start = Clock::now();
        action();
        NoteWindowTime(Clock::now() - start);
    }
    // Ticks as the window's timer does until `done` holds.
    bool TickUntil(const std::function<bool()>& done, std::chrono::milliseconds bound = kBound) {
        const auto until = Clock::now() + bound;
        for (;;) {
            Tick();
            if (done()) return true;
            if (Clock::now() > until) return false;
            std::this_thread::sleep_for(5ms);
        }
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
        if (!WaitFor([&] { return reader.ArmedFor() == what && tap.Listening(); })) return false;
        return reader.Swipe(card);
    }
    std::chrono::milliseconds LongestWindowTime() const {
        return std::chrono::milliseconds(longestWindowMs_.load());
    }

    FakeView view;
    FormatState format;
    JobFlags flags;

  private:
    ProfileStore& profile_;

  public:
    VirtualReader reader;

  private:
    VirtualBackend virtualBackend_;

  public:
    TapBackend tap;

  private:
    ReaderLink link_;

  public:
    ReaderCommands commands;
    std::unique_ptr<JobMonitor> monitor;
    std::atomic<int> cardsChanged{0};  // cards the reader wrote or erased

  private:
    std::atomic<long> longestWindowMs_{0};
    void NoteWindowTime(Clock::duration d) {
        const long ms = std::chrono::duration_cast<std::chrono::milliseconds>(d).count();
        long seen = longestWindowMs_.load();
        while (ms > seen && !longestWindowMs_.compare_exchange_weak(seen, ms)) {
        }
    }
};

}  // namespace tollwick::jobs_test
