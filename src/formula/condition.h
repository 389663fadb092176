// Combined conditions: the condition model of a type-7 formula and its file image.
//
// A combined condition ("条件组合") is a selection formula built without text: a list of
// conditions, each comparing a left operand (a formula line, a finance item or a number)
// with a right one by one of nineteen relations, joined so that all of them or any one of
// them must hold. FormulaRecord::conditions keeps each condition as its file image (bytes)
// and FormulaRecord::joiner the joiner; this header reads and writes those images.
//
// Image of one condition (little-endian, byte-packed; its length depends on the operand kinds):
//
//   for each operand, left then right, starting at offset o:
//     o+0    uint32    kind: 0 empty, 1 formula line, 2 finance item, 3 number
//     kind 1 (formula line):
//     o+4    uint32    referenced formula type
//     o+8    char[16]  formula name  } up to 15 bytes; enciphered in place, all 16 bytes
//     o+24   char[16]  line name     } of each as blocks 0..7 and 8..15, when locked
//     o+40   uint32    parameter count K (0..64)
//     o+44   K float32 parameter values
//     o+44+4K  char[10]  bound security ("SH600000"), NUL-padded; empty: the evaluated one
//     o+54+4K  uint32    period
//     o+58+4K  uint32    look-back N
//     kind 2: o+4 uint32 finance item X;  kind 3: o+4 float32 the number;  kind 0: nothing
//     then (at o+62+4K, o+8 or o+4): 8 zero bytes, uint32 operation, float32 constant
//   after both operands: uint32 relation, float32 N, uint32 third relation value, 8 zero bytes
//
// So an empty operand takes 20 bytes, a finance item or number 24, a formula line 78 + 4K,
// and the relation trailer 20. The zero bytes are written as zeros and ignored when read.
// The formula files cut the images out of a record by this layout and keep them as bytes;
// ParseConditionImage and ConditionImage convert between an image and the model.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "platform/bytes.h"
#include "platform/text.h"

namespace tessaro {

class FormulaRecord;

enum ConditionOperandKind : uint32_t {
    kConditionOperandEmpty = 0,
    kConditionOperandFormula = 1,
    kConditionOperandFinance = 2,  // FINANCE(X)
    kConditionOperandNumber = 3,
};

enum ConditionOperation : uint32_t {
    kOperationNone = 0,
    kOperationAdd = 1,       // 加: add the constant
    kOperationMultiply = 2,  // 乘以: multiply by the constant
    kOperationNot = 3,       // 逻辑非
};

// The nineteen relations (the editor's list order).
enum ConditionRelation : int32_t {
    kRelationNone = 0,
    kRelationGreater = 1,           // left > right
    kRelationGreaterEqual = 2,      // left >= right
    kRelationLess = 3,              // left < right
    kRelationLessEqual = 4,         // left <= right
    kRelationEqual = 5,             // left = right
    kRelationNotEqual = 6,          // left <> right
    kRelationCrossAbove = 7,        // CROSS(left, right)
    kRelationCrossBelow = 8,        // CROSS(right, left)
    kRelationPersistGreater = 9,    // PERSISTGREAT(left, right, N)
    kRelationPersistLess = 10,      // PERSISTLESS(left, right, N)
    kRelationPersistRising = 11,    // PERSISTASCENT(left, N)
    kRelationPersistFalling = 12,   // PERSISTDESCENT(left, N)
    kRelationLongCrossAbove = 13,   // LONGCROSS(left, right, N)
    kRelationLongCrossBelow = 14,   // LONGCROSS(right, left, N)
    kRelationTurnUp = 15,           // PERSISTTURNUP(left, N)
    kRelationTurnDown = 16,         // PERSISTTURNDOWN(left, N)
    kRelationSumGreater = 17,       // SUM(left, N) > SUM(right, N)
    kRelationSumLess = 18,          // SUM(left, N) < SUM(right, N)
    kRelationSumEqual = 19,         // SUM(left, N) = SUM(right, N)
};
inline constexpr int32_t kRelationCount = 19;

// Joiner values (FormulaRecord::joiner).
inline constexpr uint32_t kJoinerAny = 0;  // 下列条件之一成立
inline constexpr uint32_t kJoinerAll = 1;  // 下列条件同时成立

inline constexpr int kConditionMaxParams = 64;
// FINANCE(X) reads items 0..38.
inline constexpr uint32_t kFinanceItemCount = 39;

constexpr bool IsKnownRelation(int32_t relation) { return relation >= 1 && relation <= kRelationCount; }
// Relations 11, 12, 15 and 16 look at the left operand alone.
constexpr bool RelationTakesRightOperand(int32_t relation) {
    return IsKnownRelation(relation) && relation != kRelationPersistRising && relation != kRelationPersistFalling &&
           relation != kRelationTurnUp && relation != kRelationTurnDown;
}

#pragma pack(push, 1)

// One side of a condition, 326 bytes in memory. Fields a kind does not use stay zero.
struct ConditionOperand {
    uint32_t kind = kConditionOperandEmpty;
    uint32_t value = 0;             // kind 1: formula type; kind 2: finance item X; kind 3: float32 bits
    char formulaName[16] = {};      // kind 1, up to 15 bytes
    char lineName[16] = {};         // kind 1; empty for types 0 and 5, which have one line
    uint32_t paramCount = 0;        // kind 1, 0..64
    float params[kConditionMaxParams] = {};
    char boundStock[10] = {};       // kind 1: "SH600000"; empty: the security evaluated
    uint32_t period = 0;            // kind 1: the formula line's period (0: the evaluation's)
    uint32_t lookBack = 0;          // kind 1: the value this many bars earlier
    uint32_t operation = kOperationNone;
    float operationConstant = 0;

