// Checks a compiled formula before it runs. The instructions may come from a formula file
// that was damaged or written by something else: every slot number, string index, reference
// index, argument count and the stack depth each instruction needs are verified once here,
// so that execution never reads outside the slot list, the string pool, the reference table
// or the value stack.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "formula/compiled_formula.h"

namespace tessaro {

struct ProgramInfo {
    // Per slot: the index of the last instruction that pushes it (-1: never read). A hidden
    // slot can give its points away at that push instead of lending them.
    std::vector<int32_t> lastRead;
    int32_t maxDepth = 0;   // the deepest the value stack gets
    int32_t slotCount = 0;  // parameters plus statements
    uint32_t quoteReads = 0;  // bit k: the program calls the quote function kFnOpen + k (OPEN .. AMOUNT)
};

// The deepest formula reference chain evaluated; deeper references give an empty line.
inline constexpr int kMaxReferenceDepth = 16;
// Referenced formulas evaluated for one top-level evaluation; further ones give empty lines.
inline constexpr int kMaxReferenceEvaluations = 1024;

// False (with the reason in *error, for the command line and the logs) when the instructions
// cannot be run safely.
bool CheckProgram(const FormulaRecord& formula, ProgramInfo& info, std::string* error = nullptr);

// The number of strings in a string pool: each one ends with a TAB.
size_t PoolStringCount(const std::string& pool);

}  // namespace tessaro
