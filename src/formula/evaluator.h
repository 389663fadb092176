// The formula evaluator: runs a compiled formula over one security's series at one period and
// returns its output lines.
//
// It is a stack machine over whole series. Every instruction pops whole float columns and
// pushes one; columns of finished intermediates go back to a pool and are reused by the next
// instruction. Pushing a statement's value lends its column to the function that reads it
// instead of copying it. LinePoint records are built only when the result is assembled.
//
// One FormulaEvaluator is one evaluation context: use it from one thread at a time, and give
// every thread its own. Reusing one context for many securities (a screening run) keeps its
// column pool warm. Nothing in an evaluation takes a lock except the data source's copies
// (series loads, quote fields) and the formula set's copy of a referenced formula.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "formula/compiled_formula.h"
#include "formula/eval_data_source.h"
#include "formula/eval_result.h"
#include "formula/formula_set.h"
#include "formula/special_indicators.h"
#include "formula/value.h"
#include "platform/security_id.h"
#include "market/series.h"

namespace tessaro {

// A line is cut before the first bar lying this far beyond the current market time.
inline constexpr uint32_t kFutureBarLimit = 259200;  // three days

struct EvalRequest {
    CodeEntry security;              // the security evaluated (class 1: an index)
    const Series* preloaded = nullptr;  // when given, used instead of loading; its period (when set) wins
    Period period = kPeriodDay;
    int loadOptions = 0;             // series loader flags (ex-rights adjustment)
    uint32_t windowFrom = 0;         // time window of the capital-flow special indicators
    uint32_t windowTo = 0;
    void* specialContext = nullptr;  // passed to the special indicators
};

// Why an evaluation has no result. kUnresolvedReference alone comes with a result: a reference
// that could not be answered gave an empty line and the formula evaluated on without it.
enum class EvalFailure : uint8_t {
    kNone = 0,
    kUnknownFormula,       // no formula of that name in the set
    kCompileError,         // the formula text does not compile (the compiler's message)
    kNoData,               // no series of the security at the period
    kUnsupportedPeriod,    // not a period, or one the formula's usage flags disable
    kUnresolvedReference,  // unknown security or formula, missing line, no series, a cycle
    kNotForSecurity,       // the usage flags exclude indexes, or everything but indexes
    kInstructionFailed,    // a function without result (ADVANCE on a stock)
    kDamaged,              // instructions that do not form a program, an unknown formula type
    kNoLines,              // no instructions, and no indicator of that name computes lines
    kError,                // memory ran out, or a special indicator threw
};

// A short English name of the failure ("unknown formula", "compile error", ...).
std::string_view EvalFailureName(EvalFailure failure);

// What an evaluation reports beside its result.
struct EvalStatus {
    EvalFailure failure = EvalFailure::kNone;
    std::string message;     // UTF-8: the failure in words, naming what failed
    int errorPosition = -1;  // kCompileError: the offending range of the source (bytes)
    int errorLength = 0;

    bool ok() const { return failure == EvalFailure::kNone; }
};

class FormulaEvaluator {
public:
    // `formulas` answers formula references; `specials` the name-dispatched indicators.
    FormulaEvaluator(const FormulaSet& formulas, EvalDataSource& data,
                     const SpecialIndicatorRegistry* specials = &ProcessSpecialIndicators());
    ~FormulaEvaluator();
    FormulaEvaluator(const FormulaEvaluator&) = delete;
    FormulaEvaluator& operator=(const FormulaEvaluator&) = delete;

    // Evaluates `formula`. Null when the formula does not apply to the period or the security,
    // when its instructions are damaged, when an instruction fails, when there is no series, or
    // when it is a special indicator without a result. Failed references give empty lines.
    std::unique_ptr<EvalResult> Evaluate(const FormulaRecord& formula, const EvalRequest& request);
    // The same, saying in `status` why there is no result, or which reference gave an empty line.
    std::unique_ptr<EvalResult> Evaluate(const FormulaRecord& formula, const EvalRequest& request, EvalStatus& status);

    // Evaluates the formula of `type`'s class named `name` (case-insensitive) from the set.
    std::unique_ptr<EvalResult> EvaluateNamed(uint32_t type, std::string_view name, const EvalRequest& request,
                                              EvalStatus& status);

    // Compiles `formula` from its source (GBK), references answered by the set, and evaluates it.
    // A compile error is reported with its message and range and leaves no result.
    std::unique_ptr<EvalResult> CompileAndEvaluate(FormulaRecord& formula, const EvalRequest& request,
                                                   EvalStatus& status);

    std::unique_ptr<EvalResult> Evaluate(const FormulaRecord& formula, const CodeEntry& security,
                                         const Series* preloaded, Period period, int loadOptions = 0,
                                         uint32_t windowFrom = 0, uint32_t windowTo = 0,
                                         void* specialContext = nullptr);

private:
    std::unique_ptr<EvalResult> EvaluateOrThrow(const FormulaRecord& formula, const EvalRequest& request,
                                                EvalStatus& status);

    const FormulaSet& formulas_;
    EvalDataSource& data_;
    const SpecialIndicatorRegistry* specials_;
    ColumnPool pool_;              // kept between evaluations
    std::vector<std::shared_ptr<Series>> spareSeries_;  // loaded again into their buffers
};

// One evaluation with a context of its own (callers that evaluate many securities keep a
// FormulaEvaluator instead). The caller owns the result; null means no lines.
std::unique_ptr<EvalResult> Evaluate(const FormulaSet& formulas, EvalDataSource& data, const FormulaRecord& formula,
                                     const CodeEntry& security, const Series* preloaded, Period period,
                                     int loadOptions = 0, uint32_t windowFrom = 0, uint32_t windowTo = 0,
                                     void* specialContext = nullptr);

// True when the usage flags let `formula` run at `period` for a security of class `securityClass`.
bool FormulaApplies(const FormulaRecord& formula, Period period, uint16_t securityClass);

}  // namespace tessaro
