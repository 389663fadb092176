// The simulated market the quote server serves: every Shanghai and Shenzhen
// security of the application directory's market store, trading on the
// server's clock.
//
// Each security walks on its own random stream (seeded from the run's seed,
// its code and the day), one possible trade every three seconds of market
// time, more often near the open and the close than at noon (a U-shaped
// intraday profile), never outside its price limits (10%, 5% for ST names).
// Ticks, minutes, the five-level book and the capital-flow figures all come
// from those same trades. Indexes do not walk: their level moves with the
// capital-weighted move of their market's stocks. Everything is a pure
// function of the seed and the market time reached, whatever the steps the
// clock takes to get there, so a run is reproducible at any speed.
//
// Not thread-safe: one thread (the server's event loop) owns it.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "market/market_store.h"
#include "market/records.h"
#include "net/security_handle.h"
#include "net/wire_records.h"
#include "platform/store_time.h"

namespace tessaro {

// Trading minutes of a day: 09:31..11:30 and 13:01..15:00.
inline constexpr int kSimMinutes = 240;
inline constexpr uint32_t kMorningOpen = 9 * 3600 + 30 * 60;
inline constexpr uint32_t kMorningClose = 11 * 3600 + 30 * 60;
inline constexpr uint32_t kAfternoonOpen = 13 * 3600;
inline constexpr uint32_t kAfternoonClose = 15 * 3600;

// The trading minute (0..239) a second of the day falls in: the minute labelled
// by its end, so 09:30:01..09:31:00 is minute 0. -1 outside the sessions.
int TradingMinuteOf(uint32_t secondOfDay);
// The time of day (seconds) that labels minute m (09:31:00 for 0).
uint32_t MinuteLabel(int minute);
// Relative trading intensity of a minute: 2 at the open and the close, 0.5 at noon.
double VolumeProfile(int minute);
// Whether a day is a trading day (weekdays outside the exchange holidays).
bool IsSimTradingDay(StoreTime day);

struct SimSecurity {
    SecurityId id;
    SecurityHandle handle = 0;
    uint16_t securityClass = 0;
    std::string name;  // GBK
    bool isIndex = false;
    bool isSt = false;
    int decimals = 2;
    float lotShares = 100;  // shares per lot in amounts

    QuoteSnapshot quote;  // the current quote; bar.time is the last quote's time
    float limitUp = 0, limitDown = 0;
    std::vector<MinuteSlot> minutes;  // kSimMinutes slots, time 0 = empty
    std::vector<TickRecord> ticks;
    std::vector<MinuteExtra> flow;  // kSimMinutes figures, time 0 = empty
    uint32_t trades = 0;
    double buyVolume = 0;  // buyer-initiated lots today

    // Simulation state.
    uint64_t rng = 0;
    double minuteBuyAmount = 0, minuteSellAmount = 0;
    float weight = 0;  // circulating capital: the index weight of a stock
};

class SimMarket {
public:
    explicit SimMarket(uint64_t seed = 1) : seed_(seed) {}

    // Takes every SH and SZ security of the store with its name, class,
    // 昨收 (else its last price, else 10), 5日均量 and capital.
    void LoadFrom(const MarketStore& store);
    // Adds one security (tests and LoadFrom).
    void Add(const SecurityId& id, uint16_t securityClass, std::string nameGbk, float prevClose,
             float circulating = 1e6f, float avgVolume5 = 0);

    // Opens `day` (a midnight) with the clock at `secondOfDay`; everything that
    // trades before that second is simulated at once.
    void Open(StoreTime day, uint32_t secondOfDay);

    // Runs the market up to the store time `t`. `onChange` gets the index of each
    // security that traded (once per call); `onDayClosed` runs after the close
    // of a day with the day's bars (before the next trading day opens, which
    // happens when the clock passes midnight).
    using ChangeFn = std::function<void(int index)>;
    using DayClosedFn = std::function<void(StoreTime day, const std::vector<std::pair<int, KLineRecord>>& bars)>;
    void AdvanceTo(StoreTime t, const ChangeFn& onChange, const DayClosedFn& onDayClosed);
    // The simulated time of the next trade event after now (for a clock that sleeps).
    StoreTime now() const { return now_; }
    StoreTime day() const { return day_; }
    bool closed() const { return closedDay_ == day_; }

    size_t size() const { return securities_.size(); }
    const SimSecurity& at(size_t i) const { return securities_[i]; }
    const std::vector<SimSecurity>& securities() const { return securities_; }
    // The index of a handle, or -1.
    int Find(SecurityHandle handle) const;

    QuoteRecord Quote(size_t i) const;
    // The day bar of today so far (time = the day's midnight); volume 0 before any trade.
    KLineRecord DayBar(size_t i) const;
    // Counters per market: rising, level, falling.
    std::array<uint32_t, 3> Breadth(MarketCode market) const;

private:
    void StartDay(StoreTime day);
    void SimulateSecond(uint32_t secondOfDay, std::vector<char>& changed);
    void Trade(SimSecurity& s, uint32_t secondOfDay, int minute);
    void RecordTrade(SimSecurity& s, StoreTime t, int minute, float price, int direction);
    void UpdateIndexes(uint32_t secondOfDay, int minute, const bool traded[2], std::vector<char>& changed);
    void SetBook(SimSecurity& s, int direction);
    void CloseDay(const DayClosedFn& onDayClosed);
    float Round(const SimSecurity& s, double price) const;

    uint64_t seed_;
    std::vector<SimSecurity> securities_;
    std::unordered_map<SecurityHandle, int> byHandle_;
    StoreTime day_ = 0;
    StoreTime now_ = 0;
    StoreTime closedDay_ = 0;
};

}  // namespace tessaro
