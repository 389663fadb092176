// The rules of the combined-condition editor, as a model: what each check looks at, the
// exact message it shows and the field the focus goes back to. The dialog only maps its
// controls to these inputs and shows the messages.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "formula/compiler.h"
#include "formula/condition.h"

namespace tessaro {

// The field a failed check sends the focus back to.
enum class ConditionField {
    kFormula,      // the formula picker
    kLine,         // the output-line list
    kPeriod,       // the period list
    kStock,        // the bound-security box
    kLookBack,     // the look-back count
    kFinanceItem,  // the finance item list
    kOperation,    // the operation list
    kRelation,     // the relation list
    kName,         // the formula name
    kConditions,   // the condition list
};

// A check that failed: the message box text (UTF-8) and where the focus goes.
struct ConditionProblem {
    std::string message;
    ConditionField field;
    bool operator==(const ConditionProblem&) const = default;
};

// One operand side of the editor as the user has filled it in.
struct OperandInput {
    uint32_t kind = kConditionOperandEmpty;     // the chosen operand kind; empty when none
    // Formula line.
    uint32_t formulaType = 0;
    std::string formulaName;           // GBK; empty: no formula chosen
    std::string lineName;              // GBK; empty: no line chosen
    Period period = kPeriodInvalid;    // invalid: none chosen
    bool bindStock = false;            // "绑定股票" ticked
    std::string stock;                 // "SH600000"
    int lookBack = 0;                  // as typed; negative is refused
    std::vector<float> params;
    // Finance item: X of FINANCE(X); -1 when none chosen.
    int financeItem = -1;
    // Number.
    float number = 0;
    // Operation.
    bool operationTicked = false;
    uint32_t operation = kOperationNone;  // kOperationNone while ticked: no choice made
    float operationConstant = 0;
};

// The checks of one operand in the editor's order; nullopt when it is complete.
std::optional<ConditionProblem> CheckOperandInput(const OperandInput& input);

// The checks of a whole condition before it is added: the left operand, the relation when the
// left operand needs one ("请选择一个关系运算!"), and the right operand when the relation takes one.
std::optional<ConditionProblem> CheckConditionInput(const OperandInput& left, int32_t relation,
                                                    const OperandInput& right);

// The hint shown when a relation is chosen: "提示:选择该项关系必须配置右表达式" or
// "提示:选择该项关系无须配置右表达式" (UTF-8); "" for no relation.
std::string_view RelationHint(int32_t relation);

// The condition the inputs describe (after CheckConditionInput passed). A right operand is
// kept only when the relation takes one, and neither relation nor right operand when the left
// operand is a condition by itself.
Condition MakeCondition(const OperandInput& left, int32_t relation, float periods, const OperandInput& right);

// Deleting: "请选择一个组合条件!" when no condition is selected (index < 0 or beyond the list).
std::optional<ConditionProblem> CheckDeleteSelection(int selectedIndex, size_t conditionCount);
// The question asked before deleting a condition.
inline constexpr std::string_view kDeleteConditionQuestion = "真的要删除这个组合条件!";

// Saving, in the editor's order: "请输入公式名称!" for an empty name, "请点击[新增条件]添加至少需要
// 一个组合条件!" without conditions, then the compilation (its error as the formula editor shows
// it, focus on the condition list), then "同名公式已存在,不能加入!" when `nameTaken` says another
// type-7 formula has the name. On success the record is compiled and nullopt is returned; on
// any failure the record's compiled form is unchanged.
std::optional<ConditionProblem> PrepareCombinedForSave(FormulaRecord& record,
                                                       const std::function<bool(std::string_view nameGbk)>& nameTaken,
                                                       const CompileOptions& options = {});

}  // namespace tessaro
