// read --to-file, read --csv: card after card into a card file, a CSV file, or both. Each record
// is on the disk before the card is reported and the next one is armed, so every card reported
// is in the file, whole.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>

#include "cli/card_results.h"
#include "cli/cmd_read.h"
#include "cli/csv_output.h"
#include "cli/json_output.h"
#include "files/card_data_file.h"
#include "files/card_file.h"
#include "files/local_time.h"
#include "files/utf8_path.h"

namespace tollwick {
namespace {

// A file of card data that records are appended to (created 0600), or standard output for "-".
class RecordSink {
  public:
    explicit RecordSink(const std::string& path) : toStdout_(path == "-") {
        if (toStdout_) return;
        errno = 0;
        file_ = OpenCardDataFile(path);
        if (!file_) openError_ = errno ? std::strerror(errno) : "cannot open";
    }
    ~RecordSink() {
        if (file_) std::fclose(file_);
    }
    RecordSink(const RecordSink&) = delete;
    RecordSink& operator=(const RecordSink&) = delete;

    bool IsOpen() const { return toStdout_ || file_; }
    const std::string& OpenError() const { return openError_; }

    // True when the file holds nothing yet (standard output always starts empty).
    bool Empty() const { return toStdout_ || IsEmptyFile(file_); }

    // The record, on the disk when it is a file (a pipe or a terminal has no disk to reach).
    bool Append(const std::string& record) {
        std::FILE* file = toStdout_ ? stdout : file_;
        if (std::fwrite(record.data(), 1, record.size(), file) != record.size()) return false;
        return FlushToDisk(file);
    }

  private:
    bool toStdout_;
    std::FILE* file_ = nullptr;
    std::string openError_;
};

// Also for files not yet there ("c.csv" and "./c.csv").
bool SameFile(const std::string& a, const std::string& b) {
    if (a == b) return true;
    if (a == "-" || b == "-") return false;
    std::error_code error;
    if (std::filesystem::equivalent(PathFromUtf8(a), PathFromUtf8(b), error)) return true;
    auto canonical = [&error](const std::string& path) {
        return std::filesystem::weakly_canonical(
            std::filesystem::absolute(PathFromUtf8(path), error), error);
    };
    const auto canonicalA = canonical(a);
    if (error) return false;
    const auto canonicalB = canonical(b);
    return !error && canonicalA == canonicalB;
}

}  // namespace

int RunReadBatch(CliContext& ctx, const ReadOptions& options) {
    Output& out = ctx.Out();
    const std::string& path = options.toFile;
    const std::string& csvPath = options.csv;
    const bool toFile = !path.empty();
    const bool toCsv = !csvPath.empty();
    if (toFile && toCsv && SameFile(path, csvPath)) {
        return out.Fail(kExitUsage, path == "-"
                                        ? "--to-file - and --csv - cannot both use standard output"
                                        : "--to-file and --csv name the same file");
    }
    if (out.Json() && (path == "-" || csvPath == "-")) {
        return out.Fail(kExitUsage, std::string(path == "-" ? "--to-file - writes the cards"
                                                            : "--csv - writes the rows") +
                                        " to standard output, which --json needs");
    }
    std::optional<RecordSink> cardFile;
    std::optional<RecordSink> csvFile;
    if (toFile) {
        cardFile.emplace(path);
        if (!cardFile->IsOpen()) {
            return out.Fail(kExitFileFailed,
                            "Open file fail!! (" + path + ": " + cardFile->OpenError() + ")");
        }
    }
    if (toCsv) {
        csvFile.emplace(csvPath);
        if (!csvFile->IsOpen()) {
            return out.Fail(kExitFileFailed,
                            "cannot open " + csvPath + ": " + csvFile->OpenError());
        }
        if (csvFile->Empty() && !csvFile->Append(CsvHeader())) {
            return out.Fail(kExitFileFailed,
                            "cannot write to " + csvPath + ": " + std::strerror(errno));
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
                status = out.Fail(kExitFileFailed, "cannot write to " + path + ": " +
                                                       std::strerror(errno) + " (card " + number +
                                                       " not recorded)");
                break;
            }
        }
        if (toCsv && !csvFile->Append(out.Masked(CsvCardRow(now, n, read.tracks)))) {
            status = out.Fail(kExitFileFailed, "cannot write to " + csvPath + ": " +
                                                   std::strerror(errno) + " (card " + number +
                                                   " not in it)");
            break;
        }
        ++(read.Failed() ? summary.cardsFailed : summary.cardsDone);
        out.CardObject(ReadCardObject(n, read, options,
                                      toFile ? std::optional<bool>(!read.Failed()) : std::nullopt));
        out.CardText(ReadCardText(read, options));
        if (read.Failed()) {
            out.Warn("Read Error!! (card " + number +
                     (!toFile ? ")"
                      : toCsv ? " not recorded in the card file)"
                              : " not recorded)"));
        }
    }
    if (status == kExitDone && summary.cardsFailed) status = kExitCheckFailed;
    summary.exitStatus = status;
    if (toFile) summary.extra["file"] = path;
    if (toCsv) summary.extra["csv"] = csvPath;
    out.Object(SummaryJson(summary));
    std::string line = done();
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
