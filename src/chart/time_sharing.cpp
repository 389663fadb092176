#include "chart/time_sharing.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "market/periods.h"
#include "platform/text.h"

namespace tessaro::chart {

namespace {

std::string Printf(const char* format, double v, int decimals) {
    char buf[64];
    std::snprintf(buf, sizeof buf, format, decimals, v);
    return buf;
}

// count + 1 levels evenly over a range, bottom to top.
std::vector<float> EvenLevels(const ValueRange& r, int count) {
    std::vector<float> out;
    for (int i = 0; i <= count; ++i)
        out.push_back(r.min + (r.max - r.min) * static_cast<float>(i) / static_cast<float>(count));
    return out;
}

// The breadth-table entry of a minute of `day`: by its minute slot; none for a minute without a
// time, of another day or without a slot in the table.
const MinuteExtra* DayExtra(const KLineRecord& m, const std::vector<MinuteExtra>& extras, uint32_t day) {
    if (m.time == 0 || StoreDay(m.time) != day) return nullptr;
    const int slot = MinuteSlotIndex(TimeOfDay(m.time), true);
    if (slot < 0 || static_cast<size_t>(slot) >= extras.size()) return nullptr;
    return &extras[static_cast<size_t>(slot)];
}

}  // namespace

int TimeSharingDivisions(float h, int cy) {
    const float c = 1.5f * static_cast<float>(std::max(cy, 1));
    if (!(h >= c)) return 1;
    if (h <= 7.0f * c) return std::max(RoundPixel(h / c), 1);  // 10.5 cy = 7 x 1.5 cy
    return 7;
}

int AveragePriceLot(uint16_t securityClass) {
    if (securityClass == kClassIndex) return 0;
    if (securityClass == kClassBond) return 10;
    return 100;
}

bool UsableMinute(const KLineRecord& m) { return m.time != 0 && std::isfinite(m.close) && m.close > 0; }

std::vector<float> AveragePrices(const std::vector<KLineRecord>& minutes, int lot) {
    std::vector<float> out;
    if (lot <= 0) return out;
    out.resize(minutes.size(), NAN);
    double amount = 0, volume = 0;
    uint32_t day = 0;
    bool any = false;
    for (size_t i = 0; i < minutes.size(); ++i) {
        const KLineRecord& m = minutes[i];
        if (m.time == 0) continue;
        if (!any || StoreDay(m.time) != day) {
            amount = volume = 0;
            day = StoreDay(m.time);
            any = true;
        }
        if (std::isfinite(m.volume) && std::isfinite(m.amount) && m.volume > 0 && m.amount >= 0) {
            amount += m.amount;
            volume += m.volume;
        }
        if (volume > 0)
            out[i] = static_cast<float>(amount / (volume * lot));
        else if (UsableMinute(m))
            out[i] = m.close;
    }
    return out;
}

ValueRange TimeSharingRange(const std::vector<KLineRecord>& minutes, const std::vector<float>& averages,
                            size_t first, float previousClose) {
    ValueRange r{-INFINITY, INFINITY};
    bool any = false;
    auto take = [&](float v) {
        if (!std::isfinite(v) || v <= 0) return;
        r.max = std::max(r.max, v);
        r.min = std::min(r.min, v);
        any = true;
    };
    for (size_t i = first; i < minutes.size(); ++i) {
        if (!UsableMinute(minutes[i])) continue;
        take(minutes[i].close);
        if (i < averages.size()) take(averages[i]);
    }
    const float ref = std::isfinite(previousClose) && previousClose > 0 ? previousClose : 0;
    if (!any) r = ref > 0 ? ValueRange{ref, ref} : ValueRange{0, 0};
    RepairCentredRange(r, ref);
    return r;
}

float BreadthG(int rising, int unchanged, int falling) {
    const int64_t total = int64_t{rising} + unchanged + falling;
    if (total <= 0) return 0;
    return static_cast<float>(static_cast<double>(int64_t{rising} - falling) / static_cast<double>(total));
}

std::vector<float> BreadthBars(const std::vector<KLineRecord>& minutes, const std::vector<MinuteExtra>& extras,
                               uint32_t day) {
    std::vector<float> out(minutes.size(), NAN);
    bool first = true;
    float prev = 0;
    for (size_t i = 0; i < minutes.size(); ++i) {
        const MinuteExtra* f = DayExtra(minutes[i], extras, day);
        if (!f) continue;
        const float g = BreadthG(f->figures[0], f->figures[1], f->figures[2]);
        out[i] = first ? g : (g + prev) / 2;
        prev = g;
        first = false;
    }
    return out;
}

std::vector<float> TurnoverLine(const std::vector<KLineRecord>& minutes, const std::vector<MinuteExtra>& extras,
                                size_t first, size_t count) {
    std::vector<float> out(count, NAN);
    if (count == 0 || first + count > minutes.size()) return out;
    const uint32_t today = StoreDay(minutes[first + count - 1].time);
    float value = NAN;
    for (size_t k = 0; k < count; ++k) {
        const MinuteExtra* f = DayExtra(minutes[first + k], extras, today);
        if (!f) continue;
        const float v = f->value;
        if (std::isfinite(v) && v >= 0.000001f) value = v;
        out[k] = value;
    }
    return out;
}

AdvanceDeclineLines AdvanceDeclineMinutes(const std::vector<KLineRecord>& minutes,
                                          const std::vector<MinuteExtra>& extras, uint32_t day) {
    AdvanceDeclineLines out;
    out.rising.assign(minutes.size(), NAN);
    out.falling.assign(minutes.size(), NAN);
    out.difference.assign(minutes.size(), NAN);
    float lo = INFINITY, hi = -INFINITY, m = 0;
    for (size_t i = 0; i < minutes.size(); ++i) {
        const MinuteExtra* f = DayExtra(minutes[i], extras, day);
        if (!f) continue;
        const float r = static_cast<float>(f->figures[0]), d = static_cast<float>(f->figures[2]);
        out.rising[i] = r;
        out.falling[i] = d;
        lo = std::min({lo, r, d});
        hi = std::max({hi, r, d});
        m = std::max(m, std::fabs(r - d));
    }
    if (!(lo <= hi)) return out;
    out.mid = (lo + hi) / 2;
    const float s = m < 0.000001f ? 1.0f : 0.8f * out.mid / m;
    for (size_t i = 0; i < minutes.size(); ++i)
        if (std::isfinite(out.rising[i])) out.difference[i] = s * (out.rising[i] - out.falling[i]) + out.mid;
    return out;
}

std::string PercentLabel(float level, float middle) {
    if (!std::isfinite(level) || !std::isfinite(middle) || middle == 0) return "0.00%";
    double pct = (static_cast<double>(level) - middle) / middle * 100.0;
    if (!(std::fabs(pct) > 0.1)) pct = 0;
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.2f%%", pct);
    return buf;
}

std::vector<StoreTime> SlotTimes(const std::vector<KLineRecord>& minutes, size_t first, int count, StoreTime today) {
    std::vector<StoreTime> out;
    out.reserve(static_cast<size_t>(std::max(count, 0)));
    // The last known day and slot, from the newest minute with a time.
    StoreTime lastTime = 0;
    for (size_t i = std::min(first + static_cast<size_t>(std::max(count, 0)), minutes.size()); i > 0; --i)
        if (minutes[i - 1].time != 0) {
            lastTime = minutes[i - 1].time;
            break;
        }
    int64_t day = lastTime != 0 ? StoreDay(lastTime) : StoreDay(today);
    int slot = lastTime != 0 ? BarSlotOfTime(kPeriodTime, TimeOfDay(lastTime)) : -1;
    for (int k = 0; k < count; ++k) {
        const size_t i = first + static_cast<size_t>(k);
        if (i < minutes.size() && minutes[i].time != 0) {
            out.push_back(minutes[i].time);
            continue;
        }
        if (i < minutes.size()) {  // a minute without a time: take the slot after the previous one
            const StoreTime prev = out.empty() ? 0 : out.back();
            out.push_back(prev);
            continue;
        }
        // The last day is continued up to its close; later slots have no time.
        if (slot + 1 >= kSlotsPerDay) {
            out.push_back(0);
            continue;
        }
        ++slot;
        out.push_back(static_cast<StoreTime>(day * kSecondsPerDay + BarSlotLabel(kPeriodTime, slot)));
    }
    return out;
}

std::vector<TimeLabel> TimeSharingLabels(const std::vector<StoreTime>& times, const std::vector<int>& xs, int days,
                                         bool singlePicture, int rightEdge) {
    std::vector<TimeLabel> out;
    const size_t n = std::min(times.size(), xs.size());
    int64_t prevDay = -1;
    for (size_t k = 0; k < n; ++k) {
        const StoreTime t = times[k];
        if (t == 0) continue;
        const int64_t day = StoreDay(t);
        const uint32_t tod = TimeOfDay(t);
        const int hour = static_cast<int>(tod / 3600), minute = static_cast<int>(tod / 60 % 60);
        char buf[48];
        if (day != prevDay) {
            const CivilDate d = CivilFromDay(static_cast<int32_t>(day));
            if (days <= 1) {
                if (singlePicture)
                    std::snprintf(buf, sizeof buf, "%04d/%02d/%02d %2d:%2d", d.year, d.month, d.day, hour,
                                  minute / 10 * 10);
                else
                    std::snprintf(buf, sizeof buf, "%02d:%02d", hour, minute);
            } else if (out.empty()) {
                std::snprintf(buf, sizeof buf, "%04d/%02d/%02d", d.year, d.month, d.day);
            } else {
                std::snprintf(buf, sizeof buf, "%02d/%02d", d.month, d.day);
            }
            prevDay = day;
            out.push_back({xs[k], buf, static_cast<int>(k)});
            continue;
        }
        if (days <= 1 && tod % 60 == 0 && (tod / 60) % 30 == 0) {
            if (out.size() % 2 == 0) {
                std::snprintf(buf, sizeof buf, "%02d:%02d", hour, minute);
                out.push_back({xs[k], buf, static_cast<int>(k)});
            } else {
                out.push_back({xs[k], "", static_cast<int>(k)});
            }
        }
    }
    // In a one-day picture the close (15:00) stands at the right edge.
    if (days <= 1 && !out.empty()) out.back().x = rightEdge;
    return out;
}

// ---- The picture -----------------------------------------------------------------------

TimeSharingPicture::TimeSharingPicture(TimeSharingOptions options) : options_(std::move(options)) {}

void TimeSharingPicture::SetData(TimeSharingData data) { data_ = std::move(data); }

void TimeSharingPicture::SetDays(int days) { days_ = std::clamp(days, kMinTimeSharingDays, kMaxTimeSharingDays); }

bool TimeSharingPicture::StepDays(int delta) {
    const int old = days_;
    SetDays(days_ + delta);
    return days_ != old;
}

int TimeSharingPicture::TextWidth(const std::string& text) const {
    return options_.measure ? options_.measure(text) : TextColumns(text) * options_.metrics.cx;
}

bool TimeSharingPicture::hasZdl() const {
    return data_.security.securityClass == kClassIndex && !data_.breadth.empty();
}

void TimeSharingPicture::Layout(const RectF& outer) {
    outer_ = outer;
    SplitPanes();
}

void TimeSharingPicture::SplitPanes() {
    const RectF& outer = outer_;
    const ChartMetrics& m = options_.metrics;
    const float available = std::max(outer.height() - static_cast<float>(m.timeStripHeight()), 0.0f);
    const bool zdl = zdlShown(), volume = volumeShown();
    const std::vector<float> heights = FreshPaneHeights(1 + (zdl ? 1 : 0) + (volume ? 1 : 0), available);
    PaneLayoutOptions o;
    o.timeSharing = true;
    o.singlePicture = options_.singlePicture;
    float top = outer.top;
    main_.rects = LayoutPane({outer.left, top, outer.right, top + heights[0]}, m, o);
    top += heights[0];
    volume_.rects = volume ? LayoutPane({outer.left, top, outer.right, top + heights[1]}, m, o) : PaneRects{};
    if (volume) top += heights[1];
    zdl_.rects = zdl ? LayoutPane({outer.left, top, outer.right, top + heights.back()}, m, o) : PaneRects{};
}

void TimeSharingPicture::Build() {
    SplitPanes();  // the data decides whether the "ZDL" pane is there
    const std::vector<KLineRecord>& minutes = data_.minutes;
    const int n = slotCount();
    const size_t total = minutes.size();
    first_ = total > static_cast<size_t>(n) ? total - static_cast<size_t>(n) : 0;
    scale_.visible = n;
    scale_.first = static_cast<int>(first_);
    scale_.shown = static_cast<int>(std::min(total - first_, static_cast<size_t>(n)));
    scale_.Layout(main_.rects.draw.left, main_.rects.draw.right);

    averages_ = AveragePrices(minutes, AveragePriceLot(data_.security.securityClass));
    // An index's turnover over the minutes shown (its line and its title's value).
    turnover_.clear();
    if (hasZdl() && scale_.shown > 0)
        turnover_ = TurnoverLine(minutes, data_.breadth, first_, static_cast<size_t>(scale_.shown));

    // Main pane: symmetric around the previous close, divided per half.
    const int cy = options_.metrics.cy;
    {
        const ValueRange r = TimeSharingRange(minutes, averages_, first_, data_.previousClose);
        main_.map.Set(main_.rects.draw.top, main_.rects.draw.bottom, r);
        const float h = (main_.rects.draw.bottom - 1) - (main_.rects.draw.top + 1);
        const int per = TimeSharingDivisions(h / 2, cy);
        const float mid = (r.max + r.min) / 2, d = (r.max - r.min) / 2;
        main_.levels.clear();
        for (int i = -per; i <= per; ++i) main_.levels.push_back(mid + d * static_cast<float>(i) / static_cast<float>(per));
    }
    // Volume pane: 0 up to the largest minute volume.
    {
        ValueRange r{0, 0};
        for (size_t i = first_; i < total; ++i)
            if (minutes[i].time != 0 && std::isfinite(minutes[i].volume)) r.max = std::max(r.max, minutes[i].volume);
        if (!(r.max > 0)) r = ValueRange{};
        volume_.map.Set(volume_.rects.draw.top, volume_.rects.draw.bottom, r);
        const float h = (volume_.rects.draw.bottom - 1) - (volume_.rects.draw.top + 1);
        volume_.levels = EvenLevels(volume_.map.range, TimeSharingDivisions(h, cy));
    }
    // Time labels over every slot, the empty ones beyond the data included.
    std::vector<int> xs(static_cast<size_t>(n));
    for (int k = 0; k < n; ++k) xs[static_cast<size_t>(k)] = scale_.CentrePixel(k);
    labels_ = TimeSharingLabels(SlotTimes(minutes, first_, n, data_.today), xs, days_, options_.singlePicture,
                                RoundPixel(main_.rects.draw.right) - 1);

    main_.list.Clear();
    volume_.list.Clear();
    zdl_.list.Clear();
    frame_.Clear();
    DrawMain();
    DrawVolume();
    DrawZdl();
    DrawFrame();
}

void TimeSharingPicture::DrawGridAndTimeLines(const Pane& pane, bool mainPane, DisplayList& list) const {
    const ColorRef axis = options_.scheme.colors[kColorAxis];
    const Rect draw = Pixels(pane.rects.draw);
    const size_t count = pane.levels.size();
    for (size_t i = 1; i + 1 < count; ++i) {
        const int y = pane.map.Y(pane.levels[i]);
        const bool middle = mainPane && i * 2 + 1 == count;
        if (middle) {
            list.Line({draw.left + 1, y - 1}, {draw.right - 1, y - 1}, axis);
            list.Line({draw.left + 1, y + 1}, {draw.right - 1, y + 1}, axis);
        } else if (options_.hcoord) {
            list.Line({draw.left + 1, y}, {draw.right - 1, y}, axis);
        }
    }
    for (const TimeLabel& t : labels_) {
        if (t.x <= draw.left || t.x >= draw.right - 1) continue;
        list.Line({t.x, draw.top}, {t.x, draw.bottom}, axis, 0, t.text.empty() ? PenStyle::kSparse2 : PenStyle::kSolid);
    }
}

void TimeSharingPicture::DrawTitle(const Pane& pane, bool mainPane, DisplayList& list) const {
    const Rect title = Pixels(pane.rects.title);
    const ChartMetrics& m = options_.metrics;
    if (title.height() < m.cy) return;
    const ColorRef* c = options_.scheme.colors;
    list.Clip(title);
    int x = title.left + 2;
    const int y = title.top + (title.height() - m.cy) / 2;
    // Whole pieces only: a piece that does not fit ends the title rather than showing a name
    // without its value.
    auto run = [&](const std::string& text, ColorRef colour) {
        if (text.empty() || x >= title.right) return;
        const int w = TextWidth(text);
        if (x + w > title.right) {
            x = title.right;
            return;
        }
        list.Text({x, y, x + w, y + m.cy}, text, colour, kAlignLeft | kAlignVCenter);
        x += w + m.cx;
    };
    const int last = scale_.shown - 1;
    const size_t li = first_ + static_cast<size_t>(std::max(last, 0));
    const bool has = last >= 0 && li < data_.minutes.size();
    if (mainPane) {
        std::string name = GbkToUtf8(data_.security.nameText());
        if (days_ > 1) name += Printf("(%.*f日分时)", days_, 0);
        run(name, c[kColorChartText]);
        std::string price = "趋势线";
        if (has && UsableMinute(data_.minutes[li])) price += ":" + Printf("%.*f", data_.minutes[li].close, data_.decimals);
        run(price, c[kColorTrendLine]);
        if (hasZdl() && has) {
            // The turnover of the last minute, in units of 10 000 yuan.
            std::string text = "成交额(万)";
            if (!turnover_.empty() && std::isfinite(turnover_.back())) text += ":" + Printf("%.*f", turnover_.back() / 10000, 0);
            run(text, c[IndicatorColor(2)]);
        }
        if (!averages_.empty()) {
            std::string avg = "均线";
            if (has && std::isfinite(averages_[li])) avg += ":" + Printf("%.*f", averages_[li], data_.decimals);
            run(avg, c[IndicatorColor(2)]);
        }
    } else {
        std::string vol = "成交量";
        if (has && std::isfinite(data_.minutes[li].volume)) vol += ":" + Printf("%.*f", data_.minutes[li].volume, 0);
        run(vol, c[IndicatorColor(2)]);
    }
    list.Clip({});
}

void TimeSharingPicture::DrawMain() {
    DisplayList& list = main_.list;
    const ColorRef* c = options_.scheme.colors;
    const ColorRef bg = c[kColorBackground], axis = c[kColorAxis];
    const ChartMetrics& m = options_.metrics;
    const Rect outer = Pixels(main_.rects.outer), draw = Pixels(main_.rects.draw);
    const Rect left = Pixels(main_.rects.leftAxis), right = Pixels(main_.rects.rightAxis);
    priceRuns_.clear();
    if (outer.empty()) return;
    list.FillRect(outer, bg);
    list.Rectangle({left.right > left.left ? left.right - 1 : outer.left, outer.top, right.left + 1, outer.bottom + 1},
                   axis, false, 0);
    DrawGridAndTimeLines(main_, true, list);

    // The price line, broken at each day change and at minutes without a time or a price.
    const std::vector<KLineRecord>& minutes = data_.minutes;
    list.Clip({draw.left + 1, draw.top, draw.right - 1, draw.bottom});
    const float ref = (main_.map.range.max + main_.map.range.min) / 2;
    if (scale_.shown > 0 && minutes[first_].volume > 0 && UsableMinute(minutes[first_])) {
        const Point a{draw.left + 1, main_.map.Y(ref)}, b{scale_.CentrePixel(0), main_.map.Y(minutes[first_].close)};
        list.Line(a, b, c[kColorTrendLine]);
    }
    std::vector<Point> run;
    auto flush = [&](std::vector<std::vector<Point>>* keep, ColorRef colour) {
        if (run.size() >= 2) list.Polyline(run.data(), run.size(), colour);
        if (keep && !run.empty()) keep->push_back(run);
        run.clear();
    };
    int64_t prevDay = -1;
    for (int k = 0; k < scale_.shown; ++k) {
        const KLineRecord& mm = minutes[first_ + static_cast<size_t>(k)];
        if (mm.time == 0) {
            flush(&priceRuns_, c[kColorTrendLine]);
            continue;
        }
        const int64_t day = StoreDay(mm.time);
        const bool newDay = prevDay >= 0 && day != prevDay;
        prevDay = day;
        if (newDay || !UsableMinute(mm)) {
            flush(&priceRuns_, c[kColorTrendLine]);
            continue;
        }
        run.push_back({scale_.CentrePixel(k), main_.map.Y(mm.close)});
    }
    flush(&priceRuns_, c[kColorTrendLine]);
    // The average price, restarting each day.
    if (!averages_.empty()) {
        prevDay = -1;
        for (int k = 0; k < scale_.shown; ++k) {
            const size_t i = first_ + static_cast<size_t>(k);
            const float v = averages_[i];
            const int64_t day = minutes[i].time != 0 ? static_cast<int64_t>(StoreDay(minutes[i].time)) : -1;
            if (!std::isfinite(v) || day < 0 || (prevDay >= 0 && day != prevDay)) flush(nullptr, c[IndicatorColor(2)]);
            if (day >= 0) prevDay = day;
            if (std::isfinite(v) && day >= 0) run.push_back({scale_.CentrePixel(k), main_.map.Y(v)});
        }
        flush(nullptr, c[IndicatorColor(2)]);
    }
    // An index: the breadth bars of today from the previous-close line, and the line of the
    // breadth table's values (the turnover) carried over empty minutes. The turnover is no price:
    // its line gets its own scale, 0 at the bottom of the pane up to the day's largest at the top.
    if (hasZdl() && scale_.shown > 0) {
        const std::vector<float>& turnover = turnover_;
        const uint32_t today = StoreDay(minutes[first_ + static_cast<size_t>(scale_.shown) - 1].time);
        const std::vector<float> bars = BreadthBars(minutes, data_.breadth, today);
        const int y0 = main_.map.Y(ref);
        const float third = static_cast<float>(draw.height()) / 3;
        ValueRange tr;
        tr.max = 0;
        tr.min = 0;
        for (float v : turnover)
            if (std::isfinite(v)) tr.max = std::max(tr.max, v);
        ValueMap tm;
        tm.Set(main_.rects.draw.top, main_.rects.draw.bottom, tr);
        for (int k = 0; k < scale_.shown; ++k) {
            const size_t i = first_ + static_cast<size_t>(k);
            if (!std::isfinite(bars[i])) continue;
            const int len = RoundPixel(bars[i] * third);
            if (len != 0)
                list.Line({scale_.CentrePixel(k), y0}, {scale_.CentrePixel(k), y0 - len},
                          bars[i] > 0 ? c[kColorListUp] : c[kColorListDown]);
        }
        if (tr.max > 0)
            for (int k = 0; k < scale_.shown; ++k)
                if (std::isfinite(turnover[static_cast<size_t>(k)]))
                    run.push_back({scale_.CentrePixel(k), tm.Y(turnover[static_cast<size_t>(k)])});
        flush(nullptr, c[IndicatorColor(2)]);
    }
    list.Clip({});

    // Axes: prices at the left, percentages at the right (prices when there is no left axis).
    list.Rectangle({right.left, right.top, right.right, right.bottom + 1}, axis, false, 0);
    const size_t count = main_.levels.size();
    const float mid = main_.levels[count / 2];
    // The security's decimals, more when two levels would print alike (a narrow range).
    int decimals = std::clamp(data_.decimals, 0, 6);
    for (bool alike = true; alike && decimals < 4;) {
        alike = false;
        for (size_t i = 1; i < count; ++i)
            if (Printf("%.*f", main_.levels[i], decimals) == Printf("%.*f", main_.levels[i - 1], decimals)) alike = true;
        if (alike) ++decimals;
    }
    for (size_t i = 0; i < count; ++i) {
        const float v = main_.levels[i];
        const int y = main_.map.Y(v);
        const ColorRef colour = i * 2 + 1 == count ? c[kColorListFlat] : (i * 2 + 1 > count ? c[kColorListUp] : c[kColorListDown]);
        int top = std::clamp(y - m.cy / 2, outer.top, outer.bottom - m.cy);
        const std::string price = Printf("%.*f", v, decimals);
        if (left.width() > 0)
            list.Text({left.left + 2, top, left.right - 3, top + m.cy}, price, colour, kAlignRight | kAlignVCenter);
        const std::string rightText = left.width() > 0 ? PercentLabel(v, mid) : price;
        list.Text({right.left + 3, top, right.right - 2, top + m.cy}, rightText, colour, kAlignLeft | kAlignVCenter);
    }
    DrawTitle(main_, true, list);
}

void TimeSharingPicture::DrawVolume() {
    DisplayList& list = volume_.list;
    const ColorRef* c = options_.scheme.colors;
    const ColorRef bg = c[kColorBackground], axis = c[kColorAxis], colour = c[IndicatorColor(2)];
    const Rect outer = Pixels(volume_.rects.outer), draw = Pixels(volume_.rects.draw);
    const Rect left = Pixels(volume_.rects.leftAxis), right = Pixels(volume_.rects.rightAxis);
    if (outer.empty()) return;
    list.FillRect(outer, bg);
    list.Rectangle({left.right > left.left ? left.right - 1 : outer.left, outer.top, right.left + 1, outer.bottom + 1},
                   axis, false, 0);
    DrawGridAndTimeLines(volume_, false, list);
    list.Clip({draw.left + 1, draw.top, draw.right - 1, draw.bottom});
    const int base = volume_.map.Y(volume_.map.range.min);
    for (int k = 0; k < scale_.shown; ++k) {
        const KLineRecord& mm = data_.minutes[first_ + static_cast<size_t>(k)];
        if (mm.time == 0 || !std::isfinite(mm.volume) || mm.volume <= 0) continue;
        const int x = scale_.CentrePixel(k);
        list.Line({x, base}, {x, volume_.map.Y(mm.volume)}, colour);
    }
    list.Clip({});
    list.Rectangle({right.left, right.top, right.right, right.bottom + 1}, axis, false, 0);
    DrawLevelLabels(volume_, colour, list);
    DrawTitle(volume_, false, list);
}

void TimeSharingPicture::DrawLevelLabels(const Pane& pane, ColorRef colour, DisplayList& list) const {
    const ChartMetrics& m = options_.metrics;
    const Rect outer = Pixels(pane.rects.outer), left = Pixels(pane.rects.leftAxis), right = Pixels(pane.rects.rightAxis);
    int lastTop = outer.bottom + m.cy;
    for (float v : pane.levels) {
        const int top = std::clamp(pane.map.Y(v) - m.cy / 2, outer.top, outer.bottom - m.cy);
        if (top + m.cy > lastTop) continue;  // a low pane: labels that would overlap are left out
        lastTop = top;
        const std::string text = Printf("%.*f", v, 0);
        if (left.width() > 0) list.Text({left.left + 2, top, left.right - 3, top + m.cy}, text, colour, kAlignRight | kAlignVCenter);
        list.Text({right.left + 3, top, right.right - 2, top + m.cy}, text, colour, kAlignLeft | kAlignVCenter);
    }
}

void TimeSharingPicture::DrawZdl() {
    if (!zdlShown()) return;
    DisplayList& list = zdl_.list;
    const ColorRef* c = options_.scheme.colors;
    const ColorRef bg = c[kColorBackground], axis = c[kColorAxis], up = c[kColorListUp], down = c[kColorListDown];
    const ChartMetrics& m = options_.metrics;
    const Rect outer = Pixels(zdl_.rects.outer), draw = Pixels(zdl_.rects.draw);
    const Rect left = Pixels(zdl_.rects.leftAxis), right = Pixels(zdl_.rects.rightAxis);
    if (outer.empty()) return;
    const std::vector<KLineRecord>& minutes = data_.minutes;
    AdvanceDeclineLines lines;
    if (scale_.shown > 0)
        lines = AdvanceDeclineMinutes(minutes, data_.breadth,
                                      StoreDay(minutes[first_ + static_cast<size_t>(scale_.shown) - 1].time));
    ValueRange r;
    r.min = INFINITY;
    r.max = -INFINITY;
    for (int k = 0; k < scale_.shown; ++k) {
        const size_t i = first_ + static_cast<size_t>(k);
        for (const std::vector<float>* l : {&lines.rising, &lines.falling, &lines.difference}) {
            const float v = (*l)[i];
            if (!std::isfinite(v)) continue;
            r.min = std::min(r.min, v);
            r.max = std::max(r.max, v);
        }
    }
    if (!(r.min <= r.max)) r = ValueRange{};
    if (r.max - r.min < 1) {
        r.max += 1;
        r.min -= 1;
    }
    zdl_.map.Set(zdl_.rects.draw.top, zdl_.rects.draw.bottom, r);
    const float h = (zdl_.rects.draw.bottom - 1) - (zdl_.rects.draw.top + 1);
    zdl_.levels = EvenLevels(r, TimeSharingDivisions(h, m.cy));

    list.FillRect(outer, bg);
    list.Rectangle({left.right > left.left ? left.right - 1 : outer.left, outer.top, right.left + 1, outer.bottom + 1},
                   axis, false, 0);
    DrawGridAndTimeLines(zdl_, false, list);
    list.Clip({draw.left + 1, draw.top, draw.right - 1, draw.bottom});
    // The difference as sticks from the middle, then the two count lines over them.
    if (!lines.difference.empty()) {
        const int y0 = zdl_.map.Y(lines.mid);
        for (int k = 0; k < scale_.shown; ++k) {
            const float v = lines.difference[first_ + static_cast<size_t>(k)];
            if (!std::isfinite(v) || v == lines.mid) continue;
            const int x = scale_.CentrePixel(k);
            list.Line({x, y0}, {x, zdl_.map.Y(v)}, v > lines.mid ? up : down);
        }
    }
    for (const auto& [line, colour] : {std::pair{&lines.rising, up}, std::pair{&lines.falling, down}}) {
        std::vector<Point> run;
        auto flush = [&] {
            if (run.size() >= 2) list.Polyline(run.data(), run.size(), colour);
            run.clear();
        };
        for (int k = 0; k < scale_.shown && !line->empty(); ++k) {
            const float v = (*line)[first_ + static_cast<size_t>(k)];
            if (!std::isfinite(v)) {
                flush();
                continue;
            }
            run.push_back({scale_.CentrePixel(k), zdl_.map.Y(v)});
        }
        flush();
    }
    list.Clip({});
    list.Rectangle({right.left, right.top, right.right, right.bottom + 1}, axis, false, 0);
    DrawLevelLabels(zdl_, c[IndicatorColor(2)], list);
    // Title: the indicator's name and the counts of the last minute.
    const Rect title = Pixels(zdl_.rects.title);
    if (title.height() >= m.cy) {
        list.Clip(title);
        int x = title.left + 2;
        const int y = title.top + (title.height() - m.cy) / 2;
        const size_t li = first_ + static_cast<size_t>(std::max(scale_.shown - 1, 0));
        auto run = [&](const std::string& s, ColorRef colour) {
            const int w = TextWidth(s);
            list.Text({x, y, x + w, y + m.cy}, s, colour, kAlignLeft | kAlignVCenter);
            x += w + m.cx;
        };
        run("ZDL", c[kColorChartText]);
        auto value = [&](const std::vector<float>& l) {
            return li < l.size() && std::isfinite(l[li]) ? ":" + Printf("%.*f", l[li], 0) : std::string();
        };
        run("涨家数" + value(lines.rising), up);
        run("跌家数" + value(lines.falling), down);
        list.Clip({});
    }
}

void TimeSharingPicture::DrawFrame() {
    DisplayList& list = frame_;
    const ColorRef* c = options_.scheme.colors;
    const ColorRef axis = c[kColorAxis];
    const ChartMetrics& m = options_.metrics;
    const PaneRects& last = zdlShown() ? zdl_.rects : volume_.rects;
    const Rect strip = Pixels({outer_.left, last.outer.bottom, last.rightAxis.left, outer_.bottom});
    const Rect box = Pixels({last.rightAxis.left, last.outer.bottom, outer_.right, outer_.bottom});
    if (strip.height() <= 0) return;
    list.FillRect({strip.left, strip.top, box.right, strip.bottom}, c[kColorHighlight]);
    list.Rectangle({strip.left, strip.top, strip.right + 1, strip.bottom}, axis, false, 0);
    list.Rectangle(box, axis, false, 0);
    list.Text({box.left + 2, box.top + 2, box.right - 2, box.top + 2 + m.cy}, "分时", c[kColorChartText],
              kAlignHCenter | kAlignVCenter);
    list.Clip(strip);
    // Texts that would run into the one before are left out (a narrow picture); the label at the
    // right edge wins over the one before it.
    std::vector<int> xs(labels_.size(), 0), ws(labels_.size(), 0);
    std::vector<size_t> kept;
    for (size_t i = 0; i < labels_.size(); ++i) {
        const TimeLabel& t = labels_[i];
        if (t.text.empty()) continue;
        ws[i] = TextWidth(t.text) + 2;
        // The label at the right edge ends there instead of running out of the strip.
        xs[i] = t.x + 2 + ws[i] > strip.right ? t.x - 2 - ws[i] : t.x + 2;
        auto overlaps = [&] { return !kept.empty() && xs[kept.back()] + ws[kept.back()] > xs[i]; };
        if (i + 1 == labels_.size())
            while (overlaps()) kept.pop_back();
        if (!overlaps()) kept.push_back(i);
    }
    size_t next = 0;
    for (size_t i = 0; i < labels_.size(); ++i) {
        const TimeLabel& t = labels_[i];
        list.Line({t.x, strip.top}, {t.x, strip.top + 3}, axis);
        if (next >= kept.size() || kept[next] != i) continue;
        ++next;
        // On the highlighted strip the axis colour is hard to read: labels take the text colour.
        list.Text({xs[i], strip.top + 2, xs[i] + ws[i], strip.top + 2 + m.cy}, t.text, c[kColorChartText],
                  kAlignLeft | kAlignVCenter);
    }
    list.Clip({});
}

std::string TimeSharingPicture::ToText() const {
    std::string out = "# TEND\n" + main_.list.ToText() + "# TENDV\n" + volume_.list.ToText();
    if (hasZdl()) out += "# ZDL\n" + zdl_.list.ToText();
    return out + "# time axis\n" + frame_.ToText();
}

}  // namespace tessaro::chart
