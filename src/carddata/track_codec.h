// The program's own track encoding: characters with parity, sentinels and LRC, packed into the
// bit streams the reader records in raw mode, and the way back from a read bit stream to text.
#pragma once

#include <array>
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

// Largest number of bytes of one encoded track: its length travels in one byte (255 characters
// of at most 8 bits, or 255 raw bytes).
inline constexpr std::size_t kMaxTrackBytes = 255;
// What EncodeTrackInto and EncodeRawTrackInto return when the track cannot be encoded.
inline constexpr std::size_t kEncodeFailed = static_cast<std::size_t>(-1);

// Encodes one track text (already upper case, without sentinels) into the bytes that follow the
// length byte in the write block: first bit in bit 0 of the first byte. Writes into out and
// returns the number of bytes, 0 for an empty text, or kEncodeFailed when the text is too long
// for one track, the bits per character are not 4 to 8, or the bytes would not fit capacity
// (out is then not written). A capacity of kMaxTrackBytes always suffices.
std::size_t EncodeTrackInto(std::string_view text, const TrackSettings& settings, uint8_t* out,
                            std::size_t capacity);
// The same into a new vector; nothing when EncodeTrackInto fails.
std::optional<std::vector<uint8_t>> EncodeTrack(std::string_view text,
                                                const TrackSettings& settings);

// Raw Type: the hexadecimal text's bytes with the bit order of each byte reversed (read order to
// write order). Returns kEncodeFailed when the text has more than 255 bytes or they would not
// fit capacity.
std::size_t EncodeRawTrackInto(std::string_view hexText, uint8_t* out, std::size_t capacity);
// The same into a new vector; nothing when the text has more than 255 bytes.
std::optional<std::vector<uint8_t>> EncodeRawTrack(std::string_view hexText);

// Whether a track decoded; a failed track keeps its raw bytes.
enum class TrackDecode { kDecoded, kFailed };

// Decodes one track in place from raw bytes (read order: first bit in bit 7) to its text.
// kFailed when the track failed its check (end sentinel not found, parity or LRC).
[[nodiscard]] TrackDecode DecodeTrack(TrackBuffer& buffer, const TrackSettings& settings);

// Raw Type decode of one track: the raw bytes become hexadecimal text. kFailed (buffer
// unchanged) when the text would not fit the buffer (more than 127 bytes).
[[nodiscard]] TrackDecode DecodeRawTrack(TrackBuffer& buffer);

// Decodes all three tracks in place and returns their error bits (also kept in trackErrors).
// With 8 bits per character on track 1 every track is taken as raw bytes.
uint8_t DecodeTracks(CardTracks& card, const TrackSet& settings);

// Splits a read block (ESC 's', track blocks, 4 trailing bytes) into the three track buffers.
enum class SplitResult {
    kOk,
    kBadHeader,      // block does not begin with ESC 's': buffers untouched
    kBadTrackOrder,  // a bad or out-of-order track number: buffers keep the tracks copied before
};
// lengths, when given, gets the number of bytes each track brought (0 for a track the block
// did not hold): a track's bytes as delivered, trailing clocking zeros included.
using TrackLengths = std::array<std::size_t, 3>;
[[nodiscard]] SplitResult SplitReadBlock(const uint8_t* block, std::size_t n, CardTracks& card,
                                         TrackLengths* lengths = nullptr);

// Builds a read block as the reader sends it after a swipe: raw track bytes in read order.
std::vector<uint8_t> BuildReadBlock(const TrackBytes& tracks);

// Reverses the bit order of one byte (read order <-> write order).
uint8_t ReverseBits(uint8_t byte);
// Reverses the bit order of each of n bytes, eight at a time; in and out may be the same.
void ReverseBits(const uint8_t* in, uint8_t* out, std::size_t n);

}  // namespace tollwick
