// Sentinel lists, stored positions, labels, limits and the text filter.
#include <gtest/gtest.h>

#include <climits>

#include "carddata/data_type.h"
#include "carddata/text_filter.h"

namespace tollwick {
namespace {

StoredUserKeys Defaults() {
    return {DefaultStoredTrackKeys(0), DefaultStoredTrackKeys(1), DefaultStoredTrackKeys(2)};
}

// Stored positions are indexes into the sentinel lists of their class: a list that changes its
// order reads every stored profile differently.
TEST(StoredPositions, DecodeByTheBpcClass) {
    EXPECT_EQ(kWideStartSentinels.size(), 32u);
    EXPECT_EQ(kWideEndSentinels.size(), 62u);
    EXPECT_EQ(kWideEndSentinels[26], ';');
    EXPECT_EQ(kWideEndSentinels.find('X'), std::string_view::npos);  // a second 'S' at 55
    EXPECT_EQ(DecodeStoredTrack({"3", "0", "2", "30"}, 0), (TrackSettings{7, 0, '%', '?'}));
    EXPECT_EQ(DecodeStoredTrack({"1", "0", "5", "15"}, 1), (TrackSettings{5, 0, ';', '?'}));
    EXPECT_EQ(DecodeStoredTrack({"1", "0", "2", "15"}, 0).startSentinel, '5');
    EXPECT_EQ(DecodeStoredTrack({"3", "0", "5", "15"}, 1).startSentinel, '+');
    EXPECT_EQ(DecodeStoredTrack({"2", "0", "2", "55"}, 0).endSentinel, 'S');
    // Outside their lists, positions fall back to the key's default.
    EXPECT_EQ(DecodeStoredTrack({"9", "7", "99", "-1"}, 1), (TrackSettings{5, 0, ';', '?'}));
    // Text that is no number reads as position 0, which is inside every list.
    EXPECT_EQ(DecodeStoredTrack({"-1", "x", "", "62"}, 0), (TrackSettings{7, 0, '!', '?'}));
    // A default sentinel position of the other class still lies inside the narrow lists.
    EXPECT_EQ(DecodeStoredTrack({"0", "0", "31", "61"}, 0), (TrackSettings{4, 0, '5', '?'}));
    EXPECT_EQ(StoredTextToInt("  -12abc"), -12);
    EXPECT_EQ(StoredTextToInt("abc"), 0);
    EXPECT_EQ(StoredTextToInt("99999999999999"), INT_MAX);
}

TEST(DataTypes, LayoutsLabelsAndLimits) {
    const auto iso75 = LayoutFor(DataType::kIso, Track2Density::k75, kIsoTrackSet, Defaults());
    EXPECT_EQ(iso75.labels[1], "Track2 75 BPI 5 BPC Odd Parity");
    EXPECT_EQ(iso75.limits, (std::array<int, 3>{76, 37, 104}));
    const auto iso210 = LayoutFor(DataType::kIso, Track2Density::k210, kIsoTrackSet, Defaults());
    EXPECT_EQ(iso210.limits[1], 104);

    const auto cadmv = LayoutFor(DataType::kCaDmv, Track2Density::k75, kIsoTrackSet, Defaults());
    const auto raw = LayoutFor(DataType::kRaw, Track2Density::k210, cadmv.settings, Defaults());
    EXPECT_EQ(raw.settings[2], (TrackSettings{8, kParityNone, '!', '?'}));
    EXPECT_EQ(raw.labels[1], "Track2 210 BPI 8 BPC None Parity");
    EXPECT_EQ(LayoutFor(DataType::kIso, Track2Density::k75, raw.settings, Defaults()).settings,
              kIsoTrackSet);

    const auto user = LayoutFor(DataType::kUser, Track2Density::k75, kIsoTrackSet, Defaults());
    EXPECT_EQ(user.settings, kIsoTrackSet);
    EXPECT_EQ(user.labels[0], "Track1 210 BPI 7 BPC Odd Parity");
    EXPECT_EQ(user.labels[1], "Track2 75 BPI 5 BPC Odd Parity");
    EXPECT_EQ(user.limits, (std::array<int, 3>{104, 104, 104}));

    StoredUserKeys keys = Defaults();
    keys[1] = {"0", "0", "5", "15"};
    const auto four = LayoutFor(DataType::kUser, Track2Density::k75, kIsoTrackSet, keys);
    EXPECT_EQ(four.labels[1], "Track2 210 BPI 4 BPC None Parity");
    EXPECT_EQ(four.settings[1].bpc, 4);
    EXPECT_EQ(UserTypeLabel(0, {"1", "1", "5", "15"}, Track2Density::k75),
              "Track1 210 BPI 5 BPC Even Parity");
    EXPECT_EQ(UserTypeLabel(1, {"7", "0", "2", "30"}, Track2Density::k210),
              "Track2 210 BPI 7 BPC Odd Parity");
    EXPECT_EQ(UserTypeLabel(2, {"3", "", "2", "30"}, Track2Density::k210),
              "Track3 210 BPI 7 BPC Even Parity");
}

TEST(TextFilter, AcceptedCharacters) {
    const TrackSettings track1 = kIsoTrackSet[0];
    const TrackSettings track2 = kIsoTrackSet[1];
    EXPECT_EQ(FirstRefusedCharacter("12;34", track2, DataType::kIso), 2u);
    EXPECT_EQ(FirstRefusedCharacter("0123456789:<=>", track2, DataType::kIso), std::nullopt);
    EXPECT_EQ(FirstRefusedCharacter("%B123", track1, DataType::kIso), 0u);
    EXPECT_EQ(FirstRefusedCharacter("B 12^_", track1, DataType::kIso), std::nullopt);
    EXPECT_EQ(FirstRefusedCharacter("ab", track1, DataType::kIso), 0u);     // lower case
    EXPECT_EQ(FirstRefusedCharacter("A\r\n", track1, DataType::kIso), 1u);  // line breaks
    EXPECT_EQ(FirstRefusedCharacter("A\xC3", track1, DataType::kIso), 1u);  // bytes above 0x7F
    EXPECT_EQ(FirstRefusedCharacter("0A1G", track1, DataType::kRaw), 3u);
    const TrackSettings caTrack3{6, kParityNone, '!', '?'};
    EXPECT_EQ(FirstRefusedCharacter("A!", caTrack3, DataType::kCaDmv), 1u);
    EXPECT_EQ(
        FirstRefusedCharacter("A!", TrackSettings{6, kParityNone, '%', '?'}, DataType::kCaDmv),
        std::nullopt);
}

}  // namespace
}  // namespace tollwick
