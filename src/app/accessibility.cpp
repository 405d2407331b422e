#include "app/accessibility.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QCheckBox>
#include <QKeySequence>
#include <QRadioButton>

#include "app/dialog_layout.h"

namespace tollwick {
namespace {

class ClickedByToggle final : public QAccessibleWidget {
  public:
    ClickedByToggle(QAbstractButton* button, QAccessible::Role role)
        : QAccessibleWidget(button, role) {}

    QAccessible::State state() const override {
        QAccessible::State state = QAccessibleWidget::state();
        const QAbstractButton* button = Button();
        state.checkable = true;
        if (const auto* box = qobject_cast<const QCheckBox*>(button)) {
            state.checked = box->checkState() == Qt::Checked;
            state.checkStateMixed = box->checkState() == Qt::PartiallyChecked;
        } else {
            state.checked = button->isChecked();
        }
        state.pressed = button->isDown();
        return state;
    }

    QString text(QAccessible::Text t) const override {
        switch (t) {
            case QAccessible::Name: {
                const QString name = widget()->accessibleName();
                return name.isEmpty() ? StripMnemonic(Button()->text()) : name;
            }
            case QAccessible::Accelerator:
                return QKeySequence::mnemonic(Button()->text()).toString(QKeySequence::NativeText);
            default:
                return QAccessibleWidget::text(t);
        }
    }

    QStringList actionNames() const override {
        QStringList names;
        if (widget()->isEnabled()) names << toggleAction();
        return names + QAccessibleWidget::actionNames();
    }

    void doAction(const QString& action) override {
        if (action != toggleAction()) {
            QAccessibleWidget::doAction(action);
            return;
        }
        if (widget()->isEnabled()) Button()->click();
    }

    QStringList keyBindingsForAction(const QString& action) const override {
        if (action == toggleAction()) {
            const QKeySequence key = QKeySequence::mnemonic(Button()->text());
            if (!key.isEmpty()) return {key.toString(QKeySequence::NativeText)};
        }
        return QAccessibleWidget::keyBindingsForAction(action);
    }

  private:
    QAbstractButton* Button() const { return static_cast<QAbstractButton*>(widget()); }
};

class NotificationInterface final : public QAccessibleWidget {
  public:
    explicit NotificationInterface(Announcer* announcer)
        : QAccessibleWidget(announcer, QAccessible::Notification) {}
    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Name) return static_cast<Announcer*>(widget())->Text();
        return QAccessibleWidget::text(t);
    }
};

QAccessibleInterface* ButtonFactory(const QString& className, QObject* object) {
    if (className == QLatin1String("tollwick::Announcer")) {
        return new NotificationInterface(static_cast<Announcer*>(object));
    }
    if (className == QLatin1String("QCheckBox")) {
        return new ClickedByToggle(static_cast<QCheckBox*>(object), QAccessible::CheckBox);
    }
    if (className == QLatin1String("QRadioButton")) {
        return new ClickedByToggle(static_cast<QRadioButton*>(object), QAccessible::RadioButton);
    }
    return nullptr;
}

}  // namespace

Announcer::Announcer(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("announcer"));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
    setGeometry(0, 0, 0, 0);
    InstallAccessibleClicks();  // the factory that gives it its role
}

void Announcer::Announce(const QString& text) {
    if (text.isEmpty()) return;  // an emptied line has nothing to say
    text_ = text;
    // Hidden and shown again: the screen reader hears a new notification, also of the same text.
    setVisible(false);
    setVisible(true);
}

void InstallAccessibleClicks() {
    // Installing the same factory again does nothing.
    QAccessible::installFactory(ButtonFactory);
}

}  // namespace tollwick
