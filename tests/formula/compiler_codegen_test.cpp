// What the compiler emits: instructions, output descriptors, slots, pool and type rules.
#include <gtest/gtest.h>

#include <ctime>

#include "compiler_test_support.h"
#include "formula/function_registry.h"

namespace tessaro {
namespace {

using namespace testing_support;
using V = std::vector<Instruction>;

TEST(CompilerCode, HiddenVariableThenOutputGivesSixInstructions) {
    std::vector<FormulaParam> params = {Param("N", 5), Param("M", 10)};
    CompiledForm f = Compile("X:=C; Y:X*2;", kFormulaSubPane, params);
    EXPECT_EQ(f.instructions, (V{Op(kFnClose), Op(opcode::kStore, 2 | (1u << 16)), Op(opcode::kPushVariable, 2 | (1u << 16)),
                                 Num(2.0f), Op(opcode::kMul), Op(opcode::kStore, 3)}));
    ASSERT_EQ(f.outputs.size(), 1u);
    EXPECT_EQ(f.outputs[0].nameText(), "Y");
    // Without parameters the same statements use slots 0 and 1.
    CompiledForm g = Compile("X:=C; Y:X*2;");
    EXPECT_EQ(g.instructions[1], Op(opcode::kStore, 0 | (1u << 16)));
    EXPECT_EQ(g.instructions[5], Op(opcode::kStore, 1));
}

TEST(CompilerCode, StatementSlotsFollowTheParameters) {
    std::vector<FormulaParam> params = {Param("N1", 5), Param("N2", 10)};
    CompiledForm f = Compile("A:MA(C,N1); B:A+N2;", kFormulaSubPane, params);
    EXPECT_EQ(f.instructions, (V{Op(kFnClose), Op(opcode::kPushParam, 0), Op(kFnMa), Op(opcode::kStore, 2),
                                 Op(opcode::kPushVariable, 2), Op(opcode::kPushParam, 1), Op(opcode::kAdd),
                                 Op(opcode::kStore, 3)}));
}

TEST(CompilerCode, PrecedenceAndAssociativity) {
    EXPECT_EQ(Compile("A:1+2*3;").instructions,
              (V{Num(1), Num(2), Num(3), Op(opcode::kMul), Op(opcode::kAdd), Op(opcode::kStore, 0)}));
    EXPECT_EQ(Compile("A:(1+2)*3;").instructions,
              (V{Num(1), Num(2), Op(opcode::kAdd), Num(3), Op(opcode::kMul), Op(opcode::kStore, 0)}));
    EXPECT_EQ(Compile("A:8-4-2;").instructions,
              (V{Num(8), Num(4), Op(opcode::kSub), Num(2), Op(opcode::kSub), Op(opcode::kStore, 0)}));
    EXPECT_EQ(Compile("A:8/4/2;").instructions,
              (V{Num(8), Num(4), Op(opcode::kDiv), Num(2), Op(opcode::kDiv), Op(opcode::kStore, 0)}));
    // "and" and "or" share one level, left to right, below the relations.
    EXPECT_EQ(Compile("A:C>O OR C<1 AND H=L;").instructions,
              (V{Op(kFnClose), Op(kFnOpen), Op(opcode::kGt), Op(kFnClose), Num(1), Op(opcode::kLt), Op(opcode::kOr),
                 Op(kFnHigh), Op(kFnLow), Op(opcode::kEq), Op(opcode::kAnd), Op(opcode::kStore, 0)}));
    EXPECT_EQ(Compile("A:C+1>=O*2;").instructions,
              (V{Op(kFnClose), Num(1), Op(opcode::kAdd), Op(kFnOpen), Num(2), Op(opcode::kMul), Op(opcode::kGe),
                 Op(opcode::kStore, 0)}));
}

TEST(CompilerCode, RelationalOperatorsMapToTheirOpcodes) {
    const std::pair<const char*, uint32_t> cases[] = {{"=", 39}, {"<>", 40}, {">", 41}, {">=", 42}, {"<", 43}, {"<=", 44}};
    for (auto [op, code] : cases) {
        CompiledForm f = Compile(std::string("A:C") + op + "O;");
        ASSERT_EQ(f.instructions.size(), 4u) << op;
        EXPECT_EQ(f.instructions[2].opcode, code) << op;
    }
}

TEST(CompilerCode, SignsOfAFactor) {
    EXPECT_EQ(Compile("A:-C;").instructions, (V{Op(kFnClose), Op(opcode::kNeg), Op(opcode::kStore, 0)}));
    EXPECT_EQ(Compile("A:+C;").instructions, (V{Op(kFnClose), Op(opcode::kStore, 0)}));
    EXPECT_EQ(Compile("A:2*-C;").instructions,
              (V{Num(2), Op(kFnClose), Op(opcode::kNeg), Op(opcode::kMul), Op(opcode::kStore, 0)}));
}

TEST(CompilerCode, CaseAndFinalSemicolonDoNotMatter) {
    CompiledForm a = Compile("MA5:MA(CLOSE,5);");
    CompiledForm b = Compile("ma5:ma(close,5)");
    CompiledForm c = Compile("  Ma5 : mA( C , 5 ) ; ");
    EXPECT_EQ(a, b);
    EXPECT_EQ(a, c);
    EXPECT_EQ(a.instructions, (V{Op(kFnClose), Num(5), Op(kFnMa), Op(opcode::kStore, 0)}));
    EXPECT_EQ(a.outputs[0].nameText(), "MA5");
}

TEST(CompilerCode, ParameterlessFunctionMayTakeEmptyParentheses) {
    EXPECT_EQ(Compile("A:CLOSE();"), Compile("A:CLOSE;"));
    EXPECT_EQ(Compile("A:CAPITAL;").instructions, (V{Op(kFnCapital), Op(opcode::kStore, 0)}));
}

TEST(CompilerCode, FunctionResultKindsFeedArgumentChecks) {
    // CAPITAL gives a constant number, so it may stand where MA wants one.
    EXPECT_NO_THROW(Compile("A:MA(C,CAPITAL);"));
    EXPECT_NO_THROW(Compile("A:MA(C,5*2+1);"));
    // A series never satisfies a constant-number position.
    EXPECT_EQ(ErrorOf("A:MA(C,C);").code(), kErrArgKind);
    // Either kind is fine for IF.
    EXPECT_NO_THROW(Compile("A:IF(C>O,1,C);"));
}

TEST(CompilerOutputs, UnnamedStatementsBecomeUnnamedLines) {
    CompiledForm f = Compile("MA(C,5);MA(C,10);");
    ASSERT_EQ(f.outputs.size(), 2u);
    EXPECT_TRUE(f.outputs[0].nameText().empty());
    EXPECT_TRUE(f.outputs[1].nameText().empty());
    EXPECT_EQ(f.instructions[3], Op(opcode::kStore, 0));
    EXPECT_EQ(f.instructions[7], Op(opcode::kStore, 1));
    FormulaRecord r;
    StoreCompiledForm(r, f);
    EXPECT_EQ(GbkToUtf8(r.lineDisplayName(0)), "第1条线");
    EXPECT_EQ(GbkToUtf8(r.lineDisplayName(1)), "第2条线");
    // Unnamed and named lines mix in statement order.
    CompiledForm g = Compile("C; B:O; H;");
    ASSERT_EQ(g.outputs.size(), 3u);
    EXPECT_EQ(g.outputs[1].nameText(), "B");
    EXPECT_TRUE(g.outputs[2].nameText().empty());
}

TEST(CompilerOutputs, DefaultDescriptor) {
    CompiledForm f = Compile("A:C;");
    ASSERT_EQ(f.outputs.size(), 1u);
    EXPECT_EQ(f.outputs[0].style, 1);
    EXPECT_EQ(f.outputs[0].colourWidth, 0);
    EXPECT_EQ(f.outputs[0].colour, 0xFFFFFFFFu);
}

TEST(CompilerOutputs, ModifiersApplyByClassLaterOnesWin) {
    CompiledForm f = Compile("A:C,COLORRED,LINETHICK3;");
    EXPECT_EQ(f.outputs[0].style, 1);
    EXPECT_EQ(f.outputs[0].colourWidth, 7);
    EXPECT_EQ(f.outputs[0].colour, 0x0000FFu);
    EXPECT_EQ(Compile("A:C,STICK,POLE;").outputs[0].style, 12);
    // Width keeps the colour bit, colour keeps the width.
    CompiledForm g = Compile("A:C,LINETHICK2,COLOR00FF00,LINETHICK9;");
    EXPECT_EQ(g.outputs[0].colourWidth, 1 + 18);
    EXPECT_EQ(g.outputs[0].colour, 0x00FF00u);
    // A width without colour leaves bit 0 clear.
    EXPECT_EQ(Compile("A:C,LINETHICK4;").outputs[0].colourWidth, 8);
    EXPECT_EQ(Compile("A:C COLORBLUE;").outputs[0].colour, 0xFF0000u);
    EXPECT_EQ(Compile("A:C,,COLORRED,;").outputs[0].colour, 0x0000FFu);
    // Modifiers do not change the instructions.
    EXPECT_EQ(Compile("A:C,COLORRED;").instructions, Compile("A:C;").instructions);
}

TEST(CompilerOutputs, ModifiersOfAHiddenVariableAreIgnored) {
    CompiledForm f = Compile("X:=C, COLORRED; A:X;");
    ASSERT_EQ(f.outputs.size(), 1u);
    EXPECT_EQ(f.outputs[0].nameText(), "A");
    EXPECT_EQ(f.outputs[0].colour, 0xFFFFFFFFu);
}

TEST(CompilerOutputs, ModifierOnUnnamedLineGoesToThatLine) {
    CompiledForm f = Compile("C,COLORRED; O,COLORGREEN; A:H,STICK;");
    ASSERT_EQ(f.outputs.size(), 3u);
    EXPECT_EQ(f.outputs[0].colour, 0x0000FFu);
    EXPECT_EQ(f.outputs[1].colour, 0x00FF00u);
    EXPECT_EQ(f.outputs[2].style, 2);
}

TEST(CompilerOutputs, ChineseNamesCountInBytes) {
    // Seven double-byte characters (14 bytes) fit the 16-byte field whole.
    std::string seven = "一二三四五六七";
    CompiledForm f = Compile(seven + ":C;");
    EXPECT_EQ(GbkToUtf8(std::string(f.outputs[0].nameText())), seven);
    // Eight (16 bytes) would leave no room for the NUL.
    CompileError e = ErrorOf("一二三四五六七八:C;");
    EXPECT_EQ(e.code(), kErrNameTooLong);
    EXPECT_EQ(e.messageUtf8(), "错误29:指标名称超长，最大只允许15个字符公式指标名称字符最大长度15个字符");
    EXPECT_EQ(e.position(), 0);
    EXPECT_EQ(e.length(), 16);
}

TEST(CompilerStrings, PoolIsUpperCaseTabTerminatedAndShared) {
    CompiledForm f = Compile("A:DRAWTEXT(C>O,L,'Buy');B:DRAWTEXT(C<O,H,'sell');D:DRAWTEXT(C=O,H,'BUY');");
    EXPECT_EQ(f.stringPool, "BUY\tSELL\t");
    std::vector<uint32_t> indexes;
    for (const Instruction& i : f.instructions)
        if (i.opcode == opcode::kPushString) indexes.push_back(i.operand);
    EXPECT_EQ(indexes, (std::vector<uint32_t>{0, 1, 0}));
    FormulaRecord r;
    StoreCompiledForm(r, f);
    EXPECT_EQ(r.poolString(1), "SELL");
    EXPECT_EQ(r.poolString(2), "");
}

TEST(CompilerStrings, TabInAConstantDoesNotShiftLaterStrings) {
    CompiledForm f = Compile("A:DRAWTEXT(C>O,L,'a\tb');B:DRAWTEXT(C<O,H,'c');");
    EXPECT_EQ(f.stringPool, "A B\tC\t");
    FormulaRecord r;
    StoreCompiledForm(r, f);
    EXPECT_EQ(r.instructions[11].opcode, opcode::kPushString);
    EXPECT_EQ(r.poolString(r.instructions[11].operand), "C");
}

TEST(CompilerStrings, ChineseStringKeepsItsBytes) {
    CompiledForm f = Compile("A:DRAWTEXT(C>O,L,'大阳线');");
    EXPECT_EQ(GbkToUtf8(f.stringPool), "大阳线\t");
}

TEST(CompilerTypes, TradingSystemSignals) {
    CompiledForm f = Compile("ENTERLONG:CROSS(C,MA(C,5)); EXITSHORT:CROSS(MA(C,5),C);", kFormulaTradingSystem);
    ASSERT_EQ(f.outputs.size(), 2u);
    EXPECT_EQ(f.outputs[0].signal(), 100u);
    EXPECT_EQ(f.outputs[1].signal(), 103u);
    EXPECT_EQ(f.outputs[0].colour, 19u);
    CompiledForm g = Compile("exitlong:C>O; entershort:C<O;", kFormulaTradingSystem);
    EXPECT_EQ(g.outputs[0].signal(), 101u);
    EXPECT_EQ(g.outputs[1].signal(), 102u);
    // Hidden variables may have any name.
    EXPECT_NO_THROW(Compile("X:=C>O; ENTERLONG:X;", kFormulaTradingSystem));
}

TEST(CompilerTypes, SelectionAndColourKLineHaveExactlyOneLine) {
    EXPECT_NO_THROW(Compile("X:=C>O; A:X AND V>0;", kFormulaSelection));
    EXPECT_NO_THROW(Compile("C>O;", kFormulaColourKLine));
    CompileError e = ErrorOf("A:C>O; B:DRAWTEXT(C>O,L,'x');", kFormulaSelection);
    EXPECT_EQ(e.code(), kErrOneLineOnly);
    EXPECT_EQ(e.position(), 7);  // the second output line's name
    EXPECT_EQ(e.length(), 1);
    EXPECT_EQ(ErrorOf("C>O; C<O;", kFormulaColourKLine).code(), kErrOneLineOnly);
    // Indicators may have many.
    EXPECT_NO_THROW(Compile("A:C; B:O; D:H;", kFormulaMainOverlay));
}

TEST(CompilerTypes, CombinedConditionsNeedTheirBuilder) {
    FormulaRecord r;
    r.type = kFormulaCombined;
    try {
        CompileFormula(r);
        FAIL() << "type 7 compiled without a builder";
    } catch (const CompileError& e) {
        EXPECT_EQ(e.code(), kErrInternal);
        EXPECT_EQ(e.messageUtf8(), "错误45:未定义的错误");
    }
    CompileOptions options;
    options.conditionBuilder = [](const FormulaRecord&, CompiledForm& out) {
        out.instructions = {Instruction{kFnClose, 0}, Instruction{opcode::kStore, 0}};
        out.outputs.resize(1);
        return true;
    };
    EXPECT_EQ(CompileFormula(r, options), 0);
    EXPECT_EQ(r.instructions.size(), 2u);
}

TEST(CompilerRecord, SuccessStoresFailureKeepsTheOldForm) {
    FormulaRecord r;
    r.setName("TEST");
    r.source = Utf8ToGbk("A:MA(C,5);B:'x';");
    CompileOptions options;
    options.compileTime = 1234567u;
    ASSERT_EQ(CompileFormula(r, options), 0);
    EXPECT_EQ(r.compileTime, 1234567u);
    Bytes before = CompiledFormBytes(r);
    EXPECT_EQ(r.outputs.size(), 2u);

    r.source = Utf8ToGbk("A:MA(C,5);B:'y';C:Q;");  // Q is undefined
    options.compileTime = 99u;
    EXPECT_THROW(CompileFormula(r, options), CompileError);
    EXPECT_EQ(CompiledFormBytes(r), before);
    EXPECT_EQ(r.compileTime, 1234567u);
    EXPECT_EQ(r.stringPool, "X\t");
}

TEST(CompilerRecord, CompileTimeDefaultsToNow) {
    FormulaRecord r;
    r.source = "A:C;";
    const uint32_t before = static_cast<uint32_t>(std::time(nullptr));
    ASSERT_EQ(CompileFormula(r), 0);
    const uint32_t after = static_cast<uint32_t>(std::time(nullptr));
    EXPECT_GE(r.compileTime, before);
    EXPECT_LE(r.compileTime, after);
}

TEST(CompilerRecord, RecompilingGivesIdenticalBytes) {
    std::vector<FormulaRecord> set = SampleSet();
    CompileOptions options;
    options.lookup = LookupInRecords(&set);
    FormulaRecord r;
    r.setName("MINE");
    r.params = {Param("N", 5)};
    r.source = Utf8ToGbk("X:=\"macd.dif\"(12,26,N); A:MA(X,N),COLORRED; DRAWTEXT(A>0,L,'up');"
                         "B:STKINDI('SH600000','KDJ.K#WEEK'),STICK;");
    ASSERT_EQ(CompileFormula(r, options), 0);
    Bytes first = CompiledFormBytes(r);
    ASSERT_EQ(CompileFormula(r, options), 0);
    EXPECT_EQ(CompiledFormBytes(r), first);
    FormulaRecord other = r;
    ASSERT_EQ(CompileFormula(other, options), 0);
    EXPECT_EQ(CompiledFormBytes(other), first);
}

}  // namespace
}  // namespace tessaro
