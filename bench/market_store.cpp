// Market store: a burst of 5,000 quotes, 5,000 stored tick batches, and loading three
// full markets from warm files.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/paths.h"
#include "market/market_store.h"
#include "platform/settings_store.h"
#include "platform/store_time.h"

namespace tessaro {
namespace {

constexpr int kQuotes = 5000;
constexpr int kTickBatches = 5000;
constexpr int kTicksPerBatch = 20;
// 100 batches of 20 ticks each: 2,000 of the 4,800 ticks a security may hold a day.
constexpr int kTickSecurities = 50;

const StoreTime kDay = MakeStoreTime(2025, 6, 13);

std::string Code(int n) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%06d", n);
    return buffer;
}

// Security i of a market: SH 600000.., SZ 000001.., $$ 100000.. (999999 is already there).
SecurityId NthSecurity(MarketCode market, int i) {
    int base = market == kMarketSH ? 600000 : market == kMarketSZ ? 1 : 100000;
    return MakeSecurityId(market, Code(base + i));
}

QuoteUpdate MakeQuote(const SecurityId& id, StoreTime time, float price, float volume) {
    QuoteUpdate q;
    q.entry.id = id;
    QuoteSnapshot& s = q.snapshot;
    s.avgVolume5 = 50000;
    s.prevClose = price * 0.99f;
    s.price5MinAgo = price;
    s.bar.time = time;
    s.bar.open = price * 0.98f;
    s.bar.high = price * 1.02f;
    s.bar.low = price * 0.97f;
    s.bar.close = price;
    s.bar.volume = volume;
    s.bar.amount = volume * price * 100;
    for (int i = 0; i < 5; ++i) {
        s.book.bidPrice[i] = price - 0.01f * static_cast<float>(i + 1);
        s.book.bidVolume[i] = static_cast<float>(100 + i);
        s.book.askPrice[i] = price + 0.01f * static_cast<float>(i + 1);
        s.book.askVolume[i] = static_cast<float>(200 + i);
    }
    s.lastTrade.volume = 10;
    s.lastTrade.amount = 10 * price * 100;
    s.lastTrade.direction = 1;
    return q;
}

// Batch `n` of a security on the day starting at `day`: ticks n*20+1 .. n*20+20, one lot
// and one second apart from 09:30 on.
std::vector<TickRecord> TickBatch(StoreTime day, int n) {
    std::vector<TickRecord> ticks(kTicksPerBatch);
    for (int i = 0; i < kTicksPerBatch; ++i) {
        int k = n * kTicksPerBatch + i;
        TickRecord& t = ticks[static_cast<size_t>(i)];
        t.time = day + 9 * 3600 + 30 * 60 + static_cast<StoreTime>(k);
        t.price = 10 + 0.01f * static_cast<float>(k % 50);
        t.volume = static_cast<float>(k + 1);
        t.amount = t.volume * 1000;
        t.direction = k % 2 ? 1 : -1;
    }
    return ticks;
}

// A temporary application directory, removed at exit.
class BenchDir {
public:
    BenchDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "tessaro-bench-XXXXXX").string();
        if (char* p = ::mkdtemp(pattern.data())) path_ = p;
    }
    ~BenchDir() {
        std::error_code ec;
        if (!path_.empty()) std::filesystem::remove_all(path_, ec);
    }
    std::string sub(const std::string& name) const { return path_ + "/" + name; }
    bool ok() const { return !path_.empty(); }

private:
    std::string path_;
};

BenchDir& Dir() {
    static BenchDir dir;
    return dir;
}

SettingsStore& Settings() {
    static SettingsStore settings;
    return settings;
}

// ---- 5,000 quotes: 2,500 securities of each exchange, each quoted once ----------------

