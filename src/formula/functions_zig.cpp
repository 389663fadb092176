// ZIG(K,N): the zig-zag of price K (0 open, 1 high, 2 low, 3 or 4 close) that turns when the price
// moves back by about N percent from the last extreme.
//
// A move from a to b is "large" when |b - a| >= e * (a + b) with e = N * 0.00485, about N percent
// of the two prices' average. The walk keeps the last turning point (g, p) and the candidate
// extreme (m, h); each confirmed turn draws the straight line from (g, p) to (m, h). After the
// last bar the pending leg is drawn and the rest follows the line from the last extreme towards
// the last bar's price. N is used as given (not truncated): fractional percentages are useful and
// the threshold test below rejects those too small to mean anything.
#include <cmath>

#include "formula/functions_internal.h"

namespace tessaro::fn {

bool ZigFunction(int, FunctionContext& ctx, std::span<FormulaValue> args, FormulaValue& out) {
    const int32_t count = ctx.barCount();
    const int32_t kind = ClampN(args[0].number);
    const double e = static_cast<double>(args[1].number) * 0.00485;
    if (kind < 0 || kind > 4 || !(e >= 0.0004)) {  // NaN N is no threshold either
        out = FormulaValue::EmptySeries(count, ctx.pool);
        return true;
    }
    out = NewSeries(ctx, count, 0);
    if (count == 0) return true;
    float* o = out.data();
    const KLineRecord* bars = ctx.series->bars.data();
    auto price = [&](int32_t i) -> double {
        switch (kind) {
            case 0: return bars[i].open;
            case 1: return bars[i].high;
            case 2: return bars[i].low;
            default: return bars[i].close;
        }
    };
    auto large = [&](double a, double b) { return std::fabs(b - a) >= e * (a + b); };
    // Points from+1 .. to on the straight line from (from, a) to (to, b).
    auto leg = [&](int32_t from, double a, int32_t to, double b) {
        if (to <= from) return;  // negative prices can make a leg start and end on one bar
        const double slope = (b - a) / (to - from);
        for (int32_t j = from + 1; j <= to; ++j) o[j] = static_cast<float>(a + slope * (j - from));
    };

    enum class Direction { kNone, kUp, kDown };
    Direction dir = Direction::kNone;
    int32_t g = 0, m = 0;
    double p = price(0), h = p;
    o[0] = static_cast<float>(p);
    for (int32_t i = 0; i < count; ++i) {
        const double x = price(i);
        if (dir == Direction::kNone) {
            if (std::fabs(x - h) > e * (h + x)) {
                m = i;
                h = x;
                dir = x > p ? Direction::kUp : Direction::kDown;
            }
            continue;
        }
        if ((dir == Direction::kUp && x > h) || (dir == Direction::kDown && x < h)) {
            m = i;
            h = x;
            continue;
        }
        // A turn needs a large move back, at the price or at the bar's far end, and the price
        // itself at least 0.97 of the way.
        const double extreme = dir == Direction::kUp ? bars[i].low : bars[i].high;
        const bool turn = (large(h, x) || large(h, extreme)) && std::fabs(x - h) >= 0.97 * e * (h + x);
        if (!turn) continue;
        leg(g, p, m, h);
        g = m;
        p = h;
        m = i;
        dir = h < x ? Direction::kUp : Direction::kDown;
        h = x;
    }
    if (g < m) {
        leg(g, p, m, h);
    } else {
        m = g;
        h = p;
    }
    // The open leg from the last extreme towards the last price; nothing to draw (and no division)
    // when that extreme is the last bar.
    const int32_t last = count - 1;
    if (m < last) leg(m, h, last, price(last));
    return true;
}

}  // namespace tessaro::fn
