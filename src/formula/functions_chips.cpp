// COST(X) and WINNER(P): the chip (holding-cost) distribution over the whole series.
//
// The price range [lowest low, highest high] is cut into n buckets (bucket 0 at the top). Each bar
// turns over t = volume / circulating capital of the float: every occupied bucket keeps (1 - t) of
// its weight, and t is spread evenly over the buckets between the bar's high and low. COST(X) is the
// price below which X percent of the weight lies; WINNER(P) the weight below price P (a fraction,
// interpolated inside the bucket that holds P).
//
// Beyond the plain walk: t is taken within [0, 1] (a week's or month's bar can trade more than its
// float, and 1 - t < 0 would turn weights negative); a COST percentage that is never reached (above
// 100, or no turnover yet) leaves the point invalid instead of a price of 0, and one missed only by
// rounding takes the price where the weight is complete; WINNER covers P's valid range, and the
// share of the bucket holding P stays within [0, 1] when P lies below it.
#include <cmath>
#include <limits>
#include <vector>

#include "formula/functions_internal.h"

namespace tessaro::fn {
namespace {

constexpr double kOccupied = 0.000001;  // a bucket with more weight is part of the occupied range

struct ChipScale {
    double hi = 0, range = 0;
    int32_t n = 500;

    double Price(int32_t j) const { return hi - static_cast<double>(j) * range / n; }

    // The buckets [top, bottom) between a bar's high and low.
    void BarBuckets(float high, float low, int32_t& top, int32_t& bottom) const {
        top = 0;  // out of range or inverted: the whole scale
        bottom = n;
        if (!(range > 0)) return;
        const double ft = n * (hi - high) / range, fb = n * (hi - low) / range;
        if (!std::isfinite(ft) || !std::isfinite(fb) || ft < 0 || fb > n || ft > fb) return;
        top = static_cast<int32_t>(ft);
        bottom = static_cast<int32_t>(fb);
        if (top == bottom) {  // a bar within one bucket still covers one
            if (bottom < n) ++bottom;
            else --top;
        }
    }
};

ChipScale MakeScale(const std::vector<KLineRecord>& bars) {
    ChipScale s;
    double hi = -std::numeric_limits<double>::infinity(), lo = std::numeric_limits<double>::infinity();
    for (const KLineRecord& b : bars) {
        const double high = b.high, low = b.low;
        if (std::isfinite(high) && high > hi) hi = high;
        if (std::isfinite(low) && low < lo) lo = low;
    }
    if (!(hi >= lo)) hi = lo = 0;  // no finite prices at all
    s.hi = hi;
    s.range = hi - lo;
    // 100 buckets per yuan of range, 500 to 3000.
    s.n = s.range >= 30 ? 3000 : s.range > 0 ? std::clamp(100 * static_cast<int32_t>(s.range), 500, 3000) : 500;
    return s;
}

// Turnover of bar i: volume over the bar's circulating capital, within [0, 1]; 0 without capital.
double Turnover(const Series& s, size_t i) {
    const double capital = i < s.capital.size() ? static_cast<double>(s.capital[i].circulating) : 0.0;
    const double volume = s.bars[i].volume;
    if (std::fabs(capital) <= 0.000001) return 0.0;
    const double t = volume / capital;
    if (!(t > 0)) return 0.0;  // negative or NaN
    return std::min(t, 1.0);
}

class ChipDistribution {
public:
    explicit ChipDistribution(const ChipScale& scale) : scale_(scale), w_(static_cast<size_t>(scale.n), 0.0) {}

    // Applies bar i of the series: its turnover t moves into the buckets [top, bottom) its
    // range covers. On return [from, to] is the range of buckets the bar considered (the occupied
    // range widened to the bar's buckets).
    void ApplyBar(const Series& s, size_t i, int32_t& from, int32_t& to) {
        int32_t top, bottom;
        scale_.BarBuckets(s.bars[i].high, s.bars[i].low, top, bottom);
        const double t = Turnover(s, i);
        from = top;
        to = bottom - 1;
        if (occTop_ <= occBottom_) {
            from = std::min(from, occTop_);
            to = std::max(to, occBottom_);
        }
        double* w = w_.data();
        if (t != 0) {
            const double keep = 1 - t;
            for (int32_t j = from; j <= to; ++j) w[j] *= keep;
            const double add = t / (bottom - top);
            for (int32_t j = top; j < bottom; ++j) w[j] += add;
        }
        total_ = t + (1 - t) * total_;
        // The occupied range: from the lowest-priced bucket above the threshold to the highest one.
        occBottom_ = to;
        while (occBottom_ >= from && !(w[occBottom_] > kOccupied)) --occBottom_;
        occTop_ = from;
        while (occTop_ <= occBottom_ && !(w[occTop_] > kOccupied)) ++occTop_;
        if (occBottom_ < from) {  // nothing left
            occTop_ = 0;
            occBottom_ = -1;
        }
    }

