// The server over real loopback sockets: every request of the catalogue
// answered from the generated application directory, the transport faults,
// operator actions and many clients at once.
#include "server/quote_server.h"

#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "market/history.h"
#include "market/market_store.h"
#include "net/realtime_messages.h"
#include "net/startup_messages.h"
#include "platform/crc32.h"
#include "server/server_test_support.h"
#include "session/session.h"

namespace tessaro {
namespace {

using test::DemoAppDir;
using test::TestClient;

std::string FileText(const std::string& path) {
    std::optional<std::vector<uint8_t>> b = ReadWholeFile(path);
    return b ? std::string(b->begin(), b->end()) : std::string();
}

class ServerFixture {
public:
    explicit ServerFixture(ServerConfig config = {}, double speed = 1, uint32_t start = 10 * 3600)
        : session_(Options()) {
        EXPECT_TRUE(session_.Start()) << session_.error();
        market_.LoadFrom(session_.store());
        market_.Open(StartOfDay(session_.store().CurrentTradingDate()), start);
        QuoteServerOptions options;
        options.speed = speed;
        options.config = std::move(config);
        server_ = std::make_unique<QuoteServer>(market_, ServerFiles(DemoAppDir::Get().paths()), options);
        std::string error;
        EXPECT_TRUE(server_->Listen(&error)) << error;
        server_->Start();
    }
    ~ServerFixture() { server_->Stop(); }
    uint16_t port() const { return server_->port(); }
    QuoteServer& server() { return *server_; }
    MarketStore& store() { return session_.store(); }
    // Runs fn on the server's loop (the market belongs to it) and waits.
    template <class Fn>
    auto OnLoop(Fn fn) {
        std::packaged_task<decltype(fn())()> task(std::move(fn));
        auto result = task.get_future();
        server_->Post([&task] { task(); });
        return result.get();
    }
    SimMarket& market() { return market_; }

private:
    static SessionOptions Options() {
        SessionOptions o;
        o.appDir = DemoAppDir::Get().path();
        o.access = SessionAccess::ReadOnly;
        o.data = kSessionMarkets;
        return o;
    }
    Session session_;
    SimMarket market_{11};
    std::unique_ptr<QuoteServer> server_;
};

SecurityHandle FirstStock(ServerFixture& f, SecurityId* id = nullptr) {
    for (const SimSecurity& s : f.market().securities())
        if (!s.isIndex) {
            if (id) *id = s.id;
            return s.handle;
        }
    return 0;
}

TEST(QuoteServerTest, StartUpChainMatchesTheAppDir) {
    ServerFixture f;
    AppPaths paths = DemoAppDir::Get().paths();
    TestClient c(f.port());
    ASSERT_TRUE(c.connected());
    ASSERT_TRUE(c.Login());
    MarketCountsPush counts;
    ASSERT_TRUE(c.Read(kCodeMarketCounts, counts));
    EXPECT_EQ(counts.records.size(), 2u);

    ServerListRequest list;
    ServerListReply listReply;
    ASSERT_TRUE(c.Send(list) && c.Read(kCodeServerList, listReply));
    EXPECT_EQ(listReply.text, FileText(paths.serverListFile()));
    EXPECT_EQ(listReply.serial, c.serial());
    EXPECT_EQ(listReply.window, 7u);

    CodeTableRequest table;
    CodeTableReply tableReply;
    ASSERT_TRUE(c.Send(table) && c.Read(kCodeCodeTable, tableReply));
    std::vector<CodeEntry> entries = f.store().ListSecurities(3);
    ASSERT_EQ(tableReply.records.size(), entries.size());
    for (size_t i = 0; i < entries.size(); ++i) {
        CodeEntry decoded;
        ASSERT_TRUE(DecodeCodeRecord(tableReply.records[i], decoded));
        EXPECT_EQ(std::memcmp(&decoded.id, &entries[i].id, sizeof decoded.id), 0);
        EXPECT_EQ(FieldText(decoded.name), CutGbk(FieldText(entries[i].name), 13));
    }

    BlockListRequest blocks;
    BlockListReply blocksReply;
    ASSERT_TRUE(c.Send(blocks) && c.Read(kCodeBlockList, blocksReply));
    std::string blockBytes = FileText(paths.blockDir() + "test.blk");
    bool found = false;
    for (const BlockStampRecord& r : blocksReply.records)
        if (FieldText(r.name) == test::kTestBlockName) {
            found = true;
            EXPECT_EQ(r.checksum, Crc32(ByteSpan(reinterpret_cast<const uint8_t*>(blockBytes.data()), blockBytes.size())));
        }
    EXPECT_TRUE(found);
    BlockFileRequest blockFile;
    blockFile.blockName = test::kTestBlockName;
    BlockFileReply blockFileReply;
    ASSERT_TRUE(c.Send(blockFile) && c.Read(kCodeBlockFile, blockFileReply));
    EXPECT_EQ(blockFileReply.fileBytes, blockBytes);
    blockFile.blockName = "nosuch";
    ASSERT_TRUE(c.Send(blockFile) && c.Read(kCodeBlockFile, blockFileReply));
    EXPECT_TRUE(blockFileReply.fileBytes.empty());

    for (auto [kind, path] : {std::pair{kBaseFileFinance, paths.financeFile()}, std::pair{kBaseFilePower, paths.powerFile()}}) {
        std::string bytes = FileText(path);
        ASSERT_FALSE(bytes.empty());
        uint32_t crc = Crc32(ByteSpan(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
        BaseFileRequest base;
        base.kind = kind;
        base.checksum = crc ^ 1;
        BaseFileReply reply;
        ASSERT_TRUE(c.Send(base) && c.Read(kCodeBaseFile, reply));
        EXPECT_EQ(reply.fileBytes, bytes) << kind;
        EXPECT_EQ(reply.checksum, crc);
        base.checksum = crc;  // the client's copy is current
        ASSERT_TRUE(c.Send(base) && c.Read(kCodeBaseFile, reply));
        EXPECT_TRUE(reply.fileBytes.empty()) << kind;
    }

    InfoIndexRequest info;
    InfoIndexReply infoReply;
    ASSERT_TRUE(c.Send(info) && c.Read(kCodeInfoIndexReply, infoReply));
    EXPECT_EQ(infoReply.numbers, (ServerConfig{}.infoNumbers));
    LoadRequest load;
    LoadReply loadReply;
    ASSERT_TRUE(c.Send(load) && c.Read(kCodeLoad, loadReply));
    EXPECT_LE(loadReply.load, 100u);
    KeepAlive keep;
    ASSERT_TRUE(c.Send(keep) && c.Expect(kCodeKeepAlive).has_value());
}

TEST(QuoteServerTest, HistoryRepliesMatchTheHistoryFiles) {
    ServerFixture f;
    AppPaths paths = DemoAppDir::Get().paths();
    SecurityId id;
    SecurityHandle handle = FirstStock(f, &id);
    Series days;
    ASSERT_TRUE(LoadHistory(paths, id, kPeriodDay, days));
    const std::vector<KLineRecord>& bars = days.bars;
    ASSERT_GT(bars.size(), 20u);
    TestClient c(f.port());
    ASSERT_TRUE(c.Login());

    auto request = [&](uint8_t variant, auto set) {
        BarsRequest r;
        r.handle = handle;
        r.period = 8;
        r.variant = variant;
        set(r);
        BarsReply reply;
        EXPECT_TRUE(c.Send(r) && c.Read(kCodeBars, reply));
        std::vector<KLineRecord> out;
        for (const BarRecord& b : reply.bars) {
            KLineRecord k;
            EXPECT_TRUE(DecodeBarRecord(b, k));
            out.push_back(k);
        }
        return out;
    };
    auto same = [](const std::vector<KLineRecord>& a, const KLineRecord* b, size_t n) {
        return a.size() == n && std::memcmp(a.data(), b, n * sizeof *b) == 0;
    };
    size_t n = bars.size();
    EXPECT_TRUE(same(request(0, [&](BarsRequest& r) {
                         r.from = StoreToWireTime(bars[3].time);
                         r.to = StoreToWireTime(bars[9].time);
                     }),
                     &bars[3], 7));
    EXPECT_TRUE(same(request(1, [](BarsRequest& r) { r.first = 0, r.count = 5, r.optionB = 1; }), &bars[n - 5], 5));
    EXPECT_TRUE(same(request(1, [](BarsRequest& r) { r.first = 2, r.count = 3; }), &bars[n - 5], 3));
    EXPECT_TRUE(same(request(2, [&](BarsRequest& r) {
                         r.anchor = StoreToWireTime(bars[n - 10].time);
                         r.count = 3;
                     }),
                     &bars[n - 12], 3));
    EXPECT_TRUE(request(1, [](BarsRequest& r) { r.first = 60000, r.count = 5; }).empty());
    // A security the server does not have: an empty answer.
    BarsRequest missing;
    missing.handle = 1999998;
    missing.period = 8;
    missing.variant = 1;
    missing.count = 10;
    BarsReply missingReply;
    ASSERT_TRUE(c.Send(missing) && c.Read(kCodeBars, missingReply));
    EXPECT_TRUE(missingReply.bars.empty());

    BarTimesRequest times;
    times.handle = handle;
    times.period = 8;
    times.since = StoreToWireTime(bars[n - 4].time);
    BarTimesReply timesReply;
    ASSERT_TRUE(c.Send(times) && c.Read(kCodeBarTimes, timesReply));
    ASSERT_EQ(timesReply.times.size(), 4u);
    for (size_t k = 0; k < 4; ++k) EXPECT_EQ(timesReply.times[k], StoreToWireTime(bars[n - 4 + k].time));

    // Past day minutes from the one-minute file: cumulative volume of the day's minutes.
    Series minutes;
    ASSERT_TRUE(LoadHistory(paths, id, kPeriodMin1, minutes));
    ASSERT_FALSE(minutes.bars.empty());
    StoreTime lastDay = StartOfDay(minutes.bars.back().time);
    double volume = 0;
    size_t count = 0;
    for (const KLineRecord& b : minutes.bars)
        if (StartOfDay(b.time) == lastDay) volume += b.volume, ++count;
    DayMinutesRequest dm;
    dm.handle = handle;
    dm.day = StoreToWireTime(lastDay);
    DayMinutesReply dmReply;
    ASSERT_TRUE(c.Send(dm) && c.Read(kCodeDayMinutes, dmReply));
    EXPECT_EQ(dmReply.day, StoreToWireTime(lastDay));
    EXPECT_EQ(dmReply.dayRecordTime(), StoreToWireTime(lastDay));
    ASSERT_EQ(dmReply.minutes.size(), count);
    EXPECT_NEAR(dmReply.minutes.back().volume, volume, volume * 1e-5);
    dm.step = 1;  // the day after the newest history day is today, from the simulation
    ASSERT_TRUE(c.Send(dm) && c.Read(kCodeDayMinutes, dmReply));
    StoreTime today = f.OnLoop([&] { return f.market().day(); });
    EXPECT_EQ(dmReply.day, StoreToWireTime(today));
    dm.step = -1;
    ASSERT_TRUE(c.Send(dm) && c.Read(kCodeDayMinutes, dmReply));
    EXPECT_LT(dmReply.day, StoreToWireTime(lastDay));
}

TEST(QuoteServerTest, TodaysDataMatchesTheSimulation) {
    ServerFixture f;
    SecurityHandle handle = FirstStock(f);
    TestClient c(f.port());
    ASSERT_TRUE(c.Login());
    TicksRequest ticks;
    ticks.handle = handle;
    TicksReply ticksReply;
    ASSERT_TRUE(c.Send(ticks) && c.Read(kCodeTicks, ticksReply));
    auto simTicks = f.OnLoop([&] { return f.market().at(f.market().Find(handle)).ticks; });
    ASSERT_FALSE(ticksReply.ticks.empty());
    ASSERT_LE(ticksReply.ticks.size(), simTicks.size());
    for (size_t k = 0; k < ticksReply.ticks.size(); ++k) {
        TickRecord t;
        ASSERT_TRUE(DecodeWireTick(ticksReply.ticks[k], t));
        EXPECT_EQ(std::memcmp(&t, &simTicks[k], sizeof t), 0) << k;
    }
    ticks.handle = 1999998;  // unknown: empty
    ASSERT_TRUE(c.Send(ticks) && c.Read(kCodeTicks, ticksReply));
    EXPECT_TRUE(ticksReply.ticks.empty());

    MinutesRequest mr;
    mr.handle = handle;
    MinutesReply all;
    ASSERT_TRUE(c.Send(mr) && c.Read(kCodeMinutes, all));
    ASSERT_GT(all.minutes.size(), 10u);
    mr.newestVolume = all.minutes[all.minutes.size() - 4].volume;
    MinutesReply newer;
    ASSERT_TRUE(c.Send(mr) && c.Read(kCodeMinutes, newer));
    EXPECT_GE(newer.minutes.size(), 3u);
    for (const MinuteRecord& m : newer.minutes) EXPECT_GT(m.volume, mr.newestVolume);

    size_t total = f.OnLoop([&] { return f.market().size(); });
    std::vector<SecurityHandle> seen;
    for (uint32_t first = 0; first < total; first += 10) {
        QuoteRefreshRequest page;
        page.first = first;
        page.count = 10;
        QuoteRefreshReply reply;
        ASSERT_TRUE(c.Send(page) && c.Read(kCodeQuoteRefresh, reply));
        EXPECT_EQ(reply.total, total);
        EXPECT_EQ(reply.first, first);
        EXPECT_EQ(reply.quotes.size(), std::min<size_t>(10, total - first));
        for (const QuoteRecord& q : reply.quotes) seen.push_back(q.handle);
    }
    EXPECT_EQ(seen.size(), total);

    FlowRequest flow;
    flow.handle = handle;
    FlowReply flowReply;
    ASSERT_TRUE(c.Send(flow) && c.Read(kCodeFlow, flowReply));
    EXPECT_FALSE(flowReply.figures.empty());

    BlockRankRequest rank;
    BlockRankReply rankReply;
    ASSERT_TRUE(c.Send(rank) && c.Read(kCodeBlockRankReply, rankReply));
    // Every block file with members the server has, the test block among them with its five.
    auto ours = std::find_if(rankReply.ranked.begin(), rankReply.ranked.end(),
                             [](const auto& item) { return item.name == test::kTestBlockName; });
    ASSERT_NE(ours, rankReply.ranked.end());
    EXPECT_EQ(ours->value, 5u);
    EXPECT_EQ(rankReply.leaders.size(), rankReply.ranked.size());
    rank.blockName = test::kTestBlockName;
    ASSERT_TRUE(c.Send(rank) && c.Read(kCodeBlockRankReply, rankReply));
    EXPECT_EQ(rankReply.ranked.size(), 5u);
}

TEST(QuoteServerTest, TransportFaults) {
    {
        ServerConfig config;
        config.faults.split = FaultPlan::Split::OneByte;
        ServerFixture f(config);
        TestClient c(f.port());
        ASSERT_TRUE(c.Login());
        // A reply of a few kilobytes written a byte at a time cannot arrive in one
        // piece (how many pieces the receiver sees depends on its scheduling).
        int before = c.arrivals();
        QuoteRefreshRequest all;
        all.count = 1000;
        QuoteRefreshReply reply;
        ASSERT_TRUE(c.Send(all) && c.Read(kCodeQuoteRefresh, reply));
        EXPECT_EQ(reply.quotes.size(), reply.total);
        EXPECT_GE(c.arrivals() - before, 3);
    }
    {
        ServerConfig config;
        config.faults.split = FaultPlan::Split::Random;
        ServerFixture f(config);
        TestClient c(f.port());
        ASSERT_TRUE(c.Login());
        CodeTableRequest table;
        CodeTableReply reply;
        ASSERT_TRUE(c.Send(table) && c.Read(kCodeCodeTable, reply));
        EXPECT_FALSE(reply.records.empty());
    }
    {
        ServerConfig config;
        config.faults.delayMs = 300;
        ServerFixture f(config);
        TestClient c(f.port());
        auto t0 = std::chrono::steady_clock::now();
        ASSERT_TRUE(c.Login());
        EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(290));
    }
    {
        ServerConfig config;
        config.faults.dropAfter = 2;  // the login reply and the market counts
        ServerFixture f(config);
        TestClient c(f.port());
        ASSERT_TRUE(c.Login());
        EXPECT_TRUE(c.WaitClosed());
        EXPECT_EQ(c.packets(), 2);
    }
    {
        ServerConfig config;
        config.faults.closeAt.insert(kCodeCodeTable);
        ServerFixture f(config);
        TestClient c(f.port());
        ASSERT_TRUE(c.Login());
        CodeTableRequest table;
        ASSERT_TRUE(c.Send(table));
        EXPECT_TRUE(c.WaitClosed());
    }
    {
        ServerConfig config;
        config.faults.silent = true;
        ServerFixture f(config);
        TestClient c(f.port());
        Login login;
        login.account = kGuestAccount;
        login.password = kGuestPassword;
        ASSERT_TRUE(c.Send(login));
        EXPECT_FALSE(c.Receive(400).has_value());
    }
    {
        ServerConfig config;
        config.faults.refuseLogin = "closed today";
        ServerFixture f(config);
        TestClient c(f.port());
        Login login;
        login.account = kGuestAccount;
        login.password = kGuestPassword;
        LoginReply reply;
        ASSERT_TRUE(c.Send(login) && c.Read(kCodeLogin, reply));
        EXPECT_NE(reply.refused, 0);
        EXPECT_EQ(reply.message, "closed today");
        EXPECT_TRUE(c.WaitClosed());
    }
}

TEST(QuoteServerTest, SlowReaderIsClosedNotBuffered) {
    ServerConfig config;
    config.maxSendQueue = 64 << 10;
    ServerFixture f(config);
    TestClient slow(f.port());
    int small = 4096;
    ::setsockopt(slow.fd(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    ASSERT_TRUE(slow.Login());
    // Thousands of requests, never reading their replies.
    std::vector<uint8_t> burst;
    for (int k = 0; k < 6000; ++k) {
        QuoteRefreshRequest r;
        r.count = 1000;
        r.serial = k;
        Bytes b = *r.Encode();
        burst.insert(burst.end(), b.begin(), b.end());
    }
    slow.SendBytes(burst.data(), burst.size());
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (f.server().connectionCount() > 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(f.server().connectionCount(), 0u);
    // The server still serves others.
    TestClient other(f.port());
    EXPECT_TRUE(other.Login());
}

TEST(QuoteServerTest, OperatorActionsReachOneOrAll) {
    ServerFixture f;
    TestClient a(f.port()), b(f.port());
    ASSERT_TRUE(a.Login());
    ASSERT_TRUE(b.Login());
    EXPECT_EQ(f.OnLoop([&] { return f.server().Command("notice hello all"); }), "sent to 2 client(s)");
    ServerNotice na, nb;
    ASSERT_TRUE(a.Read(kCodeServerNotice, na));
    ASSERT_TRUE(b.Read(kCodeServerNotice, nb));
    EXPECT_EQ(na.text, "hello all");
    std::vector<std::string> rows = f.OnLoop([&] { return f.server().Connections(); });
    ASSERT_EQ(rows.size(), 2u);
    std::string firstId = rows[0].substr(0, rows[0].find(' '));
    EXPECT_EQ(f.OnLoop([&] { return f.server().Command("reinit " + firstId); }), "sent to 1 client(s)");
    EXPECT_TRUE(a.Expect(kCodeServerReinit).has_value());
    EXPECT_TRUE(a.WaitClosed());
    EXPECT_EQ(f.OnLoop([&] { return f.server().Command("close"); }), "sent to 1 client(s)");
    EXPECT_TRUE(b.Expect(kCodeServerClose).has_value());
    EXPECT_TRUE(b.WaitClosed());
    EXPECT_NE(f.OnLoop([&] { return f.server().Command("explode"); }).find("unknown command"), std::string::npos);
}

// Many clients subscribe while the market runs fast and the operator speaks.
TEST(QuoteServerConcurrency, ManyClientsGetTheirOwnPushes) {
    ServerFixture f({}, 60, 10 * 3600);
    std::vector<SecurityHandle> handles;
    for (const SimSecurity& s : f.OnLoop([&] { return f.market().securities(); })) handles.push_back(s.handle);
    constexpr int kClients = 12;
    std::vector<int> pushes(kClients, 0), wrong(kClients, 0);
    std::vector<std::thread> threads;
    for (int k = 0; k < kClients; ++k)
        threads.emplace_back([&, k] {
            TestClient c(f.port());
            if (!c.Login()) return;
            QuoteSubscribe sub;
            sub.tag = "GVIEW";
            sub.handles = {handles[k % handles.size()], handles[(k + 1) % handles.size()]};
            c.Send(sub, 100 + k);
            auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(1500);
            while (std::chrono::steady_clock::now() < end) {
                std::optional<Bytes> p = c.Receive(100);
                if (!p || LoadPacketHeader(p->data()).code != kCodeQuoteReply) continue;
                QuoteReply q;
                if (!q.Read(*p)) continue;
                ++pushes[k];
                for (const QuoteRecord& r : q.quotes)
                    if (q.window != 100u + k || (r.handle != sub.handles[0] && r.handle != sub.handles[1])) ++wrong[k];
            }
        });
    for (int n = 0; n < 5; ++n) {
        f.server().Post([&] { f.server().Notice(0, "tick"); });
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    for (std::thread& t : threads) t.join();
    for (int k = 0; k < kClients; ++k) {
        EXPECT_GT(pushes[k], 1) << k;
        EXPECT_EQ(wrong[k], 0) << k;
    }
    EXPECT_GT(f.server().pushes(), 0u);
}

}  // namespace
}  // namespace tessaro
