#include "client/proxy_handshake.h"

#include <gtest/gtest.h>

#include <string>

namespace tessaro {
namespace {

Bytes B(std::string_view s) { return Bytes(s.begin(), s.end()); }
ByteSpan S(const Bytes& b) { return ByteSpan(b); }

ProxyHandshake Make(ProxyKind kind, std::string host = "10.1.2.3", uint16_t port = 6051,
                    std::string user = {}, std::string password = {}) {
    return ProxyHandshake(ProxySettings{kind, "proxy", 1080, std::move(user), std::move(password)}, std::move(host),
                          port);
}

// Feeds one byte at a time; returns everything the handshake asked to send.
Bytes FeedBytewise(ProxyHandshake& h, const Bytes& data) {
    Bytes out;
    for (uint8_t b : data) {
        Bytes o = h.Feed(ByteSpan(&b, 1));
        out.insert(out.end(), o.begin(), o.end());
    }
    return out;
}

TEST(ProxyHandshakeHttp, RequestAndAnswerThroughBlankLine) {
    auto h = Make(ProxyKind::Http, "quotes.example", 7000);
    Bytes req = h.Start(0);
    EXPECT_EQ(std::string(req.begin(), req.end()),
              "CONNECT quotes.example:7000 HTTP/1.1\r\nConnection: Keep-Alive\r\nUser-Agent:MyApp/1.0\r\n\r\n");
    // Headers arrive one byte at a time; the answer ends only at the blank line.
    FeedBytewise(h, B("HTTP/1.0 200 Connection established\r\nProxy-Agent: x\r\n"));
    EXPECT_EQ(h.state(), ProxyHandshake::State::Waiting);
    Bytes tail = B("\r\nKD\x01\x02");
    h.Feed(S(tail));
    ASSERT_TRUE(h.done());
    // What followed the blank line is the server's, never part of the answer.
    EXPECT_EQ(h.TakeStreamBytes(), B("KD\x01\x02"));
    // Later bytes also go to the stream.
    h.Feed(S(B("x")));
    EXPECT_EQ(h.TakeStreamBytes(), B("x"));
}

TEST(ProxyHandshakeHttp, OnlyStatus200OnTheStatusLineSucceeds) {
    for (const char* answer : {"HTTP/1.1 407 Proxy Authentication Required\r\nX-Id: 200\r\n\r\n",
                               "HTTP/1.1 2000 Odd\r\n\r\n", "HTTP/1.1 502 Bad 200\r\n\r\n",
                               "SOCKS 200 nonsense\r\n\r\n", "HTTP/1.1\r\n\r\n"}) {
        auto h = Make(ProxyKind::Http);
        h.Start(0);
        h.Feed(S(B(answer)));
        EXPECT_TRUE(h.failed()) << answer;
        EXPECT_TRUE(h.TakeStreamBytes().empty());
    }
    auto ok = Make(ProxyKind::Http);
    ok.Start(0);
    ok.Feed(S(B("HTTP/1.1 200\r\n\r\n")));
    EXPECT_TRUE(ok.done());
}

TEST(ProxyHandshakeHttp, EndlessAnswerIsRefused) {
    auto h = Make(ProxyKind::Http);
    h.Start(0);
    h.Feed(S(Bytes(kMaxHttpProxyAnswer + 1, 'a')));
    EXPECT_TRUE(h.failed());
}

TEST(ProxyHandshakeSocks4, RequestBytesAndReplies) {
    auto h = Make(ProxyKind::Socks4, "10.1.2.3", 6051);
    EXPECT_EQ(h.Start(0), (Bytes{0x04, 0x01, 0x17, 0xA3, 10, 1, 2, 3, 0x00}));
    FeedBytewise(h, Bytes{0x00, 0x5A, 0, 0, 0, 0, 0});
    EXPECT_EQ(h.state(), ProxyHandshake::State::Waiting);  // 7 of 8 bytes
    h.Feed(S(Bytes{0x00, 0x44}));
    ASSERT_TRUE(h.done());
    EXPECT_EQ(h.TakeStreamBytes(), Bytes{0x44});

    auto refused = Make(ProxyKind::Socks4);
    refused.Start(0);
    refused.Feed(S(Bytes{0x00, 0x5B, 0, 0, 0, 0, 0, 0}));
    EXPECT_TRUE(refused.failed());
    EXPECT_NE(refused.error().find("0x5B"), std::string::npos);

    auto version = Make(ProxyKind::Socks4);
    version.Start(0);
    version.Feed(S(Bytes{0x04, 0x5A, 0, 0, 0, 0, 0, 0}));
    EXPECT_TRUE(version.failed());
}

TEST(ProxyHandshakeSocks4, ServerByNameFailsWithoutSending) {
    auto h = Make(ProxyKind::Socks4, "quotes.example");
    EXPECT_TRUE(h.Start(0).empty());
    EXPECT_TRUE(h.failed());
    for (const char* bad : {"1.2.3", "1.2.3.4.5", "256.1.1.1", "1..2.3", "1.2.3.4 "}) {
        uint8_t a[4];
        EXPECT_FALSE(ParseDottedAddress(bad, a)) << bad;
    }
}

TEST(ProxyHandshakeSocks5, NoAuthenticationWithEveryAddressType) {
    const Bytes v4{0x05, 0x00, 0x00, 0x01, 1, 2, 3, 4, 0x1F, 0x90};
    Bytes v6{0x05, 0x00, 0x00, 0x04};
    v6.insert(v6.end(), 16, 0xAB);
    v6.push_back(0);
    v6.push_back(1);
    Bytes name{0x05, 0x00, 0x00, 0x03, 5, 'h', 'o', 's', 't', 's', 0, 1};
    for (const Bytes& reply : {v4, v6, name}) {
        auto h = Make(ProxyKind::Socks5, "10.1.2.3", 6051);
        EXPECT_EQ(h.Start(0), (Bytes{0x05, 0x01, 0x00}));
        EXPECT_EQ(h.Feed(S(Bytes{0x05, 0x00})), (Bytes{0x05, 0x01, 0x00, 0x01, 10, 1, 2, 3, 0x17, 0xA3}));
        // The reply one byte at a time, then the first byte of the server's stream:
        // a reply read short or long would hand address bytes to the packet reader.
        Bytes withStream = reply;
        withStream.push_back(0x4B);
        FeedBytewise(h, withStream);
        ASSERT_TRUE(h.done()) << reply.size();
        EXPECT_EQ(h.TakeStreamBytes(), Bytes{0x4B}) << reply.size();
    }
}

TEST(ProxyHandshakeSocks5, UserAndPassword) {
    auto h = Make(ProxyKind::Socks5, "quotes.example", 6051, "ann", "pw");
    EXPECT_EQ(h.Start(0), (Bytes{0x05, 0x02, 0x00, 0x02}));
    EXPECT_EQ(h.Feed(S(Bytes{0x05, 0x02})), (Bytes{0x01, 3, 'a', 'n', 'n', 2, 'p', 'w'}));
    Bytes connect = h.Feed(S(Bytes{0x01, 0x00}));
    Bytes expect{0x05, 0x01, 0x00, 0x03, 14};
    for (char c : std::string("quotes.example")) expect.push_back(uint8_t(c));
    expect.push_back(0x17);
    expect.push_back(0xA3);
    EXPECT_EQ(connect, expect);
    h.Feed(S(Bytes{0x05, 0x00, 0x00, 0x01, 0, 0, 0, 0, 0, 0}));
    EXPECT_TRUE(h.done());

    auto wrong = Make(ProxyKind::Socks5, "10.0.0.1", 1, "ann", "bad");
    wrong.Start(0);
    wrong.Feed(S(Bytes{0x05, 0x02}));
    wrong.Feed(S(Bytes{0x01, 0x01}));
    EXPECT_TRUE(wrong.failed());

    // A proxy that wants credentials we do not have, or no method at all.
    auto none = Make(ProxyKind::Socks5);
    none.Start(0);
    none.Feed(S(Bytes{0x05, 0x02}));
    EXPECT_TRUE(none.failed());
    auto refuse = Make(ProxyKind::Socks5);
    refuse.Start(0);
    refuse.Feed(S(Bytes{0x05, 0xFF}));
    EXPECT_TRUE(refuse.failed());
}

TEST(ProxyHandshakeSocks5, LongNameAndRefusedConnect) {
    std::string name(300, 'n');
    auto h = Make(ProxyKind::Socks5, name, 80);
    h.Start(0);
    Bytes connect = h.Feed(S(Bytes{0x05, 0x00}));
    ASSERT_EQ(connect.size(), 5u + 254 + 2);
    EXPECT_EQ(connect[4], 254);

    auto refused = Make(ProxyKind::Socks5);
    refused.Start(0);
    refused.Feed(S(Bytes{0x05, 0x00}));
    refused.Feed(S(Bytes{0x05, 0x05, 0x00, 0x01, 0, 0, 0, 0, 0, 0}));
    EXPECT_TRUE(refused.failed());
    auto badType = Make(ProxyKind::Socks5);
    badType.Start(0);
    badType.Feed(S(Bytes{0x05, 0x00}));
    badType.Feed(S(Bytes{0x05, 0x00, 0x00, 0x07, 0, 0, 0, 0, 0, 0}));
    EXPECT_TRUE(badType.failed());
}

TEST(ProxyHandshakeLimits, SilentProxyFailsAfterFifteenSecondsAndCloseFails) {
    for (ProxyKind kind : {ProxyKind::Http, ProxyKind::Socks4, ProxyKind::Socks5}) {
        auto h = Make(kind);
        h.Start(1000);
        EXPECT_FALSE(h.Tick(1000 + kProxyHandshakeLimitMs - 1));
        EXPECT_TRUE(h.Tick(1000 + kProxyHandshakeLimitMs));
        EXPECT_TRUE(h.failed());
        auto c = Make(kind);
        c.Start(0);
        c.Closed();
        EXPECT_TRUE(c.failed());
    }
    // A finished handshake ignores the limit.
    auto done = Make(ProxyKind::Socks4);
    done.Start(0);
    done.Feed(S(Bytes{0, 0x5A, 0, 0, 0, 0, 0, 0}));
    EXPECT_FALSE(done.Tick(1'000'000));
    EXPECT_TRUE(done.done());
}

}  // namespace
}  // namespace tessaro

