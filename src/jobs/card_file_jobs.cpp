#include "jobs/card_file_jobs.h"

#include "files/card_data_file.h"

namespace tollwick {
namespace {

constexpr char kPleaseSwipe[] = "Please Swipe Card";
constexpr char kSwipeCounter[] = "Swipe Counter  -->";
constexpr char kOpenFail[] = "Open file fail!!";
constexpr int kEndPauseMs = 5;

std::array<int, 3> BitsPerCharacter(const TrackSet& settings) {
    return {settings[0].bpc, settings[1].bpc, settings[2].bpc};
}

// Ends the job after the last card: the operator may start another.
void EndOfFile(JobView& view, const char* text, std::stop_token stop) {
    view.MessageBox(text, stop);
    if (!stop.stop_requested()) view.EnableJobButtons(true);
}

}  // namespace

void FromFileWorker(JobContext context, std::stop_token stop, std::istream& in) {
    ReportQueue& reports = context.reports;
    JobView& view = context.view;
    CardFileReader file(in);
    const auto nextCard = [&] { return file.Next(BitsPerCharacter(context.format.Settings())); };
    // Each report shows the card the reader now waits to write; then come the format errors of
    // that card's lines, as the operator learns what the card is made of.
    const auto report = [&](CardReport done, const CardFileReader::Result& next) {
        reports.Push(std::move(done));
        for (int line : next.formatErrorLines) {
            view.MessageBox(CardFileFormatError(line), stop);
            if (stop.stop_requested()) return false;
        }
        return true;
    };

    // The monitor reports card 0 and shows the swipe window with the count 1.
    CardFileReader::Result next = nextCard();
    CardTracks shown;
    if (next.outcome == CardFileReader::Outcome::kCard) shown.SetTexts(next.tracks);
    if (!report(CardReport::Of(ReportKind::kWrite, CardStatus::kDone, shown), next)) return;

    // A card the reader refused, or that did not read back as written, is written again on the
    // next swipe; a card taken is reported with the next one in the boxes.
    JobWriteRound round(context, stop, [&](const WriteAttempt& attempt, const TrackTexts& sent) {
        CardReport done = WrittenReport(ReportKind::kWrite, attempt);
        done.card.SetTexts(sent);  // as sent: upper-cased
        if (!attempt.Taken()) {
            reports.Push(std::move(done));
            return true;
        }
        next = nextCard();
        // After the last card the boxes keep showing it.
        if (next.outcome == CardFileReader::Outcome::kCard) done.card.SetTexts(next.tracks);
        return report(std::move(done), next);
    });
    while (next.outcome == CardFileReader::Outcome::kCard) {
        TrackTexts texts = next.tracks;
        // The window's texts are fixed: a card whose status never came is handled as the stop
        // or the failed link that ended its wait.
        const StepOutcome taken =
            CauseOf(WriteUntilTaken(context.reader, texts, round, JobWait(stop)), stop);
        if (taken == StepOutcome::kStopped) return;
        if (taken != StepOutcome::kDone) {
            view.SetMessageLineDirectly("write Error3");
            view.ShowSwipe(false);
            return;
        }
    }

    // The last card is reported before the job ends; the swipe window is then hidden for good.
    if (!reports.AwaitShown(stop)) return;
    if (next.outcome == CardFileReader::Outcome::kEndOfFile) {
        if (PauseUnlessStopped(context.reader.Link().GetClock(), stop, kEndPauseMs)) return;
        view.ShowSwipe(false);
        EndOfFile(view, "End of File!!!", stop);
    } else {
        // A card without data, or a line too long for any track (its format error was shown):
        // the file is read no further.
        view.ShowSwipe(false);
        view.Repaint();
        EndOfFile(view, "End of File!!", stop);
    }
}

CardFileJobs::CardFileJobs(JobMonitor& monitor) : monitor_(monitor) {
    monitor_.SetCardFileHooks(
        {[this](const CardTracks& card) { Append(card); }, [this] { CloseFiles(); }});
}

CardFileJobs::~CardFileJobs() {
    CloseFiles();
    monitor_.SetCardFileHooks({});
}

std::string CardFileJobs::AppendFailureText(const std::string& path) {
    return "The card could not be written to the file " + path + " and is not recorded.";
}

void CardFileJobs::Append(const CardTracks& card) {
    if (toFile_ == nullptr) return;
    if (!toFile_->Append(card, monitor_.Context().format.Type())) appendFailed_.store(true);
}

bool CardFileJobs::LaunchToFile(const std::string& path) {
    JobContext& context = monitor_.Context();
    toFileChosen_ = path;
    if (toFile_ == nullptr) {
        auto file = std::make_unique<CardFileAppender>(path);
        if (!file->IsOpen()) {
            context.view.MessageBox(kOpenFail);
            return false;
        }
        // A worker left waiting by an earlier job stops before the file changes hands.
        monitor_.StopJob(/*reset=*/false);
        toFile_ = std::move(file);
        toFileInUse_ = path;
    }
    monitor_.StopJob(/*reset=*/false);
    context.flags.toFileActive.store(1, std::memory_order_release);
    monitor_.LaunchRead();
    return true;
}

bool CardFileJobs::LaunchFromFile(const std::string& path) {
    JobContext& context = monitor_.Context();
    JobView& view = context.view;
    fromFileChosen_ = path;
    // The file of the last From File job is closed first, whether the new one opens or not; a
    // worker that may still read it stops before.
    if (fromFile_ != nullptr) {
        monitor_.StopJob(/*reset=*/false);
        fromFile_.reset();
    }
    auto file = std::make_unique<std::ifstream>();
    if (!OpenCardFileToRead(path, *file)) {
        view.MessageBox(kOpenFail);
        return false;
    }
    monitor_.StopJob(/*reset=*/false);
    fromFile_ = std::move(file);

    view.EnableJobButtons(false);
    view.SetSwipeTitle("Write Card");
    view.SetSwipeColour(SwipeColour::kRed);
    context.flags.swipeCount.store(0);
    view.SetSwipeLines(kPleaseSwipe, kSwipeCounter, "");
    view.ShowSwipe(false);  // the monitor shows it with the first count
    view.CentreSwipe();
    std::istream* in = fromFile_.get();
    JobContext worker = context;
    if (!monitor_.Runner().Start(
            [worker, in](std::stop_token stop) { FromFileWorker(worker, stop, *in); })) {
        view.SetMessageLineDirectly("Create Thread fail!");
        view.ShowSwipe(false);
    }
    return true;
}

void CardFileJobs::CloseFiles() {
    monitor_.StopWorker();
    toFile_.reset();
    fromFile_.reset();
    toFileInUse_.clear();
}

}  // namespace tollwick
