// The information panel: the tabs by kind of security, the quote table's levels and colours,
// rows dropped when the height runs out, the index table's breadth and bid ratio.
#include <gtest/gtest.h>

#include <cmath>

#include "chart/chart_view.h"
#include "chart/info_panel.h"
#include "platform/text.h"

namespace tessaro::chart {
namespace {

std::vector<std::string> Texts(const DisplayList& list) {
    std::vector<std::string> out;
    for (const Primitive& p : list.items())
        if (p.kind == PrimitiveKind::kText) out.push_back(list.text(p));
    return out;
}

const Primitive* FindText(const DisplayList& list, const std::string& text) {
    for (const Primitive& p : list.items())
        if (p.kind == PrimitiveKind::kText && list.text(p) == text) return &p;
    return nullptr;
}

struct PanelFixture : ::testing::Test {
    void SetUp() override {
        scheme = BuiltInSchemes()[0];
        data = std::make_unique<InfoPanelData>();
        ParseSecurityText("SH600000", data->security.id);
        data->security.securityClass = kClassAShare;
        data->security.setName(Utf8ToGbk("浦发银行"));
        data->hasRecord = true;
        data->record.entry = data->security;
        QuoteSnapshot& q = data->record.quote;
        q.prevClose = 10;
        q.bar.time = 46000u * 86400u + 36000;
        q.bar.open = 10.1f;
        q.bar.high = 10.5f;
        q.bar.low = 9.8f;
        q.bar.close = 10.3f;
        q.bar.volume = 5000;
        q.bar.amount = 5000 * 100 * 10.2f;
        for (int i = 0; i < 5; ++i) {
            q.book.bidPrice[i] = 10.29f - 0.01f * static_cast<float>(i);
            q.book.askPrice[i] = 10.30f + 0.01f * static_cast<float>(i);
            q.book.bidVolume[i] = 100;
            q.book.askVolume[i] = 300;
        }
    }
    ColorScheme scheme;
    ChartMetrics metrics;
    std::unique_ptr<InfoPanelData> data;
    InfoPanel panel;
    DisplayList list;
};

TEST_F(PanelFixture, QuoteTableLevelsAndColours) {
    panel.Draw({0, 0, 275, 700}, metrics.timeStripHeight(), *data, scheme, metrics, {}, list);
    const std::vector<std::string> t = Texts(list);
    ASSERT_FALSE(t.empty());
    EXPECT_EQ(t[0], "浦发银行");
    EXPECT_EQ(t[1], "600000");
    // Ask levels 5 down to 1, then bid 1 to 5.
    EXPECT_EQ(t[2], "卖5");
    const Primitive* ask1 = FindText(list, "卖1");
    const Primitive* bid1 = FindText(list, "买1");
    ASSERT_TRUE(ask1 && bid1);
    EXPECT_LT(ask1->box.top, bid1->box.top);
    // A price above the previous close in the rising colour, a volume in the second line colour.
    const Primitive* price = FindText(list, "10.34");  // ask 5
    ASSERT_NE(price, nullptr);
    EXPECT_EQ(price->pen, scheme.colors[kColorListUp]);
    const Primitive* volume = FindText(list, "300");
    ASSERT_NE(volume, nullptr);
    EXPECT_EQ(volume->pen, scheme.colors[IndicatorColor(2)]);
    EXPECT_EQ(panel.rowsDrawn(), 10 + 6 + 1 + 1);
    // Five tabs; the current one in the rising colour; hit-testing finds them.
    ASSERT_EQ(panel.tabRects().size(), 5u);
    EXPECT_EQ(FindText(list, "细")->pen, scheme.colors[kColorListUp]);
    EXPECT_EQ(FindText(list, "财")->pen, scheme.colors[kColorChartText]);
    const Rect& r = panel.tabRects()[2];
    EXPECT_EQ(panel.TabAt({r.left + 1, r.top + 1}), 2);
    EXPECT_EQ(panel.TabAt({r.right + 200, r.top + 1}), -1);
}

TEST_F(PanelFixture, RowsThatDoNotFitAreDropped) {
    // Header (cy + 4 + 1 line) plus three rows of 18 pixels above a 19-pixel strip.
    const int strip = metrics.timeStripHeight();
    panel.Draw({0, 0, 275, 1 + 18 + 1 + 3 * 18 + 5 + strip}, strip, *data, scheme, metrics, {}, list);
    EXPECT_EQ(panel.rowsDrawn(), 3);
    EXPECT_EQ(FindText(list, "卖2"), nullptr);
    // Nothing at all when there is no room, and no crash on an empty box.
    panel.Draw({0, 0, 275, 10}, strip, *data, scheme, metrics, {}, list);
    EXPECT_EQ(panel.rowsDrawn(), 0);
    DisplayList none;
    panel.Draw({0, 0, 0, 0}, strip, *data, scheme, metrics, {}, none);
    EXPECT_TRUE(none.empty());
}

TEST_F(PanelFixture, IndexTableBreadthAndBidRatio) {
    data->security.securityClass = kClassIndex;
    data->record.entry.securityClass = kClassIndex;
    data->rising = 600;
    data->unchanged = 100;
    data->falling = 300;
    panel.Draw({0, 0, 275, 700}, metrics.timeStripHeight(), *data, scheme, metrics, {}, list);
    EXPECT_NE(FindText(list, "昨日收盘"), nullptr);
    EXPECT_NE(FindText(list, "上交所"), nullptr);
    const Primitive* up = FindText(list, "600↑");
    const Primitive* down = FindText(list, "300↓");
    const Primitive* flat = FindText(list, "100=");
    ASSERT_TRUE(up && down && flat);
    EXPECT_LT(up->box.left, down->box.left);  // rising, falling, unchanged from left to right
    EXPECT_LT(down->box.left, flat->box.left);
    EXPECT_EQ(up->pen, scheme.colors[kColorListUp]);
    EXPECT_EQ(panel.tabRects().size(), 1u);  // an index has only "细"
    EXPECT_EQ(FindText(list, "卖1"), nullptr);

    EXPECT_EQ(BidRatioText(300, 100), "50.00%");
    EXPECT_EQ(BidRatioText(100, 300), "-50.00%");
    EXPECT_EQ(BidRatioText(0, 0), "0.00%");
    EXPECT_EQ(BidRatioText(NAN, 5), "0.00%");
    EXPECT_EQ(BidRatioText(-5, 5), "0.00%");
}

}  // namespace
}  // namespace tessaro::chart

