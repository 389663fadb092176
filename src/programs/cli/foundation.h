// The foundation's part of tessaro-cli demo: paths, classes and initials.
#pragma once

#include <string>

#include "formula/formula_set.h"

namespace tessaro::cli {

// Prints the path table of appDir, the classes of a few securities and the
// initials of a few names, and runs the start-up stages, which load `formulas`.
void PrintFoundationDemo(const std::string& appDir, FormulaSet& formulas);

}  // namespace tessaro::cli
