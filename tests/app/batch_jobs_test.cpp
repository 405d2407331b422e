// The batch jobs through the window on the virtual reader, file dialogs answered: Erase Select
// (the track mask, the swipe window and the ways the erase job ends), Sequential Write (its texts
// and defaults, a run of numbered cards, and runs refused before they start), To File and From
// File (records of good cards on the disk, the files closed by Cancel and by the end of the
// window), the Virtual reader window's Auto-swipe that feeds the batches, and Issue cards from
// the context menu. (The line rules of a card file, the numbers, the issuance run and the jobs'
// course and faults are the libraries' tests.)
#include <QCheckBox>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QToolButton>

#include "app/erase_select_dlg.h"
#include "app/issue_window.h"
#include "app/seq_write_dlg.h"
#include "app/virtual_reader_window.h"
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
    EXPECT_TRUE(NoJob());
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
    EXPECT_TRUE(NoJob());
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
    QStringList edits;  // start, total and step: text/longest
    for (int id : {CSeqWriteDlg::kStart, CSeqWriteDlg::kTotal, CSeqWriteDlg::kStep})
        edits << Edit(id)->text() + "/" + QString::number(Edit(id)->maxLength());
    EXPECT_EQ(edits.join(' '), "0000/20 10/8 1/8");
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
    EXPECT_TRUE(NoJob());
    EXPECT_TRUE(reader->Card(0)->tracks[1].empty());

    Run("7", "3", "5");
    EXPECT_FALSE(SeqWrite().isVisible());
    EXPECT_EQ(Swipe().windowTitle(), "Write Card");
    ASSERT_TRUE(
        WaitUntil([&] { return Message() == "Write Card <3> OK" && Enabled(kRead); }, kRunMs));
    EXPECT_EQ(CardTexts(0), (TrackTexts{"{NO DATA}", ";127?", "{NO DATA}"}));
    EXPECT_TRUE(NoJob());  // the reader reset at the end
    EXPECT_EQ(boxes.shown.size(), 1u);
}

using Purpose = FileDialogSeam::Purpose;

constexpr char kIsoTrack1[] = "%B4000001234567899^TOLLWICK/TEST CARD^2912101000000000000?";

// The ISO card, the damaged card, another ISO card and `blanks` blank cards.
Deck ReadingDeck(std::size_t blanks) {
    const Deck sample = SampleDeck();
    Deck deck = BlankDeck(3 + blanks);
    deck.cards[0] = sample.cards[3];
    deck.cards[1] = sample.cards[7];
    deck.cards[2] = CardFromTexts(
        "Other", {"B4000001234567899^OTHER/CARD^2912101", "4000009999", "0112"}, kIsoTrackSet);
    return deck;
}

TEST_F(SessionTest, ToFileRecordsEveryGoodCardAndCancelClosesTheFile) {
    StartBatch(ReadingDeck(0));  // after the last card the reader waits in vain
    const QString path = dir.filePath("cards.txt");
    ASSERT_TRUE(WriteWholeFile(path, "earlier content\n"));  // appended to, never replaced
    files.answers = {path};
    AutoSwipeFrom(0);
    Click(kToFile);
    // The damaged second card is reported and not counted, the third is card 2.
    ASSERT_TRUE(WaitMessage("Read Card<2> OK"));
    EXPECT_EQ(boxes.shown, std::vector<QString>{"Read Error!!"});
    EXPECT_TRUE(session->CardJobs().Files().ToFileOpen());

    // The records of the good cards are in the file chosen (their lines are the card files'
    // test, and so is that each reaches the disk as soon as its card is done).
    const QString written = ReadWholeFile(path);
    EXPECT_TRUE(written.startsWith(QStringLiteral("earlier content\n")));
    EXPECT_TRUE(written.contains(kIsoTrack1) && written.contains("^OTHER/CARD^"))
        << written.toStdString();

    CancelJob();
    EXPECT_FALSE(session->CardJobs().Files().ToFileOpen());
    EXPECT_EQ(session->Flags().toFileActive.load(), 0);
    EXPECT_EQ(files.asked, std::vector<Purpose>{Purpose::kToFile});
}

