// The journal of an issuing run: what the run is (its data file, templates and formats) and,
// per record and attempt, which card got it on which reader and how that ended. Every change is
// on the disk before the call returns, so that a run stopped at any moment (killed, unplugged,
// the power gone) resumes without writing a record twice or skipping one.
//
// The journal never holds track texts, which may hold account numbers: only a keyed digest of
// the tracks sent (CardDigest), enough to tell whether a card holds what the journal says.
//
// This is the interface the run uses; SqliteJournal (sqlite_journal.h) is the store of one
// station. A store shared by several stations (a database server) takes the same calls.
#pragma once

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tollwick {

// What became of one attempt to put a record on a card.
enum class AttemptStatus {
    kUncertain,  // the write block was (or was about to be) sent and no status has come; after a
                 // crash or an unplug the card may or may not hold the record
    kWritten,    // the reader reported the card written
    kVerified,   // written and read back as written
    kFailed,     // the reader rejected the card, or it did not read back as written: set aside
};
std::string_view AttemptStatusName(AttemptStatus status);  // "uncertain", "written", ...
std::optional<AttemptStatus> AttemptStatusFromName(std::string_view name);

// What a run is: a journal belongs to one data file and one way of filling the cards.
struct RunParameters {
    std::string dataDigest;                // SHA-256 of the data file, hex
    std::array<std::string, 3> templates;  // as given; empty for a track not written
    std::string dataType;                  // "iso", "user", ...
    std::string formats;                   // the three track formats in force (TrackSetText)
    std::string digestKey;                 // hex; the key of CardDigest, made for the run

    // Whether a run with `other` carries on this one (everything but the digest key is equal).
    bool SameRunAs(const RunParameters& other) const;
};

// One attempt to put a record on a card.
struct Attempt {
    long long id = 0;    // in the order the attempts were made
    long long row = 0;   // the record's row in the data file
    long long card = 0;  // the card's number in the run, from 1; every card taken counts
    std::string reader;  // which reader had the card (its path, serial or "virtual:N")
    AttemptStatus status = AttemptStatus::kUncertain;
    std::string time;      // when it last changed, UTC, "2026-12-07T20:31:05Z"
    std::string digest;    // CardDigest of the tracks sent
    std::string note;      // why it failed, or how an uncertain card was decided
    bool decided = false;  // it was uncertain and a read of the card decided it
};

class IssueJournal {
  public:
    virtual ~IssueJournal() = default;

    // The run this journal belongs to; nothing when no run has started in it. Also nothing on a
    // failure: then Error() is not empty.
    virtual std::optional<RunParameters> Parameters() = 0;
    // Records the run's parameters in a journal that has none.
    virtual bool Start(const RunParameters& parameters) = 0;

    // Records a new attempt as uncertain, before its write block goes out, on the next card
    // number of the run. The attempt (id, card and time filled in), or nothing.
    virtual std::optional<Attempt> BeginAttempt(long long row, const std::string& reader,
                                                const std::string& digest) = 0;
    // Records how an attempt ended (and, for a decided uncertain card, that a read decided it).
    virtual bool Settle(long long id, AttemptStatus status, const std::string& note,
                        bool decided) = 0;

    // The attempts of one row, oldest first.
    virtual bool History(long long row, std::vector<Attempt>& attempts) = 0;
    // Every attempt in the order made; `visit` returns false to stop early.
    virtual bool ForEach(const std::function<bool(const Attempt&)>& visit) = 0;
    // The attempts whose last word is kUncertain, oldest first.
    virtual bool Uncertain(std::vector<Attempt>& attempts) = 0;
    // How many cards one reader took for the attempts made before attempt `beforeId` (all of
    // them: the largest id).
    virtual std::optional<long long> CardsTakenBy(const std::string& reader,
                                                  long long beforeId) = 0;

    // Why the last call failed, in words; empty after a call that succeeded.
    virtual const std::string& Error() const = 0;
};

// A random key for CardDigest, hex.
std::string NewDigestKey();
// The keyed BLAKE2b digest of the three track texts as sent, hex. A digest of a short account
// number could be found by trying every number; the key, made for each run, keeps a table made
// for one run useless for every other.
std::string CardDigest(const std::array<std::string, 3>& texts, const std::string& keyHex);

// "2026-12-07T20:31:05Z": now, in UTC.
std::string UtcNow();

}  // namespace tollwick
