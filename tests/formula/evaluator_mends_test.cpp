// Faults the evaluator guards against: constants where series are required, reference cycles
// and chains too deep, damaged compiled forms, and NaN produced inside a formula.
#include "evaluator_test_support.h"

#include <random>

#include "formula/evaluator_program.h"
#include "formula/function_registry.h"
#include "formula/functions.h"
#include "formula/opcodes.h"

namespace tessaro {
namespace {

using namespace testing_support;

class EvaluatorMends : public EvaluatorTest {
protected:
    void SetUp() override { Add(stock, Ramp(30, 10)); }
    CodeEntry stock = Security("SH600000");
};

// ---- constants stored in variables --------------------------------------------------------

TEST_F(EvaluatorMends, ConstantInAVariableIsSpreadOverTheBarsWhereASeriesIsRequired) {
    auto r = Run(Formula("T", "X:=5; A:MA(X,3); B:X; Y:=ABS(-4); D:REF(Y,2)+C;"), stock);
    ASSERT_NE(r, nullptr);
    ASSERT_EQ(r->lineCount(), 3u);
    EXPECT_EQ(r->lines[0].begin, 2);
    EXPECT_EQ(r->lines[0].count, 30);
    EXPECT_FLOAT_EQ(r->lines[0].points[10].value, 5);
    EXPECT_EQ(r->lines[1].begin, 0);
    EXPECT_FLOAT_EQ(r->lines[1].points[29].value, 5);
    EXPECT_EQ(r->lines[2].begin, 2);
    EXPECT_FLOAT_EQ(r->lines[2].points[3].value, 4 + 13);
}

TEST_F(EvaluatorMends, EverySeriesOnlyPositionAcceptsAStoredConstant) {
    const char* calls[] = {"COUNT(X,3)", "SUM(X,3)",   "REF(X,1)",      "HHV(X,3)",     "LLV(X,3)",
                           "MA(X,3)",    "EMA(X,3)",   "SMA(X,3,1)",    "STDP(X,3)",    "VAR(X,3)",
                           "VARP(X,3)",  "AVEDEV(X,3)", "DEVSQ(X,3)",   "BARSSINCE(X)", "BARSLAST(X)",
                           "HHVBARS(X,3)", "LLVBARS(X,3)", "BARSCOUNT(X)", "BACKSET(X,2)", "SUMBARS(X,3)",
                           "FILTER(X,2)", "FORCAST(X,3)"};
    for (const char* call : calls) {
        auto r = Run(Formula("T", std::string("X:=1; A:") + call + ";"), stock);
        ASSERT_NE(r, nullptr) << call;
        EXPECT_EQ(r->lines[0].count, 30) << call;
        EXPECT_LT(r->lines[0].begin, 30) << call;
    }
}

// ---- reference cycles and depth -----------------------------------------------------------

// Puts `name` compiled against a set in which the formulas it references are plain stand-ins,
// so that a cycle the compiler would refuse can exist in the set (an edited or imported file).
void PutUnchecked(FormulaSet& set, const char* name, const std::string& text, std::vector<FormulaParam> params,
                  const std::vector<std::pair<const char*, std::vector<FormulaParam>>>& standIns) {
    FormulaSet scratch;
    for (const auto& [other, otherParams] : standIns) scratch.Put(MakeFormula(scratch, other, "Y:C;", otherParams));
    set.Put(MakeFormula(scratch, name, text, std::move(params)));
}

TEST_F(EvaluatorMends, ReferenceCycleEndsWithAnEmptyLineWhileTheRestEvaluates) {
    Define("A", "Y:C;");
    Define("B", "Y:\"A.Y\"+1;");
    PutUnchecked(set, "A", "Y:\"B.Y\"*2; Z:C;", {}, {{"B", {}}});
    std::optional<FormulaRecord> a = set.Find(kFormulaSubPane, "A");
    std::optional<FormulaRecord> b = set.Find(kFormulaSubPane, "B");
    ASSERT_TRUE(a && b);
    for (const FormulaRecord* f : {&*a, &*b}) {
        auto r = Run(*f, stock);
        ASSERT_NE(r, nullptr);
        EXPECT_EQ(r->lines[0].validCount(), 0) << f->nameText();
    }
    auto r = Run(*a, stock);
    EXPECT_EQ(r->lines[1].validCount(), 30);
    EXPECT_FLOAT_EQ(r->lines[1].points[3].value, 13);
}

TEST_F(EvaluatorMends, CycleThroughParametersAndOtherPeriodsIsStoppedToo) {
    Define("P", "Y:C;", {Param("N", 1)});
    Define("Q", "Y:\"P.Y\"(M)+M;", {Param("M", 2)});
    PutUnchecked(set, "P", "Y:\"Q.Y#WEEK\"(N+1)+N; K:MA(C,N);", {Param("N", 3)}, {{"Q", {Param("M", 2)}}});
    std::optional<FormulaRecord> p = set.Find(kFormulaSubPane, "P");
    ASSERT_TRUE(p);
    auto r = Run(*p, stock);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->lines[0].validCount(), 0);
    EXPECT_EQ(r->lines[1].begin, 2);
}

TEST_F(EvaluatorMends, ReferenceChainsStopAtTheDepthLimit) {
    auto chain = [&](int length, const std::string& prefix) {
        for (int k = length; k >= 1; --k) {
            std::string name = prefix + std::to_string(k);
            std::string text =
                k == length ? "X:C;" : "X:\"" + prefix + std::to_string(k + 1) + ".X\"+1;";
            Define(name.c_str(), text);
        }
        return *set.Find(kFormulaSubPane, prefix + "1");
    };
    // A chain within the limit evaluates to its end.
    auto shortChain = Run(chain(kMaxReferenceDepth - 1, "S"), stock);
    ASSERT_NE(shortChain, nullptr);
    EXPECT_FLOAT_EQ(shortChain->lines[0].points[0].value, 10 + (kMaxReferenceDepth - 2));
    // A longer one ends with an empty line instead of recursing on.
    auto longChain = Run(chain(kMaxReferenceDepth + 4, "L"), stock);
    ASSERT_NE(longChain, nullptr);
    EXPECT_EQ(longChain->lines[0].validCount(), 0);
}

// ---- damaged compiled forms ---------------------------------------------------------------

TEST_F(EvaluatorMends, DamagedInstructionsGiveNoResultAndNeverReadOutOfBounds) {
    Define("R", "Y:C;");
    const FormulaRecord base = Formula("T", "N1:=N; A:MA(C,N)+\"R.Y\"; B:=A; D:B*2;", {Param("N", 3)});
    ASSERT_NE(Run(base, stock), nullptr);
    using opcode::ReferenceOperand;
    struct Damage {
        const char* what;
        std::function<void(FormulaRecord&)> apply;
    };
    auto at = [](FormulaRecord& f, uint32_t op) -> Instruction& {
        for (Instruction& in : f.instructions)
            if (in.opcode == op) return in;
        return f.instructions[0];
    };
    std::vector<Damage> damages = {
        {"parameter slot beyond the slots", [&](FormulaRecord& f) { at(f, opcode::kPushParam).operand = 7; }},
        {"variable slot not yet stored", [&](FormulaRecord& f) { at(f, opcode::kPushVariable).operand = 5; }},
        {"variable slot 0xFFFF", [&](FormulaRecord& f) { at(f, opcode::kPushVariable).operand = 0xFFFF; }},
        {"string index beyond the pool", [&](FormulaRecord& f) { f.instructions[0] = {opcode::kPushString, 3}; }},
        {"reference index beyond the table",
         [&](FormulaRecord& f) { at(f, opcode::kReference).operand = ReferenceOperand(9, 0, 0, 0); }},
        {"unknown reference kind",
         [&](FormulaRecord& f) { at(f, opcode::kReference).operand = ReferenceOperand(0, 0, 0, 7); }},
        {"quote field beyond amount",
         [&](FormulaRecord& f) { at(f, opcode::kReference).operand = ReferenceOperand(0, 9, 0, 64); }},
        {"quote field with arguments",
         [&](FormulaRecord& f) { at(f, opcode::kReference).operand = ReferenceOperand(0, 3, 1, 64); }},
        {"unknown period", [&](FormulaRecord& f) { at(f, opcode::kReference).operand = ReferenceOperand(0, 99, 0, 0); }},
        {"more reference arguments than pushed",
         [&](FormulaRecord& f) { at(f, opcode::kReference).operand = ReferenceOperand(0, 0, 40, 0); }},
        {"reference argument that is a series",
         [&](FormulaRecord& f) { at(f, opcode::kReference).operand = ReferenceOperand(0, 0, 1, 0); }},
        {"operator on an empty stack", [&](FormulaRecord& f) { f.instructions.insert(f.instructions.begin(), {33, 0}); }},
        {"store on an empty stack",
         [&](FormulaRecord& f) { f.instructions.insert(f.instructions.begin(), {opcode::kStore, 0}); }},
        {"undefined opcode 69", [&](FormulaRecord& f) { f.instructions[1].opcode = 69; }},
        {"opcode beyond the registry", [&](FormulaRecord& f) { f.instructions[1].opcode = 0xFFFFFFFFu; }},
        {"modifier as opcode", [&](FormulaRecord& f) { f.instructions[1].opcode = kFirstModifierId; }},
        {"opcode zero", [&](FormulaRecord& f) { f.instructions[1].opcode = 0; }},
        {"too many parameters", [&](FormulaRecord& f) { f.params.resize(kMaxFormulaParams + 1, Param("P", 1)); }},
    };
    for (const Damage& d : damages) {
        FormulaRecord f = base;
        d.apply(f);
        ProgramInfo info;
        bool checked = CheckProgram(f, info);
        EXPECT_EQ(Run(f, stock), nullptr) << d.what << (checked ? " (passed the check)" : "");
    }
}

TEST_F(EvaluatorMends, RandomlyDamagedFormsNeverCrash) {
    Define("R", "Y:C;X:O;", {Param("M", 2)});
    std::vector<FormulaRecord> bases = {
        Formula("T1", "A:MA(C,N); B:=EMA(A,N)-REF(C,1); D:IF(B>0,B,-B),COLORSTICK;", {Param("N", 5)}),
        Formula("T2", "X:=\"R.Y\"(3)+\"R.X\"; Y:CROSS(X,MA(X,3)) OR C>O; Z:SUM(Y,0);"),
        Formula("T3", "A:STKINDI('SH600000','R.X',4)+\"SH600000$CLOSE\";B:COUNT(A>C,5);"),
    };
    std::mt19937 random(20240601);
    int results = 0;
    for (int round = 0; round < 3000; ++round) {
        FormulaRecord f = bases[static_cast<size_t>(round) % bases.size()];
        int edits = 1 + static_cast<int>(random() % 3);
        for (int e = 0; e < edits; ++e) {
            Instruction& in = f.instructions[random() % f.instructions.size()];
            switch (random() % 4) {
                case 0: in.opcode = static_cast<uint32_t>(random() % 80); break;
                case 1: in.operand = static_cast<uint32_t>(random()); break;
                case 2: in.operand ^= 1u << (random() % 32); break;
                default: in.opcode = static_cast<uint32_t>(random()); break;
            }
        }
        if (random() % 8 == 0) f.instructions.resize(random() % f.instructions.size());
        results += Run(f, stock) != nullptr;
    }
    EXPECT_GT(results, 0);  // some damages (a changed constant) still give a result
}

// ---- arguments without valid points --------------------------------------------------------

TEST_F(EvaluatorMends, EveryFunctionFinishesOnArgumentsWhoseRangeStartsPastTheirEnd) {
    // MA(C,100) over 30 bars begins at 99: a series with no valid points at all. LLVBARS(X,5)
    // on such a series once sized a ring buffer from the negative length and never returned.
    int called = 0;
    for (const FunctionInfo* info : AllFunctionEntries()) {
        if (!info->isFunction() || !info->name || info->paramCount == 0 || info->id == kFnStkIndi ||
            !IsImplementedFunction(info->id))
            continue;
        for (bool seriesCounts : {false, true}) {
            std::string call = std::string(info->name) + "(";
            for (int k = 0; k < info->paramCount; ++k) {
                uint8_t mask = info->paramKinds[k];
                if (k) call += ",";
                if ((mask & kParamSeries) && (k == 0 || seriesCounts)) call += "X";
                else if (mask & kParamNumber) call += "3";
                else if (mask & kParamString) call += "'A'";
                else call += "X";
            }
            call += ")";
            auto r = Run(Formula("T", "X:=MA(C,100); A:" + call + "; B:C;"), stock);
            if (r) {
                EXPECT_EQ(r->lines[1].validCount(), 30) << call;
            }
            ++called;
        }
    }
    EXPECT_GT(called, 100);
}

// ---- NaN ------------------------------------------------------------------------------------

TEST_F(EvaluatorMends, NanFromMathFunctionsNeverCrashesOrHangs) {
    // SQRT of a negative number and 0 * LN(0) are NaN; every function below meets them as
    // values, as windows, as counts and as conditions.
    const char* uses[] = {
        "MA(X,3)",       "EMA(X,3)",        "SMA(X,3,1)",     "HHV(X,3)",     "LLV(X,0)",
        "REF(C,X)",      "SUM(C,X)",        "COUNT(C>0,X)",   "HHV(C,X)",     "HHVBARS(C,X)",
        "BARSLAST(X)",   "BARSSINCE(X)",    "SUMBARS(C,X)",   "SUMBARS(X,100)", "FILTER(X,3)",
        "BACKSET(X,X)",  "CROSS(X,C)",      "LONGCROSS(X,C,2)", "IF(X,C,O)",  "DMA(C,X)",
        "STD(X,3)",      "MOD(C,X)",        "X>0 OR X<0",     "NOT(X)",       "PERSISTASCENT(X,2)",
        "MAX(X,C)",      "FORCAST(X,3)",    "AVEDEV(X,3)",    "X/X",          "BETWEEN(C,X,O)",
    };
    for (const char* source : {"X:=SQRT(C-1000);", "X:=0*LN(C-C);", "X:=C-C+SQRT(REVERSE(C));"}) {
        for (const char* use : uses) {
            auto r = Run(Formula("T", std::string(source) + "A:" + use + "; B:C;"), stock);
            ASSERT_NE(r, nullptr) << source << use;
            EXPECT_EQ(r->lines[1].validCount(), 30) << use;
        }
    }
}

TEST_F(EvaluatorMends, NanParameterAndReferenceArgumentsAreHandled) {
    Define("R", "Y:MA(C,M);", {Param("M", 2)});
    FormulaRecord f = Formula("T", "A:MA(C,N); B:\"R.Y\"(N); D:\"R.Y\"(N); E:C;", {Param("N", 3)});
    f.params[0].defaultValue = NAN;
    auto r = Run(f, stock);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->lines[0].validCount(), 0);  // a window of no bars
    EXPECT_EQ(r->lines[3].validCount(), 30);
}

}  // namespace
}  // namespace tessaro
