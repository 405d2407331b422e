// The whole program against the virtual reader: start-up, the monitor's timer, Read and Cancel,
// a box that holds the ticks, and the window's own reader commands while a job runs.
#include <QLineEdit>

#include "app_rig.h"
#include "device/virtual/deck.h"

namespace tollwick::testing {
namespace {

using namespace mainid;
// The window's control ids, not the reader's coercivity values.
using mainid::kHiCo;
using mainid::kLoCo;
using Armed = VirtualReader::Armed;

using namespace sample;

// The first tick, which connects, runs on the first pass of the event loop; then the monitor
// ticks every 50 ms, and at once when a worker reports a card.
TEST_F(SessionTest, StartupConnectsAndAReportedCardWakesTheMonitor) {
    Start();
    EXPECT_EQ(session->NextTickMs(), 0);
    EXPECT_FALSE(Window().isEnabled());  // until the first tick has tried the reader
    ASSERT_TRUE(WaitUntil([this] { return Window().isEnabled(); }));
    EXPECT_EQ(Message(), "Device READY");
    EXPECT_EQ(ConnectionLine(), "COM1 9600,8,N,1  VK3300 EVU1.07");
    for (int id : {kBeepOn, kBeepOff, kHiCo, kSetup, kRead, kCopy}) EXPECT_TRUE(Enabled(id)) << id;
    EXPECT_EQ(session->NextTickMs(), DesktopSession::kTickMs);

    Click(kRead);
    ASSERT_TRUE(WaitArmed(Armed::kRead));
    QTest::qWait(2 * DesktopSession::kTickMs);  // the launch's reports are long shown
    ASSERT_TRUE(reader->Swipe(kIsoCard));
    // The worker reports the card while the window thread is busy elsewhere.
    ASSERT_TRUE(WaitFor([this] { return session->Monitor().ReportsPending(); }));
    EXPECT_EQ(session->NextTickMs(), DesktopSession::kTickMs);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::MetaCall);  // the wake-up
    EXPECT_EQ(session->NextTickMs(), 0);
    ASSERT_TRUE(WaitMessage("Read Card<1> OK"));
    EXPECT_EQ(session->NextTickMs(), DesktopSession::kTickMs);
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
    reader->SetOnCardChanged([&](std::size_t) { ++changed; });
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

// The window's own reader commands wait while the worker holds the reader; the close box of the
// swipe window cancels like its Cancel button.
TEST_F(SessionTest, ReadShowsEachCardAndCancelEndsTheJob) {
    StartReady();
    Type(1, "OLD");
    Click(kRead);
    EXPECT_TRUE(Swipe().isVisible());
    EXPECT_EQ(Swipe().windowTitle(), "Read Card");
    EXPECT_EQ(Swipe().FillColour(), QColor(0, 0, 255));
    EXPECT_EQ(SwipeLine(CSwipeDlg::kFirstLine), "Please Swipe Card");
    EXPECT_EQ(SwipeLine(CSwipeDlg::kCountLine), "1");
    EXPECT_EQ(TrackText(1), "");  // emptied by the launch
    ASSERT_TRUE(WaitArmed(Armed::kRead));
    for (int id : {kHiCo, kLoCo, kBeepOn, kSetup, kRead}) EXPECT_FALSE(Enabled(id)) << id;
    EXPECT_TRUE(Enabled(kExit) && Enabled(kIso) && Enabled(kTrack1));

    ASSERT_TRUE(reader->Swipe(kIsoCard));
    ASSERT_TRUE(WaitMessage("Read Card<1> OK"));
    EXPECT_EQ(TrackText(1), "%B4000001234567899^TOLLWICK/TEST CARD^2912101000000000000?");
    EXPECT_EQ(TrackText(2), ";4000001234567899=29121010000000000000?");
    EXPECT_EQ(Counter(2), "39");
    EXPECT_EQ(SwipeLine(CSwipeDlg::kCountLine), " 2 ");
    EXPECT_TRUE(Swipe().isVisible());

    ASSERT_TRUE(WaitArmed(Armed::kRead));
    Swipe().close();
    ASSERT_TRUE(WaitWorkerEnded());
    EXPECT_FALSE(Swipe().isVisible());
    for (int id : {kHiCo, kLoCo, kSetup, kRead, kWrite, kBeepOn}) EXPECT_TRUE(Enabled(id)) << id;
}

}  // namespace
}  // namespace tollwick::testing
