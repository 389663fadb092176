#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/security_handle.h"

namespace tessaro {
namespace {

TEST(SecurityHandle, DecodesBothExchanges) {
    auto sh = DecodeSecurityHandle(1600000);
    ASSERT_TRUE(sh);
    EXPECT_EQ(sh->market, kMarketSH);
    EXPECT_EQ(sh->codeText(), "600000");
    auto sz = DecodeSecurityHandle(1);
    ASSERT_TRUE(sz);
    EXPECT_EQ(sz->market, kMarketSZ);
    EXPECT_EQ(sz->codeText(), "000001");
    // The boundaries of both ranges.
    EXPECT_EQ(SecurityText(*DecodeSecurityHandle(0)), "SZ000000");
    EXPECT_EQ(SecurityText(*DecodeSecurityHandle(999999)), "SZ999999");
    EXPECT_EQ(SecurityText(*DecodeSecurityHandle(1000000)), "SH000000");
    EXPECT_EQ(SecurityText(*DecodeSecurityHandle(1999999)), "SH999999");
}

TEST(SecurityHandle, ValidHandlesDecodeToSixDigitsAndEncodeBack) {
    // Every digit position at every value, every carry near the range edges, and a prime stride.
    std::vector<SecurityHandle> handles;
    for (SecurityHandle h = 0; h <= kMaxSecurityHandle; h += 997) handles.push_back(h);
    for (SecurityHandle base : {0u, 999000u, 1000000u, 1999000u})
        for (SecurityHandle h = base; h < base + 1000; ++h) handles.push_back(h);
    for (SecurityHandle p = 1; p < kShanghaiHandleBase; p *= 10)
        for (SecurityHandle d = 1; d <= 9; ++d) handles.insert(handles.end(), {d * p, kShanghaiHandleBase + d * p});
    for (SecurityHandle h : handles) {
        auto id = DecodeSecurityHandle(h);
        ASSERT_TRUE(id) << h;
        const std::string_view code = id->codeText();
        ASSERT_EQ(code.size(), 6u) << h;
        ASSERT_EQ(std::stoul(std::string(code)), h % kShanghaiHandleBase) << h;
        ASSERT_EQ(EncodeSecurityHandle(*id), h) << h;
    }
}

TEST(SecurityHandle, RejectsHandlesThatWouldNeedASeventhDigit) {
    for (SecurityHandle h : {2000000u, 2600000u, 99999999u, 0xFFFFFFFFu})
        EXPECT_FALSE(DecodeSecurityHandle(h)) << h;
}

TEST(SecurityHandle, EncodesDecimalCodes) {
    EXPECT_EQ(EncodeSecurityHandle(MakeSecurityId(kMarketSH, "600000")), 1600000u);
    EXPECT_EQ(EncodeSecurityHandle(MakeSecurityId(kMarketSH, "000001")), 1000001u);
    EXPECT_EQ(EncodeSecurityHandle(MakeSecurityId(kMarketSZ, "399001")), 399001u);
    // Other markets get no offset.
    EXPECT_EQ(EncodeSecurityHandle(MakeSecurityId(kMarketSystem, "000123")), 123u);
    for (SecurityHandle h : {0u, 1u, 999999u, 1000000u, 1600000u, 1999999u})
        EXPECT_EQ(EncodeSecurityHandle(*DecodeSecurityHandle(h)), h);
}

TEST(SecurityHandle, LongDigitStringsAreNotPlainNumbers) {
    // Seven digits in Shenzhen would read back as a Shanghai security.
    EXPECT_EQ(EncodeSecurityHandle(MakeSecurityId(kMarketSZ, "1600000")), 0u);
    EXPECT_EQ(EncodeSecurityHandle(MakeSecurityId(kMarketSZ, "")), 0u);
}

TEST(SecurityHandle, OtherCodesGoThroughTheAliasTable) {
    HandleAliasTable aliases;
    EXPECT_TRUE(aliases.Add("blk01", "1880001"));
    EXPECT_TRUE(aliases.Add(" IDX ", " 12 "));
    EXPECT_FALSE(aliases.Add("BAD", "2000000"));  // would decode to seven digits
    EXPECT_FALSE(aliases.Add("BAD", "12a"));
    EXPECT_FALSE(aliases.Add("", "12"));
    EXPECT_EQ(aliases.size(), 2u);

    EXPECT_EQ(EncodeSecurityHandle(MakeSecurityId(kMarketSystem, "BLK01"), &aliases), 1880001u);
    EXPECT_EQ(EncodeSecurityHandle(MakeSecurityId(kMarketSystem, "idx"), &aliases), 12u);
    EXPECT_EQ(EncodeSecurityHandle(MakeSecurityId(kMarketSystem, "NONE"), &aliases), 0u);
    EXPECT_EQ(EncodeSecurityHandle(MakeSecurityId(kMarketSystem, "BLK01")), 0u);

    // Adding again replaces.
    EXPECT_TRUE(aliases.Add("Blk01", "5"));
    EXPECT_EQ(aliases.size(), 2u);
    EXPECT_EQ(aliases.Find("BLK01"), 5u);
}

}  // namespace
}  // namespace tessaro
