#include "carddata/account_mask.h"

#include <vector>

#include "carddata/card_fields.h"

namespace tollwick {
namespace {

constexpr std::size_t kMinDigits = 8;
constexpr std::size_t kMaxDigits = 19;

bool IsDigit(char ch) {
    return ch >= '0' && ch <= '9';
}
bool IsAlnum(char ch) {
    return IsDigit(ch) || (ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z');
}

// Masks the digits at `places` (positions in text) as MaskPan masks a number of them.
void MaskDigits(std::string& text, const std::vector<std::size_t>& places) {
    std::string digits;
    for (std::size_t at : places) digits.push_back(text[at]);
    if (digits.starts_with("636")) return;  // a licence, not an account
    const std::string masked = MaskPan(digits);
    for (std::size_t i = 0; i < places.size(); ++i) text[places[i]] = masked[i];
}

}  // namespace

std::string MaskAccountNumbers(std::string_view input) {
    std::string text(input);
    for (std::size_t i = 0; i < text.size(); ++i) {
        // Track 1: 'B', digits and blanks, '^'.
        if (text[i] == 'B' && (i == 0 || !IsAlnum(text[i - 1]))) {
            std::vector<std::size_t> places;
            std::size_t j = i + 1;
            while (j < text.size() && (IsDigit(text[j]) || text[j] == ' ')) {
                if (IsDigit(text[j])) places.push_back(j);
                ++j;
            }
            if (j < text.size() && text[j] == '^' && places.size() >= kMinDigits &&
                places.size() <= kMaxDigits) {
                MaskDigits(text, places);
            }
            continue;
        }
        // Track 2: digits, '='.
        if (IsDigit(text[i]) && (i == 0 || !IsDigit(text[i - 1]))) {
            std::size_t j = i;
            while (j < text.size() && IsDigit(text[j])) ++j;
            const std::size_t n = j - i;
            if (j < text.size() && text[j] == '=' && n >= kMinDigits && n <= kMaxDigits) {
                std::vector<std::size_t> places;
                for (std::size_t k = i; k < j; ++k) places.push_back(k);
                MaskDigits(text, places);
            }
            i = j - 1;
        }
    }
    return text;
}

void MaskAccountNumbers(TrackInspection& in) {
    if (in.decodes) in.text = MaskAccountNumbers(in.text);
    std::string shown;
    for (const InspectedCharacter& c : in.characters) shown.push_back(c.text);
    const std::string masked = MaskAccountNumbers(shown);
    for (std::size_t k = 0; k < in.characters.size(); ++k) {
        if (masked[k] != shown[k]) {
            in.characters[k].text = masked[k];
            in.characters[k].masked = true;
        }
    }
    if (in.repair) in.repair->text = MaskAccountNumbers(in.repair->text);
    for (TrackCandidate& c : in.candidates) c.text = MaskAccountNumbers(c.text);
}

}  // namespace tollwick
