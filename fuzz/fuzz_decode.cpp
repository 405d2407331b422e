// One track's raw bytes decoded with a track format chosen from the first input bytes.
//
// Input: 3 bytes of track format (see fuzz_input.h), then at most 255 raw track bytes.
// Checked: a failed decode leaves the raw bytes; a decoded text is terminated inside the buffer;
// a decoded text that is well formed (start sentinel, alphabet characters, end sentinel) comes
// back unchanged when its characters are encoded again and the result decoded.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "carddata/track_codec.h"
#include "carddata/track_format.h"
#include "fuzz_input.h"

using tollwick::TrackBuffer;
using tollwick::TrackSettings;
namespace fuzz = tollwick::fuzz;

namespace {

bool InTrackAlphabet(char ch, int bpc) {
    return bpc < 6 ? tollwick::InNarrowAlphabet(ch) : tollwick::InWideAlphabet(ch);
}

bool WellFormed(std::string_view text, const TrackSettings& settings) {
    if (text.size() < 3) return false;  // an empty track is never written
    if (text.front() != settings.startSentinel || text.back() != settings.endSentinel) return false;
    return std::all_of(text.begin(), text.end(),
                       [&](char ch) { return InTrackAlphabet(ch, settings.bpc); });
}

void CheckRoundTrip(std::string_view text, const TrackSettings& settings) {
    const std::string_view inner = text.substr(1, text.size() - 2);
    const auto encoded = tollwick::EncodeTrack(inner, settings);
    if (!encoded) {
        if (inner.size() + 3 > tollwick::kMaxEncodedCharacters) return;  // too long to write
        fuzz::Fail("a decoded text cannot be encoded again");
    }
    if (encoded->empty() || encoded->size() > tollwick::kMaxEncodedCharacters) {
        fuzz::Fail("encoded track size out of range");
    }
    // The reader plays written bytes back with the bit order of each byte reversed.
    TrackBuffer again{};
    for (std::size_t i = 0; i < encoded->size(); ++i) {
        again[i] = static_cast<char>(tollwick::ReverseBits((*encoded)[i]));
    }
    if (tollwick::DecodeTrack(again, settings) == tollwick::TrackDecode::kFailed)
        fuzz::Fail("a re-encoded text fails its check");
    const std::string_view back(again.data(), strnlen(again.data(), again.size()));
    if (back != text) fuzz::Fail("a re-encoded text decodes differently");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size < fuzz::kSettingsBytes) return 0;
    const TrackSettings settings = fuzz::SettingsFromBytes(data);
    const std::size_t n =
        std::min(size - fuzz::kSettingsBytes, tollwick::kMaxEncodedCharacters);  // one length byte

    TrackBuffer buffer{};
    std::memcpy(buffer.data(), data + fuzz::kSettingsBytes, n);
    const TrackBuffer raw = buffer;
    if (tollwick::DecodeTrack(buffer, settings) == tollwick::TrackDecode::kFailed) {
        if (buffer != raw) fuzz::Fail("a failed decode changed the buffer");
        return 0;
    }
    const void* end = std::memchr(buffer.data(), 0, buffer.size());
    if (end == nullptr) fuzz::Fail("a decoded text is not terminated");
    const std::string_view text(
        buffer.data(), static_cast<std::size_t>(static_cast<const char*>(end) - buffer.data()));
    if (WellFormed(text, settings)) CheckRoundTrip(text, settings);
    return 0;
}
