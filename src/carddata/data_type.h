// Data types: the operator's choice of card format, and what each one puts in force.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "carddata/track_format.h"

namespace tollwick {

// Values equal the positions of the radio buttons in the main window's group.
enum class DataType : int { kIso = 0, kUser = 1, kRaw = 2, kAamva = 3, kCaDmv = 4 };

std::optional<DataType> DataTypeFromName(std::string_view name);  // iso, user, raw, aamva, cadmv
std::string_view DataTypeName(DataType type);                     // and back

// The twelve stored User Type keys of one track, as text.
struct StoredTrackKeys {
    std::string bpc;
    std::string parity;
    std::string startSentinel;
    std::string endSentinel;
};
using StoredUserKeys = std::array<StoredTrackKeys, 3>;

// Defaults of the stored keys, index 0 for track 1.
StoredTrackKeys DefaultStoredTrackKeys(int index);

// Decimal text to integer as the profile readers do: leading blanks and a sign, digits up to the
// first non-digit; no digits give 0. Values beyond int saturate.
int StoredTextToInt(std::string_view text);

// Decodes one track's stored positions. A position outside its list falls back to that key's
// default, so the result is always a valid format.
TrackSettings DecodeStoredTrack(const StoredTrackKeys& keys, int index);

// Everything a data type puts in force: formats, check box labels and track box limits.
struct DataTypeLayout {
    TrackSet settings;
    std::array<std::string, 3> labels;
    std::array<int, 3> limits;
};

// `current` matters for the Raw Type, which keeps the parity codes and sentinels in force;
// `stored` matters for the User Type.
DataTypeLayout LayoutFor(DataType type, Track2Density density, const TrackSet& current,
                         const StoredUserKeys& stored);

// The User Type label of one track, chosen by the stored BPC position and parity text.
std::string UserTypeLabel(int index, const StoredTrackKeys& keys, Track2Density density);

}  // namespace tollwick
