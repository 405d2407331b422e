// The main window: the three track boxes with their labels and counters, the message line, the
// connection line, and the buttons of the card jobs, the reader's coercivity and beeper, and the
// data type.
#pragma once

#include <QDialog>
#include <QPointer>
#include <QString>
#include <array>
#include <functional>
#include <memory>
#include <string_view>
#include <vector>

#include "carddata/data_type.h"
#include "carddata/track_format.h"

class QAction;
class QButtonGroup;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace tollwick {

class Announcer;
class CAboutDlg;
class CEraseSelectDlg;
class CPasswordDlg;
class CProgressDlg;
class CSeqWriteDlg;
class CSetupDlg;
class CSwipeDlg;
class DialogLayout;
class FormatState;
class MessageBoxSeam;
class ProfileStore;
class ReaderControl;
class TrackEdit;

// What the main window works with; all of it outlives the window.
struct MainWindowServices {
    ProfileStore& profile;
    ReaderControl& reader;
    MessageBoxSeam& messageBoxes;
    FormatState& format;
};

// Control ids of the main window.
namespace mainid {
inline constexpr int kExit = 1;
inline constexpr int kSetup = 1000;
inline constexpr int kRead = 1001;
inline constexpr int kWrite = 1002;
inline constexpr int kHiCo = 1003;
inline constexpr int kLoCo = 1004;
inline constexpr int kTrack1 = 1005;
inline constexpr int kTrack2 = 1006;
inline constexpr int kTrack3 = 1007;
inline constexpr int kTrack1Check = 1008;
inline constexpr int kTrack2Check = 1009;
inline constexpr int kTrack3Check = 1010;
inline constexpr int kErase = 1011;
inline constexpr int kChangePassword = 1012;
inline constexpr int kMessage = 1014;
inline constexpr int kIso = 1015;
inline constexpr int kUserType = 1016;
inline constexpr int kRawType = 1017;
inline constexpr int kSeqWrite = 1018;
inline constexpr int kCopy = 1019;
inline constexpr int kCompare = 1020;
inline constexpr int kFromFile = 1021;
inline constexpr int kToFile = 1022;
inline constexpr int kTrack1Count = 1028;
inline constexpr int kTrack2Count = 1029;
inline constexpr int kTrack3Count = 1030;
inline constexpr int kTrack1Frame = 1031;
inline constexpr int kTrack2Frame = 1032;
inline constexpr int kTrack3Frame = 1033;
inline constexpr int kBeepOn = 1041;
inline constexpr int kBeepOff = 1042;
inline constexpr int kConnection = 1043;
inline constexpr int kAamva = 1045;
inline constexpr int kCaDmv = 1046;
}  // namespace mainid

class CTollwickDlg : public QDialog {
    Q_OBJECT
  public:
    static constexpr int kResourceId = 102;
    // The About entry of the system menu, and its command number.
    static constexpr int kAboutCommand = 0x0010;
    static QString AboutEntryText();
    static QString StartupMessage();
    // What a ticked track check box means: its tooltip and accessible description.
    static QString TrackLeftOutText(int track);

    // Builds the window and runs its initialisation: ISO formats, stored density, the auxiliary
    // windows (hidden), the start-up message; the window is left disabled until the reader
    // connection has been tried.
    explicit CTollwickDlg(const MainWindowServices& services, QWidget* parent = nullptr);
    ~CTollwickDlg() override;

    // The main window of the running program, or null.
    static CTollwickDlg* MainWindow();

    QWidget* Control(int id) const;
    template <class W>
    W* ControlAs(int id) const {
        return qobject_cast<W*>(Control(id));
    }

    // --- Operations used by the jobs and the auxiliary windows ---
    // on: enables Setup and the job buttons; off: disables the job buttons, Setup untouched.
    void EnableJobButtons(bool on);
    // Sets the message line through data exchange.
    void SetMessage(const QString& text);
    // Sets the message line's text directly.
    void SetMessageText(const QString& text);
    QString MessageText() const;
    // Puts the three texts into the track boxes (no filtering) and refreshes the counters; the
    // keyboard focus stays where it was.
    void ShowTracks(std::string_view track1, std::string_view track2, std::string_view track3);
    // Copies the track boxes' texts into the buffers, each zero-terminated.
    void FetchTracks(std::array<TrackBuffer, 3>& buffers);
    void EnableControl(int id, bool on);
    void SetConnectionLine(const QString& text);
    // The whole window takes input or not; the auxiliary windows are not affected.
    void EnableWindow(bool on) { setEnabled(on); }
    // Data exchange: from the controls into the members (true) or back (false).
    void UpdateData(bool fromControls);
    // Ends the window as OK does, without the reader reset.
    void EndAsOk();
    // Shows a modal message box through the program's message-box seam.
    void ShowMessageBox(const QString& text);
    void ShowAbout();
    // An entry of the window's context menu, whose shortcut works in every window of the program.
    void AddContextMenuAction(QAction* action);
    // The entries of the context menu, in their order: those added, then the About entry where
    // the system menu cannot carry it. Empty when a right click opens no menu.
    std::vector<QAction*> ContextMenuActions();

