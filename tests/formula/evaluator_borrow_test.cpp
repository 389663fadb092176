// The evaluator lends a statement's column to the functions that read it instead of copying
// it. Every function must leave a borrowed argument exactly as it was: this walks the whole
// function library with borrowed arguments and checks each column afterwards.
#include <gtest/gtest.h>

#include <cstring>

#include "formula/function_registry.h"
#include "formula/functions.h"
#include "formula/value.h"
#include "market/series.h"
#include "platform/store_time.h"

namespace tessaro {
namespace {

Series Bars(int n) {
    Series s;
    s.period = kPeriodDay;
    for (int i = 0; i < n; ++i) {
        KLineRecord b;
        b.time = MakeStoreTime(2024, 1, 1) + static_cast<StoreTime>(i) * kSecondsPerDay;
        b.close = 10.0f + static_cast<float>(i % 7);
        b.open = b.close - 0.5f;
        b.high = b.close + 1;
        b.low = b.close - 1;
        b.volume = 100;
        s.push(b);
    }
    return s;
}

TEST(EvaluatorBorrow, NoFunctionTakesOverOrChangesABorrowedColumn) {
    const int n = 40;
    Series bars = Bars(n);
    ColumnPool pool;
    FunctionContext ctx;
    ctx.series = &bars;
    ctx.pool = &pool;
    int checked = 0;
    for (const FunctionInfo* info : AllFunctionEntries()) {
        if (info->kind == kEntryModifier || !IsImplementedFunction(info->id) || info->paramCount == 0) continue;
        std::vector<FormulaValue> args(static_cast<size_t>(info->paramCount));
        std::vector<std::vector<float>> originals(args.size());
        std::vector<const float*> data(args.size(), nullptr);
        for (size_t k = 0; k < args.size(); ++k) {
            uint8_t mask = info->paramKinds[k];
            if (mask & kParamSeries) {
                FormulaValue v = FormulaValue::MakeSeries(n, static_cast<int32_t>(k));
                for (int i = 0; i < n; ++i) v.values[i] = static_cast<float>((i * 7 + k * 3) % 11) - 3;
                v.flags = kValueBorrowed;
                originals[k] = v.values;
                data[k] = v.values.data();
                args[k] = std::move(v);
            } else if (mask & kParamNumber) {
                args[k] = FormulaValue::Number(3);
            } else {
                args[k] = FormulaValue::String("A");
            }
        }
        FormulaValue out;
        CallFunction(info->id, ctx, args, out);
        for (size_t k = 0; k < args.size(); ++k) {
            if (!data[k]) continue;
            EXPECT_EQ(args[k].values.data(), data[k]) << info->id << " took argument " << k;
            ASSERT_EQ(args[k].values.size(), originals[k].size()) << info->id;
            EXPECT_EQ(std::memcmp(args[k].values.data(), originals[k].data(), originals[k].size() * sizeof(float)), 0)
                << info->id << " wrote into argument " << k;
            EXPECT_NE(out.data(), data[k]) << info->id << " returned a borrowed column";
        }
        ++checked;
    }
    EXPECT_GT(checked, 60);
}

}  // namespace
}  // namespace tessaro
