// The display list: what a chart picture draws, as primitives in pixel coordinates.
//
// The chart model fills it; a painter walks it (src/chart/qt/ draws it with QPainter).
// Every coordinate is an int pixel and every colour a ColorRef, so two lists compare exactly
// and the text form (ToText) reads as a golden file.
//
// Shapes follow the screen's conventions: a rectangle covers x1 <= x < x2, y1 <= y < y2 and
// its frame is drawn inside that box; a line runs from its first point up to, not including,
// its last one.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "app/color_scheme.h"

namespace tessaro::chart {

struct Point {
    int32_t x = 0, y = 0;
    friend bool operator==(const Point&, const Point&) = default;
};

struct Rect {
    int32_t left = 0, top = 0, right = 0, bottom = 0;
    int32_t width() const { return right - left; }
    int32_t height() const { return bottom - top; }
    bool empty() const { return right <= left || bottom <= top; }
    bool Intersects(const Rect& o) const {
        return left < o.right && o.left < right && top < o.bottom && o.top < bottom;
    }
    Rect United(const Rect& o) const;
    friend bool operator==(const Rect&, const Rect&) = default;
};

// A set of rectangles to repaint. Touching or overlapping rectangles are merged; beyond 32
// the region becomes its bounding box.
class Region {
public:
    void Add(const Rect& r);
    void Add(const Region& r) {
        for (const Rect& x : r.rects_) Add(x);
    }
    bool empty() const { return rects_.empty(); }
    const std::vector<Rect>& rects() const { return rects_; }
    Rect bounds() const;
    void Clear() { rects_.clear(); }

private:
    std::vector<Rect> rects_;
};

enum class PenStyle : uint8_t {
    kSolid = 0,
    kDot = 1,       // the dotted pen of DASH lines
    kSparse4 = 2,   // one pixel every 4 (grid lines)
    kSparse2 = 3,   // one pixel every 2 (the reference line of percentage mode)
    kNone = 4,      // no frame: a fill alone
};

enum class PrimitiveKind : uint8_t {
    kLine,      // points[0] .. points[1]
    kPolyline,  // the points in order
    kRect,      // box; frame in pen, fill when `filled`
    kPolygon,   // the points, closed; frame in pen, fill when `filled`
    kEllipse,   // inscribed in box; frame in pen, fill when `filled`
    kPie,       // inscribed in box: the sector from startAngle over spanAngle (degrees,
                // counter-clockwise, 0 at three o'clock), filled; frame of the circle in pen
    kText,      // text inside box, aligned by `align`
    kPixels,    // single pixels at the points (pen colour)
    kClip,      // later primitives are clipped to box; an empty box ends the clipping
};

// Text alignment bits.
enum TextAlign : uint8_t {
    kAlignLeft = 0,
    kAlignRight = 1,
    kAlignHCenter = 2,
    kAlignTop = 0,
    kAlignBottom = 4,
    kAlignVCenter = 8,
};

struct Primitive {
    PrimitiveKind kind = PrimitiveKind::kLine;
    PenStyle penStyle = PenStyle::kSolid;
    uint8_t penWidth = 0;  // 0 and 1 both draw one pixel wide
    bool filled = false;
    uint8_t align = 0;      // kText
    uint8_t font = 0;       // kText: 0 chart font, 1 big-title font, n > 1 a font n pixels high
    ColorRef pen = 0;
    ColorRef fill = 0;
    Rect box;               // kRect, kEllipse, kPie, kText
    uint32_t first = 0;     // first point (kLine, kPolyline, kPolygon, kPixels) or text index
    uint32_t count = 0;     // point count
    float startAngle = 0, spanAngle = 0;  // kPie
};

class DisplayList {
public:
    void Clear();
    bool empty() const { return items_.empty(); }
    size_t size() const { return items_.size(); }

    void Line(Point a, Point b, ColorRef pen, int width = 0, PenStyle style = PenStyle::kSolid);
    // Two or more points; fewer draw nothing.
    void Polyline(const Point* points, size_t count, ColorRef pen, int width = 0, PenStyle style = PenStyle::kSolid);
    void Polygon(const Point* points, size_t count, ColorRef pen, bool filled, ColorRef fill);
    void Rectangle(const Rect& box, ColorRef pen, bool filled, ColorRef fill, PenStyle style = PenStyle::kSolid);
    void FillRect(const Rect& box, ColorRef fill);
    void Ellipse(const Rect& box, ColorRef pen, bool filled, ColorRef fill);
    void Pie(const Rect& box, float startAngle, float spanAngle, ColorRef pen, ColorRef fill);
    // UTF-8 text.
    void Text(const Rect& box, std::string_view text, ColorRef colour, uint8_t align, uint8_t font = 0);
    void Pixel(Point p, ColorRef colour);
    void Clip(const Rect& box);
    // Every primitive of another list, in its order, after this list's.
    void Append(const DisplayList& other);

    const std::vector<Primitive>& items() const { return items_; }
    const std::vector<Point>& points() const { return points_; }
    const std::string& text(const Primitive& p) const { return texts_[p.first]; }
    const Point* pointsOf(const Primitive& p) const { return points_.data() + p.first; }

    // The bounding box of a primitive (pen width included), for painting an invalid part only.
    Rect Bounds(const Primitive& p) const;

    // One line per primitive, e.g. `rect 10,20 30,40 pen=#ff0000 fill=#000000`.
    std::string ToText() const;

private:
    Primitive& Add(PrimitiveKind kind);

    std::vector<Primitive> items_;
    std::vector<Point> points_;
    std::vector<std::string> texts_;
};

// "#rrggbb" of a ColorRef.
std::string ColorText(ColorRef c);

}  // namespace tessaro::chart
