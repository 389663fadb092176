// Shared set-up for the market store tests: a store over a temporary
// application directory, and builders for quotes, minutes and ticks.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/paths.h"
#include "market/market_store.h"
#include "platform/files.h"
#include "platform/settings_store.h"
#include "platform/store_time.h"
#include "test_support/temp_dir.h"

namespace tessaro::testing_store {

inline SecurityId Sh(std::string_view code) { return MakeSecurityId(kMarketSH, code); }
inline SecurityId Sz(std::string_view code) { return MakeSecurityId(kMarketSZ, code); }

// 2024-03-04 (a Monday) at the given time of day.
inline StoreTime Day1(int h, int m, int s = 0) { return MakeStoreTime(2024, 3, 4, h, m, s); }
inline StoreTime Day2(int h, int m, int s = 0) { return MakeStoreTime(2024, 3, 5, h, m, s); }

// A priced quote: last price `price`, cumulative volume `volume`.
inline QuoteUpdate MakeQuote(const SecurityId& id, StoreTime time, float price, float volume,
                             std::string_view gbkName = "") {
    QuoteUpdate q;
    q.entry.id = id;
    q.entry.setName(gbkName);
    QuoteSnapshot& s = q.snapshot;
    s.avgVolume5 = 5000;
    s.prevClose = price - 0.1f;
    s.price5MinAgo = price - 0.05f;
    s.bar.time = time;
    s.bar.open = price - 0.2f;
    s.bar.high = price + 0.3f;
    s.bar.low = price - 0.4f;
    s.bar.close = price;
    s.bar.volume = volume;
    s.bar.amount = volume * price * 100;
    for (int i = 0; i < 5; ++i) {
        s.book.bidPrice[i] = price - 0.01f * static_cast<float>(i + 1);
        s.book.bidVolume[i] = static_cast<float>(10 * (i + 1));
        s.book.askPrice[i] = price + 0.01f * static_cast<float>(i + 1);
        s.book.askVolume[i] = static_cast<float>(20 * (i + 1));
    }
    s.lastTrade.volume = 5;
    s.lastTrade.amount = 5 * price * 100;
    s.lastTrade.direction = 1;
    return q;
}

inline MinuteSlot MakeMinute(StoreTime time, float close, float cumVolume) {
    MinuteSlot m;
    m.time = time;
    m.open = close - 0.1f;
    m.high = close + 0.1f;
    m.low = close - 0.2f;
    m.close = close;
    m.volume = cumVolume;
    m.amount = cumVolume * close * 100;
    return m;
}

inline TickRecord MakeTick(StoreTime time, float price, float cumVolume, int8_t direction = 1) {
    TickRecord t;
    t.time = time;
    t.price = price;
    t.volume = cumVolume;
    t.amount = cumVolume * 1000;
    t.direction = direction;
    return t;
}

// n ticks from cumulative volume `firstVolume` on, one lot and one second apart.
inline std::vector<TickRecord> TickRun(StoreTime firstTime, float firstVolume, int n, float price = 10) {
    std::vector<TickRecord> out;
    for (int i = 0; i < n; ++i)
        out.push_back(MakeTick(firstTime + static_cast<StoreTime>(i), price, firstVolume + static_cast<float>(i)));
    return out;
}

class StoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(dir_.path().empty());
        store_ = NewStore();
        ASSERT_TRUE(store_->LoadAll());
    }

    std::unique_ptr<MarketStore> NewStore() { return std::make_unique<MarketStore>(AppPaths(dir_.path()), settings_); }
    // A second store over the same directory, as after a crash and a restart.
    std::unique_ptr<MarketStore> Reload() {
        auto s = NewStore();
        EXPECT_TRUE(s->LoadAll());
        return s;
    }
    std::string MarketFile(MarketCode m) const { return AppPaths(dir_.path()).marketFile(m); }

    // A security with a quote of day 1 stamped late enough for all of the day's ticks.
    void Quote(const SecurityId& id, StoreTime time, float price, float volume, MarketStore* s = nullptr) {
        QuoteUpdate q = MakeQuote(id, time, price, volume);
        (s ? s : store_.get())->UpdateQuote(q);
    }

    std::vector<TickRecord> Ticks(const SecurityId& id, MarketStore* s = nullptr) {
        Series series;
        EXPECT_TRUE((s ? s : store_.get())->GetTicks(id, series));
        std::vector<TickRecord> out;
        for (size_t i = 0; i < series.size(); ++i) {
            TickRecord t;
            t.time = series.bars[i].time;
            t.price = series.bars[i].close;
            t.volume = series.bars[i].volume;
            t.amount = series.bars[i].amount;
            t.direction = series.trades[i].direction;
            out.push_back(t);
        }
        return out;
    }

    TempDir dir_;
    SettingsStore settings_;
    std::unique_ptr<MarketStore> store_;
};

}  // namespace tessaro::testing_store
