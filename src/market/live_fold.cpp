#include "market/live_fold.h"

#include <algorithm>
#include <cmath>

#include "market/periods.h"

namespace tessaro {
namespace {

constexpr float kZero = 0.00001f;

bool IsZero(float v) { return !(std::fabs(v) > kZero); }  // NaN counts as zero

void AddTrade(TradeData& to, const TradeData& tick) {
    to.volume += tick.volume;
    to.amount += tick.amount;
    to.direction = tick.direction;
    if (tick.direction > 0)
        to.buyVolume += tick.volume;
    else if (tick.direction < 0)
        to.sellVolume += tick.volume;
}

void Widen(KLineRecord& bar, float v) {
    if (IsZero(v)) return;
    if (IsZero(bar.high) || v > bar.high) bar.high = v;
    if (IsZero(bar.low) || v < bar.low) bar.low = v;
}

// Takes one tick into an existing bar: range widened, close replaced, volume added.
void MergeTick(Series& s, size_t at, const Series& ticks, size_t k) {
    KLineRecord& bar = s.bars[at];
    const KLineRecord& t = ticks.bars[k];
    const TradeData& tr = ticks.trades[k];
    if (!IsZero(t.close)) {
        Widen(bar, t.close);
        Widen(bar, t.high);
        Widen(bar, t.low);
        bar.close = t.close;
        if (IsZero(bar.open)) bar.open = t.close;
    }
    bar.volume += tr.volume;
    bar.amount += tr.amount;
    AddTrade(s.trades[at], tr);
    s.capital[at] = s.quote.capital;
}

size_t PushFlat(Series& s, StoreTime time, float price) {
    KLineRecord bar;
    bar.time = time;
    bar.open = bar.high = bar.low = bar.close = price;
    size_t at = s.push(bar);
    s.capital[at] = s.quote.capital;
    return at;
}

void FoldIntraday(Series& s, const Series& ticks, float prevClose, float open) {
    const Period p = s.period;
    for (size_t k = 0; k < ticks.size(); ++k) {
        StoreTime t = ticks.bars[k].time;
        uint32_t day = StoreDay(t);
        int slot = BarSlotOfTime(p, TimeOfDay(t));
        StoreTime dayStart = static_cast<StoreTime>(int64_t{day} * kSecondsPerDay);
        if (!s.empty() && StoreDay(s.bars.back().time) == day) {
            int lastSlot = BarSlotOfTime(p, TimeOfDay(s.bars.back().time));
            if (slot <= lastSlot) {
                // A late tick stays in the current bar.
                MergeTick(s, s.size() - 1, ticks, k);
                continue;
            }
            float ref = s.bars.back().close;
            for (int e = lastSlot + 1; e < slot; ++e) PushFlat(s, dayStart + BarSlotLabel(p, e), ref);
            size_t at = PushFlat(s, dayStart + BarSlotLabel(p, slot), ref);
            MergeTick(s, at, ticks, k);
            continue;
        }
        if (!s.empty() && StoreDay(s.bars.back().time) > day) continue;  // an older day
        // First bar of the day: it opens at the previous close with the day's open written
        // into its open. Without a previous close it opens at the open, else at the tick.
        float ref = !IsZero(prevClose) ? prevClose : !IsZero(open) ? open : ticks.bars[k].close;
        size_t at = PushFlat(s, dayStart + BarSlotLabel(p, slot), ref);
        if (!IsZero(open)) {
            s.bars[at].open = open;
            Widen(s.bars[at], open);
        }
        MergeTick(s, at, ticks, k);
    }
}

void FoldDays(Series& s, const Series& ticks) {
    const Period p = s.period;
    const int n = std::max(1, s.multiDay);
    for (size_t k = 0; k < ticks.size(); ++k) {
        const KLineRecord& t = ticks.bars[k];
        const TradeData& tr = ticks.trades[k];
        if (IsZero(t.close)) continue;
        int64_t distance = s.empty() ? 1 : BarDistance(t.time, s.bars.back().time, p);
        if (distance < 0) continue;
        bool newDay = s.empty() || StoreDay(t.time) != StoreDay(s.bars.back().time);
        if (distance > 0 && p == kPeriodMultiDay && !s.empty() && s.lastBarDays < n) distance = 0;
        if (distance > 0) {
            KLineRecord bar = t;
            if (IsZero(bar.open)) bar.open = t.close;
            if (IsZero(bar.high)) bar.high = std::max(bar.open, t.close);
            if (IsZero(bar.low)) bar.low = std::min(bar.open, t.close);
            bar.count1 = bar.count2 = 0;
            size_t at = s.push(bar);
            TradeData td;
            AddTrade(td, tr);
            s.trades[at] = td;
            s.capital[at] = s.quote.capital;
            s.lastBarDays = 1;
            continue;
        }
        size_t at = s.size() - 1;
        KLineRecord& bar = s.bars[at];
        bar.time = t.time;
        Widen(bar, t.close);
        Widen(bar, t.high);
        Widen(bar, t.low);
        bar.close = t.close;
        if (newDay) {
            // The tick opens a further day of the bar: its cumulative figures are that day's.
            bar.volume += t.volume;
            bar.amount += t.amount;
            ++s.lastBarDays;
        } else {
            bar.volume += tr.volume;
            bar.amount += tr.amount;
        }
        AddTrade(s.trades[at], tr);
        s.capital[at] = s.quote.capital;
    }
}

void AddToLadder(Series& ladder, float price, const TradeData& tr) {
    if (IsZero(price)) return;
    size_t i = 0;
    while (i < ladder.size() && ladder.bars[i].close > price + kZero) ++i;
    if (i == ladder.size() || std::fabs(ladder.bars[i].close - price) > kZero) {
        ladder.resize(ladder.size() + 1);
        std::rotate(ladder.bars.begin() + i, ladder.bars.end() - 1, ladder.bars.end());
        std::rotate(ladder.trades.begin() + i, ladder.trades.end() - 1, ladder.trades.end());
        KLineRecord& bar = ladder.bars[i];
        bar.open = bar.high = bar.low = bar.close = price;
    }
    ladder.bars[i].volume += tr.volume;
    ladder.bars[i].amount += tr.amount;
    AddTrade(ladder.trades[i], tr);
}

}  // namespace

Series TickFromSnapshot(const QuoteSnapshot& quote) {
    Series s;
    s.resize(1);
    s.bars[0] = quote.bar;
    s.bars[0].count1 = s.bars[0].count2 = 0;
    s.orderBooks[0] = quote.book;
    s.trades[0] = quote.lastTrade;
    s.capital[0] = quote.capital;
    return s;
}

void AppendTicksToSeries(Series& series, const Series& ticks, float prevClose, float open) {
    if (ticks.empty()) return;
    const Period period = series.period;
    if (period == kPeriodTick) {
        for (size_t k = 0; k < ticks.size(); ++k) {
            size_t at = series.push(ticks.bars[k]);
            series.trades[at] = ticks.trades[k];
            series.capital[at] = series.quote.capital;
        }
    } else if (IsIntradayPeriod(period)) {
        FoldIntraday(series, ticks, prevClose, open);
    } else if (IsDayBasedPeriod(period)) {
        FoldDays(series, ticks);
    }
}

Series BuildPriceLadder(const Series& ticks) {
    Series ladder;
    ladder.period = kPeriodTick;
    for (size_t k = 0; k < ticks.size(); ++k) AddToLadder(ladder, ticks.bars[k].close, ticks.trades[k]);
    ladder.orderBooks.assign(ladder.size(), OrderBook{});
    ladder.capital.assign(ladder.size(), CapitalBlock{});
    return ladder;
}

void AddToPriceLadder(Series& ladder, const QuoteSnapshot& quote) {
    AddToLadder(ladder, quote.bar.close, quote.lastTrade);
    ladder.orderBooks.resize(ladder.size());
    ladder.capital.resize(ladder.size());
}

}  // namespace tessaro
