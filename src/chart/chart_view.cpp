#include "chart/chart_view.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "market/market_store.h"
#include "chart/kline_content.h"
#include "market/security_registry.h"
#include "platform/text.h"

namespace tessaro::chart {

// ---- The formula source ------------------------------------------------------------------

FormulaChartSource::FormulaChartSource(const FormulaSet& formulas, EvalDataSource& data, const SeriesSource* minutes,
                                       const MarketStore* store)
    : formulas_(formulas), data_(data), minutes_(minutes), store_(store), evaluator_(formulas, data) {}

bool FormulaChartSource::MinuteExtras(const CodeEntry& security, MinuteExtraDay& out) {
    return minutes_ && minutes_->MinuteExtras(security.id, out);
}

bool FormulaChartSource::QuoteRecord(const CodeEntry& security, StockRecord& out) {
    return store_ && store_->GetRecord(security.id, out);
}

bool FormulaChartSource::LoadMinuteDays(const CodeEntry& security, int days, Series& out) {
    if (!minutes_ || days <= 1) return Load(security, kPeriodTime, 1, out);
    out.clear();
    int wanted = days;
    if (LoadSeries(*minutes_, security.id, kPeriodTime, out, kExRightsNone, &wanted) == 0) {
        out.clear();
        return false;
    }
    out.period = kPeriodTime;
    return true;
}

bool FormulaChartSource::Load(const CodeEntry& security, Period period, int exRights, Series& out) {
    out.clear();
    if (!data_.LoadSeries(security.id, period, exRights & 3, out)) {
        out.clear();
        return false;
    }
    out.period = period;
    return true;
}

std::unique_ptr<EvalResult> FormulaChartSource::Evaluate(const FormulaRecord& formula, const CodeEntry& security,
                                                         const Series& series, Period period, int exRights,
                                                         EvalStatus& status) {
    EvalRequest request;
    request.loadOptions = exRights & 3;
    request.security = security;
    request.preloaded = &series;
    request.period = period;
    return evaluator_.Evaluate(formula, request, status);
}

std::optional<FormulaRecord> FormulaChartSource::Formula(uint32_t type, std::string_view name) {
    return formulas_.Find(type, name);
}

int FormulaChartSource::Decimals(const CodeEntry& security) {
    return PriceDecimals(security.id.market, security.securityClass, kDefaultPriceDecimals);
}

bool FormulaChartSource::MarketIndex(MarketCode market, CodeEntry& out) {
    if (!store_) return false;
    std::optional<CodeEntry> e = store_->GetMarketIndexEntry(market);
    if (!e) return false;
    out = *e;
    return true;
}

std::vector<InfoPanelBlock> FormulaChartSource::BlocksOf(const CodeEntry& security) {
    std::vector<InfoPanelBlock> out;
    if (!blocks_) return out;
    for (const Block& b : blocks_->Blocks()) {
        if (!b.contains(security.id)) continue;
        InfoPanelBlock row;
        if (!b.category.empty()) row.type = GbkToUtf8(b.category);
        else if (b.setting == kBlockServer) row.type = "系统板块";
        else if (b.setting == kBlockRule) row.type = "自动板块";
        else if (b.setting == kBlockSelf) row.type = "自选股";
        else row.type = "条件选股";
        row.name = GbkToUtf8(b.name);
        row.nameGbk = b.name;
        out.push_back(std::move(row));
    }
    return out;
}

// ---- Helpers -----------------------------------------------------------------------------

namespace {

bool SamePrimitive(const DisplayList& a, const Primitive& p, const DisplayList& b, const Primitive& q) {
    if (p.kind != q.kind || p.penStyle != q.penStyle || p.penWidth != q.penWidth || p.filled != q.filled ||
        p.align != q.align || p.font != q.font || p.pen != q.pen || p.box != q.box || p.count != q.count ||
        p.startAngle != q.startAngle || p.spanAngle != q.spanAngle)
        return false;
    if (p.filled && p.fill != q.fill) return false;
    if (p.kind == PrimitiveKind::kText) return a.text(p) == b.text(q);
    if (p.count == 0 || p.kind == PrimitiveKind::kClip) return true;
    return std::memcmp(a.pointsOf(p), b.pointsOf(q), sizeof(Point) * p.count) == 0;
}

Rect Intersect(const Rect& a, const Rect& b) {
    Rect r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right), std::min(a.bottom, b.bottom)};
    return r.empty() ? Rect{} : r;
}

std::string Format(const char* format, double v, int decimals) {
    char buf[64];
    std::snprintf(buf, sizeof buf, format, decimals, v);
    return buf;
}

}  // namespace

namespace {

// The bounds of the segments around the points that differ between two point runs of equal length.
void ChangedSegments(const DisplayList& a, const Primitive& p, const DisplayList& b, const Primitive& q, Region& out) {
    const Point* x = a.pointsOf(p);
    const Point* y = b.pointsOf(q);
    const int w = std::max(p.penWidth, q.penWidth) / 2 + 1;
    const bool closed = p.kind == PrimitiveKind::kPolygon;
    const uint32_t n = p.count;
    for (uint32_t i = 0; i < n; ++i) {
        if (x[i] == y[i]) continue;
        Rect r{std::min(x[i].x, y[i].x), std::min(x[i].y, y[i].y), std::max(x[i].x, y[i].x), std::max(x[i].y, y[i].y)};
        if (p.kind != PrimitiveKind::kPixels) {
            for (uint32_t j : {i == 0 ? (closed ? n - 1 : 0) : i - 1, i + 1 == n ? (closed ? 0 : i) : i + 1}) {
                r.left = std::min({r.left, x[j].x, y[j].x});
                r.top = std::min({r.top, x[j].y, y[j].y});
                r.right = std::max({r.right, x[j].x, y[j].x});
                r.bottom = std::max({r.bottom, x[j].y, y[j].y});
            }
        }
        out.Add({r.left - w, r.top - w, r.right + w + 1, r.bottom + w + 1});
    }
}

}  // namespace

