// Evaluation of whole formulas: applicability, slots, valid ranges and result assembly.
#include "evaluator_test_support.h"

#include "formula/opcodes.h"

namespace tessaro {
namespace {

using namespace testing_support;

class EvaluatorBasics : public EvaluatorTest {
protected:
    CodeEntry stock = Security("SH600000");
    CodeEntry index = Security("SH000001", kClassIndex);
};

TEST_F(EvaluatorBasics, UsageFlagsRefusePeriodsAndSecurityClasses) {
    Add(stock, Ramp(5));
    Add(index, Ramp(5));
    FormulaRecord f = Formula("T", "A:C;");
    ASSERT_NE(Run(f, stock), nullptr);

    f.setPeriodDisabled(kPeriodDay, true);
    EXPECT_EQ(Run(f, stock), nullptr);
    EXPECT_EQ(Run(f, stock, kPeriodWeek) == nullptr, false) << "only the day period is disabled";

    FormulaRecord g = Formula("U", "A:C;");
    g.usageFlags = kUsageNotForIndexes;
    EXPECT_EQ(Run(g, index), nullptr);
    EXPECT_NE(Run(g, stock), nullptr);
    g.usageFlags = kUsageNotForOthers;
    EXPECT_NE(Run(g, index), nullptr);
    EXPECT_EQ(Run(g, stock), nullptr);
}

TEST_F(EvaluatorBasics, MovingAverageLongerThanTheSeriesHasNoValidPoints) {
    Add(stock, Ramp(3));
    auto r = Run(Formula("T", "A:MA(C,5);"), stock);
    ASSERT_NE(r, nullptr);
    ASSERT_EQ(r->lineCount(), 1u);
    EXPECT_EQ(r->lines[0].count, 3);
    EXPECT_EQ(r->lines[0].begin, 4);
    EXPECT_EQ(r->lines[0].validCount(), 0);
}

TEST_F(EvaluatorBasics, ConstantLineHasOnePointPerBarStampedWithItsTime) {
    Series bars = Ramp(4);
    Add(stock, bars);
    auto r = Run(Formula("T", "A:5;"), stock);
    ASSERT_NE(r, nullptr);
    const OutputLine& line = r->lines[0];
    ASSERT_EQ(line.count, 4);
    EXPECT_EQ(line.begin, 0);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(line.points[i].time, bars.bars[i].time);
        EXPECT_EQ(line.points[i].value, 5.0f);
    }
}

TEST_F(EvaluatorBasics, ConstantLineWithoutBarsIsOnePoint) {
    Series none;
    none.period = kPeriodDay;
    auto r = RunOn(Formula("T", "A:5;B:C;"), none, stock);
    ASSERT_NE(r, nullptr);
    ASSERT_EQ(r->lines[0].count, 1);
    EXPECT_EQ(r->lines[0].points[0].value, 5.0f);
    EXPECT_EQ(r->lines[0].points[0].time, 0u);
    EXPECT_EQ(r->lines[1].count, 0);
    EXPECT_TRUE(r->lines[1].empty());
}

TEST_F(EvaluatorBasics, OrKeepsTheEarlierBeginOfEitherSide) {
    // C>O is valid from bar 0, REF(C,10)<C only from bar 10.
    Add(stock, Ramp(15));
    auto r = Run(Formula("T", "A:C>O OR REF(C,10)>C;"), stock);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->lines[0].begin, 0);
    EXPECT_EQ(r->lines[0].count, 15);
    EXPECT_EQ(r->lines[0].points[0].value, 1.0f);
    auto both = Run(Formula("U", "A:C>O AND REF(C,10)>C;"), stock);
    EXPECT_EQ(both->lines[0].begin, 10);
}

TEST_F(EvaluatorBasics, AdvanceOnAStockHasNoResultAtAll) {
    Add(stock, Ramp(5));
    EXPECT_EQ(Run(Formula("T", "A:ADVANCE;"), stock), nullptr);
    Add(index, Ramp(5));
    EXPECT_NE(Run(Formula("T", "A:ADVANCE;"), index), nullptr);
}

TEST_F(EvaluatorBasics, HiddenStatementsAndParametersAreNoLines) {
    Add(stock, Ramp(10));
    FormulaRecord f = Formula("T", "X:=C*2; Y:X+N; Z:=Y; W:Z-X;", {Param("N", 3)});
    auto r = Run(f, stock);
    ASSERT_NE(r, nullptr);
    ASSERT_EQ(r->lineCount(), 2u);
    EXPECT_FLOAT_EQ(r->lines[0].points[4].value, 14 * 2 + 3);
    EXPECT_FLOAT_EQ(r->lines[1].points[4].value, 3);
}

