// A combined condition and its equivalent text formula give equal output on a generated
// market: the condition compiles to its own instruction list, the text twin is compiled from
// formula text written by hand, and the evaluator runs both over every security's bars.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "evaluator_test_support.h"
#include "formula/condition.h"
#include "market/base_files.h"
#include "market/demo_market.h"
#include "market/market_store.h"
#include "market/series_loader.h"
#include "test_support/temp_dir.h"

namespace tessaro {
namespace {

using namespace testing_support;

// One generated market for the whole file, loaded the way the client loads it.
struct Market {
    TempDir dir;
    SettingsStore settings;
    std::unique_ptr<AppPaths> paths;
    std::unique_ptr<MarketStore> store;
    std::unique_ptr<StoreSeriesSource> source;
    std::unique_ptr<StoreEvalData> data;
    std::vector<DemoSecurity> securities;
    std::string error;

    Market() {
        DemoMarketOptions options;
        options.outDir = dir.path();
        options.securities = 12;
        options.days = 250;
        options.seed = 11;
        if (!GenerateDemoMarket(options, nullptr, &error)) return;
        paths = std::make_unique<AppPaths>(dir.path());
        store = std::make_unique<MarketStore>(*paths, settings);
        AppPaths p = *paths;
        store->SetBaseFileLoader([p](MarketStore& s) { LoadBaseFiles(s, p); });
        if (!store->LoadAll(&error)) {
            store.reset();
            return;
        }
        source = std::make_unique<StoreSeriesSource>(*store, *paths);
        data = std::make_unique<StoreEvalData>(*store, *source);
        securities = DemoSecurities(options.securities);
    }
};

class ConditionTwins : public ::testing::Test {
protected:
    static void SetUpTestSuite() { market_ = new Market(); }
    static void TearDownTestSuite() {
        delete market_;
        market_ = nullptr;
    }

    void SetUp() override {
        ASSERT_TRUE(market_->data) << market_->error;
        set.Put(MakeFormula(set, "MA2L", "MA1:MA(C,N1); MA2:MA(C,N2);", {Param("N1", 5), Param("N2", 10)}));
        set.Put(MakeFormula(set, "OSC", "OSC:(C-MA(C,N))/MA(C,N)*100;", {Param("N", 12)}));
        set.Put(MakeFormula(set, "UPDAY", "X:C>O AND V>REF(V,1);", {}, kFormulaSelection));
    }

    FormulaRecord Combined(const std::vector<Condition>& conditions, uint32_t joiner = kJoinerAll) {
        FormulaRecord r;
        r.type = kFormulaCombined;
        r.setName("COMBO");
        r.joiner = joiner;
        SetConditions(r, conditions);
        CompileOptions options;
        options.lookup = set.CompilerLookup();
        EXPECT_EQ(CompileFormula(r, options), 0);
        return r;
    }

    // Evaluates both on every security at `period` and compares the one output line.
    void ExpectTwins(const FormulaRecord& combined, const std::string& text, Period period = kPeriodDay) {
        FormulaRecord twin = MakeFormula(set, "TWIN", text, {}, kFormulaSelection);
        FormulaEvaluator evaluator(set, *market_->data, nullptr);
        int compared = 0;
        for (const DemoSecurity& s : market_->securities) {
            CodeEntry entry;
            entry.id = s.id;
            entry.securityClass = s.securityClass;
            SCOPED_TRACE(SecurityText(s.id) + " " + text);
            std::unique_ptr<EvalResult> a = evaluator.Evaluate(combined, entry, nullptr, period);
            std::unique_ptr<EvalResult> b = evaluator.Evaluate(twin, entry, nullptr, period);
            ASSERT_EQ(a == nullptr, b == nullptr);
            if (!a) continue;
            ASSERT_EQ(a->lines.size(), 1u);
            ASSERT_EQ(b->lines.size(), 1u);
            const OutputLine& x = a->lines[0];
            const OutputLine& y = b->lines[0];
            EXPECT_EQ(x.begin, y.begin);
            EXPECT_EQ(x.count, y.count);
            std::vector<float> vx = Values(x), vy = Values(y);
            ASSERT_EQ(vx.size(), vy.size());
            for (size_t i = 0; i < vx.size(); ++i) {
                if (std::isnan(vx[i]) || std::isnan(vy[i]))
                    EXPECT_EQ(std::isnan(vx[i]), std::isnan(vy[i])) << "bar " << i;
                else
                    EXPECT_EQ(vx[i], vy[i]) << "bar " << i;
            }
            if (x.validCount() > 100) ++compared;
        }
        // The comparison must not pass vacuously: most securities have long valid lines.
        EXPECT_GE(compared, 8);
    }

