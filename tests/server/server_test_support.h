// Shared pieces of the quote server tests: a generated application directory
// with a block file and a server list, and a blocking loopback client that
// speaks through the codec.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "app/paths.h"
#include "market/demo_market.h"
#include "net/decompress.h"
#include "net/login_messages.h"
#include "net/message.h"
#include "net/packet_assembler.h"
#include "platform/files.h"
#include "test_support/temp_dir.h"

namespace tessaro::test {

// "测试" in GBK: the name of the block file the tests add.
inline const std::string kTestBlockName = "\xB2\xE2\xCA\xD4";

// A demo market generated once per test program.
class DemoAppDir {
public:
    static const DemoAppDir& Get() {
        static DemoAppDir dir;
        return dir;
    }
    const std::string& path() const { return temp_.path(); }
    AppPaths paths() const { return AppPaths(temp_.path()); }
    std::vector<SecurityId> blockMembers;

private:
    DemoAppDir() {
        DemoMarketOptions options;
        options.outDir = temp_.path();
        options.securities = 24;
        options.days = 40;
        options.fiveMinuteDays = 3;
        options.oneMinuteDays = 2;
        options.blocks = false;  // only the test block below
        GenerateDemoMarket(options);
        AppPaths p(temp_.path());
        WriteFileAtomic(p.serverListFile(), std::string("Tessaro\xC6\xD5\xBC\xB0\xB0\xE6,local,127.0.0.1,6051\n"));
        // A block file: magic, setting, name, index code, category, then members.
        std::vector<uint8_t> block(114, 0);
        uint32_t magic = 0x424C4B01;
        std::memcpy(block.data(), &magic, 4);
        std::memcpy(block.data() + 8, kTestBlockName.data(), kTestBlockName.size());
        for (const DemoSecurity& s : DemoSecurities(options.securities)) {
            if (s.securityClass == 1 || blockMembers.size() == 5) continue;
            blockMembers.push_back(s.id);
            const uint8_t* b = reinterpret_cast<const uint8_t*>(&s.id);
            block.insert(block.end(), b, b + sizeof s.id);
        }
        CreateDirectories(p.blockDir());
        WriteFileAtomic(p.blockDir() + "test.blk", std::span<const uint8_t>(block));
    }
    TempDir temp_;
};

// A blocking client on loopback with time-outs.
class TestClient {
public:
    explicit TestClient(uint16_t port) {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(port);
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
        int one = 1;
        ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    }
    ~TestClient() {
        if (fd_ >= 0) ::close(fd_);
    }
    bool connected() const { return connected_; }
    int fd() const { return fd_; }

    bool SendBytes(const void* data, size_t n) {
        const char* p = static_cast<const char*>(data);
        while (n) {
            ssize_t w = ::send(fd_, p, n, MSG_NOSIGNAL);
            if (w <= 0) return false;
            p += w, n -= static_cast<size_t>(w);
        }
        return true;
    }
    bool Send(Message& m, uint32_t window = 7) {
        m.serial = ++serial_;
        m.window = window;
        std::optional<Bytes> bytes = m.Encode();
        return bytes && SendBytes(bytes->data(), bytes->size());
    }
    bool Login(const std::string& account = kGuestAccount, const std::string& password = kGuestPassword) {
        tessaro::Login login;
        login.account = account;
        login.password = password;
        return Send(login) && Expect(kCodeLogin).has_value();
    }

    // The next server packet, normalized; nothing on time-out, close or a bad packet.
    std::optional<Bytes> Receive(int timeoutMs = 3000) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            if (std::optional<PacketAssembler::Packet> p = assembler_.Next()) {
                ++packets_;
                return Decompress(p->bytes);
            }
            int left = static_cast<int>(
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count());
            if (left <= 0) return std::nullopt;
            pollfd pfd{fd_, POLLIN, 0};
            if (::poll(&pfd, 1, left) <= 0) return std::nullopt;
            uint8_t buf[65536];
            ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
            if (n <= 0) {
                closed_ = true;
                return std::nullopt;
            }
            ++arrivals_;
            if (!assembler_.Feed(buf, static_cast<size_t>(n))) return std::nullopt;
        }
    }
    // The next packet of `code`, skipping pushes of other codes.
    std::optional<Bytes> Expect(uint16_t code, int timeoutMs = 3000) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (std::chrono::steady_clock::now() < deadline) {
            int left = static_cast<int>(
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count());
            std::optional<Bytes> p = Receive(std::max(left, 1));
            if (!p) return std::nullopt;
            if (LoadPacketHeader(p->data()).code == code) return p;
        }
        return std::nullopt;
    }
    template <class Reply>
    bool Read(uint16_t code, Reply& reply, int timeoutMs = 3000) {
        std::optional<Bytes> p = Expect(code, timeoutMs);
        return p && reply.Read(*p);
    }
    // True once the server has closed the connection (within the time-out).
    bool WaitClosed(int timeoutMs = 3000) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (!closed_ && std::chrono::steady_clock::now() < deadline) Receive(50);
        return closed_;
    }
    int arrivals() const { return arrivals_; }
    int packets() const { return packets_; }
    uint32_t serial() const { return serial_; }

private:
    int fd_ = -1;
    bool connected_ = false;
    bool closed_ = false;
    uint32_t serial_ = 0;
    int arrivals_ = 0, packets_ = 0;
    PacketAssembler assembler_{PacketAssembler::Stream::FromServer, 1};
};

}  // namespace tessaro::test
