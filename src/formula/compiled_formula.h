// The formula record and its compiled form.
//
// A FormulaRecord is what every part of the formula engine passes around: the formula's
// identity, parameters, source text and, once compiled, its instruction list, output-line
// descriptors, reference table and string pool. The small records inside it keep their
// packed byte layouts because they are written to formula files unchanged.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "platform/bytes.h"
#include "platform/period.h"
#include "platform/text.h"

namespace tessaro {

enum FormulaType : uint32_t {
    kFormulaSelection = 0,       // 条件选股
    kFormulaTradingSystem = 1,   // 交易系统
    kFormulaInternal = 2,        // internal indicator of the price pane (created by the program only)
    kFormulaMainOverlay = 3,     // indicator drawn over the price pane (主图叠加)
    kFormulaSubPane = 4,         // indicator in its own pane (副图)
    kFormulaColourKLine = 5,     // 五彩K线
    kFormulaCombined = 7,        // combined condition, built from condition records
};

// Types 2, 3 and 4 are one class: an indicator name is unique across them.
constexpr uint32_t FormulaTypeClass(uint32_t type) {
    return (type == kFormulaInternal || type == kFormulaMainOverlay || type == kFormulaSubPane)
               ? static_cast<uint32_t>(kFormulaSubPane) : type;
}
constexpr bool SameFormulaTypeClass(uint32_t a, uint32_t b) {
    return FormulaTypeClass(a) == FormulaTypeClass(b);
}
constexpr bool IsTextFormulaType(uint32_t type) { return type <= kFormulaColourKLine; }
constexpr bool IsKnownFormulaType(uint32_t type) { return type <= kFormulaColourKLine || type == kFormulaCombined; }

// "条件选股", "交易系统", "技术指标", "五彩K线", "条件组合" (UTF-8); "" for an unknown type.
std::string_view FormulaTypeName(uint32_t type);

inline constexpr uint32_t kFormulaRecordVersion = 257;
inline constexpr int kFormulaNameBytes = 16;     // 15 bytes of text and a NUL
inline constexpr int kMaxFormulaNameLength = 15;
inline constexpr int kMaxFormulaParams = 64;
inline constexpr int kMaxCoordinateLines = 7;

// Usage flags.
inline constexpr uint32_t kUsageNotForIndexes = 1u << 0;
inline constexpr uint32_t kUsageNotForOthers = 1u << 1;   // not for securities that are no index
// Period p (2..14) is disabled when bit 30 - (p - 2) is set.
constexpr uint32_t PeriodDisableBit(Period period) {
    return IsValidPeriod(period) ? (0x40000000u >> (PeriodNumber(period) - 2)) : 0u;
}

// Line styles of an output line (1 plain line, 2..12 the style modifiers).
inline constexpr uint16_t kStylePlainLine = 1;
// Trading-system outputs use the descriptor's first four bytes as 100 + signal number.
inline constexpr uint32_t kTradingSignalBase = 100;
inline constexpr uint32_t kTradingDefaultColour = 19;
inline constexpr uint32_t kNoColour = 0xFFFFFFFFu;

#pragma pack(push, 1)

// 32 bytes, the same in memory and in files.
struct FormulaParam {
    float min = 0;
    float max = 0;
    float defaultValue = 0;
    float step = 1.0f;
    char name[16] = {};

    std::string_view nameText() const { return FieldText(name); }
    void setName(std::string_view gbk) { CopyToField(name, gbk); }
};
static_assert(sizeof(FormulaParam) == 32);

// 8 bytes: an opcode (see opcodes.h) and its 4-byte operand.
struct Instruction {
    uint32_t opcode = 0;
    uint32_t operand = 0;

    float number() const {
        float f;
        std::memcpy(&f, &operand, sizeof f);
        return f;
    }
    static Instruction Number(uint32_t op, float value) {
        Instruction i{op, 0};
        std::memcpy(&i.operand, &value, sizeof value);
        return i;
    }
    uint16_t low16() const { return static_cast<uint16_t>(operand & 0xFFFF); }
    uint16_t high16() const { return static_cast<uint16_t>(operand >> 16); }
    uint8_t byteAt(int i) const { return static_cast<uint8_t>(operand >> (8 * i)); }
    bool operator==(const Instruction&) const = default;
};
static_assert(sizeof(Instruction) == 8);

// 24 bytes: how one output line is drawn.
struct OutputLineDesc {
    uint16_t style = kStylePlainLine;  // trading systems: with colourWidth, 100 + signal number
    uint16_t colourWidth = 0;          // bit 0: a colour is given; bits 1..15: line width 0..9
    uint32_t colour = kNoColour;       // 0x00BBGGRR
    char name[16] = {};                // upper case; empty for an unnamed line

