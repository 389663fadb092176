// Views of several pictures: which picture a click makes active, which pictures a period switch
// or a security step reaches, and the settings a single picture leaves behind as the defaults
// of the pictures created after it (the settings record is written back at exit).
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/settings.h"
#include "chart/chart_view.h"
#include "chart/kline_content.h"

namespace tessaro::chart {

// How the pictures of a view were laid out.
enum class Combination { kSingle, kMultiStock, kMultiPeriod };

// The picture under a point, -1 when none.
int PictureAt(const ChartView& view, int x, int y);

// The pictures a period switch reaches: every picture of a 多股票组合 view, else the active one.
std::vector<int> PeriodTargets(const ChartView& view, Combination combination);

// Page Up / Page Down: what each picture shows next. `next` gives the security after (step +1)
// or before (-1) a security, nullopt when there is none. One picture, or a 多周期组合 view: the
// active picture's next security for every picture; a 多股票组合 view: each picture steps from
// its own security.
using NextSecurityFn = std::function<std::optional<CodeEntry>(const CodeEntry& from, int step)>;
std::vector<std::pair<int, CodeEntry>> SecurityStepTargets(const ChartView& view, Combination combination, int step,
                                                           const NextSecurityFn& next);

// The security before or after `from` in the first of `lists` that holds it (the view's list,
// then the first user block holding it, then the market's code table), wrapping at both ends;
// nullopt when none holds it.
std::optional<CodeEntry> NextInLists(const std::vector<const std::vector<CodeEntry>*>& lists, const CodeEntry& from,
                                     int step);

// ---- Defaults kept from a single picture -------------------------------------------------

using PaneFormulas = std::vector<std::vector<std::pair<uint32_t, std::string>>>;

// The formulas of a picture's panes as the settings keep them: the type and name of each slot,
// at most 30 per pane, for all six panes (panes the picture does not show keep `previous`).
PaneFormulaLists CapturePaneLists(const GraphPicture& p, const PaneFormulaLists& previous);

// When the view shows exactly one picture, its settings become the defaults of new pictures:
// its information panel width ("StkInfoWidth2"), period ("Cycle"), main pane scale mode
// ("CoordType"), K-line formula ("Formula0", when not empty), pane formula lists
// ("AreaFormulaRec"), visible bar count ("Ruler"), time-sharing days ("Days_time") and pane
// count ("Areas"). False, nothing changed, with several pictures.
bool KeepPictureDefaults(const ChartView& view, SystemSettings& settings);

// The panes of a new K-line picture: the first "Areas" (1 .. 6) pane lists of the defaults.
PaneFormulas DefaultPanes(const SystemSettings& settings);

// Gives picture `picture` the defaults: its panes and their formulas, the visible bar count of
// "Ruler" and the main pane scale mode of "CoordType". The caller updates from level 0.
void ApplyPictureDefaults(ChartView& view, int picture, const SystemSettings& settings);

// Lays the view out as planned, each picture starting from the defaults with the plan's
// security, period and pane count (nothing when the plan is empty).
void ApplyPlan(ChartView& view, const std::vector<PicturePlan>& plan, const SystemSettings& defaults);

}  // namespace tessaro::chart
