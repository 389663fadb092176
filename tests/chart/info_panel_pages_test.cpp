// The information panel's pages (财 finance rows and their scrolling, 势 and 指 small charts, 板
// block rows and their hit boxes) and the panel beside K-line pictures: the room it takes, its
// width limits, showing and hiding, the modes a tab may select.
#include <gtest/gtest.h>

#include <cmath>

#include "chart/chart_view.h"
#include "chart/info_panel.h"
#include "platform/text.h"

namespace tessaro::chart {
namespace {

constexpr StoreTime kDay = 46000u * 86400u;

const Primitive* FindText(const DisplayList& list, const std::string& text) {
    for (const Primitive& p : list.items())
        if (p.kind == PrimitiveKind::kText && list.text(p) == text) return &p;
    return nullptr;
}

std::vector<KLineRecord> Minutes(int n, float from) {
    std::vector<KLineRecord> out;
    for (int i = 0; i < n; ++i) {
        KLineRecord m;
        m.time = kDay + 34200 + 60 * static_cast<uint32_t>(i);
        m.open = m.high = m.low = m.close = from + 0.01f * static_cast<float>(i);
        m.volume = 100;
        m.amount = 100 * 100 * m.close;
        out.push_back(m);
    }
    return out;
}

struct PagesFixture : ::testing::Test {
    void SetUp() override {
        scheme = BuiltInSchemes()[0];
        data = std::make_unique<InfoPanelData>();
        ParseSecurityText("SZ000001", data->security.id);
        data->security.securityClass = kClassAShare;
        data->security.setName(Utf8ToGbk("平安银行"));
        data->hasRecord = true;
        data->record.entry = data->security;
        data->record.quote.prevClose = 10;
        data->record.quote.bar.close = 10.2f;
        data->record.finance.updateDate = 20240630;
        for (int i = 0; i < kFinanceFigures; ++i) data->record.finance.figures[i] = 1000.0f + static_cast<float>(i);
        data->record.finance.reportKind = 2;
    }
    int Strip() const { return metrics.timeStripHeight(); }
    ColorScheme scheme;
    ChartMetrics metrics;
    std::unique_ptr<InfoPanelData> data;
    InfoPanel panel;
    DisplayList list;
};

TEST(InfoPanelModes, ValidModesAndScrollLimits) {
    EXPECT_EQ(ValidPanelMode(4, false), 4);
    EXPECT_EQ(ValidPanelMode(0, false), 0);
    EXPECT_EQ(ValidPanelMode(5, false), 0);   // beyond 板
    EXPECT_EQ(ValidPanelMode(-1, false), 0);
    EXPECT_EQ(ValidPanelMode(3, true), 0);    // an index shows only 细
    // 39 finance rows: the last page starts where exactly `visible` rows remain.
    EXPECT_EQ(kFinanceRowCount, 39);
    EXPECT_EQ(ClampFinanceScroll(100, 10), 29);
    EXPECT_EQ(ClampFinanceScroll(29, 10), 29);
    EXPECT_EQ(ClampFinanceScroll(-3, 10), 0);
    EXPECT_EQ(ClampFinanceScroll(5, 50), 0);  // everything fits
    EXPECT_EQ(ClampFinanceScroll(5, -1), 5);  // no room reported: the position stays in range
    EXPECT_EQ(BlockRowText({"行业", "银行", ""}), "行业 ->> 银行");
}

TEST_F(PagesFixture, FinanceRowsBelowTheQuoteTableScroll) {
    data->mode = kPanelModeFinance;
    const int quoteRows = 18, separators = 6;
    const int height = 1 + 18 + 1 + quoteRows * 18 + separators + 10 * 18 + Strip();
    panel.Draw({0, 0, 275, height}, Strip(), *data, scheme, metrics, {}, list);
    EXPECT_EQ(panel.financeRowsVisible(), 10);
    EXPECT_NE(FindText(list, "卖1"), nullptr);  // the quote table stays above
    const Primitive* first = FindText(list, "更新日期");
    ASSERT_NE(first, nullptr);
    EXPECT_LE(first->box.bottom, height - Strip());
    // Scrolled by three: the fourth finance field comes first, the first is gone.
    data->scroll = 3;
    DisplayList scrolled;
    panel.Draw({0, 0, 275, height}, Strip(), *data, scheme, metrics, {}, scrolled);
    EXPECT_EQ(FindText(scrolled, "更新日期"), nullptr);
    const Primitive* fourth = FindText(scrolled, std::string(QuoteFieldName(kFinanceFirstField + 3)));
    ASSERT_NE(fourth, nullptr);
    EXPECT_EQ(fourth->box.top, first->box.top);
    // A position past the end shows the last rows, 年/中/季报 at the bottom.
    data->scroll = 1000;
    DisplayList end;
    panel.Draw({0, 0, 275, height}, Strip(), *data, scheme, metrics, {}, end);
    const Primitive* last = FindText(end, std::string(QuoteFieldName(kFieldReportKind)));
    ASSERT_NE(last, nullptr);
    EXPECT_EQ(last->box.bottom, first->box.top + 10 * 18);
}

TEST_F(PagesFixture, BlockRowsReplaceTheTableAndAreHitTested) {
    data->mode = kPanelModeBlocks;
    data->blocks = {{"行业", "银行", Utf8ToGbk("银行")}, {"自动板块", "深市A股", Utf8ToGbk("深市A股")}};
    panel.Draw({10, 0, 285, 400}, Strip(), *data, scheme, metrics, {}, list);
    EXPECT_EQ(FindText(list, "卖1"), nullptr);
    const Primitive* caption = FindText(list, "所属板块:");
    const Primitive* second = FindText(list, "自动板块 ->> 深市A股");
    ASSERT_TRUE(caption && second);
    EXPECT_LT(caption->box.top, second->box.top);
    EXPECT_EQ(panel.BlockAt({20, second->box.top + 1}), 1);
    EXPECT_EQ(panel.BlockAt({20, caption->box.top + 1}), -1);  // the caption opens nothing
    EXPECT_EQ(panel.BlockAt({5, second->box.top + 1}), -1);    // left of the panel
    // The left edge is where a drag starts: two pixels either side.
    EXPECT_TRUE(panel.OnEdge({8, 100}));
    EXPECT_TRUE(panel.OnEdge({12, 100}));
    EXPECT_FALSE(panel.OnEdge({13, 100}));
    EXPECT_FALSE(panel.OnEdge({10, 400}));
    // Too low for the second block: it gets no row and no hit box.
    DisplayList low;
    panel.Draw({10, 0, 285, 20 + 2 * 18 + Strip()}, Strip(), *data, scheme, metrics, {}, low);
    EXPECT_EQ(FindText(low, "自动板块 ->> 深市A股"), nullptr);
    EXPECT_EQ(panel.BlockAt({20, second->box.top + 1}), -1);
    panel.Hide();
    EXPECT_FALSE(panel.OnEdge({10, 100}));
}

TEST_F(PagesFixture, SmallChartFillsWhatTheTableLeaves) {
    data->mode = kPanelModeChart;
    data->hasChart = true;
    data->chart.security = data->security;
    data->chart.previousClose = 10;
    data->chart.minutes = Minutes(30, 10);
    panel.Draw({0, 0, 275, 800}, Strip(), *data, scheme, metrics, {}, list);
    const TimeSharingPicture& chart = panel.chart();
    // Below the quote table, inside the panel, above the tab strip; no left axis.
    const Primitive* lastRow = FindText(list, "外盘");
    ASSERT_NE(lastRow, nullptr);
    EXPECT_GT(chart.mainRects().outer.top, static_cast<float>(lastRow->box.bottom));
    EXPECT_LE(chart.volumeRects().outer.bottom, static_cast<float>(800 - Strip()));
    EXPECT_FLOAT_EQ(chart.mainRects().leftAxis.width(), 0);
    EXPECT_EQ(chart.priceRuns().size(), 1u);
    EXPECT_EQ(chart.priceRuns()[0].size(), 30u);
    // The range is symmetric around the previous close: 10.29 is 2.9 % above it.
    EXPECT_NEAR(chart.mainMap().range.max, 10.29f, 1e-4);
    EXPECT_NEAR(chart.mainMap().range.min, 9.71f, 1e-4);
    EXPECT_NE(FindText(list, "平安银行"), nullptr);
    // A lower panel keeps two fifths for the chart and drops the table's last rows instead.
    DisplayList low;
    InfoPanel lower;
    lower.Draw({0, 0, 275, 500}, Strip(), *data, scheme, metrics, {}, low);
    const float body = 500 - Strip() - (1 + 18 + 1);
    EXPECT_GE(static_cast<float>(500 - Strip()) - lower.chart().mainRects().outer.top, body * 2 / 5);
    EXPECT_NE(FindText(low, "卖1"), nullptr);
    EXPECT_EQ(FindText(low, "外盘"), nullptr);
    EXPECT_LT(lower.rowsDrawn(), 18);
    // Its volume axis labels never overlap, however low the pane.
    TimeSharingOptions o;
    o.scheme = scheme;
    o.singlePicture = false;
    for (const float height : {120.0f, 500.0f}) {
        TimeSharingPicture tiny(o);
        tiny.SetData(data->chart);
        tiny.Layout({0, 0, 275, height});
        tiny.Build();
        std::vector<Rect> labels;
        const int axis = RoundPixel(tiny.volumeRects().rightAxis.left);
        for (const Primitive& q : tiny.volumeList().items())
            if (q.kind == PrimitiveKind::kText && q.box.left >= axis) labels.push_back(q.box);
        ASSERT_FALSE(labels.empty()) << height;
        for (size_t i = 1; i < labels.size(); ++i) EXPECT_LE(labels[i].bottom, labels[i - 1].top) << height;
    }
    // Without room for its panes, or without data, no chart is drawn.
    for (int height : {150, 800}) {
        data->hasChart = height == 150;
        DisplayList none;
        InfoPanel other;
        other.Draw({0, 0, 275, height}, Strip(), *data, scheme, metrics, {}, none);
        EXPECT_TRUE(other.chart().priceRuns().empty()) << height;
        EXPECT_EQ(FindText(none, "趋势线"), nullptr) << height;
    }
}

TEST(TimeSharingLabels, NarrowPictureDropsTextsThatWouldOverlap) {
    TimeSharingOptions o;
    o.scheme = BuiltInSchemes()[0];
    o.singlePicture = false;
    std::vector<size_t> counts;
    for (const float width : {260.0f, 1000.0f}) {
        TimeSharingPicture picture(o);
        TimeSharingData d;
        ParseSecurityText("SH600000", d.security.id);
        d.security.securityClass = kClassAShare;
        d.previousClose = 10;
        d.minutes = Minutes(241, 10);
        picture.SetData(d);
        picture.Layout({0, 0, width, 400});
        picture.Build();
        std::vector<Rect> boxes;
        std::vector<std::string> texts;
        const DisplayList& frame = picture.frameList();
        for (const Primitive& p : frame.items())
            if (p.kind == PrimitiveKind::kText && frame.text(p) != "分时") {
                boxes.push_back(p.box);
                texts.push_back(frame.text(p));
            }
        ASSERT_GE(boxes.size(), 2u) << width;
        for (size_t i = 1; i < boxes.size(); ++i) EXPECT_LE(boxes[i - 1].right, boxes[i].left) << width << " " << texts[i];
        EXPECT_EQ(texts.front(), "09:30") << width;
        counts.push_back(texts.size());
    }
    EXPECT_LT(counts[0], counts[1]);  // the wide picture keeps what the narrow one drops
}

// A source with one security's bars, a market index and a block list.
class PanelSource : public ChartSource {
public:
    bool Load(const CodeEntry& s, Period period, int, Series& out) override {
        loaded.push_back(std::string(s.id.codeText()));
        out.clear();
        out.period = period;
        if (period == kPeriodTime) {
            for (const KLineRecord& m : Minutes(20, SameSecurity(s.id, index.id) ? 3000 : 10)) out.push(m);
            out.quote.prevClose = SameSecurity(s.id, index.id) ? 3000 : 10;
        } else {
            for (int i = 0; i < 50; ++i) {
                KLineRecord b;
                b.time = kDay - 86400u * static_cast<uint32_t>(50 - i);
                b.open = b.high = b.low = b.close = 10;
                b.volume = 100;
                out.push(b);
            }
        }
        return true;
    }
    std::unique_ptr<EvalResult> Evaluate(const FormulaRecord&, const CodeEntry&, const Series&, Period, int,
                                         EvalStatus&) override {
        return nullptr;
    }
    std::optional<FormulaRecord> Formula(uint32_t, std::string_view) override { return std::nullopt; }
    StoreTime MarketTime() override { return kDay; }
    int Decimals(const CodeEntry&) override { return 2; }
    bool QuoteRecord(const CodeEntry&, StockRecord& out) override {
        out = StockRecord{};
        out.quote.prevClose = 10;
        return true;
    }
    bool MarketIndex(MarketCode market, CodeEntry& out) override {
        if (market != kMarketSZ) return false;
        out = index;
        return true;
    }
    bool MinuteExtras(const CodeEntry&, MinuteExtraDay& out) override {
        out = extras;
        return hasExtras;
    }
    std::vector<InfoPanelBlock> BlocksOf(const CodeEntry&) override {
        ++blockReads;
        return {{"行业", "银行", Utf8ToGbk("银行")}};
    }
    CodeEntry index;
    std::vector<std::string> loaded;
    int blockReads = 0;
    bool hasExtras = false;
    MinuteExtraDay extras{};
};

struct KLinePanelFixture : ::testing::Test {
    void SetUp() override {
        ParseSecurityText("SZ399001", source.index.id);
        source.index.securityClass = kClassIndex;
        ParseSecurityText("SZ000001", security.id);
        security.securityClass = kClassAShare;
        ChartOptions o;
        o.infoPanel = true;
        view = std::make_unique<ChartView>(source, o);
        view->Resize(900, 500);
        view->SetSecurity(0, security);
        view->Update(0);
    }
    PanelSource source;
    CodeEntry security;
    std::unique_ptr<ChartView> view;
};

TEST_F(KLinePanelFixture, PanelTakesTheRightSideOfKLinePictures) {
    const GraphPicture& p = view->picture(0);
    ASSERT_EQ(p.period, kPeriodDay);
    const float edge = 900 - kInfoPanelDefaultWidth;
    for (const GraphPane& pane : p.panes) EXPECT_FLOAT_EQ(pane.rects.outer.right, edge);
    EXPECT_EQ(p.panel.box().left, static_cast<int>(edge));
    EXPECT_EQ(p.panel.box().bottom, 500);  // the picture's full height
    EXPECT_NE(FindText(p.panelList, "卖1"), nullptr);
    // The time-axis strip and its box end at the panel.
    for (const Primitive& q : p.frame.items()) EXPECT_LE(q.box.right, static_cast<int>(edge) + 1);

    // Hidden: the panes take the whole width back; shown again, the mode is kept.
    ASSERT_TRUE(view->SetPanelMode(0, kPanelModeBlocks));
    view->ShowInfoPanel(false);
    view->Update(1);
    EXPECT_FLOAT_EQ(view->picture(0).panes[0].rects.outer.right, 900);
    EXPECT_TRUE(view->picture(0).panel.box().empty());
    EXPECT_TRUE(view->picture(0).panelList.empty());
    view->ShowInfoPanel(true);
    view->Update(1);
    EXPECT_EQ(view->picture(0).panelMode, kPanelModeBlocks);
    EXPECT_NE(FindText(view->picture(0).panelList, "行业 ->> 银行"), nullptr);

    // The width: at least the minimum, at most what leaves 200 pixels of chart.
    view->SetInfoPanelWidth(40);
    EXPECT_EQ(view->options().infoPanelWidth, kInfoPanelMinWidth);
    view->SetInfoPanelWidth(5000);
    EXPECT_EQ(view->options().infoPanelWidth, 700);
    view->Update(1);
    EXPECT_FLOAT_EQ(view->picture(0).panes[0].rects.outer.right, 200);
    // A picture too narrow for chart and panel shows no panel.
    view->SetInfoPanelWidth(300);
    view->Resize(450, 500);
    view->Update(1);
    EXPECT_TRUE(view->picture(0).panel.box().empty());
    EXPECT_FLOAT_EQ(view->picture(0).panes[0].rects.outer.right, 450);
}

TEST_F(KLinePanelFixture, TabsLoadTheirPagesOnce) {
    // 板: the blocks are read once per security, not on every drawing.
    ASSERT_TRUE(view->SetPanelMode(0, kPanelModeBlocks));
    view->Update(4);
    view->Update(4);
    EXPECT_EQ(source.blockReads, 1);
    view->SetSecurity(0, security);
    view->Update(0);
    EXPECT_EQ(source.blockReads, 2);
    EXPECT_FALSE(view->SetPanelMode(0, kPanelModeBlocks));  // already there
    EXPECT_FALSE(view->SetPanelMode(0, 7));                  // no such tab

    // 指: the market's index from its minutes; 势: the security itself.
    source.loaded.clear();
    ASSERT_TRUE(view->SetPanelMode(0, kPanelModeIndex));
    view->Update(4);
    ASSERT_FALSE(source.loaded.empty());
    EXPECT_EQ(source.loaded.back(), "399001");
    EXPECT_EQ(std::string(view->picture(0).panel.chart().data().security.id.codeText()), "399001");
    EXPECT_FLOAT_EQ(view->picture(0).panel.chart().data().previousClose, 3000);
    ASSERT_TRUE(view->SetPanelMode(0, kPanelModeChart));
    view->Update(4);
    EXPECT_EQ(source.loaded.back(), "000001");

    // 财: entering resets the scroll position; scrolling stops at the ends.
    ASSERT_TRUE(view->SetPanelMode(0, kPanelModeFinance));
    view->Update(4);
    const int visible = view->picture(0).panel.financeRowsVisible();
    ASSERT_GT(visible, 0);
    ASSERT_LT(visible, kFinanceRowCount);
    EXPECT_FALSE(view->ScrollPanel(0, -1));
    EXPECT_TRUE(view->ScrollPanel(0, 1000));
    EXPECT_EQ(view->picture(0).panelScroll, kFinanceRowCount - visible);
    view->SetPanelMode(0, kPanelModeTicks);
    EXPECT_FALSE(view->ScrollPanel(0, 1));  // only the 财 page scrolls
    view->SetPanelMode(0, kPanelModeFinance);
    EXPECT_EQ(view->picture(0).panelScroll, 0);

    // An index picture refuses the other tabs; its exchange row takes the newest breadth minute.
    view->SetSecurity(0, source.index);
    view->SetPanelMode(0, kPanelModeTicks);
    EXPECT_FALSE(view->SetPanelMode(0, kPanelModeChart));
    source.hasExtras = true;
    source.extras[3] = MinuteExtra{1, 0, {600, 100, 300, 0, 0, 0}};
    source.extras[10] = MinuteExtra{1, 0, {-5, 1, 1, 0, 0, 0}};  // a corrupt count: passed over
    source.extras[200] = MinuteExtra{0, 0, {9, 9, 9, 0, 0, 0}};  // no time: empty
    view->Update(0);
    EXPECT_NE(FindText(view->picture(0).panelList, "600↑"), nullptr);
    EXPECT_NE(FindText(view->picture(0).panelList, "100="), nullptr);
    EXPECT_NE(FindText(view->picture(0).panelList, "300↓"), nullptr);
    int rising = -1, unchanged = -1, falling = -1;
    EXPECT_FALSE(LatestBreadth(MinuteExtraDay{}, rising, unchanged, falling));
    EXPECT_EQ(rising, -1);  // untouched: the row shows no counts
}

}  // namespace
}  // namespace tessaro::chart
