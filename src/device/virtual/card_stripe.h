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

// A bit the head lost or read twice, as from a jerky swipe.
struct BitSlip {
    int bit = 0;  // recorded bit, counted from the first bit of the track
    bool doubled = false;
};

// How one swipe meets one track. Positions are recorded bits unless said otherwise.
struct TrackSwipe {
    bool reversed = false;         // the card went through backwards
    std::vector<int> flippedBits;  // recorded bits that read inverted this time
    std::optional<BitSlip> slip;   // one recorded bit lost or doubled
    // Read order: a noise burst (its first bit is a one) that ends `gapBefore` zeros before the
    // first one bit of the track, and one that begins `gapAfter` zeros after its last one bit.
    std::vector<bool> noiseBefore;
    int gapBefore = 0;
    std::vector<bool> noiseAfter;
    int gapAfter = 0;
    // The card left the head early: the share (0 to 1) of the recording area, in read order,
    // that went past the head. No noise follows a card that has gone.
    std::optional<double> cutAt;
    int capacityBits = 584;  // the stripe's length in bits
    int leadingZeros = 40;   // zeros the head meets before the recording
    int trailingZeros = 40;  // zeros after the end of the recording area
};

// The bits a track holds up to its last one bit: where its data end.
int RecordedDataBits(const std::vector<uint8_t>& recorded);

// The bytes the reader sends for one track: from the first one bit on, in read order, the last
// byte zero-filled; empty when the head met no one bit. At most 255 bytes. Noise before the data
// is where the reader locks on then, so it reaches the program.
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
