// The evaluator over a real application directory: series through the series loader, the
// market index, quote fields and finance records from the market store.
#include "evaluator_test_support.h"

#include <chrono>
#include <cstring>
#include <thread>

#include "app/paths.h"
#include "market/base_files.h"
#include "market/demo_market.h"
#include "market/quote_fields.h"
#include "platform/settings_store.h"
#include "test_support/temp_dir.h"

namespace tessaro {
namespace {

using namespace testing_support;

class EvaluatorOverStore : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir = new TempDir;
        DemoMarketOptions options;
        options.outDir = dir->path();
        options.securities = 6;
        options.days = 40;
        options.fiveMinuteDays = 2;
        options.oneMinuteDays = 1;
        std::string error;
        ASSERT_TRUE(GenerateDemoMarket(options, nullptr, &error)) << error;
    }
    static void TearDownTestSuite() {
        delete dir;
        dir = nullptr;
    }
    void SetUp() override {
        paths = AppPaths(dir->path());
        store = std::make_unique<MarketStore>(paths, settings);
        AppPaths p = paths;
        store->SetBaseFileLoader([p](MarketStore& s) { LoadBaseFiles(s, p); });
        ASSERT_TRUE(store->LoadAll());
        source = std::make_unique<StoreSeriesSource>(*store, paths);
        data = std::make_unique<StoreEvalData>(*store, *source);
        for (const CodeEntry& e : store->ListSecurities(3))
            if (e.securityClass == kClassAShare && stock.id.market == 0) stock = e;
        ASSERT_NE(stock.id.market, 0);
    }

    std::unique_ptr<EvalResult> Run(const std::string& text, Period period = kPeriodDay, int options = 0) {
        FormulaRecord f = MakeFormula(set, "T", text);
        return Evaluate(set, *data, f, stock, nullptr, period, options);
    }

    static TempDir* dir;
    AppPaths paths;
    SettingsStore settings;
    std::unique_ptr<MarketStore> store;
    std::unique_ptr<StoreSeriesSource> source;
    std::unique_ptr<StoreEvalData> data;
    FormulaSet set;
    CodeEntry stock;
};
TempDir* EvaluatorOverStore::dir = nullptr;

TEST_F(EvaluatorOverStore, BarsComeThroughTheSeriesLoaderWithTheAskedAdjustment) {
    for (int flags : {0, kExRightsNone, kExRightsBackward}) {
        Series s;
        ASSERT_TRUE(LoadSeries(*source, stock.id, kPeriodDay, s, flags));
        auto r = Run("A:C; B:V;", kPeriodDay, flags);
        ASSERT_NE(r, nullptr);
        ASSERT_EQ(r->lines[0].count, static_cast<int32_t>(s.size()));
        for (size_t i = 0; i < s.size(); ++i) {
            EXPECT_EQ(r->lines[0].points[i].value, s.bars[i].close) << flags << " bar " << i;
            EXPECT_EQ(r->lines[0].points[i].time, s.bars[i].time);
        }
    }
    auto week = Run("A:C;", kPeriodWeek);
    ASSERT_NE(week, nullptr);
    Series w;
    ASSERT_TRUE(LoadSeries(*source, stock.id, kPeriodWeek, w, 0));
    EXPECT_EQ(week->lines[0].count, static_cast<int32_t>(w.size()));
}

TEST_F(EvaluatorOverStore, OneContextForManySecuritiesMatchesAFreshContextForEach) {
    // A context reloads into the series buffers of its earlier evaluations: nothing of one
    // security (bars, counts, capital) may show in the next one's lines.
    FormulaRecord f = MakeFormula(set, "T", "A:C; B:MA(V,3); D:\"SH000001$C\"; E:COUNT(C>O,5)+AMOUNT;");
    FormulaEvaluator reused(set, *data, nullptr);
    for (int round = 0; round < 2; ++round) {
        for (const CodeEntry& e : store->ListSecurities(3)) {
            for (Period period : {kPeriodDay, kPeriodWeek, kPeriodMin5}) {
                auto a = reused.Evaluate(f, e, nullptr, period);
                auto b = Evaluate(set, *data, f, e, nullptr, period);
                ASSERT_EQ(a == nullptr, b == nullptr);
                if (!a) continue;
                ASSERT_EQ(a->lineCount(), b->lineCount());
                for (size_t k = 0; k < a->lineCount(); ++k) {
                    const OutputLine &x = a->lines[k], &y = b->lines[k];
                    ASSERT_EQ(x.count, y.count) << SecurityText(e.id) << " " << period << " line " << k;
                    EXPECT_EQ(x.begin, y.begin);
                    EXPECT_TRUE(x.points == y.points)
                        << SecurityText(e.id) << " " << period << " line " << k;
                }
            }
        }
    }
}

