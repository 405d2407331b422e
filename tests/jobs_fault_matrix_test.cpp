// The fault matrix: every job, at every step of a card, meets every fault of the reader, each
// cell on its own rig and thread (as its own window). Besides the outcome the table below gives,
// every cell checks the rules no fault may break: see Cell::Run's "BROKEN" problems.
#include <gtest/gtest.h>

#include <deque>
#include <map>
#include <numeric>
#include <regex>
#include <semaphore>
#include <set>
#include <sstream>

#include "jobs_rig.h"

namespace tollwick::jobs_test {
namespace {

#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
constexpr int kSlowdown = 4;  // sanitizers slow every thread: the cells wait longer
#else
constexpr int kSlowdown = 1;
#endif
constexpr std::chrono::milliseconds Scaled(std::chrono::milliseconds ms) {
    return ms * kSlowdown;
}

enum class Job { kRead, kWrite, kCopy, kCompare, kErase, kSeqWrite, kFromFile, kToFile };
enum class Step { kArming, kMidBlock, kStatusWait, kBetweenCards };
// clang-format off
enum class Fault { kUnplug, kReplug, kSilence, kWrongByte, kSlow, kRefusal, kWeakCard,
    // The dirt of real cards and readers, in the order of the virtual reader's faults.
    kNoiseBefore, kNoiseAfter, kPartial, kBitErrors, kWeakSometimes, kSlip, kSlowStatus,
    kStatusGap, kLateRead, kNotAccepted, kHighCoercivity };
// clang-format on
constexpr const char* kStepNames[] = {"arming", "mid-block", "status wait", "between cards"};
constexpr const char* kFaultNames[] = {
    "unplug",     "replug",         "silence",      "wrong reply byte", "slow reports",
    "refusal",    "weak card",      "noise before", "noise after",      "pulled out early",
    "bit errors", "weak sometimes", "bit slip",     "slow status",      "status bytes apart",
    "late read",  "not accepted",   "Hi-Co card"};
// The test deck, its faults drawn from seed 2: the card that reads wrong half the time does so
// on its first swipe and not on its second. Its card of bit errors is dirty enough (1 bit in
// 50) that every swipe fails.
std::optional<std::size_t> FaultyCard(Fault fault);
Deck DirtyDeck() {
    Deck deck = TestDeck(/*blanks=*/8);
    deck.seed = 2;
    // A reader of one-byte reports sends a read block as some 300 reports; the cells' threads,
    // many at once, may fall behind it by more than hidraw's 64.
    deck.faults.inputBuffer = 4096;
    deck.cards.at(*FaultyCard(Fault::kBitErrors)).faults[tollwick::Fault::kBitErrors] = 1.0 / 50;
    return deck;
}

// The card that meets a fault of the dirt is the one of the sample deck that carries it.
std::optional<std::size_t> FaultyCard(Fault fault) {
    static_assert(int(Fault::kHighCoercivity) - int(Fault::kNoiseBefore) + 1 == kFaultCount);
    if (fault == Fault::kWeakCard) return kDamagedCard;
    if (fault < Fault::kNoiseBefore) return std::nullopt;
    const auto dirt = tollwick::Fault(int(fault) - int(Fault::kNoiseBefore));
    const Deck deck = SampleDeck();
    for (std::size_t i = 0; i < deck.cards.size(); ++i) {
        if (deck.cards[i].faults[dirt]) return i;
    }
    return std::nullopt;
}

// A job's failure texts, and per step the outcome of each fault in the order of Fault ("-": the
// fault cannot meet the job there, "": a step the job does not have). An outcome names the texts
// shown (A: the reader cannot be armed, R: a card refused or a wrong status, F: a card not read,
// T: a later card not read, W: a write that cannot be sent after Copy's source), then whether the
// job ends (e), goes on (g) or waits for Cancel (w), and + when a card was changed unreported.
// Why: unplugged, the reader forgets what it was armed for; silent, it changes a card and never
// says so; a read block has no reply byte, a status has; a block resumed after the 50 ms gap is
// two blocks that both fail, replies late within the 350 ms waits are taken; an erase command is
// refused as it is sent, so a refusal in the status wait meets the next arming. A failed source
// read ends Copy. Of the dirt, noise after the data is past what is read, a card is written or
// erased whatever it reads like, statuses 349 ms apart are within the 350 ms per byte, a late
// read loses its tail to the input buffer, a command after the busy card is not accepted in
// 50 ms and the job ends as on a lost reader, and a Lo-Co write on a Hi-Co card answers as
// usual though it did not take.
struct JobRow {
    Job job;
    const char* name;
    std::string arming, refused;
    Lines readFailure, laterReadFailure;
    const char* const* steps;
    std::string writeCommandFailed = "";  // W: a write that cannot be sent after a card read
};
// clang-format off
// The jobs that only read, and those that write or erase each card, meet the faults alike.
constexpr const char* kReading[4] = {
    "Ae g w g g - Fg Fg g Fg Fg Fg Fg - - Fg Ae -",
    "AFe Fg Fg Fg Fg - - - - - - - - - - - - -",
    "",
    "Ae g w g g - Tg Tg g Tg Tg Tg Tg - - Tg Ae -"};
constexpr const char* kWriting[4] = {
    "Ae g w+ Rg+ g Rg g g g g g g g g g g Ae g",
    "",
    "w w w+ Rg+ g Rg - - - - - - - - - - - -",
    "Ae g w+ Rg+ g Rg g g g g g g g g g g Ae g"};
constexpr const char* kCopying[4] = {
    "Ae g w g g g Fe Fe g Fe Fe Fe Fe g g Fe We g",
    "Fe Fe Fe Fe Fe - - - - - - - - - - - - -",
    "w w w+ Rg+ g Rg - g g g g g g g g g Ae g",
    "Ae g w g g g Te Te g Te Te Te Te g g Te We g"};
const JobRow kTable[] = {
    {Job::kRead, "Read", "Commucation Error", "", {"Read Error!!"}, {"Read Error!!"}, kReading},
    {Job::kWrite, "Write", "write Error4", "Write Error1", {}, {}, kWriting},
    {Job::kCopy, "Copy", "Commucation Error", "Write <TARGET> Card Error",
     {" Read <Source> Error!!", "Read <TARGET> Card Error"},
     {" Read <Source> Error!!", "Read <TARGET> Card Error"}, kCopying, "Commucation Error!!"},
    {Job::kCompare, "Compare", "Commucation Error", "",
     {"Commucation Error", "Read <Source> Error!!"}, {"Read <Target> Error!!"}, kReading},
    {Job::kErase, "Erase", "Erase Fail", "Erase Fail", {}, {}, kWriting},
    {Job::kSeqWrite, "Seq. Write", "write Error", "Write Error2", {}, {}, kWriting},
    {Job::kFromFile, "From File", "write Error3", "Write Error1", {}, {}, kWriting},
    {Job::kToFile, "To File", "Commucation Error", "", {"Read Error!!"}, {"Read Error!!"}, kReading},
};
// clang-format on

// How a cell reads: the failure texts (each once, sorted: a worker's box and the monitor's
// message about one card may come in either order), the ending, the cards changed unreported.
std::string Outcome(const Lines& failures, const std::string& ending, int unreported) {
    std::string text;
    for (const std::string& f : std::set<std::string>(failures.begin(), failures.end()))
        text += f + ", ";
    text += ending;
    if (unreported > 0) text += ", " + std::to_string(unreported) + " card changed unreported";
    return text;
}
std::string Expected(const JobRow& row, const std::string& code) {
    const std::map<char, std::string> endings{{'e', "ends"}, {'g', "goes on"}, {'w', "waits"}};
    Lines failures;
    std::string ending;
    for (char c : code) {
        if (c == 'A') failures.push_back(row.arming);
        if (c == 'R') failures.push_back(row.refused);
        if (c == 'W') failures.push_back(row.writeCommandFailed);
        const Lines& read = c == 'F' ? row.readFailure : row.laterReadFailure;
        if (c == 'F' || c == 'T') failures.insert(failures.end(), read.begin(), read.end());
        if (endings.contains(c)) ending = endings.at(c);
    }
    return Outcome(failures, ending, code.ends_with('+') ? 1 : 0);
}

// --- One cell ---------------------------------------------------------------------------------

class Cell {
  public:
    Cell(const JobRow& row, Step step, Fault fault, const fs::path& dir)
        : row_(row), step_(step), fault_(fault), dir_(dir) {
        rig_->reports.SetWakeUp([this] { OnReport(); });
    }
    ~Cell() { rig_->reader.Unplug(); }  // ends any wait at once

