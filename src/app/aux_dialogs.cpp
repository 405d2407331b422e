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

CProgressDlg::CProgressDlg() : AuxDialog(kResourceId, QString(), 180, 60, false) {}

}  // namespace tollwick
