// The desktop program answers --help, --version and mistakes in its options before Qt starts,
// so they work where no display is (a terminal, a script, a package build).
#include <gtest/gtest.h>

#include <string>

#include "test_platform.h"
#include "tollwick_version.h"

namespace {

// The status and output (stdout and stderr) of the program. One that opened its window anyway
// would never end: the timeout ends it (status 124).
std::pair<int, std::string> RunWithoutDisplay(const std::string& args,
                                              const std::string& display = "") {
    return tollwick::testing::RunShell(
        std::string("timeout 30 env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM ") + display +
        " " + TOLLWICK_APP_PATH + " " + args);
}

TEST(DesktopOptions, HelpVersionMistakesAndTheMissingDisplayAreSaidWithoutOne) {
    EXPECT_EQ(RunWithoutDisplay("--version"),
              std::pair(0, std::string("tollwick ") + tollwick::kTollwickVersion + "\n"));
    for (const char* help : {"--help", "-h", "--simulate --help"}) {
        const auto [status, output] = RunWithoutDisplay(help);
        EXPECT_EQ(status, 0) << help;
        EXPECT_EQ(output.rfind("Usage: tollwick ", 0), 0u) << output;
        for (const char* option : {"--simulate", "--deck FILE", "--profile FILE", "--version"})
            EXPECT_NE(output.find(option), std::string::npos) << option;
    }

    // A mistake: status 2 and one line naming it.
    const std::pair<const char*, const char*> mistakes[] = {
        {"--bogus", "'--bogus'"},
        {"--simulate --deck", "--deck needs a file name"},
        {"--deck cards.json", "--deck needs --simulate"},
        {"--simulate=yes", "--simulate takes no value"},
        {"--profile=", "--profile needs a file name"},
        {"cards.json", "'cards.json'"},
        {"-platform offscreen", "'-platform'"},
    };
    for (const auto& [args, named] : mistakes) {
        const auto [status, output] = RunWithoutDisplay(args);
        EXPECT_EQ(status, 2) << args;
        EXPECT_EQ(output.rfind("tollwick: ", 0), 0u) << output;
        EXPECT_NE(output.find(named), std::string::npos) << output;
        EXPECT_EQ(output.find('\n'), output.size() - 1) << output;
    }

    // Started where there is no display, the program says so in one line and ends with status 1:
    // no display at all, or one that cannot be reached.
    const std::string said =
        "tollwick: no display: tollwick needs a graphical session; use tollwick-cli\n";
    EXPECT_EQ(RunWithoutDisplay("--simulate"), std::pair(1, said));
    EXPECT_EQ(RunWithoutDisplay(""), std::pair(1, said));
    const auto [status, output] = RunWithoutDisplay("--simulate", "DISPLAY=:97");
    EXPECT_EQ(status, 1);
    EXPECT_TRUE(output.ends_with(said)) << output;
}

}  // namespace
