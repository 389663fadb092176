// Shared by the formula compiler fuzz targets: checks that a compiled form is one the
// evaluator can run without its stack going out of step.
#pragma once

#include <algorithm>

#include "formula/compiled_formula.h"
#include "formula/function_registry.h"
#include "formula/opcodes.h"
#include "fuzz_check.h"

namespace tessaro::fuzz {

// Walks the instructions the way the evaluator's stack does: every pop has a value under it,
// each statement stores exactly the one value its expression left, stores fill the slots in
// order after the parameters, and every index points into its table.
inline void CheckCompiledForm(const FormulaRecord& r) {
    const size_t params = r.params.size();
    size_t pieces = static_cast<size_t>(std::count(r.stringPool.begin(), r.stringPool.end(), '\t'));
    size_t depth = 0, nextSlot = params, visible = 0;
    auto pop = [&](size_t n) {
        Check(depth >= n, "pop from a short stack");
        depth -= n;
    };
    for (const Instruction& in : r.instructions) {
        switch (in.opcode) {
        case opcode::kPushNumber: ++depth; break;
        case opcode::kPushParam: Check(in.low16() < params, "parameter slot"); ++depth; break;
        case opcode::kPushVariable:
            Check(in.low16() >= params && in.low16() < nextSlot, "variable slot");
            ++depth;
            break;
        case opcode::kPushString: Check(in.low16() < pieces, "string index"); ++depth; break;
        case opcode::kReference:
            Check(in.byteAt(0) < r.references.size(), "reference index");
            pop(in.byteAt(2));
            ++depth;
            break;
        case opcode::kStore:
            pop(1);
            Check(depth == 0, "a statement left values behind");
            Check(in.low16() == nextSlot, "store slot order");
            ++nextSlot;
            if (in.high16() == 0) ++visible;
            break;
        default: {
            const FunctionInfo* f = FunctionById(static_cast<int>(in.opcode));
            Check(f != nullptr && f->kind != kEntryModifier, "unknown opcode");
            pop(static_cast<size_t>(f->paramCount));
            ++depth;
        }
        }
    }
    Check(depth == 0, "values left on the stack");
    Check(visible == r.outputs.size(), "one output descriptor per visible statement");
}

}  // namespace tessaro::fuzz
