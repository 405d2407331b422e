// The program password through the whole program: the start-up entry that keeps the window
// locked, the set and change entry of Change Logo ID, and what the profile keeps.
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QSignalSpy>

#include "app/password_dlg.h"
#include "app_rig.h"
#include "settings/password_hash.h"
#include "settings/stored_settings.h"

namespace tollwick::testing {
namespace {

class PasswordTest : public SessionTest {
  protected:
    CPasswordDlg& Dialog() { return Window().PasswordWindow(); }
    QLineEdit* Entry(int id) { return qobject_cast<QLineEdit*>(Dialog().Control(id)); }
    QString Label(int id) { return qobject_cast<QLabel*>(Dialog().Control(id))->text(); }
    void Enter(const QString& first, const QString& second = {}) {
        Entry(1005)->clear();
        QTest::keyClicks(Entry(1005), first);
        if (Entry(1006)->isVisible()) {
            Entry(1006)->clear();
            QTest::keyClicks(Entry(1006), second);
        }
        Press(Dialog().Control(1));
    }
    void PressCancel() { Press(Dialog().Control(2)); }
    bool Stored(const std::string& password) {
        return PasswordMatches(StoredPassword(*profile), password);
    }
};

// The connection is tried, but the window stays locked until the right password; then it offers
// what the connection allows.
TEST_F(PasswordTest, StartupEntryKeepsTheWindowLockedUntilTheRightPasswordOrEnds) {
    ASSERT_TRUE(SetStoredPassword(*profile, "Tollwick"));
    Start({}, /*plugged=*/false);
    EXPECT_TRUE(Dialog().isVisible());
    EXPECT_EQ(Label(1035), "Enter Password:");
    EXPECT_EQ(Label(1036), "");
    EXPECT_FALSE(Entry(1006)->isVisible());
    EXPECT_EQ(Entry(1005)->echoMode(), QLineEdit::Password);
    ASSERT_TRUE(WaitMessage("Not Connect Device"));
    QTest::qWait(100);
    EXPECT_FALSE(Window().isEnabled());

    Enter("TOLLWICK");
    EXPECT_EQ(boxes.shown, std::vector<QString>{"Password Error,Enter Password Again!!"});
    EXPECT_EQ(Entry(1005)->text(), "");
    EXPECT_TRUE(Dialog().isVisible());
    EXPECT_FALSE(Window().isEnabled());

    Enter("Tollwick");
    EXPECT_EQ(boxes.shown.size(), 1u);
    EXPECT_FALSE(Dialog().isVisible());
    EXPECT_TRUE(Window().isEnabled());
    EXPECT_TRUE(Offers({kSetup}, {kRead}));
    EXPECT_EQ(Dialog().PasswordState(), CPasswordDlg::kAccepted);
    EXPECT_TRUE(session->Ticking());

    // Entered before the first tick: the window waits for the connection attempt all the same. The
    // plain password of an earlier version is taken, and kept as a hash from then on.
    session.reset();
    ASSERT_TRUE(profile->Write("PWD", "Old,pw;1"));
    Start();
    Enter("Old,pw;1");
    EXPECT_FALSE(Dialog().isVisible());
    EXPECT_FALSE(Window().isEnabled());
    ASSERT_TRUE(WaitUntil([this] { return Window().isEnabled(); }));
    EXPECT_EQ(Message(), "Device READY");
    EXPECT_TRUE(IsPasswordHash(StoredPassword(*profile)));

    // Cancel ends the program and changes nothing.
    session.reset();
    Start();
    QSignalSpy finished(&Window(), &QDialog::finished);
    PressCancel();
    ASSERT_TRUE(WaitUntil([&finished] { return finished.count() == 1; }));
    EXPECT_FALSE(Window().isVisible());
    EXPECT_FALSE(session->Ticking());
    EXPECT_TRUE(Stored("Old,pw;1"));
}

TEST_F(PasswordTest, FirstPasswordThenChangesAndACancelledChange) {
    StartReady();
    // The button and the dialog say what the password does not lock.
    for (QWidget* w : {Window().Control(kChangePassword), static_cast<QWidget*>(&Dialog())}) {
        EXPECT_TRUE((w->toolTip() + w->whatsThis()).contains("tollwick-cli reads and writes"))
            << w->objectName().toStdString();
    }
    Click(kChangePassword);
    EXPECT_TRUE(Dialog().isVisible());
    EXPECT_EQ(Dialog().focusWidget(), Entry(1005));
    EXPECT_FALSE(Window().isEnabled());
    EXPECT_EQ(Label(1035), "Enter Password:");
    EXPECT_EQ(Label(1036), "RE-Enter Password:");
    EXPECT_TRUE(Entry(1006)->isVisible());
    QTest::keyClicks(Entry(1005), "abcdefghijklmnop");
    EXPECT_EQ(Entry(1005)->text(), "abcdefghijkl");  // twelve characters at most

    // One entry of the dialog: the box it brings (none: ""), and the password stored after it
    // (none: "", not asked: nullptr). A refused entry keeps the dialog up and the window locked.
    const QString error = QStringLiteral("Password Error,Enter Password Again!!");
    const QString changed = QStringLiteral("Password Change Success!!");
    auto change = [&](bool open, const char* first, const char* second, const QString& box,
                      const char* stored) {
        boxes.shown.clear();
        if (open) Click(kChangePassword);
        Enter(first, second);
        EXPECT_EQ(boxes.shown, box.isEmpty() ? std::vector<QString>{} : std::vector{box}) << first;
        const bool refused = !box.isEmpty() && box != changed;
        EXPECT_EQ(Dialog().isVisible(), refused) << first;
        EXPECT_EQ(Window().isEnabled(), !refused) << first;
        if (stored != nullptr) {
            EXPECT_TRUE(*stored != 0 ? Stored(stored) : StoredPassword(*profile).empty()) << first;
        }
    };
    change(false, "first", "First", error, "");
    EXPECT_EQ(Entry(1006)->text(), "");
    change(false, "first", "first", "", "first");  // a first password is set without a message
    EXPECT_TRUE(IsPasswordHash(StoredPassword(*profile)));  // the text itself never stored
    change(true, "second", "second", changed, "second");
    const std::string stored = StoredPassword(*profile);

    // After a cancelled change the stored password is asked for, and nothing is stored.
    Click(kChangePassword);
    QTest::keyClicks(Entry(1005), "typed");
    PressCancel();
    EXPECT_TRUE(Window().isEnabled());
    EXPECT_TRUE(session->Ticking());  // only the start-up entry ends the program
    EXPECT_EQ(Dialog().PasswordState(), CPasswordDlg::kCancelled);
    Click(kChangePassword);
    EXPECT_EQ(Entry(1005)->text(), "");
    change(false, "other", "other", error, "second");
    change(false, "second", "ignored", "", "second");
    EXPECT_EQ(StoredPassword(*profile), stored);
    change(true, "", "", changed, "");  // two empty entries remove the password

    // The profile's place is taken by a folder: neither a change nor a first password can be
    // stored, and neither is reported as set.
    const QString path = QString::fromStdString(profile->Path().string());
    ASSERT_TRUE(QFile::remove(path));
    ASSERT_TRUE(QDir().mkdir(path));
    const QString notStored =
        QStringLiteral("The password was not changed: this settings file cannot be written:\n%1")
            .arg(path);
    change(true, "third", "third", notStored, nullptr);
    PressCancel();
    EXPECT_TRUE(Window().isEnabled());
    change(true, "fourth", "fourth", notStored, nullptr);
}

}  // namespace
}  // namespace tollwick::testing
