// Named fields of recognised card formats, read from the decoded texts of a card's three tracks.
//
// Formats:
//   "iso7813"  ISO/IEC 7813 financial cards: track 1 format B and track 2.
//   "aamva"    AAMVA driver licences and ID cards: tracks 1 to 3 (also as recorded with the
//              CA DMV track formats: 6-bit tracks 1 and 3, track 3 starting with '!').
// A card that matches none of them has no fields: nothing is guessed. Within a recognised card
// nothing on the card is hidden: a value out of range or malformed is shown as it is on the card,
// marked malformed, with a remark in its explanation ("month 13 is not a month"); of a field
// only partly readable the readable part is shown, with a remark; a field left blank on the card,
// or left off at the end of a track, is absent.
//
// Keys are snake_case and stable; they are unique within their track (0: the card as a whole).
//   iso7813, tracks 1 and 2:
//     format_code (track 1 only), pan, pan_luhn, name, surname, given_names, title (track 1
//     only), expiry, service_code, service_code_interchange, service_code_authorisation,
//     service_code_services, discretionary_data
//   iso7813, tracks 1 and 2: rest (what follows the account number when it is not an expiry,
//     service code and discretionary data; malformed)
//   iso7813, card: tracks_agree (only when both tracks were read)
//   aamva, track 1: state, city, name, family_name, given_name, middle_names, address
//   aamva, track 2: iin, id_number, expiry, birth_date
//   aamva, track 3: cds_version, jurisdiction_version, postal_code, class, restrictions,
//                   endorsements, sex, height, weight, hair_colour, eye_colour,
//                   discretionary_data
//
// Values are printable ASCII as on the card, padding blanks trimmed; a flag's value is "true"
// or "false". Account numbers (key pan) are masked unless asked for whole; the explanations
// never repeat an account number.
//
// For JSON a caller can write {"format": F, "description": D, "card": {...}, "track1": {...},
// "track2": {...}, "track3": {...}} with each field as "key": value (a flag as a boolean) and,
// when it has one, "key_explanation": explanation, and for a malformed value "key_malformed":
// true.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tollwick {

enum class FieldKind { kText, kFlag };

struct Field {
    int track = 0;            // 1..3; 0 for a check over the whole card
    std::string key;          // see the list above
    std::string label;        // English, for text output
    std::string value;        // as on the card; a flag "true" or "false"
    std::string explanation;  // a coded value in words, or for a malformed value what is wrong
    FieldKind kind = FieldKind::kText;
    bool malformed = false;  // the value is not what the format allows: shown as on the card
};

struct CardFields {
    std::string format;         // "iso7813" or "aamva"
    std::string description;    // the format in words
    std::vector<Field> fields;  // tracks 1, 2, 3 in card order, then the card's checks

    // The field of that track and key; nullptr when absent.
    const Field* Find(int track, std::string_view key) const;
};

// Reads the fields of a card from its three track texts as held after a read: with the start
// and end sentinels ("%B4000...?", ";4000...=2912...?"). A placeholder ("{NO DATA}",
// "{Trace2 data error}") or an empty text is a track without data. Nothing when the card is in
// no known format. showPan shows account numbers whole instead of masked.
std::optional<CardFields> ParseCardFields(const std::array<std::string, 3>& tracks,
                                          bool showPan = false);

// The fields as text lines: the format, then per track its fields ("  Label: value
// (explanation)"), then the card's checks. Flags read "yes" or "no".
std::vector<std::string> FieldLines(const CardFields& fields);

// Luhn (mod 10) check over a text of digits; false for an empty text or any other character.
bool LuhnValid(std::string_view digits);

// An account number with only its first six and last four digits shown, the others '*'. From
// 8 to 12 digits only the last four are shown; below 8 none.
std::string MaskPan(std::string_view pan);

}  // namespace tollwick
