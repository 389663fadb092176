// LoadSeries over a generated market: a share with about 4,000 day bars and about 20
// ex-rights events, read as day, week and month bars with forward adjustment, and as
// five- and sixty-minute bars over about 4,000 five-minute bars.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/paths.h"
#include "market/base_files.h"
#include "market/demo_market.h"
#include "market/market_store.h"
#include "platform/security_id.h"
#include "market/series_loader.h"
#include "platform/settings_store.h"

namespace tessaro {
namespace {

// 3,999 days before today plus today's bar: 4,000 day bars.
constexpr int kHistoryDays = 3999;
// 84 days of 48 five-minute bars: 4,032 five-minute bars.
constexpr int kFiveMinuteDays = 84;
constexpr int kWantedEvents = 20;

// A generated application directory, removed at exit, with its store loaded, and the
// A share whose ex-rights count comes nearest kWantedEvents.
class Market {
public:
    Market() {
        std::string pattern = (std::filesystem::temp_directory_path() / "tessaro-bench-series-XXXXXX").string();
        if (char* p = ::mkdtemp(pattern.data())) dir_ = p;
        DemoMarketOptions options;
        options.outDir = dir_;
        options.securities = 12;
        options.days = kHistoryDays;
        options.fiveMinuteDays = kFiveMinuteDays;
        options.oneMinuteDays = 1;
        std::string error;
        if (dir_.empty() || !GenerateDemoMarket(options, nullptr, &error)) {
            error_ = "cannot generate the market: " + error;
            return;
        }
        paths_ = AppPaths(dir_);
        store_ = std::make_unique<MarketStore>(paths_, settings_);
        AppPaths paths = paths_;
        store_->SetBaseFileLoader([paths](MarketStore& store) { LoadBaseFiles(store, paths); });
        if (!store_->LoadAll(&error)) {
            error_ = "cannot load the market: " + error;
            return;
        }
        size_t best = SIZE_MAX;
        auto record = std::make_unique<StockRecord>();
        for (const DemoSecurity& s : DemoSecurities(options.securities)) {
            std::vector<ExRightsRecord> exRights;
            if (s.securityClass != kClassAShare || !store_->GetRecord(s.id, *record, &exRights)) continue;
            size_t distance = exRights.size() > kWantedEvents ? exRights.size() - kWantedEvents
                                                               : kWantedEvents - exRights.size();
            if (distance < best) {
                best = distance;
                id_ = s.id;
                events_ = exRights.size();
            }
        }
        if (best == SIZE_MAX) error_ = "no A share in the market";
    }
    ~Market() {
        store_.reset();
        std::error_code ec;
        if (!dir_.empty()) std::filesystem::remove_all(dir_, ec);
    }

    const std::string& error() const { return error_; }
    const SecurityId& id() const { return id_; }
    size_t events() const { return events_; }
    StoreSeriesSource source() const { return StoreSeriesSource(*store_, paths_); }

private:
    std::string dir_, error_;
    AppPaths paths_;
    SettingsStore settings_;
    std::unique_ptr<MarketStore> store_;
    SecurityId id_;
    size_t events_ = 0;
};

Market& Shared() {
    static Market market;
    return market;
}

void RunLoad(benchmark::State& state, Period period, int flags) {
    Market& m = Shared();
    if (!m.error().empty()) {
        state.SkipWithError(m.error().c_str());
        return;
    }
    StoreSeriesSource source = m.source();
    Series series;
    for (auto _ : state) {
        if (!LoadSeries(source, m.id(), period, series, flags)) {
            state.SkipWithError("LoadSeries failed");
            break;
        }
        benchmark::DoNotOptimize(series.bars.data());
    }
    state.counters["bars"] = static_cast<double>(series.size());
    state.counters["exrights"] = static_cast<double>(series.exRights.size());
    state.SetLabel(SecurityText(m.id()));
}

void BM_DayForward(benchmark::State& state) { RunLoad(state, kPeriodDay, 0); }
void BM_DayUnadjusted(benchmark::State& state) { RunLoad(state, kPeriodDay, kExRightsNone); }
void BM_WeekForward(benchmark::State& state) { RunLoad(state, kPeriodWeek, 0); }
void BM_MonthForward(benchmark::State& state) { RunLoad(state, kPeriodMonth, 0); }
void BM_Min5Forward(benchmark::State& state) { RunLoad(state, kPeriodMin5, 0); }
void BM_Min60Forward(benchmark::State& state) { RunLoad(state, kPeriodMin60, 0); }

BENCHMARK(BM_DayForward)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_DayUnadjusted)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_WeekForward)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_MonthForward)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_Min5Forward)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_Min60Forward)->Repetitions(5)->ReportAggregatesOnly(true);

}  // namespace
}  // namespace tessaro

BENCHMARK_MAIN();
