// The chart's commands on formulas and blocks without their dialogs: the context menu's items for
// a selected indicator, 系统指示 / 关闭指示 (signal formulas in the main pane), deleting one
// formula, 复制数据, and adding the security to a user block or removing it from the blocks that
// hold it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "chart/chart_view.h"
#include "chart/kline_content.h"
#include "tools/blocks/block_management.h"

namespace tessaro::chart {

// The context menu's items for a selected formula (UTF-8): "修改公式%s", "调整%s参数" (empty when
// the formula has no parameters), "公式%s注释" and "删除公式%s" with the formula's name.
struct FormulaMenuCaptions {
    std::string edit, parameters, comment, remove;
};
FormulaMenuCaptions FormulaMenuTexts(const FormulaRecord& formula);

// ---- Signal formulas -----------------------------------------------------------------

// Is this a formula 系统指示 offers: a selection, trading-system, colour K-line or combined
// selection formula.
bool SignalSystemFormula(uint32_t type);
// The formulas 系统指示 offers, in set order.
std::vector<FormulaRecord> SignalSystemChoices(const std::vector<FormulaRecord>& all);
// The choice goes into the main pane of a picture, replacing the formulas of its type there.
AddResult PlaceSignalFormula(ChartView& view, int picture, const FormulaRecord& formula);
// 关闭指示: every selection, trading-system, colour K-line and combined formula leaves the main
// pane. Returns how many went.
int CloseSignalFormulas(ChartView& view, int picture);

// ---- Deleting one formula --------------------------------------------------------------

enum class SlotRemoval {
    kNone,             // no such slot
    kRemoved,          // the slot went; the pane stays
    kAskDeletePane,    // it is the only slot of a sub-chart: the sub-chart goes after the question
};
// 删除公式: removes slot `slot` of a pane unless it is the only one of a sub-chart.
SlotRemoval RemoveFormulaSlot(ChartView& view, int picture, int pane, int slot);

// ---- 复制数据 ---------------------------------------------------------------------------

// The bars a picture shows as tab-separated text for the clipboard (UTF-8, CRLF line ends): a
// header row, then one row per shown bar with its time, open, high, low, close, volume and
// amount, and the value of every line of every indicator in the panes (empty where a line has
// no valid value). Empty when the picture shows no bars.
std::string CopyDataText(const GraphPicture& picture);

// ---- Blocks ----------------------------------------------------------------------------

inline constexpr std::string_view kNotInUserBlock = "该股票不属于任何自定义板块!";
inline constexpr std::string_view kRemoveFromBlocksTitle = "从下列选中的板块中删除";

// The user's own blocks: self-selected and screening-result blocks (never the server's blocks
// or the ones computed from rules).
bool UserBlock(const Block& block);
// Their names (GBK) in the set's order, all of them or those holding the security.
std::vector<std::string> UserBlockNames(const std::vector<Block>& blocks);
std::vector<std::string> UserBlocksHolding(const std::vector<Block>& blocks, const SecurityId& id);

// 加入到自选股: adds the security to a user block. False with the message to show (UTF-8; empty
// when the block held it already or is no user block).
bool AddToUserBlock(BlockManager& manager, const BlockSet& set, std::string_view nameGbk, const SecurityId& id,
                    std::string& message);
// 从板块中删除: removes the security from each named user block holding it. Returns how many
// blocks changed; a failure's message goes to `message`.
int RemoveFromUserBlocks(BlockManager& manager, const BlockSet& set, const std::vector<std::string>& namesGbk,
                         const SecurityId& id, std::string& message);

}  // namespace tessaro::chart
