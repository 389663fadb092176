// What the chart tests share: the standard formula set and the real day history of 600519
// (tests/formula/data/600519-daily.csv), each made afresh for the suite that asks.
#pragma once

#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

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

// A suite whose tests share the standard formula set and the day bars of 600519, made once
// for the suite.
class StandardChartSuite : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        formulas_ = MakeStandardFormulas().release();
        bars_ = Load600519DayBars().release();
    }
    static void TearDownTestSuite() {
        delete formulas_;
        delete bars_;
        formulas_ = nullptr;
        bars_ = nullptr;
    }
    static inline FormulaSet* formulas_ = nullptr;
    static inline Series* bars_ = nullptr;
};

}  // namespace tessaro::chart
