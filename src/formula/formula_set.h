// FormulaSet: the process-wide set of formulas.
//
// Every user of a formula takes a copy of the record it needs under the set's lock and works
// on the copy; nobody keeps a pointer into the set. Names are unique within a type class
// (types 2, 3 and 4 are one class) and compared without regard to ASCII case. Adding a formula
// whose type class and name are already present replaces the old one in place, which is how a
// later formula file overrides an earlier one.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string_view>
#include <vector>

#include "formula/compiled_formula.h"
#include "formula/compiler.h"

namespace tessaro {

class FormulaSet {
public:
    FormulaSet() = default;
    FormulaSet(const FormulaSet&) = delete;
    FormulaSet& operator=(const FormulaSet&) = delete;

    // A copy of the formula of `type`'s class named `name`, or nullopt.
    std::optional<FormulaRecord> Find(uint32_t type, std::string_view name) const;
    bool Contains(uint32_t type, std::string_view name) const;
    // Adds the formula, or replaces the one of the same type class and name (keeping its
    // position). Returns true when it replaced one.
    bool Put(FormulaRecord record);
    // Removes the formula; false when there is none.
    bool Remove(uint32_t type, std::string_view name);
    void Clear();
    size_t Size() const;
    // Copies of every formula, in load order.
    std::vector<FormulaRecord> Snapshot() const;
    // What the compiler asks of referenced formulas, answered from this set under its lock.
    FormulaLookup CompilerLookup() const;

private:
    // Index of the formula or -1; the caller holds mutex_.
    int IndexOfLocked(uint32_t type, std::string_view name) const;

    mutable std::mutex mutex_;
    std::vector<FormulaRecord> formulas_;
};

// The one set of the process.
FormulaSet& ProcessFormulaSet();

}  // namespace tessaro
