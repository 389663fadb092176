#include "formula/condition.h"

#include <algorithm>

#include "formula/compiled_formula.h"

namespace tessaro {

namespace {

constexpr size_t kNameField = 16;
constexpr size_t kStockField = 10;

void PutFloat(ByteWriter& out, float v) { out.put<float>(v); }

void WriteOperand(ByteWriter& out, const ConditionOperand& op) {
    out.put<uint32_t>(op.kind);
    if (op.kind == kConditionOperandFormula) {
        const uint32_t stored = op.paramCount;  // a copy: never bind a reference to a packed field
        const uint32_t count = stored < kConditionMaxParams ? stored : kConditionMaxParams;
        out.put<uint32_t>(op.value);
        out.bytes(std::string_view(op.formulaName, kNameField));
        out.bytes(std::string_view(op.lineName, kNameField));
        out.put<uint32_t>(count);
        for (uint32_t i = 0; i < count; ++i) PutFloat(out, op.param(i));
        out.bytes(std::string_view(op.boundStock, kStockField));
        out.put<uint32_t>(op.period);
        out.put<uint32_t>(op.lookBack);
    } else if (op.kind == kConditionOperandFinance || op.kind == kConditionOperandNumber) {
        out.put<uint32_t>(op.value);
    }
    out.zeros(8);
    out.put<uint32_t>(op.operation);
    PutFloat(out, op.operationConstant);
}

// Reads one operand; false on a short read, an unknown kind or too many parameters.
bool ReadOperand(ByteReader& in, ConditionOperand& op) {
    op = ConditionOperand{};
    op.kind = in.get<uint32_t>();
    if (!in.ok()) return false;
    switch (op.kind) {
    case kConditionOperandFormula: {
        op.value = in.get<uint32_t>();
        in.read(op.formulaName);
        in.read(op.lineName);
        uint32_t count = in.get<uint32_t>();
        if (!in.ok() || count > kConditionMaxParams) return false;
        op.paramCount = count;
        for (uint32_t i = 0; i < count; ++i) op.params[i] = in.get<float>();
        in.read(op.boundStock);
        op.period = in.get<uint32_t>();
        op.lookBack = in.get<uint32_t>();
        // The name fields are kept byte for byte: a locked list enciphers all 16 bytes of
        // each, so the last byte is no terminator there. Their texts stop at byte 15
        // (ConditionOperand::formulaNameText); the security code is plain and ends in a NUL.
        op.boundStock[kStockField - 1] = 0;
        break;
    }
    case kConditionOperandFinance:
    case kConditionOperandNumber: op.value = in.get<uint32_t>(); break;
    case kConditionOperandEmpty: break;
    default: return false;
    }
    in.skip(8);
    op.operation = in.get<uint32_t>();
    op.operationConstant = in.get<float>();
    return in.ok();
}

bool ReadCondition(ByteReader& in, Condition& c) {
    if (!ReadOperand(in, c.left) || !ReadOperand(in, c.right)) return false;
    c.relation = in.get<int32_t>();
    c.periods = in.get<float>();
    c.third = in.get<int32_t>();
    in.skip(8);
    return in.ok();
}

}  // namespace

ConditionOperand ConditionOperand::FormulaLine(uint32_t type, std::string_view nameGbk, std::string_view lineGbk,
                                               const std::vector<float>& paramValues, uint32_t period,
                                               std::string_view stock, uint32_t lookBack) {
    ConditionOperand op;
    op.kind = kConditionOperandFormula;
    op.value = type;
    CopyToField(op.formulaName, nameGbk);
    CopyToField(op.lineName, lineGbk);
    op.paramCount = static_cast<uint32_t>(std::min<size_t>(paramValues.size(), kConditionMaxParams));
    for (uint32_t i = 0; i < op.paramCount; ++i) op.params[i] = paramValues[i];
    CopyToField(op.boundStock, stock);
    op.period = period;
    op.lookBack = lookBack;
    return op;
}

ConditionOperand ConditionOperand::Finance(uint32_t item) {
    ConditionOperand op;
    op.kind = kConditionOperandFinance;
    op.value = item;
    return op;
}

ConditionOperand ConditionOperand::Number(float v) {
    ConditionOperand op;
    op.kind = kConditionOperandNumber;
    uint32_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    op.value = bits;
    return op;
}

ConditionOperand& ConditionOperand::withOperation(uint32_t op, float constant) {
    operation = op;
    operationConstant = constant;
    return *this;
}

bool OperandIsCondition(const ConditionOperand& operand) {
    if (operand.kind != kConditionOperandFormula) return false;
    uint32_t type = operand.formulaType();
    return type == kFormulaSelection || type == kFormulaTradingSystem || type == kFormulaColourKLine;
}

bool OperandIsConstant(const ConditionOperand& operand) {
    return operand.kind == kConditionOperandFinance || operand.kind == kConditionOperandNumber;
}

std::string ConditionImage(const Condition& c) {
    ByteWriter out;
    WriteOperand(out, c.left);
    WriteOperand(out, c.right);
    out.put<int32_t>(c.relation);
    PutFloat(out, c.periods);
    out.put<int32_t>(c.third);
    out.zeros(8);
    const Bytes& b = out.data();
    return std::string(b.begin(), b.end());
}

bool ParseConditionImage(std::string_view image, Condition& out) {
    ByteReader in(image.data(), image.size());
    Condition c;
    if (!ReadCondition(in, c) || !in.atEnd()) return false;
    out = c;
    return true;
}

bool ReadConditionImage(ByteReader& in, std::string& image) {
    Condition c;
    if (!ReadCondition(in, c)) return false;
    image = ConditionImage(c);
    return true;
}

void EndConditionNames(std::vector<std::string>& images) {
    for (std::string& image : images) {
        Condition c;
        if (!ParseConditionImage(image, c)) continue;
        for (ConditionOperand* op : {&c.left, &c.right}) {
            op->formulaName[kNameField - 1] = 0;
            op->lineName[kNameField - 1] = 0;
        }
        image = ConditionImage(c);
    }
}

bool DecodeConditions(const FormulaRecord& record, std::vector<Condition>& out) {
    std::vector<Condition> conditions(record.conditions.size());
    for (size_t i = 0; i < conditions.size(); ++i)
        if (!ParseConditionImage(record.conditions[i], conditions[i])) return false;
    out = std::move(conditions);
    return true;
}

void SetConditions(FormulaRecord& record, const std::vector<Condition>& conditions) {
    std::vector<std::string> images;
    images.reserve(conditions.size());
    for (const Condition& c : conditions) images.push_back(ConditionImage(c));
    record.conditions = std::move(images);
}

}  // namespace tessaro
