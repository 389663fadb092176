// The chart's Qt half offscreen: pictures of the real 600519 history in several periods (kept
// as PNGs in the build directory for a look), pixel probes, the partial repaint against a
// full one, the saved pixels under cursor tags, and the chart window over a market store.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QPainter>
#include <QThread>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "chart/qt/chart_painter.h"
#include "chart/qt/chart_widget.h"
#include "chart/qt/render_png.h"
#include "formula/standard_library.h"
#include "market/bars_csv.h"
#include "market/base_files.h"
#include "market/demo_market.h"
#include "market/history.h"
#include "market/market_store.h"
#include "market/market_store_fixture.h"
#include "platform/settings_store.h"
#include "platform/text.h"
#include "test_support/temp_dir.h"

namespace tessaro::chart {
namespace {

std::string SourceDir() {
    const char* root = std::getenv("TESSARO_SOURCE_DIR");
    return root ? root : TESSARO_SOURCE_DIR;
}

Series History() {
    std::ifstream in(SourceDir() + "/tests/formula/data/600519-daily.csv");
    std::stringstream text;
    text << in.rdbuf();
    Series s;
    ParseBarsCsv(text.str(), s);
    s.period = kPeriodDay;
    return s;
}

FormulaSet& Formulas() {
    static FormulaSet* set = [] {
        auto* s = new FormulaSet;
        for (FormulaRecord& r : BuildStandardLibrary().formulas) s->Put(std::move(r));
        return s;
    }();
    return *set;
}

// Runs the event loop for `ms` milliseconds.
void Wait(int ms) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(5);
    }
}

void Press(QWidget& w, int key) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QCoreApplication::sendEvent(&w, &press);
}

class ChartQt : public ::testing::Test {
protected:
    void SetUp() override {
        ParseSecurityText("SH600519", moutai.id);
        moutai.securityClass = kClassAShare;
        CopyToField(moutai.name, Utf8ToGbk("贵州茅台"));
        bars = History();
        ASSERT_GE(bars.size(), 300u);
        data.AddSecurity(moutai, bars);
    }

    Series bars;
    CodeEntry moutai;
    MemoryEvalData data;
    FormulaChartSource source{Formulas(), data};
    SystemSettings settings;
};

TEST_F(ChartQt, ARepaintOfTheInvalidRegionEqualsAFullPaint) {
    ChartFonts fonts(settings.scheme());
    RenderRequest request;
    std::string error;
    auto view = BuildRenderView(source, moutai, settings, request, fonts.metrics(), fonts.measure(), &error);
    ASSERT_TRUE(view) << error;
    ChartCanvas canvas;
    canvas.Resize(QSize(request.width, request.height));
    canvas.PaintAll(*view, fonts);

    // Today's bar moves: only the invalid region is repainted...
    Series changed = bars;
    changed.bars.back().close = changed.bars.back().low;
    changed.bars.back().volume *= 1.5f;
    data.AddSecurity(moutai, changed);
    const Region region = view->Update(0, -1, -1, true);
    ASSERT_FALSE(region.empty());
    canvas.Paint(*view, region, fonts);
    // ...and the result is the picture a full repaint gives.
    ChartCanvas full;
    full.Resize(QSize(request.width, request.height));
    full.PaintAll(*view, fonts);
    EXPECT_TRUE(canvas.image() == full.image());
}

TEST_F(ChartQt, PixelsUnderATagAreRestored) {
    ChartCanvas canvas;
    canvas.Resize(QSize(200, 100));
    canvas.back().fill(Qt::darkBlue);
    const QImage before = canvas.image();
    const QRect tag(150, 80, 60, 30);  // partly outside: clipped
    canvas.SaveUnder(tag);
    {
        QPainter p(&canvas.back());
        p.fillRect(tag, Qt::yellow);
    }
    EXPECT_EQ(canvas.image().pixelColor(160, 90), QColor(Qt::yellow));
    canvas.RestoreUnder(tag);
    EXPECT_TRUE(canvas.image() == before);
}

