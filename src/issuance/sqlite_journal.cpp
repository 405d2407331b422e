#include "issuance/sqlite_journal.h"

#include <sqlite3.h>

#include "files/utf8_path.h"

namespace tollwick {
namespace {

constexpr int kApplicationId = 0x54574a31;  // "TWJ1"
constexpr int kSchemaVersion = 1;

constexpr const char* kSchema = R"(
CREATE TABLE IF NOT EXISTS run(
    id INTEGER PRIMARY KEY CHECK (id = 1),
    data_digest TEXT NOT NULL,
    track1 TEXT NOT NULL, track2 TEXT NOT NULL, track3 TEXT NOT NULL,
    data_type TEXT NOT NULL,
    formats TEXT NOT NULL,
    digest_key TEXT NOT NULL,
    started TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS attempt(
    id INTEGER PRIMARY KEY,
    row INTEGER NOT NULL,
    card INTEGER NOT NULL,
    reader TEXT NOT NULL,
    status TEXT NOT NULL CHECK (status IN ('uncertain', 'written', 'verified', 'failed')),
    time TEXT NOT NULL,
    digest TEXT NOT NULL,
    note TEXT NOT NULL DEFAULT '',
    decided INTEGER NOT NULL DEFAULT 0);
CREATE INDEX IF NOT EXISTS attempt_by_row ON attempt(row);
CREATE INDEX IF NOT EXISTS attempt_by_reader ON attempt(reader, id);
)";

constexpr const char* kAttemptColumns =
    "SELECT id, row, card, reader, status, time, digest, note, decided FROM attempt ";

// A prepared statement, finalized when it goes.
struct Statement {
    sqlite3_stmt* s = nullptr;
    ~Statement() { sqlite3_finalize(s); }
};

std::string Text(sqlite3_stmt* s, int column) {
    const unsigned char* text = sqlite3_column_text(s, column);
    return text ? reinterpret_cast<const char*>(text) : "";
}

void Bind(sqlite3_stmt* s, int index, const std::string& text) {
    sqlite3_bind_text(s, index, text.c_str(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

}  // namespace

std::unique_ptr<SqliteJournal> SqliteJournal::Open(const std::filesystem::path& path, Mode mode,
                                                   std::string& error) {
    if (mode == Mode::kRead && !std::filesystem::exists(path)) {
        error = "no journal " + PathToUtf8(path);
        return nullptr;
    }
    sqlite3* db = nullptr;
    const int flags =
        mode == Mode::kIssue ? SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE : SQLITE_OPEN_READONLY;
    // SQLite takes file names in UTF-8 on every platform.
    const std::string name = PathToUtf8(path);
    const int opened = sqlite3_open_v2(name.c_str(), &db, flags, nullptr);
    std::unique_ptr<SqliteJournal> journal(new SqliteJournal(db));
    if (opened != SQLITE_OK) {
        error = "cannot open the journal " + name + ": " +
                (db ? sqlite3_errmsg(db) : sqlite3_errstr(opened));
        return nullptr;
    }
    sqlite3_extended_result_codes(db, 1);
    const std::string where = "the journal " + name + ": ";
    // What kind of file it is: SQLite says "file is not a database" on the first read.
    Statement id;
    if (sqlite3_prepare_v2(db, "PRAGMA application_id", -1, &id.s, nullptr) != SQLITE_OK ||
        sqlite3_step(id.s) != SQLITE_ROW) {
        const int code = sqlite3_errcode(db);
        if ((code & 0xFF) == SQLITE_BUSY || (code & 0xFF) == SQLITE_LOCKED) {
            error = where + "it is in use by a run (one run at a time per journal)";
        } else if ((code & 0xFF) == SQLITE_NOTADB) {
            error = where + "it is not an SQLite database";
        } else {
            error = where + sqlite3_errmsg(db);
        }
        return nullptr;
    }
    const int application = sqlite3_column_int(id.s, 0);
    sqlite3_finalize(id.s);
    id.s = nullptr;
    bool empty = false;
    {
        Statement tables;
        sqlite3_prepare_v2(db, "SELECT count(*) FROM sqlite_schema", -1, &tables.s, nullptr);
        empty = sqlite3_step(tables.s) == SQLITE_ROW && sqlite3_column_int(tables.s, 0) == 0;
    }
    if (application != kApplicationId && !(empty && application == 0 && mode == Mode::kIssue)) {
        error = where + (empty ? "it is an empty database, not a journal"
                               : "it is an SQLite database of another program, not a journal");
        return nullptr;
    }
    {
        Statement check;
        sqlite3_prepare_v2(db, "PRAGMA quick_check", -1, &check.s, nullptr);
        if (sqlite3_step(check.s) != SQLITE_ROW || Text(check.s, 0) != "ok") {
            error = where + "it fails SQLite's integrity check (" + Text(check.s, 0) + ")";
            return nullptr;
        }
    }
    if (mode == Mode::kRead) return journal;

    // One run at a time: the exclusive lock is taken by the first write below and kept.
    const std::string setup =
        "PRAGMA locking_mode=EXCLUSIVE; PRAGMA journal_mode=WAL; "
        "PRAGMA synchronous=FULL; BEGIN IMMEDIATE; " +
        std::string(kSchema) + "PRAGMA application_id=" + std::to_string(kApplicationId) +
        "; PRAGMA user_version=" + std::to_string(kSchemaVersion) + "; COMMIT;";
    if (!journal->Exec(setup.c_str())) {
        const int code = sqlite3_errcode(db) & 0xFF;
        error = where + (code == SQLITE_BUSY || code == SQLITE_LOCKED
                             ? "it is in use by a run (one run at a time per journal)"
                             : journal->error_);
        return nullptr;
    }
    return journal;
}

SqliteJournal::~SqliteJournal() {
    sqlite3_close_v2(db_);
}

bool SqliteJournal::Fail(const std::string& what) {
    error_ = what + ": " + sqlite3_errmsg(db_);
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    return false;
}

bool SqliteJournal::Exec(const char* sql) {
    error_.clear();
    char* message = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &message) != SQLITE_OK) {
        error_ = message ? message : sqlite3_errmsg(db_);
        sqlite3_free(message);
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        return false;
    }
    return true;
}

sqlite3_stmt* SqliteJournal::Prepared(const char* sql) {
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(db_, sql, -1, &s, nullptr) != SQLITE_OK) return nullptr;
    return s;
}

std::optional<RunParameters> SqliteJournal::Parameters() {
    std::lock_guard lock(mutex_);
    error_.clear();
    Statement s{
        Prepared("SELECT data_digest, track1, track2, track3, data_type, formats, "
                 "digest_key FROM run WHERE id = 1")};
    if (!s.s) return Fail("cannot read the run"), std::nullopt;
    const int step = sqlite3_step(s.s);
    if (step == SQLITE_DONE) return std::nullopt;
    if (step != SQLITE_ROW) return Fail("cannot read the run"), std::nullopt;
    RunParameters run;
    run.dataDigest = Text(s.s, 0);
    for (int t = 0; t < 3; ++t) run.templates[static_cast<std::size_t>(t)] = Text(s.s, 1 + t);
    run.dataType = Text(s.s, 4);
    run.formats = Text(s.s, 5);
    run.digestKey = Text(s.s, 6);
    return run;
}

bool SqliteJournal::Start(const RunParameters& run) {
    std::lock_guard lock(mutex_);
    error_.clear();
    Statement s{
        Prepared("INSERT INTO run(id, data_digest, track1, track2, track3, data_type, "
                 "formats, digest_key, started) VALUES (1, ?, ?, ?, ?, ?, ?, ?, ?)")};
    if (!s.s) return Fail("cannot record the run");
    Bind(s.s, 1, run.dataDigest);
    for (int t = 0; t < 3; ++t) Bind(s.s, 2 + t, run.templates[static_cast<std::size_t>(t)]);
    Bind(s.s, 5, run.dataType);
    Bind(s.s, 6, run.formats);
    Bind(s.s, 7, run.digestKey);
    Bind(s.s, 8, UtcNow());
    if (sqlite3_step(s.s) != SQLITE_DONE) return Fail("cannot record the run");
    return true;
}

std::optional<Attempt> SqliteJournal::BeginAttempt(long long row, const std::string& reader,
                                                   const std::string& digest) {
    std::lock_guard lock(mutex_);
    error_.clear();
    Attempt attempt{0, row, 0, reader, AttemptStatus::kUncertain, UtcNow(), digest, "", false};
    // The next card number is taken in the same statement: several readers share the journal.
    Statement s{
        Prepared("INSERT INTO attempt(row, card, reader, status, time, digest) "
                 "SELECT ?, coalesce(max(card), 0) + 1, ?, 'uncertain', ?, ? FROM attempt "
                 "RETURNING id, card")};
    if (!s.s) return Fail("cannot record the attempt"), std::nullopt;
    sqlite3_bind_int64(s.s, 1, row);
    Bind(s.s, 2, reader);
    Bind(s.s, 3, attempt.time);
    Bind(s.s, 4, digest);
    if (sqlite3_step(s.s) != SQLITE_ROW) return Fail("cannot record the attempt"), std::nullopt;
    attempt.id = sqlite3_column_int64(s.s, 0);
    attempt.card = sqlite3_column_int64(s.s, 1);
    if (sqlite3_step(s.s) != SQLITE_DONE) return Fail("cannot record the attempt"), std::nullopt;
    return attempt;
}

bool SqliteJournal::Settle(long long id, AttemptStatus status, const std::string& note,
                           bool decided) {
    std::lock_guard lock(mutex_);
    error_.clear();
    Statement s{
        Prepared("UPDATE attempt SET status = ?, note = ?, decided = ?, time = ? WHERE id = ?")};
    if (!s.s) return Fail("cannot record the card");
    Bind(s.s, 1, std::string(AttemptStatusName(status)));
    Bind(s.s, 2, note);
    sqlite3_bind_int(s.s, 3, decided ? 1 : 0);
    Bind(s.s, 4, UtcNow());
    sqlite3_bind_int64(s.s, 5, id);
    if (sqlite3_step(s.s) != SQLITE_DONE) return Fail("cannot record the card");
    if (sqlite3_changes(db_) != 1) {
        error_ = "no attempt " + std::to_string(id) + " in the journal";
        return false;
    }
    return true;
}

bool SqliteJournal::Attempts(sqlite3_stmt* s, const std::function<bool(const Attempt&)>& visit) {
    for (;;) {
        const int step = sqlite3_step(s);
        if (step == SQLITE_DONE) return true;
        if (step != SQLITE_ROW) return Fail("cannot read the attempts");
        Attempt a;
        a.id = sqlite3_column_int64(s, 0);
        a.row = sqlite3_column_int64(s, 1);
        a.card = sqlite3_column_int64(s, 2);
        a.reader = Text(s, 3);
        a.status = AttemptStatusFromName(Text(s, 4)).value_or(AttemptStatus::kUncertain);
        a.time = Text(s, 5);
        a.digest = Text(s, 6);
        a.note = Text(s, 7);
        a.decided = sqlite3_column_int(s, 8) != 0;
        if (!visit(a)) return true;
    }
}

bool SqliteJournal::History(long long row, std::vector<Attempt>& attempts) {
    std::lock_guard lock(mutex_);
    error_.clear();
    attempts.clear();
    Statement s{Prepared((std::string(kAttemptColumns) + "WHERE row = ? ORDER BY id").c_str())};
    if (!s.s) return Fail("cannot read the attempts");
    sqlite3_bind_int64(s.s, 1, row);
    return Attempts(s.s, [&attempts](const Attempt& a) {
        attempts.push_back(a);
        return true;
    });
}

bool SqliteJournal::ForEach(const std::function<bool(const Attempt&)>& visit) {
    std::lock_guard lock(mutex_);
    error_.clear();
    Statement s{Prepared((std::string(kAttemptColumns) + "ORDER BY id").c_str())};
    if (!s.s) return Fail("cannot read the attempts");
    return Attempts(s.s, visit);
}

bool SqliteJournal::Uncertain(std::vector<Attempt>& attempts) {
    std::lock_guard lock(mutex_);
    error_.clear();
    attempts.clear();
    Statement s{Prepared(
        (std::string(kAttemptColumns) + "WHERE status = 'uncertain' ORDER BY id").c_str())};
    if (!s.s) return Fail("cannot read the attempts");
    return Attempts(s.s, [&attempts](const Attempt& a) {
        attempts.push_back(a);
        return true;
    });
}

std::optional<long long> SqliteJournal::CardsTakenBy(const std::string& reader,
                                                     long long beforeId) {
    std::lock_guard lock(mutex_);
    error_.clear();
    Statement s{Prepared("SELECT count(*) FROM attempt WHERE reader = ? AND id < ?")};
    if (!s.s) return Fail("cannot count the cards"), std::nullopt;
    Bind(s.s, 1, reader);
    sqlite3_bind_int64(s.s, 2, beforeId);
    if (sqlite3_step(s.s) != SQLITE_ROW) return Fail("cannot count the cards"), std::nullopt;
    return sqlite3_column_int64(s.s, 0);
}

}  // namespace tollwick
