// The built-in function library: the evaluation context the functions read and the
// dispatcher the evaluator calls for every registry id that is not a compiler opcode.
//
// Functions never read the market store or the history files themselves. The bars of the
// evaluated security come in the context's Series; the market index's series, the quote
// field catalogue and the finance record are reached through MarketDataSource, which the
// evaluator implements over the series loader and the quote field catalogue (tests use a
// fake).
#pragma once

#include <optional>
#include <span>

#include "formula/value.h"
#include "market/records.h"
#include "platform/security_id.h"
#include "market/series.h"

namespace tessaro {

class MarketDataSource {
public:
    virtual ~MarketDataSource() = default;
    // The series of the market index that belongs to `security`'s market, at `period`, loaded with
    // the evaluation's options and valid until the evaluation ends; null when it cannot be loaded.
    virtual const Series* IndexSeries(const CodeEntry& security, Period period) = 0;
    // Quote field `field` (0..82 of the quote field catalogue) of `security` as the catalogue
    // computes it; nullopt when the security or the field is unknown.
    virtual std::optional<double> QuoteFieldValue(const CodeEntry& security, int field) = 0;
    // The security's finance record; false when it has none.
    virtual bool LoadFinance(const CodeEntry& security, FinanceBlock& out) = 0;
};

struct FunctionContext {
    const Series* series = nullptr;    // the evaluated bars (null or empty: no bars)
    CodeEntry security;                // market, code, class (1 = index)
    Period period = kPeriodDay;        // the evaluation period
    MarketDataSource* data = nullptr;  // may be null: index, quote and finance data are then unavailable
    ColumnPool* pool = nullptr;        // may be null: columns are then allocated directly

    int32_t barCount() const { return series ? static_cast<int32_t>(series->size()) : 0; }
};

// Computes registry function `id` over `args` (in call order). The arguments' columns may be
// taken over for the result or recycled into the context's pool. Returns false when the function
// has no result for this call (an unknown id, a wrong argument kind, ADVANCE on a stock ...): the
// evaluator then fails the evaluation. Floating-point denormals are flushed to zero while it runs.
bool CallFunction(int id, FunctionContext& ctx, std::span<FormulaValue> args, FormulaValue& out);

// The quote columns OPEN .. AMOUNT (bit k of `wanted`: registry id kFnOpen + k) in one pass over
// the bar records, the pass that also copies the bar times into `times` when it is not null (it
// holds ctx.barCount() entries). A formula reading CLOSE and VOL walks its bars once, not twice.
void GatherQuoteColumns(FunctionContext& ctx, uint32_t wanted, std::span<FormulaValue, 6> columns, uint32_t* times);

// True when CallFunction implements `id`, i.e. its registry entry names an implementation: every
// registry function except STKINDI, which the compiler turns into a formula reference, and the
// operators.
bool IsImplementedFunction(int id);

}  // namespace tessaro
