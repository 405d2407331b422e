// Track inspector: the whole analysis (cut, failure, candidate search over 5/7/4/6 bits, three
// parities, both directions, both polarities) of a full ISO card, as the Inspector window runs it
// after every read. items_per_second counts cards.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "carddata/track_codec.h"
#include "carddata/track_format.h"
#include "carddata/track_inspector.h"

namespace {

using tollwick::TrackSettings;
using Bytes = std::vector<uint8_t>;
using Card = std::array<Bytes, 3>;

// Longest ISO texts: 79 characters on track 1 (7 bits), 40 on track 2 and 107 on track 3 (5 bits),
// sentinels and LRC counted.
constexpr std::array<std::string_view, 3> kTexts = {
    "B4000001234567899^TOLLWICK/BENCHMARK CARD   ^2912101000000000000000000000000",
    "4000001234567899=29121010000000000000",
    "0112345678901234456=72472400000000000003030000000000000000000000000000000000000000000000"
    "0000000000000000",
};

Bytes Recorded(std::string_view text, const TrackSettings& s) {
    Bytes bytes = tollwick::EncodeTrack(text, s).value();
    for (uint8_t& b : bytes) b = tollwick::ReverseBits(b);
    return bytes;
}

// The card as the reader delivers it: each track from its first one bit.
Card GoodCard() {
    Card card;
    for (std::size_t t = 0; t < 3; ++t) card[t] = Recorded(kTexts[t], tollwick::kIsoTrackSet[t]);
    return card;
}

// The card swiped backwards and captured by a reader that idles at one: clocking bits before
// and after, the stream reversed and inverted. The configured reading fails, the search finds it.
Card BackwardsInvertedCard() {
    Card card = GoodCard();
    for (Bytes& track : card) {
        Bytes turned(3, 0);
        for (auto it = track.rbegin(); it != track.rend(); ++it) {
            turned.push_back(tollwick::ReverseBits(*it));
        }
        turned.insert(turned.end(), 3, 0);
        for (uint8_t& b : turned) b = static_cast<uint8_t>(~b);
        track = turned;
    }
    return card;
}

// A bad case for the search: 255 bytes of ISO track 2 start sentinels (11010 with its parity
// bit) and no end sentinel, so that the walk from the start runs to the track limit.
Card StartSentinelsOnly() {
    Bytes track(255, 0);
    for (std::size_t bit = 0; bit < 8 * track.size(); ++bit) {
        if ("11010"[bit % 5] == '1') track[bit / 8] |= static_cast<uint8_t>(0x80u >> (bit % 8));
    }
    return {track, track, track};
}

void InspectCard(benchmark::State& state, const Card& card, bool decodes) {
    for (std::size_t t = 0; t < 3; ++t) {
        const auto in = tollwick::InspectTrack(card[t], tollwick::kIsoTrackSet[t]);
        if (in.candidates.empty() == decodes) state.SkipWithError("unexpected candidates");
    }
    for (auto _ : state) {
        for (std::size_t t = 0; t < 3; ++t) {
            auto in = tollwick::InspectTrack(card[t], tollwick::kIsoTrackSet[t]);
            benchmark::DoNotOptimize(in);
        }
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}

void BM_InspectGoodCard(benchmark::State& state) {
    InspectCard(state, GoodCard(), true);
}
void BM_InspectBackwardsInvertedCard(benchmark::State& state) {
    InspectCard(state, BackwardsInvertedCard(), true);
}
void BM_InspectStartSentinelsOnly(benchmark::State& state) {
    InspectCard(state, StartSentinelsOnly(), false);
}

void BM_RenderGoodCard(benchmark::State& state) {
    const Card card = GoodCard();
    std::array<tollwick::TrackInspection, 3> inspections;
    for (std::size_t t = 0; t < 3; ++t) {
        inspections[t] = tollwick::InspectTrack(card[t], tollwick::kIsoTrackSet[t]);
    }
    for (auto _ : state) {
        for (std::size_t t = 0; t < 3; ++t) {
            auto lines = tollwick::RenderInspection(inspections[t], static_cast<int>(t) + 1);
            benchmark::DoNotOptimize(lines);
        }
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}

BENCHMARK(BM_InspectGoodCard);
BENCHMARK(BM_InspectBackwardsInvertedCard);
BENCHMARK(BM_InspectStartSentinelsOnly);
BENCHMARK(BM_RenderGoodCard);

}  // namespace

BENCHMARK_MAIN();
