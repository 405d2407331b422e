// The fault matrix: every job, at every step of a card, meets every fault of the reader.
//
// Each cell runs one job on its own rig and virtual reader, injects the fault at its step, swipes
// a card into it, lifts the fault and offers one more good card, then cancels the job. It notes
// the failure texts the operator saw, and whether the job ended, went on or waits for Cancel;
// the table below says what each cell must show. In every cell: no crash, the window is never
// held longer than a reader wait or two (a cancel waits for the worker's read and sends the
// density), every card the reader changed is reported as done or refused, the counts run without
// a gap or a repeat, and after the cancel the reader is disarmed.
//
// The cells run side by side (each on its own thread, as its own window), so that the whole
// matrix takes about as long as its slowest cell.
#include <gtest/gtest.h>

#include <unistd.h>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>

#include "jobs/card_file_jobs.h"
#include "jobs/erase_worker.h"
#include "jobs/seq_write.h"
#include "jobs_rig.h"

namespace tollwick::jobs_test {
namespace {

namespace fs = std::filesystem;

// Sanitizers slow every thread down: the cells wait longer for the same course of events.
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
constexpr int kSlowdown = 4;
#else
constexpr int kSlowdown = 1;
#endif
constexpr std::chrono::milliseconds Scaled(std::chrono::milliseconds ms) {
    return ms * kSlowdown;
}

enum class Job { kRead, kWrite, kCopy, kCompare, kErase, kSeqWrite, kFromFile, kToFile };
enum class Step { kArming, kMidBlock, kStatusWait, kBetweenCards };
enum class Fault { kUnplug, kReplug, kSilence, kWrongByte, kSlow, kRefusal, kWeakCard };

constexpr Job kJobs[] = {Job::kRead,  Job::kWrite,    Job::kCopy,     Job::kCompare,
                         Job::kErase, Job::kSeqWrite, Job::kFromFile, Job::kToFile};
constexpr Step kSteps[] = {Step::kArming, Step::kMidBlock, Step::kStatusWait, Step::kBetweenCards};
constexpr Fault kFaults[] = {Fault::kUnplug, Fault::kReplug,  Fault::kSilence, Fault::kWrongByte,
                             Fault::kSlow,   Fault::kRefusal, Fault::kWeakCard};

constexpr const char* kJobNames[] = {"Read",  "Write",      "Copy",      "Compare",
                                     "Erase", "Seq. Write", "From File", "To File"};
constexpr const char* kStepNames[] = {"arming", "mid-block", "status wait", "between cards"};
constexpr const char* kFaultNames[] = {"unplug",       "replug",  "silence",  "wrong reply byte",
                                       "slow reports", "refusal", "weak card"};

bool Reads(Job job) {
    return job == Job::kRead || job == Job::kToFile || job == Job::kCopy || job == Job::kCompare;
}
bool Writes(Job job) {
    return job == Job::kWrite || job == Job::kSeqWrite || job == Job::kFromFile ||
           job == Job::kCopy;
}

// The steps a job has: a read block comes only to a reading job, a status only to a writing or
// erasing one. A refusal comes from a reader asked to write or erase; a weak spot shows when a
// card is read.
bool Applies(Job job, Step step, Fault fault) {
    if (step == Step::kMidBlock && !Reads(job)) return false;
    if (step == Step::kStatusWait && !Writes(job) && job != Job::kErase) return false;
    if (fault == Fault::kRefusal && !Writes(job) && job != Job::kErase) return false;
    if (fault == Fault::kRefusal && step == Step::kMidBlock) return false;
    if (fault == Fault::kWeakCard && (step == Step::kMidBlock || step == Step::kStatusWait))
        return false;
    return true;
}

// --- What the operator must see -------------------------------------------------------------

using Texts = std::vector<std::string>;

// How a cell reads in the table: the failure texts the operator saw (each once, sorted: a
// worker's box and the monitor's message about one card may come in either order), whether the
// job ended, went on or waits for Cancel, and the cards the reader changed that the job never
// reported as done or refused.
std::string Outcome(Texts failures, const std::string& ending, int unreported = 0) {
    std::sort(failures.begin(), failures.end());
    failures.erase(std::unique(failures.begin(), failures.end()), failures.end());
    std::string text;
    for (const auto& f : failures) text += (text.empty() ? "" : ", ") + f;
    text += (text.empty() ? "" : "; ") + ending;
    if (unreported > 0) text += "; " + std::to_string(unreported) + " card changed unreported";
    return text;
}

// The worker's own message when the reader cannot be armed (the link is gone).
std::string ArmingFailure(Job job) {
    const std::map<Job, std::string> texts{{Job::kWrite, "write Error4"},
                                           {Job::kSeqWrite, "write Error"},
                                           {Job::kFromFile, "write Error3"},
                                           {Job::kErase, "Erase Fail"}};
    return texts.contains(job) ? texts.at(job) : "Commucation Error";
}
// The report of a card the reader refused, or answered with a wrong status.
std::string Refused(Job job) {
    const std::map<Job, std::string> texts{{Job::kSeqWrite, "Write Error2"},
                                           {Job::kCopy, "Write <TARGET> Card Error"},
                                           {Job::kErase, "Erase Fail"}};
    return texts.contains(job) ? texts.at(job) : "Write Error1";
}
// The report of a card that could not be read; Compare's first card is its source.
Texts ReadFailure(Job job, bool compareSource) {
    if (job == Job::kCopy) return {" Read <Source> Error!!", "Read <TARGET> Card Error"};
    if (job == Job::kCompare) {
        return compareSource ? Texts{"Commucation Error", "Read <Source> Error!!"}
                             : Texts{"Read <Target> Error!!"};
    }
    return {"Read Error!!"};
}

// What each cell must show.
std::string Expected(Job job, Step step, Fault fault) {
    const bool source = step != Step::kBetweenCards;
    // A failed source read ends Copy; every other job asks for the card again.
    const std::string afterReadFailure = job == Job::kCopy ? "ends" : "goes on";
    const auto readFailure = [&] { return ReadFailure(job, source); };
    // Copy writes only at its status wait; before that it reads its source.
    const bool writesHere = Writes(job) && (job != Job::kCopy || step == Step::kStatusWait);
    const bool erases = job == Job::kErase;
    switch (fault) {
        case Fault::kUnplug:
            // A wait on the old handle hears nothing, and the reader lost what it was armed for.
            if (step == Step::kStatusWait) return Outcome({}, "waits");
            if (step == Step::kMidBlock) {
                // The cut block fails; arming again finds no reader.
                Texts texts = readFailure();
                if (job != Job::kCopy) texts.push_back(ArmingFailure(job));
                return Outcome(texts, "ends");
            }
            return Outcome({ArmingFailure(job)}, "ends");
        case Fault::kReplug:
            // The next command finds the reader's new handle.
            if (step == Step::kStatusWait) return Outcome({}, "waits");
            if (step == Step::kMidBlock) return Outcome(readFailure(), afterReadFailure);
            return Outcome({}, "goes on");
        case Fault::kSilence:
            if (step == Step::kMidBlock) return Outcome(readFailure(), afterReadFailure);
            // The card is read, written or erased, but the reader never says so.
            return Outcome({}, "waits", writesHere || erases ? 1 : 0);
        case Fault::kWrongByte:
            if (step == Step::kMidBlock) return Outcome(readFailure(), afterReadFailure);
            // A read block carries no reply byte; a status does.
            if (!writesHere && !erases) return Outcome({}, "goes on");
            return Outcome({Refused(job)}, "goes on", 1);
        case Fault::kSlow:
            // A block whose rest comes after the 50 ms gap that ends a block is split in two:
            // both parts fail. Replies late within the 350 ms waits are taken.
            if (step == Step::kMidBlock) return Outcome(readFailure(), afterReadFailure);
            return Outcome({}, "goes on");
        case Fault::kRefusal:
            // A reader asked to read refuses nothing; the erase command is refused when it is
            // sent, so a refusal during the status wait meets the next arming.
            if (!writesHere && !erases) return Outcome({}, "goes on");
            return Outcome({Refused(job)}, "goes on");
        case Fault::kWeakCard:
            if (!Reads(job) || (job == Job::kCopy && step == Step::kStatusWait))
                return Outcome({}, "goes on");  // written or erased over
            return Outcome(readFailure(), afterReadFailure);
    }
    return "?";
}

// --- One cell ---------------------------------------------------------------------------------

const std::set<std::string> kFailureTexts{"Commucation Error",
                                          "Commucation Error!!",
                                          "write Error4",
                                          "write Error3",
                                          "write Error",
                                          "Write Error1",
                                          "Write Error2",
                                          "Erase Fail",
                                          "Read Error!!",
                                          "Read <Source> Error!!",
                                          " Read <Source> Error!!",
                                          "Read <Target> Error!!",
                                          "Read <TARGET> Card Error",
                                          "Write <TARGET> Card Error"};

struct Result {
    std::string outcome;
    std::vector<std::string> problems;  // broken rules, whatever the outcome
};

class Cell {
  public:
    Cell(Job job, Step step, Fault fault, const fs::path& dir)
        : job_(job), step_(step), fault_(fault), dir_(dir), profile_(dir / "Tollwick.ini") {
        rig_ = std::make_unique<Rig>(profile_, VirtualReader::Options{}, TestDeck(/*blanks=*/8));
        rig_->flags.reports.SetWakeUp([this] { OnReport(); });
    }
    ~Cell() {
        rig_->reader.Unplug();  // ends any wait at once
        files_.reset();
        rig_.reset();
    }

