// Verify after write: does a card read back hold what was just written to it?
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "carddata/track_format.h"

namespace tollwick {

// What was written to a track is the text given to the write as the write sends it: in upper
// case, encoded in the track's format (start sentinel, text, end sentinel, LRC) or, with the Raw
// Type (8 bits per character on track 1), the bytes of the hexadecimal text. A track whose text
// sends no bytes (an empty text) is not written, so the card keeps what it had there: it is not
// compared.
//
// A formatted track reads as written when its bytes as read decode, in its format, to the text
// a read of the written bit stream gives: start sentinel, text, end sentinel. A Raw Type track
// reads as written when its bits as read are the bits written; the reader locks on the first
// one bit and sends clocking zeros after the data, so zero bits before the first one bit and
// after the last one are not compared.
//
// rawType: the Raw Type is in force (the texts are hex).
bool TrackReadsAsWritten(std::string_view written, std::span<const uint8_t> read,
                         const TrackSettings& settings, bool rawType);

// The tracks of a card read back (bytes as read, per track) that differ from the texts written:
// bit 0 track 1, bit 1 track 2, bit 2 track 3; 0 when the card verifies.
uint8_t VerifyWrittenCard(const std::array<std::string, 3>& written,
                          const std::array<std::vector<uint8_t>, 3>& read, const TrackSet& formats);

// The tracks of such a mask in words: "track 2 differs", "tracks 1 and 3 differ".
std::string DifferingTracksText(uint8_t differing);

// Why one track read back is not what was written, in the words of the track inspector: "bit 42,
// in character 8, reads 0 and should read 1", "the card was swiped backwards", "the swipe ended
// early after 12 characters", "it holds other data: character 5 differs"; empty when it reads as
// written. No more than one character of the track's text is quoted, so no account number is.
std::string TrackDifference(std::string_view written, std::span<const uint8_t> read,
                            const TrackSettings& settings, bool rawType);

// The same for a whole card, after the tracks that differ: "track 2 differs: bit 42, in
// character 8, reads 0 and should read 1", "tracks 1 and 3 differ: track 1: the card was swiped
// backwards; track 3: the swipe ended early after 12 characters"; empty when the card verifies.
std::string VerifyDifferences(const std::array<std::string, 3>& written,
                              const std::array<std::vector<uint8_t>, 3>& read,
                              const TrackSet& formats);

}  // namespace tollwick
