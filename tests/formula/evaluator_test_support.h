// Helpers shared by the evaluator tests: bars from closes or from the committed CSV, formulas
// compiled from UTF-8 text against a formula set, and a fixture holding the set, an in-memory
// data source and an evaluator.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <initializer_list>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "formula/compiler.h"
#include "formula/eval_data_source.h"
#include "formula/evaluator.h"
#include "formula/formula_set.h"
#include "market/bars_csv.h"
#include "market/periods.h"
#include "platform/store_time.h"
#include "platform/text.h"

namespace tessaro::testing_support {

inline CodeEntry Security(const char* text, uint16_t cls = kClassAShare) {
    CodeEntry e;
    ParseSecurityText(text, e.id);
    e.securityClass = cls;
    return e;
}

// Day bars on consecutive calendar days from 2024-01-01 with the given closes; open = close - 0.5,
// high = close + 1, low = close - 1, volume 100 + i, amount = close * volume.
inline Series DayBars(const std::vector<float>& closes, StoreTime firstDay = MakeStoreTime(2024, 1, 1)) {
    Series s;
    s.period = kPeriodDay;
    for (size_t i = 0; i < closes.size(); ++i) {
        KLineRecord b;
        b.time = firstDay + static_cast<StoreTime>(i) * kSecondsPerDay;
        b.close = closes[i];
        b.open = closes[i] - 0.5f;
        b.high = closes[i] + 1;
        b.low = closes[i] - 1;
        b.volume = 100.0f + static_cast<float>(i);
        b.amount = closes[i] * b.volume;
        s.push(b);
    }
    return s;
}

inline Series Ramp(int n, float start = 10, float step = 1) {
    std::vector<float> c;
    for (int i = 0; i < n; ++i) c.push_back(start + step * static_cast<float>(i));
    return DayBars(c);
}

inline std::string SourceFile(const std::string& relative) {
    const char* root = std::getenv("TESSARO_SOURCE_DIR");
    return std::string(root ? root : TESSARO_SOURCE_DIR) + "/" + relative;
}

// The committed real price history (365 day bars of SH600519).
inline Series Bars600519() {
    std::ifstream in(SourceFile("tests/formula/data/600519-daily.csv"));
    std::stringstream text;
    text << in.rdbuf();
    Series s;
    std::string error;
    EXPECT_TRUE(ParseBarsCsv(text.str(), s, &error)) << error;
    s.period = kPeriodDay;
    return s;
}

inline FormulaParam Param(const char* name, float def, float min = -1e6f, float max = 1e6f) {
    FormulaParam p;
    p.setName(name);
    p.defaultValue = def;
    p.min = min;
    p.max = max;
    return p;
}

// Compiles UTF-8 text into a record named `name`; references resolve in `set`.
inline FormulaRecord MakeFormula(const FormulaSet& set, const char* name, const std::string& utf8,
                                 std::vector<FormulaParam> params = {}, uint32_t type = kFormulaSubPane) {
    FormulaRecord r;
    r.type = type;
    r.setName(Utf8ToGbk(name));
    r.params = std::move(params);
    r.source = Utf8ToGbk(utf8);
    CompileOptions options;
    options.lookup = set.CompilerLookup();
    try {
        CompileFormula(r, options);
    } catch (const CompileError& e) {
        ADD_FAILURE() << "compile error " << e.code() << " in: " << utf8;
    }
    return r;
}

// The valid points of a line as numbers; NAN marks a point outside the valid range.
inline std::vector<float> Values(const OutputLine& line) {
    std::vector<float> v;
    for (int32_t i = 0; i < line.count && i < static_cast<int32_t>(line.points.size()); ++i)
        v.push_back(line.valid(i) ? line.points[static_cast<size_t>(i)].value : NAN);
    return v;
}

class EvaluatorTest : public ::testing::Test {
protected:
    // Adds a security with its bars to the data source.
    void Add(const CodeEntry& entry, Series bars) { data.AddSecurity(entry, std::move(bars)); }

    FormulaRecord Formula(const char* name, const std::string& utf8, std::vector<FormulaParam> params = {},
                          uint32_t type = kFormulaSubPane) {
        return MakeFormula(set, name, utf8, std::move(params), type);
    }
    // Compiles and puts into the set, so that other formulas can reference it.
    void Define(const char* name, const std::string& utf8, std::vector<FormulaParam> params = {}) {
        set.Put(Formula(name, utf8, std::move(params)));
    }

    std::unique_ptr<EvalResult> Run(const FormulaRecord& f, const CodeEntry& security, Period period = kPeriodDay) {
        return evaluator.Evaluate(f, security, nullptr, period);
    }
    std::unique_ptr<EvalResult> RunOn(const FormulaRecord& f, const Series& bars, const CodeEntry& security) {
        return evaluator.Evaluate(f, security, &bars, bars.period);
    }

    FormulaSet set;
    MemoryEvalData data;
    FormulaEvaluator evaluator{set, data, nullptr};
};

}  // namespace tessaro::testing_support
