// Moving averages: MA as a running sum in double, EMA, SMA and DMA as recursions seeded with
// the first point of the range.
#include <cmath>

#include "formula/functions_internal.h"
#include "formula/smoothing_steps.h"

namespace tessaro::fn {
namespace {

bool Ma(FunctionContext& ctx, std::span<FormulaValue> args, FormulaValue& out) {
    Window w;
    if (!StartWindow(ctx, args, 1, w, out, /*fills=*/true)) return true;
    const Operand& x = w.x;
    const int32_t len = w.len;
    float* o = out.data();
    const float* p = x.p;
    const double n = len;
    double sum = 0;
    int32_t i = x.begin;
    if (AllFinite(p, x.begin, x.count)) {
        for (; i <= out.begin; ++i) sum += p[i];
        o[out.begin] = static_cast<float>(sum / n);
        // Each later window sum is the one before plus what enters less what leaves. Four bars
        // a step: the four sums hang off the one before them through partial sums of the
        // differences, so the chain through `sum` is one add per four bars, not two per bar.
        for (; i + 4 <= x.count; i += 4) {
            const double d0 = double{p[i]} - p[i - len], d1 = double{p[i + 1]} - p[i + 1 - len];
            const double d2 = double{p[i + 2]} - p[i + 2 - len], d3 = double{p[i + 3]} - p[i + 3 - len];
            const double d01 = d0 + d1, d012 = d01 + d2;
            o[i] = static_cast<float>((sum + d0) / n);
            o[i + 1] = static_cast<float>((sum + d01) / n);
            o[i + 2] = static_cast<float>((sum + d012) / n);
            sum += d012 + d3;
            o[i + 3] = static_cast<float>(sum / n);
        }
        for (; i < x.count; ++i) {
            sum += double{p[i]} - p[i - len];
            o[i] = static_cast<float>(sum / n);
        }
        return true;
    }
    // Non-finite points count separately, so the average recovers once they leave the window.
    NonFiniteCount bad;
    for (; i < out.begin; ++i) sum += bad.Track(p[i], 1);
    for (; i < x.count; ++i) {
        sum += bad.Track(p[i], 1);
        o[i] = bad.any() ? bad.Sum() : static_cast<float>(sum / n);
        sum -= bad.Track(p[i - len + 1], -1);
    }
    return true;
}

// EMA and SMA: the first point of the range seeds the recursion and is not itself valid.
bool Smoothed(FunctionContext& ctx, std::span<FormulaValue> args, FormulaValue& out, double wNew, double wOld,
              double divisor) {
    Operand x = Read(args[0]);
    out = NewSeriesToFill(ctx, x.count, OffsetBegin(x.begin, 1));
    if (x.begin >= x.count) return true;
    float* o = out.data();
    const float* p = x.p;
    // Y = (wNew * X + wOld * Y') / divisor with the division folded into the weights.
    const double a = wNew / divisor, b = wOld / divisor;
    double prev = p[x.begin];
    o[x.begin] = p[x.begin];
    int32_t i = x.begin + 1;
    // The four-bar steps (with b = 0 an infinite X would meet a zero weight; that case keeps
    // the plain recursion), then the bars left over one at a time.
    if (b > 0) i = SmoothingSteps(p, o, i, x.count, a, b, prev);
    for (; i < x.count; ++i) {
        prev = a * p[i] + b * prev;
        o[i] = static_cast<float>(prev);
    }
    return true;
}

bool Ema(FunctionContext& ctx, std::span<FormulaValue> args, FormulaValue& out) {
    BroadcastToSeries(ctx, args[0]);
    int32_t len = ClampN(args[1].number);
    if (len <= 0) {
        out = FormulaValue::EmptySeries(args[0].count, ctx.pool);
        return true;
    }
    return Smoothed(ctx, args, out, 2.0, len - 1.0, len + 1.0);
}

bool Sma(FunctionContext& ctx, std::span<FormulaValue> args, FormulaValue& out) {
    BroadcastToSeries(ctx, args[0]);
    int32_t len = ClampN(args[1].number);
    if (len <= 0) {
        out = FormulaValue::EmptySeries(args[0].count, ctx.pool);
        return true;
    }
    double weight = args[2].number;
    return Smoothed(ctx, args, out, weight, len - weight, len);
}

bool Dma(FunctionContext& ctx, std::span<FormulaValue> args, FormulaValue& out) {
    Operand x = Read(args[0]), a = Read(args[1]);
    if (!x.series && !a.series) {
        out = FormulaValue::Number(x.c);  // a constant is its own average
        return true;
    }
    BroadcastToSeries(ctx, args[0]);
    x = Read(args[0]);
    Range r = Intersect({&x, &a});
    out = NewSeries(ctx, r.count, OffsetBegin(r.begin, 1));
    if (r.begin >= r.count) return true;
    float* o = out.data();
    double prev = x.p[r.begin];
    o[r.begin] = x.p[r.begin];
    for (int32_t i = r.begin + 1; i < r.count; ++i) {
        double w = a[i];
        prev = w >= 1 ? static_cast<double>(x.p[i]) : w * x.p[i] + (1 - w) * prev;
        o[i] = static_cast<float>(prev);
    }
    return true;
}

}  // namespace

bool AverageFunction(int id, FunctionContext& ctx, std::span<FormulaValue> args, FormulaValue& out) {
    switch (id) {
        case kFnMa: return Ma(ctx, args, out);
        case kFnEma: return Ema(ctx, args, out);
        case kFnSma: return Sma(ctx, args, out);
        case kFnDma: return Dma(ctx, args, out);
        default: return false;
    }
}

}  // namespace tessaro::fn
