// The auxiliary windows that the main window creates once, hidden, and keeps for its life. Each
// stands on its own on the desktop; their controls and behaviour come with their jobs.
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

class CEraseSelectDlg : public AuxDialog {
    Q_OBJECT
  public:
    static constexpr int kResourceId = 131;
    CEraseSelectDlg();
};

class CSeqWriteDlg : public AuxDialog {
    Q_OBJECT
  public:
    static constexpr int kResourceId = 132;
    CSeqWriteDlg();
};

class CSetupDlg : public AuxDialog {
    Q_OBJECT
  public:
    static constexpr int kResourceId = 133;
    CSetupDlg();
};

// Created with the others, never shown by any operation of the program.
class CProgressDlg : public AuxDialog {
    Q_OBJECT
  public:
    static constexpr int kResourceId = 134;
    CProgressDlg();
};

class CPasswordDlg : public AuxDialog {
    Q_OBJECT
  public:
    static constexpr int kResourceId = 135;
    CPasswordDlg();
};

}  // namespace tollwick
