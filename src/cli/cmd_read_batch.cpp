// read --to-file, read --csv: card after card into a card file, a CSV file, or both. Each record
// is on the disk before the card is reported and the next one is armed, so every card reported
// is in the file, whole.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <optional>

#include "cli/card_results.h"
#include "cli/cmd_read.h"
#include "cli/csv_output.h"
#include "cli/json_output.h"
#include "files/card_data_file.h"
#include "files/card_file.h"
#include "files/folder_check.h"
#include "files/local_time.h"

namespace tollwick {
namespace {

// Why a file could not be opened; a missing folder is named (no folder is made for a file).
std::string OpenFailure(const std::string& path, const std::string& error) {
    if (const auto folder = MissingFolderOf(path)) return MissingFolderText(*folder);
    return error;
}

// A file of card data that records are appended to, each whole or not at all (created 0600),
// or standard output for "-".
class RecordSink {
  public:
    RecordSink(const std::string& path, Output& out) : toStdout_(path == "-"), out_(out) {
        if (!toStdout_) file_.emplace(path);
    }

    bool IsOpen() const { return toStdout_ || file_->IsOpen(); }
    const std::string& OpenError() const { return file_->OpenError(); }

    // True when the file holds nothing yet (standard output always starts empty).
    bool Empty() const { return toStdout_ || file_->Empty(); }

    // The record, on the disk when it is a file (a pipe or a terminal has no disk to reach).
    // Standard output goes through the run's output, whose failure ends the batch.
    bool Append(const std::string& record) {
        if (!toStdout_) return file_->AppendText(record);
        return out_.WriteStandardOutput(record) && FlushToDisk(stdout);
    }

    // Why an append failed, and what became of the file: "No space left on device (card 3 not
    // recorded; the file is as it was before it)".
    std::string AppendFailure(int error, const std::string& what) const {
        std::string text = std::string(std::strerror(error)) + " (" + what;
        if (!toStdout_) {
            text += file_->FileKept() ? "; the file is as it was before it"
                                      : "; the file may end with part of it";
        }
        return text + ")";
    }

