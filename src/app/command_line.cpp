#include "app/command_line.h"

#include <algorithm>
#include <string_view>

namespace tollwick {

namespace {

// Every option once: what the parser takes, and what --help and the manual page say of it (the
// manual's OPTIONS are generated from this table). An option without help is not documented.
struct ValueOption {
    std::string_view name;
    std::string_view what;  // for "--deck needs a file name"
    std::optional<std::string> CommandLine::*target;
    std::string_view valueName;
    std::string_view help;
};

constexpr ValueOption kValueOptions[] = {
    {"--deck", "a file name", &CommandLine::deck, "FILE",
     "With --simulate: keep the virtual cards in this JSON file (created with the sample cards "
     "when missing, saved after every card written or erased). tollwick-cli reads and writes the "
     "same format."},
    {"--profile", "a file name", &CommandLine::profile, "FILE",
#ifdef _WIN32
     "The settings file to use (default: %TOLLWICK_PROFILE%, else "
     "%APPDATA%\\Tollwick\\Tollwick.ini)."},
#else
     "The settings file to use (default: $TOLLWICK_PROFILE, else "
     "~/.config/Tollwick/Tollwick.ini)."},
#endif
};

struct FlagOption {
    std::string_view name;
    bool CommandLine::*target;
    std::string_view alias;  // documented with the name: "-h, --help"
    std::string_view help;
};

constexpr FlagOption kFlags[] = {
    {"--simulate", &CommandLine::simulate, "",
     "Run on the virtual reader instead of the USB reader, with a second window to swipe its "
     "cards. The stored port of the real reader is left as it is."},
    {"--help", &CommandLine::help, "-h", "Show this help and exit."},
    {"-h", &CommandLine::help, "", ""},
    {"--version", &CommandLine::version, "", "Show the version and exit."},
};

// The help's descriptions start in this column; its lines end before column kWidth.
constexpr std::size_t kColumn = 18;
constexpr std::size_t kWidth = 79;

// "-h, --help", "--deck FILE": how an option is written in the help.
std::string Synopsis(std::string_view alias, std::string_view name, std::string_view value) {
    std::string text;
    if (!alias.empty()) text.append(alias).append(", ");
    text.append(name);
    if (!value.empty()) text.append(" ").append(value);
    return text;
}

// `text` in lines of at most `width` characters, each after `indent` blanks; the first line
// starts where the caller left off (`column`).
std::string Wrapped(std::string_view text, std::size_t column, std::size_t indent,
                    std::size_t width) {
    std::string out;
    std::size_t at = column;
    bool first = true;
    while (!text.empty()) {
        const std::size_t end = text.find(' ');
        const std::string_view word = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        if (!first && at + 1 + word.size() > width) {
            out.append("\n").append(indent, ' ');
            at = indent;
        } else if (!first) {
            out.push_back(' ');
            ++at;
        }
        out.append(word);
        at += word.size();
        first = false;
    }
    return out;
}

// A text for the manual page: roff's hyphens and backslashes escaped.
std::string Roff(std::string_view text) {
    std::string out;
    for (const char c : text) {
        if (c == '-')
            out.append("\\-");
        else if (c == '\\')
            out.append("\\e");
        else
            out.push_back(c);
    }
    return out;
}

CommandLine Failed(std::string error) {
    CommandLine result;
    result.error = std::move(error);
    return result;
}

}  // namespace

CommandLine ParseCommandLine(int argc, const char* const* argv) {
    CommandLine result;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        const std::size_t equals = arg.find('=');
        const std::string_view name =
            arg.starts_with("--") && equals != std::string_view::npos ? arg.substr(0, equals) : arg;
        const bool inlineValue = name.size() != arg.size();

        bool known = false;
        for (const FlagOption& flag : kFlags) {
            if (name != flag.name) continue;
            if (inlineValue) return Failed(std::string(name) + " takes no value");
            result.*flag.target = true;
            known = true;
        }
        for (const ValueOption& option : kValueOptions) {
            if (name != option.name) continue;
            std::string value;
            if (inlineValue) {
                value = arg.substr(equals + 1);
            } else if (i + 1 < argc) {
                value = argv[++i];
            }
            if (value.empty()) {
                return Failed(std::string(name) + " needs " + std::string(option.what));
            }
            result.*option.target = std::move(value);
            known = true;
        }
        if (known) continue;
        if (arg.starts_with("-") && arg.size() > 1) {
            return Failed("unknown option '" + std::string(name) + "' (see tollwick --help)");
        }
        return Failed("unexpected argument '" + std::string(arg) +
                      "': tollwick takes options only (see tollwick --help)");
    }
    if (result.deck && !result.simulate) {
        return Failed("--deck needs --simulate");
    }
    return result;
}

const std::string& CommandLineHelp() {
    static const std::string help = [] {
        std::string text =
            "Usage: tollwick [--simulate [--deck FILE]] [--profile FILE]\n"
            "Reads, writes, copies and compares magnetic stripe cards on the VK3300S.\n"
            "\n"
            "Options:\n";
        const auto entry = [&text](const std::string& synopsis, std::string_view what) {
            text.append("  ").append(synopsis);
            const std::size_t at = 2 + synopsis.size();
            text.append(at + 2 <= kColumn ? kColumn - at : 2, ' ');
            text.append(Wrapped(what, std::max(kColumn, at + 2), kColumn, kWidth)).append("\n");
        };
        for (const FlagOption& flag : kFlags) {
            if (flag.name == "--simulate") entry(Synopsis("", flag.name, ""), flag.help);
        }
        for (const ValueOption& option : kValueOptions) {
            if (!option.help.empty())
                entry(Synopsis("", option.name, option.valueName), option.help);
        }
        for (const FlagOption& flag : kFlags) {
            if (!flag.help.empty() && flag.name != "--simulate")
                entry(Synopsis(flag.alias, flag.name, ""), flag.help);
        }
        text.append(
            "\n"
            "Exit status: 0 closed normally; 1 no display, or the deck could not be used;\n"
            "2 usage error.\n");
        return text;
    }();
    return help;
}

std::string CommandLineManualOptions() {
    std::string roff;
    const auto entry = [&roff](std::string_view alias, std::string_view name,
                               std::string_view value, std::string_view help) {
        roff.append(".TP\n");
        if (!alias.empty()) {
            roff.append(".BR ").append(Roff(alias)).append(" \", \" ").append(Roff(name));
        } else if (!value.empty()) {
            roff.append(".BI ").append(Roff(name)).append(" \" ").append(value).append("\"");
        } else {
            roff.append(".B ").append(Roff(name));
        }
        roff.append("\n").append(Roff(help)).append("\n");
    };
    for (const FlagOption& flag : kFlags) {
        if (flag.name == "--simulate") entry("", flag.name, "", flag.help);
    }
    for (const ValueOption& option : kValueOptions) {
        if (!option.help.empty()) entry("", option.name, option.valueName, option.help);
    }
    for (const FlagOption& flag : kFlags) {
        if (!flag.help.empty() && flag.name != "--simulate")
            entry(flag.alias, flag.name, "", flag.help);
    }
    return roff;
}

}  // namespace tollwick
