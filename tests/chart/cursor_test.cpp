// The cursor model over a real daily history: the bar under the mouse at bar boundaries and in
// the right margin, what lies under a point, the crosshair's steps, its tags, the titles at the
// cursor bar and the data window's rows.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "chart/cursor.h"
#include "formula/standard_library.h"
#include "market/bars_csv.h"
#include "platform/text.h"

#include "chart/chart_test_support.h"

namespace tessaro::chart {
namespace {

class CursorTest : public MoutaiViewSuite {
protected:
    void SetUp() override {
        ASSERT_GE(bars_->size(), 300u);
        OpenMoutai(640, 400, 40, {{{3, "MA"}}, {{4, "VOL"}}, {{4, "MACD"}}});
    }
};

TEST_F(CursorTest, BarUnderTheMouseAtBoundariesAndInTheRightMargin) {
    const GraphPicture& p = view->picture(0);
    ASSERT_EQ(p.scale.shown, 36);  // 40 places, 4 of them the empty margin
    const int y = static_cast<int>(p.panes[0].rects.draw.top + 40);
    const float step = p.scale.pitch + p.scale.gap;
    // Bar k covers x from l + 1 + g + k (p + g) up to the next bar's start.
    for (int k = 0; k < p.scale.shown; ++k) {
        const float start = p.scale.left + 1 + p.scale.gap + static_cast<float>(k) * step;
        const int inside = static_cast<int>(std::ceil(start + 0.01f));
        EXPECT_EQ(HitTest(*view, inside, y).bar, k) << "x " << inside;
        if (k > 0) {
            EXPECT_EQ(HitTest(*view, inside - 1, y).bar, k - 1) << "x " << inside - 1;
        }
        EXPECT_EQ(HitTest(*view, p.scale.CentrePixel(k), y).bar, k);
    }
    // Left of the first bar: the first; the empty margin and the last pixel: the last shown bar.
    EXPECT_EQ(HitTest(*view, static_cast<int>(p.scale.left) + 1, y).bar, 0);
    const int marginX = p.scale.CentrePixel(37);
    EXPECT_EQ(HitTest(*view, marginX, y).bar, 35);
    EXPECT_EQ(HitTest(*view, static_cast<int>(p.panes[0].rects.draw.right) - 1, y).bar, 35);

    Crosshair c;
    ASSERT_TRUE(PlaceCursor(*view, c, marginX, y));
    EXPECT_EQ(c.bar, static_cast<int>(bars_->size()) - 1);
    EXPECT_EQ(CursorLineX(*view, c), p.scale.CentrePixel(35));
    EXPECT_FALSE(PlaceCursor(*view, c, 700, y));  // outside the view
}

TEST_F(CursorTest, KindsOfPointsStripBoxDividerTitleAndLines) {
    const GraphPicture& p = view->picture(0);
    const PaneRects& main = p.panes[0].rects;
    const PaneRects& last = p.panes[2].rects;
    const int stripY = static_cast<int>(last.outer.bottom) + 3;
    EXPECT_EQ(HitTest(*view, 100, stripY).kind, kHitTimeAxis);
    EXPECT_EQ(HitTest(*view, static_cast<int>(last.rightAxis.left) + 5, stripY).kind, kHitAxisBox);

    const int boundary = RoundPixel(main.outer.bottom);
    for (int d = -3; d <= 3; ++d) {
        const HitInfo h = HitTest(*view, 100, boundary + d);
        EXPECT_EQ(h.kind, kHitDivider) << d;
        EXPECT_EQ(h.pane, 0);
    }
    HitInfo below = HitTest(*view, 100, boundary + 5);
    EXPECT_EQ(below.kind, kHitPane);
    EXPECT_EQ(below.pane, 1);

    EXPECT_EQ(HitTest(*view, static_cast<int>(main.rightAxis.left) + 4, 100).part, kPartRightAxis);

    // The name of MACD in its title strip, recorded when the strip was drawn.
    const Rect name = p.panes[2].indicators[0].nameRect;
    ASSERT_FALSE(name.empty());
    const HitInfo title = HitTest(*view, name.left + 2, name.top + 2);
    EXPECT_EQ(title.kind, kHitIndicator);
    EXPECT_EQ(title.pane, 2);
    EXPECT_EQ(title.slot, 0);

    // A point on a MACD line at a bar finds that line; far from every line none.
    const PaneIndicator& macd = p.panes[2].indicators[0];
    ASSERT_TRUE(macd.result);
    const int k = 20, index = p.scale.first + k;
    int line = -1;
    for (size_t i = 0; i < macd.result->lines.size() && line < 0; ++i)
        if (macd.result->lines[i].drawKind < kDrawIcon && macd.result->lines[i].valid(index)) line = static_cast<int>(i);
    ASSERT_GE(line, 0);
    const int ly = p.panes[2].map.Y(macd.result->lines[static_cast<size_t>(line)].points[static_cast<size_t>(index)].value);
    int slot = -1, found = -1;
    LineNear(p, 2, k, ly, kLineTolerance, slot, found);
    EXPECT_EQ(slot, 0);
    EXPECT_GE(found, 0);
    LineNear(p, 2, k, ly, kLineTolerance, slot, found);
    LineNear(p, 2, p.scale.shown, ly, kLineTolerance, slot, found);  // past the shown bars
    EXPECT_EQ(slot, -1);

    // The K-line: a point between the bar's high and low.
    const KLineRecord& b = bars_->bars[static_cast<size_t>(index)];
    const HitInfo onBar = HitTest(*view, p.scale.CentrePixel(k), p.panes[0].map.Y((b.high + b.low) / 2));
    EXPECT_TRUE(onBar.kline || onBar.slot >= 0);
}

TEST_F(CursorTest, KeysSwitchOnAtTheLastBarAndScrollAtTheEdges) {
    GraphPicture& p = view->picture(0);
    const int total = static_cast<int>(bars_->size());
    Crosshair c;
    EXPECT_FALSE(StepCursor(*view, c, -1));  // off: on at the last bar, already in view
    EXPECT_TRUE(c.on);
    EXPECT_EQ(c.bar, total - 1);
    EXPECT_FALSE(StepCursor(*view, c, +1));  // no bar beyond the last
    EXPECT_EQ(c.bar, total - 1);
    const int first = p.scale.first;
    for (int i = 0; i < 35; ++i) EXPECT_FALSE(StepCursor(*view, c, -1)) << i;
    EXPECT_EQ(c.bar, first);
    EXPECT_TRUE(StepCursor(*view, c, -1));  // past the left edge: one bar scrolled
    EXPECT_EQ(p.scale.first, first - 1);
    EXPECT_EQ(c.bar, first - 1);
    view->Update(1);

    // Scrolled to the start, the cursor stops at bar 0.
    p.scale.first = 0;
    view->Update(1);
    c.bar = 0;
    EXPECT_FALSE(StepCursor(*view, c, -1));
    EXPECT_EQ(c.bar, 0);
    // From the right edge of that window the next bar scrolls in.
    c.bar = p.scale.first + p.scale.shown - 1;
    EXPECT_TRUE(StepCursor(*view, c, +1));
    view->Update(1);
    EXPECT_EQ(p.scale.first + p.scale.shown - 1, c.bar);
}

TEST_F(CursorTest, TitlesShowTheCursorBarAndTagsItsTimeAndValue) {
    GraphPicture& p = view->picture(0);
    const PaneIndicator& vol = p.panes[1].indicators[0];
    ASSERT_TRUE(vol.result);
    const int bar = p.scale.first + 10;
    char want[64];
    std::snprintf(want, sizeof want, "%.2f", vol.result->lines[0].points[static_cast<size_t>(bar)].value);
    EXPECT_EQ(p.panes[1].list.ToText().find(want), std::string::npos);
    EXPECT_FALSE(view->SetCursorBar(0, bar).empty());
    EXPECT_NE(p.panes[1].list.ToText().find(want), std::string::npos) << want;
    EXPECT_TRUE(view->SetCursorBar(0, bar).empty());  // unchanged: nothing to repaint

    Crosshair c;
    c.on = true;
    c.bar = bar;
    c.y = static_cast<int>(p.panes[0].rects.draw.top + 50);
    const CursorTags tags = MakeCursorTags(*view, c);
    ASSERT_TRUE(tags.hasTime && tags.hasValue);
    EXPECT_EQ(tags.time.text, FormatStoreTime("Y-M-D(W)", bars_->bars[static_cast<size_t>(bar)].time));
    const ChartMetrics& m = options.metrics;
    EXPECT_EQ(tags.time.box.width(), (TextColumns(tags.time.text) + 1) * m.cx);
    EXPECT_EQ(tags.time.box.height(), m.cy + 5);
    EXPECT_EQ(tags.time.box.top, static_cast<int>(p.panes[2].rects.outer.bottom + 0.5f));
    char value[32];
    std::snprintf(value, sizeof value, "%.2f", p.panes[0].map.Value(static_cast<float>(c.y)));
    EXPECT_EQ(tags.value.text, value);
    EXPECT_EQ(TagTimeText(kPeriodTick, MakeStoreTime(2024, 1, 2, 9, 30, 5)), "2024-01-02 09:30:05");
    EXPECT_EQ(TagTimeText(kPeriodMin5, MakeStoreTime(2024, 1, 2, 9, 35)), "2024-01-02 09:35");
    EXPECT_EQ(TagTimeText(kPeriodWeek, MakeStoreTime(2024, 1, 5)), "2024-01-05(五)");
}

TEST_F(CursorTest, DividersKeepTenPixelsAndTheEnlargedPaneComesBack) {
    GraphPicture& p = view->picture(0);
    const auto [low, high] = DividerRange(p, 0);
    EXPECT_EQ(low, RoundPixel(p.panes[0].rects.title.bottom) + 10);
    EXPECT_EQ(high, RoundPixel(p.panes[1].rects.outer.bottom) - 10);
    EXPECT_GT(DividerRange(p, 2).first, DividerRange(p, 2).second);  // below the last pane: none
    const float lowerBottom = p.panes[1].rects.outer.bottom;
    ASSERT_TRUE(MoveDivider(*view, 0, 0, 0));  // far above: held 10 pixels below the title
    EXPECT_EQ(RoundPixel(p.panes[0].rects.outer.bottom), low);
    EXPECT_FLOAT_EQ(p.panes[1].rects.outer.bottom, lowerBottom);  // the pane below keeps its bottom
    ASSERT_TRUE(MoveDivider(*view, 0, 0, 10000));
    EXPECT_EQ(RoundPixel(p.panes[0].rects.outer.bottom), RoundPixel(lowerBottom) - 10);
    EXPECT_FALSE(MoveDivider(*view, 0, 2, 100));
    view->Update(1);

    std::vector<std::vector<float>> saved;
    const std::vector<float> before = {p.panes[0].height, p.panes[1].height, p.panes[2].height};
    EXPECT_TRUE(TogglePaneEnlargement(*view, 2, saved));
    EXPECT_FLOAT_EQ(p.panes[2].height, before[0] + before[1] + before[2]);
    EXPECT_EQ(p.panes[0].height, 0);
    view->Update(1);  // panes without height draw nothing and do not fail
    EXPECT_EQ(HitTest(*view, 100, 100).pane, 2);
    EXPECT_FALSE(TogglePaneEnlargement(*view, 2, saved));
    for (size_t k = 0; k < 3; ++k) EXPECT_FLOAT_EQ(p.panes[k].height, before[k]);
}

TEST_F(CursorTest, DataWindowRowsOfTheFirstLastAndTickBars) {
    const Series& s = *bars_;
    auto rows = DataWindowRows(s, moutai, kPeriodDay, 0, 2);
    EXPECT_EQ(rows[0].label, "时间");
    EXPECT_EQ(rows[0].value, FormatStoreTime("Y/M/D(W)", s.bars[0].time));
    EXPECT_EQ(rows[1].label, "今开");
    EXPECT_EQ(rows[5].label, "总手");
    EXPECT_EQ(rows[8].label, "涨幅");
    EXPECT_EQ(rows[11].label, "换手率");
    // The first bar is measured against its own open: 1329.59 -> 1351.45.
    EXPECT_EQ(rows[4].value, "1351.45");
    EXPECT_EQ(rows[8].value, "(+21.86)+1.64%");  // 21.86 / 1329.59 = 1.644 %
    EXPECT_EQ(rows[8].colorSign, 1);
    // Any later bar against the close before it; outside the series the last bar.
    const size_t n = s.size();
    auto last = DataWindowRows(s, moutai, kPeriodDay, static_cast<int>(n) + 5, 2);
    char change[32];
    std::snprintf(change, sizeof change, "%+.2f", double(s.bars[n - 1].close) - double(s.bars[n - 2].close));
    EXPECT_EQ(last[8].value.substr(0, last[8].value.find(')') + 1), "(" + std::string(change) + ")");
    EXPECT_EQ(last[0].value, FormatStoreTime("Y/M/D(W)", s.bars[n - 1].time));

    auto tick = DataWindowRows(s, moutai, kPeriodTick, 1, 2);
    EXPECT_EQ(tick[5].label, "现手");
    EXPECT_EQ(tick[0].value, FormatStoreTime("Y/M/D H:N", s.bars[1].time));

    Series none;
    auto empty = DataWindowRows(none, moutai, kPeriodDay, 0, 2);
    EXPECT_EQ(empty[0].value, "");
    EXPECT_EQ(empty[4].label, "最新");
    EXPECT_EQ(empty[4].value, "");
}

}  // namespace
}  // namespace tessaro::chart

