// Functions that write every point of their valid range take recycled columns without zeroing
// them, element-wise operators write into an argument column they own, and the quote columns
// come from one pass over the bar records. None of that may change a single bit of a result.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "evaluator_test_support.h"
#include "formula/function_registry.h"
#include "formula/functions.h"
#include "formula/value.h"

namespace tessaro {
namespace {

using namespace testing_support;

// A float bit pattern no function computes: a signalling NaN with a payload.
constexpr uint32_t kStaleBits = 0x7FA5A5A5u;

Series Bars(int n) {
    std::vector<float> closes;
    for (int i = 0; i < n; ++i) closes.push_back(10.0f + static_cast<float>(i % 7) * 0.25f);
    return DayBars(closes);
}

// Arguments owned by the call (so that element-wise operators may write into them), series
// starting at different points; with `nonFinite`, some points are NaN or infinite.
std::vector<FormulaValue> Arguments(const FunctionInfo& info, int n, bool nonFinite) {
    std::vector<FormulaValue> args(static_cast<size_t>(info.paramCount));
    for (size_t k = 0; k < args.size(); ++k) {
        const uint8_t mask = info.paramKinds[k];
        if (mask & kParamSeries) {
            FormulaValue v = FormulaValue::MakeSeries(n, static_cast<int32_t>(k * 2));
            for (int i = 0; i < n; ++i) v.values[i] = static_cast<float>((i * 7 + k * 3) % 11) - 3;
            if (nonFinite) {
                v.values[static_cast<size_t>(n / 2)] = std::numeric_limits<float>::quiet_NaN();
                v.values[static_cast<size_t>(n / 3)] = std::numeric_limits<float>::infinity();
            }
            args[k] = std::move(v);
        } else if (mask & kParamNumber) {
            args[k] = FormulaValue::Number(3);
        } else {
            args[k] = FormulaValue::String("A");
        }
    }
    return args;
}

// Stocks the pool with columns holding nothing but the stale pattern, as long as n and longer.
void Poison(ColumnPool& pool, int n) {
    float stale;
    std::memcpy(&stale, &kStaleBits, sizeof stale);
    for (int k = 0; k < 12; ++k) pool.Release(std::vector<float>(static_cast<size_t>(n + k % 3), stale));
}

TEST(ColumnFill, EveryFunctionGivesTheSameBitsFromRecycledColumns) {
    const int n = 40;
    Series bars = Bars(n);
    int compared = 0;
    for (bool nonFinite : {false, true}) {
        for (const FunctionInfo* info : AllFunctionEntries()) {
            if (info->kind == kEntryModifier || !IsImplementedFunction(info->id)) continue;
            FormulaValue fresh, recycled;
            for (bool poisoned : {false, true}) {
                ColumnPool pool;
                if (poisoned) Poison(pool, n);
                FunctionContext ctx;
                ctx.series = &bars;
                ctx.pool = &pool;
                std::vector<FormulaValue> args = Arguments(*info, n, nonFinite);
                CallFunction(info->id, ctx, args, poisoned ? recycled : fresh);
            }
            const std::string what = std::string(info->name ? info->name : "op") + " #" + std::to_string(info->id) +
                                     (nonFinite ? " (non-finite input)" : "");
            ASSERT_EQ(recycled.kind, fresh.kind) << what;
            if (!fresh.isSeries()) continue;
            EXPECT_EQ(recycled.begin, fresh.begin) << what;
            ASSERT_EQ(recycled.values.size(), fresh.values.size()) << what;
            // Every point, also those before the valid range (they read 0).
            EXPECT_EQ(std::memcmp(recycled.data(), fresh.data(), fresh.values.size() * sizeof(float)), 0) << what;
            ++compared;
        }
    }
    EXPECT_GT(compared, 120);
}

TEST(ColumnFill, ElementWiseOperatorsWriteIntoAnOwnedArgument) {
    Series bars = Bars(8);
    ColumnPool pool;
    FunctionContext ctx;
    ctx.series = &bars;
    ctx.pool = &pool;
    FormulaValue a = FormulaValue::MakeSeries(8, 2), b = FormulaValue::MakeSeries(8, 5);
    for (int i = 0; i < 8; ++i) {
        a.values[static_cast<size_t>(i)] = static_cast<float>(i);
        b.values[static_cast<size_t>(i)] = 10.0f * static_cast<float>(i);
    }
    const float* aColumn = a.data();
    std::vector<FormulaValue> args;
    args.push_back(std::move(a));
    args.push_back(std::move(b));
    FormulaValue out;
    ASSERT_TRUE(CallFunction(kOpSub, ctx, args, out));
    EXPECT_EQ(out.data(), aColumn);  // no third column
    EXPECT_EQ(out.begin, 5);
    // a's own points before the shared range are gone: they read 0 like any unset point.
    EXPECT_EQ(out.values, (std::vector<float>{0, 0, 0, 0, 0, -45, -54, -63}));
}

TEST(ColumnFill, QuoteColumnsAndTimesComeFromOnePass) {
    // Chunk edges of the gather and an empty series.
    for (int n : {0, 1, 255, 256, 257, 700}) {
        Series bars = Bars(n);
        ColumnPool pool;
        Poison(pool, n);
        FunctionContext ctx;
        ctx.series = &bars;
        ctx.pool = &pool;
        FormulaValue columns[6];
        std::vector<uint32_t> times(static_cast<size_t>(n), 0);
        GatherQuoteColumns(ctx, 0x3F, columns, times.data());
        for (int i = 0; i < n; ++i) {
            const KLineRecord& b = bars.bars[static_cast<size_t>(i)];
            const float want[6] = {b.open, b.high, b.low, b.close, b.volume, b.amount};
            ASSERT_EQ(times[static_cast<size_t>(i)], b.time) << n << " at " << i;
            for (int k = 0; k < 6; ++k) ASSERT_EQ(columns[k].values[static_cast<size_t>(i)], want[k]) << n << "/" << k;
        }
        for (const FormulaValue& c : columns) EXPECT_EQ(c.values.size(), static_cast<size_t>(n));

        // Only what is asked for: CLOSE alone leaves the other slots empty.
        FormulaValue only[6];
        GatherQuoteColumns(ctx, 1u << (kFnClose - kFnOpen), only, nullptr);
        for (int k = 0; k < 6; ++k) EXPECT_EQ(only[k].isSeries(), k == kFnClose - kFnOpen) << k;
    }
}

class ColumnFillEvaluation : public EvaluatorTest {};

// The result's bar times come from the quote pass when the formula reads quotes and from the
// assembly otherwise; an evaluator reusing its columns gives the bits a new one gives.
TEST_F(ColumnFillEvaluation, TimesAndValuesDoNotDependOnWhatRanBefore) {
    Series bars = Ramp(300, 10, 0.5f);
    const CodeEntry sec = Security("SH600000");
    const FormulaRecord reads = Formula("R", "A:EMA(C,12)-EMA(C,26); B:2*(A-EMA(A,9)); D:(C>MA(C,10)) OR V<REF(V,3);");
    const FormulaRecord noQuotes = Formula("N", "A:DATE*2;");
    const FormulaRecord noise = Formula("Z", "X:=C*100000000*100000000; A:X; B:X-1; D:LN(0-X); E:X*X;");
    for (const FormulaRecord* f : {&reads, &noQuotes}) {
        FormulaEvaluator alone(set, data, nullptr);
        auto want = alone.Evaluate(*f, sec, &bars, kPeriodDay);
        ASSERT_TRUE(want);
        ASSERT_TRUE(RunOn(noise, bars, sec));
        auto got = RunOn(*f, bars, sec);
        ASSERT_TRUE(got);
        ASSERT_EQ(got->lineCount(), want->lineCount());
        for (size_t k = 0; k < want->lineCount(); ++k) {
            const OutputLine& line = got->lines[k];
            EXPECT_EQ(line.begin, want->lines[k].begin);
            EXPECT_TRUE(line.points == want->lines[k].points) << f->nameText() << " line " << k;
            ASSERT_EQ(line.points.size(), bars.size());
            for (size_t i = 0; i < bars.size(); i += 37) EXPECT_EQ(line.points.time(i), bars.bars[i].time);
        }
    }
}

}  // namespace
}  // namespace tessaro
