// Every reply kind read from arbitrary bytes: byte 0 picks the kind, the rest
// is the payload of a normalized packet.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "net_fuzz_common.h"

using namespace tessaro;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::vector<uint16_t> codes = [] {
        std::vector<uint16_t> out;
        for (const MessageKind& k : MessageCatalogue())
            if (k.sender == Sender::Server) out.push_back(k.code);
        return out;
    }();
    if (size < 1) return 0;
    uint16_t code = codes[data[0] % codes.size()];
    std::vector<uint8_t> packet(kPacketHeaderSize + size - 1);
    PacketHeader h{kPacketMagic, code, 1, 2, static_cast<uint32_t>(packet.size())};
    std::memcpy(packet.data(), &h, sizeof h);
    if (size > 1) std::memcpy(packet.data() + kPacketHeaderSize, data + 1, size - 1);
    fuzz::ReadAndRewrite(Sender::Server, packet.data(), packet.size());
    return 0;
}
