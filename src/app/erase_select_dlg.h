// Erase Select: the operator ticks the tracks to erase and starts the erase job, which wipes
// them on one card after another until its swipe window is cancelled.
#pragma once

#include <array>
#include <cstdint>
#include <functional>

#include "app/aux_dialogs.h"

class QCheckBox;

namespace tollwick {

class MessageBoxSeam;

namespace eraseid {
inline constexpr int kOk = 1;
inline constexpr int kCancel = 2;
inline constexpr int kTrack1 = 1008;
inline constexpr int kTrack2 = 1009;
inline constexpr int kTrack3 = 1010;
}  // namespace eraseid

class CEraseSelectDlg : public AuxDialog {
    Q_OBJECT
  public:
    static constexpr int kResourceId = 131;

    // What the dialog asks of the rest of the program.
    struct Hooks {
        std::function<void()> opened;              // job buttons off, track boxes emptied
        std::function<bool(uint8_t)> startErase;   // false: the worker did not start
        std::function<void()> cancelled;           // stop a worker, reset, job buttons on
        std::function<void(uint8_t)> maskChanged;  // a box ticked or unticked, or the dialog opened
    };

    CEraseSelectDlg();
    ~CEraseSelectDlg() override;

    void Bind(MessageBoxSeam& messageBoxes, Hooks hooks);

    // The main window's Erase button: no track chosen, the dialog centred and shown.
    void Open();

    // Bit 0 track 1, bit 1 track 2, bit 2 track 3.
    uint8_t EraseMask() const { return eraseMask_; }

  public slots:
    void accept() override;  // OK: start the erase job
    void reject() override;  // Cancel and the close box

  protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    MessageBoxSeam* messageBoxes_ = nullptr;
    Hooks hooks_;
    std::array<QCheckBox*, 3> boxes_{};
    std::array<int, 3> checked_{};  // data-exchange values: 0 unticked, 1 ticked
    uint8_t eraseMask_ = 0;

    void UpdateData(bool fromControls);
    void Untick();
    // The mask is the erase job's: a running job erases the next card with it.
    void SetMask(uint8_t mask);
};

}  // namespace tollwick
