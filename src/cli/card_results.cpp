#include "cli/card_results.h"

#include "carddata/hex.h"
#include "carddata/text_filter.h"
#include "cli/interrupt.h"

namespace tollwick {
namespace {

// A failed track carries its bytes as read; an empty one nothing.
TrackResult ResultOf(std::string_view text, const std::vector<uint8_t>& raw, bool failed) {
    TrackResult track;
    if (failed) {
        track.status = TrackStatus::kError;
        track.raw = BytesToHexString(raw);
        return track;
    }
    if (text.empty() || text == kNoDataText) return track;
    track.status = TrackStatus::kOk;
    track.text = text;
    return track;
}

}  // namespace

TrackBytes WithoutTrailingZeros(TrackBytes tracks) {
    for (std::vector<uint8_t>& bytes : tracks) {
        while (!bytes.empty() && bytes.back() == 0) bytes.pop_back();
    }
    return tracks;
}

StepWait CommandWait(double timeoutSeconds) {
    StepWait wait;
    wait.stop = InterruptStop();
    wait.timeout = TimeoutOf(timeoutSeconds);
    // The interrupt also ends the backend's reads: what came as it came may be cut short.
    wait.stopCutsReads = true;
    return wait;
}

int ReportOutcome(Output& out, StepOutcome outcome, double timeoutSeconds,
                  const std::string& rejected) {
    switch (outcome) {
        case StepOutcome::kDone:
            return kExitDone;
        case StepOutcome::kRejected:
        case StepOutcome::kRefused:
            return out.Fail(kExitCheckFailed, rejected);
        case StepOutcome::kTimedOut:
            return out.Fail(kExitNoSwipe, "no card swiped within " + FormatSeconds(timeoutSeconds));
        case StepOutcome::kLinkFailed:
            return out.Fail(kExitNoReader, std::string(StatusText(outcome)));
        case StepOutcome::kTooLong:
            return out.Fail(kExitUsage, std::string(StatusText(outcome)));
        case StepOutcome::kStopped:
            return kExitInterrupted;
        case StepOutcome::kUncertain:
            return ReportUncertain(out, "", "the card may have been written or erased: check it");
    }
    return kExitNoReader;
}

std::string MayHaveBeen(int card, std::string_view verb) {
    return "card " + std::to_string(card) + " may have been " + std::string(verb) + ": check it";
}

int ReportUncertain(Output& out, const std::string& done, const std::string& mayHaveBeen) {
    const std::string what = done.empty() ? mayHaveBeen : done + ", " + mayHaveBeen;
    if (CauseOf(StepOutcome::kUncertain, InterruptStop()) == StepOutcome::kStopped) {
        return out.Fail(kExitInterrupted, "interrupted; " + what);
    }
    return out.Fail(kExitNoReader, std::string(StatusText(StepOutcome::kLinkFailed)) + "; " + what);
}

StepOutcome ReadOneCard(Session& session, const TrackSet& formats, double timeoutSeconds,
                        ReadCard& result) {
    ReaderCommands& reader = session.Reader();
    if (ArmRead(reader, kReadArmTries) != CommandStatus::kOk) {
        return Interrupted() ? StepOutcome::kStopped : StepOutcome::kLinkFailed;
    }
    ReceivedBlock block;
    const StepOutcome outcome = AwaitCard(reader, CommandWait(timeoutSeconds), block);
    if (outcome != StepOutcome::kDone) return outcome;
    const CardCapture capture = DecodeReceived(block, formats, DataType::kIso);
    result.card = capture.card;
    result.damaged = capture.blockDamaged;
    result.raw = WithoutTrailingZeros(capture.raw);
    for (std::size_t t = 0; t < 3; ++t) {
        const bool failed = capture.card.trackErrors & (1u << t);
        result.tracks[t] = ResultOf(capture.card.Text(static_cast<int>(t)), result.raw[t], failed);
    }
    return StepOutcome::kDone;
}

std::string CardLines(const CardTracks& card) {
    std::string lines;
    for (int t = 0; t < 3; ++t) {
        lines += "Track" + std::to_string(t + 1) + ": " + std::string(card.Text(t)) + "\n";
    }
    return lines;
}

std::optional<std::string> CheckTrackText(int index, const std::string& text,
                                          const TrackSettings& settings, DataType type, int limit) {
    const auto fault = FindTrackTextFault(text, settings, type, limit);
    if (!fault) return std::nullopt;
    return "--track" + std::to_string(index + 1) + ": " +
           TrackTextFaultText(*fault, text, settings, type, limit);
}

}  // namespace tollwick