TEST_F(EvaluatorOverStore, MarketIndexAndOtherSecuritiesComeFromTheStore) {
    std::optional<CodeEntry> index = store->GetMarketIndexEntry(stock.id.market);
    ASSERT_TRUE(index);
    Series is;
    ASSERT_TRUE(LoadSeries(*source, index->id, kPeriodDay, is, 0));
    std::string code = SecurityText(index->id);
    set.Put(MakeFormula(set, "T0", "X:C;"));
    auto r = Run("A:INDEXC; B:\"" + code + "$CLOSE\"; D:STKINDI('大盘指数','T0.X');", kPeriodDay);
    ASSERT_NE(r, nullptr);
    const Series& last = is;
    int32_t n = r->lines[0].count;
    ASSERT_GT(n, 0);
    // Both series end on the same trading day.
    EXPECT_EQ(r->lines[0].points[n - 1].value, last.bars.back().close);
    EXPECT_EQ(r->lines[1].points[n - 1].value, last.bars.back().close);
    EXPECT_EQ(r->lines[2].points[n - 1].value, last.bars.back().close);
}

TEST_F(EvaluatorOverStore, QuoteFieldsAndFinanceComeFromTheStoreRecord) {
    auto record = std::make_unique<StockRecord>();
    ASSERT_TRUE(store->GetRecord(stock.id, *record));
    int decimals = store->GetDecimals(stock.id.market, stock.securityClass);
    QuoteCell last = ComputeQuoteField(kFieldLast, *record, decimals);
    QuoteCell total = ComputeQuoteField(kFieldFinance1, *record, decimals);
    auto r = Run("A:DYNAREPORT(4); B:FINANCE(1); D:DYNAREPORT(99);");
    ASSERT_NE(r, nullptr);
    EXPECT_FLOAT_EQ(r->lines[0].points[0].value, static_cast<float>(last.present ? last.value : 0));
    EXPECT_FLOAT_EQ(r->lines[1].points[0].value, static_cast<float>(total.present ? total.value : 0));
    EXPECT_EQ(r->lines[2].validCount(), 0);  // no such item

    CodeEntry unknown = Security("SH699999");
    EXPECT_FALSE(data->QuoteFieldValue(unknown, kFieldLast).has_value());
    EXPECT_FALSE(data->QuoteFieldValue(stock, kQuoteFieldCount).has_value());
    FinanceBlock fin;
    EXPECT_TRUE(data->LoadFinance(stock, fin));
    EXPECT_FALSE(data->LoadFinance(unknown, fin));
    EXPECT_EQ(data->CurrentMarketTime(), store->CurrentTradingDate());
    EXPECT_FALSE(data->CategoryIndex(stock, Utf8ToGbk("行业")).has_value()) << "no block set given";
}

TEST_F(EvaluatorOverStore, MarketTimeFollowsTheStoreAfterTheRefreshInterval) {
    const StoreTime before = data->CurrentMarketTime();
    ASSERT_EQ(before, store->CurrentTradingDate());
    QuoteUpdate update;
    update.entry = stock;
    update.snapshot.bar.time = StartOfDay(before) + 7 * kSecondsPerDay + 10 * 3600;
    update.snapshot.bar.open = update.snapshot.bar.high = update.snapshot.bar.low = update.snapshot.bar.close = 10;
    store->UpdateQuote(update);
    ASSERT_NE(store->CurrentTradingDate(), before);
    std::this_thread::sleep_for(std::chrono::milliseconds(StoreEvalData::kMarketTimeRefreshMs + 20));
    EXPECT_EQ(data->CurrentMarketTime(), store->CurrentTradingDate());
}

TEST_F(EvaluatorOverStore, UnknownSecurityHasNoResult) {
    FormulaRecord f = MakeFormula(set, "T", "A:C;");
    EXPECT_EQ(Evaluate(set, *data, f, Security("SH699999"), nullptr, kPeriodDay), nullptr);
}

}  // namespace
}  // namespace tessaro
