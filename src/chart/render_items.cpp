#include "chart/render_items.h"

#include <algorithm>
#include <cmath>

#include "platform/text.h"

namespace tessaro::chart {
namespace {

constexpr float kZero = 0.00001f;

bool IsTrue(float v) { return std::isfinite(v) && std::fabs(v) > kZero; }

// Which values of a drawing line are prices: those count for the range and get mapped.
enum class Uses { kValue, kPriceWhenTrue, kPrice, kBothPrices, kNone };

Uses UsesOf(int kind, uint8_t textMode) {
    switch (kind) {
        case kKindIcon: return Uses::kPriceWhenTrue;
        case kKindText: return textMode == 0 ? Uses::kPriceWhenTrue : Uses::kNone;
        case kKindPolyline: return Uses::kPriceWhenTrue;
        case kKindPartLine: return Uses::kPrice;
        case kKindDrawLine: return Uses::kBothPrices;
        case kKindStickLine: return Uses::kBothPrices;
        case kKindFloatArc: return Uses::kNone;
        default: return Uses::kValue;
    }
}

// Covered bars: visible bars from the line's first valid bar to its end.
void Cover(int begin, int end, const BuildContext& ctx, int& from, int& to) {
    const int first = ctx.firstVisible;
    from = std::max(first, begin);
    to = std::min(first + ctx.scale->shown, end);
    if (to < from) to = from;
}

void StartItem(RenderItem& item, int from, int to, int stride, const BuildContext& ctx) {
    item.firstBar = from - ctx.firstVisible;
    item.barCount = to - from;
    item.stride = stride;
    item.flags.assign(static_cast<size_t>(item.barCount), 0);
    item.coords.assign(static_cast<size_t>(item.barCount) * static_cast<size_t>(stride), 0);
    item.background = ctx.scheme->colors[kColorBackground];
    item.emptyOver = ctx.emptyOver;
}

bool InFuture(const BuildContext& ctx, StoreTime t) {
    return ctx.serverTime != 0 && static_cast<uint64_t>(t) > static_cast<uint64_t>(ctx.serverTime) + 259200u;
}

bool KLineRising(const Series& s, int index, bool firstShown) {
    const KLineRecord& b = s.bars[static_cast<size_t>(index)];
    if (b.close > b.open) return true;
    if (b.close < b.open) return false;
    if (firstShown || index == 0) return true;
    return b.close >= s.bars[static_cast<size_t>(index) - 1].close;
}

void Stroke(DisplayList& list, Point p, ColorRef c, int width, PenStyle style) {
    list.Line({p.x - 2, p.y}, p, c, width, style);
}

// A box between two corners given in any order, covering both (inclusive) pixels.
Rect BoxOf(int x1, int y1, int x2, int y2) {
    return {std::min(x1, x2), std::min(y1, y2), std::max(x1, x2) + 1, std::max(y1, y2) + 1};
}

}  // namespace

bool LineRange(const OutputLine& line, int firstVisible, int shown, ValueRange& out) {
    const int from = std::max(firstVisible, line.begin);
    const int to = std::min({firstVisible + shown, line.count, static_cast<int>(line.points.size())});
    const Uses uses = UsesOf(line.drawKind, line.textPlacement);
    if (uses == Uses::kNone) return false;
    float hi = -INFINITY, lo = INFINITY;
    auto take = [&](float v) {
        if (!std::isfinite(v)) return;
        hi = std::max(hi, v);
        lo = std::min(lo, v);
    };
    for (int i = from; i < to; ++i) {
        const LinePoint& p = line.points[static_cast<size_t>(i)];
        switch (uses) {
            case Uses::kValue: take(p.value); break;
            case Uses::kPriceWhenTrue: if (IsTrue(p.value)) take(p.value2); break;
            case Uses::kPrice: take(p.value2); break;
            case Uses::kBothPrices:
                if (line.drawKind == kKindDrawLine || IsTrue(p.value)) {
                    if (line.drawKind == kKindDrawLine && !IsTrue(p.value)) break;
                    take(p.value2);
                    take(p.value3);
                }
                break;
            case Uses::kNone: break;
        }
    }
    if (!(hi >= lo)) return false;
    // Sticks and bars reach down (or up) to zero: zero is in their range.
    switch (line.drawKind) {
        case kKindStick: case kKindColorStick: case kKindVolStick: case kKindLineStick: case kKindSolidPole:
        case kKindPole:
            hi = std::max(hi, 0.0f);
            lo = std::min(lo, 0.0f);
            break;
        default: break;
    }
    out = {hi, lo};
    return true;
}

bool SeriesRange(const Series& series, int firstVisible, int shown, ValueRange& out) {
    const int from = std::max(firstVisible, 0);
    const int to = std::min(firstVisible + shown, static_cast<int>(series.size()));
    float hi = -INFINITY, lo = INFINITY;
    for (int i = from; i < to; ++i) {
        const KLineRecord& b = series.bars[static_cast<size_t>(i)];
        if (std::isfinite(b.high)) hi = std::max(hi, b.high);
        if (std::isfinite(b.low)) lo = std::min(lo, b.low);
    }
    if (!(hi >= lo)) return false;
    out = {hi, lo};
    return true;
}

RenderItem BuildLineItem(const OutputLine& line, const OutputLineDesc* desc, int lineIndex,
                         std::string_view formulaName, const BuildContext& ctx) {
    RenderItem item;
    item.kind = line.drawKind == kDrawNotSet ? static_cast<int16_t>(kKindLine) : static_cast<int16_t>(line.drawKind);
    // Only the chart's own K-line items are candles or US bars; any other number an output line
    // may carry (a trading signal's 100 + n) outside the known kinds draws as a line.
    if ((item.kind > kKindPole && item.kind < kKindIcon) || item.kind == kKindCandles || item.kind == kKindUsBars ||
        item.kind > kKindUsBars)
        item.kind = kKindLine;
    const ColorScheme& scheme = *ctx.scheme;
    const int width = desc ? desc->width() : 0;
    item.penWidth = static_cast<uint16_t>(width);
    if (desc && desc->hasColour()) {
        item.colour = item.rise = item.fall = desc->colour & 0xFFFFFF;
    } else {
        const int n = formulaName == "TENDV" ? 2 : lineIndex + 1;
        item.colour = scheme.colors[IndicatorColor(n)];
        item.rise = scheme.colors[kColorRising];
        item.fall = scheme.colors[kColorFalling];
    }
    const HScale& h = *ctx.scale;
    const ValueMap& map = *ctx.map;
    int from, to;
    Cover(line.begin, std::min(line.count, static_cast<int>(line.points.size())), ctx, from, to);
    auto point = [&](int i) { return line.points[static_cast<size_t>(i)]; };
    auto x = [&](int i) { return h.CentrePixel(i - ctx.firstVisible); };
    const int y0 = map.Y(0);

    switch (item.kind) {
        case kKindIcon:
        case kKindText:
        case kKindPolyline:
        case kKindPartLine: {
            StartItem(item, from, to, 2, ctx);
            item.iconType = line.iconNumber;
            item.hollow = line.iconFill == 0;
            item.text = GbkToUtf8(line.text);
            item.textMode = line.textPlacement;
            item.textHeight = width > 1 ? 2 * width : ctx.cy;
            if (item.kind == kKindPartLine) item.colours.assign(static_cast<size_t>(item.barCount), item.colour);
            for (int i = from; i < to; ++i) {
                const int k = i - from;
                const LinePoint& p = point(i);
                int32_t* c = item.coords.data() + 2 * k;
                const bool absolute = item.kind == kKindText && item.textMode != 0;
                const bool drawable = item.kind == kKindPartLine ? std::isfinite(p.value2)
                                      : absolute ? std::isfinite(p.value) && std::isfinite(p.value2)
                                                 : IsTrue(p.value) && std::isfinite(p.value2);
                if (!drawable) {
                    item.flags[k] = kBarSkip;
                    continue;
                }
                if (absolute) {
                    // X and Y as given: pixels or per mille of the pane, resolved when drawn.
                    c[0] = static_cast<int32_t>(std::clamp(p.value, -1e7f, 1e7f));
                    c[1] = static_cast<int32_t>(std::clamp(p.value2, -1e7f, 1e7f));
                } else {
                    c[0] = x(i);
                    c[1] = map.Y(p.value2);
                }
                if (item.kind == kKindPartLine) {
                    const uint32_t colour = static_cast<uint32_t>(p.int1);
                    item.colours[static_cast<size_t>(k)] = colour & 0xFFFFFF;
                }
            }
            // Absolute and relative texts are written once, at the last drawable bar.
            if (item.kind == kKindText && item.textMode != 0)
                for (int k = item.barCount - 2; k >= 0; --k) item.flags[static_cast<size_t>(k)] = kBarSkip;
            break;
        }
        case kKindDrawLine: {
            StartItem(item, from, to, 4, ctx);
            item.extension = line.extension;
            for (int i = from; i < to; ++i) {
                const int k = i - from;
                const LinePoint& p = point(i);
                // The end bar of a segment records its start bar.
                if (!IsTrue(p.value) || p.int1 >= i || p.int1 < 0 || !std::isfinite(p.value2) ||
                    !std::isfinite(p.value3)) {
                    item.flags[k] = kBarSkip;
                    continue;
                }
                int32_t* c = item.coords.data() + 4 * k;
                c[0] = RoundPixel(h.Centre(p.int1 - ctx.firstVisible));
                c[1] = map.Y(p.value2);
                c[2] = x(i);
                c[3] = map.Y(p.value3);
            }
            break;
        }
        case kKindStickLine: {
            StartItem(item, from, to, 4, ctx);
            const float spacing = h.pitch + h.gap;
            for (int i = from; i < to; ++i) {
                const int k = i - from;
                const LinePoint& p = point(i);
                if (!IsTrue(p.value) || !std::isfinite(p.value2) || !std::isfinite(p.value3)) {
                    item.flags[k] = kBarSkip;
                    continue;
                }
                const uint32_t word = static_cast<uint32_t>(p.int1);
                const float w = static_cast<float>(std::min<uint32_t>(word & 0x7FFFFFFFu, 100000));
                const int half = static_cast<int>(spacing * w * 0.05f);
                const int shift = static_cast<int>(std::clamp(spacing * static_cast<float>(p.int2) * 0.0005f, -1e6f, 1e6f));
                if (word & 0x80000000u) item.flags[k] |= kBarHollow;
                int32_t* c = item.coords.data() + 4 * k;
                c[0] = x(i) + shift - half;
                c[1] = map.Y(p.value2);
                c[2] = x(i) + shift + half;
                c[3] = map.Y(p.value3);
            }
            break;
        }
        case kKindFloatArc: {
            StartItem(item, from, to, 2, ctx);
            const int bar = ctx.cursorBar >= 0 ? ctx.firstVisible + ctx.cursorBar : to - 1;
            if (bar >= from && bar < to && IsTrue(point(bar).value)) {
                const RectF& d = ctx.draw;
                item.arcShown = true;
                item.arcX = d.left + d.width() * static_cast<float>(line.arcX) / 1000;
                item.arcY = d.top + d.height() * static_cast<float>(line.arcY) / 1000;
                item.arcRadius = d.height() * static_cast<float>(line.arcRadius) / 1000;
                const float price = point(bar).value2;
                item.arcPrice = std::isfinite(price) ? std::clamp(price, 0.0f, 100.0f) : 0;
            }
            break;
        }
        case kKindStick:
        case kKindLineStick:
        case kKindColorStick:
        case kKindVolStick:
        case kKindSolidPole:
        case kKindPole: {
            StartItem(item, from, to, 4, ctx);
            const bool box = item.kind != kKindStick && item.kind != kKindLineStick;
            int half = h.HalfBody();
            if (item.kind == kKindColorStick) {
                half = RoundPixel(h.pitch * static_cast<float>(width) * 0.1f);
                item.penWidth = 0;
            }
            const float reference = line.hasBase ? line.baseValue : 0;
            for (int i = from; i < to; ++i) {
                const int k = i - from;
                const float v = point(i).value;
                if (!std::isfinite(v) ||
                    ((item.kind == kKindVolStick || item.kind == kKindSolidPole || item.kind == kKindPole) &&
                     std::fabs(v) <= kZero)) {
                    item.flags[k] = kBarSkip;
                    continue;
                }
                int32_t* c = item.coords.data() + 4 * k;
                const int cx = x(i);
                c[0] = box ? cx - half : cx;
                c[1] = map.Y(v);
                c[2] = box ? cx + half : cx;
                c[3] = y0;
                if (item.kind == kKindColorStick && v >= reference) item.flags[k] |= kBarRising;
                if (item.kind == kKindVolStick && ctx.series && i < static_cast<int>(ctx.series->size()) &&
                    KLineRising(*ctx.series, i, i == ctx.firstVisible))
                    item.flags[k] |= kBarRising;
            }
            break;
        }
        default: {  // point kinds 1, 6, 7, 8, 9, 10, 108
            StartItem(item, from, to, 2, ctx);
            float prev = NAN;
            for (int i = from; i < to; ++i) {
                const int k = i - from;
                const float v = point(i).value;
                if (!std::isfinite(v)) {
                    item.flags[k] = kBarSkip;
                    continue;
                }
                int32_t* c = item.coords.data() + 2 * k;
                c[0] = x(i);
                c[1] = map.Y(v);
                if (item.kind == kKindTickCrosses && !(v < prev)) item.flags[k] |= kBarRising;
                prev = v;
            }
            break;
        }
    }
    return item;
}

RenderItem BuildKLineItem(const Series& series, int16_t kind, const BuildContext& ctx, bool overlay,
                          ColorRef itemColour) {
    RenderItem item;
    item.kind = kind;
    const ColorScheme& scheme = *ctx.scheme;
    item.rise = scheme.colors[kColorRising];
    item.fall = scheme.colors[kColorFalling];
    item.colour = overlay ? itemColour : kind == kKindLine ? scheme.colors[kColorUsBar] : itemColour;
    if (kind == kKindUsBars && !overlay) item.colour = scheme.colors[kColorUsBar];
    const HScale& h = *ctx.scale;
    const ValueMap& map = *ctx.map;
    int from, to;
    Cover(0, static_cast<int>(series.size()), ctx, from, to);
    const bool point = kind == kKindLine || kind == kKindTickCrosses;
    const int stride = point ? 2 : 8;
    StartItem(item, from, to, stride, ctx);
    const int half = h.HalfBody();
    // Tick crosses: the price of the last priced tick before bar i, found once and carried on.
    float lastPriced = NAN;
    if (kind == kKindTickCrosses)
        for (int j = from - 1; j >= 0 && !std::isfinite(lastPriced); --j)
            lastPriced = series.bars[static_cast<size_t>(j)].close;
    for (int i = from; i < to; ++i) {
        const int k = i - from;
        const KLineRecord& b = series.bars[static_cast<size_t>(i)];
        const float prev = lastPriced;
        if (std::isfinite(b.close)) lastPriced = b.close;
        if (InFuture(ctx, b.time) || !std::isfinite(b.open) || !std::isfinite(b.high) || !std::isfinite(b.low) ||
            !std::isfinite(b.close)) {
            item.flags[k] = kBarSkip;
            continue;
        }
        int32_t* c = item.coords.data() + static_cast<size_t>(k) * static_cast<size_t>(stride);
        const int x = h.CentrePixel(i - ctx.firstVisible);
        if (point) {
            c[0] = x;
            c[1] = map.Y(b.close);
            // A tick's cross rises when its price is not below the last priced tick before it.
            if (kind == kKindTickCrosses && !(b.close < prev)) item.flags[k] = kBarRising;
            continue;
        }
        // Shadow (or the US bar's vertical line), then the body's corners (or the two ticks).
        c[0] = x;
        c[1] = map.Y(b.high);
        c[2] = x;
        c[3] = map.Y(b.low);
        c[4] = x - half;
        c[5] = map.Y(b.open);
        c[6] = x + half;
        c[7] = map.Y(b.close);
        uint16_t f = KLineRising(series, i, i == ctx.firstVisible) ? kBarRising : 0;
        if (overlay) f |= kBarOwnColour | kBarHollow;
        else if ((f & kBarRising) && ctx.emptyOver) f |= kBarHollow;
        item.flags[k] = f;
    }
    return item;
}

// ---- Drawing -----------------------------------------------------------------------------

namespace {

void DrawPoints(const RenderItem& item, DisplayList& list) {
    const PenStyle style = item.kind == kKindDash ? PenStyle::kDot : PenStyle::kSolid;
    std::vector<Point> run;
    auto flush = [&] {
        if (run.size() >= 2) list.Polyline(run.data(), run.size(), item.colour, item.penWidth, style);
        else if (run.size() == 1) Stroke(list, run[0], item.colour, item.penWidth, style);
        run.clear();
    };
    for (int k = 0; k < item.barCount; ++k) {
        if (!item.drawable(k)) {
            flush();
            continue;
        }
        run.push_back({item.at(k)[0], item.at(k)[1]});
    }
    flush();
}

void Cross(DisplayList& list, int x, int y, int a, ColorRef c) {
    list.Line({x - a, y - a}, {x + a, y + a}, c);
    list.Line({x - a, y + a - 1}, {x + a, y - a - 1}, c);
}

// `symbolFill`: the brush of the colour K-line symbol (101); every other icon fills with its pen.
void DrawIcon(DisplayList& list, int type, int a, int b, ColorRef colour, bool hollow, ColorRef symbolFill) {
    auto poly = [&](std::initializer_list<Point> pts, ColorRef fill) {
        list.Polygon(pts.begin(), pts.size(), colour, !hollow, fill);
    };
    switch (type) {
        case 0: list.Ellipse({a - 3, b - 3, a + 4, b + 4}, colour, !hollow, colour); break;
        case 1: list.Rectangle({a - 3, b - 3, a + 4, b + 4}, colour, !hollow, colour); break;
        case 2: poly({{a, b}, {a - 4, b + 6}, {a + 4, b + 6}, {a, b}}, colour); break;
        case 3: poly({{a, b}, {a - 4, b - 6}, {a + 4, b - 6}, {a, b}}, colour); break;
        case 4:
            poly({{a, b}, {a - 5, b + 5}, {a - 2, b + 5}, {a - 2, b + 10}, {a + 2, b + 10}, {a + 2, b + 5},
                  {a + 5, b + 5}, {a, b}}, colour);
            break;
        case 5:
            poly({{a, b}, {a - 5, b - 5}, {a - 2, b - 5}, {a - 2, b - 10}, {a + 2, b - 10}, {a + 2, b - 5},
                  {a + 5, b - 5}, {a, b}}, colour);
            break;
        case 6: poly({{a, b}, {a + 6, b + 6}, {a, b + 6}, {a, b + 10}, {a, b}}, colour); break;
        case 101:
            poly({{a, b}, {a, b + 2}, {a - 3, b + 2}, {a - 3, b + 8}, {a, b + 8}, {a, b + 10}, {a, b + 8},
                  {a + 3, b + 8}, {a + 3, b + 2}, {a, b + 2}, {a, b}},
                 symbolFill);
            break;
        default: break;
    }
}

// Where the pen and brush of a box bar come from.
void BoxColours(const RenderItem& item, uint16_t flags, ColorRef& pen, ColorRef& fill, bool& filled) {
    filled = true;
    if (flags & kBarOwnColour) {
        pen = item.colour;
        fill = item.background;
    } else if (flags & kBarRising) {
        pen = item.rise;
        fill = item.emptyOver ? item.background : item.rise;
    } else {
        pen = item.fall;
        fill = item.fall;
    }
    if (flags & kBarHollow) fill = item.background;
}

}  // namespace

namespace {

// The coordinates per bar each kind builds.
int StrideOf(int kind) {
    switch (kind) {
        case kKindStick: case kKindLineStick: case kKindColorStick: case kKindVolStick: case kKindSolidPole:
        case kKindPole: case kKindDrawLine: case kKindStickLine:
            return 4;
        case kKindCandles: case kKindUsBars: return 8;
        default: return 2;
    }
}

}  // namespace

void DrawItem(const RenderItem& item, const RectF& draw, DisplayList& list) {
    const int n = item.barCount;
    // An item whose arrays do not fit its kind draws nothing rather than read beyond them.
    if (item.stride != StrideOf(item.kind) || n < 0 || item.flags.size() != static_cast<size_t>(n) ||
        item.coords.size() != static_cast<size_t>(n) * static_cast<size_t>(item.stride))
        return;
    if (item.kind == kKindPartLine && item.colours.size() != static_cast<size_t>(n)) return;
    switch (item.kind) {
        case kKindNullLine: return;
        case kKindLine:
        case kKindDash:
            DrawPoints(item, list);
            return;
        case kKindCrossDot:
        case kKindTickCrosses: {
            const int a = item.penWidth + 2;
            for (int k = 0; k < n; ++k) {
                if (!item.drawable(k)) continue;
                ColorRef c = item.colour;
                if (item.kind == kKindTickCrosses) c = (item.flags[k] & kBarRising) ? item.rise : item.fall;
                Cross(list, item.at(k)[0], item.at(k)[1], a, c);
            }
            return;
        }
        case kKindCircleDot: {
            const int a = item.penWidth + 2;
            for (int k = 0; k < n; ++k) {
                if (!item.drawable(k)) continue;
                const int x = item.at(k)[0], y = item.at(k)[1];
                list.Ellipse({x - a, y - a, x + a + 1, y + a + 1}, item.colour, false, 0);
            }
            return;
        }
        case kKindPointDot: {
            const int w = item.penWidth;
            for (int k = 0; k < n; ++k) {
                if (!item.drawable(k)) continue;
                const int x = item.at(k)[0], y = item.at(k)[1];
                if (w == 0) list.Pixel({x, y}, item.colour);
                else list.Ellipse({x - w, y - w, x + w + 1, y + w + 1}, item.colour, true, item.colour);
            }
            return;
        }
        case kKindStick: {
            for (int k = 0; k < n; ++k) {
                if (!item.drawable(k)) continue;
                const int32_t* c = item.at(k);
                if (c[1] == c[3]) {
                    list.Pixel({c[0], c[1]}, item.colour);
                    continue;
                }
                list.Line({c[0], std::min(c[1], c[3])}, {c[0], std::max(c[1], c[3]) + 1}, item.colour, item.penWidth);
            }
            return;
        }
        case kKindLineStick: {
            Point prev{};
            bool havePrev = false;
            for (int k = 0; k < n; ++k) {
                if (!item.drawable(k)) {
                    havePrev = false;
                    continue;
                }
                const int32_t* c = item.at(k);
                const Point top{c[0], c[1]};
                const Point pts[3] = {havePrev ? prev : top, top, {c[0], c[3]}};
                list.Polyline(pts, 3, item.colour, item.penWidth);
                prev = top;
                havePrev = true;
            }
            return;
        }
        case kKindColorStick:
        case kKindVolStick:
        case kKindSolidPole:
        case kKindPole: {
            for (int k = 0; k < n; ++k) {
                if (!item.drawable(k)) continue;
                const int32_t* c = item.at(k);
                ColorRef pen, fill;
                bool filled;
                BoxColours(item, item.flags[k], pen, fill, filled);
                list.Rectangle(BoxOf(c[0], c[1], c[2], c[3]), pen, filled, fill);
            }
            return;
        }
        case kKindIcon: {
            for (int k = 0; k < n; ++k)
                if (item.drawable(k))
                    DrawIcon(list, item.iconType, item.at(k)[0], item.at(k)[1], item.colour, item.hollow, item.rise);
            return;
        }
        case kKindText: {
            const int th = item.textHeight;
            const uint8_t font = static_cast<uint8_t>(item.textHeight == 0 ? 0 : std::min(item.textHeight, 255));
            const int columns = TextColumns(item.text);
            const int tw = columns * std::max(th / 2, 1) + th;
            for (int k = 0; k < n; ++k) {
                if (!item.drawable(k)) continue;
                const int32_t* c = item.at(k);
                int x = c[0], y = c[1];
                if (item.textMode == 0) {
                    list.FillRect({x - 1, y - 1, x + 2, y + 2}, item.colour);
                    list.Text({x + 4, y - th / 2, x + 4 + tw, y - th / 2 + th}, item.text, item.colour, kAlignLeft, font);
                    continue;
                }
                if (item.textMode == 1) {
                    x = RoundPixel(draw.left + static_cast<float>(c[0]));
                    y = RoundPixel(draw.top + static_cast<float>(c[1]));
                } else {
                    x = RoundPixel(draw.left + draw.width() * static_cast<float>(c[0]) * 0.001f);
                    y = RoundPixel(draw.top + draw.height() * static_cast<float>(c[1]) * 0.001f);
                }
                list.Text({x, y, x + tw, y + th}, item.text, item.colour, kAlignLeft, font);
            }
            return;
        }
        case kKindPolyline: {
            std::vector<Point> pts;
            for (int k = 0; k < n; ++k)
                if (item.drawable(k)) pts.push_back({item.at(k)[0], item.at(k)[1]});
            if (pts.size() == 1) Stroke(list, pts[0], item.colour, item.penWidth, PenStyle::kSolid);
            else list.Polyline(pts.data(), pts.size(), item.colour, item.penWidth);
            return;
        }
        case kKindDrawLine: {
            for (int k = 0; k < n; ++k) {
                if (!item.drawable(k)) continue;
                const int32_t* c = item.at(k);
                float x1 = static_cast<float>(c[0]), y1 = static_cast<float>(c[1]);
                float x2 = static_cast<float>(c[2]), y2 = static_cast<float>(c[3]);
                if (x2 != x1 && item.extension > 0) {
                    const float right = draw.right - 1;
                    y2 = y1 + (y2 - y1) * (right - x1) / (x2 - x1);
                    x2 = right;
                } else if (x2 != x1 && item.extension < 0) {
                    const float left = draw.left + 1;
                    y1 = y2 + (y1 - y2) * (x2 - left) / (x2 - x1);
                    x1 = left;
                }
                const Point a{RoundPixel(x1), RoundPixel(y1)}, b{RoundPixel(x2), RoundPixel(y2)};
                list.Line(a, b, item.colour, item.penWidth);
                list.FillRect({c[0] - 1, c[1] - 1, c[0] + 1, c[1] + 1}, item.colour);
                list.FillRect({c[2] - 1, c[3] - 1, c[2] + 1, c[3] + 1}, item.colour);
            }
            return;
        }
        case kKindPartLine: {
            std::vector<Point> run;
            ColorRef runColour = 0;
            auto flush = [&] {
                if (run.size() >= 2) list.Polyline(run.data(), run.size(), runColour, item.penWidth);
                else if (run.size() == 1) Stroke(list, run[0], runColour, item.penWidth, PenStyle::kSolid);
                run.clear();
            };
            for (int k = 0; k < n; ++k) {
                if (!item.drawable(k)) {
                    flush();
                    continue;
                }
                const ColorRef c = item.colours[static_cast<size_t>(k)];
                const Point p{item.at(k)[0], item.at(k)[1]};
                if (!run.empty() && c != runColour) {
                    // The new colour starts where the old one ended, so the line stays joined.
                    const Point last = run.back();
                    flush();
                    run.push_back(last);
                }
                runColour = c;
                run.push_back(p);
            }
            flush();
            return;
        }
        case kKindStickLine: {
            for (int k = 0; k < n; ++k) {
                if (!item.drawable(k)) continue;
                const int32_t* c = item.at(k);
                const bool hollow = item.flags[k] & kBarHollow;
                list.Rectangle(BoxOf(c[0], c[1], c[2], c[3]), item.colour, true, hollow ? item.background : item.colour);
            }
            return;
        }
        case kKindFloatArc: {
            if (!item.arcShown) return;
            const float r = item.arcRadius;
            const Rect box{RoundPixel(item.arcX - r), RoundPixel(item.arcY - r), RoundPixel(item.arcX + r),
                           RoundPixel(item.arcY + r)};
            list.Pie(box, 90.0f, item.arcPrice * 3.6f, item.colour, item.colour);
            return;
        }
        case kKindCandles:
        case kKindUsBars: {
            for (int k = 0; k < n; ++k) {
                if (!item.drawable(k)) continue;
                const int32_t* c = item.at(k);
                ColorRef pen, fill;
                bool filled;
                BoxColours(item, item.flags[k], pen, fill, filled);
                if (item.kind == kKindUsBars) {
                    list.Line({c[0], c[1]}, {c[2], c[3] + 1}, pen);
                    list.Line({c[4], c[5]}, {c[0], c[5]}, pen);
                    list.Line({c[0], c[7]}, {c[6] + 1, c[7]}, pen);
                    continue;
                }
                list.Line({c[0], c[1]}, {c[2], c[3] + 1}, pen);
                list.Rectangle(BoxOf(c[4], c[5], c[6], c[7]), pen, filled, fill);
            }
            return;
        }
        default: return;
    }
}

}  // namespace tessaro::chart
