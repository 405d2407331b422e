// Issue cards through the window: opened from the context menu, the data file's columns offered,
// the run on the window's job and swipe window; a run stopped while its card waits leaves that
// record uncertain, and the next start asks about it before anything else. (The run's rules are
// the issuance library's tests.)
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QToolButton>

#include "app/issue_window.h"
#include "app_rig.h"

namespace tollwick::testing {
namespace {

TEST_F(BatchTest, IssueCardsRunsAsAJobAndAsksAboutTheUncertainCard) {
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
    QAction* id = nullptr;
    for (QAction* action : issue.InsertButton(1)->menu()->actions()) {
        if (action->text() == "id") id = action;
    }
    ASSERT_NE(id, nullptr);
    id->trigger();
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
