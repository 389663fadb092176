// History files: loading 4,000 day bars warm, and the write paths of a daily top-up.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "market/history.h"

namespace tessaro {
namespace {

constexpr int kBars = 4000;
constexpr StoreTime kFirstDay = 40000u * 86400u;

KLineRecord DayBar(int i) {
    KLineRecord b;
    b.time = kFirstDay + 86400u * static_cast<StoreTime>(i);
    b.open = 10 + i * 0.01f;
    b.high = b.open + 0.5f;
    b.low = b.open - 0.5f;
    b.close = b.open + 0.1f;
    b.volume = 1000.0f + i;
    b.amount = b.volume * b.close * 100;
    return b;
}

// A directory removed at exit with the day file of kBars bars in it.
class Fixture {
public:
    Fixture() {
        std::string pattern = (std::filesystem::temp_directory_path() / "tessaro-bench-XXXXXX").string();
        if (char* p = ::mkdtemp(pattern.data())) dir_ = p;
        path_ = dir_ + "/600000.day";
        reset();
    }
    ~Fixture() {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    void reset() {
        std::vector<KLineRecord> bars;
        for (int i = 0; i < kBars; ++i) bars.push_back(DayBar(i));
        std::filesystem::remove(path_);
        WriteHistoryFile(path_, kPeriodDay, bars, false);
    }
    const std::string& path() const { return path_; }

private:
    std::string dir_, path_;
};

Fixture& Shared() {
    static Fixture fixture;
    return fixture;
}

void BM_LoadDayHistory4000(benchmark::State& state) {
    Fixture& f = Shared();
    std::vector<CapitalChange> changes = {{kFirstDay + 86400u * 1000, 5000, 10000},
                                          {kFirstDay + 86400u * 3000, 6000, 12000}};
    Series series;
    for (auto _ : state) {
        if (!LoadHistoryFile(f.path(), kPeriodDay, series, changes)) state.SkipWithError("load failed");
        benchmark::DoNotOptimize(series.bars.data());
    }
    state.SetItemsProcessed(state.iterations() * kBars);
}
BENCHMARK(BM_LoadDayHistory4000)->Repetitions(5)->ReportAggregatesOnly(true);

// A top-up of the file's last day: the file is rewritten through a temporary and a rename.
void BM_WriteTopUpSameDay(benchmark::State& state) {
    Fixture& f = Shared();
    f.reset();
    KLineRecord bar = DayBar(kBars - 1);
    for (auto _ : state) {
        bar.close += 0.01f;
        if (!WriteHistoryFile(f.path(), kPeriodDay, std::span(&bar, 1), false)) state.SkipWithError("write failed");
    }
}
BENCHMARK(BM_WriteTopUpSameDay)->Repetitions(5)->ReportAggregatesOnly(true);

// A bar of a later day: appended in place. The file is set back every 1,000 appends
// (untimed) so that it keeps its size and the days stay inside the StoreTime range.
void BM_WriteTopUpNextDay(benchmark::State& state) {
    Fixture& f = Shared();
    f.reset();
    int next = kBars;
    for (auto _ : state) {
        if (next == kBars + 1000) {
            state.PauseTiming();
            f.reset();
            next = kBars;
            state.ResumeTiming();
        }
        KLineRecord bar = DayBar(next++);
        if (!WriteHistoryFile(f.path(), kPeriodDay, std::span(&bar, 1), false)) state.SkipWithError("write failed");
    }
}
BENCHMARK(BM_WriteTopUpNextDay)->Repetitions(5)->ReportAggregatesOnly(true);

// The 240 one-minute bars of a trading day.
std::vector<KLineRecord> DayOfMinutes() {
    std::vector<KLineRecord> minutes;
    for (int i = 0; i < 240; ++i) {
        KLineRecord b = DayBar(i);
        b.time = kFirstDay + 9 * 3600 + 1800 + 60u * static_cast<StoreTime>(i < 120 ? i : i + 90);
        minutes.push_back(b);
    }
    return minutes;
}

// A trading day of one-minute bars arriving one by one: 240 appends in place to a
// one-minute file that starts empty each round (reset untimed).
void BM_AppendDayOfMinuteBars(benchmark::State& state) {
    Fixture& f = Shared();
    const std::string path = f.path() + ".min";
    const std::vector<KLineRecord> minutes = DayOfMinutes();
    for (auto _ : state) {
        state.PauseTiming();
        std::filesystem::remove(path);
        state.ResumeTiming();
        for (const KLineRecord& bar : minutes)
            if (!WriteHistoryFile(path, kPeriodMin1, std::span(&bar, 1), false)) state.SkipWithError("write failed");
    }
    state.SetItemsProcessed(state.iterations() * 240);
}
BENCHMARK(BM_AppendDayOfMinuteBars)->Unit(benchmark::kMillisecond)->Repetitions(9)->ReportAggregatesOnly(true);

// The after-hours download: a day's 240 one-minute bars appended in one write to a
// one-minute file holding the 20 days before (set back untimed each round).
void BM_AppendDayOfMinuteBarsAtOnce(benchmark::State& state) {
    Fixture& f = Shared();
    const std::string path = f.path() + ".min20";
    std::vector<KLineRecord> earlier;
    for (int day = 0; day < 20; ++day)
        for (KLineRecord b : DayOfMinutes()) {
            b.time += 86400u * static_cast<StoreTime>(day);
            earlier.push_back(b);
        }
    std::vector<KLineRecord> today = DayOfMinutes();
    for (KLineRecord& b : today) b.time += 86400u * 20;
    for (auto _ : state) {
        state.PauseTiming();
        std::filesystem::remove(path);
        if (!WriteHistoryFile(path, kPeriodMin1, earlier, false)) state.SkipWithError("setup failed");
        state.ResumeTiming();
        if (!WriteHistoryFile(path, kPeriodMin1, today, false)) state.SkipWithError("write failed");
    }
    state.SetItemsProcessed(state.iterations() * 240);
}
BENCHMARK(BM_AppendDayOfMinuteBarsAtOnce)->Unit(benchmark::kMicrosecond)->Iterations(400)->Repetitions(9)->ReportAggregatesOnly(true);

}  // namespace
}  // namespace tessaro

BENCHMARK_MAIN();
