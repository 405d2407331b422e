// One run of the desktop program: the reader behind its channel and commands, the main window,
// the jobs' view of it, the job monitor and its 50 ms timer, wired together.
#pragma once

#include <QObject>
#include <QTimer>
#include <memory>

#include "app/card_jobs_controller.h"
#include "app/card_tools.h"
#include "app/file_dialog_seam.h"
#include "app/issue_window.h"
#include "app/qt_job_view.h"
#include "app/reader_control.h"
#include "app/setup_dlg.h"
#include "app/tollwick_dlg.h"
#include "device/hid_backend.h"
#include "device/reader_commands.h"
#include "device/reader_link.h"
#include "jobs/format_state.h"
#include "jobs/job_flags.h"
#include "jobs/job_monitor.h"

namespace tollwick {

class MessageBoxSeam;
class ProfileStore;

class DesktopSession final : public QObject {
    Q_OBJECT
  public:
    static constexpr int kTickMs = 50;

    // The profile and the message boxes outlive the session. The window is built (disabled,
    // connecting) but neither shown nor ticking until Start.
    // `clock` is the time the reader link and the monitor's pauses go by (virtual in tests).
    DesktopSession(std::unique_ptr<HidBackend> backend, ProfileStore& profile,
                   MessageBoxSeam& messageBoxes, Clock& clock = SystemClock());
    ~DesktopSession() override;

    // Why the start-up connection failed when a reader is plugged in that cannot be opened.
    static QString CannotOpenReaderText();
    // The message line once a reader is plugged in after the start-up found none.
    static QString ReaderFoundText();
    // How often the bus is looked at for a reader while none is connected.
    static constexpr int kReaderWatchMs = 1000;

    // Shows the main window; the monitor's first tick runs on the first pass of the event loop
    // and connects to the reader.
    void Start();
    // Stops the job worker and the timer; the window stays.
    void Stop();

    CTollwickDlg& Window() { return *window_; }
    QtJobView& View() { return *view_; }
    JobMonitor& Monitor() { return *monitor_; }
    ReaderCommands& Reader() { return commands_; }
    JobFlags& Flags() { return flags_; }
    // To File, From File and the sequential write.
    CardJobsController& CardJobs() { return *cardJobs_; }
    // The context menu's Inspector, Export last card and Verify after write.
    CardTools& Tools() { return *cardTools_; }
    // The context menu's "Issue cards…": the window, built when first asked for.
    IssueWindow& Issue();
    void ShowIssue();
    bool IssueBuilt() const { return issueWindow_ != nullptr; }
    QAction* IssueAction() const { return issueAction_; }
    // Tests answer the Issue cards window's file dialogs through their own seam.
    void SetIssueFileDialogs(FileDialogSeam& dialogs) { issueDialogs_ = &dialogs; }
    bool Ticking() const { return timer_.isActive(); }
    // The bus is being watched for a reader to be plugged in.
    bool WatchingForReader() const { return readerWatch_.isActive(); }
    // When the armed timer fires: 0 for at once (the first tick, a card reported), 50 ms
    // otherwise; -1 when it is not armed.
    int NextTickMs() const { return timer_.isActive() ? timer_.interval() : -1; }

  private:
    std::unique_ptr<HidBackend> backend_;
    ReaderLink link_;
    ReaderCommands commands_;
    CommandsReaderControl readerControl_;
    FormatState format_;
    JobFlags flags_;
    ReportQueue reports_;
    CardReadTap reads_;
    std::unique_ptr<CTollwickDlg> window_;
    std::unique_ptr<QtJobView> view_;
    std::unique_ptr<JobMonitor> monitor_;
    std::unique_ptr<CardJobsController> cardJobs_;  // goes before the monitor
    std::unique_ptr<CardTools> cardTools_;          // goes before the window
    MessageBoxSeam& messageBoxes_;
    ProfileStore& profile_;
    QtFileDialogSeam ownIssueDialogs_;
    FileDialogSeam* issueDialogs_ = &ownIssueDialogs_;
    QAction* issueAction_ = nullptr;
    std::unique_ptr<IssueWindow> issueWindow_;  // goes before the monitor
    // Timer 1: single-shot, armed again after each tick (50 ms), or at once when a worker reports
    // a card, so that no tick overlaps another even when one waits for a message box.
    QTimer timer_;
    bool running_ = false;  // between Start and Stop
    bool ended_ = false;
    bool connectionExplained_ = false;
    bool inTick_ = false;
    // After a start-up without a reader: the bus is looked at every second, and a reader that
    // appears is announced in the message line (the start-up connects only once; Setup connects
    // it). Said once per plug-in.
    QTimer readerWatch_;
    bool readerSaid_ = false;

    void OnTick();
    // A worker queued a card report (posted to the window's thread).
    void WakeMonitor();
    void OnWindowFinished();
    // Setup, Erase Select and the password dialog (desktop_session_dialogs.cpp).
    // Setup's OK: the reader reconnected, the choice stored, and the window shows it.
    void ApplySetup(const SetupChoice& choice, ProfileStore& profile);
    void WireDialogs(ProfileStore& profile, MessageBoxSeam& messageBoxes);
    // With a stored password the program stays locked until it is given.
    void ShowStartupPassword();
    // Once, after the start-up connection failed: why, when a reader is plugged in that this
    // user may not open (desktop_session_dialogs.cpp).
    void ExplainFailedConnection();
    void WatchForReader();
};

}  // namespace tollwick
