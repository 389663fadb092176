// The security information panel at the right of a chart picture: the header with name and
// code, the quote table (five ask and bid levels and the day's figures, formatted and coloured
// as in the quote list) or, for an index, the index table with the market's breadth, and the
// tab strip at the bottom that selects the panel's mode.
//
// Below the quote table each mode shows its own data: 细 today's trades, 财 the finance
// record, 势 a small time-sharing chart of the security, 指 one of its market's index; 板 lists
// the blocks holding the security instead of the table.
//
// Qt-free: the panel draws into a display list.
#pragma once

#include <string>
#include <vector>

#include "app/color_scheme.h"
#include "chart/display_list.h"
#include "chart/layout.h"
#include "chart/scale.h"
#include "chart/time_sharing.h"
#include "market/quote_fields.h"
#include "market/records.h"

namespace tessaro::chart {

inline constexpr int kInfoPanelDefaultWidth = 275;  // "StkInfoWidth2"
inline constexpr int kInfoPanelModes = 5;           // 细, 财, 势, 指, 板 (modes 0 .. 4)
inline constexpr int kInfoPanelMinWidth = 100;      // the narrowest a drag leaves the panel
inline constexpr int kPanelModeTicks = 0, kPanelModeFinance = 1, kPanelModeChart = 2, kPanelModeIndex = 3,
                     kPanelModeBlocks = 4;
// 价: today's volume by price. Reached by clicking the 细 tab while it is shown (and back); its
// tab then reads "价".
inline constexpr int kPanelModePrices = 6;

// The tab captions: "细", "财", "势", "指", "板"; an index has only "细".
std::vector<std::string> InfoPanelTabs(bool index);

// The mode a picture of this kind of security can show: an index only mode 0 (细), others
// modes 0 .. 4 and 6 (价); anything else falls back to 0.
int ValidPanelMode(int mode, bool index);

// The first finance field and the number of them the 财 page lists (更新日期, the finance
// figures, 年/中/季报).
inline constexpr int kFinanceFirstField = kFieldUpdateDate;
inline constexpr int kFinanceRowCount = kFieldReportKind - kFieldUpdateDate + 1;
// The scroll position of the 财 page clamped to what `visible` rows leave to show.
int ClampFinanceScroll(int scroll, int visible);

// A block holding the security: its type (the category, else the block group: "系统板块",
// "自动板块", "自选股", "条件选股") and name, UTF-8; `nameGbk` opens it in the quote list.
struct InfoPanelBlock {
    std::string type, name, nameGbk;
};
// "%s ->> %s" of a block row.
std::string BlockRowText(const InfoPanelBlock& block);

struct InfoPanelData {
    CodeEntry security;
    bool hasRecord = false;
    StockRecord record;         // the security's market record (quote, order book, finance)
    int decimals = 2;
    int mode = 0;
    // An index's breadth: rising, unchanged and falling securities; -1 when unknown.
    int rising = -1, unchanged = -1, falling = -1;
    // Modes 0 (细) and 6 (价): today's trades, oldest first (time, price in close, volume in
    // lots); 细 lists the newest that fit under the quote table, 价 their volume by price.
    std::vector<KLineRecord> ticks;
    // Mode 1 (财): the first finance row listed.
    int scroll = 0;
    // Modes 2 (势) and 3 (指): the small time-sharing chart of the security or of its market's
    // index; nothing is drawn without a security.
    bool hasChart = false;
    TimeSharingData chart;
    // Mode 4 (板): the blocks holding the security.
    std::vector<InfoPanelBlock> blocks;
};

// One row of the 价 page: a price and the lots traded at it today.
struct PriceVolume {
    float price = 0;
    double lots = 0;
};
// Today's trades (as TradeVolumes leaves them) summed by price at the security's decimals,
// highest price first; trades without a positive finite price or volume are left out.
std::vector<PriceVolume> VolumeByPrice(const std::vector<KLineRecord>& trades, int decimals);

// "%.2f%%" of the bid ratio (bid - ask) / (bid + ask) x 100; "0.00%" when both are 0 or either
// is not a finite, non-negative number.
std::string BidRatioText(double bidLots, double askLots);

// The counts (rising, unchanged, falling) of the newest minute of an index's breadth table that
// has a time and no negative count; false, and the counts untouched, when there is none.
bool LatestBreadth(const MinuteExtraDay& extras, int& rising, int& unchanged, int& falling);

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
    // The block row (mode 4) under a point of the last drawing, or -1.
    int BlockAt(Point p) const;
    // Whether a point lies on the panel's left edge (within 2 pixels), where it is dragged.
    bool OnEdge(Point p) const;
    // The box of the last drawing; empty when the panel is not shown.
    const Rect& box() const { return box_; }
    void Hide() { box_ = {}; tabs_.clear(); blockRows_.clear(); }
    // The finance rows the last drawing had room for (mode 1), for scrolling.
    int financeRowsVisible() const { return financeVisible_; }
    // The small chart of the last drawing (modes 2 and 3), for tests.
    const TimeSharingPicture& chart() const { return chart_; }
    const std::vector<Rect>& tabRects() const { return tabs_; }
    // Rows drawn by the last Draw (the header not counted), for tests.
    int rowsDrawn() const { return rows_; }

private:
    std::vector<Rect> tabs_;
    std::vector<Rect> blockRows_;
    Rect box_;
    int rows_ = 0;
    int financeVisible_ = 0;
    TimeSharingPicture chart_;
};

}  // namespace tessaro::chart
