// tollwick-cli as scripts use it: outputs, exit statuses and signals, on the virtual reader.
#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#endif

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <memory>
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

using tollwick::testing::ChildProcess;
using Result = ChildProcess::Result;

const std::string kDeck = "--simulate --deck deck.json ";  // the sample deck
const fs::path kCli = tollwick::testing::ThisProgram().parent_path() / TOLLWICK_CLI_FROM_TESTS;

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// What stdout or stderr holds: a text after the part before it; made by Whole, all of it; made
// by Absent, no such text after the part before it.
struct Part {
    enum Kind { kAfter, kWhole, kAbsent };
    Part(const char* text) : text(text) {}
    Part(std::string text, Kind kind = kAfter) : text(std::move(text)), kind(kind) {}
    std::string text;
    Kind kind = kAfter;
};
const auto Whole = [](std::string text) { return Part(std::move(text), Part::kWhole); };
const auto Absent = [](std::string text) { return Part(std::move(text), Part::kAbsent); };

// One run of the tool and what must come of it (stdout's lines counted unless 0). A JSON line is
// compact, its keys in a fixed order: a part of one names the keys around a value.
struct Case {
    Case(std::string args, int status = 0, std::vector<Part> out = {}, std::vector<Part> err = {},
         std::size_t lines = 0, std::string stdinText = {})
        : args(std::move(args)),
          status(status),
          out(std::move(out)),
          err(std::move(err)),
          lines(lines),
          stdinText(std::move(stdinText)) {}
    std::string args;  // split as sh does, with '...' quoting; the names are the test folder's
    int status;
    std::vector<Part> out;
    std::vector<Part> err;
    std::size_t lines;
    std::string stdinText;
};

void ExpectParts(const std::string& text, const std::vector<Part>& parts) {
    static const char* const kFault[] = {"missing", "not exactly", "present"};
    std::size_t at = 0;
    for (const Part& part : parts) {
        const std::size_t found = text.find(part.text, at);
        const bool ok = part.kind == Part::kWhole
                            ? text == part.text
                            : (found == std::string::npos) == (part.kind == Part::kAbsent);
        EXPECT_TRUE(ok) << kFault[part.kind] << " '" << part.text << "' from " << at << ":\n"
                        << text;
        if (part.kind == Part::kAfter && ok) at = found + part.text.size();
    }
}

void Check(const Result& r, int status, const std::vector<Part>& out = {},
           const std::vector<Part>& err = {}, std::size_t lines = 0) {
    EXPECT_EQ(r.status, status) << r.out << r.err;
    ExpectParts(r.out, out);
    ExpectParts(r.err, err);
    EXPECT_TRUE(lines == 0 || Lines(r.out).size() == lines) << lines << " lines?\n" << r.out;
}

class CliTest : public ::testing::Test {
  protected:
    // The tool with `args`, and a profile of its own.
    std::unique_ptr<ChildProcess> Start(const std::string& args,
                                        ChildProcess::Options options = {}) const {
        options.environment.push_back({"TOLLWICK_PROFILE", "profile.ini"});
        return std::make_unique<ChildProcess>(kCli, tollwick::testing::SplitWords(args), dir_,
                                              options);
    }
    Result Run(const std::string& args, const ChildProcess::Options& options = {}) const {
        return Start(args, options)->Wait();
    }
    Result Expect(const Case& c) const {
        SCOPED_TRACE(c.args);
        const Result r = Run(c.args, {.stdinText = c.stdinText});
        Check(r, c.status, c.out, c.err, c.lines);
        return r;
    }
    // The cases in turn, in one folder: each run finds the deck and the files the ones before
    // it left.
    void Expect(std::initializer_list<Case> cases) const {
        for (const Case& c : cases) Expect(c);
    }
    std::string FileText(const std::string& name) const {
        return tollwick::testing::ReadFile(dir_ / tollwick::PathFromUtf8(name));
    }

    // The test's folder is the working folder while the test runs, the tool's too.
    void SetUp() override { fs::current_path(dir_); }
    void TearDown() override { fs::current_path(before_); }

    const tollwick::testing::ScratchFolder folder_{"tollwick-cli-test"};
    const fs::path dir_ = folder_.path();
    const fs::path before_ = fs::current_path();
};

