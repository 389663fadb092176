// A crosshair move over a 1920 x 1080 chart of 2,000 visible day bars with volume and MACD, as
// the chart window does it: the pixels under the old tags put back, the bar under the mouse
// found, the title strips redrawn with that bar's values and painted where they changed, and
// the new tags drawn over saved pixels. The window's lines are drawn on the screen only. And
// adding an indicator to that picture: evaluated, ranged, drawn and painted where it changed.
#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <cmath>
#include <cstdint>

#include "chart/chart_view.h"
#include "chart/cursor.h"
#include "chart/kline_content.h"
#include "chart/qt/chart_painter.h"
#include "chart_bench_fixture.h"
#include "chart_bench_main.h"

namespace tessaro::chart {
namespace {

using bench::Fixture;
using bench::kVisible;
using bench::Shared;

void DrawTags(Fixture& f, CursorTags& tags) {
    QPainter painter(&f.canvas.back());
    painter.setFont(f.fonts.chart());
    for (CursorTag* t : {&tags.time, &tags.value}) {
        if (t->box.empty()) continue;
        const QRect box = ToQRect(t->box);
        f.canvas.SaveUnder(box);
        painter.setPen(Qt::red);
        painter.setBrush(Qt::blue);
        painter.drawRect(box.adjusted(0, 0, -1, -1));
        painter.drawText(box, Qt::AlignCenter, QString::fromStdString(t->text));
    }
}

void BM_CrosshairMove(benchmark::State& state) {
    Fixture& f = Shared();
    Crosshair c;
    c.on = true;
    CursorTags tags;
    const GraphPicture& p = f.view->picture(0);
    const int y0 = RoundPixel(p.panes[0].rects.draw.top) + 20;
    int k = 0;
    size_t pixels = 0;
    for (auto _ : state) {
        // The mouse moves by 3 pixels, so most moves reach another bar.
        const int x = RoundPixel(p.scale.left) + 5 + (k * 3) % 1700;
        const int y = y0 + (k * 7) % 500;
        ++k;
        for (const CursorTag* t : {&tags.time, &tags.value})
            if (!t->box.empty()) f.canvas.RestoreUnder(ToQRect(t->box));
        if (!PlaceCursor(*f.view, c, x, y)) state.SkipWithError("no bar under the mouse");
        const Region region = f.view->SetCursorBar(c.picture, c.bar);
        if (!region.empty()) f.canvas.Paint(*f.view, region, f.fonts);
        for (const Rect& r : region.rects()) pixels += static_cast<size_t>(r.width()) * static_cast<size_t>(r.height());
        tags = MakeCursorTags(*f.view, c);
        DrawTags(f, tags);
        benchmark::DoNotOptimize(f.canvas.image().constBits());
    }
    state.counters["invalid_px"] = benchmark::Counter(static_cast<double>(pixels), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_CrosshairMove)->Unit(benchmark::kMicrosecond);

void BM_AddIndicator(benchmark::State& state) {
    Fixture& f = Shared();
    const FormulaRecord kdj = *f.formulas.Find(kFormulaSubPane, "KDJ");
    for (auto _ : state) {
        if (AddIndicator(*f.view, 0, 2, kdj, false, false) != AddResult::kAdded) state.SkipWithError("not added");
        const Region region = f.view->Update(2, 0, 2);
        f.canvas.Paint(*f.view, region, f.fonts);
        state.PauseTiming();
        RemoveIndicators(*f.view, 0, 2, kFormulaSubPane, "KDJ");
        f.canvas.Paint(*f.view, f.view->Update(3, 0, 2), f.fonts);
        state.ResumeTiming();
    }
}
BENCHMARK(BM_AddIndicator)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tessaro::chart

TESSARO_CHART_BENCHMARK_MAIN()
