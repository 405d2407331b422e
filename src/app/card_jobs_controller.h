// The main window's To File, From File and Seq. Write buttons and the Sequential Write dialog,
// wired to the card-file jobs and the sequential run.
#pragma once

#include <QObject>
#include <memory>

#include "app/file_dialog_seam.h"
#include "jobs/card_file_jobs.h"

namespace tollwick {

class CSeqWriteDlg;
class CTollwickDlg;
class JobMonitor;

class CardJobsController final : public QObject {
    Q_OBJECT
  public:
    CardJobsController(CTollwickDlg& window, JobMonitor& monitor, QObject* parent = nullptr);
    ~CardJobsController() override;

    // Tests answer the file dialog through their own seam.
    void SetFileDialogs(FileDialogSeam& dialogs) { dialogs_ = &dialogs; }
    CardFileJobs& Files() { return files_; }

    // On the window thread after every tick of the monitor: tells the operator of a good card
    // that did not reach the To File file.
    void ReportAppendFailure();

    void OnToFile();
    void OnFromFile();
    void OnSeqWrite();  // the Seq. Write button
    void OnSeqOk();
    void OnSeqCancel();

  private:
    CTollwickDlg& window_;
    JobMonitor& monitor_;
    CardFileJobs files_;
    QtFileDialogSeam ownDialogs_;
    FileDialogSeam* dialogs_ = &ownDialogs_;

    CSeqWriteDlg& SeqWriteDialog();
};

}  // namespace tollwick
