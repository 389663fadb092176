// The time-sharing picture's drawing costs on a 1920 x 1080 back buffer with the information
// panel: a full redraw of ten days (2,410 minute slots: update levels 1-4 and painting
// everything), and one minute update (the newest minute changes: reload, rebuild, repaint the
// invalid region).
#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <cstdint>

#include "chart/chart_view.h"
#include "chart/qt/chart_painter.h"
#include "market/periods.h"
#include "chart_bench_main.h"

namespace tessaro::chart {
namespace {

constexpr int kDays = 10;

// Ten days of minutes from a deterministic random walk.
Series MakeMinutes() {
    Series s;
    s.period = kPeriodTime;
    uint64_t state = 777;
    auto next = [&state] {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<double>(state >> 11) / 9007199254740992.0;
    };
    double price = 20;
    const StoreTime first = MakeStoreTime(2025, 6, 2);
    for (int d = 0; d < kDays; ++d)
        for (int k = 0; k < kSlotsPerDay; ++k) {
            KLineRecord m;
            m.time = first + static_cast<StoreTime>(d) * 86400 + BarSlotLabel(kPeriodTime, k);
            price *= 1 + (next() - 0.5) * 0.004;
            m.open = m.high = m.low = m.close = static_cast<float>(price);
            m.volume = static_cast<float>(100 + next() * 900);
            m.amount = m.volume * m.close * 100;
            s.push(m);
        }
    s.quote.prevClose = 20;
    return s;
}

// A source whose minutes are held in memory.
class MinuteSource : public FormulaChartSource {
public:
    MinuteSource(const FormulaSet& f, EvalDataSource& d) : FormulaChartSource(f, d) {}
    bool LoadMinuteDays(const CodeEntry&, int, Series& out) override {
        out = minutes;
        return true;
    }
    bool QuoteRecord(const CodeEntry&, StockRecord& out) override {
        out = StockRecord{};
        out.quote.prevClose = 20;
        out.quote.bar = minutes.bars.back();
        for (int i = 0; i < 5; ++i) {
            out.quote.book.bidPrice[i] = out.quote.bar.close - 0.01f * static_cast<float>(i + 1);
            out.quote.book.askPrice[i] = out.quote.bar.close + 0.01f * static_cast<float>(i + 1);
            out.quote.book.bidVolume[i] = out.quote.book.askVolume[i] = 100;
        }
        return true;
    }
    Series minutes;
};

struct Fixture {
    Fixture() : source(formulas, data), fonts(BuiltInSchemes()[0]) {
        ParseSecurityText("SH600000", security.id);
        security.securityClass = kClassAShare;
        source.minutes = MakeMinutes();
        ChartOptions options;
        options.scheme = BuiltInSchemes()[0];
        options.metrics = fonts.metrics();
        options.measure = fonts.measure();
        options.infoPanel = true;  // the information panel at the right
        view = std::make_unique<ChartView>(source, options);
        view->Resize(1920, 1080);
        view->SetPeriod(0, kPeriodTime);
        view->SetTimeDays(0, kDays);
        view->SetSecurity(0, security);
        view->Update(0);
        canvas.Resize(QSize(1920, 1080));
        canvas.PaintAll(*view, fonts);
    }

    FormulaSet formulas;
    MemoryEvalData data;
    MinuteSource source;
    ChartFonts fonts;
    CodeEntry security;
    std::unique_ptr<ChartView> view;
    ChartCanvas canvas;
};

Fixture& Shared() {
    static Fixture f;
    return f;
}

void BM_TenDayRedraw(benchmark::State& state) {
    Fixture& f = Shared();
    const TimeSharingPicture* t = f.view->picture(0).timeSharing.get();
    if (!t || t->scale().shown != kDays * kSlotsPerDay) state.SkipWithError("wrong slot count");
    for (auto _ : state) {
        f.view->Update(1);
        f.canvas.PaintAll(*f.view, f.fonts);
        benchmark::DoNotOptimize(f.canvas.image().constBits());
    }
}
BENCHMARK(BM_TenDayRedraw)->Unit(benchmark::kMillisecond);

void BM_OneMinuteUpdate(benchmark::State& state) {
    Fixture& f = Shared();
    KLineRecord& last = f.source.minutes.bars.back();
    const float close = last.close, volume = last.volume;
    int k = 0;
    size_t pixels = 0;
    for (auto _ : state) {
        // A new trade moves the newest minute a little, as most quotes do (within the range).
        last.close = close * (1 + 0.0002f * static_cast<float>(k % 10));
        last.volume = volume + static_cast<float>(k % 10) * 10;
        ++k;
        const Region region = f.view->Update(0);
        f.canvas.Paint(*f.view, region, f.fonts);
        for (const Rect& r : region.rects()) pixels += static_cast<size_t>(r.width()) * static_cast<size_t>(r.height());
    }
    state.counters["invalid_px"] = benchmark::Counter(static_cast<double>(pixels), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_OneMinuteUpdate)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tessaro::chart

TESSARO_CHART_BENCHMARK_MAIN()
