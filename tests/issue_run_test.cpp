// The issuing run on virtual readers: every record on exactly one card, a refused card set
// aside and its record on the next card, a reader pulled out mid-run leaving its record
// uncertain while the other goes on, and an uncertain card decided by reading it.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <sstream>

#include "device/reader_link.h"
#include "device/virtual/virtual_reader.h"
#include "issuance/issue_run.h"
#include "issuance/sqlite_journal.h"
#include "reader_rig.h"
#include "test_platform.h"

namespace tollwick {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// One virtual reader of blank cards, connected, that swipes the card asked for.
class VirtualStation final : public IssueStation {
  public:
    explicit VirtualStation(std::string name) : name_(std::move(name)) {
        Deck deck;
        for (int i = 0; i < 40; ++i) deck.cards.push_back(CardFromTexts("blank", {}, kIsoTrackSet));
        reader_.SetDeck(deck);
        EXPECT_GT(commands_.ConnectScan(), 0);
    }
    std::string Name() const override { return name_; }
    ReaderCommands& Reader() override { return commands_; }
    bool PresentCard(long long slot, bool) override {
        reader_.SetAutoSwipe(static_cast<std::size_t>(slot), 1ms, false);
        return true;
    }
    VirtualReader& Virtual() { return reader_; }
    // The record numbers (track 2) the deck's cards hold.
    std::vector<std::string> Held() {
        std::vector<std::string> held;
        for (const VirtualCard& card : reader_.GetDeck().cards) {
            const std::string text = testing::TextsOnCard(card)[1];
            if (text.size() > 2 && text[0] == ';') held.push_back(text.substr(1, text.size() - 2));
        }
        return held;
    }

  private:
    std::string name_;
    VirtualReader reader_;
    VirtualBackend backend_{reader_};
    ReaderLink link_{backend_};
    ReaderCommands commands_{link_};
};

class Events final : public IssueEvents {
  public:
    void Attempted(const Attempt& attempt) override {
        log << attempt.row << ":" << AttemptStatusName(attempt.status) << " ";
    }
    void Skipped(long long row, const std::string&) override { log << row << ":skipped "; }
    void Awaiting(IssueStation& station, long long, bool) override {
        if (onAwait) onAwait(station);
    }
    std::ostringstream log;
    std::function<void(IssueStation&)> onAwait;
};

class IssueRunTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string error;
        journal_ = SqliteJournal::Open(dir_ / "j", SqliteJournal::Mode::kIssue, error);
        ASSERT_TRUE(journal_) << error;
        const DataTypeLayout iso = LayoutFor(DataType::kIso, Track2Density::k210, kIsoTrackSet, {});
        maker_ = CardMaker::Make({"", "{n}", ""}, {"n"}, DataType::kIso, iso, error);
    }

    IssueTally Issue(const std::vector<IssueStation*>& stations, IssueSettings settings,
                     Events& events, int records = 6) {
        std::string text = "n\n";
        for (int r = 1; r <= records; ++r) text += std::to_string(100 + r) + "\n";
        std::istringstream in(text);
        std::string error;
        auto reader = OpenRecordReader(in, error);
        RecordSource source(*reader, *maker_, RowRange{});
        IssueRun run(*journal_, "00", *maker_, settings, events);
        return run.Issue(source, stations);
    }
    std::map<long long, int> Taken() {
        std::map<long long, int> taken;
        journal_->ForEach([&](const Attempt& a) {
            if (a.status == AttemptStatus::kWritten || a.status == AttemptStatus::kVerified)
                ++taken[a.row];
            return true;
        });
        return taken;
    }

    // Before the journal: the journal's file is closed before its folder goes.
    testing::ScratchFolder folder_{"tollwick-issue"};
    fs::path dir_ = folder_.path();
    std::unique_ptr<SqliteJournal> journal_;
    std::optional<CardMaker> maker_;
};

