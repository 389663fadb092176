#include "server/sim_market.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

namespace tessaro {
namespace {

SecurityId Id(MarketCode m, const char* code) {
    SecurityId id{};
    id.market = m;
    std::strncpy(id.code, code, sizeof id.code);
    return id;
}

// 2025-06-13, a Friday.
const StoreTime kDay = MakeStoreTime(2025, 6, 13);

void Fill(SimMarket& m) {
    m.Add(Id(kMarketSH, "000001"), 1, "SH index", 3000, 0);
    m.Add(Id(kMarketSZ, "399001"), 1, "SZ index", 10000, 0);
    m.Add(Id(kMarketSH, "600000"), 2, "Bank", 10, 5e6f, 2000);
    m.Add(Id(kMarketSH, "600001"), 2, "*ST Steel", 4, 1e6f, 800);
    m.Add(Id(kMarketSZ, "000002"), 2, "Homes", 20, 2e6f, 1500);
    m.Add(Id(kMarketSZ, "300001"), 2, "Tech", 50, 1e6f, 600);
}

TEST(SimMarketTest, TradingMinutesAndProfile) {
    EXPECT_EQ(TradingMinuteOf(kMorningOpen), -1);
    EXPECT_EQ(TradingMinuteOf(kMorningOpen + 1), 0);
    EXPECT_EQ(TradingMinuteOf(kMorningOpen + 60), 0);
    EXPECT_EQ(TradingMinuteOf(kMorningOpen + 61), 1);
    EXPECT_EQ(TradingMinuteOf(kMorningClose), 119);
    EXPECT_EQ(TradingMinuteOf(12 * 3600), -1);
    EXPECT_EQ(TradingMinuteOf(kAfternoonOpen + 1), 120);
    EXPECT_EQ(TradingMinuteOf(kAfternoonClose), 239);
    EXPECT_EQ(TradingMinuteOf(kAfternoonClose + 1), -1);
    EXPECT_EQ(MinuteLabel(0), 9u * 3600 + 31 * 60);
    EXPECT_EQ(MinuteLabel(119), 11u * 3600 + 30 * 60);
    EXPECT_EQ(MinuteLabel(120), 13u * 3600 + 60);
    EXPECT_EQ(MinuteLabel(239), 15u * 3600);
    EXPECT_GT(VolumeProfile(0), 3 * VolumeProfile(120));
    EXPECT_GT(VolumeProfile(239), 3 * VolumeProfile(120));
}

TEST(SimMarketTest, SameSeedSameQuotesWhateverTheSteps) {
    SimMarket a(7), b(7), c(8);
    Fill(a), Fill(b), Fill(c);
    a.Open(kDay, kMorningOpen);
    b.Open(kDay, kMorningOpen);
    c.Open(kDay, kMorningOpen);
    StoreTime end = kDay + 10 * 3600;
    a.AdvanceTo(end, {}, {});  // one step
    for (StoreTime t = kDay + kMorningOpen; t <= end; t += 7) b.AdvanceTo(t, {}, {});  // many small ones
    b.AdvanceTo(end, {}, {});
    c.AdvanceTo(end, {}, {});
    bool differs = false;
    for (size_t i = 0; i < a.size(); ++i) {
        QuoteRecord qa = a.Quote(i), qb = b.Quote(i), qc = c.Quote(i);
        EXPECT_EQ(std::memcmp(&qa, &qb, sizeof qa), 0) << i;
        EXPECT_EQ(a.at(i).ticks.size(), b.at(i).ticks.size());
        differs |= std::memcmp(&qa, &qc, sizeof qa) != 0;
    }
    EXPECT_TRUE(differs) << "another seed should give other quotes";
}

TEST(SimMarketTest, WholeDayKeepsLimitsBookAndVolumeShape) {
    SimMarket m(3);
    Fill(m);
    m.Open(kDay, kMorningOpen);
    std::vector<std::pair<int, KLineRecord>> closed;
    m.AdvanceTo(kDay + kAfternoonClose, {}, [&](StoreTime day, const auto& bars) {
        EXPECT_EQ(day, kDay);
        closed = bars;
    });
    for (size_t i = 0; i < m.size(); ++i) {
        const SimSecurity& s = m.at(i);
        ASSERT_GT(s.trades, 0u) << i;
        double limit = s.isSt ? 0.05 : 0.10;
        if (!s.isIndex) {
            for (const TickRecord& t : s.ticks) {
                EXPECT_LE(t.price, s.quote.prevClose * (1 + limit) + 0.006) << i;
                EXPECT_GE(t.price, s.quote.prevClose * (1 - limit) - 0.006) << i;
            }
            // The book brackets the last price; asks above bids.
            const OrderBook& b = s.quote.book;
            float last = s.quote.bar.close;
            if (b.bidPrice[0] > 0) { EXPECT_LE(b.bidPrice[0], last + 1e-4f); }
            if (b.askPrice[0] > 0) { EXPECT_GE(b.askPrice[0], last - 1e-4f); }
            if (b.bidPrice[0] > 0 && b.askPrice[0] > 0) { EXPECT_LT(b.bidPrice[0], b.askPrice[0]); }
            for (int k = 1; k < 5; ++k) {
                if (b.bidPrice[k] > 0) { EXPECT_LT(b.bidPrice[k], b.bidPrice[k - 1]); }
                if (b.askPrice[k] > 0) { EXPECT_GT(b.askPrice[k], b.askPrice[k - 1]); }
            }
        }
        // Ticks, minutes and the quote agree: cumulative volume ends at the quote's.
        EXPECT_FLOAT_EQ(s.ticks.back().volume, s.quote.bar.volume);
        const MinuteSlot* lastMinute = nullptr;
        for (const MinuteSlot& ms : s.minutes)
            if (ms.time) lastMinute = &ms;
        ASSERT_NE(lastMinute, nullptr);
        EXPECT_FLOAT_EQ(lastMinute->volume, s.quote.bar.volume);
        EXPECT_FLOAT_EQ(lastMinute->close, s.quote.bar.close);
    }
    // U shape: the first and last half hours trade more than the half hour around noon.
    double open = 0, noon = 0, close = 0;
    for (size_t i = 0; i < m.size(); ++i) {
        const SimSecurity& s = m.at(i);
        if (s.isIndex) continue;
        auto volumeAt = [&](int minute) {
            for (int k = minute; k >= 0; --k)
                if (s.minutes[k].time) return double(s.minutes[k].volume);
            return 0.0;
        };
        open += volumeAt(29);
        noon += volumeAt(134) - volumeAt(104);
        close += volumeAt(239) - volumeAt(209);
    }
    EXPECT_GT(open, 1.5 * noon);
    EXPECT_GT(close, 1.5 * noon);
    ASSERT_EQ(closed.size(), m.size());
    EXPECT_TRUE(m.closed());
}

TEST(SimMarketTest, IndexFollowsItsMembersCapitalWeighted) {
    SimMarket m(5);
    Fill(m);
    m.Open(kDay, kMorningOpen);
    m.AdvanceTo(kDay + 10 * 3600, {}, {});
    // Hand computation over the Shanghai stocks: prev × Σ w·last / Σ w·prev.
    double wl = 0, wp = 0;
    for (size_t i = 0; i < m.size(); ++i) {
        const SimSecurity& s = m.at(i);
        if (s.isIndex || s.id.market != kMarketSH) continue;
        wl += double(s.weight) * s.quote.bar.close;
        wp += double(s.weight) * s.quote.prevClose;
    }
    const SimSecurity& index = m.at(0);
    EXPECT_NEAR(index.quote.bar.close, 3000 * wl / wp, 0.006);
    std::array<uint32_t, 3> breadth = m.Breadth(kMarketSH);
    EXPECT_EQ(breadth[0] + breadth[1] + breadth[2], 2u);
}

TEST(SimMarketTest, DayRollsOverToTheNextTradingDay) {
    SimMarket m(9);
    Fill(m);
    m.Open(kDay, kAfternoonClose - 120);
    float close = 0;
    int changes = 0;
    int closes = 0;
    m.AdvanceTo(kDay + kAfternoonClose + 3600, [&](int) { ++changes; }, [&](StoreTime day, const auto& bars) {
        ++closes;
        EXPECT_EQ(day, kDay);
        for (const auto& [i, bar] : bars)
            if (i == 2) {
                close = bar.close;
                EXPECT_EQ(bar.time, kDay);
            }
    });
    EXPECT_EQ(closes, 1);
    // Friday closes; Monday 2025-06-16 opens with yesterday's close as 昨收 and no trades.
    EXPECT_EQ(m.day(), MakeStoreTime(2025, 6, 16));
    EXPECT_GT(TimeOfDay(m.now()), kMorningOpen);
    EXPECT_FLOAT_EQ(m.at(2).quote.prevClose, close);
    EXPECT_GT(changes, 0);
    EXPECT_FALSE(m.closed());
}

}  // namespace
}  // namespace tessaro
