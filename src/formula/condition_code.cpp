#include "formula/condition_code.h"

#include "formula/compiler.h"
#include "formula/function_registry.h"
#include "formula/opcodes.h"
#include "platform/text.h"

namespace tessaro {

namespace {

// Opcode of a relation that compares or crosses two values, or 0.
uint32_t PlainRelationOpcode(int32_t relation) {
    switch (relation) {
    case kRelationGreater: return opcode::kGt;
    case kRelationGreaterEqual: return opcode::kGe;
    case kRelationLess: return opcode::kLt;
    case kRelationLessEqual: return opcode::kLe;
    case kRelationEqual: return opcode::kEq;
    case kRelationNotEqual: return opcode::kNe;
    case kRelationCrossAbove:
    case kRelationCrossBelow: return kFnCross;
    case kRelationSumGreater: return opcode::kGt;
    case kRelationSumLess: return opcode::kLt;
    case kRelationSumEqual: return opcode::kEq;
    default: return 0;
    }
}

// Function of a relation that counts N periods (N is pushed before it), or 0.
uint32_t PeriodRelationFunction(int32_t relation) {
    switch (relation) {
    case kRelationPersistGreater: return kFnPersistGreat;
    case kRelationPersistLess: return kFnPersistLess;
    case kRelationPersistRising: return kFnPersistAscent;
    case kRelationPersistFalling: return kFnPersistDescent;
    case kRelationLongCrossAbove:
    case kRelationLongCrossBelow: return kFnLongCross;
    case kRelationTurnUp: return kFnPersistTurnUp;
    case kRelationTurnDown: return kFnPersistTurnDown;
    default: return 0;
    }
}

bool IsSumRelation(int32_t relation) {
    return relation == kRelationSumGreater || relation == kRelationSumLess || relation == kRelationSumEqual;
}

bool ReversesOperands(int32_t relation) {
    return relation == kRelationCrossBelow || relation == kRelationLongCrossBelow;
}

class ConditionCoder {
public:
    bool Build(const std::vector<Condition>& conditions, uint32_t joiner) {
        if (conditions.empty()) return false;
        for (size_t i = 0; i < conditions.size(); ++i) {
            if (!EmitCondition(conditions[i])) return false;
            if (i > 0) Emit(joiner == kJoinerAll ? opcode::kAnd : opcode::kOr);
        }
        Emit(opcode::kStore, opcode::SlotOperand(0, 0));
        OutputLineDesc line;
        line.style = 0;
        line.colourWidth = 0;
        line.colour = 0;
        form_.outputs.push_back(line);
        return true;
    }

    CompiledForm take() { return std::move(form_); }

private:
    void Emit(uint32_t op, uint32_t operand = 0) { form_.instructions.push_back(Instruction{op, operand}); }
    void PushNumber(float v) { form_.instructions.push_back(Instruction::Number(opcode::kPushNumber, v)); }

    bool EmitCondition(const Condition& c) {
        if (c.left.kind == kConditionOperandEmpty) return false;
        // A selection, trading-system or colour K-line line is a condition already: whatever
        // relation and right operand were left filled in are not emitted.
        if (OperandIsCondition(c.left)) return EmitOperand(c.left, false, 0);
        if (!IsKnownRelation(c.relation)) return false;
        const bool twoOperands = RelationTakesRightOperand(c.relation);
        if (twoOperands && c.right.kind == kConditionOperandEmpty) return false;
        const bool summed = IsSumRelation(c.relation);
        if (twoOperands && ReversesOperands(c.relation)) {
            if (!EmitOperand(c.right, summed, c.periods) || !EmitOperand(c.left, summed, c.periods)) return false;
        } else {
            if (!EmitOperand(c.left, summed, c.periods)) return false;
            // A right operand left filled in for a one-operand relation would put the stack
            // out of step: it is not emitted.
            if (twoOperands && !EmitOperand(c.right, summed, c.periods)) return false;
        }
        if (uint32_t op = PlainRelationOpcode(c.relation)) {
            Emit(op);
        } else {
            PushNumber(c.periods);
            Emit(PeriodRelationFunction(c.relation));
        }
        return true;
    }

