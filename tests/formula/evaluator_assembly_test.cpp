// Result assembly: every byte of every point, for every split of the valid range and the bars.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "formula/evaluator_internal.h"
#include "platform/store_time.h"

namespace tessaro {
namespace {

Series Bars(int n) {
    Series s;
    s.period = kPeriodDay;
    for (int i = 0; i < n; ++i) {
        KLineRecord b;
        b.time = MakeStoreTime(2024, 1, 1) + static_cast<StoreTime>(i) * kSecondsPerDay;
        s.push(b);
    }
    return s;
}

FormulaRecord WithLines(int n, uint16_t style = 1) {
    FormulaRecord f;
    f.instructions.push_back(Instruction{5, 0});  // any: only its presence matters here
    for (int i = 0; i < n; ++i) {
        OutputLineDesc d;
        d.style = style;
        f.outputs.push_back(d);
    }
    return f;
}

// Also when the columns move into the result rather than being copied (`take`): the points
// before the valid range read 0 either way.
TEST(EvaluatorAssembly, EveryPointIsWrittenWholeForEveryRangeSplit) {
    for (bool take : {false, true}) {
        for (int count = 0; count <= 13; ++count) {
            for (int bars = 0; bars <= count + 1; ++bars) {
                for (int begin = 0; begin <= count + 1; ++begin) {
                    Series s = Bars(bars);
                    FormulaValue v = FormulaValue::MakeSeries(count, begin);
                    for (int i = 0; i < count; ++i) v.values[i] = 100.0f + static_cast<float>(i);
                    std::vector<FormulaValue> lines;
                    lines.push_back(std::move(v));
                    auto r = eval::AssembleResult(WithLines(1), lines, s, 0, nullptr, take);
                    ASSERT_EQ(r->lineCount(), 1u);
                    const OutputLine& line = r->lines[0];
                    ASSERT_EQ(line.count, count);
                    EXPECT_EQ(line.begin, begin);
                    ASSERT_EQ(line.points.size(), static_cast<size_t>(count));
                    for (int i = 0; i < count; ++i) {
                        const LinePoint& p = line.points[i];
                        uint32_t wantTime = i < bars ? s.bars[i].time : 0;
                        float wantValue = i >= begin ? 100.0f + static_cast<float>(i) : 0.0f;
                        EXPECT_EQ(p.time, wantTime) << count << "/" << bars << "/" << begin << " at " << i;
                        EXPECT_EQ(p.value, wantValue) << count << "/" << bars << "/" << begin << " at " << i;
                        uint8_t rest[20];
                        std::memcpy(rest, reinterpret_cast<const char*>(&p) + 8, 20);
                        for (uint8_t b : rest) ASSERT_EQ(b, 0) << count << "/" << bars << "/" << begin << " at " << i;
                    }
                }
            }
        }
    }
}

TEST(EvaluatorAssembly, LinesFollowTheDescriptorsAndTheirStyles) {
    Series s = Bars(3);
    std::vector<FormulaValue> lines;
    lines.push_back(FormulaValue::Number(2));
    lines.push_back(FormulaValue::String("T"));
    lines.push_back(FormulaValue{});
    lines.push_back(FormulaValue::Number(9));  // no descriptor left for it
    auto r = eval::AssembleResult(WithLines(3, 0x0107), lines, s, 0);
    ASSERT_EQ(r->lineCount(), 3u);
    EXPECT_EQ(r->lines[0].count, 3);
    EXPECT_EQ(r->lines[0].points[2].value, 2.0f);
    EXPECT_EQ(r->lines[0].points[2].time, s.bars[2].time);
    EXPECT_TRUE(r->lines[1].empty());
    EXPECT_TRUE(r->lines[2].empty());
    for (const OutputLine& l : r->lines) EXPECT_EQ(l.drawKind, 7) << "the style's low byte";

    FormulaRecord special;  // no instructions: a special indicator keeps all its lines
    special.outputs.resize(1);
    auto all = eval::AssembleResult(special, lines, s, 0);
    EXPECT_EQ(all->lineCount(), 4u);
}

TEST(EvaluatorAssembly, FutureBarsAreCutAndDrawingFieldsCopied) {
    Series s = Bars(6);
    FormulaValue v = FormulaValue::MakeSeries(6, 1);
    v.drawing = std::make_unique<DrawingData>();
    v.drawing->drawKind = kDrawIcon;
    v.drawing->iconNumber = 4;
    v.drawing->iconFill = 1;
    v.drawing->value2 = {1, 2, 3, 4, 5, 6};
    v.drawing->int1 = {7, 8};  // shorter than the line: the rest reads 0
    std::vector<FormulaValue> lines;
    lines.push_back(std::move(v));
    // Market time on bar 1: bars 2..4 lie within three days, bar 5 beyond.
    auto r = eval::AssembleResult(WithLines(1), lines, s, s.bars[1].time);
    const OutputLine& line = r->lines[0];
    EXPECT_EQ(line.count, 5);
    EXPECT_EQ(line.drawKind, kDrawIcon);
    EXPECT_EQ(line.iconNumber, 4);
    EXPECT_EQ(line.iconFill, 1);
    EXPECT_EQ(line.points[0].value2, 0.0f) << "before the valid range";
    EXPECT_EQ(line.points[3].value2, 4.0f);
    EXPECT_EQ(line.points[1].int1, 8);
    EXPECT_EQ(line.points[2].int1, 0);
}

TEST(EvaluatorAssembly, LinesShareTheBarTimesButNotTheirEdits) {
    Series s = Bars(4);
    std::vector<FormulaValue> lines;
    for (int k = 0; k < 2; ++k) {
        FormulaValue v = FormulaValue::MakeSeries(4, 0);
        for (int i = 0; i < 4; ++i) v.values[i] = static_cast<float>(10 * k + i);
        lines.push_back(std::move(v));
    }
    auto r = eval::AssembleResult(WithLines(2), lines, s, 0);
    LinePoints a = r->lines[0].points;  // a copy: appending to it must leave the result alone
    a.push_back(LinePoint{77, 5.0f, 0, 0, 9, 0, {}});
    a.Edit(1).value2 = 3.5f;
    ASSERT_EQ(a.size(), 5u);
    EXPECT_EQ(a[4].time, 77u);
    EXPECT_EQ(a[4].int1, 9);
    EXPECT_EQ(a[1].value2, 3.5f);
    EXPECT_EQ(a[3].time, s.bars[3].time);
    for (const OutputLine& line : r->lines) {
        ASSERT_EQ(line.points.size(), 4u);
        EXPECT_FALSE(line.points.hasDrawing());
        EXPECT_EQ(line.points[3].time, s.bars[3].time);
    }
    EXPECT_FALSE(a == r->lines[0].points);

    // Equality is bitwise: a NaN point equals itself, 0 and -0 differ.
    LinePoints x, y;
    x.push_back(LinePoint{1, NAN, 0, 0, 0, 0, {}});
    y.push_back(LinePoint{1, NAN, 0, 0, 0, 0, {}});
    EXPECT_TRUE(x == y);
    x.Edit(0).value = 0.0f;
    y.Edit(0).value = -0.0f;
    EXPECT_FALSE(x == y);
}

}  // namespace
}  // namespace tessaro
