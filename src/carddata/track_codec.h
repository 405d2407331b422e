// The program's own track encoding: characters with parity, sentinels and LRC, packed into the
// bit streams the reader records in raw mode, and the way back from a read bit stream to text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "carddata/track_format.h"

namespace tollwick {

// Largest number of characters (text + start sentinel + end sentinel + LRC) in one track:
// the encoded count travels in one byte.
inline constexpr std::size_t kMaxEncodedCharacters = 255;
// Largest number of bytes a read block is collected into.
inline constexpr std::size_t kReadBlockCapacity = 1024;

// Code of a text character (no parity bit) for a track of the given bits per character.
uint8_t CharacterCode(char ch, int bpc);
// Code of a start or end sentinel, with its parity bit by the sentinel rule.
uint8_t SentinelCode(char sentinel, const TrackSettings& settings);

// Encodes one track text (already upper case, without sentinels) into the bytes that follow the
// length byte in the write block: first bit in bit 0 of the first byte. An empty text gives no
// bytes. Returns nothing when the text is too long for one track.
std::optional<std::vector<uint8_t>> EncodeTrack(std::string_view text,
                                                const TrackSettings& settings);

// Raw Type: the hexadecimal text's bytes with the bit order of each byte reversed (read order to
// write order). Returns nothing when the text has more than 255 bytes.
std::optional<std::vector<uint8_t>> EncodeRawTrack(std::string_view hexText);

// Decodes one track in place from raw bytes (read order: first bit in bit 7) to its text.
// Returns true when the track failed its check; the buffer then keeps its raw bytes.
bool DecodeTrack(TrackBuffer& buffer, const TrackSettings& settings);

// Raw Type decode of one track: the raw bytes become hexadecimal text. Returns true (error,
// buffer unchanged) when the text would not fit the buffer (more than 127 bytes).
bool DecodeRawTrack(TrackBuffer& buffer);

// Decodes all three tracks in place and returns their error bits (also kept in trackErrors).
// With 8 bits per character on track 1 every track is taken as raw bytes.
uint8_t DecodeTracks(CardTracks& card, const TrackSet& settings);

// Splits a read block (ESC 's', track blocks, 4 trailing bytes) into the three track buffers.
enum class SplitResult {
    kOk,
    kBadHeader,      // block does not begin with ESC 's': buffers untouched
    kBadTrackOrder,  // a bad or out-of-order track number: buffers keep the tracks copied before
};
SplitResult SplitReadBlock(const uint8_t* block, std::size_t n, CardTracks& card);

// Builds a read block as the reader sends it after a swipe: raw track bytes in read order.
std::vector<uint8_t> BuildReadBlock(const std::array<std::vector<uint8_t>, 3>& tracks);

// Reverses the bit order of one byte (read order <-> write order).
uint8_t ReverseBits(uint8_t byte);

}  // namespace tollwick
