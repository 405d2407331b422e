// erase: the listed tracks of one card.
#include <algorithm>
#include <optional>
#include <string>

#include "cli/card_results.h"
#include "cli/command.h"
#include "cli/json_output.h"

namespace tollwick {
namespace {

struct EraseOptions {
    std::string tracks;  // "1,3"
    double timeout = kDefaultTimeoutSeconds;
};

// The tracks of a list like "1,3" (bit 0 track 1); nothing for a list with anything else in it,
// an empty entry included ("1,,3", "1,").
std::optional<uint8_t> TrackMask(const std::string& list) {
    uint8_t mask = 0;
    std::size_t begin = 0;
    for (;;) {
        const std::size_t comma = std::min(list.find(',', begin), list.size());
        const std::string entry = list.substr(begin, comma - begin);
        if (entry != "1" && entry != "2" && entry != "3") return std::nullopt;
        mask |= static_cast<uint8_t>(1u << (entry[0] - '1'));
        if (comma == list.size()) return mask;
        begin = comma + 1;
    }
}

int RunErase(CliContext& ctx, const EraseOptions& options) {
    Output& out = ctx.Out();
    const uint8_t mask = TrackMask(options.tracks).value_or(0);
    if (const int status = ctx.OpenSession(false, options.timeout)) return status;
    Session& session = ctx.ReaderSession();
    if (const int status = session.Connect()) return status;
    out.SwipePrompt();
    const StepOutcome outcome = EraseCard(session.Reader(), mask, CommandWait(options.timeout));
    if (outcome == StepOutcome::kStopped) return ctx.Interrupt("no card erased");
    if (outcome == StepOutcome::kUncertain) {
        nlohmann::ordered_json card = EraseCardJson(1, mask);
        MarkUncertain(card);
        out.Object(card);
        return ReportUncertain(out, "", MayHaveBeen(1, "erased"));
    }
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
        ->check(CLI::Validator(
            [](std::string& list) -> std::string {
                return TrackMask(list) ? ""
                                       : "must list tracks 1 to 3 with commas between, like 1,3";
            },
            ""));
    AddTimeoutOption(*command.app, options->timeout);
    command.run = [options](CliContext& ctx) -> int { return RunErase(ctx, *options); };
    return command;
}

}  // namespace tollwick
