// tollwick-cli as scripts use it: outputs, exit statuses and signals, on the virtual reader.
#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#endif

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cli/csv_output.h"
#include "cli/interrupt.h"
#include "cli/output.h"
#include "device/reader_commands.h"
#include "device/virtual/deck.h"
#include "device/virtual/virtual_reader.h"
#include "files/locked_file.h"
#include "files/utf8_path.h"
#include "test_platform.h"

namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;
using Clock = std::chrono::steady_clock;

using tollwick::testing::ChildProcess;
using tollwick::testing::ReadFile;
using Result = ChildProcess::Result;

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::vector<Json> JsonLines(const std::string& text) {
    std::vector<Json> objects;
    for (const std::string& line : Lines(text)) objects.push_back(Json::parse(line));
    return objects;
}

class CliTest : public ::testing::Test {
  protected:
    // The tool with `args` (split as sh does, with '...' quoting) and a private profile.
    std::unique_ptr<ChildProcess> Start(const std::string& args,
                                        ChildProcess::Options options = {}) const {
        options.environment.push_back({"TOLLWICK_PROFILE", Path("profile.ini")});
        const fs::path cli =
            tollwick::testing::ThisProgram().parent_path() / TOLLWICK_CLI_FROM_TESTS;
        return std::make_unique<ChildProcess>(cli, tollwick::testing::SplitWords(args), dir_,
                                              options);
    }
    Result Run(const std::string& args, const ChildProcess::Options& options = {}) {
        return Start(args, options)->Wait();
    }
    std::string Deck() const { return "--simulate --deck '" + Path("deck.json") + "'"; }
    // A file of the test's folder, as the tool takes it: UTF-8.
    std::string Path(const std::string& name) const {
        return tollwick::PathToUtf8(dir_ / tollwick::PathFromUtf8(name));
    }
    std::string FileText(const std::string& name) const { return ReadFile(dir_ / name); }

    const tollwick::testing::ScratchFolder folder_{"tollwick-cli-test"};
    const fs::path dir_ = folder_.path();
};

// A bad command line: status 2 and one line on stderr that says what is wrong.
void ExpectUsageError(const Result& r, const std::string& says, const std::string& args) {
    EXPECT_EQ(r.status, 2) << args;
    EXPECT_EQ(Lines(r.err).size(), 1u) << args << "\n" << r.err;
    EXPECT_NE(r.err.find(says), std::string::npos) << args << "\n" << r.err;
}

TEST_F(CliTest, FailedTracksCarryTheirBytesAsRead) {
    const Result damaged = Run(Deck() + " --card 8 read");
    EXPECT_EQ(damaged.status, 1);
    EXPECT_NE(damaged.out.find("Track2: {Trace2 data error}"), std::string::npos) << damaged.out;
    EXPECT_NE(damaged.out.find("Track1: %B4000001234567899^DAMAGED/CARD^2912101?"),
              std::string::npos);

    // An AAMVA track 3 (7 bits) read as ISO (5 bits) fails; its bytes decode as AAMVA.
    ASSERT_EQ(Run(Deck() + " --format aamva write --track3 ABC").status, 0);
    const Json track3 = Json::parse(Run(Deck() + " read --json").out)["track3"];
    EXPECT_EQ(track3["status"], "error");
    EXPECT_EQ(Run("decode --bpc 7 --es ? " + track3["raw"].get<std::string>()).out, "%ABC?\n");
}

TEST_F(CliTest, EraseAndRejections) {
    const Result erased = Run(Deck() + " --card 4 erase --tracks 1,3 --json");
    ASSERT_EQ(erased.status, 0) << erased.err;
    EXPECT_EQ(Json::parse(erased.out)["erased"], Json::array({1, 3}));
    const Json doc = Json::parse(Run(Deck() + " --card 4 read --json").out);
    EXPECT_EQ(doc["track1"], Json({{"text", ""}, {"status", "empty"}}));
    EXPECT_EQ(doc["track2"]["text"], ";4000001234567899=29121010000000000000?");
    EXPECT_EQ(doc["track3"]["status"], "empty");
    EXPECT_EQ(Run(Deck() + " erase").status, 2);
}

