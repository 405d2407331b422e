// The Erase job: the chosen tracks of one card after another are wiped. The worker arms the
// reader, waits for the swiped card's status, hands it to the monitor and arms the reader again
// at once; the job ends only by its cancel, or when the reader is gone.
#pragma once

#include <cstdint>
#include <stop_token>

#include "jobs/job_workers.h"

namespace tollwick {

// Tracks to erase: bit 0 track 1, bit 1 track 2, bit 2 track 3.
inline constexpr uint8_t kEraseTrack1 = 1;
inline constexpr uint8_t kEraseTrack2 = 2;
inline constexpr uint8_t kEraseTrack3 = 4;

// Erases, on every card swiped, the tracks of `flags.eraseMask` as it is when the reader is armed
// for that card: Erase Select's ticks apply from the next card on. A refused erase command is
// reported ("Erase Fail") and tried again; without a reader the job ends after one report.
void EraseWorker(JobContext context, std::stop_token stop);

// Polls WaitEraseStatus (5 ms apart) until the reader answered; the status, or 0 when stopped
// before it came.
int AwaitEraseStatus(ReaderCommands& reader, std::stop_token stop);

}  // namespace tollwick
