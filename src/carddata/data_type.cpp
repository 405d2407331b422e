#include "carddata/data_type.h"

#include <utility>

#include <cctype>
#include <climits>

namespace tollwick {
namespace {

std::string Track2Label(Track2Density density, std::string_view tail) {
    return "Track2 " + std::to_string(static_cast<int>(density)) + " BPI " + std::string(tail);
}

}  // namespace

namespace {
constexpr std::pair<DataType, std::string_view> kDataTypeNames[] = {
    {DataType::kIso, "iso"},     {DataType::kUser, "user"},   {DataType::kRaw, "raw"},
    {DataType::kAamva, "aamva"}, {DataType::kCaDmv, "cadmv"},
};
}  // namespace

std::optional<DataType> DataTypeFromName(std::string_view name) {
    for (const auto& [type, text] : kDataTypeNames) {
        if (text == name) return type;
    }
    return std::nullopt;
}

std::string_view DataTypeName(DataType type) {
    for (const auto& [known, text] : kDataTypeNames) {
        if (known == type) return text;
    }
    return "iso";
}

StoredTrackKeys DefaultStoredTrackKeys(int index) {
    if (index == 0) return {"3", "0", "2", "30"};
    return {"1", "0", "5", "15"};
}

int StoredTextToInt(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    long long value = 0;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > INT_MAX) {
            value = static_cast<long long>(INT_MAX) + 1;
            break;
        }
    }
    if (negative) value = -value;
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

TrackSettings DecodeStoredTrack(const StoredTrackKeys& keys, int index) {
    const StoredTrackKeys defaults = DefaultStoredTrackKeys(index);
    int bpcIndex = StoredTextToInt(keys.bpc);
    if (BpcByIndex(bpcIndex) == 0) bpcIndex = StoredTextToInt(defaults.bpc);
    TrackSettings s;
    s.bpc = static_cast<uint8_t>(BpcByIndex(bpcIndex));

    int parity = StoredTextToInt(keys.parity);
    if (parity < 0 || parity > 1) parity = 0;
    s.parity = static_cast<uint8_t>(parity);

    // The default position of a sentinel key belongs to the default bpc class; when the stored
    // bpc selects the other class, the default index still lies inside both lists.
    const std::string_view starts = StartSentinelList(s.bpc);
    const std::string_view ends = EndSentinelList(s.bpc);
    int ss = StoredTextToInt(keys.startSentinel);
    if (ss < 0 || ss >= static_cast<int>(starts.size()))
        ss = StoredTextToInt(defaults.startSentinel);
    int es = StoredTextToInt(keys.endSentinel);
    if (es < 0 || es >= static_cast<int>(ends.size())) es = StoredTextToInt(defaults.endSentinel);
    if (es >= static_cast<int>(ends.size())) es = static_cast<int>(ends.size()) - 1;
    s.startSentinel = starts[static_cast<std::size_t>(ss)];
    s.endSentinel = ends[static_cast<std::size_t>(es)];
    return s;
}

std::string UserTypeLabel(int index, const StoredTrackKeys& keys, Track2Density density) {
    const int bpcIndex = StoredTextToInt(keys.bpc);
    const std::string track = "Track" + std::to_string(index + 1);
    const std::string parityWord = keys.parity == "0" ? "Odd" : "Even";
    // Track 2 takes the density, except at 4 bits per character, which always reads 210.
    const std::string bpi =
        (index == 1 && bpcIndex != 0) ? std::to_string(static_cast<int>(density)) : "210";
    std::string format;
    switch (bpcIndex) {
        case 0:
            format = "4 BPC None Parity";
            break;
        case 1:
            format = "5 BPC " + parityWord + " Parity";
            break;
        case 2:
            format = "6 BPC None Parity";
            break;
        default:
            format = "7 BPC " + parityWord + " Parity";
            break;
    }
    return track + " " + bpi + " BPI " + format;
}

DataTypeLayout LayoutFor(DataType type, Track2Density density, const TrackSet& current,
                         const StoredUserKeys& stored) {
    DataTypeLayout layout;
    switch (type) {
        case DataType::kIso:
            layout.settings = kIsoTrackSet;
            layout.labels = {"Track1 210 BPI 7 BPC Odd Parity",
                             Track2Label(density, "5 BPC Odd Parity"),
                             "Track3 210 BPI 5 BPC Odd Parity"};
            layout.limits = {76, density == Track2Density::k210 ? 104 : 37, 104};
            break;
        case DataType::kAamva:
            layout.settings = {
                {{7, kParityOdd, '%', '?'}, {5, kParityOdd, ';', '?'}, {7, kParityOdd, '%', '?'}}};
            layout.labels = {"Track1 210 BPI 7 BPC ODD Parity",
                             Track2Label(density, "5 BPC ODD Parity"),
                             "Track3 210 BPI 7 BPC ODD Parity"};
            layout.limits = {140, 140, 140};
            break;
        case DataType::kCaDmv:
            layout.settings = {{{6, kParityNone, '%', '?'},
                                {5, kParityOdd, ';', '?'},
                                {6, kParityNone, '!', '?'}}};
            layout.labels = {"Track1 210 BPI 6 BPC NONE Parity",
                             Track2Label(density, "5 BPC ODD Parity"),
                             "Track3 210 BPI 6 BPC NONE Parity"};
            layout.limits = {140, 140, 140};
            break;
        case DataType::kRaw:
            layout.settings = current;
            for (auto& s : layout.settings) s.bpc = 8;
            layout.labels = {"Track1 210 BPI 8 BPC None Parity",
                             Track2Label(density, "8 BPC None Parity"),
                             "Track3 210 BPI 8 BPC None Parity"};
            layout.limits = {140, 140, 140};
            break;
        case DataType::kUser:
            for (int t = 0; t < 3; ++t) {
                const auto i = static_cast<std::size_t>(t);
                layout.settings[i] = DecodeStoredTrack(stored[i], t);
                layout.labels[i] = UserTypeLabel(t, stored[i], density);
            }
            layout.limits = {104, 104, 104};
            break;
    }
    return layout;
}

}  // namespace tollwick
