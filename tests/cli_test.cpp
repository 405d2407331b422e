// tollwick-cli as scripts use it: outputs and exit statuses, on the virtual reader.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>

namespace {

namespace fs = std::filesystem;

struct Result {
    int status = -1;
    std::string out;
};

class CliTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("tollwick-cli-test-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    // Runs the tool with a private profile; stdout only (stderr goes to the test log).
    Result Run(const std::string& args) {
        const std::string command = "TOLLWICK_PROFILE='" + (dir_ / "profile.ini").string() + "' " +
                                    TOLLWICK_CLI_PATH + " " + args;
        Result result;
        FILE* pipe = ::popen(command.c_str(), "r");
        if (!pipe) return result;
        std::array<char, 4096> chunk;
        std::size_t n = 0;
        while ((n = std::fread(chunk.data(), 1, chunk.size(), pipe)) > 0)
            result.out.append(chunk.data(), n);
        const int status = ::pclose(pipe);
        result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return result;
    }
    std::string Deck() const { return "--simulate --deck '" + (dir_ / "deck.json").string() + "'"; }

    fs::path dir_;
};

TEST_F(CliTest, WriteThenReadRoundTripsInEveryFormat) {
    struct Case {
        const char* format;
        const char* write;
        nlohmann::json expect;
    };
    const Case cases[] = {
        {"iso", "--track1 B123 --track2 1234 --track3 5678", {"%B123?", ";1234?", ";5678?"}},
        {"aamva", "--track1 B123 --track2 1234 --track3 5678", {"%B123?", ";1234?", "%5678?"}},
        {"cadmv", "--track1 B123 --track2 1234 --track3 5678", {"%B123?", ";1234?", "!5678?"}},
        {"user", "--track1 B123 --track2 1234 --track3 5678", {"%B123?", ";1234?", ";5678?"}},
        // Raw tracks read back from their first one bit: these start with one.
        {"raw", "--track1 b123 --track2 9234 --track3 C678", {"B123", "9234", "C678"}},
    };
    for (const Case& c : cases) {
        const std::string format = std::string(" --format ") + c.format + " ";
        ASSERT_EQ(Run(Deck() + format + "write " + c.write).status, 0) << c.format;
        const Result read = Run(Deck() + format + "read --json");
        ASSERT_EQ(read.status, 0) << c.format << read.out;
        const auto doc = nlohmann::json::parse(read.out);
        EXPECT_EQ(doc["track1"], c.expect[0]) << c.format;
        EXPECT_EQ(doc["track2"], c.expect[1]) << c.format;
        EXPECT_EQ(doc["track3"], c.expect[2]) << c.format;
        EXPECT_EQ(doc["errors"], 0);
    }
    // The deck is kept: card 2 is still blank, and reads as no data.
    const Result blank = Run(Deck() + " --card 2 read");
    EXPECT_EQ(blank.status, 0);
    EXPECT_EQ(blank.out, "Track1: {NO DATA}\nTrack2: {NO DATA}\nTrack3: {NO DATA}\n");
}

TEST_F(CliTest, DamagedCardAndFormatMismatchFailTheCheck) {
    const Result damaged = Run(Deck() + " --card 8 read");
    EXPECT_EQ(damaged.status, 1);
    EXPECT_NE(damaged.out.find("Track2: {Trace2 data error}"), std::string::npos) << damaged.out;
    EXPECT_NE(damaged.out.find("Track1: %B4000001234567899^DAMAGED/CARD^2912101?"),
              std::string::npos);

    // An AAMVA card read as ISO: track 3 is 7-bit on the card, 5-bit in ISO.
    ASSERT_EQ(Run(Deck() + " --format aamva write --track3 ABC").status, 0);
    const Result mismatch = Run(Deck() + " read --json");
    EXPECT_EQ(mismatch.status, 1);
    EXPECT_EQ(nlohmann::json::parse(mismatch.out)["errors"], 4);
}

TEST_F(CliTest, EraseAndRejections) {
    ASSERT_EQ(Run(Deck() + " --card 4 erase --tracks 1,3").status, 0);
    const Result read = Run(Deck() + " --card 4 read --json");
    const auto doc = nlohmann::json::parse(read.out);
    EXPECT_EQ(doc["track1"], "{NO DATA}");
    EXPECT_EQ(doc["track2"], ";4000001234567899=29121010000000000000?");
    EXPECT_EQ(doc["track3"], "{NO DATA}");
    EXPECT_EQ(Run(Deck() + " erase --tracks 4").status, 2);
    EXPECT_EQ(Run(Deck() + " erase").status, 2);
}

TEST_F(CliTest, UsageErrorsNameTheProblem) {
    // Sentinels, characters outside the track's alphabet, lengths beyond the track.
    EXPECT_EQ(Run(Deck() + " write --track2 '12;34'").status, 2);
    EXPECT_EQ(Run(Deck() + " write --track2 12A4").status, 2);
    EXPECT_EQ(Run(Deck() + " write --track1 " + std::string(77, 'A')).status, 2);
    EXPECT_EQ(Run(Deck() + " --format raw write --track1 ABC").status, 2);  // odd number of digits
    EXPECT_EQ(Run(Deck() + " --format xyz read").status, 2);
    EXPECT_EQ(Run(Deck() + " --card 99 read").status, 2);
    EXPECT_EQ(Run("frobnicate").status, 2);
    EXPECT_EQ(Run("density 100").status, 2);
    EXPECT_EQ(Run("read --help").status, 0);
}

TEST_F(CliTest, EncodeAndDecode) {
    Result r = Run("encode 1234");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "2B88493E04\n");
    r = Run("encode --bpc 7 --ss % --es ? A1 a1");
    EXPECT_EQ(r.out, "C570F4A302\nC570F4A302\n");
    r = Run("encode --bpc 8 01A0");
    EXPECT_EQ(r.out, "8005\n");
    EXPECT_EQ(Run("encode --bpc 8 0G").status, 2);
    EXPECT_EQ(Run("encode --bpc 5 AB").status, 2);

