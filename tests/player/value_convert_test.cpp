#include "player/value_convert.h"

#include <gtest/gtest.h>

namespace zuvo {
namespace {

TEST(UnsignedDecimal, StopsAtTheFirstNonDigitAndSkipsLeadingBlanks) {
    EXPECT_EQ(ParseUnsignedDecimal("30"), 30u);
    EXPECT_EQ(ParseUnsignedDecimal("12abc"), 12u);
    EXPECT_EQ(ParseUnsignedDecimal("abc"), 0u);
    EXPECT_EQ(ParseUnsignedDecimal(""), 0u);
    EXPECT_EQ(ParseUnsignedDecimal("  \t 42 7"), 42u);
    EXPECT_EQ(ParseUnsignedDecimal("007"), 7u);
    EXPECT_EQ(ParseUnsignedDecimal("1\""), 1u);  // the closing quote of a quoted link
}

TEST(UnsignedDecimal, SignsAreNotDigits) {
    EXPECT_EQ(ParseUnsignedDecimal("-5"), 0u);
    EXPECT_EQ(ParseUnsignedDecimal("+5"), 0u);
    EXPECT_EQ(ParseUnsignedDecimal(" -1"), 0u);
}

TEST(UnsignedDecimal, SaturatesInsteadOfWrapping) {
    EXPECT_EQ(ParseUnsignedDecimal("4294967295"), 4294967295u);
    EXPECT_EQ(ParseUnsignedDecimal("4294967296"), 4294967295u);  // would wrap to 0
    EXPECT_EQ(ParseUnsignedDecimal("4294967306"), 4294967295u);  // would wrap to 10
    EXPECT_EQ(ParseUnsignedDecimal("99999999999999999999999999999999"), 4294967295u);
    EXPECT_EQ(ParseUnsignedDecimal("0000000000000000000004294967295x"), 4294967295u);
}

TEST(Flag, MatchesTheBeginningOfTrueOneOrMinusOne) {
    for (const char* yes : {"true", "TRUE", "True", "tRu", "t", "T", "1", "-1", "-", ""}) {
        EXPECT_TRUE(ParseFlag(yes)) << '"' << yes << '"';
    }
    for (const char* no : {"0", "false", "yes", "truex", "true ", " true", "10", "-11", "1\"", "2", "f"}) {
        EXPECT_FALSE(ParseFlag(no)) << '"' << no << '"';
    }
}

TEST(AsciiLower, FoldsAsciiOnlyAndKeepsPositions) {
    EXPECT_EQ(AsciiLower("VoLuMe=Live"), "volume=live");
    const std::string cjk = "\xE4\xB8\xAD" "AB\xC3\x84";  // 中AB followed by Ä: only A and B change
    EXPECT_EQ(AsciiLower(cjk), "\xE4\xB8\xAD" "ab\xC3\x84");
    EXPECT_EQ(AsciiLower(cjk).size(), cjk.size());
}

TEST(Utf8, StrictValidation) {
    EXPECT_TRUE(IsValidUtf8(""));
    EXPECT_TRUE(IsValidUtf8("abc"));
    EXPECT_TRUE(IsValidUtf8("\xE4\xB8\xAD\xE6\x96\x87"));
    EXPECT_TRUE(IsValidUtf8("\xF0\x9F\x98\x80"));            // U+1F600
    EXPECT_TRUE(IsValidUtf8("\xF4\x8F\xBF\xBF"));            // U+10FFFF
    EXPECT_FALSE(IsValidUtf8("\xFF"));
    EXPECT_FALSE(IsValidUtf8("\xC0\xAF"));                   // overlong "/"
    EXPECT_FALSE(IsValidUtf8("\xE0\x80\xAF"));               // overlong
    EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80"));               // surrogate
    EXPECT_FALSE(IsValidUtf8("\xF4\x90\x80\x80"));           // above U+10FFFF
    EXPECT_FALSE(IsValidUtf8("\xE4\xB8"));                   // cut short
    EXPECT_FALSE(IsValidUtf8("\xC4\xE3"));                   // GBK, not UTF-8
    EXPECT_EQ(Utf8SequenceLength("a\xE4\xB8\xAD", 1), 3u);
    EXPECT_EQ(Utf8SequenceLength("a", 1), 0u);               // past the end
}

}  // namespace
}  // namespace zuvo
