#include "app/password_dlg.h"

#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>

#include "app/dialog_layout.h"
#include "app/message_box_seam.h"
#include "settings/password_hash.h"
#include "settings/profile_store.h"

namespace tollwick {
namespace {

using namespace passwordid;

QLineEdit* MaskedEntry() {
    auto* edit = new QLineEdit;
    edit->setEchoMode(QLineEdit::Password);
    edit->setMaxLength(CPasswordDlg::kEntryLimit);
    return edit;
}

std::string Bytes(const QString& text) {
    return text.toStdString();
}

}  // namespace

CPasswordDlg::CPasswordDlg()
    : AuxDialog(kResourceId, QStringLiteral("Input Password"), 167, 73, true) {
    DialogLayout& l = Layout();
    QPushButton* ok = l.PushButton(kOk, QStringLiteral("OK"), 89, 48, 50, 14);
    ok->setDefault(true);
    QPushButton* cancel = l.PushButton(kCancel, QStringLiteral("Cancel"), 29, 48, 50, 14);
    // The labels change with the layout; assistive technology reads what they show.
    firstLabel_ = l.Static(kFirstLabel, QStringLiteral("Enter Password:"), 13, 13, 54, 8, {});
    secondLabel_ = l.Static(kSecondLabel, QStringLiteral("Re-Enter Password:"), 13, 30, 65, 8, {});
    first_ = l.Place(kFirstEntry, MaskedEntry(), 84, 9, 65, 14, QStringLiteral("Password"));
    second_ =
        l.Place(kSecondEntry, MaskedEntry(), 84, 26, 65, 14, QStringLiteral("Password again"));
    firstLabel_->setBuddy(first_);
    secondLabel_->setBuddy(second_);
    l.FinishTabOrder();
    connect(ok, &QPushButton::clicked, this, &CPasswordDlg::accept);
    connect(cancel, &QPushButton::clicked, this, &CPasswordDlg::reject);
}

CPasswordDlg::~CPasswordDlg() = default;

void CPasswordDlg::Bind(ProfileStore& profile, MessageBoxSeam& messageBoxes,
                        std::function<void(bool)> enableMainWindow) {
    profile_ = &profile;
    messageBoxes_ = &messageBoxes;
    enableMainWindow_ = std::move(enableMainWindow);
}

void CPasswordDlg::UpdateData(bool fromControls) {
    if (fromControls) {
        firstText_ = first_->text();
        secondText_ = second_->text();
        return;
    }
    if (first_->text() != firstText_) first_->setText(firstText_);
    if (second_->text() != secondText_) second_->setText(secondText_);
}

void CPasswordDlg::ClearEntries() {
    firstText_.clear();
    secondText_.clear();
    UpdateData(false);
}

void CPasswordDlg::CentreOnScreen() {
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect area = frameGeometry();
        area.moveCenter(screen->availableGeometry().center());
        move(area.topLeft());
    }
}

void CPasswordDlg::EnableMainWindow(bool on) {
    if (enableMainWindow_) enableMainWindow_(on);
}

void CPasswordDlg::ShowStartupEntry() {
    CentreOnScreen();
    show();
    EnableMainWindow(false);
    raise();
    activateWindow();
    first_->setFocus();
    firstLabel_->setText(QStringLiteral("Enter Password:"));
    secondLabel_->setText(QString());
    first_->show();
    second_->hide();
}

void CPasswordDlg::ShowChangeEntry() {
    firstLabel_->setText(QStringLiteral("Enter Password:"));
    secondLabel_->setText(QStringLiteral("RE-Enter Password:"));
    first_->show();
    second_->show();
    CentreOnScreen();
    show();
    raise();
    activateWindow();
    EnableMainWindow(false);
}

// Whether the entries are right for the state: a change needs two equal entries; otherwise a
// stored password needs the first entry to match it, and a first password two equal entries.
bool CPasswordDlg::CheckEntries() {
    const std::string first = Bytes(firstText_);
    const std::string second = Bytes(secondText_);
    if (state_ == kAccepted) {
        if (first != second) return false;
        messageBoxes_->Inform(this, QStringLiteral("Password Change Success!!"));
        SetStoredPassword(*profile_, first);
        return true;
    }
    if (HasStoredPassword(*profile_)) return CheckStoredPassword(*profile_, first);
    if (first != second) return false;
    SetStoredPassword(*profile_, first);
    return true;
}

void CPasswordDlg::accept() {
    if (profile_ == nullptr || messageBoxes_ == nullptr) return;
    UpdateData(true);
    if (!CheckEntries()) {
        messageBoxes_->Inform(this, QStringLiteral("Password Error,Enter Password Again!!"));
        ClearEntries();
        return;
    }
    state_ = kAccepted;
    ClearEntries();
    EnableMainWindow(true);
    hide();
    emit StateChanged(state_);
}

void CPasswordDlg::reject() {
    state_ = kCancelled;
    // A typed password does not wait in the hidden fields for the next use.
    ClearEntries();
    EnableMainWindow(true);
    hide();
    emit StateChanged(state_);
}

}  // namespace tollwick