TEST_F(EvaluatorBasics, ParameterDefaultsDriveTheFormula) {
    Add(stock, Ramp(10));
    FormulaRecord f = Formula("T", "A:MA(C,N);", {Param("N", 2)});
    auto two = Run(f, stock);
    f.params[0].defaultValue = 4;
    auto four = Run(f, stock);
    ASSERT_TRUE(two && four);
    EXPECT_EQ(two->lines[0].begin, 1);
    EXPECT_EQ(four->lines[0].begin, 3);
    EXPECT_FLOAT_EQ(four->lines[0].points[3].value, (10 + 11 + 12 + 13) / 4.0f);
}

TEST_F(EvaluatorBasics, LinesTakeTheirDescriptorStyleAndStayInDescriptorOrder) {
    Add(stock, Ramp(5));
    auto r = Run(Formula("T", "A:C,COLORSTICK; B:O; C1:H,POINTDOT;"), stock);
    ASSERT_NE(r, nullptr);
    ASSERT_EQ(r->lineCount(), 3u);
    EXPECT_EQ(r->lines[0].drawKind, 3);
    EXPECT_EQ(r->lines[1].drawKind, 1);
    EXPECT_EQ(r->lines[2].drawKind, 8);
    EXPECT_FLOAT_EQ(r->lines[0].points[2].value, 12);
    EXPECT_FLOAT_EQ(r->lines[1].points[2].value, 11.5f);
    EXPECT_FLOAT_EQ(r->lines[2].points[2].value, 13);
}

TEST_F(EvaluatorBasics, PointsBeforeTheValidRangeHoldNothing) {
    Add(stock, Ramp(6));
    auto r = Run(Formula("T", "A:MA(C,3);"), stock);
    ASSERT_NE(r, nullptr);
    const OutputLine& line = r->lines[0];
    ASSERT_EQ(line.begin, 2);
    EXPECT_EQ(line.points[0].value, 0.0f);
    EXPECT_EQ(line.points[1].value, 0.0f);
    EXPECT_FLOAT_EQ(line.points[2].value, 11);
    for (const LinePoint& p : line.points) {
        EXPECT_EQ(p.value2, 0.0f);
        EXPECT_EQ(p.int1, 0);
    }
}

TEST_F(EvaluatorBasics, BarsFarBeyondTheMarketTimeAreCut) {
    Series bars = Ramp(10);  // one bar a day from 2024-01-01
    Add(stock, bars);
    // Bars up to three days after the market time stay; the first later one and all after go.
    data.SetMarketTime(bars.bars[4].time);
    auto r = Run(Formula("T", "A:C;B:5;"), stock);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->lines[0].count, 8);
    data.SetMarketTime(bars.bars[0].time - 10 * kSecondsPerDay);
    r = Run(Formula("T", "A:C;"), stock);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->lines[0].count, 0);
    EXPECT_TRUE(r->lines[0].points.empty());
}

TEST_F(EvaluatorBasics, StringStatementGivesAnEmptyLineButCountsAsALine) {
    Add(stock, Ramp(4));
    FormulaRecord f = Formula("T", "A:C; B:O;");
    // Replace B's value by a string push, as a drawing text argument would be.
    f.stringPool = "HELLO\t";
    f.instructions[2] = Instruction{opcode::kPushString, 0};
    auto r = Run(f, stock);
    ASSERT_NE(r, nullptr);
    ASSERT_EQ(r->lineCount(), 2u);
    EXPECT_EQ(r->lines[0].count, 4);
    EXPECT_TRUE(r->lines[1].empty());
}

TEST_F(EvaluatorBasics, NoSeriesMeansNoResult) {
    EXPECT_EQ(Run(Formula("T", "A:C;"), Security("SH600999")), nullptr);
    Add(stock, Ramp(3));
    EXPECT_EQ(Run(Formula("T", "A:C;"), stock, static_cast<Period>(99)), nullptr) << "an invalid period";
    EXPECT_EQ(Run(Formula("T", "A:C;"), stock, kPeriodMin5), nullptr) << "day bars make no 5-minute series";
}

