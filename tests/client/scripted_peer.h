// A transport that records what the session asks of it, and a scripted quote
// server speaking through the codec: the session's tests drive both by hand.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "client/quote_session.h"
#include "net/decompress.h"
#include "net/login_messages.h"
#include "net/packet_assembler.h"
#include "net/startup_messages.h"

namespace tessaro::test {

struct FakeTransport : ClientTransport {
    struct ConnectCall {
        std::string host;
        uint16_t port;
    };
    std::vector<ConnectCall> connects;
    Bytes sent;  // every byte sent, in order
    int closes = 0;
    void Connect(const std::string& host, uint16_t port) override { connects.push_back({host, port}); }
    void Send(ByteSpan bytes) override { sent.insert(sent.end(), bytes.begin(), bytes.end()); }
    void Close() override { ++closes; }

    // The client packets sent so far, each once.
    std::vector<Bytes> TakePackets() {
        PacketAssembler a(PacketAssembler::Stream::FromClient);
        a.Feed(ByteSpan(sent).subspan(consumed));
        std::vector<Bytes> out;
        size_t used = 0;
        while (auto p = a.Next()) {
            out.emplace_back(p->bytes.begin(), p->bytes.end());
            used += p->bytes.size();
        }
        consumed += used;
        return out;
    }
    size_t consumed = 0;
};

inline uint16_t CodeOf(const Bytes& packet) { return LoadLE<uint16_t>(packet.data() + 2); }
inline uint32_t SerialOf(const Bytes& packet) { return LoadLE<uint32_t>(packet.data() + 4); }
inline uint32_t WindowOf(const Bytes& packet) { return LoadLE<uint32_t>(packet.data() + 8); }

// The server's packet answering `request` (serial and window echoed).
inline Bytes Reply(Message& message, const Bytes& request, bool compress = false) {
    message.serial = SerialOf(request);
    message.window = WindowOf(request);
    auto out = EncodeReply(message, compress);
    return out ? *out : Bytes{};
}
inline Bytes Push(Message& message, uint32_t window = 0, bool compress = false) {
    message.serial = 0;
    message.window = window;
    auto out = EncodeReply(message, compress);
    return out ? *out : Bytes{};
}

}  // namespace tessaro::test
