// The evaluator over a generated market of 5,000 securities with 4,000 day bars each: MACD,
// KDJ(9,3,3) and the screening condition CROSS(MA(C,5),MA(C,20)) AND V>MA(V,10).
//
//   Preloaded/*   the series are in memory (loading excluded); one evaluation per security,
//                 result assembly included; ns_per_bar is the time per evaluated bar.
//   WholeMarket/* one iteration evaluates every security of both exchanges, loading each
//                 series through the series loader (forward adjustment) from a warm page cache.
// Both run on one thread and on two (each thread with its own evaluation context, taking
// every other security).
//
// The market is generated once into $TESSARO_EVAL_MARKET (default /tmp/tessaro-eval-market,
// kept between runs; the same as `tessaro-cli gen --out DIR --securities 5000 --days 4000`).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/paths.h"
#include "formula/compiler.h"
#include "formula/eval_data_source.h"
#include "formula/evaluator.h"
#include "formula/formula_set.h"
#include "market/base_files.h"
#include "market/demo_market.h"
#include "market/market_store.h"
#include "market/series_loader.h"
#include "platform/settings_store.h"
#include "platform/text.h"

namespace tessaro {
namespace {

constexpr int kSecurities = 5000;
constexpr int kDays = 4000;
// Securities held in memory for the preloaded runs: enough to leave the caches, few enough
// not to need gigabytes.
constexpr size_t kPreloaded = 400;

std::string MarketDir() {
    const char* dir = std::getenv("TESSARO_EVAL_MARKET");
    return dir && *dir ? dir : "/tmp/tessaro-eval-market";
}

FormulaParam Param(const char* name, float value) {
    FormulaParam p;
    p.setName(name);
    p.defaultValue = value;
    p.min = 0;
    p.max = 1000;
    return p;
}

FormulaRecord Compile(const char* name, const char* text, std::vector<FormulaParam> params, uint32_t type) {
    FormulaRecord r;
    r.type = type;
    r.setName(name);
    r.params = std::move(params);
    r.source = Utf8ToGbk(text);
    CompileFormula(r);
    return r;
}

class Market {
public:
    Market() {
        std::string dir = MarketDir();
        AppPaths paths(dir);
        if (!std::filesystem::exists(paths.marketDir(kMarketSH))) {
            std::fprintf(stderr, "generating %d securities x %d days into %s (once)...\n", kSecurities, kDays,
                         dir.c_str());
            DemoMarketOptions options;
            options.outDir = dir;
            options.securities = kSecurities;
            options.days = kDays;
            std::string error;
            if (!GenerateDemoMarket(options, nullptr, &error)) {
                error_ = "cannot generate the market: " + error;
                return;
            }
        }
        store_ = std::make_unique<MarketStore>(paths, settings_);
        store_->SetBaseFileLoader([paths](MarketStore& store) { LoadBaseFiles(store, paths); });
        std::string error;
        if (!store_->LoadAll(&error)) {
            error_ = "cannot load the market: " + error;
            return;
        }
        source_ = std::make_unique<StoreSeriesSource>(*store_, paths);
        data_ = std::make_unique<StoreEvalData>(*store_, *source_);
        securities_ = store_->ListSecurities(3);

        // The preloaded series keep their bars only: the three formulas read nothing else.
        for (size_t i = 0; i < securities_.size() && preloaded_.size() < kPreloaded; i += 7) {
            Series s;
            if (!LoadSeries(*source_, securities_[i].id, kPeriodDay, s, 0)) continue;
            s.orderBooks = {};
            s.trades = {};
            s.capital = {};
            s.capitalChanges = {};
            s.exRights = {};
            s.period = kPeriodDay;
            preloadedBars_ += s.size();
            preloaded_.push_back({securities_[i], std::move(s)});
        }

        formulas_[0] = Compile("MACD", "DIF:EMA(C,SHORT)-EMA(C,LONG); DEA:EMA(DIF,MID); MACD:2*(DIF-DEA),COLORSTICK;",
                               {Param("SHORT", 12), Param("LONG", 26), Param("MID", 9)}, kFormulaSubPane);
        formulas_[1] = Compile("KDJ",
                               "RSV:=(CLOSE-LLV(LOW,N))/(HHV(HIGH,N)-LLV(LOW,N))*100; K:SMA(RSV,M1,1); "
                               "D:SMA(K,M2,1); J:3*K-2*D;",
                               {Param("N", 9), Param("M1", 3), Param("M2", 3)}, kFormulaSubPane);
        formulas_[2] = Compile("PICK", "PICK:CROSS(MA(C,5),MA(C,20)) AND V>MA(V,10);", {}, kFormulaSelection);
    }

