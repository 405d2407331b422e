// The physical side of a virtual card: how much of a track the stripe holds, how a written bit
// stream is recorded on it, and what the reader hands back when the card is swiped.
//
// Figures (ISO/IEC 7810 and 7811-2): an ID-1 card is 3.370 in long and the first data bit of a
// track lies 0.293 in from the card's edge; keeping the same margin at the far edge leaves
// 2.784 in of recording. At 210 bits per inch (tracks 1 and 3, and track 2 when set so) that is
// 584 bits, at 75 bits per inch (track 2 as ISO writes it) 208 bits: enough for the ISO tracks
// of 79, 40 and 107 characters, and nothing beyond.
//
// Between the card's edge and the data the stripe holds clocking zeros, and after the data zeros
// run to the end of the stripe. The reader locks onto the first one bit it meets (every start
// sentinel's first bit is a one), so the zeros before the data never reach the host, while a
// varying number of zeros after it does, up to where the head left the card.
#pragma once

#include <cstdint>
#include <optional>
#include <random>
#include <vector>

namespace tollwick {

inline constexpr double kCardLengthInches = 3.370;
inline constexpr double kDataMarginInches = 0.293;
inline constexpr double kRecordingInches = kCardLengthInches - 2 * kDataMarginInches;

// Bits a track holds at `bitsPerInch`.
int TrackCapacityBits(int bitsPerInch);

// Records the bytes of a write block's track section (first bit in bit 0 of the first byte) on
// a track of `capacityBits`: the result is the recorded bits in read order (first bit in bit 7
// of the first byte); bits beyond the capacity are lost.
std::vector<uint8_t> RecordTrack(const std::vector<uint8_t>& writeOrder, int capacityBits);

// How one swipe meets one track.
struct TrackSwipe {
    bool reversed = false;       // the card went through backwards
    std::optional<int> weakBit;  // this recorded bit reads inverted
    int capacityBits = 584;      // the stripe's length in bits
    int leadingZeros = 40;       // zeros the head meets before the recording
    int trailingZeros = 40;      // zeros after the end of the recording area
};

// The bytes the reader sends for one track: from the first one bit on, in read order, the last
// byte zero-filled; empty when the head met no one bit. At most 255 bytes.
std::vector<uint8_t> PlayTrack(const std::vector<uint8_t>& recorded, const TrackSwipe& swipe);

// The varying counts of one swipe: zeros before and after the stripe, as a hand moves the card.
struct SwipeJitter {
    explicit SwipeJitter(uint32_t seed) : random(seed) {}
    int LeadingZeros() { return Between(16, 64); }
    int TrailingZeros() { return Between(0, 48); }
    int Between(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); }
    std::minstd_rand random;
};

}  // namespace tollwick
