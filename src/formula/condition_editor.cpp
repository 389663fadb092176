#include "formula/condition_editor.h"

#include "formula/compile_errors.h"

namespace tessaro {

namespace {

ConditionProblem Problem(std::string_view message, ConditionField field) {
    return ConditionProblem{std::string(message), field};
}

bool InputIsCondition(const OperandInput& in) {
    return in.kind == kConditionOperandFormula &&
           (in.formulaType == kFormulaSelection || in.formulaType == kFormulaTradingSystem ||
            in.formulaType == kFormulaColourKLine);
}

ConditionOperand MakeOperand(const OperandInput& in) {
    ConditionOperand op;
    switch (in.kind) {
    case kConditionOperandFormula:
        op = ConditionOperand::FormulaLine(in.formulaType, in.formulaName, in.lineName, in.params,
                                           static_cast<uint32_t>(PeriodNumber(in.period)), in.bindStock ? in.stock : std::string(),
                                           in.lookBack > 0 ? static_cast<uint32_t>(in.lookBack) : 0u);
        break;
    case kConditionOperandFinance: op = ConditionOperand::Finance(in.financeItem >= 0 ? static_cast<uint32_t>(in.financeItem) : 0u); break;
    case kConditionOperandNumber: op = ConditionOperand::Number(in.number); break;
    default: return op;
    }
    if (in.operationTicked) op.withOperation(in.operation, in.operationConstant);
    return op;
}

}  // namespace

std::optional<ConditionProblem> CheckOperandInput(const OperandInput& in) {
    switch (in.kind) {
    case kConditionOperandFormula:
        if (in.formulaName.empty()) return Problem("请选择一个公式!", ConditionField::kFormula);
        if (in.formulaType >= kFormulaTradingSystem && in.formulaType <= kFormulaSubPane && in.lineName.empty())
            return Problem("请选择该公式的其中一条指标线!", ConditionField::kLine);
        if (!IsValidPeriod(in.period)) return Problem("请选择计算周期!", ConditionField::kPeriod);
        if (in.bindStock && in.stock.empty()) return Problem("请选择绑定股票!", ConditionField::kStock);
        if (in.lookBack < 0) return Problem("请输入向前引用周期数(需大于0)!", ConditionField::kLookBack);
        break;
    case kConditionOperandFinance:
        if (in.financeItem < 0 || in.financeItem >= static_cast<int>(kFinanceItemCount))
            return Problem("请选择一个财务项!", ConditionField::kFinanceItem);
        break;
    case kConditionOperandNumber: break;
    default: return Problem("请选择一个公式!", ConditionField::kFormula);
    }
    if (in.operationTicked && (in.operation < kOperationAdd || in.operation > kOperationNot))
        return Problem("请选择运算方法!", ConditionField::kOperation);
    return std::nullopt;
}

std::optional<ConditionProblem> CheckConditionInput(const OperandInput& left, int32_t relation,
                                                    const OperandInput& right) {
    if (auto p = CheckOperandInput(left)) return p;
    if (InputIsCondition(left)) return std::nullopt;
    if (!IsKnownRelation(relation)) return Problem("请选择一个关系运算!", ConditionField::kRelation);
    if (RelationTakesRightOperand(relation)) return CheckOperandInput(right);
    return std::nullopt;
}

std::string_view RelationHint(int32_t relation) {
    if (!IsKnownRelation(relation)) return {};
    return RelationTakesRightOperand(relation) ? "提示:选择该项关系必须配置右表达式" : "提示:选择该项关系无须配置右表达式";
}

Condition MakeCondition(const OperandInput& left, int32_t relation, float periods, const OperandInput& right) {
    Condition c;
    c.left = MakeOperand(left);
    if (InputIsCondition(left)) return c;
    c.relation = relation;
    c.periods = periods;
    if (RelationTakesRightOperand(relation)) c.right = MakeOperand(right);
    return c;
}

std::optional<ConditionProblem> CheckDeleteSelection(int selectedIndex, size_t conditionCount) {
    if (selectedIndex < 0 || static_cast<size_t>(selectedIndex) >= conditionCount)
        return Problem("请选择一个组合条件!", ConditionField::kConditions);
    return std::nullopt;
}

std::optional<ConditionProblem> PrepareCombinedForSave(FormulaRecord& record,
                                                       const std::function<bool(std::string_view nameGbk)>& nameTaken,
                                                       const CompileOptions& options) {
    if (record.nameText().empty()) return Problem("请输入公式名称!", ConditionField::kName);
    if (record.conditions.empty())
        return Problem("请点击[新增条件]添加至少需要一个组合条件!", ConditionField::kConditions);
    // Compiled on a copy: a name refused afterwards must leave the record as it was.
    FormulaRecord compiled = record;
    compiled.type = kFormulaCombined;
    try {
        CompileFormula(compiled, options);
    } catch (const CompileError& e) {
        return Problem(e.displayUtf8(), ConditionField::kConditions);
    }
    if (nameTaken && nameTaken(record.nameText())) return Problem("同名公式已存在,不能加入!", ConditionField::kName);
    record = std::move(compiled);
    return std::nullopt;
}

}  // namespace tessaro
