#include "app/card_jobs_controller.h"

#include "app/file_names.h"
#include "app/seq_write_dlg.h"
#include "app/tollwick_dlg.h"
#include "jobs/job_monitor.h"
#include "jobs/seq_write.h"

namespace tollwick {

CardJobsController::CardJobsController(CTollwickDlg& window, JobMonitor& monitor, QObject* parent)
    : QObject(parent), window_(window), monitor_(monitor), files_(monitor) {
    connect(&window_, &CTollwickDlg::ToFileRequested, this, &CardJobsController::OnToFile);
    connect(&window_, &CTollwickDlg::FromFileRequested, this, &CardJobsController::OnFromFile);
    connect(&window_, &CTollwickDlg::SeqWriteRequested, this, &CardJobsController::OnSeqWrite);
    connect(&SeqWriteDialog(), &CSeqWriteDlg::OkRequested, this, &CardJobsController::OnSeqOk);
    connect(&SeqWriteDialog(), &CSeqWriteDlg::CancelRequested, this,
            &CardJobsController::OnSeqCancel);
}

CardJobsController::~CardJobsController() = default;

CSeqWriteDlg& CardJobsController::SeqWriteDialog() {
    return window_.SeqWriteWindow();
}

void CardJobsController::ReportAppendFailure() {
    if (files_.TakeAppendFailure()) {
        window_.ShowMessageBox(
            QString::fromStdString(CardFileJobs::AppendFailureText(files_.ToFileInUse())));
    }
}

void CardJobsController::OnToFile() {
    const auto path = dialogs_->ChooseCardFile(&window_, FileDialogSeam::Purpose::kToFile);
    if (!path) return;
    files_.LaunchToFile(FileNameArgument(*path));
}

void CardJobsController::OnFromFile() {
    monitor_.Context().view.Repaint();
    const auto path = dialogs_->ChooseCardFile(&window_, FileDialogSeam::Purpose::kFromFile);
    if (!path) return;
    files_.LaunchFromFile(FileNameArgument(*path));
}

void CardJobsController::OnSeqWrite() {
    SeqWriteDialog().ShowCentred();
    monitor_.Context().view.EnableJobButtons(false);
    // The count of a job that still runs (Erase between cards) stays: the run sets its own.
}

void CardJobsController::OnSeqOk() {
    CSeqWriteDlg& dialog = SeqWriteDialog();
    JobView& view = monitor_.Context().view;
    dialog.UpdateData(true);
    SeqWriteEntry entry;
    entry.start = dialog.StartText().toStdString();
    entry.total = dialog.TotalText().toStdString();
    entry.step = dialog.StepText().toStdString();
    entry.track = dialog.TrackIndex();
    // Every card gets the box texts as they stand.
    const SeqWritePlan plan = PlanSeqWrite(entry, view.FetchTracks());
    if (!plan.run) {
        view.MessageBox(plan.refusal);  // the dialog stays open; nothing has changed
        return;
    }
    dialog.UpdateData(false);
    if (LaunchSeqWrite(monitor_, *plan.run)) dialog.hide();
}

void CardJobsController::OnSeqCancel() {
    // The window sends the reset: no worker may be on the link then.
    monitor_.CancelSeqWrite();
    monitor_.Context().view.SetMessage("");
}

}  // namespace tollwick
