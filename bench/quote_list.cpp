// Quote list and keyboard wizard: sorting a 5,000-row page by a numeric column and by
// name, applying a 5,000-quote reply to the rows, and the wizard's matching over 5,000
// securities, 36 formulas and 60 blocks per keystroke.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "platform/text.h"
#include "tools/quote_list/quote_list.h"
#include "tools/wizard/wizard.h"

namespace tessaro {
namespace {

constexpr int kRows = 5000;

SecurityId Nth(int i) {
    char code[8];
    std::snprintf(code, sizeof code, "%06d", i < 2500 ? 600000 + i : i - 2500 + 1);
    return MakeSecurityId(i < 2500 ? kMarketSH : kMarketSZ, code);
}

// A GB2312 name of four characters (lead 0xB0..0xD7, trail 0xA1..0xFE).
std::string Name(std::mt19937& rng) {
    std::string s;
    for (int k = 0; k < 4; ++k) {
        s += static_cast<char>(0xB0 + rng() % 40);
        s += static_cast<char>(0xA1 + rng() % 94);
    }
    return s;
}

std::vector<QuoteUpdate> Quotes(std::mt19937& rng) {
    std::vector<QuoteUpdate> out(kRows);
    for (int i = 0; i < kRows; ++i) {
        QuoteUpdate& q = out[i];
        q.entry.id = Nth(i);
        q.entry.securityClass = kClassAShare;
        q.entry.setName(Name(rng));
        float prev = 5 + static_cast<float>(rng() % 5000) / 100;
        float last = prev * (0.9f + static_cast<float>(rng() % 2000) / 10000);
        QuoteSnapshot& s = q.snapshot;
        s.prevClose = prev;
        s.price5MinAgo = prev;
        s.avgVolume5 = 50000;
        s.bar.time = 45000u * 86400u + 36000;
        s.bar.open = prev;
        s.bar.high = std::max(prev, last) * 1.01f;
        s.bar.low = std::min(prev, last) * 0.99f;
        s.bar.close = last;
        s.bar.volume = static_cast<float>(rng() % 1000000);
        s.bar.amount = s.bar.volume * last * 100;
        s.lastTrade.volume = static_cast<float>(rng() % 500);
        s.capital.circulating = 1e6f;
        for (int k = 0; k < 5; ++k) {
            s.book.bidVolume[k] = static_cast<float>(rng() % 1000);
            s.book.askVolume[k] = static_cast<float>(rng() % 1000);
        }
    }
    return out;
}

struct Page {
    QuoteListModel model;
    std::vector<QuoteUpdate> quotes;
    Page() {
        std::mt19937 rng(5);
        quotes = Quotes(rng);
        Block block;
        block.setting = kBlockSelf;  // sorted locally
        block.name = "bench";
        for (const QuoteUpdate& q : quotes) block.members.push_back(q.entry.id);
        model.SetPage(block, nullptr);
        model.ApplyQuotes(quotes);
        for (QuoteUpdate& q : quotes) q.snapshot.bar.close *= 1.001f;  // the next reply moves every price
    }
};

void BM_SortNumeric(benchmark::State& state) {
    Page page;
    const int field = static_cast<int>(state.range(0));
    const int column = page.model.ColumnOfField(field);
    bool descending = true;
    for (auto _ : state) {
        page.model.SetSort(column, descending);
        descending = !descending;
        benchmark::DoNotOptimize(page.model.rowAt(0));
    }
    state.SetLabel(std::string(QuoteFieldName(field)));
}
BENCHMARK(BM_SortNumeric)->Arg(kFieldChangePct)->Arg(kFieldVolume)->Arg(kFieldTurnover)->Arg(kFieldVolumeRatio)
    ->Unit(benchmark::kMillisecond);

void BM_SortByName(benchmark::State& state) {
    Page page;
    bool descending = true;
    for (auto _ : state) {
        page.model.SetSort(2, descending);
        descending = !descending;
        benchmark::DoNotOptimize(page.model.rowAt(0));
    }
}
BENCHMARK(BM_SortByName)->Unit(benchmark::kMillisecond);

void BM_ApplyQuoteReply(benchmark::State& state) {
    Page page;
    for (auto _ : state) {
        benchmark::DoNotOptimize(page.model.ApplyQuotes(page.quotes));
        benchmark::DoNotOptimize(page.model.TakeRepaint());
    }
}
BENCHMARK(BM_ApplyQuoteReply)->Unit(benchmark::kMillisecond);

void BM_ApplyRankPage(benchmark::State& state) {
    Page page;
    std::vector<QuoteUpdate> reversed(page.quotes.rbegin(), page.quotes.rend());
    bool flip = false;
    for (auto _ : state) {
        benchmark::DoNotOptimize(page.model.ApplyRankPage(0, flip ? reversed : page.quotes));
        flip = !flip;
    }
}
BENCHMARK(BM_ApplyRankPage)->Unit(benchmark::kMillisecond);

void BM_WizardKeystroke(benchmark::State& state) {
    std::mt19937 rng(9);
    std::vector<CodeEntry> entries;
    for (const QuoteUpdate& q : Quotes(rng)) entries.push_back(q.entry);
    KeyboardWizard wizard;
    wizard.AddCommands(nullptr);
    for (int i = 0; i < 36; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "F%c%cX%d", 'A' + i % 26, 'A' + (i * 7) % 26, i);
        wizard.AddFormula(4, name, Name(rng), nullptr);
    }
    for (int i = 0; i < 60; ++i) wizard.AddBlock(0, Name(rng), nullptr);
    wizard.SetSecurities(entries, nullptr);
    // One typing session each: a code, and initials.
    const std::vector<std::string> typing = {"6", "60", "600", "6001", "60012", "600123",
                                             "h", "hx", "hxk", "hxkj", "0", "00"};
    size_t k = 0, matched = 0;
    for (auto _ : state) {
        matched += wizard.Match(typing[k]).size();
        k = (k + 1) % typing.size();
    }
    state.counters["matches"] = static_cast<double>(matched) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_WizardKeystroke)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace tessaro

BENCHMARK_MAIN();
