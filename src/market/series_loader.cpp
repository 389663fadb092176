#include "market/series_loader.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

#include "market/live_fold.h"
#include "market/security_registry.h"

namespace tessaro {
namespace {

constexpr float kZero = 0.00001f;
bool IsZero(float v) { return !(std::fabs(v) > kZero); }

// Sums of one output bar while its input bars are walked.
class GroupBuilder {
public:
    explicit GroupBuilder(bool isIndex) : isIndex_(isIndex) {}

    void start(const Series& in, size_t i) {
        bar_ = in.bars[i];
        trade_ = TradeData{};
        sum1_ = sum2_ = 0;
        weighted2_ = volume_ = 0;
        n_ = 0;
        add(in, i, true);
    }
    void add(const Series& in, size_t i, bool first = false) {
        const KLineRecord& b = in.bars[i];
        if (!first) {
            if (IsZero(bar_.open)) bar_.open = b.open;
            if (!IsZero(b.high) && (IsZero(bar_.high) || b.high > bar_.high)) bar_.high = b.high;
            if (!IsZero(b.low) && (IsZero(bar_.low) || b.low < bar_.low)) bar_.low = b.low;
            bar_.time = b.time;
            bar_.close = b.close;
            bar_.volume += b.volume;
            bar_.amount += b.amount;
        }
        const TradeData& t = in.trades[i];
        trade_.volume += t.volume;
        trade_.amount += t.amount;
        trade_.sellVolume += t.sellVolume;
        trade_.buyVolume += t.buyVolume;
        trade_.direction = t.direction;
        sum1_ += b.count1;
        sum2_ += b.count2;
        weighted2_ += double(b.count2) * std::max(0.0f, b.volume);
        volume_ += std::max(0.0f, b.volume);
        in_ = &in;
        last_ = i;
        ++n_;
    }
    size_t emit(Series& out) const {
        KLineRecord bar = bar_;
        bar.count1 = Saturate(sum1_);
        if (isIndex_) {
            bar.count2 = Saturate(sum2_);
        } else if (volume_ > 0) {
            bar.count2 = Saturate(static_cast<uint64_t>(std::llround(weighted2_ / volume_)));
        } else {
            bar.count2 = Saturate(n_ ? (sum2_ + n_ / 2) / n_ : 0);
        }
        size_t at = out.push(bar);
        out.trades[at] = trade_;
        // The last bar's capital and order book.
        out.capital[at] = in_->capital[last_];
        out.orderBooks[at] = in_->orderBooks[last_];
        return at;
    }
    void setTime(StoreTime t) { bar_.time = t; }
    int count() const { return static_cast<int>(n_); }

private:
    static uint16_t Saturate(uint64_t v) { return static_cast<uint16_t>(std::min<uint64_t>(v, 65535)); }

