#include "chart/chart_commands.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iterator>

#include "platform/store_time.h"
#include "platform/text.h"

namespace tessaro::chart {
namespace {

// The formula types 系统指示 offers and 关闭指示 closes.
constexpr uint32_t kSignalSystemTypes[] = {kFormulaSelection, kFormulaTradingSystem, kFormulaColourKLine,
                                           kFormulaCombined};

}  // namespace

FormulaMenuCaptions FormulaMenuTexts(const FormulaRecord& formula) {
    const std::string name = GbkToUtf8(formula.nameText());
    FormulaMenuCaptions c;
    c.edit = "修改公式" + name;
    if (!formula.params.empty()) c.parameters = "调整" + name + "参数";
    c.comment = "公式" + name + "注释";
    c.remove = "删除公式" + name;
    return c;
}

bool SignalSystemFormula(uint32_t type) {
    return std::ranges::find(kSignalSystemTypes, type) != std::end(kSignalSystemTypes);
}

std::vector<FormulaRecord> SignalSystemChoices(const std::vector<FormulaRecord>& all) {
    std::vector<FormulaRecord> out;
    for (const FormulaRecord& f : all)
        if (SignalSystemFormula(f.type)) out.push_back(f);
    return out;
}

AddResult PlaceSignalFormula(ChartView& view, int picture, const FormulaRecord& formula) {
    if (picture < 0 || picture >= view.pictureCount() || !SignalSystemFormula(formula.type)) return AddResult::kDisabled;
    return AddIndicator(view, picture, 0, formula, true, true, 0);
}

int CloseSignalFormulas(ChartView& view, int picture) {
    if (picture < 0 || picture >= view.pictureCount()) return 0;
    int removed = 0;
    for (const uint32_t type : kSignalSystemTypes)
        removed += RemoveIndicators(view, picture, 0, type);
    return removed;
}

SlotRemoval RemoveFormulaSlot(ChartView& view, int picture, int pane, int slot) {
    if (picture < 0 || picture >= view.pictureCount()) return SlotRemoval::kNone;
    GraphPicture& p = view.picture(picture);
    if (pane < 0 || pane >= static_cast<int>(p.panes.size())) return SlotRemoval::kNone;
    std::vector<PaneIndicator>& slots = p.panes[static_cast<size_t>(pane)].indicators;
    if (slot < 0 || slot >= static_cast<int>(slots.size())) return SlotRemoval::kNone;
    if (pane > 0 && slots.size() == 1) return SlotRemoval::kAskDeletePane;
    slots.erase(slots.begin() + slot);
    return SlotRemoval::kRemoved;
}

bool UserBlock(const Block& block) { return block.setting == kBlockSelf || block.setting == kBlockScreening; }

std::vector<std::string> UserBlockNames(const std::vector<Block>& blocks) {
    std::vector<std::string> out;
    for (const Block& b : blocks)
        if (UserBlock(b)) out.push_back(b.name);
    return out;
}

std::vector<std::string> UserBlocksHolding(const std::vector<Block>& blocks, const SecurityId& id) {
    std::vector<std::string> out;
    for (const Block& b : blocks)
        if (UserBlock(b) && b.contains(id)) out.push_back(b.name);
    return out;
}

bool AddToUserBlock(BlockManager& manager, const BlockSet& set, std::string_view nameGbk, const SecurityId& id,
                    std::string& message) {
    message.clear();
    const std::optional<Block> block = set.FindBlock(nameGbk);
    if (!block || !UserBlock(*block)) return false;
    const BlockOpResult r = manager.AddMembers(nameGbk, std::span(&id, 1));
    if (r.ok()) return r.changed > 0;
    message = r.message;
    return false;
}

int RemoveFromUserBlocks(BlockManager& manager, const BlockSet& set, const std::vector<std::string>& namesGbk,
                         const SecurityId& id, std::string& message) {
    message.clear();
    int changed = 0;
    for (const std::string& name : namesGbk) {
        const std::optional<Block> block = set.FindBlock(name);
        if (!block || !UserBlock(*block) || !block->contains(id)) continue;
        const BlockOpResult r = manager.RemoveMembers(name, std::span(&id, 1));
        if (r.ok() && r.changed > 0) ++changed;
        else if (!r.message.empty()) message = r.message;
    }
    return changed;
}

std::string CopyDataText(const GraphPicture& p) {
    const int total = static_cast<int>(p.series.size());
    const int from = std::clamp(p.scale.first, 0, total);
    const int to = std::clamp(p.scale.first + p.scale.shown, from, total);
    if (from == to) return {};
    std::string text = "时间\t开盘\t最高\t最低\t收盘\t成交量\t成交额";
    // Every line of every indicator, pane by pane, named "FORMULA.LINE" (the formula's name
    // alone for an unnamed line).
    std::vector<const OutputLine*> columns;
    for (const GraphPane& pane : p.panes)
        for (const PaneIndicator& slot : pane.indicators) {
            if (!slot.result) continue;
            const std::string formula = GbkToUtf8(slot.formula.nameText());
            for (size_t k = 0; k < slot.result->lines.size(); ++k) {
                const std::string line =
                    k < slot.formula.outputs.size() ? GbkToUtf8(slot.formula.outputs[k].nameText()) : std::string();
                text += "\t" + (line.empty() ? formula : formula + "." + line);
                columns.push_back(&slot.result->lines[k]);
            }
        }
    text += "\r\n";
    const bool intraday = IsIntradayPeriod(p.period);
    const int decimals = std::clamp(p.decimals, 0, 6);
    char buf[64];
    auto number = [&](double v, int places) {
        if (!std::isfinite(v)) return std::string();
        std::snprintf(buf, sizeof buf, "%.*f", places, v);
        return std::string(buf);
    };
    for (int i = from; i < to; ++i) {
        const KLineRecord& bar = p.series.bars[static_cast<size_t>(i)];
        text += FormatStoreTime(intraday ? "Y/M/D H:N" : "Y/M/D", bar.time);
        for (float v : {bar.open, bar.high, bar.low, bar.close}) text += "\t" + number(v, decimals);
        text += "\t" + number(bar.volume, 0) + "\t" + number(bar.amount, 0);
        for (const OutputLine* line : columns) {
            text += '\t';
            if (line->valid(i)) text += number(line->points.value(static_cast<size_t>(i)), 3);
        }
        text += "\r\n";
    }
    return text;
}

}  // namespace tessaro::chart
