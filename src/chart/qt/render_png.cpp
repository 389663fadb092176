#include "chart/qt/render_png.h"

#include <QBuffer>
#include <algorithm>
#include <cstdio>

#include "chart/qt/chart_painter.h"
#include "formula/formula_set.h"
#include "market/market_store.h"
#include "market/series_loader.h"
#include "platform/files.h"
#include "platform/text.h"

namespace tessaro::chart {

bool ParseRenderSize(const std::string& text, int& width, int& height) {
    int w = 0, h = 0;
    char x = 0, rest = 0;
    if (std::sscanf(text.c_str(), "%d%c%d%c", &w, &x, &h, &rest) != 3 || (x != 'x' && x != 'X')) return false;
    if (w < 64 || h < 64 || w > 4096 || h > 4096) return false;
    width = w;
    height = h;
    return true;
}

std::unique_ptr<ChartView> BuildRenderView(ChartSource& source, const CodeEntry& security, const SystemSettings& settings,
                                           const RenderRequest& request, const ChartMetrics& metrics, const TextMeasure& measure,
                                           std::string* error) {
    auto fail = [&](std::string why) {
        if (error) *error = std::move(why);
        return nullptr;
    };
    if (!IsValidPeriod(request.period)) return fail("the period must be tick .. multi-day or TIME");
    if (request.indicators.size() > kMaxPanes - 2) return fail("at most 4 indicators");
    std::vector<std::vector<std::pair<uint32_t, std::string>>> panes;
    panes.push_back({{kFormulaMainOverlay, "MA"}});
    panes.push_back({{kFormulaSubPane, "VOL"}});
    for (const std::string& name : request.indicators) {
        const std::string gbk = Utf8ToGbk(name);
        if (!source.Formula(kFormulaSubPane, gbk)) return fail("unknown indicator " + name);
        panes.push_back({{kFormulaSubPane, gbk}});
    }
    ChartOptions options;
    options.scheme = settings.scheme();
    options.metrics = metrics;
    options.measure = measure;
    options.hcoord = settings.hcoord;
    options.vcoord = settings.vcoord;
    options.emptyOver = settings.emptyOver;
    options.exRights = settings.purview;
    options.infoPanel = settings.stkInfo;
    options.infoPanelWidth = static_cast<int>(std::clamp<uint32_t>(settings.stkInfoWidth, 40, 2000));
    options.visibleBars = request.bars > 0 ? request.bars : static_cast<int>(std::clamp<uint32_t>(settings.ruler, 8, 100000));
    auto view = std::make_unique<ChartView>(source, options);
    view->Resize(request.width, request.height);
    view->SetPanes(0, panes);
    view->SetPeriod(0, request.period);
    view->SetKLineKind(settings.formula0 == "BAR" || settings.formula0 == "PRICE" ? settings.formula0 : "K");
    view->SetTimeDays(0, request.days > 0 ? request.days
                                          : static_cast<int>(std::clamp<uint32_t>(settings.daysTime, 1, kMaxTimeSharingDays)));
    view->SetSecurity(0, security);
    view->SetPanelMode(0, request.panelMode);
    view->Update(0);
    return view;
}

QImage RenderChartImage(ChartSource& source, const CodeEntry& security, const SystemSettings& settings,
                        const RenderRequest& request, std::string* error) {
    ChartFonts fonts(settings.scheme());
    auto view = BuildRenderView(source, security, settings, request, fonts.metrics(), fonts.measure(), error);
    if (!view) return {};
    ChartCanvas canvas;
    canvas.Resize(QSize(request.width, request.height));
    canvas.PaintAll(*view, fonts);
    return canvas.image();
}

bool RenderChartPng(const MarketStore& store, const AppPaths& paths, const FormulaSet& formulas,
                    const SystemSettings& settings, const RenderRequest& request, std::string* error,
                    const BlockSet* blocks) {
    std::optional<CodeEntry> security = store.FindByText(request.security);
    if (!security) {
        if (error) *error = "unknown security " + request.security;
        return false;
    }
    StoreSeriesSource series(store, paths, static_cast<int>(settings.multiDay));
    StoreEvalData data(store, series);
    FormulaChartSource source(formulas, data, &series, &store);
    source.SetBlocks(blocks);
    QImage image = RenderChartImage(source, *security, settings, request, error);
    if (image.isNull()) return false;
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "PNG")) {
        if (error) *error = "the picture could not be encoded";
        return false;
    }
    if (!WriteFileAtomic(request.out, std::string_view(bytes.constData(), size_t(bytes.size())))) {
        if (error) *error = "cannot write " + request.out;
        return false;
    }
    return true;
}

}  // namespace tessaro::chart
