#include "carddata/card_fields.h"

#include <algorithm>
#include <cstddef>
#include <string>
#include <utility>

#include "carddata/track_format.h"

namespace tollwick {
namespace {

constexpr std::string_view kIsoFormat = "iso7813";
constexpr std::string_view kAamvaFormat = "aamva";

constexpr std::array<std::string_view, 12> kMonths = {
    "January", "February", "March",     "April",   "May",      "June",
    "July",    "August",   "September", "October", "November", "December"};

// The name of MONTH, 1..12 (the caller has checked it).
std::string_view MonthName(int month) {
    return kMonths[static_cast<size_t>(month - 1)];
}

bool IsDigit(char ch) {
    return ch >= '0' && ch <= '9';
}

bool AllDigits(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), IsDigit);
}

bool IsUpper(char ch) {
    return ch >= 'A' && ch <= 'Z';
}

int TwoDigits(std::string_view text) {
    return (text[0] - '0') * 10 + (text[1] - '0');
}

std::string_view Trim(std::string_view text) {
    const std::size_t first = text.find_first_not_of(' ');
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// The text of a track between its sentinels; nothing for a placeholder, an empty track, a text
// without the expected sentinels or one holding a character outside printable ASCII.
std::optional<std::string_view> TrackData(std::string_view text, std::string_view starts) {
    if (text.size() < 2 || IsPlaceholder(text)) return std::nullopt;
    if (starts.find(text.front()) == std::string_view::npos || text.back() != '?') {
        return std::nullopt;
    }
    const bool printable =
        std::all_of(text.begin(), text.end(), [](char ch) { return ch >= 0x20 && ch <= 0x7E; });
    if (!printable) return std::nullopt;
    return text.substr(1, text.size() - 2);
}

// Adds the fields of one track; blank values are left out.
class FieldAdder {
  public:
    FieldAdder(int track, std::vector<Field>& out) : track_(track), out_(out) {}

    void Text(std::string_view key, std::string_view label, std::string_view value,
              std::string explanation = {}) {
        value = Trim(value);
        if (value.empty()) return;
        out_.push_back({track_, std::string(key), std::string(label), std::string(value),
                        std::move(explanation), FieldKind::kText});
    }
    // A value as on the card that the format does not allow, with what is wrong with it.
    void Malformed(std::string_view key, std::string_view label, std::string_view value,
                   std::string remark) {
        value = Trim(value);
        if (value.empty()) return;
        out_.push_back({track_, std::string(key), std::string(label), std::string(value),
                        std::move(remark), FieldKind::kText, true});
    }
    void Flag(std::string_view key, std::string_view label, bool value, std::string explanation) {
        out_.push_back({track_, std::string(key), std::string(label), value ? "true" : "false",
                        std::move(explanation), FieldKind::kFlag});
    }

  private:
    int track_;
    std::vector<Field>& out_;
};

// "December 2029" for a YYMM expiry; nothing when the month is not 01..12.
std::optional<std::string> MonthYear(std::string_view yymm) {
    if (yymm.size() != 4 || !AllDigits(yymm)) return std::nullopt;
    const int month = TwoDigits(yymm.substr(2));
    if (month < 1 || month > 12) return std::nullopt;
    return std::string(MonthName(month)) + " 20" + std::string(yymm.substr(0, 2));
}

// What is wrong with a YYMM that MonthYear does not take.
std::string ExpiryRemark(std::string_view yymm) {
    if (yymm.size() != 4 || !AllDigits(yymm)) return "not four digits YYMM";
    return "month " + std::string(yymm.substr(2)) + " is not a month";
}

// --- ISO/IEC 7813 -------------------------------------------------------------------------

// The parts of a financial track, raw; empty when absent.
struct IsoTrack {
    std::string pan;  // digits only
    std::string name;
    std::string expiry;
    std::string serviceCode;
    std::string discretionary;
    std::string rest;  // what follows and is not in the format
};

// After the account number (track 2) or the name (track 1): expiry YYMM or a separator,
// service code or a separator, then discretionary data. Parts that do not fit stay empty.
void ParseIsoTail(std::string_view rest, char separator, IsoTrack& track) {
    std::size_t at = 0;
    if (at < rest.size() && rest[at] == separator) {
        ++at;
    } else if (rest.size() >= 4 && AllDigits(rest.substr(0, 4))) {
        track.expiry = rest.substr(0, 4);
        at = 4;
    } else {
        track.rest = rest;
        return;
    }
    if (at < rest.size() && rest[at] == separator) {
        ++at;
    } else if (rest.size() - at >= 3 && AllDigits(rest.substr(at, 3))) {
        track.serviceCode = rest.substr(at, 3);
        at += 3;
    } else {
        track.rest = rest.substr(at);
        return;
    }
    track.discretionary = rest.substr(at);
}

constexpr std::size_t kMinPanDigits = 8;
constexpr std::size_t kMaxPanDigits = 19;

// Track 1 format B: 'B', account number (blanks between digit groups allowed), '^', name, '^',
// then the tail.
std::optional<IsoTrack> ParseIsoTrack1(std::string_view data) {
    if (data.empty() || data[0] != 'B') return std::nullopt;
    const std::size_t panEnd = data.find('^');
    if (panEnd == std::string_view::npos) return std::nullopt;
    const std::size_t nameEnd = data.find('^', panEnd + 1);
    if (nameEnd == std::string_view::npos) return std::nullopt;
    IsoTrack track;
    for (char ch : data.substr(1, panEnd - 1)) {
        if (IsDigit(ch)) {
            track.pan += ch;
        } else if (ch != ' ') {
            return std::nullopt;
        }
    }
    if (track.pan.size() < kMinPanDigits || track.pan.size() > kMaxPanDigits) return std::nullopt;
    track.name = data.substr(panEnd + 1, nameEnd - panEnd - 1);
    ParseIsoTail(data.substr(nameEnd + 1), '^', track);
    return track;
}

// Track 2: account number, '=', then the tail.
std::optional<IsoTrack> ParseIsoTrack2(std::string_view data) {
    const std::size_t panEnd = data.find('=');
    if (panEnd == std::string_view::npos) return std::nullopt;
    const std::string_view pan = data.substr(0, panEnd);
    if (!AllDigits(pan) || pan.size() < kMinPanDigits || pan.size() > kMaxPanDigits) {
        return std::nullopt;
    }
    IsoTrack track;
    track.pan = pan;
    ParseIsoTail(data.substr(panEnd + 1), '=', track);
    return track;
}

// A track 2 read without a format B track 1 counts as a financial card only with a full
// account number, a valid expiry and a service code of a defined interchange.
bool StandsAlone(const IsoTrack& track) {
    return track.pan.size() >= 12 && MonthYear(track.expiry) && track.serviceCode.size() == 3 &&
           std::string_view("125679").find(track.serviceCode[0]) != std::string_view::npos;
}

std::string ServiceInterchange(char digit) {
    switch (digit) {
        case '1':
            return "international interchange";
        case '2':
            return "international interchange, use the chip where feasible";
        case '5':
            return "national interchange only, except under bilateral agreement";
        case '6':
            return "national interchange only, except under bilateral agreement; use the chip "
                   "where feasible";
        case '7':
            return "no interchange, except under bilateral agreement";
        case '9':
            return "test card";
        default:
            return "reserved";
    }
}

std::string ServiceAuthorisation(char digit) {
    switch (digit) {
        case '0':
            return "normal";
        case '2':
            return "by the issuer, online";
        case '4':
            return "by the issuer, online, except under bilateral agreement";
        default:
            return "reserved";
    }
}

std::string ServiceRange(char digit) {
    switch (digit) {
        case '0':
            return "no restrictions, PIN required";
        case '1':
            return "no restrictions";
        case '2':
            return "goods and services only (no cash)";
        case '3':
            return "ATM only, PIN required";
        case '4':
            return "cash only";
        case '5':
            return "goods and services only (no cash), PIN required";
        case '6':
            return "no restrictions, PIN where feasible";
        case '7':
            return "goods and services only (no cash), PIN where feasible";
        default:
            return "reserved";
    }
}

// Name per ISO/IEC 7813: surname '/' given names, and a title after '.'.
void AddIsoName(std::string_view raw, FieldAdder& add) {
    const std::string_view name = Trim(raw);
    if (name.empty() || name == "/") return;  // " /" stands for no name
    add.Text("name", "Name", name);
    const std::size_t slash = name.find('/');
    if (slash == std::string_view::npos) return;
    add.Text("surname", "Surname", name.substr(0, slash));
    std::string_view given = name.substr(slash + 1);
    const std::size_t dot = given.find('.');
    if (dot != std::string_view::npos) {
        add.Text("title", "Title", given.substr(dot + 1));
        given = given.substr(0, dot);
    }
    add.Text("given_names", "Given names", given);
}

void AddIsoTrack(int number, const IsoTrack& track, bool showPan, std::vector<Field>& out) {
    FieldAdder add(number, out);
    if (number == 1) add.Text("format_code", "Format code", "B", "financial card");
    add.Text("pan", "Primary account number", showPan ? track.pan : MaskPan(track.pan));
    const bool luhn = LuhnValid(track.pan);
    add.Flag("pan_luhn", "Luhn check", luhn,
             luhn ? "the check digit is right" : "the check digit is wrong");
    if (number == 1) AddIsoName(track.name, add);
    if (auto when = MonthYear(track.expiry)) {
        add.Text("expiry", "Expiry (YYMM)", track.expiry, *when);
    } else if (!track.expiry.empty()) {
        add.Malformed("expiry", "Expiry (YYMM)", track.expiry, ExpiryRemark(track.expiry));
    }
    if (track.serviceCode.size() == 3) {
        const std::string& code = track.serviceCode;
        add.Text("service_code", "Service code", code);
        add.Text("service_code_interchange", "Service code: interchange", code.substr(0, 1),
                 ServiceInterchange(code[0]));
        add.Text("service_code_authorisation", "Service code: authorisation", code.substr(1, 1),
                 ServiceAuthorisation(code[1]));
        add.Text("service_code_services", "Service code: services and PIN", code.substr(2, 1),
                 ServiceRange(code[2]));
    }
    add.Text("discretionary_data", "Discretionary data", track.discretionary);
    add.Malformed("rest", "Rest of the track", track.rest,
                  "not an expiry (YYMM) and service code as the format has them");
}

void AddTrackAgreement(const IsoTrack& one, const IsoTrack& two, std::vector<Field>& out) {
    std::vector<std::string_view> differ;
    if (one.pan != two.pan) differ.push_back("account number");
    if (one.expiry != two.expiry) differ.push_back("expiry");
    if (one.serviceCode != two.serviceCode) differ.push_back("service code");
    std::string explanation;
    if (differ.empty()) {
        explanation = "same account number, expiry and service code";
    } else {
        for (std::size_t i = 0; i < differ.size(); ++i) {
            if (i > 0) explanation += i + 1 == differ.size() ? " and " : ", ";
            explanation += differ[i];
        }
        explanation += differ.size() == 1 ? " differs" : " differ";
    }
    FieldAdder(0, out).Flag("tracks_agree", "Tracks 1 and 2 agree", differ.empty(),
                            std::move(explanation));
}

// --- AAMVA ---------------------------------------------------------------------------------

struct Jurisdiction {
    std::string_view code;
    std::string_view name;
};

// US states and territories, Canadian provinces and territories.
// clang-format off
constexpr Jurisdiction kJurisdictions[] = {
    {"AL", "Alabama"}, {"AK", "Alaska"}, {"AZ", "Arizona"}, {"AR", "Arkansas"},
    {"CA", "California"}, {"CO", "Colorado"}, {"CT", "Connecticut"}, {"DE", "Delaware"},
    {"DC", "District of Columbia"}, {"FL", "Florida"}, {"GA", "Georgia"}, {"HI", "Hawaii"},
    {"ID", "Idaho"}, {"IL", "Illinois"}, {"IN", "Indiana"}, {"IA", "Iowa"}, {"KS", "Kansas"},
    {"KY", "Kentucky"}, {"LA", "Louisiana"}, {"ME", "Maine"}, {"MD", "Maryland"},
    {"MA", "Massachusetts"}, {"MI", "Michigan"}, {"MN", "Minnesota"}, {"MS", "Mississippi"},
    {"MO", "Missouri"}, {"MT", "Montana"}, {"NE", "Nebraska"}, {"NV", "Nevada"},
    {"NH", "New Hampshire"}, {"NJ", "New Jersey"}, {"NM", "New Mexico"}, {"NY", "New York"},
    {"NC", "North Carolina"}, {"ND", "North Dakota"}, {"OH", "Ohio"}, {"OK", "Oklahoma"},
    {"OR", "Oregon"}, {"PA", "Pennsylvania"}, {"RI", "Rhode Island"}, {"SC", "South Carolina"},
    {"SD", "South Dakota"}, {"TN", "Tennessee"}, {"TX", "Texas"}, {"UT", "Utah"},
    {"VT", "Vermont"}, {"VA", "Virginia"}, {"WA", "Washington"}, {"WV", "West Virginia"},
    {"WI", "Wisconsin"}, {"WY", "Wyoming"}, {"AS", "American Samoa"}, {"GU", "Guam"},
    {"MP", "Northern Mariana Islands"}, {"PR", "Puerto Rico"}, {"VI", "U.S. Virgin Islands"},
    {"AB", "Alberta"}, {"BC", "British Columbia"}, {"MB", "Manitoba"}, {"NB", "New Brunswick"},
    {"NL", "Newfoundland and Labrador"}, {"NS", "Nova Scotia"}, {"NT", "Northwest Territories"},
    {"NU", "Nunavut"}, {"ON", "Ontario"}, {"PE", "Prince Edward Island"}, {"QC", "Quebec"},
    {"SK", "Saskatchewan"}, {"YT", "Yukon"},
};
// clang-format on

std::string JurisdictionName(std::string_view code) {
    for (const Jurisdiction& j : kJurisdictions) {
        if (j.code == code) return std::string(j.name);
    }
    return {};
}

struct AamvaTrack1 {
    std::string_view state, city, name, address;
};

// A variable field: up to its separator '^' when that comes within the field's width,
// otherwise the full width (a field of full width needs no separator).
std::string_view TakeField(std::string_view data, std::size_t& at, std::size_t width) {
    if (at >= data.size()) return {};
    const std::string_view rest = data.substr(at);
    const std::size_t separator = rest.find('^');
    if (separator != std::string_view::npos && separator <= width) {
        at += separator + 1;
        return rest.substr(0, separator);
    }
    const std::size_t n = std::min(width, rest.size());
    at += n;
    return rest.substr(0, n);
}

// Track 1: state or province (2), city (13), name (35), address (29).
std::optional<AamvaTrack1> ParseAamvaTrack1(std::string_view data) {
    if (data.size() < 2 || !IsUpper(data[0]) || !IsUpper(data[1])) return std::nullopt;
    AamvaTrack1 track;
    track.state = data.substr(0, 2);
    std::size_t at = 2;
    track.city = TakeField(data, at, 13);
    track.name = TakeField(data, at, 35);
    track.address = TakeField(data, at, 29);
    return track;
}

// Without an AAMVA track 2, track 1 alone is taken for a licence only when it names a known
// jurisdiction, a city and a name with its '$' separators.
bool StandsAlone(const AamvaTrack1& track) {
    return !JurisdictionName(track.state).empty() && !Trim(track.city).empty() &&
           track.name.find('$') != std::string_view::npos;
}

void AddAamvaTrack1(const AamvaTrack1& track, std::vector<Field>& out) {
    FieldAdder add(1, out);
    add.Text("state", "State or province", track.state, JurisdictionName(track.state));
    add.Text("city", "City", track.city);
    const std::string_view name = Trim(track.name);
    add.Text("name", "Name", name);
    if (name.find('$') != std::string_view::npos) {
        std::vector<std::string_view> parts;
        std::size_t from = 0;
        while (true) {
            const std::size_t to = name.find('$', from);
            parts.push_back(Trim(name.substr(from, to - from)));
            if (to == std::string_view::npos) break;
            from = to + 1;
        }
        add.Text("family_name", "Family name", parts[0]);
        add.Text("given_name", "Given name", parts[1]);
        std::string middle;
        for (std::size_t i = 2; i < parts.size(); ++i) {
            if (parts[i].empty()) continue;
            if (!middle.empty()) middle += ' ';
            middle += parts[i];
        }
        add.Text("middle_names", "Middle names", middle);
    }
    add.Text("address", "Address", track.address);
}

struct AamvaTrack2 {
    std::string_view iin;
    std::string_view number;
    std::string_view expiry;     // may be short or empty where the track ends early
    std::string_view birthDate;  // the same
    std::string_view overflow;   // the digits of the number's overflow
    std::string_view rest;       // what follows and is not in the format
};

// Track 2: IIN 636xxx, licence or ID number, '=', expiry YYMM, birth date CCYYMMDD, then up to
// five digits of the number's overflow, possibly closed by '='. A track may end early: what it
// holds is taken.
std::optional<AamvaTrack2> ParseAamvaTrack2(std::string_view data) {
    const std::size_t separator = data.find('=');
    if (separator == std::string_view::npos || separator < 7) return std::nullopt;
    const std::string_view head = data.substr(0, separator);
    if (!AllDigits(head) || !head.starts_with("636") || head.size() > 6 + kMaxPanDigits) {
        return std::nullopt;
    }
    const std::string_view tail = data.substr(separator + 1);
    std::size_t digits = 0;
    while (digits < tail.size() && IsDigit(tail[digits])) ++digits;
    AamvaTrack2 track;
    track.iin = head.substr(0, 6);
    track.number = head.substr(6);
    track.expiry = tail.substr(0, std::min<std::size_t>(digits, 4));
    if (digits > 4) track.birthDate = tail.substr(4, std::min<std::size_t>(digits, 12) - 4);
    if (digits < 12) {
        track.rest = tail.substr(std::min<std::size_t>(digits, 12));
        return track;
    }
    const std::string_view rest = tail.substr(12);
    std::size_t overflow = 0;
    while (overflow < rest.size() && overflow < 5 && IsDigit(rest[overflow])) ++overflow;
    if (rest.find_first_not_of('=', overflow) == std::string_view::npos) {
        track.overflow = rest.substr(0, overflow);
    } else {
        track.rest = rest;
    }
    return track;
}

// "15 March 1985" for CCYYMMDD; nothing for a day that is not in the calendar.
std::optional<std::string> FullDate(std::string_view date) {
    const int year = TwoDigits(date.substr(0, 2)) * 100 + TwoDigits(date.substr(2, 2));
    const int month = TwoDigits(date.substr(4, 2));
    const int day = TwoDigits(date.substr(6, 2));
    if (month < 1 || month > 12 || day < 1) return std::nullopt;
    constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    if (day > kDays[month - 1] + (month == 2 && leap ? 1 : 0)) return std::nullopt;
    return std::to_string(day) + " " + std::string(MonthName(month)) + " " +
           std::string(date.substr(0, 4));
}

// The expiry YYMM of a licence. Month 77: it does not expire; 88: the end of the birth month
// in year YY; 99: the birthday in year YY.
std::optional<std::string> LicenceExpiry(std::string_view expiry, std::string_view birthDate) {
    if (auto when = MonthYear(expiry)) return when;
    const std::string_view month = expiry.substr(2);
    const std::string year = "20" + std::string(expiry.substr(0, 2));
    const std::optional<std::string> birth =
        birthDate.size() == 8 ? FullDate(birthDate) : std::nullopt;
    if (month == "77") return "does not expire";
    if (!birth) return std::nullopt;
    const std::string_view birthMonth = MonthName(TwoDigits(birthDate.substr(4, 2)));
    if (month == "88") return "end of " + std::string(birthMonth) + " " + year;
    if (month == "99") {
        return "birthday in " + year + ": " + std::to_string(TwoDigits(birthDate.substr(6, 2))) +
               " " + std::string(birthMonth) + " " + year;
    }
    return std::nullopt;
}

// What is wrong with a CCYYMMDD that FullDate does not take.
std::string DateRemark(std::string_view date) {
    if (date.size() != 8) return std::to_string(date.size()) + " digits, a date has 8";
    const int month = TwoDigits(date.substr(4, 2));
    if (month < 1 || month > 12)
        return "month " + std::string(date.substr(4, 2)) + " is not a month";
    return "day " + std::string(date.substr(6, 2)) + " is not in " + std::string(MonthName(month)) +
           " " + std::string(date.substr(0, 4));
}

void AddAamvaTrack2(const AamvaTrack2& track, std::vector<Field>& out) {
    FieldAdder add(2, out);
    add.Text("iin", "Issuer identification number", track.iin);
    if (track.rest.empty() || !track.overflow.empty()) {
        add.Text("id_number", "Licence or ID number",
                 std::string(track.number) + std::string(track.overflow));
    } else {
        // The overflow does not read: the number before the separator is shown as it is.
        add.Malformed("id_number", "Licence or ID number", track.number,
                      "its overflow after the birth date, \"" + std::string(track.rest) +
                          "\", is not up to five digits");
    }
    const bool birthRead = track.birthDate.size() == 8 && FullDate(track.birthDate);
    if (track.expiry.size() == 4) {
        const auto when = LicenceExpiry(track.expiry, birthRead ? track.birthDate : "");
        if (when) {
            add.Text("expiry", "Expiry (YYMM)", track.expiry, *when);
        } else {
            const std::string_view month = track.expiry.substr(2);
            add.Malformed("expiry", "Expiry (YYMM)", track.expiry,
                          month == "88" || month == "99" ? "month " + std::string(month) +
                                                               " counts from the birth date, "
                                                               "which does not read"
                                                         : ExpiryRemark(track.expiry));
        }
    } else {
        add.Malformed("expiry", "Expiry (YYMM)", track.expiry, ExpiryRemark(track.expiry));
    }
    if (birthRead) {
        add.Text("birth_date", "Birth date (CCYYMMDD)", track.birthDate,
                 *FullDate(track.birthDate));
    } else {
        add.Malformed("birth_date", "Birth date (CCYYMMDD)", track.birthDate,
                      DateRemark(track.birthDate));
    }
    if (track.overflow.empty() && !track.rest.empty() && track.birthDate.size() < 8) {
        add.Malformed("rest", "Rest of the track", track.rest,
                      "not an expiry and birth date as the format has them");
    }
}

std::string SexInWords(std::string_view code) {
    if (code == "1" || code == "M") return "male";
    if (code == "2" || code == "F") return "female";
    return {};
}

// Feet and inches, as in "511": 5 ft 11 in.
std::string HeightInWords(std::string_view height) {
    if (height.size() != 3 || !AllDigits(height)) return {};
    const int feet = height[0] - '0';
    const int inches = TwoDigits(height.substr(1));
    if (feet < 3 || feet > 8 || inches > 11) return {};
    return std::to_string(feet) + " ft " + std::to_string(inches) + " in";
}

std::string HairInWords(std::string_view code) {
    constexpr std::pair<std::string_view, std::string_view> kHair[] = {
        {"BAL", "bald"}, {"BLK", "black"}, {"BLN", "blond"}, {"BRO", "brown"},  {"GRY", "grey"},
        {"RED", "red"},  {"SDY", "sandy"}, {"WHI", "white"}, {"UNK", "unknown"}};
    for (const auto& [c, words] : kHair) {
        if (c == code) return std::string(words);
    }
    return {};
}

std::string EyesInWords(std::string_view code) {
    constexpr std::pair<std::string_view, std::string_view> kEyes[] = {
        {"BLK", "black"},       {"BLU", "blue"},   {"BRO", "brown"},  {"GRY", "grey"},
        {"GRN", "green"},       {"HAZ", "hazel"},  {"MAR", "maroon"}, {"PNK", "pink"},
        {"DIC", "dichromatic"}, {"UNK", "unknown"}};
    for (const auto& [c, words] : kEyes) {
        if (c == code) return std::string(words);
    }
    return {};
}

// Track 3, fixed widths: CDS version 1, jurisdiction version 1, postal code 11, class 2,
// restrictions 10, endorsements 4, sex 1, height 3, weight 3, hair 3, eyes 3; the rest is left
// to the jurisdiction. A card may end the track anywhere (trailing fields left off): the fields
// it holds are shown, those it left off are absent.
void AddAamvaTrack3(std::string_view data, std::vector<Field>& out) {
    FieldAdder add(3, out);
    std::size_t at = 0;
    auto take = [&](std::size_t width) {
        const std::string_view field = at < data.size() ? data.substr(at, width) : "";
        at += width;
        return Trim(field);
    };
    add.Text("cds_version", "CDS version", take(1));
    add.Text("jurisdiction_version", "Jurisdiction version", take(1));
    add.Text("postal_code", "Postal code", take(11));
    add.Text("class", "Class", take(2));
    add.Text("restrictions", "Restrictions", take(10));
    add.Text("endorsements", "Endorsements", take(4));
    const std::string_view sex = take(1);
    add.Text("sex", "Sex", sex, SexInWords(sex));
    const std::string_view height = take(3);
    add.Text("height", "Height", height, HeightInWords(height));
    add.Text("weight", "Weight", take(3));
    const std::string_view hair = take(3);
    add.Text("hair_colour", "Hair colour", hair, HairInWords(hair));
    const std::string_view eyes = take(3);
    add.Text("eye_colour", "Eye colour", eyes, EyesInWords(eyes));
    if (at < data.size()) add.Text("discretionary_data", "Jurisdiction data", data.substr(at));
}

CardFields NewCard(std::string_view format, std::string_view description) {
    CardFields card;
    card.format = format;
    card.description = description;
    return card;
}

}  // namespace

