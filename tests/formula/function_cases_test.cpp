// Runs every behaviour case file of tests/formula/cases.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "formula/function_case_runner.h"

namespace tessaro::testing_cases {
namespace {

std::vector<std::string> CaseFiles() {
    std::vector<std::string> files;
    std::filesystem::path dir = std::filesystem::path(TESSARO_SOURCE_DIR) / "tests/formula/cases";
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        if (entry.path().extension() == ".txt") files.push_back(entry.path().string());
    std::sort(files.begin(), files.end());
    return files;
}

class FunctionCaseFile : public ::testing::TestWithParam<std::string> {};

TEST_P(FunctionCaseFile, AllExpectationsHold) {
    std::vector<CaseBlock> blocks;
    std::string error;
    ASSERT_TRUE(ParseCaseFile(GetParam(), blocks, error)) << error;
    int checked = 0;
    for (CaseBlock& block : blocks) {
        for (const Expectation& e : block.expectations) {
            FormulaValue value;
            std::string parseError;
            bool ok = EvaluateExpression(block, e.expression, value, parseError);
            ASSERT_TRUE(parseError.empty()) << GetParam() << ":" << e.line << ": " << parseError;
            std::string diff = CheckExpectation(e, ok, value, static_cast<int32_t>(block.series.size()));
            EXPECT_EQ(diff, "") << GetParam() << ":" << e.line << ": " << e.expression;
            ++checked;
        }
    }
    EXPECT_GT(checked, 0) << "no expectations in " << GetParam();
}

INSTANTIATE_TEST_SUITE_P(Cases, FunctionCaseFile, ::testing::ValuesIn(CaseFiles()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                             std::string name = std::filesystem::path(info.param).stem().string();
                             std::replace_if(name.begin(), name.end(), [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); }, '_');
                             return name;
                         });

// The reader itself must reject what it cannot read, or a typo in a case would pass silently.
TEST(FunctionCaseRunner, RejectsUnknownNamesAndBadCounts) {
    CaseBlock block;
    block.series.resize(3);
    FormulaValue v;
    std::string error;
    EXPECT_FALSE(EvaluateExpression(block, "NOSUCH(C,1)", v, error));
    EXPECT_NE(error, "");
    error.clear();
    EXPECT_FALSE(EvaluateExpression(block, "MA(C)", v, error));
    EXPECT_NE(error, "");
}

TEST(FunctionCaseRunner, CheckDetectsWrongPointsAndRanges) {
    Expectation e;
    e.points = {"-", "2"};
    FormulaValue v = FormulaValue::MakeSeries(2, 1);
    v.values[1] = 2;
    EXPECT_EQ(CheckExpectation(e, true, v, 2), "");
    v.values[1] = 2.1f;
    EXPECT_NE(CheckExpectation(e, true, v, 2), "");
    v.values[1] = 2;
    v.begin = 0;
    EXPECT_NE(CheckExpectation(e, true, v, 2), "");
}

}  // namespace
}  // namespace tessaro::testing_cases
