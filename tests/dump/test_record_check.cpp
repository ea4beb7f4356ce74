// Record judging, header parsing and the integer conversion.
#include "record_check.h"
#include "text_int.h"

#include <gtest/gtest.h>

namespace veldar {
namespace {

ByteString Record(const ByteString& body, unsigned low, unsigned high) {
    return body + static_cast<char>(low) + static_cast<char>(high) + "\r";
}

TEST(Checksum, WorkedExampleUnderBothRules) {
    auto sum = CheckRecord(Record("0abc", 86, 1), false);
    EXPECT_TRUE(sum.Passed);
    EXPECT_EQ(sum.Sum, 342u);
    EXPECT_EQ(sum.ExpectedLow, 86u);
    EXPECT_EQ(sum.ExpectedHigh, 1u);
    auto average = CheckRecord(Record("0abc", 4, 85), true);
    EXPECT_TRUE(average.Passed);
    EXPECT_EQ(average.ExpectedLow, 4u);
    EXPECT_EQ(average.ExpectedHigh, 85u);
    EXPECT_FALSE(CheckRecord(Record("0abc", 86, 1), true).Passed);
    EXPECT_EQ(ChecksumErrorText(CheckRecord(Record("0abc", 1, 2), false)),
              " ERREUR DU CHECKSUM: [ 342 (86)(1)]");
}

TEST(Checksum, ThirteenIsComparedAsFourteenOnBothBytes) {
    // S = 13 + 256 * 13 = 3341: both expected bytes are 13.
    ByteString body(1, static_cast<char>(255));
    for (unsigned rest = 3341 - 255; rest > 0;) {
        unsigned byte = rest > 200 ? 200 : rest;
        body += static_cast<char>(byte);
        rest -= byte;
    }
    auto r = CheckRecord(Record(body, 14, 14), false);
    EXPECT_EQ(r.Sum, 3341u);
    EXPECT_TRUE(r.Passed);
    EXPECT_FALSE(CheckRecord(Record(body, 14, 13), false).Passed);
    // Average rule: k = 13 gives L' 13 -> 14.
    ByteString thirteen(13, 'A');
    EXPECT_TRUE(CheckRecord(Record(thirteen, 14, 'A'), true).Passed);
}

TEST(Checksum, LowByte255PassesHighByteHasNoSuchExemption) {
    EXPECT_TRUE(CheckRecord(Record("0abc", 255, 1), false).Passed);
    EXPECT_FALSE(CheckRecord(Record("0abc", 86, 255), false).Passed);
}

TEST(Checksum, ASumOf65536OrMoreNeverPassesTheSumRule) {
    ByteString body(258, static_cast<char>(255)); // S = 65790, H' = 256
    auto r = CheckRecord(Record(body, 255, 0), false);
    EXPECT_EQ(r.ExpectedHigh, 256u);
    EXPECT_FALSE(r.Passed);
    for (unsigned high = 0; high < 256; ++high)
        EXPECT_FALSE(CheckRecord(Record(body, 255, high), false).Passed);
}

TEST(Checksum, AverageRuleBeforeTheFirstDataRecordWhenTheTextHoldsHashSemicolon) {
    EXPECT_TRUE(UsesAverageRule(true, 5, "plain"));
    EXPECT_TRUE(UsesAverageRule(false, 0, "x#;y"));
    EXPECT_FALSE(UsesAverageRule(false, 1, "x#;y"));
    EXPECT_FALSE(UsesAverageRule(false, 0, "plain"));
}

TEST(Header, NameAndCount) {
    auto h = ParseHeader("#;ABC;250");
    EXPECT_EQ(h.Name, "ABC");
    EXPECT_EQ(h.CountText, "250");
    EXPECT_EQ(h.Maximum, 250);
}

TEST(Header, WithoutSecondSemicolonTheNameIsEmptyAndTheCountIsTheWholePayload) {
    auto h = ParseHeader("#;ABC");
    EXPECT_EQ(h.Name, "");
    EXPECT_EQ(h.CountText, "#;ABC");
    EXPECT_EQ(h.Maximum, 1000);
    EXPECT_EQ(ParseHeader("#;;12").Name, "");
    EXPECT_EQ(ParseHeader("#;;12").Maximum, 12);
}

TEST(Header, CountsThatAreNotAProgressMaximumGiveAThousand) {
    EXPECT_EQ(ParseHeader("#;N;-5").Maximum, 1000);
    EXPECT_EQ(ParseHeader("#;N;").Maximum, 1000);
    EXPECT_EQ(ParseHeader("#;N;12;extra").Maximum, 1000);
    EXPECT_EQ(ParseHeader("#;N;12x").Maximum, 1000);
    EXPECT_EQ(ParseHeader("#;N;99999999999").Maximum, 1000);
    EXPECT_EQ(ParseHeader("#;N;0").Maximum, 0);
}

TEST(TextToInt, AcceptsWhatTheProgramsNumbersLookLike) {
    EXPECT_EQ(TextToInt("12"), 12);
    EXPECT_EQ(TextToInt("  7"), 7);
    EXPECT_EQ(TextToInt("-3"), -3);
    EXPECT_EQ(TextToInt("+4"), 4);
    EXPECT_EQ(TextToInt("$1F"), 31);
    EXPECT_EQ(TextToInt("0x10"), 16);
    EXPECT_EQ(TextToInt("2147483647"), 2147483647);
    EXPECT_EQ(TextToInt("-2147483648"), -2147483647 - 1);
    EXPECT_EQ(TextToInt(""), std::nullopt);
    EXPECT_EQ(TextToInt(" "), std::nullopt);
    EXPECT_EQ(TextToInt("-"), std::nullopt);
    EXPECT_EQ(TextToInt("3 "), std::nullopt);
    EXPECT_EQ(TextToInt("2147483648"), std::nullopt);
    EXPECT_EQ(TextToInt("1e3"), std::nullopt);
    EXPECT_EQ(TextToInt("$"), std::nullopt);
}

} // namespace
} // namespace veldar