namespace tessaro::chart {
namespace {

TEST(CursorDrag, OnePixelIsNoDragAndPansFollowTheMouse) {
    EXPECT_FALSE(DragStarted(100, 100, 101, 99));
    EXPECT_TRUE(DragStarted(100, 100, 102, 100));
    EXPECT_TRUE(DragStarted(100, 100, 100, 98));

    HScale h;
    h.visible = 40;
    h.Layout(0, 525);  // pitch 10, gap 3: 13 pixels a bar
    ASSERT_NEAR(h.pitch + h.gap, 13.0f, 1e-4f);
    ShowNewest(h, 200);
    const int first = h.first, lastShown = h.first + h.shown - 1;
    // Left drag of three bar spacings to the right: three earlier bars.
    float anchor = 100;
    EXPECT_FALSE(PanScale(h, false, anchor, 112, 200));  // less than a spacing: nothing yet
    EXPECT_EQ(anchor, 100);
    EXPECT_TRUE(PanScale(h, false, anchor, 139.5f, 200));
    EXPECT_EQ(h.first, first - 3);
    EXPECT_EQ(anchor, 139.5f);
    // Right drag of three spacings to the right: three more bars, the same last bar.
    h.first = first;
    ClampScale(h, 200);
    anchor = 100;
    EXPECT_TRUE(PanScale(h, true, anchor, 139.5f, 200));
    EXPECT_EQ(h.visible, 43);
    EXPECT_EQ(h.first + h.shown - 1, lastShown);
    // Past the start the clamp holds the first bar at 0.
    anchor = 0;
    EXPECT_TRUE(PanScale(h, false, anchor, 13.0f * 1000, 200));
    EXPECT_EQ(h.first, 0);

    // A band over visible bars 5..14 shows exactly those ten bars; a narrow band keeps 8.
    ShowNewest(h, 200);
    const int before = h.first;
    EXPECT_TRUE(ZoomToBand(h, 14, 5, 200));
    EXPECT_EQ(h.first, before + 5);
    EXPECT_EQ(h.visible, 10);
    EXPECT_TRUE(ZoomToBand(h, 2, 3, 200));
    EXPECT_EQ(h.visible, 2 * kRightMargin);
    EXPECT_FALSE(ZoomToBand(h, 50, 60, 0));
}

}  // namespace
}  // namespace tessaro::chart
