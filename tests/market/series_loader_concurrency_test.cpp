// LoadSeries on worker threads (as screening runs it) while the user-interface thread
// stores quotes, minutes, ex-rights lists and history: every load succeeds and is a
// consistent series.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <memory>
#include <thread>
#include <vector>

#include "market/base_files.h"
#include "market/demo_market.h"
#include "market/series_loader.h"
#include "test_support/temp_dir.h"

namespace tessaro {
namespace {

// What must hold for any load, whatever a writer did meanwhile.
void CheckSeries(const Series& s, Period period, const std::string& what) {
    ASSERT_EQ(s.orderBooks.size(), s.size()) << what;
    ASSERT_EQ(s.trades.size(), s.size()) << what;
    ASSERT_EQ(s.capital.size(), s.size()) << what;
    for (size_t i = 0; i < s.size(); ++i) {
        const KLineRecord& b = s.bars[i];
        if (i > 0) {
            if (period == kPeriodTick) {
                ASSERT_LE(s.bars[i - 1].time, b.time) << what << " bar " << i;
            } else {
                ASSERT_LT(s.bars[i - 1].time, b.time) << what << " bar " << i;
            }
        }
        ASSERT_TRUE(std::isfinite(b.open) && std::isfinite(b.high) && std::isfinite(b.low) && std::isfinite(b.close))
            << what << " bar " << i;
        ASSERT_LE(b.low, b.high) << what << " bar " << i;
        ASSERT_LE(b.low, b.close * 1.0001f) << what << " bar " << i;
        ASSERT_GE(b.high, b.close * 0.9999f) << what << " bar " << i;
        ASSERT_GE(b.volume, 0.0f) << what << " bar " << i;
    }
}

TEST(SeriesLoaderConcurrencyTest, WorkersLoadWhileTheStoreAndTheFilesChange) {
    TempDir dir;
    DemoMarketOptions options;
    options.outDir = dir.path();
    options.securities = 10;
    options.days = 120;
    options.fiveMinuteDays = 5;
    options.oneMinuteDays = 2;
    ASSERT_TRUE(GenerateDemoMarket(options));
    AppPaths paths(dir.path());
    SettingsStore settings;
    MarketStore store(paths, settings);
    store.SetBaseFileLoader([paths](MarketStore& s) { LoadBaseFiles(s, paths); });
    ASSERT_TRUE(store.LoadAll());
    std::vector<DemoSecurity> securities = DemoSecurities(options.securities);
    const StoreTime today = DemoTradingDays(options.today, 0).back();

    std::atomic<bool> stop{false};
    std::atomic<int> writes{0};
    std::thread writer([&] {
        auto record = std::make_unique<StockRecord>();
        for (int round = 0; !stop; ++round) {
            for (const DemoSecurity& s : securities) {
                if (!store.GetRecord(s.id, *record)) continue;
                // A later quote of today: a new high and more volume.
                QuoteUpdate q;
                q.entry = record->entry;
                q.snapshot = record->quote;
                q.snapshot.bar.time = today + 13 * 3600 + 46 * 60 + (round % 600) / 60 * 60;
                q.snapshot.bar.close = q.snapshot.bar.high;
                q.snapshot.bar.volume += 10;
                store.UpdateQuote(q);
                MinuteSlot slot;
                slot.time = q.snapshot.bar.time;
                slot.open = slot.high = slot.low = slot.close = q.snapshot.bar.close;
                slot.volume = q.snapshot.bar.volume;
                slot.amount = q.snapshot.bar.amount;
                store.UpdateMinutes(s.id, std::span(&slot, 1));
                // The ex-rights list comes and goes; the history's last day is rewritten.
                std::vector<ExRightsRecord> events = store.GetExRights(s.id);
                if (round % 2 == 0 && !events.empty()) {
                    events.pop_back();
                } else {
                    ExRightsRecord r;
                    r.exDate = static_cast<uint32_t>(UnixFromStoreTime(today - 20 * 86400));
                    r.cashDividend = 0.01f;
                    events.push_back(r);
                }
                store.SetExRights(s.id, events);
                Series day;
                if (LoadHistory(paths, s.id, kPeriodDay, day) && !day.empty()) {
                    KLineRecord last = day.bars.back();
                    last.volume += 1;
                    WriteHistory(paths, s.id, kPeriodDay, std::span(&last, 1), false);
                }
                ++writes;
            }
        }
    });

    const Period periods[] = {kPeriodTick, kPeriodMin1, kPeriodMin5, kPeriodMin60, kPeriodDay,
                              kPeriodWeek, kPeriodMonth, kPeriodMultiDay, kPeriodTime};
    std::atomic<int> loads{0};
    std::vector<std::thread> workers;
    for (int w = 0; w < 3; ++w) {
        workers.emplace_back([&, w] {
            StoreSeriesSource source(store, paths);
            for (int round = 0; round < 4; ++round) {
                for (size_t k = 0; k < securities.size(); ++k) {
                    const DemoSecurity& s = securities[(k + static_cast<size_t>(w)) % securities.size()];
                    for (Period p : periods) {
                        Series out;
                        int days = 2;
                        const int modes[] = {0, kExRightsBackward, kExRightsNone};
                        int flags = modes[(round + w) % 3];
                        std::string what = SecurityText(s.id) + " period " + std::to_string(PeriodNumber(p));
                        ASSERT_EQ(LoadSeries(source, s.id, p, out, flags, &days), 1) << what;
                        CheckSeries(out, p, what);
                        if (p == kPeriodDay) {
                            // 120 stored days and today's bar, whatever the writer is doing.
                            ASSERT_EQ(out.size(), 121u) << what;
                            ASSERT_EQ(StoreDay(out.bars.back().time), StoreDay(today)) << what;
                        }
                        if (p == kPeriodTime) {
                            ASSERT_EQ(days, 2) << what;
                        }
                        ++loads;
                    }
                }
            }
        });
    }
    for (auto& t : workers) t.join();
    stop = true;
    writer.join();
    EXPECT_EQ(loads, 3 * 4 * 10 * 9);
    EXPECT_GT(writes, 0);
}

}  // namespace
}  // namespace tessaro
