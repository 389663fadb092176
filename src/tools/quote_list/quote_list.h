// The quote list without a window: the page (one block), its rows with their quote,
// finance and identity data, the display order (block order, a local sort, or the
// server's order for ranked pages), the selection, moving rows, cell texts and colours,
// which live data to ask for, and which rows changed since the view last painted.
//
// Rows live in block order; the display order is a permutation over them. Selection
// belongs to rows, so a re-sort keeps it. The model never holds the store's lock: it
// copies records in through the store's copying operations.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "market/market_store.h"
#include "market/quote_fields.h"
#include "market/security_registry.h"
#include "market/records.h"
#include "tools/blocks/block_management.h"
#include "tools/blocks/block_set.h"
#include "tools/quote_list/quote_columns.h"

namespace tessaro {

inline constexpr std::string_view kMoveRefusedWhileSorted = "排序状态下不能改变股票顺序!";
inline constexpr std::string_view kRemoveFromBlockQuestion = "真的要将股票从该板块中删除吗?";
inline constexpr std::string_view kStartPage = "沪市A股";  // UTF-8
inline constexpr std::string_view kSortDown = "↓";
inline constexpr std::string_view kSortUp = "↑";

struct QuoteRow {
    CodeEntry entry;
    QuoteSnapshot quote{};
    FinanceBlock finance{};
    int decimals = kDefaultPriceDecimals;
    size_t blockOrder = 0;  // position in the block
    bool known = false;     // the store holds the security
    bool selected = false;
};

// A column of the whole table: 0..2 the fixed columns (编号, 股票代码, 股票名称), 3.. the
// scrolling columns.
inline constexpr int kNoSortColumn = -1;

// What the page needs from the server for the rows on screen.
struct QuoteListRequest {
    enum class Kind { None, RankPage, Subscribe };
    Kind kind = Kind::None;
    std::string pageGbk;          // RankPage: the block's name
    int32_t sortField = -1;       // RankPage: catalogue field, -1 unsorted / indicator
    uint32_t direction = 0;       // RankPage: 1 descending, 0 ascending
    uint32_t firstRow = 0;        // RankPage
    uint32_t rowCount = 0;        // RankPage
    std::vector<SecurityId> ids;  // Subscribe: every member in block order
    friend bool operator==(const QuoteListRequest& a, const QuoteListRequest& b);
};

// One message to send when the wanted request changes.
struct QuoteListStep {
    enum class Kind { EndRankPage, EndSubscription, RankPage, Subscribe };
    Kind kind = Kind::RankPage;
    QuoteListRequest request;  // RankPage / Subscribe; EndRankPage: the old page's name
};
// The messages that take the server from `held` to `wanted`: the other kind's request
// is ended first (kind 0 with the old name, or an empty "BVIEW"), then the new one is
// sent when it differs from what is held.
std::vector<QuoteListStep> PlanRequests(const QuoteListRequest& held, const QuoteListRequest& wanted);

// What to repaint since the last TakeRepaint.
struct QuoteListRepaint {
    bool all = false;              // the order or the row set changed
    std::vector<size_t> displayRows;  // else these display rows, ascending
    bool empty() const { return !all && displayRows.empty(); }
};

enum class SelectMode { Click, Toggle, Range };

enum class MoveStatus { Moved, RefusedSorted, NotAllowed, Nothing };

class QuoteListModel {
public:
    explicit QuoteListModel(QuoteColumns columns = QuoteColumns());
    ~QuoteListModel();

    QuoteColumns& columns() { return columns_; }
    const QuoteColumns& columns() const { return columns_; }
    // Call after changing the columns: the sort is dropped when its column is gone.
    void ColumnsChanged();

    // ---- The page --------------------------------------------------------------------
    // Shows the block's members in block order, each copied from the store (nullptr: every
    // row unknown). Drops the sort when the new block is of another setting.
    void SetPage(const Block& block, const MarketStore* store);
    const std::string& pageGbk() const { return pageGbk_; }
    uint32_t pageSetting() const { return pageSetting_; }
    // Pages of settings 0 and 1 are sorted by the server while online, unless the sort column
    // is an indicator column (the server knows nothing of it: the page is sorted here).
    void SetOnline(bool online);
    bool online() const { return online_; }
    bool serverPage() const { return pageSetting_ == kBlockServer || pageSetting_ == kBlockRule; }
    bool serverSorted() const;

    size_t rowCount() const { return rows_.size(); }
    const QuoteRow& rowAt(size_t display) const { return rows_[order_[display]]; }
    // Display position of a security, or -1.
    int FindDisplay(const SecurityId& id) const;

    // ---- Cells -----------------------------------------------------------------------
    // Fixed column i (0 编号 = display position + 1, 1 code, 2 name).
    QuoteCell FixedCell(size_t display, int i) const;
    QuoteCell ScrollCell(size_t display, size_t column) const;
    // Any column of the whole table (0..2 fixed, 3.. scrolling).
    QuoteCell Cell(size_t display, int tableColumn) const;
    int tableColumnCount() const { return kFixedColumnCount + static_cast<int>(columns_.size()); }
    // The caption with "↓" / "↑" on the sort column.
    std::string Caption(int tableColumn) const;
    // The table column showing `field` (fixed columns for 80..82), or -1.
    int ColumnOfField(int field) const;

