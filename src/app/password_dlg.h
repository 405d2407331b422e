// The program password: asked for at start-up when one is stored (Cancel ends the program), and
// set or changed from the main window's Change Logo ID button. One dialog, two layouts: the
// start-up entry shows one field, the set or change entry two.
//
// It locks this desktop program only: tollwick-cli reads and writes cards, and the same profile,
// without asking for it. The dialog and the Change Logo ID button say so (ScopeText) in their
// tooltip and What's This help, and to assistive technology.
#pragma once

#include <QString>
#include <cstdint>
#include <functional>

#include "app/aux_dialogs.h"

class QLabel;
class QLineEdit;

namespace tollwick {

class MessageBoxSeam;
class ProfileStore;

namespace passwordid {
inline constexpr int kOk = 1;
inline constexpr int kCancel = 2;
inline constexpr int kFirstEntry = 1005;
inline constexpr int kSecondEntry = 1006;
inline constexpr int kFirstLabel = 1035;
inline constexpr int kSecondLabel = 1036;
}  // namespace passwordid

class CPasswordDlg : public AuxDialog {
    Q_OBJECT
  public:
    static constexpr int kResourceId = 135;
    static constexpr int kEntryLimit = 12;
    // What the password protects, and what it does not.
    static QString ScopeText();

    // What happened in this run.
    enum State : uint8_t {
        kNone = 0,       // no password accepted or set yet
        kCancelled = 1,  // the dialog was cancelled
        kAccepted = 2,   // the password was accepted or set
    };

    CPasswordDlg();
    ~CPasswordDlg() override;

    // `enableMainWindow` enables or disables the main window; all three outlive the dialog.
    void Bind(ProfileStore& profile, MessageBoxSeam& messageBoxes,
              std::function<void(bool)> enableMainWindow);

    // At start-up, with a stored password: the one-field layout, in front, the main window
    // disabled.
    void ShowStartupEntry();
    // Change Logo ID: the two-field layout; sets a first password or changes the stored one.
    void ShowChangeEntry();

    State PasswordState() const { return state_; }

  signals:
    // OK accepted the entry (kAccepted) or Cancel closed the dialog (kCancelled).
    void StateChanged(int state);

  public slots:
    void accept() override;  // OK
    void reject() override;  // Cancel and the close box

  private:
    ProfileStore* profile_ = nullptr;
    MessageBoxSeam* messageBoxes_ = nullptr;
    std::function<void(bool)> enableMainWindow_;
    QLineEdit* first_ = nullptr;
    QLineEdit* second_ = nullptr;
    QLabel* firstLabel_ = nullptr;
    QLabel* secondLabel_ = nullptr;
    State state_ = kNone;

    // Data-exchange values.
    QString firstText_;
    QString secondText_;

    void UpdateData(bool fromControls);
    void ClearEntries();
    void CentreOnScreen();
    void EnableMainWindow(bool on);
    enum class Outcome { kDone, kWrong, kNotStored };
    Outcome CheckEntries();
};

}  // namespace tollwick
