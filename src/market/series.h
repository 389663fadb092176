// Series: the in-memory result of every history load and every series load.
//
// Four parallel arrays of equal length: the bars, each bar's order book (filled
// for today's bar only), its trade data and its capital data. Growing a series
// zero-fills the new entries of all four.
#pragma once

#include <cstddef>
#include <vector>

#include "market/records.h"
#include "platform/period.h"

namespace tessaro {

struct Series {
    Period period = kPeriodInvalid;
    std::vector<KLineRecord> bars;
    std::vector<OrderBook> orderBooks;
    std::vector<TradeData> trades;
    std::vector<CapitalBlock> capital;

    // Header, filled by the series loader: the security's code-table entry and quote
    // snapshot, the multi-day N (and how many days the last multi-day bar holds), and
    // copies of its capital-change and ex-rights lists.
    CodeEntry entry;
    QuoteSnapshot quote;
    int multiDay = 5;
    int lastBarDays = 0;
    std::vector<CapitalChange> capitalChanges;
    std::vector<ExRightsRecord> exRights;

    size_t size() const { return bars.size(); }
    bool empty() const { return bars.empty(); }

    void resize(size_t n) {
        bars.resize(n);
        orderBooks.resize(n);
        trades.resize(n);
        capital.resize(n);
    }
    void reserve(size_t n) {
        bars.reserve(n);
        orderBooks.reserve(n);
        trades.reserve(n);
        capital.reserve(n);
    }
    void clear() { resize(0); }
    // Appends a bar with zeroed order book, trade and capital data; returns its index.
    size_t push(const KLineRecord& bar) {
        resize(size() + 1);
        bars.back() = bar;
        return size() - 1;
    }
};

}  // namespace tessaro
