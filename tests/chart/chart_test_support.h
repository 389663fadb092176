// What the chart tests share: the standard formula set and the real day history of 600519
// (tests/formula/data/600519-daily.csv), each made afresh for the suite that asks, and a view
// showing that history.
#pragma once

#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "chart/chart_view.h"
#include "formula/formula_set.h"
#include "formula/standard_library.h"
#include "market/bars_csv.h"
#include "market/series.h"
#include "platform/text.h"

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

// A suite over one chart view of 600519 (SH, A share, "贵州茅台") with the day bars above.
class MoutaiViewSuite : public StandardChartSuite {
protected:
    using Panes = std::vector<std::vector<std::pair<uint32_t, std::string>>>;

    // A new view of width x height in the first colour scheme, `visibleBars` bars and `panes`,
    // showing 600519, updated from level 0.
    void OpenMoutai(int width, int height, int visibleBars, const Panes& panes) {
        ParseSecurityText("SH600519", moutai.id);
        moutai.securityClass = kClassAShare;
        CopyToField(moutai.name, Utf8ToGbk("贵州茅台"));
        data.AddSecurity(moutai, *bars_);
        options.scheme = BuiltInSchemes()[0];
        options.visibleBars = visibleBars;
        view = std::make_unique<ChartView>(source, options);
        view->Resize(width, height);
        view->SetPanes(0, panes);
        view->SetSecurity(0, moutai);
        view->Update(0);
    }

    MemoryEvalData data;
    FormulaChartSource source{*formulas_, data};
    ChartOptions options;
    CodeEntry moutai;
    std::unique_ptr<ChartView> view;
};

}  // namespace tessaro::chart
