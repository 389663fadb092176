// Market store: the market file across saves, new days, clears, crashes and corruption.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <array>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "market/market_store_fixture.h"

namespace tessaro {
namespace {

using namespace testing_store;

template <class T>
void Patch(const std::string& path, int64_t offset, T value) {
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    ASSERT_TRUE(f.is_open());
    f.seekp(offset);
    f.write(reinterpret_cast<const char*>(&value), sizeof value);
    ASSERT_TRUE(f.good());
}

int64_t RecordField(int slot, size_t fieldOffset) { return RecordFileOffset(slot) + static_cast<int64_t>(fieldOffset); }

ino_t Inode(const std::string& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st.st_ino;
}

std::vector<float> TickVolumes(MarketStore& s, const SecurityId& id) {
    Series series;
    EXPECT_TRUE(s.GetTicks(id, series));
    std::vector<float> out;
    for (const KLineRecord& b : series.bars) out.push_back(b.volume);
    return out;
}

class PersistTest : public StoreTest {
protected:
    // SH600000 owns blocks 0 and 1 (150 ticks), SH600001 block 2 (50 ticks),
    // SH600002 has no ticks; SZ000001 has a quote and minutes.
    void Fill(MarketStore& s) {
        Quote(Sh("600000"), Day1(15, 0), 10, 100000, &s);
        Quote(Sh("600001"), Day1(15, 0), 20, 100000, &s);
        Quote(Sh("600002"), Day1(15, 0), 30, 100000, &s);
        Quote(Sz("000001"), Day1(14, 0), 5, 300, &s);
        ASSERT_TRUE(s.AppendTicks(Sh("600000"), TickRun(Day1(9, 30), 1, 150)));
        ASSERT_TRUE(s.AppendTicks(Sh("600001"), TickRun(Day1(9, 31), 1, 50, 20)));
        std::vector<MinuteSlot> minutes = {MakeMinute(Day1(9, 30), 5, 100), MakeMinute(Day1(9, 31), 5.1f, 300)};
        s.UpdateMinutes(Sz("000001"), minutes);
        s.SetMarketCounters(kMarketSZ, 4, 5, 6);
        s.SetServerTime(Day1(15, 0, 3));
        FinanceBlock f;
        f.figures[6] = 77;
        s.SetFinance(Sh("600002"), f);
    }
    // Writes the standard market, then lets the test damage the SH file.
    void SaveFilledAndClose() {
        Fill(*store_);
        ASSERT_TRUE(store_->SaveAll());
        store_.reset();
    }
};

TEST_F(PersistTest, ReloadedStoreEqualsTheSavedOne) {
    Fill(*store_);
    ASSERT_TRUE(store_->SaveAll());
    auto again = Reload();
    auto before = store_->ListAll();
    auto after = again->ListAll();
    ASSERT_EQ(before.size(), after.size());
    for (size_t i = 0; i < before.size(); ++i) {
        ASSERT_EQ(std::memcmp(&before[i], &after[i], sizeof(CodeEntry)), 0) << i;
        StockRecord a, b;
        ASSERT_TRUE(store_->GetRecord(before[i].id, a));
        ASSERT_TRUE(again->GetRecord(after[i].id, b));
        EXPECT_EQ(std::memcmp(&a, &b, sizeof a), 0) << SecurityText(before[i].id);
        EXPECT_EQ(TickVolumes(*store_, before[i].id), TickVolumes(*again, after[i].id));
    }
    EXPECT_EQ(again->TickCount(Sh("600000")), 150);
    EXPECT_EQ(again->ServerTime(), Day1(15, 0, 3));
    EXPECT_EQ(again->MarketCounters(kMarketSZ), (std::array<uint16_t, 3>{4, 5, 6}));
    EXPECT_EQ(again->MarketTradingDate(kMarketSH), Day1(15, 0));
    EXPECT_EQ(again->MarketTradingDate(kMarketSZ), Day1(14, 0));
    EXPECT_TRUE(again->QuotesChanged(kMarketSH));
}

TEST_F(PersistTest, SaveReplacesTheFileAndKeepsOneSpareBlock) {
    Fill(*store_);
    const std::string path = MarketFile(kMarketSH);
    ino_t before = Inode(path);
    ASSERT_TRUE(store_->SaveAll());
    EXPECT_NE(Inode(path), before);  // a new file renamed over the old
    EXPECT_EQ(FileSize(path), static_cast<int64_t>(kMarketImageSize + kTickBlockSize * 4));
    // No temporary file is left beside it (f10/ and the lock file are the only other entries).
    for (const auto& entry : std::filesystem::directory_iterator(AppPaths(dir_.path()).marketDir(kMarketSH)))
        EXPECT_TRUE(entry.path().filename() == "stkinfo.dat" || entry.path().filename() == "f10" ||
                    entry.path().filename() == ".tessaro.lock")
            << entry.path();
    // The store goes on working on the new file.
    ASSERT_TRUE(store_->AppendTicks(Sh("600001"), TickRun(Day1(9, 40), 51, 60, 20)));
    EXPECT_EQ(store_->TickCount(Sh("600001")), 110);
    EXPECT_EQ(Reload()->TickCount(Sh("600001")), 110);
}

TEST_F(PersistTest, ReloadMidDayAfterNewDayFindsNoStaleTickOwners) {
    Fill(*store_);
    ASSERT_TRUE(store_->SaveAll());
    // Day 2 opens with a quote for 600001 only; its ticks reuse block 0, which
    // yesterday's file listed as 600000's.
    QuoteUpdate q = MakeQuote(Sh("600001"), Day2(10, 0), 21, 50000);
    ASSERT_TRUE(store_->UpdateQuote(q) & kQuoteNewDay);
    ASSERT_TRUE(store_->AppendTicks(Sh("600001"), TickRun(Day2(9, 30), 1, 40, 21)));
    StockRecord r;
    store_->GetRecord(Sh("600001"), r);
    ASSERT_EQ(r.tickBlocks[0], 0);

    auto crashed = Reload();  // the first store never saved again
    EXPECT_EQ(crashed->TickCount(Sh("600000")), 0);
    Series s;
    ASSERT_TRUE(crashed->GetTicks(Sh("600000"), s));
    EXPECT_TRUE(s.empty());
    auto ticks = TickVolumes(*crashed, Sh("600001"));
    ASSERT_EQ(ticks.size(), 40u);
    EXPECT_EQ(ticks.back(), 40.0f);
    // Yesterday's daily data is gone from the file too, 昨收 is kept.
    StockRecord old;
    ASSERT_TRUE(crashed->GetRecord(Sh("600000"), old));
    EXPECT_EQ(old.quote.bar.time, 0u);
    EXPECT_FLOAT_EQ(old.quote.prevClose, 9.9f);
    EXPECT_EQ(crashed->MarketTradingDate(kMarketSH), Day2(10, 0));
    // New ticks in the reloaded store do not land in a block someone owns.
    Quote(Sh("600002"), Day2(10, 0), 30, 50000, crashed.get());
    ASSERT_TRUE(crashed->AppendTicks(Sh("600002"), TickRun(Day2(9, 30), 1, 10, 30)));
    EXPECT_EQ(TickVolumes(*crashed, Sh("600001")).size(), 40u);
    StockRecord r2;
    crashed->GetRecord(Sh("600002"), r2);
    EXPECT_EQ(r2.tickBlocks[0], 1);
}

TEST_F(PersistTest, ExplicitNewDayIsWrittenAtOnce) {
    Fill(*store_);
    ASSERT_TRUE(store_->SaveAll());
    store_->NewDay(3);
    auto crashed = Reload();
    EXPECT_EQ(crashed->TickCount(Sh("600000")), 0);
    Series minutes;
    ASSERT_TRUE(crashed->GetMinutes(Sz("000001"), minutes));
    EXPECT_TRUE(minutes.empty());
    EXPECT_EQ(crashed->MarketCounters(kMarketSZ), (std::array<uint16_t, 3>{0, 0, 0}));
    EXPECT_EQ(FileSize(MarketFile(kMarketSH)), static_cast<int64_t>(kMarketImageSize + kTickBlockSize));
    // The finance block survives a new day.
    StockRecord r;
    crashed->GetRecord(Sh("600002"), r);
    EXPECT_EQ(r.finance.figures[6], 77.0f);
}

TEST_F(PersistTest, ReloadMidDayAfterClearFindsOnlyTheNewCodeTable) {
    Fill(*store_);
    ASSERT_TRUE(store_->SaveAll());
    store_->ClearMarkets(3);
    EXPECT_EQ(store_->SecurityCount(kMarketSH), 0);
    // The new code table arrives in another order.
    Quote(Sh("600002"), Day1(15, 0), 30, 100000);
    ASSERT_TRUE(store_->AppendTicks(Sh("600002"), TickRun(Day1(9, 30), 1, 20, 30)));
    auto crashed = Reload();
    EXPECT_FALSE(crashed->GetCodeEntry(Sh("600000")));
    EXPECT_FALSE(crashed->GetCodeEntry(Sz("000001")));
    EXPECT_EQ(crashed->SecurityCount(kMarketSH), 1);
    EXPECT_EQ(TickVolumes(*crashed, Sh("600002")).size(), 20u);
    EXPECT_EQ(crashed->ServerTime(), Day1(15, 0, 3));
    EXPECT_EQ(crashed->SecurityCount(kMarketSystem), 1);  // $$ was not cleared
}

// ---- Damaged files ----------------------------------------------------------------------------

TEST_F(PersistTest, WrongMagicOrShortFileStartsEmpty) {
    SaveFilledAndClose();
    const int64_t savedSize = FileSize(MarketFile(kMarketSH));
    Patch(MarketFile(kMarketSH), 0, 'X');
    auto s = Reload();
    EXPECT_EQ(s->SecurityCount(kMarketSH), 0);
    EXPECT_EQ(s->SecurityCount(kMarketSZ), 1);
    // The file was rewritten empty with the magic.
    auto bytes = ReadWholeFile(MarketFile(kMarketSH));
    ASSERT_TRUE(bytes);
    EXPECT_EQ(std::string(bytes->begin(), bytes->begin() + 4), "5KQW");
    // The damaged file itself is kept aside whole, not thrown away.
    const std::string kept = DamagedMarketFilePath(MarketFile(kMarketSH));
    EXPECT_EQ(FileSize(kept), savedSize);
    auto keptBytes = ReadWholeFile(kept);
    ASSERT_TRUE(keptBytes);
    EXPECT_EQ(keptBytes->front(), 'X');
    EXPECT_FALSE(FileExists(DamagedMarketFilePath(MarketFile(kMarketSZ))));
    s.reset();

    ASSERT_TRUE(WriteFileAtomic(MarketFile(kMarketSZ), std::string_view("5KQW\x01\0\0\0", 8)));
    s = Reload();
    EXPECT_EQ(s->SecurityCount(kMarketSZ), 0);
}

TEST_F(PersistTest, ImpossibleRecordCountStartsEmpty) {
    for (int32_t count : {4097, -1}) {
        store_ = NewStore();
        ASSERT_TRUE(store_->LoadAll());
        SaveFilledAndClose();
        Patch(MarketFile(kMarketSH), 4, count);
        auto s = Reload();
        EXPECT_EQ(s->SecurityCount(kMarketSH), 0) << count;
        EXPECT_EQ(s->TickCount(Sh("600000")), 0);
    }
}

TEST_F(PersistTest, RecordWithCountsOutOfRangeIsDropped) {
    struct Damage {
        const char* what;
        size_t field;
        int32_t value;
        int slot;  // 0 = 600000 (two blocks), 1 = 600001 (one block)
        bool asInt16 = false;
    };
    const Damage damages[] = {
        {"minutes 243", offsetof(StockRecord, minuteCount), 243, 0, true},
        {"minutes -1", offsetof(StockRecord, minuteCount), -1, 0, true},
        {"blocks 49", offsetof(StockRecord, tickBlockCount), 49, 0},
        {"blocks -3", offsetof(StockRecord, tickBlockCount), -3, 0},
        {"last block 101", offsetof(StockRecord, ticksInLastBlock), 101, 1},
        {"last block -1", offsetof(StockRecord, ticksInLastBlock), -1, 1},
        {"negative block", offsetof(StockRecord, tickBlocks), -2, 1},
        {"block of another record", offsetof(StockRecord, tickBlocks), 1, 1},
        {"block listed twice", offsetof(StockRecord, tickBlocks) + 4, 0, 0},
        {"other market", offsetof(StockRecord, entry), kMarketSZ, 1, true},
    };
    for (const Damage& d : damages) {
        SCOPED_TRACE(d.what);
        store_ = NewStore();
        ASSERT_TRUE(store_->LoadAll());
        store_->ClearMarkets(3);  // the same slots and blocks every round
        Fill(*store_);
        ASSERT_TRUE(store_->SaveAll());
        store_.reset();
        if (d.asInt16)
            Patch(MarketFile(kMarketSH), RecordField(d.slot, d.field), static_cast<int16_t>(d.value));
        else
            Patch(MarketFile(kMarketSH), RecordField(d.slot, d.field), d.value);
        auto s = Reload();
        const SecurityId damaged = d.slot == 0 ? Sh("600000") : Sh("600001");
        const SecurityId intact = d.slot == 0 ? Sh("600001") : Sh("600000");
        EXPECT_FALSE(s->GetCodeEntry(damaged));
        EXPECT_EQ(s->SecurityCount(kMarketSH), 2);
        EXPECT_EQ(TickVolumes(*s, intact).size(), d.slot == 0 ? 50u : 150u);
        EXPECT_TRUE(s->GetCodeEntry(Sh("600002")));
        // The repaired market was written back: a second load agrees, and the
        // damaged original stays beside it with the dropped record.
        s.reset();
        const std::string kept = DamagedMarketFilePath(MarketFile(kMarketSH));
        ASSERT_TRUE(FileExists(kept));
        ASSERT_TRUE(std::filesystem::remove(kept));
        auto again = Reload();
        EXPECT_FALSE(again->GetCodeEntry(damaged));
        EXPECT_EQ(again->SecurityCount(kMarketSH), 2);
        EXPECT_FALSE(FileExists(kept));  // a sound file is loaded as it is
    }
}

TEST_F(PersistTest, ACutTailKeepsEveryWholeRecordAndNeverOverwritesAnEarlierCopy) {
    SaveFilledAndClose();
    const std::string path = MarketFile(kMarketSH);
    const std::string saved = dir_.path() + "/saved.dat";
    ASSERT_TRUE(std::filesystem::copy_file(path, saved));

    // 1. Cut inside the tick blocks: block 1 of 600000 and block 2 of 600001 are gone.
    std::filesystem::resize_file(path, TickBlockFileOffset(1));
    const int64_t cutSize = FileSize(path);
    const ino_t cutInode = Inode(path);
    {
        // A reading store keeps all three securities, rewrites nothing, keeps no copy.
        MarketStore reader(AppPaths(dir_.path()), settings_);
        reader.SetReadOnly(true);
        ASSERT_TRUE(reader.LoadAll());
        EXPECT_EQ(reader.SecurityCount(kMarketSH), 3);
        EXPECT_EQ(reader.TickCount(Sh("600000")), 0);
        EXPECT_EQ(reader.TickCount(Sh("600001")), 0);
        EXPECT_TRUE(reader.GetCodeEntry(Sh("600002")));
        ASSERT_EQ(reader.LoadNotes().size(), 1u);
        EXPECT_NE(reader.LoadNotes()[0].find("0 securities lost, 2 kept without today's ticks"), std::string::npos)
            << reader.LoadNotes()[0];
        EXPECT_FALSE(reader.SaveAll());
    }
    EXPECT_EQ(FileSize(path), cutSize);
    EXPECT_EQ(Inode(path), cutInode);
    EXPECT_FALSE(FileExists(DamagedMarketFilePath(path)));

    // A writing store repairs it and keeps the damaged file as stkinfo.dat.bad.
    auto s = Reload();
    EXPECT_EQ(s->SecurityCount(kMarketSH), 3);
    ASSERT_EQ(s->LoadNotes().size(), 1u);
    EXPECT_NE(s->LoadNotes()[0].find("kept as " + path + ".bad"), std::string::npos) << s->LoadNotes()[0];
    EXPECT_EQ(FileSize(DamagedMarketFilePath(path)), cutSize);
    s.reset();

    // 2. Cut inside the records: the two whole records stay, the third is lost; the
    // first copy is not overwritten, the second goes beside it.
    ASSERT_TRUE(std::filesystem::copy_file(saved, path, std::filesystem::copy_options::overwrite_existing));
    std::filesystem::resize_file(path, RecordFileOffset(2) + 100);
    s = Reload();
    EXPECT_TRUE(s->GetCodeEntry(Sh("600000")));
    EXPECT_TRUE(s->GetCodeEntry(Sh("600001")));
    EXPECT_FALSE(s->GetCodeEntry(Sh("600002")));
    ASSERT_EQ(s->LoadNotes().size(), 1u);
    EXPECT_NE(s->LoadNotes()[0].find("1 securities lost"), std::string::npos) << s->LoadNotes()[0];
    EXPECT_EQ(FileSize(DamagedMarketFilePath(path)), cutSize);
    EXPECT_EQ(FileSize(DamagedMarketFilePath(path) + ".1"), RecordFileOffset(2) + 100);
    s.reset();

    // 3. A block number past the end of the file (not merely cut) is treated the same way.
    ASSERT_TRUE(std::filesystem::copy_file(saved, path, std::filesystem::copy_options::overwrite_existing));
    Patch(path, RecordField(1, offsetof(StockRecord, tickBlocks)), int32_t{4});
    s = Reload();
    EXPECT_EQ(s->SecurityCount(kMarketSH), 3);
    EXPECT_EQ(s->TickCount(Sh("600001")), 0);
    EXPECT_EQ(TickVolumes(*s, Sh("600000")).size(), 150u);
    EXPECT_TRUE(FileExists(DamagedMarketFilePath(path) + ".2"));
}

TEST_F(PersistTest, AReadOnlyStoreCreatesNothing) {
    store_.reset();
    TempDir empty;
    MarketStore reader(AppPaths(empty.path()), settings_);
    reader.SetReadOnly(true);
    ASSERT_TRUE(reader.LoadAll());
    EXPECT_EQ(reader.SecurityCount(kMarketSH), 0);
    EXPECT_TRUE(std::filesystem::is_empty(empty.path()));  // no data/, no stkinfo.dat, no f10/
    QuoteUpdate q = MakeQuote(Sh("600000"), Day1(10, 0), 10, 100);
    reader.UpdateQuote(q);
    EXPECT_FALSE(reader.AppendTicks(Sh("600000"), TickRun(Day1(9, 30), 1, 3)));
    EXPECT_FALSE(reader.SaveAll());
    EXPECT_TRUE(std::filesystem::is_empty(empty.path()));
}

TEST_F(PersistTest, ListedLastBlockWithoutTicksIsNotReadAsATick) {
    // 600000 lists blocks 0 and 1; the file says its last block holds no tick and
    // that block's bytes are zero (a file cut short and padded, say).
    SaveFilledAndClose();
    Patch(MarketFile(kMarketSH), RecordField(0, offsetof(StockRecord, ticksInLastBlock)), int32_t{0});
    Patch(MarketFile(kMarketSH), TickBlockFileOffset(1), std::array<uint8_t, kTickBlockSize>{});
    auto s = Reload();
    ASSERT_EQ(s->TickCount(Sh("600000")), 100);
    // A re-sent overlapping run merges into the 100 stored ticks.
    ASSERT_TRUE(s->AppendTicks(Sh("600000"), TickRun(Day1(9, 30, 94), 95, 11)));
    std::vector<float> expected;
    for (int v = 1; v <= 105; ++v) expected.push_back(static_cast<float>(v));
    EXPECT_EQ(TickVolumes(*s, Sh("600000")), expected);
    // A run past the stored ones appends to them.
    ASSERT_TRUE(s->AppendTicks(Sh("600000"), TickRun(Day1(9, 40), 106, 2)));
    EXPECT_EQ(s->TickCount(Sh("600000")), 107);
    EXPECT_EQ(TickVolumes(*Reload(), Sh("600000")).back(), 107.0f);
}

TEST_F(PersistTest, RepeatedCodeKeepsTheFirstRecord) {
    SaveFilledAndClose();
    // Slot 2 (600002) becomes a second 600000.
    Patch(MarketFile(kMarketSH), RecordField(2, offsetof(StockRecord, entry) + 2), std::array<char, 6>{'6', '0', '0', '0', '0', '0'});
    auto s = Reload();
    EXPECT_EQ(s->SecurityCount(kMarketSH), 2);
    EXPECT_EQ(s->GetQuote(Sh("600000"))->bar.close, 10.0f);
    EXPECT_EQ(s->TickCount(Sh("600000")), 150);
}

TEST_F(PersistTest, TickCounterBelowTheOwnedBlocksIsRaised) {
    SaveFilledAndClose();
    Patch(MarketFile(kMarketSH), static_cast<int64_t>(offsetof(MarketImage, tickBlocksInUse)), int32_t{0});
    auto s = Reload();
    Quote(Sh("600002"), Day1(15, 0), 30, 100000, s.get());
    ASSERT_TRUE(s->AppendTicks(Sh("600002"), TickRun(Day1(9, 30), 1, 10, 30)));
    StockRecord r;
    s->GetRecord(Sh("600002"), r);
    EXPECT_EQ(r.tickBlocks[0], 3);
    EXPECT_EQ(TickVolumes(*s, Sh("600000")).size(), 150u);
    EXPECT_EQ(TickVolumes(*s, Sh("600000")).front(), 1.0f);

    s.reset();
    Patch(MarketFile(kMarketSH), static_cast<int64_t>(offsetof(MarketImage, tickBlocksInUse)), int32_t{0x7fffffff});
    s = Reload();
    Quote(Sh("600003"), Day1(15, 0), 30, 100000, s.get());
    EXPECT_TRUE(s->AppendTicks(Sh("600003"), TickRun(Day1(9, 30), 1, 10, 30)));
    s->GetRecord(Sh("600003"), r);
    EXPECT_EQ(r.tickBlocks[0], 4);
}

TEST_F(PersistTest, UnwritableDirectoryFailsTheLoadButKeepsAWorkingStore) {
    const std::string blocker = dir_.path() + "/file";
    ASSERT_TRUE(WriteFileAtomic(blocker, std::string_view("x")));
    MarketStore s(AppPaths(blocker), settings_);  // data/ would have to live inside a file
    std::string error;
    EXPECT_FALSE(s.LoadAll(&error));
    EXPECT_NE(error.find("stkinfo.dat"), std::string::npos) << error;
    QuoteUpdate q = MakeQuote(Sh("600000"), Day1(10, 0), 10, 100);
    EXPECT_TRUE(s.UpdateQuote(q) & kQuoteStored);
    EXPECT_FALSE(s.AppendTicks(Sh("600000"), TickRun(Day1(9, 30), 1, 3)));
    EXPECT_EQ(s.TickCount(Sh("600000")), 0);
    EXPECT_FALSE(s.SaveAll());
    EXPECT_TRUE(s.GetCodeEntry(MakeSecurityId(kMarketSystem, "999999")));
}

}  // namespace
}  // namespace tessaro
