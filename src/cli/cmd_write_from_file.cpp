// write --from-file: the cards of a card file, one per swipe, with the line rules of From File.
// A card the reader rejects is written again on the next swipe, as the desktop program does.
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>

#include "carddata/write_verify.h"
#include "cli/card_steps.h"
#include "cli/cmd_write.h"
#include "cli/json_output.h"
#include "files/utf8_path.h"
#include "jobs/card_file.h"

namespace tollwick {

int RunWriteFromFile(CliContext& ctx, const WriteOptions& options) {
    Output& out = ctx.Out();
    const std::string& path = options.fromFile;
    std::ifstream file;
    if (path != "-") {
        std::error_code error;
        if (std::filesystem::is_directory(PathFromUtf8(path), error)) {
            return out.Fail(kExitFileFailed, "Open file fail!! (" + path + ": it is a folder)");
        }
        file.open(PathFromUtf8(path), std::ios::binary);
        if (!file) {
            return out.Fail(kExitFileFailed,
                            "Open file fail!! (" + path + ": " + std::strerror(errno) + ")");
        }
    }
    std::istream& in = path == "-" ? std::cin : file;
    if (const int status = ctx.OpenSession(true)) return status;
    Session& session = ctx.ReaderSession();
    if (const int status = session.Connect()) return status;
    const TrackSet formats = session.Layout().settings;
    const std::array<int, 3> bpc = {formats[0].bpc, formats[1].bpc, formats[2].bpc};

    // "2 cards written", "2 cards written and verified".
    const std::string written = options.verify ? " written and verified" : " written";
    CardFileReader reader(in);
    BatchSummary summary;
    nlohmann::ordered_json formatErrorLines = nlohmann::ordered_json::array();
    nlohmann::ordered_json end = nullptr;
    int status = kExitDone;
    for (int n = 1;; ++n) {
        const CardFileReader::Result next = reader.Next(bpc);
        for (int line : next.formatErrorLines) {
            formatErrorLines.push_back(line);
            out.Warn(CardFileFormatError(line));
        }
        if (in.bad()) {
            status = out.Fail(kExitFileFailed, "cannot read " + path + " after line " +
                                                   std::to_string(reader.LineNumber()));
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
        const std::string number = std::to_string(n);
        CardOutcome outcome;
        bool verifying = false;  // the card was written; the verify read did not end well
        uint8_t differing = 0;
        std::string why;
        for (;;) {
            out.Progress(n, std::nullopt);
            verifying = false;
            outcome = WriteOneCard(session, next.tracks, formats, options.timeout);
            if (outcome == CardOutcome::kRejected) {
                ++summary.cardsFailed;
                out.CardObject(WriteCardJson(n, next.tracks, false, kWriteRejected));
                out.Warn(std::string(kWriteRejected) + "; card " + number +
                         " goes on the next swipe");
                continue;
            }
            if (outcome != CardOutcome::kDone) break;
            // The virtual card is kept before the card is reported.
            if ((status = session.SaveDeck()) != kExitDone) break;
            if (!options.verify) break;
            out.CardText("Write Card<" + number + "> OK\n");
            out.Prompt(kVerifyPrompt);
            verifying = true;
            outcome =
                VerifyOneCard(session, next.tracks, formats, options.timeout, differing, &why);
            if (outcome != CardOutcome::kDone) break;
            verifying = false;
            if (differing == 0) break;
            ++summary.cardsFailed;
            nlohmann::ordered_json card = WriteCardJson(n, next.tracks, true);
            AddVerifyJson(card, differing);
            out.CardObject(card);
            out.Warn("verify failed: " + why + "; card " + number + " goes on the next swipe (" +
                     kVerifyInspectHint + ")");
        }
        if (status != kExitDone) break;
        if (verifying) {  // written, and not verified
            nlohmann::ordered_json card = WriteCardJson(n, next.tracks, true);
            AddVerifyJson(card, std::nullopt);
            out.CardObject(card);
        }
        if (outcome == CardOutcome::kInterrupted) {
            summary.interrupted = true;
            status = ctx.Interrupt(Cards(summary.cardsDone) + written);
            break;
        }
        if (outcome != CardOutcome::kDone) {
            if (verifying) out.Warn("card " + number + " was written but not verified");
            status = ReportOutcome(out, outcome, options.timeout, kWriteRejected);
            break;
        }
        ++summary.cardsDone;
        nlohmann::ordered_json card = WriteCardJson(n, next.tracks, true);
        if (options.verify) AddVerifyJson(card, uint8_t{0});
        out.CardObject(card);
        out.CardText((options.verify ? "Verify Card<" : "Write Card<") + number + "> OK\n");
    }
    // Bad lines and rejected cards fail the run, though every card was written in the end.
    if (status == kExitDone && (!formatErrorLines.empty() || summary.cardsFailed)) {
        status = kExitCheckFailed;
    }
    summary.exitStatus = status;
    summary.extra = {{"file", path}, {"end", end}, {"format_error_lines", formatErrorLines}};
    out.Object(SummaryJson(summary));
    out.Text(Cards(summary.cardsDone) + written);
    return status;
}

}  // namespace tollwick
