// The generated demo market as an oracle for the series loader: its files must agree
// with each other (minutes add up to their days), respect the price limits, and carry
// ex-rights gaps that the forward adjustment closes.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <map>
#include <memory>
#include <set>

#include "market/base_files.h"
#include "market/demo_market.h"
#include "market/security_registry.h"
#include "market/series_loader.h"
#include "platform/files.h"
#include "platform/text.h"
#include "test_support/temp_dir.h"

namespace tessaro {
namespace {

constexpr uint32_t Hm(int h, int m) { return static_cast<uint32_t>(h * 3600 + m * 60); }

// One generated market shared by the tests of this file, with its store loaded the
// way the client loads it.
struct GeneratedMarket {
    TempDir dir;
    DemoMarketOptions options;
    DemoMarketSummary summary;
    SettingsStore settings;
    std::unique_ptr<AppPaths> paths;
    std::unique_ptr<MarketStore> store;
    std::vector<DemoSecurity> securities;
    std::string error;

    GeneratedMarket() {
        options.outDir = dir.path();
        options.securities = 40;
        options.days = 300;
        options.seed = 7;
        if (!GenerateDemoMarket(options, &summary, &error)) return;
        paths = std::make_unique<AppPaths>(dir.path());
        store = std::make_unique<MarketStore>(*paths, settings);
        AppPaths p = *paths;
        store->SetBaseFileLoader([p](MarketStore& s) { LoadBaseFiles(s, p); });
        if (!store->LoadAll(&error)) store.reset();
        securities = DemoSecurities(options.securities);
    }
    StoreSeriesSource source() const { return StoreSeriesSource(*store, *paths); }
    Series History(const SecurityId& id, Period period) const {
        Series s;
        EXPECT_TRUE(LoadHistory(*paths, id, period, s));
        return s;
    }
};

class DemoMarketTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { market_ = new GeneratedMarket(); }
    static void TearDownTestSuite() {
        delete market_;
        market_ = nullptr;
    }
    void SetUp() override { ASSERT_TRUE(market_->store) << market_->error; }
    static GeneratedMarket* market_;
};
GeneratedMarket* DemoMarketTest::market_ = nullptr;

bool Near(double a, double b, double relative) { return std::fabs(a - b) <= relative * std::max(1.0, std::fabs(b)); }

TEST(DemoSecuritiesTest, EveryClassAndCodeRangeOfBothExchanges) {
    std::vector<DemoSecurity> list = DemoSecurities(40);
    ASSERT_EQ(list.size(), 40u);
    std::set<std::string> codes, prefixes;
    std::map<uint16_t, int> classes;
    for (const DemoSecurity& s : list) {
        std::string text = SecurityText(s.id);
        EXPECT_TRUE(codes.insert(text).second) << "repeated " << text;
        EXPECT_EQ(s.id.codeText().size(), 6u) << text;
        EXPECT_EQ(ClassifyCode(s.id.codeText(), s.id.market), s.securityClass) << text;
        std::string name = GbkToUtf8(s.nameGbk);
        EXPECT_FALSE(name.empty()) << text;
        EXPECT_GE(s.nameGbk.size(), 4u) << text;  // at least two double-byte characters
        EXPECT_GT(s.basePrice, 0.0f) << text;
        ++classes[s.securityClass];
        if (s.securityClass == kClassAShare) prefixes.insert(text.substr(0, 5));
    }
    EXPECT_TRUE(codes.count("SH000001") && codes.count("SZ399001"));
    for (uint16_t cls : {kClassIndex, kClassAShare, kClassBShare, kClassFund, kClassBond, kClassWarrant})
        EXPECT_GE(classes[cls], 2) << "class " << cls;
    for (const char* prefix : {"SH600", "SH601", "SZ000", "SZ002", "SZ300"})
        EXPECT_TRUE(prefixes.count(prefix)) << prefix;
    // The two exchange indexes come first even in the smallest market.
    std::vector<DemoSecurity> two = DemoSecurities(2);
    ASSERT_EQ(two.size(), 2u);
    EXPECT_EQ(SecurityText(two[0].id), "SH000001");
    EXPECT_EQ(SecurityText(two[1].id), "SZ399001");
}

TEST(DemoSecuritiesTest, LargeMarketsGetTheAskedCountWithDistinctNames) {
    for (int count : {10, 41, 5000, 8000}) {
        std::vector<DemoSecurity> list = DemoSecurities(count);
        EXPECT_EQ(list.size(), static_cast<size_t>(count));
        std::set<std::string> codes, shareNames;
        std::map<MarketCode, int> perMarket;
        for (const DemoSecurity& s : list) {
            ++perMarket[s.id.market];
            EXPECT_TRUE(codes.insert(SecurityText(s.id)).second) << SecurityText(s.id);
            EXPECT_LE(s.nameGbk.size(), 31u);  // fits the name field
            if (s.securityClass == kClassAShare) {
                EXPECT_TRUE(shareNames.insert(s.nameGbk).second) << GbkToUtf8(s.nameGbk);
            }
        }
        // Each exchange's market file holds at most 4096 securities.
        EXPECT_LE(perMarket[kMarketSH], 4096) << count;
        EXPECT_LE(perMarket[kMarketSZ], 4096) << count;
    }
}

TEST(DemoSecuritiesTest, TradingCalendarSkipsWeekendsAndHolidays) {
    EXPECT_TRUE(IsDemoHoliday({2025, 1, 1}));
    EXPECT_TRUE(IsDemoHoliday({2025, 1, 28}));   // the eve of the Spring Festival
    EXPECT_TRUE(IsDemoHoliday({2025, 2, 3}));    // its last day
    EXPECT_FALSE(IsDemoHoliday({2025, 2, 4}));
    EXPECT_TRUE(IsDemoHoliday({2024, 10, 7}));
    EXPECT_FALSE(IsDemoTradingDay({2025, 6, 14}));  // a Saturday
    EXPECT_TRUE(IsDemoTradingDay({2025, 6, 13}));
    // From a Sunday: the Friday before, and the trading days before it.
    std::vector<StoreTime> days = DemoTradingDays({2025, 6, 15}, 6);
    ASSERT_EQ(days.size(), 7u);
    EXPECT_EQ(days.back(), MakeStoreTime(2025, 6, 13));
    EXPECT_EQ(days.front(), MakeStoreTime(2025, 6, 5));
    for (StoreTime d : days) EXPECT_TRUE(IsDemoTradingDay(CivilFromDay(static_cast<int32_t>(StoreDay(d)))));
    // Across the October holidays: 30 Sep, then 8 Oct.
    std::vector<StoreTime> october = DemoTradingDays({2024, 10, 8}, 1);
    ASSERT_EQ(october.size(), 2u);
    EXPECT_EQ(october[0], MakeStoreTime(2024, 9, 30));
}

TEST_F(DemoMarketTest, EverySecurityHasHistoryAndATradingDayInProgress) {
    const GeneratedMarket& m = *market_;
    EXPECT_EQ(m.summary.securities, 41);  // and the composite index
    EXPECT_EQ(m.summary.today, MakeStoreTime(2025, 6, 13));
    EXPECT_GT(m.summary.exRightsEvents, 0);
    std::vector<DemoSecurity> all = m.securities;
    DemoSecurity composite;
    composite.id = MakeSecurityId(kMarketSystem, "999999");
    all.push_back(composite);
    for (const DemoSecurity& s : all) {
        SCOPED_TRACE(SecurityText(s.id));
        auto record = std::make_unique<StockRecord>();
        ASSERT_TRUE(m.store->GetRecord(s.id, *record));
        const QuoteSnapshot& q = record->quote;
        EXPECT_EQ(q.bar.time, m.summary.today + Hm(13, 45));
        Series days = m.History(s.id, kPeriodDay);
        ASSERT_EQ(days.size(), 300u);
        EXPECT_LT(days.bars.back().time, m.summary.today);
        EXPECT_FLOAT_EQ(q.prevClose, days.bars.back().close);
        EXPECT_TRUE(q.bar.low <= q.bar.close && q.bar.close <= q.bar.high);
        EXPECT_TRUE(q.bar.low <= q.bar.open && q.bar.open <= q.bar.high);
        // Today's minutes and ticks add up to the snapshot's volume.
        Series minutes, ticks;
        ASSERT_TRUE(m.store->GetMinutes(s.id, minutes));
        ASSERT_TRUE(m.store->GetTicks(s.id, ticks));
        ASSERT_FALSE(minutes.empty());
        ASSERT_FALSE(ticks.empty());
        double volume = 0;
        for (const KLineRecord& b : minutes.bars) volume += b.volume;
        EXPECT_TRUE(Near(volume, q.bar.volume, 1e-6)) << volume << " vs " << q.bar.volume;
        EXPECT_FLOAT_EQ(ticks.bars.back().volume, q.bar.volume);
        EXPECT_LE(TimeOfDay(ticks.bars.back().time), Hm(13, 45));
        if (s.securityClass != kClassIndex && s.id.market != kMarketSystem) {
            EXPECT_LT(q.book.bidPrice[0], q.book.askPrice[0]);
            EXPECT_GT(q.capital.circulating, 0.0f);
            EXPECT_GE(q.capital.total, q.capital.circulating);
            EXPECT_GT(record->finance.figures[0], 0.0f);  // 总股本
        }
    }
}

TEST_F(DemoMarketTest, MinutesAndFiveMinuteBarsAddUpToTheirDays) {
    const GeneratedMarket& m = *market_;
    for (const DemoSecurity& s : m.securities) {
        SCOPED_TRACE(SecurityText(s.id));
        Series days = m.History(s.id, kPeriodDay), fives = m.History(s.id, kPeriodMin5),
               ones = m.History(s.id, kPeriodMin1);
        ASSERT_EQ(fives.size(), 20u * 48);  // four weeks of five-minute bars
        ASSERT_EQ(ones.size(), 5u * 240);   // one week of minutes
        std::map<uint32_t, size_t> dayIndex;
        for (size_t i = 0; i < days.size(); ++i) dayIndex[StoreDay(days.bars[i].time)] = i;
        auto check = [&](const Series& bars, Period period, size_t perDay) {
            for (size_t first = 0; first < bars.size(); first += perDay) {
                uint32_t day = StoreDay(bars.bars[first].time);
                ASSERT_TRUE(dayIndex.count(day));
                const KLineRecord& d = days.bars[dayIndex[day]];
                float high = 0, low = 1e30f;
                double volume = 0, amount = 0;
                for (size_t k = 0; k < perDay; ++k) {
                    const KLineRecord& b = bars.bars[first + k];
                    ASSERT_EQ(StoreDay(b.time), day);
                    ASSERT_EQ(TimeOfDay(b.time), BarSlotLabel(period, static_cast<int>(k)));
                    ASSERT_TRUE(b.low <= b.open && b.open <= b.high && b.low <= b.close && b.close <= b.high);
                    high = std::max(high, float{b.high});
                    low = std::min(low, float{b.low});
                    volume += b.volume;
                    amount += b.amount;
                }
                EXPECT_FLOAT_EQ(bars.bars[first].open, d.open);
                EXPECT_FLOAT_EQ(bars.bars[first + perDay - 1].close, d.close);
                EXPECT_FLOAT_EQ(high, d.high);
                EXPECT_FLOAT_EQ(low, d.low);
                EXPECT_FLOAT_EQ(static_cast<float>(volume), d.volume);
                EXPECT_FLOAT_EQ(static_cast<float>(amount), d.amount);
            }
        };
        check(ones, kPeriodMin1, 240);
        check(fives, kPeriodMin5, 48);
        // The newest stored minutes are of yesterday.
        EXPECT_EQ(StoreDay(ones.bars.back().time), StoreDay(days.bars.back().time));
        EXPECT_EQ(StoreDay(fives.bars.back().time), StoreDay(days.bars.back().time));
    }
}

TEST_F(DemoMarketTest, PriceLimitsHoldAndForwardAdjustmentClosesTheExRightsGaps) {
    const GeneratedMarket& m = *market_;
    StoreSeriesSource source = m.source();
    int exDatesSeen = 0, realGaps = 0;
    for (const DemoSecurity& s : m.securities) {
        SCOPED_TRACE(SecurityText(s.id));
        Series raw, fwd;
        ASSERT_TRUE(LoadSeries(source, s.id, kPeriodDay, raw, kExRightsNone));
        ASSERT_TRUE(LoadSeries(source, s.id, kPeriodDay, fwd, 0));
        ASSERT_EQ(raw.size(), 301u);  // 300 stored days and today
        ASSERT_EQ(fwd.size(), raw.size());
        std::set<uint32_t> exDays;
        for (const ExRightsRecord& r : fwd.exRights) exDays.insert(ExRightsDay(r));
        if (s.securityClass == kClassAShare || s.securityClass == kClassBShare) {
            EXPECT_FALSE(exDays.empty());
        } else {
            EXPECT_TRUE(exDays.empty());
        }
        for (size_t i = 1; i < raw.size(); ++i) {
            const bool exDate = exDays.count(StoreDay(raw.bars[i].time)) > 0;
            if (!exDate) {
                // ±10% of the previous close, the high and the low included.
                double prev = raw.bars[i - 1].close;
                EXPECT_LE(raw.bars[i].high, prev * 1.1 + 1e-4) << i;
                EXPECT_GE(raw.bars[i].low, prev * 0.9 - 1e-4) << i;
            } else {
                ++exDatesSeen;
                if (std::fabs(raw.bars[i].open / raw.bars[i - 1].close - 1) > 0.15) ++realGaps;
            }
            // Forward adjusted, every day (an ex-date too) moves within the limits, give or
            // take the rounding of the adjusted reference and later dividends.
            double prev = fwd.bars[i - 1].close;
            EXPECT_LE(fwd.bars[i].high, prev * 1.12) << i << (exDate ? " (ex-date)" : "");
            EXPECT_GE(fwd.bars[i].low, prev * 0.88) << i << (exDate ? " (ex-date)" : "");
        }
        // The newest bar is in today's terms in both.
        EXPECT_FLOAT_EQ(fwd.bars.back().close, raw.bars.back().close);
    }
    EXPECT_GT(exDatesSeen, 10);
    EXPECT_GT(realGaps, 0) << "no ex-date with a gap the adjustment must close";
}

TEST_F(DemoMarketTest, WeekAndMonthBarsAreTheSumsHighsAndLowsOfTheirDays) {
    const GeneratedMarket& m = *market_;
    StoreSeriesSource source = m.source();
    for (const char* text : {"SH600000", "SZ000001", "SH000001"}) {
        SCOPED_TRACE(text);
        SecurityId id;
        ASSERT_TRUE(ParseSecurityText(text, id));
        Series day, week, month;
        ASSERT_TRUE(LoadSeries(source, id, kPeriodDay, day, 0));
        ASSERT_TRUE(LoadSeries(source, id, kPeriodWeek, week, 0));
        ASSERT_TRUE(LoadSeries(source, id, kPeriodMonth, month, 0));
        // Buckets worked out from the calendar: the Monday of each day, its year and month.
        std::map<int64_t, std::vector<size_t>> weeks, months;
        for (size_t i = 0; i < day.size(); ++i) {
            int32_t d = static_cast<int32_t>(StoreDay(day.bars[i].time));
            weeks[d - (WeekdayOfDay(d) + 6) % 7].push_back(i);
            CivilDate c = CivilFromDay(d);
            months[c.year * 12 + c.month].push_back(i);
        }
        for (auto [grouped, buckets] : {std::pair{&week, &weeks}, std::pair{&month, &months}}) {
            ASSERT_EQ(grouped->size(), buckets->size());
            size_t k = 0;
            for (const auto& [key, members] : *buckets) {
                const KLineRecord& b = grouped->bars[k++];
                float high = 0, low = 1e30f, volume = 0, amount = 0;
                for (size_t i : members) {
                    high = std::max(high, float{day.bars[i].high});
                    low = std::min(low, float{day.bars[i].low});
                    volume += day.bars[i].volume;
                    amount += day.bars[i].amount;
                }
                EXPECT_EQ(b.time, day.bars[members.back()].time);
                EXPECT_FLOAT_EQ(b.open, day.bars[members.front()].open);
                EXPECT_FLOAT_EQ(b.close, day.bars[members.back()].close);
                EXPECT_FLOAT_EQ(b.high, high);
                EXPECT_FLOAT_EQ(b.low, low);
                EXPECT_FLOAT_EQ(b.volume, volume);
                EXPECT_FLOAT_EQ(b.amount, amount);
            }
        }
        // Today's bar closes the last week and the last month.
        EXPECT_EQ(week.bars.back().time, m.summary.today + Hm(13, 45));
        EXPECT_EQ(month.bars.back().time, m.summary.today + Hm(13, 45));
    }
}

TEST_F(DemoMarketTest, IntradaySeriesContinueTheFilesWithTodaysMinutes) {
    const GeneratedMarket& m = *market_;
    StoreSeriesSource source = m.source();
    SecurityId id = MakeSecurityId(kMarketSH, "600000");
    auto quote = m.store->GetQuote(id);
    ASSERT_TRUE(quote);
    const StoreTime today = m.summary.today;

    // Five-minute bars: four stored weeks, then today's up to the one labelled 13:45.
    Series five;
    ASSERT_TRUE(LoadSeries(source, id, kPeriodMin5, five, kExRightsNone));
    ASSERT_EQ(five.size(), 20u * 48 + 24 + 9);
    EXPECT_EQ(five.bars.back().time, today + Hm(13, 45));
    double volume = 0;
    for (size_t i = 20 * 48; i < five.size(); ++i) volume += five.bars[i].volume;
    EXPECT_TRUE(Near(volume, quote->bar.volume, 1e-6));
    EXPECT_FLOAT_EQ(five.bars[20 * 48].open, quote->bar.open);

    // Sixty-minute bars: 10:30, 11:30, 14:00 a day; today's last one still open.
    Series sixty;
    ASSERT_TRUE(LoadSeries(source, id, kPeriodMin60, sixty, kExRightsNone));
    ASSERT_EQ(sixty.size(), 20u * 4 + 3);
    EXPECT_EQ(sixty.bars.back().time, today + Hm(14, 0));
    EXPECT_EQ(BarDistance(sixty.bars.back().time, sixty.bars[sixty.size() - 4].time, kPeriodMin60), 3);

    // The time-sharing chart over three days: two stored days of 240 minutes and today's
    // minutes from the bar labelled 09:30.
    int days = 3;
    Series time;
    ASSERT_TRUE(LoadSeries(source, id, kPeriodTime, time, 0, &days));
    EXPECT_EQ(days, 3);
    ASSERT_EQ(time.size(), 2u * 240 + 121 + 45);
    EXPECT_EQ(time.bars[480].time, today + Hm(9, 30));
    EXPECT_EQ(time.bars.back().time, today + Hm(13, 45));
    volume = 0;
    for (size_t i = 480; i < time.size(); ++i) volume += time.bars[i].volume;
    EXPECT_TRUE(Near(volume, quote->bar.volume, 1e-6));
}

TEST_F(DemoMarketTest, BaseFilesDescribeWhatTheStoreHolds) {
    const GeneratedMarket& m = *market_;
    auto power = ReadWholeFile(m.paths->powerFile());
    auto finance = ReadWholeFile(m.paths->financeFile());
    auto capital = ReadWholeFile(m.paths->capitalChangeFile());
    ASSERT_TRUE(power && finance && capital);
    PowerFile p = ParsePowerFile(*power);
    FinanceFile f = ParseFinanceFile(*finance);
    CapitalChangeFile c = ParseCapitalChangeFile(*capital);
    ASSERT_TRUE(p.valid && !p.truncated);
    ASSERT_TRUE(f.valid && !f.truncated);
    ASSERT_TRUE(c.valid);
    EXPECT_EQ(p.skippedRecords, 0);
    EXPECT_NE(m.store->BaseFileChecksum(BaseFile::Power), 0u);
    EXPECT_NE(m.store->BaseFileChecksum(BaseFile::Finance), 0u);
    EXPECT_NE(m.store->BaseFileChecksum(BaseFile::CapitalChanges), 0u);
    size_t events = 0;
    for (const DemoSecurity& s : m.securities) {
        SCOPED_TRACE(SecurityText(s.id));
        std::vector<ExRightsRecord> stored = m.store->GetExRights(s.id);
        auto it = p.exRights.find(s.id);
        if (stored.empty()) {
            EXPECT_TRUE(it == p.exRights.end());
        } else {
            ASSERT_TRUE(it != p.exRights.end());
            ASSERT_EQ(it->second.size(), stored.size());
            for (size_t i = 0; i < stored.size(); ++i) EXPECT_EQ(it->second[i].exDate, stored[i].exDate);
            events += stored.size();
        }
        if (s.securityClass == kClassIndex) continue;
        ASSERT_TRUE(f.finance.count(s.id));
        ASSERT_TRUE(c.changes.count(s.id));
        // The capital in force is the newest change, also in the finance figures (万股).
        const CapitalChange& newest = c.changes.at(s.id).back();
        auto quote = m.store->GetQuote(s.id);
        ASSERT_TRUE(quote);
        EXPECT_FLOAT_EQ(quote->capital.total, newest.total);
        EXPECT_TRUE(Near(f.finance.at(s.id).figures[0] * 100.0, newest.total, 1e-5));
        EXPECT_EQ(m.store->GetCapitalChanges(s.id).size(), c.changes.at(s.id).size());
        // Bonus and rights shares raise the share capital on their ex-date by their factor.
        const std::vector<CapitalChange>& changes = c.changes.at(s.id);
        for (const ExRightsRecord& r : stored) {
            double factor = 1.0 + r.bonusShares + r.rightsShares;
            if (factor == 1.0) continue;
            size_t k = 1;
            while (k < changes.size() && StoreDay(changes[k].day) != ExRightsDay(r)) ++k;
            ASSERT_LT(k, changes.size()) << "no capital change on an ex-date";
            EXPECT_TRUE(Near(changes[k].total, changes[k - 1].total * factor, 1e-3));
        }
    }
    EXPECT_EQ(static_cast<int>(events), m.summary.exRightsEvents);
    PolyphonicTable table;
    ASSERT_TRUE(table.Load(m.paths->polyphonicFile()));
    EXPECT_GE(table.size(), 10u);
    std::string gbk = Utf8ToGbk("长");
    const PolyphonicRecord* record = table.Find(static_cast<uint8_t>(gbk[0]), static_cast<uint8_t>(gbk[1]));
    ASSERT_NE(record, nullptr);
}

// Every file of a directory tree, relative path to contents.
std::map<std::string, std::vector<uint8_t>> Files(const std::string& root) {
    std::map<std::string, std::vector<uint8_t>> out;
    for (const auto& e : std::filesystem::recursive_directory_iterator(root))
        if (e.is_regular_file()) out[std::filesystem::relative(e.path(), root).string()] = *ReadWholeFile(e.path());
    return out;
}

TEST(DemoMarketGenerationTest, SameSeedGivesTheSameMarketAndBadOptionsFail) {
    TempDir a, b;
    DemoMarketOptions options;
    options.securities = 4;
    options.days = 30;
    options.fiveMinuteDays = 2;
    options.oneMinuteDays = 1;
    options.seed = 99;
    options.outDir = a.path();
    ASSERT_TRUE(GenerateDemoMarket(options));
    options.outDir = b.path();
    ASSERT_TRUE(GenerateDemoMarket(options));
    auto fa = Files(a.path()), fb = Files(b.path());
    ASSERT_EQ(fa.size(), fb.size());
    for (const auto& [name, bytes] : fa) {
        ASSERT_TRUE(fb.count(name)) << name;
        EXPECT_TRUE(bytes == fb[name]) << name << " differs between two runs with one seed";
    }
    EXPECT_TRUE(fa.count("data/sh/day/000001.day") && fa.count("base/duoyin.ini"));
    // Another seed walks other prices.
    KLineRecord day;
    day.open = day.close = 10, day.high = 10.5f, day.low = 9.5f;
    day.volume = 24000;
    EXPECT_NE(DemoMinutes(1, MakeStoreTime(2025, 6, 13), day, 2, 100)[100].close,
              DemoMinutes(2, MakeStoreTime(2025, 6, 13), day, 2, 100)[100].close);

    std::string error;
    options.outDir = "";
    EXPECT_FALSE(GenerateDemoMarket(options, nullptr, &error));
    options.outDir = a.path() + "/x";
    options.securities = 1;
    EXPECT_FALSE(GenerateDemoMarket(options, nullptr, &error));
    options.securities = 4;
    options.days = 0;
    EXPECT_FALSE(GenerateDemoMarket(options, nullptr, &error));
    EXPECT_FALSE(error.empty());
    // An output path below a plain file cannot be made.
    ASSERT_TRUE(WriteFileAtomic(a.path() + "/plain", std::string_view("x")));
    options.days = 30;
    options.outDir = a.path() + "/plain/app";
    error.clear();
    EXPECT_FALSE(GenerateDemoMarket(options, nullptr, &error));
    EXPECT_FALSE(error.empty());
}

}  // namespace
}  // namespace tessaro
