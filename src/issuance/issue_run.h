// Issuing: each record of the data file onto exactly one card, on one reader or several at once,
// with every attempt in the journal before the next card is armed.
//
// Per card: the attempt is recorded as uncertain, the write block goes out, the reader's status
// comes; a card the reader wrote is kept (the virtual reader's deck) and recorded written, read
// back when cards are verified and recorded verified or failed. A card the reader rejected, or
// that did not read back as written, is set aside and the record goes onto the next card, up to
// the retries allowed. When no status comes (killed, unplugged, stopped), the attempt stays
// uncertain; a later run reads that card to decide it (Decide) before anything else.
//
// Each reader is a station; the stations take records from one source, each on a thread of its
// own (the first on the caller's thread), so a reader that fails stops taking records and the
// others go on.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include "cardsteps/card_steps.h"
#include "issuance/card_maker.h"
#include "issuance/issue_journal.h"
#include "issuance/resume_plan.h"

namespace tollwick {

// One reader as the run drives it.
class IssueStation {
  public:
    virtual ~IssueStation() = default;
    // How the journal names it: the reader's path or serial number, "virtual:1", ...
    virtual std::string Name() const = 0;
    virtual ReaderCommands& Reader() = 0;
    // The next card swiped is this reader's card number `slot` (from 0, in the order it took
    // them): before a write, the next blank card; before a read-back (`again`), the card just
    // written or the uncertain card. A real reader takes whatever card the operator swipes; the
    // virtual reader swipes that card of its deck. False: it cannot (its deck file), and the run
    // stops.
    virtual bool PresentCard(long long /*slot*/, bool /*again*/) { return true; }
    // The reader reported a card written: it is kept before the journal hears of it (the
    // virtual reader's deck file). False: it could not be kept, and the run stops.
    virtual bool KeepCard() { return true; }
};

// What the run tells the program; calls come from the stations' threads, one at a time.
class IssueEvents {
  public:
    virtual ~IssueEvents() = default;
    // Before a station takes the next record: may hold it there (a pause). False ends that
    // station's work, as a stop does.
    virtual bool Proceed(IssueStation& /*station*/, std::stop_token /*stop*/) { return true; }
    // A card is awaited on a station: for a new attempt at `row`, or to be read back.
    virtual void Awaiting(IssueStation& /*station*/, long long /*row*/, bool /*readBack*/) {}
    // An attempt ended (written, verified, failed, or an uncertain card decided).
    virtual void Attempted(const Attempt& attempt) = 0;
    // A record that is not written: it cannot be (a bad record), or it failed every try.
    virtual void Skipped(long long row, const std::string& why) = 0;
};

struct IssueSettings {
    bool verify = false;
    int retries = 2;  // further cards a record may go onto after a failed one
    StepWait wait;    // the stop, and how long a swipe is awaited
};

// How a run (or the decision of the uncertain cards) ended.
struct IssueTally {
    long long written = 0;      // records put on a card (and verified when asked) in this run
    long long alreadyDone = 0;  // records an earlier run put on a card
    long long failedCards = 0;  // cards set aside: rejected, or not read back as written
    long long gaveUp = 0;       // records that failed every try (this run or before)
    long long notWritable = 0;  // records that cannot be written (bad record)
    std::vector<long long> uncertain;    // rows whose card is (still) uncertain
    std::optional<StepOutcome> stopped;  // why a station stopped early (the first one)
    std::string problem;                 // a journal, deck or data file failure, in words

    bool Complete() const { return !stopped && problem.empty() && uncertain.empty(); }
};

class IssueRun {
  public:
    IssueRun(IssueJournal& journal, std::string digestKey, const CardMaker& maker,
             IssueSettings settings, IssueEvents& events)
        : journal_(journal),
          digestKey_(std::move(digestKey)),
          maker_(maker),
          settings_(std::move(settings)),
          events_(events) {}

    // Reads the card of an uncertain attempt (or of one written and never read back, when cards
    // are verified) on `station` and records what it holds: verified when it holds `texts`, else
    // failed (that card is set aside and the record is written again). kDone once decided; else
    // why no card was read, and the attempt stays as it was.
    StepOutcome Decide(IssueStation& station, const Attempt& attempt, const TrackTexts& texts);

    // Takes records from `source` on every station until the source ends, the stop comes or
    // every station has failed.
    IssueTally Issue(RecordSource& source, const std::vector<IssueStation*>& stations);

  private:
    class Round;
    void Work(RecordSource& source, IssueStation& station);
    // One record on a station: kDone when a card took it, kRejected when it failed every try.
    StepOutcome WriteRecord(IssueStation& station, long long row, const TrackTexts& texts,
                            int failures);
    // Changes the tally (and tells the events) under the run's lock.
    void Note(const std::function<void(IssueTally&)>& change);
    bool HasProblem();

    IssueJournal& journal_;
    std::string digestKey_;
    const CardMaker& maker_;
    IssueSettings settings_;
    IssueEvents& events_;
    std::mutex mutex_;  // the tally and the events
    IssueTally tally_;
};

}  // namespace tollwick
