// The internal indicators the program adds at start-up: the price pane's bar, candle and
// price-line drawings, the time-sharing trend and volume, the advance/decline lines of the
// index time-sharing chart and the chip distribution. They have no instructions: the charts
// draw them, or the evaluator computes them by name. Their lock checksum is the built-in
// marker, so the editor can never open them.
#pragma once

#include <vector>

#include "formula/compiled_formula.h"

namespace tessaro {

inline constexpr uint32_t kUsageTimeSharingOnly = 0x7FF80000u;
inline constexpr uint32_t kUsageNotTimeSharing = 0x00040000u;

// BAR, K, PRICE, TEND, TENDV, ZDL and #CMFB, source 3, in that order.
std::vector<FormulaRecord> InternalIndicators();

}  // namespace tessaro