Region DiffBounds(const DisplayList& before, const DisplayList& after, const Rect& whole) {
    Region out;
    if (before.size() != after.size()) {
        out.Add(whole);
        return out;
    }
    Region changed;
    for (size_t i = 0; i < before.size(); ++i) {
        const Primitive& p = before.items()[i];
        const Primitive& q = after.items()[i];
        if (SamePrimitive(before, p, after, q)) continue;
        if (p.kind == PrimitiveKind::kClip || q.kind == PrimitiveKind::kClip) {
            out.Add(whole);
            return out;
        }
        const bool runs = p.kind == q.kind && p.count == q.count && p.pen == q.pen && p.penWidth == q.penWidth &&
                          p.penStyle == q.penStyle && p.filled == q.filled && (!p.filled || p.fill == q.fill) &&
                          (p.kind == PrimitiveKind::kPolyline || p.kind == PrimitiveKind::kPixels ||
                           (p.kind == PrimitiveKind::kPolygon && !p.filled));
        if (runs) {
            ChangedSegments(before, p, after, q, changed);
            continue;
        }
        changed.Add(before.Bounds(p));
        changed.Add(after.Bounds(q));
    }
    for (const Rect& r : changed.rects()) out.Add(Intersect(r, whole));
    return out;
}

// ---- The view ----------------------------------------------------------------------------

ChartView::ChartView(ChartSource& source, ChartOptions options) : source_(source), options_(std::move(options)) {
    SetPictureCount(1);
}

void ChartView::SetOptions(const ChartOptions& options) {
    options_ = options;
    LayoutPictures();
    Update(1);
}

void ChartView::Resize(int width, int height) {
    // A picture narrower than a pixel, or lower than a pixel plus the time strip, keeps its layout.
    if (width < 1 || height < 1 + options_.metrics.timeStripHeight()) return;
    width_ = width;
    height_ = height;
    LayoutPictures();
}

void ChartView::SetPictureCount(int n) {
    n = NormalisePictureCount(n);
    const size_t old = pictures_.size();
    pictures_.resize(static_cast<size_t>(n));
    for (size_t i = old; i < pictures_.size(); ++i) {
        GraphPicture& p = pictures_[i];
        p.scale.visible = std::max(options_.visibleBars, 2 * kRightMargin);
        p.historyRequest = HistoryRequestSize(p.period, p.scale.visible);
        if (i > 0) {
            // New pictures take the first picture's panes and security.
            const GraphPicture& first = pictures_[0];
            p.security = first.security;
            p.hasSecurity = first.hasSecurity;
            p.decimals = first.decimals;
            for (const GraphPane& pane : first.panes) {
                GraphPane copy;
                copy.height = pane.height;
                copy.scaleMode = pane.scaleMode;
                for (const PaneIndicator& slot : pane.indicators) {
                    PaneIndicator s;
                    s.formula = slot.formula;
                    copy.indicators.push_back(std::move(s));
                }
                p.panes.push_back(std::move(copy));
            }
        }
        if (p.panes.empty()) p.panes.resize(1);
        p.kline.formula.setName(klineName_);
    }
    active_ = std::min(active_, n - 1);
    LayoutPictures();
}

Region ChartView::SetActive(int picture) {
    if (picture < 0 || picture >= pictureCount() || picture == active_) return {};
    const int before = active_;
    active_ = picture;
    Region invalid;
    if (pictures_.size() < 2) return invalid;
    for (const int i : {before, picture})
        if (i >= 0 && i < pictureCount() && pictures_[static_cast<size_t>(i)].period != kPeriodTime)
            invalid.Add(Update(4, i, 0));
    return invalid;
}

void ChartView::LayoutPictures() {
    const std::vector<RectF> rects =
        PictureRects(static_cast<int>(pictures_.size()), static_cast<float>(width_), static_cast<float>(height_));
    for (size_t i = 0; i < pictures_.size(); ++i) {
        pictures_[i].outer = rects[i];
        LayoutPanes(pictures_[i]);
    }
}

void ChartView::LayoutPanes(GraphPicture& p) {
    const float available = std::max(p.outer.height() - static_cast<float>(options_.metrics.timeStripHeight()), 0.0f);
    std::vector<float> heights;
    for (const GraphPane& pane : p.panes) heights.push_back(pane.height);
    heights = ScalePaneHeights(heights, available);
    float top = p.outer.top;
    PaneLayoutOptions o;
    o.timeSharing = p.period == kPeriodTime;
    o.singlePicture = pictures_.size() == 1;
    for (size_t i = 0; i < p.panes.size(); ++i) {
        GraphPane& pane = p.panes[i];
        pane.height = heights[i];
        o.compactTitle = pictures_.size() > 2 && i > 0;
        pane.rects = LayoutPane({p.outer.left, top, ChartArea(p).right, top + heights[i]}, options_.metrics, o);
        top += heights[i];
    }
    p.scale.Layout(p.panes[0].rects.draw.left, p.panes[0].rects.draw.right);
}

void ChartView::SetSecurity(int picture, const CodeEntry& security) {
    if (picture < 0 || picture >= pictureCount()) return;
    GraphPicture& p = pictures_[static_cast<size_t>(picture)];
    p.security = security;
    p.hasSecurity = true;
    p.panelBlocksRead = false;
    p.panelBlocks.clear();
    p.decimals = source_.Decimals(security);
    p.scale.visible = std::max(options_.visibleBars, 2 * kRightMargin);
    p.historyRequest = HistoryRequestSize(p.period, p.scale.visible);
    p.loaded = false;
}

void ChartView::SetPeriod(int picture, Period period) {
    if (picture < 0 || picture >= pictureCount() || !IsValidPeriod(period)) return;
    GraphPicture& p = pictures_[static_cast<size_t>(picture)];
    if (period == kPeriodTime && p.period != kPeriodTime) p.klinePeriod = p.period;
    p.period = period;
    p.scale.visible = std::max(options_.visibleBars, 2 * kRightMargin);
    p.historyRequest = HistoryRequestSize(period, p.scale.visible);
    p.loaded = false;
    LayoutPanes(p);
}

