// One compiled formula evaluated for many securities on several threads at once, each thread
// with its own evaluation context, while the formula set changes: every result equals the one
// computed alone.
#include "evaluator_test_support.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace tessaro {
namespace {

using namespace testing_support;

TEST(EvaluatorConcurrency, ThreadsWithTheirOwnContextsAgreeWithASingleThread) {
    FormulaSet set;
    MemoryEvalData data;
    std::vector<CodeEntry> securities;
    for (int k = 0; k < 24; ++k) {
        char code[16];
        std::snprintf(code, sizeof code, "SZ%06d", k + 1);
        securities.push_back(Security(code));
        std::vector<float> closes;
        for (int i = 0; i < 300; ++i)
            closes.push_back(20.0f + static_cast<float>((i * (k + 3)) % 37) * 0.5f + static_cast<float>(k));
        data.AddSecurity(securities.back(), DayBars(closes));
    }
    CodeEntry index = Security("SZ399001", kClassIndex);
    data.AddSecurity(index, Ramp(300, 1000));
    data.SetMarketIndex(kMarketSZ, index.id);
    set.Put(MakeFormula(set, "MACD", "DIF:EMA(C,SHORT)-EMA(C,LONG); DEA:EMA(DIF,MID); MACD:2*(DIF-DEA);",
                        {Param("SHORT", 12), Param("LONG", 26), Param("MID", 9)}));
    FormulaRecord f = MakeFormula(set, "T",
                                  "X:=\"MACD.DIF\"(6,13,5); A:X-\"MACD.DEA\"; B:CROSS(X,0) AND V>MA(V,5); "
                                  "D:\"SZ000001$C\"/INDEXC; E:STKINDI('SZ000002','MACD.MACD',12,26,9)+ABS(X);");

    auto flatten = [](const EvalResult& r) {
        std::vector<float> v;
        for (const OutputLine& l : r.lines) {
            v.push_back(static_cast<float>(l.begin));
            for (const LinePoint& p : l.points) v.push_back(p.value);
        }
        return v;
    };
    std::vector<std::vector<float>> expected;
    {
        FormulaEvaluator alone(set, data, nullptr);
        for (const CodeEntry& s : securities) {
            auto r = alone.Evaluate(f, s, nullptr, kPeriodDay);
            ASSERT_NE(r, nullptr);
            expected.push_back(flatten(*r));
        }
    }

    std::atomic<bool> stop{false};
    std::thread editor([&] {
        // Replaces the referenced formula by an identical copy and adds others, under the set's lock.
        FormulaRecord copy = *set.Find(kFormulaSubPane, "MACD");
        for (int i = 0; !stop; ++i) {
            set.Put(copy);
            FormulaRecord other = copy;
            other.setName("X" + std::to_string(i % 5));
            set.Put(other);
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    std::atomic<int> mismatches{0}, evaluated{0};
    std::vector<std::thread> workers;
    for (int t = 0; t < 4; ++t) {
        workers.emplace_back([&, t] {
            FormulaEvaluator mine(set, data, nullptr);
            for (int round = 0; round < 3; ++round) {
                for (size_t k = 0; k < securities.size(); ++k) {
                    size_t pick = (k + static_cast<size_t>(t) * 7) % securities.size();
                    auto r = mine.Evaluate(f, securities[pick], nullptr, kPeriodDay);
                    if (!r || flatten(*r) != expected[pick]) ++mismatches;
                    ++evaluated;
                }
            }
        });
    }
    for (std::thread& w : workers) w.join();
    stop = true;
    editor.join();
    EXPECT_EQ(mismatches.load(), 0);
    EXPECT_EQ(evaluated.load(), 4 * 3 * 24);
}

}  // namespace
}  // namespace tessaro
