// The time-sharing picture: the intraday minute chart of one security over the last 1 to 10
// trading days. The main pane ("TEND") holds the price line and the average-price line on a
// range symmetric around the previous close, the sub-chart ("TENDV") the minute volume, and the
// time axis one slot per trading minute (241 a day), labelled from the data and, beyond it,
// from the trading-time table.
//
// Qt-free: the picture fills display lists like the K-line panes of ChartView.
#pragma once

#include <string>
#include <vector>

#include "app/color_scheme.h"
#include "chart/display_list.h"
#include "chart/layout.h"
#include "chart/scale.h"
#include "market/market_store.h"
#include "market/records.h"
#include "platform/security_id.h"

namespace tessaro::chart {

inline constexpr int kSlotsPerDay = 241;  // 240 trading minutes plus the opening minute
inline constexpr int kMinTimeSharingDays = 1;
inline constexpr int kMaxTimeSharingDays = 10;

// Horizontal divisions of a pane half (main pane) or pane (sub-chart) `h` pixels high with a
// chart font `cy` high: 1 below 1.5 cy, RoundPixel(h / 1.5 cy) up to 10.5 cy, else 7.
int TimeSharingDivisions(float h, int cy);

// Shares per lot of the average price: 100, 10 for bonds, 0 (no average line) for indexes.
int AveragePriceLot(uint16_t securityClass);

// The average price of every minute: cumulative amount / (cumulative volume x lot), restarted
// at each day change; a minute before any volume of its day shows its close. Empty for lot 0.
std::vector<float> AveragePrices(const std::vector<KLineRecord>& minutes, int lot);

// A minute that takes part in the price line and the range: a time, a finite positive close.
bool UsableMinute(const KLineRecord& m);

// The main pane's range over minutes [first, end): symmetric around the previous close and at
// least +-1 % of it; the average prices count as well.
ValueRange TimeSharingRange(const std::vector<KLineRecord>& minutes, const std::vector<float>& averages,
                            size_t first, float previousClose);

// The right axis label of a level: "%.2f%%" of (level - middle) / middle x 100, "0.00%" when
// its magnitude is not above 0.1.
std::string PercentLabel(float level, float middle);

// The time of each of `count` slots from `first`: the minute's own time inside the data,
// beyond it the trading-time table continuing the last day (then the following days).
// `today` stands in for the last day when there is no data.
std::vector<StoreTime> SlotTimes(const std::vector<KLineRecord>& minutes, size_t first, int count, StoreTime today);

// Time labels of the slots whose x positions are `xs`. A label with empty text is an
// unlabelled tick. The last label is moved to `rightEdge`.
std::vector<TimeLabel> TimeSharingLabels(const std::vector<StoreTime>& times, const std::vector<int>& xs, int days,
                                         bool singlePicture, int rightEdge);

// An index's breadth figure of a minute: (rising - falling) / (rising + unchanged + falling);
// 0 when the counts sum to 0 or less.
float BreadthG(int rising, int unchanged, int falling);

// The breadth bars of an index's minutes of `day`: for each minute, its g averaged with the
// previous minute's g from the second minute of the day on (NaN for minutes of other days or
// without a slot). `extras` is the index's breadth table by minute slot (rising, unchanged and
// falling at figures 0, 1 and 2).
std::vector<float> BreadthBars(const std::vector<KLineRecord>& minutes, const std::vector<MinuteExtra>& extras,
                               uint32_t day);

// The index's turnover line "成交额(万)" over `count` minutes from `first`: today's breadth-table
// values by minute slot, each carried forward over minutes whose value is below 0.000001; NaN
// before the first value, for minutes of earlier days and for minutes without a slot.
std::vector<float> TurnoverLine(const std::vector<KLineRecord>& minutes, const std::vector<MinuteExtra>& extras,
                                size_t first, size_t count);

// The "ZDL" lines of an index over its minutes of `day` (NaN elsewhere): rising and falling
// counts from the breadth table, and their difference placed between them,
// s x (rising - falling) + mid, with mid the middle of the two count lines' extent and
// s = 0.8 x mid / (largest |rising - falling|), 1 when that is below 0.000001.
struct AdvanceDeclineLines {
    std::vector<float> rising, falling, difference;
    float mid = 0;
};
AdvanceDeclineLines AdvanceDeclineMinutes(const std::vector<KLineRecord>& minutes,
                                          const std::vector<MinuteExtra>& extras, uint32_t day);

struct TimeSharingData {
    CodeEntry security;
    int decimals = 2;
    float previousClose = 0;
    std::vector<KLineRecord> minutes;  // oldest first, one or more days
    StoreTime today = 0;               // the market's day when there are no minutes
    // An index's breadth table of today by minute slot (0 .. 241); empty when there is none.
    std::vector<MinuteExtra> breadth;
};

// The sub-charts under the main pane: both (the volume and, for an index with breadth figures,
// "ZDL"), the volume alone, or "ZDL" alone (the volume when there are no breadth figures).
enum class SubCharts : uint8_t { kAll, kVolume, kZdl };

struct TimeSharingOptions {
    ColorScheme scheme;
    ChartMetrics metrics;
    bool singlePicture = true;  // the view shows one picture (left price axis, dated first label)
    bool hcoord = true;         // horizontal grid lines
    SubCharts subCharts = SubCharts::kAll;
    TextMeasure measure;
};

class TimeSharingPicture {
public:
    explicit TimeSharingPicture(TimeSharingOptions options = {});

