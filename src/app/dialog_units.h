// Dialog-unit layout as the reader's Windows program was drawn: positions and sizes of every
// dialog are given in dialog units, which depend on the dialog's font.
#pragma once

#include <QFont>
#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>

namespace tollwick {

// Converts dialog units to pixels the way Windows does for a dialog with its own font:
// x px = du_x * avgCharWidth / 4 and y px = du_y * charHeight / 8, each rounded to the nearest
// pixel, where avgCharWidth is the rounded mean advance of the 52 Latin letters and charHeight
// the font's line height.
class DialogUnits {
  public:
    explicit DialogUnits(const QFont& font);
    DialogUnits(int avgCharWidth, int charHeight) : baseX_(avgCharWidth), baseY_(charHeight) {}

    int BaseX() const { return baseX_; }
    int BaseY() const { return baseY_; }

    int X(int du) const;
    int Y(int du) const;
    QRect Rect(int x, int y, int w, int h) const { return QRect(X(x), Y(y), X(w), Y(h)); }
    QSize Size(int w, int h) const { return QSize(X(w), Y(h)); }

  private:
    int baseX_;
    int baseY_;
};

// The first of `families` that the font database knows, or an empty string.
QString FirstAvailableFamily(const QStringList& families);

// The template font of the main window and the About box: 宋体 9 point, or the closest CJK font
// installed (the About texts are Chinese), or the default sans-serif font.
QFont TemplateFont();

// The "System" 10 point font of the small dialogs: a bold sans-serif of that size.
QFont SystemDialogFont();

// The font of the message line and the track boxes: Arial (or the nearest installed sans-serif),
// regular, 11 pixels high at 96 dpi and scaled with the desktop's fonts.
inline constexpr int kTrackFontPixels = 11;
QFont TrackFont();

}  // namespace tollwick
