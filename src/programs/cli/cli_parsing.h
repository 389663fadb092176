// Reading the arguments the tessaro-cli commands have in common: the application
// directory, whole numbers, periods and the ex-rights adjustment.
#pragma once

#include <optional>
#include <string>

#include "command.h"
#include "market/periods.h"

namespace tessaro::cli {

// The application directory the client would open: `option` (--appdir) when given, else
// TESSARO_HOME, the stored path or the default.
std::string ResolveDirOption(const std::optional<std::string>& option);
// Takes --appdir out of args and resolves the directory as above.
std::string ResolveDir(Args& args);

// A decimal whole number in [lo, hi], the whole text and nothing else (no '+', no spaces).
bool ParseInteger(const std::string& text, long long lo, long long hi, long long& out);

// A keyword ("day", "min5", "week", "TIME") or the period number 2..14; kPeriodInvalid otherwise.
Period ParsePeriodText(const std::string& text);
// A period that has history files, as "day" / "fiv" / "min", a keyword ("min1", "min5", "day")
// or 3, 4, 8; kPeriodInvalid otherwise.
Period ParseHistoryPeriod(const std::string& text);

// --adjust forward|backward|none as the series loader's ex-rights flags; forward (0) when
// the option is absent, false for any other word.
bool ParseAdjustOption(const std::optional<std::string>& adjust, int& flags);

}  // namespace tessaro::cli
