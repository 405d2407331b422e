// Places the controls of one dialog template: positions in dialog units, controls addressed by
// their ids (object name "id_<number>"), tab order and radio groups in template order.
#pragma once

#include <QString>
#include <initializer_list>
#include <map>
#include <vector>

#include "app/dialog_units.h"

class QAbstractButton;
class QButtonGroup;
class QCheckBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QRadioButton;
class QWidget;

namespace tollwick {

// Controls without an id of their own.
inline constexpr int kNoId = -1;

// "&Hi-Co" -> "Hi-Co", "A&&B" -> "A&B".
QString StripMnemonic(const QString& text);

// Makes a radio button or check box wide enough for its indicator and whole text.
void WidenToText(QAbstractButton* button);

// Sets the text of a status static and the name a screen reader announces for it: what the line
// is, then what it shows ("Track1 characters: 9", "Connection: none" while it is empty).
void SetStatusText(QLabel* label, const QString& text);

class DialogLayout {
  public:
    // Gives `dialog` the template font and its client size in dialog units, fixed.
    DialogLayout(QWidget* dialog, const QFont& font, int width, int height);

    const DialogUnits& Units() const { return units_; }

    // Puts `widget` (a child of the dialog) at x y w h, names it by its id and gives it an
    // accessible name; controls that take the keyboard focus join the tab order in this order.
    template <class W>
    W* Place(int id, W* widget, int x, int y, int w, int h, const QString& accessibleName) {
        PlaceWidget(id, widget, x, y, w, h, accessibleName);
        return widget;
    }

    QPushButton* PushButton(int id, const QString& text, int x, int y, int w, int h);
    // A radio button that starts a group begins a new exclusive group; the others join the
    // latest one. The position in the group is the button's id in its QButtonGroup.
    QRadioButton* Radio(int id, const QString& text, int x, int y, int w, int h, bool startsGroup);
    QCheckBox* CheckBox(int id, const QString& text, int x, int y, int w, int h);
    QGroupBox* GroupBox(int id, const QString& title, int x, int y, int w, int h,
                        const QString& accessibleName);
    QLabel* Static(int id, const QString& text, int x, int y, int w, int h,
                   const QString& accessibleName);
    // A static whose text the program changes (a counter, a status line); `description` says
    // what the line is. Set its text with SetStatusText.
    QLabel* StatusStatic(int id, const QString& text, int x, int y, int w, int h,
                         const QString& description);

    // Makes the group box the parent of the controls inside its frame, so that assistive
    // technology announces them within the named group. They keep their places on the screen
    // and in the tab order; the frame then passes clicks on to them.
    void Nest(QGroupBox* group, std::initializer_list<QWidget*> controls);

    QButtonGroup* RadioGroup(int index) const;
    QWidget* Control(int id) const;

    // Chains the tab order through the focusable controls in the order they were placed.
    void FinishTabOrder();

  private:
    QWidget* dialog_;
    DialogUnits units_;
    std::map<int, QWidget*> byId_;
    std::vector<QWidget*> order_;
    std::vector<QButtonGroup*> radioGroups_;

    void PlaceWidget(int id, QWidget* widget, int x, int y, int w, int h,
                     const QString& accessibleName);
};

}  // namespace tollwick