    // The outcome, then every rule broken whatever the outcome.
    std::string Run() {
        if (!rig_->ConnectQuickly()) return "no reader";
        // The operator set the reader to Lo-Co: a Hi-Co card is not turned over.
        if (fault_ == Fault::kHighCoercivity && rig_->commands.SetLoCo() != CommandStatus::kOk)
            return "the reader stayed in Hi-Co";
        if (step_ == Step::kArming) InjectNow();
        // The launch's own report (From File, Sequential write) comes before any card; Copy
        // reports a source read and a target written for each card.
        const int launchReports = row_.job == Job::kFromFile || row_.job == Job::kSeqWrite ? 1 : 0;
        const int cardsPerCycle = row_.job == Job::kCopy ? 2 : 1;
        if (step_ == Step::kBetweenCards) injectAtReport_ = launchReports + cardsPerCycle;
        Launch();
        if (step_ == Step::kBetweenCards) {
            for (int i = 0; i < cardsPerCycle; ++i) {
                if (!SwipeIfArmed(std::nullopt, Scaled(2000ms)))
                    problems_.push_back("no first card");
                rig_->TickQuietly(60ms);
            }
            if (!WaitFor([&] { return injected_.load(); }, Scaled(2000ms)))
                problems_.push_back("not injected");
        }
        if (step_ == Step::kStatusWait) {
            if (row_.job == Job::kCopy) SwipeIfArmed(std::nullopt, Scaled(2000ms));  // the source
            if (!WaitFor([&] { return IsArmed(Armed::kWrite) || IsArmed(Armed::kErase); },
                         Scaled(2000ms)))
                problems_.push_back("never waited for a status");
            InjectNow();
        }
        if (step_ == Step::kMidBlock) InjectNow();

        // The card that meets the fault.
        rig_->TickQuietly(30ms);
        SwipeIfArmed(FaultyCard(fault_), Scaled(1000ms));
        const bool faultyCardRead = lastSwipeRead_;
        const bool slow =
            fault_ == Fault::kSlow || fault_ == Fault::kSlowStatus || fault_ == Fault::kStatusGap;
        rig_->TickQuietly(Scaled(slow ? 600ms : 300ms));
        VirtualReader& reader = rig_->reader;
        reader.Plug();
        reader.SetSilent(false);
        reader.SetWrongReplies(false);
        reader.SetReplyDelay(0ms);
        reader.SetRejectNext(false);

        // One more good card: does the job go on?
        std::string ending = "waits";
        const int reportsBefore = reports_.load();
        if (!rig_->monitor->WorkerActive()) {
            ending = "ends";
        } else if (SwipeIfArmed(fault_ == Fault::kWeakSometimes && faultyCardRead
                                    ? FaultyCard(fault_)
                                    : std::nullopt,
                                Scaled(1200ms), /*cardOnlyToRead=*/true) &&
                   rig_->TickUntil([&] { return reports_.load() > reportsBefore; },
                                   Scaled(3000ms))) {
            ending = "goes on";
        }
        rig_->TickQuietly(80ms);
        CheckCounts(launchReports == 1 ? 0 : 1);
        const int unreported = rig_->cardsChanged.load() - Done();
        if (unreported < 0) problems_.push_back("more cards done than changed");
        std::string outcome = Outcome(Failures(), ending, unreported);

        // Cancel: the worker stops wherever it waits, the reader is left disarmed.
        rig_->OnWindow([&] { rig_->monitor->CancelJob(); });
        if (rig_->monitor->WorkerActive()) problems_.push_back("worker runs after Cancel");
        if (!IsArmed(Armed::kIdle)) problems_.push_back("reader left armed");
        if (rig_->longestWindowMs > Scaled(1500ms).count())
            problems_.push_back("window held " + std::to_string(rig_->longestWindowMs) + " ms");
        for (const std::string& problem : problems_) outcome += "; BROKEN: " + problem;
        return outcome;
    }

