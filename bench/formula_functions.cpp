// Built-in functions against plain hand-written loops computing the same columns.
//
// The market is 5,000 securities x 4,000 generated bars; one iteration runs the function over
// every security, and the counter ns_per_bar is the time per bar. Both sides produce a new output
// column per security (the function through its normal path, the loop with a fresh vector), so the
// ratio measures the computation and the call overhead. Only the columns a benchmark needs are
// generated (a whole Series per bar would not fit in memory at this size).
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

#include "formula/function_registry.h"
#include "formula/functions.h"

namespace tessaro {
namespace {

constexpr int kSecurities = 5000;
constexpr int kBars = 4000;

// The close and high columns of security k: a random walk, the same every run.
void Generate(int k, FormulaValue& close, FormulaValue& high) {
    std::mt19937 rng(42 + k);
    std::normal_distribution<float> step(0.0f, 0.2f);
    close = FormulaValue::MakeSeries(kBars, 0);
    high = FormulaValue::MakeSeries(kBars, 0);
    float p = 20;
    for (int i = 0; i < kBars; ++i) {
        p = std::max(1.0f, p + step(rng));
        float c = p + step(rng) * 0.5f;
        close.values[i] = c;
        high.values[i] = std::max(p, c) + 0.1f;
    }
}

// The evaluated bars: the functions measured here read only their arguments.
const Series& Bars() {
    static const Series bars = [] {
        Series s;
        s.resize(kBars);
        return s;
    }();
    return bars;
}

// Prepared arguments per security; the context has no pool, so CallFunction leaves them intact.
struct Prepared {
    std::vector<std::vector<FormulaValue>> args;
};

Prepared Prepare(int id, int n, float m = 0) {
    Prepared p;
    p.args.reserve(kSecurities);
    FunctionContext ctx;
    ctx.series = &Bars();
    for (int k = 0; k < kSecurities; ++k) {
        FormulaValue close, high;
        Generate(k, close, high);
        std::vector<FormulaValue> a;
        if (id == kFnCross) {
            std::vector<FormulaValue> ma5, ma10;
            ma5.push_back(close.Clone());
            ma5.push_back(FormulaValue::Number(5));
            ma10.push_back(std::move(close));
            ma10.push_back(FormulaValue::Number(10));
            FormulaValue f, g;
            CallFunction(kFnMa, ctx, ma5, f);
            CallFunction(kFnMa, ctx, ma10, g);
            a.push_back(std::move(f));
            a.push_back(std::move(g));
        } else {
            a.push_back(id == kFnHhv ? std::move(high) : std::move(close));
            a.push_back(FormulaValue::Number(static_cast<float>(n)));
            if (id == kFnSma) a.push_back(FormulaValue::Number(m));
        }
        p.args.push_back(std::move(a));
    }
    return p;
}

void SetCounters(benchmark::State& state) {
    state.counters["ns_per_bar"] = benchmark::Counter(static_cast<double>(kSecurities) * kBars,
                                                      benchmark::Counter::kIsIterationInvariantRate |
                                                          benchmark::Counter::kInvert);
    state.counters["ns_per_bar"].value *= 1e-9;  // inverted rate in nanoseconds per bar
}

void RunFunction(benchmark::State& state, int id, int n, float m = 0) {
    Prepared p = Prepare(id, n, m);
    for (auto _ : state) {
        for (int k = 0; k < kSecurities; ++k) {
            FunctionContext ctx;
            ctx.series = &Bars();
            FormulaValue out;
            CallFunction(id, ctx, p.args[k], out);
            benchmark::DoNotOptimize(out.values.data());
        }
    }
    SetCounters(state);
}

// The hand-written loops: the same results, written directly over the columns.
template <class Loop>
void RunLoop(benchmark::State& state, int id, int n, Loop loop) {
    Prepared p = Prepare(id, n);
    for (auto _ : state) {
        for (int k = 0; k < kSecurities; ++k) {
            const std::vector<float>& x = p.args[k][0].values;
            const std::vector<float>* y = p.args[k].size() > 1 && p.args[k][1].isSeries() ? &p.args[k][1].values : nullptr;
            std::vector<float> out(x.size());
            loop(x.data(), y ? y->data() : nullptr, static_cast<int>(x.size()), out.data());
            benchmark::DoNotOptimize(out.data());
        }
    }
    SetCounters(state);
}

void BM_MA20(benchmark::State& s) { RunFunction(s, kFnMa, 20); }
void BM_MA20_Loop(benchmark::State& s) {
    RunLoop(s, kFnMa, 20, [](const float* x, const float*, int n, float* o) {
        double sum = 0;
        for (int i = 0; i < n; ++i) {
            sum += x[i];
            if (i >= 20) sum -= x[i - 20];
            if (i >= 19) o[i] = static_cast<float>(sum / 20);
        }
    });
}
void BM_EMA12(benchmark::State& s) { RunFunction(s, kFnEma, 12); }
void BM_EMA12_Loop(benchmark::State& s) {
    RunLoop(s, kFnEma, 12, [](const float* x, const float*, int n, float* o) {
        double prev = x[0];
        o[0] = x[0];
        for (int i = 1; i < n; ++i) o[i] = static_cast<float>(prev = 2.0 / 13.0 * x[i] + 11.0 / 13.0 * prev);
    });
}
void BM_SMA9_1(benchmark::State& s) { RunFunction(s, kFnSma, 9, 1); }
void BM_SMA9_1_Loop(benchmark::State& s) {
    RunLoop(s, kFnSma, 9, [](const float* x, const float*, int n, float* o) {
        double prev = x[0];
        o[0] = x[0];
        for (int i = 1; i < n; ++i) o[i] = static_cast<float>(prev = 1.0 / 9.0 * x[i] + 8.0 / 9.0 * prev);
    });
}
void BM_HHV20(benchmark::State& s) { RunFunction(s, kFnHhv, 20); }
void BM_HHV20_Loop(benchmark::State& s) {
    RunLoop(s, kFnHhv, 20, [](const float* x, const float*, int n, float* o) {
        int dq[32];
        int head = 0, size = 0;
        for (int i = 0; i < n; ++i) {
            while (size > 0 && x[i] > x[dq[(head + size - 1) & 31]]) --size;
            dq[(head + size) & 31] = i;
            ++size;
            if (dq[head] + 19 < i) {
                head = (head + 1) & 31;
                --size;
            }
            o[i] = x[dq[head]];
        }
    });
}
void BM_STD20(benchmark::State& s) { RunFunction(s, kFnStd, 20); }
void BM_STD20_Loop(benchmark::State& s) {
    RunLoop(s, kFnStd, 20, [](const float* x, const float*, int n, float* o) {
        double s1 = 0, s2 = 0, shift = x[0];
        for (int i = 0; i < n; ++i) {
            double v = x[i] - shift;
            s1 += v;
            s2 += v * v;
            if (i >= 20) {
                double w = x[i - 20] - shift;
                s1 -= w;
                s2 -= w * w;
            }
            if (i >= 19) o[i] = static_cast<float>(std::sqrt(std::max(0.0, (20 * s2 - s1 * s1) * (1.0 / (20.0 * 19.0)))));
        }
    });
}
void BM_REF1(benchmark::State& s) { RunFunction(s, kFnRef, 1); }
void BM_REF1_Loop(benchmark::State& s) {
    RunLoop(s, kFnRef, 1, [](const float* x, const float*, int n, float* o) {
        for (int i = 1; i < n; ++i) o[i] = x[i - 1];
    });
}
void BM_CROSS(benchmark::State& s) { RunFunction(s, kFnCross, 0); }
void BM_CROSS_Loop(benchmark::State& s) {
    RunLoop(s, kFnCross, 0, [](const float* a, const float* b, int n, float* o) {
        for (int i = 10; i < n; ++i) o[i] = (a[i - 1] < b[i - 1]) & (a[i] > b[i]) ? 1.0f : 0.0f;
    });
}

BENCHMARK(BM_MA20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MA20_Loop)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EMA12)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EMA12_Loop)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SMA9_1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SMA9_1_Loop)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HHV20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HHV20_Loop)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_STD20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_STD20_Loop)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_REF1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_REF1_Loop)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CROSS)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CROSS_Loop)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tessaro

BENCHMARK_MAIN();
