#include "app/desktop_session.h"

#include <type_traits>

#include <QAction>

#include "app/inspector_window.h"
#include "app/message_box_seam.h"
#include "app/swipe_dlg.h"
#include "settings/profile_store.h"

namespace tollwick {
namespace {

// A tick that answers tells whether the timer is armed again; one that does not always is.
template <class Monitor>
bool TickOnce(Monitor& monitor) {
    if constexpr (std::is_void_v<decltype(monitor.Tick())>) {
        monitor.Tick();
        return true;
    } else {
        return static_cast<bool>(monitor.Tick());
    }
}

}  // namespace

DesktopSession::DesktopSession(std::unique_ptr<HidBackend> backend, ProfileStore& profile,
                               MessageBoxSeam& messageBoxes, Clock& clock)
    : backend_(std::move(backend)),
      link_(*backend_, clock),
      commands_(link_),
      readerControl_(commands_),
      messageBoxes_(messageBoxes),
      profile_(profile) {
    window_ = std::make_unique<CTollwickDlg>(
        MainWindowServices{profile, readerControl_, messageBoxes, format_});
    view_ = std::make_unique<QtJobView>(*window_, clock);
    monitor_ = std::make_unique<JobMonitor>(
        JobContext{commands_, profile, format_, flags_, reports_, reads_, *view_});

    timer_.setSingleShot(true);
    connect(&timer_, &QTimer::timeout, this, &DesktopSession::OnTick);
    connect(&readerWatch_, &QTimer::timeout, this, &DesktopSession::WatchForReader);
    // A worker's report wakes the monitor on the window's thread; one callback per window.
    reports_.SetWakeUp([this] {
        QMetaObject::invokeMethod(this, &DesktopSession::WakeMonitor, Qt::QueuedConnection);
    });

    CTollwickDlg* window = window_.get();
    JobMonitor* monitor = monitor_.get();
    connect(window, &CTollwickDlg::ReadRequested, this, [monitor] { monitor->LaunchRead(); });
    connect(window, &CTollwickDlg::WriteRequested, this, [monitor] { monitor->LaunchWrite(); });
    connect(window, &CTollwickDlg::CopyRequested, this, [monitor] { monitor->LaunchCopy(); });
    connect(window, &CTollwickDlg::CompareRequested, this, [monitor] { monitor->LaunchCompare(); });
    // EXIT stops the worker before the window sends the reader reset.
    connect(window, &CTollwickDlg::StopJobRequested, this, [monitor] { monitor->StopWorker(); });
    // Cancel and the close box of the swipe window.
    connect(&window->SwipeWindow(), &CSwipeDlg::CancelRequested, this,
            [monitor] { monitor->CancelJob(); });
    connect(window, &QDialog::finished, this, &DesktopSession::OnWindowFinished);
    cardJobs_ = std::make_unique<CardJobsController>(*window_, *monitor_);
    cardTools_ = std::make_unique<CardTools>(*window_, flags_, profile, messageBoxes);
    // Every card read reaches the Inspector on the window's thread, as the reader delivered it.
    reads_.SetListener([tools = cardTools_.get()](const CardCapture& card) {
        QMetaObject::invokeMethod(
            tools, [tools, card] { tools->OnCardRead(card); }, Qt::QueuedConnection);
    });
    WireDialogs(profile, messageBoxes);
    issueAction_ = new QAction(QStringLiteral("I&ssue cards\u2026"), this);
    connect(issueAction_, &QAction::triggered, this, &DesktopSession::ShowIssue);
    window_->AddContextMenuAction(issueAction_);
}

IssueWindow& DesktopSession::Issue() {
    if (!issueWindow_) {
        issueWindow_ =
            std::make_unique<IssueWindow>(*monitor_, profile_, messageBoxes_, *issueDialogs_);
    }
    return *issueWindow_;
}

void DesktopSession::ShowIssue() {
    IssueWindow& issue = Issue();
    issue.showNormal();
    issue.raise();
    issue.activateWindow();
}

DesktopSession::~DesktopSession() {
    Stop();
    issueWindow_.reset();
    reports_.SetWakeUp({});
    reads_.SetListener({});
}

void DesktopSession::Start() {
    ended_ = false;
    running_ = true;
    window_->show();
    ShowStartupPassword();
    timer_.start(0);
}

void DesktopSession::Stop() {
    running_ = false;
    timer_.stop();
    readerWatch_.stop();
    monitor_->StopForClose();
}

void DesktopSession::OnTick() {
    inTick_ = true;
    const bool again = TickOnce(*monitor_);
    cardJobs_->ReportAppendFailure();
    ExplainFailedConnection();
    inTick_ = false;
    if (!again || ended_ || !running_) return;
    // A card reported while the tick ran (a message box holds it) is shown without waiting.
    const bool showNow = monitor_->ReportsPending() && !monitor_->ShowingReports();
    timer_.start(showNow ? 0 : kTickMs);
}

void DesktopSession::WakeMonitor() {
    // During a tick the timer is stopped; the tick's end looks at the queue.
    if (!running_ || ended_ || inTick_ || monitor_->ShowingReports()) return;
    timer_.start(0);
}

void DesktopSession::OnWindowFinished() {
    ended_ = true;
    Stop();
    cardJobs_->Files().CloseFiles();
    if (cardTools_->InspectorBuilt()) cardTools_->Inspector().hide();
    if (issueWindow_) issueWindow_->hide();
}

}  // namespace tollwick