// No file, no job; a file open for the job is closed with the window.
TEST_F(SessionTest, NoFileNoJobAndClosingTheWindowClosesTheFiles) {
    StartBatch(BlankDeck(2));
    files.answers = {std::nullopt, dir.filePath("missing.txt"),
                     dir.filePath("no such folder/cards.txt")};
    Click(kFromFile);  // dialog cancelled
    EXPECT_TRUE(boxes.shown.empty());
    Click(kFromFile);
    EXPECT_EQ(boxes.shown, std::vector<QString>{"Open file fail!!"});
    Click(kToFile);
    EXPECT_EQ(boxes.shown, (std::vector<QString>{"Open file fail!!", "Open file fail!!"}));
    EXPECT_EQ(files.asked,
              (std::vector<Purpose>{Purpose::kFromFile, Purpose::kFromFile, Purpose::kToFile}));
    EXPECT_TRUE(NoJob());
    EXPECT_TRUE(Enabled(kFromFile));

    // Closing the window stops the worker, disarms the reader and closes the files.
    const QString path = dir.filePath("one.txt");
    ASSERT_TRUE(WriteWholeFile(path, ";1234?\n\n"));
    files.answers = {path};
    Click(kFromFile);
    ASSERT_TRUE(WaitArmed(Armed::kWrite));
    EXPECT_TRUE(session->CardJobs().Files().FromFileOpen());
    Window().close();
    EXPECT_FALSE(session->Monitor().WorkerActive());
    EXPECT_FALSE(session->CardJobs().Files().FromFileOpen());
    EXPECT_FALSE(session->Ticking());
}

TEST_F(SessionTest, AutoSwipeFeedsTheJobAndTheSelectionFollows) {
    clock = &SystemClock();  // the window follows the auto-swipe as the operator sees it
    StartBatch(ReadingDeck(2));
    VirtualReaderWindow readerWindow(*reader);
    readerWindow.show();
    EXPECT_EQ(readerWindow.AutoSwipe()->text(), "&Auto-swipe");
    readerWindow.SelectCard(2);
    readerWindow.AutoSwipe()->click();
    EXPECT_EQ(reader->NextAutoSwipeCard(), std::optional<std::size_t>(2));
    readerWindow.SelectCard(3);  // the operator picks the next card
    EXPECT_EQ(reader->NextAutoSwipeCard(), std::optional<std::size_t>(3));

    Click(kRead);
    ASSERT_TRUE(WaitMessage("Read Card<1> OK"));
    ASSERT_TRUE(WaitUntil([&] { return readerWindow.SelectedCard() == 4; }));
    ASSERT_TRUE(WaitMessage("Read Card<2> OK"));
    // Past the last card the deck starts over.
    ASSERT_TRUE(WaitMessage("Read Card<3> OK"));
    EXPECT_EQ(TrackText(1), kIsoTrack1);
    EXPECT_TRUE(WaitUntil([&] { return readerWindow.SelectedCard() >= 1; }));
    CancelJob();

    // A verify asks for the card just written again: the one before the next, or the last one
    // before the first.
    readerWindow.SelectCard(2);
    readerWindow.SwipeSameCardAgain();
    EXPECT_EQ(reader->NextAutoSwipeCard(), std::optional<std::size_t>(1));
    EXPECT_EQ(readerWindow.SelectedCard(), 1);
    readerWindow.SelectCard(0);
    readerWindow.SwipeSameCardAgain();
    EXPECT_EQ(readerWindow.SelectedCard(), 4);

    readerWindow.AutoSwipe()->click();
    EXPECT_FALSE(reader->NextAutoSwipeCard().has_value());
}

