// LoadSeries: the one way every module reads bars. It merges a security's history
// file, today's data from the market store and the chosen ex-rights adjustment, and
// groups the bars into the asked period.
//
// Where the data come from is a SeriesSource; StoreSeriesSource reads the market store
// and the history files. LoadSeries keeps nothing but a per-thread scratch buffer for
// the history it reads, and loading into the same Series again reuses that Series'
// buffers: it may run on any number of threads at once as long as the source's
// operations are thread-safe (each copies its data out under the right lock). A source
// must not call LoadSeries from inside its own operations.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "market/exrights_adjust.h"
#include "market/history.h"
#include "market/market_store.h"
#include "market/periods.h"
#include "market/records.h"
#include "market/series.h"

namespace tessaro {

// The per-minute figures of a security (market_store.h): MinuteExtra, 242 a day.
using MinuteExtraTable = MinuteExtraDay;

// What LoadSeries copies of a security under its market's lock.
struct SecurityState {
    CodeEntry entry;
    QuoteSnapshot quote;
    std::vector<CapitalChange> capitalChanges;
    std::vector<ExRightsRecord> exRights;
};

class SeriesSource {
public:
    virtual ~SeriesSource() = default;
    // The security's entry, snapshot and lists (ex-rights only when asked); false when
    // the store does not know the security.
    virtual bool Security(const SecurityId& id, SecurityState& out, bool withExRights) const = 0;
    // Today's ticks and minute bars as series (the market store's GetTicks / GetMinutes).
    virtual void TodayTicks(const SecurityId& id, Series& out) const = 0;
    virtual void TodayMinutes(const SecurityId& id, Series& out) const = 0;
    // The history file of period 3, 4 or 8 with capital data per bar; false on a read error.
    virtual bool History(const SecurityId& id, Period stored, Series& out,
                         std::span<const CapitalChange> capitalChanges) const = 0;
    // The history's bars alone; the other per-bar arrays may be left empty.
    virtual bool HistoryBars(const SecurityId& id, Period stored, Series& out) const {
        return History(id, stored, out, {});
    }
    // The daily extra records (.exd), oldest first.
    virtual std::vector<ExtraDayRecord> Extra(const SecurityId& id) const = 0;
    // A copy of the security's per-minute figures; false when it has none.
    virtual bool MinuteExtras(const SecurityId& id, MinuteExtraTable& out) const = 0;
    // The day count N of the multi-day period ("MultiDay").
    virtual int MultiDay() const { return kDefaultMultiDay; }
};

// The source every program uses: the market store for today's data and the lists, the
// history files of the application directory for the rest.
class StoreSeriesSource : public SeriesSource {
public:
    StoreSeriesSource(const MarketStore& store, AppPaths paths, int multiDay = kDefaultMultiDay)
        : store_(store), paths_(std::move(paths)), multiDay_(multiDay) {}

    bool Security(const SecurityId& id, SecurityState& out, bool withExRights) const override;
    void TodayTicks(const SecurityId& id, Series& out) const override;
    void TodayMinutes(const SecurityId& id, Series& out) const override;
    bool History(const SecurityId& id, Period stored, Series& out,
                 std::span<const CapitalChange> capitalChanges) const override;
    bool HistoryBars(const SecurityId& id, Period stored, Series& out) const override;
    std::vector<ExtraDayRecord> Extra(const SecurityId& id) const override;
    bool MinuteExtras(const SecurityId& id, MinuteExtraTable& out) const override;
    int MultiDay() const override { return multiDay_; }

private:
    const MarketStore& store_;
    AppPaths paths_;
    int multiDay_;
};

// Only the bars of a day series: its order books, trade and capital data stay empty.
// For callers that read none of them (a formula that reads only prices, volumes and
// amounts); other periods ignore it.
inline constexpr int kLoadBarsOnly = 0x80;

// Loads the series of `id` in `period`. flags: kExRightsNone (bit 0), kExRightsBackward
// (bit 1), forward by default, kLoadBarsOnly; the time-sharing period is never adjusted. `days`, for the
// time-sharing period, is the number of days wanted (history is read from 2 on) and
// returns the days delivered. Today's data replace the history's bars of the snapshot's
// day; a snapshot older than the history's newest day is stale and left out. Live
// prices are adjusted into the terms of the history (the previous close as a price of
// the last trading day before today). Returns non-zero on success; 0 for an invalid period, a
// security known neither to the store nor to its history, a history read error, or a
// derived series (999997, 999998) without the composite index 999999.
int LoadSeries(const SeriesSource& source, const SecurityId& id, Period period, Series& out, int flags,
               int* days = nullptr);

// ---- The steps, exposed for the charts and the tests ---------------------------------

// Groups stored five-minute bars into 15-, 30- or 60-minute bars by the slot their label
// falls in; a group never spans two days. Periods 3, 4 and 14 copy the bars as they are.
// The output bar: first open, highest high, lowest low, last close, summed volume, amount
// and trade data, the last bar's capital, the time of its slot's label.
void GroupIntradayBars(const Series& in, Period period, bool isIndex, Series& out);

// Groups day bars into week, month, quarter or year bars (a new bar whenever BarDistance
// to the group's first day is positive) or multi-day bars (every `multiDay` days from the
// oldest). The output bar as above with the last bar's time and order book. The counts
// are summed in a wide type and saturate at 65535; for a security that is not an index
// the second count (the buyer-initiated percentage) is the volume-weighted average.
// out.lastBarDays gets the number of days in the last bar. Period 8 copies the bars.
void GroupDayBars(const Series& in, Period period, int multiDay, bool isIndex, Series& out);

// Copies each extra record (20 bytes) into the capital data of the day bar of the same
// day, after its two capital floats. Records of days without a bar are passed over.
void ApplyExtraDayRecords(Series& days, std::span<const ExtraDayRecord> records);

// Fills the two counts of the time-sharing bars of `day` from the per-minute figures
// (index breadth: int16 at bytes 14 and 18); bars of other days keep theirs.
void ApplyMinuteExtras(Series& series, uint32_t day, const MinuteExtraTable& extras);

// Keeps the bars of the newest `days` days; returns the number of days kept.
int KeepNewestDays(Series& series, int days);

// The smoothed amount A of the derived series over the bars of 999999: A = amount of
// the first bar, then (9 A + amount) / 10; 999997 takes (p * 10000 - A * 1e-7) * 1e-4,
// 999998 takes A * 1e-7 * p * 1e-4 for each of open, high, low and close.
void DeriveSeries(Series& series, bool breadth999998);

}  // namespace tessaro
