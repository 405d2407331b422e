// The manual page of tollwick-cli names every command and option its parser takes, as the
// parser's own help lists them: an option added without a word in the manual turns this red.
#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "test_platform.h"

namespace {

std::string HelpOf(const std::string& args) {
    return tollwick::testing::RunShell(std::string(TOLLWICK_CLI_PATH) + " " + args).second;
}

// The entries of one section of a help text ("Options:", "Subcommands:"): the first word of
// each of its lines, options split at their commas ("-h,--help").
std::set<std::string> Entries(const std::string& help, const std::string& section) {
    std::set<std::string> entries;
    const std::size_t start = help.find("\n" + section + "\n");
    std::istringstream in(start == std::string::npos ? ""
                                                     : help.substr(start + section.size() + 2));
    for (std::string line; std::getline(in, line) && line.starts_with(' ');) {
        std::string first;
        std::istringstream(line) >> first;
        if (first.starts_with('[')) continue;
        std::istringstream names(first);
        for (std::string name; std::getline(names, name, ',');) entries.insert(name);
    }
    return entries;
}

// The page as man shows it, near enough: hyphens unescaped, font changes gone.
std::string ManualText() {
    const std::string page = tollwick::testing::ReadFile(TOLLWICK_CLI_MANUAL);
    const std::string text = std::regex_replace(page, std::regex(R"(\\f(\[[^\]]*\]|\(..|.))"), "");
    return std::regex_replace(text, std::regex(R"(\\-)"), "-");
}

TEST(CliManual, NamesEveryCommandAndOptionOfTheParser) {
    const std::string manual = ManualText();
    ASSERT_FALSE(manual.empty());
    const std::string help = HelpOf("--help");
    const std::set<std::string> commands = Entries(help, "Subcommands:");
    EXPECT_TRUE(commands.contains("read") && commands.contains("inspect"));
    std::set<std::string> options = Entries(help, "Options:");
    for (const std::string& command : commands) {
        EXPECT_NE(manual.find(".B " + command), std::string::npos) << command;
        options.merge(Entries(HelpOf(command + " --help"), "Options:"));
    }
    EXPECT_TRUE(options.contains("--timeout") && options.contains("--verify"));
    for (const std::string& option : options) {
        EXPECT_NE(manual.find(option), std::string::npos) << option;
    }
}

}  // namespace
