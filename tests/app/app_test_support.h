// A main window over a scratch profile, a recording reader and answered message boxes.
#pragma once

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>
#include <deque>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "app/message_box_seam.h"
#include "app/reader_control.h"
#include "app/tollwick_dlg.h"
#include "app/track_edit.h"
#include "jobs/format_state.h"
#include "settings/profile_store.h"

// Failed expectations show texts as texts.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace tollwick::testing {

// Does what assistive technology does with Qt's toggle action of a control or a list item.
inline void AtToggle(QAccessibleInterface* iface) {
    const QString toggle = QAccessibleActionInterface::toggleAction();
    ASSERT_NE(iface, nullptr);
    ASSERT_NE(iface->actionInterface(), nullptr);
    ASSERT_TRUE(iface->actionInterface()->actionNames().contains(toggle));
    iface->actionInterface()->doAction(toggle);
}
inline void AtToggle(QObject* control) {
    AtToggle(QAccessible::queryAccessibleInterface(control));
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
        if (answers.empty()) return false;
        const bool answer = answers.front();
        answers.pop_front();
        return answer;
    }
};

// What the tests do with the main window, however it was built.
class WindowTest : public ::testing::Test {
  protected:
    virtual CTollwickDlg& Window() = 0;
    TrackEdit* Track(int n) { return Window().ControlAs<TrackEdit>(1004 + n); }
    QString TrackText(int n) { return Track(n)->Text(); }
    QString Counter(int n) { return Window().ControlAs<QLabel>(1027 + n)->text(); }
    QString Label(int n) { return Window().ControlAs<QCheckBox>(1007 + n)->text(); }
    QString Message() { return Window().MessageText(); }
    QString ConnectionLine() { return Window().ControlAs<QLabel>(1043)->text(); }
    QAbstractButton* Button(int id) { return Window().ControlAs<QAbstractButton>(id); }
    void Click(int id) { QTest::mouseClick(Button(id), Qt::LeftButton); }
    bool Enabled(int id) { return Window().Control(id)->isEnabledTo(&Window()); }
    void Type(int track, const QString& keys) {
        Track(track)->setFocus();
        QTest::keyClicks(Track(track), keys);
    }
};

// The main window alone, over a recording reader.
class MainWindowTest : public WindowTest {
  protected:
    QTemporaryDir dir;
    std::unique_ptr<ProfileStore> profile;
    RecordingReader reader;
    AnsweredMessageBoxes boxes;
    FormatState format;
    std::unique_ptr<CTollwickDlg> window;

    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        profile = std::make_unique<ProfileStore>(dir.filePath("Tollwick.ini").toStdString());
    }
    void TearDown() override { window.reset(); }
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

}  // namespace tollwick::testing
