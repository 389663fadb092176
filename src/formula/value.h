// FormulaValue: one entry of the evaluator's value stack, and the column layout the
// built-in functions compute on.
//
// A series is one contiguous float column with one point per bar of the evaluated series
// and a valid range [begin, count): points before `begin` (or at and after `count`) are not
// set and must be neither drawn nor read. A constant number is one float; a constant string
// owns its text. Columns come from a ColumnPool so that an evaluation reuses the buffers of
// its intermediates instead of allocating one per instruction.
//
// Drawing functions attach a DrawingData block (draw kind, second and third values, integer
// fields, text ...) which the evaluator copies into the output line when it assembles the
// result; plain lines leave it null.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <vector>

namespace tessaro {

// |x| <= 0.000001 counts as zero (false) in every logical test.
inline constexpr float kZeroTolerance = 0.000001f;
inline bool IsZero(float x) { return x >= -kZeroTolerance && x <= kZeroTolerance; }
inline bool IsTrue(float x) { return !IsZero(x); }  // NaN counts as true: it is not within the tolerance

// Value kinds: the same bit values as the registry's parameter kinds.
enum ValueKind : uint16_t {
    kValueEmpty = 0,   // nothing (an uninitialised slot)
    kValueSeries = 1,
    kValueNumber = 2,
    kValueString = 4,
};
inline constexpr uint8_t kValueHidden = 1;  // flags bit 0: a parameter or a ':=' result, never output
// flags bit 1: the column is lent by the evaluator (a statement's points pushed again). A
// function reads a borrowed argument but never takes its column over, writes it or recycles it;
// the evaluator takes the column back after the call.
inline constexpr uint8_t kValueBorrowed = 2;

// An argument of kind `kind` may stand at a position with kind mask `mask`. A constant number
// is also accepted where only a series is allowed: the functions broadcast it to a series.
inline bool ArgumentKindAllowed(uint8_t mask, uint16_t kind) {
    if (kind == kValueNumber && (mask & kValueSeries)) return true;
    return kind != kValueEmpty && (mask & kind) != 0;
}

// Truncates a parameter N to an integer without undefined conversions: NaN gives 0 and
// values beyond +-2^30 are clamped, so later index arithmetic in int64 cannot overflow.
inline constexpr int kMaxParamN = 1 << 30;
inline int ClampN(double n) {
    if (!(n == n)) return 0;  // NaN
    if (n >= kMaxParamN) return kMaxParamN;
    if (n <= -kMaxParamN) return -kMaxParamN;
    return static_cast<int>(n);  // truncation towards zero
}

// Per-line extras filled only by the drawing functions.
struct DrawingData {
    uint8_t drawKind = 0;        // 100 icon, 101 text, 102 polyline, 103 straight line, ...
    uint8_t iconNumber = 0;
    std::string text;            // kind 101, GBK
    uint8_t textPlacement = 0;   // 0 bar and price, 1 absolute pixels, 2 per-mille of the pane
    int8_t extension = 0;        // kind 103: > 0 extend right, < 0 extend left
    uint8_t iconFill = 0;
    bool hasBase = false;
    float baseValue = 0;
    int32_t arcX = 0, arcY = 0, arcRadius = 0;
    std::vector<float> value2, value3;  // per point, empty when unused
    std::vector<int32_t> int1, int2;
};

class ColumnPool;

struct FormulaValue {
    uint16_t kind = kValueEmpty;
    uint8_t flags = 0;
    float number = 0;                 // kValueNumber
    std::string text;                 // kValueString (GBK)
    int32_t begin = 0;                // kValueSeries: first valid point (may exceed count: no valid points)
    int32_t count = 0;                // kValueSeries: points (= bars of the evaluated series)
    std::vector<float> values;        // kValueSeries: `count` points
    std::unique_ptr<DrawingData> drawing;

    FormulaValue() = default;
    FormulaValue(FormulaValue&&) noexcept = default;
    FormulaValue& operator=(FormulaValue&&) noexcept = default;
    // Deep copy (slot pushes, formula references): duplicates the points and drawing data.
    FormulaValue Clone() const;

    static FormulaValue Number(float v);
    static FormulaValue String(std::string gbk);
    // A series of `count` points, all unset (zero), beginning at `begin`.
    static FormulaValue MakeSeries(int32_t count, int32_t begin, ColumnPool* pool = nullptr);
    // A series the caller fills: it writes every point from `begin` to `count`. Only the points
    // before `begin` are zeroed here; a recycled column holds stale values until written.
    static FormulaValue MakeSeriesToFill(int32_t count, int32_t begin, ColumnPool* pool = nullptr);
    // A series with no valid points (begin = count).
    static FormulaValue EmptySeries(int32_t count, ColumnPool* pool = nullptr);

    bool isSeries() const { return kind == kValueSeries; }
    bool isNumber() const { return kind == kValueNumber; }
    bool isString() const { return kind == kValueString; }
    bool hidden() const { return flags & kValueHidden; }
    // Number of valid points.
    int32_t validCount() const { return begin < count ? count - begin : 0; }
    bool valid(int32_t i) const { return i >= begin && i < count; }
    float* data() { return values.data(); }
    const float* data() const { return values.data(); }
};

// A free list of float columns. Released columns keep their capacity and are handed out
// again; one pool serves one evaluation (not thread-safe: an evaluator is used by one thread).
class ColumnPool {
public:
    // A column of exactly n points, zero-filled.
    std::vector<float> Acquire(size_t n);
    // A column of exactly n points of which only the first `zeroed` are zero: the caller
    // writes the rest. Saves a pass over memory for functions that write every valid point.
    std::vector<float> AcquireToFill(size_t n, size_t zeroed);
    // Gives a column (of any value) back for reuse.
    void Release(std::vector<float>&& column);
    // Gives a value's column back and leaves the value empty.
    void Recycle(FormulaValue& value);
    size_t FreeColumns() const { return free_.size(); }

private:
    std::vector<std::vector<float>> free_;
};

}  // namespace tessaro
