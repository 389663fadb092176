// The function registry: every name the formula language knows besides user names.
//
// One static table of 560 entries indexed by id (= opcode) holds the operators and
// compiler opcodes, the built-in functions and the line modifiers with their parameter
// kinds, implementations, categories, result kinds and help texts. The lexer classifies
// identifiers through the name index, the compiler checks argument counts and kinds
// against the entries, CallFunction dispatches through the entries' implementations and
// the function picker lists the entries by category. The table is built once during
// static initialisation and is read by every thread without locking.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tessaro {

struct FunctionContext;
struct FormulaValue;

// Computes registry entry `id` over `args` into `out`; false when the call has no result. One
// implementation serves a family of entries and tells them apart by id (see functions.h).
using FunctionImpl = bool (*)(int id, FunctionContext& ctx, std::span<FormulaValue> args, FormulaValue& out);

inline constexpr int kFunctionTableSize = 560;
inline constexpr int kMaxFunctionParams = 5;

// Entry kinds.
inline constexpr uint8_t kEntryOperator = 0;  // operator or internal compiler opcode
inline constexpr uint8_t kEntryFunction = 1;
inline constexpr uint8_t kEntryModifier = 2;

// Parameter kind bits; a position's mask may combine them (3 = series or number).
inline constexpr uint8_t kParamSeries = 1;  // "[普通序列]"
inline constexpr uint8_t kParamNumber = 2;  // "[常数数值]"
inline constexpr uint8_t kParamString = 4;  // "[常数字串]"

// Result kinds of functions (the same numbers as the value kinds).
inline constexpr uint8_t kResultSeries = 1;
inline constexpr uint8_t kResultNumber = 2;

// Function categories 1..10.
enum FunctionCategory : uint8_t {
    kCategoryQuote = 1,      // 行情函数
    kCategoryTime = 2,       // 时间函数
    kCategoryReference = 3,  // 引用函数
    kCategoryLogic = 4,      // 逻辑函数
    kCategoryMath = 5,       // 数学函数
    kCategoryStatistics = 6, // 统计函数
    kCategoryIndicator = 7,  // 指标函数
    kCategoryMarket = 8,     // 大盘函数
    kCategoryConstant = 9,   // 常数函数
    kCategoryDrawing = 10,   // 画图函数
};

// Modifier classes (bit values, as the compiler applies them to a line descriptor).
inline constexpr uint8_t kModifierStyle = 1;   // 线型修饰
inline constexpr uint8_t kModifierWidth = 2;   // 线宽修饰
inline constexpr uint8_t kModifierColour = 4;  // 颜色修饰

// Ids of the entries the code refers to by number.
enum FunctionId : int32_t {
    kFnOpen = 2, kFnHigh = 3, kFnLow = 4, kFnClose = 5, kFnVol = 6, kFnAmount = 7,
    kFnAdvance = 8, kFnDecline = 9,
    kFnDay = 11, kFnWeekday = 12, kFnMonth = 13, kFnYear = 14, kFnMinute = 15, kFnHour = 16,
    kFnCount = 18, kFnSum = 19, kFnRef = 20, kFnHhv = 21, kFnLlv = 22, kFnMa = 23, kFnEma = 24,
    kFnIsUp = 26, kFnIsEqual = 27, kFnIsDown = 28, kFnIf = 29,
    kOpAdd = 31, kOpSub = 32, kOpMul = 33, kOpDiv = 34,
    kFnMod = 35, kFnMax = 36, kFnMin = 37, kFnCross = 38,
    kOpEq = 39, kOpNe = 40, kOpGt = 41, kOpGe = 42, kOpLt = 43, kOpLe = 44, kOpAnd = 45, kOpOr = 46,
    kFnReverse = 47, kFnAbs = 48, kFnSgn = 49, kFnNot = 50, kFnLog = 52, kFnLn = 53, kFnPow = 54,
    kFnExp = 55, kFnSqrt = 56,
    kFnStd = 58, kFnStdp = 59, kFnVar = 60, kFnVarp = 61, kFnAvedev = 62, kFnDevsq = 63,
    kOpPushNumber = 65, kOpPushSlot = 66, kOpPushSlot2 = 67, kOpStoreStatement = 68,
    kOpReference = 70, kOpPushString = 71,
    kFnSar = 73, kFnSarTurn = 74, kFnZig = 75, kFnCost = 80, kFnWinner = 81,
    kFnIndexO = 201, kFnIndexH = 202, kFnIndexL = 203, kFnIndexC = 204, kFnIndexV = 205,
    kFnIndexA = 206, kFnIndexAdv = 207, kFnIndexDec = 208,
    kFnSma = 211, kFnBarsSince = 212, kFnBarsLast = 213, kFnHhvBars = 214, kFnLlvBars = 215,
    kFnBarsCount = 216, kFnDma = 217, kFnBackSet = 218, kFnSumBars = 219, kFnFilter = 220,
    kFnSin = 231, kFnCos = 232, kFnTan = 233, kFnAsin = 234, kFnAcos = 235, kFnAtan = 236,
    kFnBuyVol = 241, kFnSellVol = 242,
    kFnVolUnit = 251, kFnDynaReport = 252, kFnFinance = 253, kFnCapital = 254,
    kFnForcast = 271, kFnDate = 291, kFnTime = 292, kFnIsLastBar = 293,
    kFnLongCross = 311, kFnBetween = 312, kFnRange = 313, kFnCeiling = 314, kFnFloor = 315,
    kFnDrawIcon = 331, kFnDrawLine = 332, kFnPolyLine = 333, kFnStickLine = 334, kFnDrawText = 335,
    kFnStkIndi = 351, kFnRgb = 352, kFnPartLine = 353, kFnDrawIconEx = 354,
    kFnPersistGreat = 355, kFnPersistLess = 356, kFnPersistAscent = 357, kFnPersistDescent = 358,
    kFnPersistTurnUp = 359, kFnPersistTurnDown = 360,
    kFnBarPos = 361, kFnBarStatus = 362, kFnStkType = 363, kFnTickCount = 364, kFnFloatArc = 365,
    kFnDrawTextAbs = 366, kFnDrawTextRel = 367,
    kFirstModifierId = 512, kLastModifierId = 545,
};

