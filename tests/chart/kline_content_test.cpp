// Placing and removing formulas in the panes of a picture: target panes by type, the 29-slot
// limit, the order of technical indicators before signal formulas, replacing, a formula that
// fails, stepping through the set with Home and End, and the period keys.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "chart/chart_commands.h"
#include "chart/kline_content.h"
#include "formula/compiler.h"
#include "formula/standard_library.h"
#include "market/bars_csv.h"
#include "platform/text.h"

#include "chart/chart_test_support.h"

namespace tessaro::chart {
namespace {

class KLineContentTest : public MoutaiViewSuite {
protected:
    void SetUp() override { OpenMoutai(640, 400, 60, {{{3, "MA"}}}); }
    FormulaRecord Get(uint32_t type, const char* name) {
        std::optional<FormulaRecord> f = formulas_->Find(type, name);
        EXPECT_TRUE(f) << name;
        return f ? *f : FormulaRecord{};
    }
    FormulaRecord Made(uint32_t type, const std::string& name) {
        FormulaRecord f;
        f.type = type;
        f.setName(name);
        return f;
    }
    std::vector<std::string> Names(int pane) {
        std::vector<std::string> out;
        for (const PaneIndicator& s : view->picture(0).panes[static_cast<size_t>(pane)].indicators)
            out.emplace_back(s.formula.nameText());
        return out;
    }
};

TEST_F(KLineContentTest, MacdFromTheMenuGetsASecondPaneAndKdjJoinsIt) {
    ASSERT_EQ(view->picture(0).panes.size(), 1u);
    EXPECT_EQ(AddIndicator(*view, 0, 0, Get(4, "MACD"), false, true, 0), AddResult::kAdded);
    ASSERT_EQ(view->picture(0).panes.size(), 2u);
    EXPECT_EQ(Names(1), std::vector<std::string>{"MACD"});
    EXPECT_GT(view->picture(0).panes[0].height, view->picture(0).panes[1].height);
    EXPECT_EQ(AddIndicator(*view, 0, 0, Get(4, "KDJ"), false, true, 1), AddResult::kAdded);
    EXPECT_EQ(Names(1), (std::vector<std::string>{"MACD", "KDJ"}));
    EXPECT_EQ(FindIndicator(*view, 0, 4, "KDJ"), 1);
    EXPECT_EQ(FindIndicator(*view, 0, 3, "KDJ"), 1);  // types 2, 3 and 4 are one class
    EXPECT_EQ(FindIndicator(*view, 0, 0, "KDJ"), -1);
    // The same formula again is not added; replacing clears the class first.
    EXPECT_EQ(AddIndicator(*view, 0, 1, Get(4, "MACD"), false, false), AddResult::kAlreadyShown);
    EXPECT_EQ(AddIndicator(*view, 0, 1, Get(4, "MACD"), true, false), AddResult::kAdded);
    EXPECT_EQ(Names(1), std::vector<std::string>{"MACD"});
    view->Update(2);
    const PaneIndicator& macd = view->picture(0).panes[1].indicators[0];
    ASSERT_TRUE(macd.result);
    EXPECT_FALSE(macd.result->lines.empty());
}

TEST_F(KLineContentTest, TwentyNineSlotsThenRefusedAndSignalsStayLast) {
    EXPECT_EQ(AddIndicator(*view, 0, 0, Made(kFormulaSelection, "SEL"), false, true), AddResult::kAdded);
    EXPECT_EQ(AddIndicator(*view, 0, 0, Made(kFormulaMainOverlay, "T1"), false, true), AddResult::kAdded);
    // Technical indicators go after the last technical one, before the selection formula.
    EXPECT_EQ(Names(0), (std::vector<std::string>{"MA", "T1", "SEL"}));
    for (int i = 2; i <= 26; ++i)
        ASSERT_EQ(AddIndicator(*view, 0, 0, Made(kFormulaMainOverlay, "T" + std::to_string(i)), false, false), AddResult::kAdded);
    EXPECT_EQ(AddIndicator(*view, 0, 0, Made(kFormulaColourKLine, "CK"), false, false), AddResult::kAdded);
    ASSERT_EQ(Names(0).size(), 29u);
    EXPECT_EQ(AddIndicator(*view, 0, 0, Made(kFormulaMainOverlay, "T30"), false, false), AddResult::kPaneFull);
    EXPECT_EQ(Names(0).size(), 29u);
    EXPECT_EQ(Names(0)[26], "T26");
    EXPECT_EQ(Names(0)[27], "SEL");
    EXPECT_EQ(Names(0)[28], "CK");
    // A colour K-line formula replaces the one before it; removing keeps the others' order.
    EXPECT_EQ(AddIndicator(*view, 0, 0, Made(kFormulaColourKLine, "CK2"), false, false), AddResult::kAdded);
    EXPECT_EQ(Names(0).back(), "CK2");
    EXPECT_EQ(RemoveIndicators(*view, 0, 0, kFormulaMainOverlay, "T5"), 1);
    EXPECT_EQ(Names(0)[4], "T4");
    EXPECT_EQ(Names(0)[5], "T6");
    EXPECT_EQ(RemoveIndicators(*view, 0, -1, kFormulaMainOverlay), 26);  // MA and T1..T26 but T5
    EXPECT_EQ(Names(0), (std::vector<std::string>{"SEL", "CK2"}));

    FormulaRecord weekOnly = Made(kFormulaSubPane, "WK");
    weekOnly.setPeriodDisabled(kPeriodDay, true);
    EXPECT_EQ(AddIndicator(*view, 0, 1, weekOnly, false, false), AddResult::kDisabled);
    FormulaRecord kind = Made(kFormulaInternal, "BAR");
    EXPECT_EQ(AddIndicator(*view, 0, 0, kind, false, false), AddResult::kKLine);
    EXPECT_EQ(view->picture(0).kline.formula.nameText(), "BAR");
}

TEST_F(KLineContentTest, AFailingFormulaShowsItsNameAndAnEmptyLine) {
    FormulaRecord broken = Get(4, "MACD");
    broken.setName("BROKEN");
    broken.instructions.assign(3, Instruction{});
    broken.instructions[0].opcode = 0xFFFF;
    broken.references.clear();
    EXPECT_EQ(AddIndicator(*view, 0, 1, broken, false, false), AddResult::kAdded);
    view->Update(2);
    const GraphPicture& p = view->picture(0);
    ASSERT_EQ(p.panes.size(), 2u);
    const PaneIndicator& slot = p.panes[1].indicators[0];
    EXPECT_FALSE(slot.result && !slot.result->lines.empty() && slot.result->lines[0].validCount() > 0);
    const std::string title = p.panes[1].list.ToText();
    EXPECT_NE(title.find(" BROKEN "), std::string::npos);
    EXPECT_FALSE(slot.result);
    EXPECT_FALSE(IndicatorTip(slot).empty());
    // The chart keeps working: a zoom redraws.
    EXPECT_TRUE(view->MoveOrZoom(MoveKey::kZoomIn));
    view->Update(1);
}

TEST_F(KLineContentTest, BarTipsOfTheKLineAndOfAnIndicatorLine) {
    const GraphPicture& p = view->picture(0);
    HitInfo hit;
    hit.picture = 0;
    hit.pane = 0;
    hit.bar = 3;
    hit.kline = true;
    const KLineRecord& b = bars_->bars[static_cast<size_t>(p.scale.first + 3)];
    BarTipText tip = BarTip(*view, hit);
    EXPECT_EQ(tip.title, FormatStoreTime("Y/M/D(W)", b.time));
    char open[80];
    std::snprintf(open, sizeof open, "开：%.2f\r\n高：%.2f\r\n", b.open, b.high);
    EXPECT_EQ(tip.text.rfind(open, 0), 0u) << tip.text;
    EXPECT_NE(tip.text.find("\r\n额："), std::string::npos);

    hit.kline = false;
    hit.slot = 0;
    hit.line = 0;
    tip = BarTip(*view, hit);
    EXPECT_EQ(tip.title, "MA指标");
    char value[64];
    std::snprintf(value, sizeof value, ":%.3f", p.panes[0].indicators[0].result->lines[0].points[static_cast<size_t>(p.scale.first + 3)].value);
    EXPECT_EQ(tip.text.substr(tip.text.size() - std::string(value).size()), value);
    // Outside the line's valid range (MA of the first bars) the value is left out.
    view->picture(0).scale.first = 0;
    view->Update(1);
    hit.bar = 0;
    tip = BarTip(*view, hit);
    EXPECT_EQ(tip.text.back(), ':');
    hit.bar = -1;
    EXPECT_TRUE(BarTip(*view, hit).title.empty());
}

TEST_F(KLineContentTest, OverlaysUpToFiveSecuritiesInNormalAndPercentageMode) {
    // A security at twice the price, one whose bars all lie before the visible ones, and more.
    auto add = [&](const char* code, const char* name, float factor, size_t bars) {
        CodeEntry e;
        ParseSecurityText(code, e.id);
        e.securityClass = kClassAShare;
        CopyToField(e.name, Utf8ToGbk(name));
        Series s;
        s.period = kPeriodDay;
        for (size_t i = 0; i < bars && i < bars_->size(); ++i) {
            KLineRecord b = bars_->bars[i];
            b.open *= factor;
            b.high *= factor;
            b.low *= factor;
            b.close *= factor;
            s.push(b);
        }
        data.AddSecurity(e, s);
        return e;
    };
    const CodeEntry twice = add("SH600002", "双倍", 2, bars_->size());
    const CodeEntry early = add("SH600003", "早期", 1, 50);
    GraphPicture& p = view->picture(0);
    const ValueRange alone = p.panes[0].range;
    ASSERT_TRUE(view->AddOverlay(0, twice));
    EXPECT_FALSE(view->AddOverlay(0, twice));   // already shown
    EXPECT_FALSE(view->AddOverlay(0, moutai));  // the main security
    ASSERT_TRUE(view->AddOverlay(0, early));
    view->Update(0);
    ASSERT_EQ(p.overlays.size(), 2u);
    ASSERT_EQ(p.overlays[0].series.size(), p.series.size());
    // Normal mode: one price axis, so the range reaches twice the main security's maximum.
    EXPECT_FLOAT_EQ(p.panes[0].range.max, 2 * alone.max);
    EXPECT_FLOAT_EQ(p.panes[0].range.min, alone.min);
    // The overlay without visible bars draws nothing and leaves the other drawn.
    const RenderItem& none = p.overlays[1].kline.items.at(0);
    for (uint16_t f : none.flags) EXPECT_TRUE(f & kBarSkip);
    const RenderItem& drawn = p.overlays[0].kline.items.at(0);
    EXPECT_FALSE(drawn.flags.at(0) & kBarSkip);
    EXPECT_NE(p.panes[0].list.ToText().find("+双倍"), std::string::npos);

    // Percentage mode: the overlay is scaled to meet the main close at the first visible bar,
    // so twice the prices fall on the main security's own candles.
    view->SetScaleMode(0, 0, kScalePercentage);
    view->Update(3);
    EXPECT_FLOAT_EQ(p.panes[0].range.max, alone.max);
    EXPECT_FLOAT_EQ(p.panes[0].range.min, alone.min);
    const int k = p.scale.first + 7;
    EXPECT_NEAR(p.overlays[0].scaled.bars[static_cast<size_t>(k)].close, bars_->bars[static_cast<size_t>(k)].close, 1e-3);

    ASSERT_TRUE(view->AddOverlay(0, add("SH600004", "四", 1, 10)));
    ASSERT_TRUE(view->AddOverlay(0, add("SH600005", "五", 1, 10)));
    EXPECT_FALSE(view->AddOverlay(0, add("SH600006", "六", 1, 10)));  // a sixth security
    EXPECT_TRUE(view->RemoveOverlay(0, 0));
    EXPECT_FALSE(view->RemoveOverlay(0, 3));
    view->Update(3);
    EXPECT_FLOAT_EQ(p.panes[0].range.max, alone.max);
}

TEST_F(KLineContentTest, SelectionIconsAndColourKLines) {
    // A selection formula true where the close rose; icon 2 in blue at the low.
    FormulaRecord up;
    up.type = kFormulaSelection;
    up.setName("UP");
    up.source = "C>REF(C,1);";
    ASSERT_EQ(CompileFormula(up), 0);
    up.signalIcon = 2;
    up.signalColour = 0xFF0000;
    up.signalPosition = 2;
    // A colour K-line formula true on every bar.
    FormulaRecord all;
    all.type = kFormulaColourKLine;
    all.setName("ALL");
    all.source = "C>0;";
    ASSERT_EQ(CompileFormula(all), 0);
    ASSERT_EQ(AddIndicator(*view, 0, 0, up, false, false), AddResult::kAdded);
    ASSERT_EQ(AddIndicator(*view, 0, 0, all, false, false), AddResult::kAdded);
    view->Update(2);
    const GraphPicture& p = view->picture(0);
    const PaneIndicator& sel = p.panes[0].indicators[1];
    ASSERT_EQ(sel.formula.nameText(), "UP");
    ASSERT_EQ(sel.items.size(), 1u);
    const RenderItem& icons = sel.items[0];
    EXPECT_EQ(icons.kind, kKindIcon);
    EXPECT_EQ(icons.iconType, 2);
    EXPECT_EQ(icons.colour, 0xFF0000u);
    int signals = 0;
    for (int k = 0; k < icons.barCount; ++k) {
        const size_t i = static_cast<size_t>(p.scale.first + icons.firstBar + k);
        const bool rose = i > 0 && bars_->bars[i].close > bars_->bars[i - 1].close;
        EXPECT_EQ(icons.drawable(k), rose) << i;
        if (!rose) continue;
        ++signals;
        EXPECT_EQ(icons.at(k)[0], p.scale.CentrePixel(icons.firstBar + k));
        EXPECT_EQ(icons.at(k)[1], p.panes[0].map.Y(bars_->bars[i].low));
    }
    EXPECT_GT(signals, 5);
    // Every candle rising, in 阳线, hollow exactly when it closed above its open.
    const RenderItem& k = p.kline.items.at(0);
    for (int b = 0; b < k.barCount; ++b) {
        const KLineRecord& bar = bars_->bars[static_cast<size_t>(p.scale.first + k.firstBar + b)];
        EXPECT_TRUE(k.flags[static_cast<size_t>(b)] & kBarRising);
        EXPECT_EQ((k.flags[static_cast<size_t>(b)] & kBarHollow) != 0, bar.close > bar.open);
    }
    EXPECT_EQ(k.rise, options.scheme.colors[kColorRising]);
    EXPECT_TRUE(p.panes[0].indicators[2].items.empty());
    // Neither signal counts in the main pane's range, which stays the K-lines'.
    ValueRange r;
    ASSERT_TRUE(SeriesRange(p.series, p.scale.first, p.scale.shown, r));
    EXPECT_EQ(p.panes[0].range.max, r.max);
    // The title's legends: the selection icon in its signal colour, the colour K-line symbol
    // drawn in 图形文字 and filled in 阳线.
    const std::string title = p.panes[0].list.ToText();
    const auto& c = options.scheme.colors;
    EXPECT_NE(title.find("pen=#0000ff fill=#0000ff"), std::string::npos) << title;
    EXPECT_NE(title.find("pen=" + ColorText(c[kColorChartText]) + " fill=" + ColorText(c[kColorRising])), std::string::npos)
        << title;
}

TEST_F(KLineContentTest, ExRightsMarksOnVisibleBarsWithTheirTips) {
    Series s = *bars_;
    const size_t last = s.size() - 1;
    const StoreTime marked = s.bars[last - 5].time;
    ExRightsRecord visible;
    visible.exDate = static_cast<uint32_t>(UnixFromStoreTime(marked));
    visible.bonusShares = 0.3f;
    visible.rightsPrice = 8.5f;
    ExRightsRecord old;
    old.exDate = static_cast<uint32_t>(UnixFromStoreTime(s.bars[3].time));
    old.bonusShares = 1;
    s.exRights = {old, visible};
    CodeEntry e;
    ParseSecurityText("SH600010", e.id);
    e.securityClass = kClassAShare;
    data.AddSecurity(e, s);
    view->SetSecurity(0, e);
    view->Update(0);
    const GraphPicture& p = view->picture(0);
    ASSERT_EQ(p.marks.size(), 1u);
    const ExRightsMark& m = p.marks[0];
    EXPECT_EQ(m.bar, static_cast<int>(last - 5));
    EXPECT_EQ(m.caption, "除权");
    EXPECT_EQ(m.body, "日期:" + FormatStoreTime("Y-M-D", marked) + "\r\n送股比:0.3\r\n配股价:8.5\r\n");
    EXPECT_NE(p.panes[0].list.ToText().find("polygon"), std::string::npos);
    // Hovering the mark shows caption and body as the bar tip.
    const HitInfo hit = HitTest(*view, (m.box.left + m.box.right) / 2, m.box.top + 5);
    ASSERT_EQ(hit.pane, 0);
    const BarTipText tip = BarTip(*view, hit);
    EXPECT_EQ(tip.title, "除权");
    EXPECT_EQ(tip.text, m.body);
}

TEST_F(KLineContentTest, HomeAndEndStepThroughTheFittingFormulasAndWrap) {
    std::vector<FormulaRecord> set = {Made(kFormulaSubPane, "A"), Made(kFormulaMainOverlay, "M1"),
                                      Made(kFormulaSubPane, "B"), Made(kFormulaSubPane, "C")};
    set[2].setPeriodDisabled(kPeriodDay, true);
    FormulaRecord right = Made(kFormulaSubPane, "R");
    right.group = Utf8ToGbk("右图指标");
    set.push_back(right);
    view->SetPaneCount(0, 2);
    ASSERT_EQ(AddIndicator(*view, 0, 1, set[0], false, false), AddResult::kAdded);
    const GraphPicture& p = view->picture(0);
    auto next = StepPaneFormula(set, p, 1, +1);
    ASSERT_TRUE(next);
    EXPECT_EQ(next->nameText(), "C");  // B is disabled for days, R is in 右图指标
    EXPECT_EQ(StepPaneFormula(set, p, 1, -1)->nameText(), "C");  // wraps
    EXPECT_EQ(StepPaneFormula(set, p, 0, +1)->nameText(), "M1");
    EXPECT_FALSE(StepPaneFormula(set, p, 5, +1));

    std::vector<CodeEntry> list(3);
    for (size_t i = 0; i < list.size(); ++i) ParseSecurityText("SH60000" + std::to_string(i + 1), list[i].id);
    EXPECT_EQ(StepInList(list, list[0].id, -1), 2);  // wraps at both ends
    EXPECT_EQ(StepInList(list, list[2].id, +1), 0);
    EXPECT_EQ(StepInList(list, list[1].id, +1), 2);
    EXPECT_EQ(StepInList(list, moutai.id, +1), -1);
    EXPECT_EQ(StepInList({}, moutai.id, +1), -1);

    EXPECT_EQ(NextPeriod(kPeriodDay), kPeriodWeek);
    EXPECT_EQ(NextPeriod(kPeriodMultiDay), kPeriodTime);
    EXPECT_EQ(NextPeriod(kPeriodTime), kPeriodTick);
    EXPECT_EQ(ToggleTimeSharing(kPeriodTime), kPeriodDay);
    EXPECT_EQ(ToggleTimeSharing(kPeriodWeek), kPeriodTime);
    EXPECT_EQ(EnterPeriod(kPeriodMin5, kPeriodDay), kPeriodTime);
    EXPECT_EQ(EnterPeriod(kPeriodTime, kPeriodMin5), kPeriodMin5);
    EXPECT_EQ(EnterPeriod(kPeriodTime, kPeriodTime), kPeriodDay);     // never back into itself
    EXPECT_EQ(EnterPeriod(kPeriodTime, kPeriodInvalid), kPeriodDay);  // nor to a bad period
}

TEST(MultiPictureViews, StockPlansFollowTheListAndPeriodPlansTheFixedOrder) {
    std::vector<CodeEntry> list(11);
    for (size_t i = 0; i < list.size(); ++i) list[i].id = MakeSecurityId(kMarketSH, std::to_string(600100 + i));
    // From the third of 11 there are 9 left: a 3x3 grid of them; from the fourth 8 left: 2x2.
    std::vector<PicturePlan> plan = MultiStockPlan(list, list[2], 9, kPeriodWeek);
    ASSERT_EQ(plan.size(), 9u);
    EXPECT_TRUE(SameSecurity(plan.front().security.id, list[2].id));
    EXPECT_TRUE(SameSecurity(plan.back().security.id, list[10].id));
    EXPECT_EQ(plan[4].period, kPeriodWeek);
    EXPECT_EQ(plan[4].panes, 2);
    EXPECT_EQ(MultiStockPlan(list, list[3], 9, kPeriodDay).size(), 4u);
    EXPECT_EQ(MultiStockPlan(list, list[10], 16, kPeriodDay).size(), 1u);  // the last alone
    EXPECT_EQ(MultiStockPlan(list, list[0], 100, kPeriodDay).size(), 9u);  // 11 rounded down
    EXPECT_EQ(MultiStockPlan(list, list[0], 0, kPeriodDay).size(), 1u);
    CodeEntry stranger;
    stranger.id = MakeSecurityId(kMarketSZ, "000001");
    EXPECT_TRUE(SameSecurity(MultiStockPlan(list, stranger, 4, kPeriodDay).front().security.id, list[0].id));
    EXPECT_TRUE(MultiStockPlan({}, stranger, 4, kPeriodDay).empty());

    plan = MultiPeriodPlan(list[5], 16);
    ASSERT_EQ(plan.size(), 16u);
    EXPECT_EQ(plan[0].period, kPeriodTime);
    EXPECT_EQ(plan[1].period, kPeriodMin1);
    EXPECT_EQ(plan[6].period, kPeriodDay);
    EXPECT_EQ(plan[11].period, kPeriodMultiDay);
    EXPECT_EQ(plan[12].period, kPeriodTick);
    EXPECT_EQ(plan[13].period, kPeriodInvalid);
    EXPECT_EQ(plan[15].panes, 1);
    EXPECT_TRUE(SameSecurity(plan[15].security.id, list[5].id));
    EXPECT_EQ(MultiPeriodPlan(list[5], 3).size(), 1u);
    EXPECT_EQ(MultiPeriodPlan(list[5], 2).size(), 2u);
}

TEST_F(KLineContentTest, CopyDataListsTheShownBarsWithEveryIndicatorLine) {
    GraphPicture& p = view->picture(0);
    p.scale.first = 0;  // the first bars: MA's lines have no value yet
    view->Update(1);
    const std::string text = CopyDataText(p);
    std::vector<std::string> rows;
    for (size_t at = 0, end; (end = text.find("\r\n", at)) != std::string::npos; at = end + 2)
        rows.push_back(text.substr(at, end - at));
    ASSERT_EQ(rows.size(), static_cast<size_t>(p.scale.shown) + 1);
    EXPECT_EQ(rows[0], "时间\t开盘\t最高\t最低\t收盘\t成交量\t成交额\tMA.MA1\tMA.MA2\tMA.MA3\tMA.MA4");
    auto cells = [](const std::string& row) {
        std::vector<std::string> out;
        std::stringstream in(row);
        for (std::string cell; std::getline(in, cell, '\t');) out.push_back(cell);
        if (!row.empty() && row.back() == '\t') out.push_back("");
        return out;
    };
    const OutputLine& ma1 = p.panes[0].indicators[0].result->lines[0];
    for (int k : {0, 10}) {
        const std::vector<std::string> c = cells(rows[static_cast<size_t>(k) + 1]);
        ASSERT_EQ(c.size(), 11u) << rows[static_cast<size_t>(k) + 1];
        const KLineRecord& bar = bars_->bars[static_cast<size_t>(k)];
        EXPECT_EQ(c[0], FormatStoreTime("Y/M/D", bar.time));
        char want[32];
        std::snprintf(want, sizeof want, "%.2f", static_cast<double>(bar.close));
        EXPECT_EQ(c[4], want);
        if (ma1.valid(k)) {
            std::snprintf(want, sizeof want, "%.3f", static_cast<double>(ma1.points[static_cast<size_t>(k)].value));
            EXPECT_EQ(c[7], want);
        } else {
            EXPECT_EQ(c[7], "") << "no value before the window fills";
        }
    }
    EXPECT_TRUE(ma1.valid(10));
    EXPECT_FALSE(ma1.valid(0));
    // A picture without bars copies nothing.
    GraphPicture empty;
    EXPECT_EQ(CopyDataText(empty), "");
}

}  // namespace
}  // namespace tessaro::chart
