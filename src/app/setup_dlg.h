// The Setup dialog: the reader's port, the track-2 recording density and, for the User Type, the
// format of each track (bits per character, parity, start and end sentinel). OK reconnects to
// the reader, sends the density, stores the settings and applies the User Type formats.
#pragma once

#include <QString>
#include <array>

#include "app/aux_dialogs.h"

class QButtonGroup;
class QComboBox;
class QLineEdit;

namespace tollwick {

class CTollwickDlg;
class ReaderCommands;

namespace setupid {
inline constexpr int kOk = 1;
inline constexpr int kCancel = 2;
inline constexpr int kTrack2Density75 = 1003;
inline constexpr int kTrack2Density210 = 1004;
inline constexpr int kPort = 1005;
inline constexpr int kTrack1Density75 = 1015;
inline constexpr int kTrack1Density210 = 1016;
inline constexpr int kTrack3Density75 = 1017;
inline constexpr int kTrack3Density210 = 1041;
// Per track: bits per character, parity, start sentinel, end sentinel.
inline constexpr std::array<std::array<int, 4>, 3> kTrackCombos{
    {{1044, 1045, 1046, 1047}, {1048, 1049, 1050, 1051}, {1052, 1053, 1054, 1055}}};
}  // namespace setupid

class CSetupDlg : public AuxDialog {
    Q_OBJECT
  public:
    static constexpr int kResourceId = 133;
    static constexpr int kPortTextLimit = 6;
    enum Field { kBpc = 0, kParity = 1, kStartSentinel = 2, kEndSentinel = 3 };

    CSetupDlg();
    ~CSetupDlg() override;

    // The main window it belongs to and the reader it connects; both outlive the dialog.
    void Bind(CTollwickDlg& window, ReaderCommands& reader);

    // The Setup button: centred, shown, and the main window disabled while it is up.
    void Open();

    QComboBox* Combo(int track, Field field) const;
    // The selected list position, or -1 when the combo has none (the operator typed into its
    // edit field, or a stored position lay outside the list).
    int Position(int track, Field field) const;
    QString PortText() const { return portText_; }

  public slots:
    void accept() override;  // OK
    void reject() override;  // Cancel and the close box

  protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    CTollwickDlg* window_ = nullptr;
    ReaderCommands* reader_ = nullptr;
    QLineEdit* port_ = nullptr;
    QButtonGroup* track2Group_ = nullptr;
    std::array<std::array<QComboBox*, 4>, 3> combos_{};

    // Data-exchange values.
    QString portText_ = QStringLiteral("COM10");
    int track2Index_ = 0;  // 0 "75", 1 "210"

    void BuildControls();
    void UpdateData(bool fromControls);
    void Fill();
    void FillUserTrack(int track);
    void OnBpcChosen(int track);
    // The coercivity and data type buttons, which the start-up leaves off without a reader.
    void EnableReaderControls();
    void StoreUserKeys();
};

}  // namespace tollwick
