#include "jobs/card_file_jobs.h"
#include "files/utf8_path.h"

#include <algorithm>

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
    ReportQueue& reports = context.flags.reports;
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
    const auto cardOf = [](const CardFileReader::Result& next) {
        TrackTexts texts{};
        for (std::size_t t = 0; t < 3; ++t) {
            const std::string& data = next.tracks[t];
            std::copy_n(data.begin(), std::min(data.size(), kTrackBufferSize - 1),
                        texts[t].begin());
        }
        return texts;
    };

    // The monitor reports card 0 and shows the swipe window with the count 1.
    CardFileReader::Result next = nextCard();
    CardTracks shown;
    if (next.outcome == CardFileReader::Outcome::kCard) shown.track = cardOf(next);
    if (!report(CardReport::Of(ReportKind::kWrite, kReaderOk, shown), next)) return;

    while (next.outcome == CardFileReader::Outcome::kCard) {
        TrackTexts texts = cardOf(next);
        // A card the reader refused, or that did not read back as written, is written again
        // on the next swipe.
        for (;;) {
            if (stop.stop_requested()) return;
            const TrackSet formats = context.format.Settings();
            if (context.reader.WriteTracks(texts, formats) != kReaderOk) {
                view.SetMessageText("write Error3");
                view.ShowSwipe(false);
                return;
            }
            const int status = AwaitWriteStatus(context.reader, stop);
            if (status == 0) return;
            CardTracks again;
            again.track = texts;  // as sent: upper-cased
            CardReport done = CardReport::Of(ReportKind::kWrite, status, again);
            ReadBackWritten(context, texts, formats, done, stop);
            if (done.Refused() || done.FailedVerify()) {
                reports.Push(std::move(done));
                continue;
            }
            next = nextCard();
            // After the last card the boxes keep showing it.
            if (next.outcome == CardFileReader::Outcome::kCard) done.card.track = cardOf(next);
            if (!report(std::move(done), next)) return;
            break;
        }
    }

    // The last card is reported before the job ends; the swipe window is then hidden for good.
    if (!reports.AwaitShown(stop)) return;
    if (next.outcome == CardFileReader::Outcome::kEndOfFile) {
        if (PauseUnlessStopped(context.reader.Link().GetClock(), stop, kEndPauseMs)) return;
        view.ShowSwipe(false);
        EndOfFile(view, "End of File!!!", stop);
    } else {
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
    auto file = std::make_unique<std::ifstream>(PathFromUtf8(path), std::ios::binary);
    if (!file->is_open()) {
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
        view.SetMessageText("Create Thread fail!");
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
