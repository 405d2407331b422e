#include "carddata/card_summary.h"

#include <algorithm>

#include "carddata/track_codec.h"

namespace tollwick {

std::string CardSummary(const TrackBytes& tracks, const TrackSet& settings, std::size_t perTrack) {
    CardTracks card;
    for (std::size_t t = 0; t < 3; ++t) {
        const std::size_t n = std::min(tracks[t].size(), kTrackBufferSize - 1);
        std::copy_n(tracks[t].begin(), n, card.track[t].begin());
    }
    const uint8_t errors = DecodeTracks(card, settings);
    std::string summary;
    for (int t = 0; t < 3; ++t) {
        if (tracks[static_cast<std::size_t>(t)].empty()) continue;
        std::string part;
        if (errors & (1u << t)) {
            part = "track " + std::to_string(t + 1) + " unreadable";
        } else {
            const std::string_view text = card.Text(t);
            if (IsPlaceholder(text)) continue;  // nothing but zero bits
            part = text.size() > perTrack ? std::string(text.substr(0, perTrack)) + "\u2026"
                                          : std::string(text);
        }
        if (!summary.empty()) summary += "  ";
        summary += part;
    }
    return summary;
}

std::string ChangedCardName(const TrackBytes& before, const TrackBytes& after,
                            const TrackSet& settings) {
    const std::string holds = CardSummary(after, settings);
    if (holds.empty()) return "erased";
    bool written = false;
    bool erased = false;
    for (std::size_t t = 0; t < 3; ++t) {
        if (!after[t].empty() && after[t] != before[t]) written = true;
        if (after[t].empty() && !before[t].empty()) erased = true;
    }
    if (written) return "written " + holds;
    return (erased ? "erased, holds " : "holds ") + holds;
}

}  // namespace tollwick
