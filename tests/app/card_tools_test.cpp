// The context menu's additions through the whole program on the virtual reader: the Inspector
// following the cards read (cell colours, the readings that decode, the fields), Verify after
// write as stored in the profile, and Export last card.
#include <QAction>
#include <QCheckBox>
#include <QHeaderView>
#include <QJsonDocument>
#include <QJsonObject>
#include <QScreen>
#include <QTreeWidget>

#include "app/bit_cells_view.h"
#include "app/card_tools.h"
#include "app/inspector_window.h"
#include "app_rig.h"
#include "carddata/hex.h"
#include "settings/stored_settings.h"

namespace tollwick::testing {
namespace {

class CardToolsTest : public SessionTest {
  protected:
    CardTools& Tools() { return session->Tools(); }
    InspectorWindow& Inspector() { return Tools().Inspector(); }

    // Swipes `card` into the Read job that runs and waits until the Inspector has it.
    void ReadCard(std::size_t card) {
        const std::chrono::system_clock::time_point before =
            Tools().LastCard() ? Tools().LastCard()->time : std::chrono::system_clock::time_point{};
        ASSERT_TRUE(WaitArmed(Armed::kRead));
        ASSERT_TRUE(reader->Swipe(card));
        ASSERT_TRUE(
            WaitUntil([&] { return Tools().LastCard() && Tools().LastCard()->time != before; }));
    }
    QColor Pixel(int track, int character) {
        BitCellsView* bits = Inspector().Bits(track);
        // The window lays the tracks out once the events of the card are through.
        EXPECT_TRUE(
            WaitUntil([bits] { return bits->height() >= bits->heightForWidth(bits->width()); }));
        const QRect rect = bits->CharacterRect(character);
        EXPECT_FALSE(rect.isEmpty()) << "track " << track << " character " << character;
        return bits->grab().toImage().pixelColor(rect.topLeft() + QPoint(3, 3));
    }
    // The value of the field labelled `label` in the Fields pane's group `group`.
    QString FieldValue(const QString& group, const QString& label) {
        for (QTreeWidgetItem* item :
             Inspector().Fields()->findItems(label, Qt::MatchExactly | Qt::MatchRecursive)) {
            if (item->parent() != nullptr && item->parent()->text(0) == group) return item->text(1);
        }
        return QStringLiteral("<none>");
    }
};

// The last card read: the Inspector follows every read and shows why a track fails and what the
// card says; Export saves it.
TEST_F(CardToolsTest, TheLastCardReadIsInspectedAndExported) {
    StartReady();
    Tools().SetFileDialogs(files);
    Tools().ExportAction()->trigger();
    EXPECT_EQ(boxes.shown, std::vector<QString>{CardTools::NoCardText()});
    EXPECT_TRUE(files.asked.empty());
    QApplication::setActiveWindow(&Window());
    QTest::keyClick(&Window(), Qt::Key_I, Qt::ControlModifier);
    ASSERT_TRUE(Inspector().isVisible());
    EXPECT_TRUE(Inspector().Header()->text().startsWith("No card read yet"));
    Click(kRead);

    // A damaged track 2: the character whose parity fails and the LRC that no longer matches are
    // red, the sentinels green, the data blue; the wrong bit is named and marked, and the
    // repaired reading stands beside the read, never in its place.
    ReadCard(kDamagedCard);
    std::shared_ptr<const TrackInspection> track2 = Inspector().Inspection(2);
    ASSERT_TRUE(track2 && track2->failure && track2->repair);
    const int bad = track2->failure->position;
    EXPECT_TRUE(Inspector().Verdict(2)->text().startsWith("The read fails: bit "));  // a sentence
    EXPECT_EQ(Inspector().Reading(2)->text(),
              "Read: fails, {Trace2 data error}    Repaired, not read: ;400000******7899=2912101?");
    EXPECT_EQ(Pixel(2, bad), BitCellsView::kFailFill);
    const QRect wrongBit = Inspector().Bits(2)->BitRect(track2->repair->bit);
    EXPECT_EQ(Inspector().Bits(2)->grab().toImage().pixelColor(wrongBit.topLeft() + QPoint(1, 1)),
              BitCellsView::kRepairMark);
    EXPECT_EQ(Pixel(2, track2->lrcIndex), BitCellsView::kFailFill);
    EXPECT_EQ(Pixel(2, bad + 1), BitCellsView::kDataFill);
    EXPECT_EQ(Pixel(2, track2->endSentinelIndex), BitCellsView::kSentinelFill);
    EXPECT_EQ(Pixel(1, Inspector().Inspection(1)->lrcIndex), BitCellsView::kLrcFill);
    // The first card failed: it is not counted.
    ASSERT_TRUE(WaitMessage("Read Card<0> OK"));

    // A card swiped backwards fails in its format; the reading that decodes it comes first,
    // its account number masked until asked for.
    ReadCard(kBackwardsCard);
    QTreeWidget* readings = Inspector().Candidates(1);
    ASSERT_GT(readings->topLevelItemCount(), 0);
    QStringList first;
    for (int c : {0, 1, 2, 3, 5}) first << readings->topLevelItem(0)->text(c);
    EXPECT_EQ(first.join('|'),
              "7, in force|odd|reversed|as read|%B400000******3210^BACKWARDS/SWIPE^3001101?");
    // Beside the main window and on the screen; fitted to its content on a screen with room for
    // all of it (this one is small): the tables' columns as wide as their texts, the empty
    // Fields pane narrow.
    const QRect free = Inspector().screen()->availableGeometry();
    EXPECT_TRUE(free.contains(Inspector().frameGeometry()));
    EXPECT_EQ(Inspector().pos(),
              PlaceBeside(Window().frameGeometry(), Inspector().frameGeometry().size(), free));
    Inspector().FitToContent(QRect(0, 0, 1920, 1080));
    QApplication::processEvents();
    for (int c = 0; c < readings->columnCount(); ++c) {
        const QString text = readings->topLevelItem(0)->text(c);
        EXPECT_GT(readings->header()->sectionSize(c),
                  readings->fontMetrics().horizontalAdvance(text))
            << text.toStdString();
    }
    EXPECT_GE(readings->viewport()->width(), readings->header()->length());
    EXPECT_LT(Inspector().FieldsPane()->width(), Inspector().TracksPane()->width() / 2);

    // A bank card: account numbers masked in the verdict, the characters under the bits and the
    // fields until asked for, then whole everywhere.
    ReadCard(kIsoCard);
    EXPECT_TRUE(Inspector().Verdict(2)->text().startsWith("Good: ;400000******7899="));
    EXPECT_EQ(Inspector().Inspection(2)->characters[7].text, '*');
    EXPECT_EQ(Inspector().FieldsFormat()->text(), "ISO/IEC 7813 financial card");
    EXPECT_EQ(FieldValue("Track 1", "Primary account number"), "400000******7899");
    EXPECT_EQ(FieldValue("Card", "Tracks 1 and 2 agree"), "yes");
    // What a screen reader gets: every control named, the drawn bits told in words, the account
    // number masked there too.
    EXPECT_EQ(Name(&Inspector()), "Inspector");
    // Rows and cells, which have no object of their own, read as their text (an empty cell is
    // empty).
    const std::vector<QObject*> named = ExpectEveryControlNamed(Iface(&Inspector()));
    EXPECT_EQ(
        std::ranges::count_if(named, [](QObject* o) { return qobject_cast<BitCellsView*>(o); }), 3);
    EXPECT_EQ(Name(Inspector().Bits(2)), "Track 2 bits");
    EXPECT_TRUE(Iface(Inspector().Bits(2))
                    ->text(QAccessible::Description)
                    .endsWith("; good: ;400000******7899=29121010000000000000?"));
    EXPECT_EQ(Name(Inspector().Fields()), "Card fields");
    QStringList cells;
    Walk(Iface(Inspector().Fields()),
         [&cells](QAccessibleInterface* iface) { cells << iface->text(QAccessible::Name); });
    EXPECT_TRUE(cells.contains("400000******7899")) << cells.join('|').toStdString();
    EXPECT_FALSE(cells.join('|').contains("4000001234567899"));
    Inspector().ShowAccountNumbers()->click();
    EXPECT_EQ(FieldValue("Track 2", "Primary account number"), "4000001234567899");
    EXPECT_TRUE(Inspector().Verdict(2)->text().startsWith("Good: ;4000001234567899="));
    EXPECT_EQ(Inspector().Inspection(2)->characters[7].text, '1');

    // Export: where it goes and what it holds (the file's mode is the user files' test).
    const QString path = dir.filePath("card.json");
    files.answers = {path};
    QApplication::setActiveWindow(&Window());
    QTest::keyClick(&Window(), Qt::Key_E, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(files.asked, std::vector<FileDialogSeam::Purpose>{FileDialogSeam::Purpose::kExport});

    // With account numbers shown, the export has them whole; masked, masked.
    QJsonObject card = QJsonDocument::fromJson(ReadWholeFile(path).toLatin1()).object();
    EXPECT_EQ(card["fields"].toObject()["track1"].toObject()["pan"].toString(), "4000001234567899");
    Inspector().ShowAccountNumbers()->click();
    files.answers = {path};
    Tools().ExportLastCard();
    card = QJsonDocument::fromJson(ReadWholeFile(path).toLatin1()).object();
    // The bytes as delivered: the card's recorded bits, then clocking zeros. (What else the
    // JSON holds is the files library's test.)
    const QString recorded =
        QString::fromStdString(BytesToHexString(reader->Card(kIsoCard)->tracks[0]));
    const QString raw = card["track1"].toObject()["raw"].toString();
    EXPECT_TRUE(raw.startsWith(recorded)) << raw.toStdString();
    EXPECT_EQ(card["fields"].toObject()["track1"].toObject()["pan"].toString(), "400000******7899");

    // A file that cannot be written is said, with the reason.
    boxes.shown.clear();
    ASSERT_TRUE(WriteWholeFile(dir.filePath("plain"), "x"));
    files.answers = {dir.filePath("plain/card.json")};
    Tools().ExportLastCard();
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_TRUE(boxes.shown.front().startsWith("The card could not be saved to "));

    // Hidden, the window still keeps the last card and shows it when it comes back.
    Inspector().close();
    ReadCard(kRawCard);
    Tools().ShowInspector();
    EXPECT_EQ(Inspector().FieldsFormat()->text(), "No known format");
    EXPECT_TRUE(Inspector().Verdict(1)->text().startsWith("The read fails"));
    CancelJob();

    // Moved and made smaller by the operator, then closed: the same place when opened again, also
    // in the next run.
    const QRect moved(40, 30, 500, 400);
    Inspector().setGeometry(moved);
    Inspector().close();
    EXPECT_FALSE(profile->Read(kInspectorGeometryKey, "").empty());
    session.reset();
    Start();
    Tools().ShowInspector();
    ASSERT_TRUE(Inspector().isVisible());
    EXPECT_EQ(Inspector().geometry(), moved);
}

// Off at first. Switched on, the switch is kept in the profile, and the swipe window asks for the
// card written again. (What a read back card is judged by is the jobs' test.)
TEST_F(CardToolsTest, VerifyAfterWriteIsOffUntilSwitchedOnAndThenKept) {
    StartReady();
    EXPECT_FALSE(Tools().VerifyAction()->isChecked());
    EXPECT_FALSE(session->Flags().verifyAfterWrite.load());
    Type(2, "1234567890");

    // On: the card is read back, the swipe window asks for it.
    Tools().VerifyAction()->trigger();
    EXPECT_TRUE(session->Flags().verifyAfterWrite.load());
    EXPECT_EQ(profile->Read(kVerifyKey, ""), "1");
    Click(kWrite);
    ASSERT_TRUE(WaitReadyToSwipe(Armed::kWrite));
    ASSERT_TRUE(reader->Swipe(kWeakSpotCard));
    ASSERT_TRUE(WaitArmed(Armed::kRead));
    ASSERT_TRUE(
        WaitUntil([&] { return SwipeLine(CSwipeDlg::kFirstLine) == "Swipe again to verify"; }));
    EXPECT_EQ(Swipe().FillColour(), CSwipeDlg::kReadColour);
    ASSERT_TRUE(reader->Swipe(kWeakSpotCard));
    ASSERT_TRUE(WaitMessage("Write Card<1> not verified: track 2 differs"));
    EXPECT_EQ(SwipeLine(CSwipeDlg::kFirstLine), "Please Swipe Card");
    EXPECT_EQ(Swipe().FillColour(), CSwipeDlg::kWriteColour);
    CancelJob();

    // The next start finds the switch on.
    session.reset();
    Start();
    EXPECT_TRUE(session->Tools().VerifyAction()->isChecked());
    EXPECT_TRUE(session->Flags().verifyAfterWrite.load());
}

// Beside the main window when the screen has room on its right, else on its left, else as far
// right as it can be; level with the main window's top, never off the screen.
TEST(InspectorPlace, BesideTheMainWindowAndOnTheScreen) {
    const QRect screen(0, 0, 1920, 1080);
    const QSize size(700, 500);
    const std::pair<QRect, QPoint> cases[] = {
        {QRect(100, 200, 540, 560), QPoint(648, 200)},    // on the right
        {QRect(1300, 200, 540, 560), QPoint(592, 200)},   // no room right: on the left
        {QRect(500, 200, 1100, 560), QPoint(1220, 200)},  // no room either side
        {QRect(100, 900, 540, 560), QPoint(648, 580)},    // kept above the screen's bottom
        {QRect(100, -50, 540, 560), QPoint(648, 0)},
    };
    for (const auto& [main, place] : cases)
        EXPECT_EQ(PlaceBeside(main, size, screen), place) << main.x();
}

}  // namespace
}  // namespace tollwick::testing
