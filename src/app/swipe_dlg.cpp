#include "app/swipe_dlg.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QWindow>

#include "app/dialog_layout.h"

namespace tollwick {

CPromptEdit::CPromptEdit(QWidget* parent) : QLineEdit(parent) {
    setReadOnly(true);
    setFrame(false);
    setAlignment(Qt::AlignCenter);
    setAttribute(Qt::WA_TranslucentBackground);
    setAutoFillBackground(false);
}

void CPromptEdit::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setPen(Qt::white);
    painter.setFont(font());
    painter.drawText(rect(), Qt::AlignCenter | Qt::TextSingleLine, text());
}

CSwipeDlg::CSwipeDlg(QWidget* owner) : QDialog(nullptr), owner_(owner) {
    setObjectName(QStringLiteral("dialog_%1").arg(kResourceId));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    layout_ = std::make_unique<DialogLayout>(this, SystemDialogFont(), 84, 72);
    DialogLayout& l = *layout_;
    l.Place(kFirstLine, new CPromptEdit, 7, 7, 68, 12, QStringLiteral("Instruction"));
    l.Place(kSecondLine, new CPromptEdit, 7, 23, 68, 12, QStringLiteral("Swipe counter"));
    auto* count =
        l.Place(kCountLine, new CPromptEdit, 21, 36, 40, 12, QStringLiteral("Card number"));
    count->setFocusPolicy(Qt::ClickFocus);
    QPushButton* cancel = l.PushButton(2, QStringLiteral("Cancel"), 16, 53, 50, 14);
    connect(cancel, &QPushButton::clicked, this, &CSwipeDlg::reject);
    l.FinishTabOrder();
}

CSwipeDlg::~CSwipeDlg() = default;

void CSwipeDlg::SetFillColour(const QColor& colour) {
    fill_ = colour;
    update();
}

void CSwipeDlg::SetLine(int id, const QString& text) {
    if (auto* line = qobject_cast<QLineEdit*>(Control(id))) line->setText(text);
}

void CSwipeDlg::SetLines(const QString& first, const QString& second, const QString& count) {
    SetLine(kFirstLine, first);
    SetLine(kSecondLine, second);
    SetLine(kCountLine, count);
}

QString CSwipeDlg::Line(int id) const {
    const auto* line = qobject_cast<const QLineEdit*>(Control(id));
    return line != nullptr ? line->text() : QString();
}

void CSwipeDlg::CentreOnScreen() {
    const QScreen* screen = owner_ != nullptr ? owner_->screen() : QGuiApplication::primaryScreen();
    if (screen == nullptr) return;
    QRect frame = frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    move(frame.topLeft());
}

QWidget* CSwipeDlg::Control(int id) const {
    return layout_->Control(id);
}

void CSwipeDlg::reject() {
    emit CancelRequested();
    QDialog::reject();
}

void CSwipeDlg::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), fill_);
}

void CSwipeDlg::showEvent(QShowEvent* event) {
    // Owned by the main window, so it stays in front of it, yet not disabled with it.
    if (owner_ != nullptr && windowHandle() != nullptr && owner_->windowHandle() != nullptr) {
        windowHandle()->setTransientParent(owner_->windowHandle());
    }
    QDialog::showEvent(event);
}

}  // namespace tollwick
