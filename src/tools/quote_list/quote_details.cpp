#include "tools/quote_list/quote_details.h"

#include <algorithm>
#include <cstdio>
#include <memory>

#include "market/live_fold.h"
#include "platform/store_time.h"
#include "platform/text.h"
#include "tools/quote_list/quote_columns.h"

namespace tessaro {

DetailList::DetailList(QuoteListMode mode, const CodeEntry& entry, const QuoteSnapshot& quote, int decimals)
    : mode_(mode == QuoteListMode::PriceDetail ? mode : QuoteListMode::TickDetail),
      entry_(entry),
      quote_(quote),
      decimals_(decimals) {
    rows_.period = Period::kTick;
    rows_.entry = entry;
    rows_.quote = quote;
}

void DetailList::SetTicks(const Series& ticks) {
    if (mode_ == QuoteListMode::PriceDetail) {
        rows_ = BuildPriceLadder(ticks);
    } else {
        rows_ = ticks;
    }
    rows_.period = Period::kTick;
    rows_.entry = entry_;
    rows_.quote = quote_;
}

void DetailList::AddQuote(const QuoteSnapshot& quote) {
    // Only a quote that carries a trade since the last one adds to the list.
    float lastVolume = quote_.bar.volume;
    if (!rows_.empty() && mode_ == QuoteListMode::TickDetail) lastVolume = std::max(lastVolume, rows_.bars.back().volume);
    bool newTrade = quote.bar.volume > lastVolume && quote.lastTrade.volume > 0.000001f;
    quote_ = quote;
    rows_.quote = quote;
    if (!newTrade) return;
    if (mode_ == QuoteListMode::PriceDetail) {
        AddToPriceLadder(rows_, quote);
    } else {
        Series tick = TickFromSnapshot(quote);
        AppendTicksToSeries(rows_, tick, quote.prevClose, quote.bar.open);
    }
}

std::string_view DetailList::caption(size_t column) const {
    if (mode_ == QuoteListMode::TickDetail) {
        static constexpr std::string_view kTick[] = {"时间", "价格", "现手"};
        return column < 3 ? kTick[column] : "";
    }
    static constexpr std::string_view kLadder[] = {"价格", "成交量"};
    return column < 2 ? kLadder[column] : "";
}

QuoteCell DetailList::Cell(size_t row, size_t column) const {
    if (row >= rows_.size() || column >= columnCount()) return {};
    const KLineRecord& bar = rows_.bars[row];
    const TradeData& trade = rows_.trades[row];
    if (mode_ == QuoteListMode::TickDetail && column == 0) {
        QuoteCell cell;
        cell.present = true;
        cell.value = bar.time;
        char text[32];
        std::snprintf(text, sizeof text, "%8s", FormatStoreTime("H:N:S", bar.time).c_str());
        cell.text = text;
        return cell;
    }
    auto record = std::make_unique<StockRecord>();
    record->entry = entry_;
    record->quote.prevClose = quote_.prevClose;
    record->quote.bar.close = bar.close;
    bool price = mode_ == QuoteListMode::TickDetail ? column == 1 : column == 0;
    if (price) return ComputeQuoteField(kFieldLast, *record, decimals_);
    // Tick: its own volume by its direction; ladder: the summed volume of the price.
    record->quote.lastTrade.volume = mode_ == QuoteListMode::TickDetail ? trade.volume : bar.volume;
    record->quote.lastTrade.direction = mode_ == QuoteListMode::TickDetail ? trade.direction : 0;
    return ComputeQuoteField(kFieldLastVolume, *record, decimals_);
}

// ---- Comprehensive ranking ----------------------------------------------------------------

const std::array<RankPanelDef, kRankPanels>& RankPanels() {
    static constexpr std::array<RankPanelDef, kRankPanels> kPanels = {{
        {"今日涨幅", kFieldChangePct, true},
        {"5分钟涨幅", kFieldSpeed, true},
        {"委比正序", kFieldBidRatio, true},
        {"今日跌幅", kFieldChangePct, false},
        {"5分钟跌幅", kFieldSpeed, false},
        {"委比逆序", kFieldBidRatio, false},
        {"今日振幅", kFieldAmplitude, true},
        {"今日量比", kFieldVolumeRatio, true},
        {"成交金额", kFieldAmount, true},
    }};
    return kPanels;
}

const std::array<RankingCommand, 6>& RankingCommands() {
    static constexpr std::array<RankingCommand, 6> kCommands = {{
        {"81", "沪A综合排名", "沪市A股"},
        {"82", "沪B综合排名", "沪市B股"},
        {"83", "深A综合排名", "深市A股"},
        {"84", "深B综合排名", "深市B股"},
        {"85", "A股综合排名", "沪深A股"},
        {"86", "B股综合排名", "沪深B股"},
    }};
    return kCommands;
}

std::string FormatRankValue(int field, float value) {
    char text[64];
    double v = value;
    switch (field) {
        case kFieldChangePct:
        case kFieldSpeed: std::snprintf(text, sizeof text, "%+0.2f%%", v * 100); break;
        case kFieldAmount: std::snprintf(text, sizeof text, "%0.0f", v * 0.0001); break;
        case kFieldAmplitude: std::snprintf(text, sizeof text, "%0.2f%%", v * 100); break;
        case kFieldBidRatio: std::snprintf(text, sizeof text, "%+0.2f%%", v); break;
        case kFieldVolumeRatio: std::snprintf(text, sizeof text, "%0.2f", v); break;
        default: std::snprintf(text, sizeof text, "%0.2f", v); break;
    }
    return text;
}

std::string ComprehensiveRanking::Title() const {
    std::string name = GbkToUtf8(blockGbk_);
    std::string format(kRankingTitleFormat);
    size_t at = format.find("%s");
    return format.replace(at, 2, name);
}

void ComprehensiveRanking::SetMarkedSecurities(std::vector<SecurityId> ids) {
    std::sort(ids.begin(), ids.end(), SecurityIdLess);
    marked_ = std::move(ids);
}

bool ComprehensiveRanking::Marked(const SecurityId& id) const {
    auto it = std::lower_bound(marked_.begin(), marked_.end(), id, SecurityIdLess);
    return it != marked_.end() && SameSecurity(*it, id);
}

void ComprehensiveRanking::Apply(std::span<const RankItem> items, const NameFn& nameOf) {
    rows_ = items.size() / kRankPanels;
    for (auto& p : panels_) p.assign(rows_, RankCell{});
    if (rows_ == 0) return;
    for (size_t i = 0; i < rows_ * kRankPanels; ++i) {
        const RankItem& item = items[i];
        size_t panel = i / rows_, row = i % rows_;
        RankCell& cell = panels_[panel][row];
        if (item.id.codeText().empty()) continue;  // a table shorter than the others
        cell.id = item.id;
        std::string gbk = nameOf ? nameOf(item.id) : std::string();
        cell.name = gbk.empty() ? std::string(item.id.codeText()) : GbkToUtf8(gbk);
        cell.nameColor = item.colour == 1 ? 1 : item.colour == 2 ? -1 : 0;
        cell.value = FormatRankValue(RankPanels()[panel].field, item.value);
        cell.valueColor = item.value > 0.00001f ? 1 : item.value < -0.00001f ? -1 : 0;
        cell.marked = Marked(item.id);
    }
}

}  // namespace tessaro
