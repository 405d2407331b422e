#include "carddata/write_verify.h"

#include <algorithm>
#include <bit>
#include <optional>

#include "carddata/track_codec.h"
#include "carddata/track_inspector.h"

namespace tollwick {
namespace {

// The bits from the first one bit to the last one, as '0' and '1' (bit 7 of a byte first).
std::string SignificantBits(std::span<const uint8_t> bytes) {
    std::string bits;
    bits.reserve(bytes.size() * 8);
    for (uint8_t byte : bytes) {
        for (int b = 7; b >= 0; --b) bits.push_back(((byte >> b) & 1) ? '1' : '0');
    }
    const std::size_t first = bits.find('1');
    if (first == std::string::npos) return {};
    return bits.substr(first, bits.rfind('1') - first + 1);
}

// The start sentinel to end sentinel of the characters an inspection shows.
std::string FrameTextOf(const TrackInspection& in) {
    std::string text;
    for (int k = 0; k <= in.endSentinelIndex; ++k) {
        text.push_back(in.characters[static_cast<std::size_t>(k)].text);
    }
    return text;
}

// The text of a track's bytes as read, decoded in its format; nothing when it fails its check.
std::optional<std::string> Decoded(std::span<const uint8_t> bytes, const TrackSettings& settings) {
    TrackBuffer buffer{};
    std::copy_n(bytes.begin(), std::min(bytes.size(), buffer.size() - 1), buffer.begin());
    if (DecodeTrack(buffer, settings)) return std::nullopt;
    return std::string(buffer.data());
}

// What a write of the text sends, in read order: nothing when it cannot be sent; empty for an
// empty text.
std::optional<std::vector<uint8_t>> Sent(std::string_view written, const TrackSettings& settings,
                                         bool rawType) {
    std::string text(written);
    for (char& ch : text) {
        if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 'a' + 'A');
    }
    const std::optional<std::vector<uint8_t>> sent =
        rawType ? EncodeRawTrack(text) : EncodeTrack(text, settings);
    if (!sent) return std::nullopt;
    std::vector<uint8_t> recorded(sent->size());
    ReverseBits(sent->data(), recorded.data(), recorded.size());
    return recorded;
}

// What the inspector says is wrong with a track read back that fails its check.
std::string WhyReadFails(const TrackInspection& in, const std::optional<std::string>& expected) {
    const auto holdsIt = [&](const std::string& text) { return expected && text == *expected; };
    switch (in.finding) {
        case Finding::kBitError:
        case Finding::kBitSlip:
            return RepairText(*in.repair) +
                   (holdsIt(in.repair->text) ? "" : "; even so it is not what was written");
        case Finding::kEndedEarly:
            return "the swipe ended early after " + std::to_string(in.endedAfter) +
                   (in.endedAfter == 1 ? " character" : " characters");
        case Finding::kStrayBits:
            return std::to_string(in.strayOnes) +
                   (in.strayOnes == 1 ? " stray bit" : " stray bits") +
                   " before the start sentinel" +
                   (holdsIt(FrameTextOf(in)) ? "; after them it holds what was written" : "");
        case Finding::kOtherReading: {
            const TrackCandidate& c = in.candidates.front();
            std::string why;
            if (c.direction == SwipeDirection::kReversed) {
                why = "the card was swiped backwards";
            } else if (c.polarity == BitPolarity::kInverted) {
                why = "it reads with ones and zeros swapped";
            } else {
                why = "it was written in another format";
            }
            return why + (holdsIt(c.text) ? ", and read that way it holds what was written" : "");
        }
        case Finding::kWeak:
            return "the track is weak, or was written at another coercivity or density (" +
                   std::to_string(in.weakCharacters) + " of " + std::to_string(in.weakOf) +
                   " characters fail their parity check)";
        case Finding::kDecodes:
        case Finding::kFailure:
            break;
    }
    return in.failure ? FailureText(*in.failure) : "it fails its check";
}

}  // namespace

