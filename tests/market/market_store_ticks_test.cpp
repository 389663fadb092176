// Market store: storing and reading today's ticks.
#include <gtest/gtest.h>

#include <limits>

#include "market/market_store_fixture.h"

namespace tessaro {
namespace {

using namespace testing_store;

std::vector<float> Volumes(const std::vector<TickRecord>& ticks) {
    std::vector<float> out;
    for (const TickRecord& t : ticks) out.push_back(t.volume);
    return out;
}

void ExpectStrictlyIncreasing(const std::vector<TickRecord>& ticks) {
    for (size_t i = 1; i < ticks.size(); ++i) {
        EXPECT_GT(ticks[i].volume, ticks[i - 1].volume) << i;
        EXPECT_GT(ticks[i].time, ticks[i - 1].time) << i;
    }
}

class TickStoreTest : public StoreTest {
protected:
    void SetUp() override {
        StoreTest::SetUp();
        Quote(Sh("600000"), Day1(15, 0), 10, 100000);
    }
    const SecurityId id_ = Sh("600000");
};

TEST_F(TickStoreTest, SecurityWithoutTicksHasNone) {
    Series s;
    s.push(KLineRecord{});  // a stale series is replaced
    ASSERT_TRUE(store_->GetTicks(id_, s));
    EXPECT_EQ(s.size(), 0u);
    EXPECT_EQ(store_->TickCount(id_), 0);
    EXPECT_FALSE(store_->GetTicks(Sh("600999"), s));
}

TEST_F(TickStoreTest, TicksReadBackAsBarsWithTheirOwnVolume) {
    store_->SetCapital(id_, 111, 222);
    std::vector<TickRecord> ticks = {MakeTick(Day1(9, 30), 10, 5, 1), MakeTick(Day1(9, 31), 10.2f, 12, -1),
                                     MakeTick(Day1(9, 32), 10.1f, 20, 0)};
    ASSERT_TRUE(store_->AppendTicks(id_, ticks));
    Series s;
    ASSERT_TRUE(store_->GetTicks(id_, s));
    ASSERT_EQ(s.size(), 3u);
    EXPECT_EQ(s.bars[1].time, Day1(9, 31));
    EXPECT_EQ(s.bars[1].open, 10.2f);
    EXPECT_EQ(s.bars[1].high, 10.2f);
    EXPECT_EQ(s.bars[1].low, 10.2f);
    EXPECT_EQ(s.bars[1].close, 10.2f);
    EXPECT_EQ(s.bars[1].volume, 12.0f);
    EXPECT_EQ(s.bars[1].amount, 12000.0f);
    EXPECT_EQ(s.trades[0].volume, 5.0f);
    EXPECT_EQ(s.trades[1].volume, 7.0f);
    EXPECT_EQ(s.trades[2].volume, 8.0f);
    EXPECT_EQ(s.trades[2].amount, 8000.0f);
    EXPECT_EQ(s.trades[1].direction, -1);
    EXPECT_EQ(s.capital[2].circulating, 111.0f);
}

TEST_F(TickStoreTest, ResentOverlappingBatchAddsOnlyTheNewTicks) {
    ASSERT_TRUE(store_->AppendTicks(id_, TickRun(Day1(9, 30), 1, 10)));
    ASSERT_TRUE(store_->AppendTicks(id_, TickRun(Day1(9, 30, 4), 5, 11)));
    auto ticks = Ticks(id_);
    ASSERT_EQ(ticks.size(), 15u);
    ExpectStrictlyIncreasing(ticks);
    EXPECT_EQ(ticks.back().volume, 15.0f);
    EXPECT_EQ(ticks.back().time, Day1(9, 30, 14));
}

TEST_F(TickStoreTest, DuplicateAndEqualVolumeTicksAreKeptOnce) {
    // Within a batch: the repeat of volume 2 is dropped.
    std::vector<TickRecord> batch = {MakeTick(Day1(10, 0), 10, 1), MakeTick(Day1(10, 0, 1), 10, 2),
                                     MakeTick(Day1(10, 0, 2), 10.5f, 2), MakeTick(Day1(10, 0, 3), 10, 3)};
    ASSERT_TRUE(store_->AppendTicks(id_, batch));
    auto ticks = Ticks(id_);
    EXPECT_EQ(Volumes(ticks), (std::vector<float>{1, 2, 3}));
    EXPECT_EQ(ticks[1].price, 10.0f);
    // Against the stored run: a tick of a stored volume does not replace it.
    ASSERT_TRUE(store_->AppendTicks(id_, std::vector<TickRecord>{MakeTick(Day1(10, 0, 1), 11, 2)}));
    ticks = Ticks(id_);
    EXPECT_EQ(Volumes(ticks), (std::vector<float>{1, 2, 3}));
    EXPECT_EQ(ticks[1].price, 10.0f);
}

TEST_F(TickStoreTest, OutOfOrderTimesAreSpreadOneSecondApart) {
    std::vector<TickRecord> batch = {MakeTick(Day1(10, 0, 5), 10, 1), MakeTick(Day1(10, 0, 3), 10, 2),
                                     MakeTick(Day1(10, 0, 7), 10, 3), MakeTick(Day1(10, 0, 7), 10, 4),
                                     MakeTick(Day1(10, 0, 7), 10, 5)};
    ASSERT_TRUE(store_->AppendTicks(id_, batch));
    auto ticks = Ticks(id_);
    ASSERT_EQ(ticks.size(), 5u);
    EXPECT_EQ(ticks[0].time, Day1(10, 0, 5));
    EXPECT_EQ(ticks[1].time, Day1(10, 0, 6));
    EXPECT_EQ(ticks[2].time, Day1(10, 0, 7));
    EXPECT_EQ(ticks[3].time, Day1(10, 0, 8));
    EXPECT_EQ(ticks[4].time, Day1(10, 0, 9));
    // A later batch continues after the stored predecessor's time.
    ASSERT_TRUE(store_->AppendTicks(id_, std::vector<TickRecord>{MakeTick(Day1(10, 0, 8), 10, 6)}));
    EXPECT_EQ(Ticks(id_).back().time, Day1(10, 0, 10));
}

TEST_F(TickStoreTest, BatchWithAFallingVolumeMergesFromItsSmallestTick) {
    ASSERT_TRUE(store_->AppendTicks(id_, TickRun(Day1(10, 0), 1, 8)));  // volumes 1..8
    // In time order the volumes read 10, 5, 6: 5 is dropped (not above 10), 6 is kept
    // (above 5). 6 is stored already; 10 is new and belongs after 8.
    std::vector<TickRecord> batch = {MakeTick(Day1(10, 1), 10, 10), MakeTick(Day1(10, 1, 1), 10, 5),
                                     MakeTick(Day1(10, 1, 2), 11, 6)};
    ASSERT_TRUE(store_->AppendTicks(id_, batch));
    auto ticks = Ticks(id_);
    EXPECT_EQ(Volumes(ticks), (std::vector<float>{1, 2, 3, 4, 5, 6, 7, 8, 10}));
    ExpectStrictlyIncreasing(ticks);
    EXPECT_EQ(ticks[5].price, 10.0f);  // the stored 6 stays
}

TEST_F(TickStoreTest, BatchInsertedInTheMiddleRewritesFromItsBlock) {
    // 250 ticks of even volume fill blocks 0, 1 and half of 2.
    std::vector<TickRecord> even;
    for (int i = 1; i <= 250; ++i) even.push_back(MakeTick(Day1(9, 30) + 2 * i, 10, static_cast<float>(2 * i)));
    ASSERT_TRUE(store_->AppendTicks(id_, even));
    StockRecord r;
    store_->GetRecord(id_, r);
    ASSERT_EQ(r.tickBlockCount, 3);
    EXPECT_EQ(r.ticksInLastBlock, 50);
    const int32_t firstBlock = r.tickBlocks[0];

    // Odd volumes 151..161 belong between stored ticks 75 and 80 (block 0).
    std::vector<TickRecord> odd;
    for (int v = 151; v <= 161; v += 2) odd.push_back(MakeTick(Day1(9, 30) + v, 10.5f, static_cast<float>(v)));
    ASSERT_TRUE(store_->AppendTicks(id_, odd));
    auto ticks = Ticks(id_);
    ASSERT_EQ(ticks.size(), 256u);
    ExpectStrictlyIncreasing(ticks);
    EXPECT_EQ(ticks[75].volume, 151.0f);
    EXPECT_EQ(ticks[74].volume, 150.0f);
    EXPECT_EQ(ticks[76].volume, 152.0f);
    EXPECT_EQ(ticks[255].volume, 500.0f);
    store_->GetRecord(id_, r);
    EXPECT_EQ(r.tickBlockCount, 3);
    EXPECT_EQ(r.ticksInLastBlock, 56);
    EXPECT_EQ(r.tickBlocks[0], firstBlock);  // re-read blocks keep their numbers

    // The file holds what memory holds.
    auto reloaded = Reload();
    EXPECT_EQ(Volumes(Ticks(id_, reloaded.get())), Volumes(ticks));
}

TEST_F(TickStoreTest, TicksThatCannotBeStoredAreDropped) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    std::vector<TickRecord> batch = {
        MakeTick(Day1(10, 0), 10, 1),
        MakeTick(Day1(10, 0, 1), 0, 2),          // no price
        MakeTick(Day1(10, 0, 2), nan, 3),
        MakeTick(Day1(10, 0, 3), 10, nan),
        MakeTick(StoreTimeFromUnix(50), 10, 5),  // unset time
        MakeTick(Day1(10, 0, 5), 10, 7),
        MakeTick(Day1(15, 0, 1), 10, 8),         // later than the snapshot
    };
    ASSERT_TRUE(store_->AppendTicks(id_, batch));
    EXPECT_EQ(Volumes(Ticks(id_)), (std::vector<float>{1, 7}));
    // A batch of nothing storable succeeds without writing.
    EXPECT_TRUE(store_->AppendTicks(id_, std::vector<TickRecord>{MakeTick(Day1(16, 0), 10, 9)}));
    EXPECT_TRUE(store_->AppendTicks(id_, std::span<const TickRecord>{}));
    EXPECT_EQ(store_->TickCount(id_), 2);
}

TEST_F(TickStoreTest, WithoutVolumeTodayTicksAreOrderedByTime) {
    QuoteUpdate q = MakeQuote(Sh("600001"), Day1(9, 28), 10, 0);
    store_->UpdateQuote(q);
    std::vector<TickRecord> batch = {MakeTick(Day1(9, 25), 10, 0), MakeTick(Day1(9, 26), 10.1f, 0),
                                     MakeTick(Day1(9, 27), 10.2f, 0)};
    ASSERT_TRUE(store_->AppendTicks(Sh("600001"), batch));
    ASSERT_TRUE(store_->AppendTicks(Sh("600001"), batch));  // re-sent
    auto ticks = Ticks(Sh("600001"));
    ASSERT_EQ(ticks.size(), 3u);
    EXPECT_EQ(ticks[2].price, 10.2f);
    ASSERT_TRUE(store_->AppendTicks(Sh("600001"), std::vector<TickRecord>{MakeTick(Day1(9, 28), 10.3f, 0)}));
    EXPECT_EQ(Ticks(Sh("600001")).size(), 4u);
}

TEST_F(TickStoreTest, Tick4801IsRefused) {
    for (int batch = 0; batch < 48; ++batch)
        ASSERT_TRUE(store_->AppendTicks(id_, TickRun(Day1(9, 30) + 100 * batch, 1.0f + 100 * batch, 100))) << batch;
    EXPECT_EQ(store_->TickCount(id_), 4800);
    EXPECT_FALSE(store_->AppendTicks(id_, std::vector<TickRecord>{MakeTick(Day1(14, 0), 10, 5000)}));
    EXPECT_EQ(store_->TickCount(id_), 4800);
    auto ticks = Ticks(id_);
    ASSERT_EQ(ticks.size(), 4800u);
    EXPECT_EQ(ticks.back().volume, 4800.0f);

    // One batch of 4801 stores the first 4800 and reports the refusal.
    Quote(Sh("600002"), Day1(15, 0), 10, 100000);
    EXPECT_FALSE(store_->AppendTicks(Sh("600002"), TickRun(Day1(9, 30), 1, 4801)));
    EXPECT_EQ(store_->TickCount(Sh("600002")), 4800);
    StockRecord r;
    store_->GetRecord(Sh("600002"), r);
    EXPECT_EQ(r.tickBlockCount, 48);
    EXPECT_EQ(r.ticksInLastBlock, 100);
}

TEST_F(TickStoreTest, SecuritiesShareTheMarketsBlocks) {
    Quote(Sh("600001"), Day1(15, 0), 10, 100000);
    for (int round = 0; round < 3; ++round) {
        ASSERT_TRUE(store_->AppendTicks(id_, TickRun(Day1(10, 0) + 100 * round, 1.0f + 100 * round, 100)));
        ASSERT_TRUE(store_->AppendTicks(Sh("600001"), TickRun(Day1(11, 0) + 100 * round, 1000.0f + 100 * round, 100, 20)));
    }
    auto a = Ticks(id_);
    auto b = Ticks(Sh("600001"));
    ASSERT_EQ(a.size(), 300u);
    ASSERT_EQ(b.size(), 300u);
    EXPECT_EQ(a[250].price, 10.0f);
    EXPECT_EQ(b[250].price, 20.0f);
    EXPECT_EQ(b[250].volume, 1250.0f);
    StockRecord ra, rb;
    store_->GetRecord(id_, ra);
    store_->GetRecord(Sh("600001"), rb);
    EXPECT_EQ(ra.tickBlocks[1], 2);
    EXPECT_EQ(rb.tickBlocks[1], 3);
}

TEST_F(TickStoreTest, TicksOfASecurityAddedTodaySurviveACrash) {
    // Added after the file was written: the file must learn the new record count.
    Quote(Sz("000001"), Day1(15, 0), 10, 100000);
    Quote(Sz("000002"), Day1(15, 0), 10, 100000);
    ASSERT_TRUE(store_->AppendTicks(Sz("000002"), TickRun(Day1(10, 0), 1, 30)));
    auto after = Reload();  // no SaveAll: as after a crash
    EXPECT_EQ(after->TickCount(Sz("000002")), 30);
    EXPECT_EQ(Ticks(Sz("000002"), after.get()).back().volume, 30.0f);
    // Its quote was written with the record.
    EXPECT_EQ(after->GetQuote(Sz("000002"))->bar.close, 10.0f);
    EXPECT_EQ(after->MarketTradingDate(kMarketSZ), Day1(15, 0));
}

}  // namespace
}  // namespace tessaro
