// The chart's Qt half: fonts from the colour scheme, a painter that walks display lists with
// QPainter, and the canvas of two buffers — the back buffer every picture is painted into and
// the buffer that keeps the pixels under the cursor tags.
#pragma once

#include <QFont>
#include <QImage>
#include <QRect>
#include <vector>

#include "app/color_scheme.h"
#include "chart/chart_view.h"
#include "chart/display_list.h"
#include "chart/layout.h"

namespace tessaro::chart {

// The chart font and the big-title font of a scheme, and the metrics the model lays out with.
class ChartFonts {
public:
    explicit ChartFonts(const ColorScheme& scheme);
    const QFont& chart() const { return chart_; }
    const QFont& bigTitle() const { return bigTitle_; }
    ChartMetrics metrics() const { return metrics_; }
    // Text widths in the chart font, for the model's layout of titles and time labels.
    TextMeasure measure() const;
    // Font n of a text primitive: 0 chart, 1 big title, more a font n pixels high.
    QFont Font(uint8_t n) const;

private:
    QFont chart_, bigTitle_;
    ChartMetrics metrics_;
};

inline QColor ToQColor(ColorRef c) { return QColor(int(c & 0xFF), int((c >> 8) & 0xFF), int((c >> 16) & 0xFF)); }
inline QRect ToQRect(const Rect& r) { return QRect(r.left, r.top, r.width(), r.height()); }

// Draws the primitives of `list` that meet one of `rects`, clipped to them.
void PaintList(QPainter& painter, const DisplayList& list, const std::vector<Rect>& rects, const ChartFonts& fonts);

// Copies the pixels of `rect` from one image to another of the same format and size.
void CopyPixels(const QImage& from, QImage& to, const QRect& rect);

class ChartCanvas {
public:
    // Both buffers take the client size; their contents are undefined until painted.
    void Resize(QSize size);
    QSize size() const { return back_.size(); }
    const QImage& image() const { return back_; }

    // Paints the view's lists into the invalid region of the back buffer.
    void Paint(const ChartView& view, const Region& region, const ChartFonts& fonts);
    void PaintAll(const ChartView& view, const ChartFonts& fonts);

    // The pixels under a cursor tag: kept before the tag is drawn, put back before it moves.
    void SaveUnder(const QRect& rect);
    void RestoreUnder(const QRect& rect);
    QImage& back() { return back_; }

private:
    QImage back_;
    QImage under_;
};

}  // namespace tessaro::chart
