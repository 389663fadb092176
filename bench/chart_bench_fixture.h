// The picture both chart benchmarks draw: 3,000 day bars of a deterministic random walk, 2,000
// of them visible, with volume and MACD, on a 1920 x 1080 back buffer painted once.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>

#include "chart/chart_view.h"
#include "chart/qt/chart_painter.h"
#include "formula/standard_library.h"

namespace tessaro::chart::bench {

constexpr int kBars = 3000;
constexpr int kVisible = 2000;

// A deterministic random walk of day bars.
inline Series MakeBars() {
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

inline Fixture& Shared() {
    static Fixture f;
    return f;
}

}  // namespace tessaro::chart::bench

