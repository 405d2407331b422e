// The card jobs against the virtual reader: start-up connection, the Read, Write, Copy and
// Compare jobs, the job cancel, and the track preparation rules.
#include <gtest/gtest.h>

#include <unistd.h>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <future>
#include <map>
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
#include "settings/stored_settings.h"

namespace tollwick {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Armed = VirtualReader::Armed;
using Texts = std::array<std::string, 3>;

constexpr auto kBound = 3s;

// --- A recording window ---------------------------------------------------------------------

// Keeps what the window would show and logs every call as text. Thread-safe: the worker calls
// it too. Message boxes are answered at once unless held open.
class FakeView final : public JobView {
  public:
    struct State {
        std::vector<std::string> log;
        std::vector<std::string> boxes;  // message boxes shown, in order
        std::string message;
        Texts tracks;
        std::string connectionLine;
        std::map<int, bool> controls;
        bool jobButtons = true;
        bool windowEnabled = false;
        bool jobRunning = false;
        int endAsOk = 0;
        std::string swipeTitle;
        SwipeColour swipeColour = SwipeColour::kBlue;
        std::string line1, line2, count;
        bool swipeShown = false;
    };

    State Get() const {
        std::lock_guard lock(mutex_);
        return state_;
    }
    bool Logged(const std::string& entry) const {
        std::lock_guard lock(mutex_);
        return std::find(state_.log.begin(), state_.log.end(), entry) != state_.log.end();
    }
    int Count(const std::string& entry) const {
        std::lock_guard lock(mutex_);
        return static_cast<int>(std::count(state_.log.begin(), state_.log.end(), entry));
    }
    void SetTracks(const Texts& texts) {
        std::lock_guard lock(mutex_);
        state_.tracks = texts;
    }
    // Worker-side boxes stay open until the worker is stopped.
    void HoldBoxesOpen(bool hold) {
        std::lock_guard lock(mutex_);
        holdBoxes_ = hold;
    }

    void SetMessage(const std::string& text) override { Set("SetMessage", state_.message, text); }
    void SetMessageText(const std::string& text) override {
        Set("SetMessageText", state_.message, text);
    }
    void ShowTracks(const Texts& texts) override {
        std::lock_guard lock(mutex_);
        state_.tracks = texts;
        state_.log.push_back("ShowTracks:" + texts[0] + "|" + texts[1] + "|" + texts[2]);
    }
    Texts FetchTracks() override {
        std::lock_guard lock(mutex_);
        state_.log.push_back("FetchTracks");
        return state_.tracks;
    }
    void EnableJobButtons(bool on) override {
        std::lock_guard lock(mutex_);
        state_.jobButtons = on;
        if (on) state_.controls[control::kSetup] = true;
        state_.log.push_back(std::string("EnableJobButtons:") + (on ? "1" : "0"));
    }
    void EnableControl(int id, bool on) override {
        std::lock_guard lock(mutex_);
        state_.controls[id] = on;
        state_.log.push_back("EnableControl:" + std::to_string(id) + ":" + (on ? "1" : "0"));
    }
    void EnableWindow(bool on) override {
        std::lock_guard lock(mutex_);
        state_.windowEnabled = on;
        state_.log.push_back(std::string("EnableWindow:") + (on ? "1" : "0"));
    }
    void SetConnectionLine(const std::string& text) override {
        Set("SetConnectionLine", state_.connectionLine, text);
    }
    void SelectHiCo() override { Log("SelectHiCo"); }
    void Repaint() override { Log("Repaint"); }
    void EndAsOk() override {
        std::lock_guard lock(mutex_);
        ++state_.endAsOk;
        state_.log.push_back("EndAsOk");
    }
    void JobRunning(bool running) override {
        std::lock_guard lock(mutex_);
        state_.jobRunning = running;
        state_.log.push_back(std::string("JobRunning:") + (running ? "1" : "0"));
    }
    void MessageBox(const std::string& text, std::stop_token stop) override {
        std::unique_lock lock(mutex_);
        state_.boxes.push_back(text);
        state_.log.push_back("MessageBox:" + text);
        if (holdBoxes_ && stop.stop_possible()) {
            std::condition_variable_any closed;
            closed.wait(lock, stop, [] { return false; });
            state_.log.push_back("MessageBoxStopped:" + text);
        }
    }
    void SetSwipeTitle(const std::string& title) override {
        Set("SetSwipeTitle", state_.swipeTitle, title);
    }
    void SetSwipeColour(SwipeColour colour) override {
        std::lock_guard lock(mutex_);
        state_.swipeColour = colour;
        state_.log.push_back("SetSwipeColour:" + std::to_string(static_cast<int>(colour)));
    }
    void SetSwipeLines(const std::string& line1, const std::string& line2,
                       const std::string& count) override {
        std::lock_guard lock(mutex_);
        state_.line1 = line1;
        state_.line2 = line2;
        state_.count = count;
        state_.log.push_back("SetSwipeLines:" + line1 + "|" + line2 + "|" + count);
    }
    void SetSwipeLine1(const std::string& text) override {
        Set("SetSwipeLine1", state_.line1, text);
    }
    void SetSwipeCount(const std::string& text) override {
        Set("SetSwipeCount", state_.count, text);
    }
    void ShowSwipe(bool show) override {
        std::lock_guard lock(mutex_);
        state_.swipeShown = show;
        state_.log.push_back(std::string("ShowSwipe:") + (show ? "1" : "0"));
    }
    void CentreSwipe() override { Log("CentreSwipe"); }
    void CloseSwipe() override {
        std::lock_guard lock(mutex_);
        state_.swipeShown = false;
        state_.log.push_back("CloseSwipe");
    }
    void Sleep(int milliseconds) override {
        Log("Sleep:" + std::to_string(milliseconds));
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    }

