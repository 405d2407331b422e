// Issuing from a data file: records, templates, cards checked before the first write, the
// journal and the resume rule.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "files/utf8_path.h"
#include "issuance/card_maker.h"
#include "issuance/issue_setup.h"
#include "issuance/resume_plan.h"
#include "issuance/sqlite_journal.h"
#include "test_platform.h"

namespace tollwick {
namespace {

namespace fs = std::filesystem;

// Every record of a text, as "row:value|value" or "row:!error" lines.
std::string ReadAll(const std::string& text) {
    std::istringstream in(text);
    std::string error;
    auto reader = OpenRecordReader(in, error);
    if (!reader) return "open: " + error;
    std::string out;
    for (const std::string& column : reader->Columns()) out += column + ",";
    out += "\n";
    DataRecord record;
    for (RecordStatus status; (status = reader->Next(record, error)) != RecordStatus::kEnd;) {
        if (status == RecordStatus::kBadFile) return out + "broken: " + error + "\n";
        if (status == RecordStatus::kBadRecord) {
            out += "bad: " + error + "\n";
            continue;
        }
        out += std::to_string(record.row) + "@" + std::to_string(record.line) + ":";
        for (const auto& value : record.values) out += (value ? *value : "<none>") + "|";
        out += "\n";
    }
    return out;
}

TEST(DataRecords, CsvAndJsonLines) {
    const std::string longField(kMaxRecordBytes + 1, '1');
    const struct {
        std::string text;
        std::string records;
    } cases[] = {
        // Quotes, doubled quotes, commas and a line end inside a field; CR LF; blank lines; a
        // byte order mark; no line end after the last record.
        {"\xEF\xBB\xBFname,pan\r\n\"Doe, J\",\"4\"\"1\nx\"\r\n\r\nAl,2",
         "name,pan,\n"
         "1@2:Doe, J|4\"1\nx|\n"
         "2@5:Al|2|\n"},
        // Empty fields; a record with too few fields is reported and reading goes on.
        {"a,b,c\n,,\n1,2\n3,4,5\n",
         "a,b,c,\n1@2:|||\nbad: row 2 (line 3): 2 fields, the header "
         "has 3\n3@4:3|4|5|\n"},
        // A character after a closing quote; a quote never closed ends the file.
        {"a\n\"x\"y\n\"ok\"\n\"open\n",
         "a,\nbad: row 1 (line 2): a character after the closing "
         "quote of field 1\n2@3:ok|\nbroken: row 3 (line 4): a "
         "quoted field is not closed before the end of the file\n"},
        // JSON lines: the first object's keys are the columns; numbers as written; a key
        // missing or not a text; a line that is no object.
        {"{\"pan\": 4111, \"name\": \"Al\"}\n\n{\"name\": \"Bo\", \"pan\": [1]}\nnope\n",
         "pan,name,\n1@1:4111|Al|\n2@3:<none>|Bo|\nbad: row 3 (line 4): not a JSON object\n"},
        {"", "open: the data file is empty: it needs a header row naming the columns"},
        {"a,,b\n", "open: column 2 of the header has no name"},
        {"a,b,a\n", "open: the header names the column \"a\" twice"},
        // A record may not run on without bound, quoted or not, nor a line of empty fields (a
        // pipe of commas).
        {"a\n1\n" + longField + "\n",
         "a,\n1@2:1|\nbroken: row 2 (line 3): longer than 65536 bytes\n"},
        {"a\n\"" + longField + "\"\n", "a,\nbroken: row 1 (line 2): longer than 65536 bytes\n"},
        {"a\n" + std::string(kMaxRecordBytes + 1, ',') + "\n",
         "a,\nbroken: row 1 (line 2): longer than 65536 bytes\n"},
    };
    for (const auto& c : cases) EXPECT_EQ(ReadAll(c.text), c.records) << c.text.substr(0, 80);
}

TEST(DataRecords, DigestOfTheFileAndLuhn) {
    std::istringstream abc("abc");
    EXPECT_EQ(StreamDigest(abc),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(LuhnCheckDigit("7992739871"), '3');
    EXPECT_EQ(LuhnCheckDigit("411111111111111"), '1');
    EXPECT_EQ(LuhnCheckDigit(""), '\0');
    EXPECT_EQ(LuhnCheckDigit("12a"), '\0');
}

TEST(CardMaker, TemplatesFillAndCheckEachTrack) {
    const std::vector<std::string> columns{"pan", "name", "exp"};
    const DataTypeLayout iso =
        LayoutFor(DataType::kIso, Track2Density::k210, kIsoTrackSet, StoredUserKeys{});
    std::string error;
    auto maker = CardMaker::Make({"B{luhn:pan}^{name}^{exp}", "{luhn:pan}={exp}", "{row}"}, columns,
                                 DataType::kIso, iso, error);
    ASSERT_TRUE(maker) << error;
    const struct {
        std::vector<std::optional<std::string>> values;
        std::string card;  // "t1|t2|t3" or the reason
    } cases[] = {
        {{"4111 1111-1111 111", "doe/j", "2812"},
         "B4111111111111111^DOE/J^2812|4111111111111111=2812|7"},
        {{"4111x", "A", "1"}, "track 1: {luhn:pan}: \"4111x\" is not a number"},
        {{std::nullopt, "A", "1"}, "track 1: no text or number for column \"pan\""},
        // The track 2 alphabet has no letters; track 1 holds at most 76 characters.
        {{"1", "A", "12A"}, "track 2: character 'A' at position 6 cannot be written on this track"},
        {{"1", std::string(71, 'X'), "1"}, "track 1: 77 characters, this track holds at most 76"},
        // The track's own sentinel is never data.
        {{"1", "A?", "1"},
         "track 1: character '?' at position 6 cannot be written on this track "
         "(it is the track's sentinel, which is added when writing)"},
    };
    for (const auto& c : cases) {
        DataRecord record{7, 8, c.values};
        auto texts = maker->Texts(record, error);
        EXPECT_EQ(texts ? (*texts)[0] + "|" + (*texts)[1] + "|" + (*texts)[2] : error, c.card);
    }

    // Templates refused before any record is read.
    const struct {
        std::array<std::string, 3> templates;
        std::string error;
    } bad[] = {
        {{"{nam}", "", ""},
         "--track1: {nam}: the data file has no column \"nam\" (it has pan, name, exp)"},
        {{"", "{pan", ""}, "--track2: the field opened at position 1 is not closed"},
        {{"", "", "1}"}, "--track3: a '}' at position 2 closes no field"},
        {{"", "", ""}, "no track to write: give --track1, --track2 or --track3"},
    };
    for (const auto& c : bad) {
        EXPECT_FALSE(CardMaker::Make(c.templates, columns, DataType::kIso, iso, error));
        EXPECT_EQ(error, c.error);
    }

    // Raw Type: whole bytes of hex digits.
    const DataTypeLayout raw =
        LayoutFor(DataType::kRaw, Track2Density::k210, kIsoTrackSet, StoredUserKeys{});
    auto rawMaker = CardMaker::Make({"{exp}", "", ""}, columns, DataType::kRaw, raw, error);
    ASSERT_TRUE(rawMaker);
    EXPECT_FALSE(rawMaker->Texts(DataRecord{1, 2, {"", "", "ABC"}}, error));
    EXPECT_EQ(error, "track 1: hexadecimal text needs an even number of digits");
}

TEST(CardMaker, RecordSourceKeepsToTheRows) {
    std::istringstream in("n\n1\nx\n3\n4\n5\n");
    std::string error;
    auto reader = OpenRecordReader(in, error);
    const DataTypeLayout iso =
        LayoutFor(DataType::kIso, Track2Density::k210, kIsoTrackSet, StoredUserKeys{});
    auto maker = CardMaker::Make({"", "{n}", ""}, reader->Columns(), DataType::kIso, iso, error);
    const auto rows = ParseRowRange("2-4", error);
    ASSERT_TRUE(rows);
    RecordSource source(*reader, *maker, *rows);
    std::string seen;
    for (auto item = source.Next(); item.kind != RecordSource::Item::Kind::kEnd;
         item = source.Next()) {
        seen += item.kind == RecordSource::Item::Kind::kCard ? item.texts[1] : "!" + item.problem;
        seen += ";";
    }
    EXPECT_EQ(seen,
              "!row 2 (line 3), track 2: character 'X' at position 1 cannot be written on this "
              "track;3;4;");
    for (const char* text : {"0-3", "3-2", "a", "2-x", ""}) {
        EXPECT_FALSE(ParseRowRange(text, error)) << text;
    }
    EXPECT_EQ(ParseRowRange("5-", error)->last, -1);
    EXPECT_EQ(ParseRowRange("5", error)->last, 5);
}

Attempt Made(AttemptStatus status, bool decided = false) {
    Attempt a;
    a.status = status;
    a.decided = decided;
    return a;
}

TEST(ResumePlan, EachRowOnExactlyOneCard) {
    using S = AttemptStatus;
    const struct {
        std::vector<Attempt> history;
        bool verify;
        RowAction action;
        int failures;
    } cases[] = {
        {{}, false, RowAction::kWrite, 0},
        {{Made(S::kWritten)}, false, RowAction::kDone, 0},
        {{Made(S::kFailed), Made(S::kVerified)}, true, RowAction::kDone, 1},
        // Written and never read back: with verify its card is read first.
        {{Made(S::kWritten)}, true, RowAction::kDecide, 0},
        {{Made(S::kFailed), Made(S::kUncertain)}, false, RowAction::kDecide, 1},
        // Retries 1: two tries; an uncertain card that did not hold the record does not count.
        {{Made(S::kFailed)}, false, RowAction::kWrite, 1},
        {{Made(S::kFailed), Made(S::kFailed, true)}, false, RowAction::kWrite, 1},
        {{Made(S::kFailed), Made(S::kFailed)}, false, RowAction::kGaveUp, 2},
    };
    for (const auto& c : cases) {
        const RowPlan plan = PlanRow(c.history, c.verify, 1);
        EXPECT_EQ(plan.action, c.action) << c.history.size();
        EXPECT_EQ(plan.failures, c.failures);
    }
}

class JournalTest : public ::testing::Test {
  protected:
    testing::ScratchFolder folder_{"tollwick-journal"};
    fs::path dir_ = folder_.path();
    fs::path path_ = dir_ / "run.journal";
};

TEST_F(JournalTest, KeepsTheRunAndEveryAttempt) {
    std::string error;
    RunParameters run{"d1", {"{a}", "", ""}, "iso", "7,0,%,?;5,0,;,?;5,0,;,?", NewDigestKey()};
    {
        auto journal = SqliteJournal::Open(path_, SqliteJournal::Mode::kIssue, error);
        ASSERT_TRUE(journal) << error;
        EXPECT_FALSE(journal->Parameters());
        ASSERT_TRUE(journal->Start(run));
        // One run at a time on a journal, and no reading it while it runs.
        EXPECT_FALSE(SqliteJournal::Open(path_, SqliteJournal::Mode::kIssue, error));
        EXPECT_NE(error.find("in use by a run"), std::string::npos) << error;
        const auto first = journal->BeginAttempt(1, "virtual:1", "aa");
        ASSERT_TRUE(first);
        ASSERT_TRUE(journal->Settle(first->id, AttemptStatus::kFailed, "rejected", false));
        const auto second = journal->BeginAttempt(1, "virtual:1", "aa");
        const auto third = journal->BeginAttempt(2, "virtual:2", "bb");
        ASSERT_TRUE(journal->Settle(second->id, AttemptStatus::kVerified, "", false));
        EXPECT_EQ(third->card, 3);
        EXPECT_FALSE(journal->Settle(99, AttemptStatus::kWritten, "", false));
    }  // a run that ends any way leaves the journal to the next
    auto journal = SqliteJournal::Open(path_, SqliteJournal::Mode::kRead, error);
    ASSERT_TRUE(journal) << error;
    const auto kept = journal->Parameters();
    ASSERT_TRUE(kept);
    EXPECT_TRUE(kept->SameRunAs(run));
    EXPECT_EQ(kept->digestKey, run.digestKey);
    std::vector<Attempt> attempts;
    ASSERT_TRUE(journal->History(1, attempts));
    ASSERT_EQ(attempts.size(), 2u);
    EXPECT_EQ(attempts[0].note, "rejected");
    EXPECT_EQ(attempts[1].status, AttemptStatus::kVerified);
    ASSERT_TRUE(journal->Uncertain(attempts));
    ASSERT_EQ(attempts.size(), 1u);
    EXPECT_EQ(attempts[0].row, 2);
    EXPECT_EQ(attempts[0].reader, "virtual:2");
    EXPECT_EQ(journal->CardsTakenBy("virtual:1", 99), 2);
    EXPECT_EQ(journal->CardsTakenBy("virtual:1", attempts[0].id), 2);
    EXPECT_EQ(journal->CardsTakenBy("virtual:2", attempts[0].id), 0);
    RunParameters other = run;
    other.templates[1] = "{b}";
    EXPECT_FALSE(kept->SameRunAs(other));
}

TEST_F(JournalTest, RefusesFilesThatAreNoJournal) {
    std::string error;
    EXPECT_FALSE(SqliteJournal::Open(path_, SqliteJournal::Mode::kRead, error));
    std::ofstream(path_) << "not a database at all, just some text that is long enough";
    EXPECT_FALSE(SqliteJournal::Open(path_, SqliteJournal::Mode::kIssue, error));
    EXPECT_NE(error.find("not an SQLite database"), std::string::npos) << error;
    fs::remove(path_);
    sqlite3* db = nullptr;
    sqlite3_open(PathToUtf8(path_).c_str(), &db);
    sqlite3_exec(db, "CREATE TABLE t(x)", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    EXPECT_FALSE(SqliteJournal::Open(path_, SqliteJournal::Mode::kIssue, error));
    EXPECT_NE(error.find("another program"), std::string::npos) << error;
}

TEST_F(JournalTest, SetupChecksEveryRecordAndKeepsToItsRun) {
    const fs::path data = dir_ / "data.csv";
    std::ofstream(data) << "id\n11\n12\n13\n";
    IssueRequest request;
    request.data = data;
    request.dataName = "data.csv";
    request.templates = {"", "{id}A", ""};
    request.journal = path_;
    request.layout = LayoutFor(DataType::kIso, Track2Density::k210, kIsoTrackSet, {});
    std::string error;
    IssueSetup::Failure failure = IssueSetup::Failure::kNone;
    const auto prepare = [&] {
        return IssueSetup::Prepare(
            request, [](long long, const RowPlan&, const TrackTexts*) {},
            [](long long, const std::string&) {}, failure, error);
    };

    // A record that cannot be written: nothing goes on, and no journal is made.
    EXPECT_FALSE(prepare());
    EXPECT_EQ(failure, IssueSetup::Failure::kRecords);
    EXPECT_FALSE(fs::exists(path_));

    request.templates[1] = "{id}";
    {
        auto setup = prepare();
        ASSERT_TRUE(setup) << error;
        EXPECT_EQ(setup->Check().toWrite, 3);
        ASSERT_TRUE(setup->StartJournal(error));
        IssueJournal& journal = *setup->Journal();
        const auto done = journal.BeginAttempt(1, "r", "d");
        journal.Settle(done->id, AttemptStatus::kWritten, "", false);
        journal.BeginAttempt(2, "r", "d");  // no status came
    }
    auto resumed = prepare();
    ASSERT_TRUE(resumed) << error;
    EXPECT_EQ(resumed->Check().done, 1);
    EXPECT_EQ(resumed->Check().toDecide, 1);
    EXPECT_EQ(resumed->Check().toWrite, 1);
    const auto uncertain = resumed->UncertainCards(error);
    ASSERT_TRUE(uncertain && uncertain->size() == 1u);
    EXPECT_EQ((*uncertain)[0].attempt.row, 2);
    EXPECT_EQ((*uncertain)[0].texts[1], "12");
    resumed.reset();

    // Another data file, template or data type: refused, and the journal kept as it was.
    std::ofstream(data, std::ios::app) << "14\n";
    EXPECT_FALSE(prepare());
    EXPECT_EQ(failure, IssueSetup::Failure::kOtherRun);
    EXPECT_NE(error.find("another data file"), std::string::npos) << error;
}

TEST(CardDigest, KeyedAndNeverTheText) {
    const std::string key = NewDigestKey();
    const std::string digest = CardDigest({"A", "1234", ""}, key);
    EXPECT_EQ(digest.size(), 64u);
    EXPECT_EQ(digest, CardDigest({"A", "1234", ""}, key));
    EXPECT_NE(digest, CardDigest({"A", "1234", ""}, NewDigestKey()));
    EXPECT_NE(digest, CardDigest({"A1", "234", ""}, key));
}

}  // namespace
}  // namespace tollwick
