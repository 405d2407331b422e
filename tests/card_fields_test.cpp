// Card fields: ISO/IEC 7813 financial cards and AAMVA licences read from decoded track texts.
#include <gtest/gtest.h>

#include <algorithm>

#include "carddata/card_fields.h"

namespace tollwick {
namespace {

using Tracks = std::array<std::string, 3>;

// The value of a field, or "<absent>".
std::string Value(const CardFields& card, int track, std::string_view key) {
    const Field* field = card.Find(track, key);
    return field ? field->value : "<absent>";
}

std::string Explained(const CardFields& card, int track, std::string_view key) {
    const Field* field = card.Find(track, key);
    return field ? field->explanation : "<absent>";
}

CardFields Parse(const Tracks& tracks, bool showPan = false) {
    auto card = ParseCardFields(tracks, showPan);
    EXPECT_TRUE(card) << tracks[0] << " | " << tracks[1] << " | " << tracks[2];
    return card.value_or(CardFields{});
}

const Tracks kIsoCard = {"%B4000001234567899^TOLLWICK/TEST CARD^2912101000000000000?",
                         ";4000001234567899=29121010000000000000?",
                         ";011234567890123445=724724000000000000030300000000000000000000?"};

TEST(IsoFields, BothTracksOfAFinancialCard) {
    const CardFields card = Parse(kIsoCard, /*showPan=*/true);
    EXPECT_EQ(card.format, "iso7813");
    EXPECT_EQ(Value(card, 1, "format_code"), "B");
    for (int track : {1, 2}) {
        EXPECT_EQ(Value(card, track, "pan"), "4000001234567899");
        EXPECT_EQ(Value(card, track, "pan_luhn"), "true");
        EXPECT_EQ(Value(card, track, "expiry"), "2912");
        EXPECT_EQ(Explained(card, track, "expiry"), "December 2029");
        EXPECT_EQ(Value(card, track, "service_code"), "101");
    }
    EXPECT_EQ(Value(card, 1, "name"), "TOLLWICK/TEST CARD");
    EXPECT_EQ(Value(card, 1, "surname"), "TOLLWICK");
    EXPECT_EQ(Value(card, 1, "given_names"), "TEST CARD");
    EXPECT_EQ(Value(card, 1, "title"), "<absent>");
    EXPECT_EQ(Value(card, 1, "discretionary_data"), "000000000000");
    EXPECT_EQ(Value(card, 2, "discretionary_data"), "0000000000000");
    EXPECT_EQ(Value(card, 2, "name"), "<absent>");
    EXPECT_EQ(Value(card, 0, "tracks_agree"), "true");
    EXPECT_EQ(card.Find(3, "pan"), nullptr);  // an ISO track 3 is not read

    // The card's checks come after the tracks.
    EXPECT_EQ(card.fields.back().track, 0);
}

TEST(IsoFields, NameSplitsIntoSurnameGivenNamesAndTitle) {
    auto track1 = [](std::string name) {
        return Tracks{"%B4000001234567899^" + name + "^2912101?", "{NO DATA}", "{NO DATA}"};
    };
    CardFields card = Parse(track1("DOE/JOHN Q.MR        "));
    EXPECT_EQ(Value(card, 1, "name"), "DOE/JOHN Q.MR");
    EXPECT_EQ(Value(card, 1, "surname"), "DOE");
    EXPECT_EQ(Value(card, 1, "given_names"), "JOHN Q");
    EXPECT_EQ(Value(card, 1, "title"), "MR");

    card = Parse(track1("VAN DER BERG/ANNA"));
    EXPECT_EQ(Value(card, 1, "surname"), "VAN DER BERG");
    EXPECT_EQ(Value(card, 1, "given_names"), "ANNA");

    card = Parse(track1("ACME CORPORATION"));  // no '/': not split
    EXPECT_EQ(Value(card, 1, "name"), "ACME CORPORATION");
    EXPECT_EQ(Value(card, 1, "surname"), "<absent>");
    EXPECT_EQ(Value(card, 1, "given_names"), "<absent>");

    card = Parse(track1(" /"));  // the card carries no name
    EXPECT_EQ(Value(card, 1, "name"), "<absent>");
    EXPECT_EQ(Value(card, 1, "expiry"), "2912");
    EXPECT_EQ(Value(card, 0, "tracks_agree"), "<absent>");  // no track 2 to agree with

    card = Parse(track1("SOLO/"));
    EXPECT_EQ(Value(card, 1, "surname"), "SOLO");
    EXPECT_EQ(Value(card, 1, "given_names"), "<absent>");
}

TEST(IsoFields, ExpiryServiceCodeAndAbsentParts) {
    auto track2 = [](std::string tail) {
        return Tracks{"{NO DATA}", ";4000001234567899=" + tail + "?", "{NO DATA}"};
    };
    CardFields card = Parse(track2("2901201"));
    EXPECT_EQ(Explained(card, 2, "expiry"), "January 2029");
    EXPECT_EQ(Value(card, 2, "service_code_interchange"), "2");
    EXPECT_EQ(Explained(card, 2, "service_code_interchange"),
              "international interchange, use the chip where feasible");
    EXPECT_EQ(Explained(card, 2, "service_code_authorisation"), "normal");
    EXPECT_EQ(Explained(card, 2, "service_code_services"), "no restrictions");
    EXPECT_EQ(Value(card, 2, "discretionary_data"), "<absent>");

    card = Parse(track2("3106526123"));
    EXPECT_EQ(Explained(card, 2, "expiry"), "June 2031");
    EXPECT_EQ(Explained(card, 2, "service_code_interchange"),
              "national interchange only, except under bilateral agreement");
    EXPECT_EQ(Explained(card, 2, "service_code_authorisation"), "by the issuer, online");
    EXPECT_EQ(Explained(card, 2, "service_code_services"), "no restrictions, PIN where feasible");
    EXPECT_EQ(Value(card, 2, "discretionary_data"), "123");

    // Each digit has its own table: the same digit means different things in each place.
    auto digits = [&](std::string code) {
        const CardFields c = Parse(track2("2912" + code));
        return Explained(c, 2, "service_code_interchange") + " | " +
               Explained(c, 2, "service_code_authorisation") + " | " +
               Explained(c, 2, "service_code_services");
    };
    EXPECT_EQ(digits("700"),
              "no interchange, except under bilateral agreement | normal | "
              "no restrictions, PIN required");
    EXPECT_EQ(digits("943"),
              "test card | by the issuer, online, except under bilateral "
              "agreement | ATM only, PIN required");

    // Expiry and service code may each be left out with a bare separator.
    const Tracks bare = {"%B4000001234567899^DOE/JOHN^^^DISC?", ";4000001234567899==101?",
                         "{NO DATA}"};
    card = Parse(bare);
    EXPECT_EQ(Value(card, 1, "expiry"), "<absent>");
    EXPECT_EQ(Value(card, 1, "service_code"), "<absent>");
    EXPECT_EQ(Value(card, 1, "discretionary_data"), "DISC");
    EXPECT_EQ(Value(card, 2, "expiry"), "<absent>");
    EXPECT_EQ(Value(card, 2, "service_code"), "101");
    EXPECT_EQ(Value(card, 0, "tracks_agree"), "false");
    EXPECT_EQ(Explained(card, 0, "tracks_agree"), "service code differs");

    // A month outside 01..12 is no expiry; the digits after it still hold the service code.
    card = Parse({"%B4000001234567899^DOE/JOHN^2913101?", ";4000001234567899=2900101?", ""});
    EXPECT_EQ(Value(card, 1, "expiry"), "<absent>");
    EXPECT_EQ(Value(card, 2, "expiry"), "<absent>");
    EXPECT_EQ(Value(card, 1, "service_code"), "101");
}

TEST(IsoFields, LuhnCheck) {
    for (std::string_view good : {"4000001234567899", "79927398713", "378282246310005",
                                  "5500005555555559", "6011000990139424", "0"}) {
        EXPECT_TRUE(LuhnValid(good)) << good;
    }
    // One wrong digit, two swapped neighbours, blanks or letters among the digits.
    for (std::string_view bad : {"4000001234567898", "79927398710", "4000001234567989",
                                 "378282246310050", "5500005555555569", "", "4000 0012", "12a4"}) {
        EXPECT_FALSE(LuhnValid(bad)) << bad;
    }
    const CardFields card =
        Parse({"%B5500005555555558^ROE/JANE^2607201?", ";5500005555555558=2607201?", "{NO DATA}"});
    EXPECT_EQ(Value(card, 1, "pan_luhn"), "false");
    EXPECT_EQ(Value(card, 2, "pan_luhn"), "false");
    EXPECT_EQ(Explained(card, 2, "pan_luhn"), "the check digit is wrong");
    EXPECT_EQ(Value(card, 0, "tracks_agree"), "true");  // both carry the same wrong number
}

TEST(IsoFields, MaskingKeepsTheAccountNumberOutOfEveryField) {
    EXPECT_EQ(MaskPan("4000001234567899"), "400000******7899");
    EXPECT_EQ(MaskPan("4000001234567890123"), "400000*********0123");
    EXPECT_EQ(MaskPan("3782822463100"), "378282***3100");
    EXPECT_EQ(MaskPan("378282246310"), "********6310");
    EXPECT_EQ(MaskPan("12345678"), "****5678");
    EXPECT_EQ(MaskPan("1234567"), "*******");
    EXPECT_EQ(MaskPan(""), "");

    // Track 1 groups the digits with blanks on some cards; the number is the digits.
    const Tracks tracks = {"%B3782 822463 10005^PUBLIC/JOHN Q^2711101?",
                           ";378282246310005=2811101?", "{NO DATA}"};
    const CardFields masked = Parse(tracks);
    EXPECT_EQ(Value(masked, 1, "pan"), "378282*****0005");
    EXPECT_EQ(Value(masked, 2, "pan"), "378282*****0005");
    for (const std::string& line : FieldLines(masked)) {
        EXPECT_EQ(line.find("2246310"), std::string::npos) << line;
        EXPECT_EQ(line.find("3782 822463"), std::string::npos) << line;
    }
    const CardFields whole = Parse(tracks, /*showPan=*/true);
    EXPECT_EQ(Value(whole, 1, "pan"), "378282246310005");
    EXPECT_EQ(Value(whole, 0, "tracks_agree"), "false");
    EXPECT_EQ(Explained(whole, 0, "tracks_agree"), "expiry differs");
}

TEST(CardFieldsRecognition, NoFieldsForCardsInNoKnownFormat) {
    const Tracks none[] = {
        {"{NO DATA}", "{NO DATA}", "{NO DATA}"},
        {"", "", ""},
        {"{Trace1 data error}", "{Trace2 data error}", "{Trace3 data error}"},
        // Hotel key, loyalty card, access badge: track 2 with a short number or no expiry.
        {"{NO DATA}", ";1234=5678?", "{NO DATA}"},
        {"{NO DATA}", ";12345678901234?", "{NO DATA}"},
        {"{NO DATA}", ";4000001234567899=2913101?", "{NO DATA}"},  // no month 13
        {"{NO DATA}", ";4000001234567899=2912301?", "{NO DATA}"},  // interchange 3 undefined
        {"{NO DATA}", ";400000123456=29?", "{NO DATA}"},
        // Track 1 not in format B, or format B without its separators.
        {"%A4000001234567899^DOE/JOHN^2912101?", "{NO DATA}", "{NO DATA}"},
        {"%B4000001234567899^DOE/JOHN?", "{NO DATA}", "{NO DATA}"},
        {"%B4000X01234567899^DOE/JOHN^2912?", "{NO DATA}", "{NO DATA}"},
        {"%B1234567^DOE/JOHN^2912?", "{NO DATA}", "{NO DATA}"},               // 7 digits
        {"%B12345678901234567890^DOE/JOHN^2912?", "{NO DATA}", "{NO DATA}"},  // 20 digits
        {"%HELLO WORLD?", ";0000?", "%OPEN SESAME?"},
        // Texts without their sentinels are not as read.
        {"B4000001234567899^DOE/JOHN^2912101", "4000001234567899=2912101", ""},
        {"%B4000001234567899^DOE/JOHN^2912101", ";4000001234567899=2912101", ""},
        // A licence track 1 alone needs a known jurisdiction and a '$' name.
        {"%ZZSPRINGFIELD^DOE$JOHN^1 MAIN ST^?", "{NO DATA}", "{NO DATA}"},
        {"%CASACRAMENTO^DOE JOHN^1 MAIN ST^?", "{NO DATA}", "{NO DATA}"},
        // Not 636: no licence; too short a number for a bank card alone.
        {"{NO DATA}", ";6040001234=291219800101?", "{NO DATA}"},
        // Raw Type hex.
        {"0123456789ABCDEF", "DEADBEEF", "00FF00FF"},
    };
    for (const Tracks& tracks : none) {
        EXPECT_FALSE(ParseCardFields(tracks))
            << tracks[0] << " | " << tracks[1] << " | " << tracks[2];
    }
    // Control characters are never taken into a field.
    EXPECT_FALSE(ParseCardFields({"%B4000001234567899^DOE\n/JOHN^2912101?", "", ""}));
}

// Track 3: versions 0 and 1, postal code (11), class (2), restrictions (10), endorsements (4),
// sex, height, weight, hair, eyes.
const Tracks kLicence = {"%CASACRAMENTO^DOE$JOHN$Q^123 MAIN ST^?", ";63601412345678=291219800101?",
                         "%01"
                         "95814      "
                         "C "
                         "B         "
                         "    "
                         "1511180BROBLU?"};

TEST(AamvaFields, LicenceOnThreeTracks) {
    const CardFields card = Parse(kLicence);
    EXPECT_EQ(card.format, "aamva");
    EXPECT_EQ(Value(card, 1, "state"), "CA");
    EXPECT_EQ(Explained(card, 1, "state"), "California");
    EXPECT_EQ(Value(card, 1, "city"), "SACRAMENTO");
    EXPECT_EQ(Value(card, 1, "middle_names"), "Q");
    EXPECT_EQ(Value(card, 2, "iin"), "636014");
    EXPECT_EQ(Value(card, 2, "id_number"), "12345678");
    EXPECT_EQ(Explained(card, 2, "expiry"), "December 2029");
    EXPECT_EQ(Value(card, 2, "birth_date"), "19800101");
    EXPECT_EQ(Explained(card, 2, "birth_date"), "1 January 1980");
    // Track 3's widths are checked below; here blanks and the words for codes.
    EXPECT_EQ(Value(card, 3, "restrictions"), "B");
    EXPECT_EQ(Value(card, 3, "endorsements"), "<absent>");  // blank on the card
    EXPECT_EQ(Explained(card, 3, "sex"), "male");
    EXPECT_EQ(Explained(card, 3, "height"), "5 ft 11 in");
    EXPECT_EQ(Explained(card, 3, "hair_colour"), "brown");
    EXPECT_EQ(Value(card, 3, "discretionary_data"), "<absent>");
    EXPECT_EQ(card.Find(2, "pan"), nullptr);  // 636 is a licence, not an account number

    // Recorded with the CA DMV formats, track 3 starts with '!'.
    Tracks caDmv = kLicence;
    caDmv[2][0] = '!';
    EXPECT_EQ(Value(Parse(caDmv), 3, "postal_code"), "95814");
    // Track 1 alone names the jurisdiction, city and name.
    const CardFields alone = Parse({kLicence[0], "{Trace2 data error}", "{NO DATA}"});
    EXPECT_EQ(alone.format, "aamva");
    EXPECT_EQ(Value(alone, 1, "family_name"), "DOE");
}

TEST(AamvaFields, TrackOneFieldWidths) {
    auto track1 = [](std::string data) {
        return Parse({"%" + data + "?", ";63601412345678=291219800101?", ""});
    };
    // A city shorter than 13 characters ends at its separator; one of 13 may omit it.
    CardFields card = track1("NYPOUGHKEEPSIE^DOE$JANE^1 A ST^");
    EXPECT_EQ(Value(card, 1, "city"), "POUGHKEEPSIE");
    EXPECT_EQ(Value(card, 1, "name"), "DOE$JANE");
    for (std::string data :
         {"CASAN FRANCISCODOE$JANE^1 A ST^", "CASAN FRANCISCO^DOE$JANE^1 A ST^"}) {
        card = track1(data);
        EXPECT_EQ(Value(card, 1, "city"), "SAN FRANCISCO") << data;
        EXPECT_EQ(Value(card, 1, "family_name"), "DOE") << data;
        EXPECT_EQ(Value(card, 1, "address"), "1 A ST") << data;
    }
    // A full-width name (35) runs straight into the address.
    const std::string name35 = "WOLFESCHLEGELSTEINHAUSEN$HUBERT$B$C";
    ASSERT_EQ(name35.size(), 35u);
    card = track1("PAPHILADELPHIA^" + name35 + "4 ELM ST^");
    EXPECT_EQ(Value(card, 1, "name"), name35);
    EXPECT_EQ(Value(card, 1, "given_name"), "HUBERT");
    EXPECT_EQ(Value(card, 1, "middle_names"), "B C");
    EXPECT_EQ(Value(card, 1, "address"), "4 ELM ST");
    // The address is at most 29 characters; more is not part of it.
    card = track1("CALA^ROE$JANE^12345 SOUTH SEPULVEDA BOULEVARD APT 9^");
    EXPECT_EQ(Value(card, 1, "address"), "12345 SOUTH SEPULVEDA BOULEVA");
    card = track1("CALA^ROE$$JANE^1 A ST^");
    EXPECT_EQ(Value(card, 1, "given_name"), "<absent>");
    EXPECT_EQ(Value(card, 1, "middle_names"), "JANE");
}

TEST(AamvaFields, TrackTwoNumberDatesAndOverflow) {
    auto track2 = [](std::string data) { return Parse({"", ";" + data + "?", ""}); };
    CardFields card = track2("6360141234567890123=3203197602290123=");
    EXPECT_EQ(Value(card, 2, "id_number"), "12345678901230123");
    EXPECT_EQ(Explained(card, 2, "expiry"), "March 2032");
    EXPECT_EQ(Explained(card, 2, "birth_date"), "29 February 1976");
    for (std::string date : {"19750229", "19000229", "19800431", "19800100"}) {
        card = track2("636014123=3203" + date);
        EXPECT_EQ(Value(card, 2, "birth_date"), "<absent>") << date;
    }
    EXPECT_EQ(Value(track2("636014123=320320000229"), 2, "birth_date"), "20000229");

    card = track2("636014123=307719800315");
    EXPECT_EQ(Value(card, 2, "id_number"), "123");
    EXPECT_EQ(Explained(card, 2, "expiry"), "does not expire");
    card = track2("636014123=308819800315");
    EXPECT_EQ(Explained(card, 2, "expiry"), "end of March 2030");
    card = track2("636014123=309919800315");
    EXPECT_EQ(Explained(card, 2, "expiry"), "birthday in 2030: 15 March 2030");
    card = track2("636014123=300019801315");  // month 00, birth month 13
    EXPECT_EQ(card.format, "aamva");
    EXPECT_EQ(Value(card, 2, "expiry"), "<absent>");
    EXPECT_EQ(Value(card, 2, "birth_date"), "<absent>");
    // Up to five digits of overflow; more is not the layout, so the number is absent.
    EXPECT_EQ(Value(track2("636014123=30121980031512345"), 2, "id_number"), "12312345");
    card = track2("636014123=301219800315123456");
    EXPECT_EQ(Value(card, 2, "id_number"), "<absent>");
    EXPECT_EQ(Value(card, 2, "birth_date"), "19800315");
    // Too few digits for expiry and birth date: not the licence layout, nor a bank card.
    EXPECT_FALSE(ParseCardFields({"", ";636014123=30121980031?", ""}));
}

TEST(AamvaFields, TrackThreeFixedWidths) {
    auto track3 = [](std::string data) {
        return Parse({"", ";63601412345678=291219800101?", "%" + data + "?"});
    };
    // Every field filled, so a wrong width shifts a neighbour.
    CardFields card = track3(
        "21958141234AB"
        "CM"
        "ABCDEFGHIJ"
        "WXYZ"
        "2"
        "506"
        "130"
        "BLK"
        "HAZ"
        "X12345678 RESERVED");
    EXPECT_EQ(Value(card, 3, "cds_version"), "2");
    EXPECT_EQ(Value(card, 3, "jurisdiction_version"), "1");
    EXPECT_EQ(Value(card, 3, "postal_code"), "958141234AB");
    EXPECT_EQ(Value(card, 3, "class"), "CM");
    EXPECT_EQ(Value(card, 3, "restrictions"), "ABCDEFGHIJ");
    EXPECT_EQ(Value(card, 3, "endorsements"), "WXYZ");
    EXPECT_EQ(Value(card, 3, "sex"), "2");
    EXPECT_EQ(Explained(card, 3, "sex"), "female");
    EXPECT_EQ(Value(card, 3, "height"), "506");
    EXPECT_EQ(Value(card, 3, "weight"), "130");
    EXPECT_EQ(Value(card, 3, "hair_colour"), "BLK");
    EXPECT_EQ(Value(card, 3, "eye_colour"), "HAZ");
    EXPECT_EQ(Explained(card, 3, "eye_colour"), "hazel");
    EXPECT_EQ(Value(card, 3, "discretionary_data"), "X12345678 RESERVED");

    // A track that ends early: the fields it holds, none after.
    card = track3("0195814-1234 D ");
    EXPECT_EQ(Value(card, 3, "postal_code"), "95814-1234");
    EXPECT_EQ(Value(card, 3, "class"), "D");
    EXPECT_EQ(Value(card, 3, "restrictions"), "<absent>");
    // Codes not in the tables keep their value without words; 175 is no feet-and-inches height.
    card = track3(
        "01"
        "95814      "
        "C "
        "          "
        "    "
        "X"
        "175"
        " 80"
        "XYZ"
        "QQQ");
    EXPECT_EQ(Value(card, 3, "sex"), "X");
    EXPECT_EQ(Explained(card, 3, "sex"), "");
    EXPECT_EQ(Explained(card, 3, "height"), "");
    EXPECT_EQ(Value(card, 3, "weight"), "80");
    EXPECT_EQ(Explained(card, 3, "hair_colour"), "");
    // Shorter than the postal code: no track 3 fields, the card is still a licence.
    card = track3("0195814");
    EXPECT_EQ(card.format, "aamva");
    EXPECT_EQ(card.Find(3, "cds_version"), nullptr);
}

TEST(CardFieldsText, LinesPerTrackWithExplanations) {
    const auto lines = FieldLines(Parse(kIsoCard));
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[0], "Format: ISO/IEC 7813 financial card");
    EXPECT_EQ(lines[1], "Track 1:");
    EXPECT_EQ(lines[2], "  Format code: B (financial card)");
    EXPECT_EQ(lines[3], "  Primary account number: 400000******7899");
    EXPECT_EQ(lines[4], "  Luhn check: yes (the check digit is right)");
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Track 2:"), lines.end());
    EXPECT_EQ(lines[lines.size() - 2], "Card:");
    EXPECT_EQ(lines.back(),
              "  Tracks 1 and 2 agree: yes (same account number, expiry and service code)");
}

}  // namespace
}  // namespace tollwick
