// What an evaluation returns: one OutputLine per output-line descriptor of the formula, each
// a per-bar array of LinePoints.
//
// The evaluator computes on float columns; LinePoint records are built only here, when the
// result is assembled, so that intermediates never carry the 28-byte points.
#pragma once

#include <cstdint>
#include <memory>
#include <new>
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

// Leaves trivially constructible elements uninitialised on resize: the assembly writes every
// field of every point, and zero-filling hundreds of kilobytes first would double the work.
template <class T>
struct UninitialisedAllocator : std::allocator<T> {
    template <class U>
    struct rebind {
        using other = UninitialisedAllocator<U>;
    };
    UninitialisedAllocator() = default;
    template <class U>
    UninitialisedAllocator(const UninitialisedAllocator<U>&) noexcept {}
    template <class U>
    void construct(U* p) noexcept {
        ::new (static_cast<void*>(p)) U;
    }
    template <class U, class... Args>
    void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
};
using LinePoints = std::vector<LinePoint, UninitialisedAllocator<LinePoint>>;

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
