// The chart's drawing costs on a 1920 x 1080 back buffer with 2,000 visible bars of K-lines,
// volume and MACD: a full redraw (update levels 1-4 and painting everything), a data update
// from one new quote (today's bar changes: reload, re-evaluate, repaint the invalid region)
// and copying a cursor-sized invalid rectangle to the screen.
#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <cmath>
#include <cstdint>

#include "chart/chart_view.h"
#include "chart/qt/chart_painter.h"
#include "chart_bench_fixture.h"
#include "chart_bench_main.h"

namespace tessaro::chart {
namespace {

using bench::Fixture;
using bench::kVisible;
using bench::Shared;

void BM_FullRedraw(benchmark::State& state) {
    Fixture& f = Shared();
    if (f.view->picture(0).scale.shown != kVisible - kRightMargin) state.SkipWithError("wrong visible bar count");
    for (auto _ : state) {
        f.view->Update(1);
        f.canvas.PaintAll(*f.view, f.fonts);
        benchmark::DoNotOptimize(f.canvas.image().constBits());
    }
}
BENCHMARK(BM_FullRedraw)->Unit(benchmark::kMillisecond);

void BM_OneQuoteUpdate(benchmark::State& state) {
    Fixture& f = Shared();
    Series today = f.bars;
    KLineRecord& last = today.bars.back();
    const float low = last.low, high = last.high, volume = last.volume;
    int k = 0;
    size_t pixels = 0;
    for (auto _ : state) {
        // The new quote moves today's close within its range and adds a little volume.
        last.close = low + (high - low) * static_cast<float>(k % 10) / 10;
        last.volume = volume + static_cast<float>(k % 10) * 10;
        ++k;
        f.data.AddSecurity(f.security, today);
        const Region region = f.view->Update(0, -1, -1, true);
        f.canvas.Paint(*f.view, region, f.fonts);
        for (const Rect& r : region.rects()) pixels += static_cast<size_t>(r.width()) * static_cast<size_t>(r.height());
    }
    state.counters["invalid_px"] = benchmark::Counter(static_cast<double>(pixels), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_OneQuoteUpdate)->Unit(benchmark::kMillisecond);

void BM_Levels(benchmark::State& state) {
    Fixture& f = Shared();
    const int level = static_cast<int>(state.range(0));
    for (auto _ : state) benchmark::DoNotOptimize(f.view->Update(level, -1, -1, true));
}
BENCHMARK(BM_Levels)->Arg(0)->Arg(1)->Arg(2)->Arg(3)->Arg(4)->Unit(benchmark::kMillisecond);

void BM_CopyCursorRect(benchmark::State& state) {
    Fixture& f = Shared();
    QImage screen(1920, 1080, QImage::Format_RGB32);
    const QRect tag(900, 500, 12 * 8 + 8, 19);  // a time tag: (length + 1) x cx by cy + 5
    for (auto _ : state) {
        QPainter painter(&screen);
        painter.drawImage(tag, f.canvas.image(), tag);
        painter.end();
        f.canvas.SaveUnder(tag);
        f.canvas.RestoreUnder(tag);
        benchmark::DoNotOptimize(screen.constBits());
    }
}
BENCHMARK(BM_CopyCursorRect)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace tessaro::chart

TESSARO_CHART_BENCHMARK_MAIN()