  private:
    bool toStdout_;
    Output& out_;
    std::optional<CardFileAppender> file_;
};

}  // namespace

int RunReadBatch(CliContext& ctx, const ReadOptions& options) {
    Output& out = ctx.Out();
    const std::string& path = options.toFile;
    const std::string& csvPath = options.csv;
    const bool toFile = !path.empty();
    const bool toCsv = !csvPath.empty();
    if (toFile && toCsv && path == "-" && csvPath == "-") {
        return out.Fail(kExitUsage, "--to-file - and --csv - cannot both use standard output");
    }
    if (const int status = ctx.CheckFileRoles({{"--to-file", path}, {"--csv", csvPath}})) {
        return status;
    }
    if (out.Json() && (path == "-" || csvPath == "-")) {
        return out.Fail(kExitUsage, std::string(path == "-" ? "--to-file - writes the cards"
                                                            : "--csv - writes the rows") +
                                        " to standard output, which --json needs");
    }
    std::optional<RecordSink> cardFile;
    std::optional<RecordSink> csvFile;
    if (toFile) {
        cardFile.emplace(path, out);
        if (!cardFile->IsOpen()) {
            return out.Fail(kExitFileFailed, "Open file fail!! (" + path + ": " +
                                                 OpenFailure(path, cardFile->OpenError()) + ")");
        }
    }
    if (toCsv) {
        csvFile.emplace(csvPath, out);
        if (!csvFile->IsOpen()) {
            return out.Fail(kExitFileFailed, "cannot open " + csvPath + ": " +
                                                 OpenFailure(csvPath, csvFile->OpenError()));
        }
        if (csvFile->Empty() && !csvFile->Append(CsvHeader())) {
            // Standard output's failure is the run's end, said as the run ends (Output::Close).
            if (out.StandardOutputFailed()) return kExitDone;
            return out.Fail(kExitFileFailed,
                            "cannot write to " + csvPath + ": " +
                                csvFile->AppendFailure(errno, "its header not written"));
        }
    }
    if (path == "-" || csvPath == "-") out.ResultsToStandardError();
    if (const int status = ctx.OpenSession(true)) return status;
    Session& session = ctx.ReaderSession();
    if (const int status = session.Connect()) return status;
    const DataType type = FormatType(ctx.Options());
    const TrackSet formats = session.Layout().settings;
    const std::optional<int> of = options.count ? std::optional<int>(options.count) : std::nullopt;

    // What a run did: "2 cards recorded" (card file), "3 cards read" (CSV only).
    BatchSummary summary;
    auto done = [&] {
        if (toFile) return Cards(summary.cardsDone) + " recorded";
        return Cards(summary.cardsDone + summary.cardsFailed) + " read";
    };
    int status = kExitDone;
    bool cardsShown = false;  // a card's lines were shown: a blank line before the summary
    for (int n = 1; options.count == 0 || n <= options.count; ++n) {
        out.Progress(n, of);
        ReadCard read;
        const StepOutcome outcome = ReadOneCard(session, formats, options.timeout, read);
        if (outcome == StepOutcome::kStopped) {
            summary.interrupted = true;
            status = ctx.Interrupt(done());
            break;
        }
        if (outcome != StepOutcome::kDone) {
            status = ReportOutcome(out, outcome, options.timeout, "");
            break;
        }
        const std::time_t now = std::time(nullptr);
        const std::string number = std::to_string(n);
        if (toFile && !read.Failed()) {
            if (!cardFile->Append(CardFileRecord(ToLocalTime(now).fields, read.card, type))) {
                if (out.StandardOutputFailed()) break;  // the card file went to a closed pipe
                status = out.Fail(
                    kExitFileFailed,
                    "cannot write to " + path + ": " +
                        cardFile->AppendFailure(errno, "card " + number + " not recorded"));
                break;
            }
        }
        if (toCsv && !csvFile->Append(out.Masked(CsvCardRow(now, n, read.tracks)))) {
            if (out.StandardOutputFailed()) {  // the rows went to a closed pipe; the card was read
                ++(read.Failed() ? summary.cardsFailed : summary.cardsDone);
                break;
            }
            status = out.Fail(kExitFileFailed,
                              "cannot write to " + csvPath + ": " +
                                  csvFile->AppendFailure(errno, "card " + number + " not in it"));
            break;
        }
        ++(read.Failed() ? summary.cardsFailed : summary.cardsDone);
        out.CardObject(ReadCardObject(n, read, options,
                                      toFile ? std::optional<bool>(!read.Failed()) : std::nullopt));
        // Each card under its number, a blank line between two.
        out.CardText((n > 1 ? "\nCard " : "Card ") + number + "\n" + ReadCardText(read, options));
        cardsShown = !out.Quiet() && !out.Json();
        if (read.Failed()) {
            out.Warn("Read Error!! (card " + number +
                     (!toFile ? ")"
                      : toCsv ? " not recorded in the card file)"
                              : " not recorded)"));
        }
        // Standard output failed: the run ends with this card, which is done.
        if (out.StandardOutputFailed()) break;
    }
    if (status == kExitDone && summary.cardsFailed) status = kExitCheckFailed;
    summary.exitStatus = status;
    if (toFile) summary.extra["file"] = path;
    if (toCsv) summary.extra["csv"] = csvPath;
    out.Object(SummaryJson(summary));
    std::string line = (cardsShown ? "\n" : "") + done();
    if (toFile && path != "-") line += " in " + path;
    if (toFile && summary.cardsFailed) {
        line += ", " + std::to_string(summary.cardsFailed) + " not recorded";
    }
    if (toCsv) {
        if (toFile) line += "; " + Cards(summary.cardsDone + summary.cardsFailed) + " read";
        if (csvPath != "-") line += " into " + csvPath;
        if (!toFile && summary.cardsFailed) {
            line += ", " + std::to_string(summary.cardsFailed) + " with a failed track";
        }
    }
    out.Text(line);
    return status;
}

}  // namespace tollwick