  private:
    mutable std::mutex mutex_;
    State state_;
    bool holdBoxes_ = false;

    void Log(const std::string& entry) {
        std::lock_guard lock(mutex_);
        state_.log.push_back(entry);
    }
    void Set(const char* name, std::string& field, const std::string& text) {
        std::lock_guard lock(mutex_);
        field = text;
        state_.log.push_back(std::string(name) + ":" + text);
    }
};

// Refuses the first `refusals` look-ups: a stored port on which no reader answers.
class RefusingBackend final : public HidBackend {
  public:
    RefusingBackend(HidBackend& inner, int refusals) : inner_(inner), refusals_(refusals) {}
    std::vector<HidDeviceInfo> Enumerate(uint16_t vendorId, uint16_t productId) override {
        if (refusals_ > 0) {
            --refusals_;
            return {};
        }
        return inner_.Enumerate(vendorId, productId);
    }
    std::unique_ptr<HidDevice> Open(const HidDeviceInfo& info) override {
        return inner_.Open(info);
    }

  private:
    HidBackend& inner_;
    int refusals_;
};

// --- The rig: window, monitor and a virtual reader ------------------------------------------

bool WaitFor(const std::function<bool()>& done) {
    const auto until = std::chrono::steady_clock::now() + kBound;
    while (!done()) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

// The texts the virtual card carries, read with the given formats.
Texts TextsOnCard(const VirtualCard& virtualCard, const TrackSet& settings) {
    CardTracks card;
    for (int t = 0; t < 3; ++t) {
        const auto& bits = virtualCard.tracks[static_cast<std::size_t>(t)];
        std::copy_n(bits.begin(), std::min<std::size_t>(bits.size(), kTrackBufferSize - 1),
                    card.track[t].begin());
    }
    DecodeTracks(card, settings);
    return {std::string(card.Text(0)), std::string(card.Text(1)), std::string(card.Text(2))};
}

constexpr std::size_t kBlank = 0;    // sample deck: blank cards 0 to 2
constexpr std::size_t kIsoCard = 3;  // a well-formed ISO card
constexpr std::size_t kDamaged = 7;  // track 2 fails its check
// Added after the sample cards: another ISO card.
const std::size_t kIsoOther = SampleDeck().cards.size();

Deck TestDeck() {
    Deck deck = SampleDeck();
    deck.cards.push_back(CardFromTexts(
        "Other ISO card", {"B4000001234567899^OTHER/CARD^2912101", "4000009999", "0112"},
        kIsoTrackSet));
    return deck;
}

class JobsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string tmpl = (fs::temp_directory_path() / "tollwick-jobs-XXXXXX").string();
        ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
        dir_ = tmpl;
        profile_ = std::make_unique<ProfileStore>(dir_ / "Tollwick.ini");
        Build(VirtualReader::Options{});
    }
    void TearDown() override {
        EndsPromptly([this] { monitor_.reset(); });
        fs::remove_all(dir_);
    }