TEST_F(ChartQt, RenderRefusesUnknownIndicatorsAndDrawsTimeSharing) {
    RenderRequest request;
    request.indicators = {"NOSUCH"};
    std::string error;
    EXPECT_TRUE(RenderChartImage(source, moutai, settings, request, &error).isNull());
    EXPECT_EQ(error, "unknown indicator NOSUCH");
    request.indicators = {};
    request.period = kPeriodTime;
    request.width = 500;
    request.height = 300;
    // No minutes: the empty time-sharing picture around the previous close still renders.
    const QImage image = RenderChartImage(source, moutai, settings, request, &error);
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.size(), QSize(500, 300));
    request.period = kPeriodInvalid;
    EXPECT_TRUE(RenderChartImage(source, moutai, settings, request, &error).isNull());
}

TEST(ChartWidget, ShowsTheStoreSecurityAndFollowsItsQuotes) {
    TempDir dir;
    SettingsStore settingsStore;
    AppPaths paths(dir.path());
    MarketStore store(paths, settingsStore);
    ASSERT_TRUE(store.LoadAll());
    SecurityId id;
    ParseSecurityText("SH600519", id);
    Series history = History();
    ASSERT_TRUE(WriteHistory(paths, id, kPeriodDay, std::span(history.bars), true));
    QuoteUpdate first = testing_store::MakeQuote(id, MakeStoreTime(2026, 2, 16, 10, 0), 1500, 100, Utf8ToGbk("贵州茅台"));
    first.entry.securityClass = kClassAShare;
    store.UpdateQuote(first);

    ChartWidget::Context context;
    context.store = &store;
    context.paths = paths;
    context.formulas = &Formulas();
    ChartWidget widget(context);
    std::vector<ChartWidget::DataNeed> asked;
    widget.SetDataRequester([&](const ChartWidget::DataNeed& need) { asked.push_back(need); });
    widget.resize(900, 600);
    ASSERT_TRUE(widget.ShowSecurityText("SH600519"));
    widget.show();
    Wait(250);
    const size_t loaded = widget.view().picture(0).series.size();
    EXPECT_EQ(loaded, history.size() + 1);  // today's bar from the quote
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].records, HistoryRequestSize(kPeriodDay, 100));
    EXPECT_EQ(widget.windowTitle(), QStringLiteral("贵州茅台 - 日线"));

    // A new quote of the security reaches the chart through the store's change feed.
    QuoteUpdate next = testing_store::MakeQuote(id, MakeStoreTime(2026, 2, 16, 10, 1), 1510, 200, Utf8ToGbk("贵州茅台"));
    next.entry.securityClass = kClassAShare;
    store.UpdateQuote(next);
    QElapsedTimer clock;
    clock.start();
    while (widget.view().picture(0).series.bars.back().close != 1510 && clock.elapsed() < 3000) Wait(20);
    EXPECT_EQ(widget.view().picture(0).series.bars.back().close, 1510);

    // The screen shows the back buffer; zooming out asks for more history.
    const QImage shot = widget.grab().toImage();
    EXPECT_EQ(shot.size(), QSize(900, 600));
    Press(widget, Qt::Key_Down);
    Wait(150);
    EXPECT_EQ(widget.view().picture(0).scale.visible, 150);
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_EQ(asked[1].records, HistoryRequestSize(kPeriodDay, 100) + 110);

    // Ex-rights modes reload every chart.
    ChartWidget::SetExRights(ChooseExRights(0, ExRightsChoice::kNone));
    Wait(150);
    EXPECT_EQ(widget.view().options().exRights, 1);
    ChartWidget::SetExRights(0);
}

