// The session without sockets: login, limits, subscriptions, ranked pages and
// the protocol faults, driven by plain calls.
#include "server/server_session.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <tuple>

#include "net/decompress.h"
#include "net/login_messages.h"
#include "net/realtime_messages.h"
#include "net/startup_messages.h"
#include "test_support/temp_dir.h"

namespace tessaro {
namespace {

const StoreTime kDay = MakeStoreTime(2025, 6, 13);

SecurityId Id(MarketCode m, const char* code) {
    SecurityId id{};
    id.market = m;
    std::strncpy(id.code, code, sizeof id.code);
    return id;
}

class SessionTest : public ::testing::Test {
protected:
    SessionTest() : files_(AppPaths(dir_.path())) {
        market_.Add(Id(kMarketSH, "000001"), 1, "SH index", 3000, 0);
        for (int k = 0; k < 8; ++k) {
            char code[8];
            std::snprintf(code, sizeof code, "6000%02d", k);
            market_.Add(Id(kMarketSH, code), 2, std::string("S") + code, 10.0f + k, 1e6f, 500);
        }
        market_.Open(kDay, 10 * 3600);
        context_.config = &config_;
        context_.market = &market_;
        context_.files = &files_;
    }
    std::unique_ptr<ServerSession> NewSession() { return std::make_unique<ServerSession>(context_, "test"); }

    static Bytes Packet(Message& m, uint32_t serial = 1, uint32_t window = 9) {
        m.serial = serial;
        m.window = window;
        return *m.Encode();
    }
    // The replies, normalized.
    static std::vector<Bytes> Replies(ServerSession& s) {
        std::vector<Bytes> out;
        for (Bytes& wire : s.TakeOutput()) {
            std::optional<Bytes> n = Decompress(wire);
            EXPECT_TRUE(n.has_value());
            if (n) out.push_back(std::move(*n));
        }
        return out;
    }
    static void LogIn(ServerSession& s) {
        Login login;
        login.account = kGuestAccount;
        login.password = kGuestPassword;
        ASSERT_TRUE(s.Feed(Packet(login)));
        ASSERT_TRUE(s.loggedIn());
        s.TakeOutput();
    }