void ChartView::SetPanes(int picture, const std::vector<std::vector<std::pair<uint32_t, std::string>>>& panes) {
    if (picture < 0 || picture >= pictureCount()) return;
    GraphPicture& p = pictures_[static_cast<size_t>(picture)];
    const int n = std::clamp(static_cast<int>(panes.size()), 1, kMaxPanes);
    p.panes.clear();
    p.panes.resize(static_cast<size_t>(n));
    const std::vector<float> heights = FreshPaneHeights(
        n, std::max(p.outer.height() - static_cast<float>(options_.metrics.timeStripHeight()), 0.0f));
    for (int i = 0; i < n; ++i) {
        GraphPane& pane = p.panes[static_cast<size_t>(i)];
        pane.height = heights[static_cast<size_t>(i)];
        if (i >= static_cast<int>(panes.size())) continue;
        for (const auto& [type, name] : panes[static_cast<size_t>(i)]) {
            if (pane.indicators.size() >= 29) break;  // a 30th slot is refused
            std::optional<FormulaRecord> f = source_.Formula(type, name);
            if (!f) continue;
            PaneIndicator slot;
            slot.formula = std::move(*f);
            pane.indicators.push_back(std::move(slot));
        }
    }
    LayoutPanes(p);
}

bool ChartView::AddOverlay(int picture, const CodeEntry& security) {
    if (picture < 0 || picture >= pictureCount()) return false;
    GraphPicture& p = pictures_[static_cast<size_t>(picture)];
    if (!p.hasSecurity || 1 + static_cast<int>(p.overlays.size()) >= kMaxSecurities) return false;
    if (SameSecurity(p.security.id, security.id)) return false;
    for (const Overlay& o : p.overlays)
        if (SameSecurity(o.security.id, security.id)) return false;
    Overlay& o = p.overlays.emplace_back();
    o.security = security;
    o.kline.formula = p.kline.formula;  // a copy of the main security's K-line formula
    p.loaded = false;
    return true;
}

bool ChartView::RemoveOverlay(int picture, int index) {
    if (picture < 0 || picture >= pictureCount()) return false;
    GraphPicture& p = pictures_[static_cast<size_t>(picture)];
    if (index < 0 || index >= static_cast<int>(p.overlays.size())) return false;
    p.overlays.erase(p.overlays.begin() + index);
    return true;
}

void ChartView::LoadOverlays(GraphPicture& p) {
    for (Overlay& o : p.overlays) {
        Series raw;
        if (!source_.Load(o.security, p.period, options_.exRights, raw)) raw.clear();
        // Matched by time to the main bars; both run in time order.
        o.series.clear();
        o.series.period = p.period;
        KLineRecord none;
        none.open = none.high = none.low = none.close = NAN;
        size_t j = 0;
        for (const KLineRecord& b : p.series.bars) {
            while (j < raw.size() && raw.bars[j].time < b.time) ++j;
            if (j < raw.size() && raw.bars[j].time == b.time) {
                o.series.push(raw.bars[j]);
            } else {
                none.time = b.time;
                o.series.push(none);
            }
        }
    }
}

void ChartView::SetPaneCount(int picture, int n) {
    if (picture < 0 || picture >= pictureCount()) return;
    GraphPicture& p = pictures_[static_cast<size_t>(picture)];
    n = std::clamp(n, 1, kMaxPanes);
    if (n == static_cast<int>(p.panes.size())) return;
    std::vector<float> heights;
    for (const GraphPane& pane : p.panes) heights.push_back(pane.height);
    heights = ResizePaneHeights(heights, n,
                                std::max(p.outer.height() - static_cast<float>(options_.metrics.timeStripHeight()), 0.0f));
    p.panes.resize(static_cast<size_t>(n));
    for (size_t i = 0; i < p.panes.size(); ++i) p.panes[i].height = heights[i];
    LayoutPanes(p);
}

void ChartView::SetKLineKind(std::string_view name) {
    if (name != "K" && name != "BAR" && name != "PRICE") return;
    klineName_ = std::string(name);
    for (GraphPicture& p : pictures_) p.kline.formula.setName(klineName_);
}

void ChartView::SetScaleMode(int picture, int pane, int mode) {
    if (picture < 0 || picture >= pictureCount()) return;
    GraphPicture& p = pictures_[static_cast<size_t>(picture)];
    if (pane < 0 || pane >= static_cast<int>(p.panes.size())) return;
    p.panes[static_cast<size_t>(pane)].scaleMode = mode == kScalePercentage ? kScalePercentage : kScaleNormal;
}

void ChartView::SetExRights(uint8_t mode) {
    options_.exRights = mode;
    for (GraphPicture& p : pictures_) p.loaded = false;
}

Region ChartView::SetCursorBar(int picture, int bar) {
    if (picture < 0 || picture >= pictureCount()) return {};
    GraphPicture& p = pictures_[static_cast<size_t>(picture)];
    if (bar < 0 || bar >= static_cast<int>(p.series.size())) bar = -1;
    if (p.cursorBar == bar) return {};
    p.cursorBar = bar;
    // Only the titles follow the cursor: the information panel (which reads the quote record,
    // the trades and the minutes) stays as it is while the cursor moves.
    if (p.loaded && p.period != kPeriodTime) return Draw(p, -1);
    return Update(4, picture);
}

int ChartView::TextWidth(const std::string& text) const {
    return options_.measure ? options_.measure(text) : TextColumns(text) * options_.metrics.cx;
}

int16_t ChartView::KLineKind(const GraphPicture& p) const {
    if (p.period == kPeriodTick) return kKindTickCrosses;  // each trade a cross
    const std::string_view name = p.kline.formula.nameText();
    if (name == "BAR") return kKindUsBars;
    if (name == "PRICE") return kKindLine;
    return kKindCandles;
}

bool ChartView::MoveOrZoom(MoveKey key) {
    bool any = false;
    for (size_t i = 0; i < pictures_.size(); ++i) {
        GraphPicture& p = pictures_[i];
        if (p.period == kPeriodTime) continue;
        const MoveResult r = chart::MoveOrZoom(p.scale, key, static_cast<int>(p.series.size()), p.period);
        p.historyRequest += r.moreHistory;
        if (!r.changed) continue;
        any = true;
        p.scale.Layout(p.panes[0].rects.draw.left, p.panes[0].rects.draw.right);
    }
    return any;
}

void ChartView::Load(GraphPicture& p, bool keepFirst) {
    const int oldTotal = static_cast<int>(p.series.size());
    const bool wasLoaded = p.loaded;
    if (!p.hasSecurity || !source_.Load(p.security, p.period, options_.exRights, p.series)) p.series.clear();
    p.series.period = p.period;
    LoadOverlays(p);
    const int total = static_cast<int>(p.series.size());
    if (keepFirst && wasLoaded) {
        p.scale.first += total - oldTotal;
        p.scale.first = std::clamp(p.scale.first, 0, std::max(total + kRightMargin - p.scale.visible, 0));
        p.scale.shown = std::clamp(total - p.scale.first, 0, p.scale.visible);
    } else {
        ShowNewest(p.scale, total);
    }
    p.loaded = true;
}