void BM_UpdateQuotes5000(benchmark::State& state) {
    MarketStore store(AppPaths(Dir().sub("quotes")), Settings());
    if (!Dir().ok() || !store.LoadAll()) {
        state.SkipWithError("cannot open the market store");
        return;
    }
    std::vector<QuoteUpdate> updates;
    updates.reserve(kQuotes);
    for (int i = 0; i < kQuotes; ++i) {
        MarketCode market = i % 2 ? kMarketSZ : kMarketSH;
        float price = 5 + 0.01f * static_cast<float>(i % 3000);
        updates.push_back(MakeQuote(NthSecurity(market, i / 2), kDay + 10 * 3600, price, 1000));
    }
    // The securities exist before the clock starts, as during a trading day.
    for (QuoteUpdate& q : updates) store.UpdateQuote(q);
    if (store.SecurityCount(kMarketSH) != kQuotes / 2 || store.SecurityCount(kMarketSZ) != kQuotes / 2) {
        state.SkipWithError("securities missing");
        return;
    }

    int round = 0;
    for (auto _ : state) {
        ++round;
        unsigned stored = 0;
        for (QuoteUpdate& q : updates) {
            // Every round trades: the volume grows and the time moves on (within the day).
            q.snapshot.bar.volume += 10;
            q.snapshot.bar.time = kDay + 10 * 3600 + static_cast<StoreTime>(round % 10000);
            stored += store.UpdateQuote(q) & kQuoteStored;
        }
        if (stored != kQuoteStored * kQuotes) state.SkipWithError("a quote was not stored");
        benchmark::DoNotOptimize(stored);
    }
    state.SetItemsProcessed(state.iterations() * kQuotes);
}
BENCHMARK(BM_UpdateQuotes5000)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

// ---- 5,000 batches of 20 ticks over 50 securities of both exchanges -------------------

void BM_AppendTicks5000x20(benchmark::State& state) {
    MarketStore store(AppPaths(Dir().sub("ticks")), Settings());
    if (!Dir().ok() || !store.LoadAll()) {
        state.SkipWithError("cannot open the market store");
        return;
    }
    std::vector<SecurityId> ids;
    for (int i = 0; i < kTickSecurities; ++i) ids.push_back(NthSecurity(i % 2 ? kMarketSZ : kMarketSH, i / 2));
    std::vector<std::vector<TickRecord>> batches(kTickBatches / kTickSecurities);
    // Each round is a trading day of its own (set up outside the clock): its first quote
    // opens the day, and today's ticks start again from block 0.
    auto startDay = [&](int round) {
        const StoreTime day = kDay + 86400u * static_cast<StoreTime>(round);
        for (const SecurityId& id : ids) {
            QuoteUpdate q = MakeQuote(id, day + 15 * 3600, 10, 1e6f);
            store.UpdateQuote(q);
        }
        for (size_t n = 0; n < batches.size(); ++n) batches[n] = TickBatch(day, static_cast<int>(n));
    };

    // Google Benchmark calls this once per repetition: the days go on across the calls, as
    // a day already stored would turn every batch into a repeat the merge drops.
    static int round = 0;
    const int firstRound = round;
    for (auto _ : state) {
        state.PauseTiming();
        if (round > firstRound && store.TickCount(ids.front()) != kTickBatches / kTickSecurities * kTicksPerBatch)
            state.SkipWithError("a day's ticks are missing");
        startDay(round++);
        state.ResumeTiming();
        bool ok = true;
        // Interleaved as the server sends them: batch n of every security, then batch n + 1.
        for (int k = 0; k < kTickBatches; ++k)
            ok &= store.AppendTicks(ids[static_cast<size_t>(k % kTickSecurities)],
                                    batches[static_cast<size_t>(k / kTickSecurities)]);
        if (!ok) state.SkipWithError("a batch was not stored");
    }
    // After the loop the clock has stopped.
    if (store.TickCount(ids.back()) != kTickBatches / kTickSecurities * kTicksPerBatch)
        state.SkipWithError("ticks missing");
    state.SetItemsProcessed(state.iterations() * kTickBatches);
}
BENCHMARK(BM_AppendTicks5000x20)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

// ---- LoadAll of three full markets -------------------------------------------------------

