// Behaviour cases as data files: input columns, a call and the expected points side by side.
//
// A case file holds blocks separated by blank lines. Within a block:
//   # comment
//   close: 10 11 12            input columns: open high low close vol amount count1 count2 capital,
//   time: 2005-03-04 2005-03-04T14:30:00   bar times (date, or date 'T' time)
//   series X: - - 1 2 3        a named series; leading '-' points are before its valid range
//   index-time: ... / index-close: ... / index-open: ...   the market index's bars
//   class: 1                   security class (default 2, an A share)
//   period: 8                  evaluation period (default 8, days)
//   tolerance: 0.0001          absolute/relative tolerance of the following expectations
//   EMA(C,3) => - 10.5 11.25   expected points ('-' not valid, '?' valid but not checked), or "const 5", or "fail"
//   STICKLINE(1,C,O,8,501) @int1 => ...   a drawing field per point (value2 value3 int1 int2), or a
//                              line field as "const": kind icon fill placement extension arcx arcy radius
// Expressions are calls of registry functions (by name or alias) with numbers, named series,
// unary minus and the operators + - * / = <> > >= < <= and or.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "formula/functions.h"

namespace tessaro::testing_cases {

struct Expectation {
    int line = 0;
    std::string expression;
    std::string field;  // "" for the points' values, else a drawing field (see above)
    enum Kind { kSeries, kConstant, kFail } kind = kSeries;
    std::vector<std::string> points;  // "-" or a number
    double tolerance = 1e-5;
};

struct CaseBlock {
    std::string file;
    int line = 0;
    Series series;
    Series index;
    bool hasIndex = false;
    uint16_t securityClass = 2;
    Period period = kPeriodDay;
    std::map<std::string, FormulaValue> named;  // upper-case name
    std::vector<Expectation> expectations;
};

// Parses a case file; on a malformed line returns false and sets `error`.
bool ParseCaseFile(const std::string& path, std::vector<CaseBlock>& out, std::string& error);

// Evaluates `expression` over the block's data. Returns false when a call has no result (or the
// text cannot be parsed: then `error` says why).
bool EvaluateExpression(CaseBlock& block, const std::string& expression, FormulaValue& out, std::string& error);

// Compares a result with an expectation; returns "" or a description of the first difference.
std::string CheckExpectation(const Expectation& e, bool ok, const FormulaValue& value, int32_t barCount);

}  // namespace tessaro::testing_cases
