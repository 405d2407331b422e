// issue, the cards: the uncertain cards decided, then the records on every reader at once.
#include <chrono>
#include <cmath>

#include "cli/cmd_issue.h"
#include "cli/issue_output.h"
#include "cli/issue_readers.h"
#include "device/startup_connection.h"
#include "issuance/issue_run.h"
#include "settings/stored_settings.h"

namespace tollwick {
namespace {

// A reader of the command line as a station of the run.
class CliStation final : public IssueStation {
  public:
    CliStation(CliReader& reader, const TrackSet& formats) : reader_(reader), formats_(formats) {}
    std::string Name() const override { return reader_.Name(); }
    ReaderCommands& Reader() override { return reader_.Commands(); }
    bool PresentCard(long long slot, bool /*again*/) override {
        return reader_.PresentCard(slot, error_);
    }
    bool KeepCard() override { return reader_.SaveChangedCards(formats_, error_); }
    const std::string& Error() const { return error_; }

  private:
    CliReader& reader_;
    TrackSet formats_;
    std::string error_;
};

// What the run tells the operator: a line (or object) per card, the progress on a terminal.
class CliEvents final : public IssueEvents {
  public:
    CliEvents(Output& out, long long toWrite) : out_(out), toWrite_(toWrite) {}

    void Awaiting(IssueStation& station, long long row, bool readBack) override {
        if (readBack) {
            out_.Status(Progress() + ": swipe the card of row " + std::to_string(row) +
                        " again on " + station.Name());
        } else {
            out_.Status(Progress() + ": swipe a card for row " + std::to_string(row) + " on " +
                        station.Name());
        }
    }
    void Attempted(const Attempt& attempt) override {
        ++cards_;
        if (attempt.status == AttemptStatus::kWritten && verify_) return;  // read back next
        if (attempt.status == AttemptStatus::kVerified ||
            attempt.status == AttemptStatus::kWritten) {
            ++done_;
        }
        out_.CardObject(AttemptJson(attempt, false));
        out_.CardText(AttemptLine(attempt) + "\n");
        if (attempt.status == AttemptStatus::kFailed) {
            out_.Warn("row " + std::to_string(attempt.row) + ": card " +
                      std::to_string(attempt.card) + " failed (" + attempt.note +
                      "): set it aside");
        }
    }
    void Skipped(long long row, const std::string& why) override {
        out_.Object({{"type", "skipped"}, {"row", row}, {"message", why}});
        out_.Warn("row " + std::to_string(row) + ": " + why);
    }
    void Verifying(bool verify) { verify_ = verify; }

  private:
    // "12 of 40 records, 31 cards/min, 1 min left"
    std::string Progress() const {
        using namespace std::chrono;
        const double minutes =
            duration_cast<duration<double>>(steady_clock::now() - start_).count() / 60;
        std::string line = std::to_string(done_) + " of " + std::to_string(toWrite_) + " records";
        if (cards_ > 0 && minutes > 0) {
            const double perMinute = static_cast<double>(cards_) / minutes;
            line += ", " + std::to_string(static_cast<long long>(std::lround(perMinute))) +
                    " cards/min";
            if (done_ > 0) {
                const double left =
                    minutes / static_cast<double>(done_) * static_cast<double>(toWrite_ - done_);
                line +=
                    ", " + std::to_string(static_cast<long long>(std::ceil(left))) + " min left";
            }
        }
        return line;
    }