TEST_F(CliTest, BadCommandLinesSayWhatIsWrongInOneLine) {
    const std::pair<std::string, std::string> cases[] = {
        {"frobnicate", "unknown command 'frobnicate'"},
        {"", "no command given"},
        {"--deck x read", "--deck goes with --simulate"},
        {"--card 2 read", "--card goes with --simulate"},
        {"--simulate --card 0 read", "--card must be from 1 to 2147483647"},
        {"--simulate --card 2147483648 read", "--card must be from 1 to 2147483647"},
        {"--simulate --card x read", "--card must be a whole number from 1 to 2147483647"},
        {"--simulate read --csv x --count 99999999999", "--count must be from 1 to 2147483647"},
        {"--simulate --card 99 read", "--card 99: the deck has cards 1 to"},
        {"--simulate read --timeout nan", "--timeout must be a number of seconds from 0 to 86400"},
        {"--simulate read --timeout -1", "--timeout must be"},
        {"--simulate read --timeout 1e13", "--timeout must be"},
        {"--simulate read --timeout 0x10", "--timeout must be"},
        {"--simulate read --timeout ' 5'", "--timeout must be"},
        {"--simulate erase --tracks 1,4", "--tracks must list tracks 1 to 3 with commas between"},
        {"--simulate erase --tracks 1,,3", "--tracks must list tracks 1 to 3"},
        {"--simulate erase --tracks 1,", "--tracks must list tracks 1 to 3"},
        {"--simulate --deck '' read", "--deck needs a file name"},
        {"--simulate read --to-file ''", "--to-file needs a file name"},
        // The parser's mistakes in our words, with the option meant when one is close.
        {"--simulate read --timout 5", "unknown option --timout (did you mean --timeout?)"},
        {"--simulate write --track4 5",
         "unknown option --track4 (did you mean --track1, --track2 or --track3?)"},
        {"--simulate read -t 5", "unknown option -t (did you mean --timeout or --to-file?)"},
        {"--simulate erase --track 1", "unknown option --track (did you mean --tracks?)"},
        {"--simulate read --frobnicate", "unknown option --frobnicate (see tollwick-cli read"},
        {"--jsn read", "unknown option --jsn (did you mean --json?)"},
        {"--simulate read --track1 A", "read has no option --track1 (write has)"},
        {"--simulate read --timeout 5 --timeout 6", "--timeout is given 2 times: give it once"},
        {"--simulate read 5", "unexpected argument '5' (see tollwick-cli read --help)"},
        {"raed", "unknown command 'raed' (did you mean read?)"},
        {"--simulate read --timeout", "--timeout needs a value"},
        {"--simulate --format xyz read", "--format must be iso, aamva, cadmv, user or raw"},
        {"--simulate density 100", "BPI must be 75 or 210"},
        {"--simulate read --count 2", "--count goes with --to-file"},
        {"--simulate write --from-file x --track1 A", "cannot go together"},
        {"--simulate write --verify", "nothing to write: give --track1, --track2 or --track3"},
        {"--simulate --json read --to-file -", "--to-file - writes the cards to standard output"},
        {"--simulate write --track2 '12;34'", "--track2: character ';' at position 3"},
        {"--simulate write --track1 " + std::string(77, 'A'), "--track1: 77 characters"},
        {"--simulate --format raw write --track1 ABC", "even number of digits"},
        {"encode --bpc 8 0G", "with --bpc 8 the text is hexadecimal"},
        {"decode XYZ", "'XYZ' is not hexadecimal bytes"},
        {"inspect 0G", "'0G' is not hexadecimal bytes"},
        {"--simulate inspect --bpc 7", "--bpc, --parity, --ss and --es need --track N or HEX"},
        {"--simulate read --show-pan", "--show-pan goes with --fields"},
        {"--simulate --json read --csv -", "--csv - writes the rows to standard output"},
        {"--simulate read --csv x --to-file ./x", "--to-file and --csv name the same file"},
    };
    for (const auto& [args, says] : cases) ExpectUsageError(Run(args), says, args);
    // Refused before the reader is touched: no deck was made, no swipe taken.
    ExpectUsageError(Run(Deck() + " write --track1 ''"), "nothing to write", "write");
    EXPECT_FALSE(fs::exists(dir_ / "deck.json"));

    // With --json the error is also an object on stdout.
    const Result json = Run("--json --simulate --card 0 read");
    EXPECT_EQ(Json::parse(json.out), Json({{"type", "error"},
                                           {"exit_status", 2},
                                           {"message", "--card must be from 1 to 2147483647"}}));

    const Result help = Run("read --help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("130  interrupted"), std::string::npos);
    const Result version = Run("--version");
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind("tollwick-cli ", 0), 0u) << version.out;
}

TEST_F(CliTest, EncodeAndDecode) {
    Result r = Run("encode --bpc 7 --ss % --es ? A1 a1");
    EXPECT_EQ(r.out, "C570F4A302\nC570F4A302\n");
    r = Run("encode --bpc 8 01A0 --json");
    EXPECT_EQ(Json::parse(r.out), Json({{"type", "encoded"}, {"text", "01A0"}, {"hex", "8005"}}));
    EXPECT_EQ(Run("encode --bpc 5 AB").status, 2);

    r = Run("decode D411927C20 D411927C2000");  // track 2's format unless told otherwise
    EXPECT_EQ(r.out, ";1234?\n;1234?\n");
    r = Run("decode --json D511927c20 --bpc 5");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(Json::parse(r.out)["track"],
              Json({{"text", ""}, {"status", "error"}, {"raw", "D511927C20"}}));
    // A track's raw bytes leave out the zero bytes after the data, as a read reports them.
    r = Run("decode --json D411927C00");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(Json::parse(r.out)["track"]["raw"], "D411927C") << r.out;
    EXPECT_EQ(Json::parse(r.out)["hex"], "D411927C00") << r.out;
}

TEST_F(CliTest, InfoAndSettingsAreStoredOrTheFailureIsSaid) {
    EXPECT_EQ(Run(Deck() + " density 210").out, "Track-2 density 210 BPI\n");
    Result r = Run(Deck() + " --json info");
    const Json doc = Json::parse(r.out);
    EXPECT_EQ(doc["connection"], "COM1 9600,8,N,1  VK3300 EVU1.07") << r.out;
    EXPECT_EQ(doc["track2_density"], 210);
    EXPECT_EQ(doc["port"], 1);
    EXPECT_EQ(doc["coercivity"], "hi");
    EXPECT_EQ(Json::parse(Run(Deck() + " --json coercivity lo").out)["value"], "lo");
    EXPECT_NE(FileText("profile.ini").find("BPISET"), std::string::npos);

    // A profile that cannot be written: the reader took the setting, the file did not.
    std::ofstream(dir_ / "file") << "x";
    const std::string unwritable = " --profile '" + Path("file") + "/profile.ini' ";
    for (const char* command : {"density 210", "coercivity lo", "beep on"}) {
        r = Run("--simulate" + unwritable + command);
        EXPECT_EQ(r.status, 5) << command;
        EXPECT_EQ(r.out, "") << command;
        EXPECT_NE(r.err.find("could not be written"), std::string::npos) << command << r.err;
    }
}

