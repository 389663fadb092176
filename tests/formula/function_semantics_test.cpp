// Function semantics that data files cannot express well: mended faults, argument checks,
// denormals, the data-source interface, and the O(n) algorithms against plain re-computation.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "formula/function_registry.h"
#include "formula/functions.h"

namespace tessaro {
namespace {

class FakeSource : public MarketDataSource {
public:
    const Series* IndexSeries(const CodeEntry&, Period) override { return nullptr; }
    std::optional<double> QuoteFieldValue(const CodeEntry&, int field) override {
        lastField = field;
        if (field < 0 || field > 82) return std::nullopt;
        return field * 1.5;
    }
    bool LoadFinance(const CodeEntry&, FinanceBlock& out) override {
        out = finance;
        return hasFinance;
    }
    int lastField = -1;
    FinanceBlock finance;
    bool hasFinance = true;
};

class Functions : public ::testing::Test {
protected:
    void SetBars(const std::vector<float>& closes) {
        series.clear();
        for (float c : closes) {
            KLineRecord b;
            b.open = b.high = b.low = b.close = c;
            b.time = MakeStoreTime(2020, 1, 2);
            series.push(b);
        }
        ctx.series = &series;
        ctx.security.securityClass = kClassAShare;
        ctx.data = &source;
        ctx.pool = &pool;
    }
    FormulaValue Series_(const std::vector<float>& v, int32_t begin = 0) {
        FormulaValue s = FormulaValue::MakeSeries(static_cast<int32_t>(v.size()), begin);
        s.values = v;
        return s;
    }
    // Calls `id` with the given arguments; `ok` tells whether it had a result.
    FormulaValue Call(int id, std::vector<FormulaValue> args, bool* ok = nullptr) {
        FormulaValue out;
        bool r = CallFunction(id, ctx, std::span<FormulaValue>(args), out);
        if (ok) *ok = r;
        else EXPECT_TRUE(r) << "function " << id;
        return out;
    }
    FormulaValue Close() { return Call(kFnClose, A()); }
    static FormulaValue N(float v) { return FormulaValue::Number(v); }
    template <class... T>
    static std::vector<FormulaValue> A(T&&... values) {
        std::vector<FormulaValue> args;
        (args.push_back(std::forward<T>(values)), ...);
        return args;
    }