    Result Run() {
        if (!rig_->ConnectQuickly()) return {"no reader", {"could not connect"}};
        if (step_ == Step::kArming) InjectNow();
        if (step_ == Step::kBetweenCards) {
            injectAtReport_ = ReportsBeforeFirstCard() + CardsPerCycle();
        }
        Launch();
        if (step_ == Step::kBetweenCards) {
            for (int i = 0; i < CardsPerCycle(); ++i) {
                if (!SwipeGood()) problems_.push_back("no first card");
                Settle(60ms);
            }
            if (!WaitFor([&] { return injected_.load(); }, Scaled(2000ms)))
                problems_.push_back("not injected");
        }
        if (step_ == Step::kStatusWait) {
            if (job_ == Job::kCopy) {
                SwipeGood();  // the source
            }
            if (!WaitFor([&] { return IsArmed(Armed::kWrite) || IsArmed(Armed::kErase); },
                         Scaled(2000ms)))
                problems_.push_back("never waited for a status");
            InjectNow();
        }
        if (step_ == Step::kMidBlock) InjectNow();

        // The card that meets the fault.
        Settle(30ms);
        SwipeIfArmed(
            fault_ == Fault::kWeakCard ? std::optional<std::size_t>(kWeakCard) : std::nullopt,
            Scaled(1000ms));
        Settle(Scaled(fault_ == Fault::kSlow ? 500ms : 300ms));
        Lift();

        // One more good card: does the job go on?
        std::string ending;
        const int reportsBefore = reports_.load();
        if (!rig_->monitor->WorkerActive()) {
            ending = "ends";
        } else if (SwipeIfArmed(std::nullopt, Scaled(1200ms)) &&
                   rig_->TickUntil([&] { return reports_.load() > reportsBefore; },
                                   Scaled(3000ms))) {
            ending = "goes on";
        } else {
            ending = "waits";
        }
        Settle(80ms);
        CheckCounts();
        const int unreported = rig_->cardsChanged.load() - Done();
        if (unreported < 0) problems_.push_back("more cards done than changed");
        const std::string outcome = Outcome(Failures(logMark_.load()), ending, unreported);

        // Cancel: the worker stops wherever it waits, the reader is left disarmed.
        rig_->reader.Plug();
        rig_->OnWindow([&] { rig_->monitor->CancelJob(); });
        if (rig_->monitor->WorkerActive()) problems_.push_back("worker runs after Cancel");
        if (rig_->reader.ArmedFor() != Armed::kIdle) problems_.push_back("reader left armed");
        if (rig_->longestWindowMs.load() > Scaled(1500ms).count())
            problems_.push_back("window held " + std::to_string(rig_->longestWindowMs) + " ms");
        return {outcome, problems_};
    }