TEST_F(CliTest, CardFilesRoundTrip) {
    // Cards 4 and 5 in turn: ISO reads, AAMVA fails ISO's check; only the good card is
    // recorded, each card is reported, a summary ends the run.
    Result r =
        Run(Deck() + " --card 4 --json read --to-file '" + Path("cards.txt") + "' --count 2");
    EXPECT_EQ(r.status, 1);
    std::vector<Json> objects = JsonLines(r.out);
    ASSERT_EQ(objects.size(), 3u) << r.out;
    EXPECT_EQ(objects[0]["recorded"], true);
    EXPECT_EQ(objects[1]["recorded"], false);
    EXPECT_EQ(objects[1]["card"], 2);
    EXPECT_EQ(objects[2], Json({{"type", "summary"},
                                {"cards_done", 1},
                                {"cards_failed", 1},
                                {"interrupted", false},
                                {"exit_status", 1},
                                {"file", Path("cards.txt")}}));
    const std::string text = FileText("cards.txt");
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 6) << text;

    // Written back to blank card 1 from standard input, then read.
    r = Run(Deck() + " --card 1 write --from-file -", {.stdinText = text});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Write Card<1> OK\nEnd of File!!!\n1 card written\n");

    // Two cards of a hand-made file go to cards 2 and 3; a bad line is named and skipped, and
    // fails the run. Quiet: only the end and the summary.
    std::ofstream(dir_ / "hand.txt") << "%ONE?\n;111?\n\n;22X2?\n%TWO?\n\nError\nBlack\nError\n";
    r = Run(Deck() + " -q --card 2 write --from-file '" + Path("hand.txt") + "'");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "End of File!!\n2 cards written\n");
    EXPECT_NE(r.err.find("Line 4 format error,Please Check!!"), std::string::npos) << r.err;
    // Card 3 to standard output, as a card file.
    r = Run(Deck() + " --card 3 read --to-file - --count 1");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.substr(r.out.find('\n')), "\n%TWO?\n;NO DATA?\n+NO DATA?\n\n\n") << r.out;
    EXPECT_NE(r.err.find("Track1: %TWO?"), std::string::npos) << r.err;
    // A batch's cards each under their number, apart from the next.
    r = Run(Deck() + " --card 2 read --csv '" + Path("two.csv") + "' --count 2");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "Card 1\nTrack1: %ONE?\nTrack2: ;111?\nTrack3: {NO DATA}\n\n"
              "Card 2\nTrack1: %TWO?\nTrack2: {NO DATA}\nTrack3: {NO DATA}\n\n"
              "2 cards read into " +
                  Path("two.csv") + "\n");

    // The deck's last card: the second card never comes, and the wait ends on the timeout.
    r = Run(Deck() + " --card " + std::to_string(tollwick::SampleDeck().cards.size()) +
            " --format raw read --to-file '" + Path("more.txt") + "' --count 2 --timeout 0.25");
    EXPECT_EQ(r.status, 4);
    EXPECT_NE(r.err.find("no card swiped within 0.25 s"), std::string::npos) << r.err;
    EXPECT_NE(r.out.find("1 card recorded"), std::string::npos) << r.out;
}

// Files that cannot be had end the run (exit 5) before any card: a missing file, a folder (not
// "End of File"); and a file the user names goes into a folder that is there, for the deck as
// for a card file or a CSV file: no folder is made.
TEST_F(CliTest, FilesThatCannotBeHadEndTheRun) {
    const std::string missing = Path("missing");
    const std::string noFolder = "the folder " + missing + " does not exist";
    const std::pair<std::string, std::string> cases[] = {
        {Deck() + " write --from-file '" + Path("missing.txt") + "'", "Open file fail!!"},
        {Deck() + " write --from-file '" + Path("") + "'", "Open file fail!!"},
        {Deck() + " read --to-file '" + Path("") + "'", "Open file fail!!"},
        {"--simulate --deck '" + missing + "/d.json' read", noFolder},
        {Deck() + " read --to-file '" + missing + "/c.txt'", noFolder},
        {Deck() + " read --csv '" + missing + "/c.csv'", noFolder},
    };
    for (const auto& [args, says] : cases) {
        const Result r = Run(args);
        EXPECT_EQ(r.status, 5) << args;
        EXPECT_EQ(r.out, "") << args;
        EXPECT_NE(r.err.find(says), std::string::npos) << args << r.err;
    }
    EXPECT_FALSE(fs::exists(missing));
}

#ifndef _WIN32  // a file size limit is POSIX's; a deck Windows cannot replace: files_test
TEST_F(CliTest, DeckThatCannotBeSavedFailsTheWrite) {
    ASSERT_EQ(Run(Deck() + " coercivity hi").status, 0);  // creates the deck (over 1 KB)
    std::ofstream(dir_ / "one.txt") << "%ONE?\n\n";
    const Result r = Run(Deck() + " write --from-file '" + Path("one.txt") + "'",
                         {.stdinText = "", .fileSizeLimit = 1024});
    EXPECT_EQ(r.status, 5);
    EXPECT_EQ(Lines(r.err).size(), 1u) << r.err;
    EXPECT_NE(r.err.find("cannot save the deck"), std::string::npos) << r.err;
    EXPECT_EQ(r.out.find("Write Card<1> OK"), std::string::npos) << r.out;
}

