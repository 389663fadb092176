// The block index worker over a hand-made market, and the formula batch.
#include <cmath>

#include <gtest/gtest.h>

#include "formula/evaluator_test_support.h"
#include "market/history.h"
#include "platform/files.h"
#include "platform/settings_store.h"
#include "test_support/temp_dir.h"
#include "tools/blocks/block_index.h"
#include "tools/blocks/block_management.h"

namespace tessaro {
namespace {

const StoreTime kDay1 = MakeStoreTime(2025, 3, 3);
StoreTime Day(int i) { return kDay1 + static_cast<StoreTime>(i - 1) * 86400; }

KLineRecord Bar(int day, float close, float volume) {
    KLineRecord b{};
    b.time = Day(day);
    b.open = close - 1;
    b.high = close + 1;
    b.low = close - 2;
    b.close = close;
    b.volume = volume;
    b.amount = volume * close * 100;
    return b;
}

class BlockIndex : public ::testing::Test {
protected:
    BlockIndex() : paths(dir.path()), store(paths, settings), blocks(paths) {
        store.LoadAll();
        std::vector<KLineRecord> calendar;
        for (int d = 1; d <= 5; ++d) calendar.push_back(Bar(d, 3000, 1));
        Add("SH", "000001", {}, calendar, 0);
        // A: every day, capital 100 lots, bonus 1:1 effective on day 3 (earlier prices halve).
        Add("SH", "600001", {}, {Bar(1, 10, 5), Bar(2, 12, 6), Bar(3, 7, 7), Bar(4, 8, 8), Bar(5, 9, 9)}, 100);
        ExRightsRecord bonus{};
        bonus.exDate = static_cast<uint32_t>(UnixFromStoreTime(Day(3)));
        bonus.bonusShares = 1;
        store.SetExRights(Id("SH", "600001"), {bonus});
        // B: suspended on day 4, first bar on day 2, capital 300 lots.
        Add("SH", "600002", {}, {Bar(2, 20, 1), Bar(3, 22, 2), Bar(5, 24, 3)}, 300);
        // C: known, without history.
        Add("SZ", "000003", {}, {}, 50);
        for (const char* code : {"600004", "600005"}) Add("SH", code, {}, {Bar(1, 5, 1)}, 10);
        blocks.BuildSystemBlocks();
        blocks.Mutate([&](std::vector<Block>& all) {
            all.clear();  // only the blocks of the test
            all.push_back(MakeBlock("X", "999100", {Id("SH", "600001"), Id("SH", "600002")}));
            all.push_back(MakeBlock("Y", "999101", {Id("SH", "600002"), Id("SZ", "000003"), Id("SH", "600002")}));
            all.push_back(MakeBlock("Z", "999102", {Id("SZ", "000003")}));
            all.push_back(MakeBlock("NoIndex", "", {Id("SH", "600004"), Id("SH", "600005")}));
        });
    }
    static SecurityId Id(std::string_view m, std::string_view code) { return MakeSecurityId(MarketFromLetters(m), code); }
    static Block MakeBlock(std::string name, std::string code, std::vector<SecurityId> members) {
        Block b;
        b.setting = kBlockServer;
        b.name = std::move(name);
        b.indexCode = std::move(code);
        b.members = std::move(members);
        return b;
    }
    void Add(std::string_view m, std::string_view code, CodeEntry, std::vector<KLineRecord> bars, float capital) {
        QuoteUpdate q;
        q.entry.id = Id(m, code);
        q.entry.setName(std::string("n") + std::string(code));
        store.UpdateQuote(q);
        if (capital > 0) {
            store.SetCapital(q.entry.id, capital / 2, capital);
            store.SetCapitalChanges(q.entry.id, {{Day(1), capital / 2, capital}});
        }
        if (!bars.empty()) {
            ASSERT_TRUE(WriteHistory(paths, q.entry.id, kPeriodDay, bars, true));
        }
    }
    std::vector<KLineRecord> IndexFile(std::string_view code) {
        Series s;
        EXPECT_TRUE(LoadHistory(paths, Id("$$", code), kPeriodDay, s));
        return s.bars;
    }

