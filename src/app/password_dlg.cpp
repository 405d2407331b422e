#include "app/password_dlg.h"

#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>

#include "app/dialog_layout.h"
#include "app/file_names.h"
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

QString NotStoredText(const std::filesystem::path& profile) {
    return QStringLiteral("The password was not changed: this settings file cannot be written:\n%1")
        .arg(FileNameText(profile));
}

}  // namespace

QString CPasswordDlg::ScopeText() {
    return QStringLiteral(
        "The password locks this desktop program only: tollwick-cli reads and writes cards, and "
        "the same settings file, without asking for it.");
}

CPasswordDlg::CPasswordDlg()
    : AuxDialog(kResourceId, QStringLiteral("Input Password"), 167, 73, true) {
    setWhatsThis(ScopeText());
    setAccessibleDescription(ScopeText());
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
    first_->setFocus();
    EnableMainWindow(false);
}

// Whether the entries are right for the state: a change needs two equal entries; otherwise a
// stored password needs the first entry to match it, and a first password two equal entries.
// A change and a first password are stored before they count as done.
CPasswordDlg::Outcome CPasswordDlg::CheckEntries() {
    const std::string first = Bytes(firstText_);
    const std::string second = Bytes(secondText_);
    if (state_ == kAccepted) {
        if (first != second) return Outcome::kWrong;
        if (!SetStoredPassword(*profile_, first)) return Outcome::kNotStored;
        messageBoxes_->Inform(this, QStringLiteral("Password Change Success!!"));
        return Outcome::kDone;
    }
    if (HasStoredPassword(*profile_)) {
        return CheckStoredPassword(*profile_, first) ? Outcome::kDone : Outcome::kWrong;
    }
    if (first != second) return Outcome::kWrong;
    return SetStoredPassword(*profile_, first) ? Outcome::kDone : Outcome::kNotStored;
}

void CPasswordDlg::accept() {
    if (profile_ == nullptr || messageBoxes_ == nullptr) return;
    UpdateData(true);
    switch (CheckEntries()) {
        case Outcome::kDone:
            break;
        case Outcome::kWrong:
            messageBoxes_->Inform(this, QStringLiteral("Password Error,Enter Password Again!!"));
            ClearEntries();
            return;
        case Outcome::kNotStored:
            // Nothing changed: the dialog stays open; Cancel leaves it.
            messageBoxes_->Inform(this, NotStoredText(profile_->Path()));
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