// One registry entry. Entries never filled stay all zero (and FunctionById gives null).
// Texts (description, help) are UTF-8.
struct FunctionInfo {
    int32_t id = 0;                          // = index = opcode
    uint8_t kind = 0;                        // kEntryOperator, kEntryFunction, kEntryModifier
    const char* name = nullptr;              // upper case for functions and modifiers; null for opcodes
    const char* alias = nullptr;             // e.g. "C" for CLOSE, or null
    int32_t paramCount = 0;                  // 0..5
    uint8_t paramKinds[kMaxFunctionParams] = {};  // kParam* mask per position
    uint8_t category = 0;                    // functions: FunctionCategory; modifiers: kModifier* class
    uint8_t resultKind = 0;                  // functions: kResultSeries or kResultNumber
    uint32_t value = 0;                      // modifiers: style number, width or colour 0x00BBGGRR
    const char* description = nullptr;       // short description, e.g. "收盘价"
    const char* help = nullptr;              // picker help text (may be null for modifiers)
    FunctionImpl impl = nullptr;             // what CallFunction runs; null: not callable

    bool isFunction() const { return kind == kEntryFunction; }
    bool isModifier() const { return kind == kEntryModifier; }
    bool acceptsSeries(int pos) const { return pos >= 0 && pos < paramCount && (paramKinds[pos] & kParamSeries); }
    bool acceptsNumber(int pos) const { return pos >= 0 && pos < paramCount && (paramKinds[pos] & kParamNumber); }
    bool acceptsString(int pos) const { return pos >= 0 && pos < paramCount && (paramKinds[pos] & kParamString); }
};

// The entry of `id`, or null when id is outside 0..559 or the entry was never filled.
const FunctionInfo* FunctionById(int id);

// Entry index of the function named `name` or its alias (case-insensitive, kind 1 only), or -1.
// "STKINDI" is found like any other function; the lexer treats it specially.
int FindFunction(std::string_view name);

// Entry index of the modifier named `name` (case-insensitive, kind 2 only), or -1.
// Colour literals "colorRRGGBB" other than the registered names are not entries: see ParseColourLiteral.
int FindModifier(std::string_view name);

// "color" + 6 hexadecimal digits (either case, 11 characters in all) -> the 6 digits as one
// hexadecimal number (0x00BBGGRR: "color0000ff" is red), or -1 when `text` is no colour literal.
int64_t ParseColourLiteral(std::string_view text);

// All filled entries, in id order (for the function picker and tests).
std::vector<const FunctionInfo*> AllFunctionEntries();

// "行情函数" ... "画图函数" for categories 1..10; "" otherwise.
std::string_view CategoryName(int category);
// "线型修饰", "线宽修饰", "颜色修饰" for modifier classes 1, 2, 4; "" otherwise.
std::string_view ModifierClassName(int modifierClass);
// The allowed kinds of a parameter mask in the compiler's wording: "[普通序列]", "[常数数值]",
// "[常数字串]" concatenated in that order.
std::string ParamKindText(uint8_t mask);

// Usage text of a function entry built from its table data: "MA(X,N)" style, "CLOSE" without parameters.
std::string FunctionUsage(const FunctionInfo& info);

// The name of FINANCE item X (0..38) as the function's help lists it, in UTF-8; "" otherwise.
std::string_view FinanceItemName(uint32_t item);

}  // namespace tessaro
