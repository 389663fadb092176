// Lines of another series brought onto the evaluated bars: a quote field of another security,
// or a line of a formula evaluated for another security or at another period.
//
// Each evaluated bar takes the point of the source bar that falls into the same period bucket
// (the last such source bar when several do; buckets as the series loader groups bars); a bar without a match repeats the previous point;
// the aligned line begins at the first matched bar. Buckets are taken at the coarser of the two
// periods, so that a weekly line shows its week's value on every day of that week and a
// five-minute line shows the day's last value on a daily chart.
#pragma once

#include <cstdint>

#include "formula/value.h"
#include "market/series.h"

#include "platform/period.h"

namespace tessaro {

// The period whose buckets compare bars of periods a and b (the coarser one; a on a tie).
Period AlignmentPeriod(Period a, Period b);

// `line` holds one point per bar of `from`; the result one point per bar of `to`. A constant
// line becomes a constant series over every bar of `to`; anything else an empty series.
FormulaValue AlignLine(const FormulaValue& line, const Series& from, const Series& to, Period bucketPeriod,
                       ColumnPool* pool);

// Quote field 0..5 (open, high, low, close, volume, amount) of the bars of `from`, aligned to `to`.
FormulaValue AlignQuoteField(const Series& from, int field, const Series& to, Period bucketPeriod, ColumnPool* pool);

}  // namespace tessaro
