#include "cli/cmd_write.h"

#include <algorithm>

#include "carddata/write_verify.h"
#include "cli/card_results.h"
#include "cli/json_output.h"

namespace tollwick {
namespace {

int RunWrite(CliContext& ctx, const WriteOptions& options) {
    Output& out = ctx.Out();
    if (const int status = ctx.OpenSession(false, options.timeout)) return status;
    Session& session = ctx.ReaderSession();
    const DataType type = FormatType(ctx.Options());
    const DataTypeLayout layout = session.Layout();
    TrackTexts texts = options.texts;
    for (std::size_t t = 0; t < 3; ++t) {
        ToUpperAscii(texts[t]);
        if (auto problem = CheckTrackText(static_cast<int>(t), texts[t], layout.settings[t], type,
                                          layout.limits[t])) {
            return out.Fail(kExitUsage, *problem);
        }
    }
    if (const int status = session.Connect()) return status;
    out.SwipePrompt();
    TrackTexts sent = texts;
    const StepOutcome outcome =
        WriteCard(session.Reader(), sent, layout.settings, CommandWait(options.timeout));
    if (outcome == StepOutcome::kStopped) return ctx.Interrupt("no card written");
    if (outcome == StepOutcome::kUncertain) {
        nlohmann::ordered_json card = WriteCardJson(1, texts, true);
        MarkUncertain(card);
        out.Object(card);
        return ReportUncertain(out, "", MayHaveBeen(1, "written"));
    }
    if (outcome == StepOutcome::kRejected) {
        out.Object(WriteCardJson(1, texts, false, kWriteRejected));
    }
    if (outcome != StepOutcome::kDone) {
        return ReportOutcome(out, outcome, options.timeout, kWriteRejected);
    }
    // The virtual card is kept before the write is reported.
    if (const int status = session.SaveDeck()) return status;
    nlohmann::ordered_json card = WriteCardJson(1, texts, true);
    out.Text("Write OK");
    if (!options.verify) {
        out.Object(card);
        return kExitDone;
    }
    out.Prompt(kVerifyPrompt);
    session.SwipeLastCardAgain();
    uint8_t differing = 0;
    ReceivedBlock readBack;
    const StepOutcome verified =
        ReadBackWritten(session.Reader(), texts, layout.settings, CommandWait(options.timeout),
                        differing, &readBack);
    AddVerifyJson(
        card, verified == StepOutcome::kDone ? std::optional<uint8_t>(differing) : std::nullopt);
    out.Object(card);
    if (verified == StepOutcome::kStopped) return ctx.Interrupt("card written, not verified");
    if (verified != StepOutcome::kDone) {
        out.Warn("the card was written but not verified");
        return ReportOutcome(out, verified, options.timeout, "");
    }
    if (differing) {
        const std::string why =
            VerifyDifferences(texts, WithoutTrailingZeros(readBack.raw), layout.settings);
        return out.Fail(kExitCheckFailed,
                        "verify failed: " + why + " (" + kVerifyInspectHint + ")");
    }
    out.Text("Verify OK");
    return kExitDone;
}

}  // namespace

Command AddWriteCommand(CLI::App& app) {
    auto options = std::make_shared<WriteOptions>();
    Command command;
    command.app = app.add_subcommand(
        "write", "Write one card (texts without sentinels), wait for the reader's status");
    for (std::size_t t = 0; t < 3; ++t) {
        const std::string number = std::to_string(t + 1);
        command.app->add_option("--track" + number, options->texts[t], "Track " + number + " text")
            ->type_name("TEXT");
    }
    AddTimeoutOption(*command.app, options->timeout);
    auto* fromFile =
        command.app
            ->add_option("--from-file", options->fromFile,
                         "Write the cards of this card file (-: standard input), one per swipe")
            ->type_name("FILE")
            ->check(FileName());
    for (auto* track : {"--track1", "--track2", "--track3"}) fromFile->excludes(track);
    command.app->add_flag("--verify", options->verify,
                          "After each good write, read the card again (swipe it again) and "
                          "compare it with what was written; a mismatch fails the card");
    command.run = [options](CliContext& ctx) -> int {
        if (!options->fromFile.empty()) return RunWriteFromFile(ctx, *options);
        // Nothing to send would still take a swipe and report the card written.
        if (std::all_of(options->texts.begin(), options->texts.end(),
                        [](const std::string& text) { return text.empty(); })) {
            return ctx.Out().Fail(kExitUsage,
                                  "nothing to write: give --track1, --track2 or --track3");
        }
        return RunWrite(ctx, *options);
    };
    return command;
}

}  // namespace tollwick
