#include "chart/info_panel.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <map>

#include "platform/text.h"

namespace tessaro::chart {

std::vector<std::string> InfoPanelTabs(bool index) {
    if (index) return {"细"};
    return {"细", "财", "势", "指", "板"};
}

int ValidPanelMode(int mode, bool index) {
    if (index) return 0;
    return (mode >= 0 && mode < kInfoPanelModes) || mode == kPanelModePrices ? mode : 0;
}

std::vector<PriceVolume> VolumeByPrice(const std::vector<KLineRecord>& trades, int decimals) {
    const double scale = std::pow(10.0, std::clamp(decimals, 0, 6));
    std::map<int64_t, PriceVolume, std::greater<>> byPrice;  // the price in its smallest unit
    for (const KLineRecord& t : trades) {
        if (!(t.close > 0) || !std::isfinite(t.close) || !(t.volume > 0) || !std::isfinite(t.volume)) continue;
        const double units = std::round(t.close * scale);
        if (units > 9e15) continue;
        PriceVolume& row = byPrice[static_cast<int64_t>(units)];
        row.price = static_cast<float>(units / scale);
        row.lots += t.volume;
    }
    std::vector<PriceVolume> rows;
    rows.reserve(byPrice.size());
    for (const auto& [units, row] : byPrice) rows.push_back(row);
    return rows;
}

int ClampFinanceScroll(int scroll, int visible) {
    return std::clamp(scroll, 0, std::max(kFinanceRowCount - std::max(visible, 0), 0));
}

std::string BlockRowText(const InfoPanelBlock& block) { return block.type + " ->> " + block.name; }

std::string BidRatioText(double bidLots, double askLots) {
    double ratio = 0;
    if (std::isfinite(bidLots) && std::isfinite(askLots) && bidLots >= 0 && askLots >= 0 && bidLots + askLots > 0)
        ratio = (bidLots - askLots) / (bidLots + askLots) * 100;
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.2f%%", ratio);
    return buf;
}

bool LatestBreadth(const MinuteExtraDay& extras, int& rising, int& unchanged, int& falling) {
    for (size_t i = extras.size(); i > 0; --i) {
        const MinuteExtra& f = extras[i - 1];
        if (static_cast<int32_t>(f.time) <= 0 || f.figures[0] < 0 || f.figures[1] < 0 || f.figures[2] < 0) continue;
        rising = f.figures[0];
        unchanged = f.figures[1];
        falling = f.figures[2];
        return true;
    }
    return false;
}

void TradeVolumes(std::vector<KLineRecord>& ticks) {
    double total = 0;
    for (KLineRecord& t : ticks) {
        const double v = std::isfinite(t.volume) ? t.volume : total;
        t.volume = static_cast<float>(std::max(v - total, 0.0));
        total = std::max(total, v);
    }
}

namespace {

constexpr int kSmallChartRows = 8;  // the least height of the small chart, in chart font lines

struct Painter {
    DisplayList& out;
    const ColorScheme& scheme;
    const ChartMetrics& m;
    const TextMeasure& measure;
    Rect box;
    int rowHeight;
    int y;
    int bottom;

