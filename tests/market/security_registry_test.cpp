// Code classification, price decimals and packed security numbers.
#include "market/security_registry.h"

#include <gtest/gtest.h>

namespace tessaro {
namespace {

struct ClassCase {
    const char* code;
    MarketCode market;
    SecurityClass expected;
};

void ExpectClasses(std::initializer_list<ClassCase> cases) {
    for (const ClassCase& c : cases)
        EXPECT_EQ(ClassifyCode(c.code, c.market), c.expected)
            << MarketLetters(c.market) << c.code;
}

TEST(ClassifyCode, ShanghaiRulesAndTheirBoundaries) {
    ExpectClasses({
        {"000000", kMarketSH, kClassIndex},
        {"000001", kMarketSH, kClassIndex},
        {"000999", kMarketSH, kClassIndex},
        {"001000", kMarketSH, kClassBond},  // below 300000 and not an index
        {"299999", kMarketSH, kClassBond},
        {"300000", kMarketSH, kClassOther},
        {"599999", kMarketSH, kClassOther},
        {"600000", kMarketSH, kClassAShare},
        {"600999", kMarketSH, kClassAShare},
        {"601000", kMarketSH, kClassAShare},
        {"601999", kMarketSH, kClassAShare},
        {"602000", kMarketSH, kClassOther},
        {"700000", kMarketSH, kClassOther},
        {"899999", kMarketSH, kClassOther},
        {"900000", kMarketSH, kClassBShare},
        {"900999", kMarketSH, kClassBShare},
        {"901000", kMarketSH, kClassOther},
        {"499999", kMarketSH, kClassOther},
        {"500000", kMarketSH, kClassFund},
        {"509999", kMarketSH, kClassFund},
        {"510000", kMarketSH, kClassFund},
        {"519999", kMarketSH, kClassFund},
        {"520000", kMarketSH, kClassOther},
        {"579999", kMarketSH, kClassOther},
        {"580000", kMarketSH, kClassWarrant},
        {"580001", kMarketSH, kClassWarrant},
        {"589999", kMarketSH, kClassWarrant},
        {"590000", kMarketSH, kClassOther},
    });
}

TEST(ClassifyCode, ShenzhenRulesAndTheirBoundaries) {
    ExpectClasses({
        {"000001", kMarketSZ, kClassAShare},  // an index in Shanghai, an A share here
        {"000000", kMarketSZ, kClassAShare},
        {"002999", kMarketSZ, kClassAShare},
        {"003000", kMarketSZ, kClassOther},
        {"029999", kMarketSZ, kClassOther},
        {"030000", kMarketSZ, kClassWarrant},
        {"039999", kMarketSZ, kClassWarrant},
        {"040000", kMarketSZ, kClassOther},
        {"099999", kMarketSZ, kClassOther},
        {"100000", kMarketSZ, kClassBond},
        {"179999", kMarketSZ, kClassBond},
        {"180000", kMarketSZ, kClassFund},  // fund before bond: the order matters
        {"189999", kMarketSZ, kClassFund},
        {"190000", kMarketSZ, kClassBond},
        {"199999", kMarketSZ, kClassBond},
        {"200000", kMarketSZ, kClassBShare},
        {"299999", kMarketSZ, kClassBShare},
        {"300000", kMarketSZ, kClassAShare},
        {"300001", kMarketSZ, kClassAShare},
        {"300999", kMarketSZ, kClassAShare},
        {"301000", kMarketSZ, kClassOther},
        {"398999", kMarketSZ, kClassOther},
        {"399000", kMarketSZ, kClassIndex},
        {"399001", kMarketSZ, kClassIndex},
        {"399999", kMarketSZ, kClassIndex},
        {"400000", kMarketSZ, kClassOther},
    });
}

TEST(ClassifyCode, LeadingDigitsOnlyAndOddInput) {
    ExpectClasses({
        {"1A0001", kMarketSH, kClassIndex},    // reads 1
        {"60A000", kMarketSH, kClassIndex},    // reads 60
        {"6000001", kMarketSH, kClassOther},   // seven digits read 6000001
        {"ABCDEF", kMarketSZ, kClassAShare},   // no digits read 0
        {"999999999", kMarketSZ, kClassOther},
        {"99999999999999999999", kMarketSH, kClassOther},  // no overflow
        {"", kMarketSH, kClassOther},
        {"", kMarketSystem, kClassOther},
        {"600000", 0x4141, kClassOther},       // unknown market
    });
    EXPECT_EQ(ClassifyCode(std::string_view("600000\0\0\0", 9), kMarketSH), kClassAShare);
    EXPECT_EQ(ClassifyCode(std::string_view(), kMarketSH), kClassOther);
}

TEST(ClassifyCode, SystemMarketIsAlwaysAnIndex) {
    for (const char* code : {"999999", "000001", "600000", "X", "880001"})
        EXPECT_EQ(ClassifyCode(code, kMarketSystem), kClassIndex) << code;
    EXPECT_EQ(PriceDecimals(kMarketSystem, ClassifyCode("880001", kMarketSystem), 5), 2);
}

TEST(PriceDecimals, ClassTablesPerMarket) {
    const int sh[7] = {-1, 2, 2, 3, 2, 2, 3};
    const int sz[7] = {-1, 2, 2, 2, 3, 2, 3};
    const int sys[7] = {-1, 2, -1, -1, -1, -1, -1};
    for (uint16_t cls = 0; cls <= 6; ++cls) {
        EXPECT_EQ(ClassTableDecimals(kMarketSH, cls), sh[cls]) << cls;
        EXPECT_EQ(ClassTableDecimals(kMarketSZ, cls), sz[cls]) << cls;
        EXPECT_EQ(ClassTableDecimals(kMarketSystem, cls), sys[cls]) << cls;
    }
    EXPECT_EQ(ClassTableDecimals(kMarketSH, 7), -1);
    EXPECT_EQ(ClassTableDecimals(kMarketSH, 0xFFFF), -1);
    EXPECT_EQ(ClassTableDecimals(0, 1), -1);
}

TEST(PriceDecimals, MissingClassUsesTheMarketDefault) {
    EXPECT_EQ(PriceDecimals(kMarketSH, kClassOther, 4), 4);
    EXPECT_EQ(PriceDecimals(kMarketSystem, kClassAShare, 1), 1);
    EXPECT_EQ(PriceDecimals(kMarketSH, kClassBShare, 4), 3);
    EXPECT_EQ(PriceDecimals(kMarketSZ, kClassFund, 0), 3);
}

TEST(ReadDefaultDecimals, DefaultStoredAndClamped) {
    SettingsStore store;
    EXPECT_EQ(ReadDefaultDecimals(store, kMarketSH), 2);
    store.setDword(SettingsKey("SH"), "defdec", 4);
    store.setDword(SettingsKey("SZ"), "defdec", 9);
    store.setDword(SettingsKey("$$"), "defdec", 0xFFFFFFFF);  // -1 as a signed value
    EXPECT_EQ(ReadDefaultDecimals(store, kMarketSH), 4);
    EXPECT_EQ(ReadDefaultDecimals(store, kMarketSZ), 6);
    EXPECT_EQ(ReadDefaultDecimals(store, kMarketSystem), 0);
    store.setDword(SettingsKey("SZ"), "defdec", 0);
    EXPECT_EQ(ReadDefaultDecimals(store, kMarketSZ), 0);  // a stored 0 is a value, not "absent"
    store.setDword(SettingsKey("SZ"), "defdec", 6);
    EXPECT_EQ(ReadDefaultDecimals(store, kMarketSZ), 6);
    store.setDword(SettingsKey("SZ"), "defdec", 7);
    EXPECT_EQ(ReadDefaultDecimals(store, kMarketSZ), 6);
    // A value of the wrong type is absent; an unknown market has the default.
    store.setString(SettingsKey("SH"), "defdec", "5");
    EXPECT_EQ(ReadDefaultDecimals(store, kMarketSH), 2);
    EXPECT_EQ(ReadDefaultDecimals(store, 0x4141), 2);
}

TEST(PackedSecurity, UnpacksBothMarketsAtTheirEdges) {
    struct Case {
        int32_t packed;
        MarketCode market;
        const char* code;
    };
    for (const Case& c : {Case{0, kMarketSZ, "000000"}, Case{1, kMarketSZ, "000001"},
                          Case{999999, kMarketSZ, "999999"}, Case{1000000, kMarketSH, "000000"},
                          Case{1600000, kMarketSH, "600000"}, Case{1999999, kMarketSH, "999999"}}) {
        SecurityId id;
        ASSERT_TRUE(PackedToSecurity(c.packed, id)) << c.packed;
        EXPECT_EQ(id.market, c.market) << c.packed;
        EXPECT_EQ(id.codeText(), c.code) << c.packed;
        EXPECT_EQ(SecurityToPacked(id), c.packed);
    }
}

TEST(PackedSecurity, RejectsNumbersThatWouldPrintSevenDigits) {
    SecurityId id = MakeSecurityId(kMarketSZ, "keep");
    for (int32_t bad : {-1, -1000000, 2000000, 2147483647, static_cast<int32_t>(0x80000000)}) {
        EXPECT_FALSE(PackedToSecurity(bad, id)) << bad;
        EXPECT_EQ(id.codeText(), "keep");
    }
}

TEST(PackedSecurity, PacksOnlySixDigitExchangeCodes) {
    EXPECT_EQ(SecurityToPacked(MakeSecurityId(kMarketSZ, "000001")), 1);
    EXPECT_EQ(SecurityToPacked(MakeSecurityId(kMarketSH, "600000")), 1600000);
    EXPECT_EQ(SecurityToPacked(MakeSecurityId(kMarketSystem, "999999")), std::nullopt);
    EXPECT_EQ(SecurityToPacked(MakeSecurityId(kMarketSH, "60000")), std::nullopt);
    EXPECT_EQ(SecurityToPacked(MakeSecurityId(kMarketSH, "6000000")), std::nullopt);
    EXPECT_EQ(SecurityToPacked(MakeSecurityId(kMarketSH, "60000A")), std::nullopt);
    EXPECT_EQ(SecurityToPacked(MakeSecurityId(kMarketSH, "-60000")), std::nullopt);
    EXPECT_EQ(SecurityToPacked(MakeSecurityId(kMarketSH, "")), std::nullopt);
    EXPECT_EQ(SecurityToPacked(MakeSecurityId(0x4141, "600000")), std::nullopt);
}

}  // namespace
}  // namespace tessaro