const Field* CardFields::Find(int track, std::string_view key) const {
    for (const Field& field : fields) {
        if (field.track == track && field.key == key) return &field;
    }
    return nullptr;
}

bool LuhnValid(std::string_view digits) {
    if (!AllDigits(digits)) return false;
    int sum = 0;
    bool twice = false;
    for (auto it = digits.rbegin(); it != digits.rend(); ++it) {
        int digit = *it - '0';
        if (twice) {
            digit *= 2;
            if (digit > 9) digit -= 9;
        }
        sum += digit;
        twice = !twice;
    }
    return sum % 10 == 0;
}

std::string MaskPan(std::string_view pan) {
    std::string masked(pan.size(), '*');
    std::size_t head = 0;
    std::size_t tail = 0;
    if (pan.size() >= 13) {
        head = 6;
        tail = 4;
    } else if (pan.size() >= 8) {
        tail = 4;
    }
    for (std::size_t i = 0; i < head; ++i) masked[i] = pan[i];
    for (std::size_t i = pan.size() - tail; i < pan.size(); ++i) masked[i] = pan[i];
    return masked;
}

std::optional<CardFields> ParseCardFields(const std::array<std::string, 3>& tracks, bool showPan) {
    const auto data1 = TrackData(tracks[0], "%");
    const auto data2 = TrackData(tracks[1], ";");
    const auto data3 = TrackData(tracks[2], "%!");  // '!' as recorded with the CA DMV formats

    const auto iso1 = data1 ? ParseIsoTrack1(*data1) : std::nullopt;
    const auto aamva2 = data2 ? ParseAamvaTrack2(*data2) : std::nullopt;

    if (!iso1 && aamva2) {
        CardFields card = NewCard(kAamvaFormat, "AAMVA driver licence or ID card");
        if (data1) {
            if (auto track1 = ParseAamvaTrack1(*data1)) AddAamvaTrack1(*track1, card.fields);
        }
        AddAamvaTrack2(*aamva2, card.fields);
        if (data3) AddAamvaTrack3(*data3, card.fields);
        return card;
    }

    auto iso2 = data2 ? ParseIsoTrack2(*data2) : std::nullopt;
    if (iso2 && !iso1 && !StandsAlone(*iso2)) iso2.reset();
    if (iso1 || iso2) {
        CardFields card = NewCard(kIsoFormat, "ISO/IEC 7813 financial card");
        if (iso1) AddIsoTrack(1, *iso1, showPan, card.fields);
        if (iso2) AddIsoTrack(2, *iso2, showPan, card.fields);
        if (iso1 && iso2) AddTrackAgreement(*iso1, *iso2, card.fields);
        return card;
    }

    if (data1 && !data2) {
        const auto aamva1 = ParseAamvaTrack1(*data1);
        if (aamva1 && StandsAlone(*aamva1)) {
            CardFields card = NewCard(kAamvaFormat, "AAMVA driver licence or ID card");
            AddAamvaTrack1(*aamva1, card.fields);
            if (data3) AddAamvaTrack3(*data3, card.fields);
            return card;
        }
    }
    return std::nullopt;
}

std::vector<std::string> FieldLines(const CardFields& card) {
    std::vector<std::string> lines;
    lines.push_back("Format: " + card.description);
    int group = -1;
    for (int track : {1, 2, 3, 0}) {
        for (const Field& field : card.fields) {
            if (field.track != track) continue;
            if (group != track) {
                lines.push_back(track == 0 ? "Card:" : "Track " + std::to_string(track) + ":");
                group = track;
            }
            std::string line = "  " + field.label + ": ";
            if (field.kind == FieldKind::kFlag) {
                line += field.value == "true" ? "yes" : "no";
            } else {
                line += field.value;
            }
            if (!field.explanation.empty()) line += " (" + field.explanation + ")";
            lines.push_back(std::move(line));
        }
    }
    return lines;
}

}  // namespace tollwick