// Every K-line period of a generated market through the store, the history files and the
// series loader, written as PNG files (kept in the build directory for a look).
TEST(RenderChartPng, EveryPeriodOfAGeneratedMarket) {
    TempDir dir;
    DemoMarketOptions demo;
    demo.outDir = dir.path() + "/app";
    demo.securities = 3;
    demo.days = 400;
    demo.blocks = false;
    std::string error;
    ASSERT_TRUE(GenerateDemoMarket(demo, nullptr, &error)) << error;
    SettingsStore settingsStore;
    AppPaths paths(demo.outDir);
    MarketStore store(paths, settingsStore);
    store.SetBaseFileLoader([&paths](MarketStore& s) { LoadBaseFiles(s, paths); });
    ASSERT_TRUE(store.LoadAll());
    FormulaSet& formulas = Formulas();
    SystemSettings settings;
    const std::vector<CodeEntry> all = store.ListSecurities(3);
    ASSERT_FALSE(all.empty());
    for (Period period : {kPeriodTick, kPeriodMin1, kPeriodMin5, kPeriodMin15, kPeriodMin30, kPeriodMin60, kPeriodDay,
                          kPeriodWeek, kPeriodMonth, kPeriodQuarter, kPeriodYear, kPeriodMultiDay}) {
        RenderRequest request;
        request.security = SecurityText(all.back().id);
        request.period = period;
        request.width = 960;
        request.height = 600;
        request.out = std::string(TESSARO_BINARY_DIR) + "/demo_" + std::string(PeriodKeyword(period)) + ".png";
        ASSERT_TRUE(RenderChartPng(store, paths, formulas, settings, request, &error)) << error;
        QImage image(QString::fromStdString(request.out));
        EXPECT_EQ(image.size(), QSize(960, 600)) << period;
        // The background, the axis colour and both candle colours are all on the picture.
        const ColorScheme& scheme = settings.scheme();
        int rise = 0, fall = 0, axis = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); x += 2) {
                const QColor c = image.pixelColor(x, y);
                rise += c == ToQColor(scheme.colors[kColorRising]);
                fall += c == ToQColor(scheme.colors[kColorFalling]);
                axis += c == ToQColor(scheme.colors[kColorAxis]);
            }
        if (period != kPeriodTick && period != kPeriodYear) {  // ticks and years may all rise or fall
            EXPECT_GT(rise, 20) << period;
            EXPECT_GT(fall, 20) << period;
        }
        EXPECT_GT(axis, 1000) << period;
        EXPECT_EQ(image.pixelColor(1, 1), ToQColor(scheme.colors[kColorBackground]));
    }
    // The adjustment of the chart reaches the series: unadjusted and forward-adjusted prices
    // differ before an ex-rights day.
    const CodeEntry* adjusted = nullptr;
    for (const CodeEntry& e : all)
        if (!store.GetExRights(e.id).empty()) adjusted = &e;
    ASSERT_NE(adjusted, nullptr);
    StoreSeriesSource series(store, paths);
    StoreEvalData data(store, series);
    FormulaChartSource source(formulas, data);
    float firstClose[2] = {};
    for (uint8_t mode : {0, 1}) {
        ChartOptions options;
        options.exRights = mode;
        ChartView view(source, options);
        view.Resize(800, 500);
        view.SetSecurity(0, *adjusted);
        view.Update(0);
        ASSERT_FALSE(view.picture(0).series.empty());
        firstClose[mode] = view.picture(0).series.bars.front().close;
    }
    EXPECT_NE(firstClose[0], firstClose[1]);

    RenderRequest unknown;
    unknown.security = "SH123456";
    unknown.out = dir.path() + "/x.png";
    EXPECT_FALSE(RenderChartPng(store, paths, formulas, settings, unknown, &error));
    EXPECT_EQ(error, "unknown security SH123456");
}

TEST(ExRightsMode, ChoicesAndToggle) {
    EXPECT_EQ(ChooseExRights(2, ExRightsChoice::kNone), 3);
    EXPECT_EQ(CurrentExRights(3), ExRightsChoice::kNone);
    EXPECT_EQ(ToggleExRights(3), 2);
    EXPECT_EQ(CurrentExRights(2), ExRightsChoice::kBackward);
    EXPECT_EQ(ChooseExRights(3, ExRightsChoice::kForward), 0);
    EXPECT_EQ(CurrentExRights(0), ExRightsChoice::kForward);
}

}  // namespace
}  // namespace tessaro::chart

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
