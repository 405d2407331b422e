#include "app/dialog_units.h"

#include <QFontDatabase>
#include <QFontMetrics>

namespace tollwick {
namespace {

// MulDiv rounding for the non-negative values of a layout.
int Scale(int value, int numerator, int denominator) {
    const long long product = static_cast<long long>(value) * numerator;
    const long long half = denominator / 2;
    return static_cast<int>(product >= 0 ? (product + half) / denominator
                                         : (product - half) / denominator);
}

}  // namespace

DialogUnits::DialogUnits(const QFont& font) {
    static const QString kLetters =
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    const QFontMetrics metrics(font);
    const int extent = metrics.horizontalAdvance(kLetters);
    baseX_ = (extent / 26 + 1) / 2;
    baseY_ = metrics.height();
    if (baseX_ < 1) baseX_ = 1;
    if (baseY_ < 1) baseY_ = 1;
}

int DialogUnits::X(int du) const {
    return Scale(du, baseX_, 4);
}
int DialogUnits::Y(int du) const {
    return Scale(du, baseY_, 8);
}

QString FirstAvailableFamily(const QStringList& families) {
    const QStringList known = QFontDatabase::families();
    for (const QString& family : families) {
        for (const QString& k : known) {
            // The database may add the foundry: "Nimbus Sans [urw]".
            if (k.compare(family, Qt::CaseInsensitive) == 0 ||
                k.startsWith(family + QStringLiteral(" ["), Qt::CaseInsensitive)) {
                return family;
            }
        }
    }
    return {};
}

QFont TemplateFont() {
    QFont font;
    const QString family = FirstAvailableFamily(
        {QStringLiteral("SimSun"), QStringLiteral("宋体"), QStringLiteral("NSimSun"),
         // The Sharp face carries bitmaps at the small sizes, with the line height of 宋体.
         QStringLiteral("WenQuanYi Zen Hei Sharp"), QStringLiteral("WenQuanYi Zen Hei"),
         QStringLiteral("Noto Sans CJK SC"), QStringLiteral("Source Han Sans SC"),
         QStringLiteral("Droid Sans Fallback")});
    if (!family.isEmpty()) font.setFamily(family);
    font.setStyleHint(QFont::SansSerif);
    font.setPointSize(9);
    return font;
}

QFont SystemDialogFont() {
    QFont font;
    const QString family = FirstAvailableFamily(
        {QStringLiteral("Arial"), QStringLiteral("Liberation Sans"), QStringLiteral("Arimo"),
         QStringLiteral("Nimbus Sans"), QStringLiteral("DejaVu Sans")});
    if (!family.isEmpty()) font.setFamily(family);
    font.setStyleHint(QFont::SansSerif);
    font.setPointSize(10);
    font.setWeight(QFont::Bold);
    return font;
}

QFont TrackFont() {
    QFont font;
    // The metric-compatible families come first for the look of the reader's desktop.
    const QString family =
        FirstAvailableFamily({QStringLiteral("Arial"), QStringLiteral("Liberation Sans"),
                              QStringLiteral("Arimo"), QStringLiteral("Nimbus Sans"),
                              QStringLiteral("Helvetica"), QStringLiteral("DejaVu Sans")});
    if (!family.isEmpty()) font.setFamily(family);
    font.setStyleHint(QFont::SansSerif);
    // 11 pixels on a 96 dpi desktop, given in points so that the desktop's font scaling applies.
    font.setPointSizeF(kTrackFontPixels * 72.0 / 96.0);
    // Weight 100 is asked for by the reader's program, but Arial has no face lighter than
    // regular, so its desktop shows the regular face. Where a light face exists (DejaVu Sans
    // ExtraLight on Debian) the thin strokes turn grey at this size: the regular face it is.
    font.setWeight(QFont::Normal);
    return font;
}

}  // namespace tollwick
