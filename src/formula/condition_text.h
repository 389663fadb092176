// The texts of combined conditions shown in the condition editor's list and in the
// formula's comment pane.
//
// All texts are GBK, like the formula names they are built from.
#pragma once

#include <cstdint>
#include <string>

#include "formula/condition.h"

namespace tessaro {

// A formula line: "(<period> 绑定股票:<code> 向前引用<N>周期 )" with only the parts that are
// set, then "<type label>:<formula>[.<line>]" (the line for types 1 to 4) and the parameters
// "(12,26,9)"; a finance item: its name; a number: "%.3f". Then the operation: "加" or "乘以"
// with the constant ("%0.3f"), or "逻辑非". An empty operand gives "".
std::string DescribeOperand(const ConditionOperand& operand);

// The relation's text ("大于", "连续5周期上扬" ...) with N formatted "%.0f"; "" when unknown.
std::string DescribeRelation(int32_t relation, float periods);

// "<left> <relation> <right>". A left operand that is a condition by itself shows alone, and
// a relation that takes no right operand shows none.
std::string DescribeCondition(const Condition& condition);

// "下列条件同时成立" (joiner 1) or "下列条件之一成立" (any other value).
std::string DescribeJoiner(uint32_t joiner);

}  // namespace tessaro
