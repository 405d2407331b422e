// Card text files: the records written and the line rules they are read back with; a card
// exported as JSON.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#endif

#include <algorithm>
#include <cerrno>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "files/card_export.h"
#include "files/card_file.h"
#include "test_platform.h"

namespace tollwick {
namespace {

using Outcome = CardFileReader::Outcome;
using Texts = TrackTexts;

// A card exported as JSON: per track what was read, its status, the bytes as delivered and the
// format it was decoded with; account numbers whole or masked in the texts and fields alike.
TEST(CardExport, TracksStatusesBytesFormatsAndMasking) {
    CardCapture capture;
    capture.card.SetTexts({"%B4000001234567899^DOE/J^2912101?", std::string(kNoDataText),
                           std::string(TrackErrorMarker(2))});
    capture.card.trackErrors = 1u << 2;
    capture.raw = {{{0xA2, 0x0f}, {}, {0x01}}};
    capture.settings[1] = {6, kParityOdd, '%', '?'};
    capture.settings[2] = {8, kParityNone, '%', '?'};
    for (const bool show : {true, false}) {
        const std::string json = CardExportJson(capture, show);
        ASSERT_TRUE(json.ends_with("}\n")) << json;
        const auto card = nlohmann::json::parse(json);
        EXPECT_EQ(card["type"], "card");
        EXPECT_EQ(card["data_type"], "iso");
        EXPECT_NE(card["time"].get<std::string>().find('T'), std::string::npos);
        const std::string pan = show ? "4000001234567899" : "400000******7899";
        EXPECT_EQ(card["track1"]["text"], "%B" + pan + "^DOE/J^2912101?") << show;
        EXPECT_EQ(card["fields"]["track1"]["pan"], pan) << show;
        EXPECT_EQ(card["track1"]["raw"], "A20F");  // the bytes as read, never masked
        EXPECT_EQ(
            card["track1"]["format"],
            nlohmann::json::parse(
                R"({"bpc": 7, "parity": "odd", "start_sentinel": "%", "end_sentinel": "?"})"));
        for (const auto& [track, status] :
             {std::pair{"track1", "ok"}, {"track2", "empty"}, {"track3", "error"}}) {
            EXPECT_EQ(card[track]["status"], status) << track;
        }
        EXPECT_EQ(card["track2"]["text"], "");
        EXPECT_EQ(card["track3"]["text"], "");
        EXPECT_EQ(card["track2"]["format"]["parity"], "none");  // 6 bits carry no parity bit
        EXPECT_EQ(card["track3"]["format"], nlohmann::json::parse(R"({"bpc": 8})"));
        EXPECT_FALSE(card.contains("read_block_damaged"));
    }
    capture.blockDamaged = true;
    EXPECT_EQ(nlohmann::json::parse(CardExportJson(capture))["read_block_damaged"], true);
}

// What a reader makes of a file, card by card up to the first result that is no card: "card",
// "no data", "end" or "too long", the track texts ("B123|1234|"), and " !2" for each line whose
// data a track cannot carry.
std::string ReadAll(const std::string& text, std::array<int, 3> bpc = {7, 5, 5}) {
    std::istringstream in(text);
    CardFileReader reader(in);
    std::string out;
    for (;;) {
        const CardFileReader::Result r = reader.Next(bpc);
        out += r.outcome == Outcome::kCard        ? "card "
               : r.outcome == Outcome::kNoData    ? "no data "
               : r.outcome == Outcome::kEndOfFile ? "end "
                                                  : "too long ";
        out += r.tracks[0] + "|" + r.tracks[1] + "|" + r.tracks[2];
        for (int line : r.formatErrorLines) out += " !" + std::to_string(line);
        if (r.outcome != Outcome::kCard) return out;
        out += "; ";
    }
}

TEST(CardFile, RecordsAndTheirLinesReadBack) {
    std::tm t{};
    t.tm_year = 2026 - 1900, t.tm_mday = 5, t.tm_hour = 9, t.tm_min = 3, t.tm_sec = 7;
    CardTracks card;
    card.SetText(0, "%B123?");
    card.SetText(1, "{NO DATA}");
    card.SetText(2, ";5678?");
    EXPECT_EQ(CardFileRecord(t, card, DataType::kIso),
              "2026-1-5  9:3:7\n%B123?\n;NO DATA?\n+5678?\n\n\n");
    EXPECT_EQ(CardFileTrackLine(0, "01A0", DataType::kRaw), "%01A0?");
    EXPECT_EQ(CardFileTrackLine(1, "", DataType::kRaw), ";?");
    EXPECT_EQ(CardFileTrackLine(2, "!5678?", DataType::kCaDmv), "+5678?");

    // Read back.
    const std::pair<std::string, const char*> cases[] = {
        // CR LF or LF; a track To File recorded as empty comes back empty; '%?' is a card with
        // every track empty, and it is written.
        {"2026-1-5  9:3:7\r\n%B123?\r\n;1234?\r\n+5678?\r\n\r\n\r\n"
         "2026-1-5  9:3:9\n%NO DATA?\n;4321?\n+NO DATA?\n\n\n",
         "card B123|1234|5678; card |4321|; end ||"},
        {"%?\n\n", "card ||; end ||"},
        // The start character chooses the track, whatever stands before it and whatever the
        // order.
        {"xx;1234?\n%ABC?\n\n", "card ABC|1234|; end ||"},
        // A bad character, also the last before '?': that line gives no data, the card goes on.
        {"note\n;12A4?\n%OK?\n\n", "card OK|| !2; end ||"},
        {";1234A?\n\n", "no data || !1"},
        // "Error" and "Black" lines are used without data; so is a line without its closing '?'.
        {"Error\nError\nError\n%A?\n", "no data ||"},
        {"%{Trace1 data Error}?\n;Black?\n+1?\n", "card ||1; end ||"},
        {"%ABC\n\n", "no data ||"},
        // A file ending after two track lines: the card is not written.
        {"%A?\n;1?", "end ||"},
        // Three used lines complete a card without a separator; a second line for the same
        // track replaces the first whole; line numbers run over the whole file.
        {"%A?\n;1?\n+2?\n%B?\n;3?\n+4?\n", "card A|1|2; card B|3|4; end ||"},
        {"%LONGER TEXT?\n%AB?\n\n", "card AB||; end ||"},
        {"%A?\n\n\n%B?\n;X?\n\n", "card A||; card B|| !5; end ||"},
        // A line holds as much as a track text can (a Raw Type record of 127 bytes has 254 hex
        // digits), a CR LF end included; one byte more and the file is read no further, the card
        // begun not written. Nothing of a card file is longer, a note neither.
        {"%A?\n;" + std::string(256, '1') + "?\n+3?\n\n%B?\n", "too long || !2"},
        {"note " + std::string(300, 'x') + "\n%A?\n", "too long || !1"},
    };
    for (const auto& [text, cards] : cases) EXPECT_EQ(ReadAll(text), cards) << text;
    // Raw Type takes anything.
    EXPECT_EQ(ReadAll("%zz\x01?\n\n", {8, 8, 8}), "card zz\x01||; end ||");
    const std::string hex(254, 'F');
    EXPECT_EQ(ReadAll("%" + hex + "?\n;" + std::string(255, '1') + "?\r\n+3?\n\n", {8, 5, 5}),
              "card " + hex + "|" + std::string(255, '1') + "|3; end ||");
}

// Endless bytes without a line end, counted as they are taken.
class EndlessBytes final : public std::streambuf {
  public:
    explicit EndlessBytes(char byte) { std::fill(std::begin(chunk_), std::end(chunk_), byte); }
    std::size_t taken = 0;

