// Render items: one output line of an evaluated formula (or a security's K-lines) in pixel
// coordinates of the visible bars of a pane, and the drawing of each draw kind into a
// display list.
//
// Building needs the pane's value mapping and the horizontal scale (update level 3); drawing
// only the item and the pane's rectangle (level 4).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/color_scheme.h"
#include "chart/display_list.h"
#include "chart/layout.h"
#include "chart/scale.h"
#include "formula/compiled_formula.h"
#include "formula/eval_result.h"
#include "market/series.h"

namespace tessaro::chart {

enum DrawKind : int16_t {
    kKindLine = 1,
    kKindStick = 2,
    kKindColorStick = 3,
    kKindVolStick = 4,
    kKindLineStick = 5,
    kKindCrossDot = 6,
    kKindCircleDot = 7,
    kKindPointDot = 8,
    kKindDash = 9,
    kKindNullLine = 10,
    kKindSolidPole = 11,
    kKindPole = 12,
    kKindIcon = 100,
    kKindText = 101,
    kKindPolyline = 102,
    kKindDrawLine = 103,
    kKindPartLine = 104,
    kKindStickLine = 105,
    kKindFloatArc = 106,
    kKindCandles = 107,
    kKindTickCrosses = 108,
    kKindUsBars = 109,
};

// Per-bar flags.
inline constexpr uint16_t kBarSkip = 0x8000;     // do not draw this bar
inline constexpr uint16_t kBarOwnColour = 0x4000;  // draw in the item colour (overlays)
inline constexpr uint16_t kBarRising = 0x2000;
inline constexpr uint16_t kBarHollow = 0x1000;

struct RenderItem {
    int16_t kind = kKindLine;
    uint16_t penWidth = 0;
    ColorRef colour = 0;
    ColorRef background = 0;
    ColorRef rise = 0, fall = 0;
    bool emptyOver = true;    // rising bars hollow ("EmptyOver")
    int firstBar = 0;         // visible index of the first covered bar
    int barCount = 0;
    int stride = 2;           // ints per bar in coords: 2 a point, 4 a segment or box, 8 a K-line
    std::vector<uint16_t> flags;   // one per covered bar
    std::vector<int32_t> coords;   // stride ints per covered bar
    std::vector<ColorRef> colours; // kind 104: per bar
    // Icons, texts, lines, arcs.
    uint8_t iconType = 0;
    bool hollow = false;
    std::string text;          // UTF-8
    uint8_t textMode = 0;      // 0 at a price, 1 absolute pixels, 2 per mille of the pane
    int textHeight = 0;        // pixels
    int8_t extension = 0;
    float arcX = 0, arcY = 0, arcRadius = 0, arcPrice = 0;  // kind 106 (arcX/Y/radius in pixels)
    bool arcShown = false;

    bool drawable(int i) const { return (flags[static_cast<size_t>(i)] & kBarSkip) == 0; }
    const int32_t* at(int i) const { return coords.data() + static_cast<size_t>(i) * static_cast<size_t>(stride); }
};

// What building an item needs of its pane and picture.
struct BuildContext {
    const HScale* scale = nullptr;
    const ValueMap* map = nullptr;
    int firstVisible = 0;       // series index of visible bar 0
    RectF draw;                 // the pane's drawing rectangle
    const ColorScheme* scheme = nullptr;
    bool emptyOver = true;
    int cy = 14;                // chart font height
    StoreTime serverTime = 0;   // 0: no bar lies in the future
    const Series* series = nullptr;  // the picture's main series (VOLSTICK, K-lines)
    int cursorBar = -1;         // visible bar of the crosshair in this picture, or -1
};

// The item of output line `lineIndex` of a formula whose descriptor is `desc` (null: none).
// `formulaName` picks the exceptions of the colour rule ("TENDV").
RenderItem BuildLineItem(const OutputLine& line, const OutputLineDesc* desc, int lineIndex,
                         std::string_view formulaName, const BuildContext& ctx);

// The K-line item of a series: kind 107 candles ("K"), 109 US bars ("BAR"), 1, the price line
// ("PRICE"), or 108, a cross per tick, rising or falling against the tick before it.
// `overlay` draws every bar in `itemColour`.
RenderItem BuildKLineItem(const Series& series, int16_t kind, const BuildContext& ctx, bool overlay = false,
                          ColorRef itemColour = 0);

// The value range of an output line over the visible bars (the values that count for the
// pane); false when it has no finite value there.
bool LineRange(const OutputLine& line, int firstVisible, int shown, ValueRange& out);
// The same over the highs and lows of a series.
bool SeriesRange(const Series& series, int firstVisible, int shown, ValueRange& out);

// Draws an item into the list; `draw` is the pane's drawing rectangle.
void DrawItem(const RenderItem& item, const RectF& draw, DisplayList& list);

}  // namespace tessaro::chart