void ChartView::EvaluateSlot(GraphPicture& p, PaneIndicator& slot) {
    slot.result.reset();
    slot.status = EvalStatus{};
    slot.items.clear();
    slot.rangeValid = false;
    if (p.series.empty()) {
        slot.status.failure = EvalFailure::kNoData;
        return;
    }
    slot.result = source_.Evaluate(slot.formula, p.security, p.series, p.period, options_.exRights, slot.status);
}

void ChartView::Evaluate(GraphPicture& p, int pane) {
    for (size_t i = 0; i < p.panes.size(); ++i) {
        if (pane >= 0 && static_cast<int>(i) != pane) continue;
        for (PaneIndicator& slot : p.panes[i].indicators) EvaluateSlot(p, slot);
    }
}

namespace {

// A small house-shaped mark, framed in 坐标.
void DrawExRightsMark(const ExRightsMark& m, ColorRef pen, DisplayList& list) {
    const int x = (m.box.left + m.box.right) / 2;
    const Point shape[] = {{x, m.box.top}, {m.box.right - 1, m.box.top + 4}, {m.box.right - 1, m.box.bottom - 1},
                           {m.box.left, m.box.bottom - 1}, {m.box.left, m.box.top + 4}};
    list.Polygon(shape, 5, pen, false, 0);
}

}  // namespace

void ChartView::Ranges(GraphPicture& p, int paneIndex) {
    const int first = p.scale.first, shown = p.scale.shown;
    BuildContext ctx;
    ctx.scale = &p.scale;
    ctx.firstVisible = first;
    ctx.scheme = &options_.scheme;
    ctx.emptyOver = options_.emptyOver;
    ctx.cy = options_.metrics.cy;
    ctx.serverTime = source_.MarketTime();
    ctx.series = &p.series;
    for (size_t i = 0; i < p.panes.size(); ++i) {
        if (paneIndex >= 0 && static_cast<int>(i) != paneIndex) continue;
        GraphPane& pane = p.panes[i];
        bool any = false;
        ValueRange range{-INFINITY, INFINITY};
        auto join = [&](const ValueRange& r) {
            range.max = std::max(range.max, r.max);
            range.min = std::min(range.min, r.min);
            any = true;
        };
        ValueRange r;
        if (i == 0 && SeriesRange(p.series, first, shown, r)) join(r);
        if (i == 0) {
            // Overlays: in percentage mode scaled to meet the main close at the first visible bar
            // (or at their first bar there); one without bars there joins nothing.
            const bool pct = pane.scaleMode == kScalePercentage;
            float mainRef = NAN;
            for (int k = first; k < first + shown && k < static_cast<int>(p.series.size()); ++k)
                if (std::isfinite(p.series.bars[static_cast<size_t>(k)].close) && p.series.bars[static_cast<size_t>(k)].close != 0) {
                    mainRef = p.series.bars[static_cast<size_t>(k)].close;
                    break;
                }
            for (Overlay& o : p.overlays) {
                float factor = 1;
                if (pct) {
                    float ref = NAN;
                    for (int k = first; k < first + shown && k < static_cast<int>(o.series.size()); ++k) {
                        const float c = o.series.bars[static_cast<size_t>(k)].close;
                        if (std::isfinite(c) && c != 0) {
                            ref = c;
                            break;
                        }
                    }
                    factor = std::isfinite(ref) && std::isfinite(mainRef) ? mainRef / ref : 1;
                }
                o.scaled = o.series;
                if (factor != 1)
                    for (KLineRecord& b : o.scaled.bars) {
                        b.open *= factor;
                        b.high *= factor;
                        b.low *= factor;
                        b.close *= factor;
                    }
                if (SeriesRange(o.scaled, first, shown, r)) join(r);
            }
        }
        for (PaneIndicator& slot : pane.indicators) {
            slot.rangeValid = false;
            if (!slot.result) continue;
            bool slotAny = false;
            ValueRange s{-INFINITY, INFINITY};
            for (const OutputLine& line : slot.result->lines) {
                if (!LineRange(line, first, shown, r)) continue;
                s.max = std::max(s.max, r.max);
                s.min = std::min(s.min, r.min);
                slotAny = true;
            }
            slot.rangeValid = slotAny;
            if (slotAny) slot.range = s;
            const bool counts = i > 0 ? slot.formula.type != kFormulaSelection && slot.formula.type != kFormulaColourKLine
                                      : !options_.klineScale && slot.formula.type == kFormulaMainOverlay;
            if (slotAny && counts) join(s);
        }
        pane.range = any ? range : ValueRange{};
        RepairRange(pane.range);
        pane.map.Set(pane.rects.draw.top, pane.rects.draw.bottom, pane.range);

        const bool percentage = i == 0 && pane.scaleMode == kScalePercentage;
        pane.reference = percentage && shown > 0 ? p.series.bars[static_cast<size_t>(first)].close : 0;
        PaneLevels(p, i, percentage);

        ctx.map = &pane.map;
        ctx.draw = pane.rects.draw;
        if (i == 0) {
            p.kline.items.clear();
            p.kline.items.push_back(BuildKLineItem(p.series, KLineKind(p), ctx));
            // The j-th security (the main one is the first) is drawn in 第j条指标线.
            for (size_t k = 0; k < p.overlays.size(); ++k) {
                Overlay& o = p.overlays[k];
                o.kline.items.clear();
                o.kline.items.push_back(BuildKLineItem(o.scaled, KLineKind(p), ctx, true,
                                                       options_.scheme.colors[IndicatorColor(static_cast<int>(k) + 2)]));
            }
        }
        for (PaneIndicator& slot : pane.indicators) {
            slot.items.clear();
            if (!slot.result) continue;
            // Signal formulas of the main pane: icons, or the K-line's colours.
            if (i == 0 && SelectionFormula(slot.formula.type)) {
                slot.items.push_back(BuildSignalIcons(slot, p.series, ctx));
                continue;
            }
            if (i == 0 && slot.formula.type == kFormulaColourKLine) {
                if (!p.kline.items.empty()) ApplyColourKLine(p.kline.items[0], slot, p.series, ctx);
                continue;
            }
            const std::string_view name = slot.formula.nameText();
            for (size_t k = 0; k < slot.result->lines.size(); ++k) {
                const OutputLineDesc* desc = k < slot.formula.outputs.size() ? &slot.formula.outputs[k] : nullptr;
                slot.items.push_back(BuildLineItem(slot.result->lines[k], desc, static_cast<int>(k), name, ctx));
            }
        }
    }
}

