// The sequential run as the dialog's OK sets it up: numbers, widths, and the runs refused before
// they start.
#include <gtest/gtest.h>

#include "jobs/seq_write.h"

namespace tollwick {
namespace {

SeqWritePlan Plan(std::string start, std::string total, std::string step, int track = 0,
                  const TrackTexts& boxes = {"B", "", ""}) {
    return PlanSeqWrite(SeqWriteEntry{std::move(start), std::move(total), std::move(step), track},
                        boxes);
}

TEST(SeqWrite, NumbersAreLeadingDigitsAndTheFirstCardCarriesTheStartAsTyped) {
    EXPECT_EQ(LeadingNumber("0098"), 98u);
    EXPECT_EQ(LeadingNumber("12x5"), 12u);
    EXPECT_EQ(LeadingNumber("99999999999999999999"), UINT64_MAX);  // 20 digits: saturates
    EXPECT_EQ(SeqNumberText(1, 4), "0001");
    EXPECT_EQ(SeqNumberText(100, 2), "100");  // grows past the width, never cut

    const SeqWritePlan plan = Plan("7", "3", "5", 1, {"A", "12", "C"});
    ASSERT_TRUE(plan.run) << plan.refusal;
    EXPECT_EQ(std::string(plan.run->first.Text(0)) + "|" + std::string(plan.run->first.Text(1)) +
                  "|" + std::string(plan.run->first.Text(2)) + "|" + plan.run->baseText,
              "A|127|C|12");
    EXPECT_EQ(plan.run->step, 5);
    EXPECT_EQ(plan.run->total, 3u);
    const SeqWritePlan defaults = Plan("0000", "10", "1");
    ASSERT_TRUE(defaults.run);
    EXPECT_EQ(defaults.run->first.Text(0), "B0000");
    EXPECT_EQ(defaults.run->width, 4);

    // An empty starting number: the first card has no number at all, the second "1".
    const SeqWritePlan empty = Plan("", "", "");
    ASSERT_TRUE(empty.run);
    EXPECT_EQ(empty.run->total, 0u);
    EXPECT_EQ(empty.run->first.Text(0), "B");
    EXPECT_EQ(empty.run->width, 0);
}

TEST(SeqWrite, RunsBeyond32BitsOrATrackAreRefused) {
    EXPECT_TRUE(Plan("2147483647", "1", "1").run);
    EXPECT_TRUE(Plan("2147483640", "8", "1").run);  // the last card carries 2147483647
    EXPECT_TRUE(Plan("2147483647", "0", "9").run);
    const SeqWritePlan start = Plan("2147483648", "1", "1");
    EXPECT_NE(start.refusal.find("2147483648"), std::string::npos) << start.refusal;
    EXPECT_FALSE(Plan("00000099999999999999", "1", "0").run);
    const SeqWritePlan last = Plan("2147483640", "9", "1");
    EXPECT_NE(last.refusal.find("Card 9"), std::string::npos) << last.refusal;
    EXPECT_FALSE(Plan("1", "99999999", "99999999").run);

    const std::string base(251, 'A');
    EXPECT_TRUE(Plan("0000", "10", "1", 2, {"", "", base}).run);  // 255 characters
    const SeqWritePlan longer = Plan("00000", "1", "1", 2, {"", "", base});
    EXPECT_NE(longer.refusal.find("Track3"), std::string::npos) << longer.refusal;
    EXPECT_FALSE(Plan("9999", "2", "1", 2, {"", "", base}).run);  // the 10000th needs 5 digits
    EXPECT_TRUE(Plan("00000", "0", "1", 2, {"", "", base}).run);  // a total of 0 writes nothing
    for (const SeqWritePlan& refused : {start, last, longer}) EXPECT_FALSE(refused.run);
}

}  // namespace
}  // namespace tollwick
