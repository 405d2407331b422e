// The journal of one station: an SQLite database file, readable by any SQLite tool.
//
// Write-ahead log, synchronous=FULL: each call that changes the journal is one transaction,
// committed and synced before it returns, so a card is never armed before the journal has the
// attempt before it. While a run holds the journal open for issuing, the database is locked
// for it alone (locking_mode=EXCLUSIVE): a second run on the same journal, which would write the
// same records again, is refused; the lock goes with the process, however it ends.
//
// Tables: run (one row: the run's parameters), attempt (id, row, card, reader, status, time,
// digest, note, decided), indexed by row and by reader. application_id 0x54574a31 ("TWJ1") marks
// the file as a Tollwick journal.
#pragma once

#include <filesystem>
#include <memory>
#include <mutex>

#include "issuance/issue_journal.h"

struct sqlite3;
struct sqlite3_stmt;

namespace tollwick {

class SqliteJournal final : public IssueJournal {
  public:
    enum class Mode {
        kIssue,  // created when missing; held for this run alone
        kRead,   // read only; fails when missing or while a run holds it
    };
    // Opens (or creates) the journal. Nothing, with the reason in `error`: not an SQLite file,
    // a database that is not a journal, a file that fails its integrity check, in use by a run.
    static std::unique_ptr<SqliteJournal> Open(const std::filesystem::path& path, Mode mode,
                                               std::string& error);
    ~SqliteJournal() override;

    std::optional<RunParameters> Parameters() override;
    bool Start(const RunParameters& parameters) override;
    std::optional<Attempt> BeginAttempt(long long row, const std::string& reader,
                                        const std::string& digest) override;
    bool Settle(long long id, AttemptStatus status, const std::string& note, bool decided) override;
    bool History(long long row, std::vector<Attempt>& attempts) override;
    bool ForEach(const std::function<bool(const Attempt&)>& visit) override;
    bool Uncertain(std::vector<Attempt>& attempts) override;
    std::optional<long long> CardsTakenBy(const std::string& reader, long long beforeId) override;
    const std::string& Error() const override { return error_; }

  private:
    explicit SqliteJournal(sqlite3* db) : db_(db) {}
    bool Exec(const char* sql);
    bool Fail(const std::string& what);
    bool Attempts(sqlite3_stmt* statement, const std::function<bool(const Attempt&)>& visit);
    sqlite3_stmt* Prepared(const char* sql);

    std::mutex mutex_;  // one caller at a time: the workers of several readers share one journal
    sqlite3* db_ = nullptr;
    std::string error_;
};

}  // namespace tollwick
