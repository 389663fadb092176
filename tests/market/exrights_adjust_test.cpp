#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "market/exrights_adjust.h"

namespace tessaro {
namespace {

KLineRecord Bar(StoreTime t, float price) {
    KLineRecord b;
    b.time = t;
    b.open = b.high = b.low = b.close = price;
    b.volume = 1000;
    b.amount = 1000 * price * 100;
    return b;
}

ExRightsRecord Event(StoreTime day, float bonus, float rights = 0, float rightsPrice = 0, float cash = 0) {
    ExRightsRecord r;
    r.exDate = static_cast<uint32_t>(UnixFromStoreTime(day));
    r.bonusShares = bonus;
    r.rightsShares = rights;
    r.rightsPrice = rightsPrice;
    r.cashDividend = cash;
    return r;
}

std::vector<KLineRecord> Days(StoreTime first, int n, float price) {
    std::vector<KLineRecord> bars;
    for (int i = 0; i < n; ++i) bars.push_back(Bar(first + i * 86400, price));
    return bars;
}

TEST(ExRightsAdjustTest, TenForTenBonusHalvesForwardAndDoublesBackward) {
    StoreTime d0 = MakeStoreTime(2024, 5, 6);
    StoreTime exDay = d0 + 3 * 86400;
    ExRightsRecord bonus = Event(exDay, 1.0f);

    auto forward = Days(d0, 6, 20.0f);
    AdjustExRights(&bonus, 1, forward.data(), forward.size(), 0, 0);
    for (int i = 0; i < 6; ++i) EXPECT_FLOAT_EQ(forward[i].close, i < 3 ? 10.0f : 20.0f) << i;
    EXPECT_FLOAT_EQ(forward[0].volume, 1000.0f);  // volumes stay

    auto backward = Days(d0, 6, 20.0f);
    AdjustExRights(&bonus, 1, backward.data(), backward.size(), 0, kExRightsBackward);
    for (int i = 0; i < 6; ++i) EXPECT_FLOAT_EQ(backward[i].high, i < 3 ? 20.0f : 40.0f) << i;

    auto none = Days(d0, 6, 20.0f);
    AdjustExRights(&bonus, 1, none.data(), none.size(), 0, kExRightsNone | kExRightsBackward);
    for (const auto& b : none) EXPECT_FLOAT_EQ(b.low, 20.0f);
}

TEST(ExRightsAdjustTest, RightsAndDividendAgainstHandComputation) {
    StoreTime d0 = MakeStoreTime(2024, 5, 6);
    // Day 2: 0.3 rights at 5.00 and 0.2 cash; day 4: 0.5 bonus.
    std::vector<ExRightsRecord> events = {Event(d0 + 4 * 86400, 0.5f), Event(d0 + 2 * 86400, 0, 0.3f, 5.0f, 0.2f)};
    auto bars = Days(d0, 5, 13.0f);
    AdjustExRights(events.data(), events.size(), bars.data(), bars.size(), 0, 0);
    // Before day 2: (13 - 0.2 + 1.5) / 1.3 = 11, then / 1.5.
    EXPECT_NEAR(bars[0].close, 11.0 / 1.5, 1e-5);
    EXPECT_NEAR(bars[1].open, 11.0 / 1.5, 1e-5);
    EXPECT_NEAR(bars[2].close, 13.0 / 1.5, 1e-5);
    EXPECT_NEAR(bars[4].close, 13.0, 1e-6);

    auto back = Days(d0, 5, 10.0f);
    AdjustExRights(events.data(), events.size(), back.data(), back.size(), 0, kExRightsBackward);
    EXPECT_NEAR(back[1].close, 10.0, 1e-6);
    // Day 2..3: 10 * 1.3 - 1.5 + 0.2 = 11.7. Day 4: newest first: 15, then 15 * 1.3 - 1.3 = 18.2.
    EXPECT_NEAR(back[3].close, 11.7, 1e-5);
    EXPECT_NEAR(back[4].close, 18.2, 1e-5);
}

TEST(ExRightsAdjustTest, EventsAfterTheNewestDayDoNotTakePart) {
    StoreTime d0 = MakeStoreTime(2024, 5, 6);
    ExRightsRecord future = Event(d0 + 10 * 86400, 1.0f);
    auto bars = Days(d0, 3, 8.0f);
    AdjustExRights(&future, 1, bars.data(), bars.size(), d0 + 2 * 86400 + 3600, 0);
    EXPECT_FLOAT_EQ(bars[0].close, 8.0f);
    // A newer given time lets it take part.
    AdjustExRights(&future, 1, bars.data(), bars.size(), d0 + 10 * 86400 + 3600, 0);
    EXPECT_FLOAT_EQ(bars[0].close, 4.0f);
}

TEST(ExRightsAdjustTest, BrokenEventsAreIgnoredAndMissingPricesStayZero) {
    StoreTime d0 = MakeStoreTime(2024, 5, 6);
    std::vector<ExRightsRecord> events = {
        Event(d0 + 86400, -1.0f),  // factor 0: would divide by zero
        Event(d0 + 86400, -3.0f),  // negative factor
        Event(d0 + 86400, std::numeric_limits<float>::quiet_NaN()),
        Event(d0 + 86400, 0, 0, 0, std::numeric_limits<float>::infinity()),
    };
    auto bars = Days(d0, 3, 8.0f);
    bars[0].open = 0;
    AdjustExRights(events.data(), events.size(), bars.data(), bars.size(), 0, 0);
    AdjustExRights(events.data(), events.size(), bars.data(), bars.size(), 0, kExRightsBackward);
    for (const auto& b : bars) EXPECT_FLOAT_EQ(b.close, 8.0f);
    EXPECT_FLOAT_EQ(bars[0].open, 0.0f);

    ExRightsRecord bonus = Event(d0 + 86400, 1.0f);
    AdjustExRights(&bonus, 1, bars.data(), bars.size(), 0, 0);
    EXPECT_FLOAT_EQ(bars[0].open, 0.0f);
    EXPECT_FLOAT_EQ(bars[0].close, 4.0f);
    AdjustExRights(nullptr, 0, bars.data(), bars.size(), 0, 0);
    AdjustExRights(&bonus, 1, nullptr, 0, 0, 0);
}

TEST(ExRightsAdjustTest, ManyEventsMatchSequentialApplication) {
    // The composed factors must equal applying each event in turn.
    StoreTime d0 = MakeStoreTime(2010, 1, 4);
    std::vector<ExRightsRecord> events;
    for (int k = 0; k < 20; ++k) events.push_back(Event(d0 + (k * 50 + 25) * 86400, 0.1f * (k % 3), 0.05f * (k % 2), 4.0f, 0.1f));
    auto bars = Days(d0, 1000, 30.0f);
    auto expected = bars;
    for (auto& b : expected) {
        double p = b.close;
        for (const auto& e : events)
            if (ExRightsDay(e) > StoreDay(b.time))
                p = (p - e.cashDividend + e.rightsShares * e.rightsPrice) / (1 + e.bonusShares + e.rightsShares);
        b.close = static_cast<float>(p);
    }
    AdjustExRights(events.data(), events.size(), bars.data(), bars.size(), 0, 0);
    for (size_t i = 0; i < bars.size(); ++i) ASSERT_NEAR(bars[i].close, expected[i].close, 1e-4) << i;
}

TEST(ExRightsAdjustTest, BarsOutOfOrderAreAdjustedByTheirOwnDays) {
    // Bars need not be sorted: each takes the events of its own day, in both directions.
    StoreTime d0 = MakeStoreTime(2015, 3, 2);
    std::vector<ExRightsRecord> events;
    for (int k = 0; k < 6; ++k) events.push_back(Event(d0 + (k * 40 + 10) * 86400, 0.2f, 0.1f * (k % 2), 5.0f, 0.3f));
    auto sorted = Days(d0, 260, 40.0f);
    for (int flags : {0, kExRightsBackward}) {
        auto expected = sorted;
        AdjustExRights(events.data(), events.size(), expected.data(), expected.size(), 0, flags);
        // The same bars reversed and interleaved.
        std::vector<KLineRecord> mixed;
        for (size_t i = 0; i < sorted.size(); i += 2) mixed.push_back(sorted[sorted.size() - 1 - i]);
        for (size_t i = 1; i < sorted.size(); i += 2) mixed.push_back(sorted[i]);
        AdjustExRights(events.data(), events.size(), mixed.data(), mixed.size(), sorted.back().time, flags);
        for (const KLineRecord& b : mixed) {
            size_t at = (StoreDay(b.time) - StoreDay(d0));
            const KLineRecord* want = nullptr;
            for (const KLineRecord& e : expected)
                if (e.time == b.time) want = &e;
            ASSERT_NE(want, nullptr) << at;
            ASSERT_FLOAT_EQ(b.close, want->close) << "flags " << flags << " day " << at;
        }
    }
}

TEST(ExRightsAdjustTest, EachPriceIsMovedOnItsOwnInDoubleAndOnlyAboveTheZeroThreshold) {
    // Open, high, low and close differ, so a price moved into another's place shows; the
    // reference computes each in double and casts once, as the adjustment must.
    StoreTime d0 = MakeStoreTime(2020, 6, 1);
    ExRightsRecord e = Event(d0 + 3 * 86400, 0.3f, 0.1f, 6.5f, 0.27f);
    const double factor = 1.0 + double(e.bonusShares) + double(e.rightsShares);
    const double a = 1.0 / factor, b = (double(e.rightsShares) * e.rightsPrice - e.cashDividend) / factor;
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float prices[][4] = {{10.01f, 10.87f, 9.93f, 10.42f}, {0.0f, 0.000009f, -0.0f, 0.000011f},
                               {nan, 5.5f, -3.25f, 1e7f}, {123.4f, 0.0f, 77.7f, 0.0f}};
    std::vector<KLineRecord> bars;
    for (int i = 0; i < 4; ++i) {
        KLineRecord bar = Bar(d0 + i * 86400, 1);
        bar.open = prices[i][0], bar.high = prices[i][1], bar.low = prices[i][2], bar.close = prices[i][3];
        bars.push_back(bar);
    }
    bars[3].time = d0 + 4 * 86400;  // after the event: unchanged
    AdjustExRights(&e, 1, bars.data(), bars.size(), 0, 0);
    for (int i = 0; i < 4; ++i) {
        const float got[4] = {bars[i].open, bars[i].high, bars[i].low, bars[i].close};
        for (int k = 0; k < 4; ++k) {
            const float p = prices[i][k];
            const float want = i < 3 && std::fabs(p) > 0.00001 ? static_cast<float>(a * p + b) : p;
            EXPECT_EQ(0, std::memcmp(&got[k], &want, sizeof want)) << "bar " << i << " price " << k << ": " << got[k];
        }
    }
}

}  // namespace
}  // namespace tessaro
