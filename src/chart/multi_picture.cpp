#include "chart/multi_picture.h"

#include <algorithm>

#include "chart/layout.h"

namespace tessaro::chart {

int PictureAt(const ChartView& view, int x, int y) {
    const float fx = static_cast<float>(x), fy = static_cast<float>(y);
    for (int i = 0; i < view.pictureCount(); ++i) {
        const RectF& r = view.picture(i).outer;
        if (fx >= r.left && fx < r.right && fy >= r.top && fy < r.bottom) return i;
    }
    return -1;
}

std::vector<int> PeriodTargets(const ChartView& view, Combination combination) {
    std::vector<int> out;
    if (combination == Combination::kMultiStock) {
        for (int i = 0; i < view.pictureCount(); ++i) out.push_back(i);
        return out;
    }
    if (view.pictureCount() > 0) out.push_back(std::clamp(view.active(), 0, view.pictureCount() - 1));
    return out;
}

std::vector<std::pair<int, CodeEntry>> SecurityStepTargets(const ChartView& view, Combination combination, int step,
                                                           const NextSecurityFn& next) {
    std::vector<std::pair<int, CodeEntry>> out;
    if (view.pictureCount() == 0 || !next) return out;
    if (combination == Combination::kMultiStock) {
        for (int i = 0; i < view.pictureCount(); ++i) {
            const GraphPicture& p = view.picture(i);
            if (!p.hasSecurity) continue;
            if (std::optional<CodeEntry> e = next(p.security, step)) out.emplace_back(i, *e);
        }
        return out;
    }
    const int active = std::clamp(view.active(), 0, view.pictureCount() - 1);
    const GraphPicture& p = view.picture(active);
    if (!p.hasSecurity) return out;
    std::optional<CodeEntry> e = next(p.security, step);
    if (!e) return out;
    if (combination == Combination::kMultiPeriod) {
        for (int i = 0; i < view.pictureCount(); ++i) out.emplace_back(i, *e);
    } else {
        out.emplace_back(active, *e);
    }
    return out;
}

std::optional<CodeEntry> NextInLists(const std::vector<const std::vector<CodeEntry>*>& lists, const CodeEntry& from,
                                     int step) {
    for (const std::vector<CodeEntry>* list : lists) {
        if (!list) continue;
        const int at = StepInList(*list, from.id, step);
        if (at >= 0) return (*list)[static_cast<size_t>(at)];
    }
    return std::nullopt;
}

PaneFormulaLists CapturePaneLists(const GraphPicture& p, const PaneFormulaLists& previous) {
    PaneFormulaLists lists = previous;
    for (size_t k = 0; k < p.panes.size() && k < lists.size(); ++k) {
        PaneFormulaList& list = lists[k];
        list.clear();
        for (const PaneIndicator& slot : p.panes[k].indicators) {
            if (list.count >= PaneFormulaList::kMaxItems) break;
            list.add(static_cast<int32_t>(slot.formula.type), slot.formula.nameText());
        }
    }
    return lists;
}

bool KeepPictureDefaults(const ChartView& view, SystemSettings& s) {
    if (view.pictureCount() != 1) return false;
    const GraphPicture& p = view.picture(0);
    s.stkInfoWidth = static_cast<uint32_t>(std::max(view.options().infoPanelWidth, 1));
    if (IsValidPeriod(p.period)) s.cycle = static_cast<uint32_t>(PeriodNumber(p.period));
    if (!p.panes.empty()) {
        const int mode = p.panes[0].scaleMode & 3;
        s.coordType = static_cast<uint32_t>(mode == kScalePercentage ? kScalePercentage : kScaleNormal);
    }
    const std::string_view kline = p.kline.formula.nameText();
    if (!kline.empty()) s.formula0 = std::string(kline);
    s.kLinePanes = CapturePaneLists(p, s.kLinePanes);
    s.ruler = static_cast<uint32_t>(std::max(p.scale.visible, 1));
    s.daysTime = static_cast<uint32_t>(std::clamp(p.timeDays, 1, kMaxTimeSharingDays));
    s.areas = static_cast<uint32_t>(std::clamp(static_cast<int>(p.panes.size()), 1, kMaxPanes));
    return true;
}

PaneFormulas DefaultPanes(const SystemSettings& s) {
    const int n = std::clamp(static_cast<int>(s.areas), 1, kMaxPanes);
    PaneFormulas panes(static_cast<size_t>(n));
    for (int k = 0; k < n; ++k) {
        const PaneFormulaList& list = s.kLinePanes[static_cast<size_t>(k)];
        const int count = std::clamp(list.count, 0, PaneFormulaList::kMaxItems);
        for (int i = 0; i < count; ++i)
            panes[static_cast<size_t>(k)].emplace_back(static_cast<uint32_t>(list.types[i]), std::string(list.name(i)));
    }
    return panes;
}

void ApplyPictureDefaults(ChartView& view, int picture, const SystemSettings& s) {
    if (picture < 0 || picture >= view.pictureCount()) return;
    view.SetPanes(picture, DefaultPanes(s));
    view.SetScaleMode(picture, 0, s.coordType == static_cast<uint32_t>(kScalePercentage) ? kScalePercentage : kScaleNormal);
    GraphPicture& p = view.picture(picture);
    // At least the right margin twice, as the zoom keys keep it.
    p.scale.visible = std::clamp(static_cast<int>(s.ruler), 2 * kRightMargin, 100000);
    p.historyRequest = HistoryRequestSize(p.period, p.scale.visible);
}

void ApplyPlan(ChartView& view, const std::vector<PicturePlan>& plan, const SystemSettings& defaults) {
    if (plan.empty()) return;
    view.SetPictureCount(static_cast<int>(plan.size()));
    for (int i = 0; i < view.pictureCount() && i < static_cast<int>(plan.size()); ++i) {
        const PicturePlan& p = plan[static_cast<size_t>(i)];
        view.SetSecurity(i, p.security);
        view.picture(i).overlays.clear();  // a fresh picture shows its security alone
        if (IsValidPeriod(p.period)) view.SetPeriod(i, p.period);
        ApplyPictureDefaults(view, i, defaults);
        view.SetPaneCount(i, p.panes);
    }
}

}  // namespace tessaro::chart
