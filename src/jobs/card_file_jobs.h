// The To File and From File jobs: the two card files, their launches and the From File worker.
//
// To File reads cards as the Read job does and appends every good one to its file through the
// Read worker's hook; From File writes the cards of a file one per swipe. Both files stay open
// until the job cancel, the next launch of their job or the end of the window closes them. The
// window thread touches them only while no worker runs.
#pragma once

#include <atomic>
#include <fstream>
#include <istream>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>

#include "jobs/card_file.h"
#include "jobs/job_monitor.h"
#include "jobs/job_workers.h"

namespace tollwick {

// Writes the cards of a card file, one per swipe, until the file ends, a card without data is
// met, the link fails or the job is cancelled.
void FromFileWorker(JobContext context, std::stop_token stop, std::istream& in);

class CardFileJobs {
  public:
    // Installs the Read worker's append hook and the job cancel's close hook in the monitor.
    explicit CardFileJobs(JobMonitor& monitor);
    ~CardFileJobs();
    CardFileJobs(const CardFileJobs&) = delete;
    CardFileJobs& operator=(const CardFileJobs&) = delete;

    // To File with the path chosen in the file dialog. A file still open from an earlier To File
    // job that was never cancelled stays in use. False (after "Open file fail!!") when the file
    // cannot be opened: no job starts.
    bool LaunchToFile(const std::string& path);
    // From File with the path chosen in the file dialog. The file of an earlier From File job is
    // closed first (its worker stopped). False (after "Open file fail!!") when the new file
    // cannot be opened: no job starts, and a job other than From File goes on.
    bool LaunchFromFile(const std::string& path);
    // Stops the worker, then closes both files.
    void CloseFiles();

    bool ToFileOpen() const { return toFile_ != nullptr; }
    bool FromFileOpen() const { return fromFile_ != nullptr; }
    // The file To File appends to, and the paths last chosen.
    const std::string& ToFileInUse() const { return toFileInUse_; }
    const std::string& ToFileChosen() const { return toFileChosen_; }
    const std::string& FromFileChosen() const { return fromFileChosen_; }

    // Set when a good card could not be recorded (the disk refused the write); taken here, on
    // the window thread, so that the operator learns of it.
    bool TakeAppendFailure() { return appendFailed_.exchange(false); }
    static std::string AppendFailureText(const std::string& path);

  private:
    JobMonitor& monitor_;
    std::unique_ptr<CardFileAppender> toFile_;
    std::unique_ptr<std::ifstream> fromFile_;
    std::string toFileInUse_;
    std::string toFileChosen_;
    std::string fromFileChosen_;
    std::atomic<bool> appendFailed_{false};

    void Append(const CardTracks& card);  // on the Read worker's thread
};

}  // namespace tollwick
