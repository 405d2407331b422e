#include "app/file_dialog_seam.h"

#include <QFileDialog>

namespace tollwick {

QStringList QtFileDialogSeam::Filters() {
    return {QStringLiteral("Txt File(*.txt)"), QStringLiteral("All File(*.*)")};
}

std::optional<QString> QtFileDialogSeam::ChooseCardFile(QWidget* parent, Purpose purpose) {
    // An open dialog in both cases; To File may name a file that does not exist yet.
    QFileDialog dialog(parent);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(purpose == Purpose::kToFile ? QFileDialog::AnyFile
                                                   : QFileDialog::ExistingFile);
    dialog.setNameFilters(Filters());
    dialog.setDefaultSuffix(QStringLiteral("txt"));
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty()) return std::nullopt;
    return chosen.front();
}

}  // namespace tollwick
