// The Sequential Write dialog through the window on the virtual reader: its texts and defaults,
// a run of numbered cards, and runs refused before they start. (The numbers and the run's course
// are tested with the jobs.)
#include <QLineEdit>
#include <QRadioButton>

#include "app/seq_write_dlg.h"
#include "app_rig.h"

namespace tollwick::testing {
namespace {

class SeqWriteTest : public BatchTest {
  protected:
    CSeqWriteDlg& Dialog() { return Window().SeqWriteWindow(); }
    QLineEdit* Edit(int id) { return qobject_cast<QLineEdit*>(Dialog().Control(id)); }
    void Press(int id) { QTest::mouseClick(Dialog().Control(id), Qt::LeftButton); }
    // Enters the run and presses OK.
    void Run(const QString& start, const QString& total, const QString& step) {
        Edit(CSeqWriteDlg::kStart)->setText(start);
        Edit(CSeqWriteDlg::kTotal)->setText(total);
        Edit(CSeqWriteDlg::kStep)->setText(step);
        Press(CSeqWriteDlg::kOk);
    }
};

// The dialog's defaults and Cancel; a run that does not fit is refused before it starts, and the
// dialog stays open; OK writes the numbered cards on the chosen track.
TEST_F(SeqWriteTest, DefaultsCancelAndARunThatFits) {
    StartBatch(BlankDeck(4));
    Click(kSeqWrite);
    EXPECT_TRUE(Dialog().isVisible());
    EXPECT_EQ(Dialog().windowTitle(), "Sequential Wrinte");
    EXPECT_TRUE(Window().isEnabled());  // only the job buttons wait
    for (int id : {kRead, kWrite, kSeqWrite, kFromFile, kToFile}) EXPECT_FALSE(Enabled(id)) << id;
    const std::vector<std::tuple<int, QString, int>> edits{{CSeqWriteDlg::kStart, "0000", 20},
                                                           {CSeqWriteDlg::kTotal, "10", 8},
                                                           {CSeqWriteDlg::kStep, "1", 8}};
    for (const auto& [id, text, length] : edits) {
        EXPECT_EQ(Edit(id)->text(), text) << id;
        EXPECT_EQ(Edit(id)->maxLength(), length) << id;
    }
    EXPECT_TRUE(Dialog().Control(CSeqWriteDlg::kTrack1)->property("checked").toBool());
    Edit(CSeqWriteDlg::kStep)->setFocus();
    QTest::keyClicks(Edit(CSeqWriteDlg::kStep), "2x-3");
    EXPECT_EQ(Edit(CSeqWriteDlg::kStep)->text(), "123");  // digits only

    Window().SetMessage("something");
    Press(CSeqWriteDlg::kCancel);
    EXPECT_FALSE(Dialog().isVisible());
    EXPECT_EQ(Message(), "");
    EXPECT_EQ(reader->ArmedFor(), Armed::kIdle);
    for (int id : {kRead, kSeqWrite, kSetup}) EXPECT_TRUE(Enabled(id)) << id;

    Type(2, "12");
    AutoSwipeFrom(0);
    Click(kSeqWrite);
    Press(CSeqWriteDlg::kTrack2);
    Run("2147483000", "1000", "1");
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_TRUE(boxes.shown[0].contains("Card 1000")) << boxes.shown[0].toStdString();
    EXPECT_TRUE(Dialog().isVisible());
    EXPECT_FALSE(session->Monitor().WorkerActive());
    EXPECT_FALSE(Swipe().isVisible());
    EXPECT_TRUE(reader->Card(0)->tracks[1].empty());

    Run("7", "3", "5");
    EXPECT_FALSE(Dialog().isVisible());
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
