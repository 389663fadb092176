// A scripted quote server on a loopback port, speaking through the codec: it
// answers the login and the start-up chain, pushes quotes for subscriptions and
// serves the quote refresh, with faults on request (1-byte writes, a refused
// login, a close at a chosen step, a garbled reply).
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>

#include "net/decompress.h"
#include "net/login_messages.h"
#include "net/packet_assembler.h"
#include "net/realtime_messages.h"
#include "net/startup_messages.h"
#include "net/wire_records.h"

namespace tessaro::test {

class LoopbackPeer {
public:
    struct Plan {
        bool oneByteWrites = false;
        bool refuseLogin = false;
        uint16_t closeAtCode = 0;    // close instead of answering this request code
        uint16_t garbleCode = 0;     // answer this code with a reply whose String runs past the end
        uint32_t securities = 50;    // codes in the code table
        uint32_t quoteTime = 1733794260;  // wire time of pushed quotes
    };

    explicit LoopbackPeer(Plan plan) : plan_(plan) {
        listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        int one = 1;
        ::setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(listen_, 8);
        socklen_t len = sizeof a;
        ::getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
        thread_ = std::thread([this] { Run(); });
    }
    ~LoopbackPeer() {
        stop_ = true;
        thread_.join();
        ::close(listen_);
    }
    uint16_t port() const { return port_; }
    // Closes the connection being served (a server restart as the client sees it).
    void DropConnection() { drop_ = true; }
    int codeTables() const { return codeTables_; }
    int logins() const { return logins_; }
    int connections() const { return connections_; }

private:
    void Write(int fd, const Bytes& b) {
        if (!plan_.oneByteWrites) {
            size_t off = 0;
            while (off < b.size()) {
                ssize_t w = ::send(fd, b.data() + off, b.size() - off, MSG_NOSIGNAL);
                if (w <= 0) return;
                off += size_t(w);
            }
            return;
        }
        for (uint8_t c : b)
            if (::send(fd, &c, 1, MSG_NOSIGNAL) != 1) return;
    }
    Bytes Answer(Message& m, const PacketHeader& h, bool compress = false) {
        m.serial = h.serial;
        m.window = h.window;
        auto out = EncodeReply(m, compress);
        return out ? *out : Bytes{};
    }

    // False: close the connection.
    bool Serve(int fd, const PacketAssembler::Packet& p) {
        const PacketHeader& h = p.header;
        if (plan_.closeAtCode && h.code == plan_.closeAtCode) return false;
        Bytes out;
        switch (h.code) {
            case kCodeLogin: {
                ++logins_;
                LoginReply r;
                r.refused = plan_.refuseLogin;
                r.message = plan_.refuseLogin ? "account locked" : "";
                out = Answer(r, h);
                break;
            }
            case kCodeServerList: {
                ServerListReply r;
                r.text = "local,127.0.0.1,6051";
                out = Answer(r, h);
                break;
            }
            case kCodeCodeTable: {
                ++codeTables_;
                CodeTableReply r;
                r.records.push_back(EncodeCodeRecord(1000001, "INDEX"));
                for (uint32_t i = 0; i < plan_.securities; ++i)
                    r.records.push_back(EncodeCodeRecord(1600000 + i, "S" + std::to_string(i)));
                out = Answer(r, h, true);
                break;
            }
            case kCodeBlockList: {
                BlockListReply r;
                out = Answer(r, h);
                break;
            }
            case kCodeBaseFile: {
                BaseFileRequest q;
                q.Read(p.bytes);
                BaseFileReply r;
                r.kind = q.kind;
                out = Answer(r, h);
                break;
            }
            case kCodeQuoteSubscribe: {
                QuoteSubscribe q;
                if (!q.Read(p.bytes) || q.handles.empty()) break;
                QuoteReply r;
                for (SecurityHandle s : q.handles) {
                    QuoteSnapshot snap{};
                    snap.bar.time = WireToStoreTime(plan_.quoteTime);
                    snap.bar.open = snap.bar.high = snap.bar.low = snap.bar.close = 10.5f;
                    snap.bar.volume = 1200;
                    snap.bar.amount = 1260000;
                    r.quotes.push_back(EncodeQuoteRecord(s, snap));
                }
                out = Answer(r, h);
                break;
            }
            case kCodeQuoteRefresh: {
                QuoteRefreshRequest q;
                q.Read(p.bytes);
                QuoteRefreshReply r;
                r.first = q.first;
                r.total = plan_.securities;
                for (uint32_t i = q.first; i < plan_.securities && i < q.first + q.count; ++i)
                    r.quotes.push_back(EncodeQuoteRecord(1600000 + i, QuoteSnapshot{}));
                out = Answer(r, h, true);
                break;
            }
            default:
                break;
        }
        if (plan_.garbleCode && h.code == plan_.garbleCode && out.size() >= 25) StoreLE<uint32_t>(out.data() + 21, 0x7FFFFFFF);
        if (!out.empty()) Write(fd, out);
        return true;
    }

    void Run() {
        while (!stop_) {
            pollfd lp{listen_, POLLIN, 0};
            if (::poll(&lp, 1, 20) <= 0) continue;
            int fd = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) continue;
            ++connections_;
            PacketAssembler in(PacketAssembler::Stream::FromClient);
            bool open = true;
            while (open && !stop_) {
                if (drop_.exchange(false)) break;
                pollfd cp{fd, POLLIN, 0};
                if (::poll(&cp, 1, 20) <= 0) continue;
                uint8_t buf[65536];
                ssize_t r = ::recv(fd, buf, sizeof buf, 0);
                if (r <= 0 || !in.Feed(buf, size_t(r))) break;
                while (auto p = in.Next())
                    if (!Serve(fd, *p)) {
                        open = false;
                        break;
                    }
            }
            ::shutdown(fd, SHUT_RDWR);
            ::close(fd);
        }
    }

    Plan plan_;
    int listen_ = -1;
    uint16_t port_ = 0;
    std::atomic<bool> stop_{false}, drop_{false};
    std::atomic<int> logins_{0}, connections_{0}, codeTables_{0};
    std::thread thread_;
};

}  // namespace tessaro::test
