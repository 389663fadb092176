// The indicator functions over 4,000 generated bars: STD(C,20), SAR(10,2,20), ZIG(3,5), COST(50)
// and WINNER(C), in nanoseconds per bar (the counter ns_per_bar).
//
// Each iteration evaluates every function over 20 securities of 4,000 daily bars with a real-looking
// turnover (1% to 5% of the float per bar), so that the chip distribution stays spread over its
// buckets as it does on a chart.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "formula/function_registry.h"
#include "formula/functions.h"

namespace tessaro {
namespace {

constexpr int kSecurities = 20;
constexpr int kBars = 4000;

const std::vector<Series>& Market() {
    static const std::vector<Series> market = [] {
        std::vector<Series> all(kSecurities);
        std::mt19937 rng(7);
        std::normal_distribution<float> step(0.0f, 0.25f);
        std::uniform_real_distribution<float> turnover(0.01f, 0.05f);
        for (Series& s : all) {
            s.resize(kBars);
            float p = 20;
            for (int i = 0; i < kBars; ++i) {
                p = std::max(2.0f, p + step(rng));
                KLineRecord& b = s.bars[i];
                b.open = p;
                b.close = std::max(1.0f, p + step(rng));
                b.high = std::max(p, static_cast<float>(b.close)) + 0.15f;
                b.low = std::min(p, static_cast<float>(b.close)) - 0.15f;
                s.capital[i].circulating = 100000;
                b.volume = 100000 * turnover(rng);
            }
        }
        return all;
    }();
    return market;
}

FormulaValue Close(const Series& s) {
    FormulaValue v = FormulaValue::MakeSeries(static_cast<int32_t>(s.size()), 0);
    for (size_t i = 0; i < s.size(); ++i) v.values[i] = s.bars[i].close;
    return v;
}

// Runs `id` with the arguments `make(series)` builds, over every security.
template <class Make>
void Run(benchmark::State& state, int id, Make make) {
    const auto& market = Market();
    std::vector<std::vector<FormulaValue>> args;
    for (const Series& s : market) args.push_back(make(s));
    for (auto _ : state) {
        for (int k = 0; k < kSecurities; ++k) {
            FunctionContext ctx;
            ctx.series = &market[k];
            FormulaValue out;
            CallFunction(id, ctx, args[k], out);
            benchmark::DoNotOptimize(out.values.data());
        }
    }
    state.counters["ns_per_bar"] = benchmark::Counter(static_cast<double>(kSecurities) * kBars * 1e-9,
                                                      benchmark::Counter::kIsIterationInvariantRate |
                                                          benchmark::Counter::kInvert);
}

std::vector<FormulaValue> Numbers(std::initializer_list<float> values) {
    std::vector<FormulaValue> out;
    for (float v : values) out.push_back(FormulaValue::Number(v));
    return out;
}

void BM_STD20(benchmark::State& state) {
    Run(state, kFnStd, [](const Series& s) {
        std::vector<FormulaValue> a;
        a.push_back(Close(s));
        a.push_back(FormulaValue::Number(20));
        return a;
    });
}
void BM_SAR(benchmark::State& state) {
    Run(state, kFnSar, [](const Series&) { return Numbers({10, 2, 20}); });
}
void BM_ZIG(benchmark::State& state) {
    Run(state, kFnZig, [](const Series&) { return Numbers({3, 5}); });
}
void BM_COST50(benchmark::State& state) {
    Run(state, kFnCost, [](const Series&) { return Numbers({50}); });
}
void BM_WINNER_C(benchmark::State& state) {
    Run(state, kFnWinner, [](const Series& s) {
        std::vector<FormulaValue> a;
        a.push_back(Close(s));
        return a;
    });
}

BENCHMARK(BM_STD20)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SAR)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ZIG)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_COST50)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WINNER_C)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tessaro

BENCHMARK_MAIN();
