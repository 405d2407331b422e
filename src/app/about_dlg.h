// The About box: "K47", the program icon, two text lines and "ENTER".
#pragma once

#include <QDialog>
#include <memory>

namespace tollwick {

class DialogLayout;

class CAboutDlg : public QDialog {
    Q_OBJECT
  public:
    static constexpr int kResourceId = 100;

    explicit CAboutDlg(QWidget* parent = nullptr);
    ~CAboutDlg() override;

    QWidget* Control(int id) const;

  private:
    std::unique_ptr<DialogLayout> layout_;
};

}  // namespace tollwick