// What each command writes and its exit status.
TEST_F(CliTest, EachCommandSaysWhatItDid) {
    std::ofstream("file") << "x";
    std::ofstream("weak.json") << R"({"cards": [{"name": "weak", "weak_spot": {"track": 2, )"
                               << R"("bit": 42}}, {"name": "blank"}]})";
    std::ofstream("one.txt") << "%ONE?\n;12345678901?\n\n";
    const std::string unwritable = "--simulate --profile file/p.ini ";
    Expect({
        // A failed track carries its bytes as read. An AAMVA track 3 (7 bits) read as ISO (5
        // bits) fails; its bytes decode as AAMVA.
        Case(kDeck + "--card 8 read", 1,
             {"Track1: %B4000001234567899^DAMAGED/CARD^2912101?\nTrack2: {Trace2 data error}\n"}),
        Case(kDeck + "--card 2 --format aamva write --track3 ABC"),
        Case(kDeck + "--card 2 read --json", 1,
             {R"("track3":{"text":"","status":"error","raw":"A30D1E2F8BC0"})"}),
        Case("decode --bpc 7 --es ? A30D1E2F8BC0", 0, {Whole("%ABC?\n")}),
        Case(kDeck + "--card 4 erase --tracks 1,3 --json", 0, {R"("erased":[1,3]})"}),
        Case(kDeck + "--card 4 read --json", 0,
             {R"("track1":{"text":"","status":"empty"},)",
              R"("track2":{"text":";4000001234567899=29121010000000000000?",)",
              R"("track3":{"text":"","status":"empty"})"}),
        Case(kDeck + "erase", 2),

        Case("encode --bpc 7 --ss % --es ? A1 a1", 0, {Whole("C570F4A302\nC570F4A302\n")}),
        Case("encode --bpc 8 01A0 --json", 0,
             {Whole(R"({"type":"encoded","text":"01A0","hex":"8005"})" + std::string("\n"))}),
        Case("encode --bpc 5 AB", 2),
        // Bytes given in hex are in track 2's format unless told otherwise.
        Case("decode D411927C20 D411927C2000", 0, {Whole(";1234?\n;1234?\n")}),
        Case("inspect D411927C20", 0, {"  good: ;1234?\n"}),
        Case("--json inspect --bpc 7 D411927C20", 1, {R"("track":2,"format":{"bpc":7,)"}),
        Case("decode --json D511927c20 --bpc 5", 1,
             {R"("track":{"text":"","status":"error","raw":"D511927C20"}})"}),
        // A track's raw bytes leave out the zero bytes after the data, as a read reports them.
        Case("decode --json D411927C00", 1,
             {R"("hex":"D411927C00","track":{"text":"","status":"error","raw":"D411927C"}})"}),

        // inspect tells why a track fails: card 11 was swiped backwards and decodes only
        // reversed; card 12's weak bit 42, in character 8 (bits 40 to 44), fails its parity.
        Case("--simulate --card 11 --json inspect", 1,
             {R"({"type":"track_inspection","track":1,)", R"("track":2,)",
              R"("candidates":[{"bpc":5,"parity":"odd","direction":"reversed",)", R"("track":3,)",
              R"("failure":null,)"},
             {}, 3),
        Case("--simulate --card 12 --json inspect --track 2", 1,
             {R"("failure":{"kind":"parity","position":8,"bit":40},)"}),

        // Settings are stored in the profile, or the failure is said: when the profile cannot
        // be written, the reader took the setting and the file did not.
        Case(kDeck + "density 210", 0, {Whole("Track-2 density 210 BPI\n")}),
        Case(kDeck + "--json info", 0,
             {R"("port":1,"connection":"COM1 9600,8,N,1  VK3300 EVU1.07",)",
              R"("coercivity":"hi","track2_density":210,)"}),
        Case(kDeck + "--json coercivity lo", 0, {R"("value":"lo"})"}),
        Case(unwritable + "density 210", 5, {Whole("")}, {"could not be written"}),
        Case(unwritable + "coercivity lo", 5, {Whole("")}, {"could not be written"}),
        Case(unwritable + "beep on", 5, {Whole("")}, {"could not be written"}),

        // A written card is only good when it reads back: a weak card fails, and in a batch its
        // data goes onto the next card (WriteUntilTaken's rule, jobs_test): a deck of a weak card
        // and a blank one, the record fails on the first and goes onto the second.
        Case(kDeck + "write --verify --track1 B123 --track2 12345678", 0,
             {Whole("Write OK\nVerify OK\n")}, {Whole("Swipe again to verify\n")}),
        Case(kDeck + "--card 12 --json write --verify --track1 B1 --track2 12345678", 1,
             {R"("written":true,"verified":false,"verify_failed_tracks":[2]})",
              R"("exit_status":1,)"},
             {"verify failed: track 2 differs", "(to see its bits: tollwick-cli inspect"}, 2),
        Case("--simulate --deck weak.json --json write --verify --timeout 5 --from-file one.txt", 1,
             {"}\n{", R"("verified":true,)", R"("cards_failed":1,)"},
             {"track 2 differs: bit 42, in character 8, reads 1 and should read 0; card 1 goes on "
              "the next swipe"},
             3),
    });
    EXPECT_NE(FileText("profile.ini").find("BPISET"), std::string::npos);
    EXPECT_NE(FileText("deck.json").find("\"written %B123?  ;12345678?\""), std::string::npos);
}

