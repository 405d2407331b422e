// The jobs through the window. Their view: calls from a worker thread reach the window in order, a
// worker's message box never blocks the window thread, and the window's reader commands are held
// while a worker lives. Then the whole program against the virtual reader: start-up, the monitor's
// timer, Read and Cancel, a box that holds the ticks, and a reader that may not be opened.
#include <QLineEdit>
#include <atomic>
#include <stop_token>
#include <thread>

#include "app/qt_job_view.h"
#include "app/setup_dlg.h"
#include "app_rig.h"
#include "device/virtual/deck.h"

namespace tollwick::testing {
namespace {

class JobViewTest : public ReadyWindowTest {
  protected:
    std::unique_ptr<QtJobView> view;
    void SetUp() override {
        ReadyWindowTest::SetUp();
        view = std::make_unique<QtJobView>(*window);
    }
};

// A worker's calls arrive on the window thread in order; its message boxes never block the window,
// not even when the window stops the worker.
TEST_F(JobViewTest, WorkerCallsArriveInOrderAndItsBoxesNeverBlockTheWindow) {
    view->SetSwipeLines("Please Swipe Card", "", "1");
    view->ShowSwipe(true);
    std::atomic<bool> returned{false};
    TrackTexts fetched{"x", "x", "x"};
    QString messageLine;  // as the box came up
    bool swipeShown = true;
    boxes.whileShown = [&](const QString&) {
        messageLine = Message();
        swipeShown = window->SwipeWindow().isVisible();
    };
    std::jthread worker([&](std::stop_token stop) {
        view->SetMessageLineDirectly("Checking");
        view->SetSwipeColour(SwipeColour::kDarkGreen);
        view->SetSwipeCount(" 7 ");
        view->ShowSwipe(false);
        view->SetMessageLineDirectly("Read Error");
        view->MessageBox("Read Error!!", stop);  // waits until the box is closed
        returned = true;
        view->ShowSwipe(true);
        view->ShowTracks({"%A?", "", ";1?"});
        fetched = view->FetchTracks();  // not from a worker
    });
    // Nothing happens behind the window thread's back.
    EXPECT_EQ(Message(), "Connect to Device ,Please wait...");
    ASSERT_TRUE(WaitUntil([&] { return window->SwipeWindow().isVisible() && returned; }));
    worker.join();
    QTest::qWait(10);  // what the worker posted last

    EXPECT_EQ(boxes.shown, std::vector<QString>{"Read Error!!"});
    EXPECT_EQ(messageLine, "Read Error");
    EXPECT_FALSE(swipeShown);
    EXPECT_EQ(window->SwipeWindow().FillColour(), QColor(0, 100, 0));
    EXPECT_EQ(window->SwipeWindow().Line(CSwipeDlg::kCountLine), " 7 ");
    EXPECT_EQ(TrackText(3), ";1?");
    EXPECT_EQ(Counter(1), "3");
    EXPECT_EQ(fetched, (TrackTexts{}));
    EXPECT_EQ(view->FetchTracks(), (TrackTexts{"%A?", "", ";1?"}));

    // While a box is up, the window thread stops and joins the worker, as Cancel or EXIT do.
    boxes.shown.clear();
    returned = false;
    bool joined = false;
    boxes.whileShown = [&](const QString&) {
        worker.request_stop();
        joined = WaitUntil([&] { return returned.load(); }, 2000);
        worker.join();
    };
    worker = std::jthread([&](std::stop_token stop) {
        view->MessageBox("Write Error1", stop);
        returned = true;
    });
    ASSERT_TRUE(WaitUntil([&] { return !boxes.shown.empty(); }));
    EXPECT_TRUE(joined);

    // A box the stopped worker asked for but that has not come up yet never comes.
    boxes.whileShown = nullptr;
    std::stop_source source;
    source.request_stop();
    std::thread([&] { view->MessageBox("late", source.get_token()); }).join();
    QTest::qWait(10);
    EXPECT_EQ(boxes.shown.size(), 1u);
}

TEST_F(JobViewTest, ReaderCommandsOfTheWindowAreHeldWhileAWorkerLives) {
    window->EnableControl(kBeepOn, false);  // firmware without the beeper
    window->EnableControl(kBeepOff, false);
    view->JobRunning(true);
    view->EnableJobButtons(false);
    for (int id : {kHiCo, kLoCo, kSetup, kBeepOn, kRead}) EXPECT_FALSE(Enabled(id)) << id;

    // The worker enables the job buttons while it still waits: Setup waits for its end.
    std::thread([&] { view->EnableJobButtons(true); }).join();
    QTest::qWait(10);
    EXPECT_TRUE(Offers({kRead}, {kSetup}));
    view->EnableReaderControls(true);
    EXPECT_FALSE(Enabled(kHiCo));

    view->JobRunning(false);
    EXPECT_TRUE(Offers({kHiCo, kLoCo, kSetup}, {kBeepOn, kBeepOff}));

    // A control disabled while the worker ran stays disabled after it; Setup was not touched.
    view->JobRunning(true);
    view->EnableReaderControls(false);
    view->JobRunning(false);
    EXPECT_TRUE(Offers({kSetup}, {kLoCo, kHiCo}));
}

// The first tick, which connects, runs on the first pass of the event loop; then the monitor
// ticks every 50 ms, and at once when a worker reports a card. The window's own reader commands
// wait while the worker holds the reader; the close box of the swipe window cancels like its
// Cancel button.
TEST_F(SessionTest, StartupConnectsReadShowsEachCardAndCancelEndsTheJob) {
    Start();
    EXPECT_EQ(session->NextTickMs(), 0);
    EXPECT_FALSE(Window().isEnabled());  // until the first tick has tried the reader
    ASSERT_TRUE(WaitUntil([this] { return Window().isEnabled(); }));
    EXPECT_EQ(Message(), "Device READY");
    for (int id : {kBeepOn, kBeepOff, kHiCo, kSetup, kRead, kCopy}) EXPECT_TRUE(Enabled(id)) << id;
    EXPECT_EQ(session->NextTickMs(), DesktopSession::kTickMs);

    Type(1, "OLD");
    Click(kRead);
    EXPECT_TRUE(Swipe().isVisible());
    EXPECT_EQ(Swipe().FillColour(), QColor(0, 0, 255));
    EXPECT_EQ(SwipeLine(CSwipeDlg::kFirstLine), "Please Swipe Card");
    EXPECT_EQ(SwipeLine(CSwipeDlg::kCountLine), "1");
    EXPECT_EQ(TrackText(1), "");  // emptied by the launch
    ASSERT_TRUE(WaitArmed(Armed::kRead));
    EXPECT_TRUE(Offers({kExit, kIso, kTrack1}, {kHiCo, kLoCo, kBeepOn, kSetup, kRead}));
    QTest::qWait(2 * DesktopSession::kTickMs);  // the launch's reports are long shown
    ASSERT_TRUE(reader->Swipe(kIsoCard));
    // The worker reports the card while the window thread is busy elsewhere.
    ASSERT_TRUE(WaitFor([this] { return session->Monitor().ReportsPending(); }));
    EXPECT_EQ(session->NextTickMs(), DesktopSession::kTickMs);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::MetaCall);  // the wake-up
    EXPECT_EQ(session->NextTickMs(), 0);
    ASSERT_TRUE(WaitMessage("Read Card<1> OK"));
    EXPECT_EQ(session->NextTickMs(), DesktopSession::kTickMs);
    EXPECT_EQ(TrackText(1), "%B4000001234567899^TOLLWICK/TEST CARD^2912101000000000000?");
    EXPECT_EQ(Counter(2), "39");
    EXPECT_EQ(SwipeLine(CSwipeDlg::kCountLine), " 2 ");
    EXPECT_TRUE(Swipe().isVisible());