  private:
    const JobRow& row_;
    Step step_;
    Fault fault_;
    fs::path dir_;
    ProfileStore profile_{dir_ / "Tollwick.ini"};
    // Status bytes apart matter on a reader whose reports carry one byte each.
    std::unique_ptr<Rig> rig_ = std::make_unique<Rig>(
        profile_, VirtualReader::Options{.inputReportLength = fault_ == Fault::kStatusGap ? 2 : 9},
        DirtyDeck());
    std::unique_ptr<CardFileJobs> files_;
    std::atomic<int> reports_{0};
    std::atomic<int> injectAtReport_{-1};
    std::atomic<bool> injected_{false};
    std::atomic<std::size_t> logMark_{0};  // what the window showed before the fault
    Lines problems_;
    std::size_t nextBlank_ = kIsoOther + 1;  // the blank cards of the deck
    bool lastSwipeRead_ = false;

    bool IsArmed(Armed what) const { return rig_->reader.ArmedFor() == what; }

    // On the worker's thread, as a card is reported: "between cards" strikes here.
    void OnReport() {
        if (++reports_ == injectAtReport_) {
            InjectNow();
            injected_ = true;
        }
    }

    void Launch() {
        JobMonitor& monitor = *rig_->monitor;
        files_ = std::make_unique<CardFileJobs>(monitor);
        const fs::path cards = dir_ / "cards.txt";
        std::ofstream file(cards);
        for (int i = 1; i <= 9; ++i) file << "%C" << i << "?\n;" << i << "?\n\n";
        file.close();
        rig_->view.SetTracks({"W123", "", ""});
        rig_->OnWindow([&] {
            if (row_.job == Job::kRead) monitor.LaunchRead();
            if (row_.job == Job::kWrite) monitor.LaunchWrite();
            if (row_.job == Job::kCopy) monitor.LaunchCopy();
            if (row_.job == Job::kCompare) monitor.LaunchCompare();
            if (row_.job == Job::kErase) monitor.LaunchErase(kEraseTrack1 | kEraseTrack3);
            if (row_.job == Job::kSeqWrite)
                LaunchSeqWrite(monitor, *PlanSeqWrite({"1", "9", "1", 0}, {"S", "", ""}).run);
            if (row_.job == Job::kFromFile) files_->LaunchFromFile(cards.string());
            if (row_.job == Job::kToFile) files_->LaunchToFile((dir_ / "read.txt").string());
        });
    }

