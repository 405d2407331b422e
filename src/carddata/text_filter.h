// Which characters a track box accepts.
#pragma once

#include <cstddef>
#include <optional>
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

}  // namespace tollwick