TEST_F(EvaluatorBasics, PreloadedSeriesPeriodWinsOverTheAskedPeriod) {
    Series week = Ramp(4);
    week.period = kPeriodWeek;
    FormulaRecord f = Formula("T", "A:C;");
    f.setPeriodDisabled(kPeriodWeek, true);
    EXPECT_EQ(evaluator.Evaluate(f, stock, &week, kPeriodDay), nullptr);
    f.setPeriodDisabled(kPeriodWeek, false);
    auto r = evaluator.Evaluate(f, stock, &week, kPeriodDay);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->lines[0].count, 4);
}

TEST_F(EvaluatorBasics, UnknownFormulaTypeWithInstructionsHasNoResult) {
    Add(stock, Ramp(3));
    FormulaRecord f = Formula("T", "A:C;");
    f.type = 6;
    EXPECT_EQ(Run(f, stock), nullptr);
}

TEST_F(EvaluatorBasics, DrawingDataReachesTheLinesAndTheirPoints) {
    Add(stock, Ramp(5));
    auto r = Run(Formula("T", "A:DRAWTEXT(C>O,L,'BUY'); B:STICKLINE(C>O,C,O,8,501); D:C;"), stock);
    ASSERT_NE(r, nullptr);
    const OutputLine& text = r->lines[0];
    EXPECT_EQ(text.drawKind, kDrawText);
    EXPECT_EQ(text.text, "BUY");
    ASSERT_EQ(text.count, 5);
    EXPECT_EQ(text.points[2].value, 1.0f);
    EXPECT_FLOAT_EQ(text.points[2].value2, 11);  // the low
    const OutputLine& stick = r->lines[1];
    EXPECT_EQ(stick.drawKind, kDrawStick);
    EXPECT_FLOAT_EQ(stick.points[3].value2, 13);
    EXPECT_FLOAT_EQ(stick.points[3].value3, 12.5f);
    EXPECT_EQ(static_cast<uint32_t>(stick.points[3].int1), 8u | 0x80000000u);
    EXPECT_EQ(stick.points[3].int2, 500);
    EXPECT_EQ(r->lines[2].drawKind, 1);
    EXPECT_EQ(r->lines[2].points[3].value2, 0.0f);
}

TEST_F(EvaluatorBasics, QuoteColumnsSharedBetweenUsesKeepTheirValues) {
    // CLOSE is computed once and lent; storing it moves it out; later uses compute it again.
    Add(stock, Ramp(8, 10));
    auto r = Run(Formula("T", "A:C; B:C*2; X:=C; D:X+C; E:MAX(C,C)-ABS(C); F:C; G:REF(C,1)+O;"), stock);
    ASSERT_NE(r, nullptr);
    ASSERT_EQ(r->lineCount(), 6u);
    for (int i = 1; i < 8; ++i) {
        float c = 10.0f + static_cast<float>(i);
        EXPECT_FLOAT_EQ(r->lines[0].points[i].value, c);
        EXPECT_FLOAT_EQ(r->lines[1].points[i].value, 2 * c);
        EXPECT_FLOAT_EQ(r->lines[2].points[i].value, 2 * c);
        EXPECT_FLOAT_EQ(r->lines[3].points[i].value, 0);
        EXPECT_FLOAT_EQ(r->lines[4].points[i].value, c);
        EXPECT_FLOAT_EQ(r->lines[5].points[i].value, (c - 1) + (c - 0.5f));
    }
}

TEST_F(EvaluatorBasics, ReusedEvaluatorGivesTheSameResultsForOtherSecurities) {
    // The pool hands columns of one evaluation to the next: stale values must never leak.
    CodeEntry other = Security("SZ000001");
    Add(stock, Ramp(50, 10));
    Add(other, Ramp(30, 100, -1));
    FormulaRecord f = Formula("T", "X:=EMA(C,5); A:X-MA(C,10); B:ABS(X);");
    auto first = Run(f, other);
    for (int round = 0; round < 3; ++round) {
        auto a = Run(f, stock);
        auto b = Run(f, other);
        ASSERT_TRUE(a && b && first);
        ASSERT_EQ(b->lines[0].count, 30);
        EXPECT_EQ(Values(b->lines[0]).size(), Values(first->lines[0]).size());
        for (int i = 0; i < 30; ++i) {
            EXPECT_EQ(b->lines[0].points[i].value, first->lines[0].points[i].value) << i;
            EXPECT_EQ(b->lines[1].points[i].value, first->lines[1].points[i].value) << i;
        }
        EXPECT_EQ(a->lines[0].count, 50);
    }
}

}  // namespace
}  // namespace tessaro