TEST_F(CliTest, BadCommandLinesSayWhatIsWrongInOneLine) {
    const std::string card = "--card must be from 1 to 2147483647";
    const std::pair<std::string, std::string> cases[] = {
        {"frobnicate", "unknown command 'frobnicate'"},
        {"", "no command given"},
        {"--deck x read", "--deck goes with --simulate"},
        {"--card 2 read", "--card goes with --simulate"},
        {"--simulate --card 0 read", card},
        {"--simulate --card 2147483648 read", card},
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
        {kDeck + "--mask read --to-file cards.txt", "--mask cannot go with --to-file"},
        // A file given two roles in one run would be read in one and written in the other, or
        // written twice at once (however the names are spelt: user_file_test).
        {kDeck + "read --to-file deck.json", "--to-file and --deck name the same file"},
        {kDeck + "write --from-file deck.json", "--from-file and --deck name the same file"},
        {kDeck + "read --csv profile.ini", "--csv and the profile name the same file"},
        {kDeck + "issue a.txt --track2 '{id}' --journal a.txt", "DATA and --journal name the same"},
        {kDeck + "write --track1 ''", "nothing to write"},
    };
    for (const auto& [args, says] : cases) {
        EXPECT_EQ(Lines(Expect(Case(args, 2, {}, {says})).err).size(), 1u);
    }
    // Each refused before anything is read or written: no deck is made, no file.
    for (const auto& entry : fs::directory_iterator(".")) {
        EXPECT_EQ(entry.path().filename().string().rfind("std", 0), 0u) << entry.path();
    }
    Expect({
        // With --json the error is also an object on stdout.
        Case("--json --simulate --card 0 read", 2,
             {Whole(R"({"type":"error","exit_status":2,"message":")" + card + "\"}\n")}),
        Case("read --help", 0, {"130  interrupted"}),
    });
    EXPECT_EQ(Expect(Case("--version")).out.rfind("tollwick-cli ", 0), 0u);
}

TEST_F(CliTest, CardFilesRoundTrip) {
    // Cards 4 and 5 in turn: ISO reads, AAMVA fails ISO's check; only the good card is
    // recorded, each card is reported, a summary ends the run.
    Expect(Case(kDeck + "--card 4 --json read --to-file cards.txt --count 2", 1,
                {R"("recorded":true})", R"({"type":"card","card":2,)", R"("recorded":false})",
                 R"({"type":"summary","cards_done":1,"cards_failed":1,"interrupted":false,)"
                 R"("exit_status":1,"file":"cards.txt"})"},
                {}, 3));
    const std::string text = FileText("cards.txt");
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 6) << text;
    std::ofstream("hand.txt") << "%ONE?\n;111?\n\n;22X2?\n%TWO?\n\nError\nBlack\nError\n";
    const std::string last = std::to_string(tollwick::SampleDeck().cards.size());
    Expect({
        // Written back to blank card 1 from standard input.
        Case(kDeck + "--card 1 write --from-file -", 0,
             {Whole("Write Card<1> OK\nEnd of File!!!\n1 card written\n")}, {}, 0, text),
        // Two cards of a hand-made file go to cards 2 and 3; a bad line is named and skipped,
        // and fails the run. Quiet: only the end and the summary.
        Case(kDeck + "-q --card 2 write --from-file hand.txt", 1,
             {Whole("End of File!!\n2 cards written\n")}, {"Line 4 format error,Please Check!!"}),
        // Card 3 to standard output, as a card file: its time, then its record.
        Case(kDeck + "--card 3 read --to-file - --count 1", 0,
             {"\n%TWO?\n;NO DATA?\n+NO DATA?\n\n\n"}, {"Track1: %TWO?"}, 6),
        // A batch's cards each under their number, apart from the next.
        Case(kDeck + "--card 2 read --csv two.csv --count 2", 0,
             {Whole("Card 1\nTrack1: %ONE?\nTrack2: ;111?\nTrack3: {NO DATA}\n\n"
                    "Card 2\nTrack1: %TWO?\nTrack2: {NO DATA}\nTrack3: {NO DATA}\n\n"
                    "2 cards read into two.csv\n")}),
        // The deck's last card: the second card never comes, and the wait ends on the timeout.
        Case(kDeck + "--card " + last +
                 " --format raw read --to-file more.txt --count 2 --timeout 0.25",
             4, {"1 card recorded"}, {"no card swiped within 0.25 s"}),
    });
}

