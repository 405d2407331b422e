#include "issuance/issue_run.h"

#include <limits>
#include <thread>

#include "carddata/write_verify.h"

namespace tollwick {
namespace {

constexpr long long kAllAttempts = std::numeric_limits<long long>::max();

std::string Cards(int count) {
    return std::to_string(count) + (count == 1 ? " card" : " cards");
}

}  // namespace

// What the run does around each card of one record on one station.
class IssueRun::Round final : public WriteRound {
  public:
    Round(IssueRun& run, IssueStation& station, long long row, const TrackTexts& texts,
          int failures)
        : run_(run),
          station_(station),
          row_(row),
          digest_(CardDigest(texts, run.digestKey_)),
          failures_(failures) {}

    TrackSet Formats() override { return run_.maker_.Formats(); }
    bool VerifyAfterWrite() override { return run_.settings_.verify; }

    // The attempt is in the journal, uncertain, before its write block goes out.
    bool BeforeWrite() override {
        IssueJournal& journal = run_.journal_;
        const auto slot = journal.CardsTakenBy(station_.Name(), kAllAttempts);
        auto attempt = slot ? journal.BeginAttempt(row_, station_.Name(), digest_) : std::nullopt;
        if (!attempt) return Failed(journal.Error());
        attempt_ = std::move(*attempt);
        slot_ = *slot;
        if (!station_.PresentCard(slot_, false)) return Failed(NoCard());
        run_.Note([&](IssueTally&) { run_.events_.Awaiting(station_, row_, false); });
        return true;
    }

    // Written: kept and recorded before the card is read back.
    bool BeforeReadBack() override {
        if (!Record(AttemptStatus::kWritten, "")) return false;
        if (!station_.PresentCard(slot_, true)) return Failed(NoCard());
        run_.Note([&](IssueTally&) { run_.events_.Awaiting(station_, row_, true); });
        return true;
    }

    bool Attempted(const WriteAttempt& attempt, const TrackTexts& /*sent*/) override {
        if (attempt.write == StepOutcome::kRejected) {
            return SetAside("the reader rejected the card");
        }
        if (!run_.settings_.verify) return Record(AttemptStatus::kWritten, "");
        switch (attempt.check) {
            case WriteCheck::kVerified:
                return Record(AttemptStatus::kVerified, "");
            case WriteCheck::kDiffers:
                return SetAside("it did not read back as written: " +
                                DifferingTracksText(attempt.differing));
            case WriteCheck::kNotReadBack:
            case WriteCheck::kNone:
                break;  // written, never read back: a later run reads it first
        }
        return true;
    }

    // After the round: an attempt whose write block went out but no status came stays
    // uncertain, except when no card came at all within the time.
    void Close(StepOutcome outcome) {
        if (!attempt_ || attempt_->status != AttemptStatus::kUncertain) return;
        if (outcome == StepOutcome::kTimedOut) {
            // The reader was disarmed before any card came: no card holds the record.
            Settle(AttemptStatus::kFailed, "no card was swiped in time", true);
        } else if (outcome == StepOutcome::kTooLong) {
            Settle(AttemptStatus::kFailed, "the tracks do not fit one write block", true);
        }
    }

    bool GaveUp() const { return gaveUp_; }
    int Failures() const { return failures_; }
    bool Broken() const { return broken_; }
    std::optional<Attempt> Current() const { return attempt_; }

  private:
    std::string NoCard() const { return "no card to swipe on " + station_.Name(); }

    bool Failed(const std::string& why) {
        broken_ = true;
        run_.Note([&](IssueTally& tally) {
            if (tally.problem.empty()) tally.problem = why;
        });
        return false;
    }

    bool Settle(AttemptStatus status, const std::string& note, bool decided) {
        if (!run_.journal_.Settle(attempt_->id, status, note, decided)) {
            return Failed(run_.journal_.Error());
        }
        attempt_->status = status;
        attempt_->note = note;
        attempt_->decided = decided;
        run_.Note([&](IssueTally&) { run_.events_.Attempted(*attempt_); });
        return true;
    }

    // A card the reader wrote is kept (the virtual deck) before the journal says so.
    bool Record(AttemptStatus status, const std::string& note) {
        if (status == AttemptStatus::kWritten && !station_.KeepCard()) {
            return Failed("the card written on " + station_.Name() + " could not be kept");
        }
        return Settle(status, note, false);
    }

    bool SetAside(const std::string& why) {
        if (!Settle(AttemptStatus::kFailed, why, false)) return false;
        ++failures_;
        run_.Note([](IssueTally& tally) { ++tally.failedCards; });
        if (failures_ > run_.settings_.retries) {
            gaveUp_ = true;
            return false;
        }
        return true;
    }

