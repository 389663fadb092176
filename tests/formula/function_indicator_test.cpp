// Statistics, SAR, ZIG, the chip distribution and the drawing functions where data files fall
// short: the fast paths against plain re-computation on random data, the mended faults, hostile
// input, and the contract with the evaluator (borrowed arguments are only read).
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "formula/function_registry.h"
#include "formula/functions.h"

namespace tessaro {
namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

class Indicators : public ::testing::Test {
protected:
    // Bars with the given closes; high and low 1% around the close, volume 100.
    void SetBars(const std::vector<float>& closes, float capital = 1000) {
        series.clear();
        for (float c : closes) {
            KLineRecord b;
            b.open = c;
            b.close = c;
            b.high = c * 1.01f;
            b.low = c * 0.99f;
            b.volume = 100;
            b.time = MakeStoreTime(2020, 1, 2);
            size_t i = series.push(b);
            series.capital[i].circulating = capital;
        }
        ctx.series = &series;
        ctx.security.securityClass = kClassAShare;
        ctx.pool = &pool;
    }
    static FormulaValue Col(const std::vector<float>& v, int32_t begin = 0) {
        FormulaValue s = FormulaValue::MakeSeries(static_cast<int32_t>(v.size()), begin);
        s.values = v;
        return s;
    }
    static FormulaValue N(float v) { return FormulaValue::Number(v); }
    FormulaValue Call(int id, std::vector<FormulaValue> args, bool* ok = nullptr) {
        FormulaValue out;
        bool r = CallFunction(id, ctx, std::span<FormulaValue>(args), out);
        if (ok) *ok = r;
        else EXPECT_TRUE(r) << "function " << id;
        return out;
    }
    template <class... T>
    static std::vector<FormulaValue> A(T&&... values) {
        std::vector<FormulaValue> args;
        (args.push_back(std::forward<T>(values)), ...);
        return args;
    }
    std::vector<float> RandomWalk(std::mt19937& rng, int bars, float start = 20) {
        std::normal_distribution<float> step(0.0f, 0.3f);
        std::vector<float> v(static_cast<size_t>(bars));
        float p = start;
        for (float& x : v) x = p = std::max(1.0f, p + step(rng));
        return v;
    }

