// tollwick-cli in-process, over the real hidapi backend linked against the fake hidapi library: a
// reader that answers the connection and then sends bytes that are no read block.
#include <fcntl.h>
#include <gtest/gtest.h>
#ifndef _WIN32
#include <stdio_ext.h>
#include <unistd.h>
#endif

#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/cli_app.h"
#include "fake_hidapi.h"
#include "files/utf8_path.h"
#include "test_platform.h"

namespace tollwick {
namespace {

using Bytes = std::vector<uint8_t>;
using Result = testing::ChildProcess::Result;
using testing::Fake;

class CliReaderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        testing::ResetFake();
        Fake().interfaces = {{"/dev/hidraw0"}};
        // A VK3300S that answers the connection test and the density, and after the raw read
        // command sends a block without its ESC 's' header, as eight-byte input reports.
        Fake().onWrite = [](const Bytes& report) {
            if (report.size() < 3 || report[1] != 0x1B) return;
            if (report[2] == 'e') Fake().input.push_back({0x1B, 'y', 0, 0, 0, 0, 0, 0});
            if (report[2] == 'b') Fake().input.push_back({0x1B, '0', 0, 0, 0, 0, 0, 0});
            if (report[2] == 'm') {
                Fake().input.push_back({0x1B, 'x', 0x1B, 0x02, 0x05, 0xD4, 0x11, 0x92});
                Fake().input.push_back({0x7C, 0x20, 0x00, '?', 0x1C, '0', 0, 0});
            }
        };
    }

    // The tool in-process with `args` (split as sh does); its standard output captured, or
    // (POSIX) sent to `stdoutFd` (a full device, a pipe) and then restored whole.
    Result Run(const std::string& args, int stdoutFd = -1) {
        const std::string profile = PathToUtf8(folder_.path() / "p.ini");
        auto words = testing::SplitWords("tollwick-cli --profile '" + profile + "' " + args);
        std::vector<char*> argv;
        for (std::string& word : words) argv.push_back(word.data());
        std::fflush(stdout);
#ifndef _WIN32
        const int saved = stdoutFd >= 0 ? ::dup(STDOUT_FILENO) : -1;
        if (stdoutFd >= 0) ::dup2(stdoutFd, STDOUT_FILENO);
#endif
        if (stdoutFd < 0) ::testing::internal::CaptureStdout();
        ::testing::internal::CaptureStderr();
        Result result;
        result.status = RunCli(static_cast<int>(argv.size()), argv.data());
        result.err = ::testing::internal::GetCapturedStderr();
        if (stdoutFd < 0) {
            result.out = ::testing::internal::GetCapturedStdout();
            return result;
        }
#ifndef _WIN32
        __fpurge(stdout);  // what could not be written stays out of the test's own output
        std::clearerr(stdout);
        std::cout.clear();
        ::dup2(saved, STDOUT_FILENO);
        ::close(saved);
#endif
        return result;
    }

    const testing::ScratchFolder folder_{"tollwick-cli-reader"};
};

// Bytes that are no read block hold no track: every track failed, never a blank card (the card
// steps' rule, card_steps_test; a failed card is not recorded: CliTest.CardFilesRoundTrip).
// inspect says why.
TEST_F(CliReaderTest, ABlockThatCannotBeTakenApartIsThreeFailedTracks) {
    const Result inspect = Run("inspect");
    EXPECT_EQ(inspect.status, 1) << inspect.out;
    EXPECT_EQ(inspect.out.find("blank"), std::string::npos) << inspect.out;
    EXPECT_NE(inspect.err.find("could not be taken apart"), std::string::npos) << inspect.err;
}

// A write or erase that went out just before the cable was pulled: no status comes, the reset at
// the timeout fails, and the card may have been changed. The command says so, in JSON too.
TEST_F(CliReaderTest, ACommandSentBeforeTheCableWasPulledLeavesTheCardUncertain) {
    const std::tuple<std::string, uint8_t, std::string> cases[] = {
        {"write --track2 1234", 'n', "card 1 may have been written: check it"},
        {"erase --tracks 2", 'c', "card 1 may have been erased: check it"},
    };
    for (const auto& [args, command, says] : cases) {
        SetUp();
        bool sent = false;
        Fake().onWrite = [&sent, command = command, answer = Fake().onWrite](const Bytes& report) {
            answer(report);
            if (report.size() >= 3 && report[1] == 0x1B && report[2] == command) sent = true;
        };
        Fake().onRead = [&sent] {
            if (sent) testing::PullCable();
        };
        const Result r = Run(args + " --json --timeout 0.2");
        EXPECT_EQ(r.status, 3) << says << r.err;
        EXPECT_NE(r.err.find("the link to the reader failed; " + says), std::string::npos) << r.err;
        const nlohmann::json card = nlohmann::json::parse(r.out.substr(0, r.out.find('\n')));
        EXPECT_EQ(card["uncertain"], true) << r.out;
        // A write's card is said neither written nor failed.
        EXPECT_TRUE(command != 'n' || (card["written"].is_null() && !card.contains("error")))
            << r.out;
    }
}

#ifndef _WIN32  // a full device and a pipe whose reader leaves: POSIX
// Results that cannot be written fail the run (exit 5), every command's; a closed pipe ends a
// batch after the card in hand with the reader disarmed, as an interrupt does, and as SIGPIPE
// would have ended it (141).
TEST_F(CliReaderTest, OutputThatCannotBeWrittenFailsTheRun) {
    const int full = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
    ASSERT_GE(full, 0);
    // One check at every command's end: a failed read (exit 1), no reader needed, a batch's rows.
    for (const char* args : {"--json read", "encode 1234", "read --csv - --count 2"}) {
        const Result r = Run(args, full);
        EXPECT_EQ(r.status, 5) << args << r.err;
        EXPECT_PRED_FORMAT2(::testing::IsSubstring,
                            "cannot write to standard output: No space left on device", r.err);
    }
    ::close(full);

    // The reader of the rows leaves while the first card is read.
    Fake().written.clear();
    int pipe[2];
    ASSERT_EQ(::pipe2(pipe, O_CLOEXEC), 0);
    Fake().onWrite = [&pipe, answer = Fake().onWrite](const Bytes& report) {
        answer(report);
        if (report.size() >= 3 && report[2] == 'm' && pipe[0] >= 0) {
            ::close(pipe[0]);
            pipe[0] = -1;
        }
    };
    const Result r = Run("read --csv - --count 5", pipe[1]);
    ::close(pipe[1]);
    EXPECT_EQ(r.status, 141) << r.err;
    EXPECT_EQ(r.err.find("cannot write"), std::string::npos) << r.err;
    std::string sent;  // the reader commands, by their letter after ESC ('m' arms, 'a' resets)
    for (const Bytes& report : Fake().written) {
        if (report.size() >= 3 && report[1] == 0x1B) sent += static_cast<char>(report[2]);
    }
    EXPECT_EQ(std::count(sent.begin(), sent.end(), 'm'), 1) << sent;  // no card after it
    EXPECT_EQ(sent.back(), 'a') << sent;                              // and the reader reset
}

#endif

}  // namespace
}  // namespace tollwick