namespace tessaro {
namespace {
TEST(ProxyUrl, KindsCredentialsAndBadForms) {
    ProxySettings p;
    ASSERT_TRUE(ParseProxyUrl("socks5://ann:p:w@127.0.0.1:1080", p));
    EXPECT_EQ(p.kind, ProxyKind::Socks5);
    EXPECT_EQ(p.user, "ann");
    EXPECT_EQ(p.password, "p:w");
    EXPECT_EQ(p.host, "127.0.0.1");
    EXPECT_EQ(p.port, 1080);
    ASSERT_TRUE(ParseProxyUrl("http://proxy:3128", p));
    EXPECT_EQ(p.kind, ProxyKind::Http);
    EXPECT_TRUE(p.user.empty());
    for (const char* bad : {"ftp://h:1", "http://h", "http://h:0", "http://h:65536", "socks4://u:p@h:1",
                            "socks5://:p@h:1", "http://:80", "socks5://h:12a"})
        EXPECT_FALSE(ParseProxyUrl(bad, p)) << bad;
    std::string host;
    uint16_t port = 0;
    ASSERT_TRUE(ParseHostPort("10.1.2.3", host, port));
    EXPECT_EQ(port, 6051);
    ASSERT_TRUE(ParseHostPort("10.1.2.3:7000", host, port));
    EXPECT_EQ(port, 7000);
}
}  // namespace
}  // namespace tessaro
