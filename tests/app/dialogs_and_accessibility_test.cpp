// Dialog units and layout, the swipe window, the About box, and what the operator reads and
// hears: the card data dark on its boxes, the message line's red readable on the button face,
// and what assistive technology sees of the windows and can do with them, as an AT-SPI screen
// reader gets it through Qt's accessibility interfaces.
#include <QAccessible>
#include <QComboBox>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <functional>

#include "app/about_dlg.h"
#include "app/accessibility.h"
#include "app/app_icon.h"
#include "app/dialog_layout.h"
#include "app/dialog_units.h"
#include "app/legibility.h"
#include "app/password_dlg.h"
#include "app/setup_dlg.h"
#include "app/swipe_dlg.h"
#include "app_rig.h"
#include "tollwick_version.h"

namespace tollwick::testing {
namespace {

// Dialog units round as Windows rounds them; nested controls keep their place and take clicks.
TEST(DialogLayout, UnitsRoundLikeWindowsAndNestedControlsKeepTheirPlace) {
    EXPECT_EQ(DialogUnits(6, 12).Rect(237, 323, 1, 1), QRect(356, 485, 2, 2));  // halves round up
    const DialogUnits wide(7, 15);
    EXPECT_EQ(wide.X(50), 88);  // 87.5
    EXPECT_EQ(wide.Y(25), 47);  // 46.875

    QDialog dialog;
    DialogLayout layout(&dialog, TemplateFont(), 200, 100);
    QGroupBox* frame = layout.GroupBox(kNoId, QStringLiteral("Frame"), 10, 10, 150, 60, "Frame");
    QRadioButton* radio = layout.Radio(1, QStringLiteral("75"), 20, 30, 40, 10, true);
    layout.Nest(frame, {radio});
    EXPECT_EQ(radio->parentWidget(), frame);
    EXPECT_EQ(radio->mapTo(&dialog, QPoint()), layout.Units().Rect(20, 30, 40, 10).topLeft());

    // A click on the window where the radio is, routed as the window system routes it.
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    const QPoint at = radio->mapTo(&dialog, QPoint(4, radio->height() / 2));
    QTest::mouseClick(dialog.windowHandle(), Qt::LeftButton, {}, at);
    EXPECT_TRUE(radio->isChecked());
}

// The bounds and the number of the pixels of `image` inside `area` whose colour `pick` takes.
template <typename Pick>
std::pair<QRect, int> Pixels(const QImage& image, const QRect& area, Pick pick) {
    std::pair<QRect, int> found;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            if (pick(image.pixelColor(x, y)))
                found = {found.first | QRect(x, y, 1, 1), found.second + 1};
        }
    }
    return found;
}

TEST(SwipeWindow, WhiteCentredTextOnTheFillColour) {
    QWidget owner;
    CSwipeDlg swipe(&owner);
    swipe.SetTitle("Write Card");
    swipe.SetFillColour(CSwipeDlg::kWriteColour);
    swipe.SetLines("Please Swipe Card", "Swipe Counter  -->", "1");
    EXPECT_EQ(swipe.windowTitle(), "Write Card");
    EXPECT_EQ(swipe.Line(1006), "Swipe Counter  -->");

    const QImage image = swipe.grab().toImage();
    EXPECT_EQ(image.pixelColor(2, 2), QColor(255, 0, 0));
    const QRect line = swipe.Control(1005)->geometry();
    EXPECT_EQ(image.pixelColor(line.left() + 1, line.center().y()), QColor(255, 0, 0));
    const auto white = [](QColor c) { return std::min({c.red(), c.green(), c.blue()}) > 200; };
    const QRect text = Pixels(image, line, white).first;
    ASSERT_FALSE(text.isEmpty());
    EXPECT_NEAR(text.center().x(), line.center().x(), 2);
    EXPECT_NEAR(text.center().y(), line.center().y(), 3);

    swipe.SetFillColour(CSwipeDlg::kCompareTargetColour);
    EXPECT_EQ(swipe.grab().toImage().pixelColor(2, 2), QColor(0, 100, 0));
}

TEST(AppIcon, IsTheCardWithItsStripeFromTheSvg) {
    const QImage icon = AppIconPixmap(32).toImage();
    ASSERT_EQ(icon.size(), QSize(32, 32));
    EXPECT_EQ(qAlpha(icon.pixel(0, 0)), 0);                 // outside the card
    EXPECT_EQ(QColor(icon.pixel(16, 12)).lightness(), 30);  // the magnetic stripe
}

