// The card jobs against the virtual reader: the start-up connection, every card reported once and
// in order, the ways a job is stopped or refused, verify after write, and the track preparation
// rules. The jobs' faults: jobs_fault_matrix_test.cpp.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <future>

#include "jobs_rig.h"

namespace tollwick::jobs_test {
namespace {

class JobsTest : public ::testing::Test {
  protected:
    void TearDown() override {
        // Unplugged, the reader ends the wait a worker may be in at once.
        rig_->reader.Unplug();
        EndsPromptly([this] {
            files_.reset();
            rig_.reset();
        });
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
    // Each card written, then swiped again to be read back.
    void WriteAndVerify(std::initializer_list<std::size_t> cards) {
        for (std::size_t card : cards) {
            Swipe(Armed::kWrite, card);
            Swipe(Armed::kRead, card);
        }
    }
    bool TickUntilLogged(const std::string& entry) {
        return rig_->TickUntil([&] { return rig_->view.Logged(entry); });
    }
    Texts CardTexts(std::size_t card) const { return TextsOnCard(*rig_->reader.Card(card)); }
    std::string WriteFile(const std::string& name, const std::string& content) {
        const fs::path path = dir_ / name;
        std::ofstream(path, std::ios::binary) << content;
        return path.string();
    }
    // What the operator saw since log entry `mark`: messages, boxes and, with `tracks`, the
    // track boxes.
    Lines Shown(std::size_t mark = 0, bool tracks = false) const {
        Lines shown;
        const Lines log = rig_->view.Log();
        for (auto e = log.begin() + static_cast<long>(mark); e < log.end(); ++e) {
            if (e->rfind("SetMessage:", 0) == 0 || e->rfind("MessageBox:", 0) == 0 ||
                (tracks && e->rfind("ShowTracks:", 0) == 0))
                shown.push_back(*e);
        }
        return shown;
    }
    std::size_t Mark() const { return rig_->view.Log().size(); }
    std::string TracksOf(std::size_t card) const {
        const Texts texts = CardTexts(card);
        return "ShowTracks:" + texts[0] + "|" + texts[1] + "|" + texts[2];
    }
    // Swipes `cards` into the job armed for `what` (the reader refuses the swipe at `refused`),
    // ticks until as many lines as `shown` are shown, and checks them, the track boxes included.
    void ExpectShown(Armed what, std::initializer_list<std::size_t> cards, const Lines& shown,
                     int refused = -1) {
        const auto mark = Mark();
        for (std::size_t card : cards) {
            if (refused-- == 0) rig_->reader.SetRejectNext(true);
            Swipe(what, card);
        }
        rig_->TickUntil([&] { return Shown(mark, true).size() >= shown.size(); });
        EXPECT_EQ(Shown(mark, true), shown);
    }
    std::string Last(const std::string& name) const { return rig_->view.Last(name); }

    testing::ScratchFolder folder_{"tollwick-jobs"};
    fs::path dir_ = folder_.path();
    ProfileStore profile_{dir_ / "Tollwick.ini"};
    std::unique_ptr<Rig> rig_ = std::make_unique<Rig>(profile_);
    std::unique_ptr<CardFileJobs> files_ = std::make_unique<CardFileJobs>(*rig_->monitor);
};

// --- Start-up connection --------------------------------------------------------------------

// The monitor's start-up connection (ConnectAtStartup, and the window's part): a reader left in
// Lo-Co is switched to Hi-Co; the window's messages and controls; the port that answered.
TEST_F(JobsTest, StartupConnectsOnTheStoredPortOrScansOrSaysThereIsNoReader) {
    ASSERT_TRUE(profile_.Write("PORTNUM", "3"));
    ASSERT_EQ(rig_->commands.ConnectScan(), 1);
    ASSERT_EQ(rig_->commands.SetLoCo(), CommandStatus::kOk);
    ASSERT_TRUE(rig_->Tick());
    EXPECT_TRUE(rig_->reader.HighCoercivity());
    // Device READY on the port, and once set up.
    EXPECT_EQ(rig_->view.Log(),
              (Lines{"SetMessage:Device READY", "SetMessage:Device READY", "SelectHiCo",
                     "SetConnectionLine:COM3 9600,8,N,1  VK3300 EVU1.07", "EnableBeeper:1",
                     "EnableWindow:1"}));
    ASSERT_TRUE(rig_->Tick());  // only the first tick connects
    EXPECT_EQ(rig_->view.Log().size(), 6u);
    // The password watcher's exit request ends the window.
    rig_->flags.exitRequested = 1;
    EXPECT_FALSE(rig_->Tick());
    EXPECT_FALSE(rig_->Tick());
    EXPECT_EQ(rig_->view.Count("EndAsOk"), 1);

    // Nothing answers on port 7: the scan's port is stored, unless the run keeps the stored one
    // (the virtual reader's). Firmware EVU1.06 has no beeper commands.
    for (const bool stores : {true, false}) {
        ASSERT_TRUE(profile_.Write("PORTNUM", "7"));
        Rig scan(profile_, VirtualReader::Options{.version = "EVU1.06"});
        scan.format.SetDensity(Track2Density::k210);
        scan.monitor->SetStoresAnsweringPort(stores);
        scan.tap.RefuseLookups(2);
        ASSERT_TRUE(scan.Tick());
        EXPECT_EQ(scan.view.Log(),
                  (Lines{"SetMessage:Device READY", "SelectHiCo",
                         "SetConnectionLine:COM1 9600,8,N,1  VK3300 EVU1.06", "EnableWindow:1"}));
        EXPECT_EQ(profile_.Read("PORTNUM"), stores ? "1" : "7");
        EXPECT_EQ(scan.reader.Density(), 210);
        EXPECT_FALSE(scan.view.Logged("EnableBeeper:1"));
    }

    // No reader: only Setup is left, and the window waits for the start-up password.
    ASSERT_TRUE(profile_.Write("PORTNUM", ""));
    Rig none(profile_);
    none.reader.Unplug();
    none.monitor->SetStartupPasswordPending(true);
    ASSERT_TRUE(none.Tick());
    EXPECT_EQ(none.view.Log(),
              (Lines{"SetMessage:Not Connect Device", "EnableJobButtons:0",
                     "EnableReaderControls:0", "EnableSetup:1", "SetConnectionLine:"}));
    EXPECT_EQ(profile_.Read("PORTNUM"), "");
}

// --- Every card reported, once and in order -------------------------------------------------

// Cards come faster than the monitor ticks: none of them merges into another's report. Each
// report of a batch shows the card the reader waits to write next.
TEST_F(JobsTest, CardsDoneBetweenTwoTicksAreEachReportedInOrder) {
    Connect();
    // Read: a good card, a failed one (only its bad track is marked; the message line keeps
    // naming the last good card), an empty one (no failure).
    rig_->monitor->LaunchRead();
    for (std::size_t card : {kIsoCard, kDamagedCard, kBlank}) Swipe(Armed::kRead, card);
    ASSERT_TRUE(TickUntilLogged("SetMessage:Read Card<2> OK"));
    EXPECT_EQ(rig_->view.Entries("SetMessage:"),
              (Lines{"SetMessage:Read Card<1> OK", "SetMessage:Read Card<1> OK",
                     "SetMessage:Read Card<2> OK"}));
    EXPECT_EQ(rig_->view.Entries("MessageBox:"), Lines{"MessageBox:Read Error!!"});
    EXPECT_EQ(rig_->view.Entries("ShowTracks:"),
              (Lines{"ShowTracks:||", TracksOf(kIsoCard),
                     "ShowTracks:%B4000001234567899^DAMAGED/CARD^2912101?|{Trace2 data error}|"
                     ";0112345678?",
                     "ShowTracks:{NO DATA}|{NO DATA}|{NO DATA}"}));
    EXPECT_EQ(Last("SetSwipeCount"), " 3 ");

    // Write: a refused card, then two good ones.
    rig_->view.SetTracks({"B1", "", ""});
    rig_->monitor->LaunchWrite();
    ExpectShown(Armed::kWrite, {kBlank, kBlank, kBlank + 1},
                {"MessageBox:Write Error1", "SetMessage:Write Card<1> OK", "ShowTracks:B1||",
                 "SetMessage:Write Card<2> OK", "ShowTracks:B1||"},
                /*refused=*/0);
    EXPECT_EQ(Last("SetSwipeCount"), " 3 ");

    // Erase: three cards, three counts. The tracks are taken each time the reader is armed: a
    // change while it waits for the first card applies from the second on.
    rig_->monitor->LaunchErase(kEraseTrack1);
    ASSERT_TRUE(WaitFor([&] { return rig_->reader.ArmedFor() == Armed::kErase; }));
    rig_->flags.eraseMask = kEraseTrack3;
    ExpectShown(
        Armed::kErase, {kIsoCard, kIsoOther, kDamagedCard},
        {"MessageBox:Erase OK", "SetMessage:Erase Card <1> OK!", "MessageBox:Erase OK",
         "SetMessage:Erase Card <2> OK!", "MessageBox:Erase OK", "SetMessage:Erase Card <3> OK!"});
    EXPECT_TRUE(rig_->reader.Card(kIsoCard)->tracks[0].empty());
    EXPECT_FALSE(rig_->reader.Card(kIsoOther)->tracks[0].empty());
    EXPECT_TRUE(rig_->reader.Card(kIsoOther)->tracks[2].empty());
    EXPECT_EQ(Last("SetSwipeCount"), "4");

    // From File: three cards, the second refused once; after the last card the boxes keep
    // showing it.
    ASSERT_TRUE(files_->LaunchFromFile(WriteFile("three.txt", "%AAA?\n\n;222?\n\n%CCC?\n\n")));
    ExpectShown(Armed::kWrite, {kBlank, kBlank + 1, kBlank + 1, kBlank + 2},
                {"SetMessage:Write Card<0> OK", "ShowTracks:AAA||", "SetMessage:Write Card<1> OK",
                 "ShowTracks:|222|", "MessageBox:Write Error1", "SetMessage:Write Card<2> OK",
                 "ShowTracks:CCC||", "SetMessage:Write Card<3> OK", "ShowTracks:CCC||",
                 "MessageBox:End of File!!!"},
                /*refused=*/1);
    EXPECT_EQ(Last("ShowSwipe"), "0");
    EXPECT_EQ(CardTexts(kBlank)[0], "%AAA?");
    EXPECT_EQ(CardTexts(kBlank + 1)[1], ";222?");
    EXPECT_EQ(CardTexts(kBlank + 2)[0], "%CCC?");

    // Sequential write: three cards, the second refused once.
    ASSERT_TRUE(
        LaunchSeqWrite(*rig_->monitor, *PlanSeqWrite({"0000", "3", "1", 0}, {"S", "", ""}).run));
    ExpectShown(
        Armed::kWrite, {kIsoCard, kIsoOther, kIsoOther, kDamagedCard},
        {"SetMessage:Write Card <0> OK", "ShowTracks:S0000||", "SetMessage:Write Card <1> OK",
         "ShowTracks:S0001||", "MessageBox:Write Error2", "SetMessage:Write Card <2> OK",
         "ShowTracks:S0002||", "SetMessage:Write Card <3> OK"},
        /*refused=*/1);
    EXPECT_EQ(CardTexts(kIsoCard)[0], "%S0000?");
    EXPECT_EQ(CardTexts(kIsoOther)[0], "%S0001?");
    EXPECT_EQ(CardTexts(kDamagedCard)[0], "%S0002?");
    EXPECT_EQ(rig_->reader.ArmedFor(), Armed::kIdle);  // the run is over: reset

    // A run of no cards ends at once.
    const int changed = rig_->cardsChanged.load();
    ASSERT_TRUE(
        LaunchSeqWrite(*rig_->monitor, *PlanSeqWrite({"1", "0", "1", 0}, {"B", "", ""}).run));
    ExpectShown(Armed::kWrite, {}, {"SetMessage:Write Card <0> OK"});
    EXPECT_EQ(Last("ShowSwipe"), "0");
    EXPECT_EQ(Last("EnableJobButtons"), "1");
    EXPECT_EQ(rig_->reader.ArmedFor(), Armed::kIdle);
    EXPECT_EQ(rig_->cardsChanged.load(), changed);
}

TEST_F(JobsTest, CopyAndCompareReportsKeepTheirOrder) {
    Connect();
    // A target matches when each of its tracks begins with the source's.
    const auto judge = [&](const Texts& source, const Texts& target) {
        CardReport report = CardReport::Of(ReportKind::kCompare, CardStatus::kDone);
        for (int t = 0; t < 3; ++t) {
            report.source.SetText(t, source[static_cast<std::size_t>(t)]);
            report.card.SetText(t, target[static_cast<std::size_t>(t)]);
        }
        report.stage = CompareStage::kTargetRead;
        rig_->reports.Push(report);
        rig_->Tick();
        return Last("SetMessage");
    };
    EXPECT_EQ(judge({"A", "1234", ""}, {"A", "12345", "9"}), "Comparess Card OK!!");
    EXPECT_EQ(judge({"A", "1234", ""}, {"A", "123", ""}), "Comparess Card Error!!");
    EXPECT_EQ(judge({"A", "1234", ""}, {"A", "1235", ""}), "Comparess Card Error!!");
    EXPECT_EQ(judge({"A", "1234", "5"}, {"A", "1234", ""}), "Comparess Card Error!!");
    EXPECT_EQ(judge({"AB", "", ""}, {"A", "", ""}), "Comparess Card Error!!");

    // Copy: source, a refused target, the target, the next source: read, write, write, read.
    rig_->monitor->LaunchCopy();
    EXPECT_EQ(Last("SetSwipeTitle"), "Copy Card <Read Card>");
    ExpectShown(Armed::kRead, {kIsoCard}, {TracksOf(kIsoCard), "SetMessage:Read <TARGET> Card OK"});
    ExpectShown(Armed::kWrite, {kBlank, kBlank},
                {"SetMessage:Write <TARGET> Card Error", "SetMessage:Write <TARGET> Card OK",
                 "MessageBox:Copy Card Write <TARGET> OK"},
                /*refused=*/0);
    EXPECT_EQ(Last("SetSwipeTitle"), "Copy Card <Read Card>");
    EXPECT_EQ(Last("SetSwipeColour"), "blue");
    EXPECT_EQ(rig_->view.Tracks(), CardTexts(kIsoCard));
    EXPECT_EQ(CardTexts(kBlank), CardTexts(kIsoCard));
    ExpectShown(Armed::kRead, {kIsoOther},
                {TracksOf(kIsoOther), "SetMessage:Read <TARGET> Card OK"});
    EXPECT_EQ(Last("SetSwipeTitle"), "Write <TARGET> Card");
    EXPECT_EQ(Last("SetSwipeColour"), "red");

    // Compare: the source is not judged; every later card is a target judged against it.
    rig_->monitor->LaunchCompare();
    EXPECT_EQ(Last("SetSwipeTitle"), "Compares Card <Read Source>");
    ExpectShown(Armed::kRead, {kIsoCard, kIsoCard, kIsoOther},
                {TracksOf(kIsoCard), TracksOf(kIsoCard), "SetMessage:Comparess Card OK!!",
                 TracksOf(kIsoOther), "SetMessage:Comparess Card Error!!"});
    EXPECT_EQ(Last("SetSwipeTitle"), "Compares Card <Read Target>");
    EXPECT_EQ(Last("SetSwipeColour"), "dark green");
    EXPECT_EQ(rig_->flags.swipeCount.load(), 3u);
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
        const auto shown = Shown().size();
        rig_->Tick();
        EXPECT_EQ(Shown().size(), shown);
    });
    rig_->monitor->LaunchRead();
    EXPECT_TRUE(ticked);
    EXPECT_EQ(rig_->view.Entries("SetMessage:"),
              (Lines{"SetMessage:Erase Card <1> OK!", "SetMessage:Erase Card <2> OK!"}));
    EXPECT_EQ(Last("SetSwipeTitle"), "Read Card");
}

// --- Stopping and refusing ------------------------------------------------------------------

TEST_F(JobsTest, CancelStopsTheWorkerWhereverItWaitsAndCleansUp) {
    Connect();
    rig_->monitor->LaunchRead();
    ASSERT_TRUE(WaitFor([&] { return rig_->reader.ArmedFor() == Armed::kRead; }));
    rig_->view.SetTracks({"%B12?", ";123?", "{NO DATA}"});
    ASSERT_EQ(rig_->reader.Density(), 210);  // as the reader starts; 75 is in force
    rig_->flags.toFileActive = 1;
    CancelPromptly();
    EXPECT_EQ(rig_->view.Tracks(), (Texts{"B12", "123", ""}));
    EXPECT_EQ(Last("SetMessage"), "");
    EXPECT_EQ(Last("EnableJobButtons"), "1");
    EXPECT_EQ(Last("ShowSwipe"), "0");
    EXPECT_EQ(rig_->flags.toFileActive.load(), 0);
    EXPECT_EQ(rig_->reader.ArmedFor(), Armed::kIdle);
    EXPECT_EQ(rig_->reader.Density(), 75);  // the density in force is sent again
    EXPECT_FALSE(rig_->monitor->WorkerActive());

    // Cancel while the worker waits for its message box: the stopped worker never resumes.
    rig_->view.OnBox(nullptr, /*holdWorkerBoxes=*/true);
    rig_->monitor->LaunchRead();
    Swipe(Armed::kRead, kDamagedCard);
    ASSERT_TRUE(WaitFor([&] { return rig_->view.Logged("MessageBox:Read Error!!"); }));
    CancelPromptly();
    EXPECT_TRUE(rig_->view.Logged("MessageBoxStopped:Read Error!!"));
    EXPECT_FALSE(rig_->monitor->ReportsPending());
    rig_->Tick();
    EXPECT_FALSE(rig_->view.Logged("SetMessage:Read Error!!"));
}

// A Write with nothing but markers to write is refused. Between erase cards the job buttons are
// enabled: a refused Write leaves the erase job going on, still counting; a launch that starts
// stops the job and disarms the reader; so does closing the window.
TEST_F(JobsTest, ARefusedLaunchLeavesTheJobAndAStoppedJobLeavesTheReaderDisarmed) {
    Connect();
    for (const Texts& boxes : {Texts{}, Texts{"{NO DATA}", "{NO DATA}", "{Trace3 data error}"}}) {
        rig_->view.SetTracks(boxes);
        rig_->monitor->LaunchWrite();
        EXPECT_EQ(Last("MessageBox"), "Please Input Data");
        EXPECT_EQ(Last("ShowSwipe"), "0");
        EXPECT_EQ(Last("EnableJobButtons"), "1");
        EXPECT_FALSE(rig_->monitor->WorkerActive());
    }
    EXPECT_FALSE(rig_->view.Logged("JobRunning:1"));

    rig_->view.SetTracks({});
    ASSERT_TRUE(rig_->monitor->LaunchErase(kEraseTrack2));
    Swipe(Armed::kErase, kIsoCard);
    ASSERT_TRUE(TickUntilLogged("SetMessage:Erase Card <1> OK!"));
    ASSERT_TRUE(WaitFor([&] { return rig_->reader.ArmedFor() == Armed::kErase; }));
    rig_->monitor->LaunchWrite();
    EXPECT_EQ(rig_->view.Count("MessageBox:Please Input Data"), 3);
    EXPECT_TRUE(rig_->monitor->WorkerActive());
    EXPECT_EQ(rig_->reader.ArmedFor(), Armed::kErase);
    EXPECT_EQ(Last("SetSwipeTitle"), "Erase Card");
    Swipe(Armed::kErase, kIsoOther);
    ASSERT_TRUE(TickUntilLogged("SetMessage:Erase Card <2> OK!"));

    // From File stops the erase job; its file has no card, so it ends without arming.
    ASSERT_TRUE(WaitFor([&] { return rig_->reader.ArmedFor() == Armed::kErase; }));
    ASSERT_TRUE(files_->LaunchFromFile(WriteFile("empty.txt", "Error\nError\nError\n")));
    ASSERT_TRUE(TickUntilLogged("MessageBox:End of File!!"));
    EXPECT_EQ(rig_->reader.ArmedFor(), Armed::kIdle);
    // Its file stays open until the next From File, which closes it even when the new file
    // cannot be opened.
    EXPECT_TRUE(files_->FromFileOpen());
    EXPECT_FALSE(files_->LaunchFromFile((dir_ / "missing.txt").string()));
    EXPECT_EQ(Last("MessageBox"), "Open file fail!!");
    EXPECT_FALSE(files_->FromFileOpen());

    ASSERT_TRUE(rig_->monitor->LaunchErase(kEraseTrack2));
    ASSERT_TRUE(WaitFor([&] { return rig_->reader.ArmedFor() == Armed::kErase; }));
    rig_->monitor->StopForClose();
    EXPECT_EQ(rig_->reader.ArmedFor(), Armed::kIdle);
    EXPECT_FALSE(rig_->monitor->WorkerActive());
}

// --- Verify after write ----------------------------------------------------------------------

// Each card written is read back before it is reported; only a card that reads back as written
// is counted, one that does not is named with its tracks and its data goes onto the next card.
TEST_F(JobsTest, VerifyAfterWriteCountsOnlyCardsThatReadBackAsWritten) {
    Connect();
    rig_->flags.verifyAfterWrite = true;
    rig_->view.SetTracks({"b123", "1234567890", "{NO DATA}"});
    rig_->monitor->LaunchWrite();
    EXPECT_EQ(rig_->view.Tracks(), (Texts{"b123", "1234567890", ""}));  // markers emptied
    WriteAndVerify({kBlank});
    ASSERT_TRUE(TickUntilLogged("SetMessage:Write Card<1> OK, verified"));
    EXPECT_EQ(rig_->view.Tracks(), (Texts{"B123", "1234567890", ""}));  // as written
    EXPECT_EQ(Last("SetSwipeCount"), " 2 ");
    WriteAndVerify({kBackwardsCard});  // track 3 was not written: not compared
    ASSERT_TRUE(TickUntilLogged("SetMessage:Write Card<2> not verified: tracks 1 and 2 differ"));
    EXPECT_EQ(Last("SetSwipeCount"), " 2 ");
    // The box says per track what differs, in the inspector's words, and where to look.
    EXPECT_EQ(rig_->view.Last("MessageBox"),
              "Card<2> did not read back as written (tracks 1 and 2 differ: track 1: the card was "
              "swiped backwards, and read that way it holds what was written; track 2: the card "
              "was swiped backwards, and read that way it holds what was written). The Inspector "
              "(Ctrl+I) shows its bits. Put it aside: the same data goes onto the next card.");

    // Cancel while the reader waits for the card again: the reader is disarmed. The empty track
    // 3 left the card's track 3 alone.
    const std::string isoTrack3 = CardTexts(kIsoCard)[2];
    Swipe(Armed::kWrite, kIsoCard);
    ASSERT_TRUE(WaitFor([&] { return rig_->reader.ArmedFor() == Armed::kRead; }));
    CancelPromptly();
    EXPECT_EQ(CardTexts(kIsoCard), (Texts{"%B123?", ";1234567890?", isoTrack3}));
    EXPECT_EQ(rig_->reader.ArmedFor(), Armed::kIdle);

    // From File, Sequential write and Copy write the data of a card that does not verify onto
    // the next card, as they do after a refused one, and a run still writes its number of good
    // cards.
    ASSERT_TRUE(files_->LaunchFromFile(WriteFile("one.txt", "%AAA?\n;1234567890?\n\n")));
    WriteAndVerify({kWeakSpotCard, kBlank});
    ASSERT_TRUE(TickUntilLogged("MessageBox:End of File!!!"));
    // The card cancelled while read back is reported as not read back, and the message line
    // emptied.
    EXPECT_EQ(rig_->view.Entries("SetMessage:"),
              (Lines{"SetMessage:Write Card<1> OK, verified",
                     "SetMessage:Write Card<2> not verified: tracks 1 and 2 differ",
                     "SetMessage:Write Card<2> not verified: not read back",
                     "SetMessage:", "SetMessage:Write Card<0> OK",
                     "SetMessage:Write Card<1> not verified: track 2 differs",
                     "SetMessage:Write Card<1> OK, verified"}));
    EXPECT_EQ(CardTexts(kBlank), (Texts{"%AAA?", ";1234567890?", "{NO DATA}"}));

    SeqWriteRun run = *PlanSeqWrite({"0007", "1", "1", 1}, {"", "12345678", ""}).run;
    ASSERT_TRUE(LaunchSeqWrite(*rig_->monitor, run));
    WriteAndVerify({kWeakSpotCard, kBlank + 1});
    ASSERT_TRUE(TickUntilLogged("SetMessage:Write Card <1> OK, verified"));
    EXPECT_TRUE(rig_->view.Logged("SetMessage:Write Card <1> not verified: track 2 differs"));
    // The number the weak card failed goes onto the next card; one good card ends the run.
    EXPECT_EQ(CardTexts(kBlank + 1)[1], ";123456780007?");
    EXPECT_EQ(rig_->reader.ArmedFor(), Armed::kIdle);

    // Copy asks for another target with the same data.
    rig_->monitor->LaunchCopy();
    Swipe(Armed::kRead, kIsoCard);
    WriteAndVerify({kWeakSpotCard});
    ASSERT_TRUE(TickUntilLogged("SetMessage:Write <TARGET> Card not verified: track 2 differs"));
    EXPECT_TRUE(WaitFor([&] { return rig_->reader.ArmedFor() == Armed::kWrite; }));
    EXPECT_EQ(Last("SetSwipeTitle"), "Write <TARGET> Card");
    CancelPromptly();
}

// --- Track preparation ---------------------------------------------------------------------

TEST(TrackPreparation, SentinelsTakenOffAndWhatTheTrackCannotCarryEmptied) {
    // '{' lies beyond 0x5F; '+' only as the first character; 6 bits use the narrow check.
    const std::tuple<const char*, int, const char*> prepares[] = {
        {"%ABC?", 7, "ABC"},   {"ABC", 7, "ABC"},     {"{NO DATA}", 7, ""}, {"%", 7, ""},
        {";1234?", 5, "1234"}, {"+1234?", 5, "1234"}, {"1234", 5, "1234"},  {"12A4", 5, ""},
        {"1+34", 5, ""},       {"%ABC?", 6, ""}};
    for (const auto& [text, bpc, prepared] : prepares)
        EXPECT_EQ(PrepareWriteTrack(text, bpc), prepared) << text << " " << bpc;
    EXPECT_EQ(PrepareWriteTrack("{Trace1 data error}", 8), "{Trace1 data error}");  // raw bytes
    EXPECT_EQ(PrepareWriteTrack(std::string(300, '1'), 5).size(), 255u);

    // Cancel strips with the track's own sentinels (not another track's or another end).
    const TrackSettings track1{7, kParityOdd, '%', '?'};
    const TrackSettings track2{5, kParityOdd, ';', '?'};
    const TrackSettings user{6, kParityNone, '!', '#'};
    const std::tuple<const char*, TrackSettings, const char*> strips[] = {
        {"%B12?", track1, "B12"}, {"B12", track1, "B12"},   {"{NO DATA}", track1, ""},
        {";123?", track2, "123"}, {"+123?", track2, "123"}, {"1A3", track2, ""},
        {"%12?", track2, ""},     {"!AB#", user, "AB"},     {"!A~", user, ""}};
    for (const auto& [text, track, stripped] : strips)
        EXPECT_EQ(StripSentinels(text, track), stripped) << text;
}

}  // namespace
}  // namespace tollwick::jobs_test
