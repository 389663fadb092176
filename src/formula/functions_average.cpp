// Moving averages (MA, EMA, SMA, DMA) and the window statistics (STD, STDP, VAR, VARP,
// AVEDEV, DEVSQ, FORCAST).
//
// Running sums are kept in double. The statistics sum the values relative to the first
// value of the range: variance does not change under a shift, and a flat series then sums
// exact zeros, so its deviation is exactly 0 rather than the residue of a cancellation.
#include <cmath>

#include "formula/functions_internal.h"

namespace tessaro::fn {
namespace {

bool Ma(FunctionContext& ctx, std::span<FormulaValue> args, FormulaValue& out) {
    BroadcastToSeries(ctx, args[0]);
    Operand x = Read(args[0]);
    int32_t len = ClampN(args[1].number);
    if (len <= 0) {
        out = FormulaValue::EmptySeries(x.count, ctx.pool);
        return true;
    }
    out = NewSeries(ctx, x.count, OffsetBegin(x.begin, static_cast<int64_t>(len) - 1));
    if (out.begin >= x.count) return true;
    float* o = out.data();
    const float* p = x.p;
    double sum = 0;
    int32_t i = x.begin;
    for (; i < out.begin; ++i) sum += p[i];
    const double n = len;
    for (; i < x.count; ++i) {
        sum += p[i];
        o[i] = static_cast<float>(sum / n);
        sum -= p[i - len + 1];
    }
    return true;
}

// EMA and SMA: the first point of the range seeds the recursion and is not itself valid.
bool Smoothed(FunctionContext& ctx, std::span<FormulaValue> args, FormulaValue& out, double wNew, double wOld,
              double divisor) {
    Operand x = Read(args[0]);
    out = NewSeries(ctx, x.count, OffsetBegin(x.begin, 1));
    if (x.begin >= x.count) return true;
    float* o = out.data();
    const float* p = x.p;
    // Y = (wNew * X + wOld * Y') / divisor with the division folded into the weights: the
    // recursion's critical path is then one multiply and one add per bar.
    const double a = wNew / divisor, b = wOld / divisor;
    double prev = p[x.begin];
    o[x.begin] = p[x.begin];
    for (int32_t i = x.begin + 1; i < x.count; ++i) {
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

// STD, STDP, VAR, VARP and DEVSQ from the window sums S1 = sum(x) and S2 = sum(x*x):
// N*S2 - S1^2 is N times the sum of squared deviations.
enum class Statistic { kStd, kStdp, kVar, kVarp, kDevsq };

template <Statistic kWhich>
void WindowStatisticLoop(const float* p, int32_t begin, int32_t first, int32_t count, int32_t len, float* o) {
    const double shift = p[begin];
    const double n = len;
    const double scale = kWhich == Statistic::kStd || kWhich == Statistic::kVar ? 1.0 / (n * (n - 1))
                         : kWhich == Statistic::kDevsq                          ? 1.0 / n
                                                                                : 1.0 / (n * n);
    double s1 = 0, s2 = 0;
    int32_t i = begin;
    for (; i < first; ++i) {
        double v = p[i] - shift;
        s1 += v;
        s2 += v * v;
    }
    for (; i < count; ++i) {
        double v = p[i] - shift;
        s1 += v;
        s2 += v * v;
        double r = (n * s2 - s1 * s1) * scale;
        if constexpr (kWhich == Statistic::kStd || kWhich == Statistic::kStdp) r = std::sqrt(std::max(0.0, r));
        if constexpr (kWhich == Statistic::kDevsq) r = std::max(0.0, r);
        o[i] = static_cast<float>(r);
        double old = p[i - len + 1] - shift;
        s1 -= old;
        s2 -= old * old;
    }
}

bool WindowStatistic(int id, FunctionContext& ctx, std::span<FormulaValue> args, FormulaValue& out) {
    BroadcastToSeries(ctx, args[0]);
    Operand x = Read(args[0]);
    int32_t len = ClampN(args[1].number);
    if (len < 2) {
        out = FormulaValue::EmptySeries(x.count, ctx.pool);
        return true;
    }
    out = NewSeries(ctx, x.count, OffsetBegin(x.begin, static_cast<int64_t>(len) - 1));
    if (out.begin >= x.count) return true;
    float* o = out.data();
    switch (id) {
        case kFnStd: WindowStatisticLoop<Statistic::kStd>(x.p, x.begin, out.begin, x.count, len, o); break;
        case kFnStdp: WindowStatisticLoop<Statistic::kStdp>(x.p, x.begin, out.begin, x.count, len, o); break;
        case kFnVar: WindowStatisticLoop<Statistic::kVar>(x.p, x.begin, out.begin, x.count, len, o); break;
        case kFnVarp: WindowStatisticLoop<Statistic::kVarp>(x.p, x.begin, out.begin, x.count, len, o); break;
        default: WindowStatisticLoop<Statistic::kDevsq>(x.p, x.begin, out.begin, x.count, len, o); break;
    }
    return true;
}

// AVEDEV: the mean absolute deviation has no running form; each window is summed again.
bool AveDev(FunctionContext& ctx, std::span<FormulaValue> args, FormulaValue& out) {
    BroadcastToSeries(ctx, args[0]);
    Operand x = Read(args[0]);
    int32_t len = ClampN(args[1].number);
    if (len < 2) {
        out = FormulaValue::EmptySeries(x.count, ctx.pool);
        return true;
    }
    out = NewSeries(ctx, x.count, OffsetBegin(x.begin, static_cast<int64_t>(len) - 1));
    float* o = out.data();
    for (int32_t i = out.begin; i < x.count; ++i) {
        double sum = 0;
        for (int32_t k = i - len + 1; k <= i; ++k) sum += x.p[k];
        double mean = sum / len, dev = 0;
        for (int32_t k = i - len + 1; k <= i; ++k) dev += std::fabs(x.p[k] - mean);
        o[i] = static_cast<float>(dev / len);
    }
    return true;
}

// FORCAST: the least-squares line through the window (positions 1..N) taken at the current bar.
// St = sum(t * x_t) slides as St' = St - S1 + N * x_new.
bool Forcast(FunctionContext& ctx, std::span<FormulaValue> args, FormulaValue& out) {
    BroadcastToSeries(ctx, args[0]);
    Operand x = Read(args[0]);
    int32_t len = ClampN(args[1].number);
    if (len <= 0) {
        out = FormulaValue::EmptySeries(x.count, ctx.pool);
        return true;
    }
    out = NewSeries(ctx, x.count, OffsetBegin(x.begin, static_cast<int64_t>(len) - 1));
    if (out.begin >= x.count) return true;
    float* o = out.data();
    const float* p = x.p;
    const double shift = p[x.begin];
    const double n = len, tMean = (n + 1) / 2, tSpread = n * (n * n - 1) / 12;  // sum((t - tMean)^2)
    double s1 = 0, st = 0;
    int32_t i = x.begin;
    for (; i < out.begin; ++i) {
        double v = p[i] - shift;
        s1 += v;
        st += (i - x.begin + 1) * v;
    }
    for (; i < x.count; ++i) {
        double v = p[i] - shift;
        if (i == out.begin) {
            s1 += v;
            st += n * v;
        }
        double mean = s1 / n;
        double slope = std::fabs(tSpread) <= 0.000001 ? 0.0 : (st - n * mean * tMean) / tSpread;
        o[i] = static_cast<float>(mean - tMean * slope + n * slope + shift);
        if (i + 1 < x.count) {  // slide: drop the oldest bar, every position moves down by one
            double next = p[i + 1] - shift;
            double old = p[i - len + 1] - shift;
            st = st - s1 + n * next;
            s1 = s1 - old + next;
        }
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
        case kFnStd: case kFnStdp: case kFnVar: case kFnVarp: case kFnDevsq:
            return WindowStatistic(id, ctx, args, out);
        case kFnAvedev: return AveDev(ctx, args, out);
        case kFnForcast: return Forcast(ctx, args, out);
        default: return false;
    }
}

}  // namespace tessaro::fn
