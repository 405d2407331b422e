// One card at a time, as both programs handle it: arm the reader, wait for a card or a status,
// take a read block apart, write a card and verify it, write it again when the reader refused
// it. The desktop job workers and the command-line tool call these; neither has its own copy.
//
// Every wait polls the reader and pauses on the link's clock (tests run on virtual time), and
// ends on the stop token; with a timeout, also when the time is up. No step starts a thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>

#include "carddata/card_capture.h"
#include "device/reader_commands.h"

namespace tollwick {

// How a step waits for the reader.
struct StepWait {
    std::stop_token stop;
    // No card (or status) within this time: the reader is disarmed (reset) and the step ends
    // kTimedOut. None: the step waits until the reader answers or the stop comes.
    std::optional<std::chrono::milliseconds> timeout;
    // The stop also cuts the link's reads short (the command line's interrupt reaches the HID
    // backend): a block or status that came as it came may be cut off, and is not taken; a
    // failure is then put down to the stop. Without it (a job's cancel), what came is taken:
    // a card that came is reported, even to a job being stopped.
    bool stopCutsReads = false;
    // The pause between two polls of the reader. It changes nothing the program does: what the
    // reader sends meanwhile waits in the input buffer for the next poll. It keeps a wait whose
    // link is gone (each poll then returns at once) from spinning.
    std::chrono::milliseconds poll{5};
};

enum class StepOutcome {
    kDone,        // read, written or erased
    kRejected,    // the reader's status: it could not write or erase the card
    kRefused,     // the reader answered the erase command at once: it will not erase
    kTimedOut,    // nothing within the timeout; the reader was disarmed
    kLinkFailed,  // not connected, or the link failed
    kTooLong,     // the tracks cannot be written in one block (nothing was sent)
    kStopped,     // the stop came first
    // A write or erase went out to the reader and its status never came back: the wait ended on
    // the stop or on a failed link (the stop token tells which; a pulled cable shows when the
    // reset at the timeout fails). A card swiped meanwhile may have been written or erased: it
    // is uncertain, neither done nor rejected.
    kUncertain,
};
std::string_view StatusText(StepOutcome outcome);

// The cause of a step's end, for a caller that handles a card of unknown fate as it handles the
// stop or a failed link: kUncertain becomes kStopped when `stop` was requested, else
// kLinkFailed; every other outcome stays as it is.
StepOutcome CauseOf(StepOutcome outcome, const std::stop_token& stop);

// --- Reading ---

// How many times a job sends the raw read command before it gives up on the link: Read, To
// File and the read-back of verify after write try twice, Copy and Compare once.
inline constexpr int kReadArmTries = 2;
inline constexpr int kSourceArmTries = 1;

// Sends StartRawRead, up to `tries` times until the reader takes it.
[[nodiscard]] CommandStatus ArmRead(ReaderCommands& reader, int tries);

// A swipe's read block, taken apart.
struct ReceivedBlock {
    TrackBytes raw;        // per track the bytes it brought, clocking zeros included
    bool damaged = false;  // no read block (cut short, or not one): no track came whole
};

// Polls ReceiveTracks until a swipe's block has come (the reader must be armed).
[[nodiscard]] StepOutcome AwaitCard(ReaderCommands& reader, const StepWait& wait,
                                    ReceivedBlock& block);

// Decodes a block in `settings`: failed tracks hold their error markers (card.trackErrors). A
// damaged block fails on all three tracks: it is never taken for a card without data.
CardCapture DecodeReceived(const ReceivedBlock& block, const TrackSet& settings, DataType type);

// Decodes the card image in place and replaces each failed track by its error marker; the
// error bits (also in card.trackErrors).
uint8_t DecodeCard(CardTracks& card, const TrackSet& settings);

// --- Writing ---

// Sends the texts (left upper-cased, as they went out) and waits for the reader's status of
// the card swiped: kDone, kRejected, kUncertain when the block went out and the stop or a failed
// link ended the wait, or why nothing was written (kStopped before the block went out, kTooLong,
// kLinkFailed, kTimedOut).
[[nodiscard]] StepOutcome WriteCard(ReaderCommands& reader, TrackTexts& texts,
                                    const TrackSet& formats, const StepWait& wait);

// Verify after write: the card just written is read again (armed as a read is) and compared
// track by track with `written` in `formats`, those the write was encoded with (see
// carddata/write_verify.h for what counts as written). kDone with the tracks that differ in
// `differing` (bit 0 track 1; 0: verified), and the block read back in *readBack when given.
[[nodiscard]] StepOutcome ReadBackWritten(ReaderCommands& reader, const TrackTexts& written,
                                          const TrackSet& formats, const StepWait& wait,
                                          uint8_t& differing, ReceivedBlock* readBack = nullptr);

// Verify after write: what became of a card the reader reported written.
enum class WriteCheck : uint8_t {
    kNone,         // not asked (verify after write is off), or the reader did not write it
    kVerified,     // read back as written
    kDiffers,      // read back, and some tracks are not as written
    kNotReadBack,  // no card came back: the link failed, the time was up, or a stop came
};

// One card written, and checked when verify after write is on.
struct WriteAttempt {
    StepOutcome write = StepOutcome::kStopped;
    WriteCheck check = WriteCheck::kNone;
    StepOutcome readBack = StepOutcome::kDone;  // why a card was kNotReadBack
    uint8_t differing = 0;                      // kDiffers: bit 0 track 1 ... bit 2 track 3
    std::string verifyDetail;                   // kDiffers: why, per track (VerifyDifferences)

