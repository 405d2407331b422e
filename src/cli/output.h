// Where results and messages go. Results on standard output (text lines, or JSON objects with
// --json), messages on standard error, and on a terminal a batch's "card n of N" line or the
// prompt to swipe. Results that cannot be written (a full disk, a closed pipe) fail the run.
#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

#include "cli/console.h"

namespace tollwick {

// What a command that waits for one card says on a terminal.
inline constexpr const char* kSwipePrompt = "Swipe a card... (Ctrl+C to stop)";

class Output {
  public:
    // progress: how standard error shows a batch's progress.
    Output(bool json, bool quiet, ProgressStyle progress = StderrProgressStyle());

    bool Json() const { return json_; }
    bool Quiet() const { return quiet_; }

    // --mask: every account number in what goes out is masked (carddata/account_mask.h).
    void SetMasking(bool on) { masking_ = on; }
    bool Masking() const { return masking_; }
    // A text as it may go out: masked when masking is on. For what a command writes itself
    // (CSV rows).
    std::string Masked(std::string_view text) const;

    // The failure that ends the command: "tollwick-cli: message" on standard error and, with
    // --json, an error object on standard output. Returns exitStatus.
    int Fail(int exitStatus, std::string_view message);
    // A problem the command goes on after (a card not recorded, a bad line): standard error.
    void Warn(std::string_view message);
    // What the operator is to do now ("Swipe again to verify"): standard error, in every mode.
    void Prompt(std::string_view line);

    // A result line or object (a JSON object goes out only with --json, a text line only
    // without). Per-card results are left out with -q.
    void Text(std::string_view line);
    void Object(const nlohmann::ordered_json& object);
    void CardText(std::string_view lines);
    void CardObject(const nlohmann::ordered_json& object);

    // Standard output carries a card file (--to-file -): text results go to standard error.
    void ResultsToStandardError() { textToStderr_ = true; }

    // On a terminal: "card n of N" (or "card n") on standard error until the next output; on a
    // console that cannot rewrite a line, one such line per card.
    void Progress(int card, std::optional<int> of);
    // On a terminal: any such line ("12 of 40 records, 31 cards/min, 1 min left").
    void Status(std::string_view line);
    // On a terminal: kSwipePrompt on standard error until the next output (a command that waits
    // for one card).
    void SwipePrompt();

    // Bytes as they are (a card file or CSV rows sent to standard output); false when standard
    // output failed.
    bool WriteStandardOutput(std::string_view bytes);
    // Standard output failed (a full disk, a closed pipe): what follows for it is dropped, and a
    // batch ends after the card in hand.
    bool StandardOutputFailed() const { return stdoutError_ != 0; }
    // The end of the run: standard output flushed and closed (a failure some file systems report
    // only then) and checked. The exit status: `status`, or when results were lost and the run
    // had not failed otherwise (0 or 1), kExitOutputClosed when the pipe's reader left (said
    // nowhere: the reader chose to stop) and kExitFileFailed for any other failure (said).
    int Close(int status);

  private:
    bool json_;
    bool quiet_;
    bool masking_ = false;
    bool textToStderr_ = false;
    bool progressShown_ = false;
    ProgressStyle progress_;
    int stdoutError_ = 0;  // errno of the first failed write to standard output
    void ClearProgress();
    // Text results: to standard output, or to standard error when standard output carries a
    // card file.
    void WriteResults(std::string_view text);
};

}  // namespace tollwick