    TempDir dir;
    AppPaths paths;
    SettingsStore settings;
    MarketStore store;
    BlockSet blocks;
};

TEST_F(BlockIndex, CapitalWeightedWithSuspensionsSharedMembersAndEmptyHistory) {
    ProgressQueue progress;
    BlockIndexReport report = RunBlockIndexes(blocks, store, paths, progress);
    EXPECT_FALSE(report.cancelled);
    EXPECT_EQ(report.indexes, 3);
    EXPECT_EQ(report.members, 3);  // A, B and C; B listed twice and in two blocks counts once
    std::vector<std::string> texts;
    while (auto item = progress.TryPop()) texts.push_back(item->text);
    EXPECT_EQ(texts, (std::vector<std::string>{"正在初始化计算,请稍后...", "计算600001 n600001 ...",
                                                "计算600002 n600002 ...", "计算000003 n000003 ...",
                                                "刷新999100 X ...", "刷新999101 Y ...", "刷新999102 Z ..."}));
    EXPECT_EQ(progress.range(), 3);

    // X: day 1 A alone (forward-adjusted 10 -> 5), day 4 A with B's day-3 bar carried.
    std::vector<KLineRecord> x = IndexFile("999100");
    ASSERT_EQ(x.size(), 5u);
    EXPECT_EQ(x[0].time, Day(1));
    EXPECT_FLOAT_EQ(x[0].close, 5.0f);
    EXPECT_FLOAT_EQ(x[0].volume, 5.0f);
    EXPECT_FLOAT_EQ(x[1].close, (6.0f * 100 + 20 * 300) / 400);
    EXPECT_FLOAT_EQ(x[3].close, (8.0f * 100 + 22 * 300) / 400);
    EXPECT_FLOAT_EQ(x[3].open, (7.0f * 100 + 21 * 300) / 400);
    EXPECT_FLOAT_EQ(x[3].volume, 8.0f + 2.0f);
    EXPECT_FLOAT_EQ(x[3].amount, 8.0f * 8 * 100 + 2.0f * 22 * 100);
    // Y: nothing before B's first bar; C without history adds nothing.
    std::vector<KLineRecord> y = IndexFile("999101");
    EXPECT_EQ(y[0].close, 0.0f);
    EXPECT_FLOAT_EQ(y[3].close, 22.0f);
    // Z: calendar days with zero prices.
    std::vector<KLineRecord> z = IndexFile("999102");
    ASSERT_EQ(z.size(), 5u);
    for (const KLineRecord& b : z) EXPECT_EQ(b.close, 0.0f);
    EXPECT_FALSE(FileExists(paths.historyFile(Id("$$", "999103"), kPeriodDay)));

    // The index securities exist, named after their blocks, with one capital entry.
    EXPECT_EQ(store.GetName(Id("$$", "999100")), "X");
    std::vector<CapitalChange> cap = store.GetCapitalChanges(Id("$$", "999101"));
    ASSERT_EQ(cap.size(), 1u);
    EXPECT_EQ(cap[0].day, MakeStoreTime(1980, 1, 1));
    EXPECT_FLOAT_EQ(cap[0].total, 300.0f + 50.0f);
    EXPECT_FLOAT_EQ(cap[0].circulating, 150.0f + 25.0f);
}

TEST_F(BlockIndex, CancelAfterTheThirdMemberWritesNothing) {
    blocks.Mutate([&](std::vector<Block>& all) {
        all.push_back(MakeBlock("W", "999103", {Id("SH", "600004"), Id("SH", "600005")}));
    });
    ASSERT_TRUE(WriteHistory(paths, Id("$$", "999100"), kPeriodDay, std::vector<KLineRecord>{Bar(1, 1, 1)}, true));
    ProgressQueue progress;
    int computed = 0;
    progress.SetNotify([&](ProgressQueue::Event e) {
        if (e != ProgressQueue::Event::Item) return;
        if (++computed == 4) progress.Cancel();  // the initial text and three members
    });
    BlockIndexReport report = RunBlockIndexes(blocks, store, paths, progress);
    EXPECT_TRUE(report.cancelled);
    EXPECT_EQ(report.indexes, 0);
    EXPECT_EQ(computed, 4);
    EXPECT_EQ(IndexFile("999100").size(), 1u);  // the old file stays
    EXPECT_FALSE(FileExists(paths.historyFile(Id("$$", "999101"), kPeriodDay)));
}

// The run on a worker thread (with its loader thread) while the user-interface
// thread reads the progress, changes the blocks and reads the store.
using BlockIndexConcurrency = BlockIndex;
TEST_F(BlockIndexConcurrency, WorkerRunsWhileBlocksAndStoreAreUsed) {
    ProgressQueue progress;
    BlockIndexReport report;
    {
        ProgressWorker worker(progress, [&](ProgressQueue& q) { report = RunBlockIndexes(blocks, store, paths, q); });
        int items = 0;
        while (auto item = progress.WaitPop()) {
            ++items;
            blocks.Mutate([&](std::vector<Block>& all) { all.back().members.push_back(Id("SH", "600004")); });
            EXPECT_TRUE(store.GetQuote(Id("SH", "600001")));
        }
        worker.Wait();
        EXPECT_EQ(items, 7);
    }
    EXPECT_EQ(report.indexes, 3);
    EXPECT_FLOAT_EQ(IndexFile("999100")[3].close, (8.0f * 100 + 22 * 300) / 400);
}

TEST(BlockIndexBars, ZeroOrBrokenCapitalGivesZeroPrices) {
    std::vector<KLineRecord> calendar(3);
    std::vector<IndexDaySums> sums(3);
    sums[0] = {10, 20, 5, 15, 7, 70, 0, 0};
    sums[1] = {10, 20, 5, 15, 7, 70, 0, NAN};
    sums[2] = {10, 20, 5, 15, 7, 70, 1, 1e-300};
    for (const KLineRecord& b : IndexBars(calendar, sums)) {
        EXPECT_TRUE(std::isfinite(b.close) && std::isfinite(b.open) && std::isfinite(b.high));
        EXPECT_EQ(b.volume, 7.0f);
    }
    EXPECT_EQ(IndexBars(calendar, sums)[0].close, 0.0f);
}

TEST(ProgressWorkerConcurrency, ItemsArriveInOrderAndStopCancels) {
    ProgressQueue queue;
    std::atomic<int> pushed{0};
    {
        ProgressWorker worker(queue, [&](ProgressQueue& q) {
            for (int i = 0; i < 100000 && !q.cancelled(); ++i) {
                q.Push(std::to_string(i), i);
                ++pushed;
            }
        });
        for (int i = 0; i < 10; ++i) {
            std::optional<ProgressItem> item = queue.WaitPop();
            ASSERT_TRUE(item);
            EXPECT_EQ(item->position, i);
        }
        worker.Stop();
    }
    EXPECT_TRUE(queue.closed());
    EXPECT_GE(pushed.load(), 10);
}

TEST(FormulaBatch, LastValueValueAtATimeAndFailures) {
    FormulaSet set;
    FormulaRecord formula = testing_support::MakeFormula(set, "T", "C*2;");
    MemoryEvalData data;
    Series s;
    s.period = kPeriodDay;
    for (int d = 1; d <= 4; ++d) s.push(Bar(d, static_cast<float>(d), 1));
    CodeEntry a;
    a.id = MakeSecurityId(kMarketSH, "600001");
    a.securityClass = kClassAShare;
    data.AddSecurity(a, s);
    std::vector<FormulaRow> rows(2);
    rows[0].entry = a;
    rows[1].entry.id = MakeSecurityId(kMarketSH, "600999");  // no data
    rows[1].result = 42;
    ProgressQueue progress;
    EXPECT_EQ(EvaluateFormulaOverRows(set, data, formula, rows, 0, kPeriodDay, 0, progress), 2u);
    EXPECT_FLOAT_EQ(rows[0].result, 8.0f);
    EXPECT_EQ(rows[1].result, 0.0f);
    EXPECT_EQ(progress.range(), 2);
    EXPECT_EQ(progress.TryPop()->text, "计算600001  ...");

    EXPECT_EQ(EvaluateFormulaOverRows(set, data, formula, rows, 0, kPeriodDay, Day(2) + 3600, progress), 2u);
    EXPECT_FLOAT_EQ(rows[0].result, 4.0f);
    EXPECT_EQ(EvaluateFormulaOverRows(set, data, formula, rows, 0, kPeriodDay, Day(9), progress), 2u);
    EXPECT_EQ(rows[0].result, 0.0f);  // no bar of that day
    EXPECT_EQ(EvaluateFormulaOverRows(set, data, formula, rows, 5, kPeriodDay, 0, progress), 2u);
    EXPECT_EQ(rows[0].result, 0.0f);  // no such line

    progress.Cancel();
    rows[0].result = 7;
    EXPECT_EQ(EvaluateFormulaOverRows(set, data, formula, rows, 0, kPeriodDay, 0, progress), 0u);
    EXPECT_EQ(rows[0].result, 7.0f);
}

}  // namespace
}  // namespace tessaro
