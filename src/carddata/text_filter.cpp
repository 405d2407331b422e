#include "carddata/text_filter.h"

namespace tollwick {

bool AcceptsTrackCharacter(char ch, const TrackSettings& settings, DataType type) {
    if (type == DataType::kRaw) return (ch >= '0' && ch <= '9') || (ch >= 'A' && ch <= 'F');
    if (ch == settings.startSentinel || ch == settings.endSentinel) return false;
    return settings.bpc <= 5 ? InNarrowAlphabet(ch) : InWideAlphabet(ch);
}

std::optional<std::size_t> FirstRefusedCharacter(std::string_view text,
                                                 const TrackSettings& settings, DataType type) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (!AcceptsTrackCharacter(text[i], settings, type)) return i;
    }
    return std::nullopt;
}

}  // namespace tollwick
