#include "cli/cmd_read.h"

#include <climits>

#include "carddata/card_fields.h"
#include "cli/json_output.h"
#include "files/card_export.h"

namespace tollwick {
namespace {

std::optional<CardFields> FieldsOf(const ReadCard& read, bool showPan) {
    return ParseCardFields(read.card.Texts(), showPan);
}

int RunRead(CliContext& ctx, const ReadOptions& options) {
    if (const int status = ctx.OpenSession(false, options.timeout)) return status;
    Session& session = ctx.ReaderSession();
    if (const int status = session.Connect()) return status;
    ctx.Out().SwipePrompt();
    ReadCard read;
    const StepOutcome outcome =
        ReadOneCard(session, session.Layout().settings, options.timeout, read);
    if (outcome == StepOutcome::kStopped) return ctx.Interrupt("no card read");
    if (outcome != StepOutcome::kDone) {
        return ReportOutcome(ctx.Out(), outcome, options.timeout, "");
    }
    ctx.Out().Object(ReadCardObject(1, read, options, std::nullopt));
    std::string text = ReadCardText(read, options);
    text.pop_back();  // Text adds the last line end
    ctx.Out().Text(text);
    return read.Failed() ? kExitCheckFailed : kExitDone;
}

}  // namespace

nlohmann::ordered_json ReadCardObject(int card, const ReadCard& read, const ReadOptions& options,
                                      std::optional<bool> recorded) {
    nlohmann::ordered_json object = ReadCardJson(card, read.tracks, recorded);
    if (options.fields) object["fields"] = CardFieldsJson(FieldsOf(read, options.showPan));
    return object;
}

std::string ReadCardText(const ReadCard& read, const ReadOptions& options) {
    std::string text = CardLines(read.card);
    if (!options.fields) return text;
    const std::optional<CardFields> fields = FieldsOf(read, options.showPan);
    if (!fields) return text + "Fields: none (no card format Tollwick knows)\n";
    for (const std::string& line : FieldLines(*fields)) text += line + "\n";
    return text;
}

Command AddReadCommand(CLI::App& app) {
    auto options = std::make_shared<ReadOptions>();
    Command command;
    command.app =
        app.add_subcommand("read", "Arm a raw read, wait for one swipe, print the three tracks");
    AddTimeoutOption(*command.app, options->timeout);
    command.app
        ->add_option("--to-file", options->toFile,
                     "Append every good card to this card file (-: standard output), card after "
                     "card, until interrupted or --count cards")
        ->type_name("FILE")
        ->check(FileName());
    command.app
        ->add_option("--csv", options->csv,
                     "Append a row per card (time, card, each track's text and status) to this "
                     "CSV file (-: standard output), card after card, until interrupted or "
                     "--count cards")
        ->type_name("FILE")
        ->check(FileName());
    command.app
        ->add_option("--count", options->count,
                     "With --to-file or --csv: stop after this many cards")
        ->type_name("N")
        ->check(WholeNumber(1, INT_MAX));
    command.app->add_flag("--fields", options->fields,
                          "Also print the card's fields (bank cards, driver licences); account "
                          "numbers masked");
    command.app->add_flag("--show-pan", options->showPan,
                          "With --fields: show account numbers whole");
    command.run = [options](CliContext& ctx) -> int {
        Output& out = ctx.Out();
        const bool batch = !options->toFile.empty() || !options->csv.empty();
        if (options->count != 0 && !batch) {
            return out.Fail(kExitUsage, "--count goes with --to-file or --csv");
        }
        if (options->showPan && !options->fields) {
            return out.Fail(kExitUsage, "--show-pan goes with --fields");
        }
        if (options->showPan && ctx.Options().mask) {
            return out.Fail(kExitUsage, "--show-pan and --mask contradict each other");
        }
        if (!options->toFile.empty() && ctx.Options().mask) {
            return out.Fail(kExitUsage,
                            "--mask cannot go with --to-file: a card file keeps the tracks whole, "
                            "to be written back");
        }
        if (batch) return RunReadBatch(ctx, *options);
        return RunRead(ctx, *options);
    };
    return command;
}

}  // namespace tollwick
