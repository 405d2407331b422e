// Shared helpers of the fuzz targets: track formats chosen from the first input bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "carddata/track_format.h"

namespace tollwick::fuzz {

// Bytes of input one track format takes.
inline constexpr std::size_t kSettingsBytes = 3;

// A track format from three bytes: bits per character 4..8 and parity 0..2 from the first, the
// start and end sentinels from the lists that apply to that width.
inline TrackSettings SettingsFromBytes(const uint8_t* bytes) {
    TrackSettings s;
    s.bpc = static_cast<uint8_t>(4 + bytes[0] % 5);
    s.parity = static_cast<uint8_t>((bytes[0] / 5) % 3);
    const std::string_view starts = StartSentinelList(s.bpc);
    const std::string_view ends = EndSentinelList(s.bpc);
    s.startSentinel = starts[bytes[1] % starts.size()];
    s.endSentinel = ends[bytes[2] % ends.size()];
    return s;
}

// Aborts with a message when a checked property does not hold, so the fuzzer saves the input.
[[noreturn]] inline void Fail(const char* what) {
    std::fprintf(stderr, "property failed: %s\n", what);
    std::abort();
}

}  // namespace tollwick::fuzz