    Series series;
    FakeSource source;
    ColumnPool pool;
    FunctionContext ctx;
};

// ---- mended faults ---------------------------------------------------------------------

TEST_F(Functions, HostileNNeverReachesAnUndefinedConversion) {
    SetBars({1, 2, 3, 4, 5});
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    for (float n : {nan, inf, -inf, 1e30f, -1e30f, 3e9f, -3e9f, 2147483648.0f}) {
        SCOPED_TRACE(n);
        for (int id : {kFnMa, kFnEma, kFnRef, kFnCount, kFnSum, kFnHhv, kFnLlv, kFnHhvBars, kFnFilter, kFnStd,
                       kFnVar, kFnAvedev, kFnForcast, kFnBackSet, kFnSumBars}) {
            FormulaValue v = Call(id, A(Close(), N(n)));
            ASSERT_TRUE(v.isSeries());
            EXPECT_EQ(v.count, 5);
            EXPECT_GE(v.begin, 0);
        }
        Call(kFnSma, A(Close(), N(n), N(1)));
        Call(kFnLongCross, A(Close(), N(3), N(n)));
        Call(kFnPersistAscent, A(Close(), N(n)));
        Call(kFnRgb, A(N(n), N(n), N(n)));
        Call(kFnMod, A(N(n), N(3)));
        Call(kFnMod, A(N(7), N(n)));
    }
    // Specific outcomes: NaN truncates to 0, huge N reaches past every bar.
    EXPECT_EQ(Call(kFnMa, A(Close(), N(nan))).validCount(), 0);
    EXPECT_EQ(Call(kFnRef, A(Close(), N(1e30f))).validCount(), 0);
    EXPECT_EQ(Call(kFnRef, A(Close(), N(-1e30f))).validCount(), 5);
    FormulaValue h = Call(kFnHhv, A(Close(), N(-1e30f)));  // like N = 0: since the range start
    EXPECT_FLOAT_EQ(h.values[4], 5);
    EXPECT_EQ(Call(kFnSum, A(Close(), N(1e30f))).validCount(), 0);
}

TEST_F(Functions, SeriesNWithHostileValues) {
    SetBars({1, 2, 3, 4});
    const float nan = std::numeric_limits<float>::quiet_NaN();
    FormulaValue n = Series_({nan, 1e30f, -1e30f, 2});
    FormulaValue r = Call(kFnRef, A(Close(), n.Clone()));
    EXPECT_FLOAT_EQ(r.values[0], 1);  // NaN -> 0: the bar itself
    EXPECT_FLOAT_EQ(r.values[1], 2);  // before the range: the bar itself
    EXPECT_FLOAT_EQ(r.values[2], 3);  // negative -> 0
    EXPECT_FLOAT_EQ(r.values[3], 2);
    FormulaValue s = Call(kFnSum, A(Close(), n.Clone()));
    EXPECT_FLOAT_EQ(s.values[1], 0);
    EXPECT_FLOAT_EQ(s.values[3], 7);
    FormulaValue h = Call(kFnHhvBars, A(Close(), n.Clone()));
    EXPECT_FLOAT_EQ(h.values[1], 0);
    EXPECT_FLOAT_EQ(h.values[3], 0);
    Call(kFnBackSet, A(Close(), n.Clone()));
    Call(kFnSumBars, A(Close(), n.Clone()));
    Call(kFnDma, A(Close(), n.Clone()));
}

TEST_F(Functions, QuoteItemsOutsideTheCatalogueGiveAnEmptyResult) {
    SetBars({1, 2, 3});
    for (float x : {-1.0f, 41.0f, 1000.0f, -1e30f, 1e30f, std::numeric_limits<float>::quiet_NaN()}) {
        source.lastField = -1;
        FormulaValue v = Call(kFnDynaReport, A(N(x)));
        EXPECT_TRUE(v.isSeries()) << x;
        EXPECT_EQ(v.validCount(), 0) << x;
        EXPECT_EQ(source.lastField, -1) << "the catalogue was asked for item " << x;
    }
    for (float x : {-1.0f, 39.0f, 40.0f}) {
        source.lastField = -1;
        FormulaValue v = Call(kFnFinance, A(N(x)));
        EXPECT_EQ(v.validCount(), 0) << x;
        EXPECT_EQ(source.lastField, -1);
    }
    FormulaValue last = Call(kFnDynaReport, A(N(40.7f)));  // truncated to 40
    ASSERT_TRUE(last.isNumber());
    EXPECT_EQ(source.lastField, 40);
    EXPECT_FLOAT_EQ(last.number, 60);
    FormulaValue fin = Call(kFnFinance, A(N(0)));
    EXPECT_EQ(source.lastField, 41);
    FormulaValue kind = Call(kFnFinance, A(N(38)));
    EXPECT_EQ(source.lastField, 79);
    EXPECT_TRUE(kind.isNumber());
    ctx.data = nullptr;  // no data source: still no crash, an empty result
    EXPECT_EQ(Call(kFnDynaReport, A(N(3))).validCount(), 0);
    EXPECT_EQ(Call(kFnCapital, A()).number, 0);
}

TEST_F(Functions, ConstantsAreBroadcastWhereSeriesAreExpected) {
    SetBars({1, 2, 3, 4});
    FormulaValue ref = Call(kFnRef, A(N(5), N(1)));
    ASSERT_TRUE(ref.isSeries());
    EXPECT_EQ(ref.begin, 1);
    EXPECT_FLOAT_EQ(ref.values[3], 5);
    FormulaValue abs = Call(kFnAbs, A(N(-5)));
    ASSERT_TRUE(abs.isNumber());
    FormulaValue ma = Call(kFnMa, A(std::move(abs), N(3)));
    EXPECT_EQ(ma.begin, 2);
    EXPECT_FLOAT_EQ(ma.values[3], 5);
    EXPECT_EQ(Call(kFnBarsCount, A(N(1))).values[3], 4);
    EXPECT_EQ(Call(kFnHhvBars, A(N(1), N(0))).values[3], 3);  // equal values keep the first bar
}

// ---- argument checks ------------------------------------------------------------------

TEST_F(Functions, WrongArgumentsFailTheCall) {
    SetBars({1, 2, 3});
    bool ok = true;
    Call(kFnMa, A(Close()), &ok);
    EXPECT_FALSE(ok);
    Call(kFnMa, A(Close(), N(2), N(3)), &ok);
    EXPECT_FALSE(ok);
    Call(kFnMa, A(Close(), Close()), &ok);  // N must be a constant
    EXPECT_FALSE(ok);
    Call(kFnAbs, A(FormulaValue::String("X")), &ok);
    EXPECT_FALSE(ok);
    Call(kFnAbs, A(FormulaValue()), &ok);  // an empty value
    EXPECT_FALSE(ok);
    FormulaValue shortColumn = FormulaValue::MakeSeries(3, 0);
    shortColumn.values.resize(1);  // claims three points, holds one
    Call(kFnAbs, A(std::move(shortColumn)), &ok);
    EXPECT_FALSE(ok);
    Call(kOpReference, A(), &ok);  // compiler opcodes are not functions
    EXPECT_FALSE(ok);
    Call(kFnStkIndi, A(FormulaValue::String("SH600000"), FormulaValue::String("MACD")), &ok);  // a reference, compiled away
    EXPECT_FALSE(ok);
    Call(kFnDrawText, A(Close(), Close(), N(1)), &ok);  // the text must be a string
    EXPECT_FALSE(ok);
    Call(9999, A(), &ok);
    EXPECT_FALSE(ok);
    Call(-1, A(), &ok);
    EXPECT_FALSE(ok);
}

TEST_F(Functions, IndexOnlyFunctionsFailOnStocks) {
    SetBars({1, 2});
    bool ok = true;
    Call(kFnAdvance, A(), &ok);
    EXPECT_FALSE(ok);
    ctx.security.securityClass = kClassIndex;
    Call(kFnAdvance, A(), &ok);
    EXPECT_TRUE(ok);
    Call(kFnBuyVol, A(), &ok);
    EXPECT_FALSE(ok);
}

// Every implemented function, every argument shape: no bars, one bar, odd constants.
TEST_F(Functions, EveryFunctionSurvivesDegenerateInput) {
    const float odd[] = {0.0f, -1.0f, 1e30f, std::numeric_limits<float>::quiet_NaN()};
    for (int bars : {0, 1, 3}) {
        std::vector<float> closes(static_cast<size_t>(bars), 2.0f);
        SetBars(closes);
        for (const FunctionInfo* e : AllFunctionEntries()) {
            if (!IsImplementedFunction(e->id)) continue;
            for (float c : odd) {
                for (int shape = 0; shape < 2; ++shape) {
                    std::vector<FormulaValue> args;
                    for (int i = 0; i < e->paramCount; ++i) {
                        uint8_t mask = e->paramKinds[i];
                        if ((mask & kParamSeries) && (shape == 0 || !(mask & kParamNumber))) {
                            FormulaValue s = FormulaValue::MakeSeries(bars, bars > 1 ? 1 : 0);
                            std::fill(s.values.begin(), s.values.end(), c);
                            args.push_back(std::move(s));
                        } else {
                            args.push_back(N(c));
                        }
                    }
                    bool ok = false;
                    FormulaValue out = Call(e->id, std::move(args), &ok);
                    if (ok && out.isSeries()) {
                        EXPECT_EQ(static_cast<size_t>(out.count), out.values.size()) << e->name;
                        EXPECT_LE(out.count, bars) << e->name;
                    }
                }
            }
        }
    }
}

// ---- numerics --------------------------------------------------------------------------

TEST_F(Functions, RecursiveAveragesFlushDenormals) {
    std::vector<float> v(200, 0.0f);
    v[0] = 1e-30f;
    SetBars(v);
    for (int id : {kFnEma, kFnSma, kFnDma}) {
        std::vector<FormulaValue> args;
        args.push_back(Close());
        args.push_back(N(id == kFnDma ? 0.5f : 3));
        if (id == kFnSma) args.push_back(N(1));
        FormulaValue out = Call(id, std::move(args));
        for (int32_t i = out.begin; i < out.count; ++i)
            ASSERT_NE(std::fpclassify(out.values[i]), FP_SUBNORMAL) << "function " << id << " bar " << i;
    }
}

TEST_F(Functions, FlatSeriesHasZeroDeviationNeverNaN) {
    SetBars(std::vector<float>(50, 10.1f));
    for (int id : {kFnStd, kFnStdp, kFnVar, kFnVarp, kFnDevsq, kFnAvedev}) {
        FormulaValue out = Call(id, A(Close(), N(7)));
        for (int32_t i = out.begin; i < out.count; ++i) ASSERT_EQ(out.values[i], 0.0f) << id;
    }
}

TEST_F(Functions, TimesBelowThreeDaysDecodeAs1900) {
    SetBars({1, 2});
    series.bars[0].time = 0;
    series.bars[1].time = 3 * 86400 - 1;
    FormulaValue date = Call(kFnDate, A());
    EXPECT_FLOAT_EQ(date.values[0], 101);
    EXPECT_FLOAT_EQ(date.values[1], 101);
    EXPECT_FLOAT_EQ(Call(kFnWeekday, A()).values[0], 1);  // 1900-01-01 was a Monday
    EXPECT_FLOAT_EQ(Call(kFnTime, A()).values[1], 0);
}

TEST_F(Functions, TickVolumeComesFromTheTradeData) {
    SetBars({1, 2});
    series.bars[1].volume = 999;
    series.trades[1].volume = 7;
    series.trades[1].amount = 70;
    EXPECT_FLOAT_EQ(Call(kFnVol, A()).values[1], 999);
    ctx.period = kPeriodTick;
    EXPECT_FLOAT_EQ(Call(kFnVol, A()).values[1], 7);
    EXPECT_FLOAT_EQ(Call(kFnAmount, A()).values[1], 70);
}

TEST_F(Functions, CapitalFromTheFinanceRecord) {
    SetBars({1});
    source.finance.figures[6] = 12.5f;  // 流通A股, 10,000 shares
    source.finance.figures[4] = 3;      // B股
    EXPECT_FLOAT_EQ(Call(kFnCapital, A()).number, 1250);
    ctx.security.securityClass = kClassBShare;
    EXPECT_FLOAT_EQ(Call(kFnCapital, A()).number, 300);
    ctx.security.securityClass = kClassBond;
    EXPECT_FLOAT_EQ(Call(kFnCapital, A()).number, 12500);
    source.hasFinance = false;
    EXPECT_FLOAT_EQ(Call(kFnCapital, A()).number, 0);
}

TEST_F(Functions, IntermediateColumnsAreReused) {
    SetBars(std::vector<float>(100, 1.0f));
    FormulaValue a = Call(kFnMa, A(Close(), N(5)));
    EXPECT_GT(pool.FreeColumns(), 0u);  // the CLOSE column came back
    size_t before = pool.FreeColumns();
    FormulaValue b = Call(kFnAbs, A(std::move(a)));  // point-wise: works in the argument's column
    EXPECT_EQ(pool.FreeColumns(), before);
    std::vector<float> col = pool.Acquire(100);
    for (float v : col) ASSERT_EQ(v, 0.0f);  // handed out zeroed
}

// ---- O(n) algorithms against plain re-computation ------------------------------------------

// The extreme walk exactly as described: track the extreme, rescan when it leaves the window.
std::pair<std::vector<float>, std::vector<float>> PlainExtreme(const std::vector<float>& x, int32_t begin, int n,
                                                               bool high) {
    std::vector<float> value(x.size()), bars(x.size());
    auto better = [&](float a, float b) { return high ? a > b : a < b; };
    int32_t b = begin;
    for (int32_t i = begin; i < static_cast<int32_t>(x.size()); ++i) {
        if (better(x[i], x[b])) b = i;
        if (n > 0 && b + n - 1 < i) {
            b = std::max(begin, i - n + 1);
            for (int32_t k = b + 1; k <= i; ++k)
                if (better(x[k], x[b])) b = k;
        }
        value[i] = x[b];
        bars[i] = static_cast<float>(i - b);
    }
    return {value, bars};
}

TEST_F(Functions, HhvLlvMatchTheTrackAndRescanWalk) {
    std::mt19937 rng(7);
    for (int round = 0; round < 60; ++round) {
        int bars = 1 + static_cast<int>(rng() % 300);
        std::vector<float> x(static_cast<size_t>(bars));
        for (float& v : x) v = static_cast<float>(rng() % 6);  // many ties
        SetBars(x);
        int32_t begin = static_cast<int32_t>(rng() % 4) % bars;
        int n = static_cast<int>(rng() % 40) - 3;
        for (bool high : {true, false}) {
            auto [value, dist] = PlainExtreme(x, begin, n, high);
            FormulaValue v = Call(high ? kFnHhv : kFnLlv, A(Series_(x, begin), N(static_cast<float>(n))));
            FormulaValue d = Call(high ? kFnHhvBars : kFnLlvBars, A(Series_(x, begin), N(static_cast<float>(n))));
            ASSERT_EQ(v.begin, begin);
            for (int32_t i = begin; i < bars; ++i) {
                ASSERT_EQ(v.values[i], value[i]) << "round " << round << " bar " << i << " n " << n;
                ASSERT_EQ(d.values[i], dist[i]) << "round " << round << " bar " << i << " n " << n;
            }
        }
    }
}

TEST_F(Functions, WindowSumsMatchDirectSums) {
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> price(5, 50);
    std::vector<float> x(500);
    for (float& v : x) v = std::round(price(rng) * 100) / 100;
    SetBars(x);
    for (int n : {1, 2, 5, 20, 120}) {
        FormulaValue ma = Call(kFnMa, A(Close(), N(static_cast<float>(n))));
        FormulaValue sum = Call(kFnSum, A(Close(), N(static_cast<float>(n))));
        FormulaValue std_ = Call(kFnStd, A(Close(), N(static_cast<float>(n))));
        FormulaValue fc = Call(kFnForcast, A(Close(), N(static_cast<float>(n))));
        ASSERT_EQ(ma.begin, n - 1);
        for (int32_t i = n - 1; i < 500; ++i) {
            double s = 0, s2 = 0, st = 0;
            for (int k = 0; k < n; ++k) s += x[i - k];
            double mean = s / n;
            for (int k = 0; k < n; ++k) s2 += (x[i - k] - mean) * (x[i - k] - mean);
            for (int t = 1; t <= n; ++t) st += t * (x[i - n + t] - mean);
            double tMean = (n + 1) / 2.0, tSpread = n * (double(n) * n - 1) / 12;
            double slope = tSpread < 1e-6 ? 0 : st / tSpread;
            ASSERT_NEAR(sum.values[i], s, 1e-3 * std::max(1.0, std::fabs(s)));
            ASSERT_NEAR(ma.values[i], mean, 1e-4 * mean);
            if (n > 1) {
                ASSERT_NEAR(std_.values[i], std::sqrt(s2 / (n - 1)), 1e-3);
            }
            ASSERT_NEAR(fc.values[i], mean + (n - tMean) * slope, 1e-3);
        }
    }
}

}  // namespace
}  // namespace tessaro
