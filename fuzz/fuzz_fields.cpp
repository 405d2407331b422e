// Card fields read from three track texts of any content.
//
// Input: the texts of tracks 1, 2 and 3, separated by newlines (a third newline and what follows
// belong to track 3).
// Checked: a recognised card has a known format and at least one field; every field belongs to
// a track 0..3 under a snake_case key unique within its track, with a non-blank printable value
// (a flag "true" or "false"), a malformed one with its remark; masking changes nothing but the
// account numbers, each masked as MaskPan masks it; the text lines are printable, one per field
// plus the headings.
#include <array>
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <utility>

#include "carddata/card_fields.h"
#include "fuzz_input.h"

using tollwick::CardFields;
using tollwick::Field;
namespace fuzz = tollwick::fuzz;

namespace {

bool Printable(std::string_view text) {
    for (char ch : text) {
        if (ch < 0x20 || ch > 0x7E) return false;
    }
    return true;
}

bool SnakeCase(std::string_view key) {
    if (key.empty() || key.front() == '_' || key.back() == '_') return false;
    for (char ch : key) {
        if (!((ch >= 'a' && ch <= 'z') || (ch >= '0' && ch <= '9') || ch == '_')) return false;
    }
    return true;
}

void CheckFields(const CardFields& card) {
    if (card.format != "iso7813" && card.format != "aamva") fuzz::Fail("unknown format");
    if (card.fields.empty()) fuzz::Fail("a recognised card without fields");
    std::set<std::pair<int, std::string>> keys;
    for (const Field& field : card.fields) {
        if (field.track < 0 || field.track > 3) fuzz::Fail("field of no track");
        if (!SnakeCase(field.key)) fuzz::Fail("key not in snake_case");
        if (!keys.insert({field.track, field.key}).second) fuzz::Fail("key twice in a track");
        if (field.label.empty()) fuzz::Fail("field without label");
        if (field.value.empty() || field.value.front() == ' ' || field.value.back() == ' ') {
            fuzz::Fail("blank or untrimmed value");
        }
        if (!Printable(field.value) || !Printable(field.explanation)) {
            fuzz::Fail("value or explanation not printable");
        }
        if (field.malformed && field.explanation.empty()) fuzz::Fail("malformed without remark");
        if (field.kind == tollwick::FieldKind::kFlag && field.value != "true" &&
            field.value != "false") {
            fuzz::Fail("flag neither true nor false");
        }
    }
    std::size_t groups = 0;
    for (int track = 0; track <= 3; ++track) {
        for (const auto& key : keys) {
            if (key.first == track) {
                ++groups;
                break;
            }
        }
    }
    const auto lines = tollwick::FieldLines(card);
    if (lines.size() != 1 + groups + card.fields.size()) fuzz::Fail("wrong number of lines");
    for (const std::string& line : lines) {
        if (!Printable(line)) fuzz::Fail("line not printable");
    }
}

void CheckMasking(const CardFields& masked, const CardFields& whole) {
    if (masked.format != whole.format || masked.fields.size() != whole.fields.size()) {
        fuzz::Fail("masking changed the fields");
    }
    for (std::size_t i = 0; i < masked.fields.size(); ++i) {
        const Field& m = masked.fields[i];
        const Field& w = whole.fields[i];
        if (m.track != w.track || m.key != w.key || m.explanation != w.explanation) {
            fuzz::Fail("masking changed a field");
        }
        if (m.key == "pan") {
            if (m.value != tollwick::MaskPan(w.value)) fuzz::Fail("account number not masked");
        } else if (m.value != w.value) {
            fuzz::Fail("masking changed a field that is no account number");
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    std::array<std::string, 3> tracks;
    std::size_t from = 0;
    for (std::size_t t = 0; t < 3 && from <= input.size(); ++t) {
        const std::size_t end = t < 2 ? input.find('\n', from) : std::string_view::npos;
        tracks[t] = input.substr(from, end == std::string_view::npos ? end : end - from);
        from = end == std::string_view::npos ? input.size() + 1 : end + 1;
    }
    const auto masked = tollwick::ParseCardFields(tracks, false);
    const auto whole = tollwick::ParseCardFields(tracks, true);
    if (masked.has_value() != whole.has_value()) fuzz::Fail("masking changed the recognition");
    if (!masked) return 0;
    CheckFields(*masked);
    CheckFields(*whole);
    CheckMasking(*masked, *whole);
    return 0;
}
