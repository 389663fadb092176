// Proxy handshakes as byte-in/byte-out state machines: HTTP CONNECT, SOCKS4 and
// SOCKS5 (with or without user and password).
//
// The owner connects to the proxy, sends what Start returns, and hands every
// arrival to Feed, which returns the next bytes to send. The proxy's answer is
// read exactly to its end — the HTTP answer through its blank line, the SOCKS5
// reply by the length its address type gives — so no byte of it is ever taken
// for a quote packet; bytes that arrive after the complete answer already belong
// to the server and are handed over by TakeStreamBytes. The handshake has a time
// limit: a proxy that accepts the connection and never answers fails like an
// unreachable server.
#pragma once

#include <cstdint>
#include <string>

#include "platform/bytes.h"

namespace tessaro {

// The proxy kinds in the order of the kind box.
enum class ProxyKind : uint8_t { None = 0, Http = 1, Socks4 = 2, Socks5 = 3 };

struct ProxySettings {
    ProxyKind kind = ProxyKind::None;
    std::string host;
    uint16_t port = 0;
    std::string user;      // SOCKS5 only
    std::string password;  // SOCKS5 only
};

// Milliseconds a proxy may take to complete its handshake.
inline constexpr uint64_t kProxyHandshakeLimitMs = 15000;
// An HTTP proxy answer longer than this without its blank line is refused.
inline constexpr size_t kMaxHttpProxyAnswer = 16384;

class ProxyHandshake {
public:
    enum class State { Idle, Waiting, Done, Failed };

    ProxyHandshake(ProxySettings proxy, std::string targetHost, uint16_t targetPort);

    // The connection to the proxy is up (at monotonic time nowMs): the first
    // bytes to send. Fails at once (nothing to send) when the request cannot be
    // formed, e.g. SOCKS4 with a server given by name.
    Bytes Start(uint64_t nowMs);
    // Bytes from the proxy; returns what to send next (often nothing).
    Bytes Feed(ByteSpan data);
    // The proxy closed the connection.
    void Closed();
    // The time limit; true when the handshake has just failed on it.
    bool Tick(uint64_t nowMs);

    State state() const { return state_; }
    bool done() const { return state_ == State::Done; }
    bool failed() const { return state_ == State::Failed; }
    const std::string& error() const { return error_; }
    // Bytes received after the complete answer: the start of the server's stream.
    Bytes TakeStreamBytes();

private:
    enum class Step { Answer, Socks5Method, Socks5Auth, Socks5Reply };
    Bytes Fail(std::string reason);
    void Finish(size_t consumed);
    Bytes Socks5Connect();

    ProxySettings proxy_;
    std::string host_;
    uint16_t port_;
    State state_ = State::Idle;
    Step step_ = Step::Answer;
    uint64_t startMs_ = 0;
    Bytes in_;      // the answer so far
    Bytes stream_;  // bytes after the answer
    std::string error_;
};

// "http://HOST:PORT", "socks4://HOST:PORT" or "socks5://[USER:PASS@]HOST:PORT";
// false for anything else (a port must be 1..65535).
bool ParseProxyUrl(const std::string& url, ProxySettings& out);
// "HOST:PORT" or "HOST" (port 6051).
bool ParseHostPort(const std::string& text, std::string& host, uint16_t& port, uint16_t defaultPort = 6051);

// A dotted IPv4 address ("10.1.2.3") as four bytes in network order.
bool ParseDottedAddress(const std::string& text, uint8_t out[4]);

}  // namespace tessaro
