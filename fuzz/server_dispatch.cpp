// The quote server's request dispatcher: arbitrary client bytes into a logged-in
// session over a small simulated market. Nothing may crash; a session that
// refuses input says why; every reply it writes reads back with its reply class.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz_check.h"
#include "net/decompress.h"
#include "net/login_messages.h"
#include "server/server_session.h"

using namespace tessaro;

namespace {

struct World {
    World() : files(AppPaths(MakeDir())) {
        for (const char* code : {"000001", "600000", "600001", "600002"}) {
            const SecurityId id = MakeSecurityId(kMarketSH, code);
            market.Add(id, std::strcmp(code, "000001") == 0 ? 1 : 2, code, 10, 1e6f, 100);
        }
        market.Open(MakeStoreTime(2025, 6, 13), 10 * 3600);
        config.maxReceiveBuffer = 1 << 16;
        config.maxRequestLength = 1 << 16;
        context.config = &config;
        context.market = &market;
        context.files = &files;
        Login login;
        login.account = kGuestAccount;
        login.password = kGuestPassword;
        loginPacket = *login.Encode();
    }
    static std::string MakeDir() {
        char pattern[] = "/tmp/tessaro-fuzz-XXXXXX";
        const char* dir = ::mkdtemp(pattern);
        return dir ? dir : "/tmp";
    }
    ServerConfig config;
    SimMarket market{1};
    ServerFiles files;
    ServerContext context;
    Bytes loginPacket;
};

void CheckReplies(ServerSession& s) {
    for (const Bytes& wire : s.TakeOutput()) {
        std::optional<Bytes> n = Decompress(wire);
        fuzz::Check(n.has_value(), "replies decompress");
        std::unique_ptr<Message> m = CreateMessage(Sender::Server, LoadPacketHeader(n->data()).code);
        fuzz::Check(m != nullptr, "replies have a server code");
        fuzz::Check(m->Read(*n), "replies read back");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static World world;
    static const std::vector<uint16_t> codes = [] {
        std::vector<uint16_t> out;
        for (const MessageKind& k : MessageCatalogue())
            if (k.sender == Sender::Client) out.push_back(k.code);
        return out;
    }();
    if (size < 1) return 0;
    ServerSession session(world.context, "fuzz");
    fuzz::Check(session.Feed(world.loginPacket), "the guest logs in");
    CheckReplies(session);
    bool ok;
    if (data[0] & 0x80) {
        // A raw stream, in arrivals of (data[0] & 0x7F) + 1 bytes.
        size_t chunk = (data[0] & 0x7F) + 1;
        ok = true;
        for (size_t at = 1; at < size && ok; at += chunk) ok = session.Feed(ByteSpan(data + at, std::min(chunk, size - at)));
    } else {
        // One well-framed request of a client code with an arbitrary payload.
        Bytes packet(kPacketHeaderSize + size - 1);
        PacketHeader h{kPacketMagic, codes[data[0] % codes.size()], 1, 2, static_cast<uint32_t>(packet.size())};
        std::memcpy(packet.data(), &h, sizeof h);
        if (size > 1) std::memcpy(packet.data() + kPacketHeaderSize, data + 1, size - 1);
        ok = session.Feed(packet);
    }
    fuzz::Check(ok == !session.closed(), "Feed reports the closed state");
    fuzz::Check(ok || !session.closeReason().empty(), "a refusal has a reason");
    CheckReplies(session);
    std::vector<char> changed(world.market.size(), 1);
    session.OnMarketChanged(changed, true);
    CheckReplies(session);
    return 0;
}