namespace tessaro::chart {
namespace {

// A source holding one security's minutes and market record.
class FakeSource : public ChartSource {
public:
    bool Load(const CodeEntry&, Period, int, Series& out) override {
        out = minutes;
        return true;
    }
    std::unique_ptr<EvalResult> Evaluate(const FormulaRecord&, const CodeEntry&, const Series&, Period, int,
                                         EvalStatus&) override {
        return nullptr;
    }
    std::optional<FormulaRecord> Formula(uint32_t, std::string_view) override { return std::nullopt; }
    StoreTime MarketTime() override { return 46000u * 86400u; }
    int Decimals(const CodeEntry&) override { return 2; }
    bool LoadMinuteDays(const CodeEntry& s, int days, Series& out) override {
        askedDays = days;
        return Load(s, kPeriodTime, 1, out);
    }
    bool QuoteRecord(const CodeEntry&, StockRecord& out) override {
        out = StockRecord{};
        out.quote.prevClose = 10;
        return true;
    }
    Series minutes;
    int askedDays = 0;
};

TEST(ChartViewTimeSharing, PanelDaysAndModes) {
    FakeSource source;
    KLineRecord m;
    m.time = 46000u * 86400u + 34260;
    m.close = 10.2f;
    m.volume = 10;
    m.amount = 10200;
    source.minutes.push(m);
    source.minutes.quote.prevClose = 10;
    ChartOptions o;
    o.infoPanel = true;
    ChartView view(source, o);
    view.Resize(800, 400);
    CodeEntry security;
    ParseSecurityText("SH600000", security.id);
    security.securityClass = kClassAShare;
    view.SetPeriod(0, kPeriodTime);
    view.SetSecurity(0, security);
    const Region all = view.Update(0);
    EXPECT_FALSE(all.empty());
    int lists = 0;
    view.ForEachList([&](const DisplayList&) { ++lists; });
    EXPECT_EQ(lists, 4);  // price pane, volume pane, time axis, panel
    const TimeSharingPicture* t = view.picture(0).timeSharing.get();
    ASSERT_NE(t, nullptr);
    EXPECT_FLOAT_EQ(t->mainRects().outer.right, 800 - kInfoPanelDefaultWidth);
    EXPECT_FLOAT_EQ(t->mainMap().range.max, 10.2f);  // symmetric around the previous close
    EXPECT_FLOAT_EQ(t->mainMap().range.min, 9.8f);

    // Down at one day and Up at ten change nothing; the days reach the source.
    EXPECT_FALSE(view.StepTimeDays(-1));
    for (int i = 0; i < 12; ++i) view.StepTimeDays(1);
    view.Update(0);
    EXPECT_EQ(source.askedDays, 10);
    EXPECT_EQ(view.picture(0).timeSharing->slotCount(), 2410);

    // "-" from the first mode wraps to 板; the panel redraws only its own part.
    EXPECT_TRUE(view.StepPanelMode(-1));
    EXPECT_EQ(view.picture(0).panelMode, 4);
    const Region r = view.Update(4);
    ASSERT_FALSE(r.empty());
    EXPECT_GE(r.bounds().left, 800 - kInfoPanelDefaultWidth);
    // An index has only mode 0.
    security.securityClass = kClassIndex;
    view.SetSecurity(0, security);
    EXPECT_TRUE(view.StepPanelMode(1));
    EXPECT_EQ(view.picture(0).panelMode, 0);
    EXPECT_FALSE(view.StepPanelMode(1));
}

}  // namespace
}  // namespace tessaro::chart

