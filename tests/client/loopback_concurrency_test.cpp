// The client over real sockets: against the scripted server on loopback, and
// through real proxies (danted, microsocks, tinyproxy) started on free loopback
// ports with their own configuration. A proxy that cannot be started skips its
// test with the reason.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <fstream>

#include "client/posix_transport.h"
#include "client/quote_session.h"
#include "client/reply_handlers.h"
#include "market/market_store.h"
#include "tools/blocks/block_set.h"
#include "loopback_peer.h"
#include "platform/settings_store.h"
#include "test_support/temp_dir.h"

namespace tessaro {
namespace {

using test::LoopbackPeer;

struct Outcome {
    bool ready = false;
    bool refused = false;
    bool connectFailed = false;
    bool disconnected = false;
    int quotes = 0;
    int securities = 0;
    std::vector<std::string> statuses;
};

Outcome RunClient(uint16_t serverPort, ProxySettings proxy = {}, uint64_t limitMs = 10000, bool watch = true) {
    TempDir dir;
    AppPaths paths(dir.path());
    SettingsStore settings;
    MarketStore store(paths, settings);
    store.LoadAll();
    BlockSet set(paths);
    BlockSetSink blocks(set);
    Outcome out;
    PosixTransport net;
    QuoteSession session(ClientContext{paths, &store, nullptr, &settings, &blocks}, net,
                         [&](const ClientNotice& n) {
                             if (n.kind == NoticeKind::Status) out.statuses.push_back(n.text);
                             if (n.kind == NoticeKind::LoginRefused) out.refused = true;
                             if (n.kind == NoticeKind::ConnectFailed) out.connectFailed = true;
                             if (n.kind == NoticeKind::Disconnected) out.disconnected = true;
                         });
    net.Attach(&session);
    ConnectTarget target{"loopback", "127.0.0.1", serverPort, proxy};
    uint64_t start = PosixTransport::NowMs();
    session.Connect(target, {"guest", "abcde"}, start);
    while (!session.ready() && !out.refused && !out.connectFailed && !out.disconnected &&
           PosixTransport::NowMs() - start < limitMs)
        net.Poll(10);
    out.ready = session.ready();
    if (out.ready && watch) {
        session.RegisterWindow(4, [&](const PacketHeader& h, ByteSpan p) {
            if (h.code != kCodeQuoteReply) return;
            QuoteReply r;
            if (r.Read(p)) out.quotes += int(r.quotes.size());
        });
        QuoteSubscribe s;
        s.tag = "BVIEW";
        s.handles = {1600000, 1600001};
        session.Send(s, 4);
        uint64_t t = PosixTransport::NowMs();
        while (out.quotes < 2 && PosixTransport::NowMs() - t < 5000) net.Poll(10);
    }
    out.securities = store.SecurityCount(kMarketSH);
    session.Disconnect(PosixTransport::NowMs());
    return out;
}

TEST(ClientLoopbackConcurrency, DirectChainAndQuotes) {
    LoopbackPeer peer({});
    Outcome o = RunClient(peer.port());
    EXPECT_TRUE(o.ready);
    EXPECT_EQ(o.quotes, 2);
    EXPECT_EQ(o.securities, 51);
    EXPECT_EQ(peer.logins(), 1);
}

TEST(ClientLoopbackConcurrency, FaultMatrixOfTheScriptedServer) {
    {
        LoopbackPeer::Plan plan;
        plan.oneByteWrites = true;
        LoopbackPeer peer(plan);
        Outcome o = RunClient(peer.port());
        EXPECT_TRUE(o.ready);
        EXPECT_EQ(o.quotes, 2);
    }
    {
        LoopbackPeer::Plan plan;
        plan.refuseLogin = true;
        LoopbackPeer peer(plan);
        Outcome o = RunClient(peer.port());
        EXPECT_TRUE(o.refused);
        EXPECT_FALSE(o.ready);
    }
    // The server closes at each step of the chain.
    for (uint16_t code : {uint16_t(kCodeLogin), uint16_t(kCodeServerList), uint16_t(kCodeCodeTable),
                          uint16_t(kCodeBlockList), uint16_t(kCodeBaseFile)}) {
        LoopbackPeer::Plan plan;
        plan.closeAtCode = code;
        LoopbackPeer peer(plan);
        Outcome o = RunClient(peer.port(), {}, 5000, false);
        EXPECT_FALSE(o.ready) << std::hex << code;
        EXPECT_TRUE(o.disconnected) << std::hex << code;
    }
    // A garbled chain reply shuts the connection down.
    {
        LoopbackPeer::Plan plan;
        plan.garbleCode = kCodeServerList;
        LoopbackPeer peer(plan);
        Outcome o = RunClient(peer.port(), {}, 5000, false);
        EXPECT_FALSE(o.ready);
        EXPECT_TRUE(o.disconnected);
    }
    // Nobody listening.
    uint16_t closedPort;
    {
        LoopbackPeer peer({});
        closedPort = peer.port();
    }
    Outcome o = RunClient(closedPort, {}, 5000, false);
    EXPECT_TRUE(o.connectFailed);
}

TEST(ClientLoopbackConcurrency, ServerRestartReconnectsWithoutTheChainThenOffersTheDialog) {
    TempDir dir;
    AppPaths paths(dir.path());
    SettingsStore settings;
    MarketStore store(paths, settings);
    store.LoadAll();
    int connectedNotices = 0, offers = 0, failures = 0;
    PosixTransport net;
    QuoteSession session(ClientContext{paths, &store, nullptr, &settings, nullptr}, net, [&](const ClientNotice& n) {
        connectedNotices += n.kind == NoticeKind::Connected;
        offers += n.kind == NoticeKind::OfferLoginDialog;
        failures += n.kind == NoticeKind::ConnectFailed;
    });
    session.SetAutocontime(0);  // reconnect on the next tick after the close
    net.Attach(&session);
    auto pump = [&](auto done) {
        uint64_t t = PosixTransport::NowMs();
        while (!done() && PosixTransport::NowMs() - t < 5000) net.Poll(5);
        return done();
    };
    auto peer = std::make_unique<LoopbackPeer>(LoopbackPeer::Plan{});
    uint16_t port = peer->port();
    session.Connect(ConnectTarget{"l", "127.0.0.1", port, {}}, {"guest", "x"}, PosixTransport::NowMs());
    ASSERT_TRUE(pump([&] { return session.ready(); }));
    peer->DropConnection();
    ASSERT_TRUE(pump([&] { return connectedNotices == 2; }));
    EXPECT_EQ(peer->logins(), 2);
    EXPECT_EQ(peer->codeTables(), 1);  // the chain ran once
    EXPECT_EQ(peer->connections(), 2);
    // The server goes away for good: five attempts, then the login dialog.
    peer.reset();
    ASSERT_TRUE(pump([&] { return offers == 1; }));
    EXPECT_EQ(failures, 5);
    EXPECT_FALSE(session.autoReconnect());
}

// ---- Real proxies ----------------------------------------------------------------

uint16_t FreePort() {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(fd);
    return ntohs(a.sin_port);
}

bool PortAccepts(uint16_t port) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(fd);
    return ok;
}

std::string FindProgram(const char* name) {
    for (const char* dir : {"/usr/sbin/", "/usr/bin/", "/sbin/", "/bin/", "/usr/local/bin/", "/usr/local/sbin/"}) {
        std::string p = std::string(dir) + name;
        if (::access(p.c_str(), X_OK) == 0) return p;
    }
    return {};
}

// A proxy process in the foreground, killed at the end of the test.
class ProxyProcess {
public:
    // Empty reason: running and accepting on `port`.
    std::string Start(const std::vector<std::string>& argv, uint16_t port, const std::string& logFile) {
        if (argv.empty() || argv[0].empty()) return "program not installed";
        pid_ = ::fork();
        if (pid_ == 0) {
            int log = ::open(logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
            if (log >= 0) {
                ::dup2(log, 1);
                ::dup2(log, 2);
            }
            std::vector<char*> args;
            for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
            args.push_back(nullptr);
            ::execv(args[0], args.data());
            ::_exit(127);
        }
        for (int i = 0; i < 150; ++i) {
            if (PortAccepts(port)) return {};
            int status;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                std::ifstream in(logFile);
                std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
                return argv[0] + " exited at start: " + text.substr(0, 400);
            }
            ::usleep(20000);
        }
        return argv[0] + " did not accept connections within 3 s";
    }
    ~ProxyProcess() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
    }

private:
    pid_t pid_ = -1;
};

