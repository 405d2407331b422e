// Read blocks as the reader sends them after a swipe: split into the three track buffers, then
// decoded with track formats chosen from the first input bytes.
//
// Input: 3 x 3 bytes of track formats (see fuzz_input.h), then the block.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "carddata/track_codec.h"
#include "carddata/track_format.h"
#include "fuzz_input.h"

using tollwick::CardTracks;
using tollwick::TrackSet;
namespace fuzz = tollwick::fuzz;

namespace {

bool Terminated(const tollwick::TrackBuffer& buffer) {
    return std::memchr(buffer.data(), 0, buffer.size()) != nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    constexpr std::size_t kHead = 3 * fuzz::kSettingsBytes;
    if (size < kHead) return 0;
    TrackSet settings;
    for (std::size_t t = 0; t < 3; ++t) {
        settings[t] = fuzz::SettingsFromBytes(data + t * fuzz::kSettingsBytes);
    }
    const uint8_t* block = data + kHead;
    const std::size_t n = size - kHead;

    // Texts of an earlier card: a block without its header must leave them alone.
    CardTracks card;
    card.SetText(0, "%EARLIER?");
    card.SetText(1, ";EARLIER?");
    card.SetText(2, ";EARLIER?");
    const CardTracks before = card;

    const tollwick::SplitResult split = tollwick::SplitReadBlock(block, n, card);
    if (split == tollwick::SplitResult::kBadHeader) {
        if (card.track != before.track) fuzz::Fail("a block without its header changed the tracks");
        return 0;
    }
    // A track is at most 255 bytes long, so every buffer keeps its terminator.
    for (const auto& buffer : card.track) {
        if (buffer.back() != 0) fuzz::Fail("a split track fills its whole buffer");
    }

    const CardTracks split_card = card;
    const uint8_t errors = tollwick::DecodeTracks(card, settings);
    if (errors != card.trackErrors) fuzz::Fail("returned error bits differ from trackErrors");
    if ((errors & ~0x07u) != 0) fuzz::Fail("error bits beyond the three tracks");
    for (std::size_t t = 0; t < 3; ++t) {
        if (!Terminated(card.track[t])) fuzz::Fail("a decoded track is not terminated");
        // A track that failed its check keeps the bytes it was received with.
        if ((errors & (1u << t)) != 0 && card.track[t] != split_card.track[t]) {
            fuzz::Fail("a failed track lost its raw bytes");
        }
    }
    return 0;
}