  private:
    Job job_;
    Step step_;
    Fault fault_;
    fs::path dir_;
    ProfileStore profile_;
    std::unique_ptr<Rig> rig_;
    std::unique_ptr<CardFileJobs> files_;
    std::atomic<int> reports_{0};
    std::atomic<int> injectAtReport_{-1};
    std::atomic<bool> injected_{false};
    std::atomic<std::size_t> logMark_{0};  // what the window showed before the fault
    std::vector<std::string> problems_;
    std::size_t nextBlank_ = 9;  // the blank cards of the deck

    bool IsArmed(Armed what) const { return rig_->reader.ArmedFor() == what; }

    // On the worker's thread, as a card is reported: "between cards" strikes here.
    void OnReport() {
        if (++reports_ == injectAtReport_) {
            InjectNow();
            injected_ = true;
        }
    }
    void InjectNow() {
        logMark_ = rig_->view.Log().size();
        Inject();
    }
    // The launch's own report (From File, Sequential write) comes before any card.
    int ReportsBeforeFirstCard() const {
        return job_ == Job::kFromFile || job_ == Job::kSeqWrite ? 1 : 0;
    }
    // Copy reads a source and writes a target: two reports a card.
    int CardsPerCycle() const { return job_ == Job::kCopy ? 2 : 1; }