    // ---- Sorting ----------------------------------------------------------------------
    // The caption click: 编号 does nothing; the first click on a column sorts descending,
    // the next ones reverse the direction. Sorts locally unless the server sorts the page.
    void ClickCaption(int tableColumn);
    void SetSort(int tableColumn, bool descending);
    void ClearSort();
    int sortColumn() const { return sortColumn_; }
    bool descending() const { return descending_; }
    bool sorted() const { return sortColumn_ != kNoSortColumn; }
    // Re-sorts by the current column (locally); e.g. after "刷新指标排序".
    void Resort();
    // The rows as the formula batch takes them (block order), for an indicator column.
    std::vector<FormulaRow> BatchRows() const;
    // The catalogue field the server sorts by: -1 unsorted or an indicator column.
    int32_t sortField() const;

    // ---- Live data -------------------------------------------------------------------
    // The request for rows [first, first + count) on screen. A server page sorted here by an
    // indicator asks for every row in block order, since any of them may be on screen.
    QuoteListRequest WantedRequest(size_t firstVisible, size_t visibleCount) const;
    // Quotes already stored (UpdateQuote filled their capital block) copied into their
    // rows; unknown securities are skipped. Returns the rows updated.
    size_t ApplyQuotes(std::span<const QuoteUpdate> quotes);
    // A '=' reply: as ApplyQuotes, and (when the server sorts the page) the security of
    // record i moves to display row first + i (swapped with the row there). A record whose 现手 is not above 0.000001
    // keeps the row's last trade when its volume grew.
    size_t ApplyRankPage(uint32_t firstRow, std::span<const QuoteUpdate> quotes);
    // Copies the rows' records from the store again (all rows, or the listed ones).
    void Reload(const MarketStore& store);
    void Reload(const MarketStore& store, std::span<const SecurityId> changed);
    QuoteListRepaint TakeRepaint();

    // ---- Selection and moving ----------------------------------------------------------
    void Select(size_t display, SelectMode mode);
    void ClearSelection();
    bool selected(size_t display) const { return rowAt(display).selected; }
    std::vector<size_t> SelectedDisplayRows() const;
    std::vector<SecurityId> SelectedIds() const;
    // The first selected row's display position (or -1).
    int FirstSelected() const;
    // Whether rows may be dragged at all (self-selected and screening pages).
    bool canMoveRows() const { return pageSetting_ == kBlockSelf || pageSetting_ == kBlockScreening; }
    // Moves the selected rows before display row `target` (rowCount(): to the end),
    // keeping their order. Refused while sorted (kMoveRefusedWhileSorted).
    MoveStatus MoveSelected(size_t target);
    // The block's members in the present row order, for writing back after a move.
    std::vector<SecurityId> MemberOrder() const;
    // Writes the order into the block (self-selected and screening pages).
    BlockUpdate SaveOrder(BlockSet& blocks) const;
    // Asks kRemoveFromBlockQuestion and removes the selected rows' securities from a
    // self-selected block, then from the page. False when declined, not allowed or
    // nothing is selected.
    bool RemoveSelected(BlockSet& blocks, BlockPrompt& prompt);

private:
    void LoadRow(QuoteRow& row, const StockRecord& record, int decimals) const;
    void CopyQuote(QuoteRow& row, const QuoteUpdate& update) const;
    int RowOf(const SecurityId& id) const;
    void RebuildIndex();
    void ResetOrder();
    void MarkRow(size_t row);
    void MarkAll() { repaintAll_ = true; }
    const StockRecord& Scratch(const QuoteRow& row) const;

    QuoteColumns columns_;
    std::string pageGbk_;
    uint32_t pageSetting_ = kBlockRule;
    bool online_ = false;
    std::vector<QuoteRow> rows_;       // block order
    std::vector<size_t> order_;        // display -> row
    std::vector<size_t> position_;     // row -> display
    std::vector<size_t> byId_;         // rows sorted by SecurityId
    std::vector<uint8_t> dirty_;       // per row
    std::vector<size_t> dirtyRows_;
    bool repaintAll_ = true;
    int sortColumn_ = kNoSortColumn;
    bool descending_ = true;
    int anchor_ = -1;  // row index
    std::unique_ptr<StockRecord> scratch_;
};

// ---- Page groups (the four tabs) --------------------------------------------------------

struct PageGroup {
    uint32_t setting = 0;
    std::string title;                // "自动板块", "自选股", "条件选股", "系统板块"
    std::vector<std::string> blocks;  // GBK names in block-set order
    size_t current = 0;
    // The tab's caption: the current block's name (UTF-8), or the title when empty.
    std::string caption() const;
};

// Tabs in order: 1 自动板块, 2 自选股, 3 条件选股, 0 系统板块.
std::vector<PageGroup> BuildPageGroups(const std::vector<Block>& blocks);
// The tab holding a block (by name), and its position there; false when none does.
bool FindPageGroup(const std::vector<PageGroup>& groups, std::string_view blockGbk, size_t& tab, size_t& index);

}  // namespace tessaro
