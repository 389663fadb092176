#include "chart/display_list.h"

#include <algorithm>
#include <cstdio>

namespace tessaro::chart {

Rect Rect::United(const Rect& o) const {
    if (empty()) return o;
    if (o.empty()) return *this;
    return {std::min(left, o.left), std::min(top, o.top), std::max(right, o.right), std::max(bottom, o.bottom)};
}

void Region::Add(const Rect& in) {
    if (in.empty()) return;
    Rect r = in;
    // Merge with every rectangle it touches, until none is left.
    for (bool merged = true; merged;) {
        merged = false;
        for (size_t i = 0; i < rects_.size(); ++i) {
            const Rect& o = rects_[i];
            if (r.left <= o.right && o.left <= r.right && r.top <= o.bottom && o.top <= r.bottom) {
                r = r.United(o);
                rects_.erase(rects_.begin() + static_cast<std::ptrdiff_t>(i));
                merged = true;
                break;
            }
        }
    }
    rects_.push_back(r);
    if (rects_.size() > 32) {
        const Rect b = bounds();
        rects_.assign(1, b);
    }
}

Rect Region::bounds() const {
    Rect b;
    for (const Rect& r : rects_) b = b.United(r);
    return b;
}

void DisplayList::Clear() {
    items_.clear();
    points_.clear();
    texts_.clear();
}

void DisplayList::Append(const DisplayList& other) {
    for (Primitive p : other.items_) {
        if (p.kind == PrimitiveKind::kText) {
            texts_.push_back(other.text(p));
            p.first = static_cast<uint32_t>(texts_.size() - 1);
        } else if (p.count > 0) {
            const Point* from = other.pointsOf(p);
            p.first = static_cast<uint32_t>(points_.size());
            points_.insert(points_.end(), from, from + p.count);
        }
        items_.push_back(p);
    }
}

Primitive& DisplayList::Add(PrimitiveKind kind) {
    Primitive& p = items_.emplace_back();
    p.kind = kind;
    return p;
}

void DisplayList::Line(Point a, Point b, ColorRef pen, int width, PenStyle style) {
    Primitive& p = Add(PrimitiveKind::kLine);
    p.pen = pen;
    p.penWidth = static_cast<uint8_t>(std::clamp(width, 0, 255));
    p.penStyle = style;
    p.first = static_cast<uint32_t>(points_.size());
    p.count = 2;
    points_.push_back(a);
    points_.push_back(b);
}

void DisplayList::Polyline(const Point* points, size_t count, ColorRef pen, int width, PenStyle style) {
    if (count < 2) return;
    Primitive& p = Add(PrimitiveKind::kPolyline);
    p.pen = pen;
    p.penWidth = static_cast<uint8_t>(std::clamp(width, 0, 255));
    p.penStyle = style;
    p.first = static_cast<uint32_t>(points_.size());
    p.count = static_cast<uint32_t>(count);
    points_.insert(points_.end(), points, points + count);
}

void DisplayList::Polygon(const Point* points, size_t count, ColorRef pen, bool filled, ColorRef fill) {
    if (count < 2) return;
    Primitive& p = Add(PrimitiveKind::kPolygon);
    p.pen = pen;
    p.filled = filled;
    p.fill = fill;
    p.first = static_cast<uint32_t>(points_.size());
    p.count = static_cast<uint32_t>(count);
    points_.insert(points_.end(), points, points + count);
}

void DisplayList::Rectangle(const Rect& box, ColorRef pen, bool filled, ColorRef fill, PenStyle style) {
    Primitive& p = Add(PrimitiveKind::kRect);
    p.box = box;
    p.pen = pen;
    p.penStyle = style;
    p.filled = filled;
    p.fill = fill;
}

void DisplayList::FillRect(const Rect& box, ColorRef fill) { Rectangle(box, fill, true, fill, PenStyle::kNone); }

void DisplayList::Ellipse(const Rect& box, ColorRef pen, bool filled, ColorRef fill) {
    Primitive& p = Add(PrimitiveKind::kEllipse);
    p.box = box;
    p.pen = pen;
    p.filled = filled;
    p.fill = fill;
}

void DisplayList::Pie(const Rect& box, float startAngle, float spanAngle, ColorRef pen, ColorRef fill) {
    Primitive& p = Add(PrimitiveKind::kPie);
    p.box = box;
    p.pen = pen;
    p.filled = true;
    p.fill = fill;
    p.startAngle = startAngle;
    p.spanAngle = spanAngle;
}

void DisplayList::Text(const Rect& box, std::string_view text, ColorRef colour, uint8_t align, uint8_t font) {
    if (text.empty()) return;
    Primitive& p = Add(PrimitiveKind::kText);
    p.box = box;
    p.pen = colour;
    p.align = align;
    p.font = font;
    p.first = static_cast<uint32_t>(texts_.size());
    texts_.emplace_back(text);
}

void DisplayList::Pixel(Point at, ColorRef colour) {
    // Consecutive pixels of one colour share a primitive.
    if (!items_.empty() && items_.back().kind == PrimitiveKind::kPixels && items_.back().pen == colour) {
        points_.push_back(at);
        ++items_.back().count;
        return;
    }
    Primitive& p = Add(PrimitiveKind::kPixels);
    p.pen = colour;
    p.first = static_cast<uint32_t>(points_.size());
    p.count = 1;
    points_.push_back(at);
}

void DisplayList::Clip(const Rect& box) {
    Primitive& p = Add(PrimitiveKind::kClip);
    p.box = box;
    p.penStyle = PenStyle::kNone;
}

Rect DisplayList::Bounds(const Primitive& p) const {
    switch (p.kind) {
        case PrimitiveKind::kRect:
        case PrimitiveKind::kEllipse:
        case PrimitiveKind::kPie:
        case PrimitiveKind::kText:
            if (p.kind == PrimitiveKind::kText && p.font > 1)  // a text may be taller than its box
                return {p.box.left - 1, p.box.top - p.font, p.box.right + 2 * p.font, p.box.bottom + p.font};
            return {p.box.left - 1, p.box.top - 1, p.box.right + 1, p.box.bottom + 1};
        case PrimitiveKind::kClip: return {};
        default: break;
    }
    if (p.count == 0) return {};
    const Point* pts = pointsOf(p);
    Rect r{pts[0].x, pts[0].y, pts[0].x, pts[0].y};
    for (uint32_t i = 1; i < p.count; ++i) {
        r.left = std::min(r.left, pts[i].x);
        r.top = std::min(r.top, pts[i].y);
        r.right = std::max(r.right, pts[i].x);
        r.bottom = std::max(r.bottom, pts[i].y);
    }
    const int32_t w = p.penWidth / 2 + 1;
    return {r.left - w, r.top - w, r.right + w + 1, r.bottom + w + 1};
}

std::string ColorText(ColorRef c) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "#%02x%02x%02x", c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF);
    return buf;
}