TEST_F(IssueRunTest, RefusedCardsGoAsideAndTheRecordGoesOnTheNext) {
    VirtualStation station("virtual:1");
    Events events;
    int awaited = 0;
    events.onAwait = [&](IssueStation&) {
        // Each card is awaited twice (written, read back): the reader refuses the second card,
        // and the two cards of the third record.
        ++awaited;
        if (awaited == 2 || awaited == 6 || awaited == 7) station.Virtual().SetRejectNext(true);
    };
    IssueSettings settings;
    settings.verify = true;
    settings.retries = 1;
    settings.wait.timeout = 2s;
    const IssueTally tally = Issue({&station}, settings, events, 5);
    EXPECT_EQ(events.log.str(),
              "1:written 1:verified 2:failed 2:written 2:verified 3:failed 3:failed 3:skipped "
              "4:written 4:verified 5:written 5:verified ");
    EXPECT_EQ(tally.written, 4);
    EXPECT_EQ(tally.gaveUp, 1);
    EXPECT_EQ(tally.failedCards, 3);
    EXPECT_TRUE(tally.uncertain.empty());
    EXPECT_EQ(Taken(), (std::map<long long, int>{{1, 1}, {2, 1}, {4, 1}, {5, 1}}));
}

TEST_F(IssueRunTest, AReaderPulledOutLeavesItsRecordUncertainAndTheOtherGoesOn) {
    VirtualStation first("virtual:1");
    VirtualStation second("virtual:2");
    Events events;
    std::atomic<int> awaitedOnSecond = 0;
    events.onAwait = [&](IssueStation& station) {
        if (&station == &second && ++awaitedOnSecond == 2) second.Virtual().Unplug();
    };
    IssueSettings settings;
    settings.wait.timeout = 2s;
    const IssueTally tally = Issue({&first, &second}, settings, events, 8);
    ASSERT_EQ(tally.uncertain.size(), 1u);
    ASSERT_TRUE(tally.stopped);
    EXPECT_EQ(*tally.stopped, StepOutcome::kLinkFailed);
    EXPECT_EQ(tally.written, 7);
    const long long lost = tally.uncertain.front();
    std::vector<Attempt> history;
    journal_->History(lost, history);
    ASSERT_EQ(history.size(), 1u);
    EXPECT_EQ(history[0].status, AttemptStatus::kUncertain);
    EXPECT_EQ(history[0].reader, "virtual:2");
    EXPECT_EQ(Taken().size(), 7u);

    // Plugged in again, its card is read: it was never written, so the record is written anew.
    second.Virtual().Plug();
    ASSERT_GT(second.Reader().ConnectScan(), 0);
    IssueRun again(*journal_, "00", *maker_, settings, events);
    EXPECT_EQ(again.Decide(second, history[0], {"", std::to_string(100 + lost), ""}),
              StepOutcome::kDone);
    journal_->History(lost, history);
    EXPECT_EQ(history[0].status, AttemptStatus::kFailed);
    EXPECT_TRUE(history[0].decided);
    const IssueTally rest = Issue({&first, &second}, settings, events, 8);
    EXPECT_EQ(rest.written, 1);
    EXPECT_EQ(rest.alreadyDone, 7);
    EXPECT_EQ(Taken().size(), 8u);
    // And each record is on exactly one card of the two decks.
    std::map<std::string, int> cards;
    for (auto* station : {&first, &second}) {
        for (const std::string& held : station->Held()) ++cards[held];
    }
    EXPECT_EQ(cards.size(), 8u);
    for (const auto& [record, count] : cards) EXPECT_EQ(count, 1) << record;

    // An uncertain card that does hold its record (the status was lost on its way): read, it is
    // recorded verified, and its record is not written again.
    const auto held = journal_->BeginAttempt(9, "virtual:1", "d");
    const auto slot = journal_->CardsTakenBy("virtual:1", held->id);
    Deck deck = first.Virtual().GetDeck();
    deck.cards[static_cast<std::size_t>(*slot)] = CardFromTexts("", {"", "109", ""}, kIsoTrackSet);
    first.Virtual().SetDeck(deck);
    EXPECT_EQ(again.Decide(first, *held, {"", "109", ""}), StepOutcome::kDone);
    journal_->History(9, history);
    EXPECT_EQ(history[0].status, AttemptStatus::kVerified);
    EXPECT_TRUE(history[0].decided);
    EXPECT_EQ(PlanRow(history, false, 0).action, RowAction::kDone);
}

}  // namespace
}  // namespace tollwick
