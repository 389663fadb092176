// The indicators computed by name (TENDV, ZDL, LCB&) and the dispatch point of the special
// indicators registered by the chart code.
#include "evaluator_test_support.h"

#include <stdexcept>

#include "formula/builtin_indicators.h"

namespace tessaro {
namespace {

using namespace testing_support;

FormulaRecord Named(const char* name, int lines) {
    FormulaRecord r;
    r.setName(name);
    for (int i = 0; i < lines; ++i) r.outputs.push_back(OutputLineDesc{});
    return r;
}

class BuiltinIndicators : public EvaluatorTest {
protected:
    CodeEntry stock = Security("SH600000");
    CodeEntry index = Security("SH000001", kClassIndex);
};

TEST_F(BuiltinIndicators, TradeVolumeComesFromEachBarsTradeData) {
    Series s = Ramp(3);
    s.trades[0].volume = 7;
    s.trades[2].volume = 9;
    s.trades.resize(2);  // the last bar carries no trade data
    auto r = RunOn(Named("tendv", 1), s, stock);
    ASSERT_NE(r, nullptr);
    ASSERT_EQ(r->lineCount(), 1u);
    EXPECT_EQ(Values(r->lines[0]), (std::vector<float>{7, 0, 0}));
}

TEST_F(BuiltinIndicators, AdvanceDeclineScalesTheDifferenceAroundTheMiddle) {
    Series s = Ramp(3);
    const uint16_t up[] = {10, 30, 20}, down[] = {20, 10, 20};
    for (int i = 0; i < 3; ++i) {
        s.bars[i].count1 = up[i];
        s.bars[i].count2 = down[i];
    }
    auto r = RunOn(Named("ZDL", 3), s, index);
    ASSERT_NE(r, nullptr);
    ASSERT_EQ(r->lineCount(), 3u);
    EXPECT_EQ(Values(r->lines[0]), (std::vector<float>{10, 30, 20}));
    EXPECT_EQ(Values(r->lines[1]), (std::vector<float>{20, 10, 20}));
    // lo 10, hi 30, mid 20; largest difference 20: scale 0.8 * 20 / 20.
    std::vector<float> diff = Values(r->lines[2]);
    EXPECT_FLOAT_EQ(diff[0], -10 * 0.8f + 20);
    EXPECT_FLOAT_EQ(diff[1], 20 * 0.8f + 20);
    EXPECT_FLOAT_EQ(diff[2], 20);
    EXPECT_EQ(r->lines[2].hasBase, 1);
    EXPECT_FLOAT_EQ(r->lines[2].baseValue, 20);
    EXPECT_EQ(r->lines[0].hasBase, 0);
}

TEST_F(BuiltinIndicators, AdvanceDeclineWithoutDifferenceAndOnAStock) {
    Series s = Ramp(2);
    for (auto& b : s.bars) b.count1 = b.count2 = 40;
    auto r = RunOn(Named("ZDL", 3), s, index);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(Values(r->lines[2]), (std::vector<float>{40, 40}));
    EXPECT_EQ(RunOn(Named("ZDL", 3), s, stock), nullptr) << "a stock's counts are no market breadth";
}

// Bar 0 spreads its share over the whole range; bar 1 trades half of the float at the low;
// bar 2 trades all of it at the high.
Series ChipBars() {
    Series s;
    s.period = kPeriodDay;
    auto add = [&](float low, float high, float close, float volume, float capital) {
        KLineRecord b;
        b.time = MakeStoreTime(2024, 1, 1) + static_cast<StoreTime>(s.size()) * kSecondsPerDay;
        b.low = low;
        b.high = high;
        b.open = close;
        b.close = close;
        b.volume = volume;
        size_t i = s.push(b);
        s.capital[i].circulating = capital;
    };
    add(10, 20, 15, 0, 100);
    add(10, 10, 12, 50, 100);
    add(20, 20, 25, 100, 100);
    add(20, 20, 0, 10, 100);
    add(15, 15, 30, 10, 0);
    return s;
}

TEST_F(BuiltinIndicators, ProfitRatioFollowsTheChipDistribution) {
    Series s = ChipBars();
    auto r = RunOn(Named("LCB&", 2), s, stock);
    ASSERT_NE(r, nullptr);
    ASSERT_EQ(r->lineCount(), 2u);
    std::vector<float> v = Values(r->lines[0]);
    ASSERT_EQ(v.size(), 5u);
    EXPECT_FLOAT_EQ(v[0], 0);                        // (1 - 15 / 15) * 100
    EXPECT_NEAR(v[1], (1 - 10.0 / 12) * 100, 1e-3);  // what is left of bar 0's share is left out
    const double top = 10 + 499 * 10.0 / 500;        // the highest step's price
    EXPECT_NEAR(v[2], (1 - top / 25) * 100, 1e-3);
    EXPECT_FLOAT_EQ(v[3], -100);                     // a close of 0
    EXPECT_NEAR(v[4], (1 - top / 30) * 100, 1e-3);   // no capital: nothing changes hands
    EXPECT_EQ(r->lines[1].validCount(), 0);
}

TEST_F(BuiltinIndicators, ProfitRatioSurvivesUnusablePrices) {
    Series s = ChipBars();
    s.bars[1].low = NAN;
    s.bars[2].high = INFINITY;
    s.capital[3].circulating = NAN;
    auto r = RunOn(Named("LCB&", 1), s, stock);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->lines[0].count, 5);

