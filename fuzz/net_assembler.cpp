// The receive path: arbitrary arrivals through the packet assembler, each
// complete packet through Decompress and the reply class of its code.
#include <cstddef>
#include <cstdint>

#include "net/decompress.h"
#include "net/packet_assembler.h"
#include "net_fuzz_common.h"

using namespace tessaro;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    // Byte 0: the stream kind and the arrival size; the rest is the stream.
    bool fromServer = (data[0] & 0x80) == 0;
    size_t chunk = (data[0] & 0x7F) + 1;
    // A small cap keeps the fuzzer's buffers small while exercising the check.
    PacketAssembler a(fromServer ? PacketAssembler::Stream::FromServer : PacketAssembler::Stream::FromClient,
                      0x55, 1u << 16);
    const uint8_t* p = data + 1;
    size_t left = size - 1;
    while (left > 0) {
        size_t n = left < chunk ? left : chunk;
        bool ok = a.Feed(p, n);
        fuzz::Check(ok != a.broken(), "Feed reports the broken state");
        p += n;
        left -= n;
        while (auto packet = a.Next()) {
            fuzz::Check(packet->bytes.size() == packet->header.length, "whole packets only");
            fuzz::Check(packet->header.length >= a.minLength() && packet->header.length <= (1u << 16),
                        "lengths within bounds");
            if (fromServer) {
                DecompressError error;
                auto normalized = Decompress(packet->bytes, &error);
                if (normalized) {
                    fuzz::Check(LoadLE<uint32_t>(normalized->data() + 12) == normalized->size(), "normalized length");
                    fuzz::ReadAndRewrite(Sender::Server, normalized->data(), normalized->size());
                }
            } else {
                fuzz::ReadAndRewrite(Sender::Client, packet->bytes.data(), packet->bytes.size());
            }
        }
        if (a.broken()) break;
    }
    // Decompress straight on the input, too.
    Decompress(ByteSpan(data + 1, size - 1));
    return 0;
}
