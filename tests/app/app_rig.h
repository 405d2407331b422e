// The desktop program on a bench: the main window alone over a recording reader, or the whole
// program over the virtual reader (window, job view, job monitor and its timer), with answered
// message boxes and file dialogs, bounded waits on the event loop, and the batch jobs' decks.
#pragma once

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "../reader_rig.h"
#include "app/desktop_session.h"
#include "app/file_dialog_seam.h"
#include "app/message_box_seam.h"
#include "app/reader_control.h"
#include "app/swipe_dlg.h"
#include "app/tollwick_dlg.h"
#include "app/track_edit.h"
#include "device/virtual/deck.h"
#include "jobs/format_state.h"
#include "settings/profile_store.h"

// Failed expectations show texts as texts.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace tollwick::testing {

using namespace mainid;
using mainid::kHiCo;  // the window's control ids, not the reader's coercivity values
using mainid::kLoCo;
using namespace sample;
using Armed = VirtualReader::Armed;

inline QAccessibleInterface* Iface(QObject* object) {
    return QAccessible::queryAccessibleInterface(object);
}
inline QString Name(QObject* object) {
    return Iface(object)->text(QAccessible::Name);
}
// Every interface below `root`; what a text box holds inside (viewport, scroll bars) is left out.
inline void Walk(QAccessibleInterface* root,
                 const std::function<void(QAccessibleInterface*)>& visit) {
    for (int i = 0; i < root->childCount(); ++i) {
        QAccessibleInterface* child = root->child(i);
        visit(child);
        if (child->role() != QAccessible::EditableText) Walk(child, visit);
    }
}

// Walks what a screen reader finds below `root` (Qt's own scroll bars, splitter handles and scroll
// areas left out): each must read as something, a name or a description. What was found.
inline std::vector<QObject*> ExpectEveryControlNamed(QAccessibleInterface* root) {
    std::vector<QObject*> found;
    Walk(root, [&found](QAccessibleInterface* iface) {
        const QAccessible::Role role = iface->role();
        if (iface->object() == nullptr || role == QAccessible::ScrollBar ||
            role == QAccessible::Splitter || role == QAccessible::Grip ||
            iface->object()->objectName().startsWith("qt_scrollarea"))
            return;
        found.push_back(iface->object());
        EXPECT_FALSE(iface->text(QAccessible::Name).isEmpty() &&
                     iface->text(QAccessible::Description).isEmpty())
            << iface->object()->objectName().toStdString() << " role " << role;
    });
    return found;
}

// Does what assistive technology does with Qt's toggle action of a control or a list item.
inline void AtToggle(QAccessibleInterface* iface) {
    const QString toggle = QAccessibleActionInterface::toggleAction();
    ASSERT_NE(iface, nullptr);
    ASSERT_NE(iface->actionInterface(), nullptr);
    ASSERT_TRUE(iface->actionInterface()->actionNames().contains(toggle));
    iface->actionInterface()->doAction(toggle);
}

class RecordingReader final : public ReaderControl {
  public:
    std::vector<std::string> calls;
    CommandStatus SetHiCo() override { return Record("SetHiCo"); }
    CommandStatus SetLoCo() override { return Record("SetLoCo"); }
    void BeepOn() override { static_cast<void>(Record("BeepOn")); }
    void BeepOff() override { static_cast<void>(Record("BeepOff")); }
    CommandStatus ResetReader() override { return Record("ResetReader"); }

  private:
    CommandStatus Record(const char* name) {
        calls.emplace_back(name);
        return CommandStatus::kOk;
    }
};

class AnsweredMessageBoxes final : public MessageBoxSeam {
  public:
    std::vector<QString> shown;
    // Runs while a box is up, as long as the operator takes to close it; the window's events go
    // on meanwhile, as under a real modal box.
    std::function<void(const QString&)> whileShown;
    void Inform(QWidget*, const QString& text) override {
        shown.push_back(text);
        // A copy runs, so that the callback may clear or replace itself while it runs.
        if (const auto run = whileShown) run(text);
    }
    // Questions: each asked is kept, answered from `answers` (none left: the second button).
    std::vector<QString> asked;
    std::deque<bool> answers;
    bool Ask(QWidget*, const QString& text, const QString&, const QString&) override {
        asked.push_back(text);
        const bool answer = !answers.empty() && answers.front();
        if (!answers.empty()) answers.pop_front();
        return answer;
    }
};

