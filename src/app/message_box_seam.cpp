#include "app/message_box_seam.h"

#include <QApplication>
#include <QMessageBox>

namespace tollwick {

void QtMessageBoxSeam::Inform(QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, QApplication::applicationName(), text, QMessageBox::Ok,
                    parent);
    box.exec();
}

}  // namespace tollwick
