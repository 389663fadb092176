// Built-in functions against plain hand-written loops computing the same columns.
//
// A slice of the market (250 securities x 4,000 generated bars) is evaluated per iteration;
// the counter ns_per_bar is the time per bar per function. Both sides produce a new output
// column per security (the function through its normal path, the loop with a fresh vector),
// so the ratio measures the computation and the call overhead.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

#include "formula/function_registry.h"
#include "formula/functions.h"

namespace tessaro {
namespace {

constexpr int kSecurities = 250;
constexpr int kBars = 4000;

struct Market {
    std::vector<Series> series;
    Market() {
        std::mt19937 rng(42);
        std::normal_distribution<float> step(0.0f, 0.2f);
        series.resize(kSecurities);
        for (Series& s : series) {
            float p = 20;
            s.resize(kBars);
            for (int i = 0; i < kBars; ++i) {
                p = std::max(1.0f, p + step(rng));
                KLineRecord& b = s.bars[i];
                b.time = static_cast<StoreTime>(40000 + i) * 86400;
                b.open = p;
                b.close = p + step(rng) * 0.5f;
                b.high = std::max(b.open, b.close) + 0.1f;
                b.low = std::min(b.open, b.close) - 0.1f;
                b.volume = 1000;
            }
        }
    }
};

const Market& TheMarket() {
    static const Market market;
    return market;
}

FormulaValue Column(const Series& s, float KLineRecord::*field) {
    FormulaValue v = FormulaValue::MakeSeries(static_cast<int32_t>(s.size()), 0);
    for (size_t i = 0; i < s.size(); ++i) v.values[i] = s.bars[i].*field;
    return v;
}

// Prepared arguments per security; the context has no pool, so CallFunction leaves them intact.
struct Prepared {
    std::vector<std::vector<FormulaValue>> args;
};

Prepared Prepare(int id, int n, float m = 0) {
    Prepared p;
    for (const Series& s : TheMarket().series) {
        std::vector<FormulaValue> a;
        if (id == kFnCross) {
            FunctionContext ctx;
            ctx.series = &s;
            std::vector<FormulaValue> ma5, ma10;
            ma5.push_back(Column(s, &KLineRecord::close));
            ma5.push_back(FormulaValue::Number(5));
            ma10.push_back(Column(s, &KLineRecord::close));
            ma10.push_back(FormulaValue::Number(10));
            FormulaValue f, g;
            CallFunction(kFnMa, ctx, ma5, f);
            CallFunction(kFnMa, ctx, ma10, g);
            a.push_back(std::move(f));
            a.push_back(std::move(g));
        } else {
            a.push_back(Column(s, id == kFnHhv ? &KLineRecord::high : &KLineRecord::close));
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
    const auto& market = TheMarket().series;
    for (auto _ : state) {
        for (int k = 0; k < kSecurities; ++k) {
            FunctionContext ctx;
            ctx.series = &market[k];
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
