// The compact chart control: its tab strip (selection, deletion that never leaves it empty,
// clicks), the sub-chart a tab shows, the cursor on a minute with its tags and its limits.
#include <gtest/gtest.h>

#include "chart/compact_chart.h"
#include "platform/text.h"

namespace tessaro::chart {
namespace {

constexpr StoreTime kDay = 46000u * 86400u;

TimeSharingOptions Options() {
    TimeSharingOptions o;
    o.scheme = BuiltInSchemes()[0];
    return o;
}

TimeSharingData IndexDay(int minutes, bool breadth) {
    TimeSharingData d;
    ParseSecurityText("SH000001", d.security.id);
    d.security.securityClass = kClassIndex;
    d.security.setName(Utf8ToGbk("上证指数"));
    d.previousClose = 3000;
    for (int i = 0; i < minutes; ++i) {
        KLineRecord m;
        m.time = kDay + 34200 + 60 * static_cast<uint32_t>(i);
        m.open = m.high = m.low = m.close = 3000.0f + static_cast<float>(i);
        m.volume = 1000;
        m.amount = 1e7f;
        d.minutes.push_back(m);
    }
    if (breadth) {
        d.breadth.resize(kMinuteSlots);
        for (int i = 0; i < minutes; ++i) {
            MinuteExtra& f = d.breadth[static_cast<size_t>(i)];
            f.time = 1;  // present
            f.figures[0] = static_cast<int16_t>(600 - i);
            f.figures[1] = 100;
            f.figures[2] = static_cast<int16_t>(300 + i);
        }
    }
    return d;
}

TEST(CompactChart, TabStripSelectsDeletesAndNeverEmpties) {
    CompactChart c({0, 0, 640, 400}, "TEND", Options());
    EXPECT_EQ(c.mainFormula(), "TEND");
    EXPECT_FALSE(c.AddSubFormula("MACD"));  // not a sub-chart of this control
    EXPECT_TRUE(c.AddSubFormula(kCompactVolumeFormula));
    EXPECT_FALSE(c.AddSubFormula(kCompactVolumeFormula));  // once
    EXPECT_TRUE(c.AddSubFormula(kCompactBreadthFormula));
    c.SetLabels({"成交量"});
    EXPECT_EQ(c.tabCaption(0), "成交量");
    EXPECT_EQ(c.tabCaption(1), "ZDL");  // no label: the formula's name
    EXPECT_EQ(c.tabCaption(2), "");

    c.Build();
    ASSERT_EQ(c.tabRects().size(), 2u);
    EXPECT_EQ(c.tabRects()[0].bottom, 399);
    EXPECT_LT(c.tabRects()[0].right, c.tabRects()[1].left + 1);
    // A click on the second tab selects it once; a click elsewhere does nothing.
    const Rect second = c.tabRects()[1];
    CompactEvent e = c.Click({second.left + 2, second.top + 2});
    EXPECT_EQ(e.notice, CompactNotice::kTabSelChanged);
    EXPECT_EQ(e.tab, 1);
    EXPECT_EQ(c.Click({second.left + 2, second.top + 2}).notice, CompactNotice::kNone);
    EXPECT_EQ(c.Click({320, 100}).notice, CompactNotice::kNone);
    EXPECT_EQ(c.SelectTab(5).notice, CompactNotice::kNone);

    // Deleting the current last tab hands over to its neighbour; the last tab stays.
    e = c.DeleteTab(1);
    EXPECT_EQ(e.notice, CompactNotice::kTabDeleted);
    EXPECT_EQ(c.tabCount(), 1);
    EXPECT_EQ(c.currentTab(), 0);
    EXPECT_EQ(c.tabFormula(0), kCompactVolumeFormula);
    EXPECT_EQ(c.DeleteTab(0).notice, CompactNotice::kNone);
    EXPECT_EQ(c.DeleteTab(-1).notice, CompactNotice::kNone);
}

TEST(CompactChart, TheCurrentTabChoosesTheSubChart) {
    CompactChart c({0, 0, 640, 419}, "TEND", Options());
    c.AddSubFormula(kCompactVolumeFormula);
    c.AddSubFormula(kCompactBreadthFormula);
    c.SetData(IndexDay(60, true));
    c.Build();
    // The volume under the price pane: 4 units of the 400 pixels above the strips, 3 and 1.
    const int strip = Options().metrics.timeStripHeight();
    const float available = 419 - strip - strip;
    EXPECT_FLOAT_EQ(c.picture().mainRects().outer.bottom, available * 3 / 4);
    EXPECT_FLOAT_EQ(c.picture().volumeRects().outer.bottom, available);
    EXPECT_TRUE(c.picture().zdlRects().outer.height() == 0);
    c.SelectTab(1);
    c.Build();
    // "ZDL" takes the volume's place; the time axis follows it.
    EXPECT_FLOAT_EQ(c.picture().zdlRects().outer.top, available * 3 / 4);
    EXPECT_FLOAT_EQ(c.picture().zdlRects().outer.bottom, available);
    EXPECT_TRUE(c.picture().volumeRects().outer.height() == 0);
    EXPECT_FALSE(c.picture().zdlList().empty());
    EXPECT_TRUE(c.picture().volumeList().empty());
    // Without breadth figures the "ZDL" tab shows the volume.
    c.SetData(IndexDay(60, false));
    c.Build();
    EXPECT_FLOAT_EQ(c.picture().volumeRects().outer.bottom, available);
    // Nothing at all in an empty rectangle.
    c.SetRect({});
    c.Build();
    EXPECT_TRUE(c.list().empty());
}

TEST(CompactChart, CursorSitsOnAMinuteWithItsTags) {
    CompactChart c({0, 0, 800, 500}, "TEND", Options());
    c.AddSubFormula(kCompactVolumeFormula);
    EXPECT_FALSE(c.MoveCursor(100));  // no minutes yet
    EXPECT_EQ(c.cursorTime(), "");
    c.SetData(IndexDay(30, false));
    c.Build();
    const HScale& s = c.picture().scale();
    ASSERT_EQ(s.shown, 30);
    ASSERT_TRUE(c.MoveCursor(s.CentrePixel(7)));
    EXPECT_EQ(c.cursorMinute(), 7);
    EXPECT_EQ(c.cursorTime(), "09:37");
    EXPECT_EQ(c.cursorPrice(), "3007.00");
    // Far right of the data: the last minute; steps stop at both ends.
    c.MoveCursor(790);
    EXPECT_EQ(c.cursorMinute(), 29);
    c.StepCursor(1);
    EXPECT_EQ(c.cursorMinute(), 29);
    c.MoveCursor(-50);
    EXPECT_EQ(c.cursorMinute(), 0);
    c.StepCursor(-1);
    EXPECT_EQ(c.cursorMinute(), 0);
    c.StepCursor(1);
    c.Build();
    // Its tags are drawn: the time and the price.
    int tags = 0;
    for (const Primitive& p : c.list().items())
        if (p.kind == PrimitiveKind::kText && (c.list().text(p) == "09:31" || c.list().text(p) == "3001.00")) ++tags;
    EXPECT_EQ(tags, 2);
    // New data takes the cursor away.
    c.SetData(IndexDay(5, false));
    EXPECT_EQ(c.cursorMinute(), -1);
}

}  // namespace
}  // namespace tessaro::chart