    TempDir dir_;
    ServerConfig config_;
    SimMarket market_{4};
    ServerFiles files_;
    ServerContext context_;
};

TEST_F(SessionTest, GuestLogsInWrongPasswordIsRefusedWithText) {
    auto s = NewSession();
    Login bad;
    bad.account = kGuestAccount;
    bad.password = "wrong";
    ASSERT_TRUE(s->Feed(Packet(bad, 5, 11)));
    std::vector<Bytes> r = Replies(*s);
    ASSERT_EQ(r.size(), 1u);
    LoginReply reply;
    ASSERT_TRUE(reply.Read(r[0]));
    EXPECT_EQ(reply.serial, 5u);
    EXPECT_EQ(reply.window, 11u);
    EXPECT_NE(reply.refused, 0);
    EXPECT_FALSE(reply.message.empty());
    EXPECT_TRUE(s->closeAfterFlush());
    EXPECT_FALSE(s->loggedIn());

    auto good = NewSession();
    LogIn(*good);
    EXPECT_EQ(good->account(), "guest");
}

TEST_F(SessionTest, AccountsFileReplacesGuest) {
    std::string path = dir_.path() + "/accounts.ini";
    FILE* f = std::fopen(path.c_str(), "w");
    std::fputs("[other]\nx=y\n[accounts]\n; comment\nalice = secret\nbob=pw\n", f);
    std::fclose(f);
    ASSERT_TRUE(LoadAccountsFile(path, config_.accounts, nullptr));
    EXPECT_EQ(config_.accounts.size(), 2u);
    EXPECT_EQ(config_.accounts["alice"], "secret");
    for (auto [account, password, ok] : {std::tuple{"alice", "secret", true}, std::tuple{"bob", "pw", true},
                                         std::tuple{"alice", "pw", false}, std::tuple{"x", "y", false},
                                         std::tuple{"guest", kGuestPassword, false}}) {
        auto s = NewSession();
        Login login;
        login.account = account;
        login.password = password;
        s->Feed(Packet(login));
        EXPECT_EQ(s->loggedIn(), ok) << account << " " << password;
    }
    EXPECT_FALSE(LoadAccountsFile(dir_.path() + "/none.ini", config_.accounts, nullptr));
}

TEST_F(SessionTest, HostileInputClosesOnlyWithAReason) {
    // Unknown code, a length below a header, a length past the request limit,
    // a request before login, a truncated subscription, a reply code from a client.
    auto header = [](uint16_t code, uint32_t length) {
        Bytes b(std::max<uint32_t>(length, 16), 0);
        PacketHeader h{kPacketMagic, code, 1, 1, length};
        std::memcpy(b.data(), &h, sizeof h);
        return b;
    };
    struct Case { const char* what; Bytes bytes; bool login; };
    std::vector<Case> cases = {
        {"unknown code", header(0x7777, 16), true},
        {"server-only code", header(kCodeServerNotice, 16), true},
        {"length below a header", header(kCodeKeepAlive, 3), true},
        {"oversized length", header(kCodeKeepAlive, 64u << 20), true},
        {"before login", header(kCodeCodeTable, 16), false},
        {"unreadable subscription", header(kCodeQuoteSubscribe, 18), true},
        {"unreadable login", header(kCodeLogin, 20), false},
    };
    for (Case& c : cases) {
        auto s = NewSession();
        if (c.login) LogIn(*s);
        EXPECT_FALSE(s->Feed(c.bytes)) << c.what;
        EXPECT_TRUE(s->closed()) << c.what;
        EXPECT_FALSE(s->closeReason().empty()) << c.what;
        EXPECT_FALSE(s->Feed(header(kCodeKeepAlive, 16))) << "a closed session takes nothing more";
    }
    // The receive bound: an incomplete packet longer than the buffer closes.
    config_.maxReceiveBuffer = 1000;
    auto s = NewSession();
    LogIn(*s);
    Bytes big = header(kCodeBlockFile, 5000);
    EXPECT_FALSE(s->Feed(ByteSpan(big.data(), 2000)));
    EXPECT_NE(s->closeReason().find("bound"), std::string::npos);
}

TEST_F(SessionTest, SubscriptionLimitsAreEnforced) {
    auto s = NewSession();
    LogIn(*s);
    // 5,000 handles and a 10,240-byte tag pass; one more of either closes.
    QuoteSubscribe ok;
    ok.tag = std::string(10240, 'T');
    ok.handles.assign(5000, 1600001);
    ASSERT_TRUE(s->Feed(Packet(ok)));
    EXPECT_EQ(s->subscribedHandles(), 1u) << "duplicates are kept once";

    auto rawSubscribe = [](size_t tagBytes, size_t handles) {
        Bytes b(16 + 4 + tagBytes + 4 * handles, 0);
        PacketHeader h{kPacketMagic, kCodeQuoteSubscribe, 1, 1, static_cast<uint32_t>(b.size())};
        std::memcpy(b.data(), &h, sizeof h);
        uint32_t n = static_cast<uint32_t>(tagBytes);
        std::memcpy(b.data() + 16, &n, 4);
        return b;
    };
    for (auto [tag, handles] : {std::pair<size_t, size_t>{10241, 1}, {5, 5001}}) {
        auto t = NewSession();
        LogIn(*t);
        EXPECT_FALSE(t->Feed(rawSubscribe(tag, handles))) << tag << " " << handles;
    }
}

TEST_F(SessionTest, SubscriptionsReplaceEndAndArePerWindowAndTag) {
    auto s = NewSession();
    LogIn(*s);
    auto subscribe = [&](uint32_t window, const char* tag, std::vector<SecurityHandle> handles) {
        QuoteSubscribe m;
        m.tag = tag;
        m.handles = std::move(handles);
        ASSERT_TRUE(s->Feed(Packet(m, 3, window)));
    };
    subscribe(1, "GVIEW", {1600000, 1600001, 1999999});  // the last one the server lacks
    std::vector<Bytes> r = Replies(*s);
    ASSERT_EQ(r.size(), 1u);
    QuoteReply first;
    ASSERT_TRUE(first.Read(r[0]));
    ASSERT_EQ(first.quotes.size(), 2u) << "an unknown security gets no quote, not a crash";
    subscribe(1, "BVIEW", {1600002});
    subscribe(2, "GVIEW", {1600003});
    subscribe(1, "GVIEW", {1600004});  // replaces window 1's GVIEW
    Replies(*s);
    EXPECT_EQ(s->subscriptionCount(), 3u);

    std::vector<char> changed(market_.size(), 1);
    s->OnMarketChanged(changed, false);
    std::map<std::pair<uint32_t, SecurityHandle>, int> seen;
    for (const Bytes& p : Replies(*s)) {
        QuoteReply q;
        if (LoadPacketHeader(p.data()).code != kCodeQuoteReply || !q.Read(p)) continue;
        for (const QuoteRecord& rec : q.quotes) ++seen[{q.window, rec.handle}];
    }
    std::map<std::pair<uint32_t, SecurityHandle>, int> expected = {
        {{1, 1600004}, 1}, {{1, 1600002}, 1}, {{2, 1600003}, 1}};
    EXPECT_EQ(seen, expected);

    subscribe(1, "GVIEW", {});  // ends it
    EXPECT_EQ(s->subscriptionCount(), 2u);
    // Only changed securities are pushed.
    std::vector<char> one(market_.size(), 0);
    one[market_.Find(1600003)] = 1;
    s->OnMarketChanged(one, false);
    std::vector<Bytes> pushes = Replies(*s);
    ASSERT_EQ(pushes.size(), 1u);
    QuoteReply q;
    ASSERT_TRUE(q.Read(pushes[0]));
    EXPECT_EQ(q.window, 2u);
    ASSERT_EQ(q.quotes.size(), 1u);
    EXPECT_EQ(q.quotes[0].handle, 1600003u);
}

TEST_F(SessionTest, RankedPagesSortBothWaysAndPage) {
    auto s = NewSession();
    LogIn(*s);
    auto changeOf = [&](SecurityHandle h) {
        const SimSecurity& sec = market_.at(market_.Find(h));
        return (sec.quote.bar.close - sec.quote.prevClose) / sec.quote.prevClose;
    };
    // Independent order: every Shanghai A share by 涨幅.
    std::vector<SecurityHandle> all;
    for (const SimSecurity& sec : market_.securities())
        if (!sec.isIndex) all.push_back(sec.handle);
    for (uint32_t direction : {0u, 1u}) {
        std::vector<SecurityHandle> expected = all;
        std::stable_sort(expected.begin(), expected.end(), [&](SecurityHandle a, SecurityHandle b) {
            return direction ? changeOf(a) > changeOf(b) : changeOf(a) < changeOf(b);
        });
        RankPageRequest req;
        req.kind = kRankPageBlock;
        req.pageName = "\xC9\xCF\xD6\xA4" "A\xB9\xC9";  // 上证A股
        req.sortField = 5;
        req.sortDirection = direction;
        req.firstRow = 2;
        req.rowCount = 4;
        ASSERT_TRUE(s->Feed(Packet(req, 40 + direction, 3)));
        std::vector<Bytes> r = Replies(*s);
        ASSERT_EQ(r.size(), 1u);
        RankPageReply reply;
        ASSERT_TRUE(reply.Read(r[0]));
        EXPECT_EQ(reply.serial, 40 + direction);
        EXPECT_EQ(reply.firstRow, 2u);
        ASSERT_EQ(reply.quotes.size(), 4u);
        for (size_t k = 0; k < 4; ++k) EXPECT_EQ(reply.quotes[k].handle, expected[2 + k]) << direction << k;
    }
    // A page past the end holds no rows; kind 0 ends the page.
    RankPageRequest past;
    past.kind = kRankPageBlock;
    past.pageName = "x";
    past.sortField = 4;
    past.firstRow = 100;
    past.rowCount = 10;
    ASSERT_TRUE(s->Feed(Packet(past)));
    RankPageReply empty;
    std::vector<Bytes> r = Replies(*s);
    ASSERT_EQ(r.size(), 1u);
    ASSERT_TRUE(empty.Read(r[0]));
    EXPECT_TRUE(empty.quotes.empty());

    RankPageRequest q;
    q.kind = kRankPageComprehensive;
    q.pageName = "\xBB\xA6\xC9\xEE";  // 沪深
    q.rowCount = 3;
    ASSERT_TRUE(s->Feed(Packet(q)));
    r = Replies(*s);
    ASSERT_EQ(r.size(), 1u);
    RankPageReply ranking;
    ASSERT_TRUE(ranking.Read(r[0]));
    ASSERT_EQ(ranking.entries.size(), 27u);
    EXPECT_EQ(ranking.rowsPerTable(), 3u);
    // The panels' order: table 0 (今日涨幅) rises first, table 3 (今日跌幅) falls first, both as
    // fractions of the same change; table 6 (今日振幅) is never negative.
    EXPECT_GE(ranking.entries[0].value, ranking.entries[1].value);
    EXPECT_LE(ranking.entries[9].value, ranking.entries[10].value);
    EXPECT_NEAR(ranking.entries[0].value, changeOf(ranking.entries[0].handle), 1e-5);
    EXPECT_NEAR(ranking.entries[9].value, changeOf(ranking.entries[9].handle), 1e-5);
    EXPECT_LE(ranking.entries[9].value, ranking.entries[0].value);
    for (size_t k = 18; k < 21; ++k) EXPECT_GE(ranking.entries[k].value, 0.0f);
}

TEST_F(SessionTest, ProtocolFaults) {
    config_.faults.garble.insert(kCodeCodeTable);
    config_.faults.closeAt.insert(kCodeBlockList);
    auto s = NewSession();
    LogIn(*s);
    CodeTableRequest table;
    ASSERT_TRUE(s->Feed(Packet(table)));
    std::vector<Bytes> r = Replies(*s);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(LoadPacketHeader(r[0].data()).code, kCodeCodeTable);
    EXPECT_EQ(r[0].size(), 17u);
    BlockListRequest blocks;
    EXPECT_FALSE(s->Feed(Packet(blocks)));
    EXPECT_TRUE(Replies(*s).empty());

    config_.faults = FaultPlan{};
    config_.faults.refuseLogin = "busy";
    auto refused = NewSession();
    Login login;
    login.account = kGuestAccount;
    login.password = kGuestPassword;
    refused->Feed(Packet(login));
    LoginReply reply;
    r = Replies(*refused);
    ASSERT_EQ(r.size(), 1u);
    ASSERT_TRUE(reply.Read(r[0]));
    EXPECT_NE(reply.refused, 0);
    EXPECT_EQ(reply.message, "busy");

    config_.faults = FaultPlan{};
    config_.faults.silent = true;
    auto silent = NewSession();
    EXPECT_TRUE(silent->Feed(Packet(login)));
    EXPECT_TRUE(Replies(*silent).empty());
}

TEST_F(SessionTest, LongRepliesAreCompressedShortOnesNot) {
    config_.compressThreshold = 200;
    auto s = NewSession();
    LogIn(*s);
    QuoteRefreshRequest all;  // 9 quotes of 137 bytes: above the threshold
    KeepAlive keep;           // no payload
    ASSERT_TRUE(s->Feed(Packet(all)));
    ASSERT_TRUE(s->Feed(Packet(keep)));
    std::vector<Bytes> wire = s->TakeOutput();
    ASSERT_EQ(wire.size(), 2u);
    EXPECT_EQ(wire[0][16] & kFlagCompressed, kFlagCompressed);
    EXPECT_LT(wire[0].size(), 21 + 8 + 9 * 137u);
    EXPECT_EQ(wire[1][16] & kFlagCompressed, 0);
    QuoteRefreshReply reply;
    ASSERT_TRUE(reply.Read(*Decompress(wire[0])));
    EXPECT_EQ(reply.quotes.size(), 9u);
}

TEST(FaultPlanTest, ParsesEveryFaultAndRefusesNonsense) {
    FaultPlan plan;
    for (const char* fault : {"split=1", "delay=25", "drop-after=3", "close-at=0xA003", "close-at=B001",
                             "garble=45059", "refuse-login=no", "silent"})
        EXPECT_TRUE(ParseFault(fault, plan, nullptr)) << fault;
    EXPECT_EQ(plan.split, FaultPlan::Split::OneByte);
    EXPECT_EQ(plan.delayMs, 25u);
    EXPECT_EQ(plan.dropAfter, 3u);
    EXPECT_EQ(plan.closeAt, (std::set<uint16_t>{0xA003, 0xB001}));
    EXPECT_EQ(plan.garble, (std::set<uint16_t>{0xB003}));
    EXPECT_TRUE(plan.silent);
    ASSERT_TRUE(ParseFault("split=random", plan, nullptr));
    EXPECT_EQ(plan.split, FaultPlan::Split::Random);
    std::string error;
    for (const char* fault : {"split=2", "delay=x", "close-at=0x12345", "explode", "drop-after="})
        EXPECT_FALSE(ParseFault(fault, plan, &error)) << fault;
    EXPECT_FALSE(error.empty());
}

}  // namespace
}  // namespace tessaro
