// Pieces of printed output that several tessaro-cli commands share.
#pragma once

#include <cstdint>
#include <string>

#include "formula/compiled_formula.h"

namespace tessaro::cli {

// The shortest text that reads back as the same float, without an exponent.
std::string FloatText(float v);

// A formula text (GBK) as UTF-8 with a compile error's range in brackets, so a terminal
// user sees where it is; the text unmarked when the position is outside it.
std::string MarkErrorRange(const std::string& gbk, int position, int length);

// The mnemonic of an opcode or the name of the function it calls; "?" for neither.
std::string OpName(uint32_t op);

// "outputs: N", then each output line: index, name, style, width and colour.
void PrintOutputLines(const FormulaRecord& r);

// "string pool: \"...\"" with the pool's tab separators shown as \t.
void PrintStringPool(const FormulaRecord& r);

}  // namespace tessaro::cli