// What the tests do with the main window, however it was built, over a profile of their own.
class WindowTest : public ::testing::Test {
  protected:
    QTemporaryDir dir;
    std::unique_ptr<ProfileStore> profile;
    AnsweredMessageBoxes boxes;
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        profile = std::make_unique<ProfileStore>(dir.filePath("Tollwick.ini").toStdString());
    }
    virtual CTollwickDlg& Window() = 0;
    TrackEdit* Track(int n) { return Window().ControlAs<TrackEdit>(1004 + n); }
    QString TrackText(int n) { return Track(n)->Text(); }
    QString Counter(int n) { return Window().ControlAs<QLabel>(1027 + n)->text(); }
    QString Label(int n) { return Window().ControlAs<QCheckBox>(1007 + n)->text(); }
    QString Message() { return Window().MessageText(); }
    QString ConnectionLine() { return Window().ControlAs<QLabel>(1043)->text(); }
    QAbstractButton* Button(int id) { return Window().ControlAs<QAbstractButton>(id); }
    void Click(int id) { Press(Button(id)); }
    static void Press(QWidget* control) { QTest::mouseClick(control, Qt::LeftButton); }
    bool Enabled(int id) { return Window().Control(id)->isEnabledTo(&Window()); }
    // The controls `on` take input and the controls `off` do not.
    ::testing::AssertionResult Offers(std::initializer_list<int> on,
                                      std::initializer_list<int> off = {}) {
        for (int id : on) {
            if (!Enabled(id)) return ::testing::AssertionFailure() << "control " << id << " is off";
        }
        for (int id : off) {
            if (Enabled(id)) return ::testing::AssertionFailure() << "control " << id << " is on";
        }
        return ::testing::AssertionSuccess();
    }
    void Type(int track, const QString& keys) {
        Track(track)->setFocus();
        QTest::keyClicks(Track(track), keys);
    }
};

// The main window alone, over a recording reader.
class MainWindowTest : public WindowTest {
  protected:
    RecordingReader reader;
    FormatState format;
    std::unique_ptr<CTollwickDlg> window;
    CTollwickDlg& Window() override { return *window; }

    // Builds the window as the program starts it, with `stored` written to the profile first.
    void Open(std::initializer_list<std::pair<const char*, const char*>> stored = {}) {
        for (const auto& [key, text] : stored) ASSERT_TRUE(profile->Write(key, text));
        window =
            std::make_unique<CTollwickDlg>(MainWindowServices{*profile, reader, boxes, format});
    }
    // As after a successful connection: shown, active and taking input.
    void OpenReady(std::initializer_list<std::pair<const char*, const char*>> stored = {}) {
        Open(stored);
        window->EnableWindow(true);
        window->show();
        QApplication::setActiveWindow(window.get());
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    }
};

// The main window shown and taking input from the start of each test.
class ReadyWindowTest : public MainWindowTest {
  protected:
    void SetUp() override {
        MainWindowTest::SetUp();
        OpenReady();
    }
    void Paste(int track, const QString& text) {
        QGuiApplication::clipboard()->setText(text);
        Track(track)->setFocus();
        QTest::keyClick(Track(track), Qt::Key_V, Qt::ControlModifier);
    }
};

// Opens the context menu of `window` as a right click does and chooses `entry` from it; the
// texts of the menu's entries.
inline QStringList ChooseFromContextMenu(QWidget& window, const QString& entry) {
    QStringList entries;
    QTimer::singleShot(0, [&entries, &entry] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        ASSERT_NE(menu, nullptr);
        QAction* chosen = nullptr;
        for (QAction* action : menu->actions()) {
            entries << action->text();
            if (action->text() == entry) chosen = action;
        }
        ASSERT_NE(chosen, nullptr) << entry.toStdString();
        menu->setActiveAction(chosen);
        QTest::keyClick(menu, Qt::Key_Return);
    });
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(500, 20),
                            window.mapToGlobal(QPoint(500, 20)));
    QApplication::sendEvent(&window, &event);
    return entries;
}

// Runs the event loop until `condition` holds or `ms` milliseconds have passed.
inline bool WaitUntil(const std::function<bool()>& condition, int ms = 5000) {
    return WaitFor(condition, std::chrono::milliseconds(ms), [] { QTest::qWait(5); });
}

class AnsweredFileDialogs final : public FileDialogSeam {
  public:
    std::deque<std::optional<QString>> answers;  // nothing left: cancelled
    std::vector<Purpose> asked;
    std::optional<QString> ChooseCardFile(QWidget*, Purpose purpose) override {
        asked.push_back(purpose);
        std::optional<QString> answer;
        if (!answers.empty()) {
            answer.swap(answers.front());
            answers.pop_front();
        }
        return answer;
    }
};

