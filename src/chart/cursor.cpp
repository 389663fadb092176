#include "chart/cursor.h"

#include <algorithm>
#include <cstdio>
#include <cmath>
#include <cstdlib>
#include <memory>

#include "market/quote_fields.h"
#include "market/records.h"

namespace tessaro::chart {
namespace {

bool Inside(const RectF& r, float x, float y) { return x >= r.left && x < r.right && y >= r.top && y < r.bottom; }
bool InsideRect(const Rect& r, int x, int y) { return x >= r.left && x < r.right && y >= r.top && y < r.bottom; }

bool KLinePicture(const GraphPicture& p) { return p.period != kPeriodTime; }

}  // namespace

void LineNear(const GraphPicture& p, int pane, int bar, int y, int tolerance, int& slot, int& line) {
    slot = line = -1;
    if (pane < 0 || pane >= static_cast<int>(p.panes.size()) || bar < 0 || bar >= p.scale.shown) return;
    const GraphPane& g = p.panes[static_cast<size_t>(pane)];
    const int index = p.scale.first + bar;
    int best = tolerance + 1;
    for (size_t s = 0; s < g.indicators.size(); ++s) {
        const PaneIndicator& ind = g.indicators[s];
        if (!ind.result) continue;
        for (size_t k = 0; k < ind.result->lines.size(); ++k) {
            const OutputLine& l = ind.result->lines[k];
            if (l.drawKind >= kDrawIcon || !l.valid(index)) continue;
            const float v = l.points[static_cast<size_t>(index)].value;
            if (!std::isfinite(v)) continue;
            const int d = std::abs(g.map.Y(v) - y);
            if (d < best) {
                best = d;
                slot = static_cast<int>(s);
                line = static_cast<int>(k);
            }
        }
    }
}

HitInfo HitTest(const ChartView& view, int x, int y) {
    HitInfo h;
    h.x = x;
    h.y = y;
    const float fx = static_cast<float>(x), fy = static_cast<float>(y);
    for (int i = 0; i < view.pictureCount(); ++i) {
        const GraphPicture& p = view.picture(i);
        if (!Inside(p.outer, fx, fy) || p.panes.empty()) continue;
        h.picture = i;
        const GraphPane& last = p.panes.back();
        // (1) Below the last pane: the time-axis strip, and the box under the right price axis.
        if (fy >= last.rects.outer.bottom) {
            h.kind = fx >= last.rects.rightAxis.left ? kHitAxisBox : kHitTimeAxis;
            if (h.kind == kHitTimeAxis && p.scale.shown > 0) h.bar = p.scale.BarAt(fx);
            return h;
        }
        // (2) An indicator's name in a title strip.
        for (size_t k = 0; k < p.panes.size(); ++k) {
            const GraphPane& g = p.panes[k];
            if (!Inside(g.rects.title, fx, fy)) continue;
            for (size_t s = 0; s < g.indicators.size(); ++s) {
                if (!InsideRect(g.indicators[s].nameRect, x, y)) continue;
                h.kind = kHitIndicator;
                h.pane = static_cast<int>(k);
                h.part = kPartTitle;
                h.slot = static_cast<int>(s);
                return h;
            }
        }
        // (3) Within a few pixels of a boundary between two panes.
        for (size_t k = 0; k + 1 < p.panes.size(); ++k) {
            if (std::abs(y - RoundPixel(p.panes[k].rects.outer.bottom)) <= kDividerTolerance) {
                h.kind = kHitDivider;
                h.pane = static_cast<int>(k);
                return h;
            }
        }
        // (4) Inside a pane: its part, the bar under x and the line or K-line under the point.
        for (size_t k = 0; k < p.panes.size(); ++k) {
            const PaneRects& r = p.panes[k].rects;
            if (!Inside(r.outer, fx, fy)) continue;
            h.kind = kHitPane;
            h.pane = static_cast<int>(k);
            if (Inside(r.rightAxis, fx, fy)) h.part = kPartRightAxis;
            else if (r.leftAxis.width() > 0 && Inside(r.leftAxis, fx, fy)) h.part = kPartLeftAxis;
            else if (Inside(r.title, fx, fy)) h.part = kPartTitle;
            else if (Inside(r.bottom, fx, fy)) h.part = kPartBottom;
            else h.part = kPartDraw;
            if (p.scale.shown <= 0 || !KLinePicture(p)) return h;
            h.bar = p.scale.BarAt(fx);
            if (h.part != kPartDraw) return h;
            LineNear(p, h.pane, h.bar, y, kLineTolerance, h.slot, h.line);
            const size_t index = static_cast<size_t>(p.scale.first + h.bar);
            if (k == 0 && h.slot < 0 && index < p.series.size()) {
                const KLineRecord& b = p.series.bars[index];
                const ValueMap& m = p.panes[0].map;
                h.kline = y >= m.Y(b.high) - kLineTolerance && y <= m.Y(b.low) + kLineTolerance;
            }
            return h;
        }
        return h;
    }
    return h;
}

// ---- The crosshair -------------------------------------------------------------------

bool PlaceCursor(const ChartView& view, Crosshair& c, int x, int y) {
    const HitInfo h = HitTest(view, x, y);
    if (h.picture < 0) return false;
    const GraphPicture& p = view.picture(h.picture);
    if (p.scale.shown <= 0) return false;
    c.picture = h.picture;
    c.bar = p.scale.first + p.scale.BarAt(static_cast<float>(x));
    c.x = x;
    c.y = y;
    return true;
}

bool StepCursor(ChartView& view, Crosshair& c, int step) {
    if (c.picture < 0 || c.picture >= view.pictureCount()) c.picture = view.active();
    GraphPicture& p = view.picture(c.picture);
    const int total = static_cast<int>(p.series.size());
    if (total == 0) return false;
    if (!c.on) {
        // Switched on at the last bar, with the right end brought into view.
        c.on = true;
        c.bar = total - 1;
        if (c.bar >= p.scale.first && c.bar < p.scale.first + p.scale.shown) return false;
        ShowNewest(p.scale, total);
        return true;
    }
    const int bar = std::clamp(c.bar + step, 0, total - 1);
    if (bar == c.bar) return false;
    c.bar = bar;
    bool scrolled = false;
    if (bar < p.scale.first) {
        p.scale.first = bar;
        scrolled = true;
    } else if (bar >= p.scale.first + p.scale.shown) {
        p.scale.first = bar - std::min(p.scale.visible, total) + 1;
        scrolled = true;
    }
    if (scrolled) ClampScale(p.scale, total);
    return scrolled;
}

int CursorLineX(const ChartView& view, const Crosshair& c) {
    if (c.picture < 0 || c.picture >= view.pictureCount()) return c.x;
    const GraphPicture& p = view.picture(c.picture);
    const int k = c.bar - p.scale.first;
    if (!KLinePicture(p) || k < 0 || k >= p.scale.shown) return c.x;
    return p.scale.CentrePixel(k);
}

std::string TagTimeText(Period period, StoreTime t) {
    if (period == kPeriodTick) return FormatStoreTime("Y-M-D H:N:S", t);
    if (period == kPeriodTime || (PeriodNumber(period) >= PeriodNumber(kPeriodMin1) && PeriodNumber(period) <= PeriodNumber(kPeriodMin60)))
        return FormatStoreTime("Y-M-D H:N", t);
    return FormatStoreTime("Y-M-D(W)", t);
}

std::string BandText(const GraphPicture& p, int a, int b) {
    if (a < 0 || b < 0 || a >= p.scale.shown || b >= p.scale.shown) return {};
    const size_t first = static_cast<size_t>(p.scale.first + std::min(a, b));
    const size_t last = static_cast<size_t>(p.scale.first + std::max(a, b));
    if (last >= p.series.size()) return {};
    char count[32];
    std::snprintf(count, sizeof count, "共%d组", static_cast<int>(last - first + 1));
    return TagTimeText(p.period, p.series.bars[first].time) + "\r\n" + TagTimeText(p.period, p.series.bars[last].time) +
           "\r\n" + count;
}

CursorTags MakeCursorTags(const ChartView& view, const Crosshair& c) {
    CursorTags tags;
    if (!c.on || c.picture < 0 || c.picture >= view.pictureCount()) return tags;
    const GraphPicture& p = view.picture(c.picture);
    const ChartMetrics& m = view.options().metrics;
    const int height = m.cy + 5;
    auto width = [&](const std::string& s) { return (TextColumns(s) + 1) * m.cx; };
    if (c.bar >= 0 && c.bar < static_cast<int>(p.series.size()) && !p.panes.empty()) {
        tags.time.text = TagTimeText(p.period, p.series.bars[static_cast<size_t>(c.bar)].time);
        const int w = width(tags.time.text);
        const int top = RoundPixel(p.panes.back().rects.outer.bottom);
        const int stripRight = RoundPixel(p.panes.back().rects.rightAxis.left);
        // Centred on the line, kept inside the strip.
        int left = CursorLineX(view, c) - w / 2;
        left = std::max(std::min(left, stripRight - w), RoundPixel(p.outer.left));
        tags.time.box = {left, top, left + w, top + height};
        tags.hasTime = true;
    }
    for (size_t k = 0; k < p.panes.size(); ++k) {
        const GraphPane& g = p.panes[k];
        const float fy = static_cast<float>(c.y);
        if (fy < g.rects.draw.top || fy >= g.rects.draw.bottom) continue;
        const float v = g.map.Value(fy);
        AxisLabelFormat f = g.labels;
        f.exponent = 0;
        if (!f.percentage) f.decimals = k == 0 ? p.decimals : 2;
        tags.value.text = FormatAxisLabel(v, f);
        const int w = width(tags.value.text);
        const int left = RoundPixel(g.rects.rightAxis.left);
        int top = c.y - height / 2;
        top = std::clamp(top, RoundPixel(g.rects.rightAxis.top), std::max(RoundPixel(g.rects.rightAxis.bottom) - height, RoundPixel(g.rects.rightAxis.top)));
        tags.value.box = {left, top, left + w, top + height};
        tags.hasValue = true;
        break;
    }
    return tags;
}

// ---- Drags --------------------------------------------------------------------------

bool PanScale(HScale& h, bool rightButton, float& anchorX, float x, int total) {
    const float step = h.pitch + h.gap;
    if (!(step > 0) || total <= 0) return false;
    const int oldFirst = h.first, oldN = h.visible;
    if (!rightButton) {
        const int d = static_cast<int>((anchorX - x) / step);
        if (d == 0) return false;
        h.first += d;
    } else {
        const float e = (x - anchorX) / step;
        if (static_cast<int>(e) == 0) return false;
        const int n = RoundPixel(static_cast<float>(h.visible) + e);
        h.first += h.visible - n;
        h.visible = n;
    }
    anchorX = x;
    ClampScale(h, total);
    return h.first != oldFirst || h.visible != oldN;
}

bool ZoomToBand(HScale& h, int a, int b, int total) {
    if (a > b) std::swap(a, b);
    a = std::max(a, 0);
    b = std::min(b, h.shown - 1);
    if (b < a || total <= 0) return false;
    const int oldFirst = h.first, oldN = h.visible;
    h.first += a;
    h.visible = b - a + 1;
    ClampScale(h, total);
    return h.first != oldFirst || h.visible != oldN;
}

// ---- Pane dividers and the enlarged pane --------------------------------------------

std::pair<int, int> DividerRange(const GraphPicture& p, int pane) {
    if (pane < 0 || pane + 1 >= static_cast<int>(p.panes.size())) return {0, -1};
    const int low = RoundPixel(p.panes[static_cast<size_t>(pane)].rects.title.bottom) + kDividerMargin;
    const int high = RoundPixel(p.panes[static_cast<size_t>(pane) + 1].rects.outer.bottom) - kDividerMargin;
    return {low, high};
}

bool MoveDivider(ChartView& view, int picture, int pane, int y) {
    if (picture < 0 || picture >= view.pictureCount()) return false;
    GraphPicture& p = view.picture(picture);
    const auto [low, high] = DividerRange(p, pane);
    if (high < low) return false;
    y = std::clamp(y, low, high);
    GraphPane& upper = p.panes[static_cast<size_t>(pane)];
    GraphPane& lower = p.panes[static_cast<size_t>(pane) + 1];
    const float delta = static_cast<float>(y) - upper.rects.outer.bottom;
    if (delta == 0) return false;
    upper.height += delta;
    lower.height -= delta;
    view.Resize(view.width(), view.height());
    return true;
}

bool TogglePaneEnlargement(ChartView& view, int activePane, std::vector<std::vector<float>>& remembered) {
    const int n = view.pictureCount();
    if (!remembered.empty()) {
        for (int i = 0; i < n && i < static_cast<int>(remembered.size()); ++i) {
            GraphPicture& p = view.picture(i);
            if (remembered[static_cast<size_t>(i)].size() != p.panes.size()) continue;
            for (size_t k = 0; k < p.panes.size(); ++k) p.panes[k].height = remembered[static_cast<size_t>(i)][k];
        }
        remembered.clear();
        view.Resize(view.width(), view.height());
        return false;
    }
    for (int i = 0; i < n; ++i) {
        GraphPicture& p = view.picture(i);
        auto& heights = remembered.emplace_back();
        float total = 0;
        for (const GraphPane& g : p.panes) {
            heights.push_back(g.height);
            total += g.height;
        }
        const size_t active = static_cast<size_t>(std::clamp(activePane, 0, static_cast<int>(p.panes.size()) - 1));
        for (size_t k = 0; k < p.panes.size(); ++k) p.panes[k].height = k == active ? total : 0;
    }
    view.Resize(view.width(), view.height());
    return true;
}

// ---- The data window -----------------------------------------------------------------

std::string DataWindowTime(Period period, StoreTime t) {
    if (t == 0) return {};
    if (period == kPeriodTime) return FormatStoreTime("H:N", t);
    if (PeriodNumber(period) >= PeriodNumber(kPeriodDay)) return FormatStoreTime("Y/M/D(W)", t);
    return FormatStoreTime("Y/M/D H:N", t);
}

std::array<DataRow, kDataWindowRows> DataWindowRows(const Series& series, const CodeEntry& security, Period period,
                                                    int bar, int decimals) {
    std::array<DataRow, kDataWindowRows> rows;
    rows[0].label = "时间";
    const size_t n = series.size();
    // A 7 KB record: kept off the stack.
    auto record = std::make_unique<StockRecord>();
    record->entry = security;
    QuoteSnapshot& q = record->quote;
    if (n > 0) {
        const size_t i = bar >= 0 && static_cast<size_t>(bar) < n ? static_cast<size_t>(bar) : n - 1;
        q.bar = series.bars[i];
        q.prevClose = i > 0 ? series.bars[i - 1].close : series.bars[i].open;
        q.avgVolume5 = series.quote.avgVolume5;
        if (i < series.orderBooks.size()) q.book = series.orderBooks[i];
        if (i < series.trades.size()) q.lastTrade = series.trades[i];
        if (q.lastTrade.volume == 0) q.lastTrade.volume = series.bars[i].volume;
        if (i < series.capital.size()) q.capital = series.capital[i];
        else q.capital = series.quote.capital;
        if (period == kPeriodTime) {
            // The day's values of the security's quote.
            q.prevClose = series.quote.prevClose;
            q.bar.open = series.quote.bar.open;
            q.bar.high = series.quote.bar.high;
            q.bar.low = series.quote.bar.low;
        }
        rows[0].value = DataWindowTime(period, series.bars[i].time);
    }
    const int volumeField = period == kPeriodTick ? kFieldLastVolume : kFieldVolume;
    const int fields[] = {kFieldOpen, kFieldHigh, kFieldLow, kFieldLast, volumeField,
                          kFieldAmount, kFieldAvgPrice, kFieldChangePct, kFieldAmplitude, kFieldVolumeRatio, kFieldTurnover};
    for (size_t r = 1; r < rows.size(); ++r) {
        const int field = fields[r - 1];
        rows[r].label = std::string(QuoteFieldName(field));
        if (n == 0) continue;
        QuoteCell cell;
        const StoreTime t = q.bar.time;
        if (field == kFieldVolumeRatio && TimeOfDay(t) == 0) {
            // A day bar stamped at midnight counts as ending at 23:59:59 of its day.
            q.bar.time = t + 86399;
            cell = ComputeQuoteField(field, *record, decimals);
            q.bar.time = t;
        } else {
            cell = ComputeQuoteField(field, *record, decimals);
        }
        if (field == kFieldChangePct) {
            const QuoteCell change = ComputeQuoteField(kFieldChange, *record, decimals);
            if (cell.present || change.present) cell.text = "(" + change.text + ")" + cell.text;
        }
        rows[r].value = cell.text;
        rows[r].colorSign = cell.colorSign;
    }
    return rows;
}

}  // namespace tessaro::chart
