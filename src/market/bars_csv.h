// Bars as CSV text: "date,open,high,low,close,volume,amount", the format the command line's
// series output uses, so that any price history can be read back as a series.
#pragma once

#include <string>
#include <string_view>

#include "market/series.h"

namespace tessaro {

struct BarsCsvOptions {
    // Rows must have increasing dates (a series); otherwise any order (an import sorts them).
    bool increasingDates = true;
};

// Parses the text into out.bars (trade data, capital and order books zero). A UTF-8 byte-order
// mark at the start is skipped; then a first line that does not start with a digit is a header.
// Dates are "YYYY-MM-DD" or "YYYY-MM-DD HH:MM[:SS]" within what a StoreTime holds. The six
// numbers must be finite; prices, volume and amount not negative, and the high not below the
// low. Returns false with "line N: reason" in *error on the first bad line (and out empty); an
// input without bars is valid.
bool ParseBarsCsv(std::string_view text, Series& out, std::string* error = nullptr);
bool ParseBarsCsv(std::string_view text, Series& out, std::string* error, const BarsCsvOptions& options);

}  // namespace tessaro
