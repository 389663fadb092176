// What an evaluation returns: one OutputLine per output-line descriptor of the formula, each
// with one point per bar.
//
// The evaluator computes on float columns and the result keeps them as columns; a 28-byte
// LinePoint record is built only when a caller reads a point.
#pragma once

#include <cstdint>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace tessaro {

// Draw kinds of an output line besides the line styles 1..12 of its descriptor.
inline constexpr uint8_t kDrawNotSet = 0;
inline constexpr uint8_t kDrawIcon = 100;
inline constexpr uint8_t kDrawText = 101;
inline constexpr uint8_t kDrawPolyline = 102;
inline constexpr uint8_t kDrawStraightLine = 103;
inline constexpr uint8_t kDrawTwoColourLine = 104;
inline constexpr uint8_t kDrawStick = 105;
inline constexpr uint8_t kDrawFloatingCircle = 106;

#pragma pack(push, 1)
// 28 bytes, one per bar. Plain lines use time and value; drawing functions fill the rest.
struct LinePoint {
    uint32_t time;   // StoreTime of the bar; 0 past the end of the series
    float value;
    float value2;
    float value3;
    int32_t int1;
    int32_t int2;
    uint8_t spare[4];
};
#pragma pack(pop)
static_assert(sizeof(LinePoint) == 28);

// The drawing fields of one point, kept only for lines drawn by drawing functions.
struct PointDrawing {
    float value2 = 0;
    float value3 = 0;
    int32_t int1 = 0;
    int32_t int2 = 0;
};

// The points of one output line, kept as columns: the bar times (one array shared by every
// line of a result), the values, and the drawing fields only for lines that have them. A
// plain line costs 4 bytes a bar instead of a 28-byte record, which is most of what assembling
// a result used to write. Reading gives whole LinePoints by value; `Edit` writes one.
class LinePoints {
public:
    using Times = std::shared_ptr<const std::vector<uint32_t>>;

    // A writable view of one point. Its fields refer into the columns.
    struct PointRef {
        float& value;
        float& value2;
        float& value3;
        int32_t& int1;
        int32_t& int2;
    };

    class const_iterator {
    public:
        using value_type = LinePoint;
        using difference_type = std::ptrdiff_t;
        const_iterator(const LinePoints* points, size_t i) : points_(points), i_(i) {}
        LinePoint operator*() const { return (*points_)[i_]; }
        const_iterator& operator++() {
            ++i_;
            return *this;
        }
        bool operator==(const const_iterator& o) const { return i_ == o.i_; }

    private:
        const LinePoints* points_;
        size_t i_;
    };

    LinePoints() = default;
    // `count` points with the given bar times (time 0 past their end) and values.
    LinePoints(Times times, std::vector<float> values) : times_(std::move(times)), values_(std::move(values)) {}

    size_t size() const { return values_.size(); }
    bool empty() const { return values_.empty(); }
    bool hasDrawing() const { return !drawing_.empty(); }

    uint32_t time(size_t i) const { return times_ && i < times_->size() ? (*times_)[i] : 0u; }
    float value(size_t i) const { return values_[i]; }
    const float* values() const { return values_.data(); }

    LinePoint operator[](size_t i) const {
        LinePoint p{time(i), values_[i], 0, 0, 0, 0, {}};
        if (!drawing_.empty()) {
            const PointDrawing& d = drawing_[i];
            p.value2 = d.value2;
            p.value3 = d.value3;
            p.int1 = d.int1;
            p.int2 = d.int2;
        }
        return p;
    }
    LinePoint back() const { return (*this)[size() - 1]; }
    const_iterator begin() const { return {this, 0}; }
    const_iterator end() const { return {this, size()}; }

    // Writing: the drawing columns are made the first time they are asked for.
    PointRef Edit(size_t i) {
        if (drawing_.size() != values_.size()) drawing_.resize(values_.size());
        PointDrawing& d = drawing_[i];
        return {values_[i], d.value2, d.value3, d.int1, d.int2};
    }
    std::vector<PointDrawing>& drawing() {
        if (drawing_.size() != values_.size()) drawing_.resize(values_.size());
        return drawing_;
    }
    // Appends a point; its time joins this line's own copy of the times.
    void push_back(const LinePoint& p);

    bool operator==(const LinePoints& o) const;

private:
    Times times_;                        // may be shorter than the line, or absent
    std::vector<float> values_;          // one per point
    std::vector<PointDrawing> drawing_;  // empty, or one per point
    bool timesOwned_ = false;            // times_ was made by push_back (not const)
};

struct OutputLine {
    uint8_t drawKind = kDrawNotSet;  // 1..12 line styles, or one of the kDraw* kinds
    int32_t begin = 0;               // first valid point
    int32_t count = 0;               // points; those at begin <= i < count are valid
    LinePoints points;               // `count` points, or none for an empty line
    uint8_t iconNumber = 0;          // kDrawIcon
    std::string text;                // kDrawText, GBK
    uint8_t textPlacement = 0;       // kDrawText: 0 bar and price, 1 absolute pixels, 2 per-mille of the pane
    int8_t extension = 0;            // kDrawStraightLine: > 0 extend right, < 0 extend left
    uint8_t iconFill = 0;            // kDrawIcon: 0 hollow, other solid
    uint8_t hasBase = 0;             // 1 when baseValue is set
    float baseValue = 0;
    int32_t arcX = 0, arcY = 0, arcRadius = 0;  // kDrawFloatingCircle

    bool empty() const { return points.empty(); }
    bool valid(int32_t i) const { return i >= begin && i < count && i < static_cast<int32_t>(points.size()); }
    int32_t validCount() const { return begin < count ? count - begin : 0; }
};

// The evaluation result, owned by the caller.
class EvalResult {
public:
    virtual ~EvalResult() = default;

    std::vector<OutputLine> lines;  // in the order of the formula's output-line descriptors

    size_t lineCount() const { return lines.size(); }
};

}  // namespace tessaro
