// journal: an issuing run's journal, one attempt a line. No reader.
#include "cli/command.h"
#include "cli/issue_output.h"
#include "files/utf8_path.h"
#include "issuance/sqlite_journal.h"

namespace tollwick {

Command AddJournalCommand(CLI::App& app) {
    auto path = std::make_shared<std::string>();
    Command command;
    command.app = app.add_subcommand(
        "journal", "Print the journal of an issue run: the run, then every attempt in order");
    command.app->add_option("FILE", *path, "The journal (an SQLite database)")
        ->required()
        ->type_name("FILE");
    command.run = [path](CliContext& ctx) -> int {
        Output& out = ctx.Out();
        std::string error;
        auto journal = SqliteJournal::Open(PathFromUtf8(*path), SqliteJournal::Mode::kRead, error);
        if (!journal) return out.Fail(kExitFileFailed, error);
        const auto run = journal->Parameters();
        if (!run) {
            if (!journal->Error().empty()) return out.Fail(kExitFileFailed, journal->Error());
            out.Text("no run has started in this journal");
            return kExitDone;
        }
        out.Object(RunJson(*run));
        out.Text("data file SHA-256 " + run->dataDigest + ", " + run->dataType);
        for (std::size_t t = 0; t < 3; ++t) {
            if (!run->templates[t].empty()) {
                out.Text("track" + std::to_string(t + 1) + " " + run->templates[t]);
            }
        }
        const bool ok = journal->ForEach([&out](const Attempt& attempt) {
            out.Object(AttemptJson(attempt, true));
            out.Text(AttemptLine(attempt));
            return true;
        });
        if (!ok) return out.Fail(kExitFileFailed, journal->Error());
        return kExitDone;
    };
    return command;
}

}  // namespace tollwick
