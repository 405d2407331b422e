// The main window: layout, start-up state, the operations used by the jobs, closing, and what the
// track boxes accept as the operator types and pastes under each data type. (The formats, labels,
// limits and alphabets of each data type are tested with the card data.)
#include <QGroupBox>
#include <QPushButton>
#include <QTimer>

#include "app/about_dlg.h"
#include "app/aux_dialogs.h"
#include "app/erase_select_dlg.h"
#include "app/legibility.h"
#include "app/password_dlg.h"
#include "app/seq_write_dlg.h"
#include "app/setup_dlg.h"
#include "app/swipe_dlg.h"
#include "app_rig.h"

namespace tollwick::testing {
namespace {

TEST_F(ReadyWindowTest, LayoutTabOrderRadioGroupsAndTheReaderButtonsFollowTheTemplate) {
    EXPECT_EQ(window->minimumSize(), window->maximumSize());
    EXPECT_TRUE(window->ControlAs<QPushButton>(1)->isDefault());
    // The radios sit in their frames, which must not cut them.
    for (QGroupBox* frame : window->findChildren<QGroupBox*>()) {
        for (QWidget* control : frame->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            EXPECT_TRUE(frame->rect().contains(control->geometry()))
                << control->objectName().toStdString();
        }
    }
    QStringList order;
    QWidget* w = window->Control(1);
    do {
        if (w->focusPolicy() & Qt::TabFocus) order << w->objectName();
        w = w->nextInFocusChain();
    } while (w != window->Control(1) && order.size() < 40);
    // The message line takes no tab stop.
    EXPECT_EQ(
        order.join(' '),
        "id_1 id_1000 id_1001 id_1002 id_1003 id_1004 id_1005 id_1006 id_1007 id_1008 id_1009 "
        "id_1010 id_1011 id_1015 id_1016 id_1017 id_1045 id_1046 id_1018 id_1019 id_1020 "
        "id_1021 id_1022 id_1012 id_1041 id_1042");

    Click(1004);
    Click(1045);
    EXPECT_FALSE(Button(1003)->isChecked() || Button(1015)->isChecked());
    window->UpdateData(true);
    EXPECT_EQ(window->CoercivityChoice(), 1);
    EXPECT_EQ(window->DataTypeChoice(), 3);
    // SetMessage exchanges data both ways and keeps what the operator chose.
    window->SetMessage("Device READY");
    EXPECT_EQ(Message(), "Device READY");
    EXPECT_TRUE(Button(1004)->isChecked() && Button(1045)->isChecked());

    // The coercivity and beeper buttons send their commands.
    Click(1003);
    window->EnableControl(1041, true);
    window->EnableControl(1042, true);
    Click(1041);
    Click(1042);
    EXPECT_EQ(reader.calls, (std::vector<std::string>{"SetLoCo", "SetHiCo", "BeepOn", "BeepOff"}));
}

TEST_F(MainWindowTest, StartsDisabledWithIsoHiCoAndTheConnectMessageInRed) {
    Open();
    EXPECT_FALSE(window->isEnabled());
    EXPECT_EQ(Message(), "Connect to Device ,Please wait...");
    const QPalette palette = window->Control(1014)->palette();
    // Red, as readable as the button face allows (which red is the legibility test's), whether
    // the window takes input or not.
    const QColor red = ReadableRed(palette.color(QPalette::Active, QPalette::Button));
    EXPECT_EQ(palette.color(QPalette::Disabled, QPalette::Text), red);
    EXPECT_EQ(palette.color(QPalette::Active, QPalette::Text), red);
    EXPECT_TRUE(Button(1015)->isChecked() && Button(1003)->isChecked());
    EXPECT_FALSE(Enabled(1041) || Enabled(1042));
    EXPECT_EQ(Label(3), "Track3 210 BPI 5 BPC Odd Parity");
    EXPECT_EQ((std::array{Track(1)->Limit(), Track(2)->Limit(), Track(3)->Limit()}),
              (std::array{76, 37, 104}));
    EXPECT_EQ(format.Get(), (TrackFormat{kIsoTrackSet, DataType::kIso, Track2Density::k75}));
    EXPECT_EQ(CTollwickDlg::MainWindow(), window.get());
    // The auxiliary windows are hidden and stand alone: disabling the main window leaves them
    // usable.
    for (QDialog* dialog : std::initializer_list<QDialog*>{
             &window->SwipeWindow(), &window->EraseSelectWindow(), &window->SeqWriteWindow(),
             &window->SetupWindow(), &window->ProgressWindow(), &window->PasswordWindow()}) {
        EXPECT_FALSE(dialog->isVisible()) << dialog->objectName().toStdString();
        EXPECT_EQ(dialog->parentWidget(), nullptr);
    }
}

TEST_F(ReadyWindowTest, ShowTracksCountsFetchTracksAndTheTrackCheckBoxes) {
    Button(1)->setFocus();
    window->ShowTracks("%B12?", std::string(300, '5'), "");
    EXPECT_EQ(TrackText(1), "%B12?");  // program texts are not filtered
    EXPECT_EQ(Counter(1), "5");
    EXPECT_EQ(Counter(2), "255");  // longer than the box's limit, shown whole up to 255
    EXPECT_EQ(Counter(3), "0");
    EXPECT_EQ(QApplication::focusWidget(), Button(1));

    EXPECT_EQ(window->FetchTracks(), (TrackTexts{"%B12?", std::string(255, '5'), ""}));

    // A track's check box empties and locks its box but keeps the count.
    window->ShowTracks("", "123", "");
    Click(1009);
    EXPECT_TRUE(TrackText(2).isEmpty());
    EXPECT_FALSE(Track(2)->isEnabled());
    EXPECT_EQ(Counter(2), "3");
    Click(1009);
    EXPECT_TRUE(Track(2)->isEnabled());
    EXPECT_EQ(Counter(2), "3");
    Track(2)->setFocus();
    EXPECT_EQ(Counter(2), "0");
}

// EXIT and Enter outside a track box stop the job, reset the reader and close; Escape and the
// close box send no reset.
TEST_F(ReadyWindowTest, ClosingResetsTheReaderOnlyByExitOrEnter) {
    QTest::keyClick(Button(1003), Qt::Key_Escape);
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(window->result(), QDialog::Rejected);
    OpenReady();
    window->close();
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(reader.calls.empty());

    OpenReady();
    Type(1, "B1");
    QTest::keyClick(Track(1), Qt::Key_Return);
    QTest::keyClick(Track(1), Qt::Key_Enter);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(TrackText(1), "B1");
    EXPECT_TRUE(reader.calls.empty());
    Button(1015)->setFocus();
    QTest::keyClick(Button(1015), Qt::Key_Return);
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(reader.calls, std::vector<std::string>{"ResetReader"});

    OpenReady();
    reader.calls.clear();
    std::vector<std::string> order;
    QObject::connect(window.get(), &CTollwickDlg::StopJobRequested, [&] {
        order.push_back("stop");
        EXPECT_TRUE(reader.calls.empty());
    });
    Click(1);
    EXPECT_EQ(order, std::vector<std::string>{"stop"});
    EXPECT_EQ(reader.calls, std::vector<std::string>{"ResetReader"});
    EXPECT_EQ(window->result(), QDialog::Accepted);
    EXPECT_FALSE(window->isVisible());
}

TEST_F(ReadyWindowTest, ContextMenuOffersTheAboutBoxThatEnterCloses) {
    bool closed = false;
    QObject::connect(window.get(), &CTollwickDlg::AboutShowing, [&](CAboutDlg* about) {
        QTimer::singleShot(0, about, [about, &closed] {
            auto* enter = qobject_cast<QPushButton*>(about->Control(1));
            EXPECT_EQ(enter->text(), "ENTER");
            EXPECT_TRUE(enter->isDefault());
            QTest::mouseClick(enter, Qt::LeftButton);
            closed = !about->isVisible() && about->result() == QDialog::Accepted;
        });
    });
    EXPECT_EQ(ChooseFromContextMenu(*window, "关于 Tollwick(&A)..."),
              QStringList{"关于 Tollwick(&A)..."});
    EXPECT_TRUE(closed);
    EXPECT_TRUE(window->isVisible());
}

// Only the first refused character of a change goes, and the caret steps back to where it was.
TEST_F(ReadyWindowTest, RefusedCharactersAreDroppedAndTheCaretStepsBackAlsoAfterCtrlEnter) {
    Type(2, "12;");
    EXPECT_EQ(TrackText(2), "12");
    EXPECT_EQ(Track(2)->SelectionStart(), 2);
    EXPECT_EQ(Track(2)->SelectionEnd(), 2);
    Type(2, "34");
    EXPECT_EQ(Counter(2), "4");
    Track(2)->SetSelection(2, 2);  // also in the middle of the text
    QTest::keyClicks(Track(2), "?");
    EXPECT_EQ(TrackText(2), "1234");
    EXPECT_EQ(Track(2)->SelectionStart(), 2);
    QTest::keyClicks(Track(2), "=");
    EXPECT_EQ(TrackText(2), "12=34");

    Type(1, "%b123?");  // track 1 refuses its sentinels and types capitals
    EXPECT_EQ(TrackText(1), "B123");
    EXPECT_EQ(Counter(1), "4");

    Paste(3, "AB12");
    EXPECT_EQ(TrackText(3), "B12");
    EXPECT_EQ(Counter(3), "3");
    EXPECT_EQ(Track(3)->SelectionStart(), 3);
    QTest::keyClicks(Track(3), "5");
    EXPECT_EQ(TrackText(3), "125");

    // Ctrl+Enter types two line break characters, and the first refused one goes.
    Track(2)->SetProgramText(QString());
    Type(2, "12");
    QTest::keyClick(Track(2), Qt::Key_Return, Qt::ControlModifier);
    EXPECT_EQ(Track(2)->Length(), 3);
    EXPECT_EQ(Counter(2), "3");
    QTest::keyClicks(Track(2), "3");
    EXPECT_EQ(TrackText(2), "123");
    EXPECT_TRUE(window->isVisible());
}

// The filter follows the data type in force (which characters each one refuses is the card
// data's test), and the limits hold.
TEST_F(ReadyWindowTest, AlphabetFollowsTheDataTypeInForceAndLimitsHold) {
    Type(3, "A1");
    EXPECT_EQ(TrackText(3), "1");  // ISO track 3 carries 5-bit characters
    Click(kAamva);
    Type(3, "A");
    EXPECT_EQ(TrackText(3), "1A");  // AAMVA track 3 carries 7-bit characters
    Type(1, "!");

    // Raw Type takes hex digits; texts stay as they were until the next change.
    Click(kRawType);
    EXPECT_EQ(TrackText(1), "!");
    Type(2, "0a1G");
    EXPECT_EQ(TrackText(2), "0A1");
    EXPECT_EQ(Counter(2), "3");
    QTest::keyClicks(Track(1), "1");
    EXPECT_EQ(TrackText(1), "1");

    Click(kIso);
    window->ShowTracks("", "AB1", "");
    Track(2)->SetSelection(3, 3);
    QTest::keyClicks(Track(2), "2");
    EXPECT_EQ(TrackText(2), "B12");
    EXPECT_EQ(Track(2)->SelectionStart(), 3);  // one back from the end, as the caret always goes

    // Limits stop typing and cut pastes, but never shorten a text.
    Type(2, QString(40, u'1'));
    EXPECT_EQ(Track(2)->Length(), 37);
    Track(2)->SetProgramText(QString());
    Paste(2, QString(50, u'2'));
    EXPECT_EQ(Track(2)->Length(), 37);
    // Selected text makes room for what replaces it.
    Track(2)->SetSelection(0, 5);
    Paste(2, QStringLiteral("3333333"));
    EXPECT_EQ(Track(2)->Length(), 37);
    EXPECT_TRUE(TrackText(2).startsWith("33333"));

    Click(1046);
    window->ShowTracks("", QString(120, u'1').toStdString(), "");
    Click(1015);
    EXPECT_EQ(Track(2)->Length(), 120);
    Track(2)->SetSelection(120, 120);
    QTest::keyClicks(Track(2), "2");
    EXPECT_EQ(Track(2)->Length(), 120);
    QTest::keyClick(Track(2), Qt::Key_Backspace);
    EXPECT_EQ(Counter(2), "119");
}

// Each choice of a data type puts its formats, labels and limits in force, at the stored density
// (which ones is the card data's test).
TEST_F(MainWindowTest, DataTypeChoicesRelabelAndResizeAtTheStoredDensity) {
    OpenReady({{"BPISET", "1"}});
    Click(kAamva);
    EXPECT_EQ(Label(2), "Track2 210 BPI 5 BPC ODD Parity");
    Click(kCaDmv);
    EXPECT_EQ(Label(1), "Track1 210 BPI 6 BPC NONE Parity");
    Click(kRawType);  // Raw Type after CA DMV keeps parity and sentinels
    EXPECT_EQ(format.Settings()[1], (TrackSettings{8, kParityOdd, ';', '?'}));
    EXPECT_EQ(Track(1)->Limit(), 140);
    Click(kIso);
    EXPECT_EQ(format.Get(), (TrackFormat{kIsoTrackSet, DataType::kIso, Track2Density::k210}));
    EXPECT_EQ(Label(2), "Track2 210 BPI 5 BPC Odd Parity");
    Type(2, QString(110, u'7'));
    EXPECT_EQ(Counter(2), "104");

    Click(kUserType);
    ASSERT_TRUE(profile->Write("TR2BPC", "2"));  // read again at each choice
    Click(kIso);
    Click(kUserType);
    EXPECT_EQ(Label(2), "Track2 210 BPI 6 BPC None Parity");
}

}  // namespace
}  // namespace tollwick::testing
