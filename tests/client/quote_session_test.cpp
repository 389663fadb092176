#include "client/quote_session.h"

#include <gtest/gtest.h>

#include "formula/formula_set.h"
#include "market/block_file.h"
#include "market/market_store.h"
#include "tools/blocks/block_set.h"
#include "net/realtime_messages.h"
#include "net/security_handle.h"
#include "platform/files.h"
#include "platform/settings_store.h"
#include "platform/text.h"
#include "scripted_peer.h"
#include "test_support/temp_dir.h"

namespace tessaro {
namespace {

using test::CodeOf;
using test::FakeTransport;
using test::Reply;

Bytes BlockFile(const std::string& gbkName, const std::string& indexCode, std::vector<SecurityId> members) {
    BlockFileData d;
    d.setting = kBlockServer;
    d.name = gbkName;
    d.indexCode = indexCode;
    d.members = std::move(members);
    return SerializeBlockFile(d);
}

SecurityId Id(MarketCode m, const char* code) {
    SecurityId id;
    id.market = m;
    id.setCode(code);
    return id;
}

class QuoteSessionTest : public ::testing::Test {
protected:
    QuoteSessionTest() {
        store_.LoadAll();
        session_.SetAutocontime(10);
    }

    ConnectTarget Target(ProxyKind kind = ProxyKind::None) {
        ConnectTarget t{"local", "127.0.0.1", 6051, {}};
        t.proxy.kind = kind;
        t.proxy.host = "proxy.local";
        t.proxy.port = 1080;
        return t;
    }

    // Connects and answers the login; returns the packets that followed it.
    std::vector<Bytes> LogIn(uint64_t now = 1000, bool refused = false) {
        session_.Connect(Target(), {"guest", "abcde"}, now);
        session_.OnConnected(now);
        auto packets = net_.TakePackets();
        EXPECT_EQ(packets.size(), 1u);
        EXPECT_EQ(CodeOf(packets[0]), kCodeLogin);
        LoginReply reply;
        reply.refused = refused ? 1 : 0;
        reply.message = refused ? Utf8ToGbk("帐号已过期") : "";
        reply.sid = "S1";
        reply.f9Page = "http://f9/[SID]";
        Feed(Reply(reply, packets[0]));
        return net_.TakePackets();
    }

    void Feed(const Bytes& bytes, uint64_t now = 1000) { session_.OnBytes(bytes, now); }

    // Answers the chain packets one at a time until the session is ready.
    void RunChain(std::vector<Bytes> packets, const std::vector<BlockStampRecord>& blocks = {},
                  const std::map<std::string, Bytes>& blockFiles = {}, std::string financeBytes = "FIN") {
        while (!packets.empty()) {
            Bytes request = packets.front();
            packets.erase(packets.begin());
            wire_.push_back(CodeOf(request));
            switch (CodeOf(request)) {
                case kCodeServerList: {
                    ServerListReply r;
                    r.text = "list";
                    Feed(Reply(r, request));
                    break;
                }
                case kCodeCodeTable: {
                    CodeTableReply r;
                    r.records.push_back(EncodeCodeRecord(1600000, Utf8ToGbk("浦发银行")));
                    r.records.push_back(EncodeCodeRecord(1000001, Utf8ToGbk("上证指数")));
                    r.records.push_back(EncodeCodeRecord(1, Utf8ToGbk("平安银行")));
                    Feed(Reply(r, request, true));
                    break;
                }
                case kCodeBlockList: {
                    BlockListReply r;
                    r.records = blocks;
                    Feed(Reply(r, request));
                    break;
                }
                case kCodeBlockFile: {
                    BlockFileRequest q;
                    EXPECT_TRUE(q.Read(request));
                    blockRequests_.push_back(q.blockName);
                    BlockFileReply r;
                    r.blockName = q.blockName;
                    auto it = blockFiles.find(q.blockName);
                    if (it != blockFiles.end()) r.fileBytes.assign(it->second.begin(), it->second.end());
                    Feed(Reply(r, request));
                    break;
                }
                case kCodeBaseFile: {
                    BaseFileRequest q;
                    EXPECT_TRUE(q.Read(request));
                    baseKinds_.push_back(q.kind);
                    BaseFileReply r;
                    r.kind = q.kind;
                    if (q.kind == kBaseFileFinance) r.fileBytes = financeBytes;
                    Feed(Reply(r, request));
                    break;
                }
                default:
                    after_.push_back(CodeOf(request));
                    break;
            }
            auto more = net_.TakePackets();
            packets.insert(packets.end(), more.begin(), more.end());
        }
    }

