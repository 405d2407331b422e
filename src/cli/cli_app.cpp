#include "cli/cli_app.h"

#include <CLI/CLI.hpp>
#include <csignal>
#include <string>
#include <string_view>
#include <vector>

#include "cli/command.h"
#include "cli/interrupt.h"
#include "cli/options.h"
#include "cli/output.h"
#include "cli/parse_errors.h"
#include "tollwick_version.h"

namespace tollwick {
namespace {

// Every command, in the order of --help.
constexpr Command (*kCommands[])(CLI::App&) = {
    AddInfoCommand,       AddReadCommand,    AddWriteCommand,  AddEraseCommand,  AddDensityCommand,
    AddCoercivityCommand, AddBeepCommand,    AddEncodeCommand, AddDecodeCommand, AddInspectCommand,
    AddIssueCommand,      AddJournalCommand, AddListCommand,
};

bool AsksForJson(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--") return false;
        if (arg == "--json") return true;
    }
    return false;
}

}  // namespace

int RunCli(int argc, char** argv) {
#ifdef SIGPIPE
    // A closed output pipe (| head) is a failed write that the run ends on, the reader disarmed,
    // not a signal that ends the program wherever it is.
    std::signal(SIGPIPE, SIG_IGN);
#endif
    CLI::App app{
        "tollwick-cli: read, write and erase magnetic stripe cards with the VK3300S reader/writer",
        "tollwick-cli"};
    app.require_subcommand(1);
    app.fallthrough();  // global options may also follow the command
    app.set_version_flag("--version", std::string("tollwick-cli ") + kTollwickVersion);
    app.footer(kExitStatusHelp);
    GlobalOptions options;
    AddGlobalOptions(app, options);
    std::vector<Command> commands;
    for (auto add : kCommands) {
        commands.push_back(add(app));
        commands.back().app->footer(commands.back().helpNote + kExitStatusHelp);
    }
    LeaveUnknownArgumentsToUs(app);

    Output out(AsksForJson(argc, argv), false);
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return out.Close(app.exit(e));
    } catch (const CLI::CallForAllHelp& e) {
        return out.Close(app.exit(e));
    } catch (const CLI::CallForVersion& e) {
        return out.Close(app.exit(e));
    } catch (const CLI::ParseError& e) {
        return out.Close(out.Fail(kExitUsage, ParseErrorLine(e, app)));
    }
    if (auto unknown = UnknownArgumentProblem(app)) {
        return out.Close(out.Fail(kExitUsage, *unknown));
    }
    options.cardGiven = app.get_option("--card")->count() > 0;
    out = Output(options.json, options.quiet);
    out.SetMasking(options.mask);
    if (auto problem = CheckGlobalOptions(options))
        return out.Close(out.Fail(kExitUsage, *problem));

    CliContext context(options, out);
    for (const Command& command : commands) {
        if (!command.app->parsed()) continue;
        int status = context.Finish(command.run(context));
        // A command that waits for nothing (encode, decode) runs to its end; an interrupt that
        // came meanwhile still ends the run as an interrupt.
        if (status == kExitDone && Interrupted()) status = context.Interrupt("");
        return out.Close(status);
    }
    return out.Close(out.Fail(kExitUsage, "no command given"));
}

}  // namespace tollwick
