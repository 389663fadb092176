// The price-axis drag of a pane in percentage mode moves its reference value and the levels with
// it; the rubber band's text names its first and last bar and counts both.
#include <gtest/gtest.h>

#include "chart/cursor.h"
#include "platform/text.h"

#include "chart/chart_test_support.h"

namespace tessaro::chart {
namespace {

class AxisDragTest : public MoutaiViewSuite {
protected:
    void SetUp() override { OpenMoutai(800, 600, 60, {{{3, "MA"}}, {{4, "VOL"}}}); }
};

TEST_F(AxisDragTest, APercentageAxisDragMovesTheReferenceAndItsLevels) {
    // Normal mode: the drag does nothing.
    EXPECT_TRUE(view->DragReference(0, 0, 35).empty());
    view->SetScaleMode(0, 0, kScalePercentage);
    view->Update(3);
    GraphPane& main = view->picture(0).panes[0];
    const float first = view->picture(0).series.bars[static_cast<size_t>(view->picture(0).scale.first)].close;
    ASSERT_FLOAT_EQ(main.reference, first);
    const std::vector<float> before = main.levels.values;
    const int y0 = main.map.Y(main.reference);

    // 35 pixels down: the reference falls by 35 / (pixels per unit) and its line follows the mouse.
    EXPECT_FALSE(view->DragReference(0, 0, 35).empty());
    EXPECT_NEAR(main.reference, first - 35 / main.map.scale, 0.001f * first);
    EXPECT_NEAR(main.map.Y(main.reference) - y0, 35, 1);
    EXPECT_NE(main.levels.values, before) << "the levels are counted from the new reference";
    // The 0 % level is the reference itself.
    EXPECT_TRUE(std::any_of(main.levels.values.begin(), main.levels.values.end(),
                            [&](float v) { return std::fabs(v - main.reference) < 0.001f * first; }));
    // And back up.
    view->DragReference(0, 0, -35);
    EXPECT_NEAR(main.reference, first, 0.001f * first);

    // Not a sub-chart, not a still mouse, not a picture that is not there.
    EXPECT_TRUE(view->DragReference(0, 1, 10).empty());
    EXPECT_TRUE(view->DragReference(0, 0, 0).empty());
    EXPECT_TRUE(view->DragReference(3, 0, 10).empty());
    // A scroll counts from the first visible close again.
    view->DragReference(0, 0, 50);
    view->Update(3);
    EXPECT_FLOAT_EQ(main.reference, first);
}

TEST(RubberBand, TextNamesTheFirstAndLastBarAndCountsBoth) {
    GraphPicture p;
    p.period = kPeriodDay;
    for (int day = 2; day <= 5; ++day) {
        KLineRecord b;
        b.time = MakeStoreTime(2024, 1, day, 0, 0);
        p.series.push(b);
    }
    p.scale.first = 1;
    p.scale.shown = 3;
    // 2024-01-03 was a Wednesday, 2024-01-05 a Friday.
    const std::string text = BandText(p, 2, 0);
    EXPECT_EQ(text, BandText(p, 0, 2));
    EXPECT_EQ(text, "2024-01-03(三)\r\n2024-01-05(五)\r\n共3组");
    EXPECT_EQ(BandText(p, 1, 1), "2024-01-04(四)\r\n2024-01-04(四)\r\n共1组");
    EXPECT_EQ(BandText(p, 0, 3), "");  // beyond the shown bars
    EXPECT_EQ(BandText(p, -1, 1), "");
    p.period = kPeriodMin5;
    p.series.bars[1].time = MakeStoreTime(2024, 1, 3, 9, 35);
    EXPECT_EQ(BandText(p, 0, 0).substr(0, 16), "2024-01-03 09:35");
}

}  // namespace
}  // namespace tessaro::chart