// Writes 4,096 securities into each market once: a quote, a morning of minutes and a
// block of ticks each.
bool WriteFullMarkets(const std::string& appDir) {
    MarketStore store{AppPaths(appDir), Settings()};
    if (!store.LoadAll()) return false;
    std::vector<MinuteSlot> minutes(120);
    std::vector<TickRecord> ticks = TickBatch(kDay, 0);
    for (MarketCode market : {kMarketSH, kMarketSZ, kMarketSystem}) {
        for (int i = 0; store.SecurityCount(market) < kMaxSecurities; ++i) {
            SecurityId id = NthSecurity(market, i);
            float price = 5 + 0.01f * static_cast<float>(i);
            QuoteUpdate q = MakeQuote(id, kDay + 15 * 3600, price, 1e6f);
            if (!(store.UpdateQuote(q) & kQuoteStored)) return false;
            for (size_t m = 0; m < minutes.size(); ++m) {
                MinuteSlot& s = minutes[m];
                s.time = kDay + 9 * 3600 + 30 * 60 + 60 * static_cast<StoreTime>(m + 1);
                s.open = s.high = s.low = s.close = price;
                s.volume = 100.0f * static_cast<float>(m + 1);
                s.amount = s.volume * price * 100;
            }
            if (!store.UpdateMinutes(id, minutes) || !store.AppendTicks(id, ticks)) return false;
        }
    }
    return store.SaveAll();
}

// The full markets, written once for every benchmark and repetition that reads them.
bool FullMarketsWritten() {
    static const bool written = Dir().ok() && WriteFullMarkets(Dir().sub("full"));
    return written;
}

void BM_LoadAllFullMarkets(benchmark::State& state) {
    const std::string appDir = Dir().sub("full");
    if (!FullMarketsWritten()) {
        state.SkipWithError("cannot write the market files");
        return;
    }
    // One load before the clock: the files are in the page cache from then on.
    {
        MarketStore warm{AppPaths(appDir), Settings()};
        if (!warm.LoadAll()) state.SkipWithError("load failed");
    }
    for (auto _ : state) {
        state.PauseTiming();
        auto store = std::make_unique<MarketStore>(AppPaths(appDir), Settings());
        state.ResumeTiming();
        bool ok = store->LoadAll();
        state.PauseTiming();
        if (!ok || store->SecurityCount(kMarketSH) != kMaxSecurities || store->SecurityCount(kMarketSZ) != kMaxSecurities ||
            store->SecurityCount(kMarketSystem) != kMaxSecurities || store->TickCount(NthSecurity(kMarketSZ, 7)) != kTicksPerBatch)
            state.SkipWithError("load incomplete");
        store.reset();  // freeing 90 MB of records is not part of the load
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * 3 * kMaxSecurities);
}
BENCHMARK(BM_LoadAllFullMarkets)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

// ---- NewDay of a full market ----------------------------------------------------------

// The first quote of a day clears the market and writes the cleared image at once (so
// that the file never lists yesterday's tick blocks while today's ticks reuse them). This
// measures that write for 4,096 securities, flushed to disk; it happens once a day.
void BM_NewDayFullMarket(benchmark::State& state) {
    const std::string appDir = Dir().sub("full");
    if (!FullMarketsWritten()) {
        state.SkipWithError("cannot write the market files");
        return;
    }
    // A copy of its own: the load benchmark keeps reading the full files.
    const std::string copyDir = Dir().sub("newday");
    std::error_code ec;
    std::filesystem::remove_all(copyDir, ec);
    std::filesystem::copy(appDir, copyDir, std::filesystem::copy_options::recursive, ec);
    MarketStore store{AppPaths(copyDir), Settings()};
    if (ec || !store.LoadAll() || store.SecurityCount(kMarketSH) != kMaxSecurities) {
        state.SkipWithError("cannot load the full market");
        return;
    }
    for (auto _ : state) store.NewDay(MarketBit(kMarketSH));
    if (store.TickCount(NthSecurity(kMarketSH, 7)) != 0) state.SkipWithError("ticks survived the new day");
    state.SetItemsProcessed(state.iterations() * kMaxSecurities);
}
BENCHMARK(BM_NewDayFullMarket)->Unit(benchmark::kMillisecond)->Iterations(5)->Repetitions(5)->ReportAggregatesOnly(true);