    size_t Count(NoticeKind kind) const {
        size_t n = 0;
        for (const auto& x : notices_) n += x.kind == kind;
        return n;
    }
    std::vector<std::string> Statuses() const {
        std::vector<std::string> out;
        for (const auto& x : notices_)
            if (x.kind == NoticeKind::Status) out.push_back(x.text);
        return out;
    }

    TempDir dir_;
    AppPaths paths_{dir_.path()};
    SettingsStore settings_;
    MarketStore store_{paths_, settings_};
    BlockSet set_{paths_};
    BlockSetSink blocks_{set_};
    FakeTransport net_;
    std::vector<ClientNotice> notices_;
    QuoteSession session_{ClientContext{paths_, &store_, nullptr, &settings_, &blocks_}, net_,
                          [this](const ClientNotice& n) { notices_.push_back(n); }};
    std::vector<uint16_t> wire_, after_;
    std::vector<uint32_t> baseKinds_;
    std::vector<std::string> blockRequests_;
};

BlockStampRecord Stamp(const std::string& gbk, uint32_t crc) {
    BlockStampRecord r;
    CopyToField(r.name, gbk);
    r.checksum = crc;
    return r;
}

TEST_F(QuoteSessionTest, ChainWireOrderFilesAndReadyBroadcast) {
    // A downloaded block the server still lists unchanged, one it lists changed,
    // one it no longer lists, and one differing only in case from a listed name.
    ASSERT_TRUE(blocks_.StoreBlockFile("keep", BlockFile("keep", "", {})));
    ASSERT_TRUE(blocks_.StoreBlockFile("old", BlockFile("old", "", {})));
    ASSERT_TRUE(blocks_.StoreBlockFile("Gone", BlockFile("Gone", "", {})));
    ASSERT_TRUE(blocks_.StoreBlockFile("CASE", BlockFile("CASE", "", {})));
    ASSERT_TRUE(CreateDirectories(paths_.formulaFile(kSourceDownload)));
    ASSERT_TRUE(WriteFileAtomic(paths_.formulaFile(kSourceDownload), std::string("old formulas")));
    uint32_t keepCrc = 0, caseCrc = 0;
    for (auto& s : blocks_.DownloadedBlocks()) {
        if (s.name == "keep") keepCrc = s.checksum;
        if (s.name == "CASE") caseCrc = s.checksum;
    }
    std::string bank = Utf8ToGbk("银行");
    auto packets = LogIn();
    RunChain(packets,
             {Stamp("keep", keepCrc), Stamp(bank, 1), Stamp("old", 99), Stamp("case", caseCrc)},
             {{bank, BlockFile(bank, "998001", {Id(kMarketSH, "600000")})}, {"old", BlockFile("old", "", {})}});

    std::vector<uint16_t> expect{kCodeServerList, kCodeCodeTable, kCodeBlockList, kCodeBaseFile,
                                 kCodeBaseFile,   kCodeBaseFile,  kCodeBlockFile, kCodeBlockFile};
    EXPECT_EQ(std::vector<uint16_t>(wire_.begin(), wire_.begin() + std::ptrdiff_t(expect.size())), expect);
    EXPECT_EQ(baseKinds_, (std::vector<uint32_t>{1, 2, 3}));
    EXPECT_EQ(blockRequests_, (std::vector<std::string>{bank, "old"}));
    // Ready: the MAINFRAME subscription and the page numbers go out after the chain.
    EXPECT_EQ(after_, (std::vector<uint16_t>{kCodeQuoteSubscribe, kCodeInfoIndexRequest}));
    EXPECT_TRUE(session_.ready());
    EXPECT_EQ(Count(NoticeKind::Connected), 1u);
    EXPECT_TRUE(session_.autoReconnect());

    // Files: server list, finance written; empty kind 2 leaves Power.pwr absent;
    // empty kind 3 deletes download.fml; the unlisted block is gone, the case one stays.
    EXPECT_EQ(ReadWholeFile(paths_.serverListFile()).value_or(Bytes{}), (Bytes{'l', 'i', 's', 't'}));
    EXPECT_TRUE(FileExists(paths_.financeFile()));
    EXPECT_FALSE(FileExists(paths_.powerFile()));
    EXPECT_FALSE(FileExists(paths_.formulaFile(kSourceDownload)));
    EXPECT_FALSE(FileExists(paths_.blockDir() + "Gone.blk"));
    EXPECT_TRUE(FileExists(paths_.blockDir() + "CASE.blk"));
    EXPECT_TRUE(FileExists(paths_.blockDir() + "银行.blk"));

    // Code table and the block index security.
    EXPECT_EQ(store_.GetName(Id(kMarketSH, "600000")), Utf8ToGbk("浦发银行"));
    EXPECT_EQ(store_.GetName(Id(kMarketSZ, "000001")), Utf8ToGbk("平安银行"));
    EXPECT_EQ(store_.GetName(Id(kMarketSystem, "998001")), Utf8ToGbk("银行指数"));
    EXPECT_EQ(store_.GetClass(Id(kMarketSystem, "998001")), kClassIndex);

    EXPECT_EQ(Statuses(), (std::vector<std::string>{"正在连接，请稍候...", "正在获取服务器列表...",
                                                    "正在获取股票代码表...", "正在获取板块列表...",
                                                    "正在获取财务数据...", "正在获取[银行]板块数据...",
                                                    "正在获取[old]板块数据..."}));
    EXPECT_EQ(settings_.getString(SettingsKey("Settings"), "F9URL").value_or(""), "http://f9/[SID]");
    EXPECT_EQ(session_.sid(), "S1");
}

// Without an account of the user's the login is the guest's, with the password
// the server agrees on (an empty one would be refused).
TEST_F(QuoteSessionTest, DefaultLoginIsTheGuestWithItsPassword) {
    session_.Connect(Target(), LoginAccount{}, 0);
    session_.OnConnected(0);
    auto packets = net_.TakePackets();
    ASSERT_EQ(packets.size(), 1u);
    Login login;
    ASSERT_TRUE(login.Read(packets[0]));
    EXPECT_EQ(login.account, kGuestAccount);
    EXPECT_EQ(login.password, kGuestPassword);
}

TEST_F(QuoteSessionTest, EveryByteSeparatelyGivesTheSameChain) {
    session_.Connect(Target(), {"guest", "x"}, 0);
    session_.OnConnected(0);
    auto login = net_.TakePackets();
    LoginReply reply;
    Bytes bytes = Reply(reply, login[0]);
    for (uint8_t b : bytes) session_.OnBytes(ByteSpan(&b, 1), 0);
    auto next = net_.TakePackets();
    ASSERT_EQ(next.size(), 1u);
    EXPECT_EQ(CodeOf(next[0]), kCodeServerList);
    ServerListReply list;
    list.text = "abc";
    Bytes listBytes = Reply(list, next[0], true);
    for (uint8_t b : listBytes) session_.OnBytes(ByteSpan(&b, 1), 0);
    next = net_.TakePackets();
    ASSERT_EQ(next.size(), 1u);
    EXPECT_EQ(CodeOf(next[0]), kCodeCodeTable);
}

TEST_F(QuoteSessionTest, RefusedLoginShowsTheMessageAndDoesNotReconnect) {
    auto after = LogIn(1000, true);
    EXPECT_TRUE(after.empty());
    ASSERT_EQ(Count(NoticeKind::LoginRefused), 1u);
    for (auto& n : notices_)
        if (n.kind == NoticeKind::ServerMessage) {
            EXPECT_EQ(n.text, "帐号已过期");
            EXPECT_TRUE(n.refused);
        }
    EXPECT_EQ(session_.state(), QuoteSession::State::NoSocket);
    EXPECT_FALSE(session_.autoReconnect());
    session_.OnTick(1000 + 3600 * 1000);
    EXPECT_EQ(net_.connects.size(), 1u);
}

TEST_F(QuoteSessionTest, GarbledChainReplyShutsDown) {
    auto packets = LogIn();
    ASSERT_EQ(CodeOf(packets[0]), kCodeServerList);
    // A server list reply whose String count runs past the end.
    ServerListReply r;
    r.text = "abcdef";
    Bytes bytes = Reply(r, packets[0]);
    StoreLE<uint32_t>(bytes.data() + 21, 1000);
    Feed(bytes);
    EXPECT_EQ(session_.state(), QuoteSession::State::NoSocket);
    EXPECT_EQ(Count(NoticeKind::Disconnected), 1u);
    EXPECT_FALSE(FileExists(paths_.serverListFile()));
}

TEST_F(QuoteSessionTest, KeepAliveAfterFortySecondsOfSilenceAndQuotesPostponeIt) {
    RunChain(LogIn(1000));
    ASSERT_TRUE(session_.ready());
    net_.TakePackets();
    session_.OnTick(1000 + kKeepAliveIdleMs);  // exactly 40 s: not yet
    EXPECT_TRUE(net_.TakePackets().empty());
    // A quote at 30 s postpones the keep-alive to 70 s.
    QuoteReply quotes;
    quotes.quotes.push_back(EncodeQuoteRecord(1600000, QuoteSnapshot{}));
    session_.OnBytes(test::Push(quotes), 31000);
    session_.OnTick(1000 + kKeepAliveIdleMs + 1);
    EXPECT_TRUE(net_.TakePackets().empty());
    session_.OnTick(31000 + kKeepAliveIdleMs + 1);
    auto sent = net_.TakePackets();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(CodeOf(sent[0]), kCodeKeepAlive);
    EXPECT_EQ(sent[0].size(), 16u);
    // The keep-alive itself is activity: the next one waits another 40 s.
    session_.OnTick(31000 + kKeepAliveIdleMs + 2);
    EXPECT_TRUE(net_.TakePackets().empty());
}

TEST_F(QuoteSessionTest, ReconnectionRepeatsTheLoginWithoutTheChainAndOffersTheDialogAfterFive) {
    RunChain(LogIn(1000));
    ASSERT_TRUE(session_.ready());
    net_.TakePackets();
    session_.OnClosed(5000);
    EXPECT_EQ(Count(NoticeKind::Disconnected), 1u);
    session_.OnTick(5000 + 10000);  // exactly Autocontime: not yet
    EXPECT_EQ(net_.connects.size(), 1u);
    session_.OnTick(5000 + 10001);
    ASSERT_EQ(net_.connects.size(), 2u);
    EXPECT_EQ(session_.attempts(), 1);
    session_.OnConnected(15002);
    EXPECT_EQ(session_.attempts(), 0);
    auto login = net_.TakePackets();
    ASSERT_EQ(login.size(), 1u);
    EXPECT_EQ(CodeOf(login[0]), kCodeLogin);
    LoginReply ok;
    Feed(Reply(ok, login[0]), 15003);
    // No chain: ready at once, and the ready broadcast is repeated.
    auto after = net_.TakePackets();
    ASSERT_EQ(after.size(), 2u);
    EXPECT_EQ(CodeOf(after[0]), kCodeQuoteSubscribe);
    EXPECT_EQ(Count(NoticeKind::Connected), 2u);

    // Five failed attempts: the login dialog is offered and reconnection stops.
    session_.OnClosed(20000);
    uint64_t t = 20000;
    for (int i = 1; i <= 5; ++i) {
        t += 10001;
        session_.OnTick(t);
        EXPECT_EQ(session_.attempts(), i);
        session_.OnConnectFailed(t);
    }
    EXPECT_EQ(Count(NoticeKind::OfferLoginDialog), 1u);
    EXPECT_FALSE(session_.autoReconnect());
    size_t connects = net_.connects.size();
    session_.OnTick(t + 60000);
    EXPECT_EQ(net_.connects.size(), connects);
}

TEST_F(QuoteSessionTest, ServerCloseAndReinitEndWithoutReconnection) {
    for (uint16_t code : {uint16_t(kCodeServerClose), uint16_t(kCodeServerReinit)}) {
        notices_.clear();
        RunChain(LogIn(1000));
        ASSERT_TRUE(session_.ready());
        net_.TakePackets();
        if (code == kCodeServerClose) {
            ServerClose m;
            Feed(test::Push(m));
        } else {
            ServerReinit m;
            Feed(test::Push(m));
            bool shown = false;
            for (auto& n : notices_) shown |= n.kind == NoticeKind::ServerMessage && n.text == kTextServerReinit;
            EXPECT_TRUE(shown);
        }
        EXPECT_EQ(session_.state(), QuoteSession::State::NoSocket);
        EXPECT_FALSE(session_.autoReconnect());
        size_t connects = net_.connects.size();
        session_.OnTick(1000000);
        EXPECT_EQ(net_.connects.size(), connects);
    }
}

TEST_F(QuoteSessionTest, SilentServerFailsAfterTheLimit) {
    session_.Connect(Target(), {"guest", "x"}, 0);
    session_.OnTick(kConnectLimitMs - 1);
    EXPECT_EQ(Count(NoticeKind::ConnectFailed), 0u);
    session_.OnTick(kConnectLimitMs);
    EXPECT_EQ(Count(NoticeKind::ConnectFailed), 1u);
    for (auto& n : notices_)
        if (n.kind == NoticeKind::ConnectFailed) {
            EXPECT_EQ(n.text, kTextCannotConnect);
        }

    // A server that accepts the connection and never answers the login fails the
    // same way, within the limit set (a shortened one here).
    notices_.clear();
    session_.SetConnectLimit(500);
    session_.Connect(Target(), LoginAccount{}, 1000);
    session_.OnConnected(1000);
    ASSERT_EQ(net_.TakePackets().size(), 1u);
    session_.OnTick(1499);
    EXPECT_EQ(session_.state(), QuoteSession::State::LoggingIn);
    session_.OnTick(1500);
    EXPECT_EQ(Count(NoticeKind::ConnectFailed), 1u);
    EXPECT_EQ(session_.state(), QuoteSession::State::NoSocket);
}

TEST_F(QuoteSessionTest, ProxyHandshakeThenLoginAndSilentProxyFails) {
    session_.Connect(Target(ProxyKind::Socks4), {"guest", "x"}, 0);
    ASSERT_EQ(net_.connects.size(), 1u);
    EXPECT_EQ(net_.connects[0].host, "proxy.local");
    session_.OnConnected(0);
    EXPECT_EQ(net_.sent.size(), 9u);
    net_.consumed = 9;
    // The answer and, in the same arrival, nothing else: then the login goes out.
    Bytes answer{0, 0x5A, 0, 0, 0, 0, 0, 0};
    session_.OnBytes(answer, 10);
    auto login = net_.TakePackets();
    ASSERT_EQ(login.size(), 1u);
    EXPECT_EQ(CodeOf(login[0]), kCodeLogin);
    EXPECT_EQ(session_.state(), QuoteSession::State::LoggingIn);

    notices_.clear();
    session_.Connect(Target(ProxyKind::Http), {"guest", "x"}, 100);
    session_.OnConnected(100);
    session_.OnTick(100 + kProxyHandshakeLimitMs);
    EXPECT_EQ(Count(NoticeKind::ConnectFailed), 1u);
    EXPECT_EQ(session_.state(), QuoteSession::State::NoSocket);
}

TEST_F(QuoteSessionTest, RepliesForUnknownWindowsAreDroppedAndUnsafeBlockNamesSkipped) {
    auto packets = LogIn();
    int calls = 0;
    session_.RegisterWindow(7, [&](const PacketHeader& h, ByteSpan) { calls += h.window == 7; });
    QuoteReply q;
    q.quotes.push_back(EncodeQuoteRecord(1600000, QuoteSnapshot{}));
    Feed(test::Push(q, 7));
    Feed(test::Push(q, 8));  // no such window
    EXPECT_EQ(calls, 1);
    session_.UnregisterWindow(7);
    Feed(test::Push(q, 7));
    EXPECT_EQ(calls, 1);

    for (const char* bad : {"../evil", "a/b", "a\\b", "..", "x\ny"}) {
        BlockFileReply r;
        r.blockName = bad;
        r.fileBytes = "data";
        Feed(test::Push(r, QuoteSession::kMainWindow));
    }
    EXPECT_FALSE(FileExists(dir_.path() + "/evil.blk"));
    EXPECT_GE(Count(NoticeKind::Log), 5u);
    EXPECT_TRUE(set_.Blocks().empty());
}

TEST_F(QuoteSessionTest, ServerBlockNeverReplacesTheUsersOwnBlockOfThatName) {
    std::string name = Utf8ToGbk("自选股1");
    Block mine;
    mine.setting = kBlockSelf;
    mine.name = name;
    mine.members = {Id(kMarketSZ, "000001")};
    ASSERT_TRUE(set_.SaveBlock(mine));
    set_.Mutate([&](std::vector<Block>& blocks) { blocks.push_back(mine); });
    auto before = ReadWholeFile(BlockFilePath(paths_, name));
    LogIn();
    BlockFileReply r;
    r.blockName = name;
    Bytes server = BlockFile(name, "", {Id(kMarketSH, "600000")});
    r.fileBytes.assign(server.begin(), server.end());
    Feed(test::Push(r, QuoteSession::kMainWindow));
    EXPECT_EQ(ReadWholeFile(BlockFilePath(paths_, name)), before);
    auto kept = set_.FindBlock(name);
    ASSERT_TRUE(kept);
    EXPECT_EQ(kept->setting, kBlockSelf);
    ASSERT_EQ(kept->members.size(), 1u);
    EXPECT_EQ(kept->members[0].market, kMarketSZ);
}

}  // namespace
}  // namespace tessaro
