// write --from-file: the cards of a card file, one per swipe, with the line rules of From File.
// A card the reader rejects is written again on the next swipe, as the desktop program does.
#include <cerrno>
#include <cstring>
#include <istream>
#include <memory>

#include "carddata/write_verify.h"
#include "cli/card_results.h"
#include "cli/cmd_write.h"
#include "cli/command.h"
#include "cli/json_output.h"
#include "files/card_data_file.h"
#include "files/card_file.h"

namespace tollwick {
namespace {

// The command line's side of writing one card of the file: the formats of --format, --verify,
// the lines and objects said of each card the reader answered for, and the deck kept as soon as
// a card is written.
class FileCardRound final : public WriteRound {
  public:
    FileCardRound(CliContext& ctx, const WriteOptions& options, const TrackSet& formats,
                  BatchSummary& summary, int& status)
        : ctx_(ctx), options_(options), formats_(formats), summary_(summary), status_(status) {}

    // The card of the file now written, and its number.
    void Begin(int number, const TrackTexts& texts) {
        number_ = number;
        texts_ = &texts;
        last_ = WriteAttempt{};
        ctx_.Out().Progress(number_, std::nullopt);
    }
    const WriteAttempt& Last() const { return last_; }

    TrackSet Formats() override { return formats_; }
    bool VerifyAfterWrite() override { return options_.verify; }

    bool BeforeReadBack() override {
        // The virtual card is kept before the card is reported.
        if ((status_ = ctx_.ReaderSession().SaveDeck()) != kExitDone) return false;
        ctx_.Out().CardText("Write Card<" + std::to_string(number_) + "> OK\n");
        ctx_.Out().Prompt(kVerifyPrompt);
        ctx_.ReaderSession().SwipeLastCardAgain();
        return true;
    }

    // Why a card read back differs, from its bytes as a decode takes them.
    void AfterReadBack(const ReceivedBlock* readBack) override {
        if (readBack != nullptr) {
            why_ = VerifyDifferences(*texts_, WithoutTrailingZeros(readBack->raw), formats_);
        }
    }

    bool Attempted(const WriteAttempt& attempt, const TrackTexts&) override {
        last_ = attempt;
        Output& out = ctx_.Out();
        const std::string number = std::to_string(number_);
        if (status_ != kExitDone) return false;
        if (attempt.write == StepOutcome::kRejected) {
            ++summary_.cardsFailed;
            out.CardObject(WriteCardJson(number_, *texts_, false, kWriteRejected));
            out.Warn(std::string(kWriteRejected) + "; card " + number + " goes on the next swipe");
            out.Progress(number_, std::nullopt);
            return true;
        }
        if (!options_.verify) {
            // The virtual card is kept before the card is reported.
            status_ = ctx_.ReaderSession().SaveDeck();
            return status_ == kExitDone;
        }
        if (attempt.check == WriteCheck::kDiffers) {
            ++summary_.cardsFailed;
            nlohmann::ordered_json card = WriteCardJson(number_, *texts_, true);
            AddVerifyJson(card, attempt.differing);
            out.CardObject(card);
            out.Warn("verify failed: " + why_ + "; card " + number + " goes on the next swipe (" +
                     kVerifyInspectHint + ")");
            out.Progress(number_, std::nullopt);
        }
        return true;
    }

