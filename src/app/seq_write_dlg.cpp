#include "app/seq_write_dlg.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QScreen>

#include "app/dialog_layout.h"

namespace tollwick {
namespace {

QLineEdit* DigitsEdit(int maxLength) {
    auto* edit = new QLineEdit;
    edit->setMaxLength(maxLength);
    edit->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), edit));
    return edit;
}

}  // namespace

CSeqWriteDlg::CSeqWriteDlg()
    : AuxDialog(kResourceId, QStringLiteral("Sequential Wrinte"), 180, 120, true) {
    DialogLayout& l = Layout();
    QLabel* startLabel =
        l.Static(kNoId, QStringLiteral("Staring # :"), 12, 12, 62, 8, QStringLiteral("Staring #"));
    startEdit_ = l.Place(kStart, DigitsEdit(20), 78, 10, 90, 12, QStringLiteral("Staring #"));
    QLabel* totalLabel = l.Static(kNoId, QStringLiteral("Total # of Cards:"), 12, 30, 62, 8,
                                  QStringLiteral("Total # of Cards"));
    totalEdit_ = l.Place(kTotal, DigitsEdit(8), 78, 28, 90, 12, QStringLiteral("Total # of Cards"));
    QLabel* stepLabel = l.Static(kNoId, QStringLiteral("Inc Numbers:"), 12, 48, 62, 8,
                                 QStringLiteral("Inc Numbers"));
    stepEdit_ = l.Place(kStep, DigitsEdit(8), 78, 46, 90, 12, QStringLiteral("Inc Numbers"));
    startLabel->setBuddy(startEdit_);
    totalLabel->setBuddy(totalEdit_);
    stepLabel->setBuddy(stepEdit_);
    QGroupBox* frame = l.GroupBox(kNoId, QStringLiteral("Trace Select"), 12, 63, 156, 26,
                                  QStringLiteral("Trace Select"));
    l.Nest(frame, {l.Radio(kTrack1, QStringLiteral("Track1"), 22, 74, 40, 10, true),
                   l.Radio(kTrack2, QStringLiteral("Track2"), 72, 74, 40, 10, false),
                   l.Radio(kTrack3, QStringLiteral("Track3"), 122, 74, 40, 10, false)});
    tracks_ = l.RadioGroup(0);
    QPushButton* ok = l.PushButton(kOk, QStringLiteral("OK"), 32, 98, 50, 14);
    ok->setDefault(true);
    QPushButton* cancel = l.PushButton(kCancel, QStringLiteral("Cancel"), 98, 98, 50, 14);
    l.FinishTabOrder();
    connect(ok, &QPushButton::clicked, this, &CSeqWriteDlg::accept);
    connect(cancel, &QPushButton::clicked, this, &CSeqWriteDlg::reject);
    UpdateData(false);
}

void CSeqWriteDlg::UpdateData(bool fromControls) {
    if (fromControls) {
        start_ = startEdit_->text();
        total_ = totalEdit_->text();
        step_ = stepEdit_->text();
        track_ = std::max(tracks_->checkedId(), 0);
        return;
    }
    startEdit_->setText(start_);
    totalEdit_->setText(total_);
    stepEdit_->setText(step_);
    if (QAbstractButton* button = tracks_->button(track_)) button->setChecked(true);
}

void CSeqWriteDlg::ShowCentred() {
    show();
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect area = frameGeometry();
        area.moveCenter(screen->availableGeometry().center());
        move(area.topLeft());
    }
    raise();
    activateWindow();
}

void CSeqWriteDlg::accept() {
    emit OkRequested();
}

void CSeqWriteDlg::reject() {
    emit CancelRequested();
    QDialog::reject();
}

}  // namespace tollwick