    // A weak card is the card swiped next; the other faults strike the reader or its link.
    void InjectNow() {
        logMark_ = rig_->view.Log().size();
        VirtualReader& reader = rig_->reader;
        // Slow: the rest of a read block comes after the 50 ms gap that ends a block.
        if (step_ == Step::kMidBlock && fault_ == Fault::kSlow)
            return reader.SetStallNext(1, 120ms);
        if (step_ == Step::kMidBlock) {
            using Mid = TapBackend::MidReply;
            constexpr Mid kMid[] = {Mid::kUnplug, Mid::kReplug, Mid::kSilence, Mid::kWrongByte};
            return rig_->tap.FaultNextReply(kMid[static_cast<int>(fault_)]);
        }
        if (fault_ == Fault::kUnplug || fault_ == Fault::kReplug) reader.Unplug();
        if (fault_ == Fault::kReplug) reader.Plug();
        if (fault_ == Fault::kSilence) reader.SetSilent(true);
        if (fault_ == Fault::kWrongByte) reader.SetWrongReplies(true);
        // Beyond every 50 ms listen, within the 350 ms waits.
        if (fault_ == Fault::kSlow) reader.SetReplyDelay(120ms);
        if (fault_ == Fault::kRefusal) reader.SetRejectNext(true);
    }

    // Swipes the card that suits what the reader is armed for, once the host listens; ticks
    // meanwhile. False when the reader is not armed within `bound`.
    bool SwipeIfArmed(std::optional<std::size_t> card, std::chrono::milliseconds bound,
                      bool cardOnlyToRead = false) {
        const auto until = Clock::now() + bound;
        while (IsArmed(Armed::kIdle) || !rig_->tap.Listening()) {
            if (Clock::now() > until) return false;
            rig_->Tick();
            std::this_thread::sleep_for(3ms);
        }
        lastSwipeRead_ = IsArmed(Armed::kRead);
        if (cardOnlyToRead && !lastSwipeRead_) card.reset();
        return rig_->reader.Swipe(card.value_or(IsArmed(Armed::kWrite) ? nextBlank_++ : kIsoCard));
    }

