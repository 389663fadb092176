// Bringing lines of other series onto the evaluated bars.
#include <gtest/gtest.h>

#include <cmath>

#include "formula/evaluator_align.h"
#include "market/periods.h"
#include "platform/store_time.h"

namespace tessaro {
namespace {

Series Bars(Period period, std::initializer_list<StoreTime> times) {
    Series s;
    s.period = period;
    float close = 1;
    for (StoreTime t : times) {
        KLineRecord b;
        b.time = t;
        b.close = close++;
        s.push(b);
    }
    return s;
}

FormulaValue Line(std::initializer_list<float> v, int32_t begin = 0) {
    FormulaValue x = FormulaValue::MakeSeries(static_cast<int32_t>(v.size()), begin);
    x.values.assign(v);
    return x;
}

StoreTime At(int day, int hour, int minute) { return MakeStoreTime(2024, 3, day, hour, minute); }

TEST(EvaluatorAlign, CoarserPeriodDecidesTheBuckets) {
    EXPECT_EQ(AlignmentPeriod(kPeriodDay, kPeriodWeek), kPeriodWeek);
    EXPECT_EQ(AlignmentPeriod(kPeriodWeek, kPeriodDay), kPeriodWeek);
    EXPECT_EQ(AlignmentPeriod(kPeriodMin5, kPeriodDay), kPeriodDay);
    EXPECT_EQ(AlignmentPeriod(kPeriodDay, kPeriodMin1), kPeriodDay);
    EXPECT_EQ(AlignmentPeriod(kPeriodTime, kPeriodMin1), kPeriodTime);
    EXPECT_EQ(AlignmentPeriod(kPeriodMultiDay, kPeriodDay), kPeriodMultiDay);
    EXPECT_EQ(AlignmentPeriod(kPeriodYear, kPeriodQuarter), kPeriodYear);
}

TEST(EvaluatorAlign, DailyBarTakesTheLastFiveMinuteValueOfItsDay) {
    Series min5 = Bars(kPeriodMin5, {At(4, 14, 55), At(4, 15, 0), At(5, 9, 35), At(6, 9, 35), At(6, 15, 0)});
    Series days = Bars(kPeriodDay, {At(4, 0, 0), At(5, 0, 0), At(6, 0, 0), At(7, 0, 0)});
    FormulaValue out = AlignLine(Line({10, 11, 12, 13, 14}), min5, days, kPeriodDay, nullptr);
    ASSERT_EQ(out.count, 4);
    EXPECT_EQ(out.begin, 0);
    EXPECT_EQ(out.values[0], 11);
    EXPECT_EQ(out.values[1], 12);
    EXPECT_EQ(out.values[2], 14);
    EXPECT_EQ(out.values[3], 14);  // no bars that day: the previous point
}

TEST(EvaluatorAlign, FiveMinuteBarsShowTheirDaysValueAndBeginAtTheFirstMatch) {
    Series days = Bars(kPeriodDay, {At(5, 0, 0), At(6, 0, 0)});
    Series min5 = Bars(kPeriodMin5, {At(4, 15, 0), At(5, 9, 35), At(5, 9, 40), At(6, 9, 35), At(7, 9, 35)});
    FormulaValue out = AlignLine(Line({7, 8}), days, min5, kPeriodDay, nullptr);
    EXPECT_EQ(out.begin, 1);
    EXPECT_EQ(out.values[1], 7);
    EXPECT_EQ(out.values[2], 7);
    EXPECT_EQ(out.values[3], 8);
    EXPECT_EQ(out.values[4], 8);
}

TEST(EvaluatorAlign, MinuteBarsBelongToTheFiveMinuteBarLabelledAtTheEndOfTheirInterval) {
    Series min5 = Bars(kPeriodMin5, {At(4, 9, 35), At(4, 9, 40)});
    Series min1 = Bars(kPeriodMin1, {At(4, 9, 31), At(4, 9, 35), At(4, 9, 36), At(4, 9, 40), At(4, 9, 41)});
    FormulaValue out = AlignLine(Line({50, 60}), min5, min1, kPeriodMin5, nullptr);
    EXPECT_EQ(out.begin, 0);
    EXPECT_EQ(out.values[0], 50);
    EXPECT_EQ(out.values[1], 50);
    EXPECT_EQ(out.values[2], 60);
    EXPECT_EQ(out.values[3], 60);
    EXPECT_EQ(out.values[4], 60);  // 09:41 has no five-minute bar yet: repeated
}

TEST(EvaluatorAlign, InvalidSourcePointsAreNoMatch) {
    Series a = Bars(kPeriodDay, {At(4, 0, 0), At(5, 0, 0), At(6, 0, 0)});
    FormulaValue out = AlignLine(Line({1, 2, 3}, 2), a, a, kPeriodDay, nullptr);
    EXPECT_EQ(out.begin, 2);
    EXPECT_EQ(out.values[2], 3);
    FormulaValue none = AlignLine(Line({1, 2, 3}, 5), a, a, kPeriodDay, nullptr);
    EXPECT_EQ(none.validCount(), 0);
    // A source line shorter than its bars only offers the points it has.
    FormulaValue shortLine = Line({1});
    FormulaValue partial = AlignLine(shortLine, a, a, kPeriodDay, nullptr);
    EXPECT_EQ(partial.begin, 0);
    EXPECT_EQ(partial.values[2], 1);
}

TEST(EvaluatorAlign, ConstantsCoverEveryBarAndOtherValuesNone) {
    Series a = Bars(kPeriodDay, {At(4, 0, 0), At(5, 0, 0)});
    FormulaValue c = AlignLine(FormulaValue::Number(2.5f), a, a, kPeriodDay, nullptr);
    EXPECT_EQ(c.validCount(), 2);
    EXPECT_EQ(c.values[1], 2.5f);
    EXPECT_EQ(AlignLine(FormulaValue::String("X"), a, a, kPeriodDay, nullptr).validCount(), 0);
    EXPECT_EQ(AlignLine(FormulaValue{}, a, a, kPeriodDay, nullptr).validCount(), 0);
}

TEST(EvaluatorAlign, QuoteFieldsOfEachKind) {
    Series src;
    src.period = kPeriodDay;
    KLineRecord b;
    b.time = At(4, 0, 0);
    b.open = 1, b.high = 2, b.low = 3, b.close = 4, b.volume = 5, b.amount = 6;
    src.push(b);
    for (int field = 0; field <= 5; ++field) {
        FormulaValue out = AlignQuoteField(src, field, src, kPeriodDay, nullptr);
        ASSERT_EQ(out.validCount(), 1);
        EXPECT_EQ(out.values[0], field + 1.0f);
    }
}

TEST(EvaluatorAlign, DisorderedTimesNeitherCrashNorHang) {
    Series messy = Bars(kPeriodDay, {At(9, 0, 0), At(4, 0, 0), At(4, 0, 0), At(30, 0, 0), 0, 0xFFFFFFFFu});
    Series dst = Bars(kPeriodDay, {At(4, 0, 0), 0xFFFFFFFFu, At(9, 0, 0), At(4, 0, 0)});
    for (Period period : {kPeriodTick, kPeriodMin1, kPeriodMin5, kPeriodMin60, kPeriodDay, kPeriodWeek, kPeriodMonth,
                          kPeriodQuarter, kPeriodYear, kPeriodMultiDay, kPeriodTime}) {
        FormulaValue out = AlignLine(Line({1, 2, 3, 4, 5, 6}), messy, dst, period, nullptr);
        EXPECT_EQ(out.count, 4);
        FormulaValue q = AlignQuoteField(dst, 3, messy, period, nullptr);
        EXPECT_EQ(q.count, 6);
    }
}

}  // namespace
}  // namespace tessaro
