// The main window: layout, start-up state, the operations used by the jobs, and closing.
#include <QGroupBox>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

#include "app/about_dlg.h"
#include "app/aux_dialogs.h"
#include "app/erase_select_dlg.h"
#include "app/password_dlg.h"
#include "app/seq_write_dlg.h"
#include "app/setup_dlg.h"
#include "app/swipe_dlg.h"
#include "app_test_support.h"

namespace tollwick::testing {
namespace {

TEST_F(MainWindowTest, TemplateTextsAndNames) {
    Open();
    EXPECT_EQ(window->windowTitle(), "VK3300S");
    EXPECT_EQ(window->minimumSize(), window->maximumSize());
    EXPECT_EQ(window->Control(1022)->objectName(), "id_1022");

    EXPECT_EQ(Button(1)->text(), "EXIT");
    EXPECT_EQ(Button(1003)->text(), "&Hi-Co");
    EXPECT_EQ(Button(1012)->text(), "Change\nLogo ID");
    EXPECT_EQ(Button(1018)->text(), "Seq. Write");
    EXPECT_EQ(Button(1046)->text(), "CA DMV");
    EXPECT_TRUE(window->ControlAs<QPushButton>(1)->isDefault());
    // The radios sit in their frames, which must not cut them.
    for (QGroupBox* frame : window->findChildren<QGroupBox*>()) {
        for (QWidget* control : frame->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            EXPECT_TRUE(frame->rect().contains(control->geometry()))
                << control->objectName().toStdString();
        }
    }
}

TEST_F(MainWindowTest, TabOrderAndRadioGroupsFollowTheTemplate) {
    Open();
    std::vector<QString> order;
    QWidget* w = window->Control(1);
    do {
        if (w->focusPolicy() & Qt::TabFocus) order.push_back(w->objectName());
        w = w->nextInFocusChain();
    } while (w != window->Control(1) && order.size() < 40);
    const std::vector<QString> expected{
        "id_1",    "id_1000", "id_1001", "id_1002", "id_1003", "id_1004", "id_1005",
        "id_1006", "id_1007", "id_1008", "id_1009", "id_1010", "id_1011", "id_1015",
        "id_1016", "id_1017", "id_1045", "id_1046", "id_1018", "id_1019", "id_1020",
        "id_1021", "id_1022", "id_1012", "id_1041", "id_1042"};
    EXPECT_EQ(order, expected);  // the message line takes no tab stop

    OpenReady();
    Click(1004);
    Click(1017);
    EXPECT_TRUE(Button(1004)->isChecked());
    EXPECT_TRUE(Button(1017)->isChecked());
    EXPECT_FALSE(Button(1003)->isChecked());
    EXPECT_FALSE(Button(1015)->isChecked());
    window->UpdateData(true);
    EXPECT_EQ(window->CoercivityChoice(), 1);
    EXPECT_EQ(window->DataTypeChoice(), 2);
    Click(1045);
    window->UpdateData(true);
    EXPECT_EQ(window->DataTypeChoice(), 3);
}

TEST_F(MainWindowTest, StartsDisabledWithIsoHiCoAndTheConnectMessageInRed) {
    Open();
    EXPECT_FALSE(window->isEnabled());
    EXPECT_EQ(window->MessageText(), "Connect to Device ,Please wait...");
    const QPalette palette = window->Control(1014)->palette();
    EXPECT_EQ(palette.color(QPalette::Disabled, QPalette::Text), QColor(255, 0, 0));
    EXPECT_EQ(palette.color(QPalette::Active, QPalette::Text), QColor(255, 0, 0));
    EXPECT_EQ(window->Control(1005)->palette().color(QPalette::Active, QPalette::Text),
              QApplication::palette().color(QPalette::Active, QPalette::Text));
    EXPECT_TRUE(Button(1015)->isChecked());
    EXPECT_TRUE(Button(1003)->isChecked());
    EXPECT_FALSE(Button(1041)->isChecked());
    EXPECT_FALSE(Enabled(1041));
    EXPECT_FALSE(Enabled(1042));
    EXPECT_TRUE(Enabled(1001));
    EXPECT_EQ(Label(1), "Track1 210 BPI 7 BPC Odd Parity");
    EXPECT_EQ(Label(2), "Track2 75 BPI 5 BPC Odd Parity");
    EXPECT_EQ(Label(3), "Track3 210 BPI 5 BPC Odd Parity");
    for (int n = 1; n <= 3; ++n) EXPECT_EQ(Counter(n), "0");
    EXPECT_EQ(Track(1)->Limit(), 76);
    EXPECT_EQ(Track(2)->Limit(), 37);
    EXPECT_EQ(Track(3)->Limit(), 104);
    EXPECT_EQ(format.Get(), (TrackFormat{kIsoTrackSet, DataType::kIso, Track2Density::k75}));
    EXPECT_EQ(CTollwickDlg::MainWindow(), window.get());
}

TEST_F(MainWindowTest, StoredDensity210WidensTrack2) {
    Open({{"BPISET", "1"}});
    EXPECT_EQ(Label(2), "Track2 210 BPI 5 BPC Odd Parity");
    EXPECT_EQ(Track(2)->Limit(), 104);
    EXPECT_EQ(format.Density(), Track2Density::k210);
}

TEST_F(MainWindowTest, AuxiliaryWindowsExistHiddenAndStandAlone) {
    Open();
    const std::vector<std::pair<QDialog*, QString>> windows{
        {&window->SwipeWindow(), ""},
        {&window->EraseSelectWindow(), "Erase Select"},
        {&window->SeqWriteWindow(), "Sequential Wrinte"},
        {&window->SetupWindow(), "Setup"},
        {&window->ProgressWindow(), ""},
        {&window->PasswordWindow(), "Input Password"}};
    for (const auto& [dialog, title] : windows) {
        EXPECT_FALSE(dialog->isVisible()) << title.toStdString();
        EXPECT_EQ(dialog->windowTitle(), title);
        // Disabling the main window must leave them usable.
        EXPECT_EQ(dialog->parentWidget(), nullptr) << title.toStdString();
    }
    EXPECT_EQ(window->SetupWindow().objectName(), "dialog_133");
    EXPECT_EQ(window->PasswordWindow().ResourceId(), 135);
}

TEST_F(MainWindowTest, EnableJobButtonsLeavesSetupAloneWhenDisabling) {
    Open();
    const std::vector<int> jobs{1001, 1002, 1011, 1018, 1019, 1020, 1021, 1022};
    window->EnableJobButtons(false);
    for (int id : jobs) EXPECT_FALSE(Enabled(id)) << id;
    EXPECT_TRUE(Enabled(1000));

    window->EnableControl(1000, false);
    window->EnableJobButtons(true);
    for (int id : jobs) EXPECT_TRUE(Enabled(id)) << id;
    EXPECT_TRUE(Enabled(1000));
    EXPECT_TRUE(Enabled(1));
}

TEST_F(MainWindowTest, ShowTracksRefreshesCountersWithoutFilteringOrMovingTheFocus) {
    OpenReady();
    Button(1)->setFocus();
    window->ShowTracks("%B12?", "", "123456789012");
    EXPECT_EQ(Track(1)->Text(), "%B12?");  // program texts are not filtered
    EXPECT_EQ(Counter(1), "5");
    EXPECT_EQ(Counter(2), "0");
    EXPECT_EQ(Counter(3), "12");
    EXPECT_EQ(QApplication::focusWidget(), Button(1));

    // A text longer than the box's limit is shown whole.
    const std::string longText(60, '1');
    window->ShowTracks("", longText, "");
    EXPECT_EQ(Track(2)->Length(), 60);
}

TEST_F(MainWindowTest, FetchTracksGivesZeroTerminatedTexts) {
    Open();
    window->ShowTracks("B123", std::string(300, '5'), "");
    std::array<TrackBuffer, 3> buffers;
    for (auto& b : buffers) b.fill('x');
    window->FetchTracks(buffers);
    EXPECT_STREQ(buffers[0].data(), "B123");
    EXPECT_EQ(std::string(buffers[1].data()), std::string(255, '5'));
    EXPECT_EQ(buffers[2][0], '\0');
    EXPECT_EQ(buffers[0][200], '\0');
}

TEST_F(MainWindowTest, SetMessageKeepsWhatTheOperatorChose) {
    OpenReady();
    Click(1004);
    Click(1046);
    window->SetMessage("Device READY");
    EXPECT_EQ(window->MessageText(), "Device READY");
    EXPECT_TRUE(Button(1004)->isChecked());
    EXPECT_TRUE(Button(1046)->isChecked());
    window->SetMessageText("Read Card<1> OK");
    EXPECT_EQ(window->MessageText(), "Read Card<1> OK");
}

TEST_F(MainWindowTest, TrackCheckBoxEmptiesAndLocksTheBoxButKeepsTheCount) {
    OpenReady();
    Type(2, "123");
    EXPECT_EQ(Counter(2), "3");
    Click(1009);
    EXPECT_TRUE(Track(2)->Text().isEmpty());
    EXPECT_FALSE(Track(2)->isEnabled());
    EXPECT_EQ(Counter(2), "3");
    Click(1009);
    EXPECT_TRUE(Track(2)->isEnabled());
    EXPECT_EQ(Counter(2), "3");
    Track(2)->setFocus();
    EXPECT_EQ(Counter(2), "0");
}

TEST_F(MainWindowTest, CoercivityAndBeeperButtonsSendTheirCommands) {
    OpenReady();
    Click(1004);
    Click(1003);
    window->EnableControl(1041, true);
    window->EnableControl(1042, true);
    Click(1041);
    Click(1042);
    EXPECT_EQ(reader.calls, (std::vector<std::string>{"SetLoCo", "SetHiCo", "BeepOn", "BeepOff"}));
}

TEST_F(MainWindowTest, ExitStopsTheJobThenResetsAndCloses) {
    OpenReady();
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

TEST_F(MainWindowTest, EscapeAndTheCloseBoxSendNoReset) {
    OpenReady();
    QTest::keyClick(Button(1003), Qt::Key_Escape);
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(window->result(), QDialog::Rejected);
    OpenReady();
    window->close();
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(reader.calls.empty());
}

TEST_F(MainWindowTest, EnterClosesLikeExitExceptInATrackBox) {
    OpenReady();
    Type(1, "B1");
    QTest::keyClick(Track(1), Qt::Key_Return);
    QTest::keyClick(Track(1), Qt::Key_Enter);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(Track(1)->Text(), "B1");
    EXPECT_TRUE(reader.calls.empty());

    Button(1015)->setFocus();
    QTest::keyClick(Button(1015), Qt::Key_Return);
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(reader.calls, std::vector<std::string>{"ResetReader"});
}

TEST_F(MainWindowTest, ContextMenuOffersTheAboutBox) {
    OpenReady();
    QString aboutTitle;
    QString enterText;
    QObject::connect(window.get(), &CTollwickDlg::AboutShowing, [&](CAboutDlg* about) {
        aboutTitle = about->windowTitle();
        enterText = qobject_cast<QPushButton*>(about->Control(1))->text();
        QTimer::singleShot(0, about, [about] {
            QTest::mouseClick(qobject_cast<QPushButton*>(about->Control(1)), Qt::LeftButton);
        });
    });
    QString entry;
    QTimer::singleShot(0, [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        ASSERT_NE(menu, nullptr);
        ASSERT_EQ(menu->actions().size(), 1);
        entry = menu->actions().front()->text();
        menu->setActiveAction(menu->actions().front());
        QTest::keyClick(menu, Qt::Key_Return);
    });
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(500, 20),
                            window->mapToGlobal(QPoint(500, 20)));
    QApplication::sendEvent(window.get(), &event);
    EXPECT_EQ(entry, "关于 Tollwick(&A)...");
    EXPECT_EQ(aboutTitle, "K47");
    EXPECT_EQ(enterText, "ENTER");
    EXPECT_TRUE(window->isVisible());
}

}  // namespace
}  // namespace tollwick::testing