bool TrackReadsAsWritten(std::string_view written, std::span<const uint8_t> read,
                         const TrackSettings& settings, bool rawType) {
    const std::optional<std::vector<uint8_t>> sent = Sent(written, settings, rawType);
    if (!sent) return false;  // nothing the write could send: it cannot be on the card
    if (sent->empty()) return true;
    if (rawType) return SignificantBits(*sent) == SignificantBits(read);
    const std::optional<std::string> expected = Decoded(*sent, settings);
    const std::optional<std::string> got = Decoded(read, settings);
    return expected && got && *expected == *got;
}

std::string TrackDifference(std::string_view written, std::span<const uint8_t> read,
                            const TrackSettings& settings, bool rawType) {
    if (TrackReadsAsWritten(written, read, settings, rawType)) return {};
    const std::optional<std::vector<uint8_t>> sent = Sent(written, settings, rawType);
    if (!sent) return "the text could not have been written";
    if (SignificantBits(read).empty()) return "nothing was read back";
    if (rawType) {
        const std::string want = SignificantBits(*sent);
        const std::string got = SignificantBits(read);
        std::size_t at = 0;
        while (at < want.size() && at < got.size() && want[at] == got[at]) ++at;
        return "the bits read back differ from bit " + std::to_string(at) + " on";
    }
    const std::optional<std::string> expected = Decoded(*sent, settings);
    if (const std::optional<std::string> got = Decoded(read, settings)) {
        // It reads, but something else: the first character that differs, never the text.
        const std::string& want = expected.value_or(std::string());
        std::size_t at = 0;
        while (at < want.size() && at < got->size() && want[at] == (*got)[at]) ++at;
        if (at >= want.size() || at >= got->size()) {
            return "it holds other data: " + std::to_string(got->size()) +
                   " characters instead of " + std::to_string(want.size());
        }
        return "it holds other data: character " + std::to_string(at) + " reads '" +
               std::string(1, (*got)[at]) + "' and should read '" + std::string(1, want[at]) + "'";
    }
    return WhyReadFails(InspectTrack(read, settings), expected);
}

std::string VerifyDifferences(const std::array<std::string, 3>& written,
                              const std::array<std::vector<uint8_t>, 3>& read,
                              const TrackSet& formats) {
    const bool rawType = IsRawTrackSet(formats);
    uint8_t differing = 0;
    std::array<std::string, 3> why;
    for (std::size_t t = 0; t < 3; ++t) {
        why[t] = TrackDifference(written[t], read[t], formats[t], rawType);
        if (!why[t].empty()) differing = static_cast<uint8_t>(differing | (1u << t));
    }
    if (differing == 0) return {};
    std::string text = DifferingTracksText(differing) + ": ";
    const bool one = std::has_single_bit(unsigned{differing});
    bool first = true;
    for (std::size_t t = 0; t < 3; ++t) {
        if (why[t].empty()) continue;
        if (!first) text += "; ";
        if (!one) text += "track " + std::to_string(t + 1) + ": ";
        text += why[t];
        first = false;
    }
    return text;
}

uint8_t VerifyWrittenCard(const std::array<std::string, 3>& written,
                          const std::array<std::vector<uint8_t>, 3>& read,
                          const TrackSet& formats) {
    const bool rawType = IsRawTrackSet(formats);
    uint8_t differ = 0;
    for (std::size_t t = 0; t < 3; ++t) {
        if (!TrackReadsAsWritten(written[t], read[t], formats[t], rawType)) {
            differ = static_cast<uint8_t>(differ | (1u << t));
        }
    }
    return differ;
}

std::string DifferingTracksText(uint8_t differing) {
    std::vector<std::string> numbers;
    for (int t = 0; t < 3; ++t) {
        if (differing & (1u << t)) numbers.push_back(std::to_string(t + 1));
    }
    if (numbers.empty()) return "no track differs";
    if (numbers.size() == 1) return "track " + numbers[0] + " differs";
    std::string list;
    for (std::size_t i = 0; i < numbers.size(); ++i) {
        if (i > 0) list += i + 1 == numbers.size() ? " and " : ", ";
        list += numbers[i];
    }
    return "tracks " + list + " differ";
}

}  // namespace tollwick