    ASSERT_TRUE(WaitArmed(Armed::kRead));
    Swipe().close();
    ASSERT_TRUE(WaitWorkerEnded());
    EXPECT_FALSE(Swipe().isVisible());
    for (int id : {kHiCo, kLoCo, kSetup, kRead, kWrite, kBeepOn}) EXPECT_TRUE(Enabled(id)) << id;
}

// A box of the monitor holds its ticks while the operator reads it; the worker goes on, and
// every card it does meanwhile is reported after the box, each on its own, in order. (The order
// of every job's reports is the jobs' test.)
TEST_F(SessionTest, AMessageBoxHoldsTheTicksAndNoCardIsLostOrMerged) {
    StartReady();
    QStringList messages;
    QObject::connect(Window().ControlAs<QLineEdit>(kMessage), &QLineEdit::textChanged,
                     [&](const QString& text) { messages << text; });
    int changed = 0;
    reader->SetOnCardChanged([&](const CardChange&) { ++changed; });
    // While the box of the refused card is up, two more cards are done; nothing of them shows.
    boxes.whileShown = [&](const QString& text) {
        if (text != "Write Error1") return;
        boxes.whileShown = nullptr;
        const QString count = SwipeLine(CSwipeDlg::kCountLine);
        for (std::size_t card : {kBlank + 1, kBlank + 2}) {
            ASSERT_TRUE(WaitReadyToSwipe(Armed::kWrite));
            ASSERT_TRUE(reader->Swipe(card));
        }
        ASSERT_TRUE(WaitUntil([&] { return changed == 2; }));
        QTest::qWait(3 * DesktopSession::kTickMs);
        EXPECT_TRUE(messages.empty());
        EXPECT_EQ(SwipeLine(CSwipeDlg::kCountLine), count);
    };

    Type(1, "B1");
    Click(kWrite);
    reader->SetRejectNext(true);
    ASSERT_TRUE(WaitReadyToSwipe(Armed::kWrite));
    ASSERT_TRUE(reader->Swipe(kBlank));
    ASSERT_TRUE(WaitMessage("Write Card<2> OK"));
    EXPECT_EQ(messages, (QStringList{"Write Card<1> OK", "Write Card<2> OK"}));
    EXPECT_EQ(SwipeLine(CSwipeDlg::kCountLine), " 3 ");
}

// Lists the virtual reader but cannot open it, as hidraw does without the permission.
class UnopenableBackend final : public HidBackend {
  public:
    explicit UnopenableBackend(VirtualReader& reader) : listed_(reader) {}
    std::vector<HidDeviceInfo> Enumerate(uint16_t vendorId, uint16_t productId) override {
        return listed_.Enumerate(vendorId, productId);
    }
    std::unique_ptr<HidDevice> Open(const HidDeviceInfo&) override { return nullptr; }