    Output& out_;
    long long toWrite_;
    long long done_ = 0;
    long long cards_ = 0;
    bool verify_ = false;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

// "1 record", "3 records".
std::string Counted(long long count, const std::string& what) {
    return std::to_string(count) + " " + what + (count == 1 ? "" : "s");
}

int ExitOf(const IssueTally& tally) {
    if (!tally.problem.empty()) return kExitFileFailed;
    if (tally.stopped) {
        switch (*tally.stopped) {
            case StepOutcome::kStopped:
                return kExitInterrupted;
            case StepOutcome::kTimedOut:
                return kExitNoSwipe;
            case StepOutcome::kTooLong:
                return kExitUsage;
            default:
                return kExitNoReader;
        }
    }
    if (tally.gaveUp || !tally.uncertain.empty()) return kExitCheckFailed;
    return kExitDone;
}

std::string StationFailure(StepOutcome outcome) {
    return std::string(StatusText(outcome));
}

}  // namespace

int IssueCards(CliContext& ctx, const IssueOptions& options, IssueSetup& setup) {
    Output& out = ctx.Out();
    const GlobalOptions& global = ctx.Options();
    int status = kExitDone;
    std::vector<std::unique_ptr<CliReader>> readers =
        FindReaders(global, options.devices, /*blankDecks=*/true, out, status);
    if (status != kExitDone) return status;

    // Each reader connects as the desktop program does at start-up.
    ProfileStore profile(ProfilePathOf(global));
    const Track2Density density = StoredDensity(profile);
    std::vector<std::unique_ptr<CliStation>> owned;
    std::vector<IssueStation*> stations;
    for (const auto& reader : readers) {
        const StartupConnection connected = ConnectAtStartup(
            reader->Commands(), profile.Read(kPortKey, ""), density, ConnectDetail::kDensityOnly);
        if (Interrupted()) return ctx.Interrupt("no card written");
        if (!connected.Connected()) {
            out.Warn("the reader " + reader->Name() + " did not answer; it takes no records");
            continue;
        }
        owned.push_back(std::make_unique<CliStation>(*reader, setup.Maker().Formats()));
        stations.push_back(owned.back().get());
    }
    if (stations.empty()) {
        return out.Fail(kExitNoReader, global.simulate ? "the virtual reader did not answer"
                                                       : "no reader answered: plug in the "
                                                         "VK3300S, or see tollwick-cli list");
    }

    std::string error;
    if (!setup.StartJournal(error)) return out.Fail(kExitFileFailed, error);
    IssueJournal& journal = *setup.Journal();
    IssueSettings settings;
    settings.verify = options.verify;
    settings.retries = options.retries;
    settings.wait.stop = InterruptStop();
    settings.wait.stopCutsReads = true;
    if (options.timeout > 0) {
        settings.wait.timeout = std::chrono::milliseconds(std::llround(options.timeout * 1000));
    }
    CliEvents events(out, setup.Check().toWrite + setup.Check().toDecide);
    events.Verifying(options.verify);
    IssueRun run(journal, setup.Run().digestKey, setup.Maker(), settings, events);
    IssueTally decided;

    // The uncertain cards first: each is read before any other card is written.
    const auto uncertain = setup.UncertainCards(error);
    if (!uncertain) return out.Fail(kExitFileFailed, error);
    for (const UncertainCard& item : *uncertain) {
        const Attempt& attempt = item.attempt;
        const long long row = attempt.row;
        const std::string card = "card " + std::to_string(attempt.card) + " on " + attempt.reader;
        const std::string why = attempt.status == AttemptStatus::kUncertain
                                    ? " got its write block, and no status came"
                                    : " was written and never read back";
        if (!options.recheckUncertain) {
            out.Object(AttemptJson(attempt, false));
            out.Warn("row " + std::to_string(row) + " is uncertain: " + card + why);
            decided.uncertain.push_back(row);
            continue;
        }
        IssueStation* station = stations.front();
        for (IssueStation* s : stations) {
            if (s->Name() == attempt.reader) station = s;
        }
        out.Prompt("Swipe " + card + " (row " + std::to_string(row) + ") again to check it: it" +
                   why);
        const StepOutcome outcome = run.Decide(*station, attempt, item.texts);
        if (outcome != StepOutcome::kDone) {
            decided.uncertain.push_back(row);
            decided.stopped = outcome;
            break;
        }
    }
    if (!decided.uncertain.empty()) {
        if (!decided.stopped) {
            out.Warn(
                "run again with --recheck-uncertain and swipe each of these cards when asked: "
                "its record is written again only when the card does not hold it");
        }
        const int exit = decided.stopped ? ExitOf(decided) : kExitCheckFailed;
        if (exit == kExitInterrupted) return ctx.Interrupt("no card written");
        out.Object({{"type", "summary"},
                    {"records_written", 0},
                    {"uncertain_rows", decided.uncertain},
                    {"exit_status", exit}});
        return decided.stopped ? out.Fail(exit, "the uncertain card was not read: " +
                                                    StationFailure(*decided.stopped))
                               : exit;
    }

    // The records, in order, from one queue for every reader.
    auto records = setup.Records(error);
    if (!records) return out.Fail(kExitFileFailed, setup.Request().dataName + ": " + error);
    RecordSource source(*records, setup.Maker(), setup.Request().rows);
    const IssueTally tally = run.Issue(source, stations);

    int exit = ExitOf(tally);
    for (const auto& station : owned) {
        if (!station->Error().empty()) {
            out.Warn(station->Error());
            exit = kExitFileFailed;
        }
    }
    if (exit == kExitInterrupted || Interrupted()) {
        for (const auto& reader : readers) static_cast<void>(reader->Commands().ResetReader());
    }
    out.Object({{"type", "summary"},
                {"records_written", tally.written},
                {"records_done_before", tally.alreadyDone},
                {"records_failed", tally.gaveUp},
                {"cards_failed", tally.failedCards},
                {"uncertain_rows", tally.uncertain},
                {"interrupted", exit == kExitInterrupted},
                {"exit_status", exit}});
    const std::string summary = Counted(tally.written, "record") + " written" +
                                (options.verify ? " and verified" : "") + ", " +
                                std::to_string(tally.alreadyDone) + " done before, " +
                                Counted(tally.failedCards, "card") + " set aside";
    // The rows whose card the next run reads first (--recheck-uncertain).
    for (long long row : tally.uncertain) {
        out.Warn("row " + std::to_string(row) +
                 " is uncertain: its card got the write block, and no status (or read-back) "
                 "came");
    }
    if (!tally.problem.empty()) return out.Fail(exit, tally.problem + "; " + summary);
    if (exit == kExitInterrupted) return ctx.Interrupt(summary);
    if (tally.stopped) return out.Fail(exit, StationFailure(*tally.stopped) + "; " + summary);
    out.Text(summary);
    if (tally.gaveUp) {
        return out.Fail(exit, Counted(tally.gaveUp, "record") +
                                  " failed on every card allowed (see the journal)");
    }
    return exit;
}

}  // namespace tollwick
