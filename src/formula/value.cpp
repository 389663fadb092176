#include "formula/value.h"

#include <algorithm>

namespace tessaro {

FormulaValue FormulaValue::Clone() const {
    FormulaValue copy;
    copy.kind = kind;
    copy.flags = flags;
    copy.number = number;
    copy.text = text;
    copy.begin = begin;
    copy.count = count;
    copy.values = values;
    if (drawing) copy.drawing = std::make_unique<DrawingData>(*drawing);
    return copy;
}

FormulaValue FormulaValue::Number(float v) {
    FormulaValue out;
    out.kind = kValueNumber;
    out.number = v;
    return out;
}

FormulaValue FormulaValue::String(std::string gbk) {
    FormulaValue out;
    out.kind = kValueString;
    out.text = std::move(gbk);
    return out;
}

FormulaValue FormulaValue::MakeSeries(int32_t count, int32_t begin, ColumnPool* pool) {
    FormulaValue out;
    out.kind = kValueSeries;
    out.count = std::max<int32_t>(count, 0);
    out.begin = std::max<int32_t>(begin, 0);
    if (pool) out.values = pool->Acquire(static_cast<size_t>(out.count));
    else out.values.assign(static_cast<size_t>(out.count), 0.0f);
    return out;
}

FormulaValue FormulaValue::MakeSeriesToFill(int32_t count, int32_t begin, ColumnPool* pool) {
    if (!pool) return MakeSeries(count, begin, nullptr);
    FormulaValue out;
    out.kind = kValueSeries;
    out.count = std::max<int32_t>(count, 0);
    out.begin = std::max<int32_t>(begin, 0);
    out.values = pool->AcquireToFill(static_cast<size_t>(out.count), static_cast<size_t>(out.begin));
    return out;
}

FormulaValue FormulaValue::EmptySeries(int32_t count, ColumnPool* pool) {
    return MakeSeries(count, std::max<int32_t>(count, 0), pool);
}

std::vector<float> ColumnPool::Acquire(size_t n) {
    if (free_.empty()) return std::vector<float>(n, 0.0f);
    // Prefer the most recently released column: it is the likeliest to be warm in cache.
    std::vector<float> column = std::move(free_.back());
    free_.pop_back();
    column.assign(n, 0.0f);
    return column;
}

std::vector<float> ColumnPool::AcquireToFill(size_t n, size_t zeroed) {
    if (free_.empty()) return std::vector<float>(n, 0.0f);
    std::vector<float> column = std::move(free_.back());
    free_.pop_back();
    column.resize(n);  // points beyond the old size start at zero
    std::fill_n(column.begin(), std::min(zeroed, n), 0.0f);
    return column;
}

void ColumnPool::Release(std::vector<float>&& column) {
    if (column.capacity() == 0) return;
    // A pool serves one evaluation; a formula rarely has more live intermediates than this.
    if (free_.size() >= 64) return;
    free_.push_back(std::move(column));
}

void ColumnPool::Recycle(FormulaValue& value) {
    Release(std::move(value.values));
    value.values = {};
    value.kind = kValueEmpty;
    value.count = value.begin = 0;
}

}  // namespace tessaro
