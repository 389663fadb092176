#include <gtest/gtest.h>

#include "platform/text.h"

namespace tessaro {
namespace {

// "深发展Ａ" in GBK.
const std::string kShenFaZhanA = "\xC9\xEE\xB7\xA2\xD5\xB9\xA3\xC1";

TEST(GbkText, RoundTripsThroughUtf8) {
    EXPECT_EQ(GbkToUtf8(kShenFaZhanA), "深发展Ａ");
    EXPECT_EQ(Utf8ToGbk("深发展Ａ"), kShenFaZhanA);
    EXPECT_EQ(GbkToUtf8("abc"), "abc");
    EXPECT_EQ(GbkToUtf8(""), "");
}

TEST(GbkText, BadBytesAreReplacedNotDropped) {
    // A lone lead byte at the end and an invalid trail byte.
    EXPECT_EQ(GbkToUtf8("a\xC9"), "a\xEF\xBF\xBD");
    // A character GBK lacks becomes one '?'.
    EXPECT_EQ(Utf8ToGbk("x\xF0\x9F\x98\x80y"), "x?y");
}

TEST(GbkText, ByteLimitNeverSplitsACharacter) {
    EXPECT_EQ(CutGbk(kShenFaZhanA, 3), kShenFaZhanA.substr(0, 2));
    EXPECT_EQ(CutGbk(kShenFaZhanA, 4), kShenFaZhanA.substr(0, 4));
    EXPECT_EQ(CutGbk("ab" + kShenFaZhanA, 3), "ab");
    char field[4];
    CopyToField(field, "a" + kShenFaZhanA);  // room for 3 bytes + NUL: "a" + one character
    EXPECT_EQ(std::string(field, 4), "a\xC9\xEE" + std::string(1, '\0'));
    char small[3];
    CopyToField(small, kShenFaZhanA);  // 2 bytes of room: exactly one character
    EXPECT_EQ(FieldText(small), kShenFaZhanA.substr(0, 2));
}

TEST(GbkText, FieldWithoutNulEndsAtItsWidth) {
    const char raw[4] = {'a', 'b', 'c', 'd'};
    EXPECT_EQ(FieldText(raw, 4), "abcd");
    const char withNul[4] = {'a', '\0', 'c', 'd'};
    EXPECT_EQ(FieldText(withNul, 4), "a");
}

TEST(GbkText, CaseFoldingTouchesAsciiOnly) {
    // 0xC1 0x61: a double-byte character whose trail byte is the ASCII 'a'.
    const std::string tricky = "\xC1\x61x";
    EXPECT_EQ(AsciiUpper(tricky), "\xC1\x61X");
    EXPECT_EQ(CompareNoCase("sh600000", "SH600000"), 0);
    EXPECT_NE(CompareNoCase("\xC1\x61", "\xC1\x41"), 0);
    EXPECT_LT(CompareNoCase("abc", "ABD"), 0);
    EXPECT_LT(CompareNoCase("ab", "abc"), 0);
    EXPECT_TRUE(StartsWithNoCase("SZ000001", "sz"));
}

}  // namespace
}  // namespace tessaro