    const std::string& error() const { return error_; }
    EvalDataSource& data() { return *data_; }
    const FormulaSet& set() const { return set_; }
    const std::vector<CodeEntry>& securities() const { return securities_; }
    struct Held {
        CodeEntry entry;
        Series series;
    };
    const std::vector<Held>& preloaded() const { return preloaded_; }
    size_t preloadedBars() const { return preloadedBars_; }
    const FormulaRecord& formula(int k) const { return formulas_[k]; }

private:
    std::string error_;
    SettingsStore settings_;
    std::unique_ptr<MarketStore> store_;
    std::unique_ptr<StoreSeriesSource> source_;
    std::unique_ptr<StoreEvalData> data_;
    FormulaSet set_;
    std::vector<CodeEntry> securities_;
    std::vector<Held> preloaded_;
    size_t preloadedBars_ = 0;
    FormulaRecord formulas_[3];
};

Market& TheMarket() {
    static Market market;
    return market;
}

// The formula's first output line at its last bar, so the work cannot be optimised away.
float LastValue(const EvalResult& r) {
    if (r.lines.empty() || r.lines[0].points.empty()) return 0;
    return r.lines[0].points.back().value;
}

// range(0): how many of the preloaded series to cycle through: 1 (128 KB of bars, in the
// second-level cache, as a chart evaluating indicators over its series), 40 (5 MB, in the
// last-level cache) or all 400 (50 MB, read from memory).
void Preloaded(benchmark::State& state, int formula) {
    Market& m = TheMarket();
    if (!m.error().empty() || m.preloaded().empty()) {
        state.SkipWithError(m.error().empty() ? "no series" : m.error().c_str());
        return;
    }
    FormulaEvaluator evaluator(m.set(), m.data(), nullptr);
    const auto& held = m.preloaded();
    const size_t count = std::min(held.size(), static_cast<size_t>(state.range(0)));
    const size_t threads = static_cast<size_t>(state.threads()), me = static_cast<size_t>(state.thread_index());
    size_t bars = 0, empty = 0;
    for (auto _ : state) {
        for (size_t i = me; i < count; i += threads) {
            auto r = evaluator.Evaluate(m.formula(formula), held[i].entry, &held[i].series, kPeriodDay);
            if (!r) ++empty;
            else benchmark::DoNotOptimize(LastValue(*r));
            bars += held[i].series.size();
        }
    }
    if (empty) state.SkipWithError("an evaluation had no result");
    size_t held_bars = 0;
    for (size_t i = 0; i < count; ++i) held_bars += held[i].series.size();
    state.counters["bars_per_series"] = static_cast<double>(held_bars) / static_cast<double>(count);
    // Giga-bars per second, inverted: nanoseconds per bar.
    state.counters["ns_per_bar"] =
        benchmark::Counter(static_cast<double>(bars) * 1e-9, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void WholeMarket(benchmark::State& state, int formula) {
    Market& m = TheMarket();
    if (!m.error().empty()) {
        state.SkipWithError(m.error().c_str());
        return;
    }
    FormulaEvaluator evaluator(m.set(), m.data(), nullptr);
    const auto& all = m.securities();
    const size_t threads = static_cast<size_t>(state.threads()), me = static_cast<size_t>(state.thread_index());
    size_t evaluated = 0, picked = 0;
    for (auto _ : state) {
        for (size_t i = me; i < all.size(); i += threads) {
            auto r = evaluator.Evaluate(m.formula(formula), all[i], nullptr, kPeriodDay);
            if (!r) continue;
            ++evaluated;
            picked += LastValue(*r) > 0.5f;
        }
    }
    state.counters["securities"] = benchmark::Counter(static_cast<double>(evaluated) /
                                                      static_cast<double>(state.iterations()));
    state.counters["picked"] = benchmark::Counter(static_cast<double>(picked) / static_cast<double>(state.iterations()));
}

void BM_Preloaded_Macd(benchmark::State& s) { Preloaded(s, 0); }
void BM_Preloaded_Kdj(benchmark::State& s) { Preloaded(s, 1); }
void BM_Preloaded_Screen(benchmark::State& s) { Preloaded(s, 2); }
void BM_WholeMarket_Macd(benchmark::State& s) { WholeMarket(s, 0); }
void BM_WholeMarket_Kdj(benchmark::State& s) { WholeMarket(s, 1); }
void BM_WholeMarket_Screen(benchmark::State& s) { WholeMarket(s, 2); }

// One thread: ns_per_bar from CPU time. Two threads: from wall time (the throughput of both cores).
#define TESSARO_PRELOADED(fn)                                                          \
    BENCHMARK(fn)->Unit(benchmark::kMillisecond)->Arg(1)->Arg(40)->Arg(400)->Threads(1);       \
    BENCHMARK(fn)->Unit(benchmark::kMillisecond)->Arg(40)->Arg(400)->UseRealTime()->Threads(2)
TESSARO_PRELOADED(BM_Preloaded_Macd);
TESSARO_PRELOADED(BM_Preloaded_Kdj);
TESSARO_PRELOADED(BM_Preloaded_Screen);
BENCHMARK(BM_WholeMarket_Macd)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3)->Threads(1)->Threads(2);
BENCHMARK(BM_WholeMarket_Kdj)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3)->Threads(1)->Threads(2);
BENCHMARK(BM_WholeMarket_Screen)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3)->Threads(1)->Threads(2);

}  // namespace
}  // namespace tessaro

BENCHMARK_MAIN();