// Issue cards through the window: opened from the context menu, the data file's columns offered,
// the run on the window's job and swipe window; a run stopped while its card waits leaves that
// record uncertain, and the next start asks about it before anything else. (The run's rules are
// the issuance library's tests.)
TEST_F(SessionTest, IssueCardsRunsAsAJobAndAsksAboutTheUncertainCard) {
    StartBatch(BlankDeck(10));
    const QString data = dir.filePath("members.csv");
    ASSERT_TRUE(WriteWholeFile(data, "id,name\n101,AL\n102,BO\n103,CY\n"));
    files.answers = {data, dir.filePath("first.journal")};
    session->SetIssueFileDialogs(files);
    session->IssueAction()->trigger();
    IssueWindow& issue = session->Issue();
    ASSERT_TRUE(issue.isVisible());

    QTest::mouseClick(issue.OpenButton(), Qt::LeftButton);
    EXPECT_EQ(issue.Preview()->rowCount(), 3);
    EXPECT_EQ(issue.Preview()->horizontalHeaderItem(1)->text(), "name");
    // The columns are offered for each template.
    const QList<QAction*> columns = issue.InsertButton(1)->menu()->actions();
    const auto id = std::ranges::find(columns, QStringLiteral("id"), &QAction::text);
    ASSERT_NE(id, columns.end());
    (*id)->trigger();
    EXPECT_EQ(issue.Template(1)->text(), "{id}");
    QTest::mouseClick(issue.ChooseJournalButton(), Qt::LeftButton);
    EXPECT_EQ(issue.JournalPath()->text(), dir.filePath("first.journal"));

    AutoSwipeFrom(0);
    QTest::mouseClick(issue.StartButton(), Qt::LeftButton);
    ASSERT_TRUE(WaitUntil([&] { return issue.StatusLine()->text().startsWith("Done"); }, kRunMs))
        << issue.StatusLine()->text().toStdString();
    EXPECT_EQ(issue.StatusLine()->text(),
              "Done: 3 records written, 0 done before, 0 cards set aside.");
    EXPECT_EQ(issue.Records()->rowCount(), 3);
    EXPECT_EQ(issue.Records()->item(2, 1)->text(), "written");
    EXPECT_EQ(issue.Progress()->value(), 3);
    EXPECT_EQ(Swipe().windowTitle(), "Issue Card");
    EXPECT_EQ(CardTexts(2)[1], ";103?");

    // A new journal; no card comes, and the run is stopped while the reader waits for it.
    issue.JournalPath()->setText(dir.filePath("second.journal"));
    reader->SetAutoSwipe(std::nullopt, std::chrono::milliseconds(0), false);
    QTest::mouseClick(issue.StartButton(), Qt::LeftButton);
    ASSERT_TRUE(WaitArmed(VirtualReader::Armed::kWrite));
    QTest::mouseClick(issue.StopButton(), Qt::LeftButton);
    ASSERT_TRUE(WaitUntil([&] { return issue.StatusLine()->text().contains("uncertain"); }));
    EXPECT_TRUE(issue.StartButton()->isEnabled());

    // The next start asks about that card first; the card swiped does not hold the record, so
    // the record goes onto a card of its own.
    boxes.answers = {true};
    AutoSwipeFrom(3);
    QTest::mouseClick(issue.StartButton(), Qt::LeftButton);
    ASSERT_TRUE(WaitUntil([&] { return issue.StatusLine()->text().startsWith("Done"); }, kRunMs))
        << issue.StatusLine()->text().toStdString();
    ASSERT_EQ(boxes.asked.size(), 1u);
    EXPECT_TRUE(boxes.asked[0].startsWith("Row 1 may or may not be on card 1 (desktop)"))
        << boxes.asked[0].toStdString();
    EXPECT_EQ(issue.Records()->item(0, 1)->text(), "failed");
    EXPECT_EQ(issue.StatusLine()->text(),
              "Done: 3 records written, 0 done before, 1 card set aside.");
}

}  // namespace
}  // namespace tollwick::testing
