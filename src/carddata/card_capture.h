// A card as the reader delivered it, and as it was decoded: what a read hands on, what the
// Inspector analyses and what an export saves, for every track, good or bad.
#pragma once

#include <chrono>

#include "carddata/data_type.h"
#include "carddata/track_format.h"

namespace tollwick {

struct CardCapture {
    // Per track the bytes the read block brought, first bit in bit 7 of the first byte, the
    // clocking zeros after the data included. Empty for every track of a damaged block.
    TrackBytes raw;
    TrackSet settings = kIsoTrackSet;  // the formats it was decoded with
    DataType type = DataType::kIso;
    CardTracks card;            // decoded: failed tracks hold their error markers
    bool blockDamaged = false;  // the read block could not be taken apart: no track came whole
    std::chrono::system_clock::time_point time;

    bool Failed() const { return card.trackErrors != 0; }
};

}  // namespace tollwick
