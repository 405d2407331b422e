// What assistive technology sees of the windows and what it can do with them, as an AT-SPI screen
// reader gets it through Qt's accessibility interfaces.
#include <QAccessible>
#include <QComboBox>
#include <functional>

#include "app/accessibility.h"
#include "app/password_dlg.h"
#include "app/setup_dlg.h"
#include "app_rig.h"

namespace tollwick::testing {
namespace {

// Runs `seen` for every event of `type` that `object` receives while the spy lives.
class EventSpy final : public QObject {
  public:
    EventSpy(QObject* object, QEvent::Type type, std::function<void()> seen)
        : type_(type), seen_(std::move(seen)) {
        object->installEventFilter(this);
    }
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == type_) seen_();
        return false;
    }

  private:
    QEvent::Type type_;
    std::function<void()> seen_;
};

// The names of what labels the control: a label tied to it, the group it sits in.
QStringList LabelledBy(QObject* control) {
    QStringList names;
    for (const auto& [label, relation] : Iface(control)->relations(QAccessible::Label))
        names << label->text(QAccessible::Name);
    return names;
}

TEST_F(ReadyWindowTest, AccessibilityTreeNamesRolesAndTexts) {
    QAccessibleInterface* root = Iface(window.get());
    EXPECT_EQ(root->role(), QAccessible::Dialog);
    EXPECT_EQ(root->text(QAccessible::Name), "VK3300S");
    // Every control of the window, nested ones and the announcer included.
    EXPECT_EQ(ExpectEveryControlNamed(root).size(), 42u);

    // The lines the program changes read as what they are and what they show; radios by their
    // text without the mnemonic, within their named group.
    EXPECT_EQ(Name(window->Control(kConnection)), "Connection: none");
    window->ShowTracks("%B12?", "", "123456789012");
    window->SetConnectionLine("COM3 9600,8,N,1  VK3300 EVU1.07");
    for (auto [id, role, name] :
         {std::tuple{kTrack3Count, QAccessible::StaticText, "Track3 characters: 12"},
          {kTrack2Count, QAccessible::StaticText, "Track2 characters: 0"},
          {kConnection, QAccessible::StaticText, "Connection: COM3 9600,8,N,1  VK3300 EVU1.07"},
          {kMessage, QAccessible::EditableText, "Message"},
          {kHiCo, QAccessible::RadioButton, "Hi-Co"},
          {kTrack2Check, QAccessible::CheckBox, "Track2 75 BPI 5 BPC Odd Parity"},
          {kChangePassword, QAccessible::Button, "Change Logo ID"}}) {
        EXPECT_EQ(Iface(window->Control(id))->role(), role) << id;
        EXPECT_EQ(Name(window->Control(id)), name) << id;
    }
    EXPECT_EQ(Iface(window->Control(kMessage))->textInterface()->text(0, 100),
              "Connect to Device ,Please wait...");
    EXPECT_EQ(Iface(window->Control(kHiCo))->parent()->role(), QAccessible::Grouping);
    EXPECT_EQ(Iface(window->Control(kHiCo))->parent()->text(QAccessible::Name), "Coercivity");
    // What ticking a track's box means is said, to the eye and to the ear.
    EXPECT_TRUE(window->Control(kTrack2Check)->toolTip().startsWith("Ticked: Track2 is left out"));
    EXPECT_EQ(Iface(window->Control(kTrack2Check))->text(QAccessible::Description),
              window->Control(kTrack2Check)->toolTip());

    // The dialogs' controls are tied to their labels: a combo of Setup to its field and its row.
    const QStringList labels = LabelledBy(window->SetupWindow().Combo(2, CSetupDlg::kEndSentinel));
    EXPECT_TRUE(labels.contains("Track3 ES") && labels.contains("Trace3 BPI"))
        << labels.join('|').toStdString();
    for (auto [control, label] :
         {std::pair{window->SetupWindow().Control(setupid::kTrack2Density210), "Track2 BPI"},
          {window->SetupWindow().Control(setupid::kPort), "COM Port"},
          {window->PasswordWindow().Control(passwordid::kFirstEntry), "Enter Password:"},
          {window->PasswordWindow().Control(passwordid::kSecondEntry), "Re-Enter Password:"}}) {
        EXPECT_EQ(LabelledBy(control), QStringList{label});
    }
}

// What the message line says is spoken wherever the focus is: a notification with its text
// appears each time (a screen reader speaks a notification that is shown), also when the same
// text comes again; an emptied line says nothing. Toggled by assistive technology, a radio or
// a check box does what a click does; a disabled control offers nothing to do.
TEST_F(ReadyWindowTest, MessageLineIsAnnouncedAndAToggleIsAClick) {
    auto* announcer = window->findChild<Announcer*>();
    ASSERT_NE(announcer, nullptr);
    EXPECT_EQ(Iface(announcer)->role(), QAccessible::Notification);
    QStringList announced;
    EventSpy shows(announcer, QEvent::Show, [&] { announced << Name(announcer); });
    window->SetMessage("Read Card<1> OK");
    window->SetMessageLineDirectly("Read Card<1> OK");
    window->SetMessageLineDirectly("Read Card<2> OK");
    window->SetMessage("");
    EXPECT_EQ(announced, (QStringList{"Read Card<1> OK", "Read Card<2> OK"}));
    EXPECT_TRUE(announcer->size().isEmpty());  // it takes no room in the window

    AtToggle(Button(kAamva));
    EXPECT_TRUE(Iface(Button(kAamva))->state().checked);
    EXPECT_EQ(format.Get().type, DataType::kAamva);
    EXPECT_EQ(Name(Button(kTrack1Check)), "Track1 210 BPI 7 BPC ODD Parity");  // as it now reads
    Type(2, "123");
    AtToggle(Button(kTrack2Check));
    EXPECT_TRUE(Button(kTrack2Check)->isChecked());
    EXPECT_FALSE(Track(2)->isEnabled());
    EXPECT_FALSE(Iface(Button(kBeepOn))
                     ->actionInterface()
                     ->actionNames()
                     .contains(QAccessibleActionInterface::toggleAction()));
}

}  // namespace
}  // namespace tollwick::testing
