// Verify after write: a card read back against the texts written to it.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "carddata/track_codec.h"
#include "carddata/write_verify.h"
#include "track_bits.h"

namespace tollwick {
namespace {

using Bytes = std::vector<uint8_t>;
using testing::BitsOf;
using testing::BytesOf;
using testing::Recorded;
constexpr TrackSettings kTrack1 = kIsoTrackSet[0];
constexpr TrackSettings kTrack2 = kIsoTrackSet[1];
constexpr TrackSet kRaw{
    {{8, kParityOdd, '%', '?'}, {8, kParityOdd, ';', '?'}, {8, kParityOdd, ';', '?'}}};

bool Reads(std::string_view written, const Bytes& read, const TrackSettings& settings) {
    return TrackReadsAsWritten(written, read, settings, settings.bpc == 8);
}

TEST(WriteVerify, FormattedTracksCompareAsTheyDecode) {
    // ";1234?" as read (5 bits, odd parity), with or without clocking zeros after it.
    const Bytes good = {0xD4, 0x11, 0x92, 0x7C, 0x20};
    EXPECT_TRUE(Reads("1234", good, kTrack2));
    EXPECT_TRUE(Reads("1234", {0xD4, 0x11, 0x92, 0x7C, 0x20, 0, 0}, kTrack2));
    // One bit read wrong, another text, nothing read, the read cut short: not what was written.
    EXPECT_FALSE(Reads("1234", {0xD5, 0x11, 0x92, 0x7C, 0x20}, kTrack2));
    EXPECT_FALSE(Reads("1235", good, kTrack2));
    EXPECT_FALSE(Reads("1234", {}, kTrack2));
    EXPECT_FALSE(Reads("1234", {0xD4, 0x11, 0x92}, kTrack2));
    // The same bytes hold "%A1?" in 7 bits; the write took lower case as capitals.
    EXPECT_TRUE(Reads("a1", {0xA3, 0x0E, 0x2F, 0xC5, 0x40}, kTrack1));
    // '~' as the end sentinel of a 6-bit track is written as the code of '>' and read as '>'.
    EXPECT_TRUE(Reads("AB", {0xA2, 0x14, 0x5E, 0x18}, {6, kParityNone, '%', '~'}));
}

TEST(WriteVerify, RawTracksAndWholeCards) {
    // The reader begins at the first one bit and adds zeros after the data.
    EXPECT_TRUE(Reads("DEADBEEF", {0xDE, 0xAD, 0xBE, 0xEF, 0x00}, kRaw[0]));
    EXPECT_TRUE(Reads("0F80", {0xF8}, kRaw[0]));
    EXPECT_FALSE(Reads("0F80", {0xF9}, kRaw[0]));
    EXPECT_FALSE(Reads("DEADBEEF", {0xDE, 0xAD, 0xBE}, kRaw[0]));

    // A whole card: the tracks that differ, by bit; an unwritten track never does, whatever the
    // track holds.
    EXPECT_EQ(
        VerifyWrittenCard({"C0", "", "F00D"}, {Bytes{0xC0}, Bytes{0x12}, Bytes{0xF0, 0x0C}}, kRaw),
        0b100);
    EXPECT_EQ(VerifyWrittenCard({"", "1234", ""},
                                {Bytes{0xFF, 0x01}, Bytes{0xD4, 0x11, 0x92, 0x7C, 0x20}, Bytes{1}},
                                kIsoTrackSet),
              0);
    EXPECT_EQ(VerifyWrittenCard({"A1", "1234", "1"}, {Bytes{}, Bytes{}, Bytes{}}, kIsoTrackSet),
              0b111);
}

// What a card read back carries when it is not what was written, and the words for it.
TEST(WriteVerify, EachTrackThatDiffersSaysWhy) {
    const std::string written = "4000001234567899=2912101";
    const std::string good = BitsOf(Recorded(written, kTrack2)) + std::string(16, '0');

    std::string weakSpot = good;
    weakSpot[42] ^= 1;
    std::string backwards = good;
    std::reverse(backwards.begin(), backwards.end());
    const std::pair<Bytes, const char*> cases[] = {
        {BytesOf(good), ""},
        {BytesOf(weakSpot), "bit 42, in character 8, reads 1 and should read 0"},
        {BytesOf(backwards.substr(backwards.find('1'))),
         "the card was swiped backwards, and read that way it holds what was written"},
        {BytesOf(good.substr(0, 60)), "the swipe ended early after 12 characters"},
        {Recorded("4000001234567898=2912101", kTrack2),
         "it holds other data: character 16 reads '8' and should read '9'"},
        {Bytes{}, "nothing was read back"},
    };
    for (const auto& [read, why] : cases)
        EXPECT_EQ(TrackDifference(written, read, kTrack2, false), why);
    // A whole card: each track that differs, in track order; the card's text never quoted.
    const std::string both =
        VerifyDifferences({"A1", written, ""}, {Bytes{}, BytesOf(weakSpot), Bytes{}}, kIsoTrackSet);
    EXPECT_EQ(both,
              "tracks 1 and 2 differ: track 1: nothing was read back; track 2: bit 42, in "
              "character 8, reads 1 and should read 0");
    EXPECT_EQ(
        VerifyDifferences({"", written, ""}, {Bytes{}, BytesOf(weakSpot), Bytes{}}, kIsoTrackSet),
        "track 2 differs: bit 42, in character 8, reads 1 and should read 0");
    EXPECT_EQ(both.find("4000001234567899"), std::string::npos);
}

}  // namespace
}  // namespace tollwick
