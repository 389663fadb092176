// The chart's numbers: pixel rounding, the horizontal bar scale with its zoom and scroll keys,
// the value-to-pixel mapping with the repair of degenerate ranges, the grid levels of a pane,
// the fitting of price-axis labels and the labels of the time axis.
//
// Everything here is pure arithmetic on floats; no NaN, infinity or empty range leaves it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/period.h"
#include "platform/store_time.h"

namespace tessaro::chart {

// Positions are floats turned into pixels by adding 0.44449 to a positive value (subtracting
// it from a negative one) and truncating toward zero. NaN gives 0; values beyond +-1e7 are
// held there, so no conversion overflows.
int RoundPixel(float v);

// ---- The horizontal scale of a K-line picture ------------------------------------------

inline constexpr int kRightMargin = 4;        // empty bar places kept at the right end
inline constexpr int kDefaultVisibleBars = 100;
inline constexpr int kZoomInFloor = 19;       // zooming in is refused below this many bars

// Base records per bar of a period, for the history request sizes.
int BaseRecordsPerBar(Period period);
// Base records to ask for when `bars` bars are to be shown: bars * f + 60.
int HistoryRequestSize(Period period, int bars);

struct HScale {
    float left = 0, right = 0;  // the drawing rectangle's left and right
    int visible = kDefaultVisibleBars;  // N
    int first = 0;     // first visible bar
    int shown = 0;     // min(total - first, N), never negative
    float pitch = 0;   // bar body width
    float gap = 0;

    // Pitch and gap for the rectangle and N: p = (r - 1 - (l + 1)) / (1.3 N + 0.3), g = 0.3 p.
    void Layout(float l, float r);
    // Centre of visible bar k (0 .. shown - 1).
    float Centre(int k) const { return left + 1 + 0.5f * pitch + gap + static_cast<float>(k) * (pitch + gap); }
    int CentrePixel(int k) const { return RoundPixel(Centre(k)); }
    // Half the body width: trunc(p / 2), less one when that equals trunc((p + g) / 2) and is above 0.
    int HalfBody() const;
    // The visible bar under x, clamped to 0 .. shown - 1 (0 when nothing is shown).
    int BarAt(float x) const;
};

// The keys of MoveOrZoom.
enum class MoveKey { kLeft, kRight, kSlowLeft, kSlowRight, kZoomIn, kZoomOut };

struct MoveResult {
    bool changed = false;
    int moreHistory = 0;  // base records to ask for in addition (zooming out)
};

// Applies a key to the scale over `total` loaded bars, clamps, and sets shown.
MoveResult MoveOrZoom(HScale& h, MoveKey key, int total, Period period);
// Clamps N and first and sets shown: N >= 2 margin, N <= total + margin, 0 <= first <= total + margin - N.
void ClampScale(HScale& h, int total);
// Places the right end at the newest bar with the margin (a new security or period).
void ShowNewest(HScale& h, int total);

// ---- Values and pixels -----------------------------------------------------------------

struct ValueRange {
    float max = 10.0f;
    float min = 0.0f;
};

// Repairs an ordinary pane's range in place: non-finite ends fall back to 10 and 0, reversed
// ends are swapped, and a range narrower than 0.00001 becomes 1 .. 0 around zero, else
// max + 2 % .. min - 2 % of |max|.
void RepairRange(ValueRange& r);
// A range centred on a reference value (the previous close): ref defaults to the middle, then
// to 10; a zero end becomes ref +- 10 %; d = max(max - ref, ref - min), at least 1 % of ref.
void RepairCentredRange(ValueRange& r, float ref);

struct ValueMap {
    float top = 0, bottom = 0;  // the drawing rectangle
    ValueRange range;
    float scale = 1;            // pixels per value unit

    // s = ((bottom - 1) - (top + 1)) / (max - min), or 1 when |max - min| <= 0.00001.
    void Set(float top, float bottom, ValueRange r);
    int Y(float v) const;          // RoundPixel(bottom - 1 - (v - min) s); non-finite v maps to bottom - 1
    float Value(float y) const;    // (bottom - 1 - y) / s + min
};

// ---- Grid levels -----------------------------------------------------------------------

// The step multiplier v of a normalised step u (1 <= u < 10, or more for a rounding slip).
float StepMultiplier(float u);

struct LevelParams {
    float max = 10, min = 0;
    float height = 0;        // the pane's drawing height in pixels
    bool percentage = false;
    float reference = 0;     // percentage mode: the base value
};

struct Levels {
    std::vector<float> values;  // ascending, at most count + 9
    int count = 0;              // levels per pane height (1 per 35 pixels, 1 .. 30)
    float step = 0;             // w
    float base = 0;             // percentage mode: the base used
    int stepDecimals = 0;       // decimals that tell two levels apart (0 .. 6)
};

// The tick-step rules: one level per 35 pixels, the step rounded to 1, 1.5, 2, 2.5, 4, 5,
// 7.5, 10 or 15 times a power of ten, the first level at or below the minimum.
Levels GridLevels(const LevelParams& p);

// ---- Price-axis labels -----------------------------------------------------------------

struct AxisLabelFormat {
    int decimals = 2;
    int exponent = 0;       // labels are divided by 10^exponent; > 0 shows the "10^%d" box
    bool percentage = false;
    float base = 0;         // percentage mode
};

// The label format for levels whose largest is `largest`, in an axis `axisWidth` pixels wide
// with characters `cx` wide: decimals are reduced while the text is too wide, then the value
// is divided by 10 until it fits or the divisor exceeds 1 000 000.
AxisLabelFormat FitAxisLabels(float largest, int decimals, bool percentage, float base, int axisWidth, int cx);
std::string FormatAxisLabel(float value, const AxisLabelFormat& f);

// Display columns of a UTF-8 text: 1 for ASCII, 2 for anything wider.
int TextColumns(const std::string& utf8);

// The pixel width of a UTF-8 text in the chart font; when none is given, columns * cx.
using TextMeasure = std::function<int(const std::string& utf8)>;

// ---- Time-axis labels ------------------------------------------------------------------

struct TimeLabel {
    int x = 0;           // the bar centre where the text starts
    std::string text;
    int bar = 0;         // the visible bar index
};

// Labels for the visible bars whose centres are `centres` and times `times`; a label is placed
// when its centre lies more than 5 pixels right of the end of the previous one (text width
// = columns * cx, or as `measure` says) and the time differs from the previously labelled bar
// as the period asks.
std::vector<TimeLabel> TimeAxisLabels(Period period, const std::vector<int>& centres,
                                      const std::vector<StoreTime>& times, int cx, const TextMeasure& measure = {});

}  // namespace tessaro::chart