    void Launch() {
        JobMonitor& monitor = *rig_->monitor;
        files_ = std::make_unique<CardFileJobs>(monitor);
        const fs::path cards = dir_ / "cards.txt";
        std::ofstream file(cards);
        for (int i = 1; i <= 9; ++i) file << "%C" << i << "?\n;" << i << "?\n\n";
        file.close();
        rig_->view.SetTracks({"W123", "", ""});
        rig_->OnWindow([&] {
            if (job_ == Job::kRead) monitor.LaunchRead();
            if (job_ == Job::kWrite) monitor.LaunchWrite();
            if (job_ == Job::kCopy) monitor.LaunchCopy();
            if (job_ == Job::kCompare) monitor.LaunchCompare();
            if (job_ == Job::kErase) monitor.LaunchErase(kEraseTrack1 | kEraseTrack3);
            if (job_ == Job::kSeqWrite)
                LaunchSeqWrite(monitor, *PlanSeqWrite({"1", "9", "1", 0}, {"S", "", ""}).run);
            if (job_ == Job::kFromFile) files_->LaunchFromFile(cards.string());
            if (job_ == Job::kToFile) files_->LaunchToFile((dir_ / "read.txt").string());
        });
    }

    void Inject() {
        VirtualReader& reader = rig_->reader;
        if (step_ == Step::kMidBlock) {
            using Mid = TapBackend::MidReply;
            constexpr Mid kMid[] = {Mid::kUnplug, Mid::kReplug, Mid::kSilence, Mid::kWrongByte,
                                    Mid::kSlow};
            rig_->tap.FaultNextReply(kMid[static_cast<int>(fault_)]);
            return;
        }
        // A weak card is the card swiped next.
        if (fault_ == Fault::kUnplug || fault_ == Fault::kReplug) reader.Unplug();
        if (fault_ == Fault::kReplug) reader.Plug();
        if (fault_ == Fault::kSilence) reader.SetSilent(true);
        if (fault_ == Fault::kWrongByte) reader.SetWrongReplies(true);
        // Beyond every 50 ms listen, within the 350 ms waits.
        if (fault_ == Fault::kSlow) reader.SetReplyDelay(120ms);
        if (fault_ == Fault::kRefusal) reader.SetRejectNext(true);
    }
    void Lift() {
        VirtualReader& reader = rig_->reader;
        reader.Plug();
        reader.SetSilent(false);
        reader.SetWrongReplies(false);
        reader.SetReplyDelay(0ms);
        reader.SetRejectNext(false);
    }

    void Settle(std::chrono::milliseconds ms) { rig_->TickQuietly(ms); }

    // Swipes the card that suits what the reader is armed for, once the host listens; ticks
    // meanwhile. False when the reader is not armed within `bound`.
    bool SwipeIfArmed(std::optional<std::size_t> card, std::chrono::milliseconds bound) {
        const auto until = Clock::now() + bound;
        while (!(rig_->reader.ArmedFor() != Armed::kIdle && rig_->tap.Listening())) {
            if (Clock::now() > until) return false;
            rig_->Tick();
            std::this_thread::sleep_for(3ms);
        }
        const Armed armed = rig_->reader.ArmedFor();
        std::size_t chosen = armed == Armed::kWrite ? nextBlank_++ : kIsoCard;
        if (card) chosen = *card;
        return rig_->reader.Swipe(chosen);
    }
    bool SwipeGood() { return SwipeIfArmed(std::nullopt, Scaled(2000ms)); }

    // The failure texts shown since the mark.
    Texts Failures(std::size_t mark) const {
        const std::vector<std::string> log = rig_->view.Log();
        std::vector<std::string> seen;
        for (std::size_t i = mark; i < log.size(); ++i) {
            const std::string& e = log[i];
            const auto colon = e.find(':');
            if (colon == std::string::npos) continue;
            const std::string kind = e.substr(0, colon);
            if (kind != "MessageBox" && kind != "SetMessage" && kind != "SetMessageText") continue;
            const std::string text = e.substr(colon + 1);
            if (kFailureTexts.contains(text)) seen.push_back(text);
        }
        return seen;
    }