    uint32_t formulaType() const { return value; }
    uint32_t financeItem() const { return value; }
    float number() const {
        float f;
        uint32_t bits = value;
        std::memcpy(&f, &bits, sizeof f);
        return f;
    }
    // A plain name holds at most 15 bytes: byte 15 is never part of it (in a locked list
    // it is enciphered, and a plain list keeps a NUL there).
    std::string_view formulaNameText() const { return FieldText(formulaName, sizeof formulaName - 1); }
    std::string_view lineNameText() const { return FieldText(lineName, sizeof lineName - 1); }
    std::string_view boundStockText() const { return FieldText(boundStock); }
    float param(size_t i) const { return i < kConditionMaxParams ? params[i] : 0.0f; }

    static ConditionOperand FormulaLine(uint32_t type, std::string_view nameGbk, std::string_view lineGbk,
                                        const std::vector<float>& paramValues, uint32_t period,
                                        std::string_view stock = {}, uint32_t lookBack = 0);
    static ConditionOperand Finance(uint32_t item);
    static ConditionOperand Number(float v);
    // Adds an operation (1 加, 2 乘以, 3 逻辑非) to the operand.
    ConditionOperand& withOperation(uint32_t op, float constant = 0);
};
static_assert(sizeof(ConditionOperand) == 326);

// One condition, 664 bytes in memory.
struct Condition {
    ConditionOperand left;
    ConditionOperand right;
    int32_t relation = kRelationNone;
    float periods = 0;    // N of the relations that count periods
    int32_t third = 0;    // a third relation value, kept and saved unchanged
};
static_assert(sizeof(Condition) == 664);

#pragma pack(pop)

// A formula line of a selection, trading-system or colour K-line formula (types 0, 1, 5) is
// a condition by itself: it takes no relation and no right operand.
bool OperandIsCondition(const ConditionOperand& operand);
// True when the operand's value is a constant number rather than a series (finance items
// and numbers).
bool OperandIsConstant(const ConditionOperand& operand);

// Every condition image takes at least this many bytes (two empty operands and the relation),
// so a count read from a file can be checked against the bytes that remain before anything
// is reserved.
inline constexpr size_t kMinConditionBytes = 2 * 20 + 20;
// Far more conditions than any editor builds; the bytes that remain bound a count further.
inline constexpr uint32_t kMaxConditions = 4096;

// The file image of a condition (layout above).
std::string ConditionImage(const Condition& condition);
// Reads the condition that starts at the reader's position of a formula file and gives its
// image as this program writes it: the zero bytes are zero, the bound security ends in a NUL
// and the name fields are kept whole (a locked list's are enciphered). False (the
// reader's position unspecified) when it is cut short, has an unknown operand kind or more
// than 64 parameters.
bool ReadConditionImage(ByteReader& in, std::string& image);
// Puts a NUL in byte 15 of every formula and line name field of well-formed plain images (a
// file may hold anything there). Never for a locked list: its name fields are enciphered whole.
void EndConditionNames(std::vector<std::string>& images);
// Reads a whole image; false when it is cut short, has bytes left over, an unknown operand
// kind or more than 64 parameters.
bool ParseConditionImage(std::string_view image, Condition& out);
// Decodes every condition of a record; false when one of the images is malformed.
bool DecodeConditions(const FormulaRecord& record, std::vector<Condition>& out);
// Replaces the record's condition images.
void SetConditions(FormulaRecord& record, const std::vector<Condition>& conditions);

}  // namespace tessaro
