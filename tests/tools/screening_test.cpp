// The screening model: the range, remembered settings, the run and its result block.
#include <atomic>
#include <filesystem>

#include <gtest/gtest.h>

#include "formula/evaluator_test_support.h"
#include "market/block_file.h"
#include "platform/settings_store.h"
#include "platform/text.h"
#include "test_support/temp_dir.h"
#include "tools/screening/screening.h"

namespace tessaro {
namespace {

std::string G(std::string_view utf8) { return Utf8ToGbk(utf8); }

const StoreTime kDay1 = MakeStoreTime(2025, 3, 3);
StoreTime Day(int i) { return kDay1 + static_cast<StoreTime>(i - 1) * 86400; }

CodeEntry Entry(MarketCode m, std::string code, uint16_t cls = kClassAShare) {
    CodeEntry e;
    e.id = MakeSecurityId(m, code);
    e.securityClass = cls;
    e.setName(G("股") + code);
    return e;
}

TEST(ScreeningRange, DefaultSplitAddAndSecurities) {
    SettingsStore settings;
    EXPECT_EQ(GbkToUtf8(LoadScreeningRange(settings)), "沪深A股,");  // a first start
    SaveScreeningRange(settings, "");
    EXPECT_EQ(GbkToUtf8(LoadScreeningRange(settings)), "沪深A股,");
    std::string range = LoadScreeningRange(settings);
    EXPECT_TRUE(AddToScreeningRange(range, G("银行")));
    EXPECT_FALSE(AddToScreeningRange(range, G("银行")));  // a block added twice appears once
    EXPECT_FALSE(AddToScreeningRange(range, G("沪深A股")));
    EXPECT_FALSE(AddToScreeningRange(range, "a,b"));
    SaveScreeningRange(settings, range);
    EXPECT_EQ(GbkToUtf8(LoadScreeningRange(settings)), "沪深A股,银行,");
    std::vector<std::string> names = SplitScreeningRange(G("沪深A股,, 银行 ,x,X,银行"));
    ASSERT_EQ(names.size(), 3u);
    EXPECT_EQ(names[1], G("银行"));
    EXPECT_EQ(names[2], "x");

    // Securities of overlapping blocks come once, in block then member order; unknown names are reported.
    BlockSet blocks;
    blocks.BuildSystemBlocks();
    for (auto code : {"600000", "600001"}) blocks.RegisterSecurity(Entry(kMarketSH, code));
    blocks.RegisterSecurity(Entry(kMarketSZ, "000001"));
    Block mine;
    mine.name = G("我的");
    mine.members = {MakeSecurityId(kMarketSZ, "000001"), MakeSecurityId(kMarketSZ, "000002"),
                    MakeSecurityId(kMarketSH, "600000")};
    blocks.Mutate([&](std::vector<Block>& all) { all.push_back(mine); });
    std::vector<std::string> unknown;
    const std::vector<std::string> wanted = {G("沪深A股"), G("我的"), G("沪深A股"), G("无此板块")};
    std::vector<SecurityId> ids = ScreeningSecurities(blocks, wanted, &unknown);
    ASSERT_EQ(ids.size(), 4u);
    EXPECT_EQ(ids[0].codeText(), "600000");
    EXPECT_EQ(ids[2].codeText(), "000001");
    EXPECT_EQ(ids[3].codeText(), "000002");
    ASSERT_EQ(unknown.size(), 1u);
}

TEST(ScreeningSettingsList, FindByTypeAndNameReplaceAndCut) {
    RememberedScreeningSettings list;
    EXPECT_EQ(list.Find(0, "MACD"), nullptr);
    list.Store({0, "macd", {12, 26}, 8, 0, "d"});
    list.Store({7, "MACD", {}, 9, 0, ""});
    ASSERT_NE(list.Find(0, "MACD"), nullptr);
    EXPECT_EQ(list.Find(0, "MACD")->params[1], 26);
    EXPECT_EQ(list.Find(7, "macd")->period, 9);
    list.Store({0, "MACD", {5}, 10, 1, ""});
    EXPECT_EQ(list.size(), 2u);
    EXPECT_EQ(list.Find(0, "Macd")->period, 10);
    // Names longer than the 64-byte field are cut without splitting a character; 64 parameters at most.
    std::string longName;
    for (int i = 0; i < 40; ++i) longName += G("长");
    list.Store({0, longName, std::vector<int32_t>(70, 1), 8, 0, longName});
    const ScreeningSettings* cut = list.Find(0, longName);
    ASSERT_NE(cut, nullptr);
    EXPECT_EQ(cut->formulaName.size(), 62u);
    EXPECT_EQ(cut->params.size(), 64u);
}

TEST(ScreeningParameters, ValuesAreHeldInsideTheirRanges) {
    FormulaRecord f;
    FormulaParam p;
    p.min = 1, p.max = 100, p.defaultValue = 5;
    f.params = {p, p, p};
    const float values[] = {500, -3, std::nanf("")};
    FormulaRecord copy = WithParameters(f, values);
    EXPECT_EQ(copy.params[0].defaultValue, 100);
    EXPECT_EQ(copy.params[1].defaultValue, 1);
    EXPECT_EQ(copy.params[2].defaultValue, 5);
    EXPECT_EQ(f.params[0].defaultValue, 5);
}

OutputLine Line(std::vector<float> values, int32_t begin) {
    OutputLine line;
    line.begin = begin;
    line.count = static_cast<int32_t>(values.size());
    for (size_t i = 0; i < values.size(); ++i) {
        LinePoint p{};
        p.time = Day(static_cast<int>(i) + 1) + 3600;
        p.value = values[i];
        line.points.push_back(p);
    }
    return line;
}

TEST(ScreeningHit, LastBarAndHistoricalWindow) {
    std::vector<uint32_t> times;
    EXPECT_TRUE(ScreeningLineHits(Line({0, 0, 1}, 0), 0, 0, &times));
    EXPECT_EQ(times, std::vector<uint32_t>{Day(3) + 3600});
    EXPECT_FALSE(ScreeningLineHits(Line({1, 1, 0.0000005f}, 0), 0, 0, nullptr));  // |x| <= 1e-6 is false
    EXPECT_FALSE(ScreeningLineHits(Line({1, 1, 1}, 3), 0, 0, nullptr));  // the last point is not valid
    EXPECT_FALSE(ScreeningLineHits(OutputLine{}, 0, 0, nullptr));
    // The window takes whole days at both ends; leading invalid points are never read.
    OutputLine w = Line({1, 0, 1, 0, 1, 0}, 1);
    times.clear();
    EXPECT_TRUE(ScreeningLineHits(w, Day(1), Day(3), &times));
    EXPECT_EQ(times, std::vector<uint32_t>{Day(3) + 3600});
    EXPECT_FALSE(ScreeningLineHits(w, Day(4), Day(4) + 86399, nullptr));
    times.clear();
    EXPECT_TRUE(ScreeningLineHits(w, Day(6), Day(3), &times));  // reversed ends
    EXPECT_EQ(times.size(), 2u);
    EXPECT_FALSE(ScreeningLineHits(w, Day(7), Day(9), nullptr));
}

// 40 securities whose closes rise by a security-specific step; "C>20" holds on the last bar
// for those whose last close passes 20, and inside a window from the first day that does.
class Screening : public ::testing::Test {
protected:
    Screening() {
        data.SetMarketTime(Day(30));
        formula = testing_support::MakeFormula(set, "S", "C>20;", {}, kFormulaSelection);
        for (int s = 0; s < 40; ++s) {
            CodeEntry e = Entry(kMarketSH, std::to_string(600000 + s));
            Series series;
            series.period = kPeriodDay;
            for (int d = 1; d <= 20; ++d) {
                KLineRecord b{};
                b.time = Day(d);
                b.close = b.open = b.high = b.low = 1.0f + static_cast<float>(d * s) * 0.1f;
                b.volume = 1;
                series.push(b);
            }
            data.AddSecurity(e, series);
            securities.push_back(e);
        }
        request.formula = formula;
        request.period = kPeriodDay;
    }
    static bool Expected(int s, int day) { return 1.0f + static_cast<float>(day * s) * 0.1f > 20.0f; }