    void SetOptions(const TimeSharingOptions& options) { options_ = options; }
    void SetData(TimeSharingData data);
    const TimeSharingData& data() const { return data_; }
    // 1 to 10; others are clamped.
    void SetDays(int days);
    int days() const { return days_; }
    // Up adds a day, Down removes one; false when the count stays.
    bool StepDays(int delta);

    // The outer rectangle of the picture: the main pane takes 3 units, the volume pane 1, and
    // for an index with breadth figures the "ZDL" pane 1 more.
    void Layout(const RectF& outer);
    // Recomputes slots, ranges and labels and draws the lists.
    void Build();

    int slotCount() const { return days_ * kSlotsPerDay; }
    size_t firstMinute() const { return first_; }
    const HScale& scale() const { return scale_; }
    const PaneRects& mainRects() const { return main_.rects; }
    const PaneRects& volumeRects() const { return volume_.rects; }
    const ValueMap& mainMap() const { return main_.map; }
    const ValueMap& volumeMap() const { return volume_.map; }
    // Empty unless the picture is an index with breadth figures.
    const PaneRects& zdlRects() const { return zdl_.rects; }
    const ValueMap& zdlMap() const { return zdl_.map; }
    const DisplayList& zdlList() const { return zdl_.list; }
    bool hasZdl() const;
    // Which sub-charts the layout gives room to.
    bool volumeShown() const { return options_.subCharts != SubCharts::kZdl || !hasZdl(); }
    bool zdlShown() const { return hasZdl() && options_.subCharts != SubCharts::kVolume; }
    // Division boundaries of the main pane, bottom to top (the middle is the previous close).
    const std::vector<float>& mainLevels() const { return main_.levels; }
    const std::vector<TimeLabel>& labels() const { return labels_; }
    // The price line's runs (each a polyline), for checking where it breaks.
    const std::vector<std::vector<Point>>& priceRuns() const { return priceRuns_; }

    const DisplayList& mainList() const { return main_.list; }
    const DisplayList& volumeList() const { return volume_.list; }
    const DisplayList& frameList() const { return frame_; }
    std::string ToText() const;

private:
    struct Pane {
        PaneRects rects;
        ValueMap map;
        std::vector<float> levels;  // boundary values, bottom to top
        DisplayList list;
    };
    int TextWidth(const std::string& text) const;
    void DrawMain();
    void DrawVolume();
    void SplitPanes();
    void DrawZdl();
    // The level labels of a sub-chart on its axes, bottom up; in a low pane a label that would
    // overlap the one below it is left out.
    void DrawLevelLabels(const Pane& pane, ColorRef colour, DisplayList& list) const;
    void DrawFrame();
    void DrawGridAndTimeLines(const Pane& pane, bool mainPane, DisplayList& list) const;
    void DrawTitle(const Pane& pane, bool mainPane, DisplayList& list) const;

    TimeSharingOptions options_;
    TimeSharingData data_;
    int days_ = 1;
    RectF outer_;
    Pane main_, volume_, zdl_;
    DisplayList frame_;
    HScale scale_;
    size_t first_ = 0;
    std::vector<float> averages_;
    std::vector<float> turnover_;  // TurnoverLine over the minutes shown; empty unless hasZdl()
    std::vector<TimeLabel> labels_;
    std::vector<std::vector<Point>> priceRuns_;
};

}  // namespace tessaro::chart
