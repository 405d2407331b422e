// read --to-file: card after card into a card file; each record is on the disk before the card
// is reported and the next one is armed, so every card reported is in the file, whole.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "cli/card_steps.h"
#include "cli/cmd_read.h"
#include "cli/json_output.h"
#include "jobs/card_file.h"

namespace tollwick {
namespace {

// The card file, or standard output for "-".
class CardSink {
  public:
    explicit CardSink(const std::string& path) : toStdout_(path == "-") {
        if (toStdout_) return;
        errno = 0;
        file_.emplace(path);
        if (!file_->IsOpen()) openError_ = errno ? std::strerror(errno) : "cannot open";
    }
    bool IsOpen() const { return toStdout_ || file_->IsOpen(); }
    const std::string& OpenError() const { return openError_; }

    bool Append(const CardTracks& card, DataType type) {
        if (!toStdout_) return file_->Append(card, type);
        const std::time_t now = std::time(nullptr);
        std::tm local{};
        localtime_r(&now, &local);
        const std::string record = CardFileRecord(local, card, type);
        if (std::fwrite(record.data(), 1, record.size(), stdout) != record.size()) return false;
        if (std::fflush(stdout) != 0) return false;
        // Redirected to a file: on the disk as a named card file would be.
        struct stat info {};
        if (::fstat(STDOUT_FILENO, &info) == 0 && S_ISREG(info.st_mode)) {
            return ::fsync(STDOUT_FILENO) == 0;
        }
        return true;
    }

  private:
    bool toStdout_;
    std::optional<CardFileAppender> file_;
    std::string openError_;
};

}  // namespace

int RunReadToFile(CliContext& ctx, const ReadOptions& options) {
    Output& out = ctx.Out();
    const std::string& path = options.toFile;
    if (path == "-" && out.Json()) {
        return out.Fail(kExitUsage,
                        "--to-file - writes the cards to standard output, which --json needs");
    }
    CardSink sink(path);
    if (!sink.IsOpen()) {
        return out.Fail(kExitFileFailed,
                        "Open file fail!! (" + path + ": " + sink.OpenError() + ")");
    }
    if (path == "-") out.ResultsToStandardError();
    if (const int status = ctx.OpenSession(true)) return status;
    Session& session = ctx.ReaderSession();
    if (const int status = session.Connect()) return status;
    const DataType type = FormatType(ctx.Options());
    const TrackSet formats = session.Layout().settings;
    const std::optional<int> of = options.count ? std::optional<int>(options.count) : std::nullopt;

    BatchSummary summary;
    int status = kExitDone;
    for (int n = 1; options.count == 0 || n <= options.count; ++n) {
        out.Progress(n, of);
        ReadCard read;
        const CardOutcome outcome = ReadOneCard(session, formats, options.timeout, read);
        if (outcome == CardOutcome::kInterrupted) {
            summary.interrupted = true;
            status = ctx.Interrupt(Cards(summary.cardsDone) + " recorded");
            break;
        }
        if (outcome != CardOutcome::kDone) {
            status = ReportOutcome(out, outcome, options.timeout, "");
            break;
        }
        if (read.Failed()) {
            ++summary.cardsFailed;
            out.CardObject(ReadCardJson(n, read.tracks, false));
            out.CardText(CardLines(read.card));
            out.Warn("Read Error!! (card " + std::to_string(n) + " not recorded)");
            continue;
        }
        if (!sink.Append(read.card, type)) {
            status =
                out.Fail(kExitFileFailed, "cannot write to " + path + ": " + std::strerror(errno) +
                                              " (card " + std::to_string(n) + " not recorded)");
            break;
        }
        ++summary.cardsDone;
        out.CardObject(ReadCardJson(n, read.tracks, true));
        out.CardText(CardLines(read.card));
    }
    if (status == kExitDone && summary.cardsFailed) status = kExitCheckFailed;
    summary.exitStatus = status;
    summary.extra = {{"file", path}};
    out.Object(SummaryJson(summary));
    std::string line = Cards(summary.cardsDone) + " recorded";
    if (path != "-") line += " in " + path;
    if (summary.cardsFailed) line += ", " + std::to_string(summary.cardsFailed) + " not recorded";
    out.Text(line);
    return status;
}

}  // namespace tollwick
