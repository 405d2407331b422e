// The virtual reader's window beside the program: swiping with the button and F5, the one-shot
// write fault, unplugging, the armed line, the dirt, and the deck file kept up to date; and the
// manual page, which names what the program offers.
#include <QAbstractButton>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFile>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSpinBox>

#include "app/virtual_reader_window.h"
#include "app_rig.h"
#include "device/virtual/deck.h"

namespace tollwick::testing {
namespace {

class VirtualReaderWindowTest : public SessionTest {
  protected:
    std::filesystem::path deckFile;
    std::unique_ptr<VirtualReaderWindow> readerWindow;

    void StartWithWindow() {
        deckFile = dir.filePath("deck.json").toStdString();
        ASSERT_TRUE(LoadOrCreateDeck(deckFile).has_value());
        StartReady();
        readerWindow = std::make_unique<VirtualReaderWindow>(*reader, deckFile);
        readerWindow->JoinMainWindow(Window());
        readerWindow->show();
    }
    void TearDown() override {
        session->Stop();
        readerWindow.reset();
        SessionTest::TearDown();
    }
    QString ArmedLine() const { return readerWindow->ArmedLine()->text(); }
};

TEST_F(VirtualReaderWindowTest, ListsTheDeckSwipesTheSelectedCardAndComesBackWhenClosed) {
    StartWithWindow();
    QListWidget* cards = readerWindow->Cards();
    ASSERT_EQ(cards->count(), static_cast<int>(SampleDeck().cards.size()));
    EXPECT_EQ(cards->item(3)->text(), "4  ISO bank card");
    EXPECT_EQ(readerWindow->SelectedCard(), 0);
    EXPECT_TRUE(readerWindow->SwipeButton()->text().contains("F5"));
    EXPECT_EQ(ArmedLine(), "Reader: Idle");

    Click(kRead);
    ASSERT_TRUE(WaitUntil([this] { return ArmedLine() == "Reader: Waiting for a card to read"; }));
    readerWindow->SelectCard(3);
    QTest::mouseClick(readerWindow->SwipeButton(), Qt::LeftButton);
    ASSERT_TRUE(WaitMessage("Read Card<1> OK"));
    EXPECT_EQ(TrackText(2), ";4000001234567899=29121010000000000000?");

    // A card chosen by a screen reader goes through; F5 swipes from the main window too.
    ASSERT_TRUE(WaitArmed(Armed::kRead));
    AtToggle(Iface(cards)->child(7));
    QTest::keyClick(&Window(), Qt::Key_F5);
    ASSERT_TRUE(WaitUntil([this] { return TrackText(2) == "{Trace2 data error}"; }));
    EXPECT_EQ(boxes.shown, std::vector<QString>{"Read Error!!"});

    // Closed, the window goes on swiping the card chosen by F5.
    readerWindow->SelectCard(3);
    readerWindow->close();
    QApplication::setActiveWindow(&Window());
    ASSERT_TRUE(WaitArmed(Armed::kRead));
    QTest::keyClick(&Window(), Qt::Key_F5);
    ASSERT_TRUE(WaitMessage("Read Card<2> OK"));
    EXPECT_FALSE(readerWindow->isVisible());

    // The main window's context menu shows it again, above About ...
    EXPECT_EQ(ChooseFromContextMenu(Window(), "Show the &Virtual reader"),
              (QStringList{"&Inspector\u2026", "&Export last card\u2026", "&Verify after write",
                           "I&ssue cards\u2026", "Show the &Virtual reader", "",
                           "关于 Tollwick(&A)..."}));
    EXPECT_TRUE(readerWindow->isVisible());

    // ... and so does Ctrl+Shift+V.
    readerWindow->close();
    QApplication::setActiveWindow(&Window());
    QTest::keyClick(&Window(), Qt::Key_V, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_TRUE(readerWindow->isVisible());
}

TEST_F(VirtualReaderWindowTest, WrittenCardsReachTheDeckFileAndTheFaultFailsOneCard) {
    StartWithWindow();
    Type(2, "1234567890123456789012");
    QTest::mouseClick(readerWindow->FailNext(), Qt::LeftButton);
    EXPECT_TRUE(reader->RejectNextPending());
    Click(kWrite);
    ASSERT_TRUE(WaitReadyToSwipe(Armed::kWrite));
    readerWindow->SelectCard(1);
    ASSERT_TRUE(readerWindow->SwipeSelected());
    ASSERT_TRUE(WaitUntil([this] { return !boxes.shown.empty(); }));
    EXPECT_EQ(boxes.shown, std::vector<QString>{"Write Error1"});
    ASSERT_TRUE(WaitUntil([this] { return !readerWindow->FailNext()->isChecked(); }));

    // The written card is saved (how a change is laid over the file is the deck file's test), and
    // the list names it by what it now holds.
    QSignalSpy saved(readerWindow.get(), &VirtualReaderWindow::DeckSaved);
    ASSERT_TRUE(WaitReadyToSwipe(Armed::kWrite));
    ASSERT_TRUE(readerWindow->SwipeSelected());
    ASSERT_TRUE(WaitMessage("Write Card<1> OK"));
    ASSERT_TRUE(WaitUntil([&] { return saved.count() == 1; }));
    EXPECT_EQ(saved.at(0).at(0).toInt(), 1);
    EXPECT_TRUE(saved.at(0).at(1).toBool());
    const auto stored = LoadOrCreateDeck(deckFile);
    ASSERT_TRUE(stored.has_value());
    EXPECT_EQ(stored->cards.at(1).tracks, reader->Card(1)->tracks);
    EXPECT_FALSE(stored->cards.at(1).tracks[1].empty());
    EXPECT_EQ(readerWindow->Cards()->item(1)->text(), "2  written ;1234567890123456789…");
}

// Dirt for every card reaches the reader and the deck file; the selected card can have its own.
TEST_F(VirtualReaderWindowTest, DirtForEveryCardOrTheSelectedOneAndUnplugging) {
    StartWithWindow();
    EXPECT_FALSE(readerWindow->FaultScope()->isVisible());
    QTest::mouseClick(readerWindow->DirtButton(), Qt::LeftButton);
    EXPECT_TRUE(readerWindow->FaultScope()->isVisible());
    readerWindow->SelectCard(3);
    EXPECT_EQ(readerWindow->FaultBox(Fault::kWeak)->value(), 100);  // a weak spot always fails
    EXPECT_EQ(readerWindow->FaultBox(Fault::kSlip)->text(), "0.0 %");
    readerWindow->FaultBox(Fault::kNoiseBefore)->setValue(100);
    readerWindow->InputBufferBox()->setValue(8);
    readerWindow->SeedBox()->setValue(7);
    Deck stored = *LoadOrCreateDeck(deckFile);
    EXPECT_EQ(stored.faults[Fault::kNoiseBefore], 1.0);
    EXPECT_FALSE(stored.faults[Fault::kWeak]);  // as nobody said: left out
    EXPECT_EQ(stored.faults.inputBuffer, 8);
    EXPECT_EQ(stored.seed, 7u);
    EXPECT_EQ(reader->GetDeck().faults, stored.faults);  // how dirt reads is the reader's test

    // The selected card without noise.
    readerWindow->FaultScope()->setCurrentIndex(1);
    EXPECT_EQ(readerWindow->FaultBox(Fault::kNoiseBefore)->text(), "as the deck");
    EXPECT_FALSE(readerWindow->SeedBox()->isEnabled());
    readerWindow->FaultBox(Fault::kNoiseBefore)->setValue(0);
    EXPECT_EQ(LoadOrCreateDeck(deckFile)->cards.at(3).faults[Fault::kNoiseBefore], 0.0);
    EXPECT_EQ(reader->Card(3)->faults[Fault::kNoiseBefore], 0.0);
    readerWindow->SelectCard(4);
    EXPECT_EQ(readerWindow->FaultBox(Fault::kNoiseBefore)->text(), "as the deck");

    // Unplugged, the reader takes no swipe.
    QTest::mouseClick(readerWindow->PlugButton(), Qt::LeftButton);
    EXPECT_FALSE(reader->IsPlugged());
    EXPECT_FALSE(readerWindow->SwipeButton()->isEnabled());
    EXPECT_EQ(ArmedLine(), "Reader: Unplugged");
    EXPECT_FALSE(readerWindow->SwipeSelected());

    // A Read without the reader fails on the link and gives the buttons back.
    Click(kRead);
    ASSERT_TRUE(WaitMessage("Commucation Error"));
    ASSERT_TRUE(WaitWorkerEnded());
    EXPECT_TRUE(Enabled(kRead));

    QTest::mouseClick(readerWindow->PlugButton(), Qt::LeftButton);
    EXPECT_TRUE(reader->IsPlugged());
    EXPECT_TRUE(readerWindow->SwipeButton()->isEnabled());
}

// The page's text as man shows it, near enough: roff requests, font changes and escapes gone,
// one blank between words.
QString ManualText(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    QString text = QString::fromUtf8(file.readAll());
    text.remove(QRegularExpression(QStringLiteral(R"(^\.\\".*$)"),
                                   QRegularExpression::MultilineOption));  // comments
    text.replace(QRegularExpression(QStringLiteral(R"(^\.[A-Z]{1,2}\b ?)"),
                                    QRegularExpression::MultilineOption),
                 QString());  // .B, .BR, .TP ...
    text.remove(QRegularExpression(QStringLiteral(R"(\\f(\[[^\]]*\]|\(..|.))")));
    text.replace(QStringLiteral("\\-"), QStringLiteral("-"));
    text.remove(QStringLiteral("\\&"));
    text.remove(u'"');
    return text.simplified();
}

// "&Inspector…" -> "Inspector…", "&Swipe (F5)" -> "Swipe".
QString EntryText(QString text) {
    text.remove(QRegularExpression(QStringLiteral(R"(&(?!&))")));
    text.remove(QRegularExpression(QStringLiteral(R"( \(.*\)$)")));
    return text;
}

// The manual page names what the program offers: every entry of the main window's context menu,
// every shortcut, and the virtual reader's controls, read from the program itself.
TEST_F(VirtualReaderWindowTest, TheManualNamesEveryMenuEntryShortcutAndReaderControl) {
    const QString manual = ManualText(QStringLiteral(TOLLWICK_MANUAL_PAGE));
    ASSERT_FALSE(manual.isEmpty());
    StartWithWindow();
    QStringList wanted;
    const std::vector<QAction*> menu = Window().ContextMenuActions();
    EXPECT_GE(menu.size(), 4u);  // Inspector, Export, Verify, the Virtual reader
    for (QAction* action : menu) wanted << EntryText(action->text());
    for (QAction* action : Window().actions()) {
        for (const QKeySequence& key : action->shortcuts())
            wanted << key.toString(QKeySequence::PortableText);
    }
    EXPECT_TRUE(wanted.contains("F5") && wanted.contains("Ctrl+I"));
    for (QAbstractButton* control : readerWindow->findChildren<QAbstractButton*>())
        wanted << EntryText(control->text());
    for (const QString& entry : wanted) {
        EXPECT_TRUE(manual.contains(entry)) << entry.toStdString();
    }
}

}  // namespace
}  // namespace tollwick::testing
