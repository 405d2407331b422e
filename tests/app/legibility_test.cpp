// What the operator reads: the card data dark on its boxes, the message line's red readable on
// the button face.
#include <QImage>
#include <QPlainTextEdit>

#include "app/dialog_units.h"
#include "app/legibility.h"
#include "app_rig.h"

namespace tollwick::testing {
namespace {

// Of the pixels that ink touches in `image` (darker than the white background by a quarter or
// more), the share that is really dark (below #60): thin or light strokes give few.
double DarkInkShare(const QImage& image) {
    int ink = 0;
    int dark = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const int grey = qGray(image.pixel(x, y));
            if (grey >= 0xC0) continue;
            ++ink;
            if (grey < 0x60) ++dark;
        }
    }
    return ink == 0 ? 0.0 : static_cast<double>(dark) / ink;
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
    EXPECT_EQ(ReadableRed(QColor(Qt::black)), QColor(255, 0, 0));
    EXPECT_LT(ReadableRed(QColor(0xEF, 0xEF, 0xEF)).red(), 255);
    EXPECT_NEAR(ContrastRatio(QColor(Qt::black), QColor(Qt::white)), 21.0, 1e-9);
    EXPECT_NEAR(ContrastRatio(QColor(0xFF, 0, 0), QColor(0xEF, 0xEF, 0xEF)), 3.48, 0.01);
}

TEST_F(MainWindowTest, CardDataAndMessagesRenderDarkAndReadable) {
    OpenReady();
    const QPalette palette = window->Control(mainid::kMessage)->palette();
    for (auto group : {QPalette::Active, QPalette::Disabled}) {
        EXPECT_GE(ContrastRatio(palette.color(group, QPalette::Text),
                                palette.color(group, QPalette::Base)),
                  kReadableContrast);
    }
    window->ShowTracks("%B4000001234567899^DAMAGED/CARD^2912101?", "", "");
    auto* box = window->ControlAs<QPlainTextEdit>(mainid::kTrack1);
    ASSERT_NE(box, nullptr);
    const double share = DarkInkShare(box->viewport()->grab().toImage());
    EXPECT_GE(share, 0.4) << share;  // the light face gives less than 0.1
    // 11 pixels on this 96 dpi screen, in points so that a scaled desktop gets larger text.
    EXPECT_EQ(QFontInfo(TrackFont()).pixelSize(), kTrackFontPixels);
    EXPECT_LT(TrackFont().pixelSize(), 0);
}

}  // namespace
}  // namespace tollwick::testing
