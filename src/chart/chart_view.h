// The chart view model: pictures in a grid, each with its security, period, series, panes,
// indicator slots and horizontal scale, and the update pipeline that ties data loading,
// formula evaluation, ranges and drawing together.
//
// Update levels run cumulatively from the given one: 0 reload data, 1 recompute the
// horizontal scale, 2 re-evaluate indicators, 3 recompute ranges, levels, time labels and
// render items, 4 draw the panes into the display lists. Drawing compares each pane's new list
// with its old one, so the invalid rectangle covers only what changed.
#pragma once

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/color_scheme.h"
#include "chart/display_list.h"
#include "chart/layout.h"
#include "chart/render_items.h"
#include "chart/scale.h"
#include "chart/info_panel.h"
#include "chart/time_sharing.h"
#include "formula/compiled_formula.h"
#include "formula/eval_data_source.h"
#include "formula/eval_result.h"
#include "formula/evaluator.h"
#include "formula/formula_set.h"
#include "market/series.h"
#include "market/series_loader.h"
#include "tools/blocks/block_set.h"

namespace tessaro::chart {

// Where a chart gets its bars, formulas and evaluations.
class ChartSource {
public:
    virtual ~ChartSource() = default;
    // The series of a security in a period with the ex-rights flags (bit 0 none, bit 1
    // backward, else forward); false when there is none.
    virtual bool Load(const CodeEntry& security, Period period, int exRights, Series& out) = 0;
    // Evaluates over `series`; what the formula loads besides takes the same adjustment.
    virtual std::unique_ptr<EvalResult> Evaluate(const FormulaRecord& formula, const CodeEntry& security,
                                                 const Series& series, Period period, int exRights,
                                                 EvalStatus& status) = 0;
    // A copy of a formula of the set.
    virtual std::optional<FormulaRecord> Formula(uint32_t type, std::string_view name) = 0;
    virtual StoreTime MarketTime() = 0;
    virtual int Decimals(const CodeEntry& security) = 0;
    // The minutes of the last `days` trading days (time-sharing); one day unless a source can
    // reach the minute history.
    // An index's breadth table of today by minute slot; false when there is none.
    virtual bool MinuteExtras(const CodeEntry& security, MinuteExtraDay& out) {
        (void)security;
        (void)out;
        return false;
    }
    // The security's market record for the information panel; false when there is none.
    virtual bool QuoteRecord(const CodeEntry& security, StockRecord& out) {
        (void)security;
        (void)out;
        return false;
    }
    virtual bool LoadMinuteDays(const CodeEntry& security, int days, Series& out) {
        (void)days;
        return Load(security, kPeriodTime, 1, out);
    }
    // The index of a market (the information panel's 指 page); false when there is none.
    virtual bool MarketIndex(MarketCode market, CodeEntry& out) {
        (void)market;
        (void)out;
        return false;
    }
    // The blocks holding a security (the information panel's 板 page).
    virtual std::vector<InfoPanelBlock> BlocksOf(const CodeEntry& security) {
        (void)security;
        return {};
    }
};

// The source over a formula set and an evaluation data source (the market store's, or series
// held in memory).
class FormulaChartSource : public ChartSource {
public:
    // `minutes`, when given, serves time-sharing pictures of more than one day; `store` the
    // information panel's quotes.
    FormulaChartSource(const FormulaSet& formulas, EvalDataSource& data, const SeriesSource* minutes = nullptr,
                       const MarketStore* store = nullptr);
    bool LoadMinuteDays(const CodeEntry& security, int days, Series& out) override;
    bool QuoteRecord(const CodeEntry& security, StockRecord& out) override;
    bool MinuteExtras(const CodeEntry& security, MinuteExtraDay& out) override;
    bool Load(const CodeEntry& security, Period period, int exRights, Series& out) override;
    std::unique_ptr<EvalResult> Evaluate(const FormulaRecord& formula, const CodeEntry& security,
                                         const Series& series, Period period, int exRights,
                                         EvalStatus& status) override;
    std::optional<FormulaRecord> Formula(uint32_t type, std::string_view name) override;
    StoreTime MarketTime() override { return data_.CurrentMarketTime(); }
    int Decimals(const CodeEntry& security) override;
    bool MarketIndex(MarketCode market, CodeEntry& out) override;
    std::vector<InfoPanelBlock> BlocksOf(const CodeEntry& security) override;
    // The block set the 板 page reads; none: no blocks listed.
    void SetBlocks(const BlockSet* blocks) { blocks_ = blocks; }

private:
    const BlockSet* blocks_ = nullptr;
    const FormulaSet& formulas_;
    EvalDataSource& data_;
    const SeriesSource* minutes_ = nullptr;
    const MarketStore* store_ = nullptr;
    FormulaEvaluator evaluator_;
};

struct ChartOptions {
    ColorScheme scheme;
    ChartMetrics metrics;
    bool hcoord = true;      // "Hcoord": horizontal grid lines
    bool vcoord = false;     // "Vcoord1": vertical grid lines
    bool emptyOver = true;   // "EmptyOver": hollow rising candles
    bool klineScale = true;  // "K线坐标": the main pane's range follows the K-lines only
    uint8_t exRights = 0;    // "Purview": bit 0 none, else 2 backward, 0 forward
    int visibleBars = kDefaultVisibleBars;  // "Ruler"
    TextMeasure measure;     // text widths in the chart font; columns * cx when empty
    bool infoPanel = false;  // "StkInfo": the information panel beside the pictures
    int infoPanelWidth = kInfoPanelDefaultWidth;  // "StkInfoWidth2"
};

// The ex-rights mode byte of every chart ("Purview"): bit 0 set = 不还权; otherwise 2 = 上还权
// (backward) and 0 = 下还权 (forward). It is also the series loader's adjustment flags.
enum class ExRightsChoice { kNone, kBackward, kForward };
constexpr uint8_t ChooseExRights(uint8_t mode, ExRightsChoice c) {
    return c == ExRightsChoice::kNone ? static_cast<uint8_t>(mode | 1) : c == ExRightsChoice::kBackward ? 2 : 0;
}
constexpr ExRightsChoice CurrentExRights(uint8_t mode) {
    return (mode & 1) ? ExRightsChoice::kNone : (mode & 2) ? ExRightsChoice::kBackward : ExRightsChoice::kForward;
}
// The tool-bar button 还权 toggles bit 0 and keeps the other bits.
constexpr uint8_t ToggleExRights(uint8_t mode) { return static_cast<uint8_t>(mode ^ 1); }

// Scale modes of a pane.
inline constexpr int kScaleNormal = 1;
inline constexpr int kScalePercentage = 2;
inline constexpr int kScaleFixedLevels = 8;  // bit 3

struct PaneIndicator {
    FormulaRecord formula;
    std::unique_ptr<EvalResult> result;
    EvalStatus status;
    bool rangeValid = false;
    ValueRange range;
    std::vector<RenderItem> items;
    Rect nameRect;  // where the title strip drew the name (hit-testing)
};

struct GraphPane {
    float height = 0;  // pixels; the panes keep their proportions on a resize
    PaneRects rects;
    std::vector<PaneIndicator> indicators;
    int scaleMode = kScaleNormal;
    float reference = 0;  // percentage mode: the close of the first visible bar
    ValueRange range;
    ValueMap map;
    Levels levels;
    AxisLabelFormat labels;
    DisplayList list;     // what level 4 drew
};

// A security overlaid on the main pane: its bars matched to the main security's by time (a bar
// the overlay lacks is NaN and not drawn), and in percentage mode scaled so that its close at the
// first visible bar meets the main security's.
struct Overlay {
    CodeEntry security;
    Series series;    // aligned with the main series
    Series scaled;    // what the pane draws
    PaneIndicator kline;
};

inline constexpr int kMaxSecurities = 5;  // the main security and four overlays

// An ex-rights mark under a visible bar of the main pane, with its tip.
struct ExRightsMark {
    int bar = 0;           // series index
    Rect box;              // where the mark is drawn (hit-testing)
    std::string caption;   // "除权"
    std::string body;      // UTF-8 lines "name:value\r\n"
};

struct GraphPicture {
    CodeEntry security;
    bool hasSecurity = false;
    int decimals = 2;
    Period period = kPeriodDay;
    Period klinePeriod = kPeriodDay;  // the K-line period left for time-sharing (Enter returns to it)
    int historyRequest = HistoryRequestSize(kPeriodDay, kDefaultVisibleBars);
    Series series;
    bool loaded = false;
    RectF outer;
    HScale scale;
    PaneIndicator kline;  // the K-line formula: "K", "BAR" or "PRICE"
    std::vector<GraphPane> panes;
    std::vector<TimeLabel> timeLabels;
    DisplayList frame;    // the time-axis strip and the box under the price axis
    int cursorBar = -1;   // the crosshair's bar (series index) the titles show; -1: the last bar
    std::vector<Overlay> overlays;
    std::vector<ExRightsMark> marks;
    // Period 14: the time-sharing picture drawn instead of the panes, over timeDays days.
    int timeDays = 1;
    std::unique_ptr<TimeSharingPicture> timeSharing;
    // The information panel at its right, its mode, the finance page's scroll position, the
    // blocks holding the security (read once per security) and its drawing.
    int panelMode = 0;
    int panelScroll = 0;
    bool panelBlocksRead = false;
    std::vector<InfoPanelBlock> panelBlocks;
    InfoPanel panel;
    DisplayList panelList;
};

class ChartView {
public:
    ChartView(ChartSource& source, ChartOptions options);

