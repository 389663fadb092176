// Applying the base files to the market store: known securities only, checksums, capital.
#include <gtest/gtest.h>

#include "market/base_files.h"
#include "market/market_store.h"
#include "platform/crc32.h"
#include "platform/files.h"
#include "platform/settings_store.h"
#include "test_support/temp_dir.h"

namespace tessaro {
namespace {

const SecurityId kBank = MakeSecurityId(kMarketSH, "600000");
const SecurityId kPingAn = MakeSecurityId(kMarketSZ, "000001");
const SecurityId kUnknown = MakeSecurityId(kMarketSZ, "000999");

class BaseFilesStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(store_.LoadAll());
        ASSERT_TRUE(store_.FindOrAdd(kBank, true));
        ASSERT_TRUE(store_.FindOrAdd(kPingAn, true));
    }
    std::string write(const std::string& path, const Bytes& bytes) {
        EXPECT_TRUE(CreateDirectories(path));
        EXPECT_TRUE(WriteFileAtomic(path, bytes));
        return path;
    }

    TempDir dir_;
    AppPaths paths_{dir_.path()};
    SettingsStore settings_;
    MarketStore store_{paths_, settings_};
};

void PutExRights(ByteWriter& w, uint32_t date, float bonus) {
    w.put(date).put(bonus).put(0.0f).put(0.0f).put(0.0f);
}

TEST_F(BaseFilesStoreTest, PowerReplacesListsOfKnownSecurities) {
    store_.SetExRights(kPingAn, {ExRightsRecord{5, 1, 0, 0, 0}});
    ByteWriter w;
    w.put(kPowerMagic1).put(kPowerMagic2);
    for (const SecurityId& id : {kBank, kUnknown}) {
        w.put(kPowerGroupMarker).write(id).put(uint32_t{0});
        PutExRights(w, 200, 0.5f);
        PutExRights(w, 100, 1.0f);
    }
    Bytes bytes = w.take();
    BaseFileLoad load = LoadPower(store_, write(paths_.powerFile(), bytes));
    EXPECT_EQ(load.status, BaseFileStatus::Loaded);
    EXPECT_EQ(load.securities, 1);
    EXPECT_EQ(load.unknown, 1);
    EXPECT_EQ(load.checksum, Crc32(bytes));
    EXPECT_EQ(store_.BaseFileChecksum(BaseFile::Power), Crc32(bytes));
    auto list = store_.GetExRights(kBank);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].exDate, 100u);
    EXPECT_EQ(store_.GetExRights(kPingAn).size(), 1u);  // not listed: kept
    EXPECT_FALSE(store_.GetCodeEntry(kUnknown));          // never added
}

TEST_F(BaseFilesStoreTest, BadHeaderKeepsWhatTheStoreHadButRecordsTheChecksum) {
    store_.SetExRights(kBank, {ExRightsRecord{5, 1, 0, 0, 0}});
    Bytes junk = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    BaseFileLoad load = LoadPower(store_, write(paths_.powerFile(), junk));
    EXPECT_EQ(load.status, BaseFileStatus::Invalid);
    EXPECT_EQ(store_.GetExRights(kBank).size(), 1u);
    EXPECT_EQ(store_.BaseFileChecksum(BaseFile::Power), Crc32(junk));

    EXPECT_EQ(LoadFinance(store_, dir_.path() + "/none.fin").status, BaseFileStatus::Missing);
}

TEST_F(BaseFilesStoreTest, FinanceSetsBlockAndDerivedCapitalList) {
    ByteWriter w;
    w.put(kFinanceMagic).put(kFinanceRecordSize);
    for (const SecurityId& id : {kBank, kUnknown}) {
        w.put(id.market).put(uint16_t{2}).bytes(ByteSpan(reinterpret_cast<const uint8_t*>(id.code), 10));
        w.put(uint32_t{20240630});
        for (int i = 0; i < kFinanceFigures; ++i) w.put(i == 0 ? 500.0f : i == 6 ? 120.0f : 1.0f);
    }
    Bytes bytes = w.take();
    BaseFileLoad load = LoadFinance(store_, write(paths_.financeFile(), bytes));
    EXPECT_EQ(load.status, BaseFileStatus::Loaded);
    EXPECT_EQ(load.securities, 1);
    EXPECT_EQ(store_.BaseFileChecksum(BaseFile::Finance), Crc32(bytes));
    StockRecord record;
    ASSERT_TRUE(store_.GetRecord(kBank, record));
    EXPECT_EQ(uint32_t{record.finance.updateDate}, 20240630u);
    EXPECT_FLOAT_EQ(record.finance.figures[0], 500);
    auto changes = store_.GetCapitalChanges(kBank);
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(changes[0].day, MakeStoreTime(1980, 1, 1));
    EXPECT_FLOAT_EQ(changes[0].circulating, 12000);
    EXPECT_FLOAT_EQ(changes[0].total, 50000);
    EXPECT_FLOAT_EQ(record.quote.capital.circulating, 12000);
}