    bool isIndex_;
    KLineRecord bar_;
    TradeData trade_;
    const Series* in_ = nullptr;
    size_t last_ = 0;
    uint64_t sum1_ = 0, sum2_ = 0, n_ = 0;
    double weighted2_ = 0, volume_ = 0;
};

void CopyArrays(const Series& in, Series& out) {
    out.bars = in.bars;
    out.orderBooks = in.orderBooks;
    out.trades = in.trades;
    out.capital = in.capital;
}

// Hands the bars of `in` to `out`; `in` keeps the buffers `out` had, emptied.
void SwapArrays(Series& in, Series& out) {
    out.bars.swap(in.bars);
    out.orderBooks.swap(in.orderBooks);
    out.trades.swap(in.trades);
    out.capital.swap(in.capital);
    in.clear();
}

// Resets every header field of `s` and empties its arrays, keeping their buffers so
// that a caller loading series after series into one Series allocates nothing.
void ResetKeepingBuffers(Series& s) {
    Series empty;
    SwapArrays(s, empty);  // `empty` now holds the buffers
    s = Series{};
    SwapArrays(empty, s);
    s.clear();
}

// The history base of the loads of one thread. Kept between loads: allocating and
// zeroing some hundred kilobytes afresh for every load (and giving them back to the
// system after it) costs more than the load itself.
Series& ThreadBase() {
    thread_local Series base;
    return base;
}
// A base grown beyond this many bars is given back after the load.
constexpr size_t kKeptBaseBars = size_t{1} << 16;

// Ex-rights adjustment of bars with the series' list (copied into the header).
void AdjustBars(const Series& s, KLineRecord* bars, size_t count, StoreTime newest, int flags) {
    AdjustExRights(s.exRights.data(), s.exRights.size(), bars, count, newest, flags);
}

// One price as if it were a bar's close at `time`.
float AdjustedPrice(const Series& s, float price, StoreTime time, StoreTime newest, int flags) {
    KLineRecord bar;
    bar.time = time;
    bar.open = bar.high = bar.low = bar.close = price;
    AdjustBars(s, &bar, 1, newest, flags);
    return bar.close;
}

// Drops the bars of `day` (and any later) from the end.
void DropDayFromEnd(Series& s, uint32_t day) {
    size_t n = s.size();
    while (n > 0 && StoreDay(s.bars[n - 1].time) >= day) --n;
    s.bars.resize(n);
    // A bars-only series keeps its other arrays empty.
    if (s.orderBooks.size() > n) s.orderBooks.resize(n);
    if (s.trades.size() > n) s.trades.resize(n);
    if (s.capital.size() > n) s.capital.resize(n);
}

// The first store day of the week, month, quarter or year after the one holding `day`.
int64_t NextPeriodStartDay(int64_t day, Period period) {
    if (period == kPeriodWeek) return (WeekNumberOfDay(day) + 1) * 7 + 2;  // store day 2 was a Monday
    CivilDate c = CivilFromDay(static_cast<int32_t>(day));
    int months = period == kPeriodMonth ? 1 : period == kPeriodQuarter ? 3 : 12;
    int index = c.year * 12 + (c.month - 1);      // months since year 0
    index = (index / months + 1) * months;        // first month of the next period
    return DayFromCivil(CivilDate{index / 12, index % 12 + 1, 1});
}

bool IsDerivedCode(std::string_view code, bool& breadth) {
    if (code == "999997") {
        breadth = false;
        return true;
    }
    if (code == "999998") {
        breadth = true;
        return true;
    }
    return false;
}

int LoadDerived(const SeriesSource& source, const SecurityId& id, Period period, Series& out, int flags, int* days,
                bool breadth) {
    SecurityId composite = MakeSecurityId(kMarketSystem, "999999");
    SecurityState index;
    if (!source.Security(composite, index, false)) return 0;
    if (!LoadSeries(source, composite, period, out, flags, days)) return 0;
    DeriveSeries(out, breadth);
    SecurityState own;
    if (source.Security(id, own, false)) {
        out.entry = own.entry;
    } else {
        out.entry = CodeEntry{};
        out.entry.id = id;
        out.entry.securityClass = kClassIndex;
    }
    return 1;
}

}  // namespace

void GroupIntradayBars(const Series& in, Period period, bool isIndex, Series& out) {
    out.clear();
    if (period != kPeriodMin15 && period != kPeriodMin30 && period != kPeriodMin60) {
        CopyArrays(in, out);
        return;
    }
    out.reserve(in.size() / 3 + 1);
    GroupBuilder group(isIndex);
    int64_t key = -1;
    StoreTime label = 0;
    for (size_t i = 0; i < in.size(); ++i) {
        StoreTime t = in.bars[i].time;
        int slot = BarSlotOfTime(period, TimeOfDay(t));
        int64_t k = int64_t{StoreDay(t)} * 1000 + slot;
        if (k != key) {
            if (key >= 0) {
                group.setTime(label);
                group.emit(out);
            }
            key = k;
            label = StartOfDay(t) + BarSlotLabel(period, slot);
            group.start(in, i);
        } else {
            group.add(in, i);
        }
    }
    if (key >= 0) {
        group.setTime(label);
        group.emit(out);
    }
}

void GroupDayBars(const Series& in, Period period, int multiDay, bool isIndex, Series& out) {
    out.clear();
    out.lastBarDays = 0;
    if (period == kPeriodDay || !IsDayBasedPeriod(period)) {
        CopyArrays(in, out);
        out.lastBarDays = in.empty() ? 0 : 1;
        return;
    }
    const int n = std::max(1, multiDay);
    GroupBuilder group(isIndex);
    bool open = false;
    // The first day of the next week, month, quarter or year: a day from there on is
    // at a positive BarDistance from the group's first day. Computed once per group.
    int64_t boundary = 0;
    for (size_t i = 0; i < in.size(); ++i) {
        const int64_t day = StoreDay(in.bars[i].time);
        bool fresh = !open || (period == kPeriodMultiDay ? group.count() >= n : day >= boundary);
        if (fresh) {
            if (open) group.emit(out);
            group.start(in, i);
            boundary = NextPeriodStartDay(day, period);
            open = true;
        } else {
            group.add(in, i);
        }
    }
    if (open) {
        group.emit(out);
        out.lastBarDays = group.count();
    }
}

void ApplyExtraDayRecords(Series& days, std::span<const ExtraDayRecord> records) {
    // Both walk from the end; the record steps back when its day is later than the bar's
    // (a day without a bar), the bar when its day is later than the record's.
    size_t b = days.size(), r = records.size();
    while (b > 0 && r > 0) {
        uint32_t barDay = StoreDay(days.bars[b - 1].time);
        uint32_t recDay = StoreDay(records[r - 1].day);
        if (recDay == barDay) {
            static_assert(sizeof(ExtraDayRecord) == sizeof(CapitalBlock::extra));
            std::memcpy(days.capital[b - 1].extra, &records[r - 1], sizeof(ExtraDayRecord));
            --b;
            --r;
        } else if (recDay > barDay) {
            --r;
        } else {
            --b;
        }
    }
}

void ApplyMinuteExtras(Series& series, uint32_t day, const MinuteExtraTable& extras) {
    auto qualifies = [](const MinuteExtra& f) {
        return static_cast<int32_t>(f.time) > 0 && int{f.figures[3]} + f.figures[4] + f.figures[5] > 0;
    };
    const MinuteExtra* held = nullptr;
    bool searched = false;
    for (size_t i = 0; i < series.size(); ++i) {
        KLineRecord& bar = series.bars[i];
        if (StoreDay(bar.time) != day) continue;
        int slot = MinuteSlotIndex(TimeOfDay(bar.time), true);
        const MinuteExtra& f = extras[static_cast<size_t>(slot)];
        if (qualifies(f)) {
            held = &f;
        } else if (!held && !searched) {
            searched = true;
            for (int s = slot - 1; s >= 0; --s)
                if (qualifies(extras[static_cast<size_t>(s)])) {
                    held = &extras[static_cast<size_t>(s)];
                    break;
                }
        }
        bar.count1 = held ? static_cast<uint16_t>(std::max<int16_t>(held->figures[3], 0)) : 0;
        bar.count2 = held ? static_cast<uint16_t>(std::max<int16_t>(held->figures[5], 0)) : 0;
    }
}

int KeepNewestDays(Series& series, int days) {
    if (series.empty() || days <= 0) {
        series.clear();
        return 0;
    }
    size_t start = series.size();
    int kept = 0;
    uint32_t current = 0;
    while (start > 0) {
        uint32_t day = StoreDay(series.bars[start - 1].time);
        if (kept == 0 || day != current) {
            if (kept == days) break;
            ++kept;
            current = day;
        }
        --start;
    }
    if (start > 0) {
        series.bars.erase(series.bars.begin(), series.bars.begin() + static_cast<ptrdiff_t>(start));
        series.orderBooks.erase(series.orderBooks.begin(), series.orderBooks.begin() + static_cast<ptrdiff_t>(start));
        series.trades.erase(series.trades.begin(), series.trades.begin() + static_cast<ptrdiff_t>(start));
        series.capital.erase(series.capital.begin(), series.capital.begin() + static_cast<ptrdiff_t>(start));
    }
    return kept;
}

void DeriveSeries(Series& series, bool breadth999998) {
    double a = 0;
    for (size_t i = 0; i < series.size(); ++i) {
        KLineRecord& bar = series.bars[i];
        a = i == 0 ? double(bar.amount) : (9 * a + bar.amount) / 10;
        for (float* p : {&bar.open, &bar.high, &bar.low, &bar.close}) {
            double v = *p;
            *p = static_cast<float>(breadth999998 ? a * 0.0000001 * v * 0.0001 : (v * 10000 - a * 0.0000001) * 0.0001);
        }
    }
}

int LoadSeries(const SeriesSource& source, const SecurityId& id, Period period, Series& out, int flags, int* days) {
    ResetKeepingBuffers(out);
    out.period = period;
    if (!IsValidPeriod(period)) return 0;
    if (period == kPeriodMultiDay) out.multiDay = std::max(1, source.MultiDay());
    if (period == kPeriodTime) flags |= kExRightsNone;
    const int wantedDays = days ? std::max(1, *days) : 1;
    if (days) *days = 0;

    bool breadth = false;
    if (IsDerivedCode(id.codeText(), breadth)) return LoadDerived(source, id, period, out, flags, days, breadth);

    SecurityState state;
    const bool known = source.Security(id, state, !(flags & kExRightsNone));
    if (known) {
        out.entry = state.entry;
        out.quote = state.quote;
        out.capitalChanges = std::move(state.capitalChanges);
        out.exRights = std::move(state.exRights);
    } else {
        out.entry.id = id;
        out.entry.securityClass = ClassifyCode(id.codeText(), id.market);
    }
    if (flags & kExRightsNone) out.exRights.clear();
    const bool isIndex = out.entry.securityClass == kClassIndex;
    const QuoteSnapshot& q = out.quote;
    const StoreTime snapshotTime = q.bar.time;
    const bool hasSnapshot = snapshotTime != 0;
    const uint32_t today = StoreDay(snapshotTime);

    // Today's data.
    Series live;
    if (known) {
        if (period == kPeriodTick)
            source.TodayTicks(id, live);
        else if (IsIntradayPeriod(period))
            source.TodayMinutes(id, live);
    }

    // The history base, adjusted against the snapshot's time.
    Series& base = ThreadBase();
    base.clear();
    struct GiveBackLarge {
        Series& base;
        ~GiveBackLarge() {
            if (base.bars.capacity() > kKeptBaseBars) base = Series{};
        }
    } giveBack{base};
    Period stored = period == kPeriodMin1 ? kPeriodMin1
                    : (period >= kPeriodMin5 && period <= kPeriodMin60) ? kPeriodMin5
                    : IsDayBasedPeriod(period)                           ? kPeriodDay
                    : (period == kPeriodTime && wantedDays > 1)          ? kPeriodMin1
                                                                         : kPeriodInvalid;
    const bool dayBased = period != kPeriodTick && !IsIntradayPeriod(period);
    const bool barsOnly = (flags & kLoadBarsOnly) && period == kPeriodDay;
    if (barsOnly) {
        if (!source.HistoryBars(id, stored, base)) return 0;
        base.orderBooks.clear();
        base.trades.clear();
        base.capital.clear();
    } else if (stored != kPeriodInvalid && !source.History(id, stored, base, out.capitalChanges)) {
        return 0;
    }
    if (!known && base.empty()) return 0;
    // Day-based series are adjusted once, today's bar included, below.
    if (!dayBased) AdjustBars(out, base.bars.data(), base.size(), snapshotTime, flags);

    // Live data replace the base bars of the snapshot's day. A snapshot older than the
    // history's newest day (a store not yet updated after a download) is stale: the
    // history stays whole and the stale day is not put after it.
    bool liveCurrent = true;
    if (hasSnapshot) {
        if (!base.empty() && StoreDay(base.bars.back().time) > today)
            liveCurrent = false;
        else
            DropDayFromEnd(base, today);
    }

    if (period == kPeriodTick) {
        SwapArrays(live, out);
    } else if (IsIntradayPeriod(period)) {
        // The previous close belongs to the last trading day before today.
        const StoreTime before = !base.empty() ? base.bars.back().time
                                               : static_cast<StoreTime>(int64_t{today} * kSecondsPerDay - 1);
        if (period == kPeriodMin15 || period == kPeriodMin30 || period == kPeriodMin60)
            GroupIntradayBars(base, period, isIndex, out);
        else
            SwapArrays(base, out);
        if (liveCurrent) {
            // Today's minutes, previous close and open in the terms of the adjusted base.
            float prevClose = q.prevClose, open = q.bar.open;
            if (!(flags & kExRightsNone) && !out.exRights.empty() && hasSnapshot) {
                prevClose = AdjustedPrice(out, prevClose, before, snapshotTime, flags);
                open = AdjustedPrice(out, open, snapshotTime, snapshotTime, flags);
                AdjustBars(out, live.bars.data(), live.size(), snapshotTime, flags);
            }
            AppendTicksToSeries(out, live, prevClose, open);
        }
        if (period == kPeriodTime) {
            MinuteExtraTable extras;
            if (hasSnapshot && liveCurrent && source.MinuteExtras(id, extras)) ApplyMinuteExtras(out, today, extras);
            int kept = KeepNewestDays(out, wantedDays);
            if (days) *days = kept;
        }
    } else {
        if (liveCurrent && !IsZero(q.bar.open) && !IsZero(q.bar.high) && !IsZero(q.bar.low) &&
            !IsZero(q.bar.close)) {
            KLineRecord bar = q.bar;
            bar.count1 = bar.count2 = 0;
            if (barsOnly) {
                base.bars.push_back(bar);
            } else {
                size_t at = base.push(bar);
                base.orderBooks[at] = q.book;
                base.trades[at] = q.lastTrade;
                base.capital[at] = q.capital;
            }
        }
        // The newest time is the snapshot's either way: today's bar carries its time.
        AdjustBars(out, base.bars.data(), base.size(), snapshotTime, flags);
        if (!barsOnly) ApplyExtraDayRecords(base, source.Extra(id));
        if (period == kPeriodDay) {
            SwapArrays(base, out);
            out.lastBarDays = out.empty() ? 0 : 1;
        } else {
            GroupDayBars(base, period, out.multiDay, isIndex, out);
        }
    }
    return 1;
}

// ---- StoreSeriesSource -------------------------------------------------------------

bool StoreSeriesSource::Security(const SecurityId& id, SecurityState& out, bool withExRights) const {
    // A full record is copied so that the entry and the snapshot come from one lock.
    auto record = std::make_unique<StockRecord>();
    if (!store_.GetRecord(id, *record, withExRights ? &out.exRights : nullptr)) return false;
    out.entry = record->entry;
    out.quote = record->quote;
    out.capitalChanges = store_.GetCapitalChanges(id);
    return true;
}

void StoreSeriesSource::TodayTicks(const SecurityId& id, Series& out) const { store_.GetTicks(id, out); }

void StoreSeriesSource::TodayMinutes(const SecurityId& id, Series& out) const { store_.GetMinutes(id, out); }

bool StoreSeriesSource::History(const SecurityId& id, Period stored, Series& out,
                                std::span<const CapitalChange> capitalChanges) const {
    return LoadHistory(paths_, id, stored, out, capitalChanges);
}

bool StoreSeriesSource::HistoryBars(const SecurityId& id, Period stored, Series& out) const {
    return LoadHistory(paths_, id, stored, out, {}, true);
}

std::vector<ExtraDayRecord> StoreSeriesSource::Extra(const SecurityId& id) const { return LoadExtra(paths_, id); }

bool StoreSeriesSource::MinuteExtras(const SecurityId& id, MinuteExtraTable& out) const {
    std::optional<int32_t> key = SecurityToPacked(id);
    return key && store_.GetMinuteExtra(*key, out);
}

}  // namespace tessaro
