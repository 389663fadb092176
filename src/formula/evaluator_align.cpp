#include "formula/evaluator_align.h"

#include <algorithm>
#include <vector>

#include "formula/functions_internal.h"
#include "market/periods.h"
#include "platform/store_time.h"

namespace tessaro {
namespace {

// Fineness order of the periods: tick, minutes (and time-sharing), 5..60 minutes, days (and
// multi-day bars, bucketed by day), weeks, months, quarters, years.
int Coarseness(Period period) {
    switch (period) {
        case kPeriodTick: return 0;
        case kPeriodMin1: case kPeriodTime: return 1;
        case kPeriodMin5: return 2;
        case kPeriodMin15: return 3;
        case kPeriodMin30: return 4;
        case kPeriodMin60: return 5;
        case kPeriodDay: case kPeriodMultiDay: return 6;
        case kPeriodWeek: return 7;
        case kPeriodMonth: return 8;
        case kPeriodQuarter: return 9;
        case kPeriodYear: return 10;
        default: return 6;
    }
}

std::vector<int64_t> Buckets(const Series& s, Period period) {
    std::vector<int64_t> out(s.bars.size());
    for (size_t i = 0; i < out.size(); ++i) out[i] = fn::PeriodBucket(s.bars[i].time, period);
    return out;
}

// Source points p[0..m) of which [begin, m) are valid, placed onto the bars of `to`.
FormulaValue Align(const float* p, int32_t begin, int32_t m, const Series& from, const Series& to, Period period,
                   ColumnPool* pool) {
    const int32_t n = static_cast<int32_t>(to.bars.size());
    FormulaValue out = FormulaValue::EmptySeries(n, pool);
    m = std::min<int32_t>(m, static_cast<int32_t>(from.bars.size()));
    if (n == 0 || m <= 0 || begin >= m) return out;
    const std::vector<int64_t> src = Buckets(from, period), dst = Buckets(to, period);
    float* o = out.data();
    int32_t first = n;
    bool have = false;
    float previous = 0;
    int32_t j = 0;
    for (int32_t i = 0; i < n; ++i) {
        const int64_t key = dst[i];
        while (j < m && src[j] < key) ++j;
        // The last source bar of the same bucket; j stays on the bucket's first bar for the
        // next evaluated bar, which may fall into the same bucket.
        int32_t k = j;
        while (k + 1 < m && src[k + 1] == key) ++k;
        if (j < m && src[k] == key && k >= begin) {
            previous = p[k];
            have = true;
            if (first == n) first = i;
        }
        if (have) o[i] = previous;
    }
    out.begin = first;
    return out;
}

}  // namespace

Period AlignmentPeriod(Period a, Period b) { return Coarseness(b) > Coarseness(a) ? b : a; }

FormulaValue AlignLine(const FormulaValue& line, const Series& from, const Series& to, Period bucketPeriod,
                       ColumnPool* pool) {
    const int32_t n = static_cast<int32_t>(to.bars.size());
    if (line.isNumber()) {
        FormulaValue out = FormulaValue::MakeSeries(n, 0, pool);
        std::fill(out.values.begin(), out.values.end(), line.number);
        return out;
    }
    if (!line.isSeries()) return FormulaValue::EmptySeries(n, pool);
    int32_t m = std::min<int32_t>(line.count, static_cast<int32_t>(line.values.size()));
    return Align(line.data(), std::max<int32_t>(line.begin, 0), m, from, to, bucketPeriod, pool);
}

FormulaValue AlignQuoteField(const Series& from, int field, const Series& to, Period bucketPeriod, ColumnPool* pool) {
    const int32_t m = static_cast<int32_t>(from.bars.size());
    std::vector<float> column(static_cast<size_t>(m));
    for (int32_t i = 0; i < m; ++i) {
        const KLineRecord& b = from.bars[i];
        switch (field) {
            case 0: column[i] = b.open; break;
            case 1: column[i] = b.high; break;
            case 2: column[i] = b.low; break;
            case 3: column[i] = b.close; break;
            case 4: column[i] = b.volume; break;
            default: column[i] = b.amount; break;
        }
    }
    return Align(column.data(), 0, m, from, to, bucketPeriod, pool);
}

}  // namespace tessaro