TEST_F(BaseFilesStoreTest, CapitalChangesReplaceListAndSetNewestCapital) {
    ByteWriter w;
    w.bytes(std::string_view("GBBG")).put(uint32_t{2}).put(uint32_t{3}).put(kCapitalFileVersion).put(uint16_t{0});
    auto group = [&](const SecurityId& id, std::initializer_list<std::pair<int, float>> changes) {
        w.put(uint16_t{0}).put(static_cast<uint16_t>(changes.size())).put(id.market);
        w.bytes(ByteSpan(reinterpret_cast<const uint8_t*>(id.code), 6));
        for (auto [year, circ] : changes)
            w.put(static_cast<uint16_t>(year)).put(uint8_t{7}).put(uint8_t{1}).zeros(4).put(circ * 2).put(circ).zeros(12);
    };
    group(kPingAn, {{2015, 300}, {2010, 100}});
    group(kUnknown, {{2011, 1}});
    Bytes bytes = w.take();
    BaseFileLoad load = LoadCapitalChanges(store_, write(paths_.capitalChangeFile(), bytes));
    EXPECT_EQ(load.status, BaseFileStatus::Loaded);
    EXPECT_EQ(load.unknown, 1);
    EXPECT_EQ(store_.BaseFileChecksum(BaseFile::CapitalChanges), Crc32(bytes));
    auto changes = store_.GetCapitalChanges(kPingAn);
    ASSERT_EQ(changes.size(), 2u);
    EXPECT_EQ(changes[0].day, MakeStoreTime(2010, 7, 1));
    EXPECT_FLOAT_EQ(changes[1].circulating, 30000);
    auto quote = store_.GetQuote(kPingAn);
    ASSERT_TRUE(quote);
    EXPECT_FLOAT_EQ(quote->capital.circulating, 30000);
    EXPECT_FLOAT_EQ(quote->capital.total, 60000);
}

TEST_F(BaseFilesStoreTest, LoadBaseFilesRunsAllThreeInOrder) {
    // Finance gives a one-entry list; gbbg.dat, loaded after it, replaces that list.
    ByteWriter fin;
    fin.put(kFinanceMagic).put(kFinanceRecordSize);
    fin.put(kBank.market).put(uint16_t{1}).bytes(ByteSpan(reinterpret_cast<const uint8_t*>(kBank.code), 10));
    fin.put(uint32_t{1});
    for (int i = 0; i < kFinanceFigures; ++i) fin.put(10.0f);
    write(paths_.financeFile(), fin.take());
    ByteWriter gb;
    gb.bytes(std::string_view("GBBG")).put(uint32_t{1}).put(uint32_t{2}).put(kCapitalFileVersion).put(uint16_t{0});
    gb.put(uint16_t{0}).put(uint16_t{2}).put(kBank.market).bytes(std::string_view("600000"));
    for (int year : {2001, 2002}) gb.put(static_cast<uint16_t>(year)).put(uint8_t{1}).put(uint8_t{2}).zeros(4).put(5.0f).put(4.0f).zeros(12);
    write(paths_.capitalChangeFile(), gb.take());
    LoadBaseFiles(store_, paths_);
    auto changes = store_.GetCapitalChanges(kBank);
    ASSERT_EQ(changes.size(), 2u);
    EXPECT_EQ(changes[1].day, MakeStoreTime(2002, 1, 2));
}

}  // namespace
}  // namespace tessaro
