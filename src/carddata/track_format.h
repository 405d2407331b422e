// Track formats, card images, character sets and sentinel lists.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tollwick {

// Parity codes as stored and as used by the codec.
enum Parity : uint8_t { kParityOdd = 0, kParityEven = 1, kParityNone = 2 };

// Recording format of one track. bpc counts the parity bit; 8 means raw bytes (Raw Type).
struct TrackSettings {
    uint8_t bpc = 5;
    uint8_t parity = kParityOdd;
    char startSentinel = ';';
    char endSentinel = '?';

    friend bool operator==(const TrackSettings&, const TrackSettings&) = default;
};

// The settings of tracks 1, 2 and 3, index 0 for track 1.
using TrackSet = std::array<TrackSettings, 3>;

// The ISO formats, which are also the formats in force at start-up.
inline constexpr TrackSet kIsoTrackSet{
    {{7, kParityOdd, '%', '?'}, {5, kParityOdd, ';', '?'}, {5, kParityOdd, ';', '?'}}};

// Raw Type is recognised by 8 bits per character on track 1.
inline bool IsRawTrackSet(const TrackSet& set) {
    return set[0].bpc == 8;
}

// Track-2 recording density in bits per inch; tracks 1 and 3 are always 210.
enum class Track2Density : int { k75 = 75, k210 = 210 };

// The three tracks of a card, index 0 for track 1, as the program passes them around:
// their texts (typed, shown, written, kept in a file) ...
using TrackTexts = std::array<std::string, 3>;
// ... and their bytes as the reader delivers them: first bit in bit 7 of the first byte.
using TrackBytes = std::array<std::vector<uint8_t>, 3>;

// One track's text (or, between reception and decoding, its raw bytes), zero-terminated.
inline constexpr std::size_t kTrackBufferSize = 256;
// The most characters a track text holds.
inline constexpr std::size_t kMaxTrackText = kTrackBufferSize - 1;
using TrackBuffer = std::array<char, kTrackBufferSize>;

// One card image: three track texts and the error bits of the last decode
// (bit 0 track 1, bit 1 track 2, bit 2 track 3).
struct CardTracks {
    std::array<TrackBuffer, 3> track{};
    uint8_t trackErrors = 0;

    std::string_view Text(int index) const;          // index 0..2, up to the terminator
    void SetText(int index, std::string_view text);  // cut at 255 characters
    TrackTexts Texts() const;
    void SetTexts(const TrackTexts& texts);  // each cut at 255 characters
    void Clear();
};

// The text with a to z made A to Z; every other byte stays as it is.
void ToUpperAscii(std::string& text);

// Placeholder texts; a track text beginning with '{' is never track data.
inline constexpr std::string_view kNoDataText = "{NO DATA}";
std::string_view TrackErrorMarker(int index);  // "{Trace1 data error}" ... for index 0..2
inline bool IsPlaceholder(std::string_view text) {
    return !text.empty() && text.front() == '{';
}

// Bytes in a raw track buffer: the buffer less its trailing zero bytes.
std::size_t RawLength(const TrackBuffer& buffer);

// Character sets.
inline constexpr std::string_view kNarrowAlphabet = "0123456789:;<=>?";
bool InNarrowAlphabet(char ch);  // 0x30..0x3F
bool InWideAlphabet(char ch);    // 0x20..0x5F

// Sentinel choice lists; below 6 bits per character the narrow lists apply.
inline constexpr std::string_view kNarrowStartSentinels = "13579;=?";
inline constexpr std::string_view kNarrowEndSentinels = "0123456789:;<=>?";
inline constexpr std::string_view kWideStartSentinels = "!#%')+-/13579;=?ACEGIKMOQSUWY[]_";
// Position 55 holds a second 'S' where the alphabetical run would have 'X'.
inline constexpr std::string_view kWideEndSentinels =
    "~!#$%&'()*+,-./0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWSYZ[]^_";
std::string_view StartSentinelList(int bpc);
std::string_view EndSentinelList(int bpc);

// Bits per character by stored list position 0..3; 0 for a position outside the list.
int BpcByIndex(int index);

}  // namespace tollwick
