// Dialog units, the swipe window and the About box.
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>

#include "app/about_dlg.h"
#include "app/dialog_layout.h"
#include "app/dialog_units.h"
#include "app/swipe_dlg.h"
#include "app_test_support.h"

namespace tollwick::testing {
namespace {

TEST(DialogUnits, RoundLikeWindowsDoes) {
    const DialogUnits du(6, 12);
    EXPECT_EQ(du.X(237), 356);  // 355.5 rounds up
    EXPECT_EQ(du.Y(323), 485);  // 484.5 rounds up
    EXPECT_EQ(du.X(1), 2);      // 1.5
    EXPECT_EQ(du.Y(1), 2);      // 1.5
    EXPECT_EQ(du.Rect(10, 153, 207, 70), QRect(15, 230, 311, 105));
    const DialogUnits wide(7, 15);
    EXPECT_EQ(wide.X(50), 88);  // 87.5
    EXPECT_EQ(wide.Y(25), 47);  // 46.875
}

TEST(Mnemonics, StrippedForNames) {
    EXPECT_EQ(StripMnemonic("&Hi-Co"), "Hi-Co");
    EXPECT_EQ(StripMnemonic("Copy && Paste"), "Copy & Paste");
    EXPECT_EQ(StripMnemonic("关于 Tollwick(&A)..."), "关于 Tollwick(A)...");
}

// The white pixels of `image` inside `area`.
QRect WhiteBounds(const QImage& image, const QRect& area) {
    QRect bounds;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.red() > 200 && c.green() > 200 && c.blue() > 200) bounds |= QRect(x, y, 1, 1);
        }
    }
    return bounds;
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
    const QRect text = WhiteBounds(image, line);
    ASSERT_FALSE(text.isEmpty());
    EXPECT_NEAR(text.center().x(), line.center().x(), 2);
    EXPECT_NEAR(text.center().y(), line.center().y(), 3);

    swipe.SetFillColour(CSwipeDlg::kCompareTargetColour);
    EXPECT_EQ(swipe.grab().toImage().pixelColor(2, 2), QColor(0, 100, 0));
}

TEST(SwipeWindow, CancelAsksForTheJobCancel) {
    QWidget owner;
    CSwipeDlg swipe(&owner);
    QSignalSpy cancel(&swipe, &CSwipeDlg::CancelRequested);
    swipe.show();
    QTest::mouseClick(qobject_cast<QPushButton*>(swipe.Control(2)), Qt::LeftButton);
    EXPECT_EQ(cancel.count(), 1);
    EXPECT_FALSE(swipe.isVisible());
    swipe.show();
    swipe.close();
    EXPECT_EQ(cancel.count(), 2);
}

TEST(AboutBox, ChineseTextHasGlyphsAndEnterCloses) {
    CAboutDlg about;
    EXPECT_EQ(about.windowTitle(), "K47");
    bool chinese = false;
    for (QLabel* label : about.findChildren<QLabel*>()) {
        for (const QChar c : label->text()) {
            if (c.unicode() < 0x4E00 || c.unicode() > 0x9FFF) continue;
            chinese = true;
            if (FirstAvailableFamily({"WenQuanYi Zen Hei Sharp", "WenQuanYi Zen Hei", "SimSun"})
                    .isEmpty()) {
                GTEST_SKIP() << "no CJK font installed";
            }
            EXPECT_TRUE(QFontMetrics(label->font()).inFont(c))
                << label->font().family().toStdString();
        }
    }
    EXPECT_TRUE(chinese);
    about.show();
    auto* enter = qobject_cast<QPushButton*>(about.Control(1));
    ASSERT_NE(enter, nullptr);
    EXPECT_TRUE(enter->isDefault());
    QTest::mouseClick(enter, Qt::LeftButton);
    EXPECT_FALSE(about.isVisible());
    EXPECT_EQ(about.result(), QDialog::Accepted);
}

}  // namespace
}  // namespace tollwick::testing