void ChartView::PaneLevels(GraphPicture& p, size_t i, bool percentage) {
    GraphPane& pane = p.panes[i];
    const PaneIndicator* lead = pane.indicators.empty() ? nullptr : &pane.indicators.front();
    if (lead && lead->formula.coordinateCount > 0) {
        pane.levels = Levels{};
        const uint32_t n = std::min<uint32_t>(lead->formula.coordinateCount, kMaxCoordinateLines);
        for (uint32_t k = 0; k < n; ++k)
            if (std::isfinite(lead->formula.coordinates[k])) pane.levels.values.push_back(lead->formula.coordinates[k]);
        std::sort(pane.levels.values.begin(), pane.levels.values.end());
        pane.scaleMode |= kScaleFixedLevels;
    } else {
        pane.scaleMode &= ~kScaleFixedLevels;
        LevelParams lp;
        lp.max = pane.map.range.max;
        lp.min = pane.map.range.min;
        lp.height = pane.rects.draw.height();
        lp.percentage = percentage;
        lp.reference = pane.reference;
        pane.levels = GridLevels(lp);
    }
    float widest = 0;
    for (float v : pane.levels.values)
        if (std::fabs(v) > std::fabs(widest)) widest = v;
    // Labels keep the decimals that tell their levels apart (a step of 0.005 in a price of
    // two decimals would print two levels alike).
    const int decimals = std::max(i == 0 ? p.decimals : 2, pane.levels.stepDecimals);
    pane.labels = FitAxisLabels(widest, decimals, percentage, pane.levels.base,
                                static_cast<int>(pane.rects.rightAxis.width()), options_.metrics.cx);
}

Region ChartView::DragReference(int picture, int pane, int dy) {
    if (picture < 0 || picture >= pictureCount()) return {};
    GraphPicture& p = pictures_[static_cast<size_t>(picture)];
    if (p.period == kPeriodTime || pane != 0 || p.panes.empty() || p.panes[0].scaleMode != kScalePercentage ||
        p.panes[0].reference == 0 || dy == 0)
        return {};
    GraphPane& g = p.panes[0];
    const float moved = g.reference - static_cast<float>(dy) / g.map.scale;
    if (!std::isfinite(moved) || moved == 0) return {};
    g.reference = moved;
    PaneLevels(p, 0, true);
    return Update(4, picture, 0);
}

void ChartView::TimeLabels(GraphPicture& p) {
    std::vector<int> centres;
    std::vector<StoreTime> times;
    for (int k = 0; k < p.scale.shown; ++k) {
        const size_t i = static_cast<size_t>(p.scale.first + k);
        if (i >= p.series.size()) break;
        centres.push_back(p.scale.CentrePixel(k));
        times.push_back(p.series.bars[i].time);
    }
    p.timeLabels = TimeAxisLabels(p.period, centres, times, options_.metrics.cx, options_.measure);
}

Region ChartView::Update(int level, int picture, int pane, bool keepFirst) {
    Region invalid;
    level = std::max(level, 0);
    for (size_t i = 0; i < pictures_.size(); ++i) {
        if (picture >= 0 && static_cast<int>(i) != picture) continue;
        GraphPicture& p = pictures_[i];
        int from = level;
        if (!p.loaded) from = 0;  // a new security, period or adjustment loads first
        if (p.period == kPeriodTime) {
            invalid.Add(UpdateTimeSharing(p, from));
            continue;
        }
        if (from <= 0) Load(p, keepFirst);
        if (from <= 1) {
            p.scale.Layout(p.panes[0].rects.draw.left, p.panes[0].rects.draw.right);
            const int total = static_cast<int>(p.series.size());
            p.scale.first = std::clamp(p.scale.first, 0, std::max(total + kRightMargin - p.scale.visible, 0));
            p.scale.shown = std::clamp(total - p.scale.first, 0, p.scale.visible);
        }
        if (from <= 2) Evaluate(p, from <= 1 ? -1 : pane);
        if (from <= 3) {
            Ranges(p, from <= 1 ? -1 : pane);
            TimeLabels(p);
            p.marks = ExRightsMarks(p);
        }
        if (from <= 4) invalid.Add(Draw(p, from <= 1 ? -1 : pane));
        invalid.Add(DrawPanel(p, ChartArea(p)));
    }
    return invalid;
}

std::string ChartView::ToText() const {
    std::string out;
    for (size_t i = 0; i < pictures_.size(); ++i) {
        const GraphPicture& p = pictures_[i];
        if (p.period == kPeriodTime && p.timeSharing) {
            out += "# picture " + std::to_string(i) + " time-sharing\n" + p.timeSharing->ToText();
            continue;
        }
        for (size_t k = 0; k < p.panes.size(); ++k) {
            out += "# picture " + std::to_string(i) + " pane " + std::to_string(k) + "\n";
            out += p.panes[k].list.ToText();
        }
        out += "# picture " + std::to_string(i) + " time axis\n";
        out += p.frame.ToText();
    }
    return out;
}

bool ChartView::StepTimeDays(int delta) {
    bool any = false;
    for (GraphPicture& p : pictures_) {
        if (p.period != kPeriodTime) continue;
        const int days = std::clamp(p.timeDays + delta, kMinTimeSharingDays, kMaxTimeSharingDays);
        if (days == p.timeDays) continue;
        p.timeDays = days;
        p.loaded = false;
        any = true;
    }
    return any;
}

bool ChartView::StepPanelMode(int delta) {
    bool any = false;
    for (int i = 0; i < pictureCount(); ++i) {
        const GraphPicture& p = pictures_[static_cast<size_t>(i)];
        const int modes = p.security.securityClass == kClassIndex ? 1 : kInfoPanelModes;
        const int base = p.panelMode < modes ? p.panelMode : 0;
        any |= SetPanelMode(i, ((base + delta) % modes + modes) % modes);
    }
    return any;
}

