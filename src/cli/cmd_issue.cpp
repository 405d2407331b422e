#include "cli/cmd_issue.h"

#include <climits>

#include "cli/issue_data.h"
#include "cli/issue_output.h"
#include "files/utf8_path.h"
#include "settings/profile_store.h"

namespace tollwick {
namespace {

int RunIssue(CliContext& ctx, const IssueOptions& options) {
    Output& out = ctx.Out();
    const GlobalOptions& global = ctx.Options();
    IssueRequest request;
    std::string error;
    if (!options.rows.empty()) {
        auto rows = ParseRowRange(options.rows, error);
        if (!rows) return out.Fail(kExitUsage, "--rows " + options.rows + " " + error);
        request.rows = *rows;
    }
    if (const int status =
            ctx.CheckFileRoles({{"DATA", options.data}, {"--journal", options.journal}})) {
        return status;
    }
    std::unique_ptr<SpooledInput> spool;
    if (options.data == "-") {
        spool = SpooledInput::FromStandardInput(error);
        if (!spool && Interrupted()) return ctx.Interrupt("no card written");
        if (!spool) return out.Fail(kExitFileFailed, error);
    }
    request.data = spool ? spool->Path() : PathFromUtf8(options.data);
    request.dataName = spool ? "standard input" : options.data;
    request.templates = options.templates;
    request.journal = PathFromUtf8(options.journal);
    request.type = FormatType(global);
    request.layout = LayoutInForce(global, ProfileStore(ProfilePathOf(global)));
    request.verify = options.verify;
    request.retries = options.retries;
    request.dryRun = options.dryRun;

    // Every record is checked before the first card; a dry run shows what each card gets.
    IssueSetup::Failure failure = IssueSetup::Failure::kNone;
    auto setup = IssueSetup::Prepare(
        request,
        [&](long long row, const RowPlan& plan, const TrackTexts* texts) {
            if (!options.dryRun) return;
            out.Object(PlanJson(row, plan, texts));
            out.Text(PlanLine(row, plan, texts));
        },
        [&](long long row, const std::string& why) {
            out.Object({{"type", "problem"}, {"row", row}, {"message", why}});
            out.Warn(why);
        },
        failure, error);
    if (!setup) {
        const bool usage =
            failure == IssueSetup::Failure::kRecords || failure == IssueSetup::Failure::kOtherRun;
        return out.Fail(usage ? kExitUsage : kExitFileFailed, error);
    }
    const RecordCheck& check = setup->Check();
    if (options.dryRun) {
        out.Object({{"type", "summary"},
                    {"records_to_write", check.toWrite},
                    {"records_done", check.done},
                    {"records_uncertain", check.toDecide},
                    {"records_failed", check.gaveUp},
                    {"exit_status", kExitDone}});
        out.Text("dry run: " + std::to_string(check.toWrite) + " to write, " +
                 std::to_string(check.done) + " done before, " + std::to_string(check.toDecide) +
                 " uncertain, " + std::to_string(check.gaveUp) + " failed on every try");
        return kExitDone;
    }
    return IssueCards(ctx, options, *setup);
}

}  // namespace

Command AddIssueCommand(CLI::App& app) {
    auto options = std::make_shared<IssueOptions>();
    Command command;
    command.app = app.add_subcommand(
        "issue", "Write every record of a data file onto exactly one card, with a journal");
    command.app
        ->add_option("DATA", options->data,
                     "CSV file with a header row (or JSON lines); -: standard input")
        ->required()
        ->type_name("DATA");
    for (std::size_t t = 0; t < 3; ++t) {
        const std::string number = std::to_string(t + 1);
        command.app
            ->add_option("--track" + number, options->templates[t],
                         "Track " + number +
                             " template: text without sentinels, with {column}, {row} and "
                             "{luhn:column}")
            ->type_name("TEMPLATE");
    }
    command.app
        ->add_option("--journal", options->journal,
                     "SQLite journal of the run (created when missing); the same journal resumes")
        ->required()
        ->type_name("FILE");
    command.app->add_flag("--verify", options->verify,
                          "Read each card back (swipe it again); a card that does not read back "
                          "as written is set aside and its record goes on the next card");
    command.app
        ->add_option("--retries", options->retries,
                     "Further cards a record may go onto after a failed one (default 2)")
        ->type_name("N")
        ->check(WholeNumber(0, 100));
    command.app->add_option("--rows", options->rows, "Only these rows: A-B, A- or A (from 1)")
        ->type_name("A-B");
    command.app->add_flag("--dry-run", options->dryRun,
                          "Check every record and show what each card would get; touch no card");
    command.app->add_flag("--recheck-uncertain", options->recheckUncertain,
                          "Read the cards whose write was left uncertain (swipe each when "
                          "asked) and record whether each holds its record, before going on");
    command.app
        ->add_option("--devices", options->devices,
                     "Drive several readers at once: all, or paths and serial numbers "
                     "separated by commas (see list)")
        ->type_name("all|PATH,...");
    AddTimeoutOption(*command.app, options->timeout);
    command.helpNote =
        "Every record is checked before the first card. The journal says, per record and card, "
        "which reader wrote it and how (written, verified, failed, uncertain); it never holds "
        "track texts. Run the same command again to resume.\n\n";
    command.run = [options](CliContext& ctx) { return RunIssue(ctx, *options); };
    return command;
}

}  // namespace tollwick
