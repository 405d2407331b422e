#include "app/dialog_layout.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QWidget>

namespace tollwick {

QString StripMnemonic(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == u'&') {
            if (i + 1 < text.size() && text[i + 1] == u'&') {
                out += u'&';
                ++i;
            }
            continue;
        }
        out += text[i];
    }
    return out;
}

DialogLayout::DialogLayout(QWidget* dialog, const QFont& font, int width, int height)
    : dialog_(dialog), units_(font) {
    dialog_->setFont(font);
    dialog_->setFixedSize(units_.Size(width, height));
}

void DialogLayout::PlaceWidget(int id, QWidget* widget, int x, int y, int w, int h,
                               const QString& accessibleName) {
    widget->setParent(dialog_);
    widget->setGeometry(units_.Rect(x, y, w, h));
    if (id != kNoId) {
        widget->setObjectName(QStringLiteral("id_%1").arg(id));
        byId_[id] = widget;
    }
    widget->setAccessibleName(accessibleName);
    order_.push_back(widget);
}

QPushButton* DialogLayout::PushButton(int id, const QString& text, int x, int y, int w, int h) {
    auto* button = new QPushButton(text);
    return Place(id, button, x, y, w, h, StripMnemonic(text).replace(u'\n', u' '));
}

QRadioButton* DialogLayout::Radio(int id, const QString& text, int x, int y, int w, int h,
                                  bool startsGroup) {
    if (startsGroup || radioGroups_.empty()) {
        auto* group = new QButtonGroup(dialog_);
        group->setExclusive(true);
        radioGroups_.push_back(group);
    }
    QButtonGroup* group = radioGroups_.back();
    auto* radio = new QRadioButton(text);
    group->addButton(radio, static_cast<int>(group->buttons().size()));
    Place(id, radio, x, y, w, h, StripMnemonic(text));
    WidenToText(radio);
    return radio;
}

QCheckBox* DialogLayout::CheckBox(int id, const QString& text, int x, int y, int w, int h) {
    auto* box = new QCheckBox(text);
    Place(id, box, x, y, w, h, StripMnemonic(text));
    WidenToText(box);
    return box;
}

void WidenToText(QAbstractButton* button) {
    // The style's indicator and gap can be wider than the reader's desktop draws them; the text
    // must not be cut.
    const int wanted = button->sizeHint().width();
    if (wanted > button->width()) button->resize(wanted, button->height());
}

QGroupBox* DialogLayout::GroupBox(int id, const QString& title, int x, int y, int w, int h,
                                  const QString& accessibleName) {
    auto* box = new QGroupBox(title);
    // A frame is drawn over the controls it frames but never takes their clicks.
    box->setAttribute(Qt::WA_TransparentForMouseEvents);
    box->setFocusPolicy(Qt::NoFocus);
    return Place(id, box, x, y, w, h, accessibleName);
}

QLabel* DialogLayout::Static(int id, const QString& text, int x, int y, int w, int h,
                             const QString& accessibleName) {
    auto* label = new QLabel(text);
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setWordWrap(true);
    label->setAttribute(Qt::WA_TransparentForMouseEvents);
    return Place(id, label, x, y, w, h, accessibleName);
}

QLabel* DialogLayout::StatusStatic(int id, const QString& text, int x, int y, int w, int h,
                                   const QString& description) {
    QLabel* label = Static(id, text, x, y, w, h, description);
    label->setAccessibleDescription(description);
    return label;
}

void SetStatusText(QLabel* label, const QString& text) {
    label->setText(text);
    // A change of the name is announced for the line that has the screen reader's attention.
    label->setAccessibleName(label->accessibleDescription() + QStringLiteral(": ") +
                             (text.isEmpty() ? QStringLiteral("none") : text));
}

void DialogLayout::Nest(QGroupBox* group, std::initializer_list<QWidget*> controls) {
    // A transparent widget hides its children from the mouse as well.
    group->setAttribute(Qt::WA_TransparentForMouseEvents, false);
    for (QWidget* control : controls) {
        const QRect place = control->geometry();
        control->setParent(group);
        control->setGeometry(place.translated(-group->pos()));
    }
}

QButtonGroup* DialogLayout::RadioGroup(int index) const {
    if (index < 0 || index >= static_cast<int>(radioGroups_.size())) return nullptr;
    return radioGroups_[static_cast<std::size_t>(index)];
}

QWidget* DialogLayout::Control(int id) const {
    const auto it = byId_.find(id);
    return it == byId_.end() ? nullptr : it->second;
}

void DialogLayout::FinishTabOrder() {
    QWidget* previous = nullptr;
    for (QWidget* widget : order_) {
        if (!(widget->focusPolicy() & Qt::TabFocus)) continue;
        if (previous != nullptr) QWidget::setTabOrder(previous, widget);
        previous = widget;
    }
}

}  // namespace tollwick