namespace tessaro::chart {
namespace {

TEST_F(PanelFixture, TickListShowsTheNewestThatFit) {
    for (int i = 0; i < 40; ++i) {
        KLineRecord t;
        t.time = 46000u * 86400u + 34200 + 60 * static_cast<uint32_t>(i);
        t.close = i % 2 ? 10.2f : 9.9f;
        t.volume = static_cast<float>(100 + i);
        data->ticks.push_back(t);
    }
    const int strip = metrics.timeStripHeight();
    // Room for the header, the 18 quote rows with their separators, then 5 tick rows.
    const int height = 1 + 18 + 1 + 18 * 18 + 6 + 5 * 18 + strip;
    panel.Draw({0, 0, 275, height}, strip, *data, scheme, metrics, {}, list);
    // The newest trade (volume 139) is the last row, the fifth newest (135) the first.
    const Primitive* newest = FindText(list, "139");
    const Primitive* fifth = FindText(list, "135");
    ASSERT_TRUE(newest && fifth);
    EXPECT_LT(fifth->box.top, newest->box.top);
    EXPECT_LE(newest->box.bottom, height - strip);
    EXPECT_EQ(FindText(list, "134"), nullptr);
    int rows = 0;
    for (const std::string& t : Texts(list))
        if (t.size() == 5 && t[2] == ':') ++rows;
    EXPECT_EQ(rows, 5);
    const Primitive* up = FindText(list, "10.20");
    const Primitive* down = FindText(list, "9.90");
    ASSERT_TRUE(up && down);
    EXPECT_EQ(up->pen, scheme.colors[kColorListUp]);
    EXPECT_EQ(down->pen, scheme.colors[kColorListDown]);
    // Loaded ticks carry the day's running total.
    std::vector<KLineRecord> ticks(4);
    ticks[0].volume = 100;
    ticks[1].volume = 130;
    ticks[2].volume = 120;  // backwards
    ticks[3].volume = 150;
    TradeVolumes(ticks);
    EXPECT_FLOAT_EQ(ticks[0].volume, 100);
    EXPECT_FLOAT_EQ(ticks[1].volume, 30);
    EXPECT_FLOAT_EQ(ticks[2].volume, 0);
    EXPECT_FLOAT_EQ(ticks[3].volume, 20);
    // Another mode lists no trades.
    data->mode = 1;
    DisplayList other;
    panel.Draw({0, 0, 275, height}, strip, *data, scheme, metrics, {}, other);
    EXPECT_EQ(FindText(other, "9.90"), nullptr);
}

TEST_F(PanelFixture, PricePageSumsTheDaysTradesByPriceAroundTheLatest) {
    // Hand-summed: 10.30 gets 5 + 2 = 7 lots, 10.29 (10.2899 and 10.2901 round to it) 3 + 4,
    // 10.31 gets 6; a NaN price, a zero price and a zero volume are left out.
    auto trade = [](float price, float lots) {
        KLineRecord t;
        t.time = 46000u * 86400u + 36000;
        t.close = price;
        t.volume = lots;
        return t;
    };
    const std::vector<KLineRecord> trades = {trade(10.30f, 5),  trade(10.2899f, 3), trade(10.31f, 6),
                                             trade(NAN, 9),     trade(0, 9),        trade(10.2901f, 4),
                                             trade(10.32f, 0),  trade(10.30f, 2)};
    const std::vector<PriceVolume> rows = VolumeByPrice(trades, 2);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_FLOAT_EQ(rows[0].price, 10.31f);
    EXPECT_DOUBLE_EQ(rows[0].lots, 6);
    EXPECT_FLOAT_EQ(rows[1].price, 10.30f);
    EXPECT_DOUBLE_EQ(rows[1].lots, 7);
    EXPECT_FLOAT_EQ(rows[2].price, 10.29f);
    EXPECT_DOUBLE_EQ(rows[2].lots, 7);

    // Forty prices (apart from the quote table's), room for five rows: the rows around the latest
    // trade's price, 20.25.
    data->mode = kPanelModePrices;
    for (int i = 0; i < 40; ++i) data->ticks.push_back(trade(20.0f + 0.01f * static_cast<float>(i), 10));
    data->ticks.push_back(trade(20.25f, 30));
    const int strip = metrics.timeStripHeight();
    const int height = 1 + 18 + 1 + 18 * 18 + 6 + 5 * 18 + strip;
    panel.Draw({0, 0, 275, height}, strip, *data, scheme, metrics, {}, list);
    for (const char* shown : {"20.27", "20.26", "20.25", "20.24", "20.23"}) EXPECT_NE(FindText(list, shown), nullptr) << shown;
    EXPECT_EQ(FindText(list, "20.28"), nullptr);
    EXPECT_EQ(FindText(list, "20.22"), nullptr);
    ASSERT_NE(FindText(list, "40"), nullptr);   // 10 + 30 lots at 20.25
    EXPECT_NE(FindText(list, "9.3%"), nullptr);  // 40 of 430 lots
    EXPECT_NE(FindText(list, "价"), nullptr) << "the first tab reads 价";
    EXPECT_EQ(FindText(list, "细"), nullptr);
}

TEST(ChartViewPanel, ClickingTheTickTabAgainSwitchesToThePricePage) {
    FakeSource source;
    ChartOptions o;
    o.infoPanel = true;
    ChartView view(source, o);
    view.Resize(800, 400);
    CodeEntry security;
    ParseSecurityText("SH600000", security.id);
    security.securityClass = kClassAShare;
    view.SetSecurity(0, security);
    EXPECT_TRUE(view.ClickPanelTab(0, 0));
    EXPECT_EQ(view.picture(0).panelMode, kPanelModePrices);
    EXPECT_TRUE(view.ClickPanelTab(0, 0));
    EXPECT_EQ(view.picture(0).panelMode, kPanelModeTicks);
    EXPECT_TRUE(view.ClickPanelTab(0, 1));
    EXPECT_FALSE(view.ClickPanelTab(0, 1));
    EXPECT_TRUE(view.StepPanelMode(1));  // "+" from 财 goes on to 势
    EXPECT_EQ(view.picture(0).panelMode, kPanelModeChart);
    // An index has no 价 page.
    security.securityClass = kClassIndex;
    view.SetSecurity(0, security);
    view.SetPanelMode(0, 0);
    EXPECT_FALSE(view.ClickPanelTab(0, 0));
    EXPECT_FALSE(view.SetPanelMode(0, kPanelModePrices));
}

}  // namespace
}  // namespace tessaro::chart
