// What the chart tests share: the standard formula set and the real day history of 600519
// (tests/formula/data/600519-daily.csv), each made afresh for the suite that asks.
#pragma once

#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "formula/formula_set.h"
#include "formula/standard_library.h"
#include "market/bars_csv.h"
#include "market/series.h"

namespace tessaro::chart {

inline std::string SourceDir() {
    const char* root = std::getenv("TESSARO_SOURCE_DIR");
    return root ? root : TESSARO_SOURCE_DIR;
}

inline std::unique_ptr<FormulaSet> MakeStandardFormulas() {
    auto set = std::make_unique<FormulaSet>();
    for (FormulaRecord& r : BuildStandardLibrary().formulas) set->Put(std::move(r));
    return set;
}

// The day bars of 600519; empty when the file cannot be read.
inline std::unique_ptr<Series> Load600519DayBars() {
    std::ifstream in(SourceDir() + "/tests/formula/data/600519-daily.csv");
    std::stringstream text;
    text << in.rdbuf();
    auto bars = std::make_unique<Series>();
    ParseBarsCsv(text.str(), *bars);
    bars->period = kPeriodDay;
    return bars;
}

}  // namespace tessaro::chart
