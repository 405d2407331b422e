// Erase Select and the erase job through the window: the track mask, the swipe window, and the
// ways the job ends. (The job's course and its faults are tested with the jobs.)
#include <QCheckBox>

#include "app/erase_select_dlg.h"
#include "session_test_support.h"

namespace tollwick::testing {
namespace {

using namespace mainid;
using Armed = VirtualReader::Armed;

constexpr std::size_t kIsoCard = 3;

class EraseTest : public SessionTest {
  protected:
    CEraseSelectDlg& Select() { return Window().EraseSelectWindow(); }
    QCheckBox* Box(int track) { return qobject_cast<QCheckBox*>(Select().Control(1007 + track)); }
    void Tick(int track) { QTest::mouseClick(Box(track), Qt::LeftButton, {}, QPoint(4, 4)); }
    void PressOk() { QTest::mouseClick(Select().Control(1), Qt::LeftButton); }
    void PressCancel() { QTest::mouseClick(Select().Control(2), Qt::LeftButton); }
    void CancelSwipe() { QTest::mouseClick(Swipe().Control(2), Qt::LeftButton); }

    // The masks of the erase commands the reader received since the last call.
    std::vector<int> EraseMasks() {
        std::vector<int> masks;
        for (const auto& report : reader->TakeOutputReports()) {
            for (std::size_t i = 1; i + 2 < report.size(); ++i) {
                if (report[i] == 0x1B && report[i + 1] == 'c') masks.push_back(report[i + 2]);
            }
        }
        return masks;
    }
    bool CardErased(std::size_t index, std::array<bool, 3> tracks) {
        const auto card = reader->Card(index);
        for (std::size_t t = 0; t < 3; ++t) {
            if (card->tracks[t].empty() != tracks[t]) return false;
        }
        return true;
    }
};

TEST_F(EraseTest, OpeningClearsTheTracksAndHoldsTheJobButtons) {
    StartReady();
    Track(1)->setFocus();
    QTest::keyClicks(Track(1), "ABC");
    Click(kErase);
    EXPECT_TRUE(Select().isVisible());
    EXPECT_EQ(Select().windowTitle(), "Erase Select");
    EXPECT_EQ(TrackText(1), "");
    for (int id : {kRead, kWrite, kErase, kCopy}) EXPECT_FALSE(Enabled(id)) << id;
    EXPECT_TRUE(Enabled(kSetup));
    EXPECT_TRUE(Window().isEnabled());  // only the job buttons wait
    for (int t = 1; t <= 3; ++t) {
        EXPECT_EQ(Box(t)->text(), QStringLiteral("Track%1").arg(t));
        EXPECT_FALSE(Box(t)->isChecked());
    }

    // Nothing ticked, or ticked and unticked again: OK starts nothing.
    Tick(1);
    Tick(1);
    EXPECT_EQ(Select().EraseMask(), 0);
    PressOk();
    EXPECT_EQ(boxes.shown, std::vector<QString>{"Please Select Erase Trace Number"});
    EXPECT_TRUE(Select().isVisible());
    EXPECT_FALSE(session->Monitor().WorkerActive());

    // Cancel resets the reader and gives the job buttons back.
    PressCancel();
    EXPECT_FALSE(Select().isVisible());
    for (int id : {kRead, kWrite, kErase}) EXPECT_TRUE(Enabled(id)) << id;
}

TEST_F(EraseTest, MaskOfTheTickedTracks) {
    StartReady();
    Click(kErase);
    Tick(1);
    Tick(3);
    EXPECT_EQ(Select().EraseMask(), 5);
    reader->TakeOutputReports();
    PressOk();
    EXPECT_FALSE(Select().isVisible());
    ASSERT_TRUE(WaitArmed(Armed::kErase));
    EXPECT_EQ(EraseMasks(), std::vector<int>{5});
    CancelSwipe();

    // Shown again: every box unticked and the mask back at 0.
    Click(kErase);
    for (int t = 1; t <= 3; ++t) EXPECT_FALSE(Box(t)->isChecked());
    EXPECT_EQ(Select().EraseMask(), 0);
    Tick(2);
    PressOk();
    ASSERT_TRUE(WaitArmed(Armed::kErase));
    EXPECT_EQ(EraseMasks(), std::vector<int>{2});
}

TEST_F(EraseTest, EveryCardIsErasedAndCounted) {
    StartReady();
    Click(kErase);
    AtToggle(Box(2));  // as a screen reader ticks it
    Tick(3);
    PressOk();
    EXPECT_TRUE(Swipe().isVisible());
    EXPECT_EQ(Swipe().windowTitle(), "Erase Card");
    EXPECT_EQ(Swipe().FillColour(), QColor(255, 0, 0));
    EXPECT_EQ(Swipe().Line(CSwipeDlg::kFirstLine), "Please Swipe Card");
    EXPECT_EQ(Swipe().Line(CSwipeDlg::kSecondLine), "Swipe Counter  -->");
    EXPECT_EQ(Swipe().Line(CSwipeDlg::kCountLine), "1");
    EXPECT_FALSE(Enabled(kSetup));  // no reconnection while the worker holds the reader

    ASSERT_TRUE(WaitReadyToSwipe(Armed::kErase));
    ASSERT_TRUE(reader->Swipe(kIsoCard));
    ASSERT_TRUE(WaitMessage("Erase Card <1> OK!"));
    EXPECT_EQ(boxes.shown, std::vector<QString>{"Erase OK"});
    EXPECT_EQ(Swipe().Line(CSwipeDlg::kCountLine), "2");
    EXPECT_TRUE(Swipe().isVisible());
    EXPECT_TRUE(CardErased(kIsoCard, {false, true, true}));
    EXPECT_TRUE(Enabled(kRead));
    EXPECT_FALSE(Enabled(kSetup));

    ASSERT_TRUE(WaitArmed(Armed::kErase));
    CancelSwipe();
    EXPECT_FALSE(session->Monitor().WorkerActive());
    EXPECT_EQ(reader->ArmedFor(), Armed::kIdle);
    EXPECT_FALSE(Swipe().isVisible());
    EXPECT_TRUE(Enabled(kSetup));
}

TEST_F(EraseTest, ANewJobOrEraseSelectCancelStopsTheWaitingWorker) {
    StartReady();
    Click(kErase);
    Tick(1);
    PressOk();
    ASSERT_TRUE(WaitReadyToSwipe(Armed::kErase));
    ASSERT_TRUE(reader->Swipe(kIsoCard));
    ASSERT_TRUE(WaitMessage("Erase Card <1> OK!"));
    ASSERT_TRUE(WaitArmed(Armed::kErase));

    // Erase Select's Cancel ends the worker that waits for the next card.
    Click(kErase);
    PressCancel();
    EXPECT_FALSE(session->Monitor().WorkerActive());
    EXPECT_EQ(reader->ArmedFor(), Armed::kIdle);
    EXPECT_TRUE(Enabled(kRead));

    Click(kErase);
    Tick(3);
    PressOk();
    ASSERT_TRUE(WaitReadyToSwipe(Armed::kErase));
    ASSERT_TRUE(reader->Swipe(kIsoCard));
    ASSERT_TRUE(WaitUntil([this] { return boxes.shown.size() == 2; }));
    EXPECT_EQ(Message(), "Erase Card <1> OK!");  // a new job counts from 1
    ASSERT_TRUE(WaitArmed(Armed::kErase));
    // Read, with the job buttons enabled between cards, takes over the reader.
    Click(kRead);
    ASSERT_TRUE(WaitArmed(Armed::kRead));
    EXPECT_EQ(Swipe().windowTitle(), "Read Card");
    QTest::qWait(100);
    EXPECT_EQ(reader->ArmedFor(), Armed::kRead);
}

}  // namespace
}  // namespace tollwick::testing