// ---- Change notices: draining 5,000 changed securities ------------------------------------

void BM_DrainChanges5000(benchmark::State& state) {
    MarketStore store(AppPaths(Dir().sub("changes")), Settings());
    if (!Dir().ok() || !store.LoadAll()) {
        state.SkipWithError("cannot open the market store");
        return;
    }
    std::vector<QuoteUpdate> updates;
    for (int i = 0; i < kQuotes; ++i)
        updates.push_back(MakeQuote(NthSecurity(i % 2 ? kMarketSZ : kMarketSH, i / 2), kDay + 10 * 3600, 10, 1000));
    for (QuoteUpdate& q : updates) store.UpdateQuote(q);
    auto feed = store.WatchChanges();
    ChangeSet changes;
    for (auto _ : state) {
        state.PauseTiming();
        for (QuoteUpdate& q : updates) {
            q.snapshot.bar.volume += 10;
            store.UpdateQuote(q);
        }
        state.ResumeTiming();
        feed->Drain(changes);
        if (changes.securities.size() != kQuotes) state.SkipWithError("a change was not noticed");
        benchmark::DoNotOptimize(changes.securities.data());
    }
    state.SetItemsProcessed(state.iterations() * kQuotes);
}
BENCHMARK(BM_DrainChanges5000)->Unit(benchmark::kMicrosecond)->Iterations(200)->Repetitions(5)->ReportAggregatesOnly(true);

// ---- A reader of quotes while another thread appends ticks without pause ---------------

// The reader's wait is what a window on the UI thread would feel: the tick
// writer must never hold the market lock across the disk. Reports the reader's
// p50, p99 and worst call in microseconds.
void BM_QuoteReaderWhileTicksAppend(benchmark::State& state) {
    MarketStore store(AppPaths(Dir().sub("reader")), Settings());
    if (!Dir().ok() || !store.LoadAll()) {
        state.SkipWithError("cannot open the market store");
        return;
    }
    std::vector<SecurityId> ids;
    for (int i = 0; i < kTickSecurities; ++i) ids.push_back(NthSecurity(kMarketSH, i));
    static int round = 0;
    std::vector<double> waits;
    for (auto _ : state) {
        const StoreTime day = kDay + 86400u * static_cast<StoreTime>(round++);
        for (const SecurityId& id : ids) {
            QuoteUpdate q = MakeQuote(id, day + 15 * 3600, 10, 1e6f);
            store.UpdateQuote(q);
        }
        std::atomic<bool> done{false};
        std::thread writer([&] {
            // 240 batches of 20: the 4,800 ticks each security may hold.
            for (int n = 0; n < 240 && !done.load(); ++n) {
                const std::vector<TickRecord> batch = TickBatch(day, n);
                for (const SecurityId& id : ids) store.AppendTicks(id, batch);
            }
            done = true;
        });
        while (!done.load()) {
            for (const SecurityId& id : ids) {
                const auto start = std::chrono::steady_clock::now();
                benchmark::DoNotOptimize(store.GetQuote(id));
                waits.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
            }
        }
        writer.join();
    }
    if (waits.empty()) return;
    std::sort(waits.begin(), waits.end());
    auto at = [&](double q) { return waits[std::min(waits.size() - 1, static_cast<size_t>(q * static_cast<double>(waits.size())))]; };
    state.counters["p50_us"] = at(0.50);
    state.counters["p99_us"] = at(0.99);
    state.counters["max_us"] = waits.back();
    state.counters["reads"] = static_cast<double>(waits.size());
}
BENCHMARK(BM_QuoteReaderWhileTicksAppend)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3);

}  // namespace
}  // namespace tessaro

BENCHMARK_MAIN();
