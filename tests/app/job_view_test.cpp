// The jobs' view of the window: calls from a worker thread reach the window in order, a worker's
// message box never blocks the window thread, and the window's reader commands are held while a
// worker lives.
#include <atomic>
#include <stop_token>
#include <thread>

#include "app/qt_job_view.h"
#include "app_rig.h"

namespace tollwick::testing {
namespace {

class JobViewTest : public MainWindowTest {
  protected:
    std::unique_ptr<QtJobView> view;
    void SetUp() override {
        MainWindowTest::SetUp();
        Open();
        view = std::make_unique<QtJobView>(*window);
        window->EnableWindow(true);
    }
};

TEST_F(JobViewTest, WorkerCallsArriveOnTheWindowThreadInOrder) {
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
}

TEST_F(JobViewTest, StoppingAWorkerThatWaitsForItsBoxNeverBlocksTheWindow) {
    // While the box is up, the window thread stops and joins the worker, as Cancel or EXIT do.
    std::jthread worker;
    std::atomic<bool> returned{false};
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
    EXPECT_TRUE(Enabled(kRead));
    EXPECT_FALSE(Enabled(kSetup));
    view->EnableReaderControls(true);
    EXPECT_FALSE(Enabled(kHiCo));

    view->JobRunning(false);
    for (int id : {kHiCo, kLoCo, kSetup}) EXPECT_TRUE(Enabled(id)) << id;
    EXPECT_FALSE(Enabled(kBeepOn));
    EXPECT_FALSE(Enabled(kBeepOff));

    // A control disabled while the worker ran stays disabled after it; Setup was not touched.
    view->JobRunning(true);
    view->EnableReaderControls(false);
    view->JobRunning(false);
    EXPECT_FALSE(Enabled(kLoCo));
    EXPECT_FALSE(Enabled(kHiCo));
    EXPECT_TRUE(Enabled(kSetup));
}

}  // namespace
}  // namespace tollwick::testing
