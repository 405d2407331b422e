// The Sequential Write dialog through the window on the virtual reader: its texts and defaults,
// a run of numbered cards, and runs refused before they start. (The numbers and the run's course
// are tested with the jobs.)
#include <QGroupBox>
#include <QLineEdit>
#include <QRadioButton>

#include "app/seq_write_dlg.h"
#include "card_jobs_test_support.h"

namespace tollwick::testing {
namespace {

using namespace mainid;
using Texts = std::array<std::string, 3>;

class SeqWriteTest : public BatchTest {
  protected:
    CSeqWriteDlg& Dialog() { return Window().SeqWriteWindow(); }
    QLineEdit* Edit(int id) { return qobject_cast<QLineEdit*>(Dialog().Control(id)); }
    QAbstractButton* DialogButton(int id) {
        return qobject_cast<QAbstractButton*>(Dialog().Control(id));
    }
    // Opens the dialog, enters the run and presses OK.
    void Run(const QString& start, const QString& total, const QString& step, int trackId) {
        Click(kSeqWrite);
        ASSERT_TRUE(Dialog().isVisible());
        Edit(CSeqWriteDlg::kStart)->setText(start);
        Edit(CSeqWriteDlg::kTotal)->setText(total);
        Edit(CSeqWriteDlg::kStep)->setText(step);
        QTest::mouseClick(DialogButton(trackId), Qt::LeftButton);
        QTest::mouseClick(DialogButton(CSeqWriteDlg::kOk), Qt::LeftButton);
    }
    bool WaitRunOver(const QString& last) {
        return WaitUntil([&] { return Message() == last && Enabled(kRead); }, kRunMs);
    }
    void Type(int track, const QString& text) {
        Track(track)->setFocus();
        QTest::keyClicks(Track(track), text);
    }
};

TEST_F(SeqWriteTest, DialogLayoutDefaultsAndCancel) {
    StartBatch(BlankDeck(1));
    Click(kSeqWrite);
    EXPECT_TRUE(Dialog().isVisible());
    EXPECT_EQ(Dialog().windowTitle(), "Sequential Wrinte");
    EXPECT_TRUE(Window().isEnabled());  // only the job buttons wait
    for (int id : {kRead, kWrite, kSeqWrite, kFromFile, kToFile}) EXPECT_FALSE(Enabled(id)) << id;

    const std::vector<std::tuple<int, QString, int>> edits{{CSeqWriteDlg::kStart, "0000", 20},
                                                           {CSeqWriteDlg::kTotal, "10", 8},
                                                           {CSeqWriteDlg::kStep, "1", 8}};
    for (const auto& [id, text, length] : edits) {
        ASSERT_NE(Edit(id), nullptr) << id;
        EXPECT_EQ(Edit(id)->text(), text) << id;
        EXPECT_EQ(Edit(id)->maxLength(), length) << id;
    }
    QStringList statics;
    for (const QLabel* label : Dialog().findChildren<QLabel*>()) statics << label->text();
    for (const char* text : {"Staring # :", "Total # of Cards:", "Inc Numbers:"}) {
        EXPECT_TRUE(statics.contains(text)) << text;
    }
    ASSERT_EQ(Dialog().findChildren<QGroupBox*>().size(), 1);
    EXPECT_EQ(Dialog().findChildren<QGroupBox*>().front()->title(), "Trace Select");
    const std::vector<std::pair<int, QString>> radios{{CSeqWriteDlg::kTrack1, "Track1"},
                                                      {CSeqWriteDlg::kTrack2, "Track2"},
                                                      {CSeqWriteDlg::kTrack3, "Track3"}};
    for (const auto& [id, text] : radios) EXPECT_EQ(DialogButton(id)->text(), text);
    EXPECT_TRUE(DialogButton(CSeqWriteDlg::kTrack1)->isChecked());
    EXPECT_EQ(DialogButton(CSeqWriteDlg::kOk)->text(), "OK");
    EXPECT_EQ(DialogButton(CSeqWriteDlg::kCancel)->text(), "Cancel");

    // Digits only.
    Edit(CSeqWriteDlg::kStep)->setFocus();
    QTest::keyClicks(Edit(CSeqWriteDlg::kStep), "2x-3");
    EXPECT_EQ(Edit(CSeqWriteDlg::kStep)->text(), "123");

    Window().SetMessage("something");
    QTest::mouseClick(DialogButton(CSeqWriteDlg::kCancel), Qt::LeftButton);
    EXPECT_FALSE(Dialog().isVisible());
    EXPECT_EQ(Message(), "");
    EXPECT_EQ(reader->ArmedFor(), VirtualReader::Armed::kIdle);
    for (int id : {kRead, kSeqWrite, kSetup}) EXPECT_TRUE(Enabled(id)) << id;
    EXPECT_TRUE(IsBlank(0));
}

TEST_F(SeqWriteTest, OkWritesTheNumberedCards) {
    StartBatch(BlankDeck(4));
    Type(2, "12");
    AutoSwipeFrom(0);
    Run("7", "3", "5", CSeqWriteDlg::kTrack2);
    EXPECT_FALSE(Dialog().isVisible());
    EXPECT_EQ(Swipe().windowTitle(), "Write Card");
    ASSERT_TRUE(WaitRunOver("Write Card <3> OK"));
    EXPECT_EQ(CardTexts(0), (Texts{"{NO DATA}", ";127?", "{NO DATA}"}));
    EXPECT_EQ(CardTexts(1)[1], ";1212?");
    EXPECT_EQ(CardTexts(2)[1], ";1217?");
    EXPECT_TRUE(IsBlank(3));
    EXPECT_FALSE(Swipe().isVisible());
    EXPECT_FALSE(session->Monitor().WorkerActive());
    EXPECT_EQ(reader->ArmedFor(), VirtualReader::Armed::kIdle);  // reset at the end
    EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(SeqWriteTest, RunsThatDoNotFitAreRefusedBeforeTheStart) {
    StartBatch(BlankDeck(1));
    AutoSwipeFrom(0);
    Run("2147483648", "1", "1", CSeqWriteDlg::kTrack1);
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_TRUE(boxes.shown[0].contains("2147483648")) << boxes.shown[0].toStdString();
    Edit(CSeqWriteDlg::kStart)->setText("2147483000");
    Edit(CSeqWriteDlg::kTotal)->setText("1000");
    QTest::mouseClick(DialogButton(CSeqWriteDlg::kOk), Qt::LeftButton);
    ASSERT_EQ(boxes.shown.size(), 2u);
    EXPECT_TRUE(boxes.shown[1].contains("Card 1000")) << boxes.shown[1].toStdString();
    // The dialog stays open and nothing started.
    EXPECT_TRUE(Dialog().isVisible());
    EXPECT_FALSE(session->Monitor().WorkerActive());
    EXPECT_FALSE(Swipe().isVisible());
    QTest::mouseClick(DialogButton(CSeqWriteDlg::kCancel), Qt::LeftButton);
    EXPECT_TRUE(IsBlank(0));
}

}  // namespace
}  // namespace tollwick::testing
