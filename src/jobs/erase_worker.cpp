#include "jobs/erase_worker.h"

#include "jobs/job_monitor.h"

namespace tollwick {
namespace {

// The pause between two erase status polls changes nothing the program does: a status that comes
// meanwhile waits in the input buffer for the next poll. It keeps a worker whose link is gone
// (each poll then returns at once) from spinning.
constexpr int kStatusPollMs = 5;
constexpr char kEraseFail[] = "Erase Fail";
constexpr char kPleaseSwipe[] = "Please Swipe Card";
constexpr char kSwipeCounter[] = "Swipe Counter  -->";

}  // namespace

int AwaitEraseStatus(ReaderCommands& reader, std::stop_token stop) {
    for (;;) {
        if (stop.stop_requested()) return 0;
        // A card erased is reported, even by a job being stopped.
        const int status = reader.WaitEraseStatus();
        if (status != 0) return status;
        if (PauseUnlessStopped(reader.Link().GetClock(), stop, kStatusPollMs)) return 0;
    }
}

void EraseWorker(JobContext context, std::stop_token stop) {
    JobFlags& flags = context.flags;
    JobView& view = context.view;
    flags.swipeCount.store(1);
    for (;;) {
        if (stop.stop_requested()) return;
        if (context.reader.EraseTracks(flags.eraseMask.load(std::memory_order_acquire)) < 0) {
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
        // Armed: the reader waits for a card.
        const int status = AwaitEraseStatus(context.reader, stop);
        if (status == 0) return;
        flags.reports.Push(CardReport::Of(ReportKind::kErase, status));
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
        view.SetMessageText("Create Thread fail!");
        view.ShowSwipe(false);
        return false;
    }
    return true;
}

void JobMonitor::CancelEraseSelect() {
    // A job still running ends here: its swipe window and card file go with it, as on the job's
    // own Cancel, so that no window asks for a card nobody waits for.
    const bool running = runner_.Active();
    StopJob(/*reset=*/true);
    context_.view.EnableJobButtons(true);
    if (running) EndStoppedJob();
}

}  // namespace tollwick
