// Text-to-value conversions shared by link values and the configuration file.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zuvo {

// Unsigned decimal: leading blanks (space, tab, CR, LF, VT, FF) are skipped, conversion stops at the
// first non-digit, and no digits give 0. A sign is not a digit, so "-5" and "+5" give 0. A value too
// large for 32 bits gives 4294967295 rather than wrapping round to a small number.
std::uint32_t ParseUnsignedDecimal(std::string_view text);

// True when `text`, compared ASCII case-insensitively over its own length, matches the beginning of
// "true", "1" or "-1": "TRUE", "t", "1", "-" and "" are true; "0", "false", "yes", "truex" are false.
bool ParseFlag(std::string_view text);

// Lower-cases ASCII letters only, so every byte keeps its position (UTF-8 sequences are untouched).
std::string AsciiLower(std::string_view text);

// Strict UTF-8 check: no overlong forms, surrogates or code points above U+10FFFF.
bool IsValidUtf8(std::string_view text);

// Length of the valid UTF-8 sequence starting at text[pos], or 0 when none starts there.
std::size_t Utf8SequenceLength(std::string_view text, std::size_t pos);

}  // namespace zuvo
