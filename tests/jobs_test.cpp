// The card jobs against the virtual reader: the start-up connection, each job's course, every
// card reported once and in order (also while a box of the monitor holds its ticks), the ways a
// job is stopped, and the track preparation rules. The jobs' faults: jobs_fault_matrix_test.cpp.
#include <gtest/gtest.h>

#include <unistd.h>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>

#include "jobs/card_file_jobs.h"
#include "jobs/erase_worker.h"
#include "jobs/seq_write.h"
#include "jobs_rig.h"

namespace tollwick::jobs_test {
namespace {

namespace fs = std::filesystem;

class JobsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string tmpl = (fs::temp_directory_path() / "tollwick-jobs-XXXXXX").string();
        ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
        dir_ = tmpl;
        profile_ = std::make_unique<ProfileStore>(dir_ / "Tollwick.ini");
        rig_ = std::make_unique<Rig>(*profile_);
    }
    void TearDown() override {
        // Unplugged, the reader ends the wait a worker may be in at once.
        rig_->reader.Unplug();
        EndsPromptly([this] {
            files_.reset();
            rig_.reset();
        });
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

    void Connect() { ASSERT_TRUE(rig_->ConnectQuickly()); }
    void CancelPromptly() {
        EndsPromptly([this] { rig_->monitor->CancelJob(); });
    }
    void Swipe(Armed what, std::size_t card) { ASSERT_TRUE(rig_->SwipeWhenListening(what, card)); }
    bool TickUntilLogged(const std::string& entry) { return rig_->TickUntilLogged(entry); }
    Texts CardTexts(std::size_t card) const { return TextsOnCard(*rig_->reader.Card(card)); }
    CardFileJobs& Files() {
        if (!files_) files_ = std::make_unique<CardFileJobs>(*rig_->monitor);
        return *files_;
    }
    std::string WriteFile(const std::string& name, const std::string& content) {
        const fs::path path = dir_ / name;
        std::ofstream(path, std::ios::binary) << content;
        return path.string();
    }
    // The monitor's messages (data exchange), in order.
    std::vector<std::string> Messages() const { return rig_->view.Entries("SetMessage:"); }

    fs::path dir_;
    std::unique_ptr<ProfileStore> profile_;
    std::unique_ptr<Rig> rig_;
    std::unique_ptr<CardFileJobs> files_;
};

// --- Start-up connection --------------------------------------------------------------------

TEST_F(JobsTest, StartupOnTheStoredPortSwitchesToHiCoAndShowsTheVersion) {
    ASSERT_TRUE(profile_->Write("PORTNUM", "3"));
    // The reader was left in Lo-Co at 210 bits per inch.
    ASSERT_EQ(rig_->commands.ConnectScan(), 1);
    ASSERT_EQ(rig_->commands.SetLoCo(), kReaderOk);

    ASSERT_TRUE(rig_->Tick());
    FakeView::State state = rig_->view.Get();
    EXPECT_EQ(rig_->view.Count("SetMessage:Device READY"), 2);  // on the port, and once set up
    EXPECT_EQ(state.connectionLine, "COM3 9600,8,N,1  VK3300 EVU1.07");
    EXPECT_TRUE(state.controls[control::kBeepOn]);
    EXPECT_TRUE(state.controls[control::kBeepOff]);
    EXPECT_TRUE(rig_->view.Logged("SelectHiCo"));
    EXPECT_TRUE(rig_->reader.HighCoercivity());
    EXPECT_EQ(rig_->reader.Density(), 75);
    EXPECT_TRUE(state.windowEnabled);
    EXPECT_EQ(profile_->Read("PORTNUM"), "3");

    // Only the first tick connects.
    ASSERT_TRUE(rig_->Tick());
    EXPECT_EQ(rig_->view.Count("SetMessage:Device READY"), 2);
}

TEST_F(JobsTest, StartupScansWhenThePortDoesNotAnswer) {
    // Port 7 is stored but nothing answers there (both vendor look-ups fail); the scan finds the
    // reader and its port replaces the stored one.
    ASSERT_TRUE(profile_->Write("PORTNUM", "7"));
    rig_->format.SetDensity(Track2Density::k210);
    rig_->tap.RefuseLookups(2);
    ASSERT_TRUE(rig_->Tick());
    EXPECT_EQ(profile_->Read("PORTNUM"), "1");
    EXPECT_EQ(rig_->view.Get().connectionLine, "COM1 9600,8,N,1  VK3300 EVU1.07");
    EXPECT_EQ(rig_->view.Count("SetMessage:Device READY"), 1);
    EXPECT_EQ(rig_->reader.Density(), 210);
}

TEST_F(JobsTest, StartupWithoutAReaderLeavesOnlySetupUsable) {
    rig_->reader.Unplug();
    rig_->monitor->SetStartupPasswordPending(true);
    ASSERT_TRUE(rig_->Tick());
    FakeView::State state = rig_->view.Get();
    EXPECT_EQ(state.message, "Not Connect Device");
    EXPECT_FALSE(state.jobButtons);
    for (int id : {1003, 1004, 1015, 1016, 1017, 1045, 1046}) {
        EXPECT_TRUE(rig_->view.Logged("EnableControl:" + std::to_string(id) + ":0")) << id;
    }
    EXPECT_TRUE(state.controls[control::kSetup]);
    EXPECT_FALSE(state.controls.contains(control::kBeepOn));
    EXPECT_TRUE(rig_->view.Logged("SetConnectionLine:"));
    // While the start-up password is still asked for, the window stays disabled.
    EXPECT_FALSE(rig_->view.Logged("EnableWindow:1"));
    EXPECT_EQ(profile_->Read("PORTNUM", "none"), "none");
}

TEST(StartupConnection, BeeperOnlyForFirmwareNewerThanEvu106) {
    const auto beep = [](const char* version) {
        char buffer[20] = {};
        std::snprintf(buffer, sizeof buffer, "%s", version);
        return VersionSupportsBeep(buffer);
    };
    EXPECT_TRUE(beep("EVU1.07"));
    EXPECT_TRUE(beep("EVU2"));
    EXPECT_FALSE(beep("EVU1.06"));
    EXPECT_FALSE(beep("EVU1.05"));
    EXPECT_FALSE(beep("EVU1"));   // compared with its terminating zero
    EXPECT_TRUE(beep("\xC0VU"));  // bytes compare unsigned
}

TEST_F(JobsTest, ExitRequestEndsTheWindowAndStopsTicking) {
    Connect();
    rig_->flags.exitRequested = 1;
    EXPECT_FALSE(rig_->Tick());
    EXPECT_FALSE(rig_->Tick());
    EXPECT_EQ(rig_->view.Count("EndAsOk"), 1);
}

// --- Each job's course ---------------------------------------------------------------------

TEST_F(JobsTest, ReadShowsEachGoodCardAndDoesNotCountAFailedOne) {
    Connect();
    rig_->monitor->LaunchRead();
    FakeView::State state = rig_->view.Get();
    EXPECT_EQ(state.swipeTitle, "Read Card");
    EXPECT_EQ(state.swipeColour, SwipeColour::kBlue);
    EXPECT_EQ(state.line2, "Swipe Counter  -->");
    EXPECT_EQ(state.count, "1");
    EXPECT_TRUE(state.jobRunning);
    EXPECT_FALSE(state.jobButtons);

    Swipe(Armed::kRead, kIsoCard);
    ASSERT_TRUE(TickUntilLogged("SetMessage:Read Card<1> OK"));
    state = rig_->view.Get();
    EXPECT_EQ(state.tracks, CardTexts(kIsoCard));
    EXPECT_EQ(state.tracks[1], ";4000001234567899=29121010000000000000?");
    EXPECT_EQ(state.count, " 2 ");
    EXPECT_TRUE(state.swipeShown);

    Swipe(Armed::kRead, kWeakCard);
    ASSERT_TRUE(TickUntilLogged("SetMessage:Read Error!!"));
    state = rig_->view.Get();
    EXPECT_EQ(state.boxes, std::vector<std::string>{"Read Error!!"});
    EXPECT_EQ(state.tracks[0], "%B4000001234567899^DAMAGED/CARD^2912101?");
    EXPECT_EQ(state.tracks[1], "{Trace2 data error}");
    EXPECT_EQ(state.count, " 2 ");

    // An empty card is no failure.
    Swipe(Armed::kRead, kBlank);
    ASSERT_TRUE(TickUntilLogged("SetMessage:Read Card<2> OK"));
    EXPECT_EQ(rig_->view.Get().tracks, (Texts{"{NO DATA}", "{NO DATA}", "{NO DATA}"}));
    EXPECT_EQ(rig_->view.Get().count, " 3 ");
}

TEST_F(JobsTest, WriteWithNothingButMarkersIsRefused) {
    Connect();
    for (const Texts& boxes : {Texts{}, Texts{"{NO DATA}", "{NO DATA}", "{Trace3 data error}"}}) {
        rig_->view.SetTracks(boxes);
        rig_->monitor->LaunchWrite();
        const FakeView::State state = rig_->view.Get();
        EXPECT_EQ(state.boxes.back(), "Please Input Data");
        EXPECT_FALSE(state.swipeShown);
        EXPECT_TRUE(state.jobButtons);
        EXPECT_FALSE(rig_->monitor->WorkerActive());
    }
    EXPECT_EQ(rig_->view.Count("MessageBox:Please Input Data"), 2);
    EXPECT_FALSE(rig_->view.Logged("JobRunning:1"));
}

TEST_F(JobsTest, CompareMatchesTargetsThatBeginWithTheSource) {
    const auto judge = [&](const Texts& source, const Texts& target) {
        CardReport report = CardReport::Of(ReportKind::kCompare, 0);
        for (int t = 0; t < 3; ++t) {
            report.source.SetText(t, source[static_cast<std::size_t>(t)]);
            report.card.SetText(t, target[static_cast<std::size_t>(t)]);
        }
        report.stage = 3;
        rig_->flags.reports.Push(report);
        rig_->Tick();
        return rig_->view.Get().message;
    };
    Connect();
    EXPECT_EQ(judge({"A", "1234", ""}, {"A", "12345", "9"}), "Comparess Card OK!!");
    EXPECT_EQ(judge({"A", "1234", ""}, {"A", "123", ""}), "Comparess Card Error!!");
    EXPECT_EQ(judge({"A", "1234", "5"}, {"A", "1234", ""}), "Comparess Card Error!!");
    EXPECT_EQ(judge({"AB", "", ""}, {"A", "", ""}), "Comparess Card Error!!");
}

TEST_F(JobsTest, FromFileShowsTheCardTheReaderWaitsToWrite) {
    Connect();
    const std::string path = WriteFile("two.txt", "%AAA?\n\n;222?\n\n");
    ASSERT_TRUE(Files().LaunchFromFile(path));
    ASSERT_TRUE(TickUntilLogged("SetMessage:Write Card<0> OK"));
    EXPECT_EQ(rig_->view.Get().tracks, (Texts{"AAA", "", ""}));
    EXPECT_EQ(rig_->view.Get().count, " 1 ");
    Swipe(Armed::kWrite, kBlank);
    ASSERT_TRUE(TickUntilLogged("SetMessage:Write Card<1> OK"));
    EXPECT_EQ(rig_->view.Get().tracks, (Texts{"", "222", ""}));
    Swipe(Armed::kWrite, kBlank + 1);
    ASSERT_TRUE(TickUntilLogged("MessageBox:End of File!!!"));
    // After the last card the boxes keep showing it.
    EXPECT_EQ(Messages().back(), "SetMessage:Write Card<2> OK");
    EXPECT_EQ(rig_->view.Get().tracks, (Texts{"", "222", ""}));
    EXPECT_FALSE(rig_->view.Get().swipeShown);
    EXPECT_EQ(CardTexts(kBlank)[0], "%AAA?");
    EXPECT_EQ(CardTexts(kBlank + 1)[1], ";222?");
}

// --- Every card reported, once and in order -------------------------------------------------

// Cards come faster than the monitor ticks: none of them merges into another's report.
TEST_F(JobsTest, CardsDoneBetweenTwoTicksAreEachReportedInOrder) {
    Connect();
    // Read: a good card, a failed one, a good one.
    rig_->monitor->LaunchRead();
    Swipe(Armed::kRead, kIsoCard);
    Swipe(Armed::kRead, kWeakCard);
    Swipe(Armed::kRead, kIsoOther);
    ASSERT_TRUE(TickUntilLogged("SetMessage:Read Card<2> OK"));
    EXPECT_EQ(Messages(),
              (std::vector<std::string>{"SetMessage:Read Card<1> OK", "SetMessage:Read Error!!",
                                        "SetMessage:Read Card<2> OK"}));
    EXPECT_EQ(rig_->view.Get().tracks, CardTexts(kIsoOther));
    EXPECT_EQ(rig_->view.Get().count, " 3 ");

    // Write: a refused card, then two good ones.
    rig_->view.SetTracks({"B1", "", ""});
    rig_->monitor->LaunchWrite();
    rig_->reader.SetRejectNext(true);
    for (std::size_t card : {kBlank, kBlank, kBlank + 1}) Swipe(Armed::kWrite, card);
    const auto before = Messages().size();
    ASSERT_TRUE(TickUntilLogged("SetMessage:Write Card<2> OK"));
    std::vector<std::string> writes = Messages();
    writes.erase(writes.begin(), writes.begin() + static_cast<long>(before));
    EXPECT_EQ(writes, (std::vector<std::string>{"SetMessage:Write Card<1> OK",
                                                "SetMessage:Write Card<2> OK"}));
    EXPECT_EQ(rig_->view.Count("MessageBox:Write Error1"), 1);
    EXPECT_EQ(rig_->view.Get().count, " 3 ");

    // Erase: three cards, three counts.
    rig_->monitor->LaunchErase(kEraseTrack1);
    for (std::size_t card : {kIsoCard, kIsoOther, kWeakCard}) Swipe(Armed::kErase, card);
    ASSERT_TRUE(TickUntilLogged("SetMessage:Erase Card <3> OK!"));
    EXPECT_EQ(rig_->view.Count("MessageBox:Erase OK"), 3);
    for (int n = 1; n <= 3; ++n) {
        EXPECT_TRUE(rig_->view.Logged("SetMessage:Erase Card <" + std::to_string(n) + "> OK!"));
    }
    EXPECT_EQ(rig_->view.Get().count, "4");
}

TEST_F(JobsTest, CopyAndCompareReportsKeepTheirOrder) {
    Connect();
    // Copy: source, a refused target, the target, the next source: read, write, write, read.
    rig_->monitor->LaunchCopy();
    EXPECT_EQ(rig_->view.Get().swipeTitle, "Copy Card <Read Card>");
    Swipe(Armed::kRead, kIsoCard);
    rig_->reader.SetRejectNext(true);
    Swipe(Armed::kWrite, kBlank);
    Swipe(Armed::kWrite, kBlank);
    ASSERT_TRUE(TickUntilLogged("MessageBox:Copy Card Write <TARGET> OK"));
    FakeView::State state = rig_->view.Get();
    EXPECT_EQ(state.swipeTitle, "Copy Card <Read Card>");
    EXPECT_EQ(state.swipeColour, SwipeColour::kBlue);
    EXPECT_EQ(state.tracks, CardTexts(kIsoCard));
    EXPECT_EQ(CardTexts(kBlank), CardTexts(kIsoCard));
    Swipe(Armed::kRead, kIsoOther);
    ASSERT_TRUE(
        rig_->TickUntil([&] { return rig_->view.Count("SetMessage:Read <TARGET> Card OK") == 2; }));
    EXPECT_EQ(Messages(),
              (std::vector<std::string>{
                  "SetMessage:Read <TARGET> Card OK", "SetMessage:Write <TARGET> Card Error",
                  "SetMessage:Write <TARGET> Card OK", "SetMessage:Read <TARGET> Card OK"}));
    state = rig_->view.Get();
    EXPECT_EQ(state.swipeTitle, "Write <TARGET> Card");
    EXPECT_EQ(state.swipeColour, SwipeColour::kRed);
    EXPECT_EQ(state.tracks, CardTexts(kIsoOther));

    // Compare: the source is not judged; every later card is a target judged against it.
    rig_->monitor->LaunchCompare();
    EXPECT_EQ(rig_->view.Get().swipeTitle, "Compares Card <Read Source>");
    for (std::size_t card : {kIsoCard, kIsoCard, kIsoOther}) Swipe(Armed::kRead, card);
    const auto before = Messages().size();
    ASSERT_TRUE(TickUntilLogged("SetMessage:Comparess Card Error!!"));
    std::vector<std::string> verdicts = Messages();
    verdicts.erase(verdicts.begin(), verdicts.begin() + static_cast<long>(before));
    EXPECT_EQ(verdicts, (std::vector<std::string>{"SetMessage:Comparess Card OK!!",
                                                  "SetMessage:Comparess Card Error!!"}));
    EXPECT_EQ(rig_->view.Get().swipeTitle, "Compares Card <Read Target>");
    EXPECT_EQ(rig_->view.Get().swipeColour, SwipeColour::kDarkGreen);
    EXPECT_EQ(rig_->flags.swipeCount.load(), 3u);
}

TEST_F(JobsTest, BatchCardsDoneBetweenTwoTicksAreEachReportedInOrder) {
    Connect();
    // From File: three cards, the second refused once.
    const std::string path = WriteFile("three.txt", "%AAA?\n\n%BBB?\n\n%CCC?\n\n");
    ASSERT_TRUE(Files().LaunchFromFile(path));
    Swipe(Armed::kWrite, kBlank);
    rig_->reader.SetRejectNext(true);
    for (std::size_t card : {kBlank + 1, kBlank + 1, kBlank + 2}) Swipe(Armed::kWrite, card);
    ASSERT_TRUE(TickUntilLogged("MessageBox:End of File!!!"));
    EXPECT_EQ(Messages(), (std::vector<std::string>{
                              "SetMessage:Write Card<0> OK", "SetMessage:Write Card<1> OK",
                              "SetMessage:Write Card<2> OK", "SetMessage:Write Card<3> OK"}));
    EXPECT_EQ(rig_->view.Get().boxes, (std::vector<std::string>{"Write Error1", "End of File!!!"}));
    EXPECT_EQ(CardTexts(kBlank + 1)[0], "%BBB?");
    EXPECT_EQ(CardTexts(kBlank + 2)[0], "%CCC?");

    // Sequential write: three cards, the second refused once; each report shows the card that
    // comes next.
    SeqWriteRun run = *PlanSeqWrite({"0000", "3", "1", 0}, {"S", "", ""}).run;
    ASSERT_TRUE(LaunchSeqWrite(*rig_->monitor, run));
    Swipe(Armed::kWrite, kIsoCard);
    rig_->reader.SetRejectNext(true);
    for (std::size_t card : {kIsoOther, kIsoOther, kWeakCard}) Swipe(Armed::kWrite, card);
    const auto before = rig_->view.Log().size();
    ASSERT_TRUE(TickUntilLogged("SetMessage:Write Card <3> OK"));
    std::vector<std::string> shown;
    const auto log = rig_->view.Log();
    for (auto e = log.begin() + static_cast<long>(before); e != log.end(); ++e) {
        if (e->rfind("SetMessage:", 0) == 0 || e->rfind("ShowTracks:", 0) == 0 ||
            e->rfind("MessageBox:", 0) == 0)
            shown.push_back(*e);
    }
    EXPECT_EQ(shown,
              (std::vector<std::string>{"SetMessage:Write Card <0> OK", "ShowTracks:S0000||",
                                        "SetMessage:Write Card <1> OK", "ShowTracks:S0001||",
                                        "MessageBox:Write Error2", "SetMessage:Write Card <2> OK",
                                        "ShowTracks:S0002||", "SetMessage:Write Card <3> OK"}));
    EXPECT_EQ(CardTexts(kIsoCard)[0], "%S0000?");
    EXPECT_EQ(CardTexts(kIsoOther)[0], "%S0001?");
    EXPECT_EQ(CardTexts(kWeakCard)[0], "%S0002?");
    EXPECT_EQ(rig_->reader.ArmedFor(), Armed::kIdle);  // the run is over: reset
}

// A box of the monitor holds its ticks; the worker goes on meanwhile, and every card it does
// then is reported after the box, with its own status and tracks.
TEST_F(JobsTest, AMonitorBoxHoldsTheTicksButLosesNoCard) {
    Connect();
    int heldCards = 0;
    bool holdErase = false;
    rig_->view.OnBox([&](const std::string& text) {
        if (text != "Write Error1" && !(text == "Erase OK" && std::exchange(holdErase, false)))
            return;
        const Armed armed = text == "Write Error1" ? Armed::kWrite : Armed::kErase;
        const int changed = rig_->cardsChanged.load();
        for (std::size_t card : {kBlank + 1, kBlank + 2}) {
            EXPECT_TRUE(rig_->SwipeWhenListening(armed, card));
        }
        heldCards += 2;
        EXPECT_TRUE(WaitFor([&] { return rig_->cardsChanged.load() == changed + 2; }));
    });

    rig_->view.SetTracks({"W", "", ""});
    rig_->monitor->LaunchWrite();
    rig_->reader.SetRejectNext(true);
    Swipe(Armed::kWrite, kBlank);
    ASSERT_TRUE(TickUntilLogged("SetMessage:Write Card<2> OK"));
    rig_->TickQuietly(20ms);
    EXPECT_EQ(Messages(), (std::vector<std::string>{"SetMessage:Write Card<1> OK",
                                                    "SetMessage:Write Card<2> OK"}));
    EXPECT_EQ(rig_->view.Get().count, " 3 ");

    holdErase = true;
    rig_->monitor->LaunchErase(kEraseTrack1);
    Swipe(Armed::kErase, kIsoCard);
    ASSERT_TRUE(TickUntilLogged("SetMessage:Erase Card <3> OK!"));
    EXPECT_EQ(rig_->view.Count("MessageBox:Erase OK"), 3);
    EXPECT_EQ(rig_->view.Get().count, "4");
    EXPECT_EQ(heldCards, 4);
}

// A launch shows what the job it stops had reported; a tick of the timer while one of those
// boxes is up does nothing, so that no two branches ever overlap.
TEST_F(JobsTest, ATickWhileALaunchShowsLeftReportsWaits) {
    Connect();
    ASSERT_TRUE(rig_->monitor->LaunchErase(kEraseTrack1));
    for (std::size_t card : {kIsoCard, kIsoOther}) Swipe(Armed::kErase, card);
    ASSERT_TRUE(WaitFor([&] { return rig_->cardsChanged.load() == 2; }));
    bool ticked = false;
    rig_->view.OnBox([&](const std::string& text) {
        if (text != "Erase OK" || std::exchange(ticked, true)) return;
        const auto shown = Messages().size();
        rig_->Tick();
        EXPECT_EQ(Messages().size(), shown);
    });
    rig_->monitor->LaunchRead();
    EXPECT_TRUE(ticked);
    EXPECT_EQ(Messages(), (std::vector<std::string>{"SetMessage:Erase Card <1> OK!",
                                                    "SetMessage:Erase Card <2> OK!"}));
    EXPECT_EQ(rig_->view.Get().swipeTitle, "Read Card");
}

// --- Stopping and refusing ------------------------------------------------------------------

TEST_F(JobsTest, CancelInTheReadWaitCleansUp) {
    Connect();
    rig_->monitor->LaunchRead();
    ASSERT_TRUE(WaitFor([&] { return rig_->reader.ArmedFor() == Armed::kRead; }));
    rig_->view.SetTracks({"%B12?", ";123?", "{NO DATA}"});
    rig_->format.SetDensity(Track2Density::k210);  // the density in force is sent again
    rig_->flags.toFileActive = 1;
    CancelPromptly();

    const FakeView::State state = rig_->view.Get();
    EXPECT_EQ(state.tracks, (Texts{"B12", "123", ""}));
    EXPECT_EQ(state.message, "");
    EXPECT_TRUE(state.jobButtons);
    EXPECT_FALSE(state.jobRunning);
    EXPECT_TRUE(rig_->view.Logged("CloseSwipe"));
    EXPECT_EQ(rig_->flags.toFileActive.load(), 0);
    EXPECT_EQ(rig_->reader.ArmedFor(), Armed::kIdle);
    EXPECT_EQ(rig_->reader.Density(), 210);
    EXPECT_FALSE(rig_->monitor->WorkerActive());
}

TEST_F(JobsTest, CancelWhileTheWorkerWaitsForItsMessageBox) {
    Connect();
    rig_->view.HoldWorkerBoxes(true);
    rig_->monitor->LaunchRead();
    Swipe(Armed::kRead, kWeakCard);
    ASSERT_TRUE(WaitFor([&] { return rig_->view.Logged("MessageBox:Read Error!!"); }));
    CancelPromptly();
    EXPECT_TRUE(rig_->view.Logged("MessageBoxStopped:Read Error!!"));
    // The stopped worker never resumes: no report.
    EXPECT_FALSE(rig_->monitor->ReportsPending());
    rig_->Tick();
    EXPECT_FALSE(rig_->view.Logged("SetMessage:Read Error!!"));
}

// Between erase cards the job buttons are enabled. A Write with nothing to write is refused and
// the erase job goes on, still counting; a launch that starts stops the job and disarms the
// reader; so does closing the window.
TEST_F(JobsTest, ARefusedLaunchLeavesTheJobAndAStoppedJobLeavesTheReaderDisarmed) {
    Connect();
    ASSERT_TRUE(rig_->monitor->LaunchErase(kEraseTrack2));
    Swipe(Armed::kErase, kIsoCard);
    ASSERT_TRUE(TickUntilLogged("SetMessage:Erase Card <1> OK!"));
    ASSERT_TRUE(WaitFor([&] { return rig_->reader.ArmedFor() == Armed::kErase; }));
    rig_->monitor->LaunchWrite();  // the boxes are empty
    EXPECT_EQ(rig_->view.Get().boxes.back(), "Please Input Data");
    EXPECT_TRUE(rig_->monitor->WorkerActive());
    EXPECT_EQ(rig_->reader.ArmedFor(), Armed::kErase);
    EXPECT_EQ(rig_->view.Get().swipeTitle, "Erase Card");
    Swipe(Armed::kErase, kIsoOther);
    ASSERT_TRUE(TickUntilLogged("SetMessage:Erase Card <2> OK!"));

    // From File stops the erase job; its file has no card, so it ends without arming.
    ASSERT_TRUE(WaitFor([&] { return rig_->reader.ArmedFor() == Armed::kErase; }));
    ASSERT_TRUE(Files().LaunchFromFile(WriteFile("empty.txt", "Error\nError\nError\n")));
    ASSERT_TRUE(TickUntilLogged("MessageBox:End of File!!"));
    EXPECT_EQ(rig_->reader.ArmedFor(), Armed::kIdle);

    ASSERT_TRUE(rig_->monitor->LaunchErase(kEraseTrack2));
    ASSERT_TRUE(WaitFor([&] { return rig_->reader.ArmedFor() == Armed::kErase; }));
    rig_->monitor->StopForClose();
    EXPECT_EQ(rig_->reader.ArmedFor(), Armed::kIdle);
    EXPECT_FALSE(rig_->monitor->WorkerActive());
}

TEST_F(JobsTest, SequentialRunOfNoCardsEndsAtOnce) {
    Connect();
    SeqWriteRun run = *PlanSeqWrite({"1", "0", "1", 0}, {"B", "", ""}).run;
    ASSERT_TRUE(LaunchSeqWrite(*rig_->monitor, run));
    ASSERT_TRUE(TickUntilLogged("SetMessage:Write Card <0> OK"));
    const FakeView::State state = rig_->view.Get();
    EXPECT_FALSE(state.swipeShown);
    EXPECT_TRUE(state.jobButtons);
    EXPECT_EQ(rig_->reader.ArmedFor(), Armed::kIdle);
    EXPECT_EQ(rig_->cardsChanged.load(), 0);
}

// --- Verify after write ----------------------------------------------------------------------

constexpr std::size_t kBackwardsCard = 10;  // written well, swiped backwards
constexpr std::size_t kWeakSpotCard = 11;   // bit 42 of track 2 always reads wrong

// Each card written is read back before it is reported; only a card that reads back as written
// is counted, one that does not is named with its tracks and its data goes onto the next card.
TEST_F(JobsTest, VerifyAfterWriteCountsOnlyCardsThatReadBackAsWritten) {
    Connect();
    rig_->flags.verifyAfterWrite = true;
    rig_->view.SetTracks({"b123", "1234567890", "{NO DATA}"});
    rig_->monitor->LaunchWrite();
    EXPECT_EQ(rig_->view.Get().tracks, (Texts{"b123", "1234567890", ""}));  // markers emptied
    const auto writeAndVerify = [&](std::size_t card) {
        Swipe(Armed::kWrite, card);
        Swipe(Armed::kRead, card);
    };
    writeAndVerify(kBlank);
    ASSERT_TRUE(TickUntilLogged("SetMessage:Write Card<1> OK, verified"));
    EXPECT_EQ(rig_->view.Get().tracks, (Texts{"B123", "1234567890", ""}));  // as written
    EXPECT_EQ(rig_->view.Get().count, " 2 ");
    EXPECT_TRUE(rig_->view.Logged("SetSwipeLine1:Swipe again to verify"));
    writeAndVerify(kBackwardsCard);  // track 3 was not written: not compared
    ASSERT_TRUE(TickUntilLogged("SetMessage:Write Card<2> not verified: tracks 1 and 2 differ"));
    EXPECT_EQ(rig_->view.Get().count, " 2 ");
    EXPECT_EQ(rig_->view.Count("MessageBox:Card<2> did not read back as written (tracks 1 and 2 "
                               "differ). Put it aside: the same data goes onto the next card."),
              1);

    // Cancel while the reader waits for the card again: the written card is reported as not
    // read back, and the reader is disarmed. The empty track 3 left the card's track 3 alone.
    const std::string isoTrack3 = CardTexts(kIsoCard)[2];
    Swipe(Armed::kWrite, kIsoCard);
    ASSERT_TRUE(WaitFor([&] { return rig_->reader.ArmedFor() == Armed::kRead; }));
    CancelPromptly();
    EXPECT_EQ(CardTexts(kIsoCard), (Texts{"%B123?", ";1234567890?", isoTrack3}));
    EXPECT_TRUE(rig_->view.Logged("SetMessage:Write Card<2> not verified: not read back"));
    EXPECT_EQ(rig_->reader.ArmedFor(), Armed::kIdle);
    EXPECT_FALSE(rig_->monitor->WorkerActive());
    EXPECT_EQ(rig_->view.Get().message, "");
}

// From File, Sequential write and Copy write the data of a card that does not verify onto the
// next card, as they do after a refused one, and a run still writes its number of good cards.
TEST_F(JobsTest, EveryWritingJobWritesTheDataAgainAfterAFailedVerify) {
    Connect();
    rig_->flags.verifyAfterWrite = true;
    ASSERT_TRUE(Files().LaunchFromFile(WriteFile("one.txt", "%AAA?\n;1234567890?\n\n")));
    for (std::size_t card : {kWeakSpotCard, kBlank}) {
        Swipe(Armed::kWrite, card);
        Swipe(Armed::kRead, card);
    }
    ASSERT_TRUE(TickUntilLogged("MessageBox:End of File!!!"));
    EXPECT_EQ(Messages(),
              (std::vector<std::string>{"SetMessage:Write Card<0> OK",
                                        "SetMessage:Write Card<1> not verified: track 2 differs",
                                        "SetMessage:Write Card<1> OK, verified"}));
    EXPECT_EQ(CardTexts(kBlank), (Texts{"%AAA?", ";1234567890?", "{NO DATA}"}));

    SeqWriteRun run = *PlanSeqWrite({"0007", "1", "1", 1}, {"", "12345678", ""}).run;
    ASSERT_TRUE(LaunchSeqWrite(*rig_->monitor, run));
    for (std::size_t card : {kWeakSpotCard, kBlank + 1}) {
        Swipe(Armed::kWrite, card);
        Swipe(Armed::kRead, card);
    }
    ASSERT_TRUE(TickUntilLogged("SetMessage:Write Card <1> OK, verified"));
    EXPECT_TRUE(rig_->view.Logged("SetMessage:Write Card <1> not verified: track 2 differs"));
    // The number the weak card failed goes onto the next card; one good card ends the run.
    EXPECT_EQ(CardTexts(kBlank + 1)[1], ";123456780007?");
    EXPECT_EQ(rig_->reader.ArmedFor(), Armed::kIdle);

    // Copy asks for another target with the same data.
    rig_->monitor->LaunchCopy();
    Swipe(Armed::kRead, kIsoCard);
    Swipe(Armed::kWrite, kWeakSpotCard);
    Swipe(Armed::kRead, kWeakSpotCard);
    ASSERT_TRUE(TickUntilLogged("SetMessage:Write <TARGET> Card not verified: track 2 differs"));
    EXPECT_TRUE(WaitFor([&] { return rig_->reader.ArmedFor() == Armed::kWrite; }));
    EXPECT_EQ(rig_->view.Get().swipeTitle, "Write <TARGET> Card");
    CancelPromptly();
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
}  // namespace tollwick::jobs_test
