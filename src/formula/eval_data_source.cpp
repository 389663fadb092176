#include "formula/eval_data_source.h"

#include <chrono>
#include <memory>

#include "market/periods.h"
#include "market/quote_fields.h"
#include "platform/text.h"

namespace tessaro {

// ---- StoreEvalData ------------------------------------------------------------------------

std::optional<CodeEntry> StoreEvalData::FindSecurity(const SecurityId& id) const { return store_.GetCodeEntry(id); }

std::optional<CodeEntry> StoreEvalData::MarketIndex(const CodeEntry& security) const {
    return store_.GetMarketIndexEntry(security.id.market);
}

std::optional<CodeEntry> StoreEvalData::CategoryIndex(const CodeEntry& security, std::string_view categoryGbk) const {
    if (!categories_) return std::nullopt;
    return categories_(security, categoryGbk);
}

bool StoreEvalData::LoadSeries(const SecurityId& id, Period period, int options, Series& out) const {
    return tessaro::LoadSeries(source_, id, static_cast<Period>(period), out, options) != 0;
}

std::optional<double> StoreEvalData::QuoteFieldValue(const CodeEntry& security, int field) const {
    if (field < 0 || field >= kQuoteFieldCount) return std::nullopt;
    auto record = std::make_unique<StockRecord>();  // 7 KB: not on the evaluating thread's stack
    if (!store_.GetRecord(security.id, *record)) return std::nullopt;
    QuoteCell cell = ComputeQuoteField(field, *record, store_.GetDecimals(security.id.market, record->entry.securityClass));
    return cell.present ? cell.value : 0.0;
}

bool StoreEvalData::LoadFinance(const CodeEntry& security, FinanceBlock& out) const {
    auto record = std::make_unique<StockRecord>();
    if (!store_.GetRecord(security.id, *record)) return false;
    out = record->finance;
    return true;
}

StoreTime StoreEvalData::CurrentMarketTime() const {
    const int64_t now = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now().time_since_epoch())
                            .count();
    int64_t checked = marketTimeCheckedMs_.load(std::memory_order_acquire);
    if (checked == INT64_MIN || now - checked >= kMarketTimeRefreshMs) {
        marketTime_.store(store_.CurrentTradingDate(), std::memory_order_relaxed);
        marketTimeCheckedMs_.store(now, std::memory_order_release);
    }
    return marketTime_.load(std::memory_order_relaxed);
}

// ---- MemoryEvalData -----------------------------------------------------------------------

std::string MemoryEvalData::Key(const SecurityId& id) { return AsciiUpper(SecurityText(id)); }

void MemoryEvalData::AddSecurity(const CodeEntry& entry, Series series) {
    Entry& e = securities_[Key(entry.id)];
    e.entry = entry;
    series.entry = entry;
    e.series = std::move(series);
}

void MemoryEvalData::SetMarketIndex(MarketCode market, const SecurityId& index) { marketIndexes_[market] = index; }

void MemoryEvalData::SetCategoryIndex(const SecurityId& security, std::string_view categoryGbk,
                                      const SecurityId& index) {
    categoryIndexes_[Key(security) + '|' + std::string(categoryGbk)] = index;
}

void MemoryEvalData::SetQuoteField(const SecurityId& security, int field, double value) {
    auto it = securities_.find(Key(security));
    if (it != securities_.end()) it->second.fields[field] = value;
}

void MemoryEvalData::SetFinance(const SecurityId& security, const FinanceBlock& finance) {
    auto it = securities_.find(Key(security));
    if (it != securities_.end()) it->second.finance = finance;
}

std::optional<CodeEntry> MemoryEvalData::FindSecurity(const SecurityId& id) const {
    auto it = securities_.find(Key(id));
    if (it == securities_.end()) return std::nullopt;
    return it->second.entry;
}

std::optional<CodeEntry> MemoryEvalData::MarketIndex(const CodeEntry& security) const {
    auto it = marketIndexes_.find(security.id.market);
    if (it == marketIndexes_.end()) return std::nullopt;
    return FindSecurity(it->second);
}

std::optional<CodeEntry> MemoryEvalData::CategoryIndex(const CodeEntry& security, std::string_view categoryGbk) const {
    auto it = categoryIndexes_.find(Key(security.id) + '|' + std::string(categoryGbk));
    if (it == categoryIndexes_.end()) return std::nullopt;
    return FindSecurity(it->second);
}

bool MemoryEvalData::LoadSeries(const SecurityId& id, Period period, int options, Series& out) const {
    (void)options;  // the bars are held as they are to be evaluated
    auto it = securities_.find(Key(id));
    if (it == securities_.end()) return false;
    const Series& held = it->second.series;
    bool isIndex = it->second.entry.securityClass == kClassIndex;
    if (held.period == period) {
        out = held;
    } else {
        // Grouped into a fresh series: nothing of what `out` held before may stay behind.
        Series grouped;
        const Period from = held.period, to = period;
        if (from == kPeriodDay && IsDayBasedPeriod(to))
            GroupDayBars(held, to, kDefaultMultiDay, isIndex, grouped);
        else if (from == kPeriodMin5 && to >= kPeriodMin15 && to <= kPeriodMin60)
            GroupIntradayBars(held, to, isIndex, grouped);
        else
            return false;
        out = std::move(grouped);
    }
    out.period = period;
    out.entry = it->second.entry;
    return true;
}

std::optional<double> MemoryEvalData::QuoteFieldValue(const CodeEntry& security, int field) const {
    auto it = securities_.find(Key(security.id));
    if (it == securities_.end() || field < 0 || field >= kQuoteFieldCount) return std::nullopt;
    auto f = it->second.fields.find(field);
    return f == it->second.fields.end() ? 0.0 : f->second;
}

bool MemoryEvalData::LoadFinance(const CodeEntry& security, FinanceBlock& out) const {
    auto it = securities_.find(Key(security.id));
    if (it == securities_.end() || !it->second.finance) return false;
    out = *it->second.finance;
    return true;
}

}  // namespace tessaro
