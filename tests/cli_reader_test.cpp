// tollwick-cli in-process, over the real hidapi backend linked against the fake hidapi library: a
// reader that answers the connection and then sends bytes that are no read block.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/cli_app.h"
#include "fake_hidapi.h"
#include "files/utf8_path.h"
#include "test_platform.h"

namespace tollwick {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using testing::Fake;

struct Result {
    int status = -1;
    std::string out;
    std::string err;
};

class CliReaderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        testing::ResetFake();
        scratch_ = std::make_unique<testing::ScratchFolder>("tollwick-cli-reader");
        folder_ = scratch_->path();
        Fake().interfaces = {{"/dev/hidraw0"}};
        // A VK3300S that answers the connection test and the density, and after the raw read
        // command sends a block without its ESC 's' header, as eight-byte input reports.
        Fake().onWrite = [](const Bytes& report) {
            if (report.size() < 3 || report[1] != 0x1B) return;
            switch (report[2]) {
                case 'e':
                    Fake().input.push_back({0x1B, 'y', 0, 0, 0, 0, 0, 0});
                    break;
                case 'b':
                    Fake().input.push_back({0x1B, '0', 0, 0, 0, 0, 0, 0});
                    break;
                case 'm':
                    Fake().input.push_back({0x1B, 'x', 0x1B, 0x02, 0x05, 0xD4, 0x11, 0x92});
                    Fake().input.push_back({0x7C, 0x20, 0x00, '?', 0x1C, '0', 0, 0});
                    break;
                default:
                    break;
            }
        };
    }
    void TearDown() override {
        testing::ResetFake();
        scratch_.reset();
    }

    Result Run(std::vector<std::string> args) {
        args.insert(args.begin(), {"tollwick-cli", "--profile", PathToUtf8(folder_ / "p.ini")});
        std::vector<char*> argv;
        for (std::string& arg : args) argv.push_back(arg.data());
        ::testing::internal::CaptureStdout();
        ::testing::internal::CaptureStderr();
        Result result;
        result.status = RunCli(static_cast<int>(argv.size()), argv.data());
        result.out = ::testing::internal::GetCapturedStdout();
        result.err = ::testing::internal::GetCapturedStderr();
        return result;
    }

    std::unique_ptr<testing::ScratchFolder> scratch_;
    fs::path folder_;
};

// Bytes that are no read block hold no track: every track failed, never a blank card.
TEST_F(CliReaderTest, ABlockThatCannotBeTakenApartIsThreeFailedTracks) {
    const Result read = Run({"--json", "read"});
    EXPECT_EQ(read.status, 1) << read.err;
    const nlohmann::json card = nlohmann::json::parse(read.out);
    for (const char* track : {"track1", "track2", "track3"}) {
        EXPECT_EQ(card[track]["status"], "error") << track << read.out;
    }

    const fs::path file = folder_ / "cards.txt";
    const Result batch = Run({"read", "--to-file", PathToUtf8(file), "--count", "1"});
    EXPECT_EQ(batch.status, 1) << batch.err;
    std::ifstream in(file);
    std::stringstream recorded;
    recorded << in.rdbuf();
    EXPECT_EQ(recorded.str().find("NO DATA"), std::string::npos) << recorded.str();

    const Result inspect = Run({"inspect"});
    EXPECT_EQ(inspect.status, 1) << inspect.out;
    EXPECT_EQ(inspect.out.find("blank"), std::string::npos) << inspect.out;
    EXPECT_NE(inspect.err.find("could not be taken apart"), std::string::npos) << inspect.err;
}

}  // namespace
}  // namespace tollwick
