// Colours that stay readable on whatever palette the desktop gives the program.
#pragma once

#include <QColor>

namespace tollwick {

// The contrast ratio of two opaque colours as WCAG 2 defines it, (L1 + 0.05) / (L2 + 0.05) with
// L the relative luminance of the lighter and the darker colour: 1 for equal colours, 21 for
// black on white.
double ContrastRatio(const QColor& a, const QColor& b);

// WCAG AA for text of normal size.
inline constexpr double kReadableContrast = 4.5;

// The message line's red on `background`: pure red when it reads well enough there, else the
// red nearest to it that does (at least kReadableContrast): darker on a light background,
// lighter (towards pink) on a dark one.
QColor ReadableRed(const QColor& background);

}  // namespace tollwick
