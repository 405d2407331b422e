#include "carddata/text_filter.h"

#include <sstream>

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

std::optional<TrackTextFault> FindTrackTextFault(std::string_view text,
                                                 const TrackSettings& settings, DataType type,
                                                 int limit) {
    if (limit >= 0 && text.size() > static_cast<std::size_t>(limit)) {
        return TrackTextFault{TrackTextFault::Kind::kTooLong, 0};
    }
    if (auto refused = FirstRefusedCharacter(text, settings, type)) {
        return TrackTextFault{TrackTextFault::Kind::kRefusedCharacter, *refused};
    }
    if (type == DataType::kRaw && text.size() % 2 != 0) {
        return TrackTextFault{TrackTextFault::Kind::kOddHexDigits, 0};
    }
    return std::nullopt;
}

std::string TrackTextFaultText(const TrackTextFault& fault, std::string_view text,
                               const TrackSettings& settings, DataType type, int limit) {
    std::ostringstream why;
    switch (fault.kind) {
        case TrackTextFault::Kind::kTooLong:
            why << text.size() << " characters, this track holds at most " << limit;
            break;
        case TrackTextFault::Kind::kRefusedCharacter: {
            const char ch = fault.position < text.size() ? text[fault.position] : '\0';
            why << "character ";
            if (ch >= 0x20 && ch < 0x7F) {
                why << "'" << ch << "'";
            } else {
                why << "0x" << std::hex << static_cast<int>(static_cast<unsigned char>(ch))
                    << std::dec;
            }
            why << " at position " << fault.position + 1 << " cannot be written on this track";
            if (type == DataType::kRaw) {
                why << " (Raw Type takes hexadecimal digits)";
            } else if (ch == settings.startSentinel || ch == settings.endSentinel) {
                why << " (it is the track's sentinel, which is added when writing)";
            }
            break;
        }
        case TrackTextFault::Kind::kOddHexDigits:
            why << "hexadecimal text needs an even number of digits";
            break;
    }
    return why.str();
}

}  // namespace tollwick
