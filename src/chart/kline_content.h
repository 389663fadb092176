// What the panes of a K-line picture hold and the commands that change it: placing a formula
// in a pane (by its type), removing formulas, finding one, stepping the active pane's first
// indicator through the formula set, the period keys, and the tip of an indicator that failed.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "chart/chart_view.h"
#include "chart/cursor.h"

namespace tessaro::chart {

inline constexpr int kMaxPaneIndicators = 29;  // a 30th is refused

enum class AddResult {
    kAdded,
    kKLine,         // a type 2 formula became the K-line formula of every security
    kDisabled,      // its usage flags disable the picture's period
    kAlreadyShown,  // the pane holds a formula of the same type class and name
    kPaneFull,      // the pane holds 29 slots
};

// The pane a formula goes to: types 0, 1, 5 and 7 the main pane; type 3 the main pane from a
// menu, else `pane`; type 4 `pane`, or from a menu the active pane, or pane 1 when that is the
// main pane. -1 for a type that has no pane.
int IndicatorTargetPane(uint32_t type, int pane, bool fromMenu, int activePane);

// Places a copy of `formula` in a picture. With replaceSameType the target pane's formulas of
// the same type class go first (type 5 always replaces). A picture with a single pane gets a
// second one for a sub-chart formula. Technical indicators are inserted after the last
// technical indicator of the pane, other formulas appended. The caller updates from level 2.
AddResult AddIndicator(ChartView& view, int picture, int pane, const FormulaRecord& formula, bool replaceSameType,
                       bool fromMenu, int activePane = 0);
// Removes the slots of a pane (-1 every pane) of `type`'s class and, when given, `name`; the
// others keep their order. Returns how many went.
int RemoveIndicators(ChartView& view, int picture, int pane, uint32_t type, std::string_view name = {});
// The pane holding a formula of `type`'s class and `name`, or -1.
int FindIndicator(const ChartView& view, int picture, uint32_t type, std::string_view name);

// Home (-1) / End (+1): the formula before or after the pane's first indicator among
// `formulas` (set order) that fits the pane: type 3 for the main pane, 4 for sub-charts, usable
// in the period, not in the group 右图指标. Wraps at both ends; nullopt when none fits.
std::optional<FormulaRecord> StepPaneFormula(const std::vector<FormulaRecord>& formulas, const GraphPicture& p,
                                             int pane, int direction);

// Page Up (-1) / Page Down (+1): the index of the security before or after `current` in a list,
// wrapping at both ends; -1 when the list does not hold it.
int StepInList(const std::vector<CodeEntry>& list, const SecurityId& current, int step);

// ---- Multi-picture views ---------------------------------------------------------------

// One picture of a multi-picture view: its security, period and pane count.
struct PicturePlan {
    CodeEntry security;
    Period period = kPeriodDay;  // kPeriodInvalid: the picture keeps the period it starts with
    int panes = 1;
};
// 多股票组合: the securities of `list` from `current` on (the list's order, no wrapping; from the
// start of the list when it lacks `current`), as many as fit in `multiPics` pictures rounded down
// to a grid of 1, 2, 4, 9 or 16, each in `period` with 2 panes.
std::vector<PicturePlan> MultiStockPlan(const std::vector<CodeEntry>& list, const CodeEntry& current,
                                        int multiPics, Period period);
// 多周期组合: `current` in every one of `multiPics` pictures (rounded down as above), picture i in
// period 14, 3, 4, ..., 13, 2 for i = 0 .. 12 and none for the later ones, each with one pane.
std::vector<PicturePlan> MultiPeriodPlan(const CodeEntry& current, int multiPics);

// F8: the next period, after the time-sharing picture comes the tick picture.
Period NextPeriod(Period period);
// F5: time-sharing <-> day.
Period ToggleTimeSharing(Period period);
// Enter on one picture: a K-line picture goes to time-sharing, a time-sharing picture back to
// `remembered` (the K-line period it left), the day when that is not a K-line period.
Period EnterPeriod(Period period, Period remembered);

struct BarTipText {
    std::string title, text;  // UTF-8; both empty when nothing is under the point
};
// The bar tip of a hit point: over the K-line of bar d its time and "开：", "高：", "低：", "收：",
// "量：", "额：" lines as the quote list formats them; over an indicator line "%s指标" with the
// bar date, the line name and its value ("%.3f", empty outside the line's valid range).
BarTipText BarTip(const ChartView& view, const HitInfo& hit);

// ---- Ex-rights marks -------------------------------------------------------------------

// The marks of the main security's ex-rights records that fall on visible bars (matched by
// day): at the bar's x near the bottom of the main pane's drawing rectangle, caption "除权" and
// a body of 日期, 送股比, 配股比, 配股价 (those not 0) as "name:value\r\n".
std::vector<ExRightsMark> ExRightsMarks(const GraphPicture& p);

// ---- Signal formulas in the main pane --------------------------------------------------

inline bool SelectionFormula(uint32_t type) { return type == kFormulaSelection || type == kFormulaCombined; }
inline bool SignalFormula(uint32_t type) { return SelectionFormula(type) || type == kFormulaColourKLine; }

// The icons of a selection formula: at every visible bar where its output is non-zero the
// formula's icon (0 .. 6) in its signal colour, at the bar's open, high, low or close as its
// price position (0 .. 3) selects.
RenderItem BuildSignalIcons(const PaneIndicator& slot, const Series& series, const BuildContext& ctx);
// A colour K-line formula re-flags the main K-line item: a bar where it is non-zero rising (in
// the formula's line colour when it has one, else 阳线), every other bar falling (阴线); bars
// that close above their open are hollow.
void ApplyColourKLine(RenderItem& kline, const PaneIndicator& slot, const Series& series, const BuildContext& ctx);

// The tooltip of an indicator's name: why the formula drew nothing (its error), else empty.
std::string IndicatorTip(const PaneIndicator& slot);

// ---- Formula notices -------------------------------------------------------------------

// A pane to evaluate again after a notice; pane -1 stands for the picture's K-line slots.
struct PaneRef {
    int picture = 0;
    int pane = 0;
    friend bool operator==(const PaneRef&, const PaneRef&) = default;
};

// A formula of the set changed or went. Changed (`latest` holds the set's new version): every
// slot of every picture holding a formula of its type class and name takes a copy of it,
// the K-line slots of the main security and the overlays included. Deleted (or changed but no
// longer in the set): those slots are removed from their panes, the others keep their order; the
// panes stay, and the K-line keeps its formula. Returns the panes whose slots changed, once each.
std::vector<PaneRef> ApplyFormulaChange(ChartView& view, uint32_t type, std::string_view name,
                                        const std::optional<FormulaRecord>& latest);

// The parameter dialog's change: parameter `index` of every slot holding the formula becomes
// `value` where the formula has that many parameters. Returns the panes to evaluate again.
std::vector<PaneRef> SetFormulaParameter(ChartView& view, uint32_t type, std::string_view name, int index, float value);

// The parameter values of the first slot of a pane holding the formula (what the parameter
// dialog starts from); empty when the pane holds none.
std::vector<float> SlotParameters(const GraphPicture& p, int pane, uint32_t type, std::string_view name);

}  // namespace tessaro::chart
