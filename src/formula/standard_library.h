// The standard indicator library: the formulas of data/formulas/*.formula, embedded into the
// program at build time, compiled here and written as base/common.fml.
//
// Library file format (UTF-8): header lines "key: value" (name, type, group, description,
// param "NAME DEFAULT MIN MAX", lines "20;80", period, comment; '#' lines ignored), a line
// "---", then the formula text.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "app/paths.h"
#include "formula/compiled_formula.h"

namespace tessaro {

// One embedded library file (generated from data/formulas at build time).
struct EmbeddedFormulaText {
    const char* file;            // its file name, e.g. "MACD.formula"
    const unsigned char* data;   // its bytes (UTF-8)
    size_t size;
};
extern const EmbeddedFormulaText kEmbeddedFormulaTexts[];
extern const size_t kEmbeddedFormulaTextCount;

// Reads one library file into an uncompiled record (GBK texts, source common). False with a
// reason when a key is unknown, a value is malformed or a limit is exceeded.
bool ParseLibraryText(std::string_view utf8, FormulaRecord& out, std::string& error);

struct LibraryBuild {
    std::vector<FormulaRecord> formulas;  // compiled, in file-name order
    std::vector<std::string> errors;      // "FILE: reason" for each file that failed
};
// Parses and compiles every embedded file; a formula may reference those before it.
LibraryBuild BuildStandardLibrary();

// Compiles the library and writes it as base/common.fml under `paths` (temporary file and
// rename). False with the reasons when a formula fails or the file cannot be written.
bool InstallStandardLibrary(const AppPaths& paths, std::string* error = nullptr);

// The compile time stored in library formulas: fixed, so that every build writes the same
// common.fml (2024-01-01 00:00 UTC).
inline constexpr uint32_t kLibraryCompileTime = 1704067200u;

}  // namespace tessaro
