// The steps the card commands share: arm and wait for one card to read, send one card and wait
// for its status, wait for an erase's status. Every wait ends on the timeout or an interrupt.
#pragma once

#include <array>
#include <optional>
#include <string>

#include "carddata/card_summary.h"
#include "carddata/data_type.h"
#include "cli/json_output.h"
#include "cli/session.h"

namespace tollwick {

enum class CardOutcome {
    kDone,         // read, written or erased
    kRejected,     // the reader could not write or erase the card
    kNoSwipe,      // no card within the timeout (the reader was reset)
    kLinkFailed,   // the link to the reader failed
    kTooLong,      // the tracks do not fit one write block (nothing sent)
    kInterrupted,  // SIGINT or SIGTERM
};

// Says what went wrong for outcomes other than kDone and kInterrupted; returns the exit status.
int ReportOutcome(Output& out, CardOutcome outcome, double timeoutSeconds,
                  const std::string& rejected);

struct ReadCard {
    CardTracks card;  // as the desktop program shows it: failed tracks carry their marker
    CardResult tracks;
    // Each track's bytes as the reader delivered them, before decoding (first bit in bit 7 of
    // the first byte; trailing zero bytes left out, as the decode leaves them out).
    RecordedTracks raw;
    bool Failed() const { return card.trackErrors != 0; }
};

// Arms a raw read, waits for one card and decodes it with the formats given.
CardOutcome ReadOneCard(Session& session, const TrackSet& formats, double timeoutSeconds,
                        ReadCard& result);

// "Track1: ...\nTrack2: ...\nTrack3: ...\n".
std::string CardLines(const CardTracks& card);

// Sends one card's texts and waits for its status.
CardOutcome WriteOneCard(Session& session, const std::array<std::string, 3>& texts,
                         const TrackSet& formats, double timeoutSeconds);

// write --verify, after a good write: reads the same card again (the operator swipes it; the
// virtual reader is made to) and compares it with the texts written, in the formats written
// with. kDone with the tracks that differ in `differing` (bit 0 track 1; 0: verified) and,
// when asked for, why in `why` (VerifyDifferences).
CardOutcome VerifyOneCard(Session& session, const std::array<std::string, 3>& texts,
                          const TrackSet& formats, double timeoutSeconds, uint8_t& differing,
                          std::string* why = nullptr);

// Waits for the status after an erase command was taken.
CardOutcome AwaitEraseStatus(Session& session, double timeoutSeconds);

// Checks one text to write against the track's format; the message says what is wrong.
std::optional<std::string> CheckTrackText(int index, const std::string& text,
                                          const TrackSettings& settings, DataType type, int limit);

}  // namespace tollwick
