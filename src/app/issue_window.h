// "Issue cards": every record of a data file onto exactly one card, from the desktop program.
//
// Open a CSV (or JSON-lines) file and see its first rows; fill the three track templates, with
// the file's columns offered ({column}, {row}, {luhn:column}); choose the journal, verify and
// retries. Check fills in and checks every record without touching a card; Start does the same
// and then runs the job (jobs/issue_job.h) on the window's reader and its swipe window. The table
// lists every card as its attempt ends; the progress bar counts the records done, with cards per
// minute and the time left. Pause holds the run before the next record; Resume goes on; Stop ends
// it. A card left uncertain by an earlier run is asked about in words before the run goes on.
// The window is one of its own: the main window keeps its layout.
#pragma once

#include <QWidget>
#include <array>
#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "issuance/issue_setup.h"
#include "jobs/issue_job.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QTableWidget;
class QToolButton;

namespace tollwick {

class FileDialogSeam;
class MessageBoxSeam;
class ProfileStore;

class IssueWindow final : public QWidget, public IssueJobListener {
    Q_OBJECT
  public:
    // Everything given outlives the window.
    IssueWindow(JobMonitor& monitor, ProfileStore& profile, MessageBoxSeam& messageBoxes,
                FileDialogSeam& fileDialogs, QWidget* parent = nullptr);
    ~IssueWindow() override;

    // Opens a data file: its columns go into the template menus, its first rows into the
    // preview. False (said in the status line) when it cannot be read.
    bool OpenData(const QString& path);
    // Check: every record filled in and checked, what each card would get counted; no card.
    bool Check();
    // Start: the check, then the run. False when it could not start (said).
    bool Start();
    void SetPaused(bool paused);
    void Stop();

    QLineEdit* DataPath() const { return dataPath_; }
    QPushButton* OpenButton() const { return openData_; }
    QPushButton* ChooseJournalButton() const { return chooseJournal_; }
    QTableWidget* Preview() const { return preview_; }
    QLineEdit* Template(int track) const { return templates_[static_cast<std::size_t>(track)]; }
    QToolButton* InsertButton(int track) const { return insert_[static_cast<std::size_t>(track)]; }
    QLineEdit* JournalPath() const { return journalPath_; }
    QCheckBox* Verify() const { return verify_; }
    QSpinBox* Retries() const { return retries_; }
    QPushButton* CheckButton() const { return check_; }
    QPushButton* StartButton() const { return start_; }
    QPushButton* PauseButton() const { return pause_; }
    QPushButton* StopButton() const { return stop_; }
    QTableWidget* Records() const { return records_; }
    QProgressBar* Progress() const { return progress_; }
    QLabel* StatusLine() const { return status_; }
    bool Running() const { return job_.Running(); }

    // IssueJobListener, from the job's worker: carried over to the window's thread.
    void Attempted(const Attempt& attempt) override;
    void Skipped(long long row, const std::string& why) override;
    bool CheckUncertain(const Attempt& attempt, std::stop_token stop) override;
    void Ended(const IssueTally& tally) override;

    // What the window asks about an uncertain card.
    static QString UncertainQuestion(const Attempt& attempt);

  signals:
    // A run ended (the table and status line already say how).
    void RunEnded();

  private:
    std::unique_ptr<IssueSetup> Prepare(bool dryRun);
    void ChooseData();
    void ChooseJournal();
    void FillInsertMenu(int track);
    // Fills line `line` of the records table (a new one at its end when -1); which it filled.
    int AddRecordLine(long long row, const QString& status, const QString& card,
                      const QString& reader, const QString& time, const QString& note,
                      int line = -1);
    void ShowAttempt(const Attempt& attempt);
    void ShowEnd(const IssueTally& tally);
    void UpdateProgress();
    void SetRunning(bool running);

    JobMonitor& monitor_;
    ProfileStore& profile_;
    MessageBoxSeam& messageBoxes_;
    FileDialogSeam& fileDialogs_;
    IssueJob job_;

    QLineEdit* dataPath_ = nullptr;
    QPushButton* openData_ = nullptr;
    QTableWidget* preview_ = nullptr;
    std::array<QLineEdit*, 3> templates_{};
    std::array<QToolButton*, 3> insert_{};
    QLineEdit* journalPath_ = nullptr;
    QPushButton* chooseJournal_ = nullptr;
    QCheckBox* verify_ = nullptr;
    QSpinBox* retries_ = nullptr;
    QPushButton* check_ = nullptr;
    QPushButton* start_ = nullptr;
    QPushButton* pause_ = nullptr;
    QPushButton* stop_ = nullptr;
    QTableWidget* records_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QLabel* status_ = nullptr;

    std::vector<std::string> columns_;
    std::map<long long, int> lines_;  // attempt id -> its line in the records table
    long long toDo_ = 0;              // records of this run: to write and to decide
    long long done_ = 0;
    long long cards_ = 0;
    std::chrono::steady_clock::time_point started_;
};

}  // namespace tollwick
