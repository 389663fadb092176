// Code generation for combined conditions: conditions to an ordinary instruction list.
//
// Each condition pushes its operands (right first for 下破 and 连续N周期后下破), applies the
// operands' operations and then the relation; from the second condition on, "and" (joiner 1)
// or "or" (joiner 0) folds it into the previous ones; the result is stored in slot 0 as the
// formula's one unnamed output line. The evaluator runs the result like a one-line selection
// formula. CompileFormula uses BuildConditionCode for type 7 unless a caller supplies its own.
#pragma once

#include <cstdint>
#include <vector>

#include "formula/compiled_formula.h"
#include "formula/condition.h"

namespace tessaro {

// Builds the compiled form of `conditions` joined by `joiner`. False (and `out` untouched)
// when they cannot be built: no condition, an empty left operand, an unknown relation, a
// relation that needs a right operand without one, an unknown operand kind or operation,
// a formula operand without a name or with a period outside 2..14 (0 is the evaluation's),
// a finance item outside 0..38, or more distinct formula lines than the reference table holds.
bool BuildConditionCode(const std::vector<Condition>& conditions, uint32_t joiner, CompiledForm& out);

// The same over a record's condition images and joiner; false also for a malformed image
// and for a locked record, whose images hold enciphered names.
bool BuildConditionCode(const FormulaRecord& record, CompiledForm& out);

}  // namespace tessaro
