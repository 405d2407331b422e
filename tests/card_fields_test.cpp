// Card fields: ISO/IEC 7813 financial cards and AAMVA licences read from decoded track texts.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "carddata/account_mask.h"
#include "carddata/card_fields.h"

namespace tollwick {
namespace {

using Tracks = std::array<std::string, 3>;

// Fields of one track with '|' between them: "key" for its value, "key?" for its explanation;
// "-" for a field the card does not have.
std::string Fields(const CardFields& card, int track, std::string_view keys) {
    std::string out;
    std::istringstream words{std::string(keys)};
    for (std::string key, separator; words >> key; separator = "|") {
        const bool explained = key.back() == '?';
        if (explained) key.pop_back();
        const Field* field = card.Find(track, key);
        out += separator + (field ? (explained ? field->explanation : field->value) : "-");
    }
    return out;
}

CardFields Parse(const Tracks& tracks, bool showPan = false) {
    auto card = ParseCardFields(tracks, showPan);
    EXPECT_TRUE(card) << tracks[0] << " | " << tracks[1] << " | " << tracks[2];
    return card.value_or(CardFields{});
}

const Tracks kIsoCard = {"%B4000001234567899^TOLLWICK/TEST CARD^2912101000000000000?",
                         ";4000001234567899=29121010000000000000?",
                         ";011234567890123445=724724000000000000030300000000000000000000?"};

TEST(IsoFields, BothTracksOfAFinancialCardAndTheirLines) {
    const CardFields card = Parse(kIsoCard, /*showPan=*/true);
    EXPECT_EQ(card.format, "iso7813");
    EXPECT_EQ(Fields(card, 1, "format_code pan pan_luhn expiry service_code discretionary_data"),
              "B|4000001234567899|true|2912|101|000000000000");
    EXPECT_EQ(Fields(card, 2, "pan pan_luhn expiry service_code discretionary_data name"),
              "4000001234567899|true|2912|101|0000000000000|-");
    EXPECT_EQ(Fields(card, 0, "tracks_agree"), "true");
    EXPECT_EQ(card.Find(3, "pan"), nullptr);  // an ISO track 3 is not read
    EXPECT_EQ(card.fields.back().track, 0);   // the card's checks come after the tracks

    // As text, the account number masked.
    const auto lines = FieldLines(Parse(kIsoCard));
    ASSERT_GE(lines.size(), 5u);
    EXPECT_EQ(lines[0], "Format: ISO/IEC 7813 financial card");
    EXPECT_EQ(lines[1], "Track 1:");
    EXPECT_EQ(lines[3], "  Primary account number: 400000******7899");
    EXPECT_EQ(lines[4], "  Luhn check: yes (the check digit is right)");
    EXPECT_EQ(lines[lines.size() - 2], "Card:");
    EXPECT_EQ(lines.back(),
              "  Tracks 1 and 2 agree: yes (same account number, expiry and service code)");
}

TEST(IsoFields, NameSplitsIntoSurnameGivenNamesAndTitle) {
    // On the card, then name, surname, given names, title; the expiry after it, and no track 2
    // to agree with.
    for (const auto& [name, fields] : {
             std::pair{"DOE/JOHN Q.MR        ", "DOE/JOHN Q.MR|DOE|JOHN Q|MR"},
             {"VAN DER BERG/ANNA", "VAN DER BERG/ANNA|VAN DER BERG|ANNA|-"},
             {"ACME CORPORATION", "ACME CORPORATION|-|-|-"},  // no '/': not split
             {"SOLO/", "SOLO/|SOLO|-|-"},
             {" /", "-|-|-|-"},  // the card carries no name
         }) {
        const CardFields card =
            Parse({"%B4000001234567899^" + std::string(name) + "^2912101?", "{NO DATA}", ""});
        EXPECT_EQ(Fields(card, 1, "name surname given_names title expiry"),
                  std::string(fields) + "|2912");
        EXPECT_EQ(Fields(card, 0, "tracks_agree"), "-");
    }
}

TEST(IsoFields, ExpiryServiceCodeAndAbsentParts) {
    auto track2 = [](std::string tail) {
        return Parse({"{NO DATA}", ";4000001234567899=" + tail + "?", "{NO DATA}"});
    };
    EXPECT_EQ(Fields(track2("2901201"), 2, "expiry? discretionary_data"), "January 2029|-");
    EXPECT_EQ(Fields(track2("3106526123"), 2, "expiry? discretionary_data"), "June 2031|123");
    // Each digit has its own table: the same digit means different things in each place.
    const std::pair<const char*, const char*> codes[] = {
        {"201", "2|international interchange, use the chip where feasible|normal|no restrictions"},
        {"526",
         "5|national interchange only, except under bilateral agreement|"
         "by the issuer, online|no restrictions, PIN where feasible"},
        {"700",
         "7|no interchange, except under bilateral agreement|normal|"
         "no restrictions, PIN required"},
        {"943",
         "9|test card|by the issuer, online, except under bilateral agreement|"
         "ATM only, PIN required"},
    };
    for (const auto& [code, words] : codes) {
        EXPECT_EQ(Fields(track2(std::string("2912") + code), 2,
                         "service_code_interchange service_code_interchange? "
                         "service_code_authorisation? service_code_services?"),
                  words);
    }

    // Expiry and service code may each be left out with a bare separator.
    CardFields card =
        Parse({"%B4000001234567899^DOE/JOHN^^^DISC?", ";4000001234567899==101?", "{NO DATA}"});
    EXPECT_EQ(Fields(card, 1, "expiry service_code discretionary_data"), "-|-|DISC");
    EXPECT_EQ(Fields(card, 2, "expiry service_code"), "-|101");
    EXPECT_EQ(Fields(card, 0, "tracks_agree?"), "service code differs");

    // A month outside 01..12 is shown as on the card, with what is wrong with it; the digits
    // after it still hold the service code.
    card = Parse({"%B4000001234567899^DOE/JOHN^2513101?", ";4000001234567899=2500101?", ""});
    EXPECT_EQ(Fields(card, 1, "expiry expiry? service_code"), "2513|month 13 is not a month|101");
    EXPECT_EQ(Fields(card, 2, "expiry expiry?"), "2500|month 00 is not a month");
    EXPECT_TRUE(card.Find(1, "expiry")->malformed);
    EXPECT_FALSE(card.Find(1, "pan")->malformed);
    const std::vector<std::string> lines = FieldLines(card);
    EXPECT_NE(
        std::find(lines.begin(), lines.end(), "  Expiry (YYMM): 2513 (month 13 is not a month)"),
        lines.end());
    // What follows the account number and is no expiry and service code is shown as it is.
    card = Parse({"%B4000001234567899^DOE/JOHN^29X2101?", ";4000001234567899=2912X01?", ""});
    EXPECT_EQ(Fields(card, 1, "rest") + "|" + Fields(card, 2, "expiry rest"), "29X2101|2912|X01");
}

TEST(IsoFields, LuhnCheckAndMasking) {
    for (std::string_view good : {"4000001234567899", "79927398713", "378282246310005", "0"})
        EXPECT_TRUE(LuhnValid(good)) << good;
    // One wrong digit, two swapped neighbours, nothing, blanks or letters among the digits.
    for (std::string_view bad : {"4000001234567898", "4000001234567989", "", "4000 0012", "12a4"})
        EXPECT_FALSE(LuhnValid(bad)) << bad;
    const CardFields wrong =
        Parse({"%B5500005555555558^ROE/JANE^2607201?", ";5500005555555558=2607201?", "{NO DATA}"});
    EXPECT_EQ(Fields(wrong, 1, "pan_luhn"), "false");
    EXPECT_EQ(Fields(wrong, 2, "pan_luhn pan_luhn?"), "false|the check digit is wrong");
    EXPECT_EQ(Fields(wrong, 0, "tracks_agree"), "true");  // both carry the same wrong number

    // First six and last four; from 8 to 12 digits the last four; below 8 none.
    for (const auto& [pan, masked] : {std::pair{"4000001234567890123", "400000*********0123"},
                                      {"3782822463100", "378282***3100"},
                                      {"378282246310", "********6310"},
                                      {"12345678", "****5678"},
                                      {"1234567", "*******"},
                                      {"", ""}})
        EXPECT_EQ(MaskPan(pan), masked);

    // Track 1 groups the digits with blanks on some cards; the number is the digits, masked in
    // every field and line.
    const Tracks tracks = {"%B3782 822463 10005^PUBLIC/JOHN Q^2711101?",
                           ";378282246310005=2811101?", "{NO DATA}"};
    const CardFields masked = Parse(tracks);
    EXPECT_EQ(Fields(masked, 1, "pan") + " " + Fields(masked, 2, "pan"),
              "378282*****0005 378282*****0005");
    for (const std::string& line : FieldLines(masked)) {
        EXPECT_EQ(line.find("2246310"), std::string::npos) << line;
        EXPECT_EQ(line.find("3782 822463"), std::string::npos) << line;
    }
    const CardFields whole = Parse(tracks, /*showPan=*/true);
    EXPECT_EQ(Fields(whole, 1, "pan"), "378282246310005");
    EXPECT_EQ(Fields(whole, 0, "tracks_agree?"), "expiry differs");
}
// Masking for a whole run's output: the numbers where cards carry them, in any text around them.
TEST(AccountMasking, EveryAccountNumberInAnyTextIsMasked) {
    const std::pair<const char*, const char*> cases[] = {
        {"Track1: %B4000001234567899^TOLLWICK/TEST CARD^2912101?",
         "Track1: %B400000******7899^TOLLWICK/TEST CARD^2912101?"},
        {"{\"text\":\";4000001234567899=2912101?\",\"status\":\"ok\"}",
         "{\"text\":\";400000******7899=2912101?\",\"status\":\"ok\"}"},
        {"2026-01-01T00:00:00+00:00,1,%B3782 822463 10005^PUBLIC/JOHN^2711101?,ok,",
         "2026-01-01T00:00:00+00:00,1,%B3782 82**** *0005^PUBLIC/JOHN^2711101?,ok,"},
        {"4000001234567899=2912 as written", "400000******7899=2912 as written"},
        {";12345678=99?", ";****5678=99?"},
        // A licence's 636 number, discretionary data and words are left alone.
        {";63601412345678=291219800101?", ";63601412345678=291219800101?"},
        {";4000001234567899?", ";4000001234567899?"},
        {"BOB 1234567890123^", "BOB 1234567890123^"},
    };
    for (const auto& [text, masked] : cases) EXPECT_EQ(MaskAccountNumbers(text), masked) << text;
}

TEST(CardFieldsRecognition, NoFieldsForCardsInNoKnownFormat) {
    const Tracks none[] = {
        {"{NO DATA}", "{NO DATA}", "{NO DATA}"},
        {"{Trace1 data error}", "{Trace2 data error}", "{Trace3 data error}"},
        // Hotel key, loyalty card, access badge: track 2 with a short number or no expiry.
        {"", ";1234=5678?", ""},
        {"", ";12345678901234?", ""},
        {"", ";4000001234567899=2913101?", ""},  // no month 13
        {"", ";4000001234567899=2912301?", ""},  // interchange 3 undefined
        {"", ";400000123456=29?", ""},
        // Track 1 not in format B, or format B without its separators.
        {"%A4000001234567899^DOE/JOHN^2912101?", "", ""},
        {"%B4000001234567899^DOE/JOHN?", "", ""},
        {"%B4000X01234567899^DOE/JOHN^2912?", "", ""},
        {"%B1234567^DOE/JOHN^2912?", "", ""},               // 7 digits
        {"%B12345678901234567890^DOE/JOHN^2912?", "", ""},  // 20 digits
        // Texts without their sentinels are not as read.
        {"B4000001234567899^DOE/JOHN^2912101", "4000001234567899=2912101", ""},
        {"%B4000001234567899^DOE/JOHN^2912101", ";4000001234567899=2912101", ""},
        // A licence track 1 alone needs a known jurisdiction and a '$' name.
        {"%ZZSPRINGFIELD^DOE$JOHN^1 MAIN ST^?", "", ""},
        {"%CASACRAMENTO^DOE JOHN^1 MAIN ST^?", "", ""},
        // Not 636: no licence; too short a number for a bank card alone.
        {"", ";6040001234=291219800101?", ""},
        {"0123456789ABCDEF", "DEADBEEF", "00FF00FF"},  // Raw Type hex
        // Control characters are never taken into a field.
        {"%B4000001234567899^DOE\n/JOHN^2912101?", "", ""},
    };
    for (const Tracks& tracks : none)
        EXPECT_FALSE(ParseCardFields(tracks)) << tracks[0] << " | " << tracks[1];
}

// Track 3: versions 0 and 1, postal code (11), class (2), restrictions (10), endorsements (4),
// sex, height, weight, hair, eyes.
const Tracks kLicence = {"%CASACRAMENTO^DOE$JOHN$Q^123 MAIN ST^?", ";63601412345678=291219800101?",
                         "%0195814      C B             1511180BROBLU?"};

TEST(AamvaFields, LicenceOnThreeTracks) {
    const CardFields card = Parse(kLicence);
    EXPECT_EQ(card.format, "aamva");
    EXPECT_EQ(Fields(card, 1, "state state? city middle_names"), "CA|California|SACRAMENTO|Q");
    EXPECT_EQ(Fields(card, 2, "iin id_number expiry? birth_date birth_date?"),
              "636014|12345678|December 2029|19800101|1 January 1980");
    // Track 3's widths are checked below; here blanks (endorsements, discretionary data) and
    // the words for codes.
    EXPECT_EQ(Fields(card, 3,
                     "restrictions endorsements discretionary_data sex? height? "
                     "hair_colour?"),
              "B|-|-|male|5 ft 11 in|brown");
    EXPECT_EQ(card.Find(2, "pan"), nullptr);  // 636 is a licence, not an account number

    // Recorded with the CA DMV formats, track 3 starts with '!'.
    Tracks caDmv = kLicence;
    caDmv[2][0] = '!';
    EXPECT_EQ(Fields(Parse(caDmv), 3, "postal_code"), "95814");
    // Track 1 alone names the jurisdiction, city and name.
    const CardFields alone = Parse({kLicence[0], "{Trace2 data error}", "{NO DATA}"});
    EXPECT_EQ(alone.format, "aamva");
    EXPECT_EQ(Fields(alone, 1, "family_name"), "DOE");
}

TEST(AamvaFields, TrackOneFieldWidths) {
    const std::string name35 = "WOLFESCHLEGELSTEINHAUSEN$HUBERT$B$C";
    const std::pair<std::string, const char*> cases[] = {
        // A city shorter than 13 characters ends at its separator; one of 13 may omit it.
        {"NYPOUGHKEEPSIE^DOE$JANE^1 A ST^", "POUGHKEEPSIE|DOE$JANE|DOE|JANE|-|1 A ST"},
        {"CASAN FRANCISCODOE$JANE^1 A ST^", "SAN FRANCISCO|DOE$JANE|DOE|JANE|-|1 A ST"},
        {"CASAN FRANCISCO^DOE$JANE^1 A ST^", "SAN FRANCISCO|DOE$JANE|DOE|JANE|-|1 A ST"},
        // A full-width name (35) runs straight into the address.
        {"PAPHILADELPHIA^" + name35 + "4 ELM ST^",
         "PHILADELPHIA|WOLFESCHLEGELSTEINHAUSEN$HUBERT$B$C|WOLFESCHLEGELSTEINHAUSEN|HUBERT|B C|"
         "4 ELM ST"},
        // The address is at most 29 characters; more is not part of it.
        {"CALA^ROE$JANE^12345 SOUTH SEPULVEDA BOULEVARD APT 9^",
         "LA|ROE$JANE|ROE|JANE|-|12345 SOUTH SEPULVEDA BOULEVA"},
        {"CALA^ROE$$JANE^1 A ST^", "LA|ROE$$JANE|ROE|-|JANE|1 A ST"},
    };
    for (const auto& [data, fields] : cases) {
        const CardFields card = Parse({"%" + data + "?", ";63601412345678=291219800101?", ""});
        EXPECT_EQ(Fields(card, 1, "city name family_name given_name middle_names address"), fields)
            << data;
    }
}

TEST(AamvaFields, TrackTwoNumberDatesAndOverflow) {
    const std::pair<const char*, const char*> cases[] = {
        {"6360141234567890123=3203197602290123=",
         "12345678901230123|March 2032|19760229|"
         "29 February 1976"},
        // Dates not in the calendar are shown as on the card, with what is wrong.
        {"636014123=320319750229", "123|March 2032|19750229|day 29 is not in February 1975"},
        {"636014123=320319000229", "123|March 2032|19000229|day 29 is not in February 1900"},
        {"636014123=320319800431", "123|March 2032|19800431|day 31 is not in April 1980"},
        {"636014123=320319800100", "123|March 2032|19800100|day 00 is not in January 1980"},
        {"636014123=320319850230", "123|March 2032|19850230|day 30 is not in February 1985"},
        {"636014123=320320000229", "123|March 2032|20000229|29 February 2000"},
        {"636014123=307719800315", "123|does not expire|19800315|15 March 1980"},
        {"636014123=308819800315", "123|end of March 2030|19800315|15 March 1980"},
        {"636014123=309919800315", "123|birthday in 2030: 15 March 2030|19800315|15 March 1980"},
        {"636014123=300019801315", "123|month 00 is not a month|19801315|month 13 is not a month"},
        // Up to five digits of overflow; what is not shows the number before the separator,
        // with a remark.
        {"636014123=30121980031512345", "12312345|December 2030|19800315|15 March 1980"},
        {"636014123=301219800315123456",
         "123|December 2030|19800315|15 March 1980|its overflow after the birth date, "
         "\"123456\", is not up to five digits"},
        {"6360141234567=2512198503154567<",
         "1234567|December 2025|19850315|15 March 1985|its overflow after the birth date, "
         "\"4567<\", is not up to five digits"},
        // A track that ends early: the fields it holds.
        {"636014123=30121980031", "123|December 2030|1980031|7 digits, a date has 8"},
        {"636014123=3012", "123|December 2030|-|-"},
    };
    for (const auto& [data, fields] : cases) {
        const CardFields card = Parse({"", ";" + std::string(data) + "?", ""});
        EXPECT_EQ(card.format, "aamva") << data;
        std::string all = Fields(card, 2, "id_number expiry? birth_date birth_date?");
        if (card.Find(2, "id_number") && !card.Find(2, "id_number")->explanation.empty())
            all += "|" + Fields(card, 2, "id_number?");
        EXPECT_EQ(all, fields) << data;
        if (all.find(" is not in ") != std::string::npos) {
            EXPECT_TRUE(card.Find(2, "birth_date")->malformed) << data;
        }
    }
}

TEST(AamvaFields, TrackThreeFixedWidths) {
    // Every field filled, so a wrong width shifts a neighbour; a track that ends early, with the
    // fields it holds and none after; codes not in the tables keep their value without words
    // (175 is no feet-and-inches height).
    const std::pair<const char*, const char*> cases[] = {
        {"21958141234ABCMABCDEFGHIJWXYZ2506130BLKHAZX12345678 RESERVED",
         "2|1|958141234AB|CM|ABCDEFGHIJ|WXYZ|2|female|506|5 ft 6 in|130|BLK|black|HAZ|hazel|"
         "X12345678 RESERVED"},
        {"0195814-1234 D ", "0|1|95814-1234|D|-|-|-|-|-|-|-|-|-|-|-|-"},
        {"0195814      C               X175 80XYZQQQ", "0|1|95814|C|-|-|X||175||80|XYZ||QQQ||-"},
        {"0194612", "0|1|94612|-|-|-|-|-|-|-|-|-|-|-|-|-"},
    };
    for (const auto& [data, fields] : cases) {
        const CardFields card =
            Parse({"", ";63601412345678=291219800101?", "%" + std::string(data) + "?"});
        EXPECT_EQ(card.format, "aamva");
        EXPECT_EQ(Fields(card, 3,
                         "cds_version jurisdiction_version postal_code class restrictions "
                         "endorsements sex sex? height height? weight hair_colour hair_colour? "
                         "eye_colour eye_colour? discretionary_data"),
                  fields)
            << data;
    }
}

}  // namespace
}  // namespace tollwick
