// Formula and stock references: arguments, line choice, failures that leave an empty line,
// other securities and periods brought onto the evaluated bars, and the caches.
#include "evaluator_test_support.h"

#include <atomic>

namespace tessaro {
namespace {

using namespace testing_support;

// Counts the series loads of the wrapped source.
class CountingData : public EvalDataSource {
public:
    explicit CountingData(EvalDataSource& inner) : inner_(inner) {}
    std::optional<CodeEntry> FindSecurity(const SecurityId& id) const override { return inner_.FindSecurity(id); }
    std::optional<CodeEntry> MarketIndex(const CodeEntry& s) const override { return inner_.MarketIndex(s); }
    std::optional<CodeEntry> CategoryIndex(const CodeEntry& s, std::string_view c) const override {
        return inner_.CategoryIndex(s, c);
    }
    bool LoadSeries(const SecurityId& id, Period period, int options, Series& out) const override {
        ++loads;
        return inner_.LoadSeries(id, period, options, out);
    }
    std::optional<double> QuoteFieldValue(const CodeEntry& s, int f) const override { return inner_.QuoteFieldValue(s, f); }
    bool LoadFinance(const CodeEntry& s, FinanceBlock& out) const override { return inner_.LoadFinance(s, out); }
    StoreTime CurrentMarketTime() const override { return inner_.CurrentMarketTime(); }

    mutable std::atomic<int> loads{0};

private:
    EvalDataSource& inner_;
};

class EvaluatorReferences : public EvaluatorTest {
protected:
    void SetUp() override {
        Add(stock, Ramp(20, 10));
        Define("R", "Y:MA(C,M);", {Param("M", 2)});
        Define("R2", "P:C; Q:O;");
    }
    CodeEntry stock = Security("SH600000");
};

TEST_F(EvaluatorReferences, DifferentArgumentsGiveDifferentLines) {
    auto r = Run(Formula("T", "A:\"R.Y\"(3); B:\"R.Y\"(5); D:\"R.Y\"; E:STKINDI('SH600000','R.Y',4);"), stock);
    ASSERT_NE(r, nullptr);
    ASSERT_EQ(r->lineCount(), 4u);
    EXPECT_EQ(r->lines[0].begin, 2);
    EXPECT_EQ(r->lines[1].begin, 4);
    EXPECT_EQ(r->lines[2].begin, 1);
    EXPECT_EQ(r->lines[3].begin, 3);
    EXPECT_FLOAT_EQ(r->lines[0].points[10].value, 19);    // (18 + 19 + 20) / 3
    EXPECT_FLOAT_EQ(r->lines[1].points[10].value, 18);    // (16 .. 20) / 5
    EXPECT_FLOAT_EQ(r->lines[2].points[10].value, 19.5f);
    EXPECT_FLOAT_EQ(r->lines[3].points[10].value, 18.5f);
}

TEST_F(EvaluatorReferences, DeletedFormulaGivesAnEmptyLineWhileTheOthersEvaluate) {
    FormulaRecord f = Formula("T", "A:\"R.Y\"(3)+1; B:C; D:\"R2.P\";");
    set.Remove(kFormulaSubPane, "R");
    auto r = Run(f, stock);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->lines[0].count, 20);
    EXPECT_EQ(r->lines[0].validCount(), 0);
    EXPECT_EQ(r->lines[1].validCount(), 20);
    EXPECT_FLOAT_EQ(r->lines[2].points[5].value, 15);
}

TEST_F(EvaluatorReferences, FormulaChangedSinceCompilationGivesEmptyLines) {
    FormulaRecord f = Formula("T", "A:\"R.Y\"(3); B:\"R2.Q\"; D:C;");
    Define("R", "Y:MA(C,M+K);", {Param("M", 2), Param("K", 1)});  // now two parameters
    Define("R2", "P:C;");                                         // Q is gone
    auto r = Run(f, stock);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->lines[0].validCount(), 0);
    EXPECT_EQ(r->lines[1].validCount(), 0);
    EXPECT_EQ(r->lines[2].validCount(), 20);
}

