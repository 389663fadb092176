#include "formula/formula_set.h"

#include "platform/text.h"

namespace tessaro {

int FormulaSet::IndexOfLocked(uint32_t type, std::string_view name) const {
    for (size_t i = 0; i < formulas_.size(); ++i) {
        const FormulaRecord& f = formulas_[i];
        if (SameFormulaTypeClass(f.type, type) && EqualsNoCase(f.nameText(), name)) return static_cast<int>(i);
    }
    return -1;
}

std::optional<FormulaRecord> FormulaSet::Find(uint32_t type, std::string_view name) const {
    std::lock_guard lock(mutex_);
    int i = IndexOfLocked(type, name);
    if (i < 0) return std::nullopt;
    return formulas_[static_cast<size_t>(i)];
}

bool FormulaSet::Contains(uint32_t type, std::string_view name) const {
    std::lock_guard lock(mutex_);
    return IndexOfLocked(type, name) >= 0;
}

bool FormulaSet::Put(FormulaRecord record) {
    std::lock_guard lock(mutex_);
    int i = IndexOfLocked(record.type, record.nameText());
    if (i >= 0) {
        formulas_[static_cast<size_t>(i)] = std::move(record);
        return true;
    }
    formulas_.push_back(std::move(record));
    return false;
}

bool FormulaSet::Remove(uint32_t type, std::string_view name) {
    std::lock_guard lock(mutex_);
    int i = IndexOfLocked(type, name);
    if (i < 0) return false;
    formulas_.erase(formulas_.begin() + i);
    return true;
}

void FormulaSet::Clear() {
    std::lock_guard lock(mutex_);
    formulas_.clear();
}

size_t FormulaSet::Size() const {
    std::lock_guard lock(mutex_);
    return formulas_.size();
}

std::vector<FormulaRecord> FormulaSet::Snapshot() const {
    std::lock_guard lock(mutex_);
    return formulas_;
}

FormulaLookup FormulaSet::CompilerLookup() const {
    return [this](uint32_t typeClass, std::string_view name) -> std::optional<ReferencedFormula> {
        std::lock_guard lock(mutex_);
        int i = IndexOfLocked(typeClass, name);
        if (i < 0) return std::nullopt;
        return DescribeForReference(formulas_[static_cast<size_t>(i)]);
    };
}

FormulaSet& ProcessFormulaSet() {
    static FormulaSet set;
    return set;
}

}  // namespace tessaro