void ChartView::SetTimeDays(int picture, int days) {
    if (picture < 0 || picture >= pictureCount()) return;
    GraphPicture& p = pictures_[static_cast<size_t>(picture)];
    days = std::clamp(days, kMinTimeSharingDays, kMaxTimeSharingDays);
    if (days == p.timeDays) return;
    p.timeDays = days;
    p.loaded = false;
}

Region ChartView::UpdateTimeSharing(GraphPicture& p, int from) {
    if (!p.timeSharing) p.timeSharing = std::make_unique<TimeSharingPicture>();
    TimeSharingPicture& t = *p.timeSharing;
    TimeSharingOptions o;
    o.scheme = options_.scheme;
    o.metrics = options_.metrics;
    o.singlePicture = pictures_.size() == 1;
    o.hcoord = options_.hcoord;
    o.measure = options_.measure;
    t.SetOptions(o);
    t.SetDays(p.timeDays);
    if (from <= 0) {
        if (!p.hasSecurity || !source_.LoadMinuteDays(p.security, p.timeDays, p.series)) p.series.clear();
        p.series.period = kPeriodTime;
        p.loaded = true;
        TimeSharingData d;
        d.security = p.security;
        d.decimals = p.decimals;
        d.previousClose = p.series.quote.prevClose;
        d.minutes = p.series.bars;
        d.today = p.series.quote.bar.time != 0 ? p.series.quote.bar.time : source_.MarketTime();
        MinuteExtraDay extras;
        if (p.hasSecurity && p.security.securityClass == kClassIndex && source_.MinuteExtras(p.security, extras))
            d.breadth.assign(extras.begin(), extras.end());
        t.SetData(std::move(d));
    }
    const RectF chart = ChartArea(p);
    t.Layout(chart);
    const DisplayList oldMain = t.mainList(), oldVolume = t.volumeList(), oldZdl = t.zdlList(), oldFrame = t.frameList();
    t.Build();
    Region invalid;
    invalid.Add(DiffBounds(oldMain, t.mainList(), Pixels(t.mainRects().outer)));
    invalid.Add(DiffBounds(oldVolume, t.volumeList(), Pixels(t.volumeRects().outer)));
    invalid.Add(DiffBounds(oldZdl, t.zdlList(), Pixels(t.zdlRects().outer)));
    invalid.Add(DiffBounds(oldFrame, t.frameList(),
                           Pixels({p.outer.left, t.volumeRects().outer.bottom, p.outer.right, p.outer.bottom})));
    invalid.Add(DrawPanel(p, chart));
    return invalid;
}

bool ChartView::PanelShown(const GraphPicture& p) const {
    const float width = static_cast<float>(std::max(options_.infoPanelWidth, kInfoPanelMinWidth));
    return options_.infoPanel && p.outer.width() >= width + 200;
}

RectF ChartView::ChartArea(const GraphPicture& p) const {
    RectF r = p.outer;
    if (PanelShown(p)) r.right -= static_cast<float>(std::max(options_.infoPanelWidth, kInfoPanelMinWidth));
    return r;
}

void ChartView::ShowInfoPanel(bool shown) {
    options_.infoPanel = shown;
    LayoutPictures();
}

void ChartView::SetInfoPanelWidth(int width) {
    int widest = kInfoPanelMinWidth;
    for (const GraphPicture& p : pictures_) widest = std::max(widest, static_cast<int>(p.outer.width()) - 200);
    options_.infoPanelWidth = std::clamp(width, kInfoPanelMinWidth, widest);
    LayoutPictures();
}

bool ChartView::SetPanelMode(int picture, int mode) {
    if (picture < 0 || picture >= pictureCount()) return false;
    GraphPicture& p = pictures_[static_cast<size_t>(picture)];
    const bool index = p.security.securityClass == kClassIndex;
    if (ValidPanelMode(mode, index) != mode || mode == p.panelMode) return false;
    p.panelMode = mode;
    if (mode == kPanelModeFinance) p.panelScroll = 0;
    return true;
}

bool ChartView::ClickPanelTab(int picture, int tab) {
    if (picture < 0 || picture >= pictureCount()) return false;
    const int mode = pictures_[static_cast<size_t>(picture)].panelMode;
    // A click on 细 while it is shown switches to 价, and back.
    if (tab == kPanelModeTicks && (mode == kPanelModeTicks || mode == kPanelModePrices))
        return SetPanelMode(picture, mode == kPanelModeTicks ? kPanelModePrices : kPanelModeTicks);
    return SetPanelMode(picture, tab);
}

bool ChartView::ScrollPanel(int picture, int rows) {
    if (picture < 0 || picture >= pictureCount()) return false;
    GraphPicture& p = pictures_[static_cast<size_t>(picture)];
    if (p.panelMode != kPanelModeFinance) return false;
    const int scroll = ClampFinanceScroll(p.panelScroll + rows, p.panel.financeRowsVisible());
    if (scroll == p.panelScroll) return false;
    p.panelScroll = scroll;
    return true;
}

