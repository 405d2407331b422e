// The desktop program answers --help, --version and mistakes in its options before Qt starts,
// so they work where no display is (a terminal, a script, a package build).
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <array>
#include <cstdio>
#include <string>

#include "tollwick_version.h"

namespace {

struct Result {
    int status = -1;
    std::string output;  // stdout and stderr
};

// A program that opened its window anyway would never end: the timeout ends it (status 124).
Result RunWithoutDisplay(const std::string& args) {
    const std::string command =
        std::string("timeout 30 env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM ") +
        TOLLWICK_APP_PATH + " " + args + " 2>&1";
    Result result;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return result;
    std::array<char, 4096> chunk;
    std::size_t n = 0;
    while ((n = std::fread(chunk.data(), 1, chunk.size(), pipe)) > 0)
        result.output.append(chunk.data(), n);
    const int status = ::pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

TEST(DesktopOptions, HelpAndVersionNeedNoDisplay) {
    const Result version = RunWithoutDisplay("--version");
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.output, std::string("tollwick ") + tollwick::kTollwickVersion + "\n");

    for (const char* help : {"--help", "-h", "--simulate --help"}) {
        const Result result = RunWithoutDisplay(help);
        EXPECT_EQ(result.status, 0) << help;
        EXPECT_EQ(result.output.rfind("Usage: tollwick ", 0), 0u) << result.output;
        for (const char* option : {"--simulate", "--deck FILE", "--profile FILE", "--version"})
            EXPECT_NE(result.output.find(option), std::string::npos) << option;
    }
}

TEST(DesktopOptions, MistakesExitTwoWithOneLineNamingThem) {
    struct Case {
        const char* args;
        const char* named;
    };
    const Case cases[] = {
        {"--bogus", "'--bogus'"},
        {"--simulate --deck", "--deck needs a file name"},
        {"--deck cards.json", "--deck needs --simulate"},
        {"--simulate=yes", "--simulate takes no value"},
        {"--profile=", "--profile needs a file name"},
        {"cards.json", "'cards.json'"},
        {"-platform offscreen", "'-platform'"},
    };
    for (const Case& c : cases) {
        const Result result = RunWithoutDisplay(c.args);
        EXPECT_EQ(result.status, 2) << c.args;
        EXPECT_EQ(result.output.rfind("tollwick: ", 0), 0u) << result.output;
        EXPECT_NE(result.output.find(c.named), std::string::npos) << result.output;
        EXPECT_EQ(result.output.find('\n'), result.output.size() - 1) << result.output;
    }
}

}  // namespace
