#include "jobs/job_workers.h"

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>

#include "carddata/write_verify.h"

namespace tollwick {
namespace {

constexpr int kReceivePollMs = 5;
constexpr int kCopyReceivePollMs = 1;
constexpr int kStatusPollMs = 5;
constexpr int kCompareRetryPauseMs = 100;

constexpr char kCommunicationError[] = "Commucation Error";
constexpr char kPleaseSwipe[] = "Please Swipe Card";
constexpr char kVerifyPrompt[] = "Swipe again to verify";

// The worker's end after a link failure: the operator may start another job.
void LinkFailure(JobView& view, const char* message) {
    view.SetMessageText(message);
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

bool PauseUnlessStopped(Clock& clock, std::stop_token stop, int milliseconds) {
    return clock.SleepFor(std::chrono::milliseconds(milliseconds), stop);
}

bool AwaitCard(JobContext& context, CardTracks& card, int pollMs, std::stop_token stop,
               CardCapture* capture) {
    for (;;) {
        if (stop.stop_requested()) return false;
        card.Clear();
        TrackLengths lengths{};
        const int received = context.reader.ReceiveTracks(card, &lengths);
        // A card that came is reported, even to a job being stopped.
        if (received > 0) {
            const TrackFormat format = context.format.Get();
            CardCapture read;
            read.time = std::chrono::system_clock::now();
            read.settings = format.settings;
            read.type = format.type;
            if (received == kReaderOk) {
                for (std::size_t t = 0; t < 3; ++t) {
                    const char* bytes = card.track[t].data();
                    read.raw[t].assign(bytes, bytes + lengths[t]);
                }
                DecodeCard(card, format.settings);
            } else {
                for (int t = 0; t < 3; ++t) card.SetText(t, TrackErrorMarker(t));
                card.trackErrors = 0x7;
                read.blockDamaged = true;
            }
            read.card = card;
            context.flags.reads.Publish(read);
            if (capture != nullptr) *capture = std::move(read);
            return true;
        }
        if (PauseUnlessStopped(context.reader.Link().GetClock(), stop, pollMs)) return false;
    }
}

void ReadBackWritten(JobContext& context, const TrackTexts& written, const TrackSet& formats,
                     CardReport& report, std::stop_token stop) {
    if (report.status != kReaderOk ||
        !context.flags.verifyAfterWrite.load(std::memory_order_acquire)) {
        return;
    }
    JobView& view = context.view;
    view.SetSwipeColour(SwipeColour::kBlue);
    view.SetSwipeLine1(kVerifyPrompt);
    view.ExpectSameCardAgain();
    report.check = WriteCheck::kNotReadBack;
    // Armed as the Read job arms, with one more try; a link that is gone fails the next write.
    CardTracks card;
    CardCapture read;
    if ((context.reader.StartRawRead() == kReaderOk ||
         context.reader.StartRawRead() == kReaderOk) &&
        AwaitCard(context, card, kReceivePollMs, stop, &read)) {
        std::array<std::string, 3> texts;
        for (std::size_t t = 0; t < 3; ++t) {
            texts[t].assign(written[t].data(), strnlen(written[t].data(), written[t].size()));
        }
        // A block that could not be split brought no track: every written track differs.
        report.differing = VerifyWrittenCard(texts, read.raw, formats);
        report.verifyDetail = VerifyDifferences(texts, read.raw, formats);
        report.check = report.differing == 0 ? WriteCheck::kVerified : WriteCheck::kDiffers;
    }
    if (stop.stop_requested()) return;
    view.SetSwipeColour(SwipeColour::kRed);
    view.SetSwipeLine1(kPleaseSwipe);
}

int AwaitWriteStatus(ReaderCommands& reader, std::stop_token stop) {
    for (;;) {
        if (stop.stop_requested()) return 0;
        // A card done is reported, even by a job being stopped.
        const int status = reader.WaitWriteStatus();
        if (status != 0) return status;
        if (PauseUnlessStopped(reader.Link().GetClock(), stop, kStatusPollMs)) return 0;
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

void ReadWorker(JobContext context, std::stop_token stop, const CardFileHooks& files) {
    JobFlags& flags = context.flags;
    JobView& view = context.view;
    for (;;) {
        if (context.reader.StartRawRead() != kReaderOk &&
            context.reader.StartRawRead() != kReaderOk) {
            LinkFailure(view, kCommunicationError);
            return;
        }
        CardReport report = CardReport::Of(ReportKind::kRead, 0);
        if (!AwaitCard(context, report.card, kReceivePollMs, stop)) return;
        if (report.card.trackErrors != 0) {
            // Not counted: the monitor reports it with the count it had.
            view.ShowSwipe(false);
            view.MessageBox("Read Error!!", stop);
            if (stop.stop_requested()) return;
        } else if (flags.toFileActive.load(std::memory_order_acquire) != 0 && files.appendToFile) {
            files.appendToFile(report.card);
        }
        flags.reports.Push(std::move(report));
    }
}

void WriteWorker(JobContext context, std::stop_token stop, TrackTexts texts) {
    for (;;) {
        if (stop.stop_requested()) return;
        const TrackSet formats = context.format.Settings();
        if (context.reader.WriteTracks(texts, formats) != kReaderOk) {
            context.view.SetMessageText("write Error4");
            context.view.ShowSwipe(false);
            return;
        }
        const int status = AwaitWriteStatus(context.reader, stop);
        if (status == 0) return;
        // The texts went out upper-cased; the monitor shows them as written.
        CardTracks written;
        written.track = texts;
        CardReport report = CardReport::Of(ReportKind::kWrite, status, written);
        ReadBackWritten(context, texts, formats, report, stop);
        context.flags.reports.Push(std::move(report));
    }
}

// Copy and Compare arm the reader once per card (Read tries twice) and wait for the swipe; false
// when the link failed (reported) or the job was stopped.
static bool ArmAndAwaitSwipe(JobContext& context, CardTracks& card, int pollMs,
                             std::stop_token stop) {
    if (context.reader.StartRawRead() != kReaderOk) {
        LinkFailure(context.view, kCommunicationError);
        return false;
    }
    return AwaitCard(context, card, pollMs, stop);
}

void CopyWorker(JobContext context, std::stop_token stop) {
    JobFlags& flags = context.flags;
    JobView& view = context.view;
    for (;;) {
        CardTracks card;
        if (!ArmAndAwaitSwipe(context, card, kCopyReceivePollMs, stop)) return;
        const TrackSet settings = context.format.Settings();
        const uint8_t errors = card.trackErrors;
        flags.reports.Push(CardReport::Of(ReportKind::kCopyRead, errors, card));
        if (errors != 0) {
            view.ShowSwipe(false);
            view.MessageBox(" Read <Source> Error!!", stop);
            return;
        }

        TrackTexts write{};
        for (int t = 0; t < 3; ++t) {
            const std::string text = PrepareWriteTrack(card.Text(t), settings[t].bpc);
            text.copy(write[static_cast<std::size_t>(t)].data(), kTrackBufferSize - 1);
        }
        // A target the reader rejected, or that did not read back as written, is asked for
        // again with the same data.
        for (;;) {
            if (stop.stop_requested()) return;
            const TrackSet formats = context.format.Settings();
            if (context.reader.WriteTracks(write, formats) != kReaderOk) {
                LinkFailure(view, "Commucation Error!!");
                return;
            }
            const int status = AwaitWriteStatus(context.reader, stop);
            if (status == 0) return;
            CardReport report = CardReport::Of(ReportKind::kCopyWrite, status);
            ReadBackWritten(context, write, formats, report, stop);
            const bool done = status == kReaderOk && !report.FailedVerify();
            flags.reports.Push(std::move(report));
            if (done) break;
        }
    }
}

void CompareWorker(JobContext context, std::stop_token stop) {
    JobFlags& flags = context.flags;
    JobView& view = context.view;
    // The stage, also in swipeCount: 1 the source is expected, 2 the source was read, 3 a target.
    uint32_t stage = 1;
    flags.swipeCount.store(stage);
    CardTracks source;
    for (;;) {
        CardTracks card;
        if (!ArmAndAwaitSwipe(context, card, kReceivePollMs, stop)) return;
        if (card.trackErrors != 0) {
            // The same card is asked for again; the stage does not change.
            view.ShowSwipe(false);
            if (stage == 1) {
                view.SetMessageText(kCommunicationError);
                view.EnableJobButtons(true);
                view.MessageBox("Read <Source> Error!!", stop);
                if (stop.stop_requested()) return;
                view.SetMessageText("");
            } else {
                view.SetMessageText("Read <Target> Error!!");
            }
            if (PauseUnlessStopped(context.reader.Link().GetClock(), stop, kCompareRetryPauseMs)) {
                return;
            }
            view.ShowSwipe(true);
            continue;
        }
        // The first good card is the source; every later one is a target.
        if (stage == 1) source = card;
        stage = stage == 1 ? 2 : 3;
        flags.swipeCount.store(stage);
        CardReport report = CardReport::Of(ReportKind::kCompare, 0, card);
        report.stage = stage;
        report.source = source;
        flags.reports.Push(std::move(report));
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