Region ChartView::DrawPanel(GraphPicture& p, const RectF& chart) {
    DisplayList panelList;
    const Rect box = Pixels({chart.right, p.outer.top, p.outer.right, p.outer.bottom});
    if (!PanelShown(p)) {
        p.panel.Hide();
    } else {
        auto data = std::make_unique<InfoPanelData>();  // a market record is 7 KB
        const bool index = p.security.securityClass == kClassIndex;
        data->security = p.security;
        data->decimals = p.decimals;
        data->mode = ValidPanelMode(p.panelMode, index);
        data->scroll = p.panelScroll;
        data->hasRecord = p.hasSecurity && source_.QuoteRecord(p.security, data->record);
        // An index's quote carries its rising and falling counts; none at all means not known.
        if (data->hasRecord && index && (data->record.quote.bar.count1 != 0 || data->record.quote.bar.count2 != 0)) {
            data->rising = data->record.quote.bar.count1;
            data->falling = data->record.quote.bar.count2;
        }
        // The newest minute of the index's breadth table, when there is one, has all three counts.
        MinuteExtraDay extras;
        if (index && p.hasSecurity && source_.MinuteExtras(p.security, extras))
            LatestBreadth(extras, data->rising, data->unchanged, data->falling);
        if ((data->mode == kPanelModeTicks || data->mode == kPanelModePrices) && p.hasSecurity && !index) {
            Series ticks;
            if (source_.Load(p.security, kPeriodTick, 1, ticks)) {
                data->ticks = std::move(ticks.bars);
                TradeVolumes(data->ticks);
            }
        }
        if ((data->mode == kPanelModeChart || data->mode == kPanelModeIndex) && p.hasSecurity) {
            // 势: the security's own minutes; 指: its market's index.
            CodeEntry shown = p.security;
            bool ok = data->mode == kPanelModeChart || source_.MarketIndex(p.security.id.market, shown);
            Series minutes;
            ok = ok && source_.Load(shown, kPeriodTime, 1, minutes);
            if (ok) {
                data->hasChart = true;
                data->chart.security = shown;
                data->chart.decimals = source_.Decimals(shown);
                data->chart.previousClose = minutes.quote.prevClose;
                data->chart.today = minutes.quote.bar.time != 0 ? minutes.quote.bar.time : source_.MarketTime();
                data->chart.minutes = std::move(minutes.bars);
            }
        }
        if (data->mode == kPanelModeBlocks && p.hasSecurity) {
            if (!p.panelBlocksRead) {
                p.panelBlocks = source_.BlocksOf(p.security);
                p.panelBlocksRead = true;
            }
            data->blocks = p.panelBlocks;
        }
        p.panel.Draw(box, options_.metrics.timeStripHeight(), *data, options_.scheme, options_.metrics,
                     options_.measure, panelList);
    }
    Region invalid = DiffBounds(p.panelList, panelList, box.empty() ? Pixels(p.outer) : box);
    std::swap(p.panelList, panelList);
    return invalid;
}

// ---- Drawing -----------------------------------------------------------------------------

Region ChartView::Draw(GraphPicture& p, int pane) {
    Region invalid;
    DisplayList list;
    for (size_t i = 0; i < p.panes.size(); ++i) {
        if (pane >= 0 && static_cast<int>(i) != pane) continue;
        GraphPane& g = p.panes[i];
        DrawPane(p, static_cast<int>(i), list);
        invalid.Add(DiffBounds(g.list, list, Pixels(g.rects.outer)));
        std::swap(g.list, list);
        list.Clear();
    }
    DrawFrame(p, list);
    const GraphPane& last = p.panes.back();
    invalid.Add(DiffBounds(p.frame, list, Pixels({p.outer.left, last.rects.outer.bottom, p.outer.right, p.outer.bottom})));
    std::swap(p.frame, list);
    return invalid;
}

void ChartView::DrawPane(GraphPicture& p, int index, DisplayList& list) {
    const GraphPane& pane = p.panes[static_cast<size_t>(index)];
    const ColorRef* colours = options_.scheme.colors;
    const ColorRef bg = colours[kColorBackground], axis = colours[kColorAxis];
    const ChartMetrics& m = options_.metrics;
    const Rect outer = Pixels(pane.rects.outer);
    const Rect draw = Pixels(pane.rects.draw);
    const Rect right = Pixels(pane.rects.rightAxis);
    if (outer.empty()) return;
    list.FillRect(outer, bg);
    // The pane's frame; the price axis is closed by its own frame.
    list.Rectangle({outer.left, outer.top, right.left + 1, outer.bottom + 1}, axis, false, 0);

    // Grid lines and price labels at the levels, one per 40 pixels from the bottom up.
    const bool fixed = (pane.scaleMode & kScaleFixedLevels) != 0;
    const bool percentage = (pane.scaleMode & 3) == kScalePercentage;
    int lastY = right.bottom;
    struct Label {
        int y;
        std::string text;
    };
    std::vector<Label> labels;
    for (float v : pane.levels.values) {
        const int y = pane.map.Y(v);
        if (y < draw.top || y >= draw.bottom) continue;
        const bool spaced = lastY - y >= 40;
        if ((options_.hcoord && spaced) || fixed)
            list.Line({draw.left + 1, y}, {draw.right - 1, y}, axis, 0, PenStyle::kSparse4);
        if (!spaced) continue;
        const int top = y - m.cy / 2;
        if (top < right.top || top + m.cy > right.bottom) continue;
        labels.push_back({y, FormatAxisLabel(v, pane.labels)});
        lastY = y;
    }
    if (percentage && pane.reference != 0) {
        const int y = pane.map.Y(pane.reference);
        if (y >= draw.top && y < draw.bottom) list.Line({draw.left + 1, y}, {draw.right - 1, y}, axis, 0, PenStyle::kSparse2);
    }
    if (options_.vcoord && index >= 0)
        for (const TimeLabel& t : p.timeLabels) list.Line({t.x, draw.top}, {t.x, draw.bottom}, axis, 0, PenStyle::kSparse4);

    // The items, clipped to the drawing rectangle.
    list.Clip({draw.left + 1, draw.top, draw.right - 1, draw.bottom});
    if (index == 0) {
        for (const RenderItem& item : p.kline.items) DrawItem(item, pane.rects.draw, list);
        for (const Overlay& o : p.overlays)
            for (const RenderItem& item : o.kline.items) DrawItem(item, pane.rects.draw, list);
        for (const ExRightsMark& m : p.marks) DrawExRightsMark(m, axis, list);
    }
    for (const PaneIndicator& slot : pane.indicators)
        for (const RenderItem& item : slot.items) DrawItem(item, pane.rects.draw, list);
    list.Clip({});

    // The price axis.
    list.Rectangle({right.left, right.top, right.right, right.bottom + 1}, axis, false, 0);
    for (const Label& l : labels)
        list.Text({right.left + 2, l.y - m.cy / 2, right.right - 3, l.y - m.cy / 2 + m.cy}, l.text, axis,
                  kAlignRight | kAlignVCenter);
    if (pane.labels.exponent > 0) {
        char marker[16];
        std::snprintf(marker, sizeof marker, "10^%d", pane.labels.exponent);
        const int len = TextColumns(marker);
        const Rect box{right.left + 2, right.bottom - 2 - (m.cy + 2), right.left + 4 + len * m.cx, right.bottom - 2};
        list.Rectangle(box, axis, true, bg);
        list.Text(box, marker, axis, kAlignHCenter | kAlignVCenter);
    }
    DrawTitle(p, index, list);
}

