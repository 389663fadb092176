#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>

#include "market/series_loader.h"

namespace tessaro {
namespace {

constexpr uint32_t Hm(int h, int m) { return static_cast<uint32_t>(h * 3600 + m * 60); }

KLineRecord Bar(StoreTime t, float o, float h, float l, float c, float v, uint16_t c1 = 0, uint16_t c2 = 0) {
    KLineRecord b;
    b.time = t;
    b.open = o, b.high = h, b.low = l, b.close = c, b.volume = v, b.amount = v * c * 100;
    b.count1 = c1, b.count2 = c2;
    return b;
}

// An in-memory source: what the store and the history files would give.
class FakeSource : public SeriesSource {
public:
    struct Entry {
        SecurityState state;
        std::map<Period, Series> history;
        Series minutes, ticks;
        std::vector<ExtraDayRecord> extra;
        bool hasExtras = false;
        MinuteExtraTable extras{};
    };
    std::map<std::string, Entry> entries;
    int multiDay = 5;

    Entry& Add(MarketCode m, const std::string& code, uint16_t cls) {
        Entry& e = entries[Key(MakeSecurityId(m, code))];
        e.state.entry.id = MakeSecurityId(m, code);
        e.state.entry.securityClass = cls;
        return e;
    }
    static std::string Key(const SecurityId& id) { return SecurityText(id); }
    const Entry* Get(const SecurityId& id) const {
        auto it = entries.find(Key(id));
        return it == entries.end() ? nullptr : &it->second;
    }