    // Runs `stop`, which stops the worker. A worker that ignores its stop would hold the test
    // run forever: that ends the run with a message instead.
    static void EndsPromptly(std::function<void()> stop) {
        auto done = std::async(std::launch::async, std::move(stop));
        if (done.wait_for(kBound) == std::future_status::ready) return;
        std::fflush(stdout);
        std::fprintf(stderr, "%s: the worker did not stop\n",
                     ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::_Exit(1);
    }

    // A fresh reader and monitor; `refusals` look-ups of the reader find nothing.
    void Build(VirtualReader::Options options, int refusals = 0) {
        monitor_.reset();
        commands_.reset();
        link_.reset();
        refusing_.reset();
        backend_.reset();
        reader_ = std::make_unique<VirtualReader>(std::move(options), TestDeck());
        backend_ = std::make_unique<VirtualBackend>(*reader_);
        refusing_ = std::make_unique<RefusingBackend>(*backend_, refusals);
        link_ = std::make_unique<ReaderLink>(*refusing_);
        commands_ = std::make_unique<ReaderCommands>(*link_);
        monitor_ =
            std::make_unique<JobMonitor>(JobContext{*commands_, *profile_, format_, flags_, view_});
    }

    // Ticks as the window's timer does until `done` holds.
    bool TickUntil(const std::function<bool()>& done) {
        const auto until = std::chrono::steady_clock::now() + kBound;
        for (;;) {
            monitor_->Tick();
            if (done()) return true;
            if (std::chrono::steady_clock::now() > until) return false;
            std::this_thread::sleep_for(5ms);
        }
    }
    bool TickUntilLogged(const std::string& entry) {
        return TickUntil([&] { return view_.Logged(entry); });
    }
    // Swipes a card once the worker has armed the reader for it. After a write command the
    // program listens a moment for a refusal and drops what comes then: no hand is that fast.
    void SwipeWhenArmed(Armed what, std::size_t card) {
        ASSERT_TRUE(WaitFor([&] { return reader_->ArmedFor() == what; }));
        if (what == Armed::kWrite) std::this_thread::sleep_for(200ms);
        ASSERT_TRUE(reader_->Swipe(card));
    }
    void Connect() {
        ASSERT_TRUE(monitor_->Tick());
        ASSERT_TRUE(view_.Logged("SetMessage:Device READY"));
    }
    // Cancel, which must not wait long for the worker, wherever it waits.
    void CancelPromptly() {
        EndsPromptly([this] { monitor_->CancelJob(); });
    }
    Texts IsoTexts(std::size_t card) const {
        return TextsOnCard(*reader_->Card(card), kIsoTrackSet);
    }

    fs::path dir_;
    std::unique_ptr<ProfileStore> profile_;
    FormatState format_;
    JobFlags flags_;
    FakeView view_;
    std::unique_ptr<VirtualReader> reader_;
    std::unique_ptr<VirtualBackend> backend_;
    std::unique_ptr<RefusingBackend> refusing_;
    std::unique_ptr<ReaderLink> link_;
    std::unique_ptr<ReaderCommands> commands_;
    std::unique_ptr<JobMonitor> monitor_;
};

// --- Start-up connection --------------------------------------------------------------------

TEST_F(JobsTest, StartupOnTheStoredPortSwitchesToHiCoAndShowsTheVersion) {
    ASSERT_TRUE(profile_->Write("PORTNUM", "3"));
    // The reader was left in Lo-Co at 210 bits per inch.
    ASSERT_EQ(commands_->ConnectScan(), 1);
    ASSERT_EQ(commands_->SetLoCo(), kReaderOk);
    ASSERT_FALSE(reader_->HighCoercivity());

    ASSERT_TRUE(monitor_->Tick());
    FakeView::State state = view_.Get();
    EXPECT_EQ(view_.Count("SetMessage:Device READY"), 2);  // on the port, and once set up
    EXPECT_EQ(state.connectionLine, "COM3 9600,8,N,1  VK3300 EVU1.07");
    EXPECT_TRUE(state.controls[control::kBeepOn]);
    EXPECT_TRUE(state.controls[control::kBeepOff]);
    EXPECT_TRUE(view_.Logged("SelectHiCo"));
    EXPECT_TRUE(reader_->HighCoercivity());
    EXPECT_EQ(reader_->Density(), 75);
    EXPECT_TRUE(state.windowEnabled);
    EXPECT_EQ(profile_->Read("PORTNUM"), "3");
    EXPECT_EQ(flags_.startupDone.load(), 1);

    // Only the first tick connects.
    ASSERT_TRUE(monitor_->Tick());
    EXPECT_EQ(view_.Count("SetMessage:Device READY"), 2);
}

TEST_F(JobsTest, StartupScansWhenThePortIsMissingOrDoesNotAnswer) {
    format_.SetDensity(Track2Density::k210);
    ASSERT_TRUE(monitor_->Tick());
    EXPECT_EQ(profile_->Read("PORTNUM"), "1");
    EXPECT_EQ(view_.Count("SetMessage:Device READY"), 1);
    EXPECT_EQ(reader_->Density(), 210);

    // Port 7 is stored but nothing answers there (both vendor look-ups fail); the scan finds
    // the reader again and its port replaces the stored one.
    ASSERT_TRUE(profile_->Write("PORTNUM", "7"));
    flags_.startupDone = 0;
    Build(VirtualReader::Options{}, /*refusals=*/2);
    ASSERT_TRUE(monitor_->Tick());
    EXPECT_EQ(profile_->Read("PORTNUM"), "1");
    EXPECT_EQ(view_.Get().connectionLine, "COM1 9600,8,N,1  VK3300 EVU1.07");
    EXPECT_EQ(view_.Count("SetMessage:Device READY"), 2);  // one more, not two
}

TEST_F(JobsTest, StartupWithoutAReaderLeavesOnlySetupUsable) {
    reader_->Unplug();
    ASSERT_TRUE(monitor_->Tick());
    FakeView::State state = view_.Get();
    EXPECT_EQ(state.message, "Not Connect Device");
    EXPECT_FALSE(state.jobButtons);
    for (int id : {1003, 1004, 1015, 1016, 1017, 1045, 1046}) {
        EXPECT_TRUE(view_.Logged("EnableControl:" + std::to_string(id) + ":0")) << id;
    }
    EXPECT_TRUE(state.controls[control::kSetup]);
    EXPECT_FALSE(state.controls.contains(control::kBeepOn));
    EXPECT_TRUE(view_.Logged("SetConnectionLine:"));
    EXPECT_TRUE(state.windowEnabled);
    EXPECT_EQ(profile_->Read("PORTNUM", "none"), "none");

    // While the start-up password is still asked for, the window stays disabled.
    flags_.startupDone = 0;
    Build(VirtualReader::Options{});
    FakeView other;
    monitor_ =
        std::make_unique<JobMonitor>(JobContext{*commands_, *profile_, format_, flags_, other});
    monitor_->SetStartupPasswordPending(true);
    ASSERT_TRUE(monitor_->Tick());
    EXPECT_EQ(other.Get().message, "Device READY");
    EXPECT_FALSE(other.Logged("EnableWindow:1"));
    monitor_.reset();
}

TEST_F(JobsTest, BeeperButtonsOnlyForFirmwareNewerThanEvu106) {
    const std::pair<std::string, bool> cases[] = {
        {"EVU1.07", true}, {"EVU1.06", false}, {"EVU1.05", false}, {"EVU1", false}, {"EVU2", true}};
    for (const auto& [version, beep] : cases) {
        FakeView view;
        JobFlags flags;
        VirtualReader reader(VirtualReader::Options{.version = version});
        VirtualBackend backend(reader);
        ReaderLink link(backend);
        ReaderCommands commands(link);
        JobMonitor monitor(JobContext{commands, *profile_, format_, flags, view});
        ASSERT_TRUE(monitor.Tick());
        EXPECT_EQ(view.Get().connectionLine, "COM1 9600,8,N,1  VK3300 " + version);
        EXPECT_EQ(view.Logged("EnableControl:1041:1"), beep) << version;
        EXPECT_EQ(view.Logged("EnableControl:1042:1"), beep) << version;
    }
}

TEST_F(JobsTest, ExitRequestEndsTheWindowAndStopsTicking) {
    Connect();
    flags_.exitRequested = 1;
    EXPECT_FALSE(monitor_->Tick());
    EXPECT_FALSE(monitor_->Tick());
    EXPECT_EQ(view_.Get().endAsOk, 1);
}

// --- Read ----------------------------------------------------------------------------------

TEST_F(JobsTest, ReadShowsEachGoodCardAndCountsOn) {
    Connect();
    monitor_->LaunchRead();
    FakeView::State state = view_.Get();
    EXPECT_EQ(state.swipeTitle, "Read Card");
    EXPECT_EQ(state.swipeColour, SwipeColour::kBlue);
    EXPECT_EQ(state.line2, "Swipe Counter  -->");
    EXPECT_EQ(state.count, "1");
    EXPECT_TRUE(state.jobRunning);
    EXPECT_FALSE(state.jobButtons);

    SwipeWhenArmed(Armed::kRead, kIsoCard);
    ASSERT_TRUE(TickUntilLogged("SetMessage:Read Card<1> OK"));
    state = view_.Get();
    EXPECT_EQ(state.tracks, IsoTexts(kIsoCard));
    EXPECT_EQ(state.tracks[1], ";4000001234567899=29121010000000000000?");
    EXPECT_EQ(state.count, " 2 ");
    EXPECT_TRUE(state.swipeShown);
    EXPECT_EQ(flags_.swipeCount.load(), 2u);

    // The worker already waits for the next card; an empty card is no failure.
    SwipeWhenArmed(Armed::kRead, kBlank);
    ASSERT_TRUE(TickUntilLogged("SetMessage:Read Card<2> OK"));
    state = view_.Get();
    EXPECT_EQ(state.tracks, (Texts{"{NO DATA}", "{NO DATA}", "{NO DATA}"}));
    EXPECT_EQ(state.count, " 3 ");
    EXPECT_TRUE(state.boxes.empty());
}

TEST_F(JobsTest, ReadOfADamagedCardIsAnErrorAndLeavesTheCount) {
    Connect();
    monitor_->LaunchRead();
    SwipeWhenArmed(Armed::kRead, kDamaged);
    ASSERT_TRUE(TickUntilLogged("SetSwipeCount: 1 "));
    FakeView::State state = view_.Get();
    EXPECT_EQ(state.boxes, std::vector<std::string>{"Read Error!!"});
    EXPECT_EQ(state.message, "Read Error!!");
    EXPECT_FALSE(view_.Logged("SetMessage:Read Card<0> OK"));
    EXPECT_EQ(state.tracks[0], "%B4000001234567899^DAMAGED/CARD^2912101?");
    EXPECT_EQ(state.tracks[1], "{Trace2 data error}");
    EXPECT_EQ(flags_.swipeCount.load(), 1u);

    // The same count goes to the next good card.
    SwipeWhenArmed(Armed::kRead, kIsoCard);
    ASSERT_TRUE(TickUntilLogged("SetMessage:Read Card<1> OK"));
    EXPECT_EQ(view_.Get().count, " 2 ");
}

TEST_F(JobsTest, ReadEndsOnALostLink) {
    Connect();
    reader_->Unplug();
    monitor_->LaunchRead();
    ASSERT_TRUE(TickUntilLogged("JobRunning:0"));
    const FakeView::State state = view_.Get();
    EXPECT_EQ(state.message, "Commucation Error");
    EXPECT_FALSE(state.swipeShown);
    EXPECT_TRUE(state.jobButtons);
    EXPECT_FALSE(monitor_->WorkerActive());
}

TEST_F(JobsTest, GoodReadsReachTheToFileHookOnlyWhileActive) {
    std::mutex mutex;
    std::vector<std::string> appended;
    int closed = 0;
    monitor_->SetCardFileHooks({[&](const CardTracks& card) {
                                    std::lock_guard lock(mutex);
                                    appended.emplace_back(card.Text(1));
                                },
                                [&] { ++closed; }});
    Connect();
    flags_.toFileActive = 1;
    monitor_->LaunchRead();
    SwipeWhenArmed(Armed::kRead, kDamaged);  // not recorded
    ASSERT_TRUE(TickUntilLogged("SetMessage:Read Error!!"));
    SwipeWhenArmed(Armed::kRead, kIsoCard);
    ASSERT_TRUE(TickUntilLogged("SetMessage:Read Card<1> OK"));
    CancelPromptly();
    EXPECT_EQ(flags_.toFileActive.load(), 0);
    EXPECT_EQ(closed, 1);
    std::lock_guard lock(mutex);
    EXPECT_EQ(appended, std::vector<std::string>{";4000001234567899=29121010000000000000?"});
}

// --- Write ---------------------------------------------------------------------------------

TEST_F(JobsTest, WriteWithNothingButMarkersIsRefused) {
    Connect();
    for (const Texts& boxes : {Texts{}, Texts{"{NO DATA}", "{NO DATA}", "{Trace3 data error}"}}) {
        view_.SetTracks(boxes);
        monitor_->LaunchWrite();
        const FakeView::State state = view_.Get();
        EXPECT_EQ(state.boxes.back(), "Please Input Data");
        EXPECT_FALSE(state.swipeShown);
        EXPECT_TRUE(state.jobButtons);
        EXPECT_FALSE(view_.Logged("JobRunning:1"));
        EXPECT_FALSE(monitor_->WorkerActive());
    }
    EXPECT_EQ(view_.Count("MessageBox:Please Input Data"), 2);
}

TEST_F(JobsTest, WriteWritesTheSameDataOnEveryCard) {
    Connect();
    view_.SetTracks({"b123", "{NO DATA}", "{NO DATA}"});
    monitor_->LaunchWrite();
    FakeView::State state = view_.Get();
    EXPECT_EQ(state.swipeTitle, "Write Card");
    EXPECT_EQ(state.swipeColour, SwipeColour::kRed);
    EXPECT_EQ(state.tracks, (Texts{"b123", "", ""}));  // markers emptied in the boxes

    SwipeWhenArmed(Armed::kWrite, kBlank);
    ASSERT_TRUE(TickUntilLogged("SetMessage:Write Card<1> OK"));
    state = view_.Get();
    EXPECT_EQ(state.tracks, (Texts{"B123", "", ""}));
    EXPECT_EQ(state.count, " 2 ");
    EXPECT_EQ(IsoTexts(kBlank), (Texts{"%B123?", "{NO DATA}", "{NO DATA}"}));

    SwipeWhenArmed(Armed::kWrite, kBlank + 1);
    ASSERT_TRUE(TickUntilLogged("SetMessage:Write Card<2> OK"));
    EXPECT_EQ(IsoTexts(kBlank + 1)[0], "%B123?");
    // An empty track leaves the card's track as it was.
    SwipeWhenArmed(Armed::kWrite, kIsoCard);
    ASSERT_TRUE(TickUntilLogged("SetMessage:Write Card<3> OK"));
    EXPECT_EQ(IsoTexts(kIsoCard)[0], "%B123?");
    EXPECT_EQ(IsoTexts(kIsoCard)[1], ";4000001234567899=29121010000000000000?");
}

TEST_F(JobsTest, RejectedWriteIsReportedOnceAndTheCardAskedAgain) {
    Connect();
    view_.SetTracks({"", "1234", ""});
    monitor_->LaunchWrite();
    reader_->SetRejectWrites(true);
    SwipeWhenArmed(Armed::kWrite, kBlank);
    ASSERT_TRUE(TickUntilLogged("MessageBox:Write Error1"));
    EXPECT_EQ(flags_.lastStatus.load(), 0);
    EXPECT_EQ(flags_.swipeCount.load(), 1u);
    EXPECT_TRUE(view_.Get().swipeShown);
    EXPECT_EQ(IsoTexts(kBlank)[1], "{NO DATA}");

    reader_->SetRejectWrites(false);
    SwipeWhenArmed(Armed::kWrite, kBlank);
    ASSERT_TRUE(TickUntilLogged("SetMessage:Write Card<1> OK"));
    EXPECT_EQ(IsoTexts(kBlank)[1], ";1234?");
    EXPECT_EQ(view_.Count("MessageBox:Write Error1"), 1);
}

// --- Copy ----------------------------------------------------------------------------------

TEST_F(JobsTest, CopyEndsOnAFailedSource) {
    Connect();
    monitor_->LaunchCopy();
    EXPECT_EQ(view_.Get().swipeTitle, "Copy Card <Read Card>");
    SwipeWhenArmed(Armed::kRead, kDamaged);
    ASSERT_TRUE(TickUntilLogged("JobRunning:0"));
    const FakeView::State state = view_.Get();
    EXPECT_EQ(state.message, "Read <TARGET> Card Error");
    EXPECT_EQ(state.boxes, std::vector<std::string>{" Read <Source> Error!!"});
    EXPECT_TRUE(state.jobButtons);
    EXPECT_EQ(state.tracks[1], "{Trace2 data error}");
    EXPECT_FALSE(monitor_->WorkerActive());
}

TEST_F(JobsTest, CopyWritesTheSourceOnTheTargetUntilItTakes) {
    Connect();
    monitor_->LaunchCopy();
    SwipeWhenArmed(Armed::kRead, kIsoCard);
    ASSERT_TRUE(TickUntilLogged("SetMessage:Read <TARGET> Card OK"));
    FakeView::State state = view_.Get();
    EXPECT_EQ(state.swipeTitle, "Write <TARGET> Card");
    EXPECT_EQ(state.swipeColour, SwipeColour::kRed);
    EXPECT_EQ(state.tracks, IsoTexts(kIsoCard));

    reader_->SetRejectWrites(true);
    SwipeWhenArmed(Armed::kWrite, kBlank);
    ASSERT_TRUE(TickUntilLogged("SetMessage:Write <TARGET> Card Error"));
    reader_->SetRejectWrites(false);
    SwipeWhenArmed(Armed::kWrite, kBlank);
    ASSERT_TRUE(TickUntilLogged("MessageBox:Copy Card Write <TARGET> OK"));
    state = view_.Get();
    EXPECT_EQ(state.message, "Write <TARGET> Card OK");
    EXPECT_EQ(state.swipeTitle, "Copy Card <Read Card>");
    EXPECT_EQ(state.swipeColour, SwipeColour::kBlue);
    EXPECT_EQ(IsoTexts(kBlank), IsoTexts(kIsoCard));

    // The next swipe is read as a new source.
    SwipeWhenArmed(Armed::kRead, kIsoOther);
    ASSERT_TRUE(TickUntil([&] { return view_.Count("SetMessage:Read <TARGET> Card OK") == 2; }));
}

// --- Compare -------------------------------------------------------------------------------

TEST_F(JobsTest, CompareJudgesEveryTargetAgainstTheFirstSource) {
    Connect();
    monitor_->LaunchCompare();
    EXPECT_EQ(view_.Get().swipeTitle, "Compares Card <Read Source>");
    SwipeWhenArmed(Armed::kRead, kIsoCard);
    ASSERT_TRUE(TickUntilLogged("SetSwipeTitle:Compares Card <Read Target>"));
    EXPECT_EQ(view_.Get().swipeColour, SwipeColour::kDarkGreen);
    EXPECT_EQ(flags_.swipeCount.load(), 2u);
    EXPECT_FALSE(view_.Logged("SetMessage:Comparess Card OK!!"));  // the source is not judged

    SwipeWhenArmed(Armed::kRead, kIsoOther);
    ASSERT_TRUE(TickUntilLogged("SetMessage:Comparess Card Error!!"));
    SwipeWhenArmed(Armed::kRead, kIsoCard);
    ASSERT_TRUE(TickUntilLogged("SetMessage:Comparess Card OK!!"));
    EXPECT_EQ(flags_.swipeCount.load(), 3u);
    EXPECT_EQ(view_.Get().tracks, IsoTexts(kIsoCard));

    // A damaged target is asked for again without a verdict.
    SwipeWhenArmed(Armed::kRead, kDamaged);
    ASSERT_TRUE(WaitFor([&] { return view_.Logged("SetMessageText:Read <Target> Error!!"); }));
    EXPECT_TRUE(view_.Get().boxes.empty());
}

TEST_F(JobsTest, CompareAsksForTheSourceAgainAfterAFailedRead) {
    Connect();
    monitor_->LaunchCompare();
    SwipeWhenArmed(Armed::kRead, kDamaged);
    ASSERT_TRUE(WaitFor([&] { return view_.Logged("SetMessageText:"); }));
    EXPECT_TRUE(view_.Logged("SetMessageText:Commucation Error"));
    EXPECT_EQ(view_.Get().boxes, std::vector<std::string>{"Read <Source> Error!!"});
    EXPECT_TRUE(view_.Get().jobButtons);
    EXPECT_EQ(flags_.swipeCount.load(), 1u);

    SwipeWhenArmed(Armed::kRead, kIsoOther);
    ASSERT_TRUE(TickUntilLogged("SetSwipeTitle:Compares Card <Read Target>"));
    EXPECT_EQ(flags_.compareSource.Load().Text(2), ";0112?");
}

TEST_F(JobsTest, CompareMatchesTargetsThatBeginWithTheSource) {
    const auto judge = [&](const Texts& source, const Texts& target) {
        CardTracks a, b;
        for (int t = 0; t < 3; ++t) {
            a.SetText(t, source[static_cast<std::size_t>(t)]);
            b.SetText(t, target[static_cast<std::size_t>(t)]);
        }
        flags_.compareSource.Store(a);
        flags_.card.Store(b);
        flags_.swipeCount = 3;
        JobFlags::Raise(flags_.compareDone);
        monitor_->Tick();
        return view_.Get().message;
    };
    Connect();
    EXPECT_EQ(judge({"A", "1234", ""}, {"A", "12345", "9"}), "Comparess Card OK!!");
    EXPECT_EQ(judge({"A", "1234", ""}, {"A", "123", ""}), "Comparess Card Error!!");
    EXPECT_EQ(judge({"A", "1234", "5"}, {"A", "1234", ""}), "Comparess Card Error!!");
    EXPECT_EQ(judge({"AB", "", ""}, {"A", "", ""}), "Comparess Card Error!!");
}

// --- Cancel --------------------------------------------------------------------------------

TEST_F(JobsTest, CancelInTheReadWaitCleansUp) {
    Connect();
    monitor_->LaunchRead();
    ASSERT_TRUE(WaitFor([&] { return reader_->ArmedFor() == Armed::kRead; }));
    view_.SetTracks({"%B12?", ";123?", "{NO DATA}"});
    format_.SetDensity(Track2Density::k210);  // the density in force is sent again
    flags_.toFileActive = 1;
    CancelPromptly();

    const FakeView::State state = view_.Get();
    EXPECT_EQ(state.tracks, (Texts{"B12", "123", ""}));
    EXPECT_EQ(state.message, "");
    EXPECT_TRUE(state.jobButtons);
    EXPECT_FALSE(state.jobRunning);
    EXPECT_TRUE(view_.Logged("CloseSwipe"));
    EXPECT_EQ(flags_.toFileActive.load(), 0);
    EXPECT_EQ(reader_->ArmedFor(), Armed::kIdle);
    EXPECT_EQ(reader_->Density(), 210);
    EXPECT_FALSE(monitor_->WorkerActive());
}

TEST_F(JobsTest, CancelInTheWriteStatusWait) {
    Connect();
    view_.SetTracks({"ABC", "", ""});
    monitor_->LaunchWrite();
    ASSERT_TRUE(WaitFor([&] { return reader_->ArmedFor() == Armed::kWrite; }));
    CancelPromptly();
    EXPECT_EQ(reader_->ArmedFor(), Armed::kIdle);
    EXPECT_FALSE(monitor_->WorkerActive());
    EXPECT_EQ(flags_.writeDone.load(), 0);
}

TEST_F(JobsTest, CancelWhileTheWorkerWaitsForItsMessageBox) {
    Connect();
    view_.HoldBoxesOpen(true);
    monitor_->LaunchRead();
    SwipeWhenArmed(Armed::kRead, kDamaged);
    ASSERT_TRUE(WaitFor([&] { return view_.Logged("MessageBox:Read Error!!"); }));
    CancelPromptly();
    EXPECT_TRUE(view_.Logged("MessageBoxStopped:Read Error!!"));
    // The stopped worker never resumes: no report, no change of the count.
    EXPECT_EQ(flags_.readDone.load(), 0);
    EXPECT_EQ(flags_.swipeCount.load(), 1u);
    monitor_->Tick();
    EXPECT_FALSE(view_.Logged("SetMessage:Read Error!!"));
}

TEST_F(JobsTest, ALaunchStopsAWorkerThatStillWaits) {
    Connect();
    monitor_->LaunchCompare();
    SwipeWhenArmed(Armed::kRead, kDamaged);  // the job buttons come back, the worker waits on
    ASSERT_TRUE(WaitFor([&] { return view_.Logged("EnableJobButtons:1"); }));
    ASSERT_TRUE(monitor_->WorkerActive());
    monitor_->LaunchRead();
    // The stopped worker may have armed the reader last, and the new one drops a block that
    // came before its own arming: swipe until the new worker has the card.
    ASSERT_TRUE(TickUntil([&] {
        if (reader_->ArmedFor() == Armed::kRead) reader_->Swipe(kIsoCard);
        return view_.Logged("SetMessage:Read Card<1> OK");
    }));
    EXPECT_EQ(flags_.compareDone.load(), 0);
    EXPECT_EQ(view_.Count("JobRunning:1"), 2);
    EXPECT_EQ(view_.Count("JobRunning:0"), 1);
    EXPECT_TRUE(view_.Get().jobRunning);
}

// --- Sequential and erase outcomes -----------------------------------------------------------

TEST_F(JobsTest, LastCardOfASequentialRunResetsTheReader) {
    Connect();
    ASSERT_EQ(commands_->StartRawRead(), kReaderOk);
    flags_.seqTotal = 10;
    flags_.swipeCount = 9;
    JobFlags::Raise(flags_.seqWriteDone);
    ASSERT_TRUE(monitor_->Tick());
    EXPECT_EQ(view_.Get().count, " 10 ");
    EXPECT_EQ(reader_->ArmedFor(), Armed::kRead);

    JobFlags::Raise(flags_.seqWriteDone);
    ASSERT_TRUE(monitor_->Tick());
    FakeView::State state = view_.Get();
    EXPECT_EQ(state.message, "Write Card <10> OK");
    EXPECT_FALSE(state.swipeShown);
    EXPECT_TRUE(state.jobButtons);
    EXPECT_EQ(reader_->ArmedFor(), Armed::kIdle);

    flags_.seqStatus = -2;
    JobFlags::Raise(flags_.seqWriteDone);
    ASSERT_TRUE(monitor_->Tick());
    EXPECT_EQ(view_.Get().boxes.back(), "Write Error2");
    EXPECT_EQ(flags_.swipeCount.load(), 10u);
}

TEST_F(JobsTest, EraseOutcomes) {
    Connect();
    flags_.swipeCount = 1;
    flags_.lastStatus = kReaderOk;
    JobFlags::Raise(flags_.eraseDone);
    monitor_->Tick();
    FakeView::State state = view_.Get();
    EXPECT_EQ(state.boxes.back(), "Erase OK");
    EXPECT_EQ(state.message, "Erase Card <1> OK!");
    EXPECT_EQ(state.count, "2");
    flags_.lastStatus = -2;
    JobFlags::Raise(flags_.eraseDone);
    monitor_->Tick();
    EXPECT_EQ(view_.Get().boxes.back(), "Erase Fail");
    EXPECT_EQ(flags_.swipeCount.load(), 2u);
}

// --- Track preparation ---------------------------------------------------------------------

TEST(PrepareWriteTrack, TakesOffSentinelsOrEmptiesWhatTheTrackCannotCarry) {
    EXPECT_EQ(PrepareWriteTrack("%ABC?", 7), "ABC");
    EXPECT_EQ(PrepareWriteTrack("ABC", 7), "ABC");
    EXPECT_EQ(PrepareWriteTrack("{NO DATA}", 7), "");
    EXPECT_EQ(PrepareWriteTrack("abc", 7), "");  // lower case lies beyond 0x5F
    EXPECT_EQ(PrepareWriteTrack("%", 7), "");
    EXPECT_EQ(PrepareWriteTrack(";1234?", 5), "1234");
    EXPECT_EQ(PrepareWriteTrack("+1234?", 5), "1234");
    EXPECT_EQ(PrepareWriteTrack("1234", 5), "1234");
    EXPECT_EQ(PrepareWriteTrack("12A4", 5), "");
    EXPECT_EQ(PrepareWriteTrack("1+34", 5), "");   // '+' only as the first character
    EXPECT_EQ(PrepareWriteTrack("%ABC?", 6), "");  // 6 bits use the narrow check
    EXPECT_EQ(PrepareWriteTrack("{Trace1 data error}", 8), "{Trace1 data error}");
    EXPECT_EQ(PrepareWriteTrack("", 8), "");
    EXPECT_EQ(PrepareWriteTrack(std::string(300, '1'), 5).size(), 255u);
}

TEST(StripSentinels, UsesTheTracksOwnSentinels) {
    const TrackSettings track1{7, kParityOdd, '%', '?'};
    const TrackSettings track2{5, kParityOdd, ';', '?'};
    const TrackSettings user{6, kParityNone, '!', '#'};
    EXPECT_EQ(StripSentinels("%B12?", track1), "B12");
    EXPECT_EQ(StripSentinels("B12", track1), "B12");
    EXPECT_EQ(StripSentinels("{NO DATA}", track1), "");
    EXPECT_EQ(StripSentinels(";123?", track2), "123");
    EXPECT_EQ(StripSentinels("+123?", track2), "123");
    EXPECT_EQ(StripSentinels("1A3", track2), "");
    EXPECT_EQ(StripSentinels("%12?", track2), "");  // not this track's start sentinel
    EXPECT_EQ(StripSentinels("!AB#", user), "AB");
    EXPECT_EQ(StripSentinels("!A~", user), "");  // an end sentinel other than the track's
    EXPECT_EQ(StripSentinels(";", track2), "");
    EXPECT_EQ(StripSentinels("", track2), "");
}

}  // namespace
}  // namespace tollwick
