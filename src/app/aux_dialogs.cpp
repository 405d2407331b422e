#include "app/aux_dialogs.h"

#include "app/dialog_layout.h"

namespace tollwick {

AuxDialog::AuxDialog(int resourceId, const QString& title, int width, int height, bool caption)
    : QDialog(nullptr), resourceId_(resourceId) {
    setObjectName(QStringLiteral("dialog_%1").arg(resourceId));
    setWindowTitle(title);
    if (caption) {
        setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                       Qt::WindowCloseButtonHint);
    } else {
        setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    }
    layout_ = std::make_unique<DialogLayout>(this, SystemDialogFont(), width, height);
}

AuxDialog::~AuxDialog() = default;

QWidget* AuxDialog::Control(int id) const {
    return layout_->Control(id);
}

CEraseSelectDlg::CEraseSelectDlg()
    : AuxDialog(kResourceId, QStringLiteral("Erase Select"), 100, 98, true) {}

CSeqWriteDlg::CSeqWriteDlg()
    : AuxDialog(kResourceId, QStringLiteral("Sequential Wrinte"), 180, 120, true) {}

CSetupDlg::CSetupDlg() : AuxDialog(kResourceId, QStringLiteral("Setup"), 317, 128, true) {}

CProgressDlg::CProgressDlg() : AuxDialog(kResourceId, QString(), 180, 60, false) {}

CPasswordDlg::CPasswordDlg()
    : AuxDialog(kResourceId, QStringLiteral("Input Password"), 167, 73, true) {}

}  // namespace tollwick
