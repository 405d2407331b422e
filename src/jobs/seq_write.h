// The sequential write: a numbered series of cards. Every card carries the three track texts;
// the chosen track also carries a running number that starts at the typed starting number and
// grows by the step after each good card, until the number of cards is done.
#pragma once

#include <cstdint>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>

#include "carddata/track_format.h"
#include "jobs/job_monitor.h"
#include "jobs/job_workers.h"

namespace tollwick {

// What the Sequential Write dialog holds: three digit texts and the track index 0 to 2.
struct SeqWriteEntry {
    std::string start = "0000";
    std::string total = "10";
    std::string step = "1";
    int track = 0;
};

// One run, as the dialog's OK sets it up.
struct SeqWriteRun {
    uint32_t total = 0;
    int32_t step = 0;
    int32_t number = 0;  // the number on the first card
    int width = 0;       // characters of the starting number as typed, leading zeros counted
    int track = 0;       // index 0 to 2
    std::string baseText;
    CardTracks first;  // the first card: the box texts, the starting text as typed appended
};

struct SeqWritePlan {
    std::optional<SeqWriteRun> run;
    std::string refusal;  // why there is no run
};

// The value of the leading decimal digits (an empty text gives 0); beyond 64 bits it stays at
// the largest 64-bit value.
uint64_t LeadingNumber(std::string_view text);
// The number in decimal, with '0's in front up to `width` characters; a longer one is not cut.
std::string SeqNumberText(int64_t number, int width);

// Checks the entry against the box texts and sets the run up. Refused, with the reason, when a
// number of the run would not fit in 32 bits or a card's text would not fit in a track.
SeqWritePlan PlanSeqWrite(const SeqWriteEntry& entry, const TrackTexts& boxes);

// Writes the cards of the run. Every good card moves the number on; a refused card is written
// again with the same number.
void SeqWriteWorker(JobContext context, std::stop_token stop, SeqWriteRun run);

// The dialog's OK after its checks: the swipe window set up (hidden), the first card in the card
// image, the first report raised, the worker started. False when the thread cannot be created.
bool LaunchSeqWrite(JobMonitor& monitor, const SeqWriteRun& run);

}  // namespace tollwick
