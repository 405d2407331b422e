// What the main window's context menu adds to the card jobs, each with a shortcut that works in
// every window of the program:
//   "Inspector…" (Ctrl+I)             the Inspector window for the last card read, opened where
//                                      it was last closed (profile key INSPECTOR), else beside
//                                      the main window, sized to its content;
//   "Export last card…" (Ctrl+Shift+E) the last card read saved as JSON (jobs/card_export.h),
//                                      account numbers as the Inspector's "Show account numbers"
//                                      shows them;
//   "Verify after write"              a switch, stored in the profile under VERIFY ("1"/"0",
//                                      off when missing): every card the reader reports written is
//                                      read back and compared before it is counted.
// The window of the card jobs itself is unchanged; with the switch off the jobs run as ever.
#pragma once

#include <QObject>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <memory>
#include <optional>

#include "app/file_dialog_seam.h"
#include "jobs/job_flags.h"

class QAction;

namespace tollwick {

class CTollwickDlg;
class InspectorWindow;
class MessageBoxSeam;
class ProfileStore;

// Where a window of `size` goes beside the window framed by `beside` on a screen whose free area
// is `free`: on its right, else on its left, else as far right as the screen allows; level with
// its top, and on the screen.
QPoint PlaceBeside(const QRect& beside, const QSize& size, const QRect& free);

class CardTools final : public QObject {
    Q_OBJECT
  public:
    // Reads the stored switch into flags.verifyAfterWrite and puts the entries into the
    // window's context menu. Everything given outlives this object.
    CardTools(CTollwickDlg& window, JobFlags& flags, ProfileStore& profile,
              MessageBoxSeam& messageBoxes, QObject* parent = nullptr);
    ~CardTools() override;

    // Tests answer the export's file dialog through their own seam.
    void SetFileDialogs(FileDialogSeam& dialogs) { dialogs_ = &dialogs; }

    // On the window's thread: a card the reader delivered (any job, any outcome).
    void OnCardRead(const CardCapture& capture);
    const std::optional<CardCapture>& LastCard() const { return last_; }

    void ShowInspector();
    // Asks for a file and saves the last card read there; says why when it cannot.
    void ExportLastCard();
    void SetVerifyAfterWrite(bool on);

    InspectorWindow& Inspector();
    bool InspectorBuilt() const { return inspector_ != nullptr; }
    QAction* InspectorAction() const { return inspectorAction_; }
    QAction* ExportAction() const { return exportAction_; }
    QAction* VerifyAction() const { return verifyAction_; }

    static QString NoCardText();
    static QString ExportFailedText(const QString& path, const QString& reason);
    static QString VerifyNotStoredText();

  private:
    CTollwickDlg& window_;
    JobFlags& flags_;
    ProfileStore& profile_;
    MessageBoxSeam& messageBoxes_;
    QtFileDialogSeam ownDialogs_;
    FileDialogSeam* dialogs_ = &ownDialogs_;
    std::unique_ptr<InspectorWindow> inspector_;
    std::optional<CardCapture> last_;
    QAction* inspectorAction_ = nullptr;
    QAction* exportAction_ = nullptr;
    QAction* verifyAction_ = nullptr;
    bool inspectorPlaced_ = false;

    // The first time the Inspector is shown: where it was last closed, or sized to its content
    // beside the main window. Its place is kept in the profile each time it is closed.
    void PlaceInspector();
    bool eventFilter(QObject* watched, QEvent* event) override;
};

}  // namespace tollwick
