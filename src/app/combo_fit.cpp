#include "app/combo_fit.h"

#include <QApplication>
#include <QComboBox>
#include <QFontMetrics>
#include <QLineEdit>
#include <QProxyStyle>
#include <QStyleFactory>
#include <QStyleOptionComboBox>
#include <algorithm>

namespace tollwick {
namespace {

constexpr int kArrowWidth = 12;
constexpr double kSmallestPoints = 7.0;
// QLineEdit keeps 2 pixels free on each side of its text, and one for the caret.
constexpr int kLineEditMargins = 5;

// The application's style with the combo's arrow cut down to kArrowWidth; the text field takes
// what the arrow gives up.
class NarrowArrowStyle final : public QProxyStyle {
  public:
    NarrowArrowStyle() : QProxyStyle(QStyleFactory::create(QApplication::style()->name())) {}

    QRect subControlRect(ComplexControl control, const QStyleOptionComplex* option, SubControl sub,
                         const QWidget* widget) const override {
        QRect rect = QProxyStyle::subControlRect(control, option, sub, widget);
        if (control != CC_ComboBox) return rect;
        const QRect arrow = QProxyStyle::subControlRect(control, option, SC_ComboBoxArrow, widget);
        const int gain = std::max(0, arrow.width() - kArrowWidth);
        if (sub == SC_ComboBoxArrow) rect.setLeft(rect.left() + gain);
        if (sub == SC_ComboBoxEditField) rect.setRight(rect.right() + gain);
        return rect;
    }
};

QStyle* NarrowArrow() {
    // One for the program's life, for every combo that asks for it.
    static QStyle* style = [] {
        auto* s = new NarrowArrowStyle;
        s->setParent(qApp);
        return s;
    }();
    return style;
}

int NeedIn(const QComboBox* combo, const QFont& font) {
    const QFontMetrics metrics(font);
    int widest = 0;
    for (int i = 0; i < combo->count(); ++i)
        widest = std::max(widest, metrics.horizontalAdvance(combo->itemText(i)));
    return widest;
}

}  // namespace

void UseNarrowArrow(QComboBox* combo) {
    combo->setStyle(NarrowArrow());
}

int ComboTextRoom(const QComboBox* combo) {
    QStyleOptionComboBox option;
    option.initFrom(combo);
    option.editable = combo->isEditable();
    option.frame = combo->hasFrame();
    const QRect field = combo->style()->subControlRect(QStyle::CC_ComboBox, &option,
                                                       QStyle::SC_ComboBoxEditField, combo);
    return field.width() - kLineEditMargins;
}

int ComboTextNeed(const QComboBox* combo) {
    return NeedIn(combo, combo->lineEdit() != nullptr ? combo->lineEdit()->font() : combo->font());
}

void FitTextToCombo(QComboBox* combo) {
    QLineEdit* edit = combo->lineEdit();
    if (edit == nullptr) return;
    const int room = ComboTextRoom(combo);
    QFont font = combo->font();
    const auto fits = [&] { return NeedIn(combo, font) <= room; };
    if (!fits()) font.setWeight(QFont::Normal);
    if (!fits()) font.setStretch(QFont::Condensed);
    while (!fits() && font.pointSizeF() - 0.5 >= kSmallestPoints)
        font.setPointSizeF(font.pointSizeF() - 0.5);
    edit->setFont(font);
    edit->setCursorPosition(0);  // what still does not fit is cut at its end, not its start
}

}  // namespace tollwick