    double total() const { return total_; }
    const double* weights() const { return w_.data(); }

private:
    ChipScale scale_;
    std::vector<double> w_;
    int32_t occTop_ = 0, occBottom_ = -1;  // empty
    double total_ = 0;
};

// COST: walking up from the lowest considered bucket, the price where the cumulative weight first
// reaches X percent of the total.
bool Cost(FunctionContext& ctx, std::span<FormulaValue> args, FormulaValue& out) {
    const int32_t count = ctx.barCount();
    const double percent = args[0].number;
    if (count == 0 || !(percent <= 100)) {  // above 100 (or NaN) is never reached
        out = FormulaValue::EmptySeries(count, ctx.pool);
        return true;
    }
    const Series& s = *ctx.series;
    const ChipScale scale = MakeScale(s.bars);
    ChipDistribution chips(scale);
    out = NewSeries(ctx, count, count);
    float* o = out.data();
    const double* w = chips.weights();
    int32_t first = count;  // the first bar with a price
    for (int32_t i = 0; i < count; ++i) {
        int32_t from, to;
        chips.ApplyBar(s, static_cast<size_t>(i), from, to);
        const double total = chips.total();
        float value = std::numeric_limits<float>::quiet_NaN();
        if (total > 0) {
            double cumulative = 0;
            int32_t lastWeighted = -1;
            for (int32_t j = to; j >= from; --j) {
                if (w[j] > 0) lastWeighted = j;
                cumulative += w[j];
                if (cumulative * 100 / total >= percent) {
                    lastWeighted = -1;
                    value = static_cast<float>(scale.Price(j));
                    break;
                }
            }
            // Missed only by rounding: the price where the cumulative weight is complete.
            if (lastWeighted >= 0) value = static_cast<float>(scale.Price(lastWeighted));
        }
        if (first == count && !std::isnan(value)) first = i;
        o[i] = value;
    }
    out.begin = first;
    return true;
}

// WINNER: the weight of the buckets priced below P, plus the share of the first bucket at or above
// P that lies below P.
bool Winner(FunctionContext& ctx, std::span<FormulaValue> args, FormulaValue& out) {
    const int32_t count = ctx.barCount();
    Operand p = Read(args[0]);
    const int32_t begin = p.series ? std::min(p.begin, count) : 0;
    const int32_t end = p.series ? std::min(p.count, count) : count;
    if (count == 0 || begin >= end) {
        out = FormulaValue::EmptySeries(count, ctx.pool);
        return true;
    }
    const Series& s = *ctx.series;
    const ChipScale scale = MakeScale(s.bars);
    ChipDistribution chips(scale);
    out = NewSeries(ctx, end, begin);
    float* o = out.data();
    const double* w = chips.weights();
    for (int32_t i = 0; i < end; ++i) {
        int32_t from, to;
        chips.ApplyBar(s, static_cast<size_t>(i), from, to);
        if (i < begin) continue;
        const double price = p[i];
        // Bucket prices rise as j falls: the buckets (j0, to] lie below P, j0 is the first at or
        // above it (binary search over the same price formula as the walk).
        int32_t lowJ = from - 1, highJ = to + 1;  // Price(highJ) < P <= Price(lowJ) bounds, exclusive
        while (highJ - lowJ > 1) {
            int32_t mid = lowJ + (highJ - lowJ) / 2;
            if (scale.Price(mid) < price) highJ = mid;
            else lowJ = mid;
        }
        double value = 0;
        for (int32_t j = to; j >= highJ; --j) value += w[j];
        const int32_t j0 = lowJ;
        if (j0 >= from) {
            const double bucketPrice = scale.Price(j0);
            double share;
            if (j0 == scale.n - 1) {
                share = bucketPrice != 0 ? price / bucketPrice : 1.0;
            } else {
                const double lower = scale.Price(j0 + 1), gap = bucketPrice - lower;
                share = std::fabs(gap) <= 0.000001 ? 1.0 : (price - lower) / gap;
            }
            if (!(share > 0)) share = 0;  // P below the bucket (or NaN): none of it
            if (share > 1) share = 1;
            value += w[j0] * share;
        }
        o[i] = static_cast<float>(value);
    }
    return true;
}

}  // namespace

bool ChipFunction(int id, FunctionContext& ctx, std::span<FormulaValue> args, FormulaValue& out) {
    if (id == kFnCost) return Cost(ctx, args, out);
    if (id == kFnWinner) return Winner(ctx, args, out);
    return false;
}

}  // namespace tessaro::fn
