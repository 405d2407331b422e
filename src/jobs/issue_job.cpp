#include "jobs/issue_job.h"

#include "device/clock.h"

namespace tollwick {
namespace {

constexpr char kIssueTitle[] = "Issue Card";
constexpr char kPleaseSwipe[] = "Please Swipe Card";
constexpr char kSwipeAgain[] = "Swipe again to verify";
// The window's reader, as the journal names it.
constexpr char kDesktopReader[] = "desktop";

}  // namespace

// The run's one station: the window's reader, and its swipe window.
class IssueJob::Worker final : public IssueStation, public IssueEvents {
  public:
    Worker(IssueJob& job, JobContext context) : job_(job), context_(context) {}

    std::string Name() const override { return kDesktopReader; }
    ReaderCommands& Reader() override { return context_.reader; }
    bool PresentCard(long long, bool again) override {
        // The virtual reader's hand puts the same card through again; by hand it is at hand.
        if (again) context_.view.ExpectSameCardAgain();
        return true;
    }

    bool Proceed(IssueStation&, std::stop_token stop) override {
        std::unique_lock lock(job_.mutex_);
        return WaitUnlessStopped(job_.resumed_, lock, stop,
                                 [this] { return !job_.paused_.load(); });
    }
    void Awaiting(IssueStation&, long long row, bool readBack) override {
        context_.view.SetSwipeLine1(readBack ? kSwipeAgain : kPleaseSwipe);
        context_.view.SetSwipeCount("Row " + std::to_string(row));
    }
    void Attempted(const Attempt& attempt) override { job_.listener_.Attempted(attempt); }
    void Skipped(long long row, const std::string& why) override {
        job_.listener_.Skipped(row, why);
    }

    void Run(IssueSetup& setup, std::stop_token stop) {
        IssueSettings settings;
        settings.verify = setup.Request().verify;
        settings.retries = setup.Request().retries;
        settings.wait = JobWait(stop);
        IssueRun run(*setup.Journal(), setup.Run().digestKey, setup.Maker(), settings, *this);
        IssueTally tally;
        std::string error;
        const auto uncertain = setup.UncertainCards(error);
        if (!uncertain) tally.problem = error;
        for (const UncertainCard& card : uncertain.value_or(std::vector<UncertainCard>{})) {
            if (!job_.listener_.CheckUncertain(card.attempt, stop)) {
                tally.uncertain.push_back(card.attempt.row);
                tally.stopped = StepOutcome::kStopped;
                break;
            }
            context_.view.ShowSwipe(true);
            const StepOutcome outcome = run.Decide(*this, card.attempt, card.texts);
            if (outcome != StepOutcome::kDone) {
                tally.uncertain.push_back(card.attempt.row);
                tally.stopped = outcome;
                break;
            }
        }
        if (tally.Complete()) {
            auto records = setup.Records(error);
            if (records) {
                RecordSource source(*records, setup.Maker(), setup.Request().rows);
                tally = run.Issue(source, {this});
            } else {
                tally.problem = error;
            }
        }
        context_.view.ShowSwipe(false);
        context_.view.EnableJobButtons(true);
        job_.listener_.Ended(tally);
    }

  private:
    IssueJob& job_;
    JobContext context_;
};

IssueJob::~IssueJob() {
    if (running_.load()) Stop();
}

bool IssueJob::Launch(std::unique_ptr<IssueSetup> setup) {
    // A job still running stops (the reader disarmed) before this one takes the swipe window.
    monitor_.StopJob(/*reset=*/false);
    paused_.store(false);
    JobView& view = monitor_.Context().view;
    view.EnableJobButtons(false);
    view.SetSwipeTitle(kIssueTitle);
    view.SetSwipeColour(SwipeColour::kRed);
    view.SetSwipeLines(kPleaseSwipe, "", "");
    view.ShowSwipe(true);
    view.CentreSwipe();
    running_.store(true);
    std::shared_ptr<IssueSetup> run = std::move(setup);
    const bool started = monitor_.StartJob([this, run](JobContext context, std::stop_token stop) {
        Worker(*this, context).Run(*run, stop);
        running_.store(false);
    });
    if (!started) running_.store(false);
    return started;
}

void IssueJob::Pause(bool paused) {
    {
        std::lock_guard lock(mutex_);
        paused_.store(paused);
    }
    resumed_.notify_all();
}

void IssueJob::Stop() {
    Pause(false);
    monitor_.StopJob(/*reset=*/true);
    monitor_.EndStoppedJob();
}

}  // namespace tollwick
