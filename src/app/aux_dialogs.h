// The auxiliary windows that the main window creates once, hidden, and keeps for its life. Each
// stands on its own on the desktop; their controls and behaviour come with their jobs. Setup,
// Erase Select, Sequential Write and the password dialog have their own headers.
#pragma once

#include <QDialog>
#include <memory>

namespace tollwick {

class DialogLayout;

// Common frame of an auxiliary window: resource id, caption, font and size in dialog units.
class AuxDialog : public QDialog {
    Q_OBJECT
  public:
    ~AuxDialog() override;
    int ResourceId() const { return resourceId_; }
    QWidget* Control(int id) const;

  protected:
    AuxDialog(int resourceId, const QString& title, int width, int height, bool caption);
    DialogLayout& Layout() { return *layout_; }

  private:
    int resourceId_;
    std::unique_ptr<DialogLayout> layout_;
};

// Created with the others, never shown by any operation of the program.
class CProgressDlg : public AuxDialog {
    Q_OBJECT
  public:
    static constexpr int kResourceId = 134;
    CProgressDlg();
};

}  // namespace tollwick
