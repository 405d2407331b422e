// The card jobs on a bench: a recording window, the virtual reader behind the tap of
// reader_rig.h, and the job monitor ticked by the test as the window's timer would, with every
// job's launcher. Plain classes, so that many rigs can run side by side on their own threads.
#pragma once

#include <condition_variable>
#include <filesystem>
#include <fstream>

#include "jobs/card_file_jobs.h"
#include "jobs/erase_worker.h"
#include "jobs/job_monitor.h"
#include "jobs/seq_write.h"
#include "reader_rig.h"
#include "settings/profile_store.h"
#include "test_platform.h"

namespace tollwick::jobs_test {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

using namespace testing::sample;

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using testing::kBound;
using testing::TapBackend;
using testing::TextsOnCard;
using testing::WaitFor;
using Armed = VirtualReader::Armed;
using Texts = TrackTexts;

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
        std::condition_variable_any unanswered;
        static_cast<void>(WaitUnlessStopped(unanswered, lock, stop, [] { return false; }));
        log_.push_back("MessageBoxStopped:" + text);
    }
    void SetSwipeTitle(const std::string& title) override { Note("SetSwipeTitle", title); }
    void SetSwipeColour(SwipeColour colour) override {
        Note("SetSwipeColour", std::array{"blue", "red", "dark green"}[static_cast<int>(colour)]);
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

// The test deck: the sample deck and one more ISO card, and blank cards at its end.
inline const std::size_t kIsoOther = SampleDeck().cards.size();  // another ISO card

inline Deck TestDeck(std::size_t blanks = 0) {
    Deck deck = SampleDeck();
    deck.cards.push_back(CardFromTexts(
        "Other ISO card", {"B4000001234567899^OTHER/CARD^2912101", "4000009999", "0112"},
        kIsoTrackSet));
    for (std::size_t i = 0; i < blanks; ++i) deck.cards.push_back(CardFromTexts("Blank", {}, {}));
    return deck;
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
