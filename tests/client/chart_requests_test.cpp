// A chart window's requests: the "GVIEW" subscription, one data request per period kind sent
// through the queue, replies stored before the window hears of them.
#include <gtest/gtest.h>

#include "client/chart_requests.h"
#include "market/history.h"
#include "market/market_store.h"
#include "net/realtime_messages.h"
#include "net/security_handle.h"
#include "platform/files.h"
#include "platform/settings_store.h"
#include "scripted_peer.h"
#include "test_support/temp_dir.h"

namespace tessaro {
namespace {

using test::CodeOf;
using test::FakeTransport;

class ChartRequestsTest : public ::testing::Test {
protected:
    ChartRequestsTest() {
        store_.LoadAll();
        session_.Connect(ConnectTarget{"s", "127.0.0.1", 6051, {}}, {"guest", "x"}, 0);
        session_.OnConnected(0);
        net_.TakePackets();
        ParseSecurityText("SH600000", security_.id);
        security_.securityClass = kClassAShare;
    }
    TempDir dir_;
    AppPaths paths_{dir_.path()};
    SettingsStore settings_;
    MarketStore store_{paths_, settings_};
    FakeTransport net_;
    QuoteSession session_{ClientContext{paths_, &store_, nullptr, &settings_, nullptr}, net_, {}};
    CodeEntry security_;
};

TEST_F(ChartRequestsTest, DayPictureSubscribesThenAsksForItsHistory) {
    int arrived = 0;
    ChartRequests requests(session_, store_, paths_, 7, [&] { ++arrived; });
    ASSERT_TRUE(requests.Request(security_, kPeriodWeek, 560));
    std::vector<Bytes> sent = net_.TakePackets();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(CodeOf(sent[0]), kCodeQuoteSubscribe);
    QuoteSubscribe subscribe;
    ASSERT_TRUE(subscribe.Read(sent[0]));
    EXPECT_EQ(subscribe.tag, "GVIEW");
    ASSERT_EQ(subscribe.handles.size(), 1u);
    EXPECT_EQ(subscribe.handles[0], 1600000u);
    BarsRequest bars;
    ASSERT_TRUE(bars.Read(sent[1]));
    EXPECT_EQ(bars.period, 8);  // weeks are built from days
    EXPECT_EQ(bars.variant, 1);
    EXPECT_EQ(bars.first, 0);
    EXPECT_EQ(bars.count, 560);
    EXPECT_EQ(bars.optionB, 1);
    EXPECT_EQ(test::WindowOf(sent[1]), 7u);

    // The reply is written to the day history, then the window hears of it.
    BarsReply reply;
    reply.handle = 1600000;
    reply.period = 8;
    KLineRecord k{};
    k.time = MakeStoreTime(2024, 12, 9);
    k.open = k.high = k.low = k.close = 9;
    reply.bars.push_back(EncodeBarRecord(k));
    session_.OnBytes(test::Reply(reply, sent[1]), 1);
    EXPECT_EQ(FileSize(paths_.historyFile(security_.id, kPeriodDay)), 32);
    EXPECT_EQ(arrived, 1);
    // A reply nobody asked for is ignored.
    session_.OnBytes(test::Push(reply, 7), 2);
    EXPECT_EQ(arrived, 2);
    QuoteRefreshReply other;  // a code the chart never asks for
    Bytes stray = test::Push(other, 7);
    session_.OnBytes(stray, 3);
    EXPECT_EQ(arrived, 2);
}

TEST_F(ChartRequestsTest, EachPeriodKindAsksForItsData) {
    ChartRequests requests(session_, store_, paths_, 7, {});
    struct Case {
        Period period;
        uint16_t code;
        uint16_t barsPeriod;
    } cases[] = {{kPeriodMin1, kCodeMinutes, 0}, {kPeriodMin15, kCodeBars, 4}, {kPeriodDay, kCodeBars, 8},
                 {kPeriodTick, kCodeTicks, 0}};
    for (const Case& c : cases) {
        ASSERT_TRUE(requests.Request(security_, c.period, 100'000));
        std::vector<Bytes> sent = net_.TakePackets();
        ASSERT_EQ(sent.size(), 2u) << c.period;
        EXPECT_EQ(CodeOf(sent[1]), c.code) << c.period;
        if (c.code == kCodeBars) {
            BarsRequest b;
            ASSERT_TRUE(b.Read(sent[1]));
            EXPECT_EQ(b.period, c.barsPeriod);
            EXPECT_EQ(b.count, 65535);  // a request size beyond the field is held at its limit
        }
    }
    requests.Stop();
    std::vector<Bytes> sent = net_.TakePackets();
    ASSERT_EQ(sent.size(), 1u);  // "GVIEW" ends with an empty list
    QuoteSubscribe end;
    ASSERT_TRUE(end.Read(sent[0]));
    EXPECT_TRUE(end.handles.empty());
    EXPECT_EQ(requests.queued(), 0u);
}

TEST_F(ChartRequestsTest, IndexTimeSharingAlsoAsksForItsMinuteFigures) {
    int arrived = 0;
    ChartRequests requests(session_, store_, paths_, 7, [&] { ++arrived; });
    CodeEntry index;
    ParseSecurityText("SH000001", index.id);
    index.securityClass = kClassIndex;
    // A stock's time-sharing picture asks for minutes only; a K-line index picture no figures.
    ASSERT_TRUE(requests.Request(security_, kPeriodTime, 0));
    std::vector<Bytes> sent = net_.TakePackets();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(CodeOf(sent[1]), kCodeMinutes);
    ASSERT_TRUE(requests.Request(index, kPeriodMin1, 0));
    net_.TakePackets();
    EXPECT_EQ(requests.queued(), 0u);

    // The index: minutes first, then the figures from the newest slot the store holds.
    MinuteExtra held;
    held.time = StoreToWireTime(MakeStoreTime(2024, 12, 9, 9, 35));  // slot 5
    store_.SetMinuteExtra(1000001, std::span(&held, 1));
    ASSERT_TRUE(requests.Request(index, kPeriodTime, 0));
    sent = net_.TakePackets();
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(CodeOf(sent.back()), kCodeMinutes);  // one request at a time: the figures wait
    MinutesReply minutes;
    minutes.handle = 1000001;
    session_.OnBytes(test::Reply(minutes, sent.back()), 1);
    sent = net_.TakePackets();
    ASSERT_EQ(sent.size(), 1u);
    FlowRequest flow;
    ASSERT_TRUE(flow.Read(sent[0]));
    EXPECT_EQ(flow.handle, 1000001u);
    EXPECT_EQ(flow.newestIndex, 5u);
    // Its reply lands in the store's minute figures and the window hears of it.
    FlowReply reply;
    reply.handle = 1000001;
    MinuteExtra f;
    f.time = StoreToWireTime(MakeStoreTime(2024, 12, 9, 9, 36));
    f.figures[0] = 600;
    reply.figures.push_back(f);
    const int before = arrived;
    session_.OnBytes(test::Reply(reply, sent[0]), 2);
    EXPECT_EQ(arrived, before + 1);
    MinuteExtraDay day;
    ASSERT_TRUE(store_.GetMinuteExtra(1000001, day));
    EXPECT_EQ(day[6].figures[0], 600);
}

TEST_F(ChartRequestsTest, AMultiPictureRoundKeepsEveryPicturesSecurityLive) {
    ChartRequests requests(session_, store_, paths_, 7, [] {});
    CodeEntry second = security_, third = security_;
    ParseSecurityText("SZ000001", second.id);
    ParseSecurityText("SH600519", third.id);
    auto subscribed = [&] {
        std::vector<SecurityHandle> handles;
        for (const Bytes& packet : net_.TakePackets()) {
            QuoteSubscribe s;
            if (CodeOf(packet) == kCodeQuoteSubscribe && s.Read(packet)) handles = s.handles;
        }
        return handles;
    };
    ASSERT_TRUE(requests.Request(security_, kPeriodDay, 100));
    EXPECT_EQ(subscribed(), (std::vector<SecurityHandle>{1600000u}));
    ASSERT_TRUE(requests.Request(second, kPeriodDay, 100, true));
    ASSERT_TRUE(requests.Request(security_, kPeriodWeek, 100, true));  // the same security twice: once
    EXPECT_EQ(subscribed(), (std::vector<SecurityHandle>{1600000u, EncodeSecurityHandle(second.id)}));
    // A new round starts from its own first picture.
    ASSERT_TRUE(requests.Request(third, kPeriodDay, 100));
    EXPECT_EQ(subscribed(), (std::vector<SecurityHandle>{EncodeSecurityHandle(third.id)}));
}

TEST_F(ChartRequestsTest, NothingIsSentWithoutAConnection) {
    session_.Disconnect(5);
    net_.TakePackets();
    ChartRequests requests(session_, store_, paths_, 7, {});
    EXPECT_FALSE(requests.Request(security_, kPeriodDay, 160));
    EXPECT_TRUE(net_.TakePackets().empty());
}

}  // namespace
}  // namespace tessaro