// Files that cannot be had end the run (exit 5) before any card: a missing file, a folder (not
// "End of File"); and a file the user names goes into a folder that is there, for the deck as
// for a card file or a CSV file: no folder is made. A line longer than any track line is no card
// file's: the run ends at its first byte too many, whatever follows (an endless pipe of zeros),
// and nothing of the card begun is written; issue's records are kept no further either.
TEST_F(CliTest, FilesThatCannotBeHadEndTheRun) {
    const std::string noFolder = "the folder missing does not exist";
    const std::string open = "Open file fail!!";
    Expect({
        Case(kDeck + "write --from-file missing.txt", 5, {Whole("")}, {open}),
        Case(kDeck + "write --from-file .", 5, {Whole("")}, {open}),
        Case(kDeck + "read --to-file .", 5, {Whole("")}, {open}),
        Case("--simulate --deck missing/d.json read", 5, {Whole("")}, {noFolder}),
        Case(kDeck + "read --to-file missing/c.txt", 5, {Whole("")}, {noFolder}),
        Case(kDeck + "read --csv missing/c.csv", 5, {Whole("")}, {noFolder}),
        Case(kDeck + "write --from-file -", 5, {Whole("no card written\n")},
             {"Line 2 format error,Please Check!!", "line 2 is longer than 257 characters"}, 0,
             "%A?\n" + std::string(1 << 20, 'x') + "\n%B?\n"),
        Case(kDeck + "issue - --track2 '{id}' --journal j.db", 5, {},
             {"standard input: line 2 is longer than 65536 bytes"}, 0,
             "id\n" + std::string(1 << 20, '1') + "\n"),
    });
    EXPECT_FALSE(fs::exists("missing"));
}

#ifndef _WIN32  // a file size limit is POSIX's; a deck Windows cannot replace: files_test
// The deck and the profile as the user keeps them: a deck that cannot be saved (the file size
// limit) fails the write, a profile with a zero byte is refused, and a lock that another
// process holds ends the command after --timeout, or at an interrupt.
TEST_F(CliTest, DeckAndProfileAreRewrittenOnlyAsTheUserLetsThem) {
    ASSERT_EQ(Run(kDeck + "coercivity hi").status, 0);  // creates the deck (over 1 KB)
    std::ofstream("one.txt") << "%ONE?\n\n";
    Result r = Run(kDeck + "write --from-file one.txt", {.stdinText = "", .fileSizeLimit = 1024});
    Check(r, 5, {Absent("Write Card<1> OK")}, {"cannot save the deck"});
    EXPECT_EQ(Lines(r.err).size(), 1u) << r.err;
    const std::string deck = FileText("deck.json");
    std::ofstream("profile.ini", std::ios::binary) << std::string("[MSR]\n\0BPISET=1\n", 17);
    Expect(Case(kDeck + "read", 5, {}, {"zero byte"}));
    fs::remove("profile.ini");

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
    r = Expect(Case(kDeck + "write --timeout 1 --track1 LATE", 5, {},
                    {" is in use by another Tollwick (pid "}));
    EXPECT_LT(r.took, std::chrono::seconds(3));
    auto waiting = Start(kDeck + "write --timeout 0 --track1 LATE");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const auto sent = std::chrono::steady_clock::now();
    ASSERT_TRUE(waiting->Interrupt());
    Check(waiting->Wait(), 130);
    EXPECT_LT(std::chrono::steady_clock::now() - sent, std::chrono::seconds(1));
    release.set_value();
    holder.join();
    EXPECT_TRUE(FileText("deck.json") == deck);
}
#endif

