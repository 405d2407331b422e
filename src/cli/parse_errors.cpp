#include "cli/parse_errors.h"

#include <algorithm>
#include <cctype>

namespace tollwick {
namespace {

constexpr std::size_t kMostSuggestions = 4;

std::string Bare(std::string_view name) {
    while (!name.empty() && name.front() == '-') name.remove_prefix(1);
    std::string bare(name);
    for (char& ch : bare) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    return bare;
}

// Letters left out, added, changed, or two side by side swapped, that turn a into b.
int Slips(const std::string& a, const std::string& b) {
    const std::size_t n = a.size();
    const std::size_t m = b.size();
    std::vector<std::vector<int>> d(n + 1, std::vector<int>(m + 1, 0));
    for (std::size_t i = 0; i <= n; ++i) d[i][0] = static_cast<int>(i);
    for (std::size_t j = 0; j <= m; ++j) d[0][j] = static_cast<int>(j);
    for (std::size_t i = 1; i <= n; ++i) {
        for (std::size_t j = 1; j <= m; ++j) {
            const int changed = a[i - 1] == b[j - 1] ? 0 : 1;
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + changed});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
            }
        }
    }
    return d[n][m];
}

int SlipsAllowed(std::size_t letters) {
    if (letters >= 9) return 3;
    if (letters >= 5) return 2;
    return letters >= 3 ? 1 : 0;
}

// "--a", "--a or --b", "--a, --b or --c".
std::string Alternatives(const std::vector<std::string>& names) {
    std::string text;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) text += i + 1 == names.size() ? " or " : ", ";
        text += names[i];
    }
    return text;
}

// Every name of the options of `app`, as typed ("--timeout", "-q"), in the order of --help.
void AddOptionNames(const CLI::App& app, std::vector<std::string>& names) {
    for (const CLI::Option* option : app.get_options()) {
        if (option->get_positional()) continue;
        for (const std::string& name : option->get_lnames()) names.push_back("--" + name);
        for (const std::string& name : option->get_snames()) names.push_back("-" + name);
    }
}

CLI::App* ChosenCommand(CLI::App& app) {
    const std::vector<CLI::App*> chosen = app.get_subcommands();
    return chosen.empty() ? nullptr : chosen.front();
}

std::vector<CLI::App*> AllCommands(CLI::App& app) {
    return app.get_subcommands([](const CLI::App*) { return true; });
}

std::string CommandNames(CLI::App& app) {
    std::vector<std::string> names;
    for (const CLI::App* command : AllCommands(app)) names.push_back(command->get_name());
    std::string text;
    for (const std::string& name : names) text += (text.empty() ? "" : ", ") + name;
    return text;
}

// "(see tollwick-cli read --help)".
std::string SeeHelp(const CLI::App* command) {
    return std::string("(see tollwick-cli ") + (command ? command->get_name() + " " : "") +
           "--help)";
}

std::string UnknownOption(CLI::App& app, const std::string& typed) {
    CLI::App* command = ChosenCommand(app);
    std::vector<std::string> names;
    if (command) AddOptionNames(*command, names);
    AddOptionNames(app, names);
    if (!command) {
        for (const CLI::App* other : AllCommands(app)) AddOptionNames(*other, names);
    }
    const std::vector<std::string> close = CloseNames(typed, names);
    if (!close.empty()) {
        return "unknown option " + typed + " (did you mean " + Alternatives(close) + "?)";
    }
    // An option of another command: the command was likely the slip.
    if (command) {
        for (const CLI::App* other : AllCommands(app)) {
            std::vector<std::string> its;
            AddOptionNames(*other, its);
            if (std::find(its.begin(), its.end(), typed) != its.end()) {
                return command->get_name() + " has no option " + typed + " (" + other->get_name() +
                       " has)";
            }
        }
    }
    return "unknown option " + typed + " " + SeeHelp(command);
}

std::string UnknownCommand(CLI::App& app, const std::string& typed) {
    std::vector<std::string> names;
    for (const CLI::App* command : AllCommands(app)) names.push_back(command->get_name());
    const std::vector<std::string> close = CloseNames(typed, names);
    if (!close.empty()) {
        return "unknown command '" + typed + "' (did you mean " + Alternatives(close) + "?)";
    }
    return "unknown command '" + typed + "' (commands: " + CommandNames(app) + ")";
}