void ChartView::DrawTitle(GraphPicture& p, int index, DisplayList& list) {
    GraphPane& pane = p.panes[static_cast<size_t>(index)];
    const Rect title = Pixels(pane.rects.title);
    const ChartMetrics& m = options_.metrics;
    if (title.height() < m.cy) return;
    const ColorRef* colours = options_.scheme.colors;
    list.Clip(title);
    int x = title.left + 2;
    // In a view of several pictures the active picture's security names stand on 突出背景.
    const bool highlight = index == 0 && pictures_.size() > 1 && &p == &pictures_[static_cast<size_t>(active_)];
    auto run = [&](const std::string& text, ColorRef colour, bool onHighlight = false) {
        if (text.empty() || x >= title.right) return;
        const int w = TextWidth(text);
        if (onHighlight) list.FillRect({x, title.top, std::min(x + w, title.right), title.bottom}, colours[kColorHighlight]);
        list.Text({x, title.top + 1, x + w, title.top + 1 + m.cy}, text, colour, kAlignLeft | kAlignVCenter);
        x += w;
    };
    if (index == 0 && p.hasSecurity && !p.overlays.empty()) {
        // With overlays every security's name in its K-line colour, the overlays marked "+".
        run(GbkToUtf8(FieldText(p.security.name)) + " ", colours[IndicatorColor(1)], highlight);
        for (size_t k = 0; k < p.overlays.size(); ++k)
            run("+" + GbkToUtf8(FieldText(p.overlays[k].security.name)) + " ", colours[IndicatorColor(static_cast<int>(k) + 2)],
                highlight);
    } else if (index == 0 && pictures_.size() > 1 && p.hasSecurity) {
        run(GbkToUtf8(FieldText(p.security.name)) + " ", colours[kColorChartText], highlight);
    }
    const int decimals = index == 0 ? p.decimals : 2;
    const int bar = p.cursorBar >= 0 && p.cursorBar < static_cast<int>(p.series.size()) ? p.cursorBar
                                                                                        : p.scale.first + p.scale.shown - 1;
    for (PaneIndicator& slot : pane.indicators) {
        if (index == 0 && SignalFormula(slot.formula.type)) {
            // An 11-pixel legend: the formula's icon in its signal colour, or the colour K-line
            // symbol (icon 101) drawn in 图形文字 and filled in 阳线.
            const bool colourK = slot.formula.type == kFormulaColourKLine;
            RenderItem icon;
            icon.kind = kKindIcon;
            icon.colour = colourK ? colours[kColorChartText] : static_cast<ColorRef>(slot.formula.signalColour & 0xFFFFFF);
            icon.rise = colours[kColorRising];
            icon.iconType = colourK ? 101 : static_cast<uint8_t>(std::min<uint32_t>(slot.formula.signalIcon, 6));
            icon.hollow = false;
            icon.background = colours[kColorBackground];
            icon.barCount = 1;
            icon.stride = 2;
            icon.flags = {0};
            // Icons hang from their point (down, up or around it); each is kept inside the strip.
            const int mid = title.top + 1 + m.cy / 2;
            int y = mid;
            if (icon.iconType == 2 || icon.iconType == 4 || icon.iconType == 6 || icon.iconType == 101) y = mid - 5;
            if (icon.iconType == 3 || icon.iconType == 5) y = mid + 5;
            icon.coords = {x + 5, y};
            DrawItem(icon, pane.rects.title, list);
            slot.nameRect = {x, title.top, std::min(x + 11, title.right), title.bottom};
            x += 11;
            continue;
        }
        const int nameLeft = x;
        run(" " + GbkToUtf8(slot.formula.nameText()) + " ", colours[kColorChartText]);
        slot.nameRect = {nameLeft, title.top, std::min(x, title.right), title.bottom};
        if (!slot.result) {
            // Why a formula draws nothing: its period is disabled, or it is not for this kind of security.
            if (slot.status.failure == EvalFailure::kUnsupportedPeriod) run("该指标被禁用", colours[kColorAxis]);
            if (slot.status.failure == EvalFailure::kNotForSecurity)
                run(p.security.securityClass == kClassIndex ? "该指标只适用于个股" : "该指标只适用于指数", colours[kColorAxis]);
            continue;
        }
        for (size_t k = 0; k < slot.result->lines.size() && k < slot.items.size(); ++k) {
            const OutputLine& line = slot.result->lines[k];
            if (line.drawKind >= kDrawIcon) continue;
            std::string text = (k == 0 ? "" : ",") + GbkToUtf8(slot.formula.lineDisplayName(k)) + ":";
            const ColorRef colour = slot.items[k].colour;
            if (bar >= 0 && line.valid(bar) && std::isfinite(line.points[static_cast<size_t>(bar)].value)) {
                const float v = line.points[static_cast<size_t>(bar)].value;
                text += Format("%.*f", v, decimals);
                run(text, colour);
                if (line.valid(bar - 1)) {
                    const float prev = line.points[static_cast<size_t>(bar) - 1].value;
                    if (v > prev) run("↑", colours[kColorRising]);
                    else if (v < prev) run("↓", colours[kColorFalling]);
                }
            } else {
                run(text, colour);
            }
        }
    }
    list.Clip({});
}

void ChartView::DrawFrame(GraphPicture& p, DisplayList& list) {
    const ColorRef* colours = options_.scheme.colors;
    const ColorRef bg = colours[kColorBackground], axis = colours[kColorAxis];
    const GraphPane& last = p.panes.back();
    const Rect strip = Pixels({p.outer.left, last.rects.outer.bottom, last.rects.rightAxis.left, p.outer.bottom});
    const Rect box = Pixels({last.rects.rightAxis.left, last.rects.outer.bottom, ChartArea(p).right, p.outer.bottom});
    if (strip.height() <= 0) return;
    list.FillRect({strip.left, strip.top, box.right, strip.bottom}, bg);
    list.Rectangle({strip.left, strip.top, strip.right + 1, strip.bottom}, axis, false, 0);
    list.Rectangle(box, axis, false, 0);
    list.Clip(strip);
    const ChartMetrics& m = options_.metrics;
    for (const TimeLabel& t : p.timeLabels) {
        const int w = TextWidth(t.text) + 2;
        list.Line({t.x, strip.top}, {t.x, strip.top + 3}, axis);
        list.Text({t.x + 2, strip.top + 2, t.x + 2 + w, strip.top + 2 + m.cy}, t.text, axis, kAlignLeft | kAlignVCenter);
    }
    list.Clip({});
}

}  // namespace tessaro::chart
