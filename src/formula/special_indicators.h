// Special indicators: formulas without instructions whose lines the program computes itself,
// reached by the formula's name.
//
// The evaluator computes "TENDV", "ZDL" and "LCB&" itself (builtin_indicators.h). The chip
// distribution and capital-flow indicators ("#CMFB", "#DKZJ", ...) are computed by the chart
// code and register here under their names; a name nobody registered yields no result.
#pragma once

#include <cstdint>
#include <functional>
#include <shared_mutex>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "formula/compiled_formula.h"
#include "formula/value.h"
#include "platform/security_id.h"
#include "market/series.h"

namespace tessaro {

// What a special indicator gets: the evaluated security and bars, the caller's time window and
// context pointer, and the list its output lines go to (one value per line, in line order).
struct SpecialIndicatorCall {
    const FormulaRecord* formula = nullptr;
    CodeEntry security;
    const Series* series = nullptr;
    Period period = kPeriodDay;
    uint32_t windowFrom = 0;
    uint32_t windowTo = 0;
    void* context = nullptr;
    ColumnPool* pool = nullptr;
    std::vector<FormulaValue>* lines = nullptr;
};

// Returns false when the indicator has no result for this call.
using SpecialIndicatorFn = std::function<bool(SpecialIndicatorCall& call)>;

// The names of the twelve capital-flow and chip indicators, GBK as they stand in formula names.
std::span<const std::string_view> CapitalFlowIndicatorNames();

// Names compare without regard to ASCII case. Registration normally happens at start-up;
// lookups may run on any number of threads.
class SpecialIndicatorRegistry {
public:
    // Adds or replaces the indicator of `name`.
    void Register(std::string_view name, SpecialIndicatorFn fn);
    void Unregister(std::string_view name);
    // A copy of the indicator of `name`, or an empty function.
    SpecialIndicatorFn Find(std::string_view name) const;

private:
    mutable std::shared_mutex mutex_;
    std::vector<std::pair<std::string, SpecialIndicatorFn>> entries_;
};

// The registry of the process.
SpecialIndicatorRegistry& ProcessSpecialIndicators();

}  // namespace tessaro