#ifndef _WIN32  // a file size limit (RLIMIT_FSIZE) stands for a full disk

// A record the disk cannot take whole is not in the file at all (AppendWhole's rule,
// card_file_test): the run says so, for card files and CSV files alike.
TEST_F(CliTest, AFullDiskLeavesNoPartOfARecord) {
    const std::tuple<std::string, std::string, std::string> cases[] = {
        {"--to-file", "cards.txt", "(card 2 not recorded; the file is as it was before it)"},
        {"--csv", "cards.csv", "(card 2 not in it; the file is as it was before it)"}};
    for (const auto& [option, file, says] : cases) {
        SCOPED_TRACE(option);
        const std::string read = kDeck + "--card 7 --format raw read " + option + " " + file;
        ASSERT_EQ(Run(read + " --count 1").status, 0);
        // Card 1's record (a CSV file begins with its header), after earlier records; the limit
        // (it counts for the tool's standard error too) leaves room for card 1 alone.
        const std::string first = FileText(file);
        const std::string record =
            option == "--to-file" ? first : first.substr(first.find('\n') + 1);
        std::string earlier;
        for (int i = 0; i < 6; ++i) earlier += first;
        std::ofstream(file, std::ios::binary) << earlier;
        const long limit = static_cast<long>(earlier.size() + record.size()) + 10;
        Check(Run(read + " --count 2", {.stdinText = "", .fileSizeLimit = limit}), 5, {}, {says});
        EXPECT_EQ(FileText(file).size(), earlier.size() + record.size());
    }
}
#endif

#ifndef _WIN32  // a FIFO; wine delivers no console events to a program without a console
// A wait for input (a FIFO whose writer never comes) ends on the first signal, like every other
// wait; how the input stops is user_file_test's.
TEST_F(CliTest, AWaitForInputEndsOnTheFirstSignal) {
    ASSERT_EQ(::mkfifo("cards.fifo", 0600), 0);
    // The tool opens the FIFO, connects to the reader, then waits for the first line; a signal
    // during the connection ends it sooner ("interrupted"). A loaded machine connects slower.
    for (const int ms : {300, 1000, 3000}) {
        auto write = Start(kDeck + "write --timeout 0 --from-file cards.fifo");
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        ASSERT_TRUE(write->Terminate());
        const Result r = write->Wait(std::chrono::seconds(5));
        ASSERT_EQ(r.status, 130) << r.err;
        if (r.err.find("interrupted; no card written") != std::string::npos) return;
    }
    FAIL() << "the signal never came while the tool waited for input";
}
#endif

// A real interrupt while the tool waits for a card's status (the deck has no card 9: the second
// card is never swiped, and --timeout 0 waits without limit): SIGINT and SIGTERM; on Windows
// Ctrl+Break, which wine cannot deliver to a program without a console. Its block went out: the
// card may have been written, and the run says so, in its count and its summary.
TEST_F(CliTest, SignalsEndEveryWaitAndCountTheCardsDone) {
    std::ofstream("two.txt") << "%ONE?\n\n%TWO?\n\n";
    // SIGTERM: AWaitForInputEndsOnTheFirstSignal.
    auto write = Start(kDeck + "--card 8 write --timeout 0 --from-file two.txt");
    ASSERT_TRUE(write->ReadUntil(
        [](const std::string& out) { return out.find("Write Card<1> OK") != std::string::npos; }));
    const auto sent = std::chrono::steady_clock::now();
    if (!write->Interrupt()) GTEST_SKIP() << "no console events here";
    const std::string uncertain = "1 card written, card 2 may have been written: check it";
    const Result r = write->Wait();
    Check(r, 130, {}, {"interrupted; " + uncertain});
    EXPECT_EQ(Lines(r.out).back(), uncertain);
    EXPECT_LT(std::chrono::steady_clock::now() - sent, std::chrono::seconds(5));
    auto json = Start(kDeck + "--card 8 --json write --timeout 0 --from-file two.txt");
    ASSERT_TRUE(json->ReadUntil(
        [](const std::string& out) { return out.find("\"card\":1") != std::string::npos; }));
    ASSERT_TRUE(json->Interrupt());
    // An uncertain card's object: CliReaderTest.
    Check(json->Wait(), 130,
          {R"({"type":"card","card":2,)", R"("cards_done":1,)", R"("cards_uncertain":1,)"}, {}, 4);

    // A batch read: the cards recorded before the signal are in the file, and the summary says
    // it was interrupted. Raw Type reads cards 7 and 8, then waits for card 9.
    auto read = Start(kDeck + "--card 7 --format raw --json read --timeout 0 --to-file cards.txt");
    ASSERT_TRUE(read->ReadUntil(
        [](const std::string& out) { return std::count(out.begin(), out.end(), '\n') >= 2; }));
    ASSERT_TRUE(read->Interrupt());
    Check(read->Wait(), 130,
          {"}\n{\"type\":\"error\",", R"("interrupted":true,"exit_status":130,)"},
          {"interrupted; 2 cards recorded"}, 4);
    EXPECT_EQ(Lines(FileText("cards.txt")).size(), 12u);
}

