// SAR(N,S,M) and SARTURN(N,S,M): the parabolic stop-and-reverse over the evaluated bars, with N
// bars of initial look-back, step S and maximum M (both in percent).
//
// The stop is "above" the prices (falling towards the lowest low) or "below" them (rising towards
// the highest high). d and c are the bars of the highest high and lowest low, extended bar by bar
// and rescanned over the last N bars only when a reversal finds them too old. SARTURN gives -1 where
// the stop turns above the prices, 1 where it turns below, 0 elsewhere.
#include "formula/functions_internal.h"

namespace tessaro::fn {
namespace {

struct Bars {
    const KLineRecord* bars;
    float high(int32_t i) const { return bars[i].high; }
    float low(int32_t i) const { return bars[i].low; }
    float close(int32_t i) const { return bars[i].close; }
};

}  // namespace

bool SarFunction(int id, FunctionContext& ctx, std::span<FormulaValue> args, FormulaValue& out) {
    const int32_t count = ctx.barCount();
    const int32_t look = ClampN(args[0].number);
    const int32_t step = ClampN(args[1].number);
    const int32_t limit = ClampN(args[2].number);
    if (look < 2 || look >= count || step < 1) {
        out = FormulaValue::EmptySeries(count, ctx.pool);
        return true;
    }
    const bool turns = id == kFnSarTurn;
    const Bars b{ctx.series->bars.data()};
    out = NewSeries(ctx, count, look - 1);
    float* o = out.data();

    // Extremes of the first N bars; ties keep the earlier bar. hd and lc cache high[d] and low[c].
    int32_t d = 0, c = 0;
    double hd = 0, lc = 0;
    auto rescan = [&](int32_t from, int32_t to) {
        d = c = from;
        for (int32_t k = from + 1; k <= to; ++k) {
            if (b.high(k) > b.high(d)) d = k;
            if (b.low(k) < b.low(c)) c = k;
        }
        hd = b.high(d);
        lc = b.low(c);
    };
    rescan(0, look - 1);

    bool above = b.close(look) > b.close(0);
    double sar = above ? hd : lc;
    o[look - 1] = turns ? (above ? -1.0f : 1.0f) : static_cast<float>(sar);

    double accel = step;
    bool pending = false;
    for (int32_t i = look; i < count;) {
        const int32_t prev = i - 1;
        // Extend the extremes with the previous bar (selects rather than branches: in a trend
        // they change every few bars at random).
        const double hp = b.high(prev), lp = b.low(prev);
        const bool newHigh = hp > hd, newLow = lp < lc;
        d = newHigh ? prev : d;
        hd = newHigh ? hp : hd;
        c = newLow ? prev : c;
        lc = newLow ? lp : lc;
        if (pending) {
            if (prev - d > look - 1 || prev - c > look - 1) rescan(i - look, prev);
            // The stop restarts at the extreme on the far side of the prices.
            sar = above ? hd : lc;
            accel = step;
            pending = false;
            o[i] = turns ? (above ? -1.0f : 1.0f) : static_cast<float>(sar);
            ++i;
            continue;
        }
        const double hi = b.high(i), lo = b.low(i);
        bool holds;
        if (above) {
            accel = std::min<double>(accel + (lo <= lc ? step : 0), limit);
            sar += accel * (lc - sar) * 0.01;
            holds = hi < sar;
        } else {
            accel = std::min<double>(accel + (hi >= hd ? step : 0), limit);
            sar += accel * (hd - sar) * 0.01;
            holds = sar < lo;
        }
        if (holds) {
            o[i] = turns ? 0.0f : static_cast<float>(sar);
            ++i;
            continue;
        }
        // The prices reached the stop: reverse and process this bar again.
        above = !above;
        pending = true;
    }
    return true;
}

}  // namespace tessaro::fn
