// Block indexes: for every block with an index code, a security in the system
// market "$$" whose day history is the capital-weighted average of its members'
// forward-adjusted day prices, on the calendar of the Shanghai index 000001.
//
// Price of day d = sum over members with a bar on or before d (their newest such
// bar) of price x total capital in force with that bar / sum of that capital;
// volume and amount are plain sums. A day whose capital sum is zero has zero
// prices. A suspended member contributes its last earlier bar; a member
// contributes nothing before its first bar. Sums are kept in double precision
// and only the finished bars are stored as floats.
//
// The run reports through a ProgressQueue: "正在初始化计算,请稍后...", the range
// (the number of members), "计算<code> <name> ..." per member and
// "刷新<code> <name> ..." per index; it tests the cancel flag between members and
// between indexes. Cancelled before the indexes are written, nothing is written;
// an index already written stays, the others keep their old day files.
#pragma once

#include <span>
#include <string>
#include <vector>

#include "app/paths.h"
#include "formula/eval_data_source.h"
#include "formula/eval_result.h"
#include "formula/formula_set.h"
#include "market/market_store.h"
#include "market/periods.h"
#include "tools/blocks/block_set.h"
#include "tools/blocks/progress.h"

namespace tessaro {

inline constexpr std::string_view kRefreshIndexesCaption = "刷新板块指数...";
inline constexpr std::string_view kEvaluateFormulaCaption = "计算公式...";
inline constexpr std::string_view kIndexInitialising = "正在初始化计算,请稍后...";

struct BlockIndexReport {
    int indexes = 0;   // index day files written
    int members = 0;   // members in the member table
    int skipped = 0;   // members whose record or history could not be read
    int failed = 0;    // index day files that could not be written
    bool cancelled = false;
};

// The block index worker's run (call it on the worker thread; it does not close the queue).
BlockIndexReport RunBlockIndexes(const BlockSet& blocks, MarketStore& store, const AppPaths& paths,
                                 ProgressQueue& progress);

// The bars of one index over the calendar, exposed for the tests: `sums` holds
// per calendar day price x weight sums, volume and amount sums and the total
// capital sum; a zero (or not finite) capital sum gives zero prices.
struct IndexDaySums {
    double open = 0, high = 0, low = 0, close = 0, volume = 0, amount = 0, circulating = 0, total = 0;
};
std::vector<KLineRecord> IndexBars(std::span<const KLineRecord> calendar, std::span<const IndexDaySums> sums);

// ---- The formula batch -----------------------------------------------------------------

#pragma pack(push, 1)
// 50 bytes: a quote-list row and the formula's value for it.
struct FormulaRow {
    CodeEntry entry;
    float result = 0;
};
#pragma pack(pop)
static_assert(sizeof(FormulaRow) == 50);

// Evaluates `formula` on every row's security in `period` and stores one value
// of output line `line` per row: without a time (0) the line's last value; with
// a time, the value of the bar in the same period bar as that time (none: 0). A
// row whose evaluation fails, or whose line has no such value, gets 0. Reports
// "计算<code> <name> ..." per row and stops when cancelled (rows not reached keep
// their results). Returns the rows evaluated.
size_t EvaluateFormulaOverRows(const FormulaSet& formulas, EvalDataSource& data, const FormulaRecord& formula,
                               std::span<FormulaRow> rows, size_t line, Period period, StoreTime time,
                               ProgressQueue& progress);

}  // namespace tessaro