TEST_F(EvaluatorReferences, LineByNameOrTheLastLine) {
    auto r = Run(Formula("T", "A:\"R2\"; B:\"R2.P\"; D:\"r2.q\";"), stock);
    ASSERT_NE(r, nullptr);
    EXPECT_FLOAT_EQ(r->lines[0].points[0].value, 9.5f);  // the open: the last line
    EXPECT_FLOAT_EQ(r->lines[1].points[0].value, 10);
    EXPECT_FLOAT_EQ(r->lines[2].points[0].value, 9.5f);
}

TEST_F(EvaluatorReferences, DoubleHashReferenceIsAnEmptySeries) {
    auto r = Run(Formula("T", "A:\"R.Y##WEEK\"; B:C;"), stock);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->lines[0].count, 20);
    EXPECT_EQ(r->lines[0].validCount(), 0);
}

TEST_F(EvaluatorReferences, OtherSecurityIsAlignedByDayAndRepeatsOverGaps) {
    // The other security trades on days 0, 1, 3, 4, 8 .. 19 of the evaluated calendar, from day 2 on.
    Series other;
    other.period = kPeriodDay;
    Series ramp = Ramp(20, 100);
    for (size_t i = 2; i < 20; ++i)
        if (i != 2 && i != 5 && i != 6 && i != 7) other.push(ramp.bars[i]);
    Add(Security("SZ000002"), other);
    auto r = Run(Formula("T", "A:\"SZ000002$CLOSE\"; B:STKINDI('SZ000002','R.Y',1); D:\"sz000002$v\";"), stock);
    ASSERT_NE(r, nullptr);
    const OutputLine& a = r->lines[0];
    EXPECT_EQ(a.begin, 3);
    EXPECT_FLOAT_EQ(a.points[3].value, 103);
    EXPECT_FLOAT_EQ(a.points[4].value, 104);
    EXPECT_FLOAT_EQ(a.points[5].value, 104);  // no bar on days 5..7: the previous point
    EXPECT_FLOAT_EQ(a.points[7].value, 104);
    EXPECT_FLOAT_EQ(a.points[8].value, 108);
    EXPECT_EQ(a.points[8].time, MakeStoreTime(2024, 1, 9));  // stamped with the evaluated bar
    // The other security's own formula line, one-bar average = its close.
    EXPECT_EQ(r->lines[1].begin, 3);
    EXPECT_FLOAT_EQ(r->lines[1].points[6].value, 104);
    EXPECT_FLOAT_EQ(r->lines[2].points[9].value, 109);  // volume 100 + 9
}

TEST_F(EvaluatorReferences, UnknownSecurityGivesAnEmptyLine) {
    auto r = Run(Formula("T", "A:\"SZ399999$C\"; B:STKINDI('SH688000','R.Y'); D:C;"), stock);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->lines[0].validCount(), 0);
    EXPECT_EQ(r->lines[1].validCount(), 0);
    EXPECT_EQ(r->lines[2].validCount(), 20);
}

TEST_F(EvaluatorReferences, WeeklyLineShowsItsWeekOnEveryDay) {
    // 2024-01-01 is a Monday: days 0..6 are one week (to Sunday 01-07), days 7..13 the next;
    // a Sunday bar belongs to the week it ends, as the weekly bars are grouped.
    auto r = Run(Formula("T", "A:\"R.Y#WEEK\"(1); B:\"R2.P#WEEK\";"), stock);
    ASSERT_NE(r, nullptr);
    const OutputLine& a = r->lines[0];
    EXPECT_EQ(a.begin, 0);
    for (int i = 0; i <= 6; ++i) EXPECT_FLOAT_EQ(a.points[i].value, 16) << i;   // the week's close
    for (int i = 7; i <= 13; ++i) EXPECT_FLOAT_EQ(a.points[i].value, 23) << i;
    EXPECT_FLOAT_EQ(a.points[19].value, 29);
    EXPECT_EQ(r->lines[1].begin, 0);
    EXPECT_FLOAT_EQ(r->lines[1].points[7].value, 23);
}

