// What the card commands add to the card steps (cardsteps/card_steps.h): their wait (--timeout,
// and the interrupt as the stop), what each outcome says and its exit status, a card read in the
// words of the output, and the check of a text to write.
#pragma once

#include <optional>
#include <string>

#include "carddata/data_type.h"
#include "cardsteps/card_steps.h"
#include "cli/json_output.h"
#include "cli/session.h"

namespace tollwick {

// A card command's wait: up to timeoutSeconds (0: no limit), until an interrupt.
StepWait CommandWait(double timeoutSeconds);

// Says what went wrong for outcomes other than kDone, kStopped (an interrupt) and kUncertain,
// which the command words itself; returns the exit status. `rejected` says a kRejected.
int ReportOutcome(Output& out, StepOutcome outcome, double timeoutSeconds,
                  const std::string& rejected);

// "card 2 may have been written: check it" (verb "written" or "erased").
std::string MayHaveBeen(int card, std::string_view verb);
// A card whose write or erase status never came (kUncertain): says so after what the run did
// before (`done`, "1 card written", or empty), with its cause: "interrupted; card 1 may have
// been written: check it" (kExitInterrupted) or "the link to the reader failed; ..."
// (kExitNoReader). Returns that exit status.
int ReportUncertain(Output& out, const std::string& done, const std::string& mayHaveBeen);

struct ReadCard {
    CardTracks card;  // as the desktop program shows it: failed tracks carry their marker
    CardResult tracks;
    // Each track's bytes as the reader delivered them, before decoding (first bit in bit 7 of
    // the first byte; trailing zero bytes left out, as the decode leaves them out).
    TrackBytes raw;
    bool damaged = false;  // the read block could not be taken apart: every track failed
    bool Failed() const { return card.trackErrors != 0; }
};

// Arms a raw read, waits for one card and decodes it with the formats given.
[[nodiscard]] StepOutcome ReadOneCard(Session& session, const TrackSet& formats,
                                      double timeoutSeconds, ReadCard& result);

// The bytes of each track without the zero bytes after its data, as a decode takes them.
TrackBytes WithoutTrailingZeros(TrackBytes tracks);

// "Track1: ...\nTrack2: ...\nTrack3: ...\n".
std::string CardLines(const CardTracks& card);

// Checks one text to write against the track's format; the message says what is wrong.
std::optional<std::string> CheckTrackText(int index, const std::string& text,
                                          const TrackSettings& settings, DataType type, int limit);

}  // namespace tollwick