    Series flat = Ramp(4);
    for (auto& b : flat.bars) b.low = b.high = 5;  // no price range at all
    r = RunOn(Named("LCB&", 1), flat, stock);
    ASSERT_NE(r, nullptr);
    for (float x : Values(r->lines[0])) EXPECT_TRUE(std::isfinite(x));

    Series nothing = Ramp(3);
    for (auto& b : nothing.bars) b.low = b.high = NAN;
    r = RunOn(Named("LCB&", 1), nothing, stock);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->lines[0].validCount(), 0);

    Series none;
    none.period = kPeriodDay;
    r = RunOn(Named("LCB&", 1), none, stock);
    ASSERT_NE(r, nullptr);
    EXPECT_TRUE(r->lines[0].empty());
}

TEST_F(BuiltinIndicators, SpecialIndicatorsAnswerOnlyOnceRegistered) {
    SpecialIndicatorRegistry specials;
    FormulaEvaluator ev(set, data, &specials);
    Series s = Ramp(4);
    FormulaRecord cmfb = Named("#CMFB", 2);
    EXPECT_EQ(ev.Evaluate(cmfb, stock, &s, kPeriodDay), nullptr);

    int marker = 0;
    specials.Register("#cmfb", [&](SpecialIndicatorCall& call) {
        EXPECT_EQ(call.windowFrom, 100u);
        EXPECT_EQ(call.windowTo, 200u);
        EXPECT_EQ(call.context, &marker);
        EXPECT_EQ(call.series->size(), 4u);
        call.lines->push_back(FormulaValue::Number(1));
        call.lines->push_back(FormulaValue::Number(2));
        call.lines->push_back(FormulaValue::Number(3));
        return true;
    });
    auto r = ev.Evaluate(cmfb, stock, &s, kPeriodDay, 0, 100, 200, &marker);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->lineCount(), 3u) << "more lines than descriptors are kept";
    EXPECT_FLOAT_EQ(r->lines[2].points[3].value, 3);

    specials.Register("#CMFB", [](SpecialIndicatorCall&) { return false; });
    EXPECT_EQ(ev.Evaluate(cmfb, stock, &s, kPeriodDay), nullptr);
    specials.Register("#CMFB", [](SpecialIndicatorCall&) -> bool { throw std::runtime_error("broken"); });
    EXPECT_EQ(ev.Evaluate(cmfb, stock, &s, kPeriodDay), nullptr) << "a throwing indicator is no result";
    EXPECT_NE(ev.Evaluate(Named("TENDV", 1), stock, &s, kPeriodDay), nullptr) << "and the context still works";
    specials.Unregister("#CMFB");
    EXPECT_EQ(ev.Evaluate(cmfb, stock, &s, kPeriodDay), nullptr);
    EXPECT_EQ(CapitalFlowIndicatorNames().size(), 12u);
}

TEST_F(BuiltinIndicators, LinesTheChartsDrawThemselvesHaveNoResult) {
    Series s = Ramp(4);
    for (const char* name : {"K", "PRICE", "TEND", "BAR", ""})
        EXPECT_EQ(RunOn(Named(name, 1), s, stock), nullptr) << name;
}

TEST_F(BuiltinIndicators, BuiltinNamesMatchWithoutRegardToCase) {
    EXPECT_EQ(FindBuiltinIndicator("Tendv"), BuiltinIndicator::kTradeVolume);
    EXPECT_EQ(FindBuiltinIndicator("zdl"), BuiltinIndicator::kAdvanceDecline);
    EXPECT_EQ(FindBuiltinIndicator("lcb&"), BuiltinIndicator::kProfitRatio);
    EXPECT_EQ(FindBuiltinIndicator("LCB"), BuiltinIndicator::kNone);
}

}  // namespace
}  // namespace tessaro
