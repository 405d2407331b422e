// erase: the listed tracks of one card.
#include "cli/card_results.h"
#include "cli/command.h"
#include "cli/json_output.h"

namespace tollwick {
namespace {

struct EraseOptions {
    std::vector<int> tracks;
    double timeout = kDefaultTimeoutSeconds;
};

int RunErase(CliContext& ctx, const EraseOptions& options) {
    Output& out = ctx.Out();
    uint8_t mask = 0;
    for (int t : options.tracks) mask |= static_cast<uint8_t>(1u << (t - 1));
    if (const int status = ctx.OpenSession(false)) return status;
    Session& session = ctx.ReaderSession();
    if (const int status = session.Connect()) return status;
    const StepOutcome outcome = EraseCard(session.Reader(), mask, CommandWait(options.timeout));
    if (outcome == StepOutcome::kStopped) return ctx.Interrupt("no card erased");
    if (outcome != StepOutcome::kDone) {
        return ReportOutcome(out, outcome, options.timeout,
                             outcome == StepOutcome::kRefused
                                 ? "the reader refused the erase"
                                 : "the reader could not erase the card");
    }
    if (const int status = session.SaveDeck()) return status;
    out.Object(EraseCardJson(1, mask));
    out.Text("Erase OK");
    return kExitDone;
}

}  // namespace

Command AddEraseCommand(CLI::App& app) {
    auto options = std::make_shared<EraseOptions>();
    Command command;
    command.app = app.add_subcommand("erase", "Erase the listed tracks of one card");
    command.app->add_option("--tracks", options->tracks, "Tracks to erase, like 1,3")
        ->type_name("LIST")
        ->required()
        ->delimiter(',')
        ->check(WholeNumber(1, 3));
    AddTimeoutOption(*command.app, options->timeout);
    command.run = [options](CliContext& ctx) -> int { return RunErase(ctx, *options); };
    return command;
}

}  // namespace tollwick