namespace {

const char* StyleText(PenStyle s) {
    switch (s) {
        case PenStyle::kSolid: return "";
        case PenStyle::kDot: return " dot";
        case PenStyle::kSparse4: return " sparse4";
        case PenStyle::kSparse2: return " sparse2";
        case PenStyle::kNone: return " noframe";
    }
    return "";
}

void Box(std::string& out, const Rect& r) {
    char buf[64];
    std::snprintf(buf, sizeof buf, " %d,%d %d,%d", r.left, r.top, r.right, r.bottom);
    out += buf;
}

}  // namespace

std::string DisplayList::ToText() const {
    std::string out;
    char buf[96];
    for (const Primitive& p : items_) {
        switch (p.kind) {
            case PrimitiveKind::kLine: out += "line"; break;
            case PrimitiveKind::kPolyline: out += "polyline"; break;
            case PrimitiveKind::kRect: out += "rect"; break;
            case PrimitiveKind::kPolygon: out += "polygon"; break;
            case PrimitiveKind::kEllipse: out += "ellipse"; break;
            case PrimitiveKind::kPie: out += "pie"; break;
            case PrimitiveKind::kText: out += "text"; break;
            case PrimitiveKind::kPixels: out += "pixels"; break;
            case PrimitiveKind::kClip:
                if (p.box.empty()) {
                    out += "noclip\n";
                } else {
                    out += "clip";
                    Box(out, p.box);
                    out += '\n';
                }
                continue;
        }
        switch (p.kind) {
            case PrimitiveKind::kLine:
            case PrimitiveKind::kPolyline:
            case PrimitiveKind::kPolygon:
            case PrimitiveKind::kPixels: {
                const Point* pts = pointsOf(p);
                for (uint32_t i = 0; i < p.count; ++i) {
                    std::snprintf(buf, sizeof buf, " %d,%d", pts[i].x, pts[i].y);
                    out += buf;
                }
                break;
            }
            default: Box(out, p.box); break;
        }
        if (p.kind == PrimitiveKind::kText) {
            const char* h = (p.align & kAlignRight) ? "right" : (p.align & kAlignHCenter) ? "hcenter" : "left";
            const char* v = (p.align & kAlignBottom) ? "bottom" : (p.align & kAlignVCenter) ? "vcenter" : "top";
            std::snprintf(buf, sizeof buf, " %s|%s font=%d ", h, v, p.font);
            out += buf;
            out += ColorText(p.pen);
            out += " \"" + text(p) + "\"\n";
            continue;
        }
        if (p.penStyle != PenStyle::kNone) out += " pen=" + ColorText(p.pen);
        if (p.penWidth > 1) out += " w=" + std::to_string(p.penWidth);
        out += StyleText(p.penStyle);
        if (p.filled) out += " fill=" + ColorText(p.fill);
        if (p.kind == PrimitiveKind::kPie) {
            std::snprintf(buf, sizeof buf, " from=%g span=%g", p.startAngle, p.spanAngle);
            out += buf;
        }
        out += '\n';
    }
    return out;
}

}  // namespace tessaro::chart
