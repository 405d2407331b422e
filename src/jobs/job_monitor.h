// The card jobs: launches, the worker thread, the 50 ms job monitor and the job cancel.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <stop_token>
#include <string>
#include <thread>

#include "carddata/track_format.h"
#include "device/reader_commands.h"
#include "device/startup_connection.h"
#include "jobs/card_reports.h"
#include "jobs/format_state.h"
#include "jobs/job_flags.h"
#include "jobs/job_view.h"
#include "jobs/job_workers.h"
#include "settings/profile_store.h"

namespace tollwick {

// One job worker at a time. Stopping is cooperative: every wait of a worker checks the token.
// Used on the window thread only; so are its calls of JobView::JobRunning, which therefore reach
// the window in order: a worker that ends by itself is reported by the next Poll.
class JobRunner {
  public:
    explicit JobRunner(JobView& view) : view_(view) {}
    ~JobRunner() { StopWorker(/*report=*/false); }
    JobRunner(const JobRunner&) = delete;
    JobRunner& operator=(const JobRunner&) = delete;

    // Stops a worker that still runs, then starts `work` on a new thread. False when the thread
    // cannot be created (nothing runs then).
    bool Start(std::function<void(std::stop_token)> work);
    // Requests the stop and waits until the worker has ended. Safe to call when none runs.
    void Stop() { StopWorker(/*report=*/true); }
    // Tells the view, once, that a worker ended by itself. The monitor calls it on every tick.
    void Poll();
    // A worker was started and has not ended yet.
    bool Active() const;

  private:
    JobView& view_;
    std::jthread worker_;
    std::atomic<bool> finished_{true};
    bool reportedRunning_ = false;  // JobRunning(true) was the last thing the view heard

    void StopWorker(bool report);
};

class JobMonitor {
  public:
    explicit JobMonitor(JobContext context);
    ~JobMonitor();

    // One tick of timer 1: the start-up connection on the first tick, then the branches in their
    // order, each showing the oldest card report when it is of its kind. Returns whether the
    // window re-arms the timer: false once the exit request has ended the window.
    bool Tick();
    // Card reports queued and not shown yet: the window ticks again at once.
    bool ReportsPending() const { return context_.reports.Pending(); }
    // A launch or a cancel is showing the reports a stopped job left (its message boxes may be
    // up): a tick now does nothing, so that no two branches ever overlap.
    bool ShowingReports() const { return showing_; }

    void LaunchRead();
    void LaunchWrite();
    void LaunchCopy();
    void LaunchCompare();
    // Erase Select's OK: the swipe window for the erase job, and its worker, which erases the
    // tracks of flags.eraseMask (set to `mask` here) on each card. False when the worker could
    // not be started ("Create Thread fail!").
    bool LaunchErase(uint8_t mask);
    // Erase Select's Cancel, and the Sequential Write dialog's: stops a worker, resets the
    // reader, enables the job buttons; a job that still ran ends as on its own Cancel (its
    // swipe window hidden, its card file closed).
    void CancelEraseSelect();
    void CancelSeqWrite();
    // Cancel of the swipe window.
    void CancelJob();
    // Stops the worker. The reader is reset when `reset` is set, and also when the worker still
    // ran: a stopped job never leaves the reader armed. The cards it reported are then shown.
    void StopJob(bool reset);
    // After a stop: the card file of To File closed, the swipe window hidden.
    void EndStoppedJob();
    // EXIT: the worker is stopped before the window sends the reset itself.
    void StopWorker();
    // The window closes: the worker is stopped, and a worker that still ran leaves the reader
    // disarmed. Reports not shown yet go with the window.
    void StopForClose();
    bool WorkerActive() const { return runner_.Active(); }
    // A job of a window of its own (Issue cards), after its launch has stopped any job before
    // it: `worker` runs on the job thread. False when it could not be started (the message line
    // says "Create Thread fail!" and the swipe window is hidden).
    bool StartJob(std::function<void(JobContext, std::stop_token)> worker);

    // The start-up password entry is still open: the connection sequence leaves the window
    // disabled, and the password entry enables it once the password is accepted.
    void SetStartupPasswordPending(bool pending) { passwordPending_ = pending; }
    bool StartupPasswordPending() const { return passwordPending_; }

    void SetCardFileHooks(CardFileHooks hooks) { files_ = std::move(hooks); }

    // Whether the start-up connection stores the port that answered as PORTNUM (it does unless
    // told otherwise). A virtual reader's port says nothing of the real reader's: a run on it
    // leaves the stored port alone.
    void SetStoresAnsweringPort(bool stores) { storesPort_ = stores; }

    const StartupConnection& Connection() const { return connection_; }
    JobRunner& Runner() { return runner_; }
    JobContext& Context() { return context_; }

  private:
    JobContext context_;
    JobRunner runner_;
    StartupConnection connection_;
    CardFileHooks files_;
    bool passwordPending_ = false;
    bool storesPort_ = true;
    bool ended_ = false;
    bool showing_ = false;

    using Branch = void (JobMonitor::*)(const CardReport&);

    void ConnectionSequence();
    // The branches in their order, each for the oldest report when it is of its kind.
    void RunBranches();
    void RunBranch(ReportKind kind, Branch branch);
    // Shows what is still queued: a card reported is never dropped by the next job or a cancel.
    void ShowPendingReports();
    void StopJobFromDialog();
    // A launch stops a worker that still waits (and disarms the reader) before it starts its own.
    void StopPrevious() { StopJob(/*reset=*/false); }
    void CountRefresh(uint32_t count, bool centre = false);
    void ReadBranch(const CardReport& report);
    void WriteBranch(const CardReport& report);
    void SequentialBranch(const CardReport& report);
    void EraseBranch(const CardReport& report);
    void CopyReadBranch(const CardReport& report);
    void CopyWriteBranch(const CardReport& report);
    void CompareBranch(const CardReport& report);
    void StartWorker(std::function<void(JobContext, std::stop_token)> worker);
};

}  // namespace tollwick
