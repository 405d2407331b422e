// The card job workers and what they share: waiting for a swipe or a write reply, decoding a card
// with its error markers, and preparing read tracks for writing.
//
// A worker runs on its own thread. It reaches the window only through JobView and hands every
// finished card to the monitor as one report in JobFlags, the card with its outcome. Each wait
// checks the stop token, so a cancel ends the worker where it waits.
#pragma once

#include <functional>
#include <stop_token>
#include <string>
#include <string_view>

#include "carddata/track_format.h"
#include "device/reader_commands.h"
#include "jobs/format_state.h"
#include "jobs/job_flags.h"
#include "jobs/job_view.h"
#include "settings/profile_store.h"

namespace tollwick {

struct JobContext {
    ReaderCommands& reader;
    ProfileStore& profile;
    FormatState& format;
    JobFlags& flags;
    JobView& view;
};

// The From File and To File card files belong to their own jobs; the Read worker and the job
// cancel reach them through these.
struct CardFileHooks {
    std::function<void(const CardTracks&)> appendToFile;  // a good read while toFileActive
    std::function<void()> closeFiles;                     // the job cancel
};

// Read (and To File), Write, Copy and Compare.
void ReadWorker(JobContext context, std::stop_token stop, const CardFileHooks& files = {});
// Writes `texts` on every card swiped.
void WriteWorker(JobContext context, std::stop_token stop, TrackTexts texts);
void CopyWorker(JobContext context, std::stop_token stop);
void CompareWorker(JobContext context, std::stop_token stop);

// --- Pieces the workers share ---

// Sleeps, and returns true at once when a stop is requested.
bool PauseUnlessStopped(Clock& clock, std::stop_token stop, int milliseconds);
// Polls ReceiveTracks until a swipe's data has come, pausing pollMs between attempts, and
// decodes the card with the settings in force: failed tracks hold their error markers
// (card.trackErrors). A block that cannot be split (cut short, or not a read block) fails on all
// three tracks: it is never taken for a card without data. The card as delivered goes to the
// read tap of JobFlags (and to *capture when given) before anything else happens with it. False
// when stopped before a card came.
bool AwaitCard(JobContext& context, CardTracks& card, int pollMs, std::stop_token stop,
               CardCapture* capture = nullptr);
// Verify after write, when it is on, for a card the reader reported written (status 48): the
// swipe window asks for the same card again ("Swipe again to verify"), the reader is armed, the
// card read back is compared track by track with `written` in `formats` (those the write was
// encoded with; see carddata/write_verify.h for what counts as written), and the outcome goes
// into report.check and report.differing. Stopped while it waits, or with the link gone, the
// card is kNotReadBack. Leaves the swipe window red with "Please Swipe Card" unless stopped.
void ReadBackWritten(JobContext& context, const TrackTexts& written, const TrackSet& formats,
                     CardReport& report, std::stop_token stop);
// Polls WaitWriteStatus (5 ms apart) until the reader answered; the status, or 0 when stopped
// before it came.
int AwaitWriteStatus(ReaderCommands& reader, std::stop_token stop);
// Decodes the card with the settings and replaces each failed track by its error marker.
// Returns the error bits (also in card.trackErrors).
uint8_t DecodeCard(CardTracks& card, const TrackSet& settings);

// A read track text made ready for writing: sentinels removed, or empty when the text holds a
// character the track cannot carry. With 8 bits per character the text is taken as it is.
std::string PrepareWriteTrack(std::string_view source, int bpc);
// The job cancel's clean-up of a track box: the sentinels taken off, or empty when the text is
// not track data of that format.
std::string StripSentinels(std::string_view source, const TrackSettings& settings);

}  // namespace tollwick
