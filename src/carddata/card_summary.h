// Short lines that tell what a card holds, for lists of cards.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "carddata/track_format.h"

namespace tollwick {

// The recorded tracks (raw bytes in read order) decoded with `settings`, sentinels included,
// each cut to `perTrack` characters with "…" where it was cut, separated by two blanks; a track
// that fails its check reads "track 2 unreadable". Empty tracks are left out; a blank card gives
// the empty text.
std::string CardSummary(const TrackBytes& tracks, const TrackSet& settings,
                        std::size_t perTrack = 20);

using TrackBytes = TrackBytes;

// The name of a card the reader changed, from its tracks before and after: "written " and its
// summary when a track got new data; "erased" when nothing is left; "holds " and the summary
// when tracks were only cleared ("erased, holds ..." when some were).
std::string ChangedCardName(const TrackBytes& before, const TrackBytes& after,
                            const TrackSet& settings);

}  // namespace tollwick