  private:
    CliContext& ctx_;
    const WriteOptions& options_;
    const TrackSet& formats_;
    BatchSummary& summary_;
    int& status_;
    int number_ = 0;
    const TrackTexts* texts_ = nullptr;
    WriteAttempt last_;
    std::string why_;
};

}  // namespace

int RunWriteFromFile(CliContext& ctx, const WriteOptions& options) {
    Output& out = ctx.Out();
    const std::string& path = options.fromFile;
    if (const int status = ctx.CheckFileRoles({{"--from-file", path}})) return status;
    // Standard input or the file: a pipe that brings nothing is waited for only until an
    // interrupt.
    errno = 0;
    const std::unique_ptr<StoppableInput> input = StoppableInput::Open(path, InterruptStop());
    if (!input) {
        return out.Fail(kExitFileFailed,
                        "Open file fail!! (" + path + ": " +
                            (errno == EISDIR ? "it is a folder" : std::strerror(errno)) + ")");
    }
    std::istream in(input.get());
    if (const int status = ctx.OpenSession(true)) return status;
    Session& session = ctx.ReaderSession();
    if (const int status = session.Connect()) return status;
    const TrackSet formats = session.Layout().settings;
    const std::array<int, 3> bpc = {formats[0].bpc, formats[1].bpc, formats[2].bpc};

    // "2 cards written", "2 cards written and verified".
    const std::string written = options.verify ? " written and verified" : " written";
    CardFileReader reader(in);
    BatchSummary summary;
    summary.cardsUncertain = 0;
    std::string uncertain;  // "card 2 may have been written: check it"
    nlohmann::ordered_json formatErrorLines = nlohmann::ordered_json::array();
    nlohmann::ordered_json end = nullptr;
    int status = kExitDone;
    FileCardRound round(ctx, options, formats, summary, status);
    for (int n = 1;; ++n) {
        const CardFileReader::Result next = reader.Next(bpc);
        for (int line : next.formatErrorLines) {
            formatErrorLines.push_back(line);
            out.Warn(CardFileFormatError(line));
        }
        if (input->Stopped()) {
            summary.interrupted = true;
            status = ctx.Interrupt(Cards(summary.cardsDone) + written);
            break;
        }
        if (in.bad() || input->Failed()) {
            status = out.Fail(kExitFileFailed, "cannot read " + path + " after line " +
                                                   std::to_string(reader.LineNumber()));
            break;
        }
        if (next.outcome == CardFileReader::Outcome::kLineTooLong) {
            status =
                out.Fail(kExitFileFailed,
                         "cannot read " + path + ": line " + std::to_string(reader.LineNumber()) +
                             " is longer than " + std::to_string(kCardFileLineMax) +
                             " characters, more than any track line; it is not a card file");
            end = "line_too_long";
            break;
        }
        if (next.outcome == CardFileReader::Outcome::kEndOfFile) {
            out.Text("End of File!!!");
            end = "end_of_file";
            break;
        }
        if (next.outcome == CardFileReader::Outcome::kNoData) {
            out.Text("End of File!!");
            end = "no_data";
            break;
        }
        // A card the reader refuses, or that does not read back as written, is not done: the
        // same data goes onto the next card swiped.
        round.Begin(n, next.tracks);
        TrackTexts texts = next.tracks;
        const StepOutcome outcome =
            WriteUntilTaken(session.Reader(), texts, round, CommandWait(options.timeout));
        if (status != kExitDone) break;
        // Written, and no card came back to verify it.
        const bool verifying = round.Last().check == WriteCheck::kNotReadBack;
        if (verifying) {
            nlohmann::ordered_json card = WriteCardJson(n, next.tracks, true);
            AddVerifyJson(card, std::nullopt);
            out.CardObject(card);
        }
        if (outcome == StepOutcome::kStopped) {
            summary.interrupted = true;
            status = ctx.Interrupt(Cards(summary.cardsDone) + written);
            break;
        }
        if (outcome == StepOutcome::kUncertain) {
            // The block went out and no status came: the card is neither written nor not.
            summary.cardsUncertain = 1;
            summary.interrupted = Interrupted();
            nlohmann::ordered_json card = WriteCardJson(n, next.tracks, true);
            MarkUncertain(card);
            out.CardObject(card);
            uncertain = MayHaveBeen(n, "written");
            status = ReportUncertain(out, Cards(summary.cardsDone) + written, uncertain);
            break;
        }
        const std::string number = std::to_string(n);
        if (outcome != StepOutcome::kDone) {
            if (verifying) out.Warn("card " + number + " was written but not verified");
            status = ReportOutcome(out, outcome, options.timeout, kWriteRejected);
            break;
        }
        ++summary.cardsDone;
        nlohmann::ordered_json card = WriteCardJson(n, next.tracks, true);
        if (options.verify) AddVerifyJson(card, uint8_t{0});
        out.CardObject(card);
        out.CardText((options.verify ? "Verify Card<" : "Write Card<") + number + "> OK\n");
        // Standard output failed: the run ends with this card, which is done.
        if (out.StandardOutputFailed()) break;
    }
    // Bad lines and rejected cards fail the run, though every card was written in the end.
    if (status == kExitDone && (!formatErrorLines.empty() || summary.cardsFailed)) {
        status = kExitCheckFailed;
    }
    summary.exitStatus = status;
    summary.extra = {{"file", path}, {"end", end}, {"format_error_lines", formatErrorLines}};
    out.Object(SummaryJson(summary));
    out.Text(Cards(summary.cardsDone) + written + (uncertain.empty() ? "" : ", " + uncertain));
    return status;
}

}  // namespace tollwick