// The deck and the profile as the user keeps them: a profile with a zero byte is refused, and a
// lock that another process holds ends the command after --timeout, or at an interrupt.
TEST_F(CliTest, DeckAndProfileAreRewrittenOnlyAsTheUserLetsThem) {
    ASSERT_EQ(Run(Deck() + " read").status, 0);
    const std::string deck = FileText("deck.json");
    std::ofstream(dir_ / "profile.ini", std::ios::binary) << std::string("[MSR]\n\0BPISET=1\n", 17);
    Result r = Run(Deck() + " read");
    EXPECT_EQ(r.status, 5);
    EXPECT_NE(r.err.find("zero byte"), std::string::npos) << r.err;
    fs::remove(dir_ / "profile.ini");

    // Another Tollwick (here a thread of the test's own process) holds the deck's lock.
    std::promise<void> locked;
    std::promise<void> release;
    std::jthread holder([&] {
        tollwick::RewriteFileLocked(dir_ / "deck.json", 1 << 24,
                                    [&](const tollwick::FileContents&) {
                                        locked.set_value();
                                        release.get_future().wait_for(std::chrono::seconds(10));
                                        return std::optional<std::string>();
                                    });
    });
    locked.get_future().wait();
    r = Run(Deck() + " write --timeout 1 --track1 LATE");
    EXPECT_EQ(r.status, 5);
    EXPECT_NE(r.err.find(" is in use by another Tollwick (pid "), std::string::npos) << r.err;
    EXPECT_LT(r.took, std::chrono::seconds(3));
    auto waiting = Start(Deck() + " write --timeout 0 --track1 LATE");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const auto sent = Clock::now();
    ASSERT_TRUE(waiting->Interrupt());
    r = waiting->Wait();
    EXPECT_EQ(r.status, 130) << r.err;
    EXPECT_LT(Clock::now() - sent, std::chrono::seconds(1));
    release.set_value();
    holder.join();
    EXPECT_TRUE(FileText("deck.json") == deck);
}
#endif

#ifndef _WIN32  // a file size limit (RLIMIT_FSIZE) stands for a full disk
// A record the disk cannot take whole is not in the file at all (AppendWhole's rule,
// card_file_test): the run says so, for card files and CSV files alike.
TEST_F(CliTest, AFullDiskLeavesNoPartOfARecord) {
    const std::string raw = Deck() + " --card 7 --format raw ";
    for (const std::string option : {"--to-file", "--csv"}) {
        const std::string file = option == "--to-file" ? "cards.txt" : "cards.csv";
        ASSERT_EQ(Run(raw + "read " + option + " '" + Path(file) + "' --count 1").status, 0);
        // Card 1's record (a CSV file begins with its header), after earlier records; the limit
        // (it counts for the tool's standard error too) leaves room for card 1 alone.
        const std::string first = FileText(file);
        const std::string record =
            option == "--to-file" ? first : first.substr(first.find('\n') + 1);
        std::string earlier;
        for (int i = 0; i < 6; ++i) earlier += first;
        std::ofstream(dir_ / file, std::ios::binary) << earlier;
        const long limit = static_cast<long>(earlier.size() + record.size()) + 10;
        const Result r = Run(raw + "read " + option + " '" + Path(file) + "' --count 2",
                             {.stdinText = "", .fileSizeLimit = limit});
        EXPECT_EQ(r.status, 5) << option;
        EXPECT_NE(r.err.find(option == "--to-file" ? "(card 2 not recorded; the file is as it "
                                                     "was before it)"
                                                   : "(card 2 not in it; the file is as it was "
                                                     "before it)"),
                  std::string::npos)
            << r.err;
        EXPECT_EQ(FileText(file).size(), earlier.size() + record.size()) << option;
    }
}
#endif

// A file given two roles in one run would be read in one and written in the other, or written
// twice at once: refused before anything is read or written (however the names are spelt:
// user_file_test).
TEST_F(CliTest, OneFileInTwoRolesIsRefused) {
    ASSERT_EQ(Run(Deck() + " coercivity hi").status, 0);
    const std::string deck = FileText("deck.json");
    const std::string cases[] = {
        Deck() + " read --to-file '" + Path("deck.json") + "'",
        Deck() + " write --from-file '" + Path("deck.json") + "'",
        Deck() + " read --csv '" + Path("profile.ini") + "'",
        Deck() + " issue '" + Path("a.txt") + "' --track2 '{id}' --journal '" + Path("a.txt") + "'",
    };
    for (const std::string& args : cases) ExpectUsageError(Run(args), "name the same file", args);
    EXPECT_EQ(FileText("deck.json"), deck);
    EXPECT_FALSE(fs::exists(dir_ / "a.txt"));
}