TEST_F(EvaluatorReferences, IndexWordsReachTheSecuritysIndexes) {
    CodeEntry index = Security("SH000001", kClassIndex);
    CodeEntry industry = Security("$$880001", kClassIndex);
    Add(index, Ramp(20, 3000));
    Add(industry, Ramp(20, 500));
    data.SetMarketIndex(kMarketSH, index.id);
    data.SetCategoryIndex(stock.id, Utf8ToGbk("行业"), industry.id);
    auto r = Run(Formula("T", "A:STKINDI('大盘指数','R2.P'); B:STKINDI('行业指数','R2.P'); D:STKINDI('概念指数','R2.P');"),
                 stock);
    ASSERT_NE(r, nullptr);
    EXPECT_FLOAT_EQ(r->lines[0].points[3].value, 3003);
    EXPECT_FLOAT_EQ(r->lines[1].points[3].value, 503);
    EXPECT_EQ(r->lines[2].validCount(), 0);  // no concept block holds the security
}

TEST_F(EvaluatorReferences, ConstantLineOfAnotherSecurityCoversEveryBar) {
    Define("K5", "Y:5;");
    Add(Security("SZ000002"), Ramp(3, 50));
    auto r = Run(Formula("T", "A:STKINDI('SZ000002','K5.Y'); B:\"K5.Y\"+C;"), stock);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->lines[0].validCount(), 20);
    EXPECT_FLOAT_EQ(r->lines[0].points[19].value, 5);
    EXPECT_FLOAT_EQ(r->lines[1].points[1].value, 16);
}

TEST_F(EvaluatorReferences, SeriesAndReferencedFormulasAreComputedOncePerEvaluation) {
    CountingData counting(data);
    SpecialIndicatorRegistry specials;
    std::atomic<int> runs{0};
    specials.Register("CNT", [&](SpecialIndicatorCall& call) {
        ++runs;
        call.lines->push_back(FormulaValue::Number(static_cast<float>(call.series->size())));
        return true;
    });
    FormulaRecord cnt;
    cnt.setName("CNT");
    OutputLineDesc y;
    y.setName("Y");
    cnt.outputs.push_back(y);
    set.Put(cnt);
    CodeEntry index = Security("SH000001", kClassIndex);
    Add(index, Ramp(20, 3000));
    data.SetMarketIndex(kMarketSH, index.id);
    Add(Security("SZ000002"), Ramp(20, 50));

    FormulaEvaluator ev(set, counting, &specials);
    FormulaRecord f = Formula("T",
                              "A:\"CNT.Y\"; B:\"CNT.Y\"+1; D:STKINDI('SH600000','CNT.Y'); E:\"R.Y\"(3)+\"R.Y\"(3); "
                              "F:\"SZ000002$C\"+\"SZ000002$O\"+STKINDI('SZ000002','R.Y'); G:INDEXC+INDEXO;");
    auto r = ev.Evaluate(f, stock, nullptr, kPeriodDay);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(runs.load(), 1);
    EXPECT_EQ(counting.loads.load(), 3);  // the stock, SZ000002 and the index, each once
    EXPECT_FLOAT_EQ(r->lines[0].points[0].value, 20);
    EXPECT_FLOAT_EQ(r->lines[5].points[2].value, 3002 + 3001.5f);
    // A new evaluation computes afresh.
    ev.Evaluate(f, stock, nullptr, kPeriodDay);
    EXPECT_EQ(runs.load(), 2);
}

TEST_F(EvaluatorReferences, SameSeriesReferenceIsAnExactCopy) {
    auto r = Run(Formula("T", "A:\"R.Y\"(3); B:MA(C,3);"), stock);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->lines[0].begin, r->lines[1].begin);
    for (int i = 0; i < 20; ++i) EXPECT_EQ(r->lines[0].points[i].value, r->lines[1].points[i].value);
}

}  // namespace
}  // namespace tessaro
