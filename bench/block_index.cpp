// The block index worker alone (no session start-up, no market files written back):
// every member's day history read, adjusted and weighted into the 31 indexes of a
// generated 5,000 x 4,000 market (the demo's 30 industries and 沪深A股), and the
// index day files written. BENCH_MARKET_DIR names a generated market to reuse
// (bench/block_index.sh makes one); otherwise one is generated in a temporary
// directory first (about a minute).
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "market/base_files.h"
#include "market/demo_market.h"
#include "market/market_store.h"
#include "platform/settings_store.h"
#include "tools/blocks/block_index.h"

namespace tessaro {
namespace {

struct Market {
    std::string dir;
    bool own = false;
    SettingsStore settings;
    std::unique_ptr<MarketStore> store;
    std::unique_ptr<BlockSet> blocks;

    Market() {
        if (const char* d = std::getenv("BENCH_MARKET_DIR")) dir = d;
        if (dir.empty() || !std::filesystem::exists(dir + "/data/sh/stkinfo.dat")) {
            if (dir.empty()) {
                std::string pattern = (std::filesystem::temp_directory_path() / "tessaro-bench-XXXXXX").string();
                if (char* p = ::mkdtemp(pattern.data())) dir = p;
                own = true;
            }
            DemoMarketOptions options;
            options.outDir = dir;
            options.securities = 5000;
            options.days = 4000;
            options.seed = 7;
            GenerateDemoMarket(options);
        }
        AppPaths paths(dir);
        store = std::make_unique<MarketStore>(paths, settings);
        store->SetBaseFileLoader([paths](MarketStore& s) { LoadBaseFiles(s, paths); });
        store->LoadAll();
        blocks = std::make_unique<BlockSet>(paths);
        LoadBlockSet(*blocks, *store, false);
    }
    ~Market() {
        store.reset();
        std::error_code ec;
        if (own) std::filesystem::remove_all(dir, ec);
    }
};

void BM_BlockIndexes(benchmark::State& state) {
    static Market market;
    int indexes = 0, members = 0;
    for (auto _ : state) {
        ProgressQueue progress;
        BlockIndexReport report = RunBlockIndexes(*market.blocks, *market.store, AppPaths(market.dir), progress);
        indexes = report.indexes;
        members = report.members;
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    state.counters["indexes"] = indexes;
    state.counters["members"] = members;
    state.counters["peak_rss_MB"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
}
BENCHMARK(BM_BlockIndexes)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1)->Repetitions(5)
    ->ReportAggregatesOnly(false);

}  // namespace
}  // namespace tessaro

BENCHMARK_MAIN();