bool LooksLikeOption(const std::string& arg) {
    return arg.size() > 1 && arg[0] == '-';
}

std::optional<std::string> UnknownOptionAmong(CLI::App& app,
                                              const std::vector<std::string>& extras) {
    for (const std::string& arg : extras) {
        if (LooksLikeOption(arg)) return UnknownOption(app, arg.substr(0, arg.find('=')));
    }
    return std::nullopt;
}

// "--timeout" of a "--timeout: ..." message, when it names an option of the command line.
std::string NameBeforeColon(const std::string& what) {
    const std::size_t colon = what.find(": ");
    return colon == std::string::npos ? std::string() : what.substr(0, colon);
}

// An option given more often than it takes values (the parser throws on the second one).
std::optional<std::string> RepeatedOption(CLI::App& app, const std::string& name) {
    std::vector<CLI::App*> apps = {&app};
    for (CLI::App* command : AllCommands(app)) apps.push_back(command);
    for (CLI::App* each : apps) {
        for (const CLI::Option* option : each->get_options()) {
            const int most = option->get_items_expected_max();
            if (option->get_name() != name || most < 1) continue;
            if (option->count() > static_cast<std::size_t>(most)) {
                return name + " is given " + std::to_string(option->count()) +
                       " times: give it once";
            }
        }
    }
    return std::nullopt;
}

}  // namespace

std::vector<std::string> CloseNames(std::string_view typed, const std::vector<std::string>& names) {
    const std::string bare = Bare(typed);
    std::vector<std::string> found;
    auto add = [&found](const std::string& name) {
        if (found.size() < kMostSuggestions &&
            std::find(found.begin(), found.end(), name) == found.end()) {
            found.push_back(name);
        }
    };
    if (bare.empty()) return found;
    for (const std::string& name : names) {
        const std::string other = Bare(name);
        if (other.size() > bare.size() && other.compare(0, bare.size(), bare) == 0) add(name);
    }
    if (!found.empty()) return found;
    int fewest = SlipsAllowed(bare.size());
    for (const std::string& name : names) fewest = std::min(fewest, Slips(bare, Bare(name)));
    for (const std::string& name : names) {
        if (Slips(bare, Bare(name)) == fewest && fewest <= SlipsAllowed(bare.size())) add(name);
    }
    return found;
}

void LeaveUnknownArgumentsToUs(CLI::App& app) {
    app.allow_extras();
    for (CLI::App* command : AllCommands(app)) command->allow_extras();
}

std::optional<std::string> UnknownArgumentProblem(CLI::App& app) {
    const std::vector<std::string> extras = app.remaining(true);
    if (extras.empty()) return std::nullopt;
    if (auto option = UnknownOptionAmong(app, extras)) return option;
    const CLI::App* command = ChosenCommand(app);
    return "unexpected argument '" + extras.front() + "' " + SeeHelp(command);
}

std::string ParseErrorLine(const CLI::ParseError& error, CLI::App& app) {
    const std::vector<std::string> extras = app.remaining(true);
    if (auto option = UnknownOptionAmong(app, extras)) return *option;
    const std::string what = error.what();
    if (!ChosenCommand(app) && dynamic_cast<const CLI::RequiredError*>(&error)) {
        if (!extras.empty() && !extras.front().empty()) return UnknownCommand(app, extras.front());
        if (what == "A subcommand is required") {
            return "no command given (commands: " + CommandNames(app) + "; see --help)";
        }
    }
    const std::string name = NameBeforeColon(what);
    const std::string rest = name.empty() ? what : what.substr(name.size() + 2);
    if (dynamic_cast<const CLI::ValidationError*>(&error) && !name.empty()) {
        return name + " " + rest;  // "--card must be ..."
    }
    if (dynamic_cast<const CLI::ArgumentMismatch*>(&error) && !name.empty()) {
        if (auto repeated = RepeatedOption(app, name)) return *repeated;
        if (rest.find("missing") != std::string::npos) return name + " needs a value";
    }
    if (dynamic_cast<const CLI::ExcludesError*>(&error)) {
        const std::size_t excludes = what.find(" excludes ");
        if (excludes != std::string::npos) {
            return what.substr(0, excludes) + " and " + what.substr(excludes + 10) +
                   " cannot go together";
        }
    }
    return what;
}

}  // namespace tollwick
