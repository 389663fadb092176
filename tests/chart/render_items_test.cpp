// Each draw kind built from a small hand-made line and drawn into a display list.
// The pane maps value v to y = 101 - v (range 0 .. 100 over 102 pixels); bar k is centred at
// x = 9 + 13 k (pitch 10, gap 3), half body 5.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "chart/render_items.h"

namespace tessaro::chart {
namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

class RenderItems : public ::testing::Test {
protected:
    void SetUp() override {
        scheme = BuiltInSchemes()[0];
        h.left = 0;
        h.right = 200;
        h.pitch = 10;
        h.gap = 3;
        h.visible = 10;
        h.first = 0;
        h.shown = 6;
        map.Set(0, 102, {100, 0});
        ctx.scale = &h;
        ctx.map = &map;
        ctx.scheme = &scheme;
        ctx.draw = {0, 0, 200, 102};
    }

    static OutputLine Line(std::initializer_list<float> values, uint8_t kind = 1) {
        OutputLine line;
        line.drawKind = kind;
        line.count = static_cast<int32_t>(values.size());
        for (float v : values) line.points.push_back(LinePoint{0, v, 0, 0, 0, 0, {}});
        return line;
    }

    std::string Draw(const OutputLine& line, const OutputLineDesc* desc = nullptr, int index = 0) {
        item = BuildLineItem(line, desc, index, "TEST", ctx);
        DisplayList list;
        DrawItem(item, ctx.draw, list);
        return list.ToText();
    }

    std::string C(int n) const { return ColorText(scheme.colors[n]); }