void WriteText(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

class RealProxyConcurrency : public ::testing::Test {
protected:
    TempDir dir_;
    LoopbackPeer peer_{{}};
    ProxyProcess proxy_;
    uint16_t proxyPort_ = FreePort();

    std::string StartDante() {
        std::string conf = dir_.path() + "/danted.conf";
        WriteText(conf, "logoutput: " + dir_.path() + "/danted.log\n"
                        "internal: 127.0.0.1 port = " + std::to_string(proxyPort_) + "\n"
                        "external: 127.0.0.1\n"
                        "clientmethod: none\n"
                        "socksmethod: none\n"
                        "user.privileged: root\n"
                        "user.unprivileged: nobody\n"
                        "client pass { from: 127.0.0.0/8 to: 0.0.0.0/0 }\n"
                        "socks pass { from: 127.0.0.0/8 to: 127.0.0.1/32 port = " + std::to_string(peer_.port()) +
                        " command: connect }\n"
                        "socks block { from: 0.0.0.0/0 to: 0.0.0.0/0 }\n");
        return proxy_.Start({FindProgram("danted"), "-f", conf, "-N", "1", "-p", dir_.path() + "/danted.pid"},
                            proxyPort_, dir_.path() + "/danted.out");
    }
};

TEST_F(RealProxyConcurrency, DanteSocks4AndSocks5AndRefusal) {
    if (std::string why = StartDante(); !why.empty()) GTEST_SKIP() << "danted: " << why;
    for (ProxyKind kind : {ProxyKind::Socks4, ProxyKind::Socks5}) {
        Outcome o = RunClient(peer_.port(), ProxySettings{kind, "127.0.0.1", proxyPort_, "", ""});
        EXPECT_TRUE(o.ready) << int(kind);
        EXPECT_EQ(o.quotes, 2) << int(kind);
    }
    // A destination the rules block: SOCKS4 answers 0x5B and the client fails
    // as with an unreachable server.
    Outcome refused = RunClient(uint16_t(peer_.port() + 1), ProxySettings{ProxyKind::Socks4, "127.0.0.1", proxyPort_, "", ""},
                                5000, false);
    EXPECT_TRUE(refused.connectFailed);
    EXPECT_FALSE(refused.ready);
}

TEST_F(RealProxyConcurrency, MicrosocksWithUserAndPassword) {
    if (std::string why = proxy_.Start({FindProgram("microsocks"), "-i", "127.0.0.1", "-p", std::to_string(proxyPort_),
                                        "-u", "ann", "-P", "secret"},
                                       proxyPort_, dir_.path() + "/microsocks.out");
        !why.empty())
        GTEST_SKIP() << "microsocks: " << why;
    Outcome o = RunClient(peer_.port(), ProxySettings{ProxyKind::Socks5, "127.0.0.1", proxyPort_, "ann", "secret"});
    EXPECT_TRUE(o.ready);
    EXPECT_EQ(o.quotes, 2);
    Outcome wrong = RunClient(peer_.port(), ProxySettings{ProxyKind::Socks5, "127.0.0.1", proxyPort_, "ann", "bad"},
                              5000, false);
    EXPECT_TRUE(wrong.connectFailed);
    Outcome none = RunClient(peer_.port(), ProxySettings{ProxyKind::Socks5, "127.0.0.1", proxyPort_, "", ""}, 5000,
                             false);
    EXPECT_TRUE(none.connectFailed);
}

TEST_F(RealProxyConcurrency, TinyproxyConnectAnd407) {
    auto conf = [&](const std::string& name, bool auth) {
        std::string path = dir_.path() + "/" + name;
        WriteText(path, "Port " + std::to_string(proxyPort_) + "\nListen 127.0.0.1\nTimeout 60\nAllow 127.0.0.1\n"
                        "User nobody\nGroup nogroup\nMaxClients 10\nConnectPort " + std::to_string(peer_.port()) +
                        "\nLogFile \"" + dir_.path() + "/tinyproxy.log\"\n" + (auth ? "BasicAuth ann secret\n" : ""));
        return path;
    };
    if (std::string why = proxy_.Start({FindProgram("tinyproxy"), "-d", "-c", conf("tp.conf", false)}, proxyPort_,
                                       dir_.path() + "/tinyproxy.out");
        !why.empty())
        GTEST_SKIP() << "tinyproxy: " << why;
    Outcome o = RunClient(peer_.port(), ProxySettings{ProxyKind::Http, "127.0.0.1", proxyPort_, "", ""});
    EXPECT_TRUE(o.ready);
    EXPECT_EQ(o.quotes, 2);

    ProxyProcess authProxy;
    uint16_t authPort = FreePort();
    proxyPort_ = authPort;
    if (std::string why = authProxy.Start({FindProgram("tinyproxy"), "-d", "-c", conf("tp-auth.conf", true)}, authPort,
                                          dir_.path() + "/tinyproxy-auth.out");
        !why.empty())
        GTEST_SKIP() << "tinyproxy with BasicAuth: " << why;
    Outcome denied = RunClient(peer_.port(), ProxySettings{ProxyKind::Http, "127.0.0.1", authPort, "", ""}, 5000, false);
    EXPECT_TRUE(denied.connectFailed);
    EXPECT_FALSE(denied.ready);
}

}  // namespace
}  // namespace tessaro
