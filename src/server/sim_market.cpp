#include "server/sim_market.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "market/demo_market.h"
#include "net/wire.h"
#include "platform/text.h"

namespace tessaro {

namespace {

uint64_t SplitMix(uint64_t& state) {
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

double Uniform(uint64_t& state) { return static_cast<double>(SplitMix(state) >> 11) * (1.0 / 9007199254740992.0); }

uint64_t HashText(std::string_view s, uint64_t h) {
    for (unsigned char c : s) h = (h ^ c) * 0x100000001B3ull;
    return h;
}

int SideOf(MarketCode m) { return m == kMarketSH ? 0 : 1; }

// The night between two trading days: the clock runs on to a minute after the
// close, then the next trading day opens a minute before its first trade.
constexpr uint32_t kAfterClose = kAfternoonClose + 60;
constexpr uint32_t kBeforeOpen = kMorningOpen - 60;

}  // namespace

int TradingMinuteOf(uint32_t s) {
    if (s > kMorningOpen && s <= kMorningClose) return static_cast<int>((s - kMorningOpen - 1) / 60);
    if (s > kAfternoonOpen && s <= kAfternoonClose) return 120 + static_cast<int>((s - kAfternoonOpen - 1) / 60);
    return -1;
}

uint32_t MinuteLabel(int minute) {
    return minute < 120 ? kMorningOpen + 60u * (minute + 1) : kAfternoonOpen + 60u * (minute - 119);
}

double VolumeProfile(int minute) {
    double x = (minute - 119.5) / 119.5;  // -1 at the open, +1 at the close
    return 0.5 + 1.5 * x * x;
}

bool IsSimTradingDay(StoreTime day) { return IsDemoTradingDay(CivilFromDay(static_cast<int32_t>(StoreDay(day)))); }

void SimMarket::LoadFrom(const MarketStore& store) {
    for (const CodeEntry& e : store.ListSecurities(3)) {
        std::optional<QuoteSnapshot> q = store.GetQuote(e.id);
        float prev = 0, circulating = 0, avg = 0;
        if (q) {
            prev = q->prevClose > 0 ? q->prevClose : q->bar.close;
            circulating = q->capital.circulating;
            avg = q->avgVolume5;
        }
        if (!(prev > 0) || !std::isfinite(prev)) prev = 10;
        Add(e.id, e.securityClass, std::string(FieldText(e.name)), prev, circulating > 0 ? circulating : 1e6f, avg);
    }
}

void SimMarket::Add(const SecurityId& id, uint16_t securityClass, std::string nameGbk, float prevClose,
                    float circulating, float avgVolume5) {
    SecurityHandle handle = EncodeSecurityHandle(id);
    if (handle == 0 || byHandle_.count(handle)) return;
    SimSecurity s;
    s.id = id;
    s.handle = handle;
    s.securityClass = securityClass;
    s.name = std::move(nameGbk);
    s.isIndex = securityClass == 1;
    s.isSt = s.name.find("ST") != std::string::npos;
    s.lotShares = LotSize(securityClass);
    if (s.lotShares <= 0) s.lotShares = 100;
    s.decimals = securityClass == 1 ? 2 : 2;
    s.quote.prevClose = prevClose;
    s.quote.avgVolume5 = avgVolume5;
    s.quote.capital.circulating = circulating;
    s.quote.capital.total = circulating;
    s.weight = circulating;
    byHandle_[handle] = static_cast<int>(securities_.size());
    securities_.push_back(std::move(s));
}

int SimMarket::Find(SecurityHandle handle) const {
    auto it = byHandle_.find(handle);
    return it == byHandle_.end() ? -1 : it->second;
}

float SimMarket::Round(const SimSecurity& s, double price) const {
    double scale = std::pow(10.0, s.decimals);
    return static_cast<float>(std::round(price * scale) / scale);
}

void SimMarket::StartDay(StoreTime day) {
    day_ = StartOfDay(day);
    for (SimSecurity& s : securities_) {
        if (s.quote.bar.close > 0) s.quote.prevClose = s.quote.bar.close;
        float prev = s.quote.prevClose;
        double limit = s.isSt ? 0.05 : 0.10;
        s.limitUp = Round(s, prev * (1 + limit));
        s.limitDown = Round(s, prev * (1 - limit));
        s.quote.bar = KLineRecord{};
        s.quote.bar.time = day_ + kBeforeOpen;
        s.quote.bar.close = prev;  // 最新 before the first trade: yesterday's close
        s.quote.book = OrderBook{};
        s.quote.lastTrade = TradeData{};
        s.quote.price5MinAgo = prev;
        s.minutes.assign(kSimMinutes, MinuteSlot{});
        s.flow.assign(kSimMinutes, MinuteExtra{});
        s.ticks.clear();
        s.trades = 0;
        s.buyVolume = 0;
        s.minuteBuyAmount = s.minuteSellAmount = 0;
        s.rng = HashText(s.id.code, seed_ * 0x9E3779B97F4A7C15ull ^ (uint64_t{day_} << 1) ^ s.id.market);
        if (!s.isIndex) SetBook(s, 0);
    }
}

void SimMarket::Open(StoreTime day, uint32_t secondOfDay) {
    StoreTime d = StartOfDay(day);
    while (!IsSimTradingDay(d)) d += kSecondsPerDay;
    StartDay(d);
    now_ = d + std::min<uint32_t>(kBeforeOpen, secondOfDay);
    if (secondOfDay > kBeforeOpen) AdvanceTo(d + std::min<uint32_t>(secondOfDay, kAfterClose), {}, {});
}

void SimMarket::SetBook(SimSecurity& s, int direction) {
    float tick = static_cast<float>(std::pow(10.0, -s.decimals));
    float last = s.quote.bar.close;
    // The last trade sits at the best ask after a buy and at the best bid after a sell.
    float bid1 = direction > 0 ? Round(s, last - tick) : last;
    float ask1 = direction > 0 ? last : Round(s, last + tick);
    OrderBook& b = s.quote.book;
    for (int k = 0; k < 5; ++k) {
        float bid = Round(s, bid1 - k * tick), ask = Round(s, ask1 + k * tick);
        bool bidOk = bid >= s.limitDown && bid > 0, askOk = ask <= s.limitUp;
        b.bidPrice[k] = bidOk ? bid : 0;
        b.bidVolume[k] = bidOk ? static_cast<float>(1 + static_cast<int>(Uniform(s.rng) * 200)) : 0;
        b.askPrice[k] = askOk ? ask : 0;
        b.askVolume[k] = askOk ? static_cast<float>(1 + static_cast<int>(Uniform(s.rng) * 200)) : 0;
    }
}

void SimMarket::Trade(SimSecurity& s, uint32_t secondOfDay, int minute) {
    double profile = VolumeProfile(minute);
    if (Uniform(s.rng) >= 0.3 * profile) return;
    KLineRecord& bar = s.quote.bar;
    float last = bar.close;
    double z = Uniform(s.rng) + Uniform(s.rng) - 1.0;  // triangular on (-1, 1)
    double drift = 0.02 * (s.quote.prevClose - last) / s.quote.prevClose;
    float price = Round(s, last * (1.0 + 0.004 * z + 0.01 * drift));
    price = std::clamp(price, s.limitDown, s.limitUp);
    int direction = price > last ? 1 : price < last ? -1 : (Uniform(s.rng) < 0.5 ? 1 : -1);
    double base = s.quote.avgVolume5 > 0 ? s.quote.avgVolume5 / 20.0 : 50.0;
    float lots = static_cast<float>(std::max(1.0, std::round(base * profile * (0.5 + Uniform(s.rng)))));
    float amount = price * lots * s.lotShares;

    StoreTime t = day_ + secondOfDay;
    if (bar.open == 0) bar.open = bar.high = bar.low = price;
    bar.time = t;
    bar.high = std::max(bar.high, price);
    bar.low = std::min(bar.low, price);
    bar.close = price;
    bar.volume += lots;
    bar.amount += amount;
    ++s.trades;
    TradeData& tr = s.quote.lastTrade;
    tr.volume = lots;
    tr.amount = amount;
    tr.direction = static_cast<int8_t>(direction);
    (direction > 0 ? tr.buyVolume : tr.sellVolume) += lots;
    if (direction > 0) s.buyVolume += lots;
    (direction > 0 ? s.minuteBuyAmount : s.minuteSellAmount) += amount;
    SetBook(s, direction);

    RecordTrade(s, t, minute, price, direction);
    MinuteExtra& f = s.flow[minute];
    f.time = StoreToWireTime(day_ + MinuteLabel(minute));
    f.value = static_cast<float>(s.minuteBuyAmount - s.minuteSellAmount);
    s.quote.price5MinAgo = minute >= 5 && s.minutes[minute - 5].time ? s.minutes[minute - 5].close : s.quote.prevClose;
}

// The trade as a tick and folded into its minute; the quote's bar already
// holds the cumulative volume and amount after it.
void SimMarket::RecordTrade(SimSecurity& s, StoreTime t, int minute, float price, int direction) {
    const KLineRecord& bar = s.quote.bar;
    s.ticks.push_back(TickRecord{t, price, bar.volume, bar.amount, static_cast<int8_t>(direction)});
    MinuteSlot& m = s.minutes[minute];
    if (m.time == 0) m = MinuteSlot{day_ + MinuteLabel(minute), price, price, price, price, 0, 0};
    m.high = std::max(m.high, price);
    m.low = std::min(m.low, price);
    m.close = price;
    m.volume = bar.volume;
    m.amount = bar.amount;
}

void SimMarket::UpdateIndexes(uint32_t secondOfDay, int minute, const bool traded[2], std::vector<char>& changed) {
    struct Sums {
        double weightedLast = 0, weightedPrev = 0, volume = 0, amount = 0, minuteAmount = 0;
        int16_t up = 0, level = 0, down = 0;
    } sums[2];
    for (size_t i = 0; i < securities_.size(); ++i) {
        const SimSecurity& s = securities_[i];
        if (s.isIndex) continue;
        Sums& m = sums[SideOf(s.id.market)];
        m.weightedLast += double(s.weight) * s.quote.bar.close;
        m.weightedPrev += double(s.weight) * s.quote.prevClose;
        m.volume += s.quote.bar.volume;
        m.amount += s.quote.bar.amount;
        m.minuteAmount += s.minutes[minute].time ? s.minutes[minute].amount : 0;
        float d = s.quote.bar.close - s.quote.prevClose;
        (d > 1e-6f ? m.up : d < -1e-6f ? m.down : m.level) += 1;
    }
    for (size_t i = 0; i < securities_.size(); ++i) {
        SimSecurity& s = securities_[i];
        if (!s.isIndex) continue;
        const Sums& m = sums[SideOf(s.id.market)];
        if (!traded[SideOf(s.id.market)] || m.weightedPrev <= 0) continue;
        float level = Round(s, s.quote.prevClose * (m.weightedLast / m.weightedPrev));
        float lots = static_cast<float>(m.volume - s.quote.bar.volume);
        KLineRecord& bar = s.quote.bar;
        if (bar.open == 0) bar.open = bar.high = bar.low = level;
        StoreTime t = day_ + secondOfDay;
        bar.time = t;
        bar.high = std::max(bar.high, level);
        bar.low = std::min(bar.low, level);
        int direction = level > bar.close ? 1 : level < bar.close ? -1 : 0;
        bar.close = level;
        bar.volume = static_cast<float>(m.volume);
        bar.amount = static_cast<float>(m.amount);
        s.quote.lastTrade.volume = std::max(0.0f, lots);
        s.quote.lastTrade.amount = 0;
        s.quote.lastTrade.direction = static_cast<int8_t>(direction);
        ++s.trades;
        RecordTrade(s, t, minute, level, direction);
        // Turnover of the minute and market breadth, twice, as the chart reads them.
        MinuteExtra& f = s.flow[minute];
        f.time = StoreToWireTime(day_ + MinuteLabel(minute));
        double before = minute > 0 && s.minutes[minute - 1].time ? s.minutes[minute - 1].amount : 0;
        f.value = static_cast<float>(bar.amount - before);
        f.figures[0] = f.figures[3] = m.up;
        f.figures[1] = f.figures[4] = m.level;
        f.figures[2] = f.figures[5] = m.down;
        s.quote.price5MinAgo = minute >= 5 && s.minutes[minute - 5].time ? s.minutes[minute - 5].close : s.quote.prevClose;
        changed[i] = 1;
    }
}

void SimMarket::SimulateSecond(uint32_t secondOfDay, std::vector<char>& changed) {
    int minute = TradingMinuteOf(secondOfDay);
    if (minute < 0) return;
    if ((secondOfDay - 1) % 60 == 0)  // a new minute: its flow figure starts from nothing
        for (SimSecurity& s : securities_) s.minuteBuyAmount = s.minuteSellAmount = 0;
    bool traded[2] = {false, false};
    for (size_t i = 0; i < securities_.size(); ++i) {
        SimSecurity& s = securities_[i];
        if (s.isIndex || (secondOfDay + s.handle) % 3 != 0) continue;
        uint32_t before = s.trades;
        Trade(s, secondOfDay, minute);
        if (s.trades != before) changed[i] = 1, traded[SideOf(s.id.market)] = true;
    }
    if (traded[0] || traded[1]) UpdateIndexes(secondOfDay, minute, traded, changed);
}

void SimMarket::CloseDay(const DayClosedFn& onDayClosed) {
    closedDay_ = day_;
    if (!onDayClosed) return;
    std::vector<std::pair<int, KLineRecord>> bars;
    for (size_t i = 0; i < securities_.size(); ++i)
        if (securities_[i].trades) bars.emplace_back(static_cast<int>(i), DayBar(i));
    onDayClosed(day_, bars);
}

void SimMarket::AdvanceTo(StoreTime t, const ChangeFn& onChange, const DayClosedFn& onDayClosed) {
    std::vector<char> changed(securities_.size(), 0);
    while (now_ < t) {
        uint32_t sod = TimeOfDay(now_);
        if (sod >= kAfterClose) {
            // The night: the next trading day opens at once.
            if (closedDay_ != day_) CloseDay(onDayClosed);
            StoreTime next = day_ + kSecondsPerDay;
            while (!IsSimTradingDay(next)) next += kSecondsPerDay;
            StartDay(next);
            t = t - now_ + next + kBeforeOpen;  // the rest of the step runs on the new day
            now_ = next + kBeforeOpen;
            if (onChange)
                for (size_t i = 0; i < securities_.size(); ++i) onChange(static_cast<int>(i));
            continue;
        }
        ++now_;
        SimulateSecond(TimeOfDay(now_), changed);
        if (TimeOfDay(now_) == kAfternoonClose && closedDay_ != day_) CloseDay(onDayClosed);
    }
    if (onChange)
        for (size_t i = 0; i < changed.size(); ++i)
            if (changed[i]) onChange(static_cast<int>(i));
}

QuoteRecord SimMarket::Quote(size_t i) const {
    const SimSecurity& s = securities_[i];
    QuoteRecord r = EncodeQuoteRecord(s.handle, s.quote);
    return r;
}

KLineRecord SimMarket::DayBar(size_t i) const {
    const SimSecurity& s = securities_[i];
    KLineRecord bar = s.quote.bar;
    bar.time = day_;
    if (bar.open == 0) bar.open = bar.high = bar.low = bar.close;
    if (s.isIndex) {
        std::array<uint32_t, 3> b = Breadth(s.id.market);
        bar.count1 = static_cast<uint16_t>(std::min<uint32_t>(b[0], 65535));
        bar.count2 = static_cast<uint16_t>(std::min<uint32_t>(b[2], 65535));
    } else {
        bar.count1 = static_cast<uint16_t>(std::min<uint32_t>(s.trades, 65535));
        bar.count2 = bar.volume > 0 ? static_cast<uint16_t>(std::lround(100.0 * s.buyVolume / bar.volume)) : 0;
    }
    return bar;
}

std::array<uint32_t, 3> SimMarket::Breadth(MarketCode market) const {
    std::array<uint32_t, 3> out{};
    for (const SimSecurity& s : securities_) {
        if (s.isIndex || s.id.market != market) continue;
        float d = s.quote.bar.close - s.quote.prevClose;
        ++out[d > 1e-6f ? 0 : d < -1e-6f ? 2 : 1];
    }
    return out;
}

}  // namespace tessaro
