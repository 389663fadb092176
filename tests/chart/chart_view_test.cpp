// The chart view over the real daily history of 600519: golden display lists of a few
// pictures, the empty and one-bar charts, and the invalid rectangle of updates.
//
// Golden files live in tests/chart/golden/; TESSARO_UPDATE_GOLDEN=1 rewrites them.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <sstream>

#include "chart/chart_view.h"
#include "formula/standard_library.h"
#include "market/bars_csv.h"
#include "platform/text.h"

#include "chart/chart_test_support.h"

namespace tessaro::chart {
namespace {

class ChartViewTest : public StandardChartSuite {
protected:

    void SetUp() override {
        ASSERT_GE(bars_->size(), 300u);
        ParseSecurityText("SH600519", moutai.id);
        moutai.securityClass = kClassAShare;
        CopyToField(moutai.name, Utf8ToGbk("贵州茅台"));
        data.AddSecurity(moutai, *bars_);
        ParseSecurityText("SH600000", empty.id);
        empty.securityClass = kClassAShare;
        Series one;
        one.period = kPeriodDay;
        one.push(bars_->bars[0]);
        ParseSecurityText("SH600001", single.id);
        single.securityClass = kClassAShare;
        data.AddSecurity(single, one);
        options.scheme = BuiltInSchemes()[0];
        options.visibleBars = 40;
    }

    std::unique_ptr<ChartView> View(int width, int height, Period period, std::vector<std::vector<std::pair<uint32_t, std::string>>> panes,
                                    const CodeEntry& security) {
        auto view = std::make_unique<ChartView>(source, options);
        view->Resize(width, height);
        view->SetPanes(0, panes);
        view->SetPeriod(0, period);
        view->SetSecurity(0, security);
        return view;
    }

    void ExpectGolden(const ChartView& view, const std::string& name) {
        const std::string path = SourceDir() + "/tests/chart/golden/" + name + ".txt";
        const std::string actual = view.ToText();
        if (std::getenv("TESSARO_UPDATE_GOLDEN")) {
            std::ofstream(path, std::ios::binary) << actual;
            return;
        }
        std::ifstream in(path, std::ios::binary);
        ASSERT_TRUE(in) << path << " is missing (TESSARO_UPDATE_GOLDEN=1 writes it)";
        std::stringstream want;
        want << in.rdbuf();
        if (want.str() != actual) {
            std::ofstream(std::string(TESSARO_BINARY_DIR) + "/" + name + ".actual.txt", std::ios::binary) << actual;
            FAIL() << name << " differs from its golden file; the actual list is in the build directory";
        }
    }

