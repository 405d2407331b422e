#include "app/file_dialog_seam.h"

#include <QFileDialog>

namespace tollwick {

QStringList QtFileDialogSeam::Filters() {
    return {QStringLiteral("Txt File(*.txt)"), QStringLiteral("All File(*.*)")};
}

QStringList QtFileDialogSeam::ExportFilters() {
    return {QStringLiteral("JSON File(*.json)"), QStringLiteral("All File(*.*)")};
}

std::optional<QString> QtFileDialogSeam::ChooseCardFile(QWidget* parent, Purpose purpose) {
    QFileDialog dialog(parent);
    if (purpose == Purpose::kIssueData || purpose == Purpose::kIssueJournal) {
        const bool data = purpose == Purpose::kIssueData;
        dialog.setWindowTitle(data ? QStringLiteral("Open data file")
                                   : QStringLiteral("Journal of the run"));
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode(data ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
        dialog.setNameFilters(data ? QStringList{QStringLiteral("Data File(*.csv *.jsonl)"),
                                                 QStringLiteral("All File(*.*)")}
                                   : QStringList{QStringLiteral("Journal(*.journal *.db)"),
                                                 QStringLiteral("All File(*.*)")});
    } else if (purpose == Purpose::kExport) {
        dialog.setWindowTitle(QStringLiteral("Export last card"));
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.setNameFilters(ExportFilters());
        dialog.setDefaultSuffix(QStringLiteral("json"));
        dialog.selectFile(QStringLiteral("card.json"));
    } else {
        // An open dialog for both card files; To File may name a file that does not exist yet.
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode(purpose == Purpose::kToFile ? QFileDialog::AnyFile
                                                       : QFileDialog::ExistingFile);
        dialog.setNameFilters(Filters());
        dialog.setDefaultSuffix(QStringLiteral("txt"));
    }
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty()) return std::nullopt;
    return chosen.front();
}

}  // namespace tollwick
