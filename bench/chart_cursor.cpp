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
#include "formula/standard_library.h"

namespace tessaro::chart {
namespace {

constexpr int kBars = 3000;
constexpr int kVisible = 2000;

// A deterministic random walk of day bars.
Series MakeBars() {
    Series s;
    s.period = kPeriodDay;
    uint64_t state = 12345;
    auto next = [&state] {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<double>(state >> 11) / 9007199254740992.0;
    };
    double price = 20;
    StoreTime day = MakeStoreTime(2014, 1, 2);
    for (int i = 0; i < kBars; ++i) {
        KLineRecord b;
        b.time = day;
        day += 86400;
        b.open = static_cast<float>(price);
        price *= 1 + (next() - 0.5) * 0.06;
        b.close = static_cast<float>(price);
        b.high = static_cast<float>(std::max<double>(b.open, b.close) * (1 + next() * 0.02));
        b.low = static_cast<float>(std::min<double>(b.open, b.close) * (1 - next() * 0.02));
        b.volume = static_cast<float>(10000 + next() * 50000);
        b.amount = b.volume * b.close * 100;
        s.push(b);
    }
    return s;
}

struct Fixture {
    Fixture() : source(formulas, data), fonts(BuiltInSchemes()[0]) {
        for (FormulaRecord& r : BuildStandardLibrary().formulas) formulas.Put(std::move(r));
        ParseSecurityText("SH600000", security.id);
        security.securityClass = kClassAShare;
        bars = MakeBars();
        data.AddSecurity(security, bars);
        ChartOptions options;
        options.scheme = BuiltInSchemes()[0];
        options.metrics = fonts.metrics();
        options.measure = fonts.measure();
        options.visibleBars = kVisible;
        view = std::make_unique<ChartView>(source, options);
        view->Resize(1920, 1080);
        view->SetPanes(0, {{}, {{kFormulaSubPane, "VOL"}}, {{kFormulaSubPane, "MACD"}}});
        view->SetSecurity(0, security);
        view->Update(0);
        canvas.Resize(QSize(1920, 1080));
        canvas.PaintAll(*view, fonts);
    }

    FormulaSet formulas;
    MemoryEvalData data;
    FormulaChartSource source;
    ChartFonts fonts;
    CodeEntry security;
    Series bars;
    std::unique_ptr<ChartView> view;
    ChartCanvas canvas;
};

Fixture& Shared() {
    static Fixture f;
    return f;
}

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

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