    MemoryEvalData data;
    FormulaChartSource source{*formulas_, data};
    ChartOptions options;
    CodeEntry moutai, empty, single;
};

TEST_F(ChartViewTest, GoldenDayCandlesVolumeAndMacd) {
    auto view = View(640, 400, kPeriodDay, {{{3, "MA"}}, {{4, "VOL"}}, {{4, "MACD"}}}, moutai);
    view->Update(0);
    const GraphPicture& p = view->picture(0);
    ASSERT_EQ(p.series.size(), bars_->size());
    EXPECT_EQ(p.scale.visible, 40);
    EXPECT_EQ(p.scale.shown, 36);  // four empty places at the right
    EXPECT_EQ(p.scale.first, static_cast<int>(bars_->size()) - 36);
    // The main pane's range is the K-lines' (K线坐标), over the visible bars only.
    float hi = 0, lo = 1e9f;
    for (size_t i = bars_->size() - 36; i < bars_->size(); ++i) {
        hi = std::max(hi, bars_->bars[i].high);
        lo = std::min(lo, bars_->bars[i].low);
    }
    EXPECT_EQ(p.panes[0].range.max, hi);
    EXPECT_EQ(p.panes[0].range.min, lo);
    ExpectGolden(*view, "day_k_vol_macd");
}

TEST_F(ChartViewTest, GoldenWeekUsBarsAndKdj) {
    options.vcoord = true;
    auto view = View(480, 320, kPeriodWeek, {{}, {{4, "KDJ"}}}, moutai);
    view->SetKLineKind("BAR");
    view->Update(0);
    EXPECT_LT(view->picture(0).series.size(), 90u);
    ExpectGolden(*view, "week_bar_kdj");
}

TEST_F(ChartViewTest, GoldenPercentagePriceLine) {
    options.hcoord = true;
    auto view = View(400, 240, kPeriodDay, {{}}, moutai);
    view->SetKLineKind("PRICE");
    view->SetScaleMode(0, 0, kScalePercentage);
    view->Update(0);
    const GraphPane& pane = view->picture(0).panes[0];
    EXPECT_EQ(pane.reference, view->picture(0).series.bars[static_cast<size_t>(view->picture(0).scale.first)].close);
    EXPECT_NE(pane.list.ToText().find("%\""), std::string::npos);
    ExpectGolden(*view, "day_price_percentage");
}

TEST_F(ChartViewTest, NoBarsOrOneBarDrawAnEmptyChartWithAxes) {
    for (const CodeEntry* security : {&empty, &single}) {
        auto view = View(500, 300, kPeriodDay, {{{3, "MA"}}, {{4, "MACD"}}}, *security);
        const Region invalid = view->Update(0);
        EXPECT_EQ(invalid.bounds(), (Rect{0, 0, 500, 300}));
        const GraphPicture& p = view->picture(0);
        for (const GraphPane& pane : p.panes) {
            EXPECT_TRUE(std::isfinite(pane.map.scale));
            EXPECT_GT(pane.range.max, pane.range.min);
            EXPECT_FALSE(pane.levels.values.empty());
            // The frame and labels are there; every coordinate is on or near the screen.
            const std::string text = pane.list.ToText();
            EXPECT_NE(text.find("rect"), std::string::npos);
            EXPECT_NE(text.find("text"), std::string::npos);
            for (const Point& pt : pane.list.points()) {
                EXPECT_LT(std::abs(pt.x), 1000);
                EXPECT_LT(std::abs(pt.y), 1000);
            }
        }
        if (security == &empty) {
            EXPECT_EQ(p.panes[0].range.max, 10);  // the defaults
            EXPECT_EQ(p.panes[0].range.min, 0);
            EXPECT_TRUE(p.timeLabels.empty());
        } else {
            // One bar: a flat-free range from its own high and low, one candle, one time label.
            EXPECT_EQ(p.scale.shown, 1);
            ASSERT_EQ(p.timeLabels.size(), 1u);
            EXPECT_EQ(p.timeLabels[0].text, "2024/08");
            EXPECT_NE(p.panes[0].list.ToText().find("rect"), std::string::npos);
        }
    }
}

TEST_F(ChartViewTest, GarbageValuesNeverReachAPixel) {
    Series bad;
    bad.period = kPeriodDay;
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    const float values[] = {nan, inf, -inf, 3e38f, -3e38f, 0, 1e-30f, 5};
    for (int i = 0; i < 40; ++i) {
        KLineRecord b = bars_->bars[static_cast<size_t>(i)];
        const float v = values[i % 8];
        if (i % 3 == 0) b.high = v;
        if (i % 3 == 1) b.close = v;
        if (i % 5 == 0) b.volume = v;
        bad.push(b);
    }
    CodeEntry garbage;
    ParseSecurityText("SH600002", garbage.id);
    data.AddSecurity(garbage, bad);
    auto view = View(640, 400, kPeriodDay, {{{3, "MA"}}, {{4, "VOL"}}, {{4, "MACD"}}}, garbage);
    view->Update(0);
    for (const GraphPane& pane : view->picture(0).panes) {
        EXPECT_TRUE(std::isfinite(pane.map.scale));
        EXPECT_TRUE(std::isfinite(pane.range.max) && std::isfinite(pane.range.min));
        EXPECT_LE(pane.levels.values.size(), 39u);
        for (const Point& pt : pane.list.points()) {
            EXPECT_LE(std::abs(pt.x), 10000000);
            EXPECT_LE(std::abs(pt.y), 10000000);
        }
    }
}

TEST_F(ChartViewTest, UpdatesInvalidateOnlyWhatChanged) {
    auto view = View(800, 500, kPeriodDay, {{{3, "MA"}}, {{4, "VOL"}}, {{4, "MACD"}}}, moutai);
    EXPECT_EQ(view->Update(0).bounds(), (Rect{0, 0, 800, 500}));
    EXPECT_TRUE(view->Update(4).empty());  // nothing changed: nothing to copy
    EXPECT_TRUE(view->Update(2).empty());

    // Today's bar moves inside the visible range: only its column and the title strips change.
    Series changed = *bars_;
    KLineRecord& last = changed.bars.back();
    last.close = (last.high + last.low) / 2;
    last.volume *= 0.9f;
    data.AddSecurity(moutai, changed);
    const Region invalid = view->Update(0, -1, -1, true);
    ASSERT_FALSE(invalid.empty());
    const GraphPicture& p = view->picture(0);
    const int x = p.scale.CentrePixel(p.scale.shown - 1);
    int area = 0;
    bool lastBar = false;
    for (const Rect& r : invalid.rects()) {
        area += r.width() * r.height();
        lastBar = lastBar || (r.left <= x && x < r.right);
    }
    EXPECT_TRUE(lastBar);
    EXPECT_LT(area, 800 * 500 / 8);

    // A new bar with keepFirst keeps the first bar relative to the right end.
    const int first = p.scale.first;
    KLineRecord next = changed.bars.back();
    next.time += 86400;
    changed.push(next);
    data.AddSecurity(moutai, changed);
    view->Update(0, -1, -1, true);
    EXPECT_EQ(view->picture(0).scale.first, first + 1);

    // Zooming runs through the view's pictures.
    ASSERT_TRUE(view->MoveOrZoom(MoveKey::kZoomIn));
    view->Update(1);
    EXPECT_EQ(view->picture(0).scale.visible, 27);
    EXPECT_EQ(view->picture(0).scale.first + 27, first + 1 + 40);
}

TEST(DisplayListDiff, ChangedPrimitivesBoundTheInvalidRect) {
    DisplayList a, b;
    a.Line({10, 10}, {20, 20}, 1);
    a.Rectangle({100, 100, 110, 120}, 1, true, 2);
    b.Line({10, 10}, {20, 20}, 1);
    b.Rectangle({100, 100, 110, 125}, 1, true, 2);
    const Rect whole{0, 0, 500, 500};
    EXPECT_TRUE(DiffBounds(a, a, whole).empty());
    EXPECT_EQ(DiffBounds(a, b, whole).bounds(), (Rect{99, 99, 111, 126}));
    // A long polyline whose last point moved: only its last segment.
    std::vector<Point> run, moved;
    for (int i = 0; i < 100; ++i) run.push_back({4 * i, 50});
    moved = run;
    moved.back().y = 60;
    DisplayList c, d;
    c.Polyline(run.data(), run.size(), 1);
    d.Polyline(moved.data(), moved.size(), 1);
    EXPECT_EQ(DiffBounds(c, d, whole).bounds(), (Rect{391, 49, 398, 62}));
    b.Pixel({1, 1}, 3);
    EXPECT_EQ(DiffBounds(a, b, whole).bounds(), whole);  // another structure: everything
    Region r;
    r.Add({0, 0, 10, 10});
    r.Add({10, 0, 20, 10});  // touching: merged
    r.Add({50, 50, 60, 60});
    EXPECT_EQ(r.rects().size(), 2u);
    EXPECT_EQ(r.rects()[0], (Rect{0, 0, 20, 10}));
}

}  // namespace
}  // namespace tessaro::chart
