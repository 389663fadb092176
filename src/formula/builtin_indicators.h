// The special indicators the evaluator computes itself for formulas without instructions:
// "TENDV" (volume of the time-sharing chart), "ZDL" (advance/decline of an index) and "LCB&"
// (profit ratio of the chip distribution). Each appends its lines to `lines` and returns false
// when it has no result for the security.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

#include "formula/value.h"
#include "platform/security_id.h"
#include "market/series.h"

namespace tessaro {

// One line: the volume of each bar's trade data.
bool ComputeTradeVolume(const Series& series, ColumnPool* pool, std::vector<FormulaValue>& lines);

// Three lines for an index: advancing issues, declining issues, and their difference scaled
// around the middle of the first two lines (with that middle as its base line).
bool ComputeAdvanceDecline(const CodeEntry& security, const Series& series, ColumnPool* pool,
                           std::vector<FormulaValue>& lines);

// The steps of the price range the chip distribution is kept in.
inline constexpr int kChipSteps = 500;

// `lineCount` lines (at least one); the first holds, per bar, the percentage by which the close
// lies above the average cost of the chips held.
bool ComputeProfitRatio(const Series& series, size_t lineCount, ColumnPool* pool, std::vector<FormulaValue>& lines);

// Which built-in computes the formula `name` (case-insensitive); nullptr for none.
enum class BuiltinIndicator { kNone, kTradeVolume, kAdvanceDecline, kProfitRatio };
BuiltinIndicator FindBuiltinIndicator(std::string_view name);

}  // namespace tessaro