    static ConditionOperand Ma(const char* line, Period period = kPeriodDay) {
        return ConditionOperand::FormulaLine(kFormulaSubPane, "MA2L", line, {5, 10}, static_cast<uint32_t>(PeriodNumber(period)));
    }
    static ConditionOperand Osc(uint32_t lookBack = 0) {
        return ConditionOperand::FormulaLine(kFormulaSubPane, "OSC", "OSC", {12}, PeriodNumber(kPeriodDay), {}, lookBack);
    }
    static Condition Make(ConditionOperand left, int32_t relation, ConditionOperand right = {}, float periods = 0) {
        Condition c;
        c.left = left;
        c.right = right;
        c.relation = relation;
        c.periods = periods;
        return c;
    }

    FormulaSet set;
    static Market* market_;
};
Market* ConditionTwins::market_ = nullptr;

TEST_F(ConditionTwins, CrossingsOfTwoLines) {
    ExpectTwins(Combined({Make(Ma("MA1"), kRelationCrossAbove, Ma("MA2"))}),
                "X:CROSS(\"ma2l.ma1#day\"(5,10),\"ma2l.ma2#day\"(5,10));");
    ExpectTwins(Combined({Make(Ma("MA1"), kRelationCrossBelow, Ma("MA2"))}),
                "X:CROSS(\"ma2l.ma2#day\"(5,10),\"ma2l.ma1#day\"(5,10));");
    ExpectTwins(Combined({Make(Ma("MA1"), kRelationLongCrossBelow, Ma("MA2"), 4)}),
                "X:LONGCROSS(\"ma2l.ma2#day\"(5,10),\"ma2l.ma1#day\"(5,10),4);");
}

TEST_F(ConditionTwins, ComparisonsWithNumbersLookBackAndOperations) {
    ExpectTwins(Combined({Make(Osc(2), kRelationGreaterEqual, ConditionOperand::Number(1.5f))}),
                "X:REF(\"osc.osc#day\"(12),2)>=1.5;");
    ConditionOperand scaled = Osc();
    scaled.withOperation(kOperationMultiply, -2);
    ConditionOperand shifted = ConditionOperand::Number(3);
    shifted.withOperation(kOperationAdd, 0.5f);
    ExpectTwins(Combined({Make(scaled, kRelationLess, shifted)}), "X:\"osc.osc#day\"(12)*(-2)<3+0.5;");
}

TEST_F(ConditionTwins, PeriodRelations) {
    ExpectTwins(Combined({Make(Osc(), kRelationPersistRising, {}, 3)}), "X:PERSISTASCENT(\"osc.osc#day\"(12),3);");
    // A right operand left filled in is not emitted: the twin has none.
    ExpectTwins(Combined({Make(Osc(), kRelationTurnUp, Ma("MA1"), 2)}), "X:PERSISTTURNUP(\"osc.osc#day\"(12),2);");
    ExpectTwins(Combined({Make(Ma("MA1"), kRelationPersistGreater, Ma("MA2"), 3)}),
                "X:PERSISTGREAT(\"ma2l.ma1#day\"(5,10),\"ma2l.ma2#day\"(5,10),3);");
}

TEST_F(ConditionTwins, SumsIncludingAConstantOperand) {
    ExpectTwins(Combined({Make(Ma("MA1"), kRelationSumGreater, Ma("MA2"), 5)}),
                "X:SUM(\"ma2l.ma1#day\"(5,10),5)>SUM(\"ma2l.ma2#day\"(5,10),5);");
    // Five bars of the number 50 sum to 250 wherever the line's own sum is valid.
    ExpectTwins(Combined({Make(Ma("MA1"), kRelationSumGreater, ConditionOperand::Number(50), 5)}),
                "X:SUM(\"ma2l.ma1#day\"(5,10),5)>250;");
}

TEST_F(ConditionTwins, SelectionLineJoinersAndOtherPeriods) {
    ConditionOperand up = ConditionOperand::FormulaLine(kFormulaSelection, "UPDAY", "", {}, PeriodNumber(kPeriodDay));
    ExpectTwins(Combined({Make(up, kRelationGreater, Ma("MA1"))}), "X:C>O AND V>REF(V,1);");
    up.withOperation(kOperationNot);
    ExpectTwins(Combined({Make(up, kRelationNone)}), "X:NOT(C>O AND V>REF(V,1));");
    std::vector<Condition> two = {Make(Osc(), kRelationGreater, ConditionOperand::Number(0)),
                                  Make(Ma("MA1"), kRelationCrossAbove, Ma("MA2"))};
    ExpectTwins(Combined(two, kJoinerAny),
                "X:\"osc.osc#day\"(12)>0 OR CROSS(\"ma2l.ma1#day\"(5,10),\"ma2l.ma2#day\"(5,10));");
    ExpectTwins(Combined(two, kJoinerAll),
                "X:\"osc.osc#day\"(12)>0 AND CROSS(\"ma2l.ma1#day\"(5,10),\"ma2l.ma2#day\"(5,10));");
    // A weekly line compared on day bars.
    ExpectTwins(Combined({Make(Ma("MA1", kPeriodWeek), kRelationGreater, Ma("MA1"))}),
                "X:\"ma2l.ma1#week\"(5,10)>\"ma2l.ma1#day\"(5,10);");
}

}  // namespace
}  // namespace tessaro
