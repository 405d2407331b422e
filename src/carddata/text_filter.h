// Which characters a track box accepts.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "carddata/data_type.h"
#include "carddata/track_format.h"

namespace tollwick {

// With the Raw Type only hex digits; otherwise the alphabet of the track's bits per character
// without the track's own sentinels. Control characters, bytes above 0x7F and lower case never.
bool AcceptsTrackCharacter(char ch, const TrackSettings& settings, DataType type);

// Position of the first character the track refuses, if any.
std::optional<std::size_t> FirstRefusedCharacter(std::string_view text,
                                                 const TrackSettings& settings, DataType type);

// Why a text cannot be written on a track as it stands.
struct TrackTextFault {
    enum class Kind { kTooLong, kRefusedCharacter, kOddHexDigits };
    Kind kind = Kind::kTooLong;
    std::size_t position = 0;  // kRefusedCharacter: where the character is, from 0
};

// Checks a text to write (already in capitals, as the write sends it) against its track: at most
// `limit` characters, every character one the track accepts, and with the Raw Type whole bytes
// (an even number of hexadecimal digits). Nothing when it can be written.
std::optional<TrackTextFault> FindTrackTextFault(std::string_view text,
                                                 const TrackSettings& settings, DataType type,
                                                 int limit);

// The fault in words, without naming the track: "3 characters, this track holds at most 2",
// "character 'a' at position 3 cannot be written on this track (Raw Type takes hexadecimal
// digits)", "hexadecimal text needs an even number of digits".
std::string TrackTextFaultText(const TrackTextFault& fault, std::string_view text,
                               const TrackSettings& settings, DataType type, int limit);

}  // namespace tollwick