// The whole program over the virtual reader: window, job view, job monitor and its timer, with
// answered file dialogs for its batch jobs.
class SessionTest : public WindowTest {
  protected:
    static constexpr int kHandMs = 150;

    VirtualClock virtualClock;
    // The reader's waits and the monitor's pauses: on virtual time, unless a test follows the
    // program in real time (set before Start).
    Clock* clock = &virtualClock;
    std::unique_ptr<VirtualReader> reader;
    std::unique_ptr<DesktopSession> session;

    void TearDown() override {
        session.reset();  // stops the worker before the reader goes
        reader.reset();
    }

    // Starts the program; the first tick connects to the reader.
    void Start(VirtualReader::Options options = {}, bool plugged = true) {
        reader = std::make_unique<VirtualReader>(options, SampleDeck(), *clock);
        if (!plugged) reader->Unplug();
        session = std::make_unique<DesktopSession>(std::make_unique<VirtualBackend>(*reader),
                                                   *profile, boxes, *clock);
        session->Start();
    }
    // Starts and waits for the end of the connection attempt.
    void StartReady(VirtualReader::Options options = {}) {
        Start(std::move(options));
        ASSERT_TRUE(WaitUntil([this] { return Window().isEnabled(); }));
        ASSERT_EQ(Message(), "Device READY");
    }

    CTollwickDlg& Window() override { return session->Window(); }
    CSwipeDlg& Swipe() { return Window().SwipeWindow(); }
    QString SwipeLine(int line) { return Swipe().Line(line); }
    void CancelJob() { QTest::mouseClick(Swipe().Control(2), Qt::LeftButton); }

    // Waits until the reader waits for a card.
    bool WaitArmed(VirtualReader::Armed armed) {
        return WaitUntil([this, armed] { return reader->ArmedFor() == armed; });
    }
    // As WaitArmed, then as long again as a hand needs at the least: the program listens 50 ms
    // for an immediate refusal after a write or erase command, and a card swiped within that
    // time is answered too early for it.
    bool WaitReadyToSwipe(VirtualReader::Armed armed) {
        if (!WaitArmed(armed)) return false;
        QTest::qWait(kHandMs);
        return reader->ArmedFor() == armed;
    }
    bool WaitMessage(const QString& text) {
        return WaitUntil([this, text] { return Message() == text; });
    }
    bool WaitWorkerEnded() {
        return WaitUntil([this] { return !session->Monitor().WorkerActive(); });
    }
    // No worker runs, the reader waits for no card and no swipe window asks for one.
    ::testing::AssertionResult NoJob() {
        if (session->Monitor().WorkerActive()) return ::testing::AssertionFailure() << "a worker";
        if (reader->ArmedFor() != Armed::kIdle) return ::testing::AssertionFailure() << "armed";
        if (Swipe().isVisible()) return ::testing::AssertionFailure() << "the swipe window";
        return ::testing::AssertionSuccess();
    }

    // Batches of cards, file dialogs answered.
    static constexpr int kRunMs = 30000;  // a batch of cards, sanitizers included
    AnsweredFileDialogs files;

    void StartBatch(Deck deck) {
        StartReady();
        reader->SetDeck(std::move(deck));
        session->CardJobs().SetFileDialogs(files);
    }
    // The reader swipes the next card of the deck whenever it is armed, after a pause longer
    // than a tick of the monitor with its blink: no two cards fall into one report.
    void AutoSwipeFrom(std::size_t card) {
        reader->SetAutoSwipe(card, std::chrono::milliseconds(kSwipePauseMs), /*advance=*/true);
    }
    static constexpr int kSwipePauseMs = 200;

    // The texts card `index` carries, read with the ISO formats.
    TrackTexts CardTexts(std::size_t index) const { return TextsOnCard(*reader->Card(index)); }
};

inline Deck BlankDeck(std::size_t cards) {
    Deck deck;
    for (std::size_t i = 0; i < cards; ++i) {
        VirtualCard card;
        card.name = "Blank " + std::to_string(i);
        deck.cards.push_back(std::move(card));
    }
    return deck;
}

inline QString ReadWholeFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return QStringLiteral("<cannot open>");
    return QString::fromLatin1(file.readAll());
}

inline bool WriteWholeFile(const QString& path, const QByteArray& content) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

}  // namespace tollwick::testing