    IssueRun& run_;
    IssueStation& station_;
    long long row_;
    std::string digest_;
    int failures_;
    std::optional<Attempt> attempt_;
    long long slot_ = 0;
    bool gaveUp_ = false;
    bool broken_ = false;
};

void IssueRun::Note(const std::function<void(IssueTally&)>& change) {
    std::lock_guard lock(mutex_);
    change(tally_);
}

bool IssueRun::HasProblem() {
    std::lock_guard lock(mutex_);
    return !tally_.problem.empty();
}

StepOutcome IssueRun::WriteRecord(IssueStation& station, long long row, const TrackTexts& texts,
                                  int failures) {
    Round round(*this, station, row, texts, failures);
    TrackTexts sent = texts;
    const StepOutcome outcome = WriteUntilTaken(station.Reader(), sent, round, settings_.wait);
    round.Close(outcome);
    if (outcome == StepOutcome::kDone) return outcome;
    if (round.GaveUp()) {
        Note([&](IssueTally& tally) {
            ++tally.gaveUp;
            events_.Skipped(
                row, "not written: it failed on " + Cards(round.Failures()) + " (no retries left)");
        });
        return StepOutcome::kRejected;
    }
    const auto current = round.Current();
    const bool uncertain =
        current && (current->status == AttemptStatus::kUncertain ||
                    (settings_.verify && current->status == AttemptStatus::kWritten));
    Note([&](IssueTally& tally) {
        if (uncertain) tally.uncertain.push_back(row);
        if (!round.Broken() && !tally.stopped) tally.stopped = outcome;
    });
    return round.Broken() ? StepOutcome::kStopped : outcome;
}

StepOutcome IssueRun::Decide(IssueStation& station, const Attempt& attempt,
                             const TrackTexts& texts) {
    const auto slot = journal_.CardsTakenBy(attempt.reader, attempt.id);
    if (!slot) {
        Note([&](IssueTally& tally) { tally.problem = journal_.Error(); });
        return StepOutcome::kStopped;
    }
    if (!station.PresentCard(*slot, true)) {
        Note([&](IssueTally& tally) { tally.problem = "no card to swipe on " + station.Name(); });
        return StepOutcome::kStopped;
    }
    Note([&](IssueTally&) { events_.Awaiting(station, attempt.row, true); });
    uint8_t differing = 0;
    const StepOutcome outcome =
        ReadBackWritten(station.Reader(), texts, maker_.Formats(), settings_.wait, differing);
    if (outcome != StepOutcome::kDone) return outcome;
    // An uncertain card that does not hold the record was never the record's: it is not held
    // against the record's tries. A card the reader wrote that reads otherwise failed its check.
    const bool wasUncertain = attempt.status == AttemptStatus::kUncertain;
    Attempt decided = attempt;
    decided.decided = wasUncertain;
    if (differing == 0) {
        decided.status = AttemptStatus::kVerified;
        decided.note = "read back as written";
    } else {
        decided.status = AttemptStatus::kFailed;
        decided.note = (wasUncertain ? "the card does not hold the record: "
                                     : "it did not read back as written: ") +
                       DifferingTracksText(differing);
    }
    if (!journal_.Settle(decided.id, decided.status, decided.note, decided.decided)) {
        Note([&](IssueTally& tally) { tally.problem = journal_.Error(); });
        return StepOutcome::kStopped;
    }
    Note([&](IssueTally& tally) {
        if (decided.status == AttemptStatus::kFailed) ++tally.failedCards;
        events_.Attempted(decided);
    });
    return StepOutcome::kDone;
}

void IssueRun::Work(RecordSource& source, IssueStation& station) {
    std::vector<Attempt> history;
    for (;;) {
        if (settings_.wait.stop.stop_requested()) return;
        if (!events_.Proceed(station, settings_.wait.stop)) return;
        RecordSource::Item item = source.Next();
        using Kind = RecordSource::Item::Kind;
        if (item.kind == Kind::kEnd) return;
        if (item.kind == Kind::kBroken) {
            Note([&](IssueTally& tally) {
                if (tally.problem.empty()) tally.problem = item.problem;
            });
            return;
        }
        if (item.kind == Kind::kProblem) {
            Note([&](IssueTally& tally) {
                ++tally.notWritable;
                events_.Skipped(item.row, item.problem);
            });
            continue;
        }
        if (!journal_.History(item.row, history)) {
            Note([&](IssueTally& tally) { tally.problem = journal_.Error(); });
            return;
        }
        const RowPlan plan = PlanRow(history, settings_.verify, settings_.retries);
        switch (plan.action) {
            case RowAction::kDone:
                Note([](IssueTally& tally) { ++tally.alreadyDone; });
                continue;
            case RowAction::kGaveUp:
                Note([&](IssueTally& tally) {
                    ++tally.gaveUp;
                    events_.Skipped(
                        item.row, "not written: it failed on " + Cards(plan.failures) + " before");
                });
                continue;
            case RowAction::kDecide:
                Note([&](IssueTally& tally) {
                    tally.uncertain.push_back(item.row);
                    events_.Skipped(item.row, "its card " + std::to_string(plan.card->card) +
                                                  " is uncertain and was not read");
                });
                continue;
            case RowAction::kWrite:
                break;
        }
        const StepOutcome outcome = WriteRecord(station, item.row, item.texts, plan.failures);
        if (outcome == StepOutcome::kDone) {
            Note([](IssueTally& tally) { ++tally.written; });
        } else if (outcome != StepOutcome::kRejected) {
            return;  // this reader takes no more records
        }
    }
}

IssueTally IssueRun::Issue(RecordSource& source, const std::vector<IssueStation*>& stations) {
    // A broken journal stops every station, as the caller's stop does.
    std::stop_source stopAll;
    std::stop_callback forward(settings_.wait.stop, [&stopAll] { stopAll.request_stop(); });
    const std::stop_token callerStop = settings_.wait.stop;
    settings_.wait.stop = stopAll.get_token();
    {
        std::vector<std::jthread> workers;
        for (std::size_t i = 1; i < stations.size(); ++i) {
            workers.emplace_back([this, &source, station = stations[i], &stopAll] {
                Work(source, *station);
                if (HasProblem()) stopAll.request_stop();
            });
        }
        if (!stations.empty()) {
            Work(source, *stations.front());
            if (HasProblem()) stopAll.request_stop();
        }
    }
    settings_.wait.stop = callerStop;
    std::lock_guard lock(mutex_);
    return tally_;
}

}  // namespace tollwick