    Series series;
    ColumnPool pool;
    FunctionContext ctx;
};

// Both NaN, or equal within a relative tolerance (infinities exactly).
::testing::AssertionResult Same(double got, double want, double tolerance) {
    if (std::isnan(want)) {
        if (std::isnan(got)) return ::testing::AssertionSuccess();
    } else if (std::isinf(want)) {
        if (got == want) return ::testing::AssertionSuccess();
    } else if (std::fabs(got - want) <= tolerance * std::max(1.0, std::fabs(want))) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << got << " != " << want;
}

// ---- fast paths against plain re-computation --------------------------------------------

TEST_F(Indicators, AveDevLongWindowsMatchDirectSums) {
    std::mt19937 rng(5);
    std::vector<float> x = RandomWalk(rng, 1500);
    for (float& v : x) v = std::round(v * 20) / 20;  // many equal values, some equal to the mean
    SetBars(x);
    for (int n : {47, 49, 60, 200, 1499, 1500}) {
        for (int32_t begin : {0, 7}) {
            FormulaValue out = Call(kFnAvedev, A(Col(x, begin), N(static_cast<float>(n))));
            ASSERT_EQ(out.begin, begin + n - 1);
            for (int32_t i = out.begin; i < out.count; ++i) {
                double sum = 0, dev = 0;
                for (int k = i - n + 1; k <= i; ++k) sum += x[k];
                for (int k = i - n + 1; k <= i; ++k) dev += std::fabs(x[k] - sum / n);
                ASSERT_TRUE(Same(out.values[i], dev / n, 1e-5)) << "n " << n << " bar " << i;
            }
        }
    }
}

// HHV/LLV with a series N: the extreme of the window of N[i] bars, the earliest on ties; X itself
// where N < 2 or the window reaches before the range.
TEST_F(Indicators, ExtremesWithASeriesNMatchAPlainScan) {
    std::mt19937 rng(9);
    for (int round = 0; round < 40; ++round) {
        int bars = 1 + static_cast<int>(rng() % 400);
        std::vector<float> x(static_cast<size_t>(bars)), n(static_cast<size_t>(bars));
        for (float& v : x) v = static_cast<float>(rng() % 7);
        for (float& v : n) v = static_cast<float>(static_cast<int>(rng() % 80) - 3) + 0.5f;
        SetBars(x);
        int32_t begin = static_cast<int32_t>(rng() % 5) % bars;
        for (int id : {kFnHhv, kFnLlv, kFnHhvBars, kFnLlvBars}) {
            FormulaValue out = Call(id, A(Col(x, begin), Col(n)));
            bool high = id == kFnHhv || id == kFnHhvBars, bars_ = id == kFnHhvBars || id == kFnLlvBars;
            for (int32_t i = begin; i < bars; ++i) {
                int len = static_cast<int>(n[i]);
                float want;
                if (len < 2 || i - len + 1 < begin) {
                    want = bars_ ? 0.0f : x[i];
                } else {
                    int b = i - len + 1;
                    for (int k = b + 1; k <= i; ++k)
                        if (high ? x[k] > x[b] : x[k] < x[b]) b = k;
                    want = bars_ ? static_cast<float>(i - b) : x[b];
                }
                ASSERT_EQ(out.values[i], want) << "round " << round << " id " << id << " bar " << i;
            }
        }
    }
}

// A NaN or an infinity spoils only the windows that hold it: the running sums recover.
TEST_F(Indicators, WindowSumsRecoverFromNonFiniteValues) {
    std::mt19937 rng(3);
    std::vector<float> x = RandomWalk(rng, 600);
    for (int k = 0; k < 12; ++k) {
        size_t at = rng() % x.size();
        x[at] = k % 3 == 0 ? kNaN : k % 3 == 1 ? kInf : -kInf;
    }
    SetBars(std::vector<float>(x.size(), 1.0f));
    for (int n : {1, 2, 5, 30}) {
        FormulaValue ma = Call(kFnMa, A(Col(x), N(static_cast<float>(n))));
        FormulaValue sum = Call(kFnSum, A(Col(x), N(static_cast<float>(n))));
        FormulaValue sumN = Call(kFnSum, A(Col(x), Col(std::vector<float>(x.size(), static_cast<float>(n)))));
        FormulaValue varp = Call(kFnVarp, A(Col(x), N(static_cast<float>(n))));
        FormulaValue fc = Call(kFnForcast, A(Col(x), N(static_cast<float>(n))));
        for (int32_t i = n - 1; i < static_cast<int32_t>(x.size()); ++i) {
            double s = 0;
            bool finite = true;
            for (int k = i - n + 1; k <= i; ++k) {
                s += x[k];
                finite = finite && std::isfinite(x[k]);
            }
            ASSERT_TRUE(Same(sum.values[i], s, 1e-6)) << "n " << n << " bar " << i;
            ASSERT_TRUE(Same(sumN.values[i], s, 1e-6)) << "n " << n << " bar " << i;
            ASSERT_TRUE(Same(ma.values[i], s / n, 1e-6)) << "n " << n << " bar " << i;
            if (!finite) {
                if (n > 1) {
                    ASSERT_TRUE(std::isnan(varp.values[i])) << "bar " << i;
                }
                ASSERT_TRUE(std::isnan(fc.values[i]) || n == 1) << "bar " << i;
                continue;
            }
            double m = s / n, d = 0;
            for (int k = i - n + 1; k <= i; ++k) d += (x[k] - m) * (x[k] - m);
            if (n > 1) {
                ASSERT_TRUE(Same(varp.values[i], d / n, 1e-3)) << "n " << n << " bar " << i;
            }
            ASSERT_TRUE(std::isfinite(fc.values[i])) << "bar " << i;
        }
    }
}

// ---- the evaluator's contract ------------------------------------------------------------

// The evaluator lends a statement's column to a function (kValueBorrowed): every function reads
// it and leaves it as it was.
TEST_F(Indicators, BorrowedArgumentsAreOnlyRead) {
    std::mt19937 rng(1);
    std::vector<float> x = RandomWalk(rng, 60);
    SetBars(x);
    for (const FunctionInfo* e : AllFunctionEntries()) {
        if (!IsImplementedFunction(e->id)) continue;
        std::vector<FormulaValue> args, copies;
        for (int i = 0; i < e->paramCount; ++i) {
            uint8_t mask = e->paramKinds[i];
            FormulaValue a;
            if (mask & kParamSeries) {
                a = Col(x, 3);
                a.flags = kValueBorrowed;
            } else if (mask & kParamNumber) {
                a = N(3);
            } else {
                a = FormulaValue::String("T");
            }
            copies.push_back(a.Clone());
            args.push_back(std::move(a));
        }
        FormulaValue out;
        CallFunction(e->id, ctx, std::span<FormulaValue>(args), out);
        for (size_t i = 0; i < args.size(); ++i) {
            EXPECT_EQ(args[i].kind, copies[i].kind) << e->name;
            EXPECT_EQ(args[i].begin, copies[i].begin) << e->name;
            EXPECT_EQ(args[i].count, copies[i].count) << e->name;
            EXPECT_EQ(args[i].values, copies[i].values) << e->name << " wrote into a borrowed column";
        }
    }
}

// Every function of this family over degenerate data: no bars, one bar, hostile numbers.
TEST_F(Indicators, HostileInputNeverCrashes) {
    const int ids[] = {kFnStd,      kFnAvedev,   kFnForcast,  kFnSar,       kFnSarTurn,  kFnZig,
                       kFnCost,     kFnWinner,   kFnDrawIcon, kFnDrawIconEx, kFnDrawText, kFnDrawTextAbs,
                       kFnDrawTextRel, kFnPolyLine, kFnDrawLine, kFnPartLine, kFnStickLine, kFnFloatArc};
    const float odd[] = {0.0f, -1.0f, 2.5f, 1e30f, -1e30f, kNaN, kInf};
    for (int bars : {0, 1, 2, 7}) {
        std::vector<float> closes(static_cast<size_t>(bars));
        for (int i = 0; i < bars; ++i) closes[i] = i % 2 ? kNaN : -5.0f * i;
        SetBars(closes, bars % 2 ? 0 : kNaN);
        if (bars > 1) {
            series.bars[0].high = kInf;  // and an inverted bar
            series.bars[1].low = 1e30f;
            series.bars[1].volume = -3;
        }
        for (int id : ids) {
            const FunctionInfo* e = FunctionById(id);
            for (float c : odd) {
                std::vector<FormulaValue> args;
                for (int i = 0; i < e->paramCount; ++i) {
                    uint8_t mask = e->paramKinds[i];
                    if (mask == kParamString) args.push_back(FormulaValue::String(""));
                    else if ((mask & kParamSeries) && i % 2 == 0) args.push_back(Col(std::vector<float>(closes.size(), c), bars > 1 ? 1 : 0));
                    else args.push_back(N(c));
                }
                bool ok = false;
                FormulaValue out = Call(id, std::move(args), &ok);
                ASSERT_TRUE(ok) << e->name << " " << c;
                ASSERT_TRUE(out.isSeries()) << e->name;
                ASSERT_EQ(static_cast<size_t>(out.count), out.values.size()) << e->name;
                ASSERT_LE(out.count, bars) << e->name;
                if (out.drawing) {
                    const DrawingData& d = *out.drawing;
                    for (size_t n : {d.value2.size(), d.value3.size(), d.int1.size(), d.int2.size()})
                        ASSERT_TRUE(n == 0 || n == static_cast<size_t>(out.count)) << e->name;
                }
            }
        }
    }
}

// ---- SAR and ZIG -------------------------------------------------------------------------

TEST_F(Indicators, SarStaysBetweenTheExtremesAndTurnsWhereItJumps) {
    std::mt19937 rng(17);
    std::vector<float> x = RandomWalk(rng, 3000);
    SetBars(x);
    FormulaValue sar = Call(kFnSar, A(N(10), N(2), N(20)));
    FormulaValue turn = Call(kFnSarTurn, A(N(10), N(2), N(20)));
    ASSERT_EQ(sar.begin, 9);
    ASSERT_EQ(turn.begin, 9);
    int turns = 0;
    for (int32_t i = 10; i < sar.count; ++i) {
        float t = turn.values[i];
        ASSERT_TRUE(t == 0 || t == 1 || t == -1);
        if (t != 0) {
            ++turns;
            // A turn below restarts at a low of the last ten bars, a turn above at a high.
            bool found = false;
            for (int k = std::max(0, i - 10); k < i; ++k)
                found = found || sar.values[i] == (t > 0 ? series.bars[k].low : series.bars[k].high);
            ASSERT_TRUE(found) << "bar " << i;
        } else {
            // Between turns the stop stays on its side of the bar.
            ASSERT_TRUE(sar.values[i] < series.bars[i].low || sar.values[i] > series.bars[i].high) << "bar " << i;
        }
    }
    EXPECT_GT(turns, 20);
}

TEST_F(Indicators, ZigIsFiniteWhereverItsLastTurnFalls) {
    std::mt19937 rng(23);
    for (int round = 0; round < 200; ++round) {
        std::vector<float> x = RandomWalk(rng, 1 + static_cast<int>(rng() % 60));
        if (round % 2) x.back() = x.size() > 1 ? x[x.size() - 2] * 1.5f : x.back();  // a last-bar extreme
        SetBars(x);
        for (float pct : {1.0f, 5.0f, 30.0f}) {
            FormulaValue z = Call(kFnZig, A(N(3), N(pct)));
            ASSERT_EQ(z.begin, 0);
            for (int32_t i = 0; i < z.count; ++i) ASSERT_TRUE(std::isfinite(z.values[i])) << round << " " << i;
            ASSERT_FLOAT_EQ(z.values[0], x[0]);
            ASSERT_FLOAT_EQ(z.values.back(), x.back());  // every leg ends on the last price
        }
    }
}

// ---- the chip distribution ---------------------------------------------------------------

// The distribution walked bucket by bucket exactly as described, for comparison.
struct PlainChips {
    std::vector<float> cost, winner;
    PlainChips(const Series& s, double percent, const std::vector<float>& p) {
        double hi = -1e300, lo = 1e300;
        for (const KLineRecord& b : s.bars) {
            double high = b.high, low = b.low;  // copies: never bind a reference to a packed field
            hi = std::max(hi, high);
            lo = std::min(lo, low);
        }
        double r = hi - lo;
        int n = std::clamp(100 * static_cast<int>(r), 500, 3000);
        std::vector<double> w(static_cast<size_t>(n), 0.0);
        double total = 0;
        int occTop = 0, occBottom = -1;
        for (size_t i = 0; i < s.size(); ++i) {
            double t = std::min(1.0, static_cast<double>(s.bars[i].volume) / s.capital[i].circulating);
            int top = static_cast<int>(n * (hi - s.bars[i].high) / r), bottom = static_cast<int>(n * (hi - s.bars[i].low) / r);
            if (top == bottom) {
                if (bottom < n) ++bottom;
                else --top;
            }
            int from = top, to = bottom - 1;
            if (occTop <= occBottom) from = std::min(from, occTop), to = std::max(to, occBottom);
            total = t + (1 - t) * total;
            double cum = 0, below = 0;
            bool reached = false, done = false;
            int seenLow = -1, seenHigh = -1;
            float value = kNaN;
            for (int j = to; j >= from; --j) {
                w[j] *= 1 - t;
                if (j >= top && j < bottom) w[j] += t / (bottom - top);
                if (w[j] > 0.000001) {
                    if (seenLow < 0) seenLow = j;
                    seenHigh = j;
                }
                double price = hi - j * r / n;
                cum += w[j];
                if (!reached && cum * 100 / total >= percent) {
                    reached = true;
                    value = static_cast<float>(price);
                }
                if (!done) {
                    if (price < p[i]) {
                        below += w[j];
                    } else {
                        double lower = hi - (j + 1) * r / n;
                        double share = j == n - 1 ? p[i] / price : (p[i] - lower) / (price - lower);
                        below += w[j] * std::clamp(share, 0.0, 1.0);
                        done = true;
                    }
                }
            }
            occTop = seenLow < 0 ? 0 : seenHigh;
            occBottom = seenLow;
            cost.push_back(value);
            winner.push_back(static_cast<float>(below));
        }
    }
};

TEST_F(Indicators, ChipsMatchThePlainBucketWalk) {
    std::mt19937 rng(29);
    for (int round = 0; round < 6; ++round) {
        std::vector<float> x = RandomWalk(rng, 400, 5.0f + 10 * round);
        SetBars(x, 2000);
        std::uniform_real_distribution<float> vol(10, 400);
        for (size_t i = 0; i < series.size(); ++i) series.bars[i].volume = vol(rng);
        for (double percent : {5.0, 50.0, 95.0}) {
            PlainChips plain(series, percent, x);
            FormulaValue cost = Call(kFnCost, A(N(static_cast<float>(percent))));
            FormulaValue winner = Call(kFnWinner, A(Col(x)));
            ASSERT_EQ(cost.begin, 0);
            for (int32_t i = 0; i < cost.count; ++i) {
                ASSERT_EQ(cost.values[i], plain.cost[i]) << "round " << round << " bar " << i;
                ASSERT_NEAR(winner.values[i], plain.winner[i], 1e-6) << "round " << round << " bar " << i;
            }
        }
    }
}

TEST_F(Indicators, CostNeverFallsBackToZero) {
    std::mt19937 rng(31);
    std::vector<float> x = RandomWalk(rng, 500);
    SetBars(x, 0);  // no capital for the first 100 bars: no distribution, no price
    for (size_t i = 100; i < series.size(); ++i) series.capital[i].circulating = 500;
    for (size_t i = 300; i < 310; ++i) series.bars[i].volume = 1e6f;  // far more than the float
    float lo = 1e30f, hi = 0;
    for (const KLineRecord& b : series.bars) {
        float low = b.low, high = b.high;
        lo = std::min(lo, low);
        hi = std::max(hi, high);
    }
    for (float percent : {0.0f, 0.5f, 50.0f, 99.999f, 100.0f}) {
        FormulaValue cost = Call(kFnCost, A(N(percent)));
        ASSERT_EQ(cost.begin, 100) << percent;
        for (int32_t i = cost.begin; i < cost.count; ++i) {
            ASSERT_GE(cost.values[i], lo - 1e-3f) << percent << " bar " << i;
            ASSERT_LE(cost.values[i], hi + 1e-3f) << percent << " bar " << i;
        }
    }
    // 100% is the top of the distribution; it is never below a lower percentage.
    FormulaValue all = Call(kFnCost, A(N(100))), most = Call(kFnCost, A(N(90)));
    for (int32_t i = 100; i < all.count; ++i) ASSERT_GE(all.values[i], most.values[i]) << i;
    EXPECT_EQ(Call(kFnCost, A(N(100.001f))).validCount(), 0);
    EXPECT_EQ(Call(kFnCost, A(N(kNaN))).validCount(), 0);
    FormulaValue winner = Call(kFnWinner, A(Col(x)));
    for (int32_t i = 0; i < winner.count; ++i) {
        ASSERT_GE(winner.values[i], 0.0f) << i;
        ASSERT_LE(winner.values[i], 1.0f + 1e-6f) << i;
    }
}

// ---- drawing data ------------------------------------------------------------------------

TEST_F(Indicators, DrawingTextAndFieldsSurviveACopy) {
    SetBars({1, 2, 3});
    const std::string gbk = "\xB4\xF3\xD1\xF4\xCF\xDF";  // 大阳线
    FormulaValue text = Call(kFnDrawText, A(Col({1, 0, 1}), Col({5, 6, 7}), FormulaValue::String(gbk)));
    ASSERT_TRUE(text.drawing);
    EXPECT_EQ(text.drawing->text, gbk);
    FormulaValue copy = text.Clone();
    text.drawing->value2[0] = 99;
    text.drawing->text.clear();
    EXPECT_EQ(copy.drawing->text, gbk);
    EXPECT_FLOAT_EQ(copy.drawing->value2[0], 5);
    // Other point fields stay empty for kinds that do not use them.
    EXPECT_TRUE(copy.drawing->int1.empty());
    EXPECT_TRUE(copy.drawing->value3.empty());
    // A plain operator on a drawing result computes a plain series.
    FormulaValue sum = Call(kOpAdd, A(std::move(copy), N(1)));
    EXPECT_FALSE(sum.drawing);
}

}  // namespace
}  // namespace tessaro
