// Operators, math functions and the point-wise logic functions IF, BETWEEN and RANGE.
//
// All of them work bar by bar over the intersection of their series arguments ("or" over the
// union); with constants only they give a constant computed the same way.
#include <cmath>

#include "formula/functions_internal.h"

namespace tessaro::fn {
namespace {

inline float Bool(bool b) { return b ? 1.0f : 0.0f; }

// MOD: both operands truncated, remainder with the sign of the dividend; 0 for a zero divisor.
inline float Mod(float a, float b) {
    if (IsZero(b)) return 0.0f;
    double tb = std::trunc(static_cast<double>(b));
    if (tb == 0.0 || !std::isfinite(tb)) return 0.0f;
    return static_cast<float>(std::fmod(std::trunc(static_cast<double>(a)), tb));
}

// The point loops of an element-wise operator. The result may be written over an operand's own
// column; the loops then read that column through the result pointer, so that no two pointers
// they write through or read from overlap and the compiler vectorises them without a check.
template <class F>
void Apply(float* __restrict o, const float* __restrict x, const float* __restrict y, int32_t begin, int32_t count,
           F f) {
    for (int32_t i = begin; i < count; ++i) o[i] = f(x[i], y[i]);
}
template <bool OverFirst, class F>
void ApplyOver(float* __restrict o, const float* __restrict y, int32_t begin, int32_t count, F f) {
    for (int32_t i = begin; i < count; ++i) o[i] = OverFirst ? f(o[i], y[i]) : f(y[i], o[i]);
}
template <class F>
void ApplyOne(float* __restrict o, const float* __restrict x, int32_t begin, int32_t count, F f) {
    if (o == x) {
        for (int32_t i = begin; i < count; ++i) o[i] = f(o[i]);
    } else {
        for (int32_t i = begin; i < count; ++i) o[i] = f(x[i]);
    }
}

template <class F>
void Map2(const Operand& a, const Operand& b, int32_t begin, int32_t count, float* o, F f) {
    if (a.series && b.series) {
        if (o == a.p) ApplyOver<true>(o, b.p, begin, count, f);
        else if (o == b.p) ApplyOver<false>(o, a.p, begin, count, f);
        else Apply(o, a.p, b.p, begin, count, f);
    } else if (a.series) {
        const float c = b.c;
        ApplyOne(o, a.p, begin, count, [c, f](float x) { return f(x, c); });
    } else {
        const float c = a.c;
        ApplyOne(o, b.p, begin, count, [c, f](float x) { return f(c, x); });
    }
}

// The column an element-wise operator writes its points in [r.begin, r.count) to. An argument
// column the evaluation owns (not lent) and of the result's length becomes the result: each
// point is read before it is written, and no third column is filled.
FormulaValue ResultColumn(FunctionContext& ctx, std::span<FormulaValue> args, const Range& r) {
    for (FormulaValue& v : args) {
        if (!v.isSeries() || (v.flags & kValueBorrowed) || v.count != r.count ||
            v.values.size() != static_cast<size_t>(r.count))
            continue;
        FormulaValue out = std::move(v);
        out.flags = 0;
        out.drawing.reset();
        out.begin = r.begin;
        std::fill_n(out.values.begin(), std::clamp(r.begin, 0, r.count), 0.0f);
        return out;
    }
    return NewSeriesToFill(ctx, r.count, r.begin);
}

template <class F>
bool Binary(FunctionContext& ctx, std::span<FormulaValue> args, FormulaValue& out, F f) {
    Operand a = Read(args[0]), b = Read(args[1]);
    if (!a.series && !b.series) {
        out = FormulaValue::Number(f(a.c, b.c));
        return true;
    }
    Range r = Intersect({&a, &b});
    out = ResultColumn(ctx, args, r);
    Map2(a, b, r.begin, r.count, out.data(), f);
    return true;
}

// "or": the union of the ranges; outside one operand's range that operand counts as false.
bool Or(FunctionContext& ctx, std::span<FormulaValue> args, FormulaValue& out) {
    Operand a = Read(args[0]), b = Read(args[1]);
    if (!a.series && !b.series) {
        out = FormulaValue::Number(Bool(IsTrue(a.c) || IsTrue(b.c)));
        return true;
    }
    int32_t begin, count;
    if (a.series && b.series) {
        begin = std::min(a.begin, b.begin);
        count = std::max(a.count, b.count);
    } else {
        const Operand& s = a.series ? a : b;
        begin = s.begin;
        count = s.count;
    }
    out = NewSeriesToFill(ctx, count, begin);
    float* o = out.data();
    auto truthAt = [](const Operand& op, int32_t i) {
        if (!op.series) return IsTrue(op.c);
        return i >= op.begin && i < op.count && IsTrue(op.p[i]);
    };
    for (int32_t i = begin; i < count; ++i) o[i] = Bool(truthAt(a, i) || truthAt(b, i));
    return true;
}

template <class F>
bool Unary(FunctionContext& ctx, FormulaValue& arg, FormulaValue& out, F f) {
    (void)ctx;
    if (!arg.isSeries()) {
        out = FormulaValue::Number(f(arg.number));
        return true;
    }
    if (arg.flags & kValueBorrowed) {
        // A lent column is only read.
        const float* x = arg.data();
        out = NewSeriesToFill(ctx, arg.count, arg.begin);
        float* o = out.data();
        for (int32_t i = out.begin; i < out.count; ++i) o[i] = f(x[i]);
        return true;
    }
    // The argument's column becomes the result: no new allocation for a point-wise function.
    out = std::move(arg);
    out.flags = 0;
    out.drawing.reset();
    float* o = out.data();
    for (int32_t i = out.begin; i < out.count; ++i) o[i] = f(o[i]);
    return true;
}

}  // namespace

bool BinaryOperator(int id, FunctionContext& ctx, std::span<FormulaValue> args, FormulaValue& out) {
    switch (id) {
        case kOpAdd: return Binary(ctx, args, out, [](float a, float b) { return a + b; });
        case kOpSub: return Binary(ctx, args, out, [](float a, float b) { return a - b; });
        case kOpMul: return Binary(ctx, args, out, [](float a, float b) { return a * b; });
        case kOpDiv: return Binary(ctx, args, out, [](float a, float b) { return IsZero(b) ? 0.0f : a / b; });
        case kFnMod: return Binary(ctx, args, out, Mod);
        case kFnMax: return Binary(ctx, args, out, [](float a, float b) { return a > b ? a : b; });
        case kFnMin: return Binary(ctx, args, out, [](float a, float b) { return a < b ? a : b; });
        case kOpEq: return Binary(ctx, args, out, [](float a, float b) { return Bool(std::fabs(a - b) <= kZeroTolerance); });
        case kOpNe: return Binary(ctx, args, out, [](float a, float b) { return Bool(!(std::fabs(a - b) <= kZeroTolerance)); });
        case kOpGt: return Binary(ctx, args, out, [](float a, float b) { return Bool(a > b); });
        case kOpGe: return Binary(ctx, args, out, [](float a, float b) { return Bool(a >= b); });
        case kOpLt: return Binary(ctx, args, out, [](float a, float b) { return Bool(a < b); });
        case kOpLe: return Binary(ctx, args, out, [](float a, float b) { return Bool(a <= b); });
        case kOpAnd: return Binary(ctx, args, out, [](float a, float b) { return Bool(IsTrue(a) && IsTrue(b)); });
        case kOpOr: return Or(ctx, args, out);
        case kFnPow: return Binary(ctx, args, out, [](float a, float b) { return std::pow(a, b); });
        default: return false;
    }
}

bool MathFunction(int id, FunctionContext& ctx, std::span<FormulaValue> args, FormulaValue& out) {
    if (id == kFnPow) return BinaryOperator(id, ctx, args, out);
    FormulaValue& x = args[0];
    switch (id) {
        case kFnReverse: return Unary(ctx, x, out, [](float v) { return -v; });
        case kFnAbs: return Unary(ctx, x, out, [](float v) { return std::fabs(v); });
        case kFnSgn: return Unary(ctx, x, out, [](float v) { return v > 0 ? 1.0f : v < 0 ? -1.0f : 0.0f; });
        case kFnNot: return Unary(ctx, x, out, [](float v) { return Bool(v == 0.0f); });
        case kFnLog: return Unary(ctx, x, out, [](float v) { return std::log10(v); });
        case kFnLn: return Unary(ctx, x, out, [](float v) { return std::log(v); });
        case kFnExp: return Unary(ctx, x, out, [](float v) { return std::exp(v); });
        case kFnSqrt: return Unary(ctx, x, out, [](float v) { return std::sqrt(v); });
        case kFnSin: return Unary(ctx, x, out, [](float v) { return std::sin(v); });
        case kFnCos: return Unary(ctx, x, out, [](float v) { return std::cos(v); });
        case kFnTan: return Unary(ctx, x, out, [](float v) { return std::tan(v); });
        case kFnAsin: return Unary(ctx, x, out, [](float v) { return std::asin(v); });
        case kFnAcos: return Unary(ctx, x, out, [](float v) { return std::acos(v); });
        case kFnAtan: return Unary(ctx, x, out, [](float v) { return std::atan(v); });
        case kFnCeiling: return Unary(ctx, x, out, [](float v) { return std::ceil(v); });
        case kFnFloor: return Unary(ctx, x, out, [](float v) { return std::floor(v); });
        default: return false;
    }
}

bool LogicFunction(int id, FunctionContext& ctx, std::span<FormulaValue> args, FormulaValue& out) {
    Operand x = Read(args[0]), a = Read(args[1]), b = Read(args[2]);
    auto at = [&](int32_t i) -> float {
        switch (id) {
            case kFnIf: return IsTrue(x[i]) ? a[i] : b[i];
            case kFnBetween: {
                // x between a and c: inside the open interval (a < c required) or on either bound.
                float v = x[i], lo = a[i], hi = b[i];
                return Bool((lo < v && v < hi) || std::fabs(v - lo) <= kZeroTolerance ||
                            std::fabs(v - hi) <= kZeroTolerance);
            }
            case kFnRange: return Bool(a[i] < x[i] && x[i] < b[i]);
            default: return 0.0f;
        }
    };
    Range r = Intersect({&x, &a, &b});
    if (!r.any) {
        out = FormulaValue::Number(at(0));
        return true;
    }
    out = NewSeries(ctx, r.count, r.begin);
    float* o = out.data();
    for (int32_t i = r.begin; i < r.count; ++i) o[i] = at(i);
    return true;
}

}  // namespace tessaro::fn
