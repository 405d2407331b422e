// The file dialogs of the card-file jobs and of Export last card go through this seam, so that
// tests can answer them.
#pragma once

#include <QString>
#include <optional>

class QWidget;

namespace tollwick {

class FileDialogSeam {
  public:
    enum class Purpose {
        kToFile,        // a file that does not exist yet may be named
        kFromFile,      // an existing file
        kExport,        // a JSON file to save (an existing one is replaced, after asking)
        kIssueData,     // Issue cards: an existing CSV or JSON-lines file
        kIssueJournal,  // Issue cards: a journal, existing (to resume) or new
    };
    virtual ~FileDialogSeam() = default;
    // The path the operator chose, or nothing when the dialog was cancelled.
    virtual std::optional<QString> ChooseCardFile(QWidget* parent, Purpose purpose) = 0;
};

// The program's open-file dialog: "Txt File(*.txt)" and "All File(*.*)", no initial name. The
// export gets a save dialog for "JSON File(*.json)".
class QtFileDialogSeam final : public FileDialogSeam {
  public:
    static QStringList Filters();
    static QStringList ExportFilters();
    std::optional<QString> ChooseCardFile(QWidget* parent, Purpose purpose) override;
};

}  // namespace tollwick
