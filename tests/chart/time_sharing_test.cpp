// The time-sharing picture: division counts, the symmetric range and its repairs, the average
// price per lot, the breaks of the price line, the time labels beyond the data, and a golden
// display list of one generated day.
//
// Golden files live in tests/chart/golden/; TESSARO_UPDATE_GOLDEN=1 rewrites them.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "chart/time_sharing.h"
#include "market/demo_market.h"
#include "market/periods.h"
#include "platform/text.h"

namespace tessaro::chart {
namespace {

constexpr StoreTime kDay = 46000u * 86400u;  // a store day

KLineRecord Minute(StoreTime day, int slot, float close, float volume, float amount) {
    KLineRecord m;
    m.time = day + BarSlotLabel(kPeriodTime, slot);
    m.open = m.high = m.low = m.close = close;
    m.volume = volume;
    m.amount = amount;
    return m;
}

std::vector<KLineRecord> FlatDay(StoreTime day, int count, float price) {
    std::vector<KLineRecord> out;
    for (int k = 0; k < count; ++k) out.push_back(Minute(day, k, price + 0.01f * static_cast<float>(k % 7), 10, 10 * 100 * price));
    return out;
}

TimeSharingPicture Picture(TimeSharingData data, int days, float width = 600, float height = 400, int cy = 14) {
    TimeSharingOptions o;
    o.scheme = BuiltInSchemes()[0];
    o.scheme.colors[IndicatorColor(2)] = Rgb(1, 2, 3);  // apart from the price line's colour
    o.metrics.cy = cy;
    TimeSharingPicture p(o);
    p.SetDays(days);
    p.SetData(std::move(data));
    p.Layout({0, 0, width, height});
    p.Build();
    return p;
}

TEST(TimeSharingScale, DivisionCounts) {
    // 200-pixel main pane, 12-pixel font: halves of 99 pixels, 99 / 18 = 5.5 -> 5 each.
    EXPECT_EQ(TimeSharingDivisions(99, 12), 5);
    EXPECT_EQ(TimeSharingDivisions(17.9f, 12), 1);   // below 1.5 cy
    EXPECT_EQ(TimeSharingDivisions(18, 12), 1);
    EXPECT_EQ(TimeSharingDivisions(126, 12), 7);     // 10.5 cy: still rounded
    EXPECT_EQ(TimeSharingDivisions(117, 12), 6);     // 6.5 rounds down
    EXPECT_EQ(TimeSharingDivisions(500, 12), 7);
    EXPECT_EQ(TimeSharingDivisions(NAN, 12), 1);
    EXPECT_EQ(TimeSharingDivisions(-5, 12), 1);

    // A picture whose main drawing rectangle is 200 pixels high: 10 divisions, 11 boundaries,
    // the middle one the previous close.
    TimeSharingData d;
    d.previousClose = 10;
    d.minutes = FlatDay(kDay, 50, 10);
    TimeSharingOptions o;
    o.metrics.cy = 12;
    TimeSharingPicture p(o);
    p.SetData(d);
    p.Layout({0, 0, 600, 400});
    const float drawH = p.mainRects().draw.height();
    // Grow the picture until the main drawing rectangle is 200 pixels high.
    const float extra = (200 - drawH) * 4 / 3;
    p.Layout({0, 0, 600, 400 + extra});
    ASSERT_NEAR(p.mainRects().draw.height(), 200, 0.01);
    p.Build();
    ASSERT_EQ(p.mainLevels().size(), 11u);
    EXPECT_FLOAT_EQ(p.mainLevels()[5], 10);
}

TEST(TimeSharingScale, PercentLabels) {
    EXPECT_EQ(PercentLabel(10.008f, 10), "0.00%");   // 0.08 % shows as zero
    EXPECT_EQ(PercentLabel(9.992f, 10), "0.00%");
    EXPECT_EQ(PercentLabel(10.2f, 10), "2.00%");
    EXPECT_EQ(PercentLabel(9.85f, 10), "-1.50%");
    EXPECT_EQ(PercentLabel(10, 0), "0.00%");
}

TEST(TimeSharingScale, RangeIgnoresBrokenMinutes) {
    std::vector<KLineRecord> m = FlatDay(kDay, 20, 10);  // closes 10 .. 10.06
    const ValueRange clean = TimeSharingRange(m, {}, 0, 10);
    EXPECT_FLOAT_EQ(clean.max, 10.1f);  // +-1 % at least
    EXPECT_FLOAT_EQ(clean.min, 9.9f);
    m[3].time = 0;
    m[3].close = 50;
    m[5].volume = 0;
    m[5].close = 0;
    m[7].close = NAN;
    m[8].close = INFINITY;
    const ValueRange r = TimeSharingRange(m, AveragePrices(m, 100), 0, 10);
    EXPECT_FLOAT_EQ(r.max, clean.max);
    EXPECT_FLOAT_EQ(r.min, clean.min);
    // Wider moves widen both sides alike.
    m[9].close = 10.5f;
    const ValueRange w = TimeSharingRange(m, {}, 0, 10);
    EXPECT_FLOAT_EQ(w.max, 10.5f);
    EXPECT_FLOAT_EQ(w.min, 9.5f);

    // No minutes at all: the default +-1 % around the previous close, and the picture draws.
    TimeSharingData d;
    d.previousClose = 20;
    d.today = kDay;
    TimeSharingPicture p = Picture(d, 1);
    EXPECT_FLOAT_EQ(p.mainMap().range.max, 20.2f);
    EXPECT_FLOAT_EQ(p.mainMap().range.min, 19.8f);
    EXPECT_TRUE(p.priceRuns().empty());
    ASSERT_FALSE(p.labels().empty());  // slots beyond the data still get their times
    // A missing previous close falls back on the data.
    const ValueRange none = TimeSharingRange({}, {}, 0, NAN);
    EXPECT_TRUE(std::isfinite(none.max) && std::isfinite(none.min) && none.max > none.min);
}

TEST(TimeSharingAverage, LotsByClass) {
    EXPECT_EQ(AveragePriceLot(kClassAShare), 100);
    EXPECT_EQ(AveragePriceLot(kClassBond), 10);
    EXPECT_EQ(AveragePriceLot(kClassIndex), 0);
    // A bond: 5 lots of 10 at 101 (5050 yuan), then 5 more at 103 (5150): average 102.
    std::vector<KLineRecord> m = {Minute(kDay, 0, 100.5f, 0, 0), Minute(kDay, 1, 101, 5, 5050),
                                  Minute(kDay, 2, 103, 5, 5150), Minute(kDay + 86400, 0, 99, 2, 1980)};
    const std::vector<float> a = AveragePrices(m, 10);
    ASSERT_EQ(a.size(), 4u);
    EXPECT_FLOAT_EQ(a[0], 100.5f);  // no volume yet: its close
    EXPECT_FLOAT_EQ(a[1], 101);
    EXPECT_FLOAT_EQ(a[2], 102);
    EXPECT_FLOAT_EQ(a[3], 99);      // the next day starts afresh
    EXPECT_TRUE(AveragePrices(m, 0).empty());

    // An index draws no average line.
    TimeSharingData d;
    d.security.securityClass = kClassIndex;
    d.previousClose = 10;
    d.minutes = FlatDay(kDay, 60, 10);
    const TimeSharingPicture p = Picture(d, 1);
    const ColorRef avg = Rgb(1, 2, 3);
    for (const Primitive& item : p.mainList().items())
        EXPECT_FALSE(item.kind == PrimitiveKind::kPolyline && item.pen == avg);
}

TEST(TimeSharingBreadth, FigureAndBars) {
    EXPECT_FLOAT_EQ(BreadthG(600, 100, 300), 0.3f);
    EXPECT_FLOAT_EQ(BreadthG(0, 0, 0), 0);      // no division by zero
    EXPECT_FLOAT_EQ(BreadthG(5, -5, 0), 0);     // a corrupt table summing to 0
    EXPECT_FLOAT_EQ(BreadthG(-10, 0, 0), 0);
    EXPECT_FLOAT_EQ(BreadthG(0, 0, 400), -1);

    std::vector<MinuteExtra> extras(kMinuteSlots);
    auto set = [&](int slot, int16_t r, int16_t u, int16_t f) {
        extras[static_cast<size_t>(slot)].figures[0] = r;
        extras[static_cast<size_t>(slot)].figures[1] = u;
        extras[static_cast<size_t>(slot)].figures[2] = f;
    };
    set(1, 600, 100, 300);  // g = 0.3
    set(2, 100, 100, 800);  // g = -0.7
    std::vector<KLineRecord> m = {Minute(kDay - 86400, 1, 10, 1, 1), Minute(kDay, 1, 10, 1, 1), Minute(kDay, 2, 10, 1, 1),
                                  Minute(kDay, 3, 10, 1, 1)};
    const std::vector<float> bars = BreadthBars(m, extras, StoreDay(kDay));
    EXPECT_TRUE(std::isnan(bars[0]));          // an earlier day gets no bar
    EXPECT_FLOAT_EQ(bars[1], 0.3f);            // the first minute: its own g
    EXPECT_FLOAT_EQ(bars[2], (0.3f - 0.7f) / 2);
    EXPECT_FLOAT_EQ(bars[3], (-0.7f + 0) / 2);  // slot 3 sums to 0: g = 0

    // Drawn for an index: a bar per minute of today, up for a positive figure.
    TimeSharingData d;
    d.security.securityClass = kClassIndex;
    d.previousClose = 10;
    d.minutes = {m[1], m[2], m[3]};
    d.breadth = extras;
    const TimeSharingPicture p = Picture(d, 1);
    const ColorRef up = BuiltInSchemes()[0].colors[kColorListUp], down = BuiltInSchemes()[0].colors[kColorListDown];
    int ups = 0, downs = 0;
    const int y0 = p.mainMap().Y(10);
    const int third = RoundPixel(0.3f * p.mainRects().draw.height() / 3);
    for (const Primitive& item : p.mainList().items()) {
        if (item.kind != PrimitiveKind::kLine || item.pen == BuiltInSchemes()[0].colors[kColorAxis]) continue;
        const Point* pt = p.mainList().pointsOf(item);
        if (item.pen == up) {
            ++ups;
            EXPECT_EQ(pt[0].y, y0);
            EXPECT_EQ(pt[1].y, y0 - third);
        }
        if (item.pen == down) ++downs;
    }
    EXPECT_EQ(ups, 1);
    EXPECT_EQ(downs, 2);
}

TEST(TimeSharingBreadth, TurnoverLineHasItsOwnScale) {
    std::vector<MinuteExtra> extras(kMinuteSlots);
    extras[1].value = 1e8f;
    extras[2].value = 0;  // empty: the value before carries on
    extras[3].value = 2e8f;
    const std::vector<KLineRecord> m = {Minute(kDay - 86400, 1, 3000, 1, 1), Minute(kDay, 0, 3000, 1, 1),
                                        Minute(kDay, 1, 3010, 1, 1), Minute(kDay, 2, 3020, 1, 1),
                                        Minute(kDay, 3, 3030, 1, 1)};
    const std::vector<float> line = TurnoverLine(m, extras, 0, m.size());
    ASSERT_EQ(line.size(), 5u);
    EXPECT_TRUE(std::isnan(line[0]));  // an earlier day
    EXPECT_TRUE(std::isnan(line[1]));  // nothing to carry yet
    EXPECT_FLOAT_EQ(line[2], 1e8f);
    EXPECT_FLOAT_EQ(line[3], 1e8f);
    EXPECT_FLOAT_EQ(line[4], 2e8f);
    EXPECT_TRUE(TurnoverLine(m, extras, 3, 5).size() == 5u);  // past the end: all NaN, no read beyond
    EXPECT_TRUE(std::isnan(TurnoverLine(m, extras, 3, 5)[0]));

    // Drawn in the price pane on its own scale: the largest at the top, half of it halfway; the
    // price range stays around the prices.
    TimeSharingData d;
    d.security.securityClass = kClassIndex;
    d.previousClose = 3000;
    d.minutes = {m[1], m[2], m[3], m[4]};
    d.breadth = extras;
    const TimeSharingPicture p = Picture(d, 1);
    EXPECT_LT(p.mainMap().range.max, 3100);
    const PaneRects& r = p.mainRects();
    std::vector<Point> points;
    for (const Primitive& item : p.mainList().items())
        if (item.kind == PrimitiveKind::kPolyline && item.pen == Rgb(1, 2, 3))
            points.assign(p.mainList().pointsOf(item), p.mainList().pointsOf(item) + item.count);
    ASSERT_EQ(points.size(), 3u);
    const float s = ((r.draw.bottom - 1) - (r.draw.top + 1)) / 2e8f;
    EXPECT_EQ(points[2].y, RoundPixel(r.draw.top + 1));
    EXPECT_EQ(points[0].y, RoundPixel(r.draw.bottom - 1 - 1e8f * s));
    EXPECT_EQ(points[1].y, points[0].y);
    // The title tells the last minute's turnover in units of 10 000 yuan.
    bool title = false;
    for (const Primitive& item : p.mainList().items())
        title = title || (item.kind == PrimitiveKind::kText && p.mainList().text(item) == "成交额(万):20000");
    EXPECT_TRUE(title);
}

TEST(TimeSharingBreadth, AdvanceDeclineLines) {
    std::vector<MinuteExtra> extras(kMinuteSlots);
    auto set = [&](int slot, int16_t r, int16_t f) {
        extras[static_cast<size_t>(slot)].figures[0] = r;
        extras[static_cast<size_t>(slot)].figures[1] = 77;  // unchanged counts take no part
        extras[static_cast<size_t>(slot)].figures[2] = f;
    };
    set(0, 600, 300);
    set(1, 500, 500);
    set(2, 200, 700);
    std::vector<KLineRecord> m = {Minute(kDay - 86400, 0, 10, 1, 1), Minute(kDay, 0, 10, 1, 1), Minute(kDay, 1, 10, 1, 1),
                                  Minute(kDay, 2, 10, 1, 1)};
    // lo 200, hi 700: mid 450; largest |r - f| 500: s = 0.8 x 450 / 500 = 0.72.
    AdvanceDeclineLines l = AdvanceDeclineMinutes(m, extras, StoreDay(kDay));
    EXPECT_TRUE(std::isnan(l.rising[0]) && std::isnan(l.difference[0]));  // an earlier day
    EXPECT_FLOAT_EQ(l.mid, 450);
    EXPECT_FLOAT_EQ(l.rising[1], 600);
    EXPECT_FLOAT_EQ(l.falling[3], 700);
    EXPECT_FLOAT_EQ(l.difference[1], 0.72f * 300 + 450);  // 666
    EXPECT_FLOAT_EQ(l.difference[2], 450);
    EXPECT_FLOAT_EQ(l.difference[3], 0.72f * -500 + 450);  // 90

    // Equal counts everywhere: m = 0, s = 1, no division by zero.
    set(0, 100, 100);
    set(1, 100, 100);
    set(2, 100, 100);
    l = AdvanceDeclineMinutes(m, extras, StoreDay(kDay));
    EXPECT_FLOAT_EQ(l.difference[2], 100);
    // A breadth table too short for the minutes' slots leaves them out.
    l = AdvanceDeclineMinutes(m, std::vector<MinuteExtra>(1), StoreDay(kDay));
    EXPECT_FLOAT_EQ(l.rising[1], 0);
    EXPECT_TRUE(std::isnan(l.rising[2]));

    // The pane is there for an index with breadth figures only, and the time strip follows it.
    TimeSharingData d;
    d.security.securityClass = kClassIndex;
    d.previousClose = 10;
    d.minutes = {m[1], m[2], m[3]};
    TimeSharingPicture plain = Picture(d, 1);
    EXPECT_LE(plain.zdlRects().outer.height(), 0);
    EXPECT_TRUE(plain.zdlList().items().empty());
    set(0, 600, 300);
    set(1, 500, 500);
    set(2, 200, 700);
    d.breadth = extras;
    const TimeSharingPicture p = Picture(d, 1);
    EXPECT_GT(p.zdlRects().outer.height(), 0);
    EXPECT_FLOAT_EQ(p.zdlRects().outer.top, p.volumeRects().outer.bottom);
    EXPECT_LT(p.mainRects().outer.bottom, plain.mainRects().outer.bottom);  // the panes share the height
    EXPECT_NE(p.ToText().find("# ZDL"), std::string::npos);
    // Sticks from the middle: up for minute 0 (666), none for minute 1, down for minute 2 (90).
    const ColorRef up = BuiltInSchemes()[0].colors[kColorListUp], down = BuiltInSchemes()[0].colors[kColorListDown];
    const int y0 = p.zdlMap().Y(450);
    int ups = 0, downs = 0, lines = 0;
    for (const Primitive& item : p.zdlList().items()) {
        if (item.kind == PrimitiveKind::kPolyline && (item.pen == up || item.pen == down)) ++lines;
        if (item.kind != PrimitiveKind::kLine) continue;
        const Point* pt = p.zdlList().pointsOf(item);
        if (item.pen == up && pt[0].y == y0 && pt[1].y == p.zdlMap().Y(666)) ++ups;
        if (item.pen == down && pt[0].y == y0 && pt[1].y == p.zdlMap().Y(90)) ++downs;
    }
    EXPECT_EQ(ups, 1);
    EXPECT_EQ(downs, 1);
    EXPECT_EQ(lines, 2);  // rising and falling counts
    EXPECT_LE(p.zdlMap().range.min, 90);
    EXPECT_GE(p.zdlMap().range.max, 700);
}

TEST(TimeSharingBreadth, LowZdlPaneLabelsNeverOverlap) {
    TimeSharingData d;
    d.security.securityClass = kClassIndex;
    d.previousClose = 10;
    d.breadth.resize(kMinuteSlots);
    for (int k = 0; k < 30; ++k) {
        d.minutes.push_back(Minute(kDay, k, 10, 1, 1));
        d.breadth[static_cast<size_t>(k)].figures[0] = static_cast<int16_t>(100 + 20 * k);
        d.breadth[static_cast<size_t>(k)].figures[2] = static_cast<int16_t>(700 - 20 * k);
    }
    for (const float height : {150.0f, 500.0f}) {
        const TimeSharingPicture p = Picture(d, 1, 600, height);
        std::vector<Rect> labels;
        const int axis = RoundPixel(p.zdlRects().rightAxis.left);
        for (const Primitive& q : p.zdlList().items())
            if (q.kind == PrimitiveKind::kText && q.box.left >= axis) labels.push_back(q.box);
        ASSERT_FALSE(labels.empty()) << height;
        for (size_t i = 1; i < labels.size(); ++i) EXPECT_LE(labels[i].bottom, labels[i - 1].top) << height;
    }
}

TEST(TimeSharingPictureTest, ThreeDaysBreakTwice) {
    TimeSharingData d;
    d.previousClose = 10;
    for (int day = 0; day < 4; ++day)
        for (const KLineRecord& m : FlatDay(kDay + static_cast<StoreTime>(day) * 86400, kSlotsPerDay, 10)) d.minutes.push_back(m);
    const TimeSharingPicture p = Picture(d, 3);
    EXPECT_EQ(p.firstMinute(), static_cast<size_t>(kSlotsPerDay));  // the oldest day falls out
    // Each day's first minute is not drawn: three runs, the later two one slot short.
    ASSERT_EQ(p.priceRuns().size(), 3u);
    EXPECT_EQ(p.priceRuns()[0].size(), static_cast<size_t>(kSlotsPerDay));
    EXPECT_EQ(p.priceRuns()[1].size(), static_cast<size_t>(kSlotsPerDay - 1));
    EXPECT_LT(p.priceRuns()[0].back().x, p.priceRuns()[1].front().x);
    ASSERT_EQ(p.labels().size(), 3u);
    const CivilDate first = CivilFromDay(static_cast<int32_t>(StoreDay(kDay) + 1));
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d/%02d/%02d", first.year, first.month, first.day);
    EXPECT_EQ(p.labels()[0].text, buf);
    const CivilDate second = CivilFromDay(static_cast<int32_t>(StoreDay(kDay) + 2));
    std::snprintf(buf, sizeof buf, "%02d/%02d", second.month, second.day);
    EXPECT_EQ(p.labels()[1].text, buf);
    EXPECT_EQ(p.labels()[2].text.size(), 5u);

    // A minute without a time or with a NaN price breaks the line, and nothing reaches outside
    // the pane.
    TimeSharingData one;
    one.previousClose = 10;
    one.minutes = FlatDay(kDay, 100, 10);
    one.minutes[40].time = 0;
    one.minutes[70].close = NAN;
    const TimeSharingPicture q = Picture(one, 1);
    EXPECT_EQ(q.priceRuns().size(), 3u);
    const RectF& draw = q.mainRects().draw;
    for (const auto& run : q.priceRuns())
        for (const Point& pt : run) EXPECT_TRUE(pt.y >= draw.top && pt.y < draw.bottom) << pt.y;
}

TEST(TimeSharingPictureTest, LabelsBeyondTheData) {
    TimeSharingData d;
    d.previousClose = 10;
    d.minutes = FlatDay(kDay, 30, 10);  // 09:30 .. 09:59
    const TimeSharingPicture p = Picture(d, 1);
    std::vector<std::string> texts;
    for (const TimeLabel& t : p.labels()) texts.push_back(t.text);
    // The date label, then every half hour alternately a text and an empty tick, to 15:00.
    ASSERT_EQ(texts.size(), 9u);
    EXPECT_EQ(texts[0].substr(10), "  9:30");
    EXPECT_EQ(texts[1], "");
    EXPECT_EQ(texts[2], "10:30");
    EXPECT_EQ(texts[4], "11:30");
    EXPECT_EQ(texts[5], "");
    EXPECT_EQ(texts[6], "14:00");
    EXPECT_EQ(texts[8], "15:00");
    EXPECT_EQ(p.labels().back().x, static_cast<int>(RoundPixel(p.mainRects().draw.right)) - 1);
    // Beyond the close of the last day the slots stay unlabelled: no label for a next day.
    TimeSharingData two;
    two.previousClose = 10;
    two.minutes = FlatDay(kDay, kSlotsPerDay, 10);
    for (const KLineRecord& m : FlatDay(kDay + 86400, 30, 10)) two.minutes.push_back(m);
    const TimeSharingPicture t = Picture(two, 3);
    ASSERT_EQ(t.labels().size(), 2u);
    EXPECT_EQ(t.labels()[1].x, t.scale().CentrePixel(kSlotsPerDay));
    // Up and Down keep the count within 1 .. 10.
    TimeSharingPicture q = p;
    EXPECT_FALSE(q.StepDays(-1));
    for (int i = 0; i < 12; ++i) q.StepDays(1);
    EXPECT_EQ(q.days(), 10);
}

TEST(TimeSharingPictureTest, ANarrowTitleDropsWholePiecesNeverCutsThem) {
    TimeSharingData d;
    d.security.setName("ABCDEFGH");
    d.previousClose = 10;
    d.minutes = FlatDay(kDay, 30, 10);
    for (float width : {150.0f, 200.0f, 260.0f, 600.0f}) {
        const TimeSharingPicture p = Picture(d, 1, width);
        const Rect title = Pixels(p.mainRects().title);
        int pieces = 0;
        for (const Primitive& item : p.mainList().items()) {
            if (item.kind != PrimitiveKind::kText || item.box.top < title.top || item.box.bottom > title.bottom) continue;
            EXPECT_LE(item.box.right, title.right) << width << ": " << p.mainList().text(item);
            ++pieces;
        }
        if (width == 600.0f) {
            EXPECT_EQ(pieces, 3);  // name, 趋势线, 均线
        }
    }
}

std::string SourceDir() {
    const char* root = std::getenv("TESSARO_SOURCE_DIR");
    return root ? root : TESSARO_SOURCE_DIR;
}

TEST(TimeSharingPictureTest, GoldenOneDay) {
    KLineRecord bar;
    bar.open = 10.2f;
    bar.high = 10.6f;
    bar.low = 9.9f;
    bar.close = 10.4f;
    bar.volume = 120000;
    TimeSharingData d;
    ParseSecurityText("SH600000", d.security.id);
    d.security.securityClass = kClassAShare;
    CopyToField(d.security.name, Utf8ToGbk("浦发银行"));
    d.previousClose = 10.1f;
    d.minutes = DemoMinutes(7, kDay, bar, 2, 100);
    ASSERT_EQ(d.minutes.size(), 240u);
    const TimeSharingPicture p = Picture(d, 1, 480, 300);
    const std::string actual = p.ToText();
    const std::string path = SourceDir() + "/tests/chart/golden/time_sharing_one_day.txt";
    if (std::getenv("TESSARO_UPDATE_GOLDEN")) {
        std::ofstream(path) << actual;
        GTEST_SKIP() << "golden file rewritten";
    }
    std::ifstream in(path);
    std::stringstream expected;
    expected << in.rdbuf();
    if (expected.str() != actual) {
        std::ofstream("time_sharing_one_day.actual.txt") << actual;
        FAIL() << "the display list differs from its golden file; the actual list is in the build directory";
    }
}

}  // namespace
}  // namespace tessaro::chart
