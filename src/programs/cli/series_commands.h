// Shared by the series commands and the demo: an application directory opened as a session,
// the way the client opens it at start-up.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "formula/compiled_formula.h"
#include "formula/eval_result.h"
#include "market/market_store.h"
#include "market/periods.h"
#include "market/series.h"
#include "cli_session.h"

namespace tessaro::cli {

// "YYYY-MM-DD" for day-based periods, "YYYY-MM-DD HH:MM" intraday, with seconds for ticks.
std::string SeriesTimeText(StoreTime t, Period period);

// Prints a series as CSV (date,open,high,low,close,volume,amount), its last `last` bars,
// all of them when last is 0.
void PrintSeriesCsv(const Series& series, Period period, size_t last);

// Prints the 83 quote fields of a security as name=value lines; false (nothing printed)
// for a security the store does not know.
bool PrintQuoteFields(const MarketStore& store, const SecurityId& id, const std::string& indent);

// Prints an evaluation as CSV: "date,<line names>", then one row per bar of the last `last`
// (all when 0), each line's value to four decimals or an empty cell outside its valid range.
void PrintEvalResult(const FormulaRecord& formula, const EvalResult& result, const Series& series, Period period,
                     size_t last);

}  // namespace tessaro::cli
