#include "chart/layout.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace tessaro::chart {

int NormalisePictureCount(int n) {
    if (n >= 16) return 16;
    if (n == 2) return 2;
    if (n < 1) return 1;
    const int e = static_cast<int>(std::sqrt(static_cast<double>(n)));
    return e * e;
}

std::vector<RectF> PictureRects(int n, float width, float height) {
    n = NormalisePictureCount(n);
    std::vector<RectF> out;
    if (n == 2) {
        out.push_back({0, 0, width, height / 2});
        out.push_back({0, height / 2, width, height});
        return out;
    }
    const int e = static_cast<int>(std::lround(std::sqrt(static_cast<double>(n))));
    const float w = width / static_cast<float>(e), h = height / static_cast<float>(e);
    for (int i = 0; i < n; ++i) {
        const float col = static_cast<float>(i % e), row = static_cast<float>(i / e);
        out.push_back({col * w, row * h, (col + 1) * w, (row + 1) * h});
    }
    return out;
}

std::vector<float> FreshPaneHeights(int n, float available) {
    n = std::clamp(n, 1, kMaxPanes);
    available = std::max(available, 0.0f);
    const float unit = available / static_cast<float>(n + 2);
    std::vector<float> out(static_cast<size_t>(n), unit);
    out[0] = 3 * unit;
    return out;
}

std::vector<float> ScalePaneHeights(const std::vector<float>& heights, float available) {
    available = std::max(available, 0.0f);
    std::vector<float> out = heights;
    const float sum = std::accumulate(heights.begin(), heights.end(), 0.0f);
    if (out.empty()) return out;
    if (!(sum > 0)) return FreshPaneHeights(static_cast<int>(out.size()), available);
    for (float& h : out) h = h / sum * available;
    return out;
}

std::vector<float> ResizePaneHeights(const std::vector<float>& heights, int n, float available) {
    n = std::clamp(n, 1, kMaxPanes);
    const int old = static_cast<int>(heights.size());
    if (old == 0) return FreshPaneHeights(n, available);
    if (n <= old) return ScalePaneHeights(std::vector<float>(heights.begin(), heights.begin() + n), available);
    const float unit = std::max(available, 0.0f) / static_cast<float>(n + 2);
    std::vector<float> out = ScalePaneHeights(heights, std::max(available, 0.0f) - unit * static_cast<float>(n - old));
    out.resize(static_cast<size_t>(n), unit);
    return out;
}

PaneRects LayoutPane(const RectF& outer, const ChartMetrics& m, const PaneLayoutOptions& o) {
    PaneRects r;
    r.outer = outer;
    const float axis = static_cast<float>(m.priceAxisWidth());
    const float leftWidth = (o.timeSharing && o.singlePicture) ? axis : 0;
    r.leftAxis = {outer.left, outer.top, std::min(outer.left + leftWidth, outer.right), outer.bottom};
    const float rightLeft = std::max(outer.right - axis, r.leftAxis.right);
    r.rightAxis = {rightLeft, outer.top, outer.right, outer.bottom};
    float titleHeight = o.timeSharing ? static_cast<float>(m.bigTitleHeight + 4) : static_cast<float>(m.cy + 2);
    if (o.compactTitle) titleHeight = 1;
    titleHeight = std::min(titleHeight, outer.height());
    r.title = {r.leftAxis.right, outer.top, rightLeft, outer.top + titleHeight};
    const float bottomHeight = std::min(o.timeSharing ? 0.0f : 2.0f, std::max(outer.height() - titleHeight, 0.0f));
    r.bottom = {r.leftAxis.right, outer.bottom - bottomHeight, rightLeft, outer.bottom};
    r.draw = {r.leftAxis.right, r.title.bottom, rightLeft, r.bottom.top};
    return r;
}

}  // namespace tessaro::chart
