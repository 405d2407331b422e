// The main window: layout, start-up state, the operations used by the jobs, and closing.
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

TEST_F(MainWindowTest, LayoutTabOrderAndRadioGroupsFollowTheTemplate) {
    OpenReady();
    EXPECT_EQ(window->windowTitle(), "VK3300S");
    EXPECT_EQ(window->minimumSize(), window->maximumSize());
    EXPECT_TRUE(window->ControlAs<QPushButton>(1)->isDefault());
    // The radios sit in their frames, which must not cut them.
    for (QGroupBox* frame : window->findChildren<QGroupBox*>()) {
        for (QWidget* control : frame->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            EXPECT_TRUE(frame->rect().contains(control->geometry()))
                << control->objectName().toStdString();
        }
    }
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

TEST_F(MainWindowTest, ShowTracksRefreshesCountersAndFetchTracksGivesZeroTerminatedTexts) {
    OpenReady();
    Button(1)->setFocus();
    window->ShowTracks("%B12?", std::string(300, '5'), "");
    EXPECT_EQ(TrackText(1), "%B12?");  // program texts are not filtered
    EXPECT_EQ(Counter(1), "5");
    EXPECT_EQ(Counter(2), "255");  // longer than the box's limit, shown whole up to 255
    EXPECT_EQ(Counter(3), "0");
    EXPECT_EQ(QApplication::focusWidget(), Button(1));

    EXPECT_EQ(window->FetchTracks(), (TrackTexts{"%B12?", std::string(255, '5'), ""}));
}

TEST_F(MainWindowTest, TrackCheckBoxEmptiesAndLocksTheBoxButKeepsTheCount) {
    OpenReady();
    Type(2, "123");
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

// EXIT and Enter outside a track box stop the job, reset the reader and close; Escape and the
// close box send no reset.
TEST_F(MainWindowTest, ClosingResetsTheReaderOnlyByExitOrEnter) {
    OpenReady();
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

TEST_F(MainWindowTest, ContextMenuOffersTheAboutBoxThatEnterCloses) {
    OpenReady();
    QString aboutTitle;
    bool closed = false;
    QObject::connect(window.get(), &CTollwickDlg::AboutShowing, [&](CAboutDlg* about) {
        aboutTitle = about->windowTitle();
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
    EXPECT_EQ(aboutTitle, "K47");
    EXPECT_TRUE(closed);
    EXPECT_TRUE(window->isVisible());
}

}  // namespace
}  // namespace tollwick::testing
