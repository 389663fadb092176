// The security information panel at the right of a chart picture: the header with name and
// code, the quote table (five ask and bid levels and the day's figures, formatted and coloured
// as in the quote list) or, for an index, the index table with the market's breadth, and the
// tab strip at the bottom that selects the panel's mode.
//
// Qt-free: the panel draws into a display list.
#pragma once

#include <string>
#include <vector>

#include "app/color_scheme.h"
#include "chart/display_list.h"
#include "chart/layout.h"
#include "chart/scale.h"
#include "market/quote_fields.h"
#include "market/records.h"

namespace tessaro::chart {

inline constexpr int kInfoPanelDefaultWidth = 275;  // "StkInfoWidth2"
inline constexpr int kInfoPanelModes = 5;           // 细, 财, 势, 指, 板 (modes 0 .. 4)

// The tab captions: "细", "财", "势", "指", "板"; an index has only "细".
std::vector<std::string> InfoPanelTabs(bool index);

struct InfoPanelData {
    CodeEntry security;
    bool hasRecord = false;
    StockRecord record;         // the security's market record (quote, order book, finance)
    int decimals = 2;
    int mode = 0;
    // An index's breadth: rising, unchanged and falling securities; -1 when unknown.
    int rising = -1, unchanged = -1, falling = -1;
    // Mode 0 (细): today's trades, oldest first (time, price in close, volume in lots); the
    // newest that fit are listed under the quote table.
    std::vector<KLineRecord> ticks;
};

// "%.2f%%" of the bid ratio (bid - ask) / (bid + ask) x 100; "0.00%" when both are 0 or either
// is not a finite, non-negative number.
std::string BidRatioText(double bidLots, double askLots);

// Today's ticks as loaded (cumulative volume) into trades with the volume of each; a total that
// goes backwards or is not a number gives the trade 0.
void TradeVolumes(std::vector<KLineRecord>& ticks);

class InfoPanel {
public:
    // Draws the panel into `box` (the picture's full height); the tab strip takes the bottom
    // `stripHeight` pixels. Rows that do not fit are dropped.
    void Draw(const Rect& box, int stripHeight, const InfoPanelData& data, const ColorScheme& scheme,
              const ChartMetrics& metrics, const TextMeasure& measure, DisplayList& out);

    // The tab under a point of the last drawing, or -1.
    int TabAt(Point p) const;
    const std::vector<Rect>& tabRects() const { return tabs_; }
    // Rows drawn by the last Draw (the header not counted), for tests.
    int rowsDrawn() const { return rows_; }

private:
    std::vector<Rect> tabs_;
    int rows_ = 0;
};

}  // namespace tessaro::chart
