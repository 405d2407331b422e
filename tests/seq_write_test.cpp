// The sequential run as the dialog's OK sets it up: numbers, widths, and the runs refused before
// they start.
#include <gtest/gtest.h>

#include "jobs/seq_write.h"

namespace tollwick {
namespace {

using Boxes = std::array<std::string, 3>;

SeqWritePlan Plan(std::string start, std::string total, std::string step, int track = 0,
                  const Boxes& boxes = {"B", "", ""}) {
    return PlanSeqWrite(SeqWriteEntry{std::move(start), std::move(total), std::move(step), track},
                        boxes);
}

TEST(SeqWrite, NumbersAreLeadingDigitsAndKeepTheTypedWidth) {
    EXPECT_EQ(LeadingNumber(""), 0u);
    EXPECT_EQ(LeadingNumber("0098"), 98u);
    EXPECT_EQ(LeadingNumber("12x5"), 12u);
    EXPECT_EQ(LeadingNumber("99999999999999999999"), UINT64_MAX);  // 20 digits: saturates

    EXPECT_EQ(SeqNumberText(1, 4), "0001");
    EXPECT_EQ(SeqNumberText(100, 2), "100");  // grows past the width, never cut
    EXPECT_EQ(SeqNumberText(0, 0), "0");
}

TEST(SeqWrite, FirstCardCarriesTheStartAsTyped) {
    const SeqWritePlan defaults = Plan("0000", "10", "1");
    ASSERT_TRUE(defaults.run) << defaults.refusal;
    EXPECT_EQ(defaults.run->first.Text(0), "B0000");
    EXPECT_EQ(defaults.run->total, 10u);
    EXPECT_EQ(defaults.run->width, 4);

    const SeqWritePlan track2 = Plan("7", "3", "5", 1, {"A", "12", "C"});
    ASSERT_TRUE(track2.run);
    EXPECT_EQ(track2.run->first.Text(0), "A");
    EXPECT_EQ(track2.run->first.Text(1), "127");
    EXPECT_EQ(track2.run->first.Text(2), "C");
    EXPECT_EQ(track2.run->baseText, "12");
    EXPECT_EQ(track2.run->step, 5);

    // An empty starting number: the first card has no number at all, the second "1".
    const SeqWritePlan empty = Plan("", "", "");
    ASSERT_TRUE(empty.run);
    EXPECT_EQ(empty.run->total, 0u);
    EXPECT_EQ(empty.run->first.Text(0), "B");
    EXPECT_EQ(empty.run->width, 0);
}

TEST(SeqWrite, RunsBeyond32BitsAreRefused) {
    EXPECT_TRUE(Plan("2147483647", "1", "1").run);
    EXPECT_TRUE(Plan("2147483640", "8", "1").run);  // the last card carries 2147483647
    EXPECT_TRUE(Plan("2147483647", "0", "9").run);

    const SeqWritePlan start = Plan("2147483648", "1", "1");
    EXPECT_FALSE(start.run);
    EXPECT_NE(start.refusal.find("2147483648"), std::string::npos) << start.refusal;
    EXPECT_FALSE(Plan("00000099999999999999", "1", "0").run);
    const SeqWritePlan last = Plan("2147483640", "9", "1");
    EXPECT_FALSE(last.run);
    EXPECT_NE(last.refusal.find("Card 9"), std::string::npos) << last.refusal;
    EXPECT_FALSE(Plan("1", "99999999", "99999999").run);
}

TEST(SeqWrite, TextsLongerThanATrackAreRefused) {
    const std::string base(251, 'A');
    EXPECT_TRUE(Plan("0000", "10", "1", 2, {"", "", base}).run);  // 255 characters
    const SeqWritePlan start = Plan("00000", "1", "1", 2, {"", "", base});
    EXPECT_FALSE(start.run);
    EXPECT_NE(start.refusal.find("Track3"), std::string::npos) << start.refusal;
    // Width 4, but the tenth thousand needs five digits.
    EXPECT_FALSE(Plan("9999", "2", "1", 2, {"", "", base}).run);
    // Nothing is written with a total of 0: nothing to refuse.
    EXPECT_TRUE(Plan("00000", "0", "1", 2, {"", "", base}).run);
}

}  // namespace
}  // namespace tollwick