    // The failure texts shown since the fault.
    Lines Failures() const {
        static const std::regex kFailure(
            R"((?:MessageBox|SetMessage|SetMessageLineDirectly):(.*(?:Error|Fail).*))");
        const Lines log = rig_->view.Log();
        Lines seen;
        std::smatch m;
        for (std::size_t i = logMark_.load(); i < log.size(); ++i) {
            if (std::regex_match(log[i], m, kFailure)) seen.push_back(m[1].str());
        }
        return seen;
    }

    // The numbers of the messages that report a card done.
    std::vector<int> DoneNumbers() const {
        static const std::regex kDone(
            R"(SetMessage:(?:Read Card|Write Card ?|Erase Card )<(-?\d+)> OK!?)");
        std::vector<int> numbers;
        std::smatch m;
        int lastRead = 0;
        for (const std::string& e : rig_->view.Log()) {
            if (!std::regex_match(e, m, kDone)) continue;
            const int n = std::stoi(m[1].str());
            // A card that fails its read repeats the number of the last good one (0 before it).
            if (e.starts_with("SetMessage:Read Card")) {
                if (n == lastRead) continue;
                lastRead = n;
            }
            numbers.push_back(n);
        }
        return numbers;
    }
    // Cards the job reports as written or erased.
    int Done() const {
        if (row_.job == Job::kCopy) return rig_->view.Count("SetMessage:Write <TARGET> Card OK");
        if (row_.refused.empty()) return 0;  // the job changes no card
        return static_cast<int>(std::ranges::count_if(DoneNumbers(), [](int n) {
            return n > 0;  // card 0 is the launch's
        }));
    }
    // Every card done is counted once: the numbers run first, first + 1 ...
    void CheckCounts(int first) {
        const std::vector<int> numbers = DoneNumbers();
        std::vector<int> expected(numbers.size());
        std::iota(expected.begin(), expected.end(), first);
        if (numbers != expected) problems_.push_back("counts " + ::testing::PrintToString(numbers));
        // Only cards with data are swiped into a reading job: a card reported without any is
        // a broken read block taken for a card.
        if (!row_.readFailure.empty() &&
            rig_->view.Logged("ShowTracks:{NO DATA}|{NO DATA}|{NO DATA}"))
            problems_.push_back("a card without data was reported");
        if (row_.job == Job::kToFile) {
            // Every card reported read is in the file.
            std::ifstream in(dir_ / "read.txt");
            int records = 0;
            for (std::string line; std::getline(in, line);) records += line.rfind('%', 0) == 0;
            if (records != static_cast<int>(numbers.size()))
                problems_.push_back("file holds " + std::to_string(records) + " records");
        }
    }
};

TEST(FaultMatrix, EveryJobEveryStepEveryFault) {
    // The cells run side by side, at most kAtOnce at a time: the bounds of a cell are real time,
    // and a machine of two cores keeps them for so many threads. Under wine each thread costs
    // more: a quarter as many.
#ifdef _WIN32
    constexpr std::ptrdiff_t kAtOnce = 24;
#else
    constexpr std::ptrdiff_t kAtOnce = 96;
#endif
    std::counting_semaphore<kAtOnce> slots(kAtOnce);
    const testing::ScratchFolder folder("tollwick-faults");
    struct Result {
        std::string name, expected, outcome;
    };
    std::deque<Result> cells;  // each thread keeps its own
    {
        std::vector<std::jthread> threads;
        for (const JobRow& row : kTable) {
            for (int step = 0; step < 4; ++step) {
                std::istringstream codes(row.steps[step]);
                std::string code;
                for (int fault = 0; codes >> code; ++fault) {
                    if (code == "-") continue;
                    Result& cell =
                        cells.emplace_back(Result{std::string(row.name) + " / " + kStepNames[step] +
                                                      " / " + kFaultNames[fault],
                                                  Expected(row, code), ""});
                    const fs::path dir = folder.path() / std::to_string(cells.size());
                    threads.emplace_back([&slots, &cell, &row, step, fault, dir] {
                        slots.acquire();
                        fs::create_directories(dir);
                        cell.outcome = Cell(row, Step(step), Fault(fault), dir).Run();
                        slots.release();
                    });
                }
            }
        }
    }
    EXPECT_EQ(cells.size(), 325u);
    for (const Result& cell : cells) EXPECT_EQ(cell.outcome, cell.expected) << cell.name;
}

}  // namespace
}  // namespace tollwick::jobs_test
