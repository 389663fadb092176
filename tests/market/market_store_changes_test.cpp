// Market store: change notices drained by consumers at their own pace.
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <set>
#include <thread>

#include "market/market_store_fixture.h"

namespace tessaro {
namespace {

using namespace testing_store;

std::map<std::string, unsigned> ByCode(const ChangeSet& changes) {
    std::map<std::string, unsigned> out;
    for (const SecurityChange& c : changes.securities) {
        auto [it, inserted] = out.emplace(SecurityText(c.id), c.kinds);
        EXPECT_TRUE(inserted) << "listed twice: " << it->first;
    }
    return out;
}

// A quote stamped late enough in day 1 for every tick of the tests.
void Quote(MarketStore& store, const SecurityId& id, int round) {
    QuoteUpdate q = MakeQuote(id, Day1(15, 0), 10, static_cast<float>(1000 + round));
    store.UpdateQuote(q);
}

// The first quote of a day opens it, which resets its market in every feed:
// the tests watch a day already open in both exchanges.
class StoreChangesTest : public StoreTest {
protected:
    void SetUp() override {
        StoreTest::SetUp();
        Quote(Sh("600999"), Day1(9, 30), 10, 1);
        Quote(Sz("000999"), Day1(9, 30), 10, 1);
    }
};

TEST_F(StoreChangesTest, EachWriteNamesItsSecurityAndKindFoldedBetweenDrains) {
    auto feed = store_->WatchChanges();
    EXPECT_FALSE(feed->Pending());
    Quote(Sh("600000"), Day1(10, 0), 10, 1000);
    Quote(Sh("600000"), Day1(10, 1), 10.1f, 1100);  // folds into the same entry
    Quote(Sz("000001"), Day1(10, 0), 8, 500);
    const MinuteSlot minute = MakeMinute(Day1(10, 0), 10, 1000);
    ASSERT_TRUE(store_->UpdateMinutes(Sh("600000"), std::span(&minute, 1)));
    ASSERT_TRUE(store_->AppendTicks(Sz("000001"), TickRun(Day1(9, 30), 1, 3)));
    ASSERT_TRUE(store_->SetCapital(Sz("000001"), 100, 200));
    EXPECT_TRUE(feed->Pending());

    ChangeSet changes = feed->Drain();
    EXPECT_EQ(changes.marketsReset, 0u);
    auto byCode = ByCode(changes);
    ASSERT_EQ(byCode.size(), 2u);
    EXPECT_EQ(byCode["SH600000"], kChangeQuote | kChangeMinutes);
    EXPECT_EQ(byCode["SZ000001"], kChangeQuote | kChangeTicks | kChangeCapital);

    // Drained means gone; a later change is listed again on its own.
    EXPECT_FALSE(feed->Pending());
    EXPECT_TRUE(feed->Drain().empty());
    ASSERT_TRUE(store_->SetCapital(Sh("600000"), 1, 2));
    byCode = ByCode(feed->Drain());
    ASSERT_EQ(byCode.size(), 1u);
    EXPECT_EQ(byCode["SH600000"], unsigned{kChangeCapital});
}

TEST_F(StoreChangesTest, WritesThatStoreNothingAreNotNoticed) {
    Quote(Sh("600000"), Day1(10, 0), 10, 1000);
    auto feed = store_->WatchChanges();
    EXPECT_FALSE(store_->UpdateMinutes(Sh("600001"), {}));    // unknown security
    const MinuteSlot otherDay = MakeMinute(Day2(10, 0), 10, 1000);
    EXPECT_TRUE(store_->UpdateMinutes(Sh("600000"), std::span(&otherDay, 1)));  // not today: ignored
    QuoteUpdate early = MakeQuote(Sh("600000"), Day1(5, 0), 10, 1000);  // before any quote is real
    store_->UpdateQuote(early);
    EXPECT_TRUE(store_->AppendTicks(Sh("600000"), {}));
    EXPECT_FALSE(feed->Pending());
}

TEST_F(StoreChangesTest, FeedsAreIndependentAndADroppedFeedStopsReceiving) {
    auto a = store_->WatchChanges();
    auto b = store_->WatchChanges();
    Quote(Sh("600000"), Day1(10, 0), 10, 1000);
    EXPECT_EQ(a->Drain().securities.size(), 1u);
    // b has not drained yet: it still holds the change a already took.
    Quote(Sh("600001"), Day1(10, 0), 10, 1000);
    EXPECT_EQ(b->Drain().securities.size(), 2u);
    EXPECT_EQ(a->Drain().securities.size(), 1u);
    b.reset();
    Quote(Sh("600002"), Day1(10, 0), 10, 1000);  // no feed left behind to crash on
    EXPECT_EQ(a->Drain().securities.size(), 1u);
}

TEST_F(StoreChangesTest, NewDayAndClearResetTheirMarketOnly) {
    Quote(Sh("600000"), Day1(10, 0), 10, 1000);
    Quote(Sz("000001"), Day1(10, 0), 8, 500);
    auto feed = store_->WatchChanges();
    Quote(Sz("000001"), Day1(10, 5), 8.1f, 600);
    Quote(Sh("600000"), Day1(10, 5), 10.1f, 1100);
    // The quote of the next day opens it: the whole of SH is to be read again.
    Quote(Sh("600000"), Day2(9, 31), 10.2f, 10);
    ChangeSet changes = feed->Drain();
    EXPECT_EQ(changes.marketsReset, 1u << MarketSlot(kMarketSH));
    auto byCode = ByCode(changes);
    ASSERT_EQ(byCode.size(), 1u);
    EXPECT_EQ(byCode["SZ000001"], unsigned{kChangeQuote});

    store_->ClearMarkets(1u << MarketSlot(kMarketSZ));
    changes = feed->Drain();
    EXPECT_EQ(changes.marketsReset, 1u << MarketSlot(kMarketSZ));
    EXPECT_TRUE(changes.securities.empty());
}

// Writers of quotes and ticks in one market and a consumer draining as it goes:
// every security written is noticed at least once after its last write, and
// every notice names a security that was written.
TEST(StoreChangesConcurrency, ConsumerDrainingWhileWritersStoreSeesEveryChange) {
    TempDir dir;
    SettingsStore settings;
    MarketStore store(AppPaths(dir.path()), settings);
    ASSERT_TRUE(store.LoadAll());
    Quote(store, Sh("600000"), 0);  // opens the day before the race starts
    auto feed = store.WatchChanges();

    constexpr int kWriters = 2, kSecurities = 40, kRounds = 30;
    std::atomic<int> writersLeft{kWriters};
    std::vector<std::thread> threads;
    for (int w = 0; w < kWriters; ++w)
        threads.emplace_back([&, w] {
            for (int round = 1; round <= kRounds; ++round)
                for (int i = 0; i < kSecurities; ++i) {
                    const SecurityId id = Sh(std::to_string(600100 + w * kSecurities + i));
                    Quote(store, id, round);
                    const TickRecord tick = MakeTick(Day1(9, 30) + static_cast<StoreTime>(round), 10,
                                                     static_cast<float>(round));
                    EXPECT_TRUE(store.AppendTicks(id, std::span(&tick, 1)));
                }
            writersLeft.fetch_sub(1);
        });

    std::map<std::string, unsigned> seen;
    ChangeSet changes;
    auto drain = [&] {
        feed->Drain(changes);
        EXPECT_EQ(changes.marketsReset, 0u);
        for (const SecurityChange& c : changes.securities) seen[SecurityText(c.id)] |= c.kinds;
    };
    while (writersLeft.load() > 0) drain();
    for (std::thread& t : threads) t.join();
    drain();

    ASSERT_EQ(seen.size(), static_cast<size_t>(kWriters * kSecurities));
    for (const auto& [code, kinds] : seen) EXPECT_EQ(kinds, kChangeQuote | kChangeTicks) << code;
    for (int i = 0; i < kWriters * kSecurities; ++i)
        EXPECT_EQ(store.TickCount(Sh(std::to_string(600100 + i))), kRounds);
}

}  // namespace
}  // namespace tessaro
