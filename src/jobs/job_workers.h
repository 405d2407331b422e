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
#include "cardsteps/card_steps.h"
#include "device/reader_commands.h"
#include "jobs/card_reports.h"
#include "jobs/format_state.h"
#include "jobs/job_flags.h"
#include "jobs/job_view.h"
#include "jobs/read_tap.h"
#include "settings/profile_store.h"

namespace tollwick {

struct JobContext {
    ReaderCommands& reader;
    ProfileStore& profile;
    FormatState& format;
    JobFlags& flags;
    ReportQueue& reports;
    CardReadTap& reads;
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

// How a job waits for the reader: until a card comes or the job is stopped, polling every
// pollMs; a card that came is reported, even to a job being stopped.
StepWait JobWait(std::stop_token stop, int pollMs = 5);

// Sleeps, and returns true at once when a stop is requested.
bool PauseUnlessStopped(Clock& clock, std::stop_token stop, int milliseconds);

// Waits for a swipe (the reader armed) and decodes the card with the formats in force when it
// came: failed tracks hold their error markers (card.trackErrors); a damaged block fails on all
// three tracks. The card as delivered goes to the read tap (and to *capture when given) before
// anything else happens with it. kDone, kStopped, or kLinkFailed.
StepOutcome AwaitJobCard(JobContext& context, CardTracks& card, int pollMs, std::stop_token stop,
                         CardCapture* capture = nullptr);

// The desktop's side of writing a card: formats and verify after write as they are when the
// card is written, the swipe window's "Swipe again to verify" while the card is read back, and
// the card read back handed to the read tap. `report` gets every card the reader answered for;
// it returns false to end the round.
class JobWriteRound final : public WriteRound {
  public:
    using Report = std::function<bool(const WriteAttempt&, const TrackTexts&)>;
    JobWriteRound(JobContext& context, std::stop_token stop, Report report)
        : context_(context), stop_(std::move(stop)), report_(std::move(report)) {}

    TrackSet Formats() override;
    bool VerifyAfterWrite() override;
    bool BeforeReadBack() override;
    void AfterReadBack(const ReceivedBlock* readBack) override;
    bool Attempted(const WriteAttempt& attempt, const TrackTexts& sent) override {
        return report_(attempt, sent);
    }

  private:
    JobContext& context_;
    std::stop_token stop_;
    Report report_;
};

// A card report of a written card: its status and verify-after-write check.
CardReport WrittenReport(ReportKind kind, const WriteAttempt& attempt);

// A read track text made ready for writing: sentinels removed, or empty when the text holds a
// character the track cannot carry. With 8 bits per character the text is taken as it is.
std::string PrepareWriteTrack(std::string_view source, int bpc);
// The job cancel's clean-up of a track box: the sentinels taken off, or empty when the text is
// not track data of that format.
std::string StripSentinels(std::string_view source, const TrackSettings& settings);

}  // namespace tollwick
