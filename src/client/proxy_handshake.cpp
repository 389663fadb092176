#include "client/proxy_handshake.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <utility>

namespace tessaro {

bool ParseDottedAddress(const std::string& text, uint8_t out[4]) {
    int part = 0;
    unsigned value = 0;
    int digits = 0;
    for (size_t i = 0; i <= text.size(); ++i) {
        char c = i < text.size() ? text[i] : '.';
        if (c >= '0' && c <= '9') {
            value = value * 10 + unsigned(c - '0');
            if (++digits > 3 || value > 255) return false;
        } else if (c == '.') {
            if (digits == 0 || part == 4) return false;
            out[part++] = uint8_t(value);
            value = 0;
            digits = 0;
        } else {
            return false;
        }
    }
    return part == 4;
}

bool ParseHostPort(const std::string& text, std::string& host, uint16_t& port, uint16_t defaultPort) {
    size_t colon = text.rfind(':');
    host = text.substr(0, colon);
    if (host.empty() || host.find_first_of(" /@") != std::string::npos) return false;
    if (colon == std::string::npos) {
        port = defaultPort;
        return true;
    }
    std::string digits = text.substr(colon + 1);
    if (digits.empty() || digits.size() > 5 || digits.find_first_not_of("0123456789") != std::string::npos)
        return false;
    unsigned long value = std::stoul(digits);
    if (value == 0 || value > 65535) return false;
    port = uint16_t(value);
    return true;
}

bool ParseProxyUrl(const std::string& url, ProxySettings& out) {
    ProxySettings p;
    std::string rest;
    for (auto [scheme, kind] : {std::pair{"http://", ProxyKind::Http}, std::pair{"socks4://", ProxyKind::Socks4},
                                std::pair{"socks5://", ProxyKind::Socks5}}) {
        if (url.rfind(scheme, 0) == 0) {
            p.kind = kind;
            rest = url.substr(std::strlen(scheme));
        }
    }
    if (p.kind == ProxyKind::None) return false;
    if (size_t at = rest.rfind('@'); at != std::string::npos) {
        if (p.kind != ProxyKind::Socks5) return false;
        std::string credentials = rest.substr(0, at);
        size_t colon = credentials.find(':');
        if (colon == std::string::npos || colon == 0) return false;
        p.user = credentials.substr(0, colon);
        p.password = credentials.substr(colon + 1);
        rest = rest.substr(at + 1);
    }
    if (rest.find(':') == std::string::npos || !ParseHostPort(rest, p.host, p.port)) return false;
    out = std::move(p);
    return true;
}

ProxyHandshake::ProxyHandshake(ProxySettings proxy, std::string targetHost, uint16_t targetPort)
    : proxy_(std::move(proxy)), host_(std::move(targetHost)), port_(targetPort) {}

Bytes ProxyHandshake::Fail(std::string reason) {
    state_ = State::Failed;
    error_ = std::move(reason);
    in_.clear();
    stream_.clear();
    return {};
}

void ProxyHandshake::Finish(size_t consumed) {
    state_ = State::Done;
    stream_.assign(in_.begin() + std::ptrdiff_t(consumed), in_.end());
    in_.clear();
}

Bytes ProxyHandshake::TakeStreamBytes() {
    Bytes out;
    out.swap(stream_);
    return out;
}

Bytes ProxyHandshake::Start(uint64_t nowMs) {
    startMs_ = nowMs;
    state_ = State::Waiting;
    in_.clear();
    switch (proxy_.kind) {
        case ProxyKind::None:
            state_ = State::Done;
            return {};
        case ProxyKind::Http: {
            step_ = Step::Answer;
            std::string text = "CONNECT " + host_ + ":" + std::to_string(port_) +
                               " HTTP/1.1\r\nConnection: Keep-Alive\r\nUser-Agent:MyApp/1.0\r\n\r\n";
            return Bytes(text.begin(), text.end());
        }
        case ProxyKind::Socks4: {
            uint8_t addr[4];
            if (!ParseDottedAddress(host_, addr)) return Fail("SOCKS4 needs the server as a dotted address");
            step_ = Step::Answer;
            return Bytes{0x04, 0x01, uint8_t(port_ >> 8), uint8_t(port_), addr[0], addr[1], addr[2], addr[3], 0x00};
        }
        case ProxyKind::Socks5:
            step_ = Step::Socks5Method;
            if (proxy_.user.size() > 255 || proxy_.password.size() > 255)
                return Fail("SOCKS5 user or password longer than 255 bytes");
            // With credentials both methods are offered, so that a proxy that
            // demands a user and password can choose that method.
            if (!proxy_.user.empty()) return Bytes{0x05, 0x02, 0x00, 0x02};
            return Bytes{0x05, 0x01, 0x00};
    }
    return Fail("unknown proxy kind");
}

Bytes ProxyHandshake::Socks5Connect() {
    Bytes out{0x05, 0x01, 0x00};
    uint8_t addr[4];
    if (ParseDottedAddress(host_, addr)) {
        out.push_back(0x01);
        out.insert(out.end(), addr, addr + 4);
    } else {
        // A name of 255 bytes or more goes with the length byte 254 and its first 254 bytes.
        size_t n = std::min<size_t>(host_.size(), 254);
        out.push_back(0x03);
        out.push_back(uint8_t(n));
        out.insert(out.end(), host_.begin(), host_.begin() + std::ptrdiff_t(n));
    }
    out.push_back(uint8_t(port_ >> 8));
    out.push_back(uint8_t(port_));
    step_ = Step::Socks5Reply;
    return out;
}

Bytes ProxyHandshake::Feed(ByteSpan data) {
    if (state_ == State::Done) {
        stream_.insert(stream_.end(), data.begin(), data.end());
        return {};
    }
    if (state_ != State::Waiting) return {};
    in_.insert(in_.end(), data.begin(), data.end());

    switch (proxy_.kind) {
        case ProxyKind::Http: {
            std::string_view text(reinterpret_cast<const char*>(in_.data()), in_.size());
            size_t end = text.find("\r\n\r\n");
            if (end == std::string_view::npos) {
                if (in_.size() > kMaxHttpProxyAnswer) return Fail("HTTP proxy answer without an end");
                return {};
            }
            // Status line: HTTP/x.y SP code SP reason.
            std::string_view line = text.substr(0, text.find("\r\n"));
            if (line.size() < 12 || (line.substr(0, 5) != "HTTP/" && line.substr(0, 5) != "http/"))
                return Fail("HTTP proxy answer is not HTTP");
            size_t sp = line.find(' ');
            if (sp == std::string_view::npos || sp + 4 > line.size())
                return Fail("HTTP proxy answer without a status");
            std::string_view code = line.substr(sp + 1, 3);
            bool endsCode = sp + 4 == line.size() || line[sp + 4] == ' ';
            if (code != "200" || !endsCode) return Fail("HTTP proxy refused: " + std::string(line));
            Finish(end + 4);
            return {};
        }
        case ProxyKind::Socks4:
            if (in_.size() < 8) return {};
            if (in_[0] != 0x00) return Fail("SOCKS4 proxy answer has a wrong version");
            if (in_[1] != 0x5A) {
                char buf[64];
                std::snprintf(buf, sizeof buf, "SOCKS4 request refused (0x%02X)", in_[1]);
                return Fail(buf);
            }
            Finish(8);
            return {};
        case ProxyKind::Socks5:
            break;
        case ProxyKind::None:
            return {};
    }

    // SOCKS5
    if (step_ == Step::Socks5Method) {
        if (in_.size() < 2) return {};
        if (in_[0] != 0x05) return Fail("SOCKS5 proxy answer has a wrong version");
        uint8_t method = in_[1];
        in_.erase(in_.begin(), in_.begin() + 2);
        if (method == 0x00) return Socks5Connect();
        if (method == 0x02) {
            if (proxy_.user.empty()) return Fail("SOCKS5 proxy wants a user and password");
            Bytes out{0x01, uint8_t(proxy_.user.size())};
            out.insert(out.end(), proxy_.user.begin(), proxy_.user.end());
            out.push_back(uint8_t(proxy_.password.size()));
            out.insert(out.end(), proxy_.password.begin(), proxy_.password.end());
            step_ = Step::Socks5Auth;
            return out;
        }
        return Fail("SOCKS5 proxy accepts none of the offered methods");
    }
    if (step_ == Step::Socks5Auth) {
        if (in_.size() < 2) return {};
        if (in_[0] != 0x01 || in_[1] != 0x00) return Fail("SOCKS5 proxy refused the user and password");
        in_.erase(in_.begin(), in_.begin() + 2);
        return Socks5Connect();
    }
    // Reply: VER REP RSV ATYP address port; its length follows the address type.
    if (in_.size() < 4) return {};
    if (in_[0] != 0x05) return Fail("SOCKS5 proxy answer has a wrong version");
    if (in_[1] != 0x00) {
        char buf[64];
        std::snprintf(buf, sizeof buf, "SOCKS5 connect refused (0x%02X)", in_[1]);
        return Fail(buf);
    }
    size_t need;
    switch (in_[3]) {
        case 0x01: need = 4 + 4 + 2; break;
        case 0x04: need = 4 + 16 + 2; break;
        case 0x03:
            if (in_.size() < 5) return {};
            need = 4 + 1 + size_t(in_[4]) + 2;
            break;
        default: return Fail("SOCKS5 reply with an unknown address type");
    }
    if (in_.size() < need) return {};
    Finish(need);
    return {};
}

void ProxyHandshake::Closed() {
    if (state_ == State::Waiting || state_ == State::Idle) Fail("proxy closed the connection");
}

bool ProxyHandshake::Tick(uint64_t nowMs) {
    if (state_ != State::Waiting) return false;
    if (nowMs - startMs_ < kProxyHandshakeLimitMs) return false;
    Fail("proxy did not answer in time");
    return true;
}

}  // namespace tessaro