    bool Security(const SecurityId& id, SecurityState& out, bool withExRights) const override {
        const Entry* e = Get(id);
        if (!e) return false;
        out = e->state;
        if (!withExRights) out.exRights.clear();
        return true;
    }
    void TodayTicks(const SecurityId& id, Series& out) const override {
        if (const Entry* e = Get(id)) out = e->ticks;
    }
    void TodayMinutes(const SecurityId& id, Series& out) const override {
        if (const Entry* e = Get(id)) out = e->minutes;
    }
    bool History(const SecurityId& id, Period stored, Series& out, std::span<const CapitalChange>) const override {
        out = Series{};
        out.period = stored;
        const Entry* e = Get(id);
        if (!e) return true;
        auto it = e->history.find(stored);
        if (it != e->history.end()) {
            out = it->second;
            for (size_t i = 0; i < out.size(); ++i) {
                out.trades[i].volume = out.bars[i].volume;
                out.trades[i].amount = out.bars[i].amount;
            }
        }
        return true;
    }
    std::vector<ExtraDayRecord> Extra(const SecurityId& id) const override {
        const Entry* e = Get(id);
        return e ? e->extra : std::vector<ExtraDayRecord>{};
    }
    bool MinuteExtras(const SecurityId& id, MinuteExtraTable& out) const override {
        const Entry* e = Get(id);
        if (!e || !e->hasExtras) return false;
        out = e->extras;
        return true;
    }
    int MultiDay() const override { return multiDay; }
};

// Trading days from `first` (weekdays only).
std::vector<StoreTime> TradingDays(StoreTime first, int n) {
    std::vector<StoreTime> days;
    for (StoreTime d = first; static_cast<int>(days.size()) < n; d += 86400) {
        int w = WeekdayOfDay(static_cast<int32_t>(StoreDay(d)));
        if (w != 0 && w != 6) days.push_back(d);
    }
    return days;
}

Series DaySeries(const std::vector<StoreTime>& days, uint16_t c1 = 0, uint16_t c2 = 0) {
    Series s;
    s.period = kPeriodDay;
    for (size_t i = 0; i < days.size(); ++i) {
        float p = 10.0f + static_cast<float>(i % 7) * 0.5f;
        s.push(Bar(days[i], p, p + 1, p - 1, p + 0.25f, 100.0f + static_cast<float>(i), c1, c2));
    }
    return s;
}

const SecurityId kStock = MakeSecurityId(kMarketSH, "600000");

TEST(SeriesLoaderTest, WeekAndMonthBarsAreSumsHighsAndLowsOfTheirDays) {
    FakeSource src;
    auto& e = src.Add(kMarketSH, "600000", kClassAShare);
    auto days = TradingDays(MakeStoreTime(2024, 1, 1), 60);
    e.history[kPeriodDay] = DaySeries(days);
    Series week;
    ASSERT_TRUE(LoadSeries(src, kStock, kPeriodWeek, week, 0));
    Series day;
    ASSERT_TRUE(LoadSeries(src, kStock, kPeriodDay, day, 0));
    ASSERT_EQ(day.size(), 60u);
    // Independent oracle: bucket the days by Monday-based week.
    std::map<int64_t, std::vector<size_t>> buckets;
    for (size_t i = 0; i < day.size(); ++i) buckets[WeekNumberOfDay(StoreDay(day.bars[i].time))].push_back(i);
    ASSERT_EQ(week.size(), buckets.size());
    size_t w = 0;
    for (const auto& [number, idx] : buckets) {
        const KLineRecord& b = week.bars[w++];
        float hi = 0, lo = 1e9f, vol = 0;
        for (size_t i : idx) {
            hi = std::max(hi, day.bars[i].high);
            lo = std::min(lo, day.bars[i].low);
            vol += day.bars[i].volume;
        }
        EXPECT_FLOAT_EQ(b.open, day.bars[idx.front()].open);
        EXPECT_FLOAT_EQ(b.close, day.bars[idx.back()].close);
        EXPECT_EQ(b.time, day.bars[idx.back()].time);
        EXPECT_FLOAT_EQ(b.high, hi);
        EXPECT_FLOAT_EQ(b.low, lo);
        EXPECT_FLOAT_EQ(b.volume, vol);
        EXPECT_FLOAT_EQ(week.trades[w - 1].volume, vol);
    }
    Series month;
    ASSERT_TRUE(LoadSeries(src, kStock, kPeriodMonth, month, 0));
    ASSERT_EQ(month.size(), 3u);  // January .. March 2024
    EXPECT_EQ(SplitStoreTime(month.bars[0].time).date.month, 1);
    Series quarter, year;
    ASSERT_TRUE(LoadSeries(src, kStock, kPeriodQuarter, quarter, 0));
    ASSERT_TRUE(LoadSeries(src, kStock, kPeriodYear, year, 0));
    EXPECT_EQ(quarter.size(), 1u);
    EXPECT_EQ(year.size(), 1u);
}

TEST(SeriesLoaderTest, FridayAndMondayStartDifferentWeeksAndTodayMergesIntoItsMonth) {
    FakeSource src;
    auto& e = src.Add(kMarketSH, "600000", kClassAShare);
    Series days;
    days.period = kPeriodDay;
    days.push(Bar(MakeStoreTime(2024, 3, 28), 10, 11, 9, 10, 100));  // Thursday
    days.push(Bar(MakeStoreTime(2024, 3, 29), 10, 12, 9, 11, 100));  // Friday
    days.push(Bar(MakeStoreTime(2024, 4, 1), 11, 11, 10, 10, 100));  // Monday
    days.push(Bar(MakeStoreTime(2024, 4, 2), 10, 10, 8, 9, 50));     // today, also on file
    e.history[kPeriodDay] = days;
    e.state.quote.bar = Bar(MakeStoreTime(2024, 4, 2, 14, 0), 10, 10.5f, 7.5f, 8, 70);
    e.state.quote.capital.circulating = 12345;
    e.state.quote.book.bidPrice[0] = 7.99f;

    Series week;
    ASSERT_TRUE(LoadSeries(src, kStock, kPeriodWeek, week, 0));
    ASSERT_EQ(week.size(), 2u);
    EXPECT_FLOAT_EQ(week.bars[0].high, 12.0f);
    EXPECT_FLOAT_EQ(week.bars[1].open, 11.0f);
    EXPECT_FLOAT_EQ(week.bars[1].low, 7.5f);  // today's snapshot replaces the stored bar of today
    EXPECT_FLOAT_EQ(week.bars[1].volume, 170.0f);
    EXPECT_FLOAT_EQ(week.bars[1].close, 8.0f);
    EXPECT_FLOAT_EQ(week.capital[1].circulating, 12345.0f);
    EXPECT_FLOAT_EQ(week.orderBooks[1].bidPrice[0], 7.99f);

    Series month;
    ASSERT_TRUE(LoadSeries(src, kStock, kPeriodMonth, month, 0));
    ASSERT_EQ(month.size(), 2u);
    EXPECT_FLOAT_EQ(month.bars[1].volume, 170.0f);
    EXPECT_EQ(month.bars[1].time, MakeStoreTime(2024, 4, 2, 14, 0));

    // A snapshot with a zero price is not appended.
    e.state.quote.bar.low = 0;
    Series day;
    ASSERT_TRUE(LoadSeries(src, kStock, kPeriodDay, day, 0));
    ASSERT_EQ(day.size(), 3u);
    EXPECT_EQ(day.bars.back().time, MakeStoreTime(2024, 4, 1));
}

TEST(SeriesLoaderTest, MultiDayWithFiveDaysOverTwelveDaysGivesThreeBars) {
    FakeSource src;
    auto& e = src.Add(kMarketSH, "600000", kClassAShare);
    e.history[kPeriodDay] = DaySeries(TradingDays(MakeStoreTime(2024, 1, 1), 12));
    Series multi;
    ASSERT_TRUE(LoadSeries(src, kStock, kPeriodMultiDay, multi, 0));
    ASSERT_EQ(multi.size(), 3u);
    EXPECT_EQ(multi.multiDay, 5);
    EXPECT_EQ(multi.lastBarDays, 2);
    EXPECT_FLOAT_EQ(multi.bars[0].volume, 100 + 101 + 102 + 103 + 104);
    src.multiDay = 0;  // a broken setting counts as one day per bar
    ASSERT_TRUE(LoadSeries(src, kStock, kPeriodMultiDay, multi, 0));
    EXPECT_EQ(multi.size(), 12u);
}

TEST(SeriesLoaderTest, CalendarGroupsMatchBarDistanceAcrossYears) {
    // Two and a half years of weekdays from a Thursday in December: every week, month,
    // quarter and year bar starts exactly where BarDistance to its first day turns positive.
    Series days = DaySeries(TradingDays(MakeStoreTime(2022, 12, 1), 650));
    for (Period p : {kPeriodWeek, kPeriodMonth, kPeriodQuarter, kPeriodYear}) {
        Series out;
        GroupDayBars(days, p, 5, false, out);
        std::vector<size_t> starts;
        for (size_t i = 0; i < days.size(); ++i)
            if (starts.empty() || BarDistance(days.bars[i].time, days.bars[starts.back()].time, p) > 0)
                starts.push_back(i);
        ASSERT_EQ(out.size(), starts.size()) << p;
        for (size_t k = 0; k < starts.size(); ++k) {
            size_t last = (k + 1 < starts.size() ? starts[k + 1] : days.size()) - 1;
            EXPECT_EQ(out.bars[k].time, days.bars[last].time) << p << " bar " << k;
            EXPECT_FLOAT_EQ(out.bars[k].open, days.bars[starts[k]].open) << p << " bar " << k;
        }
    }
    Series year;
    GroupDayBars(days, kPeriodYear, 5, false, year);
    EXPECT_EQ(year.size(), 4u);  // 2022 .. 2025
    Series quarter;
    GroupDayBars(days, kPeriodQuarter, 5, false, quarter);
    EXPECT_EQ(SplitStoreTime(quarter.bars[1].time).date.month, 3);  // Q1 2023 ends in March
}

TEST(SeriesLoaderTest, GroupedCountsSaturateAndBuyerShareIsWeighted) {
    auto days = TradingDays(MakeStoreTime(2024, 1, 1), 5);  // one week
    Series in = DaySeries(days, 40000, 0);
    // Buyer shares 80% on a heavy day, 20% on light days.
    for (size_t i = 0; i < in.size(); ++i) {
        in.bars[i].volume = i == 0 ? 400.0f : 100.0f;
        in.bars[i].count2 = i == 0 ? 80 : 20;
    }
    Series out;
    GroupDayBars(in, kPeriodWeek, 5, false, out);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out.bars[0].count1, 65535);  // 5 x 40000 does not wrap
    EXPECT_EQ(out.bars[0].count2, 50);     // (80*400 + 4*20*100) / 800
    GroupDayBars(in, kPeriodWeek, 5, true, out);  // an index sums its breadth
    EXPECT_EQ(out.bars[0].count2, 160);
    in.bars[0].count2 = 60000;
    in.bars[1].count2 = 60000;
    GroupDayBars(in, kPeriodWeek, 5, true, out);
    EXPECT_EQ(out.bars[0].count2, 65535);
}

TEST(SeriesLoaderTest, ExtraRecordWithoutABarDoesNotLoseOlderFigures) {
    auto days = TradingDays(MakeStoreTime(2024, 1, 1), 4);
    Series s = DaySeries(days);
    std::vector<ExtraDayRecord> extra(5);
    for (int i = 0; i < 4; ++i) {
        extra[i].day = days[i];
        extra[i].figures[0] = static_cast<uint8_t>(i + 1);
    }
    extra[4].day = days[3] + 86400;  // a newer day without a bar
    extra[4].figures[0] = 99;
    ApplyExtraDayRecords(s, extra);
    for (int i = 0; i < 4; ++i) {
        ExtraDayRecord got;
        std::memcpy(&got, s.capital[i].extra, sizeof got);
        EXPECT_EQ(got.day, days[i]) << i;
        EXPECT_EQ(got.figures[0], i + 1) << i;
    }
    // A record between two bars (a holiday) is passed over too.
    Series t = DaySeries(days);
    std::vector<ExtraDayRecord> gap = {extra[0], extra[1], ExtraDayRecord{}, extra[2]};
    gap[2].day = StartOfDay(days[2]) - 1;  // the day before days[2], which has no bar
    ApplyExtraDayRecords(t, gap);
    ExtraDayRecord first;
    std::memcpy(&first, t.capital[0].extra, sizeof first);
    EXPECT_EQ(first.figures[0], 1);
}

TEST(SeriesLoaderTest, FifteenAndSixtyMinuteBarsFromFiveMinuteFile) {
    FakeSource src;
    auto& e = src.Add(kMarketSH, "600000", kClassAShare);
    StoreTime d = MakeStoreTime(2024, 3, 4);
    Series five;
    five.period = kPeriodMin5;
    float p = 10;
    for (StoreTime day : {d, d + 86400}) {
        for (int slot = 0; slot < BarSlotCount(kPeriodMin5); ++slot) {
            p += (slot % 3 == 0) ? 0.05f : -0.02f;
            five.push(Bar(day + BarSlotLabel(kPeriodMin5, slot), p, p + 0.1f, p - 0.1f, p, 10));
        }
    }
    e.history[kPeriodMin5] = five;
    Series m15, m60;
    ASSERT_TRUE(LoadSeries(src, kStock, kPeriodMin15, m15, 0));
    ASSERT_TRUE(LoadSeries(src, kStock, kPeriodMin60, m60, 0));
    ASSERT_EQ(m15.size(), 32u);
    ASSERT_EQ(m60.size(), 8u);
    EXPECT_EQ(m15.bars[0].time, d + Hm(9, 45));
    EXPECT_FLOAT_EQ(m15.bars[0].volume, 30.0f);
    EXPECT_FLOAT_EQ(m15.bars[0].open, five.bars[0].open);
    EXPECT_FLOAT_EQ(m15.bars[0].close, five.bars[2].close);
    EXPECT_EQ(m60.bars[0].time, d + Hm(10, 30));
    EXPECT_EQ(m60.bars[1].time, d + Hm(11, 30));
    EXPECT_EQ(m60.bars[2].time, d + Hm(14, 0));
    EXPECT_EQ(m60.bars[3].time, d + Hm(15, 0));
    EXPECT_EQ(m60.bars[4].time, d + 86400 + Hm(10, 30));
    EXPECT_FLOAT_EQ(m60.bars[3].volume, 120.0f);
    // A missing five-minute bar does not shift the later groups.
    five.bars.erase(five.bars.begin() + 1);
    five.orderBooks.pop_back(), five.trades.pop_back(), five.capital.pop_back();
    Series g;
    GroupIntradayBars(five, kPeriodMin15, false, g);
    ASSERT_EQ(g.size(), 32u);
    EXPECT_EQ(g.bars[1].time, d + Hm(10, 0));
    EXPECT_FLOAT_EQ(g.bars[0].volume, 20.0f);
}

TEST(SeriesLoaderTest, TodaysMinutesFoldIntoIntradayBars) {
    FakeSource src;
    auto& e = src.Add(kMarketSH, "600000", kClassAShare);
    StoreTime d = MakeStoreTime(2024, 3, 5);
    Series minutes;
    for (int m = 0; m < 10; ++m) {
        size_t at = minutes.push(Bar(d + Hm(9, 30) + 60 * m, 10, 10.2f, 9.9f, 10.1f, 5));
        minutes.trades[at].volume = 5;
    }
    e.minutes = minutes;
    e.state.quote.bar = Bar(d + Hm(9, 40), 10, 10.2f, 9.9f, 10.1f, 50);
    e.state.quote.prevClose = 9.95f;
    e.history[kPeriodMin5].push(Bar(d - 86400 + Hm(15, 0), 9, 9, 9, 9.95f, 1));
    e.history[kPeriodMin5].push(Bar(d + Hm(9, 35), 1, 1, 1, 1, 1));  // today's, replaced by live data
    Series five;
    ASSERT_TRUE(LoadSeries(src, kStock, kPeriodMin5, five, 0));
    ASSERT_EQ(five.size(), 3u);
    EXPECT_EQ(five.bars[1].time, d + Hm(9, 35));
    EXPECT_FLOAT_EQ(five.bars[1].volume, 30.0f);  // the minutes 09:30 .. 09:35
    EXPECT_FLOAT_EQ(five.bars[1].open, 10.0f);
    EXPECT_EQ(five.bars[2].time, d + Hm(9, 40));
    EXPECT_FLOAT_EQ(five.bars[2].volume, 20.0f);  // 09:36 .. 09:39
    EXPECT_FLOAT_EQ(five.bars[2].high, 10.2f);    // a minute's own range widens its bar
}

TEST(SeriesLoaderTest, TimeSharingDeliversTheDaysAskedForWithTodaysBreadthOnly) {
    FakeSource src;
    auto& e = src.Add(kMarketSH, "000001", kClassIndex);
    StoreTime today = MakeStoreTime(2024, 3, 6);
    auto days = TradingDays(MakeStoreTime(2024, 3, 1), 4);  // Fri, Mon, Tue, Wed (today)
    ASSERT_EQ(days.back(), today);
    Series min1;
    for (StoreTime day : days)
        for (int slot = 0; slot < 240; ++slot)
            min1.push(Bar(day + BarSlotLabel(kPeriodMin1, slot), 10, 10, 10, 10, 1, 7, 8));
    e.history[kPeriodMin1] = min1;  // the file already holds part of today
    Series minutes;
    for (int m = 0; m < 30; ++m) {
        size_t at = minutes.push(Bar(today + Hm(9, 30) + 60 * m, 10, 10, 10, 10, 1));
        minutes.trades[at].volume = 1;
    }
    e.minutes = minutes;
    e.state.quote.bar = Bar(today + Hm(9, 59), 10, 10, 10, 10, 30);
    e.hasExtras = true;
    e.extras[5].time = 1;
    e.extras[5].figures[3] = 300, e.extras[5].figures[4] = 10, e.extras[5].figures[5] = 200;
    e.extras[20].time = 1;  // no breadth: the held figure stays

    const SecurityId index = MakeSecurityId(kMarketSH, "000001");
    int want = 3;
    Series s;
    ASSERT_TRUE(LoadSeries(src, index, kPeriodTime, s, kExRightsBackward, &want));
    EXPECT_EQ(want, 3);
    ASSERT_EQ(s.size(), 240u * 2 + 30u);
    EXPECT_EQ(StoreDay(s.bars.front().time), StoreDay(days[1]));
    // Earlier days keep the counts from the file.
    EXPECT_EQ(s.bars[0].count1, 7);
    EXPECT_EQ(s.bars[479].count2, 8);
    // Today: nothing held before slot 5, then the figure of slot 5.
    size_t t0 = 480;
    EXPECT_EQ(s.bars[t0].time, today + Hm(9, 30));
    EXPECT_EQ(s.bars[t0].count1, 0);
    EXPECT_EQ(s.bars[t0 + 5].count1, 300);
    EXPECT_EQ(s.bars[t0 + 5].count2, 200);
    EXPECT_EQ(s.bars[t0 + 25].count1, 300);

    // One day only: no history is read.
    want = 1;
    ASSERT_TRUE(LoadSeries(src, index, kPeriodTime, s, 0, &want));
    EXPECT_EQ(want, 1);
    EXPECT_EQ(s.size(), 30u);
    // More days than exist: what there is.
    want = 10;
    ASSERT_TRUE(LoadSeries(src, index, kPeriodTime, s, 0, &want));
    EXPECT_EQ(want, 4);
}

TEST(SeriesLoaderTest, ForwardAndBackwardAdjustmentOfTheLoadedSeries) {
    FakeSource src;
    auto& e = src.Add(kMarketSH, "600000", kClassAShare);
    auto days = TradingDays(MakeStoreTime(2024, 1, 1), 10);
    Series s;
    for (size_t i = 0; i < days.size(); ++i) s.push(Bar(days[i], 20, 20, 20, 20, 10));
    e.history[kPeriodDay] = s;
    ExRightsRecord bonus;
    bonus.exDate = static_cast<uint32_t>(UnixFromStoreTime(days[5]));
    bonus.bonusShares = 1.0f;
    e.state.exRights = {bonus};
    e.state.quote.bar = Bar(days[9] + Hm(10, 0), 20, 20, 20, 20, 10);

    Series fwd, back, none;
    ASSERT_TRUE(LoadSeries(src, kStock, kPeriodDay, fwd, 0));
    ASSERT_TRUE(LoadSeries(src, kStock, kPeriodDay, back, kExRightsBackward));
    ASSERT_TRUE(LoadSeries(src, kStock, kPeriodDay, none, kExRightsNone));
    ASSERT_EQ(fwd.size(), 10u);
    EXPECT_FLOAT_EQ(fwd.bars[4].close, 10.0f);
    EXPECT_FLOAT_EQ(fwd.bars[5].close, 20.0f);
    EXPECT_FLOAT_EQ(fwd.bars[9].close, 20.0f);  // today's bar
    EXPECT_FLOAT_EQ(back.bars[4].close, 20.0f);
    EXPECT_FLOAT_EQ(back.bars[9].close, 40.0f);
    EXPECT_FLOAT_EQ(none.bars[4].close, 20.0f);
    EXPECT_TRUE(none.exRights.empty());
    EXPECT_EQ(fwd.exRights.size(), 1u);
    // The week containing the ex-date mixes adjusted days correctly.
    Series week;
    ASSERT_TRUE(LoadSeries(src, kStock, kPeriodWeek, week, 0));
    EXPECT_FLOAT_EQ(week.bars[0].open, 10.0f);
}

TEST(SeriesLoaderTest, BarsOnlyLoadGivesTheSameBarsWithoutTheOtherData) {
    // Events before, on and after today's day (the last one takes no part); history holding
    // bars of today's day that today's quote replaces; a stale snapshot; periods that ignore the flag.
    FakeSource src;
    auto& e = src.Add(kMarketSH, "600000", kClassAShare);
    auto days = TradingDays(MakeStoreTime(2024, 1, 1), 12);
    e.history[kPeriodDay] = DaySeries(days);
    ExRightsRecord a, b, c;
    a.exDate = static_cast<uint32_t>(UnixFromStoreTime(days[3]));
    a.bonusShares = 0.5f;
    a.cashDividend = 0.2f;
    b.exDate = static_cast<uint32_t>(UnixFromStoreTime(days[11]));
    b.rightsShares = 0.3f;
    b.rightsPrice = 4.0f;
    c.exDate = static_cast<uint32_t>(UnixFromStoreTime(days[11] + 5 * 86400));
    c.bonusShares = 1.0f;
    e.state.exRights = {a, b, c};
    e.extra = {ExtraDayRecord{}};
    for (StoreTime quoteTime : {days[11] + Hm(10, 0), days[5] + Hm(15, 0), StoreTime{0}}) {
        e.state.quote.bar = Bar(quoteTime, 12, 13, 11, 12.5f, 77);
        for (int flags : {0, kExRightsBackward, kExRightsNone}) {
            for (Period period : {kPeriodDay, kPeriodWeek}) {
                Series full, bars;
                ASSERT_TRUE(LoadSeries(src, kStock, period, full, flags));
                ASSERT_TRUE(LoadSeries(src, kStock, period, bars, flags | kLoadBarsOnly));
                ASSERT_EQ(bars.size(), full.size()) << flags << " " << quoteTime;
                for (size_t i = 0; i < full.size(); ++i) {
                    EXPECT_EQ(bars.bars[i].time, full.bars[i].time);
                    EXPECT_EQ(bars.bars[i].open, full.bars[i].open) << i << " flags " << flags;
                    EXPECT_EQ(bars.bars[i].close, full.bars[i].close) << i << " flags " << flags;
                    EXPECT_EQ(bars.bars[i].volume, full.bars[i].volume);
                }
                EXPECT_EQ(full.trades.size(), full.size());
                if (period == kPeriodDay) {
                    EXPECT_TRUE(bars.trades.empty() && bars.capital.empty() && bars.orderBooks.empty());
                } else {
                    EXPECT_EQ(bars.trades.size(), bars.size());  // only day series leave them out
                }
            }
        }
    }
}

TEST(SeriesLoaderTest, ExDateTodayFoldsLiveMinutesInTheTermsOfTheAdjustedHistory) {
    // A 10-for-10 bonus goes ex today: yesterday closed at 20, today trades near 10.
    FakeSource src;
    auto& e = src.Add(kMarketSH, "600000", kClassAShare);
    StoreTime d = MakeStoreTime(2024, 3, 5);
    Series yesterday;
    for (int slot = 0; slot < 240; ++slot)
        yesterday.push(Bar(d - 86400 + BarSlotLabel(kPeriodMin1, slot), 20, 20, 20, 20, 1));
    e.history[kPeriodMin1] = yesterday;
    Series minutes;
    for (int m = 0; m < 3; ++m) {
        size_t at = minutes.push(Bar(d + Hm(9, 30) + 60 * m, 10.2f, 10.3f, 10.1f, 10.2f, 5));
        minutes.trades[at].volume = 5;
    }
    e.minutes = minutes;
    e.state.quote.prevClose = 20;
    e.state.quote.bar = Bar(d + Hm(9, 33), 10.2f, 10.3f, 10.1f, 10.2f, 15);
    ExRightsRecord bonus;
    bonus.exDate = static_cast<uint32_t>(UnixFromStoreTime(d));
    bonus.bonusShares = 1.0f;
    e.state.exRights = {bonus};

    Series fwd;
    ASSERT_TRUE(LoadSeries(src, kStock, kPeriodMin1, fwd, 0));
    ASSERT_EQ(fwd.size(), 242u);  // 09:31 takes the minutes of 09:30 and 09:31, then 09:32
    EXPECT_FLOAT_EQ(fwd.bars[239].close, 10.0f);
    const KLineRecord& first = fwd.bars[240];
    EXPECT_EQ(first.time, d + Hm(9, 31));
    EXPECT_FLOAT_EQ(first.open, 10.2f);
    EXPECT_FLOAT_EQ(first.low, 10.0f);  // the adjusted previous close, not 20
    EXPECT_FLOAT_EQ(first.high, 10.3f);

    Series back;
    ASSERT_TRUE(LoadSeries(src, kStock, kPeriodMin1, back, kExRightsBackward));
    ASSERT_EQ(back.size(), 242u);
    EXPECT_FLOAT_EQ(back.bars[239].close, 20.0f);
    EXPECT_FLOAT_EQ(back.bars[240].open, 20.4f);
    EXPECT_FLOAT_EQ(back.bars[240].low, 20.0f);  // yesterday's close in yesterday's terms
    EXPECT_FLOAT_EQ(back.bars[240].high, 20.6f);
    EXPECT_FLOAT_EQ(back.bars[241].close, 20.4f);

    // Five-minute bars and the day bar agree on today's terms.
    Series five, day;
    ASSERT_TRUE(LoadSeries(src, kStock, kPeriodMin5, five, 0));
    ASSERT_TRUE(LoadSeries(src, kStock, kPeriodDay, day, kExRightsBackward));
    EXPECT_FLOAT_EQ(five.bars.back().high, 10.3f);
    ASSERT_EQ(day.size(), 1u);
    EXPECT_FLOAT_EQ(day.bars[0].close, 20.4f);
}

TEST(SeriesLoaderTest, StaleSnapshotIsNotPutAfterNewerHistory) {
    // The store still holds Monday's quote; the history was downloaded up to Wednesday.
    FakeSource src;
    auto& e = src.Add(kMarketSH, "600000", kClassAShare);
    auto days = TradingDays(MakeStoreTime(2024, 3, 4), 3);  // Mon, Tue, Wed
    e.history[kPeriodDay] = DaySeries(days);
    Series min1;
    for (StoreTime day : days) min1.push(Bar(day + Hm(15, 0), 10, 10, 10, 10, 1));
    e.history[kPeriodMin1] = min1;
    e.state.quote.bar = Bar(days[0] + Hm(15, 0), 9, 9, 9, 9, 999);
    Series minutes;
    size_t at = minutes.push(Bar(days[0] + Hm(14, 59), 9, 9, 9, 9, 999));
    minutes.trades[at].volume = 999;
    e.minutes = minutes;

    Series day;
    ASSERT_TRUE(LoadSeries(src, kStock, kPeriodDay, day, 0));
    ASSERT_EQ(day.size(), 3u);
    EXPECT_EQ(day.bars.back().time, days[2]);
    EXPECT_FLOAT_EQ(day.bars[0].volume, 100.0f);  // Monday's bar from the file, not the snapshot
    Series min;
    ASSERT_TRUE(LoadSeries(src, kStock, kPeriodMin1, min, 0));
    ASSERT_EQ(min.size(), 3u);
    EXPECT_EQ(min.bars.back().time, days[2] + Hm(15, 0));
    for (size_t i = 1; i < min.size(); ++i) EXPECT_LT(min.bars[i - 1].time, min.bars[i].time);
}

TEST(SeriesLoaderTest, DerivedSeriesFromTheCompositeIndex) {
    FakeSource src;
    const SecurityId d7 = MakeSecurityId(kMarketSystem, "999997");
    Series s;
    EXPECT_EQ(LoadSeries(src, d7, kPeriodDay, s, 0), 0);  // no composite index

    auto& e = src.Add(kMarketSystem, "999999", kClassIndex);
    auto days = TradingDays(MakeStoreTime(2024, 1, 1), 3);
    Series idx;
    idx.push(Bar(days[0], 1000, 1000, 1000, 1000, 1));
    idx.push(Bar(days[1], 2000, 2000, 2000, 2000, 1));
    idx.push(Bar(days[2], 3000, 3000, 3000, 3000, 1));
    idx.bars[0].amount = 1e10f, idx.bars[1].amount = 2e10f, idx.bars[2].amount = 1e10f;
    e.history[kPeriodDay] = idx;
    ASSERT_EQ(LoadSeries(src, d7, kPeriodDay, s, 0), 1);
    ASSERT_EQ(s.size(), 3u);
    // A: 1e10, 1.1e10, 1.09e10.
    EXPECT_NEAR(s.bars[0].close, (1000 * 10000 - 1e10 * 1e-7) * 1e-4, 1e-3);
    EXPECT_NEAR(s.bars[1].close, (2000 * 10000 - 1.1e10 * 1e-7) * 1e-4, 1e-3);
    EXPECT_NEAR(s.bars[2].open, (3000 * 10000 - 1.09e10 * 1e-7) * 1e-4, 1e-3);
    EXPECT_EQ(s.entry.id.codeText(), "999997");
    EXPECT_FLOAT_EQ(s.bars[2].amount, 1e10f);

    const SecurityId d8 = MakeSecurityId(kMarketSystem, "999998");
    ASSERT_EQ(LoadSeries(src, d8, kPeriodDay, s, 0), 1);
    EXPECT_NEAR(s.bars[1].high, 1.1e10 * 1e-7 * 2000 * 1e-4, 1e-3);
}

TEST(SeriesLoaderTest, ReusedSeriesEqualsAFreshLoad) {
    // Loading into one Series again and again (as screening does) gives what a fresh
    // Series gets: nothing of the previous load survives, header fields included.
    FakeSource src;
    auto& e = src.Add(kMarketSH, "600000", kClassAShare);
    auto days = TradingDays(MakeStoreTime(2024, 1, 1), 40);
    e.history[kPeriodDay] = DaySeries(days);
    ExRightsRecord bonus;
    bonus.exDate = static_cast<uint32_t>(UnixFromStoreTime(days[20]));
    bonus.bonusShares = 0.5f;
    e.state.exRights = {bonus};
    e.state.quote.bar = Bar(days.back() + Hm(10, 0), 10, 11, 9, 10.5f, 77);
    auto& other = src.Add(kMarketSZ, "000002", kClassAShare);
    other.history[kPeriodDay] = DaySeries(TradingDays(MakeStoreTime(2024, 2, 1), 7));
    const SecurityId second = MakeSecurityId(kMarketSZ, "000002");

    auto same = [](const Series& a, const Series& b) {
        if (a.size() != b.size() || a.period != b.period || a.exRights.size() != b.exRights.size() ||
            a.lastBarDays != b.lastBarDays || a.multiDay != b.multiDay || a.entry.id.codeText() != b.entry.id.codeText() ||
            a.quote.bar.time != b.quote.bar.time)
            return false;
        for (size_t i = 0; i < a.size(); ++i)
            if (std::memcmp(&a.bars[i], &b.bars[i], sizeof(KLineRecord)) != 0 ||
                std::memcmp(&a.capital[i], &b.capital[i], sizeof(CapitalBlock)) != 0 ||
                std::memcmp(&a.orderBooks[i], &b.orderBooks[i], sizeof(OrderBook)) != 0)
                return false;
        return true;
    };
    Series reused;
    struct Load {
        SecurityId id;
        Period period;
        int flags;
    };
    const Load loads[] = {{kStock, kPeriodDay, 0},       {kStock, kPeriodWeek, kExRightsBackward},
                          {second, kPeriodDay, 0},       {kStock, kPeriodMultiDay, 0},
                          {kStock, kPeriodDay, kExRightsNone}, {second, kPeriodMonth, 0},
                          {kStock, kPeriodDay, 0}};
    for (const Load& l : loads) {
        Series fresh;
        ASSERT_TRUE(LoadSeries(src, l.id, l.period, fresh, l.flags));
        ASSERT_TRUE(LoadSeries(src, l.id, l.period, reused, l.flags));
        EXPECT_TRUE(same(fresh, reused)) << SecurityText(l.id) << " period " << l.period;
    }
    // A failed load leaves an empty series, not the previous one.
    EXPECT_EQ(LoadSeries(src, MakeSecurityId(kMarketSH, "600999"), kPeriodDay, reused, 0), 0);
    EXPECT_TRUE(reused.empty());
    EXPECT_TRUE(reused.exRights.empty());
}

TEST(SeriesLoaderTest, BadRequestsFailCleanly) {
    FakeSource src;
    Series s;
    EXPECT_EQ(LoadSeries(src, kStock, Period{1}, s, 0), 0);
    EXPECT_EQ(LoadSeries(src, kStock, Period{15}, s, 0), 0);
    EXPECT_EQ(LoadSeries(src, kStock, kPeriodDay, s, 0), 0);  // unknown and no history
    EXPECT_TRUE(s.empty());
    src.Add(kMarketSH, "600000", kClassAShare);
    EXPECT_EQ(LoadSeries(src, kStock, kPeriodTick, s, 0), 1);  // known, nothing today
    EXPECT_TRUE(s.empty());
    int days = -5;
    EXPECT_EQ(LoadSeries(src, kStock, kPeriodTime, s, 0, &days), 1);
    EXPECT_EQ(days, 0);
}

}  // namespace
}  // namespace tessaro
