// A loader racing writers on one history file: every load must be a sorted run of
// whole, untorn bars, whatever mixture of appends and rewrites the writer does.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "market/history.h"
#include "test_support/temp_dir.h"

namespace tessaro {
namespace {

constexpr StoreTime kFirstDay = 44000u * 86400u;

// Each field is derived from the time and a version, so a bar made of two
// different writes (a torn read) cannot pass CheckBar.
KLineRecord MakeBar(StoreTime time, uint16_t version) {
    KLineRecord b;
    b.time = time;
    float base = static_cast<float>(StoreDay(time) - StoreDay(kFirstDay) + 1);
    b.open = base;
    b.high = base + version;
    b.low = base - 0.5f;
    b.close = base + 0.25f * version;
    b.volume = base * 10;
    b.amount = static_cast<float>(version);
    b.count1 = version;
    b.count2 = static_cast<uint16_t>(StoreDay(time) & 0xFFFF);
    return b;
}

bool CheckBar(const KLineRecord& b) {
    if (b.time % 86400 != 0 || b.time < kFirstDay) return false;
    uint16_t version = b.count1;
    KLineRecord expect = MakeBar(b.time, version);
    return b.open == expect.open && b.high == expect.high && b.low == expect.low && b.close == expect.close &&
           b.volume == expect.volume && b.amount == expect.amount && b.count2 == expect.count2;
}

TEST(HistoryRaceTest, LoadsDuringWritesSeeWholeSortedBars) {
    TempDir dir;
    std::string path = dir.path() + "/race.day";
    std::vector<KLineRecord> seed;
    for (int d = 0; d < 200; d += 2) seed.push_back(MakeBar(kFirstDay + 86400u * d, 0));
    ASSERT_TRUE(WriteHistoryFile(path, kPeriodDay, seed, false));

    std::atomic<bool> done{false};
    std::atomic<int> writeFailures{0};
    std::thread writer([&] {
        int nextDay = 200;
        for (uint16_t round = 1; round <= 300; ++round) {
            std::vector<KLineRecord> bars;
            switch (round % 4) {
            case 0:  // append a later day in place
                bars.push_back(MakeBar(kFirstDay + 86400u * nextDay++, round));
                break;
            case 1:  // top up the last day (rewrite)
                bars.push_back(MakeBar(kFirstDay + 86400u * (nextDay - 1), round));
                break;
            case 2:  // fill an old odd day (rewrite with insertion)
                bars.push_back(MakeBar(kFirstDay + 86400u * ((round * 7) % 200 | 1), round));
                break;
            default:  // several days at once, reaching back
                for (int k = 0; k < 5; ++k) bars.push_back(MakeBar(kFirstDay + 86400u * (nextDay - 3 + k), round));
                nextDay += 2;
                break;
            }
            if (!WriteHistoryFile(path, kPeriodDay, bars, false)) ++writeFailures;
        }
        done = true;
    });

    int loads = 0;
    size_t lastSize = 0;
    bool shrank = false;
    while (!done || loads < 50) {
        Series s;
        ASSERT_TRUE(LoadHistoryFile(path, kPeriodDay, s));
        ASSERT_GE(s.size(), seed.size());
        for (size_t i = 0; i < s.size(); ++i) {
            ASSERT_TRUE(CheckBar(s.bars[i])) << "torn bar " << i << " of load " << loads;
            if (i > 0) {
                ASSERT_LT(s.bars[i - 1].time, s.bars[i].time) << "order at " << i;
            }
        }
        // Bars are only ever added or replaced, so a later load never has fewer.
        if (s.size() < lastSize) shrank = true;
        lastSize = s.size();
        ++loads;
    }
    writer.join();
    EXPECT_EQ(writeFailures, 0);
    EXPECT_FALSE(shrank);
    EXPECT_GE(loads, 50);
}

TEST(HistoryRaceTest, ConcurrentWritersOfOneFileLoseNothing) {
    TempDir dir;
    std::string path = dir.path() + "/w.day";
    constexpr int kThreads = 4, kPerThread = 40;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kPerThread; ++i) {
                // Interleaved days: every write lands inside or at the end of the others' bars.
                int day = i * kThreads + t;
                EXPECT_TRUE(WriteHistoryFile(path, kPeriodDay, std::vector{MakeBar(kFirstDay + 86400u * day, 1)}, false));
            }
        });
    }
    for (auto& th : threads) th.join();
    Series s;
    ASSERT_TRUE(LoadHistoryFile(path, kPeriodDay, s));
    ASSERT_EQ(s.size(), static_cast<size_t>(kThreads * kPerThread));
    for (size_t i = 0; i < s.size(); ++i) EXPECT_EQ(s.bars[i].time, kFirstDay + 86400u * i);
}

}  // namespace
}  // namespace tessaro
