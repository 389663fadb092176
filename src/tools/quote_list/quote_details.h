// The quote list's other display modes: the tick list "分手明细" and the price ladder
// "分价明细" of one security, and the nine-panel comprehensive ranking "%s综合排名".
#pragma once

#include <array>
#include <functional>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "market/quote_fields.h"
#include "market/records.h"
#include "market/series.h"
#include "tools/blocks/block_set.h"

namespace tessaro {

enum class QuoteListMode { Board, TickDetail, PriceDetail, Ranking };

inline constexpr std::string_view kModeBoard = "动态排行";      // Ctrl+R
inline constexpr std::string_view kModeTickDetail = "分手明细";  // Ctrl+V
inline constexpr std::string_view kModePriceDetail = "分价明细"; // Ctrl+P
inline constexpr std::string_view kRankingTitleFormat = "%s综合排名";

// A list for one security: its ticks of today (TickDetail) or the price ladder built
// from them (PriceDetail). Rows: tick mode time, price, volume; ladder mode price, volume.
class DetailList {
public:
    DetailList(QuoteListMode mode, const CodeEntry& entry, const QuoteSnapshot& quote, int decimals);

    // Today's ticks (LoadSeries, period 2, no adjustment): ticks kept, or the ladder built.
    void SetTicks(const Series& ticks);
    // A live quote of the security: one more tick, or its last trade added to the ladder.
    // Quotes without a new trade (same time and volume as the last) add nothing.
    void AddQuote(const QuoteSnapshot& quote);

    QuoteListMode mode() const { return mode_; }
    const CodeEntry& entry() const { return entry_; }
    size_t rowCount() const { return rows_.size(); }
    size_t columnCount() const { return mode_ == QuoteListMode::TickDetail ? 3 : 2; }
    std::string_view caption(size_t column) const;
    // Cell texts and colours as the view shows them.
    QuoteCell Cell(size_t row, size_t column) const;
    // The rows (ticks, or ladder entries: close the price, trade volume the summed volume).
    const Series& rows() const { return rows_; }

private:
    QuoteListMode mode_;
    CodeEntry entry_;
    QuoteSnapshot quote_;
    int decimals_;
    Series rows_;
};

// ---- Comprehensive ranking ----------------------------------------------------------------

inline constexpr int kRankPanels = 9;

struct RankPanelDef {
    std::string_view title;
    int field;        // catalogue field shown
    bool descending;
};
// 今日涨幅, 5分钟涨幅, 委比正序, 今日跌幅, 5分钟跌幅, 委比逆序, 今日振幅, 今日量比, 成交金额:
// the panels in reply order, laid out three by three row by row.
const std::array<RankPanelDef, kRankPanels>& RankPanels();

// The commands 81-86 and their blocks.
struct RankingCommand {
    std::string_view code;   // "81"
    std::string_view name;   // "沪A综合排名"
    std::string_view block;  // "沪市A股"
};
const std::array<RankingCommand, 6>& RankingCommands();

// One entry of a 'Q' reply (decoded from the wire by the caller).
struct RankItem {
    SecurityId id;
    float value = 0;
    uint8_t colour = 0;  // 0 level, 1 rise, 2 fall
};

struct RankCell {
    SecurityId id;
    std::string name;     // UTF-8 (the code when the name is unknown)
    int nameColor = 0;    // +1 rise, -1 fall, 0 level (the entry's colour code)
    std::string value;    // formatted by the panel's field
    int valueColor = 0;   // sign of the value
    bool marked = false;  // the security is in a self-selected block
    bool empty() const { return id.codeText().empty(); }
};

// The value of a ranking entry as text: 涨幅 / 涨速 "%+0.2f%%" of value x 100, 总额 "%0.0f"
// of value x 0.0001, 振幅 "%0.2f%%" of value x 100, 委比 "%+0.2f%%" as it comes, 量比 "%0.2f".
std::string FormatRankValue(int field, float value);

class ComprehensiveRanking {
public:
    explicit ComprehensiveRanking(std::string blockGbk = {}) : blockGbk_(std::move(blockGbk)) {}

    const std::string& blockGbk() const { return blockGbk_; }
    // "沪市A股综合排名" (UTF-8).
    std::string Title() const;
    // Only blocks of settings 0 and 1 can be ranked.
    static bool CanRank(const Block& block) { return block.setting == kBlockServer || block.setting == kBlockRule; }

    // The securities of the self-selected blocks, whose entries are marked.
    void SetMarkedSecurities(std::vector<SecurityId> ids);
    // Names of the securities (GBK), looked up when a reply fills the panels.
    using NameFn = std::function<std::string(const SecurityId&)>;
    // A 'Q' reply: record i goes to panel i / n, row i % n (n = count / 9); a reply of
    // fewer than nine records empties the panels; records past the ninth table are ignored.
    void Apply(std::span<const RankItem> items, const NameFn& nameOf);

    size_t rowsPerPanel() const { return rows_; }
    const RankCell& At(int panel, size_t row) const { return panels_[panel][row]; }

private:
    bool Marked(const SecurityId& id) const;

    std::string blockGbk_;
    std::vector<SecurityId> marked_;  // sorted
    size_t rows_ = 0;
    std::array<std::vector<RankCell>, kRankPanels> panels_;
};

}  // namespace tessaro