// kill -9 in the middle of read --to-file: every card reported as recorded is in the file,
// whole, in order; a card not yet reported may be missing.
TEST_F(CliTest, KilledBatchKeepsEveryCardItReported) {
    auto read = Start("--simulate --card 4 --format raw --json read --to-file cards.txt --count 8");
    ASSERT_TRUE(read->ReadUntil(
        [](const std::string& out) { return std::count(out.begin(), out.end(), '\n') >= 3; }));
    read->Kill();
    const Result r = read->Wait();
    EXPECT_EQ(r.status, ChildProcess::KilledStatus());
    // Six lines a record (card_file_test): each card reported holds its place.
    const std::vector<std::string> file = Lines(FileText("cards.txt"));
    const std::vector<std::string> reported = Lines(r.out);
    ASSERT_GE(reported.size(), 3u);
    ASSERT_GE(file.size(), reported.size() * 6) << "a card reported is not in the file";
    for (std::size_t c = 0; c < reported.size(); ++c) {
        const std::string& track2 = file[c * 6 + 2];  // ";TEXT?"
        ExpectParts(reported[c],
                    {R"("track2":{"text":")" + track2.substr(1, track2.size() - 2) + '"'});
    }
}

#ifndef _WIN32  // wine has no pseudo console; the console styles are in CsvAndProgressTest
// On a terminal a batch says which card it waits for (quiet leaves out the card lines), and a
// command that waits for one card asks for it; both only on standard error, and only there.
TEST_F(CliTest, ATerminalIsToldWhatTheReaderWaitsFor) {
    const std::string prompt = "Swipe a card... (Ctrl+C to stop)";
    const std::tuple<std::string, int, std::vector<Part>> cases[] = {
        {"--card 4 -q read --to-file cards.txt --count 2", 1, {"card 1 of 2", "card 2 of 2"}},
        {"read", 0, {prompt}},
        {"write --track1 A", 0, {prompt}},
        {"erase --tracks 1", 0, {prompt}},
        {"inspect", 0, {prompt}},
    };
    for (const auto& [args, status, texts] : cases) {
        // script(1) gives the tool a terminal of its own and shows what came to it.
        const auto [exit, shown] = tollwick::testing::RunShell(
            "TOLLWICK_PROFILE=profile.ini script -qec \"'" + kCli.string() + "' " + kDeck + args +
            " >out.txt\" /dev/null </dev/null");
        EXPECT_EQ(exit, status) << args << shown;
        ExpectParts(shown, texts);
        ExpectParts(FileText("out.txt"), {Absent(prompt)});
    }
    Expect(Case(kDeck + "read", 0, {}, {Whole("")}));  // not on a terminal: nothing
}
#endif

// Fields in every read mode; an account number is whole only with --show-pan, and nowhere with
// --mask. The CSV rows of the same cards: RFC 4180, a header once.
TEST_F(CliTest, FieldsAndCsvOfTheSampleCards) {
    const std::string pan = "4000001234567899";
    const std::string masked = "400000******7899";
    Expect({
        Case(kDeck + "--card 3 write --track1 'A,\"B' --track2 12"),
        // Cards 3 to 5 with the AAMVA formats in force: 3 holds no known format, 4 is a bank
        // card (whose 5-bit track 3 fails as 7 bits), 5 a licence. Flags are booleans.
        Case(kDeck + "--card 3 --format aamva --json read --fields --csv cards.csv --count 3", 1,
             {R"("fields":null})", R"("fields":{"format":"iso7813",)",
              R"("track1":{"format_code":"B",)", R"("pan":"400000******7899",)",
              R"("track2":{"pan":"400000******7899","pan_luhn":true,)",
              R"("expiry_explanation":"December 2029",)", R"("csv":"cards.csv"})"},
             {}, 4),
        // Cards 9 and 10, account numbers whole; the card's own checks are under "card".
        Case(kDeck + "--card 9 --json read --fields --show-pan --csv cards.csv --count 2", 0,
             {R"("track2":{"pan":"5500005555555558",)", R"({"type":"card","card":2,)",
              R"("card":{"tracks_agree":false,)"},
             {}, 3),
        // Text: the card lines as read, the fields below them masked.
        Case(kDeck + "--card 4 read --fields", 0,
             {"Format: ISO/IEC 7813 financial card\n", Absent(pan)}),
        // --mask: no account number whole anywhere the run writes (track lines, fields, JSON,
        // CSV rows, standard error, where --csv - sends the card lines); a card file, which is
        // written back from, is refused (BadCommandLinesSayWhatIsWrongInOneLine).
        Case(kDeck + "--card 4 --mask read --fields --csv - --count 1", 0, {Absent(pan), masked},
             {Absent(pan)}),
        Case(kDeck + "--card 4 --mask --json read --fields", 0, {Absent(pan), masked},
             {Absent(pan)}),
        Case(kDeck + "--mask inspect --track 1 --card 4", 0, {Absent(pan), masked}, {Absent(pan)}),
    });
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
        ::testing::internal::CaptureStderr();
        tollwick::Output out(false, false, style);
        out.Progress(1, 2);
        out.Progress(2, 2);
        out.Prompt("Track1");
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), shown) << static_cast<int>(style);
    }
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
    std::ofstream(tollwick::PathFromUtf8("\xCE\xA9.csv"))
        << "id,name\n4817293650,AL\n4817293651,BO\n4817293652,CY\n";
    const std::string issue = kDeck + "--pace 0 --json issue \xCE\xA9.csv --track1 'A{name}' " +
                              "--track2 '{id}' --verify --journal \xCE\xA9.db";
    Expect({
        Case(issue, 0, {R"("row":3,"status":"verified",)", R"("records_written":3,)"}, {}, 4),
        // The same command again: nothing left to write. The journal holds no track text.
        Case(issue, 0, {R"("records_done_before":3,)"}),
        Case("--json journal \xCE\xA9.db", 0, {R"({"type":"run",)", R"("track2":"{id}",)"}, {}, 4),
        // Another template, or a record that cannot be written (from standard input): refused
        // before any card, with the row named.
        Case(kDeck + "issue \xCE\xA9.csv --track2 '{id}0' --journal \xCE\xA9.db", 2, {},
             {"the journal \xCE\xA9.db belongs to another run"}),
        Case(kDeck + "issue - --track2 '{id}' --journal k.db", 2, {},
             {"row 2 (line 3), track 2: character 'X'"}, 0, "id\n1\nX\n"),
        // Two virtual readers, each with its own deck beside the one named.
        Case("--simulate --readers 2 --pace 0 --deck \xCE\xA9.json issue \xCE\xA9.csv "
             "--devices all --track2 '{id}' --journal two.db"),
    });
    EXPECT_EQ(FileText("\xCE\xA9.db").find("4817293651"), std::string::npos);
    EXPECT_FALSE(fs::exists("k.db"));
    // An empty deck file, as a run killed while it made the file leaves it: the run goes on with
    // blank cards, not the sample deck's dirty ones.
    std::ofstream("empty.json").flush();
    Expect(
        {Case("--simulate --deck empty.json --pace 0 issue \xCE\xA9.csv --track2 '{id}' "
              "--journal e.db")});
    EXPECT_NE(FileText("empty.json").find("Blank card"), std::string::npos);
    EXPECT_TRUE(fs::exists(tollwick::PathFromUtf8("\xCE\xA9.json.1")));
    EXPECT_TRUE(fs::exists(tollwick::PathFromUtf8("\xCE\xA9.json.2")));
}

}  // namespace
