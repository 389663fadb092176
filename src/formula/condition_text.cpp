#include "formula/condition_text.h"

#include <cstdio>
#include <string_view>

#include "formula/compiled_formula.h"
#include "formula/function_registry.h"
#include "market/periods.h"
#include "platform/text.h"

namespace tessaro {

namespace {

std::string Format(const char* utf8Template, double v) {
    char buf[128];
    std::snprintf(buf, sizeof buf, utf8Template, v);
    return Utf8ToGbk(buf);
}

std::string_view TypeLabel(uint32_t type) {
    switch (type) {
    case kFormulaSelection: return "条件选股:";
    case kFormulaTradingSystem: return "交易系统:";
    case kFormulaInternal:
    case kFormulaMainOverlay:
    case kFormulaSubPane: return "技术指标:";
    case kFormulaColourKLine: return "五彩K线:";
    case kFormulaCombined: return "条件组合:";
    default: return "";
    }
}

bool TypeShowsLine(uint32_t type) { return type >= kFormulaTradingSystem && type <= kFormulaSubPane; }

std::string DescribeFormulaLine(const ConditionOperand& op) {
    std::string prefix;
    if (IsValidPeriod(static_cast<Period>(op.period)))
        prefix += Utf8ToGbk(PeriodName(static_cast<Period>(op.period))) + " ";
    if (!op.boundStockText().empty()) prefix += Utf8ToGbk("绑定股票:") + std::string(op.boundStockText()) + " ";
    if (op.lookBack != 0) {
        char buf[64];
        std::snprintf(buf, sizeof buf, "向前引用%u周期 ", op.lookBack);
        prefix += Utf8ToGbk(buf);
    }
    std::string text;
    if (!prefix.empty()) text = "(" + prefix + ")";
    text += Utf8ToGbk(TypeLabel(op.formulaType()));
    text += op.formulaNameText();
    if (TypeShowsLine(op.formulaType()) && !op.lineNameText().empty()) {
        text += '.';
        text += op.lineNameText();
    }
    uint32_t count = op.paramCount < kConditionMaxParams ? op.paramCount : kConditionMaxParams;
    if (count > 0) {
        text += '(';
        for (uint32_t i = 0; i < count; ++i) {
            if (i > 0) text += ',';
            text += Format("%.0f", static_cast<double>(op.param(i)));
        }
        text += ')';
    }
    return text;
}

std::string DescribeFinanceItem(uint32_t item) {
    if (item < kFinanceItemCount) return Utf8ToGbk(FinanceItemName(item));
    return "FINANCE(" + std::to_string(item) + ")";
}

}  // namespace

std::string DescribeOperand(const ConditionOperand& op) {
    std::string text;
    switch (op.kind) {
    case kConditionOperandFormula: text = DescribeFormulaLine(op); break;
    case kConditionOperandFinance: text = DescribeFinanceItem(op.financeItem()); break;
    case kConditionOperandNumber: text = Format("%.3f", static_cast<double>(op.number())); break;
    default: return {};
    }
    switch (op.operation) {
    case kOperationAdd: text += Utf8ToGbk("加") + Format("%0.3f", static_cast<double>(op.operationConstant)); break;
    case kOperationMultiply:
        text += Utf8ToGbk("乘以") + Format("%0.3f", static_cast<double>(op.operationConstant));
        break;
    case kOperationNot: text += Utf8ToGbk("逻辑非"); break;
    default: break;
    }
    return text;
}

std::string DescribeRelation(int32_t relation, float periods) {
    static constexpr const char* kTexts[kRelationCount] = {
        "大于", "大于等于", "小于", "小于等于", "等于", "不等于", "上穿", "下破",
        "连续%.0f周期大于", "连续%.0f周期小于", "连续%.0f周期上扬", "连续%.0f周期下挫",
        "连续%.0f周期后上穿", "连续%.0f周期后下破", "连续%.0f周期后拐头向上", "连续%.0f周期后拐头向下",
        "累加%.0f周期和大于", "累加%.0f周期和小于", "累加%.0f周期和等于",
    };
    if (!IsKnownRelation(relation)) return {};
    return Format(kTexts[relation - 1], static_cast<double>(periods));
}

std::string DescribeCondition(const Condition& c) {
    std::string text = DescribeOperand(c.left);
    if (OperandIsCondition(c.left)) return text;
    auto append = [&](const std::string& part) {
        if (part.empty()) return;
        if (!text.empty()) text += ' ';
        text += part;
    };
    append(DescribeRelation(c.relation, c.periods));
    if (RelationTakesRightOperand(c.relation)) append(DescribeOperand(c.right));
    return text;
}

std::string DescribeJoiner(uint32_t joiner) {
    return Utf8ToGbk(joiner == kJoinerAll ? "下列条件同时成立" : "下列条件之一成立");
}

}  // namespace tessaro
