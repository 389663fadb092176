// The chart's cursor model: hit-testing a mouse point against pictures, panes, titles and
// lines, the crosshair with its bar and its two tags, the rows of the data window, and the
// keyboard's cursor steps. Everything here is plain arithmetic over the view's layout; the
// window draws what it says.
#pragma once

#include <array>
#include <string>

#include "chart/chart_view.h"

namespace tessaro::chart {

// What lies under a point.
enum HitKind : int {
    kHitNone = 0,
    kHitIndicator = 1,   // an indicator's name in a title strip
    kHitPane = 2,        // inside a pane (see the part)
    kHitTimeAxis = 4,    // the time-axis strip under the last pane
    kHitAxisBox = 8,     // the box under the right price axis
    kHitInfoPanel = 16,
    kHitDivider = 32,    // between two panes
};

enum PanePart : int { kPartNone = -1, kPartLeftAxis = 0, kPartTitle = 1, kPartRightAxis = 2, kPartBottom = 3, kPartDraw = 4 };

inline constexpr int kDividerTolerance = 3;  // pixels either side of a pane boundary
inline constexpr int kLineTolerance = 3;     // pixels from a line's value at the bar

struct HitInfo {
    int x = 0, y = 0;
    int picture = -1;
    int kind = kHitNone;
    int pane = -1;    // for a divider: the pane above it
    int bar = -1;     // relative to the first visible bar, -1 when none is shown
    int part = kPartNone;
    int slot = -1;    // the indicator slot (kHitIndicator, or a line near the point)
    int line = -1;    // the output line near the point
    bool kline = false;  // the point lies on the main security's K-line bar
};

// Hit-tests a point against every picture of the view: the strip and the box below the last
// pane, indicator names in the title strips, dividers, then the inside of a pane with its bar
// and the line or K-line under the point.
HitInfo HitTest(const ChartView& view, int x, int y);

// The output line of a pane's indicators whose value at visible bar `bar` maps within
// `tolerance` pixels of y; slot and line are -1 when none does.
void LineNear(const GraphPicture& p, int pane, int bar, int y, int tolerance, int& slot, int& line);

// ---- The crosshair -------------------------------------------------------------------

struct Crosshair {
    bool on = false;
    int picture = 0;
    int bar = -1;   // absolute index into the picture's series
    int x = 0, y = 0;
};

// Moves the crosshair to a point of the view: the picture under it, the bar under x (clamped to
// the shown bars, so the right margin selects the last bar) and the point. False when the point
// lies in no picture or the picture shows no bar.
bool PlaceCursor(const ChartView& view, Crosshair& c, int x, int y);

// Left (-1) or Right (+1): with the crosshair off it comes on at the last bar; on, it moves one
// bar, and past the visible edge the picture scrolls one bar. Returns true when the picture's
// horizontal scale changed (the caller updates from level 1). The cursor's y is kept.
bool StepCursor(ChartView& view, Crosshair& c, int step);

// The x of the crosshair's vertical line: the centre of its bar.
int CursorLineX(const ChartView& view, const Crosshair& c);

struct CursorTag {
    Rect box;           // (length + 1) * cx wide, cy + 5 high
    std::string text;   // UTF-8
};

struct CursorTags {
    CursorTag time;     // in the time-axis strip at the cursor's x
    CursorTag value;    // in the right price axis at the cursor's y
    bool hasTime = false, hasValue = false;
};

// The bar time as the tags show it: "Y-M-D H:N:S" for ticks, "Y-M-D H:N" for minute periods
// and time-sharing, "Y-M-D(W)" otherwise.
std::string TagTimeText(Period period, StoreTime t);
CursorTags MakeCursorTags(const ChartView& view, const Crosshair& c);

// ---- Drags --------------------------------------------------------------------------

// A press becomes a drag (rubber band or pan) only after a move of more than 1 pixel.
inline bool DragStarted(int anchorX, int anchorY, int x, int y) {
    return x - anchorX > 1 || anchorX - x > 1 || y - anchorY > 1 || anchorY - y > 1;
}

// A horizontal pan drag from anchorX to x. The left button moves the first bar by
// trunc((anchorX - x) / (pitch + gap)) so that the bars follow the mouse; the right button
// changes N by e = (x - anchorX) / (pitch + gap) keeping the right end. When the scale changed,
// anchorX becomes x and true is returned (the caller updates from level 1).
bool PanScale(HScale& h, bool rightButton, float& anchorX, float x, int total);

// The rubber band's text: "%s\r\n%s\r\n共%d组" with the times of its first and last bar (as the
// tags show them) and its bar count, both ends counted; empty when either bar is not shown.
std::string BandText(const GraphPicture& p, int a, int b);

// A rubber band from visible bar a to visible bar b (either order) zooms to those bars: the
// first becomes the band's first bar and N its bar count, clamped as the keys clamp.
bool ZoomToBand(HScale& h, int a, int b, int total);

// ---- Pane dividers and the enlarged pane --------------------------------------------

inline constexpr int kDividerMargin = 10;

// The y range the divider below pane `pane` may move in: from 10 pixels below that pane's title
// strip to 10 pixels above the bottom of the pane below it. {0, -1} when there is none.
std::pair<int, int> DividerRange(const GraphPicture& p, int pane);
// Moves the divider below `pane` to y (clamped to its range) and lays the panes out again.
bool MoveDivider(ChartView& view, int picture, int pane, int y);

// 指标放大: the first call remembers every picture's pane heights and lets the active pane fill
// its picture (the others get no height); the next call restores the remembered heights.
// Returns true when the panes are enlarged afterwards.
bool TogglePaneEnlargement(ChartView& view, int activePane, std::vector<std::vector<float>>& remembered);

// ---- The data window -----------------------------------------------------------------

struct DataRow {
    std::string label;   // UTF-8
    std::string value;
    int colorSign = 0;   // +1 rising colour, -1 falling, 0 flat
};

inline constexpr int kDataWindowRows = 12;

// The time of a bar as the data window shows it: "Y/M/D(W)" for day and longer periods,
// "H:N" in time-sharing pictures, "Y/M/D H:N" otherwise; empty for time 0.
std::string DataWindowTime(Period period, StoreTime t);

// The twelve rows for bar `bar` of a series (the last bar when outside it): 时间, then 今开, 最高,
// 最低, 最新, 总手 (现手 for ticks), 总额, 均价, 涨幅 as "(涨跌)涨幅", 振幅, 量比, 换手率, computed
// like quote cells with the close of the bar before as 昨收 (the bar's own open for the first).
std::array<DataRow, kDataWindowRows> DataWindowRows(const Series& series, const CodeEntry& security, Period period,
                                                    int bar, int decimals);

}  // namespace tessaro::chart