// A line longer than any track line is no card file's: the run ends at its first byte too
// many, whatever follows (an endless pipe of zeros), and nothing of the card begun is written.
TEST_F(CliTest, ALineLongerThanATrackLineEndsTheRun) {
    Result r = Run(Deck() + " write --from-file -",
                   {.stdinText = "%A?\n" + std::string(1 << 20, 'x') + "\n%B?\n"});
    EXPECT_EQ(r.status, 5);
    EXPECT_NE(r.err.find("Line 2 format error,Please Check!!"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("line 2 is longer than 257 characters"), std::string::npos) << r.err;
    EXPECT_EQ(Lines(r.out).back(), "no card written");
    // issue's records from standard input: kept no further than the line too long.
    r = Run(Deck() + " issue - --track2 '{id}' --journal '" + Path("j.db") + "'",
            {.stdinText = "id\n" + std::string(1 << 20, '1') + "\n"});
    EXPECT_EQ(r.status, 5);
    EXPECT_NE(r.err.find("standard input: line 2 is longer than 65536 bytes"), std::string::npos)
        << r.err;
}

#ifndef _WIN32  // a FIFO; wine delivers no console events to a program without a console
// A wait for input (a FIFO whose writer never comes) ends on the first signal, like every other
// wait; how the input stops is user_file_test's.
TEST_F(CliTest, AWaitForInputEndsOnTheFirstSignal) {
    ASSERT_EQ(::mkfifo((dir_ / "cards.fifo").c_str(), 0600), 0);
    auto write = Start(Deck() + " write --timeout 0 --from-file '" + Path("cards.fifo") + "'");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ASSERT_TRUE(write->Terminate());
    const Result r = write->Wait(std::chrono::seconds(5));
    EXPECT_EQ(r.status, 130);
    EXPECT_NE(r.err.find("interrupted; no card written"), std::string::npos) << r.err;
}
#endif

// A real interrupt while the tool waits for a card's status (the deck has no card 9: the second
// card is never swiped, and --timeout 0 waits without limit): SIGINT and SIGTERM; on Windows
// Ctrl+Break, which wine cannot deliver to a program without a console. Its block went out: the
// card may have been written, and the run says so, in its count and its summary.
TEST_F(CliTest, SignalsEndEveryWaitAndCountTheCardsDone) {
    std::ofstream(dir_ / "two.txt") << "%ONE?\n\n%TWO?\n\n";
    // SIGTERM: AWaitForInputEndsOnTheFirstSignal.
    auto write =
        Start(Deck() + " --card 8 write --timeout 0 --from-file '" + Path("two.txt") + "'");
    ASSERT_TRUE(write->ReadUntil(
        [](const std::string& out) { return out.find("Write Card<1> OK") != std::string::npos; }));
    const auto sent = Clock::now();
    if (!write->Interrupt()) GTEST_SKIP() << "no console events here";
    Result r = write->Wait();
    EXPECT_EQ(r.status, 130);
    EXPECT_NE(r.err.find("interrupted; 1 card written, card 2 may have been written: check it"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(Lines(r.out).back(), "1 card written, card 2 may have been written: check it");
    EXPECT_LT(Clock::now() - sent, std::chrono::seconds(5));
    auto json =
        Start(Deck() + " --card 8 --json write --timeout 0 --from-file '" + Path("two.txt") + "'");
    ASSERT_TRUE(json->ReadUntil(
        [](const std::string& out) { return out.find("\"card\":1") != std::string::npos; }));
    ASSERT_TRUE(json->Interrupt());
    std::vector<Json> objects = JsonLines(json->Wait().out);
    ASSERT_EQ(objects.size(), 4u);  // an uncertain card's object: CliReaderTest
    EXPECT_EQ(objects[1]["card"], 2);
    EXPECT_EQ(objects[3]["cards_done"], 1);
    EXPECT_EQ(objects[3]["cards_uncertain"], 1);

    // A batch read: the cards recorded before the signal are in the file, and the summary says
    // it was interrupted. Raw Type reads cards 7 and 8, then waits for card 9.
    auto read = Start(Deck() + " --card 7 --format raw --json read --timeout 0 --to-file '" +
                      Path("cards.txt") + "'");
    ASSERT_TRUE(read->ReadUntil(
        [](const std::string& out) { return std::count(out.begin(), out.end(), '\n') >= 2; }));
    ASSERT_TRUE(read->Interrupt());
    r = read->Wait();
    EXPECT_EQ(r.status, 130);
    EXPECT_NE(r.err.find("interrupted; 2 cards recorded"), std::string::npos) << r.err;
    objects = JsonLines(r.out);
    ASSERT_EQ(objects.size(), 4u) << r.out;
    EXPECT_EQ(objects[2]["type"], "error");
    EXPECT_EQ(objects[3]["interrupted"], true);
    EXPECT_EQ(objects[3]["exit_status"], 130);
    EXPECT_EQ(Lines(FileText("cards.txt")).size(), 12u);
}

// kill -9 in the middle of read --to-file: every card reported as recorded is in the file,
// whole, in order; a card not yet reported may be missing.
TEST_F(CliTest, KilledBatchKeepsEveryCardItReported) {
    auto read = Start("--simulate --format raw --json read --to-file '" + Path("cards.txt") +
                      "' --count 8");
    ASSERT_TRUE(read->ReadUntil(
        [](const std::string& out) { return std::count(out.begin(), out.end(), '\n') >= 3; }));
    read->Kill();
    const Result r = read->Wait();
    EXPECT_EQ(r.status, ChildProcess::KilledStatus());
    // Six lines a record (card_file_test): each card reported holds its place.
    const std::vector<std::string> file = Lines(FileText("cards.txt"));
    const std::vector<Json> reported = JsonLines(r.out);
    ASSERT_GE(reported.size(), 3u);
    ASSERT_GE(file.size(), reported.size() * 6) << "a card reported is not in the file";
    for (std::size_t c = 0; c < reported.size(); ++c) {
        const std::string& track2 = file[c * 6 + 2];  // ";TEXT?"
        EXPECT_EQ(reported[c]["track2"]["text"], track2.substr(1, track2.size() - 2)) << track2;
    }
}

#ifndef _WIN32  // wine has no pseudo console; the console styles are in CsvAndProgressTest
// On a terminal a batch says which card it waits for (quiet leaves out the card lines), and a
// command that waits for one card asks for it; both only on standard error, and only there.
TEST_F(CliTest, ATerminalIsToldWhatTheReaderWaitsFor) {
    const std::string prompt = "Swipe a card... (Ctrl+C to stop)";
    const std::tuple<std::string, int, std::vector<std::string>> cases[] = {
        {"--card 4 -q read --to-file cards.txt --count 2", 1, {"card 1 of 2", "card 2 of 2"}},
        {"read", 0, {prompt}},
        {"write --track1 A", 0, {prompt}},
        {"erase --tracks 1", 0, {prompt}},
        {"inspect", 0, {prompt}},
    };
    const fs::path cli = tollwick::testing::ThisProgram().parent_path() / TOLLWICK_CLI_FROM_TESTS;
    for (const auto& [args, status, texts] : cases) {
        // script(1) gives the tool a terminal of its own and shows what came to it.
        const auto [exit, shown] = tollwick::testing::RunShell(
            "cd '" + Path("") + "' && TOLLWICK_PROFILE=profile.ini script -qec \"'" + cli.string() +
            "' " + Deck() + " " + args + " >out.txt\" /dev/null </dev/null");
        EXPECT_EQ(exit, status) << args << shown;
        for (const std::string& text : texts) {
            EXPECT_NE(shown.find(text), std::string::npos) << text << "\n" << shown;
        }
        EXPECT_EQ(FileText("out.txt").find(prompt), std::string::npos);
    }
    EXPECT_EQ(Run(Deck() + " read").err, "");  // not on a terminal: nothing
}
#endif

// inspect tells why a track fails: a card swiped backwards decodes only reversed, a weak spot
// is a parity failure at its character.
TEST_F(CliTest, InspectFindsTheBackwardsSwipeAndTheWeakSpot) {
    Result r = Run("--simulate --card 11 --json inspect");
    EXPECT_EQ(r.status, 1);
    std::vector<Json> tracks = JsonLines(r.out);
    ASSERT_EQ(tracks.size(), 3u) << r.out;
    EXPECT_EQ(tracks[0]["type"], "track_inspection");
    ASSERT_FALSE(tracks[1]["candidates"].empty()) << tracks[1];
    EXPECT_EQ(tracks[1]["candidates"][0]["direction"], "reversed");
    EXPECT_TRUE(tracks[2]["failure"].is_null());

    // Card 12: track 2's weak bit 42 lies in character 8 (bits 40 to 44).
    r = Run("--simulate --card 12 --json inspect --track 2");
    EXPECT_EQ(r.status, 1);
    const Json weak = Json::parse(r.out);
    EXPECT_EQ(weak["failure"], Json({{"kind", "parity"}, {"position", 8}, {"bit", 40}}));

    // Bytes given in hex: track 2's format unless told otherwise.
    r = Run("inspect D411927C20");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("  good: ;1234?\n"), std::string::npos) << r.out;
    r = Run("--json inspect --bpc 7 D411927C20");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(Json::parse(r.out)["format"]["bpc"], 7);
}

// Fields in every read mode; an account number is whole only with --show-pan. The CSV rows of
// the same cards: RFC 4180, a header once.
TEST_F(CliTest, FieldsAndCsvOfTheSampleCards) {
    ASSERT_EQ(Run(Deck() + " --card 3 write --track1 'A,\"B' --track2 12").status, 0);
    // Cards 3 to 5 with the AAMVA formats in force: 3 holds no known format, 4 is a bank card
    // (whose 5-bit track 3 fails as 7 bits), 5 a licence.
    Result r = Run(Deck() + " --card 3 --format aamva --json read --fields --csv '" +
                   Path("cards.csv") + "' --count 3");
    EXPECT_EQ(r.status, 1);
    std::vector<Json> cards = JsonLines(r.out);
    ASSERT_EQ(cards.size(), 4u) << r.out;
    EXPECT_TRUE(cards[0]["fields"].is_null());
    const Json& bank = cards[1]["fields"];
    EXPECT_EQ(bank["format"], "iso7813");
    EXPECT_EQ(bank["track1"]["pan"], "400000******7899");
    EXPECT_EQ(bank["track2"]["pan_luhn"], true);                       // flags are booleans
    EXPECT_EQ(bank["track2"]["expiry_explanation"], "December 2029");  // key_explanation
    EXPECT_EQ(cards[3]["csv"], Path("cards.csv"));

    // Cards 9 and 10, account numbers whole; the card's own checks are under "card".
    r = Run(Deck() + " --card 9 --json read --fields --show-pan --csv '" + Path("cards.csv") +
            "' --count 2");
    EXPECT_EQ(r.status, 0) << r.err;
    cards = JsonLines(r.out);
    ASSERT_EQ(cards.size(), 3u) << r.out;
    EXPECT_EQ(cards[0]["fields"]["track2"]["pan"], "5500005555555558");
    EXPECT_EQ(cards[1]["fields"]["card"]["tracks_agree"], false);

    // Text: the card lines as read, the fields below them masked.
    r = Run(Deck() + " --card 4 read --fields");
    EXPECT_EQ(r.status, 0);
    const std::size_t fields = r.out.find("Format: ISO/IEC 7813 financial card\n");
    ASSERT_NE(fields, std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("4000001234567899", fields), std::string::npos) << r.out;

    const std::vector<std::string> rows = Lines(FileText("cards.csv"));
    ASSERT_EQ(rows.size(), 6u);
    EXPECT_EQ(rows[0],
              "time,card,track1,track1_status,track1_raw,track2,track2_status,track2_raw,track3,"
              "track3_status,track3_raw\r");
    EXPECT_EQ(rows[1].substr(25), ",1,\"%A,\"\"B?\",ok,,;12?,ok,,,empty,\r") << rows[1];
    EXPECT_NE(rows[2].find(",error,"), std::string::npos) << rows[2];  // card 4's track 3
    EXPECT_EQ(rows[3].substr(25, 3), ",3,");
    EXPECT_EQ(rows[4].substr(25, 3), ",1,");  // the second run: no second header
}

// CSV quoting; and a batch's progress in each console style, written to standard error.
TEST(CsvAndProgressTest, FieldsAreQuotedPerRfc4180AndProgressFitsTheConsole) {
    EXPECT_EQ(tollwick::CsvRow({"say \"hi\"", "a\nb", "a\rb", "", ";1?"}),
              "\"say \"\"hi\"\"\",\"a\nb\",\"a\rb\",,;1?\r\n");

    using tollwick::ProgressStyle;
    const std::pair<ProgressStyle, std::string> styles[] = {
        {ProgressStyle::kNone, "Track1\n"},
        {ProgressStyle::kRewrite, "\r\033[Kcard 1 of 2\r\033[Kcard 2 of 2\r\033[KTrack1\n"},
        {ProgressStyle::kLines, "card 1 of 2\ncard 2 of 2\nTrack1\n"},
    };
    for (const auto& [style, shown] : styles) {
        std::ostringstream err;
        std::streambuf* saved = std::cerr.rdbuf(err.rdbuf());
        tollwick::Output out(false, false, style);
        out.Progress(1, 2);
        out.Progress(2, 2);
        out.Prompt("Track1");
        std::cerr.rdbuf(saved);
        EXPECT_EQ(err.str(), shown) << static_cast<int>(style);
    }
}

// A written card is only good when it reads back: a weak card fails, and in a batch its data
// goes onto the next card (WriteUntilTaken's rule, jobs_test): what the tool says of each.
TEST_F(CliTest, VerifyAfterWrite) {
    Result r = Run(Deck() + " write --verify --track1 B123 --track2 12345678");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Write OK\nVerify OK\n");
    EXPECT_EQ(r.err, "Swipe again to verify\n");
    EXPECT_NE(FileText("deck.json").find("\"written %B123?  ;12345678?\""), std::string::npos);

    r = Run(Deck() + " --card 12 --json write --verify --track1 B1 --track2 12345678");
    EXPECT_EQ(r.status, 1);
    std::vector<Json> objects = JsonLines(r.out);
    ASSERT_EQ(objects.size(), 2u) << r.out;
    EXPECT_EQ(objects[0]["written"], true);
    EXPECT_EQ(objects[0]["verified"], false);
    EXPECT_EQ(objects[0]["verify_failed_tracks"], Json::array({2}));
    EXPECT_EQ(objects[1]["exit_status"], 1);
    EXPECT_NE(r.err.find("verify failed: track 2 differs"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("(to see its bits: tollwick-cli inspect"), std::string::npos) << r.err;

    // A deck of a weak card and a blank one: the record fails on the first, goes onto the second.
    std::ofstream(dir_ / "weak.json")
        << R"({"cards": [{"name": "weak", "weak_spot": {"track": 2, "bit": 42}},)"
        << R"( {"name": "blank"}]})";
    std::ofstream(dir_ / "one.txt") << "%ONE?\n;12345678901?\n\n";
    r = Run("--simulate --deck '" + Path("weak.json") +
            "' --json write --verify --timeout 5 --from-file '" + Path("one.txt") + "'");
    EXPECT_EQ(r.status, 1) << r.err;
    objects = JsonLines(r.out);
    ASSERT_EQ(objects.size(), 3u) << r.out;
    EXPECT_EQ(objects[1]["verified"], true);
    EXPECT_EQ(objects[2]["cards_failed"], 1);
    EXPECT_NE(r.err.find("track 2 differs: bit 42, in character 8, reads 1 and should read 0; "
                         "card 1 goes on the next swipe"),
              std::string::npos)
        << r.err;
}

// --mask: no account number whole anywhere the run writes (track lines, fields, JSON, CSV rows,
// standard error, where --csv - sends the card lines); a card file, which is written back from,
// is refused.
TEST_F(CliTest, MaskCoversEveryOutput) {
    const std::string pan = "4000001234567899";
    const std::string masked = "400000******7899";
    for (const std::string& args : {std::string(" --card 4 --mask read --fields --csv - --count 1"),
                                    std::string(" --card 4 --mask --json read --fields"),
                                    std::string(" --mask inspect --track 1 --card 4")}) {
        const Result r = Run(Deck() + args);
        EXPECT_EQ(r.out.find(pan) + r.err.find(pan), 2 * std::string::npos)
            << args << r.out << r.err;
        EXPECT_NE((r.out + r.err).find(masked), std::string::npos) << args << r.out << r.err;
    }
    ExpectUsageError(Run(Deck() + " --mask read --to-file '" + Path("cards.txt") + "'"),
                     "--mask cannot go with --to-file", "--mask --to-file");
}

// Once interrupted, the reader's waits give up at once, even with a reply waiting; commands
// still go out whole, so the reset that disarms the reader reaches it.
TEST(InterruptibleBackendTest, ReadsGiveUpAndTheResetStillReachesTheReader) {
    using namespace tollwick;
    VirtualReader reader;
    std::atomic<bool> interrupted{false};
    InterruptibleBackend backend(std::make_unique<VirtualBackend>(reader), interrupted);
    ReaderLink link(backend);
    ReaderCommands commands(link);
    ASSERT_EQ(commands.ConnectScan(), 1);
    ASSERT_EQ(commands.StartRawRead(), CommandStatus::kOk);
    interrupted = true;
    CardTracks card;
    EXPECT_EQ(commands.ReceiveTracks(card), ReceiveResult::kNoSwipe);
    int coercivity = 0;
    EXPECT_EQ(commands.QueryCoercivity(coercivity),
              CommandStatus::kNoReply);  // its reply is there, and not taken
    EXPECT_EQ(reader.ArmedFor(), VirtualReader::Armed::kRead);
    EXPECT_EQ(commands.ResetReader(), CommandStatus::kOk);
    EXPECT_EQ(reader.ArmedFor(), VirtualReader::Armed::kIdle);
    EXPECT_EQ(commands.ConnectScan(), -1);  // and no reader is looked for
}

#ifdef _WIN32
// The console's events as Windows delivers them to the watch's handler, each case in a process
// of its own (the interrupt flag is the process's): Ctrl+C and Ctrl+Break interrupt; closing the
// console interrupts too and holds the program until the watch ends, so that the reader is
// disarmed and the deck saved before Windows ends it.
TEST(WindowsConsoleEventsTest, CtrlCInterruptsAndClosingWaitsUntilTheProgramIsDone) {
    using namespace tollwick;
    const tollwick::testing::ScratchFolder folder("tollwick-console");
    EXPECT_TRUE(tollwick::testing::InChildProcesses(3, folder.path(), [](int c) {
        auto watch = std::make_unique<SignalWatch>();
        if (c < 2) {
            return !Interrupted() &&
                   HandleConsoleEvent(c == 0 ? CTRL_C_EVENT : CTRL_BREAK_EVENT) != 0 &&
                   Interrupted();
        }
        std::atomic<bool> returned{false};
        std::thread closing([&] {
            HandleConsoleEvent(CTRL_CLOSE_EVENT);
            returned = true;
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        const bool held = Interrupted() && !returned;
        watch.reset();
        closing.join();
        return held && returned;
    }));
}
#endif

TEST_F(CliTest, NoReaderExitsThreeAtOnce) {
    // This machine has no VK3300S; a real reader plugged in would make this test moot.
    const Result r = Run("info");
    if (r.status == 0) GTEST_SKIP() << "a reader is plugged in";
    EXPECT_EQ(r.status, 3);
    EXPECT_LT(r.took, std::chrono::seconds(5));
}

// issue: what the command line adds to the issuing run (whose rules the issuance tests pin):
// standard input, the journal kept between runs and refused to another, the exit statuses, and
// the data file, the journal and the decks named in any script (on Windows the arguments come
// from the UTF-16 command line: the ANSI one turned an omega into an "O").
TEST_F(CliTest, IssueResumesFromItsJournalAndRefusesAnotherRun) {
    const std::string dataFile = Path("\xCE\xA9-data.csv");
    const std::string journalFile = Path("\xCE\xA9-run.db");
    std::ofstream(tollwick::PathFromUtf8(dataFile))
        << "id,name\n4817293650,AL\n4817293651,BO\n4817293652,CY\n";
    const std::string data = " '" + dataFile + "'";
    const std::string journalOption = " --journal '" + journalFile + "'";
    const std::string issue = Deck() + " --pace 0 --json issue" + data +
                              " --track1 'A{name}' --track2 '{id}' --verify" + journalOption;
    const Result first = Run(issue);
    ASSERT_EQ(first.status, 0) << first.err;
    std::vector<Json> objects = JsonLines(first.out);
    ASSERT_EQ(objects.size(), 4u) << first.out;
    EXPECT_EQ(objects[2]["row"], 3);
    EXPECT_EQ(objects[2]["status"], "verified");
    EXPECT_EQ(objects[3]["records_written"], 3);

    // The same command again: nothing left to write. The journal holds no track text.
    const Result again = Run(issue);
    ASSERT_EQ(again.status, 0) << again.err;
    EXPECT_EQ(JsonLines(again.out).back()["records_done_before"], 3);
    const Result journal = Run("--json journal '" + journalFile + "'");
    ASSERT_EQ(journal.status, 0) << journal.err;
    EXPECT_EQ(JsonLines(journal.out).size(), 4u);
    EXPECT_EQ(JsonLines(journal.out).front()["track2"], "{id}");
    EXPECT_EQ(ReadFile(tollwick::PathFromUtf8(journalFile)).find("4817293651"), std::string::npos);

    // Another template, or a record that cannot be written (from standard input): refused
    // before any card, with the row named.
    const Result other = Run(Deck() + " issue" + data + " --track2 '{id}0'" + journalOption);
    EXPECT_EQ(other.status, 2);
    EXPECT_NE(other.err.find("the journal " + journalFile + " belongs to another run"),
              std::string::npos)
        << other.err;
    ChildProcess::Options input;
    input.stdinText = "id\n1\nX\n";
    const Result bad =
        Run(Deck() + " issue - --track2 '{id}' --journal '" + Path("k.db") + "'", input);
    EXPECT_EQ(bad.status, 2);
    EXPECT_NE(bad.err.find("row 2 (line 3), track 2: character 'X'"), std::string::npos) << bad.err;
    EXPECT_FALSE(fs::exists(dir_ / "k.db"));

    // Two virtual readers, each with its own deck beside the one named.
    const std::string decks = Path("\xCE\xA9-deck.json");
    const Result two = Run("--simulate --readers 2 --pace 0 --deck '" + decks + "' issue" + data +
                           " --devices all --track2 '{id}' --journal '" + Path("two.db") + "'");
    ASSERT_EQ(two.status, 0) << two.err;
    EXPECT_TRUE(fs::exists(tollwick::PathFromUtf8(decks + ".1")));
    EXPECT_TRUE(fs::exists(tollwick::PathFromUtf8(decks + ".2")));
}

}  // namespace
