// Moving averages: MA as a running sum in double, EMA, SMA and DMA as recursions seeded with
// the first point of the range.
#include <cmath>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "formula/functions_internal.h"

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
    if (b > 0) {
        // Four bars a step: Y[i+k] = sum over j <= k of a*b^(k-j)*X[i+j], plus b^(k+1)*Y[i-1].
        // The four sums do not wait for each other, so the chain from one step to the next is
        // one multiply and one add for four bars instead of for each bar. (With b = 0 an
        // infinite X would meet a zero weight; that case keeps the plain recursion.)
        const double b2 = b * b, b3 = b2 * b, b4 = b3 * b;
        const double ab = a * b, ab2 = a * b2, ab3 = a * b3;
#if defined(__SSE2__)
        // The same sums in two double lanes, term by term in the same order (a lane with no
        // term to add adds +0). Only the chain, Y[i+3] from Y[i-1], stays scalar.
        const __m128d va = _mm_set1_pd(a), vab = _mm_set1_pd(ab), vab2 = _mm_set1_pd(ab2), vab3 = _mm_set1_pd(ab3);
        const __m128d powers01 = _mm_set_pd(b2, b), powers23 = _mm_set_pd(b4, b3);
        for (; i + 3 < x.count; i += 4) {
            const __m128 xs = _mm_loadu_ps(p + i);
            const __m128d x01 = _mm_cvtps_pd(xs);
            const __m128d x23 = _mm_cvtps_pd(_mm_movehl_ps(xs, xs));
            const __m128d zx0 = _mm_unpacklo_pd(_mm_setzero_pd(), x01);  // 0, x0
            const __m128d x12 = _mm_shuffle_pd(x01, x23, 1);              // x1, x2
            const __m128d t01 = _mm_add_pd(_mm_mul_pd(va, x01), _mm_mul_pd(vab, zx0));
            __m128d t23 = _mm_add_pd(_mm_mul_pd(va, x23), _mm_mul_pd(vab, x12));
            t23 = _mm_add_pd(t23, _mm_mul_pd(vab2, x01));
            t23 = _mm_add_pd(t23, _mm_mul_pd(vab3, zx0));
            const __m128d before = _mm_set1_pd(prev);
            const __m128d y01 = _mm_add_pd(t01, _mm_mul_pd(powers01, before));
            const __m128d y23 = _mm_add_pd(t23, _mm_mul_pd(powers23, before));
            _mm_storeu_ps(o + i, _mm_movelh_ps(_mm_cvtpd_ps(y01), _mm_cvtpd_ps(y23)));
            prev = _mm_cvtsd_f64(_mm_unpackhi_pd(t23, t23)) + b4 * prev;
        }
#endif
        for (; i + 3 < x.count; i += 4) {
            const double x0 = p[i], x1 = p[i + 1], x2 = p[i + 2], x3 = p[i + 3];
            const double y0 = a * x0 + b * prev;
            const double y1 = (a * x1 + ab * x0) + b2 * prev;
            const double y2 = (a * x2 + ab * x1 + ab2 * x0) + b3 * prev;
            const double y3 = (a * x3 + ab * x2 + ab2 * x1 + ab3 * x0) + b4 * prev;
            o[i] = static_cast<float>(y0);
            o[i + 1] = static_cast<float>(y1);
            o[i + 2] = static_cast<float>(y2);
            o[i + 3] = static_cast<float>(y3);
            prev = y3;
        }
    }
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
