// The combined-condition editor as a model: the texts of its condition list and its checks
// with their exact messages.
#include <gtest/gtest.h>

#include <cstdio>

#include "formula/condition_code.h"
#include "formula/condition_editor.h"
#include "formula/condition_text.h"
#include "formula/function_registry.h"
#include "platform/text.h"

namespace tessaro {
namespace {

std::string U(const std::string& gbk) { return GbkToUtf8(gbk); }

TEST(ConditionText, FormulaOperandWithEveryPrefixPart) {
    ConditionOperand op = ConditionOperand::FormulaLine(kFormulaSubPane, "MACD", "DIF", {12, 26, 9}, 9, "SH600000", 2);
    EXPECT_EQ(U(DescribeOperand(op)), "(周线 绑定股票:SH600000 向前引用2周期 )技术指标:MACD.DIF(12,26,9)");
    // Only the parts that are set; parameters rounded to whole numbers.
    ConditionOperand plain = ConditionOperand::FormulaLine(kFormulaMainOverlay, "KDJ", "K", {9.4f, 2.6f}, 8);
    EXPECT_EQ(U(DescribeOperand(plain)), "(日线 )技术指标:KDJ.K(9,3)");
    ConditionOperand noPeriod = ConditionOperand::FormulaLine(kFormulaSubPane, "KDJ", "K", {}, 0);
    EXPECT_EQ(U(DescribeOperand(noPeriod)), "技术指标:KDJ.K");
}

TEST(ConditionText, TypeLabelsAndWhenTheLineShows) {
    auto text = [](uint32_t type) {
        return U(DescribeOperand(ConditionOperand::FormulaLine(type, "F", "L", {}, 14)));
    };
    EXPECT_EQ(text(kFormulaSelection), "(分时 )条件选股:F");
    EXPECT_EQ(text(kFormulaTradingSystem), "(分时 )交易系统:F.L");
    EXPECT_EQ(text(kFormulaInternal), "(分时 )技术指标:F.L");
    EXPECT_EQ(text(kFormulaColourKLine), "(分时 )五彩K线:F");
    EXPECT_EQ(text(kFormulaCombined), "(分时 )条件组合:F");
}

TEST(ConditionText, FinanceNumberAndOperations) {
    EXPECT_EQ(U(DescribeOperand(ConditionOperand::Finance(0))), "更新日期");
    EXPECT_EQ(U(DescribeOperand(ConditionOperand::Finance(33))), "每股收益");
    EXPECT_EQ(U(DescribeOperand(ConditionOperand::Finance(38))), "年/中/季报");
    EXPECT_EQ(U(DescribeOperand(ConditionOperand::Finance(39))), "FINANCE(39)");
    EXPECT_EQ(U(DescribeOperand(ConditionOperand::Number(1.5f))), "1.500");
    EXPECT_EQ(U(DescribeOperand(ConditionOperand::Number(-0.0004f))), "-0.000");
    EXPECT_EQ(U(DescribeOperand(ConditionOperand::Finance(7).withOperation(kOperationMultiply, 2))),
              "流通A股(万股)乘以2.000");
    EXPECT_EQ(U(DescribeOperand(ConditionOperand::Number(3).withOperation(kOperationAdd, 0.25f))), "3.000加0.250");
    EXPECT_EQ(U(DescribeOperand(ConditionOperand::Number(3).withOperation(kOperationNot))), "3.000逻辑非");
    EXPECT_EQ(DescribeOperand(ConditionOperand{}), "");
}

TEST(ConditionText, FinanceNamesAreTheOnesFinanceHelpLists) {
    const FunctionInfo* finance = FunctionById(kFnFinance);
    ASSERT_TRUE(finance && finance->help);
    const std::string help = finance->help;
    for (uint32_t x = 0; x < kFinanceItemCount; ++x) {
        char line[64];
        std::snprintf(line, sizeof line, "X=% 2d,", static_cast<int>(x));
        std::string expected = line + U(DescribeOperand(ConditionOperand::Finance(x))) + "\r\n";
        EXPECT_NE(help.find(expected), std::string::npos) << expected;
    }
}

TEST(ConditionText, RelationsWithTheirPeriodCount) {
    EXPECT_EQ(U(DescribeRelation(kRelationGreater, 0)), "大于");
    EXPECT_EQ(U(DescribeRelation(kRelationCrossBelow, 3)), "下破");
    EXPECT_EQ(U(DescribeRelation(kRelationPersistRising, 5)), "连续5周期上扬");
    EXPECT_EQ(U(DescribeRelation(kRelationTurnDown, 2.6f)), "连续3周期后拐头向下");
    EXPECT_EQ(U(DescribeRelation(kRelationSumEqual, 10)), "累加10周期和等于");
    EXPECT_EQ(DescribeRelation(0, 1), "");
    EXPECT_EQ(DescribeRelation(20, 1), "");
}

TEST(ConditionText, WholeConditions) {
    Condition c;
    c.left = ConditionOperand::FormulaLine(kFormulaSubPane, "MACD", "DIF", {}, 8);
    c.right = ConditionOperand::Number(0);
    c.relation = kRelationCrossAbove;
    EXPECT_EQ(U(DescribeCondition(c)), "(日线 )技术指标:MACD.DIF 上穿 0.000");
    // A relation without a right operand shows none, even when one was left filled in.
    c.relation = kRelationPersistRising;
    c.periods = 4;
    EXPECT_EQ(U(DescribeCondition(c)), "(日线 )技术指标:MACD.DIF 连续4周期上扬");
    // A selection line stands alone.
    c.left = ConditionOperand::FormulaLine(kFormulaSelection, "PICK", "", {}, 8);
    EXPECT_EQ(U(DescribeCondition(c)), "(日线 )条件选股:PICK");
    EXPECT_EQ(U(DescribeJoiner(kJoinerAll)), "下列条件同时成立");
    EXPECT_EQ(U(DescribeJoiner(kJoinerAny)), "下列条件之一成立");
}

OperandInput FormulaInput() {
    OperandInput in;
    in.kind = kConditionOperandFormula;
    in.formulaType = kFormulaSubPane;
    in.formulaName = "MACD";
    in.lineName = "DIF";
    in.period = kPeriodDay;
    in.params = {12, 26, 9};
    return in;
}

void ExpectProblem(const std::optional<ConditionProblem>& p, const char* message, ConditionField field) {
    ASSERT_TRUE(p.has_value()) << message;
    EXPECT_EQ(p->message, message);
    EXPECT_EQ(p->field, field);
}

TEST(ConditionEditor, FormulaOperandChecksInOrder) {
    EXPECT_FALSE(CheckOperandInput(FormulaInput()).has_value());
    OperandInput in = FormulaInput();
    in.formulaName.clear();
    in.lineName.clear();
    in.period = kPeriodInvalid;
    ExpectProblem(CheckOperandInput(in), "请选择一个公式!", ConditionField::kFormula);
    in.formulaName = "MACD";
    ExpectProblem(CheckOperandInput(in), "请选择该公式的其中一条指标线!", ConditionField::kLine);
    in.lineName = "DIF";
    ExpectProblem(CheckOperandInput(in), "请选择计算周期!", ConditionField::kPeriod);
    in.period = static_cast<Period>(15);
    ExpectProblem(CheckOperandInput(in), "请选择计算周期!", ConditionField::kPeriod);
    in.period = kPeriodTick;
    in.bindStock = true;
    ExpectProblem(CheckOperandInput(in), "请选择绑定股票!", ConditionField::kStock);
    in.stock = "SH600000";
    in.lookBack = -1;
    ExpectProblem(CheckOperandInput(in), "请输入向前引用周期数(需大于0)!", ConditionField::kLookBack);
    in.lookBack = 0;
    in.operationTicked = true;
    ExpectProblem(CheckOperandInput(in), "请选择运算方法!", ConditionField::kOperation);
    in.operation = kOperationNot;
    EXPECT_FALSE(CheckOperandInput(in).has_value());
    // Selection and colour K-line formulas have one line: none needs choosing.
    for (uint32_t type : {kFormulaSelection, kFormulaColourKLine}) {
        OperandInput one = FormulaInput();
        one.formulaType = type;
        one.lineName.clear();
        EXPECT_FALSE(CheckOperandInput(one).has_value()) << type;
    }
    OperandInput trading = FormulaInput();
    trading.formulaType = kFormulaTradingSystem;
    trading.lineName.clear();
    ExpectProblem(CheckOperandInput(trading), "请选择该公式的其中一条指标线!", ConditionField::kLine);
}

TEST(ConditionEditor, FinanceAndNumberOperands) {
    OperandInput fin;
    fin.kind = kConditionOperandFinance;
    ExpectProblem(CheckOperandInput(fin), "请选择一个财务项!", ConditionField::kFinanceItem);
    fin.financeItem = 39;
    ExpectProblem(CheckOperandInput(fin), "请选择一个财务项!", ConditionField::kFinanceItem);
    fin.financeItem = 38;
    EXPECT_FALSE(CheckOperandInput(fin).has_value());
    OperandInput num;
    num.kind = kConditionOperandNumber;
    num.operationTicked = true;
    num.operation = 7;
    ExpectProblem(CheckOperandInput(num), "请选择运算方法!", ConditionField::kOperation);
    num.operation = kOperationAdd;
    EXPECT_FALSE(CheckOperandInput(num).has_value());
}

TEST(ConditionEditor, RelationAndRightOperand) {
    OperandInput empty;
    ExpectProblem(CheckConditionInput(FormulaInput(), kRelationNone, empty), "请选择一个关系运算!", ConditionField::kRelation);
    // A relation with a right operand checks it; one without ignores it.
    ExpectProblem(CheckConditionInput(FormulaInput(), kRelationGreater, empty), "请选择一个公式!", ConditionField::kFormula);
    EXPECT_FALSE(CheckConditionInput(FormulaInput(), kRelationPersistRising, empty).has_value());
    // A selection line needs no relation at all.
    OperandInput pick = FormulaInput();
    pick.formulaType = kFormulaSelection;
    pick.lineName.clear();
    EXPECT_FALSE(CheckConditionInput(pick, kRelationNone, empty).has_value());
    EXPECT_EQ(RelationHint(kRelationCrossAbove), "提示:选择该项关系必须配置右表达式");
    for (int32_t r : {11, 12, 15, 16}) EXPECT_EQ(RelationHint(r), "提示:选择该项关系无须配置右表达式") << r;
    EXPECT_EQ(RelationHint(0), "");
}

TEST(ConditionEditor, MadeConditionsKeepOnlyWhatTheRelationUses) {
    OperandInput right;
    right.kind = kConditionOperandNumber;
    right.number = 5;
    Condition two = MakeCondition(FormulaInput(), kRelationGreater, 0, right);
    EXPECT_EQ(two.right.kind, kConditionOperandNumber);
    EXPECT_EQ(two.left.paramCount, 3u);
    Condition one = MakeCondition(FormulaInput(), kRelationPersistRising, 5, right);
    EXPECT_EQ(one.right.kind, kConditionOperandEmpty);
    EXPECT_EQ(one.periods, 5.0f);
    OperandInput pick = FormulaInput();
    pick.formulaType = kFormulaSelection;
    Condition alone = MakeCondition(pick, kRelationGreater, 3, right);
    EXPECT_EQ(alone.relation, kRelationNone);
    EXPECT_EQ(alone.right.kind, kConditionOperandEmpty);
    // The bound security only when the box is ticked; a negative look-back never reaches the model.
    OperandInput bound = FormulaInput();
    bound.stock = "SH600000";
    EXPECT_TRUE(MakeCondition(bound, kRelationGreater, 0, right).left.boundStockText().empty());
    bound.bindStock = true;
    EXPECT_EQ(MakeCondition(bound, kRelationGreater, 0, right).left.boundStockText(), "SH600000");
    // What the editor makes compiles.
    CompiledForm f;
    EXPECT_TRUE(BuildConditionCode({two, one, alone}, kJoinerAll, f));
}

TEST(ConditionEditor, DeleteNeedsASelection) {
    ExpectProblem(CheckDeleteSelection(-1, 3), "请选择一个组合条件!", ConditionField::kConditions);
    ExpectProblem(CheckDeleteSelection(3, 3), "请选择一个组合条件!", ConditionField::kConditions);
    EXPECT_FALSE(CheckDeleteSelection(2, 3).has_value());
    EXPECT_EQ(kDeleteConditionQuestion, "真的要删除这个组合条件!");
}

TEST(ConditionEditor, SavingChecksInOrderAndCompiles) {
    FormulaRecord r;
    r.type = kFormulaCombined;
    auto taken = [](std::string_view name) { return name == "TAKEN"; };
    ExpectProblem(PrepareCombinedForSave(r, taken), "请输入公式名称!", ConditionField::kName);
    r.setName("TAKEN");
    ExpectProblem(PrepareCombinedForSave(r, taken), "请点击[新增条件]添加至少需要一个组合条件!", ConditionField::kConditions);
    OperandInput right;
    right.kind = kConditionOperandNumber;
    SetConditions(r, {MakeCondition(FormulaInput(), kRelationGreater, 0, right)});
    ExpectProblem(PrepareCombinedForSave(r, taken), "同名公式已存在,不能加入!", ConditionField::kName);
    EXPECT_TRUE(r.instructions.empty());  // a refused save leaves the record uncompiled
    // A condition that cannot be built shows the compile error.
    r.setName("NEW");
    Condition broken;
    broken.left = ConditionOperand::Number(1);
    broken.relation = kRelationGreater;
    r.conditions.push_back(ConditionImage(broken));
    ExpectProblem(PrepareCombinedForSave(r, taken), "错误45:未定义的错误", ConditionField::kConditions);
    EXPECT_TRUE(r.instructions.empty());
    r.conditions.pop_back();
    EXPECT_FALSE(PrepareCombinedForSave(r, taken).has_value());
    EXPECT_FALSE(r.instructions.empty());
    EXPECT_EQ(r.outputs.size(), 1u);
}

}  // namespace
}  // namespace tessaro
