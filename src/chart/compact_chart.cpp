#include "chart/compact_chart.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "platform/text.h"

namespace tessaro::chart {

namespace {

constexpr size_t kMaxTabs = 8;

}  // namespace

CompactChart::CompactChart(const Rect& rect, std::string mainFormula, TimeSharingOptions options)
    : rect_(rect), mainFormula_(std::move(mainFormula)), options_(std::move(options)), picture_(options_) {}

void CompactChart::SetRect(const Rect& rect) { rect_ = rect; }

bool CompactChart::AddSubFormula(const std::string& name) {
    if (name != kCompactVolumeFormula && name != kCompactBreadthFormula) return false;
    if (tabs_.size() >= kMaxTabs || std::find(tabs_.begin(), tabs_.end(), name) != tabs_.end()) return false;
    tabs_.push_back(name);
    return true;
}

void CompactChart::SetLabels(std::vector<std::string> labels) { labels_ = std::move(labels); }

void CompactChart::SetData(TimeSharingData data) {
    picture_.SetData(std::move(data));
    picture_.SetDays(1);
    cursor_ = -1;
}

std::string CompactChart::tabCaption(int i) const {
    if (i < 0 || i >= tabCount()) return {};
    const size_t k = static_cast<size_t>(i);
    return k < labels_.size() && !labels_[k].empty() ? labels_[k] : tabs_[k];
}

CompactEvent CompactChart::SelectTab(int index) {
    if (index < 0 || index >= tabCount() || index == current_) return {};
    current_ = index;
    return {CompactNotice::kTabSelChanged, index};
}

CompactEvent CompactChart::DeleteTab(int index) {
    if (index < 0 || index >= tabCount() || tabCount() <= 1) return {};
    tabs_.erase(tabs_.begin() + index);
    if (static_cast<size_t>(index) < labels_.size()) labels_.erase(labels_.begin() + index);
    if (current_ > index || current_ >= tabCount()) --current_;
    current_ = std::clamp(current_, 0, tabCount() - 1);
    return {CompactNotice::kTabDeleted, index};
}

CompactEvent CompactChart::Click(Point p) {
    for (size_t i = 0; i < tabRects_.size(); ++i) {
        const Rect& r = tabRects_[i];
        if (p.x >= r.left && p.x < r.right && p.y >= r.top && p.y < r.bottom) return SelectTab(static_cast<int>(i));
    }
    return {};
}

bool CompactChart::MoveCursor(int x) {
    const HScale& s = picture_.scale();
    if (s.shown <= 0) {
        cursor_ = -1;
        return false;
    }
    cursor_ = static_cast<int>(picture_.firstMinute()) + s.BarAt(static_cast<float>(x));
    return true;
}

bool CompactChart::StepCursor(int step) {
    const HScale& s = picture_.scale();
    if (s.shown <= 0) return false;
    const int first = static_cast<int>(picture_.firstMinute());
    const int from = cursor_ < 0 ? first + s.shown - 1 : cursor_ + step;
    cursor_ = std::clamp(from, first, first + s.shown - 1);
    return true;
}

std::string CompactChart::cursorTime() const {
    const auto& minutes = picture_.data().minutes;
    if (cursor_ < 0 || static_cast<size_t>(cursor_) >= minutes.size()) return {};
    const uint32_t tod = TimeOfDay(minutes[static_cast<size_t>(cursor_)].time);
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02u:%02u", tod / 3600 % 24, tod / 60 % 60);
    return buf;
}

std::string CompactChart::cursorPrice() const {
    const auto& minutes = picture_.data().minutes;
    if (cursor_ < 0 || static_cast<size_t>(cursor_) >= minutes.size()) return {};
    const KLineRecord& m = minutes[static_cast<size_t>(cursor_)];
    if (!UsableMinute(m)) return {};
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.*f", std::clamp(picture_.data().decimals, 0, 6), static_cast<double>(m.close));
    return buf;
}

int CompactChart::TextWidth(const std::string& text) const {
    return options_.measure ? options_.measure(text) : TextColumns(text) * options_.metrics.cx;
}

void CompactChart::Build() {
    list_.Clear();
    tabRects_.clear();
    if (rect_.empty()) return;
    const int strip = std::min(options_.metrics.timeStripHeight(), rect_.height());
    TimeSharingOptions o = options_;
    const bool breadth = current_ < tabCount() && tabs_[static_cast<size_t>(current_)] == kCompactBreadthFormula;
    o.subCharts = breadth ? SubCharts::kZdl : SubCharts::kVolume;
    picture_.SetOptions(o);
    picture_.Layout({static_cast<float>(rect_.left), static_cast<float>(rect_.top), static_cast<float>(rect_.right),
                     static_cast<float>(rect_.bottom - strip)});
    picture_.Build();
    list_.Append(picture_.mainList());
    list_.Append(picture_.volumeList());
    list_.Append(picture_.zdlList());
    list_.Append(picture_.frameList());
    DrawTabs();
    DrawCursor();
}

void CompactChart::DrawTabs() {
    const ColorRef* c = options_.scheme.colors;
    const ChartMetrics& m = options_.metrics;
    const Rect strip{rect_.left, rect_.bottom - std::min(m.timeStripHeight(), rect_.height()), rect_.right, rect_.bottom};
    if (strip.empty()) return;
    list_.FillRect(strip, c[kColorBackground]);
    list_.Line({strip.left, strip.top}, {strip.right, strip.top}, c[kColorAxis]);
    // The period caption at the right end of the strip.
    const std::string period = "分时";
    const int pw = TextWidth(period) + 8;
    const int limit = strip.right - pw;
    list_.Text({limit, strip.top + 1, strip.right - 4, strip.bottom}, period, c[kColorChartText], kAlignRight | kAlignVCenter);
    int x = strip.left + 2;
    for (int i = 0; i < tabCount(); ++i) {
        const std::string caption = tabCaption(i);
        const int w = TextWidth(caption) + 10;
        if (x + w > limit) break;
        const Rect r{x, strip.top, x + w, strip.bottom - 1};
        tabRects_.push_back(r);
        const bool current = i == current_;
        if (current) list_.FillRect({r.left + 1, r.top + 1, r.right, r.bottom}, c[kColorHighlight]);
        const Point outline[] = {{r.left, r.top}, {r.left, r.bottom}, {r.right, r.bottom}, {r.right, r.top}};
        list_.Polyline(outline, 4, c[kColorAxis]);
        list_.Text(r, caption, current ? c[kColorListUp] : c[kColorChartText], kAlignHCenter | kAlignVCenter);
        x += w + 1;
    }
}

void CompactChart::DrawCursor() {
    const auto& minutes = picture_.data().minutes;
    if (cursor_ < 0 || static_cast<size_t>(cursor_) >= minutes.size()) return;
    const int k = cursor_ - static_cast<int>(picture_.firstMinute());
    if (k < 0 || k >= picture_.scale().shown) return;
    const ColorRef* c = options_.scheme.colors;
    const ChartMetrics& m = options_.metrics;
    const Rect main = Pixels(picture_.mainRects().draw);
    const PaneRects& lastPane = picture_.zdlShown() ? picture_.zdlRects() : picture_.volumeRects();
    const Rect last = Pixels(lastPane.draw);
    const int x = picture_.scale().CentrePixel(k);
    list_.Line({x, main.top}, {x, std::max(last.bottom, main.bottom)}, c[kColorChartText]);
    auto tag = [&](const Rect& box, const std::string& text) {
        list_.Rectangle(box, c[kColorAxis], true, c[kColorHighlight]);
        list_.Text(box, text, c[kColorChartText], kAlignHCenter | kAlignVCenter);
    };
    // The time tag on the time axis under the line, kept inside the picture.
    const std::string time = cursorTime();
    const int tw = TextWidth(time) + 6;
    const int axisTop = RoundPixel(lastPane.outer.bottom);
    const int tl = std::clamp(x - tw / 2, rect_.left, std::max(rect_.left, main.right - tw));
    tag({tl, axisTop + 1, tl + tw, axisTop + 1 + m.cy + 2}, time);
    // The price line and its tag on the right price axis.
    const KLineRecord& minute = minutes[static_cast<size_t>(cursor_)];
    if (!UsableMinute(minute)) return;
    const int y = picture_.mainMap().Y(minute.close);
    if (y < main.top || y >= main.bottom) return;
    list_.Line({main.left + 1, y}, {main.right - 1, y}, c[kColorChartText]);
    const Rect axis = Pixels(picture_.mainRects().rightAxis);
    const int top = std::clamp(y - (m.cy + 2) / 2, axis.top, std::max(axis.top, axis.bottom - m.cy - 2));
    tag({axis.left + 1, top, axis.right - 1, top + m.cy + 2}, cursorPrice());
}

}  // namespace tessaro::chart
