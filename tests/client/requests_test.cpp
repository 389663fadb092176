#include <gtest/gtest.h>

#include "client/machine_id.h"
#include "client/reply_handlers.h"
#include "client/request_queue.h"
#include "market/history.h"
#include "market/market_store.h"
#include "net/realtime_messages.h"
#include "platform/files.h"
#include "platform/settings_store.h"
#include "platform/store_time.h"
#include "scripted_peer.h"
#include "test_support/temp_dir.h"

namespace tessaro {
namespace {

using test::CodeOf;
using test::FakeTransport;

// A session logged in (the start-up chain is not run: its pending list does not matter here).
class WindowRequestsTest : public ::testing::Test {
protected:
    WindowRequestsTest() {
        store_.LoadAll();
        session_.Connect(ConnectTarget{"s", "127.0.0.1", 6051, {}}, {"guest", "x"}, 0);
        session_.OnConnected(0);
        net_.TakePackets();
    }
    TempDir dir_;
    AppPaths paths_{dir_.path()};
    SettingsStore settings_;
    MarketStore store_{paths_, settings_};
    FakeTransport net_;
    QuoteSession session_{ClientContext{paths_, &store_, nullptr, &settings_, nullptr}, net_, {}};
};

TEST_F(WindowRequestsTest, RefreshOfTwoHundredFiftyAsksThreePagesAndDropsStaleReplies) {
    std::vector<std::string> texts;
    QuoteRefresh refresh(session_, &store_, 5, [&](const std::string& t, int) { texts.push_back(t); });
    ASSERT_TRUE(refresh.Start());
    std::vector<uint32_t> firsts;
    for (int page = 0; page < 4 && !refresh.finished(); ++page) {
        auto sent = net_.TakePackets();
        ASSERT_EQ(sent.size(), 1u);
        QuoteRefreshRequest q;
        ASSERT_TRUE(q.Read(sent[0]));
        EXPECT_EQ(q.count, 100u);
        firsts.push_back(q.first);
        QuoteRefreshReply r;
        r.first = q.first;
        r.total = 250;
        // Quotes of securities without a trade today: stamped, not priced.
        QuoteSnapshot unpriced;
        unpriced.bar.time = MakeStoreTime(2025, 6, 13, 9, 25, 0);
        for (uint32_t i = q.first; i < std::min(q.first + 100, 250u); ++i)
            r.quotes.push_back(EncodeQuoteRecord(1600000 + i, unpriced));
        // A stale reply (old serial) first: ignored.
        QuoteRefreshReply stale = r;
        stale.serial = 0;
        session_.OnBytes(test::Push(stale, 5), 1);
        session_.OnBytes(test::Reply(r, sent[0]), 1);
    }
    EXPECT_EQ(firsts, (std::vector<uint32_t>{0, 100, 200}));
    EXPECT_TRUE(refresh.succeeded());
    EXPECT_EQ(refresh.stored(), 250u);
    EXPECT_EQ(texts, (std::vector<std::string>{"40%", "80%", "100%"}));
    EXPECT_EQ(store_.SecurityCount(kMarketSH), 250);
}

TEST_F(WindowRequestsTest, RefreshStopsOnAnEmptyPageBelowTheTotal) {
    QuoteRefresh refresh(session_, &store_, 5, {});
    ASSERT_TRUE(refresh.Start());
    auto sent = net_.TakePackets();
    QuoteRefreshReply r;
    r.total = 500;
    session_.OnBytes(test::Reply(r, sent[0]), 1);
    EXPECT_TRUE(refresh.finished());
    EXPECT_FALSE(refresh.succeeded());
    EXPECT_TRUE(net_.TakePackets().empty());
}

TEST_F(WindowRequestsTest, QueueSendsOneAtATimeAndSubscriptionsRenew) {
    RequestQueue queue;
    for (uint32_t h : {1u, 2u, 3u}) {
        TicksRequest t;
        t.handle = h;
        queue.PushBack(*session_.Build(t, 9));
    }
    KeepAlive k;
    queue.PushFront(*session_.Build(k, 9));
    EXPECT_EQ(queue.Count(), 4u);
    ASSERT_TRUE(queue.Next(session_));
    auto sent = net_.TakePackets();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(CodeOf(sent[0]), kCodeKeepAlive);
    queue.Clear();
    EXPECT_FALSE(queue.Next(session_));

    Subscriptions subs(9);
    subs.SetQuotes(session_, "GVIEW", {1600000, 1});
    subs.SetFlow(session_, {1000001});
    net_.TakePackets();
    subs.Renew(session_);
    sent = net_.TakePackets();
    ASSERT_EQ(sent.size(), 2u);
    QuoteSubscribe q;
    ASSERT_TRUE(q.Read(sent[0]));
    EXPECT_EQ(q.tag, "GVIEW");
    EXPECT_EQ(q.handles, (std::vector<SecurityHandle>{1600000, 1}));
    EXPECT_EQ(q.window, 9u);
    subs.EndAll(session_);
    sent = net_.TakePackets();
    ASSERT_EQ(sent.size(), 2u);
    ASSERT_TRUE(q.Read(sent[0]));
    EXPECT_TRUE(q.handles.empty());
    EXPECT_EQ(subs.quotes("GVIEW"), nullptr);

    SerialGate gate;
    EXPECT_FALSE(gate.Accept(0));
    gate.Expect(7);
    EXPECT_TRUE(gate.Accept(7));
    EXPECT_FALSE(gate.Accept(6));
}

TEST_F(WindowRequestsTest, MinutesBarsAndFlowRepliesReachStoreAndHistory) {
    SecurityId id;
    id.market = kMarketSH;
    id.setCode("600000");
    // A quote opens the trading day so that minutes of that day are kept.
    QuoteSnapshot s{};
    const uint32_t wire = 1733794200;  // 2024-12-10 09:30 market time (01:30 UTC)
    s.bar.time = WireToStoreTime(wire + 120);
    s.bar.close = s.bar.open = s.bar.high = s.bar.low = 10;
    s.bar.volume = 5000;
    DecodedQuote q;
    ASSERT_TRUE(DecodeQuoteRecord(EncodeQuoteRecord(1600000, s), {}, q));
    session_.StoreQuote(q);
    // Wire times go through the fixed market offset, whatever TZ says.
    EXPECT_EQ(store_.ServerTime() % 86400, 9u * 3600 + 32 * 60);

    MinutesReply m;
    m.handle = 1600000;
    m.minutes.push_back(MinuteRecord{wire + 60, 10.5f, 100, 1050});
    ASSERT_TRUE(ApplyMinutesReply(store_, *m.Encode()));
    EXPECT_EQ(store_.TickCount(id), 1);

    BarsReply b;
    b.handle = 1600000;
    b.period = 8;
    KLineRecord k{};
    k.time = WireToStoreTime(wire) - WireToStoreTime(wire) % 86400;
    k.open = k.high = k.low = k.close = 9;
    b.bars.push_back(EncodeBarRecord(k));
    ASSERT_TRUE(ApplyBarsReply(paths_, *b.Encode()));
    EXPECT_EQ(FileSize(paths_.historyFile(id, kPeriodDay)), 32);
    b.period = 9;  // no history file for weeks
    EXPECT_FALSE(ApplyBarsReply(paths_, *b.Encode()));

    FlowPush f;
    FlowRecord r;
    r.handle = 1000001;
    r.figure.time = wire;
    r.figure.value = 3;
    f.records.push_back(r);
    ASSERT_TRUE(ApplyFlowPush(store_, *f.Encode()));
    MinuteExtraDay day;
    ASSERT_TRUE(store_.GetMinuteExtra(1000001, day));
    Bytes garbled{1, 2, 3};
    EXPECT_FALSE(ApplyFlowReply(store_, garbled));
}

TEST(MachineId, StableFromTheFileElseRandomKeptInSettings) {
    TempDir dir;
    std::string file = dir.path() + "/machine-id";
    ASSERT_TRUE(WriteFileAtomic(file, std::string("0123456789abcdef\n")));
    SettingsStore settings;
    uint32_t a = MachineIdentifier(settings, file);
    EXPECT_EQ(a, MachineIdentifier(settings, file));
    EXPECT_EQ(a, MachineIdFromText("0123456789abcdef"));
    // FNV-1a of "a": 0xE40C292C.
    EXPECT_EQ(MachineIdFromText("a"), 0xE40C292Cu);
    EXPECT_FALSE(settings.getDword(SettingsKey("Net\\Login"), kMachineIdValue));

    uint32_t r = MachineIdentifier(settings, dir.path() + "/absent");
    EXPECT_NE(r, 0u);
    EXPECT_EQ(settings.getDword(SettingsKey("Net\\Login"), kMachineIdValue).value_or(0), r);
    EXPECT_EQ(MachineIdentifier(settings, dir.path() + "/absent"), r);
}

}  // namespace
}  // namespace tessaro