    // Written, but not read back as written: it counts as failed, and its data goes onto the
    // next card, as a rejected card's does.
    bool FailedVerify() const {
        return check == WriteCheck::kDiffers || check == WriteCheck::kNotReadBack;
    }
    // The card is done: written, and verified when that was asked.
    bool Taken() const { return write == StepOutcome::kDone && !FailedVerify(); }
};

// What a program does around each card it writes.
class WriteRound {
  public:
    virtual ~WriteRound() = default;
    // The formats the next card is encoded in (a change applies to the next card).
    virtual TrackSet Formats() = 0;
    // Whether the next card written is read back and compared.
    virtual bool VerifyAfterWrite() = 0;
    // The write block is about to go out (a journal records the attempt first). False: it is
    // not sent, and the round ends (kStopped).
    virtual bool BeforeWrite() { return true; }
    // The reader wrote the card and it is about to be read back (ask for the same card again).
    // False: it is not read back, and the round ends (kStopped).
    virtual bool BeforeReadBack() { return true; }
    // The read-back ended; the block read when a card came.
    virtual void AfterReadBack(const ReceivedBlock* /*readBack*/) {}
    // Every card the reader answered for (written or rejected), with its check. False ends the
    // round (kStopped).
    virtual bool Attempted(const WriteAttempt& attempt, const TrackTexts& sent) = 0;
};

// Writes one card, and with verify after write reads it back.
WriteAttempt WriteAndCheck(ReaderCommands& reader, TrackTexts& texts, WriteRound& round,
                           const StepWait& wait);

// Writes the texts until a card takes them: a card the reader rejected, or that did not read
// back as written, is reported and the same texts go onto the next card swiped. kDone once a
// card was taken; otherwise why the round ended (the link failed, a stop, kUncertain for a card
// whose status never came: it is not reported to Attempted, which hears only answered cards).
[[nodiscard]] StepOutcome WriteUntilTaken(ReaderCommands& reader, TrackTexts& texts,
                                          WriteRound& round, const StepWait& wait);

// --- Erasing ---

// Sends the erase of the tracks in `mask` (bit 0 track 1) and waits for the status of the card
// swiped: kDone, kRejected, kRefused when the reader answered the command at once, kUncertain
// when the command went out and the stop or a failed link ended the wait, or why nothing was
// erased (kStopped before the command went out, kLinkFailed, kTimedOut).
[[nodiscard]] StepOutcome EraseCard(ReaderCommands& reader, uint8_t mask, const StepWait& wait);

}  // namespace tollwick
