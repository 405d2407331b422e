#include "jobs/job_workers.h"

#include <chrono>

namespace tollwick {
namespace {

constexpr int kReceivePollMs = 5;
constexpr int kCopyReceivePollMs = 1;
constexpr int kCompareRetryPauseMs = 100;

constexpr char kCommunicationError[] = "Commucation Error";
constexpr char kPleaseSwipe[] = "Please Swipe Card";
constexpr char kVerifyPrompt[] = "Swipe again to verify";

// The worker's end after a link failure: the operator may start another job.
void LinkFailure(JobView& view, const char* message) {
    view.SetMessageLineDirectly(message);
    view.ShowSwipe(false);
    view.EnableJobButtons(true);
}

bool InRange(char ch, int low, int high) {
    const int value = static_cast<unsigned char>(ch);
    return value >= low && value <= high;
}

// The source without its first and last character.
std::string Inner(std::string_view source) {
    if (source.size() < 2) return {};
    return std::string(source.substr(1, source.size() - 2));
}

std::string_view Bounded(std::string_view source) {
    return source.substr(0, kTrackBufferSize - 1);
}

}  // namespace

StepWait JobWait(std::stop_token stop, int pollMs) {
    StepWait wait;
    wait.stop = std::move(stop);
    wait.poll = std::chrono::milliseconds(pollMs);
    return wait;
}

bool PauseUnlessStopped(Clock& clock, std::stop_token stop, int milliseconds) {
    return clock.SleepFor(std::chrono::milliseconds(milliseconds), stop);
}

StepOutcome AwaitJobCard(JobContext& context, CardTracks& card, int pollMs, std::stop_token stop,
                         CardCapture* capture) {
    ReceivedBlock block;
    const StepOutcome got = AwaitCard(context.reader, JobWait(stop, pollMs), block);
    if (got != StepOutcome::kDone) return got;
    const TrackFormat format = context.format.Get();
    CardCapture read = DecodeReceived(block, format.settings, format.type);
    card = read.card;
    context.reads.Publish(read);
    if (capture != nullptr) *capture = std::move(read);
    return StepOutcome::kDone;
}

TrackSet JobWriteRound::Formats() {
    return context_.format.Settings();
}

bool JobWriteRound::VerifyAfterWrite() {
    return context_.flags.verifyAfterWrite.load(std::memory_order_acquire);
}

bool JobWriteRound::BeforeReadBack() {
    JobView& view = context_.view;
    view.SetSwipeColour(SwipeColour::kBlue);
    view.SetSwipeLine1(kVerifyPrompt);
    view.ExpectSameCardAgain();
    return true;
}

void JobWriteRound::AfterReadBack(const ReceivedBlock* readBack) {
    if (readBack != nullptr) {
        const TrackFormat format = context_.format.Get();
        context_.reads.Publish(DecodeReceived(*readBack, format.settings, format.type));
    }
    if (stop_.stop_requested()) return;
    context_.view.SetSwipeColour(SwipeColour::kRed);
    context_.view.SetSwipeLine1(kPleaseSwipe);
}

CardReport WrittenReport(ReportKind kind, const WriteAttempt& attempt) {
    CardReport report = CardReport::Of(
        kind, attempt.write == StepOutcome::kDone ? CardStatus::kDone : CardStatus::kRejected);
    report.check = attempt.check;
    report.differing = attempt.differing;
    report.verifyDetail = attempt.verifyDetail;
    return report;
}

void ReadWorker(JobContext context, std::stop_token stop, const CardFileHooks& files) {
    JobFlags& flags = context.flags;
    JobView& view = context.view;
    for (;;) {
        if (ArmRead(context.reader, kReadArmTries) != CommandStatus::kOk) {
            LinkFailure(view, kCommunicationError);
            return;
        }
        CardReport report = CardReport::Of(ReportKind::kRead, CardStatus::kDone);
        const StepOutcome got = AwaitJobCard(context, report.card, kReceivePollMs, stop);
        if (got == StepOutcome::kStopped) return;
        if (got != StepOutcome::kDone) {
            LinkFailure(view, kCommunicationError);
            return;
        }
        if (report.card.trackErrors != 0) {
            // Not counted: the monitor reports it with the count it had.
            view.ShowSwipe(false);
            view.MessageBox("Read Error!!", stop);
            if (stop.stop_requested()) return;
        } else if (flags.toFileActive.load(std::memory_order_acquire) != 0 && files.appendToFile) {
            files.appendToFile(report.card);
        }
        context.reports.Push(std::move(report));
    }
}

void WriteWorker(JobContext context, std::stop_token stop, TrackTexts texts) {
    JobWriteRound round(context, stop,
                        [&context](const WriteAttempt& attempt, const TrackTexts& sent) {
                            // The texts went out upper-cased; the monitor shows them as written.
                            CardReport report = WrittenReport(ReportKind::kWrite, attempt);
                            report.card.SetTexts(sent);
                            context.reports.Push(std::move(report));
                            return true;
                        });
    for (;;) {
        const WriteAttempt attempt = WriteAndCheck(context.reader, texts, round, JobWait(stop));
        // The window's texts are fixed: a card whose status never came is handled as the stop
        // or the failed link that ended its wait.
        const StepOutcome written = CauseOf(attempt.write, stop);
        if (written == StepOutcome::kStopped) return;
        if (written != StepOutcome::kDone && written != StepOutcome::kRejected) {
            context.view.SetMessageLineDirectly("write Error4");
            context.view.ShowSwipe(false);
            return;
        }
        round.Attempted(attempt, texts);
    }
}

// Copy and Compare arm the reader once per card (Read tries twice) and wait for the swipe; false
// when the link failed (reported) or the job was stopped.
static bool ArmAndAwaitSwipe(JobContext& context, CardTracks& card, int pollMs,
                             std::stop_token stop) {
    if (ArmRead(context.reader, kSourceArmTries) != CommandStatus::kOk) {
        LinkFailure(context.view, kCommunicationError);
        return false;
    }
    const StepOutcome got = AwaitJobCard(context, card, pollMs, stop);
    if (got == StepOutcome::kLinkFailed) LinkFailure(context.view, kCommunicationError);
    return got == StepOutcome::kDone;
}

void CopyWorker(JobContext context, std::stop_token stop) {
    JobView& view = context.view;
    for (;;) {
        CardTracks card;
        if (!ArmAndAwaitSwipe(context, card, kCopyReceivePollMs, stop)) return;
        const TrackSet settings = context.format.Settings();
        context.reports.Push(CardReport::Of(ReportKind::kCopyRead, CardStatus::kDone, card));
        if (card.trackErrors != 0) {
            view.ShowSwipe(false);
            view.MessageBox(" Read <Source> Error!!", stop);
            return;
        }

        TrackTexts write;
        for (int t = 0; t < 3; ++t) {
            write[static_cast<std::size_t>(t)] =
                PrepareWriteTrack(card.Text(t), settings[static_cast<std::size_t>(t)].bpc);
        }
        // A target the reader rejected, or that did not read back as written, is asked for
        // again with the same data.
        JobWriteRound round(
            context, stop, [&context](const WriteAttempt& attempt, const TrackTexts&) {
                context.reports.Push(WrittenReport(ReportKind::kCopyWrite, attempt));
                return true;
            });
        // The window's texts are fixed: a card whose status never came is handled as the stop
        // or the failed link that ended its wait.
        const StepOutcome written =
            CauseOf(WriteUntilTaken(context.reader, write, round, JobWait(stop)), stop);
        if (written == StepOutcome::kStopped) return;
        if (written != StepOutcome::kDone) {
            LinkFailure(view, "Commucation Error!!");
            return;
        }
    }
}

void CompareWorker(JobContext context, std::stop_token stop) {
    JobFlags& flags = context.flags;
    JobView& view = context.view;
    // The stage is also the swipe window's number while Compare runs.
    CompareStage stage = CompareStage::kSourceExpected;
    flags.swipeCount.store(static_cast<uint32_t>(stage));
    CardTracks source;
    for (;;) {
        CardTracks card;
        if (!ArmAndAwaitSwipe(context, card, kReceivePollMs, stop)) return;
        if (card.trackErrors != 0) {
            // The same card is asked for again; the stage does not change.
            view.ShowSwipe(false);
            if (stage == CompareStage::kSourceExpected) {
                view.SetMessageLineDirectly(kCommunicationError);
                view.EnableJobButtons(true);
                view.MessageBox("Read <Source> Error!!", stop);
                if (stop.stop_requested()) return;
                view.SetMessageLineDirectly("");
            } else {
                view.SetMessageLineDirectly("Read <Target> Error!!");
            }
            if (PauseUnlessStopped(context.reader.Link().GetClock(), stop, kCompareRetryPauseMs)) {
                return;
            }
            view.ShowSwipe(true);
            continue;
        }
        // The first good card is the source; every later one is a target.
        if (stage == CompareStage::kSourceExpected) {
            source = card;
            stage = CompareStage::kSourceRead;
        } else {
            stage = CompareStage::kTargetRead;
        }
        flags.swipeCount.store(static_cast<uint32_t>(stage));
        CardReport report = CardReport::Of(ReportKind::kCompare, CardStatus::kDone, card);
        report.stage = stage;
        report.source = source;
        context.reports.Push(std::move(report));
    }
}

std::string PrepareWriteTrack(std::string_view source, int bpc) {
    source = Bounded(source);
    if (source.empty()) return {};
    if (bpc == 8) return std::string(source);
    for (std::size_t i = 0; i < source.size(); ++i) {
        const char ch = source[i];
        const bool fits = bpc == 7
                              ? InRange(ch, 0x20, 0x5F)
                              : InRange(ch, 0x30, 0x3F) || (i == 0 && (ch == ';' || ch == '+'));
        if (!fits) return {};
    }
    const bool sentinels =
        bpc == 7 ? source.front() == '%' : (source.front() == ';' || source.front() == '+');
    return sentinels ? Inner(source) : std::string(source);
}

std::string StripSentinels(std::string_view source, const TrackSettings& settings) {
    source = Bounded(source);
    if (source.empty()) return {};
    const bool wide = settings.bpc >= 6;
    const auto isStart = [&](char ch) {
        return ch == settings.startSentinel || (!wide && ch == '+');
    };
    const std::size_t last = source.size() - 1;
    for (std::size_t i = 0; i < source.size(); ++i) {
        const char ch = source[i];
        if (i == 0 && isStart(ch)) continue;
        if (i == last && ch == settings.endSentinel) continue;
        if (!(wide ? InRange(ch, 0x20, 0x5F) : InRange(ch, 0x30, 0x3F))) return {};
    }
    return isStart(source.front()) ? Inner(source) : std::string(source);
}

}  // namespace tollwick
