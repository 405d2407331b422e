// What assistive technology (a screen reader, AT-SPI on Linux) sees of the program's controls and
// what it can do with them.
#pragma once

#include <QWidget>

namespace tollwick {

// Tells a screen reader a text it should speak now, though the focus is elsewhere: what a live
// region does on the web. It is an invisible object of the notification role whose name is the
// text, shown anew for each text (a screen reader speaks a notification that appears). The
// window keeps its look: the object takes no room and no input.
class Announcer final : public QWidget {
    Q_OBJECT
  public:
    explicit Announcer(QWidget* parent);
    void Announce(const QString& text);
    QString Text() const { return text_; }

  private:
    QString text_;
};

// Toggling a check box or radio button through assistive technology is a click, as with the
// mouse or the space bar: the handlers bound to the click run. (Qt's own interface only flips
// the state, so a data-type radio would be checked without its formats being applied.)
// Installs once; later calls do nothing.
void InstallAccessibleClicks();

}  // namespace tollwick
