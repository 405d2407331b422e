// The card jobs: launches, the worker thread, the 50 ms job monitor and the job cancel.
#pragma once

#include <functional>
#include <memory>
#include <stop_token>
#include <string>
#include <string_view>
#include <thread>

#include "carddata/track_format.h"
#include "device/reader_commands.h"
#include "jobs/format_state.h"
#include "jobs/job_flags.h"
#include "jobs/job_view.h"
#include "jobs/startup_connection.h"
#include "settings/profile_store.h"

namespace tollwick {

struct JobContext {
    ReaderCommands& reader;
    ProfileStore& profile;
    FormatState& format;
    JobFlags& flags;
    JobView& view;
};

// One job worker at a time. Stopping is cooperative: every wait of a worker checks the token.
class JobRunner {
public:
    explicit JobRunner(JobView& view) : view_(view) {}
    ~JobRunner() { Stop(); }
    // Stops a worker that still runs, then starts `work` on a new thread.
    void Start(std::function<void(std::stop_token)> work);
    // Requests the stop and waits until the worker has ended. Safe to call when none runs.
    void Stop();
    bool Active() const;

private:
    JobView& view_;
    std::jthread worker_;
    std::shared_ptr<std::atomic<bool>> running_ = std::make_shared<std::atomic<bool>>(false);
};

class JobMonitor {
public:
    explicit JobMonitor(JobContext context);
    ~JobMonitor();

    // One tick of timer 1: the start-up connection on the first tick, then the done flags in
    // their order. The window re-arms the 50 ms timer after it.
    void Tick();

    void LaunchRead();
    void LaunchWrite();
    void LaunchCopy();
    void LaunchCompare();
    // Cancel of the swipe window.
    void CancelJob();
    // EXIT and closing the window: the worker is stopped before anything else is sent.
    void StopWorker();
    bool WorkerActive() const { return runner_.Active(); }

    const StartupConnection& Connection() const { return connection_; }
    JobRunner& Runner() { return runner_; }
    JobContext& Context() { return context_; }

private:
    JobContext context_;
    JobRunner runner_;
    StartupConnection connection_;

    void ConnectionSequence();
    void CountRefresh(uint32_t count);
    void ReadBranch();
    void WriteBranch();
    void CopyReadBranch();
    void CopyWriteBranch();
    void CompareBranch();
};

// A read track text made ready for writing: sentinels removed, or empty when the text holds a
// character the track cannot carry.
std::string PrepareWriteTrack(std::string_view source, int bpc);
// The job cancel's clean-up of a track box.
std::string StripSentinels(std::string_view source, const TrackSettings& settings);

}  // namespace tollwick
