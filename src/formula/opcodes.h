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

// ---- operators (registry kind 0; pop two values, push one; operand 0) --------------------
inline constexpr uint32_t kAdd = 31;        // a + b
inline constexpr uint32_t kSub = 32;        // a - b
inline constexpr uint32_t kMul = 33;        // a * b
inline constexpr uint32_t kDiv = 34;        // a / b, 0 where b is zero within 0.000001
inline constexpr uint32_t kEq = 39;         // 1 where |a - b| <= 0.000001, else 0
inline constexpr uint32_t kNe = 40;         // the opposite of kEq
inline constexpr uint32_t kGt = 41;         // 1 where a > b
inline constexpr uint32_t kGe = 42;         // 1 where a >= b
inline constexpr uint32_t kLt = 43;         // 1 where a < b
inline constexpr uint32_t kLe = 44;         // 1 where a <= b
inline constexpr uint32_t kAnd = 45;        // 1 where both are true (non-zero beyond 0.000001)
inline constexpr uint32_t kOr = 46;         // 1 where either is true; range is the union
inline constexpr uint32_t kNeg = 47;        // -a (the REVERSE function; unary minus)

// ---- compiler opcodes ---------------------------------------------------------------------
inline constexpr uint32_t kPushNumber = 65;     // operand float32: push that constant number
inline constexpr uint32_t kPushParam = 66;      // low 16 bits slot: push formula parameter n
inline constexpr uint32_t kPushVariable = 67;   // low 16 slot, high 16 its hidden flag: push an earlier statement's value
inline constexpr uint32_t kStore = 68;          // low 16 slot, high 16 1 for ':=': pop the statement's value into the next slot
inline constexpr uint32_t kReference = 70;      // bytes: ref index, period/field, argument count, ref kind: push another formula's line or a stock's field
inline constexpr uint32_t kPushString = 71;     // low 16 bits: push the n-th string-pool piece as a constant string

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
