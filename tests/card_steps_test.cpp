// The card steps both programs take, over a scripted reader and the virtual reader, on virtual
// time.
#include <gtest/gtest.h>

#include <functional>

#include "carddata/track_codec.h"
#include "cardsteps/card_steps.h"
#include "reader_rig.h"

namespace tollwick {
namespace {

using Bytes = std::vector<uint8_t>;
using namespace std::chrono_literals;

using testing::ScriptedRig;

TEST(CardSteps, AReadBlockIsTakenApartAndWhatIsNoBlockIsNeverABlankCard) {
    const Bytes track2 = {0xD4, 0x11, 0x92, 0x7C, 0x20};  // ";1234?" at 5 bits
    const TrackTexts kAllFailed{"{Trace1 data error}", "{Trace2 data error}",
                                "{Trace3 data error}"};
    struct Case {
        const char* what;
        Bytes block;
        bool damaged;  // every track marked failed, never a blank card
    };
    const Case cases[] = {
        {"a read block", BuildReadBlock({Bytes{}, track2, Bytes{}}), false},
        {"no ESC 's'", {kEsc, 'x', kEsc, 2, 5, 0xD4, 0x11, 0x92, 0x7C, 0x20, 0, 0, 0, 0}, true},
        {"tracks out of order", {kEsc, 's', kEsc, 2, 1, 0xD4, kEsc, 1, 0, 0, 0, 0, 0}, true},
    };
    for (const Case& c : cases) {
        ScriptedRig rig;
        ASSERT_TRUE(rig.Connect());
        ASSERT_EQ(ArmRead(rig.commands, kReadArmTries), CommandStatus::kOk);
        rig.s.Send(c.block);
        ReceivedBlock block;
        ASSERT_EQ(AwaitCard(rig.commands, StepWait{}, block), StepOutcome::kDone) << c.what;
        EXPECT_EQ(block.damaged, c.damaged) << c.what;
        const CardCapture card = DecodeReceived(block, kIsoTrackSet, DataType::kIso);
        const TrackTexts good{"{NO DATA}", ";1234?", "{NO DATA}"};
        EXPECT_EQ(card.card.Texts(), c.damaged ? kAllFailed : good) << c.what;
        EXPECT_EQ(card.Failed(), c.damaged) << c.what;
        if (!c.damaged) {
            EXPECT_EQ(card.raw[1], track2) << c.what;  // the bytes as they came
        }
    }
}

TEST(CardSteps, AWaitEndsOnItsTimeoutOnTheLinksClockOrOnTheStop) {
    // Nothing comes: the wait takes its time on the link's clock, then disarms the reader.
    ScriptedRig rig;
    ASSERT_TRUE(rig.Connect());
    StepWait wait;
    wait.timeout = 2s;
    const auto start = rig.s.clock.Now();
    ReceivedBlock block;
    EXPECT_EQ(AwaitCard(rig.commands, wait, block), StepOutcome::kTimedOut);
    const auto waited = rig.s.clock.Now() - start;
    EXPECT_GE(waited, 2s);
    EXPECT_LT(waited, 2s + 400ms);  // one poll's 350 ms wait at most beyond it
    ASSERT_FALSE(rig.s.output.empty());
    EXPECT_EQ(rig.s.output.back(), (Bytes{0, kEsc, 'a', 0, 0, 0, 0, 0, 0}));

    // The same for a status; and a stop ends either wait at once. A stop that came first sends
    // nothing, and CauseOf leaves what is certain as it is.
    TrackTexts texts{"", "1", ""};
    EXPECT_EQ(WriteCard(rig.commands, texts, kIsoTrackSet, wait), StepOutcome::kTimedOut);
    std::stop_source stop;
    stop.request_stop();
    wait.stop = stop.get_token();
    const std::size_t sent = rig.s.output.size();
    EXPECT_EQ(AwaitCard(rig.commands, wait, block), StepOutcome::kStopped);
    EXPECT_EQ(EraseCard(rig.commands, 1, wait), StepOutcome::kStopped);
    EXPECT_EQ(WriteCard(rig.commands, texts, kIsoTrackSet, wait), StepOutcome::kStopped);
    EXPECT_EQ(rig.s.output.size(), sent);
    EXPECT_EQ(CauseOf(StepOutcome::kRejected, wait.stop), StepOutcome::kRejected);

    // Not connected: the link failed.
    ScriptedRig gone;
    ASSERT_TRUE(gone.Connect());
    gone.s.failWrites = true;
    EXPECT_EQ(ArmRead(gone.commands, kReadArmTries), CommandStatus::kFailed);
    EXPECT_EQ(gone.s.output.size(), 0u);
    EXPECT_EQ(AwaitCard(gone.commands, StepWait{}, block), StepOutcome::kLinkFailed);
}

// A write or erase that went out, and whose status never came because the stop or a failed link
// ended the wait, leaves the card uncertain: the silent reader changed it. A pulled cable is
// silence until the reset at the timeout fails.
TEST(CardSteps, AStatusThatNeverCameLeavesTheCardUncertain) {
    for (const bool erase : {false, true}) {
        for (const bool unplug : {false, true}) {
            SCOPED_TRACE(std::string(erase ? "erase, " : "write, ") +
                         (unplug ? "unplugged" : "stopped"));
            testing::VirtualRig rig;
            ASSERT_TRUE(rig.Connect());
            rig.reader.SetSilent(true);
            rig.reader.SetAutoSwipe(0, 10ms, false);
            std::stop_source stop;
            int changed = 0;
            rig.reader.SetOnCardChanged([&](const CardChange&) {
                ++changed;
                unplug ? rig.reader.Unplug() : static_cast<void>(stop.request_stop());
            });
            const StepWait wait{.stop = stop.get_token(), .timeout = 5s};
            TrackTexts texts{"", "1234", ""};
            const StepOutcome outcome = erase ? EraseCard(rig.commands, 0b010, wait)
                                              : WriteCard(rig.commands, texts, kIsoTrackSet, wait);
            EXPECT_EQ(changed, 1);
            EXPECT_EQ(outcome, StepOutcome::kUncertain);
            EXPECT_EQ(CauseOf(outcome, wait.stop),
                      unplug ? StepOutcome::kLinkFailed : StepOutcome::kStopped);
        }
    }
}

// Records what a round of writes, each card verified, reported; `beforeReadBack` runs before a
// card is read back, `afterAttempt` after each card is reported.
class RecordingRound final : public WriteRound {
  public:
    std::function<void()> beforeReadBack = [] {};
    std::function<void()> afterAttempt = [] {};
    std::vector<WriteAttempt> attempts;
    TrackSet Formats() override { return kIsoTrackSet; }
    bool VerifyAfterWrite() override { return true; }
    bool BeforeReadBack() override {
        beforeReadBack();
        return true;
    }
    bool Attempted(const WriteAttempt& attempt, const TrackTexts&) override {
        attempts.push_back(attempt);
        afterAttempt();
        return true;
    }
};

TEST(CardSteps, ARejectedCardIsWrittenAgainAndAWrittenOneIsVerified) {
    testing::VirtualRig rig;
    ASSERT_TRUE(rig.Connect());
    rig.reader.SetAutoSwipe(0, 10ms, false);  // the same card every time
    rig.reader.SetRejectNext(true);
    RecordingRound round;
    TrackTexts texts{"abc", "1234", ""};
    ASSERT_EQ(WriteUntilTaken(rig.commands, texts, round, StepWait{}), StepOutcome::kDone);
    ASSERT_EQ(round.attempts.size(), 2u);
    EXPECT_EQ(round.attempts[0].write, StepOutcome::kRejected);
    EXPECT_EQ(round.attempts[0].check, WriteCheck::kNone);
    EXPECT_EQ(round.attempts[1].write, StepOutcome::kDone);
    EXPECT_EQ(round.attempts[1].check, WriteCheck::kVerified);
    EXPECT_EQ(texts[0], "ABC");  // as it went out

    // The card read back holds something else: it differs, and the same texts go on.
    uint8_t differing = 0;
    TrackTexts other{"ABD", "1234", ""};
    ASSERT_EQ(ReadBackWritten(rig.commands, other, kIsoTrackSet, StepWait{}, differing),
              StepOutcome::kDone);
    EXPECT_EQ(differing, 0b001);
    // A card whose weak spot reads wrong fails its verify: the same texts go onto the next card.
    rig.reader.SetAutoSwipe(testing::sample::kWeakSpotCard, 10ms, false);
    RecordingRound weak;
    weak.afterAttempt = [&rig] { rig.reader.SetAutoSwipe(testing::sample::kBlank, 10ms, false); };
    TrackTexts digits{"", "1234567890", ""};
    ASSERT_EQ(WriteUntilTaken(rig.commands, digits, weak, StepWait{}), StepOutcome::kDone);
    ASSERT_EQ(weak.attempts.size(), 2u);
    EXPECT_EQ(weak.attempts[0].check, WriteCheck::kDiffers);
    EXPECT_EQ(weak.attempts[0].differing, 0b010);
    EXPECT_EQ(weak.attempts[1].check, WriteCheck::kVerified);
    EXPECT_EQ(testing::TextsOnCard(*rig.reader.Card(testing::sample::kBlank))[1], ";1234567890?");

    // The link gone after the write: written, not read back, and the round ends there.
    StepWait wait;
    wait.timeout = 1s;
    RecordingRound unplugged;
    unplugged.beforeReadBack = [&rig] { rig.reader.Unplug(); };
    EXPECT_EQ(WriteUntilTaken(rig.commands, texts, unplugged, wait), StepOutcome::kLinkFailed);
    ASSERT_EQ(unplugged.attempts.size(), 1u);
    EXPECT_EQ(unplugged.attempts[0].check, WriteCheck::kNotReadBack);
}

}  // namespace
}  // namespace tollwick
