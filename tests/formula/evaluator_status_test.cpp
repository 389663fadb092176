// Why an evaluation has no result: each reason of the status, once, and a success that
// reports none with its lines unchanged.
#include <functional>

#include "evaluator_test_support.h"

namespace tessaro {
namespace {

using testing_support::EvaluatorTest;
using testing_support::Ramp;
using testing_support::Security;
using testing_support::Values;

class EvaluatorStatusTest : public EvaluatorTest {
public:
    // The cases below reach the fixture from their lambdas.
    using EvaluatorTest::evaluator;
    using EvaluatorTest::Formula;
    using EvaluatorTest::set;

    EvalRequest Request(const char* security, Period period = kPeriodDay) {
        EvalRequest r;
        r.security = Security(security);
        r.period = period;
        return r;
    }
};

struct StatusCase {
    const char* label;
    // Evaluates something that fails in one way.
    std::function<std::unique_ptr<EvalResult>(EvaluatorStatusTest&, EvalStatus&)> run;
    EvalFailure failure;
    const char* messagePart;  // the message names what failed
    bool hasResult;           // only an unresolved reference keeps its lines
};

TEST_F(EvaluatorStatusTest, EachFailureSaysWhy) {
    Add(Security("SH600000"), Ramp(6));
    Define("TWO", "X:C*2;");
    const StatusCase cases[] = {
        {"unknown formula",
         [](EvaluatorStatusTest& t, EvalStatus& s) {
             return t.evaluator.EvaluateNamed(kFormulaSubPane, "NOSUCH", t.Request("SH600000"), s);
         },
         EvalFailure::kUnknownFormula, "NOSUCH", false},
        {"compile error",
         [](EvaluatorStatusTest& t, EvalStatus& s) {
             FormulaRecord f;
             f.source = "A:C+XYZ;";
             return t.evaluator.CompileAndEvaluate(f, t.Request("SH600000"), s);
         },
         EvalFailure::kCompileError, "错误位置＝4", false},
        {"no data",
         [](EvaluatorStatusTest& t, EvalStatus& s) {
             return t.evaluator.Evaluate(t.Formula("F", "A:C;"), t.Request("SH600001"), s);
         },
         EvalFailure::kNoData, "SH600001", false},
        {"unsupported period",
         [](EvaluatorStatusTest& t, EvalStatus& s) {
             FormulaRecord f = t.Formula("F", "A:C;");
             f.usageFlags |= PeriodDisableBit(kPeriodDay);
             return t.evaluator.Evaluate(f, t.Request("SH600000"), s);
         },
         EvalFailure::kUnsupportedPeriod, "period 8", false},
        {"unresolved reference",
         [](EvaluatorStatusTest& t, EvalStatus& s) {
             FormulaRecord f = t.Formula("F", "A:\"TWO.X\"; B:C;");
             t.set.Remove(kFormulaSubPane, "TWO");  // deleted since compilation
             return t.evaluator.Evaluate(f, t.Request("SH600000"), s);
         },
         EvalFailure::kUnresolvedReference, "\"TWO.X\"", true},
    };
    for (const StatusCase& c : cases) {
        SCOPED_TRACE(c.label);
        EvalStatus status;
        status.failure = EvalFailure::kError;  // overwritten by every entry
        std::unique_ptr<EvalResult> result = c.run(*this, status);
        EXPECT_EQ(status.failure, c.failure);
        EXPECT_EQ(EvalFailureName(status.failure), c.label);
        EXPECT_NE(status.message.find(c.messagePart), std::string::npos) << status.message;
        EXPECT_EQ(result != nullptr, c.hasResult);
        if (c.failure == EvalFailure::kCompileError) {
            // The range marks the unknown name: "A:C+XYZ;" has it at byte 4.
            EXPECT_EQ(status.errorPosition, 4);
            EXPECT_EQ(status.errorLength, 3);
        }
        if (result) {
            // The failed reference is an empty line; the rest evaluated as before.
            ASSERT_EQ(result->lineCount(), 2u);
            EXPECT_TRUE(result->lines[0].empty() || result->lines[0].validCount() == 0);
            EXPECT_EQ(Values(result->lines[1]), (std::vector<float>{10, 11, 12, 13, 14, 15}));
        }
    }
}

TEST_F(EvaluatorStatusTest, SuccessReportsNothingAndNotAPeriodIsUnsupported) {
    Add(Security("SH600000"), Ramp(3));
    Define("TWO", "X:C*2;");
    EvalStatus status;
    auto result = evaluator.EvaluateNamed(kFormulaSubPane, "two", Request("SH600000"), status);
    ASSERT_TRUE(result);
    EXPECT_TRUE(status.ok()) << status.message;
    EXPECT_EQ(Values(result->lines[0]), (std::vector<float>{20, 22, 24}));

    auto none = evaluator.Evaluate(Formula("F", "A:C;"), Request("SH600000", static_cast<Period>(15)), status);
    EXPECT_FALSE(none);
    EXPECT_EQ(status.failure, EvalFailure::kUnsupportedPeriod);

    // A function without result names itself; an index-only formula on a stock says so.
    none = evaluator.Evaluate(Formula("F", "A:ADVANCE;"), Request("SH600000"), status);
    EXPECT_EQ(status.failure, EvalFailure::kInstructionFailed);
    EXPECT_NE(status.message.find("ADVANCE"), std::string::npos) << status.message;
    FormulaRecord indexOnly = Formula("F", "A:C;");
    indexOnly.usageFlags |= kUsageNotForOthers;
    none = evaluator.Evaluate(indexOnly, Request("SH600000"), status);
    EXPECT_EQ(status.failure, EvalFailure::kNotForSecurity);
}

}  // namespace
}  // namespace tessaro
