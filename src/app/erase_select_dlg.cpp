#include "app/erase_select_dlg.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QGuiApplication>
#include <QPushButton>
#include <QScreen>

#include "app/dialog_layout.h"
#include "app/message_box_seam.h"

namespace tollwick {

using namespace eraseid;

CEraseSelectDlg::CEraseSelectDlg()
    : AuxDialog(kResourceId, QStringLiteral("Erase Select"), 100, 98, true) {
    DialogLayout& l = Layout();
    QPushButton* ok = l.PushButton(kOk, QStringLiteral("OK"), 51, 71, 40, 20);
    QPushButton* cancel = l.PushButton(kCancel, QStringLiteral("Cancel"), 7, 71, 41, 20);
    QGroupBox* frame =
        l.GroupBox(kNoId, QString(), 7, 7, 84, 59, QStringLiteral("Tracks to erase"));
    boxes_[0] = l.CheckBox(kTrack1, QStringLiteral("Track1"), 19, 16, 38, 10);
    boxes_[1] = l.CheckBox(kTrack2, QStringLiteral("Track2"), 19, 31, 38, 10);
    boxes_[2] = l.CheckBox(kTrack3, QStringLiteral("Track3"), 19, 47, 38, 10);
    l.Nest(frame, {boxes_[0], boxes_[1], boxes_[2]});
    l.FinishTabOrder();

    for (std::size_t i = 0; i < 3; ++i) {
        const auto bit = static_cast<uint8_t>(1u << i);
        connect(boxes_[i], &QCheckBox::clicked, this, [this, bit](bool ticked) {
            SetMask(static_cast<uint8_t>(ticked ? (eraseMask_ | bit) : (eraseMask_ & ~bit)));
        });
    }
    connect(ok, &QPushButton::clicked, this, &CEraseSelectDlg::accept);
    connect(cancel, &QPushButton::clicked, this, &CEraseSelectDlg::reject);
}

CEraseSelectDlg::~CEraseSelectDlg() = default;

void CEraseSelectDlg::Bind(MessageBoxSeam& messageBoxes, Hooks hooks) {
    messageBoxes_ = &messageBoxes;
    hooks_ = std::move(hooks);
}

void CEraseSelectDlg::UpdateData(bool fromControls) {
    for (std::size_t i = 0; i < 3; ++i) {
        if (fromControls) {
            checked_[i] = boxes_[i]->isChecked() ? 1 : 0;
        } else {
            boxes_[i]->setChecked(checked_[i] != 0);
        }
    }
}

// Showing and hiding leave every box unticked.
void CEraseSelectDlg::Untick() {
    UpdateData(true);
    checked_ = {};
    UpdateData(false);
}

void CEraseSelectDlg::showEvent(QShowEvent* event) {
    AuxDialog::showEvent(event);
    Untick();
}

void CEraseSelectDlg::hideEvent(QHideEvent* event) {
    AuxDialog::hideEvent(event);
    Untick();
}

void CEraseSelectDlg::SetMask(uint8_t mask) {
    eraseMask_ = mask;
    if (hooks_.maskChanged) hooks_.maskChanged(mask);
}

void CEraseSelectDlg::Open() {
    SetMask(0);
    show();
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect area = frameGeometry();
        area.moveCenter(screen->availableGeometry().center());
        move(area.topLeft());
    }
    if (hooks_.opened) hooks_.opened();
}

void CEraseSelectDlg::accept() {
    if (eraseMask_ == 0) {
        if (messageBoxes_ != nullptr) {
            messageBoxes_->Inform(this, QStringLiteral("Please Select Erase Trace Number"));
        }
        return;
    }
    // Without a started worker the dialog stays open.
    if (!hooks_.startErase || !hooks_.startErase(eraseMask_)) return;
    UpdateData(true);
    QDialog::accept();
}

void CEraseSelectDlg::reject() {
    if (hooks_.cancelled) hooks_.cancelled();
    QDialog::reject();
}

}  // namespace tollwick