    bool EmitOperand(const ConditionOperand& op, bool summed, float periods) {
        switch (op.kind) {
        case kConditionOperandFormula:
            if (!EmitFormulaLine(op)) return false;
            break;
        case kConditionOperandFinance:
            if (op.financeItem() >= kFinanceItemCount) return false;
            PushNumber(static_cast<float>(op.financeItem()));
            Emit(kFnFinance);
            break;
        case kConditionOperandNumber: PushNumber(op.number()); break;
        default: return false;
        }
        switch (op.operation) {
        case kOperationNone: break;
        case kOperationAdd:
            PushNumber(op.operationConstant);
            Emit(opcode::kAdd);
            break;
        case kOperationMultiply:
            PushNumber(op.operationConstant);
            Emit(opcode::kMul);
            break;
        case kOperationNot: Emit(kFnNot); break;
        default: return false;
        }
        if (summed) {
            // SUM takes a series: a finance item or a number is first spread over every bar
            // (adding ISLASTBAR*0, which is 0 on every bar of the evaluated series).
            if (OperandIsConstant(op)) {
                Emit(kFnIsLastBar);
                PushNumber(0);
                Emit(opcode::kMul);
                Emit(opcode::kAdd);
            }
            PushNumber(periods);
            Emit(kFnSum);
        }
        return true;
    }

    bool EmitFormulaLine(const ConditionOperand& op) {
        if (op.formulaNameText().empty() || !IsKnownFormulaType(op.formulaType())) return false;
        if (op.paramCount > static_cast<uint32_t>(kConditionMaxParams)) return false;
        if (op.period != 0 && (op.period < 2 || op.period > 14)) return false;
        int index = AddReference(op);
        if (index < 0) return false;
        for (uint32_t i = 0; i < op.paramCount; ++i) PushNumber(op.param(i));
        Emit(opcode::kReference,
             opcode::ReferenceOperand(static_cast<uint8_t>(index), static_cast<uint8_t>(op.period),
                                      static_cast<uint8_t>(op.paramCount), opcode::kRefFormula));
        if (op.lookBack != 0) {
            PushNumber(static_cast<float>(op.lookBack));
            Emit(kFnRef);
        }
        return true;
    }

    // Index of the operand's reference entry, shared with an equal earlier one; -1 when full.
    int AddReference(const ConditionOperand& op) {
        ReferenceEntry entry;
        CopyToField(entry.stock, op.boundStockText());
        entry.type = static_cast<int16_t>(op.formulaType());
        CopyToField(entry.formulaName, op.formulaNameText());
        CopyToField(entry.lineName, op.lineNameText());
        entry.period = 0;
        for (size_t i = 0; i < form_.references.size(); ++i) {
            const ReferenceEntry& e = form_.references[i];
            if (EqualsNoCase(e.stockText(), entry.stockText()) &&
                SameFormulaTypeClass(static_cast<uint32_t>(e.type), static_cast<uint32_t>(entry.type)) &&
                EqualsNoCase(e.formulaNameText(), entry.formulaNameText()) &&
                EqualsNoCase(e.lineNameText(), entry.lineNameText()))
                return static_cast<int>(i);
        }
        if (form_.references.size() >= static_cast<size_t>(kMaxReferences)) return -1;
        form_.references.push_back(entry);
        return static_cast<int>(form_.references.size() - 1);
    }

    CompiledForm form_;
};

}  // namespace

bool BuildConditionCode(const std::vector<Condition>& conditions, uint32_t joiner, CompiledForm& out) {
    ConditionCoder coder;
    if (!coder.Build(conditions, joiner)) return false;
    out = coder.take();
    return true;
}

bool BuildConditionCode(const FormulaRecord& record, CompiledForm& out) {
    // A locked combined condition holds its names enciphered: code built from them would
    // reference formulas that do not exist. Its compiled code was built before locking.
    if (record.isLocked()) return false;
    std::vector<Condition> conditions;
    if (!DecodeConditions(record, conditions)) return false;
    return BuildConditionCode(conditions, record.joiner, out);
}

}  // namespace tessaro
