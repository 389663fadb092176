#include "chart/scale.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace tessaro::chart {

int RoundPixel(float v) {
    if (std::isnan(v)) return 0;
    constexpr float kLimit = 1e7f;
    v = std::clamp(v, -kLimit, kLimit);
    return static_cast<int>(v > 0 ? v + 0.44449f : v - 0.44449f);
}

// ---- Horizontal scale ------------------------------------------------------------------

int BaseRecordsPerBar(Period period) {
    switch (period) {
        case kPeriodMin15: return 3;
        case kPeriodMin30: return 6;
        case kPeriodMin60: return 12;
        case kPeriodWeek: return 5;
        case kPeriodMonth: return 31;
        case kPeriodQuarter: return 120;
        case kPeriodYear: return 365;
        default: return 1;
    }
}

int HistoryRequestSize(Period period, int bars) {
    const int64_t n = static_cast<int64_t>(std::max(bars, 0)) * BaseRecordsPerBar(period) + 60;
    return static_cast<int>(std::min<int64_t>(n, 1 << 24));
}

void HScale::Layout(float l, float r) {
    left = l;
    right = r;
    const float n = static_cast<float>(std::max(visible, 1));
    pitch = std::max((r - 1 - (l + 1)) / (1.3f * n + 0.3f), 0.0f);
    gap = 0.3f * pitch;
}

int HScale::HalfBody() const {
    int b = static_cast<int>(0.5f * pitch);
    if (b > 0 && b == static_cast<int>(0.5f * (pitch + gap))) --b;
    return b;
}

int HScale::BarAt(float x) const {
    if (shown <= 0) return 0;
    const float unit = gap + pitch;
    if (!(unit > 0)) return 0;
    const float k = std::trunc((x - gap - (left + 1)) / unit);
    if (!(k >= 0)) return 0;
    return k >= static_cast<float>(shown - 1) ? shown - 1 : static_cast<int>(k);
}

void ClampScale(HScale& h, int total) {
    total = std::max(total, 0);
    h.visible = std::min(h.visible, total + kRightMargin);
    h.visible = std::max(h.visible, 2 * kRightMargin);
    h.first = std::min(h.first, total + kRightMargin - h.visible);
    h.first = std::max(h.first, 0);
    h.shown = std::max(std::min(total - h.first, h.visible), 0);
}

void ShowNewest(HScale& h, int total) {
    total = std::max(total, 0);
    h.visible = std::max(h.visible, 2 * kRightMargin);
    h.first = std::max(total + kRightMargin - h.visible, 0);
    h.shown = std::max(std::min(total - h.first, h.visible), 0);
}

MoveResult MoveOrZoom(HScale& h, MoveKey key, int total, Period period) {
    MoveResult result;
    const int n = h.visible, first = h.first;
    switch (key) {
        case MoveKey::kLeft: h.first -= n; break;
        case MoveKey::kRight: h.first += n; break;
        case MoveKey::kSlowLeft: h.first -= 1; break;
        case MoveKey::kSlowRight: h.first += 1; break;
        case MoveKey::kZoomIn: {
            if (n < kZoomInFloor) return result;
            const int grown = RoundPixel(static_cast<float>(n) * 2.0f / 3.0f);
            h.first += n - grown;
            h.visible = grown;
            break;
        }
        case MoveKey::kZoomOut: {
            const int grown = RoundPixel(static_cast<float>(n) * 1.5f);
            h.first += n - grown;
            h.visible = grown;
            if (grown > n) result.moreHistory = (grown - n) * BaseRecordsPerBar(period) + 60;
            break;
        }
    }
    ClampScale(h, total);
    result.changed = h.visible != n || h.first != first;
    return result;
}

// ---- Values and pixels -----------------------------------------------------------------

namespace {
constexpr float kFlat = 0.00001f;
constexpr float kValueLimit = 1e15f;  // beyond this a range is not drawn as given
}  // namespace

void RepairRange(ValueRange& r) {
    if (!std::isfinite(r.max) || !std::isfinite(r.min)) {
        // One finite end keeps its value; none falls back to the defaults.
        if (std::isfinite(r.max)) r.min = r.max;
        else if (std::isfinite(r.min)) r.max = r.min;
        else r = ValueRange{};
    }
    r.max = std::clamp(r.max, -kValueLimit, kValueLimit);
    r.min = std::clamp(r.min, -kValueLimit, kValueLimit);
    if (r.max < r.min) std::swap(r.max, r.min);
    if (std::fabs(r.max - r.min) <= kFlat) {
        if (std::fabs(r.max) <= kFlat) {
            r.max = 1;
            r.min = 0;
        } else {
            // By the magnitude: a negative flat range must not come out upside down.
            const float d = 0.02f * std::fabs(r.max);
            r.max += d;
            r.min -= d;
        }
    }
}

