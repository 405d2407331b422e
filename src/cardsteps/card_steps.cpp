#include "cardsteps/card_steps.h"

#include <algorithm>

#include "carddata/track_codec.h"
#include "carddata/write_verify.h"

namespace tollwick {
namespace {

// When the stop cuts the link's reads, a step that failed while it came failed because of it.
StepOutcome Settled(StepOutcome outcome, const StepWait& wait) {
    const bool failed = outcome != StepOutcome::kDone;
    return failed && wait.stopCutsReads && wait.stop.stop_requested() ? StepOutcome::kStopped
                                                                      : outcome;
}

// The end of a wait that has a timeout, on the link's clock.
class Deadline {
  public:
    Deadline(Clock& clock, const StepWait& wait) : clock_(clock) {
        if (wait.timeout) at_ = clock.Now() + *wait.timeout;
    }
    bool Passed() const { return at_ && clock_.Now() >= *at_; }

  private:
    Clock& clock_;
    std::optional<Clock::TimePoint> at_;
};

// Polls a status wait (write or erase) until the reader answers, the time is up or the stop
// comes. A status that came is taken, even by a job being stopped. The block is with the reader:
// a wait that ends on the stop or a failed link leaves the card uncertain. A pulled cable is
// silence until the reset at the timeout fails. The time being up on a reader that takes the
// reset is no card: the status follows a swipe at once.
template <typename Wait>
StepOutcome AwaitStatus(ReaderCommands& reader, const StepWait& wait, Wait status) {
    Clock& clock = reader.Link().GetClock();
    const Deadline deadline(clock, wait);
    for (;;) {
        if (wait.stop.stop_requested()) return StepOutcome::kUncertain;
        const CardStatus answer = status();
        if (wait.stopCutsReads && wait.stop.stop_requested()) return StepOutcome::kUncertain;
        switch (answer) {
            case CardStatus::kDone:
                return StepOutcome::kDone;
            case CardStatus::kRejected:
                return StepOutcome::kRejected;
            case CardStatus::kNotPending:
                return StepOutcome::kUncertain;  // the link failed
            case CardStatus::kNoReplyYet:
                break;
        }
        if (deadline.Passed()) {
            return reader.ResetReader() == CommandStatus::kOk ? StepOutcome::kTimedOut
                                                              : StepOutcome::kUncertain;
        }
        if (clock.SleepFor(wait.poll, wait.stop)) return StepOutcome::kUncertain;
    }
}

}  // namespace

std::string_view StatusText(StepOutcome outcome) {
    switch (outcome) {
        case StepOutcome::kDone:
            return "done";
        case StepOutcome::kRejected:
            return "the reader could not write or erase the card";
        case StepOutcome::kRefused:
            return "the reader refused the erase";
        case StepOutcome::kTimedOut:
            return "no card swiped in time";
        case StepOutcome::kLinkFailed:
            return "the link to the reader failed";
        case StepOutcome::kTooLong:
            return "the tracks are too long to be written in one block";
        case StepOutcome::kStopped:
            return "stopped";
        case StepOutcome::kUncertain:
            return "the reader's status never came: the card may have been written or erased";
    }
    return "unknown step outcome";
}

StepOutcome CauseOf(StepOutcome outcome, const std::stop_token& stop) {
    if (outcome != StepOutcome::kUncertain) return outcome;
    return stop.stop_requested() ? StepOutcome::kStopped : StepOutcome::kLinkFailed;
}

CommandStatus ArmRead(ReaderCommands& reader, int tries) {
    CommandStatus status = CommandStatus::kFailed;
    for (int i = 0; i < tries && status != CommandStatus::kOk; ++i) status = reader.StartRawRead();
    return status;
}

StepOutcome AwaitCard(ReaderCommands& reader, const StepWait& wait, ReceivedBlock& block) {
    Clock& clock = reader.Link().GetClock();
    const Deadline deadline(clock, wait);
    for (;;) {
        if (wait.stop.stop_requested()) return StepOutcome::kStopped;
        CardTracks card;
        TrackLengths lengths{};
        const ReceiveResult received = reader.ReceiveTracks(card, &lengths);
        // A block cut short by the stop is not a card.
        if (wait.stopCutsReads && wait.stop.stop_requested()) return StepOutcome::kStopped;
        if (received == ReceiveResult::kReceived || received == ReceiveResult::kSplitFailed) {
            block = ReceivedBlock{};
            block.damaged = received == ReceiveResult::kSplitFailed;
            if (!block.damaged) {
                for (std::size_t t = 0; t < 3; ++t) {
                    const char* bytes = card.track[t].data();
                    block.raw[t].assign(bytes, bytes + lengths[t]);
                }
            }
            return StepOutcome::kDone;
        }
        if (received == ReceiveResult::kNotConnected) {
            return Settled(StepOutcome::kLinkFailed, wait);
        }
        if (deadline.Passed()) {
            static_cast<void>(reader.ResetReader());  // disarmed; a failure says so next time
            return StepOutcome::kTimedOut;
        }
        if (clock.SleepFor(wait.poll, wait.stop)) return StepOutcome::kStopped;
    }
}

uint8_t DecodeCard(CardTracks& card, const TrackSet& settings) {
    const uint8_t errors = DecodeTracks(card, settings);
    for (int t = 0; t < 3; ++t) {
        if (errors & (1u << t)) card.SetText(t, TrackErrorMarker(t));
    }
    card.trackErrors = errors;
    return errors;
}

CardCapture DecodeReceived(const ReceivedBlock& block, const TrackSet& settings, DataType type) {
    CardCapture capture;
    capture.time = std::chrono::system_clock::now();
    capture.settings = settings;
    capture.type = type;
    capture.blockDamaged = block.damaged;
    capture.raw = block.raw;
    CardTracks& card = capture.card;
    if (block.damaged) {
        for (int t = 0; t < 3; ++t) card.SetText(t, TrackErrorMarker(t));
        card.trackErrors = 0x7;
        return capture;
    }
    for (std::size_t t = 0; t < 3; ++t) {
        const std::vector<uint8_t>& bytes = block.raw[t];
        std::copy_n(bytes.begin(), std::min(bytes.size(), kMaxTrackText), card.track[t].begin());
    }
    DecodeCard(card, settings);
    return capture;
}

StepOutcome WriteCard(ReaderCommands& reader, TrackTexts& texts, const TrackSet& formats,
                      const StepWait& wait) {
    if (wait.stop.stop_requested()) return StepOutcome::kStopped;
    switch (reader.WriteTracks(texts, formats)) {
        case CommandStatus::kOk:
            break;
        case CommandStatus::kTooLong:
            return StepOutcome::kTooLong;
        default:
            return Settled(StepOutcome::kLinkFailed, wait);
    }
    return AwaitStatus(reader, wait, [&reader] { return reader.WaitWriteStatus(); });
}

StepOutcome ReadBackWritten(ReaderCommands& reader, const TrackTexts& written,
                            const TrackSet& formats, const StepWait& wait, uint8_t& differing,
                            ReceivedBlock* readBack) {
    if (ArmRead(reader, kReadArmTries) != CommandStatus::kOk) {
        return Settled(StepOutcome::kLinkFailed, wait);
    }
    ReceivedBlock block;
    const StepOutcome outcome = AwaitCard(reader, wait, block);
    if (outcome != StepOutcome::kDone) return outcome;
    // A damaged block brought no track: every written track differs.
    differing = VerifyWrittenCard(written, block.raw, formats);
    if (readBack != nullptr) *readBack = std::move(block);
    return StepOutcome::kDone;
}

WriteAttempt WriteAndCheck(ReaderCommands& reader, TrackTexts& texts, WriteRound& round,
                           const StepWait& wait) {
    WriteAttempt attempt;
    const TrackSet formats = round.Formats();
    if (!round.BeforeWrite()) return attempt;  // kStopped: nothing was sent
    attempt.write = WriteCard(reader, texts, formats, wait);
    if (attempt.write != StepOutcome::kDone || !round.VerifyAfterWrite()) return attempt;
    attempt.check = WriteCheck::kNotReadBack;
    if (!round.BeforeReadBack()) {
        attempt.readBack = StepOutcome::kStopped;
        return attempt;
    }
    ReceivedBlock block;
    uint8_t differing = 0;
    attempt.readBack = ReadBackWritten(reader, texts, formats, wait, differing, &block);
    if (attempt.readBack == StepOutcome::kDone) {
        attempt.differing = differing;
        if (differing != 0) attempt.verifyDetail = VerifyDifferences(texts, block.raw, formats);
        attempt.check = differing == 0 ? WriteCheck::kVerified : WriteCheck::kDiffers;
    }
    round.AfterReadBack(attempt.readBack == StepOutcome::kDone ? &block : nullptr);
    return attempt;
}

StepOutcome WriteUntilTaken(ReaderCommands& reader, TrackTexts& texts, WriteRound& round,
                            const StepWait& wait) {
    for (;;) {
        const WriteAttempt attempt = WriteAndCheck(reader, texts, round, wait);
        if (attempt.write != StepOutcome::kDone && attempt.write != StepOutcome::kRejected) {
            return attempt.write;
        }
        if (!round.Attempted(attempt, texts)) return StepOutcome::kStopped;
        if (attempt.Taken()) return StepOutcome::kDone;
        // Written, and then no card came back (the link, the time, a stop): the round ends.
        if (attempt.check == WriteCheck::kNotReadBack) return attempt.readBack;
        // Rejected, or not as written: the same texts go onto the next card.
    }
}

StepOutcome EraseCard(ReaderCommands& reader, uint8_t mask, const StepWait& wait) {
    if (wait.stop.stop_requested()) return StepOutcome::kStopped;
    if (reader.EraseTracks(mask) != CommandStatus::kOk) {
        // A reader that answers the command at once stays connected: it refused.
        return Settled(reader.IsConnected() ? StepOutcome::kRefused : StepOutcome::kLinkFailed,
                       wait);
    }
    return AwaitStatus(reader, wait, [&reader] { return reader.WaitEraseStatus(); });
}

}  // namespace tollwick
