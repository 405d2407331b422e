#include "cli/cli_app.h"

#include <CLI/CLI.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "cli/command.h"
#include "cli/options.h"
#include "cli/output.h"
#include "tollwick_version.h"

namespace tollwick {
namespace {

// Every command, in the order of --help.
constexpr Command (*kCommands[])(CLI::App&) = {
    AddInfoCommand,       AddReadCommand, AddWriteCommand,  AddEraseCommand,  AddDensityCommand,
    AddCoercivityCommand, AddBeepCommand, AddEncodeCommand, AddDecodeCommand, AddInspectCommand,
};

bool AsksForJson(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--") return false;
        if (arg == "--json") return true;
    }
    return false;
}

// One line saying what is wrong with the command line.
std::string ParseErrorLine(const CLI::ParseError& error, CLI::App& app,
                           const std::vector<Command>& commands) {
    std::string names;
    for (const Command& command : commands) {
        names += (names.empty() ? "" : ", ") + command.app->get_name();
    }
    const std::string what = error.what();
    if (app.get_subcommands().empty() && dynamic_cast<const CLI::RequiredError*>(&error)) {
        const std::vector<std::string> rest = app.remaining();
        if (!rest.empty() && !rest.front().empty() && rest.front()[0] != '-') {
            return "unknown command '" + rest.front() + "' (commands: " + names + ")";
        }
        if (what == "A subcommand is required") {
            return "no command given (commands: " + names + "; see --help)";
        }
    }
    const std::size_t colon = what.find(": ");
    if (dynamic_cast<const CLI::ValidationError*>(&error) && colon != std::string::npos) {
        return what.substr(0, colon) + " " + what.substr(colon + 2);  // "--card must be ..."
    }
    if (dynamic_cast<const CLI::ArgumentMismatch*>(&error) && colon != std::string::npos &&
        what.find("missing") != std::string::npos) {
        return what.substr(0, colon) + " needs a value";
    }
    return what;
}

}  // namespace

int RunCli(int argc, char** argv) {
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

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        Output out(AsksForJson(argc, argv), false);
        return out.Fail(kExitUsage, ParseErrorLine(e, app, commands));
    }
    options.cardGiven = app.get_option("--card")->count() > 0;
    Output out(options.json, options.quiet);
    out.SetMasking(options.mask);
    if (auto problem = CheckGlobalOptions(options)) return out.Fail(kExitUsage, *problem);

    CliContext context(options, out);
    for (const Command& command : commands) {
        if (command.app->parsed()) return context.Finish(command.run(context));
    }
    return out.Fail(kExitUsage, "no command given");
}

}  // namespace tollwick