void RepairCentredRange(ValueRange& r, float ref) {
    if (!std::isfinite(r.max) || !std::isfinite(r.min)) r = ValueRange{0, 0};
    if (!std::isfinite(ref)) ref = 0;
    if (ref == 0) ref = (r.max + r.min) / 2;
    if (ref == 0) ref = 10;
    if (r.max == 0) r.max = 1.1f * ref;
    if (r.min == 0) r.min = 0.9f * ref;
    float d = std::max(r.max - ref, ref - r.min);
    d = std::max(d, 0.01f * std::fabs(ref));
    r.max = ref + d;
    r.min = ref - d;
    RepairRange(r);
}

void ValueMap::Set(float t, float b, ValueRange r) {
    top = t;
    bottom = b;
    RepairRange(r);
    range = r;
    const float span = r.max - r.min;
    scale = std::fabs(span) <= kFlat ? 1.0f : ((bottom - 1) - (top + 1)) / span;
    if (!std::isfinite(scale)) scale = 1;
}

int ValueMap::Y(float v) const {
    if (!std::isfinite(v)) return RoundPixel(bottom - 1);
    return RoundPixel(bottom - 1 - (v - range.min) * scale);
}

float ValueMap::Value(float y) const { return (bottom - 1 - y) / scale + range.min; }

// ---- Grid levels -----------------------------------------------------------------------

float StepMultiplier(float u) {
    if (u < 1.5f) return 1;
    if (u < 1.8f) return 1.5f;
    if (u < 2.5f) return 2;
    if (u < 3.2f) return 2.5f;
    if (u < 5.2f) return 4;
    if (u < 6.5f) return 5;
    if (u < 10) return 7.5f;
    return u >= 18 ? 15 : 10;
}

namespace {

// trunc(height * 0.02857142857142857) of the exact product: 350 pixels give 9, since the
// product lies just below 10 even though it rounds to 10.0 as a double.
int LevelCount(double height) {
    constexpr double kPerPixel = 0.02857142857142857;
    height = std::min(height, 100000.0);
    const double p = height * kPerPixel;
    double whole = std::trunc(p);
    if (p == whole && std::fma(height, kPerPixel, -p) < 0) whole -= 1;
    return static_cast<int>(whole);
}

}  // namespace

Levels GridLevels(const LevelParams& p) {
    Levels out;
    ValueRange r{p.max, p.min};
    RepairRange(r);
    float max = r.max, min = r.min;
    if (p.percentage) {
        float base = std::isfinite(p.reference) ? p.reference : 0;
        if (std::fabs(base) < 0.001f) base = std::max(0.1f * min, 0.001f);
        out.base = base;
        max = (max - base) * 100 / base;
        min = (min - base) * 100 / base;
        if (!std::isfinite(max) || !std::isfinite(min)) return out;
        if (max < min) std::swap(max, min);
    }
    const double height = std::isfinite(p.height) ? std::max<double>(p.height, 0) : 0;
    out.count = std::clamp(LevelCount(height), 1, 30);
    float step = (max - min) / static_cast<float>(out.count);
    if (!(step > 0) || !std::isfinite(step)) step = 1;
    int k = static_cast<int>(std::floor(std::log10(static_cast<double>(step))));
    double t = std::pow(10.0, k);
    double u = step / t;
    // log10 may land a hair beside an exact power of ten.
    if (u >= 10) { u /= 10; t *= 10; }
    if (u < 1) { u *= 10; t /= 10; }
    const float v = StepMultiplier(static_cast<float>(u));
    const float w = static_cast<float>(v * t);
    out.step = w;
    out.stepDecimals = std::clamp(-static_cast<int>(std::lround(std::log10(t))) + (v != std::trunc(v) ? 1 : 0), 0, 6);
    if (!(w > 0) || !std::isfinite(w)) return out;
    float level = static_cast<float>(std::trunc(static_cast<double>(min) / w + 0.4) * w);
    if (std::fabs(level - min) > 0.0004f * std::max(std::fabs(level), std::fabs(min))) level -= w;
    const float zero = static_cast<float>(0.0001 * t);
    const int limit = out.count + 9;
    for (int i = 0; i < limit && level <= max; ++i) {
        if (std::fabs(level) < zero) level = 0;
        out.values.push_back(level);
        const float next = level + w;
        if (!(next > level)) break;  // the step is below the float resolution at this size
        level = next;
    }
    if (p.percentage)
        for (float& v : out.values) v = out.base * (v * 0.01f + 1);
    return out;
}

// ---- Price-axis labels -----------------------------------------------------------------

