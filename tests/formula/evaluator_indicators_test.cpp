// The standard indicators written in the formula language, evaluated over a real price history
// and compared with values computed independently in double precision
// (tests/formula/data/indicator_oracle.py wrote indicators-600519.csv).
#include "evaluator_test_support.h"

#include <map>

namespace tessaro {
namespace {

using namespace testing_support;

// Oracle column name -> its points (NAN where the line has no valid point).
std::map<std::string, std::vector<double>> ReadOracle() {
    std::ifstream in(SourceFile("tests/formula/data/indicators-600519.csv"));
    std::map<std::string, std::vector<double>> cols;
    std::vector<std::string> names;
    std::string line;
    bool header = true;
    while (std::getline(in, line)) {
        std::vector<std::string> cells;
        std::stringstream ss(line);
        std::string cell;
        while (std::getline(ss, cell, ',')) cells.push_back(cell);
        if (line.back() == ',') cells.push_back("");
        if (header) {
            names = cells;
            header = false;
            continue;
        }
        for (size_t k = 1; k < names.size() && k < cells.size(); ++k)
            cols[names[k]].push_back(cells[k].empty() ? NAN : std::stod(cells[k]));
    }
    return cols;
}

class StandardIndicators : public EvaluatorTest {
protected:
    void SetUp() override {
        bars = Bars600519();
        oracle = ReadOracle();
        ASSERT_EQ(bars.size(), 365u);
        ASSERT_EQ(oracle["MA5"].size(), 365u);
    }

    // Compares line `k` of the result with oracle column `name`: the same valid range and every
    // valid point within `tolerance` (absolute, or relative to the value's size when larger).
    void Expect(const EvalResult& r, size_t k, const std::string& name, double tolerance) {
        ASSERT_LT(k, r.lineCount());
        const OutputLine& line = r.lines[k];
        const std::vector<double>& want = oracle[name];
        ASSERT_EQ(line.count, static_cast<int32_t>(want.size())) << name;
        int32_t begin = 0;
        while (begin < line.count && std::isnan(want[static_cast<size_t>(begin)])) ++begin;
        EXPECT_EQ(line.begin, begin) << name;
        int checked = 0;
        for (int32_t i = std::max(begin, line.begin); i < line.count; ++i) {
            double w = want[static_cast<size_t>(i)];
            double got = line.points[static_cast<size_t>(i)].value;
            EXPECT_NEAR(got, w, tolerance * std::max(1.0, std::fabs(w))) << name << " at bar " << i;
            EXPECT_EQ(line.points[static_cast<size_t>(i)].time, bars.bars[static_cast<size_t>(i)].time);
            ++checked;
        }
        EXPECT_GT(checked, 300) << name;
    }

    std::unique_ptr<EvalResult> Evaluate(const FormulaRecord& f) {
        auto r = evaluator.Evaluate(f, Security("SH600519"), &bars, kPeriodDay);
        EXPECT_NE(r, nullptr);
        return r;
    }

    Series bars;
    std::map<std::string, std::vector<double>> oracle;
};

TEST_F(StandardIndicators, MovingAverages) {
    auto r = Evaluate(Formula("MA", "MA5:MA(C,M1); MA10:MA(C,M2);", {Param("M1", 5), Param("M2", 10)}));
    ASSERT_NE(r, nullptr);
    Expect(*r, 0, "MA5", 1e-6);
    Expect(*r, 1, "MA10", 1e-6);
}

TEST_F(StandardIndicators, Macd) {
    auto r = Evaluate(Formula("MACD", "DIF:EMA(C,SHORT)-EMA(C,LONG); DEA:EMA(DIF,MID); MACD:2*(DIF-DEA),COLORSTICK;",
                              {Param("SHORT", 12), Param("LONG", 26), Param("MID", 9)}));
    ASSERT_NE(r, nullptr);
    // DIF is a small difference of two prices near 1400: single precision leaves about 1e-4 of it.
    Expect(*r, 0, "DIF", 2e-3);
    Expect(*r, 1, "DEA", 2e-3);
    Expect(*r, 2, "MACD", 4e-3);
    EXPECT_EQ(r->lines[2].drawKind, 3);
}

TEST_F(StandardIndicators, Kdj) {
    auto r = Evaluate(Formula("KDJ",
                              "RSV:=(C-LLV(L,N))/(HHV(H,N)-LLV(L,N))*100; K:SMA(RSV,M1,1); D:SMA(K,M2,1); J:3*K-2*D;",
                              {Param("N", 9), Param("M1", 3), Param("M2", 3)}));
    ASSERT_NE(r, nullptr);
    Expect(*r, 0, "K", 1e-3);
    Expect(*r, 1, "D", 1e-3);
    Expect(*r, 2, "J", 2e-3);
}

TEST_F(StandardIndicators, Rsi) {
    auto r = Evaluate(Formula("RSI", "LC:=REF(C,1); RSI:SMA(MAX(C-LC,0),N,1)/SMA(ABS(C-LC),N,1)*100;", {Param("N", 6)}));
    ASSERT_NE(r, nullptr);
    Expect(*r, 0, "RSI", 1e-3);
}

TEST_F(StandardIndicators, Boll) {
    auto r = Evaluate(Formula("BOLL", "MID:MA(C,N); UPPER:MID+P*STD(C,N); LOWER:MID-P*STD(C,N);",
                              {Param("N", 20), Param("P", 2)}));
    ASSERT_NE(r, nullptr);
    Expect(*r, 0, "MID", 1e-6);
    Expect(*r, 1, "UPPER", 1e-5);
    Expect(*r, 2, "LOWER", 1e-5);
}

TEST_F(StandardIndicators, ScreeningCondition) {
    auto r = Evaluate(Formula("PICK", "PICK:CROSS(MA(C,5),MA(C,20)) AND V>MA(V,10);", {}, kFormulaSelection));
    ASSERT_NE(r, nullptr);
    Expect(*r, 0, "PICK", 0);
    int picked = 0;
    for (int32_t i = r->lines[0].begin; i < r->lines[0].count; ++i) picked += r->lines[0].points[i].value == 1.0f;
    EXPECT_EQ(picked, 5);
}

}  // namespace
}  // namespace tessaro
