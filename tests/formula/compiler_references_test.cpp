// References to other formulas and other securities: both written forms, their table and
// their instruction operands, and every way a reference text can be wrong.
#include <gtest/gtest.h>

#include "compiler_test_support.h"
#include "formula/function_registry.h"

namespace tessaro {
namespace {

using namespace testing_support;

class CompilerReferences : public ::testing::Test {
protected:
    void SetUp() override { options.lookup = LookupInRecords(&set); }

    CompiledForm C(const std::string& text, const std::vector<FormulaParam>& params = {}) {
        return Compile(text, kFormulaSubPane, params, options);
    }
    CompileError E(const std::string& text, const std::vector<FormulaParam>& params = {}) {
        return ErrorOf(text, kFormulaSubPane, params, options);
    }

    std::vector<FormulaRecord> set = SampleSet();
    CompileOptions options;
};

TEST_F(CompilerReferences, QuotedFormulaLineWithDefaultParameters) {
    CompiledForm f = C("A:\"macd.dif\";");
    ASSERT_EQ(f.instructions.size(), 2u);
    EXPECT_EQ(f.instructions[0].opcode, opcode::kReference);
    EXPECT_EQ(f.instructions[0].operand, opcode::ReferenceOperand(0, 0, 0, opcode::kRefFormula));
    ASSERT_EQ(f.references.size(), 1u);
    const ReferenceEntry& e = f.references[0];
    EXPECT_EQ(e.stockText(), "");
    EXPECT_EQ(e.type, kFormulaSubPane);
    EXPECT_EQ(e.formulaNameText(), "MACD");
    EXPECT_EQ(e.lineNameText(), "DIF");
    EXPECT_EQ(e.period, 0);
}

TEST_F(CompilerReferences, ArgumentsPeriodsAndDoubleHash) {
    std::vector<FormulaParam> params = {Param("N", 9)};
    CompiledForm f = C("A:\"macd.dea#week\"(12,26,N);", params);
    ASSERT_EQ(f.instructions.size(), 5u);
    EXPECT_EQ(f.instructions[0], Num(12));
    EXPECT_EQ(f.instructions[1], Num(26));
    EXPECT_EQ(f.instructions[2], Op(opcode::kPushParam, 0));
    EXPECT_EQ(f.instructions[3].operand, opcode::ReferenceOperand(0, 9, 3, opcode::kRefFormula));
    EXPECT_EQ(f.references[0].period, 9);

    CompiledForm g = C("A:\"kdj##day\";");
    EXPECT_EQ(g.instructions[0].operand, opcode::ReferenceOperand(0, 8, 0, opcode::kRefFormulaDouble));
    EXPECT_EQ(g.references[0].lineNameText(), "");  // the last line
    EXPECT_EQ(g.references[0].type, kFormulaMainOverlay);
    // Period keywords in any case.
    EXPECT_EQ(C("A:\"kdj.k#QUARTER\";").references[0].period, 11);
    EXPECT_EQ(C("A:\"kdj.k#tick\";").references[0].period, 2);
    EXPECT_EQ(C("A:\"kdj.k#Time\";").references[0].period, 14);
}

TEST_F(CompilerReferences, UnnamedLinesAreFoundByDisplayName) {
    CompiledForm f = C("A:\"noname.第2条线\";");
    EXPECT_EQ(GbkToUtf8(std::string(f.references[0].lineNameText())), "第2条线");
    EXPECT_EQ(E("A:\"noname.第3条线\";").code(), kErrRefLineMissing);
}

TEST_F(CompilerReferences, EqualReferencesShareOneEntry) {
    CompiledForm f = C("A:\"macd.dif\"+\"MACD.DIF#week\"(1,2,3); B:\"macd.dea\"; D:\"sh600000$macd.dif\";");
    ASSERT_EQ(f.references.size(), 3u);
    EXPECT_EQ(f.instructions[0].byteAt(0), 0);
    EXPECT_EQ(f.instructions[4].byteAt(0), 0);
    EXPECT_EQ(f.instructions[4].byteAt(1), 9);  // the period stays in the instruction
    EXPECT_EQ(f.references[2].stockText(), "SH600000");
}

TEST_F(CompilerReferences, StockFields) {
    CompiledForm f = C("A:\"sh600000$close\"; B:\"SZ000001$v\"; D:\"sh600000$o\";");
    ASSERT_EQ(f.references.size(), 2u);
    EXPECT_EQ(f.instructions[0].operand, opcode::ReferenceOperand(0, 3, 0, opcode::kRefStockField));
    EXPECT_EQ(f.instructions[2].operand, opcode::ReferenceOperand(1, 4, 0, opcode::kRefStockField));
    EXPECT_EQ(f.instructions[4].operand, opcode::ReferenceOperand(0, 0, 0, opcode::kRefStockField));
    EXPECT_EQ(f.references[1].stockText(), "SZ000001");
    EXPECT_EQ(C("A:\"sh600000$amount\";").instructions[0].byteAt(1), 5);

    CompileError e = E("A:1+\"sh600000$close\"(5);");
    EXPECT_EQ(e.code(), kErrStockRefArgs);
    EXPECT_EQ(e.position(), 4);
    EXPECT_EQ(e.length(), 17);
}

TEST_F(CompilerReferences, QuotedReferenceErrors) {
    EXPECT_EQ(E("A:\"nosuch.x\";").code(), kErrRefFormulaMissing);
    EXPECT_EQ(E("A:\"pick.x\";").code(), kErrRefFormulaMissing);  // a selection formula is no indicator
    EXPECT_EQ(E("A:\"macd.xyz\";").code(), kErrRefLineMissing);
    EXPECT_EQ(E("A:\"a$b$c\";").code(), kErrRefFormat);
    EXPECT_EQ(E("A:\"macd.dif.dea\";").code(), kErrRefFormat);
    EXPECT_EQ(E("A:\"macd#day#week#x\";").code(), kErrRefFormat);
    EXPECT_EQ(E("A:\"macd#day#\";").code(), kErrRefFormat);  // two '#' apart
    EXPECT_EQ(E("A:\"macd.dif#days\";").code(), kErrRefPeriod);
    EXPECT_EQ(E("A:\"macd.dif#\";").code(), kErrRefPeriod);
    EXPECT_EQ(E("A:\"\";").code(), kErrEmptyRef);
    EXPECT_EQ(E("A:\".dif\";").code(), kErrEmptyRef);
    EXPECT_EQ(E("A:\"#day\";").code(), kErrEmptyRef);
    CompileError e = E("X:=1; A:\"abcdefghijklmnop.x\";");
    EXPECT_EQ(e.code(), kErrRefNameTooLong);
    EXPECT_EQ(e.messageUtf8(), "错误47:字符串的长度超长引用的公式名称的字符个数最多15个");
    EXPECT_EQ(e.position(), 8);
    EXPECT_EQ(e.length(), 20);
    EXPECT_EQ(E("A:\"macd.abcdefghijklmnop\";").messageUtf8(), "错误47:字符串的长度超长引用的指标名称的字符个数最多15个");
    EXPECT_EQ(E("A:\"sh6000000000$close\";").messageUtf8(), "错误47:字符串的长度超长引用的股票名称的字符个数最多9个");
    // Eight double-byte characters are 16 bytes: too long for the 16-byte name field.
    EXPECT_EQ(E("A:\"一二三四五六七八.x\";").code(), kErrRefNameTooLong);
    EXPECT_EQ(E("A:\"macd.一二三四五六七八\";").code(), kErrRefNameTooLong);
}

TEST_F(CompilerReferences, ReferenceArgumentErrors) {
    EXPECT_EQ(E("A:\"macd.dif\"(12,26,C);").code(), kErrRefArgNotConstant);
    CompileError none = E("A:\"kdj.k\"(1);");
    EXPECT_EQ(none.code(), kErrRefArgCount);
    EXPECT_EQ(none.messageUtf8(), "错误43:引用的公式参数数目不匹配该引用公式规定没有参数");
    EXPECT_EQ(E("A:\"macd.dif\"(1,2,3,4);").messageUtf8(), "错误43:引用的公式参数数目不匹配该引用公式规定3个参数");
    EXPECT_EQ(E("A:\"macd.dif\"(1,2);").messageUtf8(),
              "错误43:引用的公式参数数目不匹配该引用公式规定3个参数,实际给了2个参数");
    EXPECT_EQ(E("A:\"macd.dif\"();").code(), kErrRefArgCount);
    EXPECT_NO_THROW(C("A:\"kdj.k\"();"));
    EXPECT_EQ(E("A:\"macd.dif\"(1,2,3;").code(), kErrMissingRParen);
    EXPECT_EQ(E("A:\"macd.dif\"(1e,2,3);").code(), kErrMissingRParen);
    EXPECT_EQ(E("A:\"macd.dif\"(1,2,9999999999999);").code(), kErrNumberTooLarge);
}

TEST_F(CompilerReferences, WithoutAFormulaSetEveryReferenceIsMissing) {
    EXPECT_EQ(ErrorOf("A:\"macd.dif\";").code(), kErrRefFormulaMissing);
    // A stock field needs no formula set.
    EXPECT_NO_THROW(Compile("A:\"sh600000$c\";"));
}

TEST_F(CompilerReferences, StkIndiEmitsItsArgumentsThenTheReference) {
    CompiledForm f = C("A:STKINDI('SH600000','MACD.DIF#DAY',12,26,9);");
    ASSERT_EQ(f.instructions.size(), 5u);
    EXPECT_EQ(f.instructions[0], Num(12));
    EXPECT_EQ(f.instructions[1], Num(26));
    EXPECT_EQ(f.instructions[2], Num(9));
    EXPECT_EQ(f.instructions[3].operand, opcode::ReferenceOperand(0, 8, 3, opcode::kRefFormula));
    EXPECT_EQ(f.references[0].stockText(), "SH600000");
    EXPECT_EQ(f.references[0].formulaNameText(), "MACD");

    CompiledForm g = C("A:STKINDI( '大盘指数' , 'kdj' ); B:stkindi('sz000001','macd.dea',1.5,-2,+3);");
    EXPECT_EQ(GbkToUtf8(std::string(g.references[0].stockText())), "大盘指数");
    EXPECT_EQ(g.instructions[0].operand, opcode::ReferenceOperand(0, 0, 0, opcode::kRefFormula));
    EXPECT_EQ(g.instructions[2], Num(1.5f));
    EXPECT_EQ(g.instructions[3], Num(-2.0f));
    EXPECT_EQ(g.references[1].stockText(), "SZ000001");
    EXPECT_NO_THROW(C("A:STKINDI('行业指数','kdj.d')+STKINDI('概念指数','kdj.d')+STKINDI('区域指数','kdj.d');"));
}

TEST_F(CompilerReferences, StkIndiErrors) {
    EXPECT_EQ(E("A:STKINDI();").code(), kErrStkIndiFormat);
    EXPECT_EQ(E("A:STKINDI('SH600000');").code(), kErrStkIndiFormat);
    EXPECT_EQ(E("A:STKINDI(SH600000,'MACD');").code(), kErrStkIndiStockQuote);
    EXPECT_EQ(E("A:STKINDI('SH600000',MACD);").code(), kErrStkIndiFormulaQuote);
    EXPECT_EQ(E("A:STKINDI('XX600000','MACD');").code(), kErrStkIndiStock);
    EXPECT_EQ(E("A:STKINDI('SH6000000000','MACD');").code(), kErrStkIndiStock);
    EXPECT_EQ(E("A:STKINDI('SH','MACD');").code(), kErrStkIndiStock);
    EXPECT_EQ(E("A:STKINDI('指数','MACD');").code(), kErrStkIndiStock);
    EXPECT_EQ(E("A:STKINDI('SH600000','MACD#WEAK');").code(), kErrStkIndiPeriod);
    EXPECT_EQ(E("A:STKINDI('SH600000','MACD.DIF.DEA');").code(), kErrStkIndiFormula);
    EXPECT_EQ(E("A:STKINDI('SH600000','SH600000$CLOSE');").code(), kErrStkIndiFormula);
    EXPECT_EQ(E("A:STKINDI('SH600000','');").code(), kErrStkIndiFormula);
    EXPECT_EQ(E("A:STKINDI('SH600000','NOSUCH');").code(), kErrRefFormulaMissing);
    EXPECT_EQ(E("A:STKINDI('SH600000','MACD.XYZ');").code(), kErrRefLineMissing);
    EXPECT_EQ(E("A:STKINDI('SH600000','ABCDEFGHIJKLMNOP');").code(), kErrRefNameTooLong);
    CompileError count = E("A:STKINDI('SH600000','MACD.DIF',12);");
    EXPECT_EQ(count.code(), kErrStkIndiArgCount);
    EXPECT_EQ(count.messageUtf8(), "错误39:STKINDI语句公式的参数个数错误,要求3个参数，实际给了1个");
    EXPECT_EQ(count.position(), 2);
    EXPECT_EQ(count.length(), 33);
    EXPECT_EQ(E("A:STKINDI('SH600000','MACD.DIF',12,2x,9);").code(), kErrRefArgNotConstant);
    EXPECT_EQ(E("A:STKINDI('SH600000','MACD.DIF',12,,9);").code(), kErrRefArgNotConstant);
    EXPECT_EQ(E("A:STKINDI('SH600000','MACD.DIF',12,26,2000000000000);").code(), kErrNumberTooLarge);
}

// Every error a reference raises, with its message and the range the editor selects: the
// whole reference text (quotes included), or the offending argument.
TEST_F(CompilerReferences, EveryReferenceErrorWithMessageAndPlace) {
    struct Case {
        std::string text;
        int code;
        const char* message;
        int position;
        int length;
    };
    const std::string longRef = "A:\"" + std::string(201, 'x') + "\";";
    const std::string longStkIndi = "A:STKINDI(" + std::string(201, 'x') + ");";
    const Case cases[] = {
        {"A:\"macd.dif\"(12,26,C);", 14, "错误14:引用参数必须是常数数值", 19, 1},
        {"A:STKINDI('SH600000','MACD'", 18, "错误18:引用串缺结束引号", 2, 25},
        {"A:\"nosuch.x\";", 20, "错误20:引用的公式不存在", 2, 10},
        {"A:STKINDI('SH600000','NOSUCH');", 20, "错误20:引用的公式不存在", 2, 28},
        {"A:\"a$b$c\";", 21, "错误21:引用字符串格式错误", 2, 7},
        {"A:\"macd.xyz\";", 22, "错误22:引用的公式中的指标不存在", 2, 10},
        {"A:\"macd.dif#days\";", 23, "错误23:引用指标中的周期字符串书写错误", 2, 15},
        {"A:STKINDI('SH600000');", 32, "错误32:引用语句格式错误", 2, 19},
        {"A:STKINDI('XX600000','MACD');", 33, "错误33:引用中的股票格式非法", 2, 26},
        {longRef, 36, "错误36:STKINDI语句的长度超长了,最大允许值是200", 2, 203},
        {longStkIndi, 36, "错误36:STKINDI语句的长度超长了,最大允许值是200", 2, 210},
        {"A:STKINDI('SH600000','MACD#WEAK');", 37, "错误37:STKINDI语句周期格式错误", 2, 31},
        {"A:STKINDI('SH600000','MACD.DIF.DEA');", 38, "错误38:STKINDI语句公式引用格式错误", 2, 34},
        {"A:STKINDI('SH600000','MACD.DIF',12);", 39, "错误39:STKINDI语句公式的参数个数错误,要求3个参数，实际给了1个", 2, 33},
        {"A:STKINDI(SH600000,'MACD');", 40, "错误40:STKINDI语句中的参数中股票名称(第一个参数)缺少单引号", 2, 24},
        {"A:STKINDI('SH600000',MACD);", 41, "错误41:STKINDI语句中的参数中公式名称(第二个参数)缺少单引号", 2, 24},
        {"A:\"kdj.k\"(1);", 43, "错误43:引用的公式参数数目不匹配该引用公式规定没有参数", 2, 9},
        {"A:\"macd.dif\"(1,2,3,4);", 43, "错误43:引用的公式参数数目不匹配该引用公式规定3个参数", 2, 18},
        {"A:\"macd.dif\"(1,2);", 43, "错误43:引用的公式参数数目不匹配该引用公式规定3个参数,实际给了2个参数", 2, 15},
        {"A:1+\"sh600000$close\"(5);", 44, "错误44:股票引用不能有参数", 4, 17},
        {"A:\"macd.abcdefghijklmnop\";", 47, "错误47:字符串的长度超长引用的指标名称的字符个数最多15个", 2, 23},
        {"A:\"sh6000000000$close\";", 47, "错误47:字符串的长度超长引用的股票名称的字符个数最多9个", 2, 20},
        {"A:\"#day\";", 48, "错误48:无效的引用字符串", 2, 6},
        // The same errors in the third of three unnamed statements: the two earlier names and
        // its own were inserted before the error, none of them the user's text.
        {"C;O;\"nosuch\";", 20, "错误20:引用的公式不存在", 4, 8},
        {"C;O;STKINDI(SH600000,'MACD');", 40, nullptr, 4, 24},
        {"C;O;\"macd.dif\"(1,2);", 43, nullptr, 4, 15},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        CompileError e = E(c.text);
        EXPECT_EQ(e.code(), c.code);
        if (c.message) {
            EXPECT_EQ(e.messageUtf8(), c.message);
        }
        EXPECT_EQ(e.position(), c.position);
        EXPECT_EQ(e.length(), c.length);
    }
    // The limits themselves pass their own check and fail only further on: a 200-byte text
    // (its formula name is too long), a 15-byte line name, a 9-byte stock.
    EXPECT_EQ(E("A:\"" + std::string(200, 'x') + "\";").code(), kErrRefNameTooLong);
    EXPECT_EQ(E("A:\"macd.abcdefghijklmno\";").code(), kErrRefLineMissing);
    EXPECT_EQ(E("A:\"sh6000000$close\"(1);").code(), kErrStockRefArgs);
}

TEST_F(CompilerReferences, ReferenceCyclesAreRefused) {
    // A formula that references itself, directly or through another, would never finish evaluating.
    FormulaRecord self;
    self.type = kFormulaSubPane;
    self.setName("LOOP");
    self.source = Utf8ToGbk("A:C;");
    ASSERT_EQ(CompileFormula(self, options), 0);
    set.push_back(self);
    self.source = Utf8ToGbk("A:\"loop.a\";");
    try {
        CompileFormula(self, options);
        FAIL() << "a formula referencing itself compiled";
    } catch (const CompileError& e) {
        EXPECT_EQ(e.code(), kErrLimit);
    }
    // LOOP2 references LOOP; LOOP may not then reference LOOP2.
    FormulaRecord second;
    second.type = kFormulaSubPane;
    second.setName("LOOP2");
    second.source = Utf8ToGbk("B:\"loop.a\";");
    ASSERT_EQ(CompileFormula(second, options), 0);
    set.push_back(second);
    self.source = Utf8ToGbk("A:\"loop2.b\";");
    EXPECT_THROW(CompileFormula(self, options), CompileError);
    // A selection formula named like an indicator may reference it: they are different classes.
    FormulaRecord pick;
    pick.type = kFormulaSelection;
    pick.setName("LOOP");
    pick.source = Utf8ToGbk("X:\"loop.a\">0;");
    EXPECT_EQ(CompileFormula(pick, options), 0);
}

}  // namespace
}  // namespace tessaro
