#include "carddata/track_format.h"

#include <algorithm>
#include <cstring>

namespace tollwick {

std::string_view CardTracks::Text(int index) const {
    const TrackBuffer& buffer = track.at(static_cast<std::size_t>(index));
    return {buffer.data(), strnlen(buffer.data(), buffer.size())};
}

void CardTracks::SetText(int index, std::string_view text) {
    TrackBuffer& buffer = track.at(static_cast<std::size_t>(index));
    const std::size_t n = std::min(text.size(), buffer.size() - 1);
    buffer.fill(0);
    std::memcpy(buffer.data(), text.data(), n);
}

TrackTexts CardTracks::Texts() const {
    return {std::string(Text(0)), std::string(Text(1)), std::string(Text(2))};
}

void CardTracks::SetTexts(const TrackTexts& texts) {
    for (int t = 0; t < 3; ++t) SetText(t, texts[static_cast<std::size_t>(t)]);
}

void ToUpperAscii(std::string& text) {
    for (char& ch : text) {
        if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 'a' + 'A');
    }
}

void CardTracks::Clear() {
    for (auto& buffer : track) buffer.fill(0);
    trackErrors = 0;
}

std::string_view TrackErrorMarker(int index) {
    static constexpr std::string_view kMarkers[3] = {"{Trace1 data error}", "{Trace2 data error}",
                                                     "{Trace3 data error}"};
    return kMarkers[std::clamp(index, 0, 2)];
}

std::size_t RawLength(const TrackBuffer& buffer) {
    // Zero words from the end, eight bytes at a time (four words to a step while they are all
    // zero), then the zero bytes of the last word.
    static_assert(kTrackBufferSize % 32 == 0);
    auto word = [&buffer](std::size_t at) {
        uint64_t w;
        std::memcpy(&w, buffer.data() + at, sizeof w);
        return w;
    };
    std::size_t n = buffer.size();
    while (n > 0 && (word(n - 8) | word(n - 16) | word(n - 24) | word(n - 32)) == 0) n -= 32;
    while (n > 0 && word(n - 8) == 0) n -= 8;
    while (n > 0 && buffer[n - 1] == 0) --n;
    return n;
}

bool InNarrowAlphabet(char ch) {
    const int v = static_cast<signed char>(ch) - 0x30;
    return v >= 0 && v <= 15;
}

bool InWideAlphabet(char ch) {
    const int v = static_cast<signed char>(ch) - 0x20;
    return v >= 0 && v <= 63;
}

std::string_view StartSentinelList(int bpc) {
    return bpc < 6 ? kNarrowStartSentinels : kWideStartSentinels;
}

std::string_view EndSentinelList(int bpc) {
    return bpc < 6 ? kNarrowEndSentinels : kWideEndSentinels;
}

int BpcByIndex(int index) {
    return index >= 0 && index <= 3 ? 4 + index : 0;
}

}  // namespace tollwick