    const ChartOptions& options() const { return options_; }
    void SetOptions(const ChartOptions& options);  // then Update(1)

    // The client area; pictures and panes keep their proportions.
    void Resize(int width, int height);
    int width() const { return width_; }
    int height() const { return height_; }

    void SetPictureCount(int n);
    int pictureCount() const { return static_cast<int>(pictures_.size()); }
    GraphPicture& picture(int i) { return pictures_[static_cast<size_t>(i)]; }
    const GraphPicture& picture(int i) const { return pictures_[static_cast<size_t>(i)]; }
    int active() const { return active_; }
    // Makes a picture active (a click on it); in a view of several pictures its main pane's title
    // is drawn on the highlight colour. Returns what changed on screen.
    Region SetActive(int picture);

    // Shows a security in a picture: N visible bars, the newest at the right.
    void SetSecurity(int picture, const CodeEntry& security);
    void SetPeriod(int picture, Period period);
    // The panes of a picture and their formulas (type and GBK name each); the first list is the
    // main pane's. Formulas missing from the set are skipped.
    void SetPanes(int picture, const std::vector<std::vector<std::pair<uint32_t, std::string>>>& panes);
    // Overlays a security on the main pane (loaded with the next update); false when the picture
    // already shows five securities or shows this one.
    bool AddOverlay(int picture, const CodeEntry& security);
    bool RemoveOverlay(int picture, int index);
    // Adds or removes panes at the bottom (1 .. 6), keeping the remaining panes' indicators and
    // proportions; new sub-charts get one unit of height each.
    void SetPaneCount(int picture, int n);
    // "K", "BAR" or "PRICE" for every picture.
    void SetKLineKind(std::string_view name);
    void SetScaleMode(int picture, int pane, int mode);
    void SetExRights(uint8_t mode);
    // The bar whose values the title strips show (-1: the last bar); redraws the picture's panes
    // when it changes and returns what changed on screen.
    Region SetCursorBar(int picture, int bar);

