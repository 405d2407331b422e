#include "jobs/erase_worker.h"

#include "jobs/job_monitor.h"

namespace tollwick {
namespace {

constexpr char kEraseFail[] = "Erase Fail";
constexpr char kPleaseSwipe[] = "Please Swipe Card";
constexpr char kSwipeCounter[] = "Swipe Counter  -->";

}  // namespace

void EraseWorker(JobContext context, std::stop_token stop) {
    JobView& view = context.view;
    context.flags.swipeCount.store(1);
    for (;;) {
        const uint8_t mask = context.flags.eraseMask.load(std::memory_order_acquire);
        // The window's texts are fixed: a card whose status never came is handled as the stop
        // or the failed link that ended its wait.
        const StepOutcome erased = CauseOf(EraseCard(context.reader, mask, JobWait(stop)), stop);
        if (erased == StepOutcome::kStopped) return;
        if (erased == StepOutcome::kRefused || erased == StepOutcome::kLinkFailed) {
            view.ShowSwipe(false);
            view.MessageBox(kEraseFail, stop);
            if (stop.stop_requested()) return;
            // Without a reader every new attempt fails at once: the job ends here, and the
            // operator may start another one (Setup can reconnect).
            if (!context.reader.IsConnected()) {
                view.EnableJobButtons(true);
                return;
            }
            view.ShowSwipe(true);
            continue;
        }
        context.reports.Push(CardReport::Of(ReportKind::kErase, erased == StepOutcome::kDone
                                                                    ? CardStatus::kDone
                                                                    : CardStatus::kRejected));
    }
}

bool JobMonitor::LaunchErase(uint8_t mask) {
    JobView& view = context_.view;
    // A worker left waiting by an earlier job stops before this one takes the reader.
    StopPrevious();
    view.SetSwipeTitle("Erase Card");
    view.SetSwipeColour(SwipeColour::kRed);
    view.Repaint();
    context_.flags.swipeCount.store(1);
    context_.flags.eraseMask.store(mask, std::memory_order_release);
    view.SetSwipeLines(kPleaseSwipe, kSwipeCounter, "1");
    view.ShowSwipe(true);
    view.CentreSwipe();
    JobContext context = context_;
    if (!runner_.Start([context](std::stop_token stop) { EraseWorker(context, stop); })) {
        view.SetMessageLineDirectly("Create Thread fail!");
        view.ShowSwipe(false);
        return false;
    }
    return true;
}

void JobMonitor::CancelEraseSelect() {
    StopJobFromDialog();
}

void JobMonitor::CancelSeqWrite() {
    StopJobFromDialog();
}

void JobMonitor::StopJobFromDialog() {
    // A job still running ends here: its swipe window and card file go with it, as on the job's
    // own Cancel, so that no window asks for a card nobody waits for.
    const bool running = runner_.Active();
    StopJob(/*reset=*/true);
    context_.view.EnableJobButtons(true);
    if (running) EndStoppedJob();
}

}  // namespace tollwick
