#include "cli/cmd_issue.h"

#include <climits>

#include "cli/issue_output.h"

namespace tollwick {
namespace {

// Which parameter differs, in words, for a journal of another run.
std::string OtherRun(const RunParameters& kept, const RunParameters& now) {
    if (kept.dataDigest != now.dataDigest) return "another data file (its SHA-256 differs)";
    for (std::size_t t = 0; t < 3; ++t) {
        if (kept.templates[t] != now.templates[t]) {
            return "another --track" + std::to_string(t + 1) + " template (\"" + kept.templates[t] +
                   "\")";
        }
    }
    if (kept.dataType != now.dataType) return "another data type (" + kept.dataType + ")";
    return "other track formats (" + kept.formats + ")";
}

int Prepare(CliContext& ctx, const IssueOptions& options, PreparedIssue& p) {
    Output& out = ctx.Out();
    std::string error;
    if (!options.rows.empty()) {
        auto rows = ParseRowRange(options.rows, error);
        if (!rows) return out.Fail(kExitUsage, "--rows " + options.rows + " " + error);
        p.rows = *rows;
    }
    p.data = DataFile::Open(options.data, error);
    if (!p.data) return out.Fail(kExitFileFailed, "cannot read the data file: " + error);
    p.reader = OpenRecordReader(p.data->Rewound(), error);
    if (!p.reader) return out.Fail(kExitUsage, p.data->Name() + ": " + error);
    const GlobalOptions& global = ctx.Options();
    const DataType type = FormatType(global);
    const ProfileStore profile(ProfilePathOf(global));
    const DataTypeLayout layout = LayoutInForce(global, profile);
    p.maker = CardMaker::Make(options.templates, p.reader->Columns(), type, layout, error);
    if (!p.maker) return out.Fail(kExitUsage, error);
    p.run = RunParameters{p.data->Digest(), options.templates, std::string(DataTypeName(type)),
                          TrackSetText(layout.settings), ""};

    // The journal: a dry run only reads one that exists; a run takes it for itself. A new one is
    // made only once every record has passed its check.
    const auto openJournal = [&](SqliteJournal::Mode mode) {
        p.journal = SqliteJournal::Open(options.journal, mode, error);
        if (!p.journal) return out.Fail(kExitFileFailed, error);
        const auto kept = p.journal->Parameters();
        if (!p.journal->Error().empty()) return out.Fail(kExitFileFailed, p.journal->Error());
        if (kept && !kept->SameRunAs(p.run)) {
            return out.Fail(kExitUsage, "the journal " + options.journal +
                                            " belongs to another run: " + OtherRun(*kept, p.run));
        }
        p.run.digestKey = kept ? kept->digestKey : NewDigestKey();
        return int{kExitDone};
    };
    if (std::filesystem::exists(options.journal)) {
        const auto mode = options.dryRun ? SqliteJournal::Mode::kRead : SqliteJournal::Mode::kIssue;
        if (const int status = openJournal(mode)) return status;
    }

    // Every record is checked before the first card; a dry run shows what each card gets.
    RecordSource source(*p.reader, *p.maker, p.rows);
    p.check = CheckRecords(
        source, p.journal.get(), options.verify, options.retries,
        [&](long long row, const RowPlan& plan, const CardTexts* texts) {
            if (!options.dryRun) return;
            out.Object(PlanJson(row, plan, texts));
            out.Text(PlanLine(row, plan, texts));
        },
        [&](long long row, const std::string& why) {
            out.Object({{"type", "problem"}, {"row", row}, {"message", why}});
            out.Warn(why);
        });
    if (!p.check.broken.empty()) {
        return out.Fail(kExitFileFailed, p.data->Name() + ": " + p.check.broken);
    }
    if (p.check.problems) {
        const std::string count = std::to_string(p.check.problems);
        return out.Fail(kExitUsage, count + (p.check.problems == 1 ? " record" : " records") +
                                        " cannot be written as the templates fill them" +
                                        (options.dryRun ? "" : "; no card was touched"));
    }
    if (!options.dryRun && !p.journal) return openJournal(SqliteJournal::Mode::kIssue);
    return kExitDone;
}

int RunIssue(CliContext& ctx, const IssueOptions& options) {
    PreparedIssue prepared;
    if (const int status = Prepare(ctx, options, prepared)) return status;
    const RecordCheck& check = prepared.check;
    const std::string plan = std::to_string(check.toWrite) + " to write, " +
                             std::to_string(check.done) + " done before, " +
                             std::to_string(check.toDecide) + " uncertain, " +
                             std::to_string(check.gaveUp) + " failed on every try";
    if (options.dryRun) {
        ctx.Out().Object({{"type", "summary"},
                          {"records_to_write", check.toWrite},
                          {"records_done", check.done},
                          {"records_uncertain", check.toDecide},
                          {"records_failed", check.gaveUp},
                          {"exit_status", kExitDone}});
        ctx.Out().Text("dry run: " + plan);
        return kExitDone;
    }
    return IssueCards(ctx, options, prepared);
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