    ColorScheme scheme;
    HScale h;
    ValueMap map;
    BuildContext ctx;
    RenderItem item;
};

TEST_F(RenderItems, PlainLineRunsAndSingleStrokes) {
    const std::string line1 = C(IndicatorColor(1));
    // Two runs broken by a missing value; the lone point becomes a 2-pixel stroke.
    EXPECT_EQ(Draw(Line({10, 20, kNaN, 30})),
              "polyline 9,91 22,81 pen=" + line1 + "\nline 46,71 48,71 pen=" + line1 + "\n");
    // The k-th line takes indicator colour k + 1, modulo 16; a descriptor colour and width win.
    EXPECT_EQ(BuildLineItem(Line({1}), nullptr, 17, "X", ctx).colour, scheme.colors[IndicatorColor(2)]);
    EXPECT_EQ(BuildLineItem(Line({1}), nullptr, 0, "TENDV", ctx).colour, scheme.colors[IndicatorColor(2)]);
    OutputLineDesc d;
    d.colourWidth = 1 | (3 << 1);
    d.colour = Rgb(1, 2, 3);
    EXPECT_EQ(Draw(Line({10, 20}), &d), "polyline 9,91 22,81 pen=#010203 w=3\n");
    EXPECT_EQ(item.rise, Rgb(1, 2, 3));
    EXPECT_EQ(item.fall, Rgb(1, 2, 3));
    // DASH draws dotted; a line before its first valid bar covers only the bars after it.
    OutputLine dash = Line({10, 20, 30}, 9);
    dash.begin = 1;
    EXPECT_EQ(Draw(dash), "polyline 22,81 35,71 pen=" + line1 + " dot\n");
    EXPECT_EQ(item.firstBar, 1);
    // A number only the chart's own K-lines use, or a trading signal's 100 + n beyond the
    // kinds, draws as a line.
    EXPECT_EQ(Draw(Line({10, 20}, 107)), "polyline 9,91 22,81 pen=" + line1 + "\n");
    EXPECT_EQ(Draw(Line({10, 20}, 203)), "polyline 9,91 22,81 pen=" + line1 + "\n");
    item.stride = 8;  // arrays that do not fit the kind: nothing
    DisplayList list;
    DrawItem(item, ctx.draw, list);
    EXPECT_TRUE(list.empty());
}

TEST_F(RenderItems, DotsCrossesAndCircles) {
    const std::string c = C(IndicatorColor(1));
    EXPECT_EQ(Draw(Line({50}, 6)), "line 7,49 11,53 pen=" + c + "\nline 7,52 11,48 pen=" + c + "\n");
    EXPECT_EQ(Draw(Line({50}, 7)), "ellipse 7,49 12,54 pen=" + c + "\n");
    EXPECT_EQ(Draw(Line({50, 60}, 8)), "pixels 9,51 22,41 pen=" + c + "\n");  // width 0: pixels
    OutputLineDesc d;
    d.colourWidth = 2 << 1;
    EXPECT_EQ(Draw(Line({50}, 8), &d), "ellipse 7,49 12,54 pen=" + c + " fill=" + c + "\n");
}

TEST_F(RenderItems, NullLineCountsForTheRangeButDrawsNothing) {
    OutputLine line = Line({5, 250, -3}, 10);
    EXPECT_EQ(Draw(line), "");
    ValueRange r;
    ASSERT_TRUE(LineRange(line, 0, 6, r));
    EXPECT_EQ(r.max, 250);
    EXPECT_EQ(r.min, -3);
    EXPECT_FALSE(LineRange(Line({kNaN, kNaN}), 0, 6, r));
}

TEST_F(RenderItems, SticksToZero) {
    const std::string c = C(IndicatorColor(1));
    EXPECT_EQ(Draw(Line({30, 0}, 2)), "line 9,71 9,102 pen=" + c + "\npixels 22,101 pen=" + c + "\n");
    EXPECT_EQ(Draw(Line({30, 40}, 5)),
              "polyline 9,71 9,71 9,101 pen=" + c + "\npolyline 9,71 22,61 22,101 pen=" + c + "\n");
}

TEST_F(RenderItems, ColorStickUsesTheReferenceAndTenthsOfThePitch) {
    OutputLine line = Line({30, -20, 5}, 3);
    line.hasBase = 1;
    line.baseValue = 5;  // rising at or above the reference
    OutputLineDesc d;
    d.colourWidth = 4 << 1;  // h = RoundPixel(10 * 4 * 0.1) = 4
    ctx.emptyOver = false;
    const std::string rise = C(kColorRising), fall = C(kColorFalling);
    EXPECT_EQ(Draw(line, &d), "rect 5,71 14,102 pen=" + rise + " fill=" + rise + "\nrect 18,101 27,122 pen=" + fall +
                                  " fill=" + fall + "\nrect 31,96 40,102 pen=" + rise + " fill=" + rise + "\n");
    EXPECT_EQ(item.penWidth, 0);
}

TEST_F(RenderItems, VolStickFollowsTheKLineAndSkipsZero) {
    Series s;
    auto bar = [&](float open, float close) {
        KLineRecord b;
        b.open = open;
        b.close = close;
        b.high = std::max(open, close);
        b.low = std::min(open, close);
        s.push(b);
    };
    bar(10, 10);  // first visible, flat: rising
    bar(10, 9);   // falling
    bar(9, 9);    // flat at the previous close: rising
    bar(9, 9.5f); // rising
    bar(9, 9);    // flat below the previous close: falling
    bar(9, 9);    // volume 0: not drawn
    ctx.series = &s;
    ctx.emptyOver = true;
    Draw(Line({10, 10, 10, 10, 10, 0}, 4));
    ASSERT_EQ(item.barCount, 6);
    EXPECT_TRUE(item.flags[0] & kBarRising);
    EXPECT_FALSE(item.flags[1] & kBarRising);
    EXPECT_TRUE(item.flags[2] & kBarRising);
    EXPECT_TRUE(item.flags[3] & kBarRising);
    EXPECT_FALSE(item.flags[4] & kBarRising);
    EXPECT_TRUE(item.flags[5] & kBarSkip);
    DisplayList list;
    DrawItem(item, ctx.draw, list);
    ASSERT_EQ(list.size(), 5u);
    // Rising with EmptyOver: the rise pen over the background; falling filled.
    EXPECT_EQ(list.items()[0].pen, scheme.colors[kColorRising]);
    EXPECT_EQ(list.items()[0].fill, scheme.colors[kColorBackground]);
    EXPECT_EQ(list.items()[1].fill, scheme.colors[kColorFalling]);
    EXPECT_EQ(list.items()[0].box, (Rect{4, 91, 15, 102}));
    // Poles never rise: the fall colour, or the line's own.
    Draw(Line({10, 20}, 11));
    EXPECT_FALSE(item.flags[0] & kBarRising);
    OutputLineDesc d;
    d.colourWidth = 1;
    d.colour = Rgb(9, 9, 9);
    EXPECT_EQ(Draw(Line({10}, 12), &d), "rect 4,91 15,102 pen=#090909 fill=#090909\n");
}

TEST_F(RenderItems, IconsAtTrueBars) {
    OutputLine line = Line({0, 1, 1}, 100);
    line.points.Edit(1).value2 = 50;
    line.points.Edit(2).value2 = kNaN;  // no price: skipped
    line.iconNumber = 2;
    line.iconFill = 1;
    const std::string c = C(IndicatorColor(1));
    EXPECT_EQ(Draw(line), "polygon 22,51 18,57 26,57 22,51 pen=" + c + " fill=" + c + "\n");
    line.iconFill = 0;
    line.iconNumber = 1;
    EXPECT_EQ(Draw(line), "rect 19,48 26,55 pen=" + c + "\n");
    line.iconNumber = 9;  // no such icon
    EXPECT_EQ(Draw(line), "");
    ValueRange r;
    ASSERT_TRUE(LineRange(line, 0, 6, r));  // only the true bar's price counts
    EXPECT_EQ(r.max, 50);
    EXPECT_EQ(r.min, 50);
}

TEST_F(RenderItems, TextsAtPricesPixelsAndPerMille) {
    OutputLine line = Line({1}, 101);
    line.points.Edit(0).value2 = 40;
    line.text = "AB";
    const std::string c = C(IndicatorColor(1));
    EXPECT_EQ(Draw(line), "rect 8,60 11,63 noframe fill=" + c + "\ntext 13,54 41,68 left|top font=14 " +
                              c + " \"AB\"\n");
    OutputLine rel = Line({500, 500}, 101);
    rel.points.Edit(0).value2 = 500;
    rel.points.Edit(1).value2 = 500;
    rel.textPlacement = 2;
    rel.text = "X";
    // Written once, at the centre of the drawing rectangle (200 x 102).
    EXPECT_EQ(Draw(rel), "text 100,51 121,65 left|top font=14 " + c + " \"X\"\n");
    OutputLine abs = Line({10}, 101);
    abs.points.Edit(0).value2 = 20;
    abs.textPlacement = 1;
    abs.text = "Y";
    ctx.draw = {5, 7, 200, 102};
    EXPECT_EQ(Draw(abs), "text 15,27 36,41 left|top font=14 " + c + " \"Y\"\n");
}

TEST_F(RenderItems, PolylineDrawLineAndPartLine) {
    const std::string c = C(IndicatorColor(1));
    OutputLine poly = Line({1, 0, 1}, 102);
    poly.points.Edit(0).value2 = 10;
    poly.points.Edit(2).value2 = 30;
    EXPECT_EQ(Draw(poly), "polyline 9,91 35,71 pen=" + c + "\n");
    poly.points.Edit(2).value = 0;
    EXPECT_EQ(Draw(poly), "line 7,91 9,91 pen=" + c + "\n");

    // DRAWLINE: the end bar (2) records its start bar (0), the start and end prices.
    OutputLine dl = Line({0, 0, 1}, 103);
    dl.points.Edit(2).int1 = 0;
    dl.points.Edit(2).value2 = 10;
    dl.points.Edit(2).value3 = 30;
    EXPECT_EQ(Draw(dl), "line 9,91 35,71 pen=" + c + "\nrect 8,90 10,92 noframe fill=" + c +
                            "\nrect 34,70 36,72 noframe fill=" + c + "\n");
    dl.extension = 1;  // to the right edge (199) along the line: y = 91 - 20 * 190 / 26
    Draw(dl);
    DisplayList list;
    DrawItem(item, ctx.draw, list);
    EXPECT_EQ(list.pointsOf(list.items()[0])[1], (Point{199, RoundPixel(91 - 20.0f * 190 / 26)}));
    dl.points.Edit(2).int1 = 5;  // a start after its end is damaged: nothing
    EXPECT_EQ(Draw(dl), "");

    OutputLine part = Line({1, 1, 0, 0}, 104);
    for (int i = 0; i < 4; ++i) part.points.Edit(static_cast<size_t>(i)).value2 = static_cast<float>(10 * i);
    part.points.Edit(0).int1 = part.points.Edit(1).int1 = static_cast<int32_t>(Rgb(255, 0, 0));
    part.points.Edit(2).int1 = part.points.Edit(3).int1 = static_cast<int32_t>(Rgb(0, 0, 255));
    EXPECT_EQ(Draw(part), "polyline 9,101 22,91 pen=#ff0000\npolyline 22,91 35,81 48,71 pen=#0000ff\n");
}

TEST_F(RenderItems, StickLineWidthShiftAndHollow) {
    OutputLine s = Line({1, 1, 0}, 105);
    s.points.Edit(0).value2 = 10;
    s.points.Edit(0).value3 = 30;
    s.points.Edit(0).int1 = 10;  // one bar spacing: h = trunc(13 * 10 * 0.05) = 6
    s.points.Edit(1).value2 = 40;
    s.points.Edit(1).value3 = 20;
    s.points.Edit(1).int1 = static_cast<int32_t>(0x80000000u | 4);  // hollow, h = trunc(2.6) = 2
    s.points.Edit(1).int2 = 1000;  // shifted by trunc(13 * 1000 * 0.0005) = 6
    const std::string c = C(IndicatorColor(1)), bg = C(kColorBackground);
    EXPECT_EQ(Draw(s), "rect 3,71 16,92 pen=" + c + " fill=" + c + "\nrect 26,61 31,82 pen=" + c + " fill=" + bg + "\n");
}

TEST_F(RenderItems, FloatArcAtTheLastBar) {
    OutputLine a = Line({1, 1}, 106);
    a.arcX = 500;
    a.arcY = 500;
    a.arcRadius = 200;
    const std::string c = C(IndicatorColor(1));
    a.points.Edit(1).value2 = 25;
    EXPECT_EQ(Draw(a), "pie 80,31 120,71 pen=" + c + " fill=" + c + " from=90 span=90\n");
    a.points.Edit(1).value2 = 150;
    Draw(a);
    EXPECT_EQ(item.arcPrice, 100);  // a whole circle
    a.points.Edit(1).value2 = -5;
    EXPECT_EQ(Draw(a), "pie 80,31 120,71 pen=" + c + " fill=" + c + " from=90 span=0\n");
    a.points.Edit(1).value = 0;  // nothing at a false bar
    EXPECT_EQ(Draw(a), "");
}

TEST_F(RenderItems, TickCrossesRiseAgainstTheTickBefore) {
    Series s;
    for (float price : {30.0f, 20.0f, 20.0f, 50.0f, NAN, 40.0f}) s.push(KLineRecord{0, price, price, price, price, 1, 1, 0, 0});
    ctx.series = &s;
    const RenderItem k = BuildKLineItem(s, kKindTickCrosses, ctx);
    ASSERT_EQ(k.flags.size(), 6u);
    // 30 first: rising; 20 < 30 falling; 20 = 20 rising; 50 rising; NaN skipped; 40 < 50 falling.
    EXPECT_TRUE(k.flags[0] & kBarRising);
    EXPECT_FALSE(k.flags[1] & kBarRising);
    EXPECT_TRUE(k.flags[2] & kBarRising);
    EXPECT_TRUE(k.flags[3] & kBarRising);
    EXPECT_FALSE(k.drawable(4));
    EXPECT_FALSE(k.flags[5] & kBarRising);
    EXPECT_EQ(k.at(1)[0], h.CentrePixel(1));
    EXPECT_EQ(k.at(3)[1], map.Y(50));
    DisplayList list;
    DrawItem(k, ctx.draw, list);
    int rises = 0, falls = 0;
    for (const Primitive& p : list.items()) {
        rises += p.pen == scheme.colors[kColorRising];
        falls += p.pen == scheme.colors[kColorFalling];
    }
    // Five crosses of equal strokes, three rising and two falling.
    ASSERT_GT(falls, 0);
    EXPECT_EQ(rises * 2, falls * 3);
    EXPECT_EQ(static_cast<int>(list.items().size()), rises + falls);
}

TEST_F(RenderItems, CandlesAndUsBars) {
    Series s;
    KLineRecord up{0, 10, 40, 5, 30, 1, 1, 0, 0};
    KLineRecord down{0, 30, 35, 10, 20, 1, 1, 0, 0};
    s.push(up);
    s.push(down);
    ctx.series = &s;
    const std::string rise = C(kColorRising), fall = C(kColorFalling), bg = C(kColorBackground);
    ctx.emptyOver = false;
    RenderItem k = BuildKLineItem(s, kKindCandles, ctx);
    DisplayList list;
    DrawItem(k, ctx.draw, list);
    EXPECT_EQ(list.ToText(), "line 9,61 9,97 pen=" + rise + "\nrect 4,71 15,92 pen=" + rise + " fill=" + rise +
                                 "\nline 22,66 22,92 pen=" + fall + "\nrect 17,71 28,82 pen=" + fall + " fill=" + fall + "\n");
    ctx.emptyOver = true;  // rising hollow
    list.Clear();
    DrawItem(BuildKLineItem(s, kKindCandles, ctx), ctx.draw, list);
    EXPECT_EQ(list.items()[1].fill, scheme.colors[kColorBackground]);
    EXPECT_EQ(list.items()[3].fill, scheme.colors[kColorFalling]);
    // Overlays are hollow in their item colour whatever the option.
    ctx.emptyOver = false;
    list.Clear();
    DrawItem(BuildKLineItem(s, kKindCandles, ctx, true, Rgb(7, 7, 7)), ctx.draw, list);
    EXPECT_EQ(list.items()[3].pen, Rgb(7, 7, 7));
    EXPECT_EQ(list.items()[3].fill, scheme.colors[kColorBackground]);
    list.Clear();
    DrawItem(BuildKLineItem(s, kKindUsBars, ctx), ctx.draw, list);
    EXPECT_EQ(list.ToText(), "line 9,61 9,97 pen=" + rise + "\nline 4,91 9,91 pen=" + rise + "\nline 9,71 15,71 pen=" +
                                 rise + "\nline 22,66 22,92 pen=" + fall + "\nline 17,71 22,71 pen=" + fall +
                                 "\nline 22,81 28,81 pen=" + fall + "\n");
    // The price line through the closes in the US-bar colour; a bar three days ahead is not drawn.
    s.bars[1].time = 400000;
    ctx.serverTime = 100000;
    list.Clear();
    DrawItem(BuildKLineItem(s, kKindLine, ctx), ctx.draw, list);
    EXPECT_EQ(list.ToText(), "line 7,71 9,71 pen=" + C(kColorUsBar) + "\n");
}

}  // namespace
}  // namespace tessaro::chart
