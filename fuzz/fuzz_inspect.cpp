// The track inspector on one track's raw bytes, with a track format chosen from the first bytes.
//
// Input: 3 bytes of track format (see fuzz_input.h), then the track's bytes as read.
// Checked (the verdict against the program's own read is fuzz_inspect_verdict's):
// - the analysis holds together (bit count, clocking zeros, character indices);
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

#include "carddata/account_mask.h"
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
    const int count = static_cast<int>(in.characters.size());
    if (in.endSentinelIndex >= count || in.lrcIndex >= count) fuzz::Fail("index past characters");
    if (in.lrcIndex >= 0 && in.lrcIndex != in.endSentinelIndex + 1) fuzz::Fail("LRC index");
    for (const auto& c : in.characters) {
        if (c.bitOffset < 0 || c.bitOffset > total + 16 || c.bitCount < 0 ||
            c.bitCount > in.settings.bpc) {
            fuzz::Fail("character bits");
        }
    }
    for (const auto& c : in.candidates) {
        if (c.text.empty() || static_cast<int>(c.text.size()) > tollwick::kMaxTrackTextLength) {
            fuzz::Fail("candidate text length");
        }
    }
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

// A decoded text written again is read again, and found again every way.
void CheckRoundTrip(const TrackInspection& in, const TrackSettings& s) {
    if (!in.decodes || in.blank || in.text.size() < 3 || !in.formatKnown) return;
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
    if (!again.decodes || again.text != text) fuzz::Fail("a written track does not inspect good");
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

    TrackInspection in = tollwick::InspectTrack(std::span<const uint8_t>(raw, n), settings);
    CheckConsistent(in, n);
    CheckRoundTrip(in, settings);
    // The terminal lines are built for every analysis, and for masked ones too.
    if (tollwick::RenderInspection(in, 1).empty()) fuzz::Fail("no lines");
    tollwick::MaskAccountNumbers(in);
    if (tollwick::RenderInspection(in, 1).empty()) fuzz::Fail("no lines");
    return 0;
}
