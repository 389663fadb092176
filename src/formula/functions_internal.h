// Shared helpers of the function family files (not part of the library's interface).
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <span>

#include "formula/function_registry.h"
#include "formula/functions.h"
#include "formula/value.h"

namespace tessaro::fn {

// Read access to an argument that is either a series or a constant.
struct Operand {
    const float* p = nullptr;
    float c = 0;
    int32_t begin = 0;
    int32_t count = 0;
    bool series = false;

    float operator[](int32_t i) const { return series ? p[i] : c; }
};

inline Operand Read(const FormulaValue& v) {
    Operand op;
    if (v.isSeries()) {
        op.series = true;
        op.p = v.data();
        op.begin = v.begin;
        op.count = std::min<int32_t>(v.count, static_cast<int32_t>(v.values.size()));
    } else {
        op.c = v.number;
    }
    return op;
}

// The valid range shared by the series among `ops`: the largest begin and the smallest count.
// `any` is false when none of them is a series.
struct Range {
    int32_t begin = 0;
    int32_t count = 0;
    bool any = false;
};
inline Range Intersect(std::initializer_list<const Operand*> ops) {
    Range r;
    for (const Operand* op : ops) {
        if (!op->series) continue;
        if (!r.any) {
            r.begin = op->begin;
            r.count = op->count;
            r.any = true;
        } else {
            r.begin = std::max(r.begin, op->begin);
            r.count = std::min(r.count, op->count);
        }
    }
    return r;
}

// begin + offset, saturated so that an out-of-range begin never overflows.
inline int32_t OffsetBegin(int32_t begin, int64_t offset) {
    int64_t b = static_cast<int64_t>(begin) + offset;
    return static_cast<int32_t>(std::clamp<int64_t>(b, 0, INT32_MAX));
}

// Turns a constant into a series of the context's bars (all points valid), so that a constant
// passed where a series is expected (REF(5,1), MA(ABS(5),3)) computes instead of failing.
void BroadcastToSeries(FunctionContext& ctx, FormulaValue& v);

inline FormulaValue NewSeries(FunctionContext& ctx, int32_t count, int32_t begin) {
    return FormulaValue::MakeSeries(count, begin, ctx.pool);
}

// For functions that write every point of [begin, count) themselves.
inline FormulaValue NewSeriesToFill(FunctionContext& ctx, int32_t count, int32_t begin) {
    return FormulaValue::MakeSeriesToFill(count, begin, ctx.pool);
}

// The common start of a function over a sliding window of N = args[1] points of X = args[0]:
// X broadcast and read, N clamped, `out` valid from the N-th point of X's range (all invalid
// when N < minLength). False when no point is left to compute.
struct Window {
    Operand x;
    int32_t len = 0;
};
// `fills`: the function writes every point of `out`'s valid range (its column is not zeroed).
inline bool StartWindow(FunctionContext& ctx, std::span<FormulaValue> args, int32_t minLength, Window& w,
                        FormulaValue& out, bool fills = false) {
    BroadcastToSeries(ctx, args[0]);
    w.x = Read(args[0]);
    w.len = ClampN(args[1].number);
    if (w.len < minLength) {
        out = FormulaValue::EmptySeries(w.x.count, ctx.pool);
        return false;
    }
    const int32_t begin = OffsetBegin(w.x.begin, static_cast<int64_t>(w.len) - 1);
    out = fills ? NewSeriesToFill(ctx, w.x.count, begin) : NewSeries(ctx, w.x.count, begin);
    return out.begin < w.x.count;
}

// True when no point of p[from, to) is NaN or infinite. The windowed functions take their fast
// running-sum path only then: a NaN added to a running sum would stay in it after the bar has left
// the window and poison every later value.
inline bool AllFinite(const float* p, int32_t from, int32_t to) {
    uint32_t bad = 0;
    for (int32_t i = from; i < to; ++i) {
        uint32_t bits;
        std::memcpy(&bits, p + i, sizeof bits);
        bad |= static_cast<uint32_t>((bits & 0x7F800000u) == 0x7F800000u);
    }
    return bad == 0;
}

// The non-finite points of a sliding window, counted so that a window sum can say what the plain
// IEEE sum of its points would be: NaN with a NaN or with both infinities, else the infinity.
struct NonFiniteCount {
    int32_t nan = 0, pos = 0, neg = 0;

    // Adds (+1) or removes (-1) v; returns v when it is finite, else 0 (its share of a finite sum).
    double Track(float v, int32_t delta) {
        if (std::isfinite(v)) return v;
        if (std::isnan(v)) nan += delta;
        else if (v > 0) pos += delta;
        else neg += delta;
        return 0.0;
    }
    bool any() const { return nan + pos + neg > 0; }
    // The sum of the window when any() holds.
    float Sum() const {
        if (nan > 0 || (pos > 0 && neg > 0)) return std::numeric_limits<float>::quiet_NaN();
        return pos > 0 ? std::numeric_limits<float>::infinity() : -std::numeric_limits<float>::infinity();
    }
};

// Family entry points, the implementations the registry table names (FunctionImpl); each
// returns false when the call has no result.
bool QuoteFunction(int id, FunctionContext& ctx, std::span<FormulaValue> args, FormulaValue& out);
bool TimeFunction(int id, FunctionContext& ctx, std::span<FormulaValue> args, FormulaValue& out);
bool IndexFunction(int id, FunctionContext& ctx, std::span<FormulaValue> args, FormulaValue& out);
bool BarFunction(int id, FunctionContext& ctx, std::span<FormulaValue> args, FormulaValue& out);
bool ConstantFunction(int id, FunctionContext& ctx, std::span<FormulaValue> args, FormulaValue& out);
bool BinaryOperator(int id, FunctionContext& ctx, std::span<FormulaValue> args, FormulaValue& out);
bool MathFunction(int id, FunctionContext& ctx, std::span<FormulaValue> args, FormulaValue& out);
bool LogicFunction(int id, FunctionContext& ctx, std::span<FormulaValue> args, FormulaValue& out);
bool ReferenceFunction(int id, FunctionContext& ctx, std::span<FormulaValue> args, FormulaValue& out);
bool AverageFunction(int id, FunctionContext& ctx, std::span<FormulaValue> args, FormulaValue& out);
bool StatisticFunction(int id, FunctionContext& ctx, std::span<FormulaValue> args, FormulaValue& out);
bool SarFunction(int id, FunctionContext& ctx, std::span<FormulaValue> args, FormulaValue& out);
bool ZigFunction(int id, FunctionContext& ctx, std::span<FormulaValue> args, FormulaValue& out);
bool ChipFunction(int id, FunctionContext& ctx, std::span<FormulaValue> args, FormulaValue& out);
bool DrawingFunction(int id, FunctionContext& ctx, std::span<FormulaValue> args, FormulaValue& out);

// The period bar a time belongs to, counted the way the series loader groups bars: intraday
// bars are labelled with the end of their interval, weeks run from Monday to Sunday, months,
// quarters and years go by the calendar. Bars of two series with the same key align.
int64_t PeriodBucket(uint32_t time, Period period);

}  // namespace tessaro::fn
