// Tracks as bit strings, for the card data tests: what the program writes, as the reader returns
// it (the first bit is bit 7 of the first byte).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "carddata/track_codec.h"

namespace tollwick::testing {

// A text written by the program and read back: the written bytes, each byte's bits reversed.
inline std::vector<uint8_t> Recorded(std::string_view text, const TrackSettings& s) {
    std::vector<uint8_t> bytes = EncodeTrack(text, s).value();
    for (uint8_t& b : bytes) b = ReverseBits(b);
    return bytes;
}

inline std::string BitsOf(const std::vector<uint8_t>& readOrder) {
    std::string bits;
    for (uint8_t byte : readOrder) {
        for (int b = 7; b >= 0; --b) bits.push_back(((byte >> b) & 1) ? '1' : '0');
    }
    return bits;
}

// Read-order bytes of a bit string, the last byte filled with zeros.
inline std::vector<uint8_t> BytesOf(const std::string& bits) {
    std::vector<uint8_t> bytes((bits.size() + 7) / 8, 0);
    for (std::size_t i = 0; i < bits.size(); ++i) {
        if (bits[i] == '1') bytes[i / 8] |= static_cast<uint8_t>(0x80u >> (i % 8));
    }
    return bytes;
}

}  // namespace tollwick::testing
