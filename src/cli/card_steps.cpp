#include "cli/card_steps.h"

#include <algorithm>
#include <sstream>

#include "carddata/hex.h"
#include "carddata/text_filter.h"
#include "carddata/track_codec.h"
#include "carddata/write_verify.h"
#include "cli/interrupt.h"

namespace tollwick {
namespace {

constexpr int kPollPauseMs = 5;

// A step that failed while an interrupt came failed because of it: the reads give up and no
// device is found once the flag is up.
CardOutcome Settled(CardOutcome outcome) {
    return outcome != CardOutcome::kDone && Interrupted() ? CardOutcome::kInterrupted : outcome;
}

// Polls a status wait (write or erase) until the reader answers, the time is up or an
// interrupt comes.
template <typename Wait>
CardOutcome AwaitStatus(Session& session, Wait wait, double timeoutSeconds) {
    const Deadline deadline(timeoutSeconds);
    for (;;) {
        if (Interrupted()) return CardOutcome::kInterrupted;
        const int status = wait();
        if (Interrupted()) return CardOutcome::kInterrupted;
        if (status == kReaderOk) return CardOutcome::kDone;
        if (status == -2) return CardOutcome::kRejected;
        if (status == -1) return Settled(CardOutcome::kLinkFailed);
        if (deadline.Passed()) {
            session.Reader().ResetReader();
            return CardOutcome::kNoSwipe;
        }
        if (!PauseUnlessInterrupted(kPollPauseMs)) return CardOutcome::kInterrupted;
    }
}

TrackResult DecodedTrack(const TrackBuffer& buffer, bool failed) {
    TrackResult track;
    if (failed) {
        track.status = TrackStatus::kError;
        const std::size_t n = RawLength(buffer);
        track.raw = BytesToHexString(
            std::vector<uint8_t>(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(n)));
        return track;
    }
    const std::string_view text(buffer.data());
    if (text.empty() || text == kNoDataText) return track;
    track.status = TrackStatus::kOk;
    track.text = text;
    return track;
}

}  // namespace

int ReportOutcome(Output& out, CardOutcome outcome, double timeoutSeconds,
                  const std::string& rejected) {
    switch (outcome) {
        case CardOutcome::kDone:
            return kExitDone;
        case CardOutcome::kRejected:
            return out.Fail(kExitCheckFailed, rejected);
        case CardOutcome::kNoSwipe:
            return out.Fail(kExitNoSwipe, "no card swiped within " + FormatSeconds(timeoutSeconds));
        case CardOutcome::kLinkFailed:
            return out.Fail(kExitNoReader, "the link to the reader failed");
        case CardOutcome::kTooLong:
            return out.Fail(kExitUsage, "the tracks are too long to be written in one block");
        case CardOutcome::kInterrupted:
            return kExitInterrupted;
    }
    return kExitNoReader;
}

CardOutcome ReadOneCard(Session& session, const TrackSet& formats, double timeoutSeconds,
                        ReadCard& result) {
    ReaderCommands& reader = session.Reader();
    if (reader.StartRawRead() != kReaderOk && reader.StartRawRead() != kReaderOk) {
        return Settled(CardOutcome::kLinkFailed);
    }
    const Deadline deadline(timeoutSeconds);
    CardTracks& card = result.card;
    for (;;) {
        if (Interrupted()) return CardOutcome::kInterrupted;
        const int received = reader.ReceiveTracks(card);
        // A block cut short by the interrupt is not a card.
        if (Interrupted()) return CardOutcome::kInterrupted;
        if (received > 0) break;
        if (received == -1) return Settled(CardOutcome::kLinkFailed);
        if (deadline.Passed()) {
            reader.ResetReader();
            return CardOutcome::kNoSwipe;
        }
        if (!PauseUnlessInterrupted(kPollPauseMs)) return CardOutcome::kInterrupted;
    }
    for (std::size_t t = 0; t < 3; ++t) {
        const TrackBuffer& buffer = card.track[t];
        result.raw[t].assign(buffer.begin(),
                             buffer.begin() + static_cast<std::ptrdiff_t>(RawLength(buffer)));
    }
    const uint8_t errors = DecodeTracks(card, formats);
    for (int t = 0; t < 3; ++t) {
        const bool failed = errors & (1u << t);
        // The bytes as read are taken before the marker replaces them.
        result.tracks[static_cast<std::size_t>(t)] =
            DecodedTrack(card.track[static_cast<std::size_t>(t)], failed);
        if (failed) card.SetText(t, TrackErrorMarker(t));
    }
    card.trackErrors = errors;
    return CardOutcome::kDone;
}

std::string CardLines(const CardTracks& card) {
    std::string lines;
    for (int t = 0; t < 3; ++t) {
        lines += "Track" + std::to_string(t + 1) + ": " + std::string(card.Text(t)) + "\n";
    }
    return lines;
}

CardOutcome WriteOneCard(Session& session, const std::array<std::string, 3>& texts,
                         const TrackSet& formats, double timeoutSeconds) {
    ReaderCommands& reader = session.Reader();
    TrackTexts buffers{};
    for (std::size_t t = 0; t < 3; ++t) {
        const std::size_t n = std::min(texts[t].size(), buffers[t].size() - 1);
        std::copy_n(texts[t].begin(), n, buffers[t].begin());
    }
    if (Interrupted()) return CardOutcome::kInterrupted;
    const int result = reader.WriteTracks(buffers, formats);
    if (result == kTooLong) return CardOutcome::kTooLong;
    if (result != kReaderOk) return Settled(CardOutcome::kLinkFailed);
    return AwaitStatus(
        session, [&reader] { return reader.WaitWriteStatus(); }, timeoutSeconds);
}

CardOutcome VerifyOneCard(Session& session, const std::array<std::string, 3>& texts,
                          const TrackSet& formats, double timeoutSeconds, uint8_t& differing,
                          std::string* why) {
    session.SwipeLastCardAgain();
    ReadCard read;
    const CardOutcome outcome = ReadOneCard(session, formats, timeoutSeconds, read);
    if (outcome == CardOutcome::kDone) differing = VerifyWrittenCard(texts, read.raw, formats);
    if (outcome == CardOutcome::kDone && why) *why = VerifyDifferences(texts, read.raw, formats);
    return outcome;
}

CardOutcome AwaitEraseStatus(Session& session, double timeoutSeconds) {
    ReaderCommands& reader = session.Reader();
    return AwaitStatus(
        session, [&reader] { return reader.WaitEraseStatus(); }, timeoutSeconds);
}

std::optional<std::string> CheckTrackText(int index, const std::string& text,
                                          const TrackSettings& settings, DataType type, int limit) {
    const std::string track = "--track" + std::to_string(index + 1);
    if (static_cast<int>(text.size()) > limit) {
        return track + ": " + std::to_string(text.size()) +
               " characters, this track holds at most " + std::to_string(limit);
    }
    if (auto refused = FirstRefusedCharacter(text, settings, type)) {
        const char ch = text[*refused];
        std::ostringstream why;
        why << track << ": character ";
        if (ch >= 0x20 && ch < 0x7F) {
            why << "'" << ch << "'";
        } else {
            why << "0x" << std::hex << (static_cast<int>(static_cast<unsigned char>(ch)));
        }
        why << " at position " << std::dec << *refused + 1 << " cannot be written on this track";
        if (type == DataType::kRaw) {
            why << " (Raw Type takes hexadecimal digits)";
        } else if (ch == settings.startSentinel || ch == settings.endSentinel) {
            why << " (it is the track's sentinel, which is added when writing)";
        }
        return why.str();
    }
    if (type == DataType::kRaw && text.size() % 2 != 0) {
        return track + ": hexadecimal text needs an even number of digits";
    }
    return std::nullopt;
}

}  // namespace tollwick
