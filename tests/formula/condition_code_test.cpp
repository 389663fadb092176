// Combined conditions compiled to instructions: every sequence, the reference table, the one
// output line, and the conditions that cannot be built.
#include <gtest/gtest.h>

#include "compiler_test_support.h"
#include "formula/condition.h"
#include "formula/condition_code.h"
#include "formula/function_registry.h"

namespace tessaro {
namespace {

using namespace testing_support;
using V = std::vector<Instruction>;

// MACD.DIF(12,26,9) at the day period and KDJ.K without parameters.
ConditionOperand LineA() { return ConditionOperand::FormulaLine(kFormulaSubPane, "MACD", "DIF", {12, 26, 9}, 8); }
ConditionOperand LineB() { return ConditionOperand::FormulaLine(kFormulaMainOverlay, "KDJ", "K", {}, 8); }

V PushA(uint8_t index = 0) {
    return {Num(12), Num(26), Num(9), Op(opcode::kReference, opcode::ReferenceOperand(index, 8, 3, opcode::kRefFormula))};
}
V PushB(uint8_t index = 1) { return {Op(opcode::kReference, opcode::ReferenceOperand(index, 8, 0, opcode::kRefFormula))}; }

V Join(std::initializer_list<V> parts) {
    V all;
    for (const V& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

Condition Make(ConditionOperand left, int32_t relation, ConditionOperand right = {}, float periods = 0) {
    Condition c;
    c.left = left;
    c.right = right;
    c.relation = relation;
    c.periods = periods;
    return c;
}

CompiledForm Build(const std::vector<Condition>& conditions, uint32_t joiner = kJoinerAll) {
    CompiledForm out;
    EXPECT_TRUE(BuildConditionCode(conditions, joiner, out));
    return out;
}

const Instruction kStoreSlot0 = Op(opcode::kStore, 0);

TEST(ConditionCode, CrossAbovePushesLeftThenRight) {
    CompiledForm f = Build({Make(LineA(), kRelationCrossAbove, LineB())});
    EXPECT_EQ(f.instructions, Join({PushA(), PushB(), {Op(kFnCross), kStoreSlot0}}));
    ASSERT_EQ(f.references.size(), 2u);
    EXPECT_EQ(f.references[0].formulaNameText(), "MACD");
    EXPECT_EQ(f.references[0].lineNameText(), "DIF");
    EXPECT_EQ(f.references[0].type, kFormulaSubPane);
    EXPECT_EQ(f.references[0].period, 0);  // the period travels in the instruction
    EXPECT_EQ(f.references[1].formulaNameText(), "KDJ");
    EXPECT_TRUE(f.stringPool.empty());
}

TEST(ConditionCode, CrossBelowPushesRightFirst) {
    CompiledForm f = Build({Make(LineA(), kRelationCrossBelow, LineB())});
    // B is met first, so it takes reference 0.
    EXPECT_EQ(f.instructions, Join({PushB(0), PushA(1), {Op(kFnCross), kStoreSlot0}}));
    CompiledForm g = Build({Make(LineA(), kRelationLongCrossBelow, LineB(), 3)});
    EXPECT_EQ(g.instructions, Join({PushB(0), PushA(1), {Num(3), Op(kFnLongCross), kStoreSlot0}}));
    CompiledForm h = Build({Make(LineA(), kRelationLongCrossAbove, LineB(), 3)});
    EXPECT_EQ(h.instructions, Join({PushA(0), PushB(1), {Num(3), Op(kFnLongCross), kStoreSlot0}}));
}

TEST(ConditionCode, ComparisonsMapToTheirOperators) {
    const std::pair<int32_t, uint32_t> cases[] = {
        {kRelationGreater, 41}, {kRelationGreaterEqual, 42}, {kRelationLess, 43},
        {kRelationLessEqual, 44}, {kRelationEqual, 39},      {kRelationNotEqual, 40},
    };
    for (auto [relation, op] : cases) {
        SCOPED_TRACE(relation);
        CompiledForm f = Build({Make(LineA(), relation, ConditionOperand::Number(50))});
        EXPECT_EQ(f.instructions, Join({PushA(), {Num(50), Op(op), kStoreSlot0}}));
    }
}

TEST(ConditionCode, PeriodRelationsPushNThenTheirFunction) {
    const std::pair<int32_t, uint32_t> two[] = {{kRelationPersistGreater, 355}, {kRelationPersistLess, 356}};
    for (auto [relation, fn] : two) {
        CompiledForm f = Build({Make(LineA(), relation, LineB(), 4)});
        EXPECT_EQ(f.instructions, Join({PushA(), PushB(), {Num(4), Op(fn), kStoreSlot0}})) << relation;
    }
    const std::pair<int32_t, uint32_t> one[] = {{kRelationPersistRising, 357}, {kRelationPersistFalling, 358},
                                                {kRelationTurnUp, 359}, {kRelationTurnDown, 360}};
    for (auto [relation, fn] : one) {
        CompiledForm f = Build({Make(LineA(), relation, {}, 5)});
        EXPECT_EQ(f.instructions, Join({PushA(), {Num(5), Op(fn), kStoreSlot0}})) << relation;
    }
}

TEST(ConditionCode, RisingForFivePeriods) {
    // Formula line A 连续5周期上扬: the push of A, (65, 5.0) and (357).
    CompiledForm f = Build({Make(LineA(), kRelationPersistRising, {}, 5)});
    EXPECT_EQ(f.instructions, Join({PushA(), {Num(5), Op(357), kStoreSlot0}}));
}

TEST(ConditionCode, RightOperandLeftFilledInForAOneOperandRelationIsNotEmitted) {
    // The editor keeps whatever the right side held; pushing it would leave a value on the
    // stack that no instruction takes.
    CompiledForm f = Build({Make(LineA(), kRelationPersistRising, LineB(), 5)});
    EXPECT_EQ(f.instructions, Join({PushA(), {Num(5), Op(kFnPersistAscent), kStoreSlot0}}));
    EXPECT_EQ(f.references.size(), 1u);
    CompiledForm g = Build({Make(LineA(), kRelationTurnDown, ConditionOperand::Number(7), 2)});
    EXPECT_EQ(g.instructions, Join({PushA(), {Num(2), Op(kFnPersistTurnDown), kStoreSlot0}}));
}

TEST(ConditionCode, ASelectionLineIsAConditionByItself) {
    ConditionOperand pick = ConditionOperand::FormulaLine(kFormulaSelection, "PICK", "", {}, 8);
    CompiledForm f = Build({Make(pick, kRelationGreater, LineB())});
    EXPECT_EQ(f.instructions, (V{Op(opcode::kReference, opcode::ReferenceOperand(0, 8, 0, 0)), kStoreSlot0}));
    // So are a trading system's line and a colour K-line formula, with or without a relation.
    for (uint32_t type : {kFormulaTradingSystem, kFormulaColourKLine}) {
        ConditionOperand c = ConditionOperand::FormulaLine(type, "SYS", "ENTERLONG", {}, 9);
        CompiledForm g = Build({Make(c, kRelationNone)});
        EXPECT_EQ(g.instructions, (V{Op(opcode::kReference, opcode::ReferenceOperand(0, 9, 0, 0)), kStoreSlot0}));
    }
    // Its operation still applies.
    pick.withOperation(kOperationNot);
    EXPECT_EQ(Build({Make(pick, kRelationNone)}).instructions,
              (V{Op(opcode::kReference, opcode::ReferenceOperand(0, 8, 0, 0)), Op(kFnNot), kStoreSlot0}));
}

TEST(ConditionCode, JoinerFoldsFromTheSecondCondition) {
    std::vector<Condition> two = {Make(LineA(), kRelationGreater, ConditionOperand::Number(0)),
                                  Make(LineB(), kRelationLess, ConditionOperand::Number(20))};
    V expectedAny = Join({PushA(0), {Num(0), Op(opcode::kGt)}, PushB(1), {Num(20), Op(opcode::kLt)},
                          {Op(opcode::kOr), kStoreSlot0}});
    EXPECT_EQ(Build(two, kJoinerAny).instructions, expectedAny);
    V expectedAll = expectedAny;
    expectedAll[expectedAll.size() - 2] = Op(opcode::kAnd);
    EXPECT_EQ(Build(two, kJoinerAll).instructions, expectedAll);
    // Three conditions: one joiner after the second and one after the third.
    two.push_back(Make(ConditionOperand::Number(1), kRelationEqual, ConditionOperand::Number(1)));
    V three = Build(two, kJoinerAny).instructions;
    EXPECT_EQ(std::count(three.begin(), three.end(), Op(opcode::kOr)), 2);
    EXPECT_EQ(three[three.size() - 2], Op(opcode::kOr));
    EXPECT_EQ(three[three.size() - 3], Op(opcode::kEq));
}

TEST(ConditionCode, FinanceItemTimesTwo) {
    ConditionOperand fin = ConditionOperand::Finance(7);
    fin.withOperation(kOperationMultiply, 2);
    CompiledForm f = Build({Make(fin, kRelationGreater, ConditionOperand::Number(1000))});
    EXPECT_EQ(f.instructions, (V{Num(7), Op(kFnFinance), Num(2), Op(opcode::kMul), Num(1000), Op(opcode::kGt), kStoreSlot0}));
    EXPECT_TRUE(f.references.empty());
}

TEST(ConditionCode, OperationsAndLookBack) {
    ConditionOperand a = LineA();
    a.lookBack = 3;
    a.withOperation(kOperationAdd, 1.5f);
    ConditionOperand n = ConditionOperand::Number(4);
    n.withOperation(kOperationNot);
    CompiledForm f = Build({Make(a, kRelationGreaterEqual, n)});
    EXPECT_EQ(f.instructions, Join({PushA(), {Num(3), Op(kFnRef), Num(1.5f), Op(opcode::kAdd)},
                                    {Num(4), Op(kFnNot), Op(opcode::kGe), kStoreSlot0}}));
}

TEST(ConditionCode, SumsOverBothOperands) {
    CompiledForm f = Build({Make(LineA(), kRelationSumGreater, LineB(), 10)});
    EXPECT_EQ(f.instructions, Join({PushA(), {Num(10), Op(kFnSum)}, PushB(), {Num(10), Op(kFnSum)},
                                    {Op(opcode::kGt), kStoreSlot0}}));
    EXPECT_EQ(Build({Make(LineA(), kRelationSumLess, LineB(), 10)}).instructions.end()[-2], Op(opcode::kLt));
    EXPECT_EQ(Build({Make(LineA(), kRelationSumEqual, LineB(), 10)}).instructions.end()[-2], Op(opcode::kEq));
}

TEST(ConditionCode, SumOfAConstantOperandIsTakenOverASeries) {
    // SUM accepts only a series: a number or a finance item is first spread over every bar by
    // adding ISLASTBAR*0, after its operation.
    ConditionOperand n = ConditionOperand::Number(100);
    n.withOperation(kOperationMultiply, 2);
    CompiledForm f = Build({Make(LineA(), kRelationSumGreater, n, 5)});
    V spread = {Op(kFnIsLastBar), Num(0), Op(opcode::kMul), Op(opcode::kAdd)};
    EXPECT_EQ(f.instructions, Join({PushA(), {Num(5), Op(kFnSum)}, {Num(100), Num(2), Op(opcode::kMul)}, spread,
                                    {Num(5), Op(kFnSum), Op(opcode::kGt), kStoreSlot0}}));
    CompiledForm g = Build({Make(ConditionOperand::Finance(3), kRelationSumEqual, LineB(), 0)});
    EXPECT_EQ(g.instructions, Join({{Num(3), Op(kFnFinance)}, spread, {Num(0), Op(kFnSum)}, PushB(0),
                                    {Num(0), Op(kFnSum), Op(opcode::kEq), kStoreSlot0}}));
}

TEST(ConditionCode, OneUnnamedOutputLineWithAllFieldsZero) {
    CompiledForm f = Build({Make(LineA(), kRelationGreater, LineB())});
    ASSERT_EQ(f.outputs.size(), 1u);
    EXPECT_EQ(f.outputs[0].style, 0);
    EXPECT_EQ(f.outputs[0].colourWidth, 0);
    EXPECT_EQ(f.outputs[0].colour, 0u);
    EXPECT_TRUE(f.outputs[0].nameText().empty());
}

TEST(ConditionCode, EqualFormulaLinesShareOneReference) {
    ConditionOperand boundA = LineA();
    CopyToField(boundA.boundStock, "SH600000");
    ConditionOperand weekly = LineA();
    weekly.period = 9;
    ConditionOperand lower = ConditionOperand::FormulaLine(kFormulaInternal, "macd", "dif", {1, 2, 3}, 8);
    CompiledForm f = Build({Make(LineA(), kRelationGreater, weekly), Make(lower, kRelationLess, boundA)});
    ASSERT_EQ(f.references.size(), 2u);
    EXPECT_EQ(f.references[1].stockText(), "SH600000");
    std::vector<uint8_t> indexes, periods;
    for (const Instruction& i : f.instructions)
        if (i.opcode == opcode::kReference) {
            indexes.push_back(i.byteAt(0));
            periods.push_back(i.byteAt(1));
        }
    EXPECT_EQ(indexes, (std::vector<uint8_t>{0, 0, 0, 1}));
    EXPECT_EQ(periods, (std::vector<uint8_t>{8, 9, 8, 8}));
}

TEST(ConditionCode, ConditionsThatCannotBeBuilt) {
    CompiledForm untouched;
    untouched.stringPool = "KEEP\t";
    auto fails = [&](const std::vector<Condition>& cs) {
        CompiledForm out = untouched;
        bool built = BuildConditionCode(cs, kJoinerAll, out);
        if (!built) {
            EXPECT_EQ(out.stringPool, "KEEP\t");  // a failure leaves the output alone
        }
        return !built;
    };
    EXPECT_TRUE(fails({}));
    EXPECT_TRUE(fails({Make({}, kRelationGreater, LineB())}));                    // no left operand
    EXPECT_TRUE(fails({Make(LineA(), kRelationGreater)}));                        // no right operand
    EXPECT_TRUE(fails({Make(LineA(), kRelationNone, LineB())}));                  // no relation
    EXPECT_TRUE(fails({Make(LineA(), 20, LineB())}));                             // unknown relation
    EXPECT_TRUE(fails({Make(LineA(), -1, LineB())}));
    EXPECT_TRUE(fails({Make(ConditionOperand::Finance(39), kRelationGreater, LineB())}));  // beyond FINANCE's items
    ConditionOperand badOp = LineA();
    badOp.operation = 4;
    EXPECT_TRUE(fails({Make(badOp, kRelationGreater, LineB())}));
    ConditionOperand badKind = LineA();
    badKind.kind = 9;
    EXPECT_TRUE(fails({Make(badKind, kRelationGreater, LineB())}));
    ConditionOperand noName = LineA();
    noName.formulaName[0] = 0;
    EXPECT_TRUE(fails({Make(noName, kRelationGreater, LineB())}));
    for (uint32_t period : {1u, 15u, 300u}) {
        ConditionOperand p = LineA();
        p.period = period;
        EXPECT_TRUE(fails({Make(LineB(), kRelationGreater, p)})) << period;
    }
    ConditionOperand tooMany = LineA();
    tooMany.paramCount = 65;
    EXPECT_TRUE(fails({Make(tooMany, kRelationGreater, LineB())}));
    ConditionOperand unknownType = LineA();
    unknownType.value = 6;
    EXPECT_TRUE(fails({Make(unknownType, kRelationGreater, LineB())}));
    // A good condition after a bad one does not rescue it.
    EXPECT_TRUE(fails({Make(LineA(), kRelationGreater, LineB()), Make({}, kRelationGreater, LineB())}));
    // Period 0 is the evaluation's own period and is allowed.
    ConditionOperand own = LineA();
    own.period = 0;
    EXPECT_FALSE(fails({Make(own, kRelationGreater, LineB())}));
}

TEST(ConditionCode, ReferenceTableLimit) {
    std::vector<Condition> many;
    for (int i = 0; i < 255; ++i) {
        ConditionOperand line = ConditionOperand::FormulaLine(kFormulaSubPane, "F" + std::to_string(i), "X", {}, 8);
        many.push_back(Make(line, kRelationGreater, ConditionOperand::Number(0)));
    }
    CompiledForm f;
    ASSERT_TRUE(BuildConditionCode(many, kJoinerAny, f));
    EXPECT_EQ(f.references.size(), 255u);
    many.push_back(Make(ConditionOperand::FormulaLine(kFormulaSubPane, "ONEMORE", "X", {}, 8), kRelationGreater,
                        ConditionOperand::Number(0)));
    EXPECT_FALSE(BuildConditionCode(many, kJoinerAny, f));
}

class CombinedCompile : public ::testing::Test {
protected:
    FormulaRecord Record(const std::vector<Condition>& conditions, uint32_t joiner = kJoinerAll) {
        FormulaRecord r;
        r.type = kFormulaCombined;
        r.setName("COMBO");
        r.joiner = joiner;
        SetConditions(r, conditions);
        return r;
    }
};

TEST_F(CombinedCompile, CompileFormulaBuildsTypeSevenFromItsImages) {
    FormulaRecord r = Record({Make(LineA(), kRelationCrossAbove, LineB())});
    CompileOptions options;
    options.compileTime = 42;
    ASSERT_EQ(CompileFormula(r, options), 0);
    EXPECT_EQ(r.instructions, Join({PushA(), PushB(), {Op(kFnCross), kStoreSlot0}}));
    EXPECT_EQ(r.outputs.size(), 1u);
    EXPECT_EQ(r.references.size(), 2u);
    EXPECT_EQ(r.compileTime, 42u);
    // Recompiling gives the same bytes.
    Bytes first = CompiledFormBytes(r);
    ASSERT_EQ(CompileFormula(r, options), 0);
    EXPECT_EQ(CompiledFormBytes(r), first);
}

TEST_F(CombinedCompile, FailureIsErrorFortyFiveAndKeepsTheOldForm) {
    FormulaRecord r = Record({Make(LineA(), kRelationCrossAbove, LineB())});
    CompileOptions options;
    options.compileTime = 42;
    ASSERT_EQ(CompileFormula(r, options), 0);
    Bytes before = CompiledFormBytes(r);
    const std::vector<std::vector<Condition>> broken = {{}, {Make(LineA(), kRelationGreater)}};
    for (const std::vector<Condition>& cs : broken) {
        SetConditions(r, cs);
        options.compileTime = 99;
        try {
            CompileFormula(r, options);
            ADD_FAILURE() << "compiled";
        } catch (const CompileError& e) {
            EXPECT_EQ(e.code(), kErrInternal);
            EXPECT_EQ(e.messageUtf8(), "错误45:未定义的错误");
            EXPECT_EQ(e.position(), -1);
        }
        EXPECT_EQ(CompiledFormBytes(r), before);
        EXPECT_EQ(r.compileTime, 42u);
    }
    // A locked record's images hold enciphered names: it keeps the code built before locking.
    SetConditions(r, {Make(LineB(), kRelationGreater, LineA())});
    r.lockChecksum = 0x1234;
    EXPECT_THROW(CompileFormula(r, options), CompileError);
    EXPECT_EQ(CompiledFormBytes(r), before);
    r.lockChecksum = 0;
    // A malformed image fails the same way.
    r.conditions = {std::string(10, '\1')};
    EXPECT_THROW(CompileFormula(r, options), CompileError);
    EXPECT_EQ(CompiledFormBytes(r), before);
}

}  // namespace
}  // namespace tessaro