  private:
    VirtualBackend listed_;
};

// A reader that is plugged in but may not be opened is explained once after the start-up
// connection; without a reader there is nothing to explain until one is plugged in.
TEST_F(SessionTest, AReaderThatMayNotBeOpenedIsExplainedOnce) {
    reader = std::make_unique<VirtualReader>(VirtualReader::Options{}, SampleDeck(), *clock);
    session = std::make_unique<DesktopSession>(std::make_unique<UnopenableBackend>(*reader),
                                               *profile, boxes, *clock);
    session->Start();
    ASSERT_TRUE(WaitUntil([this] { return !boxes.shown.empty(); }));
    EXPECT_EQ(boxes.shown, std::vector<QString>{DesktopSession::CannotOpenReaderText()});
    EXPECT_EQ(Message(), "Not Connect Device");
    QTest::qWait(5 * DesktopSession::kTickMs);
    EXPECT_EQ(boxes.shown.size(), 1u);

    // Nothing plugged in: nothing to explain.
    session.reset();
    boxes.shown.clear();
    Start({}, /*plugged=*/false);
    ASSERT_TRUE(WaitMessage("Not Connect Device"));
    QTest::qWait(5 * DesktopSession::kTickMs);
    EXPECT_TRUE(boxes.shown.empty());

    // Plugged in later: the message line says so, once; the start-up does not connect again.
    reader->Plug();
    ASSERT_TRUE(WaitMessage(DesktopSession::ReaderFoundText()));
    EXPECT_FALSE(session->Reader().IsConnected());
    Window().SetMessage("");
    QTest::qWait(DesktopSession::kReaderWatchMs + 200);
    EXPECT_EQ(Message(), "");
    // Out and in again: said again. Setup's OK connects it, and the watch ends.
    reader->Unplug();
    QTest::qWait(DesktopSession::kReaderWatchMs + 200);
    reader->Plug();
    ASSERT_TRUE(WaitMessage(DesktopSession::ReaderFoundText()));
    Window().SetupWindow().Open();
    Window().SetupWindow().accept();
    EXPECT_EQ(Message(), "K47 Ready");
    ASSERT_TRUE(WaitUntil([this] { return !session->WatchingForReader(); }));
    EXPECT_TRUE(boxes.shown.empty());
}

}  // namespace
}  // namespace tollwick::testing
