#include "cli/cmd_read.h"

#include <climits>

#include "cli/card_steps.h"
#include "cli/json_output.h"

namespace tollwick {
namespace {

int RunRead(CliContext& ctx, const ReadOptions& options) {
    if (const int status = ctx.OpenSession(false)) return status;
    Session& session = ctx.ReaderSession();
    if (const int status = session.Connect()) return status;
    ReadCard read;
    const CardOutcome outcome =
        ReadOneCard(session, session.Layout().settings, options.timeout, read);
    if (outcome == CardOutcome::kInterrupted) return ctx.Interrupt("no card read");
    if (outcome != CardOutcome::kDone)
        return ReportOutcome(ctx.Out(), outcome, options.timeout, "");
    ctx.Out().Object(ReadCardJson(1, read.tracks, std::nullopt));
    for (int t = 0; t < 3; ++t) {
        ctx.Out().Text("Track" + std::to_string(t + 1) + ": " + std::string(read.card.Text(t)));
    }
    return read.Failed() ? kExitCheckFailed : kExitDone;
}

}  // namespace

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
        ->type_name("FILE");
    command.app->add_option("--count", options->count, "With --to-file: stop after this many cards")
        ->type_name("N")
        ->check(WholeNumber(1, INT_MAX));
    command.run = [options](CliContext& ctx) -> int {
        if (options->count != 0 && options->toFile.empty()) {
            return ctx.Out().Fail(kExitUsage, "--count goes with --to-file");
        }
        if (!options->toFile.empty()) return RunReadToFile(ctx, *options);
        return RunRead(ctx, *options);
    };
    return command;
}

}  // namespace tollwick
