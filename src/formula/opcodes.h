// The instruction set of compiled formulas.
//
// A compiled formula is a postfix instruction list run by a stack machine over whole
// series: operands are pushed first, then the operator or function that pops them and
// pushes its result. Every opcode is a function-registry id, so built-in functions need no
// table of their own here: opcode n calls registry entry n with the values pushed before
// it (its parameter count of them, last argument on top). The codes below are the ones the
// compiler emits itself, with the operand each carries.
#pragma once

#include <cstdint>

namespace tessaro::opcode {

// Values are whole series (one float per bar with a valid range) or constant numbers or
// strings; "true" means |x| > 0.000001. An operator over two series works bar by bar over the
// intersection of their ranges (the union for kOr); over two constants it gives a constant.

// ---- operators and the operator-like functions (operand 0; pop b, then a; push one) -------
inline constexpr uint32_t kAdd = 31;        // a + b
inline constexpr uint32_t kSub = 32;        // a - b
inline constexpr uint32_t kMul = 33;        // a * b
inline constexpr uint32_t kDiv = 34;        // a / b, 0 where |b| <= 0.000001
inline constexpr uint32_t kMod = 35;        // MOD: trunc(a) rem trunc(b), sign of a; 0 for a zero divisor
inline constexpr uint32_t kMax = 36;        // MAX: the larger of a and b
inline constexpr uint32_t kMin = 37;        // MIN: the smaller of a and b
inline constexpr uint32_t kCross = 38;      // CROSS: 1 where a[i-1] < b[i-1] and a[i] > b[i]; starts a bar later
inline constexpr uint32_t kEq = 39;         // 1 where |a - b| <= 0.000001, else 0
inline constexpr uint32_t kNe = 40;         // the opposite of kEq
inline constexpr uint32_t kGt = 41;         // 1 where a > b, else 0
inline constexpr uint32_t kGe = 42;         // 1 where a >= b, else 0
inline constexpr uint32_t kLt = 43;         // 1 where a < b, else 0
inline constexpr uint32_t kLe = 44;         // 1 where a <= b, else 0
inline constexpr uint32_t kAnd = 45;        // 1 where a and b are both true
inline constexpr uint32_t kOr = 46;         // 1 where a or b is true; outside one range that side is false
inline constexpr uint32_t kNeg = 47;        // pop a, push -a (REVERSE; the unary minus)

// ---- compiler opcodes (pop nothing unless stated) ------------------------------------------
inline constexpr uint32_t kPushNumber = 65;     // operand float32: push that constant number
inline constexpr uint32_t kPushParam = 66;      // low 16 bits slot n: push formula parameter n (a constant number)
inline constexpr uint32_t kPushVariable = 67;   // low 16 slot, high 16 its hidden flag: push a copy of an earlier statement's value
inline constexpr uint32_t kStore = 68;          // low 16 slot, high 16 1 for ':=': pop the statement's value into the next slot
inline constexpr uint32_t kReference = 70;      // bytes: ref index, period/field, argument count k, ref kind: pop k arguments, push another formula's line or a stock's field
inline constexpr uint32_t kPushString = 71;     // low 16 bits n: push the n-th string-pool piece as a constant string

// ---- every other opcode --------------------------------------------------------------------
// A registry function id (function_registry.h): pop its parameter count of values (the last
// argument on top) and push the function's result. For example 5 CLOSE pushes the closing
// prices, 19 SUM pops X and N and pushes the N-bar sums of X, 253 FINANCE pops X and pushes
// the finance item X as a constant number.

// Byte 3 of a kReference operand.
inline constexpr uint8_t kRefFormula = 0;       // formula reference or STKINDI
inline constexpr uint8_t kRefFormulaDouble = 1; // formula reference written with '##' (pushes an empty series)
inline constexpr uint8_t kRefStockField = 64;   // quote field 0..5 (open..amount) of another security

// Operand of kReference from its four parts.
constexpr uint32_t ReferenceOperand(uint8_t index, uint8_t periodOrField, uint8_t argCount, uint8_t kind) {
    return static_cast<uint32_t>(index) | (static_cast<uint32_t>(periodOrField) << 8) |
           (static_cast<uint32_t>(argCount) << 16) | (static_cast<uint32_t>(kind) << 24);
}
// Operand of kPushVariable / kStore: slot in the low half, flag in the high half.
constexpr uint32_t SlotOperand(uint32_t slot, uint32_t flag) { return (slot & 0xFFFF) | (flag << 16); }

// Short mnemonic of a compiler opcode or operator ("PUSHNUM", "+" ...), or nullptr for the
// opcodes that are plain function calls (their name comes from the registry).
constexpr const char* Mnemonic(uint32_t op) {
    switch (op) {
    case kAdd: return "+";
    case kSub: return "-";
    case kMul: return "*";
    case kDiv: return "/";
    case kEq: return "=";
    case kNe: return "<>";
    case kGt: return ">";
    case kGe: return ">=";
    case kLt: return "<";
    case kLe: return "<=";
    case kAnd: return "AND";
    case kOr: return "OR";
    case kPushNumber: return "PUSHNUM";
    case kPushParam: return "PUSHPARAM";
    case kPushVariable: return "PUSHVAR";
    case kStore: return "STORE";
    case kReference: return "REFERENCE";
    case kPushString: return "PUSHSTR";
    default: return nullptr;
    }
}

}  // namespace tessaro::opcode
