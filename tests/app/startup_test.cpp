// The start-up sequence: stage order and texts, loaders under their locks,
// failures that go on and failures that stop.
#include "app/startup.h"

#include <gtest/gtest.h>

#include <mutex>
#include <shared_mutex>
#include <stdexcept>
#include <thread>

namespace tessaro {
namespace {

TEST(StartupSequence, ShowsEveryStageTextInOrder) {
    StartupSequence seq;
    std::vector<std::string> texts;
    seq.setProgress([&](StartupStage, std::string_view text) { texts.emplace_back(text); });
    auto report = seq.run();
    EXPECT_TRUE(report.ok);
    EXPECT_TRUE(report.failed.empty());
    const std::vector<std::string> expected = {"程序正在启动...", "加载公式平台...", "加载系统配置...",
                                               "加载行情数据...", "加载板块数据...", "加载预警平台...",
                                               "加载完成!"};
    EXPECT_EQ(texts, expected);
}

TEST(StartupSequence, LoadersRunInStageOrderAfterTheirText) {
    StartupSequence seq;
    std::vector<std::string> log;
    seq.setProgress([&](StartupStage, std::string_view text) { log.emplace_back(text); });
    // Added out of order: the stage decides, then the order of adding.
    seq.add(StartupStage::Alarms, "alarms", [&] { return log.emplace_back("alarms"), true; });
    seq.add(StartupStage::Markets, "SH", [&] { return log.emplace_back("SH"), true; });
    seq.add(StartupStage::Formulas, "formulas", [&] { return log.emplace_back("formulas"), true; });
    seq.add(StartupStage::Markets, "SZ", [&] { return log.emplace_back("SZ"), true; });
    seq.add(StartupStage::Settings, "settings", [&] { return log.emplace_back("settings"), true; });
    seq.run();
    const std::vector<std::string> expected = {
        "程序正在启动...", "加载公式平台...", "formulas", "加载系统配置...", "settings", "加载行情数据...",
        "SH", "SZ", "加载板块数据...", "加载预警平台...", "alarms", "加载完成!"};
    EXPECT_EQ(log, expected);
}

TEST(StartupSequence, EachLoaderHoldsItsLockOnlyWhileItRuns) {
    std::mutex formulaLock;
    std::shared_mutex marketLock;
    StartupSequence seq;
    bool heldInside = false, freeBetween = false, freeAfterwards = false;
    // Asked from another thread: a thread may not try a mutex it holds.
    auto freeElsewhere = [](auto& lock) {
        bool free = false;
        std::thread t([&] {
            free = lock.try_lock();
            if (free) lock.unlock();
        });
        t.join();
        return free;
    };
    seq.addLocked(StartupStage::Formulas, "formulas", formulaLock, [&] {
        heldInside = !freeElsewhere(formulaLock);
        return true;
    });
    seq.addLocked(StartupStage::Markets, "market", marketLock, [&] {
        // Another thread cannot read the market while it loads.
        bool blocked = false;
        std::thread t([&] {
            blocked = !marketLock.try_lock_shared();
            if (!blocked) marketLock.unlock_shared();
        });
        t.join();
        return blocked;
    });
    seq.add(StartupStage::Markets, "between", [&] {
        freeBetween = freeElsewhere(formulaLock) && freeElsewhere(marketLock);
        return true;
    });
    auto report = seq.run();
    freeAfterwards = freeElsewhere(formulaLock) && freeElsewhere(marketLock);
    EXPECT_TRUE(report.ok);
    EXPECT_TRUE(report.failed.empty()) << report.failed.front();
    EXPECT_TRUE(heldInside);
    EXPECT_TRUE(freeBetween);
    EXPECT_TRUE(freeAfterwards);
}

TEST(StartupSequence, FailedOrThrowingLoadersAreReportedAndStartUpGoesOn) {
    std::mutex lock;
    StartupSequence seq;
    bool alarmsRan = false;
    seq.add(StartupStage::Formulas, "formulas", [] { return false; });
    seq.addLocked(StartupStage::Markets, "markets", lock, []() -> bool { throw std::runtime_error("bad file"); });
    seq.add(StartupStage::Blocks, "blocks", [] { throw 42; return true; });
    seq.add(StartupStage::Blocks, "empty", StartupSequence::Loader{});
    seq.add(StartupStage::Alarms, "alarms", [&] { return alarmsRan = true; });
    auto report = seq.run();
    EXPECT_TRUE(report.ok);
    EXPECT_TRUE(alarmsRan);
    EXPECT_EQ(report.failed, (std::vector<std::string>{"formulas", "markets", "blocks", "empty"}));
    EXPECT_EQ(report.shown.back(), StartupStage::Done);
    // The throwing loader released its lock.
    EXPECT_TRUE(lock.try_lock());
    lock.unlock();
}

TEST(StartupSequence, RequiredLoaderFailureStopsBeforeDone) {
    StartupSequence seq;
    bool laterRan = false;
    seq.add(StartupStage::Settings, "settings", [] { return false; }, /*required=*/true);
    seq.add(StartupStage::Markets, "markets", [&] { return laterRan = true; });
    auto report = seq.run();
    EXPECT_FALSE(report.ok);
    EXPECT_FALSE(laterRan);
    EXPECT_EQ(report.failed, std::vector<std::string>{"settings"});
    EXPECT_EQ(report.shown.back(), StartupStage::Settings);
}

}  // namespace
}  // namespace tessaro
