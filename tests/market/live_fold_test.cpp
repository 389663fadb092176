#include <gtest/gtest.h>

#include "market/live_fold.h"
#include "market/periods.h"

namespace tessaro {
namespace {

constexpr uint32_t Hm(int h, int m, int s = 0) { return static_cast<uint32_t>(h * 3600 + m * 60 + s); }
const StoreTime kDay = MakeStoreTime(2024, 3, 5);

// A tick in the folding form: price in close, the tick's own volume in the trade data.
void AddTick(Series& ticks, StoreTime t, float price, float volume, int8_t direction = 0) {
    KLineRecord bar;
    bar.time = t;
    bar.open = bar.high = bar.low = bar.close = price;
    size_t at = ticks.push(bar);
    ticks.trades[at].volume = volume;
    ticks.trades[at].amount = volume * price * 100;
    ticks.trades[at].direction = direction;
}

TEST(LiveFoldTest, OneMinuteBarsTakeTheMinutesOfTheirLabels) {
    Series s;
    s.period = kPeriodMin1;
    s.quote.capital.circulating = 5000;
    Series ticks;
    AddTick(ticks, kDay + Hm(9, 30), 10.1f, 10, 1);
    AddTick(ticks, kDay + Hm(9, 31), 10.3f, 20, -1);
    AddTick(ticks, kDay + Hm(9, 34), 10.2f, 5, 1);
    AppendTicksToSeries(s, ticks, 10.0f, 10.05f);
    ASSERT_EQ(s.size(), 4u);  // 09:31, 09:32 and 09:33 flat, 09:34
    EXPECT_EQ(s.bars[0].time, kDay + Hm(9, 31));
    // First bar: opens at the day's open, widened to the previous close it started at.
    EXPECT_FLOAT_EQ(s.bars[0].open, 10.05f);
    EXPECT_FLOAT_EQ(s.bars[0].low, 10.0f);
    EXPECT_FLOAT_EQ(s.bars[0].high, 10.3f);
    EXPECT_FLOAT_EQ(s.bars[0].close, 10.3f);
    EXPECT_FLOAT_EQ(s.bars[0].volume, 30.0f);
    EXPECT_FLOAT_EQ(s.trades[0].buyVolume, 10.0f);
    EXPECT_FLOAT_EQ(s.trades[0].sellVolume, 20.0f);
    EXPECT_FLOAT_EQ(s.capital[0].circulating, 5000.0f);
    // Empty slots are flat at the previous close.
    EXPECT_EQ(s.bars[1].time, kDay + Hm(9, 32));
    EXPECT_FLOAT_EQ(s.bars[1].open, 10.3f);
    EXPECT_FLOAT_EQ(s.bars[1].high, 10.3f);
    EXPECT_FLOAT_EQ(s.bars[1].volume, 0.0f);
    EXPECT_EQ(s.bars[3].time, kDay + Hm(9, 34));
    EXPECT_FLOAT_EQ(s.bars[3].open, 10.3f);
    EXPECT_FLOAT_EQ(s.bars[3].low, 10.2f);
    EXPECT_FLOAT_EQ(s.bars[3].close, 10.2f);

    // A later call continues in the last bar's slot.
    Series more;
    AddTick(more, kDay + Hm(9, 34, 30), 10.4f, 7);
    AddTick(more, kDay + Hm(9, 20), 10.0f, 1);  // late: stays in the current bar
    AppendTicksToSeries(s, more, 10.0f, 10.05f);
    ASSERT_EQ(s.size(), 4u);
    EXPECT_FLOAT_EQ(s.bars[3].high, 10.4f);
    EXPECT_FLOAT_EQ(s.bars[3].volume, 13.0f);
}

TEST(LiveFoldTest, LunchBreakAndAfternoonLabels) {
    Series s;
    s.period = kPeriodMin1;
    Series ticks;
    AddTick(ticks, kDay + Hm(11, 29), 10.0f, 1);
    AddTick(ticks, kDay + Hm(13, 0), 10.2f, 1);
    AddTick(ticks, kDay + Hm(13, 1), 10.3f, 1);
    AppendTicksToSeries(s, ticks, 9.9f, 9.9f);
    ASSERT_EQ(s.size(), 3u);  // 11:29 is the bar labelled 11:29; then 11:30 flat; then 13:01
    EXPECT_EQ(s.bars[0].time, kDay + Hm(11, 29));
    EXPECT_EQ(s.bars[1].time, kDay + Hm(11, 30));
    EXPECT_EQ(s.bars[2].time, kDay + Hm(13, 1));
    EXPECT_FLOAT_EQ(s.bars[2].volume, 2.0f);
    EXPECT_FLOAT_EQ(s.bars[2].close, 10.3f);
}

TEST(LiveFoldTest, FiveMinuteAndTimeSharingWidths) {
    Series five;
    five.period = kPeriodMin5;
    Series ticks;
    AddTick(ticks, kDay + Hm(9, 30), 10.0f, 1);
    AddTick(ticks, kDay + Hm(10, 0), 10.5f, 2);
    AddTick(ticks, kDay + Hm(10, 1), 10.6f, 3);
    AppendTicksToSeries(five, ticks, 10.0f, 10.0f);
    // 09:35, flat 09:40 .. 09:55, 10:00, 10:05
    ASSERT_EQ(five.size(), 7u);
    EXPECT_EQ(five.bars[5].time, kDay + Hm(10, 0));
    EXPECT_FLOAT_EQ(five.bars[5].volume, 2.0f);
    EXPECT_EQ(five.bars[6].time, kDay + Hm(10, 5));

    Series time;
    time.period = kPeriodTime;
    AppendTicksToSeries(time, ticks, 10.0f, 10.0f);
    EXPECT_EQ(time.bars[0].time, kDay + Hm(9, 30));
    EXPECT_EQ(time.bars.back().time, kDay + Hm(10, 1));
    EXPECT_EQ(time.size(), 32u);
}

TEST(LiveFoldTest, MissingPreviousCloseOpensAtTheFirstTrade) {
    Series s;
    s.period = kPeriodMin1;
    Series ticks;
    AddTick(ticks, kDay + Hm(9, 31), 5.5f, 1);
    AppendTicksToSeries(s, ticks, 0.0f, 0.0f);
    ASSERT_EQ(s.size(), 1u);
    EXPECT_FLOAT_EQ(s.bars[0].low, 5.5f);
    EXPECT_FLOAT_EQ(s.bars[0].open, 5.5f);
}

TEST(LiveFoldTest, QuotesIntoDayAndWeekSeries) {
    Series week;
    week.period = kPeriodWeek;
    KLineRecord mon;
    mon.time = MakeStoreTime(2024, 3, 4);
    mon.open = 10, mon.high = 11, mon.low = 9.5f, mon.close = 10.5f, mon.volume = 100, mon.amount = 1000;
    week.push(mon);

    QuoteSnapshot q;
    q.bar.time = MakeStoreTime(2024, 3, 5, 10, 0);
    q.bar.open = 10.4f, q.bar.high = 11.5f, q.bar.low = 10.2f, q.bar.close = 11.2f, q.bar.volume = 40, q.bar.amount = 450;
    q.lastTrade.volume = 3, q.lastTrade.amount = 33, q.lastTrade.direction = 1;
    AppendTicksToSeries(week, TickFromSnapshot(q), 0, 0);
    ASSERT_EQ(week.size(), 1u);  // Tuesday merges into the week
    EXPECT_FLOAT_EQ(week.bars[0].high, 11.5f);
    EXPECT_FLOAT_EQ(week.bars[0].low, 9.5f);
    EXPECT_FLOAT_EQ(week.bars[0].close, 11.2f);
    EXPECT_FLOAT_EQ(week.bars[0].volume, 140.0f);  // a new day adds its cumulative volume
    EXPECT_EQ(week.bars[0].time, q.bar.time);
    // The next quote of the same day adds only its trade.
    q.bar.close = 11.3f, q.bar.time += 60;
    AppendTicksToSeries(week, TickFromSnapshot(q), 0, 0);
    EXPECT_FLOAT_EQ(week.bars[0].volume, 143.0f);
    EXPECT_FLOAT_EQ(week.trades[0].buyVolume, 6.0f);
    // An older quote is ignored; the next Monday opens a new week bar.
    QuoteSnapshot old = q;
    old.bar.time = MakeStoreTime(2024, 2, 28, 10, 0);
    AppendTicksToSeries(week, TickFromSnapshot(old), 0, 0);
    EXPECT_EQ(week.size(), 1u);
    q.bar.time = MakeStoreTime(2024, 3, 11, 9, 35);
    AppendTicksToSeries(week, TickFromSnapshot(q), 0, 0);
    ASSERT_EQ(week.size(), 2u);
    EXPECT_FLOAT_EQ(week.bars[1].open, 10.4f);
    EXPECT_FLOAT_EQ(week.bars[1].volume, 40.0f);
}

TEST(LiveFoldTest, MultiDayStartsANewBarOnlyWhenTheLastIsFull) {
    Series multi;
    multi.period = kPeriodMultiDay;
    multi.multiDay = 2;
    QuoteSnapshot q;
    q.bar.open = q.bar.high = q.bar.low = q.bar.close = 10;
    q.bar.volume = 5;
    for (int d = 0; d < 5; ++d) {
        q.bar.time = MakeStoreTime(2024, 3, 4 + d, 10, 0);
        AppendTicksToSeries(multi, TickFromSnapshot(q), 0, 0);
    }
    ASSERT_EQ(multi.size(), 3u);
    EXPECT_FLOAT_EQ(multi.bars[0].volume, 10.0f);
    EXPECT_EQ(multi.lastBarDays, 1);
}

TEST(LiveFoldTest, PriceLadderSumsPerPriceHighestFirst) {
    Series ticks;
    AddTick(ticks, kDay + Hm(9, 30), 10.0f, 5, 1);
    AddTick(ticks, kDay + Hm(9, 31), 10.2f, 3, -1);
    AddTick(ticks, kDay + Hm(9, 32), 10.000001f, 2, -1);
    AddTick(ticks, kDay + Hm(9, 33), 9.9f, 1, 1);
    AddTick(ticks, kDay + Hm(9, 34), 10.1f, 4, 1);
    AddTick(ticks, kDay + Hm(9, 35), 0.0f, 100, 1);  // no price: ignored
    Series ladder = BuildPriceLadder(ticks);
    ASSERT_EQ(ladder.size(), 4u);
    EXPECT_FLOAT_EQ(ladder.bars[0].close, 10.2f);
    EXPECT_FLOAT_EQ(ladder.bars[1].close, 10.1f);
    EXPECT_FLOAT_EQ(ladder.bars[2].close, 10.0f);
    EXPECT_FLOAT_EQ(ladder.trades[2].volume, 7.0f);
    EXPECT_FLOAT_EQ(ladder.trades[2].buyVolume, 5.0f);
    EXPECT_FLOAT_EQ(ladder.trades[2].sellVolume, 2.0f);
    EXPECT_FLOAT_EQ(ladder.bars[3].close, 9.9f);
    EXPECT_EQ(ladder.orderBooks.size(), ladder.size());

    QuoteSnapshot q;
    q.bar.close = 10.15f;
    q.lastTrade.volume = 9;
    AddToPriceLadder(ladder, q);
    ASSERT_EQ(ladder.size(), 5u);
    EXPECT_FLOAT_EQ(ladder.bars[1].close, 10.15f);
    EXPECT_FLOAT_EQ(ladder.trades[1].volume, 9.0f);
    EXPECT_EQ(ladder.capital.size(), 5u);
}

}  // namespace
}  // namespace tessaro
