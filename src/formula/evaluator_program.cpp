#include "formula/evaluator_program.h"

#include <algorithm>

#include "formula/function_registry.h"
#include "formula/opcodes.h"

namespace tessaro {

size_t PoolStringCount(const std::string& pool) { return static_cast<size_t>(std::count(pool.begin(), pool.end(), '\t')); }

namespace {

bool Fail(std::string* error, size_t at, const char* what) {
    if (error) *error = "instruction " + std::to_string(at) + ": " + what;
    return false;
}

bool ValidPeriodByte(uint8_t p) { return p == 0 || (p >= 2 && p <= 14); }

}  // namespace

bool CheckProgram(const FormulaRecord& formula, ProgramInfo& info, std::string* error) {
    info = ProgramInfo{};
    if (formula.params.size() > static_cast<size_t>(kMaxFormulaParams)) return Fail(error, 0, "too many parameters");
    const size_t pooled = PoolStringCount(formula.stringPool);
    int64_t depth = 0;
    int64_t slots = static_cast<int64_t>(formula.params.size());
    info.lastRead.assign(static_cast<size_t>(slots), -1);

    const auto& code = formula.instructions;
    for (size_t i = 0; i < code.size(); ++i) {
        const Instruction in = code[i];
        int64_t pops = 0;
        switch (in.opcode) {
            case opcode::kPushNumber:
            case opcode::kPushString:
                if (in.opcode == opcode::kPushString && in.low16() >= pooled)
                    return Fail(error, i, "string index beyond the string pool");
                break;
            case opcode::kPushParam:
            case opcode::kPushVariable:
                if (in.low16() >= slots) return Fail(error, i, "slot not yet stored");
                info.lastRead[in.low16()] = static_cast<int32_t>(i);
                break;
            case opcode::kStore:
                pops = 1;
                break;
            case opcode::kReference: {
                uint8_t index = in.byteAt(0), periodOrField = in.byteAt(1), args = in.byteAt(2), kind = in.byteAt(3);
                if (index >= formula.references.size()) return Fail(error, i, "reference index beyond the table");
                if (kind == opcode::kRefStockField) {
                    if (periodOrField > 5) return Fail(error, i, "unknown quote field");
                    if (args != 0) return Fail(error, i, "a quote field takes no arguments");
                } else if (kind == opcode::kRefFormula || kind == opcode::kRefFormulaDouble) {
                    if (!ValidPeriodByte(periodOrField)) return Fail(error, i, "unknown period");
                    if (args > kMaxFormulaParams) return Fail(error, i, "too many reference arguments");
                } else {
                    return Fail(error, i, "unknown reference kind");
                }
                pops = args;
                break;
            }
            default: {
                const FunctionInfo* f = FunctionById(static_cast<int>(in.opcode));
                // Modifiers are no instructions; ids the registry leaves empty are unknown.
                if (!f || f->kind == kEntryModifier || (f->kind == kEntryOperator && in.opcode >= opcode::kPushNumber))
                    return Fail(error, i, "unknown opcode");
                if (f->paramCount < 0 || f->paramCount > kMaxFunctionParams) return Fail(error, i, "bad registry entry");
                pops = f->paramCount;
                if (in.opcode >= kFnOpen && in.opcode <= kFnAmount) info.quoteReads |= 1u << (in.opcode - kFnOpen);
                break;
            }
        }
        if (pops > depth) return Fail(error, i, "pops more values than the stack holds");
        depth -= pops;
        if (in.opcode == opcode::kStore) {
            if (slots >= static_cast<int64_t>(kMaxFormulaParams) + 0xFFFF) return Fail(error, i, "too many statements");
            ++slots;
            info.lastRead.push_back(-1);
        } else {
            ++depth;
        }
        info.maxDepth = std::max<int32_t>(info.maxDepth, static_cast<int32_t>(depth));
    }
    info.slotCount = static_cast<int32_t>(slots);
    return true;
}

}  // namespace tessaro