TEST(AboutBox, ChineseTextHasGlyphsAndEveryLineFits) {
    CAboutDlg about;
    EXPECT_EQ(about.windowTitle(), "K47");
    if (FirstAvailableFamily({"WenQuanYi Zen Hei Sharp", "WenQuanYi Zen Hei", "SimSun"}).isEmpty())
        GTEST_SKIP() << "no CJK font installed";
    bool chinese = false;
    bool version = false;  // the second line carries it
    for (QLabel* label : about.findChildren<QLabel*>()) {
        for (const QChar c : label->text()) {
            if (c.unicode() < 0x4E00 || c.unicode() > 0x9FFF) continue;
            chinese = true;
            EXPECT_TRUE(QFontMetrics(label->font()).inFont(c))
                << label->font().family().toStdString();
        }
        if (label->text().contains(QLatin1String(" ") + kTollwickVersion + " ")) version = true;
        EXPECT_LE(QFontMetrics(label->font()).horizontalAdvance(label->text()), label->width())
            << label->text().toStdString();  // every line fits its box
    }
    EXPECT_TRUE(chinese && version);
}

// Pure red where it reads well enough; else the shade of red nearest to it that does.
TEST(Legibility, TheMessageLinesRedReadsWellOnAnyButtonFace) {
    const QColor faces[] = {
        QColor(0xEF, 0xEF, 0xEF),  // Fusion's light face
        QColor(0xD4, 0xD0, 0xC8),  // the reader's desktop grey
        QColor(Qt::white),        QColor(Qt::black), QColor(0x35, 0x35, 0x35),  // a dark theme
    };
    for (const QColor& face : faces) {
        const QColor red = ReadableRed(face);
        const std::string what = face.name().toStdString() + " " + red.name().toStdString();
        EXPECT_GE(ContrastRatio(red, face), kReadableContrast) << what;
        // A red: darkened (no green or blue) or lightened (red full, green equal to blue).
        EXPECT_TRUE((red.green() == 0 && red.blue() == 0) ||
                    (red.red() == 255 && red.green() == red.blue()))
            << what;
        // One step closer to pure red would not read well enough.
        if (red != QColor(255, 0, 0)) {
            const QColor closer = red.green() == 0 ? QColor(red.red() + 1, 0, 0)
                                                   : QColor(255, red.green() - 1, red.blue() - 1);
            EXPECT_LT(ContrastRatio(closer, face), kReadableContrast) << what;
        }
    }
    EXPECT_NEAR(ContrastRatio(QColor(Qt::black), QColor(Qt::white)), 21.0, 1e-9);
    EXPECT_NEAR(ContrastRatio(QColor(0xFF, 0, 0), QColor(0xEF, 0xEF, 0xEF)), 3.48, 0.01);
}

TEST_F(ReadyWindowTest, CardDataAndMessagesRenderDarkAndReadable) {
    const QPalette palette = window->Control(mainid::kMessage)->palette();
    for (auto group : {QPalette::Active, QPalette::Disabled}) {
        EXPECT_GE(ContrastRatio(palette.color(group, QPalette::Text),
                                palette.color(group, QPalette::Base)),
                  kReadableContrast);
    }
    window->ShowTracks("%B4000001234567899^DAMAGED/CARD^2912101?", "", "");
    auto* box = window->ControlAs<QPlainTextEdit>(mainid::kTrack1);
    ASSERT_NE(box, nullptr);
    // Of the pixels that ink touches (darker than the white background by a quarter or more), the
    // share that is really dark (below #60): thin or light strokes give few.
    const QImage text = box->viewport()->grab().toImage();
    const auto below = [](int grey) { return [grey](QColor c) { return qGray(c.rgb()) < grey; }; };
    const double share = double(Pixels(text, text.rect(), below(0x60)).second) /
                         Pixels(text, text.rect(), below(0xC0)).second;
    EXPECT_GE(share, 0.4) << share;  // the light face gives less than 0.1
    // 11 pixels on this 96 dpi screen, in points so that a scaled desktop gets larger text.
    EXPECT_EQ(QFontInfo(TrackFont()).pixelSize(), kTrackFontPixels);
    EXPECT_LT(TrackFont().pixelSize(), 0);
}

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
    EXPECT_EQ(StripMnemonic("Copy && Paste"), "Copy & Paste");  // as in the names above
    EXPECT_EQ(StripMnemonic("关于 Tollwick(&A)..."), "关于 Tollwick(A)...");
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

    AtToggle(Iface(Button(kAamva)));
    EXPECT_TRUE(Iface(Button(kAamva))->state().checked);
    EXPECT_EQ(format.Get().type, DataType::kAamva);
    EXPECT_EQ(Name(Button(kTrack1Check)), "Track1 210 BPI 7 BPC ODD Parity");  // as it now reads
    Type(2, "123");
    AtToggle(Iface(Button(kTrack2Check)));
    EXPECT_TRUE(Button(kTrack2Check)->isChecked());
    EXPECT_FALSE(Track(2)->isEnabled());
    EXPECT_FALSE(Iface(Button(kBeepOn))
                     ->actionInterface()
                     ->actionNames()
                     .contains(QAccessibleActionInterface::toggleAction()));
}

}  // namespace
}  // namespace tollwick::testing
