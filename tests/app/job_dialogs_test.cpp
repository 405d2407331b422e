// The dialogs that start a batch job, through the window on the virtual reader: Erase Select (the
// track mask, the swipe window and the ways the erase job ends) and Sequential Write (its texts and
// defaults, a run of numbered cards, and runs refused before they start). (The jobs' course, the
// numbers and the faults are tested with the jobs.)
#include <QCheckBox>
#include <QLineEdit>

#include "app/erase_select_dlg.h"
#include "app/seq_write_dlg.h"
#include "app_rig.h"
#include "jobs/erase_worker.h"

namespace tollwick::testing {
namespace {

class JobDialogTest : public SessionTest {
  protected:
    CEraseSelectDlg& Select() { return Window().EraseSelectWindow(); }
    QCheckBox* Box(int track) { return qobject_cast<QCheckBox*>(Select().Control(1007 + track)); }
    void Tick(int track) { QTest::mouseClick(Box(track), Qt::LeftButton, {}, QPoint(4, 4)); }
    void PressOk() { Press(Select().Control(1)); }
    void PressCancel() { Press(Select().Control(2)); }
    // Which tracks of card `index` are blank.
    std::array<bool, 3> Blank(std::size_t index) {
        const auto card = reader->Card(index);
        return {card->tracks[0].empty(), card->tracks[1].empty(), card->tracks[2].empty()};
    }
    CSeqWriteDlg& SeqWrite() { return Window().SeqWriteWindow(); }
    QLineEdit* Edit(int id) { return qobject_cast<QLineEdit*>(SeqWrite().Control(id)); }
    // Enters the run and presses OK.
    void Run(const QString& start, const QString& total, const QString& step) {
        Edit(CSeqWriteDlg::kStart)->setText(start);
        Edit(CSeqWriteDlg::kTotal)->setText(total);
        Edit(CSeqWriteDlg::kStep)->setText(step);
        Press(SeqWrite().Control(CSeqWriteDlg::kOk));
    }
};

// Opening Erase Select empties the tracks and holds the job buttons; nothing ticked starts
// nothing, Cancel gives the buttons back, and OK erases the ticked tracks of every card.
TEST_F(JobDialogTest, SelectHoldsTheButtonsAndOkErasesTheTickedTracks) {
    StartReady();
    Type(1, "ABC");
    Click(kErase);
    EXPECT_TRUE(Select().isVisible());
    EXPECT_EQ(Select().windowTitle(), "Erase Select");
    EXPECT_EQ(TrackText(1), "");
    EXPECT_TRUE(Offers({kSetup}, {kRead, kWrite, kErase, kCopy}));
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
    EXPECT_TRUE(Offers({kRead}, {kSetup}));

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
    EXPECT_TRUE(Offers({kSetup, kRead}));

    // So does the Cancel of Seq. Write pressed while the job waits for a card: no swipe window
    // is left asking for a card that nothing waits for.
    Click(kErase);
    Tick(1);
    PressOk();
    ASSERT_TRUE(WaitArmed(Armed::kErase));
    ASSERT_TRUE(Swipe().isVisible());
    Click(kSeqWrite);
    Press(SeqWrite().Control(CSeqWriteDlg::kCancel));
    EXPECT_FALSE(session->Monitor().WorkerActive());
    EXPECT_EQ(reader->ArmedFor(), Armed::kIdle);
    EXPECT_FALSE(Swipe().isVisible());
    EXPECT_TRUE(Enabled(kRead));
}

// The dialog's defaults and Cancel; a run that does not fit is refused before it starts, and the
// dialog stays open; OK writes the numbered cards on the chosen track.
TEST_F(JobDialogTest, DefaultsCancelAndARunThatFits) {
    StartBatch(BlankDeck(4));
    Click(kSeqWrite);
    EXPECT_TRUE(SeqWrite().isVisible());
    EXPECT_EQ(SeqWrite().windowTitle(), "Sequential Wrinte");
    EXPECT_TRUE(Window().isEnabled());  // only the job buttons wait
    for (int id : {kRead, kWrite, kSeqWrite, kFromFile, kToFile}) EXPECT_FALSE(Enabled(id)) << id;
    const std::vector<std::tuple<int, QString, int>> edits{{CSeqWriteDlg::kStart, "0000", 20},
                                                           {CSeqWriteDlg::kTotal, "10", 8},
                                                           {CSeqWriteDlg::kStep, "1", 8}};
    for (const auto& [id, text, length] : edits) {
        EXPECT_EQ(Edit(id)->text(), text) << id;
        EXPECT_EQ(Edit(id)->maxLength(), length) << id;
    }
    EXPECT_TRUE(SeqWrite().Control(CSeqWriteDlg::kTrack1)->property("checked").toBool());
    Edit(CSeqWriteDlg::kStep)->setFocus();
    QTest::keyClicks(Edit(CSeqWriteDlg::kStep), "2x-3");
    EXPECT_EQ(Edit(CSeqWriteDlg::kStep)->text(), "123");  // digits only

    Window().SetMessage("something");
    Press(SeqWrite().Control(CSeqWriteDlg::kCancel));
    EXPECT_FALSE(SeqWrite().isVisible());
    EXPECT_EQ(Message(), "");
    EXPECT_EQ(reader->ArmedFor(), Armed::kIdle);
    for (int id : {kRead, kSeqWrite, kSetup}) EXPECT_TRUE(Enabled(id)) << id;

    Type(2, "12");
    AutoSwipeFrom(0);
    Click(kSeqWrite);
    Press(SeqWrite().Control(CSeqWriteDlg::kTrack2));
    Run("2147483000", "1000", "1");
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_TRUE(boxes.shown[0].contains("Card 1000")) << boxes.shown[0].toStdString();
    EXPECT_TRUE(SeqWrite().isVisible());
    EXPECT_FALSE(session->Monitor().WorkerActive());
    EXPECT_FALSE(Swipe().isVisible());
    EXPECT_TRUE(reader->Card(0)->tracks[1].empty());

    Run("7", "3", "5");
    EXPECT_FALSE(SeqWrite().isVisible());
    EXPECT_EQ(Swipe().windowTitle(), "Write Card");
    ASSERT_TRUE(
        WaitUntil([&] { return Message() == "Write Card <3> OK" && Enabled(kRead); }, kRunMs));
    EXPECT_EQ(CardTexts(0), (TrackTexts{"{NO DATA}", ";127?", "{NO DATA}"}));
    EXPECT_FALSE(Swipe().isVisible());
    EXPECT_FALSE(session->Monitor().WorkerActive());
    EXPECT_EQ(reader->ArmedFor(), Armed::kIdle);  // reset at the end
    EXPECT_EQ(boxes.shown.size(), 1u);
}

}  // namespace
}  // namespace tollwick::testing
