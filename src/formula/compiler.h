// The formula compiler: formula text to compiled form.
//
// CompileFormula prepares the text (trim, lower case, final ';'), marks unnamed statements,
// parses the statements while emitting their instructions, checks the rules of the formula's
// type and only then replaces the record's compiled form. A failed compilation throws
// CompileError and leaves the record exactly as it was.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "formula/compile_errors.h"
#include "formula/compiled_formula.h"

namespace tessaro {

// What the compiler needs to know of a formula that another one references.
struct ReferencedFormula {
    uint32_t type = kFormulaSubPane;
    std::string name;                   // GBK, as stored in the set
    int paramCount = 0;
    std::vector<std::string> lineNames; // display names of its output lines, in order
    // Names of the indicator formulas it references itself (to refuse reference cycles).
    std::vector<std::string> references;
};

// Finds a formula of type class `typeClass` by name (case-insensitive) in the formula set.
// The formula set implements it by looking up and describing a record under its lock.
using FormulaLookup = std::function<std::optional<ReferencedFormula>(uint32_t typeClass, std::string_view name)>;

ReferencedFormula DescribeForReference(const FormulaRecord& record);

// A lookup over a plain list of records (tests, the command line, temporary sets).
FormulaLookup LookupInRecords(const std::vector<FormulaRecord>* records);

// Builds the instructions of a combined-condition formula (type 7) from its condition
// records; returns false when they cannot be built (error 45). Without one, CompileFormula
// uses BuildConditionCode (condition_code.h).
using ConditionCodeBuilder = std::function<bool(const FormulaRecord& record, CompiledForm& out)>;

struct CompileOptions {
    FormulaLookup lookup;                   // null: every reference fails with error 20
    ConditionCodeBuilder conditionBuilder;  // null: the combined-condition code generator
    // Stored as the record's compile time on success; by default the current time
    // (seconds since 1970-01-01).
    std::optional<uint32_t> compileTime;
};

// Compiles record.source (the plain text) by record.type and record.params, or for type 7
// the record's conditions. On success the record's instructions, outputs, references and
// string pool are replaced, the compile time is recorded and 0 is returned; on failure
// CompileError is thrown and the record is unchanged.
int CompileFormula(FormulaRecord& record, const CompileOptions& options = {});

// Compiles `text` as a formula of `type` with `params` without touching any record.
CompiledForm CompileText(std::string_view textGbk, uint32_t type, const std::vector<FormulaParam>& params,
                         const CompileOptions& options = {});

// Limits of the compiled form that the language itself does not state.
inline constexpr int kMaxNestingDepth = 100;     // parentheses and calls inside one another
inline constexpr int kMaxUnnamedStatements = 50;
inline constexpr int kMaxSlots = 0xFFFF;         // parameters plus statements (16-bit operands)
inline constexpr int kMaxReferences = 255;       // one byte in the reference instruction
inline constexpr int kMaxPoolStrings = 0xFFFF;   // 16-bit string index

}  // namespace tessaro
