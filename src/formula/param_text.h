// A formula parameter written as text, as programs take it on their command line:
// "NAME=DEFAULT" or "NAME=DEFAULT,MIN,MAX", the name in UTF-8.
#pragma once

#include <string_view>

#include "formula/compiled_formula.h"

namespace tessaro {

// Parses "NAME=DEFAULT" (a range wide enough for any value: at least -1e9..1e9) or
// "NAME=DEFAULT,MIN,MAX" (MIN <= DEFAULT <= MAX). The name is converted to GBK and may
// hold at most 15 bytes; the numbers must be finite decimals. False, with `out`
// unspecified, for anything else.
bool ParseParamText(std::string_view text, FormulaParam& out);

}  // namespace tessaro