    ColorRef C(int i) const { return scheme.colors[i]; }
    ColorRef Sign(int s) const { return C(s > 0 ? kColorListUp : s < 0 ? kColorListDown : kColorListFlat); }
    int Width(const std::string& t) const { return measure ? measure(t) : TextColumns(t) * m.cx; }
    bool Fits() const { return y + rowHeight <= bottom; }
    void Left(int x1, int x2, const std::string& t, ColorRef c) const {
        out.Text({x1, y, x2, y + rowHeight}, t, c, kAlignLeft | kAlignVCenter);
    }
    void Right(int x1, int x2, const std::string& t, ColorRef c) const {
        out.Text({x1, y, x2, y + rowHeight}, t, c, kAlignRight | kAlignVCenter);
    }
    void Separator() {
        if (y + 1 > bottom) return;
        out.Line({box.left, y}, {box.right, y}, C(kColorAxis));
        y += 1;
    }
};

// A field's cell as the quote list shows it.
QuoteCell Cell(const InfoPanelData& d, int field) {
    if (!d.hasRecord) return {};
    return ComputeQuoteField(field, d.record, d.decimals);
}

bool IsVolumeField(int field) {
    return field == kFieldVolume || field == kFieldLastVolume || field == kFieldBuySide || field == kFieldSellSide ||
           (field >= kFieldBidVolume1 && field < kFieldBidVolume1 + 5) || (field >= kFieldAskVolume1 && field < kFieldAskVolume1 + 5);
}

int QuoteRows(Painter& p, const InfoPanelData& d) {
    int rows = 0;
    const int x0 = p.box.left + 2, x1 = p.box.right - 2;
    const int mid = (p.box.left + p.box.right) / 2;
    auto value = [&](int field, int xa, int xb) {
        const QuoteCell c = Cell(d, field);
        const ColorRef colour = IsVolumeField(field) ? p.C(IndicatorColor(2)) : p.Sign(c.colorSign);
        p.Right(xa, xb, c.present ? c.text : std::string(), colour);
    };
    auto level = [&](const char* side, int n, int priceField, int volumeField) {
        if (!p.Fits()) return false;
        char label[16];
        std::snprintf(label, sizeof label, "%s%d", side, n);
        p.Left(x0, mid, label, p.C(kColorChartText));
        value(priceField, x0, mid + (x1 - mid) / 3);
        value(volumeField, mid, x1);
        p.y += p.rowHeight;
        ++rows;
        return true;
    };
    for (int n = 5; n >= 1; --n)
        if (!level("卖", n, kFieldAskPrice1 + n - 1, kFieldAskVolume1 + n - 1)) return rows;
    p.Separator();
    for (int n = 1; n <= 5; ++n)
        if (!level("买", n, kFieldBidPrice1 + n - 1, kFieldBidVolume1 + n - 1)) return rows;
    p.Separator();
    struct Pair {
        int left, right;
    };
    auto pairs = [&](std::initializer_list<Pair> list) {
        for (const Pair& pr : list) {
            if (!p.Fits()) return false;
            p.Left(x0, mid, std::string(QuoteFieldName(pr.left)), p.C(kColorChartText));
            value(pr.left, x0, mid - 4);
            p.Left(mid + 2, x1, std::string(QuoteFieldName(pr.right)), p.C(kColorChartText));
            value(pr.right, mid + 2, x1);
            p.y += p.rowHeight;
            ++rows;
        }
        p.Separator();
        return true;
    };
    if (!pairs({{kFieldLast, kFieldAvgPrice},
                {kFieldChange, kFieldPrevClose},
                {kFieldChangePct, kFieldOpen},
                {kFieldVolume, kFieldHigh},
                {kFieldAmount, kFieldLow},
                {kFieldTurnover, kFieldVolumeRatio}}))
        return rows;
    if (!pairs({{kFieldBidRatio, kFieldBidDiff}})) return rows;
    pairs({{kFieldBuySide, kFieldSellSide}});
    return rows;
}

int IndexRows(Painter& p, const InfoPanelData& d) {
    int rows = 0;
    const int x0 = p.box.left + 2, x1 = p.box.right - 2;
    static const std::pair<const char*, int> kRows[] = {
        {"昨日收盘", kFieldPrevClose}, {"今日开盘", kFieldOpen},     {"最高指数", kFieldHigh},
        {"最低指数", kFieldLow},       {"最新指数", kFieldLast},     {"指数涨跌", kFieldChange},
        {"指数涨幅", kFieldChangePct}, {"总成交量", kFieldVolume},   {"总成交额", kFieldAmount},
    };
    for (const auto& [label, field] : kRows) {
        if (!p.Fits()) return rows;
        p.Left(x0, x1, label, p.C(kColorChartText));
        const QuoteCell c = Cell(d, field);
        p.Right(x0, x1, c.present ? c.text : std::string(), field == kFieldVolume ? p.C(IndicatorColor(2)) : p.Sign(c.colorSign));
        p.y += p.rowHeight;
        ++rows;
    }
    p.Separator();
    if (!p.Fits()) return rows;
    const MarketCode market = d.security.id.market;
    p.Left(x0, x1, market == kMarketSH ? "上交所" : market == kMarketSZ ? "深交所" : "交易所", p.C(kColorChartText));
    // The breadth, right-aligned: rising, falling, unchanged from left to right.
    int right = x1;
    char buf[24];
    const std::pair<int, std::pair<const char*, int>> counts[] = {{d.unchanged, {"%d=", kColorListFlat}},
                                                                  {d.falling, {"%d↓", kColorListDown}},
                                                                  {d.rising, {"%d↑", kColorListUp}}};
    for (const auto& [count, fmt] : counts) {
        if (count < 0) continue;
        std::snprintf(buf, sizeof buf, fmt.first, count);
        const int w = p.Width(buf);
        p.Right(right - w, right, buf, p.C(fmt.second));
        right -= w + 4;
    }
    p.y += p.rowHeight;
    ++rows;
    double bid = 0, ask = 0;
    for (int i = 0; i < 5; ++i) {
        bid += Cell(d, kFieldBidVolume1 + i).value;
        ask += Cell(d, kFieldAskVolume1 + i).value;
    }
    const std::pair<const char*, std::string> tail[] = {
        {"委买手数", [&] { std::snprintf(buf, sizeof buf, "%.0f", bid); return std::string(buf); }()},
        {"委卖手数", [&] { std::snprintf(buf, sizeof buf, "%.0f", ask); return std::string(buf); }()},
        {"委比", BidRatioText(bid, ask)},
    };
    for (const auto& [label, text] : tail) {
        if (!p.Fits()) return rows;
        p.Left(x0, x1, label, p.C(kColorChartText));
        p.Right(x0, x1, text, p.C(kColorListFlat));
        p.y += p.rowHeight;
        ++rows;
    }
    return rows;
}

// The newest trades that fit the rest of the panel, oldest at the top: time, price coloured
// against the previous close, volume.
void TickRows(Painter& p, const InfoPanelData& d) {
    const int fit = p.rowHeight > 0 ? (p.bottom - p.y) / p.rowHeight : 0;
    if (fit <= 0) return;
    const size_t n = std::min(d.ticks.size(), static_cast<size_t>(fit));
    const float prev = d.hasRecord ? d.record.quote.prevClose : 0;
    const int x0 = p.box.left + 2, x1 = p.box.right - 2;
    const int third = (x1 - x0) / 3;
    char buf[32];
    for (size_t i = d.ticks.size() - n; i < d.ticks.size(); ++i) {
        const KLineRecord& t = d.ticks[i];
        const uint32_t tod = TimeOfDay(t.time);
        std::snprintf(buf, sizeof buf, "%02u:%02u", tod / 3600, tod / 60 % 60);
        p.Left(x0, x0 + third, buf, p.C(kColorChartText));
        if (std::isfinite(t.close) && t.close > 0) {
            std::snprintf(buf, sizeof buf, "%.*f", std::clamp(d.decimals, 0, 6), static_cast<double>(t.close));
            const int sign = prev > 0 ? (t.close > prev) - (t.close < prev) : 0;
            p.Right(x0, x0 + 2 * third, buf, p.Sign(sign));
        }
        if (std::isfinite(t.volume)) {
            std::snprintf(buf, sizeof buf, "%.0f", static_cast<double>(t.volume));
            p.Right(x0 + 2 * third, x1, buf, p.C(IndicatorColor(2)));
        }
        p.y += p.rowHeight;
    }
}

// 价: the lots traded at each price with their share of the day, highest price first; the rows
// that fit are chosen around the latest trade's price.
void PriceRows(Painter& p, const InfoPanelData& d) {
    const std::vector<PriceVolume> rows = VolumeByPrice(d.ticks, d.decimals);
    const int fit = p.rowHeight > 0 ? (p.bottom - p.y) / p.rowHeight : 0;
    if (fit <= 0 || rows.empty()) return;
    double total = 0;
    for (const PriceVolume& r : rows) total += r.lots;
    // The row of the latest priced trade.
    const double scale = std::pow(10.0, std::clamp(d.decimals, 0, 6));
    size_t latest = 0;
    const auto last = std::find_if(d.ticks.rbegin(), d.ticks.rend(),
                                   [](const KLineRecord& t) { return t.close > 0 && std::isfinite(t.close); });
    if (last != d.ticks.rend())
        for (size_t i = 0; i < rows.size(); ++i)
            if (std::round(rows[i].price * scale) == std::round(last->close * scale)) latest = i;
    const size_t shown = std::min(rows.size(), static_cast<size_t>(fit));
    const size_t first = std::min(latest > shown / 2 ? latest - shown / 2 : 0, rows.size() - shown);
    const float prev = d.hasRecord ? d.record.quote.prevClose : 0;
    const int x0 = p.box.left + 2, x1 = p.box.right - 2;
    const int third = (x1 - x0) / 3;
    char buf[32];
    for (size_t i = first; i < first + shown; ++i) {
        const PriceVolume& r = rows[i];
        std::snprintf(buf, sizeof buf, "%.*f", std::clamp(d.decimals, 0, 6), static_cast<double>(r.price));
        const int sign = prev > 0 ? (r.price > prev) - (r.price < prev) : 0;
        p.Left(x0, x0 + third, buf, p.Sign(sign));
        std::snprintf(buf, sizeof buf, "%.0f", r.lots);
        p.Right(x0, x0 + 2 * third, buf, p.C(IndicatorColor(2)));
        std::snprintf(buf, sizeof buf, "%.1f%%", total > 0 ? r.lots / total * 100 : 0.0);
        p.Right(x0 + 2 * third, x1, buf, p.C(kColorChartText));
        p.y += p.rowHeight;
    }
}

// The finance record as labelled rows from the scroll position on; returns the rows shown.
int FinanceRows(Painter& p, const InfoPanelData& d) {
    const int fit = p.rowHeight > 0 ? std::max((p.bottom - p.y) / p.rowHeight, 0) : 0;
    const int first = ClampFinanceScroll(d.scroll, fit);
    const int x0 = p.box.left + 2, x1 = p.box.right - 2;
    int shown = 0;
    for (int i = first; i < kFinanceRowCount && p.Fits(); ++i, ++shown) {
        const int field = kFinanceFirstField + i;
        p.Left(x0, x1, std::string(QuoteFieldName(field)), p.C(kColorChartText));
        const QuoteCell c = Cell(d, field);
        p.Right(x0, x1, c.present ? c.text : std::string(), p.C(IndicatorColor(2)));
        p.y += p.rowHeight;
    }
    return fit;
}

// "所属板块:" and a row per block; the rows' boxes are kept for clicks.
void BlockRows(Painter& p, const InfoPanelData& d, std::vector<Rect>& rows) {
    const int x0 = p.box.left + 2, x1 = p.box.right - 2;
    if (!p.Fits()) return;
    p.Left(x0, x1, "所属板块:", p.C(kColorChartText));
    p.y += p.rowHeight;
    for (const InfoPanelBlock& b : d.blocks) {
        if (!p.Fits()) return;
        p.Left(x0 + p.m.cx, x1, BlockRowText(b), p.C(IndicatorColor(2)));
        rows.push_back({p.box.left, p.y, p.box.right, p.y + p.rowHeight});
        p.y += p.rowHeight;
    }
}

}  // namespace

void InfoPanel::Draw(const Rect& box, int stripHeight, const InfoPanelData& data, const ColorScheme& scheme,
                     const ChartMetrics& metrics, const TextMeasure& measure, DisplayList& out) {
    tabs_.clear();
    blockRows_.clear();
    rows_ = 0;
    financeVisible_ = 0;
    box_ = box;
    if (box.empty()) return;
    out.FillRect(box, scheme.colors[kColorBackground]);
    out.Rectangle(box, scheme.colors[kColorAxis], false, 0);
    out.Clip(box);
    const int strip = std::clamp(stripHeight, 0, box.height());
    Painter p{out, scheme, metrics, measure, box, metrics.cy + 4, box.top + 1, box.bottom - strip};
    // The header: name at the left, code at the right, a line under them.
    if (p.Fits()) {
        const std::string name = GbkToUtf8(data.security.nameText());
        p.Left(box.left + 2, box.right - 2, name, p.C(IndicatorColor(2)));
        p.Right(box.left + 2, box.right - 2, std::string(data.security.id.codeText()), p.C(kColorFalling));
        p.y += p.rowHeight;
        p.Separator();
    }
    const bool index = data.security.securityClass == kClassIndex;
    const int mode = ValidPanelMode(data.mode, index);
    const bool chart = (mode == kPanelModeChart || mode == kPanelModeIndex) && data.hasChart;
    // The small chart keeps two fifths of the panel (at least the room for its panes); the
    // quote table drops the rows that do not fit above it.
    const int chartRoom = chart ? std::max(kSmallChartRows * metrics.cy + 2, (p.bottom - p.y) * 2 / 5) : 0;
    p.bottom -= chartRoom;
    if (mode <= 3 || mode == 6) rows_ = index ? IndexRows(p, data) : QuoteRows(p, data);
    p.bottom += chartRoom;
    if (mode == kPanelModeTicks && !data.ticks.empty()) TickRows(p, data);
    if (mode == kPanelModePrices) PriceRows(p, data);
    if (mode == kPanelModeFinance) financeVisible_ = FinanceRows(p, data);
    if (mode == kPanelModeBlocks) BlockRows(p, data, blockRows_);
    if (chart) {
        // The small chart fills what the quote table leaves when there is room for its panes.
        const int top = p.y + 1, bottom = box.bottom - strip - 1;
        if (bottom - top >= kSmallChartRows * metrics.cy) {
            TimeSharingOptions o;
            o.scheme = scheme;
            o.metrics = metrics;
            o.singlePicture = false;  // no left axis: the right one shows prices
            o.hcoord = true;
            o.measure = measure;
            chart_.SetOptions(o);
            chart_.SetData(data.chart);
            chart_.SetDays(1);
            chart_.Layout({static_cast<float>(box.left + 1), static_cast<float>(top), static_cast<float>(box.right - 1),
                           static_cast<float>(bottom)});
            chart_.Build();
            out.Append(chart_.mainList());
            out.Append(chart_.volumeList());
            out.Append(chart_.frameList());
            out.Clip(box);
        }
    }

    // The tabs along the bottom strip.
    const int top = box.bottom - strip;
    if (strip > 0) {
        out.Line({box.left, top}, {box.right, top}, p.C(kColorAxis));
        const std::vector<std::string> tabs = InfoPanelTabs(index);
        int x = box.left + 1;
        for (size_t i = 0; i < tabs.size(); ++i) {
            const int w = p.Width(tabs[i]) + 5;
            if (x + w > box.right) break;
            const Rect r{x, top, x + w, box.bottom - 1};
            tabs_.push_back(r);
            const Point outline[] = {{r.left, r.top}, {r.left, r.bottom - 1}, {r.right, r.bottom - 1}, {r.right, r.top}};
            out.Polyline(outline, 4, p.C(kColorAxis));
            const bool current = static_cast<int>(i) == mode || (i == 0 && mode == kPanelModePrices);
            out.Text(r, i == 0 && mode == kPanelModePrices ? std::string("价") : tabs[i],
                     current ? p.C(kColorListUp) : p.C(kColorChartText), kAlignHCenter | kAlignVCenter);
            x += w + 1;
        }
    }
    out.Clip({});
}

int InfoPanel::TabAt(Point pt) const {
    for (size_t i = 0; i < tabs_.size(); ++i) {
        const Rect& r = tabs_[i];
        if (pt.x >= r.left && pt.x < r.right && pt.y >= r.top && pt.y < r.bottom) return static_cast<int>(i);
    }
    return -1;
}

int InfoPanel::BlockAt(Point pt) const {
    for (size_t i = 0; i < blockRows_.size(); ++i) {
        const Rect& r = blockRows_[i];
        if (pt.x >= r.left && pt.x < r.right && pt.y >= r.top && pt.y < r.bottom) return static_cast<int>(i);
    }
    return -1;
}

bool InfoPanel::OnEdge(Point pt) const {
    return !box_.empty() && std::abs(pt.x - box_.left) <= 2 && pt.y >= box_.top && pt.y < box_.bottom;
}

}  // namespace tessaro::chart
