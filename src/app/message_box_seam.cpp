#include "app/message_box_seam.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

namespace tollwick {

void QtMessageBoxSeam::Inform(QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, QApplication::applicationName(), text, QMessageBox::Ok,
                    parent);
    box.exec();
}

bool QtMessageBoxSeam::Ask(QWidget* parent, const QString& text, const QString& yes,
                           const QString& no) {
    QMessageBox box(QMessageBox::Question, QApplication::applicationName(), text,
                    QMessageBox::NoButton, parent);
    QPushButton* accept = box.addButton(yes, QMessageBox::AcceptRole);
    box.addButton(no, QMessageBox::RejectRole);
    box.exec();
    return box.clickedButton() == accept;
}

}  // namespace tollwick
