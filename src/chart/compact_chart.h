// The compact chart control: a self-contained time-sharing chart for windows outside the chart
// view (the history time-sharing window). It is made with its rectangle, the main formula
// ("TEND") and the fonts' metrics, then given its sub-chart formula ("TENDV"), the captions of
// its tabs and the minute data as they arrive. It draws the panes with the time-sharing picture
// (same value mapping, levels and labels), and adds its own tab strip along the bottom (one tab
// per sub-chart, the current one highlighted, the period caption at the right) and a cursor
// (a vertical line on a minute with its time and price tags).
//
// Qt-free: everything goes into one display list.
#pragma once

#include <string>
#include <vector>

#include "chart/display_list.h"
#include "chart/time_sharing.h"

namespace tessaro::chart {

// What a tab-strip action tells the owner ("WM_GPHTABSELCHANGED" / "WM_GPHTABDELTEITEM").
enum class CompactNotice { kNone, kTabSelChanged, kTabDeleted };
struct CompactEvent {
    CompactNotice notice = CompactNotice::kNone;
    int tab = -1;
};

// The sub-chart formulas a tab can show: "TENDV" (minute volume) and "ZDL" (rising and falling
// counts of an index).
inline constexpr const char* kCompactVolumeFormula = "TENDV";
inline constexpr const char* kCompactBreadthFormula = "ZDL";

class CompactChart {
public:
    CompactChart(const Rect& rect, std::string mainFormula, TimeSharingOptions options);

    void SetRect(const Rect& rect);
    const Rect& rect() const { return rect_; }
    const std::string& mainFormula() const { return mainFormula_; }
    // Adds a sub-chart formula as a tab (at most 8; an unknown name or a repeat is refused).
    bool AddSubFormula(const std::string& name);
    // The tab captions in order; missing ones show the formula name.
    void SetLabels(std::vector<std::string> labels);
    // The day's minutes (and, for an index, its breadth table by minute slot).
    void SetData(TimeSharingData data);
    const TimeSharingPicture& picture() const { return picture_; }

    int tabCount() const { return static_cast<int>(tabs_.size()); }
    int currentTab() const { return current_; }
    const std::string& tabFormula(int i) const { return tabs_[static_cast<size_t>(i)]; }
    std::string tabCaption(int i) const;
    // Selects a tab; kTabSelChanged when it changed.
    CompactEvent SelectTab(int index);
    // Removes a tab, never the last one; the current tab stays, or its neighbour takes over.
    CompactEvent DeleteTab(int index);
    // A click at a point of the last drawing: a tab selects it.
    CompactEvent Click(Point p);
    const std::vector<Rect>& tabRects() const { return tabRects_; }

    // The cursor on the minute under x (clamped to the minutes shown); false without minutes.
    bool MoveCursor(int x);
    // One minute to the left or right.
    bool StepCursor(int step);
    void HideCursor() { cursor_ = -1; }
    // The minute under the cursor (index into the data's minutes), -1 when hidden.
    int cursorMinute() const { return cursor_; }
    // The cursor's time tag ("HH:MM") and price tag, empty when hidden.
    std::string cursorTime() const;
    std::string cursorPrice() const;

    // Lays out and draws everything.
    void Build();
    const DisplayList& list() const { return list_; }
    std::string ToText() const { return list_.ToText(); }

private:
    int TextWidth(const std::string& text) const;
    void DrawTabs();
    void DrawCursor();

    Rect rect_;
    std::string mainFormula_;
    TimeSharingOptions options_;
    TimeSharingPicture picture_;
    std::vector<std::string> tabs_;
    std::vector<std::string> labels_;
    int current_ = 0;
    int cursor_ = -1;
    std::vector<Rect> tabRects_;
    DisplayList list_;
};

}  // namespace tessaro::chart