    // --- Data-exchange values ---
    QString TrackTextMember(int index) const {
        return trackText_.at(static_cast<std::size_t>(index));
    }
    int CoercivityChoice() const { return coercivity_; }
    int DataTypeChoice() const { return dataType_; }

    // --- Data types: formats, labels and limits of the three tracks ---
    void ApplyIso();
    void ApplyAamva();
    void ApplyCaDmv();
    void ApplyUserType();
    void ApplyRawType();

    // --- The auxiliary windows, created once, hidden ---
    CSwipeDlg& SwipeWindow() { return *swipe_; }
    CEraseSelectDlg& EraseSelectWindow() { return *eraseSelect_; }
    CSeqWriteDlg& SeqWriteWindow() { return *seqWrite_; }
    // Setup is the largest of them (twelve combos): built when first asked for, so that it costs
    // nothing at start-up; `bind` is run on it then.
    CSetupDlg& SetupWindow();
    void OnSetupWindowBuilt(std::function<void(CSetupDlg&)> bind) { bindSetup_ = std::move(bind); }
    CProgressDlg& ProgressWindow() { return *progress_; }
    CPasswordDlg& PasswordWindow() { return *password_; }

    MessageBoxSeam& MessageBoxes() { return services_.messageBoxes; }
    FormatState& Format() { return services_.format; }
    ProfileStore& Profile() { return services_.profile; }

  signals:
    void ReadRequested();
    void WriteRequested();
    void CopyRequested();
    void CompareRequested();
    void ToFileRequested();
    void FromFileRequested();
    void SeqWriteRequested();
    void EraseRequested();
    void SetupRequested();
    void ChangePasswordRequested();
    // EXIT was pressed: a running job must be stopped now, before the reader reset is sent.
    void StopJobRequested();
    // The About box is about to be shown (tests answer it).
    void AboutShowing(CAboutDlg* about);

  protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
#ifdef Q_OS_WIN
    bool nativeEvent(const QByteArray& eventType, void* message, qintptr* result) override;
#endif

  private:
    MainWindowServices services_;
    std::unique_ptr<DialogLayout> layout_;

    // The auxiliary windows stand on their own on the desktop.
    std::unique_ptr<CProgressDlg> progress_;
    std::unique_ptr<CPasswordDlg> password_;
    std::unique_ptr<CSetupDlg> setup_;
    std::function<void(CSetupDlg&)> bindSetup_;
    std::unique_ptr<CSeqWriteDlg> seqWrite_;
    std::unique_ptr<CEraseSelectDlg> eraseSelect_;
    std::unique_ptr<CSwipeDlg> swipe_;

    std::array<TrackEdit*, 3> trackEdits_{};
    std::array<QCheckBox*, 3> trackChecks_{};
    std::array<QLabel*, 3> counters_{};
    QLineEdit* message_ = nullptr;
    Announcer* announcer_ = nullptr;
    QButtonGroup* coercivityGroup_ = nullptr;
    QButtonGroup* dataTypeGroup_ = nullptr;
    QButtonGroup* beeperGroup_ = nullptr;
    bool systemMenuHasAbout_ = false;
    std::vector<QPointer<QAction>> contextActions_;  // an action may go before the window
    QAction* aboutAction_ = nullptr;

    // Data-exchange values.
    std::array<QString, 3> trackText_{};
    QString messageText_;
    int coercivity_ = 0;
    int dataType_ = 0;

    void BuildControls();
    void ConnectHandlers();
    void CreateAuxiliaryWindows();
    void CentreOnScreen();
    void AddAboutToSystemMenu();
    void OnExit();
    void OnTrackChanged(int index);
    void RefreshCounter(int index);
    void OnTrackCheck(int index);
    void SetTrackLabel(int index, const QString& label);
    void ApplyLayoutOf(DataType type);
    QPushButton* Button(int id) const;
};

}  // namespace tollwick
