// The file dialog of the card-file jobs goes through this seam, so that tests can answer it.
#pragma once

#include <QString>
#include <optional>

class QWidget;

namespace tollwick {

class FileDialogSeam {
  public:
    enum class Purpose {
        kToFile,    // a file that does not exist yet may be named
        kFromFile,  // an existing file
    };
    virtual ~FileDialogSeam() = default;
    // The path the operator chose, or nothing when the dialog was cancelled.
    virtual std::optional<QString> ChooseCardFile(QWidget* parent, Purpose purpose) = 0;
};

// The program's open-file dialog: "Txt File(*.txt)" and "All File(*.*)", no initial name.
class QtFileDialogSeam final : public FileDialogSeam {
  public:
    static QStringList Filters();
    std::optional<QString> ChooseCardFile(QWidget* parent, Purpose purpose) override;
};

}  // namespace tollwick
