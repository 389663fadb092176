// Where the evaluator gets its data: series by security and period, securities by code,
// the index that belongs to a security, quote fields, finance records and the market time.
//
// StoreEvalData answers from the market store and the series loader (the programs);
// MemoryEvalData from series held in memory (the command line's CSV bars, tests). Every
// operation may be called from several evaluating threads at once.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "market/market_store.h"
#include "market/records.h"
#include "platform/security_id.h"
#include "market/series.h"
#include "market/series_loader.h"

namespace tessaro {

class EvalDataSource {
public:
    virtual ~EvalDataSource() = default;

    // The code-table entry of a security; nullopt when it is unknown.
    virtual std::optional<CodeEntry> FindSecurity(const SecurityId& id) const = 0;
    // The index of the security's own market ("000001", "399001", "999999").
    virtual std::optional<CodeEntry> MarketIndex(const CodeEntry& security) const = 0;
    // The index of the first block of `category` (GBK "行业", "概念" or "区域") that holds the
    // security; nullopt when there is none.
    virtual std::optional<CodeEntry> CategoryIndex(const CodeEntry& security, std::string_view categoryGbk) const = 0;
    // The security's bars at `period`, loaded with the series loader's option flags. False when
    // there is no series.
    virtual bool LoadSeries(const SecurityId& id, Period period, int options, Series& out) const = 0;
    // Quote field `field` (0..82) as the quote field catalogue computes it; 0 for a field the
    // catalogue leaves empty; nullopt for an unknown security or field.
    virtual std::optional<double> QuoteFieldValue(const CodeEntry& security, int field) const = 0;
    virtual bool LoadFinance(const CodeEntry& security, FinanceBlock& out) const = 0;
    // The current market time (StoreTime); 0 when unknown.
    virtual StoreTime CurrentMarketTime() const = 0;
};

// Finds the index of the block of a category holding a security (supplied by the block set).
using CategoryIndexResolver =
    std::function<std::optional<CodeEntry>(const CodeEntry& security, std::string_view categoryGbk)>;

// Over the market store and a series source (normally a StoreSeriesSource of the same store).
class StoreEvalData : public EvalDataSource {
public:
    StoreEvalData(const MarketStore& store, const SeriesSource& source, CategoryIndexResolver categories = {})
        : store_(store), source_(source), categories_(std::move(categories)) {}

    std::optional<CodeEntry> FindSecurity(const SecurityId& id) const override;
    std::optional<CodeEntry> MarketIndex(const CodeEntry& security) const override;
    std::optional<CodeEntry> CategoryIndex(const CodeEntry& security, std::string_view categoryGbk) const override;
    bool LoadSeries(const SecurityId& id, Period period, int options, Series& out) const override;
    std::optional<double> QuoteFieldValue(const CodeEntry& security, int field) const override;
    bool LoadFinance(const CodeEntry& security, FinanceBlock& out) const override;
    // Asks the store at most once per kMarketTimeRefreshMs: the time only decides which bars lie
    // three days ahead, and screening a market must not lock the three markets per security.
    StoreTime CurrentMarketTime() const override;
    static constexpr int64_t kMarketTimeRefreshMs = 100;

private:
    const MarketStore& store_;
    const SeriesSource& source_;
    CategoryIndexResolver categories_;
    mutable std::atomic<int64_t> marketTimeCheckedMs_{INT64_MIN};
    mutable std::atomic<StoreTime> marketTime_{0};
};

// Series held in memory, one per security. Day bars also answer week, month, quarter, year
// and multi-day requests and five-minute bars 15/30/60-minute ones, grouped as the series
// loader groups them. Fill it before evaluating; afterwards it is only read.
class MemoryEvalData : public EvalDataSource {
public:
    // Adds (or replaces) a security with its bars; series.period says which period they are.
    void AddSecurity(const CodeEntry& entry, Series series);
    void SetMarketIndex(MarketCode market, const SecurityId& index);
    void SetCategoryIndex(const SecurityId& security, std::string_view categoryGbk, const SecurityId& index);
    void SetQuoteField(const SecurityId& security, int field, double value);
    void SetFinance(const SecurityId& security, const FinanceBlock& finance);
    void SetMarketTime(StoreTime time) { marketTime_ = time; }

    std::optional<CodeEntry> FindSecurity(const SecurityId& id) const override;
    std::optional<CodeEntry> MarketIndex(const CodeEntry& security) const override;
    std::optional<CodeEntry> CategoryIndex(const CodeEntry& security, std::string_view categoryGbk) const override;
    bool LoadSeries(const SecurityId& id, Period period, int options, Series& out) const override;
    std::optional<double> QuoteFieldValue(const CodeEntry& security, int field) const override;
    bool LoadFinance(const CodeEntry& security, FinanceBlock& out) const override;
    StoreTime CurrentMarketTime() const override { return marketTime_; }

private:
    // "SH600000" in upper case: codes compare without regard to case.
    static std::string Key(const SecurityId& id);

    struct Entry {
        CodeEntry entry;
        Series series;
        std::map<int, double> fields;
        std::optional<FinanceBlock> finance;
    };
    std::map<std::string, Entry> securities_;
    std::map<MarketCode, SecurityId> marketIndexes_;
    std::map<std::string, SecurityId> categoryIndexes_;  // key: security key + '|' + category
    StoreTime marketTime_ = 0;
};

}  // namespace tessaro
