// The byte layout of one combined condition (formula type 7) as formula files store it.
//
// A condition is its left and right operand followed by the relation. Each operand starts
// with its kind: 1 a formula line (type, 16-byte formula name, 16-byte line name, parameter
// count K, K float values, 10-byte bound security, period, look-back), 2 a finance item and
// 3 a number (a 4-byte value), 0 empty (nothing more); every operand then ends with 8 zero
// bytes, the operation and its constant. After both operands come the relation, the period
// count N, the third relation value and 8 zero bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/bytes.h"

namespace tessaro {

inline constexpr uint32_t kOperandEmpty = 0;
inline constexpr uint32_t kOperandFormulaLine = 1;
inline constexpr uint32_t kOperandFinance = 2;
inline constexpr uint32_t kOperandNumber = 3;

inline constexpr size_t kConditionNameBytes = 16;
inline constexpr size_t kConditionSecurityBytes = 10;
inline constexpr uint32_t kMaxConditionParams = 64;
// The smallest condition: two empty operands and the relation.
inline constexpr size_t kMinConditionBytes = 2 * (4 + 16) + 20;
// Far more conditions than any editor builds; the bytes that remain bound it further.
inline constexpr uint32_t kMaxConditions = 4096;

struct ConditionOperandLayout {
    uint32_t kind = kOperandEmpty;
    size_t start = 0;           // offset of the kind field within the condition image
    size_t nameOffset = 0;      // kind 1: the 16-byte formula name
    size_t lineOffset = 0;      // kind 1: the 16-byte line name
    size_t securityOffset = 0;  // kind 1: the 10-byte bound security
};

struct ConditionLayout {
    ConditionOperandLayout operands[2];
    size_t size = 0;  // bytes of the whole condition
};

// Walks the condition that starts at `start` in `bytes`. False when its bytes are cut short,
// an operand kind is unknown or a parameter count exceeds 64.
bool ReadConditionLayout(ByteSpan bytes, size_t start, ConditionLayout& out);

// Reads one condition image from `in` into `image`, forcing the last byte of each name and
// security field to NUL. False (reader position unspecified) when it cannot be read.
bool ReadConditionImage(ByteReader& in, std::string& image);

}  // namespace tessaro