    // Trailing zero bytes and the bits after the LRC do not matter.
    r = Run("decode D411927C20 D411927C2000 D411927C21");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, ";1234?\n;1234?\n;1234?\n");
    r = Run("decode D511927C20");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "{ERROR}\n");
    r = Run("decode --bpc 8 01A00000");
    EXPECT_EQ(r.out, "01A0\n");
    EXPECT_EQ(Run("decode XYZ").status, 2);
}

TEST_F(CliTest, InfoAndSettings) {
    Result r = Run(Deck() + " info");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("COM1 9600,8,N,1  VK3300 EVU1.07"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Track-2 density: 75 BPI"), std::string::npos);
    EXPECT_EQ(Run(Deck() + " density 210").status, 0);
    r = Run(Deck() + " --json info");
    const auto doc = nlohmann::json::parse(r.out);
    EXPECT_EQ(doc["track2Density"], 210);
    EXPECT_EQ(doc["port"], 1);
    EXPECT_EQ(Run(Deck() + " coercivity lo").status, 0);
    EXPECT_EQ(Run(Deck() + " beep off").status, 0);
    std::ifstream profile(dir_ / "profile.ini");
    std::string text((std::istreambuf_iterator<char>(profile)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("PORTNUM"), std::string::npos);
    EXPECT_NE(text.find("BPISET"), std::string::npos);
}

TEST_F(CliTest, CardFilesRoundTrip) {
    const std::string file = (dir_ / "cards.txt").string();
    // Cards 4 to 8 in turn: ISO reads, AAMVA and CA DMV and raw fail ISO's check, the damaged
    // card fails; only good cards are recorded.
    Result r = Run(Deck() + " --card 4 read --to-file '" + file + "' --count 5");
    EXPECT_EQ(r.status, 1);
    std::ifstream in(file);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 6) << text;
    EXPECT_NE(text.find("\n;4000001234567899=29121010000000000000?\n+0112345"), std::string::npos);

    // Written back to blank card 1, then read.
    r = Run(Deck() + " --card 1 write --from-file '" + file + "'");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "Write Card<1> OK\nEnd of File!!!\n");
    r = Run(Deck() + " --card 1 read --json");
    EXPECT_EQ(nlohmann::json::parse(r.out)["track2"], ";4000001234567899=29121010000000000000?");

    // Two cards of a hand-made file go to cards 2 and 3; a bad line is named and skipped.
    std::ofstream(dir_ / "hand.txt") << "%ONE?\n;111?\n\n;22X2?\n%TWO?\n\nError\nBlack\nError\n";
    r = Run(Deck() + " --card 2 write --from-file '" + (dir_ / "hand.txt").string() + "'");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "Write Card<1> OK\nWrite Card<2> OK\nEnd of File!!\n");
    r = Run(Deck() + " --card 3 read --json");
    const auto doc = nlohmann::json::parse(r.out);
    EXPECT_EQ(doc["track1"], "%TWO?");
    EXPECT_EQ(doc["track2"], "{NO DATA}");

    EXPECT_EQ(Run(Deck() + " write --from-file '" + (dir_ / "missing.txt").string() + "'").status,
              2);
    EXPECT_EQ(Run(Deck() + " write --from-file x --track1 A").status, 2);
    EXPECT_EQ(Run(Deck() + " read --count 2").status, 2);
}

TEST_F(CliTest, NoReaderExitsThreeAtOnce) {
    // This machine has no VK3300S; a real reader plugged in would make this test moot.
    const auto start = std::chrono::steady_clock::now();
    const Result r = Run("info");
    if (r.status == 0) GTEST_SKIP() << "a reader is plugged in";
    EXPECT_EQ(r.status, 3);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}

}  // namespace
