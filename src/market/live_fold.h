// Folding live data into series: today's minutes or ticks into intraday bars, a
// live quote into the last bar of a day-based series, and ticks into a price ladder.
#pragma once

#include "market/records.h"
#include "market/series.h"

namespace tessaro {

// A tick as the folding functions take it is one entry of a series: the bar's time and
// its close as the trade price (open, high and low, when set, widen the bar: a minute bar
// or a snapshot carries its own range), the bar's volume and amount cumulative for the
// day, and the trade data holding the tick's own volume and amount and its direction.
// Today's ticks and minutes from the market store have this form; TickFromSnapshot makes
// one of a quote snapshot.
Series TickFromSnapshot(const QuoteSnapshot& quote);

// Folds ticks into `series` by its period:
//  2 (ticks): appended as they are;
//  3..7, 14: into bar slots of the period (periods.h), starting from the slot of the
//     series' last bar when that bar is of the tick's day; a new slot bar opens at the
//     previous close (the first bar of the day at prevClose, with `open` written into its
//     open), empty slots between ticks are filled with flat bars at the previous close;
//  8..13: by BarDistance against the last bar: before it ignored, the same bar merged,
//     later a new bar (period 13: only once the last bar holds series.multiDay days).
// Every bar touched takes series.quote.capital as its capital data. Ticks of a day older
// than the series' last bar are ignored.
void AppendTicksToSeries(Series& series, const Series& ticks, float prevClose, float open);

// One entry per distinct trade price (prices within 0.00001 are the same), highest first:
// open = high = low = close = the price, volume and amount (also in the trade data) the
// sums of that price's ticks, the trade data's sell and buy volumes split by direction.
Series BuildPriceLadder(const Series& ticks);
// Adds one quote's last trade to a ladder in the same way.
void AddToPriceLadder(Series& ladder, const QuoteSnapshot& quote);

}  // namespace tessaro
