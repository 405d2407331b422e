// A command of tollwick-cli: a subcommand with its own options, and what runs when it is chosen.
// To add one: a file cmd_NAME.cpp with an AddNAMECommand, declared here and listed in cli_app.cpp.
#pragma once

#include <CLI/CLI.hpp>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/exit_codes.h"
#include "cli/interrupt.h"
#include "cli/options.h"
#include "cli/output.h"
#include "cli/session.h"
#include "files/user_file.h"

namespace tollwick {

// What a running command has at hand: the global options, the output, and the reader session
// (opened on demand; a command without a reader never opens it).
class CliContext {
  public:
    CliContext(const GlobalOptions& options, Output& out) : options_(options), out_(out) {}
    ~CliContext();

    const GlobalOptions& Options() const { return options_; }
    Output& Out() { return out_; }

    // Sets up the reader (the interrupts are taken by main's SignalWatch). cardAfterCard: the
    // virtual reader swipes the deck's cards in turn. kExitDone, or the status of what failed
    // (said).
    int OpenSession(bool cardAfterCard);

    // Refuses a file given two roles in this run: the command's own files (`files`, such as
    // --to-file and --csv), the deck of --simulate and the profile. kExitDone, or kExitUsage
    // (said: "--deck and --to-file name the same file (d.json): give each its own file").
    int CheckFileRoles(std::vector<NamedFile> files);
    Session& ReaderSession() { return *session_; }

    // The end of a command run: after an interrupt or a failure of standard output the reader is
    // disarmed, and a changed deck is saved. Returns the exit status (a failed save turns
    // success into kExitFileFailed).
    int Finish(int status);

    // "interrupted; 2 cards written": said, and kExitInterrupted.
    int Interrupt(const std::string& cardsDone);

  private:
    const GlobalOptions& options_;
    Output& out_;
    std::unique_ptr<Session> session_;
};

struct Command {
    CLI::App* app = nullptr;
    std::function<int(CliContext&)> run;
    std::string helpNote;  // for --help, before the exit statuses
};

Command AddInfoCommand(CLI::App& app);
Command AddReadCommand(CLI::App& app);
Command AddWriteCommand(CLI::App& app);
Command AddEraseCommand(CLI::App& app);
Command AddDensityCommand(CLI::App& app);
Command AddCoercivityCommand(CLI::App& app);
Command AddBeepCommand(CLI::App& app);
Command AddEncodeCommand(CLI::App& app);
Command AddDecodeCommand(CLI::App& app);
Command AddInspectCommand(CLI::App& app);
Command AddIssueCommand(CLI::App& app);
Command AddJournalCommand(CLI::App& app);
Command AddListCommand(CLI::App& app);

// "1 card", "3 cards", "no card".
std::string Cards(int count);

}  // namespace tollwick
