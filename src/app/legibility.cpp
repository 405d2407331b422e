#include "app/legibility.h"

#include <algorithm>
#include <cmath>

namespace tollwick {
namespace {

double Linear(int channel) {
    const double c = channel / 255.0;
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

double Luminance(const QColor& colour) {
    const QColor rgb = colour.toRgb();
    return 0.2126 * Linear(rgb.red()) + 0.7152 * Linear(rgb.green()) + 0.0722 * Linear(rgb.blue());
}

}  // namespace

double ContrastRatio(const QColor& a, const QColor& b) {
    const double la = Luminance(a);
    const double lb = Luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor ReadableRed(const QColor& background) {
    const QColor red(255, 0, 0);
    if (ContrastRatio(red, background) >= kReadableContrast) return red;
    // On a background lighter than red, only a darker red can stand out; on a darker one, a
    // lighter one. Step by step from pure red, so the shade stays as red as it can.
    const bool light = Luminance(background) > Luminance(red);
    for (int step = 1; step <= 255; ++step) {
        const QColor shade = light ? QColor(255 - step, 0, 0)
                                   : QColor(255, std::min(step, 255), std::min(step, 255));
        if (ContrastRatio(shade, background) >= kReadableContrast) return shade;
    }
    return light ? QColor(Qt::black) : QColor(Qt::white);
}

}  // namespace tollwick
