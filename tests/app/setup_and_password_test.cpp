// The Setup and password dialogs over the virtual reader. Setup: the port checks, the order in
// which it connects, the density, and the track format lists of each data type with what OK
// stores. The program password: the start-up entry that keeps the window locked, the set and
// change entry of Change Logo ID, and what the profile keeps.
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QRadioButton>
#include <QSignalSpy>

#include "app/combo_fit.h"
#include "app/dialog_units.h"
#include "app/password_dlg.h"
#include "app/setup_dlg.h"
#include "app_rig.h"
#include "settings/password_hash.h"
#include "settings/stored_settings.h"

namespace tollwick::testing {
namespace {

using F = CSetupDlg::Field;

class SetupTest : public SessionTest {
  protected:
    CSetupDlg& SetupDialog() { return Window().SetupWindow(); }
    QLineEdit* Port() { return qobject_cast<QLineEdit*>(SetupDialog().Control(setupid::kPort)); }
    QRadioButton* Radio(int id) { return qobject_cast<QRadioButton*>(SetupDialog().Control(id)); }
    QComboBox* Combo(int track, F field) { return SetupDialog().Combo(track - 1, field); }
    QStringList Items(int track, F field) {
        QStringList items;
        for (int i = 0; i < Combo(track, field)->count(); ++i)
            items << Combo(track, field)->itemText(i);
        return items;
    }
    // The four combos of a track as they read: selected text ("" without a selection), in
    // brackets when the combo is disabled.
    QString Shown(int track) {
        QStringList shown;
        for (int f = 0; f < 4; ++f) {
            QComboBox* combo = Combo(track, F(f));
            shown << (combo->isEnabled() ? "" : "[") + combo->currentText() +
                         (combo->isEnabled() ? "" : "]");
        }
        return shown.join(' ');
    }
    void OpenSetup() {
        Click(kSetup);
        ASSERT_TRUE(SetupDialog().isVisible());
    }
    void TypePort(const QString& text) {
        Port()->clear();
        QTest::keyClicks(Port(), text);
    }
    void PressOk() { Press(SetupDialog().Control(setupid::kOk)); }
    void PressCancel() { Press(SetupDialog().Control(setupid::kCancel)); }
    // Every combo shows its entries whole, in the place and size the dialog gives it.
    void ExpectTextsFit(const char* when) {
        const QList<QComboBox*> combos = SetupDialog().findChildren<QComboBox*>();
        EXPECT_EQ(combos.size(), 12) << when;
        for (QComboBox* combo : combos) {
            EXPECT_LE(ComboTextNeed(combo), ComboTextRoom(combo))
                << when << " " << combo->objectName().toStdString() << " "
                << combo->currentText().toStdString();
        }
        // Track 1's Parity, SS and ES: x 192, 238, 278; widths 28, 18, 18 dialog units.
        const DialogUnits units(SystemDialogFont());
        for (auto [field, x, width] : {std::tuple{F::kParity, 192, 28},
                                       {F::kStartSentinel, 238, 18},
                                       {F::kEndSentinel, 278, 18}}) {
            QComboBox* combo = Combo(1, field);
            EXPECT_EQ(combo->mapTo(&SetupDialog(), QPoint(0, 0)).x(), units.X(x)) << when;
            EXPECT_EQ(combo->width(), units.X(width)) << when;
        }
    }
    // Chooses a list entry as the keyboard does, which confirms the selection.
    void Choose(QComboBox* combo, int index) {
        combo->setCurrentIndex(index > 0 ? index - 1 : 1);
        QTest::keyClick(combo, index > 0 ? Qt::Key_Down : Qt::Key_Up);
        ASSERT_EQ(combo->currentIndex(), index);
    }
    // The profile's values as "KEY=value KEY=value ...".
    void Store(const QString& values) {
        for (const QString& value : values.split(' ', Qt::SkipEmptyParts))
            ASSERT_TRUE(profile->Write(value.section('=', 0, 0).toStdString(),
                                       value.section('=', 1).toStdString()));
    }
    QString Stored(const QString& keys) {
        QStringList values;
        for (const QString& key : keys.split(' '))
            values << key + "=" + QString::fromStdString(profile->Read(key.toStdString(), "?"));
        return values.join(' ');
    }
};

// What the dialog adds to the port rules of setup_connection.h: capitals, six characters, the
// box of each refusal, Cancel, and the message line after OK (port 0 answers unshown).
TEST_F(SetupTest, PortTextRefusalsAndWhatOkShows) {
    StartReady();
    OpenSetup();
    EXPECT_EQ(SetupDialog().windowTitle(), "Setup");
    EXPECT_FALSE(Window().isEnabled());  // behaves as a modal dialog
    EXPECT_EQ(Port()->text(), "COM10");
    // Tracks 1 and 3 are always recorded at 210 bits per inch: their radios never change.
    for (int id : {1015, 1016, 1017, 1041})
        EXPECT_FALSE(Radio(id)->isEnabled() || Radio(id)->isChecked()) << id;
    EXPECT_TRUE(Radio(setupid::kTrack2Density75)->isChecked());
    for (const auto& [typed, shown, box] : {std::tuple{"xcom1", "XCOM1", "COM PORT Invalidate!!"},
                                            {"COM2001", "COM200", ""},  // six characters at most
                                            {"COM201", "COM201", "MAX PORT Number is 200!!"}}) {
        TypePort(typed);
        EXPECT_EQ(Port()->text(), shown);
        if (*box == 0) continue;
        PressOk();
        EXPECT_EQ(boxes.shown.back(), box);
        EXPECT_TRUE(SetupDialog().isVisible());
    }
    // Cancel gives the main window back and stores nothing; the port text stays as typed.
    PressCancel();
    EXPECT_TRUE(Window().isEnabled());
    EXPECT_EQ(profile->Read("PORTNUM"), "1");
    OpenSetup();
    EXPECT_EQ(Port()->text(), "COM201");

    for (const auto& [typed, message, stored] :
         {std::tuple{"COM200", "K47 Ready", "200"}, {"COM", "Not Connect K47", "0"}}) {
        ASSERT_TRUE(profile->Write("PORTNUM", ""));
        OpenSetup();
        TypePort(typed);
        PressOk();
        EXPECT_FALSE(SetupDialog().isVisible());
        EXPECT_TRUE(Window().isEnabled());
        EXPECT_EQ(Message(), message);
        EXPECT_EQ(profile->Read("PORTNUM"), stored);
        EXPECT_TRUE(Enabled(kRead));
    }
    EXPECT_EQ(boxes.shown.size(), 2u);
}

TEST_F(SetupTest, ConnectionDecidesWhatTheWindowOffers) {
    Start({}, /*plugged=*/false);
    ASSERT_TRUE(WaitMessage("Not Connect Device"));
    ASSERT_TRUE(WaitUntil([this] { return Window().isEnabled(); }));

    // Still no reader: the job buttons stay off, nothing is reported in a box.
    OpenSetup();
    TypePort("COM4");
    PressOk();
    EXPECT_TRUE(boxes.shown.empty());
    EXPECT_EQ(Message(), "Not Connect K47");
    EXPECT_TRUE(Offers({kSetup}, {kRead}));
    EXPECT_EQ(profile->Read("BPISET"), "0");  // the density is stored all the same

    // A reader found now: the job buttons come back, and so do the coercivity and data type
    // buttons that the start-up switched off (without them the reader could not be used). The
    // beeper buttons and the connection line are the start-up's: Setup asks no version.
    reader->Plug();
    OpenSetup();
    PressOk();
    EXPECT_EQ(Message(), "K47 Ready");
    EXPECT_TRUE(Offers({kRead, kSeqWrite, kHiCo, kLoCo, kIso, kRawType, kCaDmv}, {kBeepOn}));
    EXPECT_EQ(ConnectionLine(), "");

    // The reader goes away again: only the job buttons are switched off.
    reader->Unplug();
    ASSERT_TRUE(profile->Write("PORTNUM", ""));
    OpenSetup();
    PressOk();
    EXPECT_EQ(Message(), "Not Connect K47");
    EXPECT_TRUE(Offers({kSetup, kHiCo, kIso}, {kRead}));
}

TEST_F(SetupTest, DensityTakesEffectAtOnceAndIsSentByOk) {
    StartReady();
    OpenSetup();
    QTest::mouseClick(Radio(setupid::kTrack2Density210), Qt::LeftButton, {}, QPoint(4, 4));
    EXPECT_EQ(Window().Format().Density(), Track2Density::k210);
    PressCancel();
    // Cancel keeps the choice but neither sends nor stores it.
    EXPECT_EQ(Window().Format().Density(), Track2Density::k210);
    EXPECT_EQ(reader->Density(), 75);
    EXPECT_EQ(profile->Read("BPISET"), "");
    EXPECT_EQ(Label(2), "Track2 75 BPI 5 BPC Odd Parity");

    OpenSetup();
    EXPECT_TRUE(Radio(setupid::kTrack2Density210)->isChecked());
    PressOk();
    EXPECT_EQ(reader->Density(), 210);
    EXPECT_EQ(profile->Read("BPISET"), "1");
    EXPECT_EQ(Label(2), "Track2 210 BPI 5 BPC Odd Parity");
    EXPECT_EQ(Track(2)->Limit(), 104);

    OpenSetup();
    QTest::mouseClick(Radio(setupid::kTrack2Density75), Qt::LeftButton, {}, QPoint(4, 4));
    PressOk();
    EXPECT_EQ(reader->Density(), 75);
    EXPECT_EQ(Label(2), "Track2 75 BPI 5 BPC Odd Parity");
    EXPECT_EQ(Track(2)->Limit(), 37);
}

// The lists of each data type; the User Type's follow the stored keys, read again at each opening.
TEST_F(SetupTest, ListsOfEachDataType) {
    StartReady();
    OpenSetup();
    EXPECT_EQ(Items(2, F::kBpc), QStringList{"5"});
    PressOk();
    EXPECT_EQ(profile->Read("TR1BPC", "none"), "none");  // ISO stores no track key

    const QString none = QStringList(3, "[8] [NONE] [NONE] [NONE]").join(" | ");
    const struct {
        int type;
        const char* stored;  // written to the profile first
        QString shown;       // tracks 1 | 2 | 3
    } cases[] = {
        {kIso, "", "[7] [ODD] [%] [?] | [5] [ODD] [;] [?] | [5] [ODD] [;] [?]"},
        {kRawType, "", none},
        {kAamva, "", none},
        {kCaDmv, "", none},
        // Without stored keys the User Type formats are the ISO ones, each with its parity.
        {kUserType, "", "7 ODD % ? | 5 ODD ; ? | 5 ODD ; ?"},
        // Narrow with parity, wide without (position 15), and parity "7", which is not "0".
        {kUserType,
         "TR1BPC=1 TR1PARITY=1 TR1SS=3 TR1ES=12 TR2BPC=2 TR2SS=5 TR3BPC=3 TR3SS=5 TR3PARITY=7",
         "5 EVEN 7 < | 6 [NONE] + 0 | 7 EVEN + 0"},
        {kUserType, "TR1BPC=3 TR1SS= TR1ES=",
         "7 EVEN % ; | 6 [NONE] + 0 | 7 EVEN + 0"},  // 7 bits, no stored sentinels
    };
    for (const auto& c : cases) {
        Store(c.stored);
        Click(c.type);
        OpenSetup();
        EXPECT_EQ(Shown(1) + " | " + Shown(2) + " | " + Shown(3), c.shown) << c.type << c.stored;
        ExpectTextsFit(c.stored);  // "EVEN" in Parity, "NONE" in SS and ES
        PressCancel();
    }
}

TEST_F(SetupTest, ChosenBitsPerCharacterRefillTheRowAndOkStoresPositions) {
    StartReady();
    Click(kUserType);
    OpenSetup();
    EXPECT_EQ(Items(1, F::kBpc), (QStringList{"4", "5", "6", "7"}));
    EXPECT_EQ(Items(2, F::kStartSentinel).join(""), "13579;=?");
    Choose(Combo(2, F::kBpc), 2);  // "6"
    EXPECT_EQ(Shown(2), "6 [NONE] % /");
    Choose(Combo(3, F::kBpc), 3);  // "7": ';' ends, not the ISO '?'
    EXPECT_EQ(Shown(3), "7 ODD % ;");
    Choose(Combo(1, F::kBpc), 0);  // "4"
    EXPECT_EQ(Shown(1), "4 [NONE] ; ?");
    Choose(Combo(1, F::kBpc), 1);  // "5": parity back
    EXPECT_EQ(Items(1, F::kParity), (QStringList{"ODD", "EVEN"}));
    EXPECT_TRUE(Combo(1, F::kParity)->isEnabled());
    Choose(Combo(1, F::kParity), 1);
    PressOk();

    EXPECT_EQ(Stored("TR1BPC TR1PARITY TR1SS TR1ES TR2BPC TR2PARITY TR2SS TR2ES"),
              "TR1BPC=1 TR1PARITY=1 TR1SS=5 TR1ES=15 TR2BPC=2 TR2PARITY=0 TR2SS=2 TR2ES=14");
    EXPECT_EQ(Stored("TR3BPC TR3PARITY TR3SS TR3ES"), "TR3BPC=3 TR3PARITY=0 TR3SS=2 TR3ES=26");
    // The formats are in force at once.
    const TrackSet settings = Window().Format().Settings();
    EXPECT_EQ(settings[1], (TrackSettings{6, kParityOdd, '%', '/'}));
    EXPECT_EQ(settings[0], (TrackSettings{5, kParityEven, ';', '?'}));
    EXPECT_EQ(Track(2)->Limit(), 104);

    // A combo without a selection stores its key's default.
    ASSERT_TRUE(profile->Write("TR2ES", "99"));  // outside the list
    OpenSetup();
    EXPECT_EQ(Combo(2, F::kEndSentinel)->currentIndex(), -1);
    Combo(1, F::kStartSentinel)->setFocus();
    Combo(1, F::kStartSentinel)->lineEdit()->selectAll();
    QTest::keyClicks(Combo(1, F::kStartSentinel)->lineEdit(), "Z");
    EXPECT_EQ(SetupDialog().Position(0, F::kStartSentinel), -1);
    PressOk();
    EXPECT_EQ(Stored("TR1SS TR2ES"), "TR1SS=2 TR2ES=15");
}

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
    inline static const QString kError = "Password Error,Enter Password Again!!";
    inline static const QString kChanged = "Password Change Success!!";
    // One entry, the dialog opened by Change Logo ID first when `open`: the box it brings (none:
    // ""), and the password stored after it (none: "", not looked at: nullptr). A refused entry
    // keeps the dialog up and the window locked.
    void Answer(bool open, const char* first, const char* second, const QString& box,
                const char* stored) {
        boxes.shown.clear();
        if (open) Click(kChangePassword);
        Enter(first, second);
        EXPECT_EQ(boxes.shown, box.isEmpty() ? std::vector<QString>{} : std::vector{box}) << first;
        const bool refused = !box.isEmpty() && box != kChanged;
        EXPECT_EQ(Dialog().isVisible(), refused) << first;
        EXPECT_EQ(Window().isEnabled(), !refused) << first;
        if (stored != nullptr) {
            EXPECT_TRUE(*stored != 0 ? Stored(stored) : StoredPassword(*profile).empty()) << first;
        }
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

    Answer(false, "TOLLWICK", "", kError, "Tollwick");
    EXPECT_EQ(Entry(1005)->text(), "");
    Answer(false, "Tollwick", "", "", "Tollwick");
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

    Answer(false, "first", "First", kError, "");
    EXPECT_EQ(Entry(1006)->text(), "");
    Answer(false, "first", "first", "", "first");  // a first password is set without a message
    EXPECT_TRUE(IsPasswordHash(StoredPassword(*profile)));  // the text itself never stored
    Answer(true, "second", "second", kChanged, "second");
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
    Answer(false, "other", "other", kError, "second");
    Answer(false, "second", "ignored", "", "second");
    EXPECT_EQ(StoredPassword(*profile), stored);
    Answer(true, "", "", kChanged, "");  // two empty entries remove the password

    // The profile's place is taken by a folder: neither a change nor a first password can be
    // stored, and neither is reported as set.
    const QString path = QString::fromStdString(profile->Path().string());
    ASSERT_TRUE(QFile::remove(path));
    ASSERT_TRUE(QDir().mkdir(path));
    const QString notStored =
        QStringLiteral("The password was not changed: this settings file cannot be written:\n%1")
            .arg(path);
    Answer(true, "third", "third", notStored, nullptr);
    PressCancel();
    EXPECT_TRUE(Window().isEnabled());
    Answer(true, "fourth", "fourth", notStored, nullptr);
}

}  // namespace
}  // namespace tollwick::testing
