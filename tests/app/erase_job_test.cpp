// Erase Select and the erase job through the window: the track mask, the swipe window, and the
// ways the job ends. (The job's course and its faults are tested with the jobs.)
#include <QCheckBox>

#include "app/erase_select_dlg.h"
#include "app/seq_write_dlg.h"
#include "app_rig.h"
#include "jobs/erase_worker.h"

namespace tollwick::testing {
namespace {

class EraseTest : public SessionTest {
  protected:
    CEraseSelectDlg& Select() { return Window().EraseSelectWindow(); }
    QCheckBox* Box(int track) { return qobject_cast<QCheckBox*>(Select().Control(1007 + track)); }
    void Tick(int track) { QTest::mouseClick(Box(track), Qt::LeftButton, {}, QPoint(4, 4)); }
    void PressOk() { QTest::mouseClick(Select().Control(1), Qt::LeftButton); }
    void PressCancel() { QTest::mouseClick(Select().Control(2), Qt::LeftButton); }
    // Which tracks of card `index` are blank.
    std::array<bool, 3> Blank(std::size_t index) {
        const auto card = reader->Card(index);
        return {card->tracks[0].empty(), card->tracks[1].empty(), card->tracks[2].empty()};
    }
};

// Opening Erase Select empties the tracks and holds the job buttons; nothing ticked starts
// nothing, Cancel gives the buttons back, and OK erases the ticked tracks of every card.
TEST_F(EraseTest, SelectHoldsTheButtonsAndOkErasesTheTickedTracks) {
    StartReady();
    Type(1, "ABC");
    Click(kErase);
    EXPECT_TRUE(Select().isVisible());
    EXPECT_EQ(Select().windowTitle(), "Erase Select");
    EXPECT_EQ(TrackText(1), "");
    for (int id : {kRead, kWrite, kErase, kCopy}) EXPECT_FALSE(Enabled(id)) << id;
    EXPECT_TRUE(Enabled(kSetup));
    EXPECT_TRUE(Window().isEnabled());  // only the job buttons wait
    Tick(1);                            // ticked and unticked again
    Tick(1);
    EXPECT_EQ(Select().EraseMask(), 0);
    PressOk();
    EXPECT_EQ(boxes.shown, std::vector<QString>{"Please Select Erase Trace Number"});
    EXPECT_TRUE(Select().isVisible());
    EXPECT_FALSE(session->Monitor().WorkerActive());
    PressCancel();
    EXPECT_FALSE(Select().isVisible());
    for (int id : {kRead, kWrite, kErase}) EXPECT_TRUE(Enabled(id)) << id;

    Click(kErase);
    Tick(2);
    Tick(3);
    EXPECT_EQ(Select().EraseMask(), 6);
    PressOk();
    EXPECT_FALSE(Select().isVisible());
    EXPECT_TRUE(Swipe().isVisible());
    EXPECT_EQ(Swipe().FillColour(), QColor(255, 0, 0));
    EXPECT_EQ(SwipeLine(CSwipeDlg::kSecondLine), "Swipe Counter  -->");
    EXPECT_EQ(SwipeLine(CSwipeDlg::kCountLine), "1");
    EXPECT_FALSE(Enabled(kSetup));  // no reconnection while the worker holds the reader
    ASSERT_TRUE(WaitReadyToSwipe(Armed::kErase));
    ASSERT_TRUE(reader->Swipe(kIsoCard));
    ASSERT_TRUE(WaitMessage("Erase Card <1> OK!"));
    EXPECT_EQ(Blank(kIsoCard), (std::array{false, true, true}));
    EXPECT_TRUE(Swipe().isVisible());
    EXPECT_TRUE(Enabled(kRead));
    EXPECT_FALSE(Enabled(kSetup));

    // Erase Select shown again while the worker waits for the next card: every box unticked and
    // the mask back at 0; its Cancel ends the worker, and the swipe window goes with it.
    ASSERT_TRUE(WaitArmed(Armed::kErase));
    Click(kErase);
    for (int t = 1; t <= 3; ++t) EXPECT_FALSE(Box(t)->isChecked());
    EXPECT_EQ(Select().EraseMask(), 0);
    // The boxes are the job's: the next arming erases what is ticked now.
    EXPECT_EQ(session->Flags().eraseMask, 0);
    Tick(3);
    EXPECT_EQ(session->Flags().eraseMask, kEraseTrack3);
    PressCancel();
    EXPECT_FALSE(session->Monitor().WorkerActive());
    EXPECT_EQ(reader->ArmedFor(), Armed::kIdle);
    EXPECT_FALSE(Swipe().isVisible());
    EXPECT_TRUE(Enabled(kSetup));
    EXPECT_TRUE(Enabled(kRead));

    // So does the Cancel of Seq. Write pressed while the job waits for a card: no swipe window
    // is left asking for a card that nothing waits for.
    Click(kErase);
    Tick(1);
    PressOk();
    ASSERT_TRUE(WaitArmed(Armed::kErase));
    ASSERT_TRUE(Swipe().isVisible());
    Click(kSeqWrite);
    QTest::mouseClick(Window().SeqWriteWindow().Control(CSeqWriteDlg::kCancel), Qt::LeftButton);
    EXPECT_FALSE(session->Monitor().WorkerActive());
    EXPECT_EQ(reader->ArmedFor(), Armed::kIdle);
    EXPECT_FALSE(Swipe().isVisible());
    EXPECT_TRUE(Enabled(kRead));
}

}  // namespace
}  // namespace tollwick::testing