int TextColumns(const std::string& utf8) {
    int columns = 0;
    for (size_t i = 0; i < utf8.size();) {
        const unsigned char c = static_cast<unsigned char>(utf8[i]);
        if (c < 0x80) {
            ++columns;
            ++i;
            continue;
        }
        const size_t len = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
        columns += 2;
        i += len;
    }
    return columns;
}

std::string FormatAxisLabel(float value, const AxisLabelFormat& f) {
    double v = value;
    if (f.percentage) v = f.base != 0 ? (v - f.base) / f.base * 100 : 0;
    v /= std::pow(10.0, f.exponent);
    if (!std::isfinite(v)) return {};
    char buf[64];
    if (f.percentage)
        std::snprintf(buf, sizeof buf, "%.*f%%", f.decimals, v);
    else
        std::snprintf(buf, sizeof buf, "%.*f", f.decimals, v);
    return buf;
}

AxisLabelFormat FitAxisLabels(float largest, int decimals, bool percentage, float base, int axisWidth, int cx) {
    AxisLabelFormat f;
    f.percentage = percentage;
    f.base = base;
    f.decimals = percentage ? 0 : std::clamp(decimals, 0, 6);
    auto fits = [&] { return TextColumns(FormatAxisLabel(largest, f)) * cx <= axisWidth - 7; };
    while (!fits() && f.decimals > 0) --f.decimals;
    // The divisor 10^exponent grows until the label fits or it exceeds 1 000 000.
    while (!fits() && f.exponent < 7) ++f.exponent;
    return f;
}

// ---- Time-axis labels ------------------------------------------------------------------

namespace {

std::string Printf(const char* format, int a, int b = 0, int c = 0) {
    char buf[32];
    std::snprintf(buf, sizeof buf, format, a, b, c);
    return buf;
}

// The label of a bar after `prev`, or "" when the period labels no change between them.
std::string ChangeLabel(Period period, const CivilDateTime& prev, const CivilDateTime& cur) {
    const CivilDate& p = prev.date;
    const CivilDate& c = cur.date;
    const bool newYear = c.year != p.year;
    const bool newDay = !(c == p);
    switch (period) {
        case kPeriodTick:
        case kPeriodMin1:
        case kPeriodTime:
            if (newYear) return Printf("%04d/%02d/%02d", c.year, c.month, c.day);
            if (newDay) return Printf("%02d/%02d", c.month, c.day);
            if (cur.hour != prev.hour) return Printf("%02d:%02d", cur.hour, cur.minute);
            return {};
        case kPeriodMin5:
        case kPeriodMin15:
        case kPeriodMin30:
        case kPeriodMin60:
            if (newYear) return Printf("%04d/%02d/%02d", c.year, c.month, c.day);
            if (newDay) return Printf("%02d/%02d", c.month, c.day);
            return {};
        case kPeriodMonth:
            if (newYear && c.month == 1) return Printf("%04d/%02d", c.year, c.month);
            return {};
        case kPeriodQuarter:
            if (newYear) return Printf("%04d", c.year);
            if ((c.month - 1) / 3 != (p.month - 1) / 3) return Printf("%02d", c.month);
            return {};
        case kPeriodYear:
            if (newYear) return Printf("%04d", c.year);
            return {};
        default:  // day, week, multi-day
            if (newYear) return Printf("%04d/%02d", c.year, c.month);
            if (c.month != p.month) return Printf("%02d", c.month);
            return {};
    }
}

}  // namespace

std::vector<TimeLabel> TimeAxisLabels(Period period, const std::vector<int>& centres,
                                      const std::vector<StoreTime>& times, int cx, const TextMeasure& measure) {
    auto width = [&](const std::string& text) { return measure ? measure(text) : TextColumns(text) * cx; };
    std::vector<TimeLabel> out;
    const size_t n = std::min(centres.size(), times.size());
    if (n == 0) return out;
    CivilDateTime prev = SplitStoreTime(times[0]);
    const CivilDate& d = prev.date;
    TimeLabel firstLabel;
    firstLabel.x = centres[0];
    firstLabel.text = IsDayBasedPeriod(period) ? Printf("%04d/%02d", d.year, d.month)
                                               : Printf("%04d/%02d/%02d", d.year, d.month, d.day);
    int end = firstLabel.x + width(firstLabel.text);
    out.push_back(std::move(firstLabel));
    for (size_t k = 1; k < n; ++k) {
        if (centres[k] <= end + 5) continue;
        const CivilDateTime cur = SplitStoreTime(times[k]);
        std::string text = ChangeLabel(period, prev, cur);
        if (text.empty()) continue;
        prev = cur;
        TimeLabel label{centres[k], std::move(text), static_cast<int>(k)};
        end = label.x + width(label.text);
        out.push_back(std::move(label));
    }
    return out;
}

}  // namespace tessaro::chart