    std::string_view nameText() const { return FieldText(name); }
    void setName(std::string_view gbk) { CopyToField(name, gbk); }
    bool hasColour() const { return (colourWidth & 1) != 0; }
    int width() const { return colourWidth >> 1; }
    // The first four bytes as one number (the trading-system signal).
    uint32_t signal() const { return static_cast<uint32_t>(style) | (static_cast<uint32_t>(colourWidth) << 16); }
    void setSignal(uint32_t v) {
        style = static_cast<uint16_t>(v & 0xFFFF);
        colourWidth = static_cast<uint16_t>(v >> 16);
    }
};
static_assert(sizeof(OutputLineDesc) == 24);

// 46 bytes: another formula's line or another security's quote field used by this formula.
// The type is held in two bytes: with a four-byte type the fields would not fit the 46 bytes
// that every reference takes in the formula files.
struct ReferenceEntry {
    char stock[10] = {};        // empty: the security evaluated; else "SH600000" or 大盘指数/行业指数/...
    int16_t type = 0;           // the referenced formula's type
    char formulaName[16] = {};
    char lineName[16] = {};     // empty: the formula's last line
    int16_t period = 0;         // 0: the evaluation's period

    std::string_view stockText() const { return FieldText(stock); }
    std::string_view formulaNameText() const { return FieldText(formulaName); }
    std::string_view lineNameText() const { return FieldText(lineName); }
};
static_assert(sizeof(ReferenceEntry) == 46);

#pragma pack(pop)

// One formula. Strings are GBK; an empty string stands for "none" (as in the files).
class FormulaRecord {
public:
    FormulaRecord() = default;
    virtual ~FormulaRecord() = default;
    FormulaRecord(const FormulaRecord&) = default;
    FormulaRecord& operator=(const FormulaRecord&) = default;
    FormulaRecord(FormulaRecord&&) = default;
    FormulaRecord& operator=(FormulaRecord&&) = default;

    uint32_t type = kFormulaSubPane;
    char name[16] = {};
    uint32_t version = kFormulaRecordVersion;
    uint32_t usageFlags = 0;
    uint32_t joiner = 0;  // type 7: 1 all conditions must hold, 0 any one
    std::vector<FormulaParam> params;
    std::string group;
    // Type 7: each condition's file image, decoded by the combined-condition code.
    std::vector<std::string> conditions;
    std::vector<OutputLineDesc> outputs;
    std::vector<Instruction> instructions;
    std::vector<ReferenceEntry> references;
    std::string description;
    std::string source;        // plain, or enciphered when locked; its size is the source length
    std::string comment;
    std::string freeText;      // carried and saved unchanged
    std::string stringPool;    // each constant upper case and followed by a TAB
    uint32_t coordinateCount = 0;
    float coordinates[kMaxCoordinateLines] = {};
    uint32_t defaultPeriod = 8;
    uint32_t signalIcon = 6;
    uint32_t signalColour = 0;
    uint32_t signalPosition = 3;
    uint8_t reserved13[13] = {};
    uint32_t lockChecksum = 0;
    uint32_t compileTime = 0;  // seconds since 1970-01-01 of the last successful compile
    uint32_t sourceOrigin = 0; // 0 user, 1 common, 2 download, 3 built in; never stored

    std::string_view nameText() const { return FieldText(name); }
    void setName(std::string_view gbk) { CopyToField(name, gbk); }
    bool isLocked() const { return lockChecksum != 0; }

    bool periodDisabled(Period period) const { return (usageFlags & PeriodDisableBit(period)) != 0; }
    void setPeriodDisabled(Period period, bool disabled) {
        uint32_t bit = PeriodDisableBit(period);
        usageFlags = disabled ? (usageFlags | bit) : (usageFlags & ~bit);
    }

    // The display name of output line i (0-based): its name, or "第%d条线" with i + 1 (GBK).
    std::string lineDisplayName(size_t i) const;
    // Index of the line whose display name matches (case-insensitive), or -1.
    int findLine(std::string_view displayName) const;

    // The n-th TAB-separated piece of the string pool, or "" when there is none.
    std::string_view poolString(size_t n) const;

    // Parameter defaults kept within [min, max]; names at most 15 bytes. The editor checks
    // parameters before it sets them; this guards records from other sources.
    bool paramsValid() const;
};

// "第%d条线" for line index i (0-based), GBK.
std::string UnnamedLineName(size_t i);

// The compiled form alone: what one compilation produces and CompileFormula stores.
struct CompiledForm {
    std::vector<Instruction> instructions;
    std::vector<OutputLineDesc> outputs;
    std::vector<ReferenceEntry> references;
    std::string stringPool;

    bool operator==(const CompiledForm& o) const;
};

// Replaces the record's compiled form.
void StoreCompiledForm(FormulaRecord& record, CompiledForm form);
CompiledForm CompiledFormOf(const FormulaRecord& record);

// The record in the formula-file layout (without the file's header and offset table).
void WriteFormulaRecord(ByteWriter& out, const FormulaRecord& record);
// Reads one record in that layout. Returns false (leaving `out` unspecified) on a short
// read or a count beyond the format's limits.
bool ReadFormulaRecord(ByteReader& in, FormulaRecord& out);

// The compiled form alone as bytes (counts, then the records, then the pool), for
// comparing two compilations byte by byte.
Bytes CompiledFormBytes(const FormulaRecord& record);

}  // namespace tessaro
