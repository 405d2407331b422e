// Issuing from a data file in the desktop program: the issuing run (issuance/issue_run.h) as a
// job of the window, on its one worker thread and its swipe window, with the window's reader as
// the run's one station. What the Issue cards window needs to follow and steer it goes through
// IssueJobListener; the swipe window shows "Issue Card", the record awaited and the count.
#pragma once

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <stop_token>
#include <string>

#include "issuance/issue_run.h"
#include "issuance/issue_setup.h"
#include "jobs/job_monitor.h"

namespace tollwick {

// Calls come from the job's worker thread.
class IssueJobListener {
  public:
    virtual ~IssueJobListener() = default;
    virtual void Attempted(const Attempt& attempt) = 0;
    virtual void Skipped(long long row, const std::string& why) = 0;
    // The card of an uncertain attempt is to be read before the run goes on: true when the
    // operator swipes it now, false to end the run. Blocks the worker until answered or stopped.
    virtual bool CheckUncertain(const Attempt& attempt, std::stop_token stop) = 0;
    // The run ended: done, stopped, or why it could not go on.
    virtual void Ended(const IssueTally& tally) = 0;
};

class IssueJob {
  public:
    // The monitor and the listener outlive the job.
    IssueJob(JobMonitor& monitor, IssueJobListener& listener)
        : monitor_(monitor), listener_(listener) {}
    ~IssueJob();

    // Starts the run prepared in `setup` (its journal started), a worker on the monitor's runner
    // that stops a job still running first. The setup, and with it the journal, goes when the
    // worker ends. False when the worker could not be started.
    bool Launch(std::unique_ptr<IssueSetup> setup);
    // Pause holds the run before its next record (the card in hand is finished); resume lets
    // it go on.
    void Pause(bool paused);
    bool Paused() const { return paused_.load(); }
    // Stops the run where it waits (a card whose write block went out stays uncertain) and
    // disarms the reader.
    void Stop();
    bool Running() const { return monitor_.WorkerActive() && running_.load(); }

  private:
    class Worker;
    JobMonitor& monitor_;
    IssueJobListener& listener_;
    std::atomic<bool> paused_{false};
    std::atomic<bool> running_{false};
    std::mutex mutex_;
    std::condition_variable_any resumed_;
};

}  // namespace tollwick