  protected:
    int_type underflow() override {
        taken += sizeof chunk_;
        setg(chunk_, chunk_, chunk_ + sizeof chunk_);
        return traits_type::to_int_type(chunk_[0]);
    }

  private:
    char chunk_[16];
};

TEST(CardFile, AnEndlessLineIsTakenNoFurtherThanItsFirstByteTooMany) {
    // /dev/zero, a pipe of ones: taken no further than the first byte too many, and staying at
    // that.
    for (char byte : {'\0', '1'}) {
        EndlessBytes endless(byte);
        std::istream in(&endless);
        CardFileReader reader(in);
        const CardFileReader::Result first = reader.Next({7, 5, 5});
        EXPECT_EQ(first.outcome, Outcome::kLineTooLong);
        EXPECT_EQ(first.formatErrorLines, std::vector<int>{1});
        EXPECT_EQ(reader.Next({7, 5, 5}).outcome, Outcome::kLineTooLong);
        EXPECT_LE(endless.taken, kCardFileLineMax + 2 + 16);
    }
}

TEST(CardFile, AppenderKeepsEarlierContentAndCreatesPrivateFiles) {
    namespace fs = std::filesystem;
    const testing::ScratchFolder folder("tollwick-cardfile");
    const auto path = folder.path() / "cards.txt";
    constexpr auto kMine = fs::perms::owner_read | fs::perms::owner_write;
    CardTracks card;
    card.SetText(0, "%A?");
    std::ofstream(path, std::ios::binary) << "kept\n";
    fs::permissions(path, kMine | fs::perms::group_read);
    ASSERT_TRUE(CardFileAppender(path.string()).Append(card, DataType::kIso));
    // An existing file keeps what it holds (and its mode).
    EXPECT_EQ(testing::ReadFile(path).substr(0, 5), "kept\n");
    EXPECT_FALSE(CardFileAppender((folder.path() / "missing" / "x.txt").string()).IsOpen());
#ifndef _WIN32  // Windows: the owner-only DACL of a new card file is checked in files_test
    EXPECT_EQ(fs::status(path).permissions(), kMine | fs::perms::group_read);
    fs::remove(path);
    // A new card file holds card data: its owner's only, whatever the umask.
    const mode_t umask = ::umask(0);
    EXPECT_TRUE(CardFileAppender(path.string()).IsOpen());
    ::umask(umask);
    EXPECT_EQ(fs::status(path).permissions(), kMine);
#endif
}

#ifndef _WIN32  // a file size limit (RLIMIT_FSIZE) stands for a full disk; Windows: none

// A record that the disk takes only in part is cut back out whole: the file is as it was, and a
// later record follows the earlier ones directly, never a fragment.
TEST(CardFile, AFailedAppendLeavesTheFileAsItWas) {
    const testing::ScratchFolder folder("tollwick-fullfile");
    const std::string path = (folder.path() / "cards.txt").string();
    const std::string first(100, 'a');
    const std::string second(100, 'b');
    const std::string third(50, 'c');
    EXPECT_TRUE(testing::InChildProcesses(1, folder.path(), [&](int) {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit full{150, RLIM_INFINITY};
        const rlimit freed{RLIM_INFINITY, RLIM_INFINITY};
        CardFileAppender file(path);
        if (!file.AppendText(first) || ::setrlimit(RLIMIT_FSIZE, &full) != 0) return false;
        const bool refused = !file.AppendText(second) && errno == EFBIG && file.FileKept();
        const std::string kept = testing::ReadFile(path);
        if (::setrlimit(RLIMIT_FSIZE, &freed) != 0) return false;
        return refused && kept == first && file.AppendText(third);
    }));
    EXPECT_EQ(testing::ReadFile(path), first + third);
}

#endif

}  // namespace
}  // namespace tollwick
