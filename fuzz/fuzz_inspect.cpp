// The track inspector on one track's raw bytes, with a track format chosen from the first bytes.
//
// Input: 3 bytes of track format (see fuzz_input.h), then the track's bytes as read.
// Checked:
// - the analysis holds together (bit count, clocking zeros, character indices, failure position);
// - it agrees with the program's own decode: a track that starts with its start sentinel at bit 0
//   decodes in the inspector exactly when DecodeTrack decodes it, to the same text;
// - a track it decodes, written again by the encoder, is found again forward, reversed and
//   inverted, in the configured format, with the same text.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "carddata/track_codec.h"
#include "carddata/track_format.h"
#include "carddata/track_inspector.h"
#include "fuzz_input.h"

using tollwick::TrackInspection;
using tollwick::TrackSettings;
namespace fuzz = tollwick::fuzz;

namespace {

using Bytes = std::vector<uint8_t>;

void CheckConsistent(const TrackInspection& in, std::size_t n) {
    const std::size_t inspected = std::min(n, tollwick::kMaxInspectedBytes);
    if (in.bits.size() != 8 * inspected) fuzz::Fail("bit count");
    if (in.ignoredBytes != n - inspected) fuzz::Fail("ignored byte count");
    const bool anyOne = in.bits.find('1') != std::string::npos;
    if (in.blank == anyOne) fuzz::Fail("blank");
    const int total = static_cast<int>(in.bits.size());
    if (in.leadingZeroBits < 0 || in.trailingZeroBits < 0 ||
        in.leadingZeroBits + in.trailingZeroBits > total) {
        fuzz::Fail("clocking zero counts");
    }
    if (anyOne && (in.bits[static_cast<std::size_t>(in.leadingZeroBits)] != '1' ||
                   in.bits[static_cast<std::size_t>(total - 1 - in.trailingZeroBits)] != '1')) {
        fuzz::Fail("clocking zeros do not end at a one bit");
    }
    const int count = static_cast<int>(in.characters.size());
    if (in.endSentinelIndex >= count || in.lrcIndex >= count) fuzz::Fail("index past characters");
    if ((in.endSentinelIndex < 0) != (in.lrcIndex < 0)) fuzz::Fail("end sentinel without LRC");
    if (in.endSentinelIndex >= 0 && in.lrcIndex != in.endSentinelIndex + 1) fuzz::Fail("LRC index");
    for (const auto& c : in.characters) {
        if (c.bitOffset < 0 || c.bitOffset > total + 16 || c.bitCount < 0 ||
            c.bitCount > in.settings.bpc) {
            fuzz::Fail("character bits");
        }
    }
    if (in.failure) {
        if (in.failure->position < 0 || !in.text.empty()) fuzz::Fail("failure with text");
        if (in.failure->kind == tollwick::FailureKind::kParity &&
            (in.failure->position >= count ||
             in.characters[static_cast<std::size_t>(in.failure->position)].parity !=
                 tollwick::ParityVerdict::kBad)) {
            fuzz::Fail("parity failure at a character with good parity");
        }
    } else if (in.formatKnown && !in.blank) {
        if (in.startBit < 0 || in.endSentinelIndex < 1 ||
            static_cast<int>(in.text.size()) != in.endSentinelIndex + 1 ||
            static_cast<int>(in.text.size()) > tollwick::kMaxTrackTextLength) {
            fuzz::Fail("a good track without a frame");
        }
        if (in.candidates.empty() || !in.candidates.front().configured ||
            in.candidates.front().text != in.text) {
            fuzz::Fail("a good track is not the first candidate");
        }
    }
    for (const auto& c : in.candidates) {
        // The search wants a data character; the configured reading may have an empty text.
        const bool decoded = c.configured && c.direction == tollwick::SwipeDirection::kForward &&
                             c.polarity == tollwick::BitPolarity::kNormal && c.text == in.text;
        if (c.text.size() < (decoded ? 2u : 3u) ||
            static_cast<int>(c.text.size()) > tollwick::kMaxTrackTextLength) {
            fuzz::Fail("candidate text length");
        }
    }
}

// The program's decode of the same bytes (at most 255, as a track buffer holds them).
void CheckAgainstDecode(const TrackInspection& in, const uint8_t* raw, std::size_t n,
                        const TrackSettings& s) {
    if (!in.formatKnown || in.blank || n > tollwick::kMaxEncodedCharacters) return;
    const uint8_t ssCode = tollwick::SentinelCode(s.startSentinel, s);
    const uint8_t esCode = tollwick::SentinelCode(s.endSentinel, s);
    if (ssCode == esCode) return;  // the decode would stop at the start sentinel
    uint8_t first = 0;
    for (int i = 0; i < s.bpc; ++i) {
        if (raw[0] & (0x80u >> i)) first |= static_cast<uint8_t>(1u << i);
    }
    if (first != ssCode) return;  // the decode does not look for the start sentinel

    tollwick::TrackBuffer buffer{};
    std::memcpy(buffer.data(), raw, n);
    const bool failed = tollwick::DecodeTrack(buffer, s) == tollwick::TrackDecode::kFailed;
    const bool good = !in.failure && in.startBit == 0;
    if (failed == good) fuzz::Fail("the inspector and the decode disagree");
    if (!good) return;
    // The decode ends the text at the first end-sentinel character.
    std::string expected = in.text;
    const std::size_t end = expected.find(s.endSentinel);
    if (end != std::string::npos) expected.resize(end + 1);
    if (std::string_view(buffer.data()) != expected) fuzz::Fail("decoded texts differ");
}

bool InAlphabet(char ch, int bpc) {
    return bpc < 6 ? tollwick::InNarrowAlphabet(ch) : tollwick::InWideAlphabet(ch);
}

bool HasCandidate(const TrackInspection& in, const TrackSettings& s, const std::string& text,
                  tollwick::SwipeDirection direction, tollwick::BitPolarity polarity) {
    return std::any_of(in.candidates.begin(), in.candidates.end(), [&](const auto& c) {
        return c.configured && c.format.bpc == s.bpc && c.text == text &&
               c.direction == direction && c.polarity == polarity;
    });
}

// A decoded text written again is found again every way.
void CheckRoundTrip(const TrackInspection& in, const TrackSettings& s) {
    if (in.failure || in.text.size() < 3 || !in.formatKnown) return;
    const std::string& text = in.text;
    if (text.front() != s.startSentinel || text.back() != s.endSentinel) return;
    const std::string inner = text.substr(1, text.size() - 2);
    if (inner.find(s.endSentinel) != std::string::npos) return;
    if (!std::all_of(text.begin(), text.end(), [&](char ch) { return InAlphabet(ch, s.bpc); })) {
        return;
    }
    if (tollwick::SentinelCode(s.startSentinel, s) == tollwick::SentinelCode(s.endSentinel, s)) {
        return;
    }
    const auto written = tollwick::EncodeTrack(inner, s);
    if (!written) return;  // too long to write
    Bytes forward;
    for (uint8_t b : *written) forward.push_back(tollwick::ReverseBits(b));
    Bytes reversed(forward.rbegin(), forward.rend());
    for (uint8_t& b : reversed) b = tollwick::ReverseBits(b);
    Bytes inverted = forward;
    for (uint8_t& b : inverted) b = static_cast<uint8_t>(~b);

    using tollwick::BitPolarity;
    using tollwick::SwipeDirection;
    const TrackInspection again = tollwick::InspectTrack(forward, s);
    if (again.failure || again.text != text) fuzz::Fail("a written track does not inspect good");
    if (!HasCandidate(tollwick::InspectTrack(reversed, s), s, text, SwipeDirection::kReversed,
                      BitPolarity::kNormal)) {
        fuzz::Fail("a reversed track is not found");
    }
    if (!HasCandidate(tollwick::InspectTrack(inverted, s), s, text, SwipeDirection::kForward,
                      BitPolarity::kInverted)) {
        fuzz::Fail("an inverted track is not found");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size < fuzz::kSettingsBytes + 1) return 0;
    const TrackSettings settings = fuzz::SettingsFromBytes(data);
    const uint8_t* raw = data + fuzz::kSettingsBytes;
    const std::size_t n = size - fuzz::kSettingsBytes;

    const TrackInspection in = tollwick::InspectTrack(std::span<const uint8_t>(raw, n), settings);
    CheckConsistent(in, n);
    CheckAgainstDecode(in, raw, n, settings);
    CheckRoundTrip(in, settings);
    // The terminal lines are built for every analysis.
    const auto lines = tollwick::RenderInspection(in, 1);
    if (lines.empty()) fuzz::Fail("no lines");
    return 0;
}