    // The messages that report a card done, with their numbers.
    std::vector<int> DoneNumbers() const {
        static const std::regex kDone(
            R"(SetMessage:(?:Read Card<(-?\d+)> OK|Write Card ?<(-?\d+)> OK|Erase Card <(-?\d+)> OK!))");
        std::vector<int> numbers;
        for (const std::string& e : rig_->view.Log()) {
            std::smatch m;
            if (!std::regex_match(e, m, kDone)) continue;
            for (std::size_t g = 1; g < m.size(); ++g) {
                if (m[g].matched) numbers.push_back(std::stoi(m[g].str()));
            }
        }
        return numbers;
    }
    // Cards the job reports as written or erased.
    int Done() const {
        if (job_ == Job::kCopy) return rig_->view.Count("SetMessage:Write <TARGET> Card OK");
        if (!Writes(job_) && job_ != Job::kErase) return 0;
        int done = 0;
        for (int n : DoneNumbers()) done += n > 0 ? 1 : 0;  // card 0 is the launch's
        return done;
    }
    // Every card done is counted once: the numbers run 1, 2, 3 ... (0 first in a batch).
    void CheckCounts() {
        const std::vector<int> numbers = DoneNumbers();
        const int first = ReportsBeforeFirstCard() == 1 ? 0 : 1;
        for (std::size_t i = 0; i < numbers.size(); ++i) {
            if (numbers[i] != first + static_cast<int>(i)) {
                std::ostringstream text;
                text << "counts";
                for (int n : numbers) text << ' ' << n;
                problems_.push_back(text.str());
                return;
            }
        }
        // Only cards with data are swiped into a reading job: a card reported without any is
        // a broken read block taken for a card.
        if (Reads(job_) && rig_->view.Logged("ShowTracks:{NO DATA}|{NO DATA}|{NO DATA}"))
            problems_.push_back("a card without data was reported");
        if (job_ == Job::kToFile) {
            // Every card reported read is in the file.
            std::ifstream in(dir_ / "read.txt");
            int records = 0;
            for (std::string line; std::getline(in, line);) records += line.rfind('%', 0) == 0;
            if (records != static_cast<int>(numbers.size()))
                problems_.push_back("file holds " + std::to_string(records) + " records");
        }
    }
};

struct CellSpec {
    Job job;
    Step step;
    Fault fault;
};

TEST(FaultMatrix, EveryJobEveryStepEveryFault) {
    std::vector<CellSpec> cells;
    for (Job job : kJobs) {
        for (Step step : kSteps) {
            for (Fault fault : kFaults) {
                if (Applies(job, step, fault)) cells.push_back({job, step, fault});
            }
        }
    }
    std::string tmpl = (fs::temp_directory_path() / "tollwick-faults-XXXXXX").string();
    ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
    const fs::path root = tmpl;

    std::vector<Result> results(cells.size());
    {
        std::vector<std::jthread> threads;
        for (std::size_t i = 0; i < cells.size(); ++i) {
            threads.emplace_back([&, i] {
                const fs::path dir = root / std::to_string(i);
                fs::create_directories(dir);
                Cell cell(cells[i].job, cells[i].step, cells[i].fault, dir);
                results[i] = cell.Run();
            });
        }
    }
    fs::remove_all(root);

    std::ostringstream table;
    for (std::size_t i = 0; i < cells.size(); ++i) {
        const CellSpec& c = cells[i];
        const auto [job, step, fault] = std::tuple{
            static_cast<int>(c.job), static_cast<int>(c.step), static_cast<int>(c.fault)};
        const std::string name =
            std::string(kJobNames[job]) + " / " + kStepNames[step] + " / " + kFaultNames[fault];
        EXPECT_EQ(results[i].outcome, Expected(c.job, c.step, c.fault)) << name;
        for (const std::string& problem : results[i].problems)
            ADD_FAILURE() << name << ": " << problem;
        table << "| " << kJobNames[job] << " | " << kFaultNames[fault] << " | " << kStepNames[step]
              << " | " << results[i].outcome << " |\n";
    }
    if (std::getenv("TOLLWICK_PRINT_FAULT_MATRIX")) std::printf("%s", table.str().c_str());
}

}  // namespace
}  // namespace tollwick::jobs_test
