// erase: the listed tracks of one card.
#include "cli/card_steps.h"
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
    ReaderCommands& reader = session.Reader();
    if (reader.EraseTracks(mask) != kReaderOk) {
        if (Interrupted()) return ctx.Interrupt("no card erased");
        if (!reader.IsConnected()) return out.Fail(kExitNoReader, "the link to the reader failed");
        return out.Fail(kExitCheckFailed, "the reader refused the erase");
    }
    const CardOutcome outcome = AwaitEraseStatus(session, options.timeout);
    if (outcome == CardOutcome::kInterrupted) return ctx.Interrupt("no card erased");
    if (outcome != CardOutcome::kDone) {
        return ReportOutcome(out, outcome, options.timeout, "the reader could not erase the card");
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
