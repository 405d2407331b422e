#include "app/command_line.h"

#include <string>
#include <string_view>

#include "settings/profile_store.h"

namespace tollwick {

namespace {

struct ValueOption {
    std::string_view name;
    std::string_view what;  // for "--deck needs a file name"
    std::optional<std::string> CommandLine::*target;
};

constexpr ValueOption kValueOptions[] = {
    {"--deck", "a file name", &CommandLine::deck},
    {"--profile", "a file name", &CommandLine::profile},
    {"--screenshot-demo", "a folder", &CommandLine::screenshotDir},
};

struct FlagOption {
    std::string_view name;
    bool CommandLine::*target;
};

constexpr FlagOption kFlags[] = {
    {"--help", &CommandLine::help},
    {"-h", &CommandLine::help},
    {"--version", &CommandLine::version},
    {"--simulate", &CommandLine::simulate},
};

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
    if (result.deck && !result.simulate && !result.screenshotDir) {
        return Failed("--deck needs --simulate");
    }
    return result;
}

const char* CommandLineHelp() {
    static const std::string text =
        std::string(
            "Usage: tollwick [--simulate [--deck FILE]] [--profile FILE]\n"
            "Reads, writes, copies and compares magnetic stripe cards on the VK3300S.\n"
            "\n"
            "Options:\n"
            "  --simulate      Run on the virtual reader, with a window to swipe its cards.\n"
            "  --deck FILE     With --simulate: keep the virtual cards in this JSON file\n"
            "                  (created with sample cards when missing, saved after every card\n"
            "                  written or erased).\n"
            "  --profile FILE  Settings file to use (default:\n"
            "                  ") +
        kDefaultProfileHelp +
        ").\n"
        "  -h, --help      Show this help and exit.\n"
        "  --version       Show the version and exit.\n"
        "\n"
        "Exit status: 0 closed normally; 1 the deck could not be used; 2 usage error.\n";
    return text.c_str();
}

}  // namespace tollwick
