// What the reader's commands answer. Each kind of answer has its own enumeration; the values are
// the reader protocol's own integers (48 is the character '0' of the reader's status byte), so a
// value can be logged or compared with a trace as it is. StatusText says any of them in words.
#pragma once

#include <string_view>

namespace tollwick {

// Commands that send and do not wait for a card: ResetReader, StartRawRead, WriteTracks,
// EraseTracks, and the reply commands SetHiCo, SetLoCo, QueryCoercivity, ReadVersion.
enum class CommandStatus : int {
    kOk = 48,        // sent (and, for a reply command, answered as expected)
    kFailed = -1,    // not connected, or the link failed (the reader is then marked gone);
                     // EraseTracks: also a reader that answered at once (it refused)
    kBadReply = -3,  // reply commands: the second byte is missing or not the expected one
    kNoReply = -4,   // reply commands: the first byte is missing or not ESC
    kTooLong = -5,   // WriteTracks: the tracks cannot be carried (nothing was sent)
};

// The reader's status after a card (WaitWriteStatus, WaitEraseStatus) or a setting
// (SetTrack2Density).
enum class CardStatus : int {
    kDone = 48,        // ESC '0': written, erased, set
    kNoReplyYet = 0,   // nothing within the wait: no card yet, poll again
    kNotPending = -1,  // the status waits: no write or erase was sent since the last connect or
                       // reset; SetTrack2Density: not connected, or the link failed
    kRejected = -2,    // any other reply: the reader could not write or erase the card
};

// The read block after a swipe (ReceiveTracks).
enum class ReceiveResult : int {
    kReceived = 48,     // '0': a block came and was taken apart into the three tracks
    kSplitFailed = 49,  // '1': bytes came, but they are no read block (no ESC 's' header, or a
                        // bad or out-of-order track number): no track came whole
    kNoSwipe = -2,      // no byte within 350 ms: no card yet, poll again
    kNotConnected = -1,
};

// "done", "no card swiped yet", "the reader rejected the card", ...
std::string_view StatusText(CommandStatus status);
std::string_view StatusText(CardStatus status);
std::string_view StatusText(ReceiveResult result);

}  // namespace tollwick
