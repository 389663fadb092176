// Bars as CSV text: "date,open,high,low,close,volume,amount", the format the command line's
// series output uses, so that any price history can be read back as a series.
#pragma once

#include <string>
#include <string_view>

#include "market/series.h"

namespace tessaro {

// Parses the text into out.bars (trade data, capital and order books zero). A first line that
// does not start with a digit is a header. Dates are "YYYY-MM-DD" or "YYYY-MM-DD HH:MM[:SS]"
// and must increase from row to row; the six numbers must be finite. Returns false with
// "line N: reason" in *error on the first bad line; an input without bars is valid.
bool ParseBarsCsv(std::string_view text, Series& out, std::string* error = nullptr);

}  // namespace tessaro
