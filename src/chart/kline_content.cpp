#include "chart/kline_content.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>

#include "chart/cursor.h"
#include "chart/layout.h"
#include "market/quote_fields.h"
#include "platform/text.h"

namespace tessaro::chart {
namespace {

bool Technical(uint32_t type) { return FormulaTypeClass(type) == FormulaTypeClass(kFormulaSubPane); }

bool Same(const FormulaRecord& a, uint32_t type, std::string_view name) {
    return SameFormulaTypeClass(a.type, type) && a.nameText() == name;
}

}  // namespace

int IndicatorTargetPane(uint32_t type, int pane, bool fromMenu, int activePane) {
    switch (type) {
        case kFormulaSelection:
        case kFormulaTradingSystem:
        case kFormulaColourKLine:
        case kFormulaCombined: return 0;
        case kFormulaMainOverlay: return fromMenu ? 0 : pane;
        case kFormulaSubPane:
            if (!fromMenu) return pane;
            return activePane == 0 ? 1 : activePane;
        default: return -1;
    }
}

AddResult AddIndicator(ChartView& view, int picture, int pane, const FormulaRecord& formula, bool replaceSameType,
                       bool fromMenu, int activePane) {
    GraphPicture& p = view.picture(picture);
    if (formula.periodDisabled(p.period)) return AddResult::kDisabled;
    if (formula.type == kFormulaInternal) {
        p.kline.formula = formula;
        return AddResult::kKLine;
    }
    int target = IndicatorTargetPane(formula.type, pane, fromMenu, activePane);
    if (target < 0) return AddResult::kDisabled;
    target = std::clamp(target, 0, kMaxPanes - 1);
    // A sub-chart formula for a pane that does not exist yet: the picture gets it.
    if (target >= static_cast<int>(p.panes.size())) view.SetPaneCount(picture, target + 1);
    target = std::min(target, static_cast<int>(p.panes.size()) - 1);
    if (replaceSameType || formula.type == kFormulaColourKLine)
        RemoveIndicators(view, picture, target, formula.type);
    std::vector<PaneIndicator>& slots = p.panes[static_cast<size_t>(target)].indicators;
    for (const PaneIndicator& s : slots)
        if (Same(s.formula, formula.type, formula.nameText())) return AddResult::kAlreadyShown;
    if (static_cast<int>(slots.size()) >= kMaxPaneIndicators) return AddResult::kPaneFull;
    PaneIndicator slot;
    slot.formula = formula;
    auto at = slots.end();
    if (Technical(formula.type)) {
        // After the last technical indicator, before the signal formulas.
        at = slots.begin();
        for (auto it = slots.begin(); it != slots.end(); ++it)
            if (Technical(it->formula.type)) at = it + 1;
    }
    slots.insert(at, std::move(slot));
    return AddResult::kAdded;
}

int RemoveIndicators(ChartView& view, int picture, int pane, uint32_t type, std::string_view name) {
    GraphPicture& p = view.picture(picture);
    int removed = 0;
    for (size_t i = 0; i < p.panes.size(); ++i) {
        if (pane >= 0 && static_cast<int>(i) != pane) continue;
        std::vector<PaneIndicator>& slots = p.panes[i].indicators;
        const size_t before = slots.size();
        std::erase_if(slots, [&](const PaneIndicator& s) {
            return SameFormulaTypeClass(s.formula.type, type) && (name.empty() || s.formula.nameText() == name);
        });
        removed += static_cast<int>(before - slots.size());
    }
    return removed;
}

int FindIndicator(const ChartView& view, int picture, uint32_t type, std::string_view name) {
    const GraphPicture& p = view.picture(picture);
    for (size_t i = 0; i < p.panes.size(); ++i)
        for (const PaneIndicator& s : p.panes[i].indicators)
            if (Same(s.formula, type, name)) return static_cast<int>(i);
    return -1;
}

std::optional<FormulaRecord> StepPaneFormula(const std::vector<FormulaRecord>& formulas, const GraphPicture& p,
                                             int pane, int direction) {
    if (pane < 0 || pane >= static_cast<int>(p.panes.size())) return std::nullopt;
    const uint32_t type = pane == 0 ? kFormulaMainOverlay : kFormulaSubPane;
    const std::string rightGroup = Utf8ToGbk("右图指标");
    std::vector<const FormulaRecord*> fits;
    for (const FormulaRecord& f : formulas)
        if (f.type == type && !f.periodDisabled(p.period) && f.group != rightGroup) fits.push_back(&f);
    if (fits.empty()) return std::nullopt;
    const auto& slots = p.panes[static_cast<size_t>(pane)].indicators;
    int at = -1;
    if (!slots.empty())
        for (size_t i = 0; i < fits.size(); ++i)
            if (Same(*fits[i], slots.front().formula.type, slots.front().formula.nameText())) at = static_cast<int>(i);
    const int n = static_cast<int>(fits.size());
    int next = at < 0 ? (direction < 0 ? n - 1 : 0) : ((at + (direction < 0 ? -1 : 1)) % n + n) % n;
    return *fits[static_cast<size_t>(next)];
}

int StepInList(const std::vector<CodeEntry>& list, const SecurityId& current, int step) {
    const int n = static_cast<int>(list.size());
    for (int i = 0; i < n; ++i)
        if (SameSecurity(list[static_cast<size_t>(i)].id, current)) return ((i + (step < 0 ? -1 : 1)) % n + n) % n;
    return -1;
}

Period NextPeriod(Period period) {
    if (period == kPeriodTime || !IsValidPeriod(period)) return kPeriodTick;
    return PeriodFromNumber(PeriodNumber(period) + 1);
}

Period ToggleTimeSharing(Period period) { return period == kPeriodTime ? kPeriodDay : kPeriodTime; }

std::vector<PicturePlan> MultiStockPlan(const std::vector<CodeEntry>& list, const CodeEntry& current,
                                        int multiPics, Period period) {
    size_t start = 0;
    for (size_t i = 0; i < list.size(); ++i)
        if (SameSecurity(list[i].id, current.id)) {
            start = i;
            break;
        }
    const size_t left = list.size() - std::min(start, list.size());
    if (left == 0) return {};
    const int n = NormalisePictureCount(static_cast<int>(std::min<size_t>(left, static_cast<size_t>(std::clamp(multiPics, 1, 16)))));
    std::vector<PicturePlan> out;
    for (int i = 0; i < n; ++i) out.push_back({list[start + static_cast<size_t>(i)], period, 2});
    return out;
}

std::vector<PicturePlan> MultiPeriodPlan(const CodeEntry& current, int multiPics) {
    static constexpr int kOrder[] = {14, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 2};
    const int n = NormalisePictureCount(std::clamp(multiPics, 1, 16));
    std::vector<PicturePlan> out;
    for (int i = 0; i < n; ++i)
        out.push_back({current, i < 13 ? PeriodFromNumber(kOrder[i]) : kPeriodInvalid, 1});
    return out;
}

Period EnterPeriod(Period period, Period remembered) {
    if (period != kPeriodTime) return kPeriodTime;
    return IsValidPeriod(remembered) && remembered != kPeriodTime ? remembered : kPeriodDay;
}

BarTipText BarTip(const ChartView& view, const HitInfo& hit) {
    BarTipText tip;
    if (hit.picture < 0 || hit.pane < 0 || hit.bar < 0) return tip;
    const GraphPicture& p = view.picture(hit.picture);
    if (hit.pane == 0)
        for (const ExRightsMark& m : p.marks)
            if (hit.x >= m.box.left && hit.x < m.box.right && hit.y >= m.box.top && hit.y < m.box.bottom)
                return {m.caption, m.body};
    const size_t index = static_cast<size_t>(p.scale.first + hit.bar);
    if (index >= p.series.size()) return tip;
    const KLineRecord& bar = p.series.bars[index];
    const bool dayLike = PeriodNumber(p.period) >= PeriodNumber(kPeriodDay);
    if (hit.kline) {
        tip.title = FormatStoreTime(dayLike ? "Y/M/D(W)" : "Y/M/D H:N", bar.time);
        auto record = std::make_unique<StockRecord>();
        record->entry = p.security;
        record->quote.bar = bar;
        record->quote.prevClose = index > 0 ? p.series.bars[index - 1].close : bar.open;
        const std::pair<const char*, int> rows[] = {{"开：", kFieldOpen}, {"高：", kFieldHigh},   {"低：", kFieldLow},
                                                    {"收：", kFieldLast}, {"量：", kFieldVolume}, {"额：", kFieldAmount}};
        for (const auto& [label, field] : rows)
            tip.text += std::string(label) + ComputeQuoteField(field, *record, p.decimals).text + "\r\n";
        return tip;
    }
    if (hit.slot < 0 || hit.line < 0) return tip;
    const PaneIndicator& slot = p.panes[static_cast<size_t>(hit.pane)].indicators[static_cast<size_t>(hit.slot)];
    if (!slot.result || static_cast<size_t>(hit.line) >= slot.result->lines.size()) return tip;
    const OutputLine& line = slot.result->lines[static_cast<size_t>(hit.line)];
    tip.title = GbkToUtf8(slot.formula.nameText()) + "指标";
    tip.text = FormatStoreTime("Y/M/D(W)", bar.time) + "\r\n" + GbkToUtf8(slot.formula.lineDisplayName(static_cast<size_t>(hit.line))) + ":";
    if (line.valid(static_cast<int32_t>(index))) {
        char value[48];
        std::snprintf(value, sizeof value, "%.3f", static_cast<double>(line.points[index].value));
        tip.text += value;
    }
    return tip;
}

std::vector<ExRightsMark> ExRightsMarks(const GraphPicture& p) {
    std::vector<ExRightsMark> marks;
    if (p.period == kPeriodTime || p.panes.empty() || p.series.exRights.empty()) return marks;
    const RectF& draw = p.panes[0].rects.draw;
    const int bottom = RoundPixel(draw.bottom);
    for (int k = 0; k < p.scale.shown; ++k) {
        const size_t i = static_cast<size_t>(p.scale.first + k);
        if (i >= p.series.size()) break;
        const uint32_t day = StoreDay(p.series.bars[i].time);
        // A bar of a longer period covers the days after the previous bar.
        const uint32_t from = i > 0 && PeriodNumber(p.period) > PeriodNumber(kPeriodDay) ? StoreDay(p.series.bars[i - 1].time) + 1 : day;
        for (const ExRightsRecord& e : p.series.exRights) {
            const uint32_t exDay = StoreDay(StoreTimeFromUnix(e.exDate));
            if (exDay < from || exDay > day) continue;
            ExRightsMark m;
            m.bar = static_cast<int>(i);
            const int x = p.scale.CentrePixel(k);
            m.box = {x - 4, bottom - 12, x + 5, bottom - 4};
            m.caption = "除权";
            char value[48];
            m.body = "日期:" + FormatStoreTime("Y-M-D", StoreTimeFromUnix(e.exDate)) + "\r\n";
            const std::pair<const char*, float> fields[] = {
                {"送股比", e.bonusShares}, {"配股比", e.rightsShares}, {"配股价", e.rightsPrice}};
            for (const auto& [name, v] : fields) {
                if (v == 0 || !std::isfinite(v)) continue;
                std::snprintf(value, sizeof value, "%g", static_cast<double>(v));
                m.body += std::string(name) + ":" + value + "\r\n";
            }
            marks.push_back(std::move(m));
            break;
        }
    }
    return marks;
}

namespace {

// The output of a signal formula at series index i: true when finite and non-zero.
bool SignalAt(const PaneIndicator& slot, int i) {
    if (!slot.result || slot.result->lines.empty()) return false;
    const OutputLine& line = slot.result->lines[0];
    if (!line.valid(i)) return false;
    const float v = line.points[static_cast<size_t>(i)].value;
    return std::isfinite(v) && v != 0;
}

}  // namespace

RenderItem BuildSignalIcons(const PaneIndicator& slot, const Series& series, const BuildContext& ctx) {
    RenderItem item;
    item.kind = kKindIcon;
    item.colour = item.rise = item.fall = slot.formula.signalColour & 0xFFFFFF;
    item.iconType = static_cast<uint8_t>(std::min<uint32_t>(slot.formula.signalIcon, 6));
    item.hollow = false;
    item.background = ctx.scheme->colors[kColorBackground];
    item.emptyOver = ctx.emptyOver;
    const int from = std::max(ctx.firstVisible, 0);
    const int to = std::max(std::min(ctx.firstVisible + ctx.scale->shown, static_cast<int>(series.size())), from);
    item.firstBar = from - ctx.firstVisible;
    item.barCount = to - from;
    item.stride = 2;
    item.flags.assign(static_cast<size_t>(item.barCount), kBarSkip);
    item.coords.assign(static_cast<size_t>(item.barCount) * 2, 0);
    for (int i = from; i < to; ++i) {
        if (!SignalAt(slot, i)) continue;
        const KLineRecord& b = series.bars[static_cast<size_t>(i)];
        const float prices[] = {b.open, b.high, b.low, b.close};
        const float price = prices[std::min<uint32_t>(slot.formula.signalPosition, 3)];
        if (!std::isfinite(price)) continue;
        const size_t k = static_cast<size_t>(i - from);
        item.flags[k] = 0;
        item.coords[2 * k] = ctx.scale->CentrePixel(i - ctx.firstVisible);
        item.coords[2 * k + 1] = ctx.map->Y(price);
    }
    return item;
}

void ApplyColourKLine(RenderItem& kline, const PaneIndicator& slot, const Series& series, const BuildContext& ctx) {
    if (!slot.result) return;
    const OutputLineDesc* desc = slot.formula.outputs.empty() ? nullptr : &slot.formula.outputs[0];
    kline.rise = desc && desc->hasColour() ? desc->colour & 0xFFFFFF : ctx.scheme->colors[kColorRising];
    kline.fall = ctx.scheme->colors[kColorFalling];
    for (int k = 0; k < kline.barCount; ++k) {
        const int i = ctx.firstVisible + kline.firstBar + k;
        uint16_t& f = kline.flags[static_cast<size_t>(k)];
        if ((f & kBarSkip) || i < 0 || static_cast<size_t>(i) >= series.size()) continue;
        const KLineRecord& b = series.bars[static_cast<size_t>(i)];
        f = static_cast<uint16_t>(f & ~(kBarRising | kBarHollow | kBarOwnColour));
        if (SignalAt(slot, i)) f |= kBarRising;
        if (b.close > b.open) f |= kBarHollow;
    }
}

std::string IndicatorTip(const PaneIndicator& slot) {
    if (slot.result || slot.status.ok()) return {};
    return slot.status.message;
}

namespace {

void Touch(std::vector<PaneRef>& out, int picture, int pane) {
    const PaneRef ref{picture, pane};
    if (std::find(out.begin(), out.end(), ref) == out.end()) out.push_back(ref);
}

}  // namespace

std::vector<PaneRef> ApplyFormulaChange(ChartView& view, uint32_t type, std::string_view name,
                                        const std::optional<FormulaRecord>& latest) {
    std::vector<PaneRef> touched;
    const bool removed = !latest || !Same(*latest, type, name);
    for (int i = 0; i < view.pictureCount(); ++i) {
        GraphPicture& p = view.picture(i);
        // The K-line formula is never taken away, only renewed.
        if (!removed) {
            if (Same(p.kline.formula, type, name)) {
                p.kline.formula = *latest;
                Touch(touched, i, -1);
            }
            for (Overlay& o : p.overlays)
                if (Same(o.kline.formula, type, name)) {
                    o.kline.formula = *latest;
                    Touch(touched, i, -1);
                }
        }
        for (size_t k = 0; k < p.panes.size(); ++k) {
            std::vector<PaneIndicator>& slots = p.panes[k].indicators;
            if (removed) {
                const size_t before = slots.size();
                std::erase_if(slots, [&](const PaneIndicator& s) { return Same(s.formula, type, name); });
                if (slots.size() != before) Touch(touched, i, static_cast<int>(k));
                continue;
            }
            for (PaneIndicator& s : slots) {
                if (!Same(s.formula, type, name)) continue;
                s.formula = *latest;
                Touch(touched, i, static_cast<int>(k));
            }
        }
    }
    return touched;
}

std::vector<PaneRef> SetFormulaParameter(ChartView& view, uint32_t type, std::string_view name, int index, float value) {
    std::vector<PaneRef> touched;
    if (index < 0 || !std::isfinite(value)) return touched;
    for (int i = 0; i < view.pictureCount(); ++i) {
        GraphPicture& p = view.picture(i);
        for (size_t k = 0; k < p.panes.size(); ++k)
            for (PaneIndicator& s : p.panes[k].indicators) {
                if (!Same(s.formula, type, name) || static_cast<size_t>(index) >= s.formula.params.size()) continue;
                s.formula.params[static_cast<size_t>(index)].defaultValue = value;
                Touch(touched, i, static_cast<int>(k));
            }
    }
    return touched;
}

std::vector<float> SlotParameters(const GraphPicture& p, int pane, uint32_t type, std::string_view name) {
    std::vector<float> out;
    if (pane < 0 || pane >= static_cast<int>(p.panes.size())) return out;
    for (const PaneIndicator& s : p.panes[static_cast<size_t>(pane)].indicators) {
        if (!Same(s.formula, type, name)) continue;
        for (const FormulaParam& f : s.formula.params) out.push_back(f.defaultValue);
        break;
    }
    return out;
}

}  // namespace tessaro::chart
