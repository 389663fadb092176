// The base files: exact layouts, truncation, garbage, and the capital derivation.
#include "market/base_files.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>

namespace tessaro {
namespace {

const SecurityId kPfBank = MakeSecurityId(kMarketSH, "600000");
const SecurityId kPingAn = MakeSecurityId(kMarketSZ, "000001");

// --- Builders of well-formed files ------------------------------------------------

void PutId(ByteWriter& w, const SecurityId& id) { w.write(id); }

void PutExRights(ByteWriter& w, uint32_t date, float bonus, float rights, float price, float dividend) {
    w.put(date).put(bonus).put(rights).put(price).put(dividend);
}

Bytes SamplePower() {
    ByteWriter w;
    w.put(kPowerMagic1).put(kPowerMagic2);
    w.put(kPowerGroupMarker);
    PutId(w, kPfBank);
    w.put(uint32_t{0});
    PutExRights(w, 1300000000, 0.3f, 0, 0, 0.1f);  // later date first: must come out sorted
    PutExRights(w, 1200000000, 1.0f, 0, 0, 0);
    PutExRights(w, 1250000000, 0, 0, 0, 0.000001f);  // all (nearly) zero: skipped
    w.put(kPowerGroupMarker);
    PutId(w, kPingAn);
    w.put(uint32_t{7});
    PutExRights(w, 1100000000, 0, 0.3f, 5.5f, 0.2f);
    return w.take();
}

void PutFinance(ByteWriter& w, MarketCode market, const char* code, uint16_t kind, float firstFigure) {
    w.put(market).put(kind);
    char field[10] = {};
    std::memcpy(field, code, std::min<size_t>(std::strlen(code), 10));
    w.bytes(ByteSpan(reinterpret_cast<const uint8_t*>(field), 10));
    w.put(uint32_t{20240331});
    for (int i = 0; i < kFinanceFigures; ++i) w.put(firstFigure + i);
}

Bytes SampleFinance() {
    ByteWriter w;
    w.put(kFinanceMagic).put(kFinanceRecordSize);
    PutFinance(w, kMarketSH, "600000", 1, 100);
    PutFinance(w, kMarketSZ, "000001", 4, 200);
    return w.take();
}

struct GbbgChange {
    uint16_t year;
    uint8_t month, day;
    float total, circulating;
};

void PutGroup(ByteWriter& w, MarketCode market, const char* code, const std::vector<GbbgChange>& changes) {
    w.put(uint16_t{0}).put(static_cast<uint16_t>(changes.size())).put(market);
    char field[6] = {};
    std::memcpy(field, code, std::min<size_t>(std::strlen(code), 6));
    w.bytes(ByteSpan(reinterpret_cast<const uint8_t*>(field), 6));
    for (const auto& c : changes) {
        w.put(c.year).put(c.month).put(c.day).zeros(4).put(c.total).put(c.circulating).zeros(12);
    }
}

Bytes SampleGbbg(uint16_t version = kCapitalFileVersion) {
    ByteWriter w;
    w.bytes(std::string_view("GBBG")).put(uint32_t{2}).put(uint32_t{4}).put(version).put(uint16_t{1});
    w.zeros(64);
    PutGroup(w, kMarketSH, "600000", {{2010, 6, 1, 200, 100}, {2005, 1, 4, 150, 50}, {2015, 2, 30, 1, 1}});
    PutGroup(w, kMarketSZ, "000001", {{2012, 12, 31, 300, 250}});
    return w.take();
}

// --- Power.pwr ------------------------------------------------------------------

TEST(PowerFileTest, ParsesGroupsSortedAndSkipsEmptyRecords) {
    PowerFile f = ParsePowerFile(SamplePower());
    ASSERT_TRUE(f.valid);
    EXPECT_FALSE(f.truncated);
    ASSERT_EQ(f.exRights.size(), 2u);
    const auto& bank = f.exRights.at(kPfBank);
    ASSERT_EQ(bank.size(), 2u);
    EXPECT_EQ(bank[0].exDate, 1200000000u);
    EXPECT_FLOAT_EQ(bank[0].bonusShares, 1.0f);
    EXPECT_EQ(bank[1].exDate, 1300000000u);
    EXPECT_EQ(f.skippedRecords, 1);
    const auto& pingan = f.exRights.at(MakeSecurityId(kMarketSZ, "000001"));
    ASSERT_EQ(pingan.size(), 1u);
    EXPECT_FLOAT_EQ(pingan[0].rightsPrice, 5.5f);
}

TEST(PowerFileTest, WrongHeaderIsIgnoredWhole) {
    Bytes bytes = SamplePower();
    bytes[0] ^= 1;
    EXPECT_FALSE(ParsePowerFile(bytes).valid);
    EXPECT_FALSE(ParsePowerFile(Bytes{}).valid);
    EXPECT_FALSE(ParsePowerFile(Bytes(7, 0xFF)).valid);
}

TEST(PowerFileTest, TruncatedFileKeepsWhatIsWhole) {
    Bytes full = SamplePower();
    // Cut inside the last record: the second group loses its only record.
    Bytes cut(full.begin(), full.end() - 3);
    PowerFile f = ParsePowerFile(cut);
    ASSERT_TRUE(f.valid);
    EXPECT_TRUE(f.truncated);
    EXPECT_EQ(f.exRights.at(kPfBank).size(), 2u);
    EXPECT_TRUE(f.exRights.at(kPingAn).empty());
    // Cut inside the second group's header: that group is dropped entirely.
    size_t secondGroup = 8 + 20 + 60;
    cut.assign(full.begin(), full.begin() + static_cast<long>(secondGroup + 10));
    f = ParsePowerFile(cut);
    EXPECT_TRUE(f.truncated);
    EXPECT_EQ(f.exRights.count(kPingAn), 0u);
    EXPECT_EQ(f.exRights.at(kPfBank).size(), 2u);
    // Every prefix parses without reading past it.
    for (size_t n = 0; n <= full.size(); ++n) {
        Bytes prefix(full.begin(), full.begin() + static_cast<long>(n));
        PowerFile p = ParsePowerFile(prefix);
        size_t records = 0;
        for (auto& [id, list] : p.exRights) records += list.size();
        EXPECT_LE(records, 3u);
    }
}

TEST(PowerFileTest, UnusableAdjustmentInputsAreDropped) {
    ByteWriter w;
    w.put(kPowerMagic1).put(kPowerMagic2).put(kPowerGroupMarker);
    PutId(w, kPfBank);
    w.put(uint32_t{0});
    PutExRights(w, 1, -1.0f, 0, 0, 0.5f);          // 1 + bonus + rights == 0: would divide by zero
    PutExRights(w, 2, -0.7f, -0.3f, 1, 0);         // likewise, as a sum
    PutExRights(w, 3, -2.0f, 0, 0, 0);             // negative factor
    PutExRights(w, 4, std::numeric_limits<float>::quiet_NaN(), 0, 0, 0.1f);
    PutExRights(w, 5, 0, 0, 0, std::numeric_limits<float>::infinity());
    PutExRights(w, 6, 0.5f, 0, 0, 0);              // fine
    PowerFile f = ParsePowerFile(w.data());
    ASSERT_TRUE(f.valid);
    ASSERT_EQ(f.exRights.at(kPfBank).size(), 1u);
    EXPECT_EQ(f.exRights.at(kPfBank)[0].exDate, 6u);
    EXPECT_EQ(f.skippedRecords, 5);
    for (const auto& r : f.exRights.at(kPfBank)) EXPECT_GT(1.0f + r.bonusShares + r.rightsShares, 0.0f);
}

TEST(PowerFileTest, CodeFieldIsBoundedAndRecordsBeforeAnyGroupStopTheParse) {
    ByteWriter w;
    w.put(kPowerMagic1).put(kPowerMagic2).put(kPowerGroupMarker);
    w.put(kMarketSH);
    w.bytes(std::string_view("6000001234"));  // ten bytes, no NUL
    w.put(uint32_t{0});
    PutExRights(w, 10, 1, 0, 0, 0);
    PowerFile f = ParsePowerFile(w.data());
    ASSERT_EQ(f.exRights.size(), 1u);
    EXPECT_LE(f.exRights.begin()->first.codeText().size(), 9u);

    ByteWriter stray;
    stray.put(kPowerMagic1).put(kPowerMagic2);
    PutExRights(stray, 10, 1, 0, 0, 0);
    f = ParsePowerFile(stray.data());
    EXPECT_TRUE(f.valid);
    EXPECT_TRUE(f.exRights.empty());
}

TEST(PowerFileTest, RepeatedGroupOfOneSecurityIsMerged) {
    ByteWriter w;
    w.put(kPowerMagic1).put(kPowerMagic2);
    for (uint32_t date : {30u, 10u}) {
        w.put(kPowerGroupMarker);
        PutId(w, date == 30 ? kPfBank : MakeSecurityId(kMarketSH, "600000"));
        w.put(uint32_t{0});
        PutExRights(w, date, 1, 0, 0, 0);
    }
    PowerFile f = ParsePowerFile(w.data());
    ASSERT_EQ(f.exRights.size(), 1u);
    ASSERT_EQ(f.exRights.at(kPfBank).size(), 2u);
    EXPECT_EQ(f.exRights.at(kPfBank)[0].exDate, 10u);
}

// --- finance.fin ----------------------------------------------------------------

TEST(FinanceFileTest, ParsesRecords) {
    FinanceFile f = ParseFinanceFile(SampleFinance());
    ASSERT_TRUE(f.valid);
    EXPECT_FALSE(f.truncated);
    ASSERT_EQ(f.finance.size(), 2u);
    const FinanceBlock& b = f.finance.at(kPingAn);
    EXPECT_EQ(b.updateDate, 20240331u);
    EXPECT_FLOAT_EQ(b.figures[0], 200);
    EXPECT_FLOAT_EQ(b.figures[36], 236);
    EXPECT_FLOAT_EQ(b.reportKind, 4);
    EXPECT_EQ(b.zero[7], 0);
}

TEST(FinanceFileTest, HeaderAndTruncation) {
    Bytes bytes = SampleFinance();
    Bytes wrongSize = bytes;
    wrongSize[4] = 165;
    EXPECT_FALSE(ParseFinanceFile(wrongSize).valid);
    Bytes wrongMagic = bytes;
    wrongMagic[3] = 0;
    EXPECT_FALSE(ParseFinanceFile(wrongMagic).valid);
    Bytes cut(bytes.begin(), bytes.end() - 1);
    FinanceFile f = ParseFinanceFile(cut);
    ASSERT_TRUE(f.valid);
    EXPECT_TRUE(f.truncated);
    ASSERT_EQ(f.finance.size(), 1u);
    EXPECT_EQ(f.finance.count(kPfBank), 1u);
}

TEST(FinanceFileTest, CapitalDerivationByClass) {
    FinanceBlock b;
    b.figures[kFigureTotalShares] = 1000;   // 万股 = 10,000,000 shares = 100,000 lots
    b.figures[kFigureBShares] = 30;
    b.figures[kFigureFloatAShares] = 400;
    CapitalChange a = CapitalFromFinance(b, kClassAShare);
    EXPECT_EQ(a.day, MakeStoreTime(1980, 1, 1));
    EXPECT_FLOAT_EQ(a.total, 100000);
    EXPECT_FLOAT_EQ(a.circulating, 40000);
    CapitalChange bShare = CapitalFromFinance(b, kClassBShare);
    EXPECT_FLOAT_EQ(bShare.circulating, 3000);
    EXPECT_FLOAT_EQ(bShare.total, 100000);
    CapitalChange bond = CapitalFromFinance(b, kClassBond);
    EXPECT_FLOAT_EQ(bond.circulating, 4000);
    EXPECT_FLOAT_EQ(bond.total, 10000);
    CapitalChange index = CapitalFromFinance(b, kClassIndex);
    EXPECT_EQ(index.circulating, 0);
    EXPECT_EQ(index.total, 0);
    b.figures[kFigureFloatAShares] = std::numeric_limits<float>::quiet_NaN();
    EXPECT_EQ(CapitalFromFinance(b, kClassAShare).circulating, 0);
}

// --- gbbg.dat -------------------------------------------------------------------

TEST(CapitalChangeFileTest, ParsesGroupsInLotsSortedByDay) {
    CapitalChangeFile f = ParseCapitalChangeFile(SampleGbbg());
    ASSERT_TRUE(f.valid);
    ASSERT_EQ(f.changes.size(), 2u);
    const auto& bank = f.changes.at(kPfBank);
    ASSERT_EQ(bank.size(), 2u);  // 2015-02-30 is no date
    EXPECT_EQ(f.skippedRecords, 1);
    EXPECT_EQ(bank[0].day, MakeStoreTime(2005, 1, 4));
    EXPECT_FLOAT_EQ(bank[0].circulating, 5000);
    EXPECT_FLOAT_EQ(bank[0].total, 15000);
    EXPECT_EQ(bank[1].day, MakeStoreTime(2010, 6, 1));
    EXPECT_FLOAT_EQ(f.changes.at(kPingAn)[0].circulating, 25000);
}

TEST(CapitalChangeFileTest, WrongVersionOrSizeIsIgnoredWhole) {
    EXPECT_FALSE(ParseCapitalChangeFile(SampleGbbg(20049)).valid);
    Bytes bytes = SampleGbbg();
    bytes[0] = 'X';
    EXPECT_FALSE(ParseCapitalChangeFile(bytes).valid);
    // Shorter than 16 + 64K + 12S + 28C.
    Bytes full = SampleGbbg();
    for (size_t n = 0; n < full.size(); ++n) {
        Bytes prefix(full.begin(), full.begin() + static_cast<long>(n));
        EXPECT_FALSE(ParseCapitalChangeFile(prefix).valid) << n;
    }
}

TEST(CapitalChangeFileTest, GroupCountIsCheckedAgainstTheRemainingBytes) {
    // The header's sizes fit, but the group claims more changes than the file holds.
    ByteWriter w;
    w.bytes(std::string_view("GBBG")).put(uint32_t{1}).put(uint32_t{1}).put(kCapitalFileVersion).put(uint16_t{0});
    w.put(uint16_t{0}).put(uint16_t{60000}).put(kMarketSH).bytes(std::string_view("600000"));
    w.put(uint16_t{2010}).put(uint8_t{1}).put(uint8_t{4}).zeros(4).put(1.0f).put(1.0f).zeros(12);
    EXPECT_FALSE(ParseCapitalChangeFile(w.data()).valid);
    // More groups than the file holds.
    ByteWriter g;
    g.bytes(std::string_view("GBBG")).put(uint32_t{3}).put(uint32_t{0}).put(kCapitalFileVersion).put(uint16_t{0});
    g.zeros(36);  // 12S bytes, but the groups say one change each
    Bytes groups = g.take();
    for (size_t at = 16; at < groups.size(); at += 12) groups[at + 2] = 1;
    EXPECT_FALSE(ParseCapitalChangeFile(groups).valid);
}

TEST(CapitalChangeFileTest, HugeCountsAreRejectedWithoutWrapping) {
    for (uint32_t s : {0xFFFFFFFFu, 0x15555556u, 0x80000000u}) {
        ByteWriter w;
        w.bytes(std::string_view("GBBG")).put(s).put(0xFFFFFFFFu).put(kCapitalFileVersion).put(uint16_t{0xFFFF});
        w.zeros(200);
        EXPECT_FALSE(ParseCapitalChangeFile(w.data()).valid);
    }
}

TEST(CapitalChangeFileTest, CodeFieldOfSixBytesIsBounded) {
    ByteWriter w;
    w.bytes(std::string_view("GBBG")).put(uint32_t{1}).put(uint32_t{1}).put(kCapitalFileVersion).put(uint16_t{0});
    PutGroup(w, kMarketSZ, "3000011", {{2020, 2, 29, 10, 5}});  // seven characters given, six stored
    CapitalChangeFile f = ParseCapitalChangeFile(w.data());
    ASSERT_TRUE(f.valid);
    ASSERT_EQ(f.changes.size(), 1u);
    EXPECT_EQ(f.changes.begin()->first.codeText(), "300001");
    EXPECT_EQ(f.changes.begin()->second[0].day, MakeStoreTime(2020, 2, 29));
}

// --- Garbage never reads out of bounds ---------------------------------------------

TEST(BaseFilesGarbageTest, RandomBytesAndMutationsParseSafely) {
    std::mt19937 rng(12345);
    std::vector<Bytes> seeds = {SamplePower(), SampleFinance(), SampleGbbg()};
    for (int round = 0; round < 3000; ++round) {
        Bytes bytes = seeds[static_cast<size_t>(round) % seeds.size()];
        int edits = 1 + static_cast<int>(rng() % 8);
        for (int e = 0; e < edits && !bytes.empty(); ++e) bytes[rng() % bytes.size()] = static_cast<uint8_t>(rng());
        if (rng() % 3 == 0) bytes.resize(rng() % (bytes.size() + 1));
        PowerFile p = ParsePowerFile(bytes);
        for (auto& [id, list] : p.exRights)
            for (auto& r : list) ASSERT_TRUE(IsUsableExRights(r));
        FinanceFile f = ParseFinanceFile(bytes);
        ASSERT_LE(f.finance.size(), bytes.size() / kFinanceRecordSize);
        CapitalChangeFile c = ParseCapitalChangeFile(bytes);
        if (c.valid) {
            ASSERT_GE(bytes.size(), 16u);
        }
    }
}

}  // namespace
}  // namespace tessaro
