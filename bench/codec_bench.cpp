// Track codec throughput: encode and decode of typical tracks, decode of a whole card and the
// split of a whole read block. items_per_second counts tracks, cards or blocks.
#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "carddata/hex.h"
#include "carddata/track_codec.h"
#include "carddata/track_format.h"

namespace {

using tollwick::CardTracks;
using tollwick::TrackBuffer;
using tollwick::TrackSettings;

// Longest ISO texts, sentinels and LRC not counted: 76 characters on track 1, 37 on track 2 and
// 104 on track 3.
constexpr std::string_view kTrack1Text =
    "B4000001234567899^TOLLWICK/BENCHMARK CARD   ^2912101000000000000000000000000";
constexpr std::string_view kTrack2Text = "4000001234567899=29121010000000000000";
constexpr std::string_view kTrack3Text =
    "0112345678901234456="
    "7247240000000000000303000000000000000000000000000000000000000000000000000000"
    "00000000";

const TrackSettings& Track1() {
    return tollwick::kIsoTrackSet[0];
}
const TrackSettings& Track2() {
    return tollwick::kIsoTrackSet[1];
}

// Written bytes as the reader plays them back: bit order of each byte reversed.
std::vector<uint8_t> Recorded(const std::vector<uint8_t>& written) {
    std::vector<uint8_t> out;
    for (uint8_t byte : written) out.push_back(tollwick::ReverseBits(byte));
    return out;
}

std::vector<uint8_t> RecordedTrack(std::string_view text, const TrackSettings& settings) {
    return Recorded(tollwick::EncodeTrack(text, settings).value());
}

TrackBuffer BufferOf(const std::vector<uint8_t>& bytes) {
    TrackBuffer buffer{};
    for (std::size_t i = 0; i < bytes.size() && i + 1 < buffer.size(); ++i) {
        buffer[i] = static_cast<char>(bytes[i]);
    }
    return buffer;
}

// The hexadecimal text of a Raw Type track: the bytes of a recorded ISO track 1.
std::string RawTrackText() {
    const std::vector<uint8_t> bytes = RecordedTrack(kTrack1Text, Track1());
    std::string text(2 * bytes.size() + 1, '\0');
    tollwick::BytesToHex(bytes.data(), static_cast<int>(bytes.size()), text.data());
    text.pop_back();
    return text;
}

std::array<std::vector<uint8_t>, 3> IsoCardTracks() {
    return {RecordedTrack(kTrack1Text, Track1()), RecordedTrack(kTrack2Text, Track2()),
            RecordedTrack(kTrack3Text, tollwick::kIsoTrackSet[2])};
}

void CheckLengths(benchmark::State& state) {
    if (kTrack1Text.size() != 76 || kTrack2Text.size() != 37 || kTrack3Text.size() != 104) {
        state.SkipWithError("track texts have the wrong length");
    }
}

void BM_EncodeTrack(benchmark::State& state, std::string_view text, const TrackSettings& settings) {
    CheckLengths(state);
    uint8_t bytes[tollwick::kMaxTrackBytes];
    for (auto _ : state) {
        benchmark::DoNotOptimize(tollwick::EncodeTrackInto(text, settings, bytes, sizeof bytes));
        benchmark::DoNotOptimize(bytes);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}

// The same through the wrapper that returns a new vector.
void BM_EncodeTrackVector(benchmark::State& state, std::string_view text,
                          const TrackSettings& settings) {
    CheckLengths(state);
    for (auto _ : state) {
        auto bytes = tollwick::EncodeTrack(text, settings);
        benchmark::DoNotOptimize(bytes);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}

void BM_DecodeTrack(benchmark::State& state, std::string_view text, const TrackSettings& settings) {
    CheckLengths(state);
    const TrackBuffer recorded = BufferOf(RecordedTrack(text, settings));
    TrackBuffer check = recorded;
    if (tollwick::DecodeTrack(check, settings) == tollwick::TrackDecode::kFailed) {
        state.SkipWithError("track does not decode");
    }
    for (auto _ : state) {
        TrackBuffer buffer = recorded;  // decoding works in place
        benchmark::DoNotOptimize(tollwick::DecodeTrack(buffer, settings));
        benchmark::DoNotOptimize(buffer);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}

// One track written and one read: encode of the text, decode of the recorded bytes.
void BM_EncodeDecode(benchmark::State& state, std::string_view text,
                     const TrackSettings& settings) {
    CheckLengths(state);
    const TrackBuffer recorded = BufferOf(RecordedTrack(text, settings));
    for (auto _ : state) {
        auto bytes = tollwick::EncodeTrack(text, settings);
        benchmark::DoNotOptimize(bytes);
        TrackBuffer buffer = recorded;
        benchmark::DoNotOptimize(tollwick::DecodeTrack(buffer, settings));
        benchmark::DoNotOptimize(buffer);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}

void BM_EncodeRawTrack(benchmark::State& state) {
    const std::string text = RawTrackText();
    for (auto _ : state) {
        auto bytes = tollwick::EncodeRawTrack(text);
        benchmark::DoNotOptimize(bytes);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
    state.SetLabel(std::to_string(text.size() / 2) + " bytes");
}

void BM_DecodeRawTrack(benchmark::State& state) {
    const TrackBuffer recorded =
        BufferOf(Recorded(tollwick::EncodeRawTrack(RawTrackText()).value()));
    for (auto _ : state) {
        TrackBuffer buffer = recorded;
        benchmark::DoNotOptimize(tollwick::DecodeRawTrack(buffer));
        benchmark::DoNotOptimize(buffer);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}

void BM_DecodeTracks(benchmark::State& state) {
    CheckLengths(state);
    const std::vector<uint8_t> block = tollwick::BuildReadBlock(IsoCardTracks());
    CardTracks received;
    if (tollwick::SplitReadBlock(block.data(), block.size(), received) !=
        tollwick::SplitResult::kOk) {
        state.SkipWithError("read block does not split");
    }
    CardTracks check = received;
    if (tollwick::DecodeTracks(check, tollwick::kIsoTrackSet) != 0) {
        state.SkipWithError("card does not decode");
    }
    for (auto _ : state) {
        CardTracks card = received;
        benchmark::DoNotOptimize(tollwick::DecodeTracks(card, tollwick::kIsoTrackSet));
        benchmark::DoNotOptimize(card);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}

void BM_SplitReadBlock(benchmark::State& state) {
    CheckLengths(state);
    const std::vector<uint8_t> block = tollwick::BuildReadBlock(IsoCardTracks());
    CardTracks card;
    for (auto _ : state) {
        benchmark::DoNotOptimize(tollwick::SplitReadBlock(block.data(), block.size(), card));
        benchmark::DoNotOptimize(card);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
    state.SetLabel(std::to_string(block.size()) + " bytes");
}

BENCHMARK_CAPTURE(BM_EncodeDecode, iso_track1_76_chars_7bpc, kTrack1Text, Track1());
BENCHMARK_CAPTURE(BM_EncodeDecode, iso_track2_37_chars_5bpc, kTrack2Text, Track2());
BENCHMARK_CAPTURE(BM_EncodeTrack, iso_track1_76_chars_7bpc, kTrack1Text, Track1());
BENCHMARK_CAPTURE(BM_EncodeTrack, iso_track2_37_chars_5bpc, kTrack2Text, Track2());
BENCHMARK_CAPTURE(BM_EncodeTrackVector, iso_track1_76_chars_7bpc, kTrack1Text, Track1());
BENCHMARK(BM_EncodeRawTrack);
BENCHMARK_CAPTURE(BM_DecodeTrack, iso_track1_76_chars_7bpc, kTrack1Text, Track1());
BENCHMARK_CAPTURE(BM_DecodeTrack, iso_track2_37_chars_5bpc, kTrack2Text, Track2());
BENCHMARK(BM_DecodeRawTrack);
BENCHMARK(BM_DecodeTracks);
BENCHMARK(BM_SplitReadBlock);

}  // namespace

BENCHMARK_MAIN();