    std::vector<ScreeningRecord> Run(unsigned threads, std::atomic<bool>& running, size_t stopAfter = SIZE_MAX) {
        request.threads = threads;
        std::vector<ScreeningRecord> out;
        outcome = RunScreening(set, data, request, securities, running, [&](const ScreeningRecord& r) {
            out.push_back(r);
            if (out.size() == stopAfter) running = false;
        });
        return out;
    }

    FormulaSet set;
    MemoryEvalData data;
    FormulaRecord formula;
    std::vector<CodeEntry> securities;
    ScreeningRequest request;
    ScreeningOutcome outcome;
};

TEST_F(Screening, HitsMatchAHandComputationInSecurityOrder) {
    std::atomic<bool> running{true};
    std::vector<ScreeningRecord> records = Run(1, running);
    ASSERT_EQ(records.size(), 40u);
    size_t hits = 0;
    for (int s = 0; s < 40; ++s) {
        EXPECT_EQ(records[s].security.id.codeText(), std::to_string(600000 + s));
        EXPECT_EQ(records[s].hit, Expected(s, 20)) << s;
        EXPECT_EQ(records[s].position, (s + 1) * 100 / 40);
        EXPECT_EQ(records[s].formulaName, "S");
        hits += records[s].hit;
    }
    EXPECT_EQ(outcome.hits, hits);
    EXPECT_FALSE(outcome.stopped);
    EXPECT_EQ(records.back().position, 100);

    // The historical window days 5-8: a hit when any of those days passes 20.
    request.from = Day(5);
    request.to = Day(8);
    records = Run(1, running);
    for (int s = 0; s < 40; ++s) {
        EXPECT_EQ(records[s].hit, Expected(s, 8)) << s;
        if (!records[s].hit) continue;
        int first = 5;
        while (!Expected(s, first)) ++first;
        EXPECT_EQ(StoreDay(records[s].hitTimes.front()), StoreDay(Day(first))) << s;
        EXPECT_EQ(records[s].hitTimes.size(), static_cast<size_t>(9 - first)) << s;
    }
    // A line the formula does not have hits nothing.
    request.from = request.to = 0;
    request.line = 3;
    Run(1, running);
    EXPECT_EQ(outcome.hits, 0u);
    EXPECT_EQ(outcome.examined, 40u);
}

TEST_F(Screening, StopKeepsTheRowsAndLeavesTheBlockAlone) {
    TempDir dir;
    BlockSet blocks{AppPaths(dir.path())};
    Block old;
    old.setting = kBlockScreening;
    old.name = G("结果");
    old.members = {MakeSecurityId(kMarketSZ, "000001")};
    ASSERT_TRUE(blocks.SaveBlock(old));
    blocks.Mutate([&](std::vector<Block>& all) { all.push_back(old); });
    const std::string file = dir.path() + "/block/结果.blk";
    const auto before = std::filesystem::last_write_time(file);

    // One worker: with two, the other may finish every security before the
    // seventh record is handed over on a loaded machine, and nothing is left to stop.
    std::atomic<bool> running{true};
    std::vector<ScreeningRecord> records = Run(1, running, 7);
    EXPECT_TRUE(outcome.stopped);
    EXPECT_GE(records.size(), 7u);
    EXPECT_LT(records.size(), 40u);
    for (size_t i = 0; i < records.size(); ++i) EXPECT_EQ(records[i].security.id.codeText(), std::to_string(600000 + i));
    std::vector<SecurityId> hits;
    for (const ScreeningRecord& r : records)
        if (r.hit) hits.push_back(r.security.id);
    ScreeningFinish finish = FinishScreening(blocks, old.name, hits, true);
    EXPECT_EQ(finish.message, "选股被终止(暂选中" + std::to_string(hits.size()) + "只)!");
    EXPECT_FALSE(finish.saved);
    EXPECT_EQ(blocks.FindBlock(old.name)->members.size(), 1u);
    EXPECT_EQ(std::filesystem::last_write_time(file), before);

    // A run that ends by itself replaces the members, in the file too.
    running = true;
    records = Run(1, running);
    hits.clear();
    for (const ScreeningRecord& r : records)
        if (r.hit) hits.push_back(r.security.id);
    finish = FinishScreening(blocks, old.name, hits, outcome.stopped);
    EXPECT_TRUE(finish.saved);
    EXPECT_EQ(finish.message, "选股完成(共选中" + std::to_string(hits.size()) + "只)!");
    BlockSet reread{AppPaths(dir.path())};
    reread.LoadBlockFiles();
    ASSERT_TRUE(reread.FindBlock(old.name));
    EXPECT_EQ(reread.FindBlock(old.name)->members.size(), hits.size());

    // A new destination is created as a screening-result block; a rule block is refused.
    finish = FinishScreening(blocks, G("新结果"), hits, false);
    EXPECT_TRUE(finish.saved);
    EXPECT_EQ(blocks.FindBlock(G("新结果"))->setting, kBlockScreening);
    blocks.BuildSystemBlocks();
    finish = FinishScreening(blocks, G("沪市A股"), hits, false);
    EXPECT_FALSE(finish.saved);
}

TEST_F(Screening, EmptyRangeAndStoppedBeforeTheStart) {
    std::atomic<bool> running{false};
    EXPECT_TRUE(Run(2, running).empty());
    EXPECT_TRUE(outcome.stopped);
    securities.clear();
    running = true;
    EXPECT_TRUE(Run(0, running).empty());
    EXPECT_FALSE(outcome.stopped);
}

class ScreeningConcurrency : public Screening {};

TEST_F(ScreeningConcurrency, EveryThreadCountGivesTheSameRecordsInOrder) {
    std::atomic<bool> running{true};
    std::vector<ScreeningRecord> one = Run(1, running);
    for (unsigned threads : {2u, 3u, 8u, 0u}) {
        std::vector<ScreeningRecord> many = Run(threads, running);
        ASSERT_EQ(many.size(), one.size()) << threads;
        for (size_t i = 0; i < one.size(); ++i) {
            EXPECT_TRUE(SameSecurity(many[i].security.id, one[i].security.id));
            EXPECT_EQ(many[i].hit, one[i].hit);
            EXPECT_EQ(many[i].hitTimes, one[i].hitTimes);
        }
    }
}

}  // namespace
}  // namespace tessaro