    // A drag on the price axis of a pane in percentage mode: the reference value moves by
    // -dy / (pixels per value unit), the pane's levels and labels follow and the picture is drawn
    // again. Nothing (an empty region) for a pane in another mode.
    Region DragReference(int picture, int pane, int dy);

    // A key for every picture; true when a picture changed (then Update(1) has run).
    bool MoveOrZoom(MoveKey key);
    // The day count of the time-sharing pictures (1 .. 10); Up adds a day, Down removes one.
    // True when a picture changed; it then needs Update(0) to load the days.
    bool StepTimeDays(int delta);
    void SetTimeDays(int picture, int days);
    // "+" and "-": the next or previous mode 0 .. 4 of the information panels (an index has only
    // mode 0). True when a panel changed; Update(4) draws it.
    bool StepPanelMode(int delta);
    // The mode of a picture's panel (a tab clicked); an index keeps mode 0. Entering 财 resets
    // its scroll position. True when the mode changed; Update(4) draws it.
    bool SetPanelMode(int picture, int mode);
    // A click on tab `tab` of the panel: selects its mode; 细 clicked while shown switches to
    // 价 and back. False when nothing changed.
    bool ClickPanelTab(int picture, int tab);
    // Scrolls the 财 page by `rows`; true when it moved.
    bool ScrollPanel(int picture, int rows);
    // 股票信息: shows or hides the panels; they keep their modes. The panes make room (or take
    // it back) at once; Update(1) draws them.
    void ShowInfoPanel(bool shown);
    // The panel's width ("StkInfoWidth2"), from its minimum up to what leaves a picture 200
    // pixels; relayouts the pictures.
    void SetInfoPanelWidth(int width);
    // Whether the picture shows its panel: the option is on and the picture stays at least 200
    // pixels wide beside it.
    bool PanelShown(const GraphPicture& p) const;
    // The part of the picture left to the chart (all of it without the panel).
    RectF ChartArea(const GraphPicture& p) const;

