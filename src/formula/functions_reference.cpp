// Reference functions: REF, COUNT, SUM, the HHV/LLV family, the BARS* counters, CROSS and
// LONGCROSS, the PERSIST* family, BACKSET, FILTER and SUMBARS.
//
// Every windowed function is O(n) whatever a constant N: running sums in double, and HHV/LLV
// through a monotonic deque that keeps the earliest of equal extremes. A series N costs at most
// O(log n) per bar (prefix sums, a monotonic stack searched by window start).
#include <cmath>
#include <vector>

#include "formula/functions_internal.h"

namespace tessaro::fn {
namespace {

inline float Bool(bool b) { return b ? 1.0f : 0.0f; }

// ---- REF ----------------------------------------------------------------------------

bool Ref(FunctionContext& ctx, std::span<FormulaValue> args, FormulaValue& out) {
    BroadcastToSeries(ctx, args[0]);
    Operand x = Read(args[0]), n = Read(args[1]);
    if (!n.series) {
        int32_t d = std::max(ClampN(n.c), 0);
        out = NewSeries(ctx, x.count, OffsetBegin(x.begin, d));
        if (out.begin < x.count) std::copy(x.p + out.begin - d, x.p + x.count - d, out.data() + out.begin);
        return true;
    }
    Range r = Intersect({&x, &n});
    out = NewSeries(ctx, r.count, r.begin);
    float* o = out.data();
    for (int32_t i = r.begin; i < r.count; ++i) {
        int64_t j = static_cast<int64_t>(i) - std::max(ClampN(n.p[i]), 0);
        o[i] = j < x.begin ? x.p[i] : x.p[j];  // a reference before the range start reads the bar itself
    }
    return true;
}

// ---- COUNT, SUM ---------------------------------------------------------------------

template <bool kCount>
bool CountSum(FunctionContext& ctx, std::span<FormulaValue> args, FormulaValue& out) {
    BroadcastToSeries(ctx, args[0]);
    Operand x = Read(args[0]), n = Read(args[1]);
    auto term = [&](int32_t i) -> double {
        if constexpr (kCount) return IsTrue(x.p[i]) ? 1.0 : 0.0;
        else return x.p[i];
    };
    if (!n.series) {
        int32_t len = ClampN(n.c);
        if (len <= 0) {  // cumulative from the range start
            out = NewSeries(ctx, x.count, x.begin);
            float* o = out.data();
            double sum = 0;
            for (int32_t i = x.begin; i < x.count; ++i) o[i] = static_cast<float>(sum += term(i));
            return true;
        }
        out = NewSeries(ctx, x.count, OffsetBegin(x.begin, static_cast<int64_t>(len) - 1));
        float* o = out.data();
        double sum = 0;
        if (kCount || AllFinite(x.p, x.begin, x.count)) {
            for (int32_t i = x.begin; i < x.count; ++i) {
                sum += term(i);
                if (static_cast<int64_t>(i) - len >= x.begin) sum -= term(i - len);
                if (i >= out.begin) o[i] = static_cast<float>(sum);
            }
            return true;
        }
        // Non-finite points count separately, so the sum recovers once they leave the window.
        NonFiniteCount bad;
        for (int32_t i = x.begin; i < x.count; ++i) {
            sum += bad.Track(x.p[i], 1);
            if (static_cast<int64_t>(i) - len >= x.begin) sum -= bad.Track(x.p[i - len], -1);
            if (i >= out.begin) o[i] = bad.any() ? bad.Sum() : static_cast<float>(sum);
        }
        return true;
    }
    // A series N: the n bars ending at each bar, 0 when they would start before the range.
    Range r = Intersect({&x, &n});
    out = NewSeries(ctx, r.count, r.begin);
    if (r.begin >= r.count) return true;
    // prefix[k]: the sum over bars x.begin .. x.begin+k-1 of the finite terms; non-finite points
    // are counted in `bad` so that a window holding one gives what its plain sum would.
    const size_t m = static_cast<size_t>(r.count - x.begin) + 1;
    std::vector<double> prefix(m, 0.0);
    const bool finite = kCount || AllFinite(x.p, x.begin, r.count);
    std::vector<NonFiniteCount> bad(finite ? 0 : m);
    for (int32_t i = x.begin; i < r.count; ++i) {
        size_t k = static_cast<size_t>(i - x.begin);
        if (finite) {
            prefix[k + 1] = prefix[k] + term(i);
        } else {
            bad[k + 1] = bad[k];
            prefix[k + 1] = prefix[k] + bad[k + 1].Track(x.p[i], 1);
        }
    }
    float* o = out.data();
    for (int32_t i = r.begin; i < r.count; ++i) {
        int32_t len = std::max(ClampN(n.p[i]), 0);
        int64_t start = static_cast<int64_t>(i) - len + 1;
        if (len == 0 || start < x.begin) {
            o[i] = 0.0f;
            continue;
        }
        size_t hi = static_cast<size_t>(i - x.begin + 1), lo = static_cast<size_t>(start - x.begin);
        if (!finite) {
            NonFiniteCount window;
            window.nan = bad[hi].nan - bad[lo].nan;
            window.pos = bad[hi].pos - bad[lo].pos;
            window.neg = bad[hi].neg - bad[lo].neg;
            if (window.any()) {
                o[i] = window.Sum();
                continue;
            }
        }
        o[i] = static_cast<float>(prefix[hi] - prefix[lo]);
    }
    return true;
}

// ---- HHV, LLV, HHVBARS, LLVBARS -------------------------------------------------------

// The window extreme's value for a window of len > 0 bars without NaN, branch-free: the range
// is cut into blocks of len bars; g runs forward within each block and h backward, and the
// window ending at i is covered by h at its first bar and g at i. Every tie prefers the earlier
// bar, so the value is bit for bit that of the earliest extreme (+0 and -0 included).
template <class Better>
void ExtremeValueBlocks(const float* x, int32_t rs, int32_t count, int32_t len, float* o, Better better) {
    if (rs >= count) return;
    std::vector<float> h(static_cast<size_t>(count - rs));
    float* hb = h.data() - rs;  // indexed like x
    for (int64_t start = rs; start < count; start += len) {
        int32_t end = static_cast<int32_t>(std::min<int64_t>(count, start + len));
        float g = x[start];
        o[start] = g;
        for (int32_t i = static_cast<int32_t>(start) + 1; i < end; ++i) {
            g = better(x[i], g) ? x[i] : g;
            o[i] = g;
        }
        float r = x[end - 1];
        hb[end - 1] = r;
        for (int32_t i = end - 2; i >= start; --i) {
            r = better(r, x[i]) ? r : x[i];
            hb[i] = r;
        }
    }
    // o holds g; windows that start after the range start combine h at the window start with g.
    int64_t first = static_cast<int64_t>(rs) + len - 1;
    for (int64_t i = std::max<int64_t>(first, rs); i < count; ++i) {
        float left = hb[i - len + 1], right = o[i];
        o[i] = better(right, left) ? right : left;
    }
}

// Fills o[i] for i in [rs, count) with the window extreme (kBars: the distance to it).
// `better(a, b)` is the strict comparison (a > b for highs). Ties keep the earliest bar.
template <bool kBars, class Better>
void ExtremeConstant(const float* x, int32_t rs, int32_t count, int32_t len, float* o, Better better) {
    bool hasNaN = false;
    for (int32_t i = rs; i < count && !hasNaN; ++i) hasNaN = std::isnan(x[i]);
    if (hasNaN) {
        // NaN breaks the ordering the deque relies on: follow the plain track-and-rescan walk.
        int32_t b = rs;
        for (int32_t i = rs; i < count; ++i) {
            if (better(x[i], x[b])) b = i;
            if (len > 0 && static_cast<int64_t>(b) + len - 1 < i) {
                b = std::max<int32_t>(rs, i - len + 1);
                for (int32_t k = b + 1; k <= i; ++k)
                    if (better(x[k], x[b])) b = k;
            }
            o[i] = kBars ? static_cast<float>(i - b) : x[b];
        }
        return;
    }
    if (len <= 0) {  // since the range start
        int32_t b = rs;
        for (int32_t i = rs; i < count; ++i) {
            if (better(x[i], x[b])) b = i;
            o[i] = kBars ? static_cast<float>(i - b) : x[b];
        }
        return;
    }
    if constexpr (!kBars) {
        ExtremeValueBlocks(x, rs, count, len, o, better);
        return;
    }
    // A range that starts past its end has nothing to fill (and would size the ring below).
    if (rs >= count) return;
    // Monotonic deque of indexes (a power-of-two ring): values never improve towards the back
    // and equal values stay in order, so the front is the earliest extreme of the window.
    size_t need = static_cast<size_t>(std::min<int64_t>(len, count - rs)) + 1, cap = 1;
    while (cap < need) cap <<= 1;
    const size_t mask = cap - 1;
    std::vector<int32_t> dq(cap);
    size_t head = 0, size = 0;
    for (int32_t i = rs; i < count; ++i) {
        while (size > 0 && better(x[i], x[dq[(head + size - 1) & mask]])) --size;
        dq[(head + size) & mask] = i;
        ++size;
        while (static_cast<int64_t>(dq[head]) + len - 1 < i) {
            head = (head + 1) & mask;
            --size;
        }
        int32_t b = dq[head];
        o[i] = kBars ? static_cast<float>(i - b) : x[b];
    }
}

template <bool kBars, class Better>
bool Extreme(FunctionContext& ctx, std::span<FormulaValue> args, FormulaValue& out, Better better) {
    BroadcastToSeries(ctx, args[0]);
    Operand x = Read(args[0]), n = Read(args[1]);
    if (!n.series) {
        out = NewSeries(ctx, x.count, x.begin);
        ExtremeConstant<kBars>(x.p, x.begin, x.count, ClampN(n.c), out.data(), better);
        return true;
    }
    Range r = Intersect({&x, &n});
    out = NewSeries(ctx, r.count, r.begin);
    float* o = out.data();
    if (r.begin >= r.count) return true;
    if (!AllFinite(x.p, r.begin, r.count)) {
        // NaN breaks the ordering the stack relies on: scan each window as the walk would.
        for (int32_t i = r.begin; i < r.count; ++i) {
            int32_t len = ClampN(n.p[i]);
            int64_t start = static_cast<int64_t>(i) - len + 1;
            if (len < 2 || start < r.begin) {
                o[i] = kBars ? 0.0f : x.p[i];
                continue;
            }
            int32_t b = static_cast<int32_t>(start);
            for (int32_t k = b + 1; k <= i; ++k)
                if (better(x.p[k], x.p[b])) b = k;
            o[i] = kBars ? static_cast<float>(i - b) : x.p[b];
        }
        return true;
    }
    // Windows of any length: a stack of the bars that no later bar beats (values never improve
    // towards its top, equal values stay in order). The earliest extreme of [start, i] is the first
    // stack entry at or after start: every bar in between that is not on the stack was beaten by a
    // later one, so O(log n) per bar whatever the windows.
    std::vector<int32_t> stack;
    stack.reserve(static_cast<size_t>(r.count - r.begin));
    for (int32_t i = r.begin; i < r.count; ++i) {
        while (!stack.empty() && better(x.p[i], x.p[stack.back()])) stack.pop_back();
        stack.push_back(i);
        int32_t len = ClampN(n.p[i]);
        int64_t start = static_cast<int64_t>(i) - len + 1;
        if (len < 2 || start < r.begin) {
            o[i] = kBars ? 0.0f : x.p[i];
            continue;
        }
        int32_t b = *std::lower_bound(stack.begin(), stack.end(), static_cast<int32_t>(start));
        o[i] = kBars ? static_cast<float>(i - b) : x.p[b];
    }
    return true;
}

// ---- BARSSINCE, BARSLAST, BARSCOUNT ---------------------------------------------------

bool BarsSince(FunctionContext& ctx, std::span<FormulaValue> args, FormulaValue& out, bool last) {
    BroadcastToSeries(ctx, args[0]);
    Operand x = Read(args[0]);
    int32_t first = x.begin;
    while (first < x.count && !IsTrue(x.p[first])) ++first;
    out = NewSeries(ctx, x.count, first);
    float* o = out.data();
    int32_t mark = first;
    for (int32_t i = first; i < x.count; ++i) {
        if (last && IsTrue(x.p[i])) mark = i;
        o[i] = static_cast<float>(i - mark);
    }
    return true;
}

bool BarsCount(FunctionContext& ctx, std::span<FormulaValue> args, FormulaValue& out) {
    BroadcastToSeries(ctx, args[0]);
    Operand x = Read(args[0]);
    out = NewSeries(ctx, x.count, x.begin);
    float* o = out.data();
    for (int32_t i = x.begin; i < x.count; ++i) o[i] = static_cast<float>(i - x.begin + 1);
    return true;
}

// ---- CROSS, LONGCROSS, PERSIST* -------------------------------------------------------

bool Cross(FunctionContext& ctx, std::span<FormulaValue> args, FormulaValue& out) {
    Operand a = Read(args[0]), b = Read(args[1]);
    Range r = Intersect({&a, &b});
    if (!r.any) {
        out = FormulaValue::Number(0.0f);  // two constants never cross
        return true;
    }
    out = NewSeries(ctx, r.count, OffsetBegin(r.begin, 1));
    float* o = out.data();
    if (a.series && b.series) {
        const float *pa = a.p, *pb = b.p;
        for (int32_t i = out.begin; i < r.count; ++i)
            o[i] = Bool((pa[i - 1] < pb[i - 1]) & (pa[i] > pb[i]));
    } else {
        for (int32_t i = out.begin; i < r.count; ++i) o[i] = Bool(a[i - 1] < b[i - 1] && a[i] > b[i]);
    }
    return true;
}

bool LongCross(FunctionContext& ctx, std::span<FormulaValue> args, FormulaValue& out) {
    Operand a = Read(args[0]), b = Read(args[1]);
    int32_t need = ClampN(args[2].number);
    Range r = Intersect({&a, &b});
    int64_t c = 0;
    auto step = [&](int32_t i) {
        float v = 0;
        if (a[i] >= b[i]) {
            if (a[i] > b[i] && c >= need) v = 1;
            c = 0;
        } else {
            ++c;
        }
        return v;
    };
    if (!r.any) {
        out = FormulaValue::Number(step(0));
        return true;
    }
    out = NewSeries(ctx, r.count, r.begin);
    float* o = out.data();
    for (int32_t i = r.begin; i < r.count; ++i) o[i] = step(i);
    return true;
}

bool PersistCompare(FunctionContext& ctx, std::span<FormulaValue> args, FormulaValue& out, bool greater) {
    Operand a = Read(args[0]), b = Read(args[1]);
    int32_t need = ClampN(args[2].number);
    Range r = Intersect({&a, &b});
    int64_t c = 0;
    auto step = [&](int32_t i) {
        bool holds = greater ? a[i] > b[i] : a[i] < b[i];
        c = holds ? c + 1 : 0;
        return Bool(c >= need);
    };
    if (!r.any) {
        out = FormulaValue::Number(step(0));
        return true;
    }
    out = NewSeries(ctx, r.count, r.begin);
    float* o = out.data();
    for (int32_t i = r.begin; i < r.count; ++i) o[i] = step(i);
    return true;
}

bool PersistTrend(int id, FunctionContext& ctx, std::span<FormulaValue> args, FormulaValue& out) {
    int32_t need = ClampN(args[1].number);
    int64_t c = 0;
    auto step = [&](float d) -> float {
        switch (id) {
            case kFnPersistAscent: c = d > 0 ? c + 1 : 0; return Bool(c >= need);
            case kFnPersistDescent: c = d < 0 ? c + 1 : 0; return Bool(c >= need);
            case kFnPersistTurnUp: {
                float v = Bool(c >= need && d > 0);
                c = d >= 0 ? 0 : c + 1;
                return v;
            }
            case kFnPersistTurnDown: {
                float v = Bool(c >= need && d < 0);
                c = d > 0 ? c + 1 : 0;
                return v;
            }
            default: return 0.0f;
        }
    };
    if (!args[0].isSeries()) {  // a constant never rises or falls
        out = FormulaValue::Number(step(0.0f));
        return true;
    }
    Operand x = Read(args[0]);
    out = NewSeries(ctx, x.count, OffsetBegin(x.begin, 1));
    float* o = out.data();
    for (int32_t i = out.begin; i < x.count; ++i) o[i] = step(x.p[i] - x.p[i - 1]);
    return true;
}

// ---- BACKSET, FILTER, SUMBARS --------------------------------------------------------

bool BackSet(FunctionContext& ctx, std::span<FormulaValue> args, FormulaValue& out) {
    BroadcastToSeries(ctx, args[0]);
    Operand x = Read(args[0]), n = Read(args[1]);
    Range r = Intersect({&x, &n});
    out = NewSeries(ctx, r.count, r.begin);
    float* o = out.data();
    for (int32_t i = r.begin; i < r.count; ++i) o[i] = x.p[i];
    for (int64_t i = static_cast<int64_t>(r.count) - 1; i >= r.begin;) {
        int32_t len = ClampN(n[static_cast<int32_t>(i)]);
        if (IsTrue(x.p[i]) && len > 1) {
            int64_t from = std::max<int64_t>(r.begin, i - len + 1);
            for (int64_t k = from; k < i; ++k) o[k] = 1.0f;
            i = from - 1;  // the bars just set are not examined themselves
        } else {
            --i;
        }
    }
    return true;
}

bool Filter(FunctionContext& ctx, std::span<FormulaValue> args, FormulaValue& out) {
    BroadcastToSeries(ctx, args[0]);
    Operand x = Read(args[0]);
    int64_t skip = std::max(ClampN(args[1].number), 0);
    out = NewSeries(ctx, x.count, x.begin);
    float* o = out.data();
    for (int64_t i = x.begin; i < x.count;) {
        o[i] = x.p[i];
        if (IsTrue(x.p[i])) {
            int64_t end = std::min<int64_t>(x.count, i + 1 + skip);
            for (int64_t k = i + 1; k < end; ++k) o[k] = 0.0f;
            i = end;
        } else {
            ++i;
        }
    }
    return true;
}

bool SumBars(FunctionContext& ctx, std::span<FormulaValue> args, FormulaValue& out) {
    BroadcastToSeries(ctx, args[0]);
    Operand x = Read(args[0]), a = Read(args[1]);
    if (!a.series) {
        double target = a.c;
        out = NewSeries(ctx, x.count, x.count);
        float* o = out.data();
        double sum = 0;
        int32_t start = x.begin;
        bool reached = false;
        for (int32_t i = x.begin; i < x.count; ++i) {
            sum += x.p[i];
            if (!reached) {
                if (!(sum >= target)) continue;
                reached = true;
                out.begin = i;
            }
            // The shortest window ending here whose sum still reaches the target; its start only
            // moves forward.
            while (start < i && sum - x.p[start] >= target) sum -= x.p[start++];
            o[i] = static_cast<float>(i - start + 1);
        }
        return true;
    }
    Range r = Intersect({&x, &a});
    out = NewSeries(ctx, r.count, r.begin);
    float* o = out.data();
    for (int32_t i = r.begin; i < r.count; ++i) {
        double sum = 0;
        float bars = 0;
        for (int32_t k = i; k >= x.begin; --k) {
            sum += x.p[k];
            if (sum >= a.p[i]) {
                bars = static_cast<float>(i - k + 1);
                break;
            }
        }
        o[i] = bars;  // 0 when the sum back to the range start never reaches the target
    }
    return true;
}

}  // namespace

bool ReferenceFunction(int id, FunctionContext& ctx, std::span<FormulaValue> args, FormulaValue& out) {
    auto greater = [](float a, float b) { return a > b; };
    auto smaller = [](float a, float b) { return a < b; };
    switch (id) {
        case kFnRef: return Ref(ctx, args, out);
        case kFnCount: return CountSum<true>(ctx, args, out);
        case kFnSum: return CountSum<false>(ctx, args, out);
        case kFnHhv: return Extreme<false>(ctx, args, out, greater);
        case kFnLlv: return Extreme<false>(ctx, args, out, smaller);
        case kFnHhvBars: return Extreme<true>(ctx, args, out, greater);
        case kFnLlvBars: return Extreme<true>(ctx, args, out, smaller);
        case kFnBarsSince: return BarsSince(ctx, args, out, false);
        case kFnBarsLast: return BarsSince(ctx, args, out, true);
        case kFnBarsCount: return BarsCount(ctx, args, out);
        case kFnCross: return Cross(ctx, args, out);
        case kFnLongCross: return LongCross(ctx, args, out);
        case kFnPersistGreat: return PersistCompare(ctx, args, out, true);
        case kFnPersistLess: return PersistCompare(ctx, args, out, false);
        case kFnPersistAscent: case kFnPersistDescent: case kFnPersistTurnUp: case kFnPersistTurnDown:
            return PersistTrend(id, ctx, args, out);
        case kFnBackSet: return BackSet(ctx, args, out);
        case kFnFilter: return Filter(ctx, args, out);
        case kFnSumBars: return SumBars(ctx, args, out);
        default: return false;
    }
}

}  // namespace tessaro::fn
