// The geometry of a chart view: the grid of pictures, the pane heights of a picture in units,
// and the rectangles of a pane (price axes, title strip, bottom strip, drawing rectangle).
#pragma once

#include <vector>

#include "chart/display_list.h"
#include "chart/scale.h"

namespace tessaro::chart {

struct RectF {
    float left = 0, top = 0, right = 0, bottom = 0;
    float width() const { return right - left; }
    float height() const { return bottom - top; }
};

// A rectangle in whole pixels, each side rounded as RoundPixel rounds.
inline Rect Pixels(const RectF& r) {
    return {RoundPixel(r.left), RoundPixel(r.top), RoundPixel(r.right), RoundPixel(r.bottom)};
}

// Font metrics of the chart: character width and height of the chart font, height of the
// big-title font.
struct ChartMetrics {
    int cx = 7;
    int cy = 14;
    int bigTitleHeight = 16;
    int timeStripHeight() const { return cy + 5; }
    int priceAxisWidth() const { return 8 * cx; }
};

inline constexpr int kMaxPictures = 16;
inline constexpr int kMaxPanes = 6;

// 1, 2, 4, 9 or 16: above 16 is 16, 2 stays 2, anything else is rounded down to a square.
int NormalisePictureCount(int n);
// The outer rectangles of n pictures (n normalised) in a client area: two are stacked, the
// others fill an e x e grid row by row.
std::vector<RectF> PictureRects(int n, float width, float height);

// Pane heights of a fresh picture with n panes: (n + 2) units of the available height, the
// main pane 3 and each sub-chart 1.
std::vector<float> FreshPaneHeights(int n, float available);
// Pane heights after changing the pane count from heights.size() to n: added panes get one
// unit of (n + 2) each and the existing panes share what remains in their proportions;
// removed panes leave their height to the remaining ones in proportion.
std::vector<float> ResizePaneHeights(const std::vector<float>& heights, int n, float available);
// The same proportions in a new available height.
std::vector<float> ScalePaneHeights(const std::vector<float>& heights, float available);

struct PaneRects {
    RectF outer, leftAxis, rightAxis, title, bottom, draw;
};

struct PaneLayoutOptions {
    bool timeSharing = false;    // a time-sharing picture
    bool singlePicture = true;   // the view shows one picture
    bool compactTitle = false;   // a sub-chart in a view of more than 2 pictures
};

PaneRects LayoutPane(const RectF& outer, const ChartMetrics& m, const PaneLayoutOptions& o);

}  // namespace tessaro::chart