    // Runs the levels from `level` for one picture (-1 all) and pane (-1 all). Returns the
    // invalid region: what changed on screen.
    Region Update(int level, int picture = -1, int pane = -1, bool keepFirst = false);

    // Every display list of the view in painting order.
    template <class Fn>
    void ForEachList(Fn&& fn) const {
        for (const GraphPicture& p : pictures_) {
            if (p.period == kPeriodTime && p.timeSharing) {
                fn(p.timeSharing->mainList());
                fn(p.timeSharing->volumeList());
                if (p.timeSharing->hasZdl()) fn(p.timeSharing->zdlList());
                fn(p.timeSharing->frameList());
                fn(p.panelList);
                continue;
            }
            for (const GraphPane& pane : p.panes) fn(pane.list);
            fn(p.frame);
            fn(p.panelList);
        }
    }
    // All lists joined (for tests and golden files).
    std::string ToText() const;

private:
    void LayoutPictures();
    void LayoutPanes(GraphPicture& p);
    void Load(GraphPicture& p, bool keepFirst);
    void LoadOverlays(GraphPicture& p);
    void Evaluate(GraphPicture& p, int pane);
    void EvaluateSlot(GraphPicture& p, PaneIndicator& slot);
    void Ranges(GraphPicture& p, int pane);
    void PaneLevels(GraphPicture& p, size_t index, bool percentage);
    void TimeLabels(GraphPicture& p);
    Region UpdateTimeSharing(GraphPicture& p, int from);
    Region DrawPanel(GraphPicture& p, const RectF& chart);
    Region Draw(GraphPicture& p, int pane);
    void DrawPane(GraphPicture& p, int index, DisplayList& list);
    void DrawTitle(GraphPicture& p, int index, DisplayList& list);
    void DrawFrame(GraphPicture& p, DisplayList& list);
    int16_t KLineKind(const GraphPicture& p) const;
    int TextWidth(const std::string& text) const;

    ChartSource& source_;
    ChartOptions options_;
    int width_ = 0, height_ = 0;
    std::vector<GraphPicture> pictures_;
    int active_ = 0;
    std::string klineName_ = "K";
};

// Where two display lists differ, within `whole`: the bounds of every primitive that changed
// (for a polyline or polygon of the same length, of the segments at the changed points only);
// `whole` when their structure differs, nothing when they are equal.
Region DiffBounds(const DisplayList& before, const DisplayList& after, const Rect& whole);

}  // namespace tessaro::chart
