// The chart's numbers: rounding, the bar scale, zoom and scroll, range repair, grid levels,
// axis label fitting and time labels.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "chart/layout.h"
#include "chart/scale.h"

namespace tessaro::chart {
namespace {

TEST(RoundPixel, AddsFourFourFourFourNineTowardZeroNotAHalf) {
    EXPECT_EQ(RoundPixel(2.55f), 2);      // 2.99449 truncates to 2: not rounded half up
    EXPECT_EQ(RoundPixel(2.556f), 3);     // 3.00049
    EXPECT_EQ(RoundPixel(-2.55f), -2);
    EXPECT_EQ(RoundPixel(-2.556f), -3);
    EXPECT_EQ(RoundPixel(0.0f), 0);
    EXPECT_EQ(RoundPixel(std::numeric_limits<float>::quiet_NaN()), 0);
    EXPECT_EQ(RoundPixel(std::numeric_limits<float>::infinity()), 10000000);
    EXPECT_EQ(RoundPixel(-1e30f), -10000000);
}

TEST(HScale, PitchGapCentresAndHalfBody) {
    HScale h;
    h.visible = 100;
    h.Layout(0, 1000);
    // p = (1000 - 1 - 1) / (130 + 0.3)
    EXPECT_FLOAT_EQ(h.pitch, 998.0f / 130.3f);
    EXPECT_FLOAT_EQ(h.gap, 0.3f * h.pitch);
    EXPECT_FLOAT_EQ(h.Centre(0), 1 + 0.5f * h.pitch + h.gap);
    EXPECT_FLOAT_EQ(h.Centre(3) - h.Centre(2), h.pitch + h.gap);
    // p = 7.659: trunc(3.83) = 3, trunc((p + g) / 2) = trunc(4.98) = 4 differs: 3 stays.
    EXPECT_EQ(h.HalfBody(), 3);
    h.visible = 10;  // p = 74.9: 37 against trunc(48.7) = 48
    h.Layout(0, 1000);
    EXPECT_EQ(h.HalfBody(), 37);
    h.visible = 400;  // p = 1.917: trunc(0.96) = 0 stays 0
    h.Layout(0, 1000);
    EXPECT_EQ(h.HalfBody(), 0);
    h.pitch = 2.5f;  // trunc(1.25) = 1 = trunc(1.625): reduced to 0
    h.gap = 0.75f;
    EXPECT_EQ(h.HalfBody(), 0);

    h.visible = 100;
    h.Layout(0, 1000);
    h.shown = 50;
    EXPECT_EQ(h.BarAt(h.Centre(7)), 7);
    EXPECT_EQ(h.BarAt(-50), 0);
    EXPECT_EQ(h.BarAt(5000), 49);
    h.shown = 0;
    EXPECT_EQ(h.BarAt(500), 0);
}

TEST(HScale, HistoryRequestsByPeriod) {
    EXPECT_EQ(HistoryRequestSize(kPeriodDay, 100), 160);
    EXPECT_EQ(HistoryRequestSize(kPeriodMin15, 100), 360);
    EXPECT_EQ(HistoryRequestSize(kPeriodMin30, 100), 660);
    EXPECT_EQ(HistoryRequestSize(kPeriodMin60, 100), 1260);
    EXPECT_EQ(HistoryRequestSize(kPeriodWeek, 100), 560);
    EXPECT_EQ(HistoryRequestSize(kPeriodMonth, 100), 3160);
    EXPECT_EQ(HistoryRequestSize(kPeriodQuarter, 100), 12060);
    EXPECT_EQ(HistoryRequestSize(kPeriodYear, 100), 36560);
    EXPECT_EQ(HistoryRequestSize(kPeriodMin5, 100), 160);
}

TEST(MoveOrZoom, ZoomInStepsAndIsRefusedBelowNineteen) {
    HScale h;
    h.visible = 100;
    ShowNewest(h, 1000);
    EXPECT_EQ(h.first, 904);
    const int right = h.first + h.visible;
    const int expected[] = {67, 45, 30, 20, 13};
    for (int n : expected) {
        EXPECT_TRUE(MoveOrZoom(h, MoveKey::kZoomIn, 1000, kPeriodDay).changed);
        EXPECT_EQ(h.visible, n);
        EXPECT_EQ(h.first + h.visible, right);  // the right end stays
    }
    EXPECT_FALSE(MoveOrZoom(h, MoveKey::kZoomIn, 1000, kPeriodDay).changed);
    EXPECT_EQ(h.visible, 13);
    h.visible = 19;  // 19 is not below 19
    EXPECT_TRUE(MoveOrZoom(h, MoveKey::kZoomIn, 1000, kPeriodDay).changed);
    EXPECT_EQ(h.visible, 13);
}

TEST(MoveOrZoom, ZoomOutAsksForMoreAndStopsAtTheLoadedBars) {
    HScale h;
    h.visible = 100;
    ShowNewest(h, 1000);
    MoveResult r = MoveOrZoom(h, MoveKey::kZoomOut, 1000, kPeriodWeek);
    EXPECT_EQ(h.visible, 150);
    EXPECT_EQ(r.moreHistory, 50 * 5 + 60);
    EXPECT_EQ(h.first + h.visible, 1004);
    // 120 loaded bars: N stops at total + margin, first at 0.
    h.visible = 100;
    ShowNewest(h, 120);
    r = MoveOrZoom(h, MoveKey::kZoomOut, 120, kPeriodDay);
    EXPECT_EQ(h.visible, 124);
    EXPECT_EQ(h.first, 0);
    EXPECT_EQ(h.shown, 120);
    EXPECT_EQ(r.moreHistory, 50 + 60);
    r = MoveOrZoom(h, MoveKey::kZoomOut, 120, kPeriodDay);
    EXPECT_FALSE(r.changed);
}

TEST(MoveOrZoom, ScrollClampsAtBothEnds) {
    HScale h;
    h.visible = 100;
    ShowNewest(h, 250);
    EXPECT_EQ(h.first, 154);
    EXPECT_EQ(h.shown, 96);
    EXPECT_FALSE(MoveOrZoom(h, MoveKey::kRight, 250, kPeriodDay).changed);  // already at the right end
    EXPECT_FALSE(MoveOrZoom(h, MoveKey::kSlowRight, 250, kPeriodDay).changed);
    EXPECT_TRUE(MoveOrZoom(h, MoveKey::kSlowLeft, 250, kPeriodDay).changed);
    EXPECT_EQ(h.first, 153);
    EXPECT_EQ(h.shown, 97);
    MoveOrZoom(h, MoveKey::kLeft, 250, kPeriodDay);
    EXPECT_EQ(h.first, 53);
    EXPECT_EQ(h.shown, 100);
    MoveOrZoom(h, MoveKey::kLeft, 250, kPeriodDay);
    EXPECT_EQ(h.first, 0);
    EXPECT_FALSE(MoveOrZoom(h, MoveKey::kLeft, 250, kPeriodDay).changed);
    // No bars: N keeps at least two margins, nothing is shown, nothing goes negative.
    h.visible = 3;
    ClampScale(h, 0);
    EXPECT_EQ(h.visible, 8);
    EXPECT_EQ(h.first, 0);
    EXPECT_EQ(h.shown, 0);
}

TEST(ValueRange, DegenerateRangesAreRepaired) {
    ValueRange r{5, 5};
    RepairRange(r);
    EXPECT_FLOAT_EQ(r.max, 5.1f);
    EXPECT_FLOAT_EQ(r.min, 4.9f);
    r = {0, 0};
    RepairRange(r);
    EXPECT_EQ(r.max, 1);
    EXPECT_EQ(r.min, 0);
    r = {-5, -5};  // a negative flat range keeps max above min
    RepairRange(r);
    EXPECT_FLOAT_EQ(r.max, -4.9f);
    EXPECT_FLOAT_EQ(r.min, -5.1f);
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    r = {nan, nan};
    RepairRange(r);
    EXPECT_EQ(r.max, 10);
    EXPECT_EQ(r.min, 0);
    r = {inf, 3};
    RepairRange(r);
    EXPECT_TRUE(std::isfinite(r.max));
    EXPECT_GT(r.max, r.min);
    r = {2, 8};
    RepairRange(r);
    EXPECT_EQ(r.max, 8);
    EXPECT_EQ(r.min, 2);

    ValueRange c{0, 0};
    RepairCentredRange(c, 20);  // zero ends: 22 and 18
    EXPECT_FLOAT_EQ(c.max, 22);
    EXPECT_FLOAT_EQ(c.min, 18);
    c = {10.05f, 9.99f};
    RepairCentredRange(c, 10);  // d = 0.05 < 1 % of ref
    EXPECT_FLOAT_EQ(c.max, 10.1f);
    EXPECT_FLOAT_EQ(c.min, 9.9f);
    c = {0, 0};
    RepairCentredRange(c, 0);  // ref falls back to 10
    EXPECT_FLOAT_EQ(c.max, 11);
    EXPECT_FLOAT_EQ(c.min, 9);
}

TEST(ValueMap, MapsAndNeverProducesNonFinitePixels) {
    ValueMap m;
    m.Set(0, 102, {100, 0});
    EXPECT_FLOAT_EQ(m.scale, 1.0f);
    EXPECT_EQ(m.Y(0), 101);
    EXPECT_EQ(m.Y(100), 1);
    EXPECT_FLOAT_EQ(m.Value(51), 50);
    m.Set(0, 102, {5, 5});  // repaired to 5.1 .. 4.9 first
    EXPECT_TRUE(std::isfinite(m.scale));
    EXPECT_EQ(m.Y(5), 51);
    m.Set(0, 102, {std::numeric_limits<float>::quiet_NaN(), 1});
    EXPECT_TRUE(std::isfinite(m.scale));
    EXPECT_EQ(m.Y(std::numeric_limits<float>::infinity()), 101);
    m.Set(0, 102, {1e30f, -1e30f});
    EXPECT_TRUE(std::isfinite(m.scale));
    EXPECT_EQ(m.Y(0), 51);
}

TEST(GridLevels, TheWorkedRanges) {
    Levels l = GridLevels({100, 0, 360, false, 0});
    EXPECT_EQ(l.count, 10);
    EXPECT_FLOAT_EQ(l.step, 10);
    ASSERT_EQ(l.values.size(), 11u);
    EXPECT_EQ(l.values.front(), 0);
    EXPECT_FLOAT_EQ(l.values.back(), 100);

    l = GridLevels({50, 10, 180, false, 0});
    EXPECT_EQ(l.count, 5);
    EXPECT_FLOAT_EQ(l.step, 7.5f);
    ASSERT_EQ(l.values.size(), 7u);  // 0, 7.5 .. 45
    EXPECT_EQ(l.values.front(), 0);
    EXPECT_FLOAT_EQ(l.values.back(), 45);

    EXPECT_EQ(GridLevels({100, 0, 350, false, 0}).count, 9);  // 9.9999.. truncates
    EXPECT_EQ(GridLevels({100, 0, 10, false, 0}).count, 1);
    EXPECT_EQ(GridLevels({100, 0, 5000, false, 0}).count, 30);
}

TEST(GridLevels, MultiplierBoundaries) {
    // Each pair straddles a boundary of the multiplier table.
    const struct { float u; float v; } cases[] = {
        {1.49f, 1}, {1.5f, 1.5f}, {1.79f, 1.5f}, {1.8f, 2}, {2.49f, 2}, {2.5f, 2.5f}, {3.19f, 2.5f},
        {3.2f, 4}, {5.19f, 4}, {5.2f, 5}, {6.49f, 5}, {6.5f, 7.5f}, {9.99f, 7.5f}, {10, 10}, {17.9f, 10}, {18, 15}};
    for (const auto& c : cases) EXPECT_EQ(StepMultiplier(c.u), c.v) << c.u;
    // Through GridLevels: range 16 over 10 levels is a step of 1.6 -> 1.5; 18 -> 1.8 -> 2.
    EXPECT_FLOAT_EQ(GridLevels({16, 0, 350 + 10, false, 0}).step, 1.5f);
    EXPECT_FLOAT_EQ(GridLevels({18, 0, 360, false, 0}).step, 2);
    EXPECT_FLOAT_EQ(GridLevels({0.0519f, 0, 360, false, 0}).step, 0.004f);
    EXPECT_FLOAT_EQ(GridLevels({0.0521f, 0, 360, false, 0}).step, 0.005f);
    EXPECT_FLOAT_EQ(GridLevels({0.0649f, 0, 360, false, 0}).step, 0.005f);
    EXPECT_FLOAT_EQ(GridLevels({0.0651f, 0, 360, false, 0}).step, 0.0075f);
    EXPECT_FLOAT_EQ(GridLevels({1790, 0, 360, false, 0}).step, 150);
    // The decimals a step needs: 0.0075 four, 0.005 three, 150 none.
    EXPECT_EQ(GridLevels({0.0651f, 0, 360, false, 0}).stepDecimals, 4);
    EXPECT_EQ(GridLevels({0.0521f, 0, 360, false, 0}).stepDecimals, 3);
    EXPECT_EQ(GridLevels({1790, 0, 360, false, 0}).stepDecimals, 0);
    EXPECT_FLOAT_EQ(GridLevels({1810, 0, 360, false, 0}).step, 200);
}

TEST(GridLevels, BoundedForAnyRange) {
    const float ranges[][2] = {{1e-9f, 0}, {1e12f, 0}, {1e12f + 1, 1e12f}, {-1e12f, -1e12f - 5e5f},
                               {3e38f, -3e38f}, {1e-30f, -1e-30f}};
    for (const auto& r : ranges) {
        Levels l = GridLevels({r[0], r[1], 360, false, 0});
        EXPECT_LE(static_cast<int>(l.values.size()), l.count + 9) << r[0];
        for (size_t i = 0; i < l.values.size(); ++i) {
            EXPECT_TRUE(std::isfinite(l.values[i]));
            if (i) {
                EXPECT_GT(l.values[i], l.values[i - 1]);
            }
        }
    }
    Levels l = GridLevels({1e12f, 0, 360, false, 0});
    EXPECT_FLOAT_EQ(l.step, 1e11f);
    EXPECT_EQ(l.values.size(), 11u);
}

TEST(GridLevels, PercentageLevelsAreValuesAroundTheBase) {
    // 9 .. 11 around base 10: -10 % .. +10 % in 10 levels -> 2 % steps.
    Levels l = GridLevels({11, 9, 360, true, 10});
    EXPECT_FLOAT_EQ(l.step, 2);
    ASSERT_FALSE(l.values.empty());
    EXPECT_FLOAT_EQ(l.values.front(), 9);
    EXPECT_FLOAT_EQ(l.values.back(), 11);
    EXPECT_NEAR(l.values[5], 10, 1e-5);
    AxisLabelFormat f = FitAxisLabels(11, 2, true, 10, 56, 7);
    EXPECT_EQ(FormatAxisLabel(11, f), "10%");
    EXPECT_EQ(FormatAxisLabel(9.2f, f), "-8%");
    // A base near zero is replaced.
    EXPECT_FLOAT_EQ(GridLevels({2, 1, 360, true, 0}).base, 0.1f);
}

TEST(AxisLabels, FittingReducesDecimalsThenDividesAndStops) {
    // A 6-character axis at cx 7: 8 * 7 = 56 wide, room for 7 columns.
    AxisLabelFormat f = FitAxisLabels(12.345f, 3, false, 0, 56, 7);
    EXPECT_EQ(f.decimals, 3);
    EXPECT_EQ(f.exponent, 0);
    f = FitAxisLabels(12345.6f, 3, false, 0, 56, 7);
    EXPECT_EQ(f.decimals, 1);
    EXPECT_EQ(FormatAxisLabel(12345.6f, f), "12345.6");
    f = FitAxisLabels(12345678, 2, false, 0, 56, 7);
    EXPECT_EQ(f.decimals, 0);
    EXPECT_EQ(f.exponent, 1);
    EXPECT_EQ(FormatAxisLabel(12345678, f), "1234568");
    // Nothing fits: the divisor stops after exceeding 1 000 000.
    f = FitAxisLabels(1e12f, 2, false, 0, 10, 7);
    EXPECT_EQ(f.exponent, 7);
    f = FitAxisLabels(-1e30f, 2, false, 0, 0, 7);
    EXPECT_EQ(f.exponent, 7);
    EXPECT_EQ(f.decimals, 0);
}

TEST(TimeLabels, DayPicturesLabelYearsAndMonths) {
    std::vector<int> x;
    std::vector<StoreTime> t;
    const int days[][3] = {{2024, 12, 30}, {2024, 12, 31}, {2025, 1, 2}, {2025, 1, 3}, {2025, 2, 3}, {2025, 2, 4}};
    for (int i = 0; i < 6; ++i) {
        x.push_back(10 + 100 * i);
        t.push_back(MakeStoreTime(days[i][0], days[i][1], days[i][2]));
    }
    auto labels = TimeAxisLabels(kPeriodDay, x, t, 7);
    ASSERT_EQ(labels.size(), 3u);
    EXPECT_EQ(labels[0].text, "2024/12");
    EXPECT_EQ(labels[1].text, "2025/01");
    EXPECT_EQ(labels[1].x, 210);
    EXPECT_EQ(labels[2].text, "02");
    // Too close: the year label waits for room, compared with the last labelled bar.
    for (int i = 0; i < 6; ++i) x[i] = 10 + 20 * i;
    labels = TimeAxisLabels(kPeriodDay, x, t, 7);
    ASSERT_EQ(labels.size(), 2u);
    EXPECT_EQ(labels[1].text, "2025/01");  // the first bar with room (70 > 10 + 49 + 5)
    EXPECT_EQ(labels[1].x, 70);
}

TEST(TimeLabels, IntradayAndLongPeriods) {
    std::vector<int> x = {0, 200, 400, 600};
    std::vector<StoreTime> t = {MakeStoreTime(2025, 12, 31, 14, 55), MakeStoreTime(2026, 1, 5, 9, 35),
                                MakeStoreTime(2026, 1, 5, 10, 5), MakeStoreTime(2026, 1, 6, 9, 35)};
    auto l = TimeAxisLabels(kPeriodMin1, x, t, 7);
    ASSERT_EQ(l.size(), 4u);
    EXPECT_EQ(l[0].text, "2025/12/31");
    EXPECT_EQ(l[1].text, "2026/01/05");
    EXPECT_EQ(l[2].text, "10:05");
    EXPECT_EQ(l[3].text, "01/06");
    l = TimeAxisLabels(kPeriodMin5, x, t, 7);
    ASSERT_EQ(l.size(), 3u);  // no hour labels
    EXPECT_EQ(l[2].text, "01/06");

    t = {MakeStoreTime(2024, 3, 29), MakeStoreTime(2024, 6, 28), MakeStoreTime(2024, 9, 30), MakeStoreTime(2025, 3, 31)};
    l = TimeAxisLabels(kPeriodQuarter, x, t, 7);
    ASSERT_EQ(l.size(), 4u);
    EXPECT_EQ(l[0].text, "2024/03");
    EXPECT_EQ(l[1].text, "06");
    EXPECT_EQ(l[3].text, "2025");
    l = TimeAxisLabels(kPeriodMonth, x, t, 7);
    ASSERT_EQ(l.size(), 1u);  // the new year starts in March: no label
    t[3] = MakeStoreTime(2025, 1, 31);
    l = TimeAxisLabels(kPeriodMonth, x, t, 7);
    ASSERT_EQ(l.size(), 2u);
    EXPECT_EQ(l[1].text, "2025/01");
    l = TimeAxisLabels(kPeriodYear, x, t, 7);
    EXPECT_EQ(l.back().text, "2025");
    EXPECT_TRUE(TimeAxisLabels(kPeriodDay, {}, {}, 7).empty());
}

TEST(Layout, PictureGridAndPaneUnits) {
    EXPECT_EQ(NormalisePictureCount(3), 1);
    EXPECT_EQ(NormalisePictureCount(5), 4);
    EXPECT_EQ(NormalisePictureCount(10), 9);
    EXPECT_EQ(NormalisePictureCount(20), 16);
    EXPECT_EQ(NormalisePictureCount(2), 2);
    EXPECT_EQ(NormalisePictureCount(0), 1);
    auto two = PictureRects(2, 800, 600);
    ASSERT_EQ(two.size(), 2u);
    EXPECT_EQ(two[1].top, 300);
    EXPECT_EQ(two[1].width(), 800);
    auto nine = PictureRects(9, 900, 600);
    EXPECT_EQ(nine[5].left, 600);  // column 2
    EXPECT_EQ(nine[5].top, 200);   // row 1

    auto h = FreshPaneHeights(4, 600);
    ASSERT_EQ(h.size(), 4u);
    EXPECT_FLOAT_EQ(h[0], 300);
    EXPECT_FLOAT_EQ(h[1], 100);
    // Adding two panes to 3 : 1 gives each new one a unit of 6, the old keep 3 : 1.
    auto more = ResizePaneHeights({300, 100}, 4, 600);
    EXPECT_FLOAT_EQ(more[2], 100);
    EXPECT_FLOAT_EQ(more[0], 300);
    EXPECT_FLOAT_EQ(more[1], 100);
    auto fewer = ResizePaneHeights({300, 100, 100, 100}, 2, 600);
    EXPECT_FLOAT_EQ(fewer[0], 450);
    EXPECT_FLOAT_EQ(fewer[1], 150);

    ChartMetrics m;
    PaneRects r = LayoutPane({0, 0, 800, 300}, m, {});
    EXPECT_EQ(r.rightAxis.left, 800 - 56);
    EXPECT_EQ(r.leftAxis.width(), 0);
    EXPECT_EQ(r.title.height(), m.cy + 2);
    EXPECT_EQ(r.draw.bottom, 298);
    r = LayoutPane({0, 0, 800, 300}, m, {true, true, false});
    EXPECT_EQ(r.leftAxis.width(), 56);
    EXPECT_EQ(r.title.height(), m.bigTitleHeight + 4);
    EXPECT_EQ(r.draw.bottom, 300);
    r = LayoutPane({0, 0, 30, 5}, m, {});  // narrower than both axes: nothing inverts
    EXPECT_GE(r.draw.width(), 0);
    EXPECT_GE(r.draw.height(), 0);
}

}  // namespace
}  // namespace tessaro::chart
