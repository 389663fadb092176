// Server packets to normalized packets, and the server's encoding of them.
#include <gtest/gtest.h>

#include <zlib.h>

#include "net/decompress.h"
#include "net/realtime_messages.h"
#include "net/startup_messages.h"

namespace tessaro {
namespace {

Bytes ServerPacket(uint16_t code, uint8_t flags, uint32_t rawLength, const Bytes& payload,
                   uint32_t window = 5, uint32_t serial = 6) {
    ByteWriter w;
    w.put<uint16_t>(0x444B).put<uint16_t>(code).put<uint32_t>(serial).put<uint32_t>(window);
    w.put<uint32_t>(static_cast<uint32_t>(21 + payload.size())).put<uint8_t>(flags).put<uint32_t>(rawLength);
    w.bytes(payload);
    return w.take();
}

Bytes Deflate(const Bytes& plain) {
    uLongf n = compressBound(static_cast<uLong>(plain.size()));
    Bytes out(n);
    EXPECT_EQ(compress(out.data(), &n, plain.data(), static_cast<uLong>(plain.size())), Z_OK);
    out.resize(n);
    return out;
}

Bytes Payload(size_t n) {
    Bytes p(n);
    for (size_t i = 0; i < n; ++i) p[i] = static_cast<uint8_t>(i * 7 % 13);
    return p;
}

TEST(Decompress, PlainPayloadPassesThroughUnchanged) {
    Bytes payload = Payload(40);
    auto out = Decompress(ServerPacket(0xA002, 0, 40, payload));
    ASSERT_TRUE(out);
    ASSERT_EQ(out->size(), 56u);
    PacketHeader h = LoadPacketHeader(out->data());
    EXPECT_EQ(h.magic, 0x444B);
    EXPECT_EQ(h.code, 0xA002);
    EXPECT_EQ(h.serial, 6u);
    EXPECT_EQ(h.window, 5u);
    EXPECT_EQ(h.length, 56u);
    EXPECT_EQ(Bytes(out->begin() + 16, out->end()), payload);
}

TEST(Decompress, CompressedPayloadIsInflated) {
    Bytes payload = Payload(5000);
    Bytes packed = Deflate(payload);
    ASSERT_LT(packed.size(), payload.size());
    auto out = Decompress(ServerPacket(0xB002, 0x01, 5000, packed));
    ASSERT_TRUE(out);
    EXPECT_EQ(LoadPacketHeader(out->data()).length, 16u + 5000u);
    EXPECT_EQ(Bytes(out->begin() + 16, out->end()), payload);
    // Other flag bits carry no meaning.
    out = Decompress(ServerPacket(0xB002, 0xFF, 5000, packed));
    ASSERT_TRUE(out);
    EXPECT_EQ(out->size(), 5016u);
    out = Decompress(ServerPacket(0xB002, 0xFE, 5000, Payload(5000)));
    ASSERT_TRUE(out);
    EXPECT_EQ(Bytes(out->begin() + 16, out->end()), Payload(5000));
}

TEST(Decompress, EmptyPayloadsBothWays) {
    auto out = Decompress(ServerPacket(0x9000, 0, 0, {}));
    ASSERT_TRUE(out);
    EXPECT_EQ(out->size(), 16u);
    EXPECT_EQ(LoadPacketHeader(out->data()).length, 16u);
    out = Decompress(ServerPacket(0x9000, 1, 0, Deflate({})));
    ASSERT_TRUE(out);
    EXPECT_EQ(out->size(), 16u);
}

TEST(Decompress, PlainPayloadLongerThanRawLengthIsRejected) {
    DecompressError e;
    EXPECT_FALSE(Decompress(ServerPacket(0xA002, 0, 39, Payload(40)), &e));
    EXPECT_EQ(e, DecompressError::PayloadTooLong);
    EXPECT_FALSE(Decompress(ServerPacket(0xA002, 0, 0, Payload(1)), &e));
    // A plain payload shorter than rawLength is the bytes that came.
    auto out = Decompress(ServerPacket(0xA002, 0, 100, Payload(40)), &e);
    ASSERT_TRUE(out);
    EXPECT_EQ(e, DecompressError::None);
    EXPECT_EQ(out->size(), 56u);
    EXPECT_EQ(LoadPacketHeader(out->data()).length, 56u);
}

TEST(Decompress, RawLengthMustMatchWhatInflates) {
    Bytes payload = Payload(1000);
    Bytes packed = Deflate(payload);
    DecompressError e;
    EXPECT_FALSE(Decompress(ServerPacket(0xB002, 1, 999, packed), &e));  // inflates to more
    EXPECT_EQ(e, DecompressError::InflateFailed);
    EXPECT_FALSE(Decompress(ServerPacket(0xB002, 1, 1001, packed), &e));  // inflates to less
    EXPECT_EQ(e, DecompressError::SizeMismatch);
    EXPECT_TRUE(Decompress(ServerPacket(0xB002, 1, 1000, packed), &e));
}

TEST(Decompress, CorruptOrTruncatedStreamsAreRejected) {
    Bytes packed = Deflate(Payload(1000));
    DecompressError e;
    Bytes corrupt = packed;
    corrupt[corrupt.size() / 2] ^= 0x55;
    corrupt[corrupt.size() - 1] ^= 0x55;  // the Adler-32 check at least
    EXPECT_FALSE(Decompress(ServerPacket(0xB002, 1, 1000, corrupt), &e));
    Bytes cut(packed.begin(), packed.begin() + static_cast<std::ptrdiff_t>(packed.size() / 2));
    EXPECT_FALSE(Decompress(ServerPacket(0xB002, 1, 1000, cut), &e));
    EXPECT_EQ(e, DecompressError::InflateFailed);
    EXPECT_FALSE(Decompress(ServerPacket(0xB002, 1, 4, Bytes{1, 2, 3, 4}), &e));
    EXPECT_EQ(e, DecompressError::InflateFailed);
}

TEST(Decompress, BadLengthsAreRejectedBeforeAllocating) {
    DecompressError e;
    Bytes p = ServerPacket(0xA002, 0, 4, Payload(4));
    EXPECT_FALSE(Decompress(ByteSpan(p.data(), 20), &e));
    EXPECT_EQ(e, DecompressError::TooShort);
    // A header whose length is below 21 would make "length - 21" wrap.
    for (uint32_t bad : {0u, 1u, 16u, 20u}) {
        Bytes q = p;
        StoreLE<uint32_t>(q.data() + 12, bad);
        EXPECT_FALSE(Decompress(q, &e)) << bad;
        EXPECT_EQ(e, DecompressError::BadLength);
    }
    // A length longer than the bytes given.
    Bytes q = p;
    StoreLE<uint32_t>(q.data() + 12, 26);
    EXPECT_FALSE(Decompress(q, &e));
    EXPECT_EQ(e, DecompressError::TooShort);
    // rawLength or length above the cap: refused at once (a 4 GiB rawLength
    // would otherwise be allocated before inflating a 4-byte payload).
    q = ServerPacket(0xB002, 1, 0xFFFFFFF0u, Payload(4));
    EXPECT_FALSE(Decompress(q, &e));
    EXPECT_EQ(e, DecompressError::TooLarge);
    q = ServerPacket(0xB002, 1, kMaxPacketLength + 1, Payload(4));
    EXPECT_FALSE(Decompress(q, &e));
    EXPECT_EQ(e, DecompressError::TooLarge);
    q = ServerPacket(0xB002, 0, 4, Payload(4));
    StoreLE<uint32_t>(q.data() + 12, kMaxPacketLength + 1);
    EXPECT_FALSE(Decompress(q, &e));
    EXPECT_EQ(e, DecompressError::TooLarge);
}

TEST(Decompress, RawLengthBeyondTheInflateRatioIsRefusedUpFront) {
    DecompressError e;
    // 30 compressed bytes can never make 64 MiB, however they are built.
    Bytes tiny = Deflate(Payload(10));
    EXPECT_FALSE(Decompress(ServerPacket(0xB002, 1, kMaxPacketLength, tiny), &e));
    EXPECT_EQ(e, DecompressError::Unreachable);
    uint32_t limit = static_cast<uint32_t>(tiny.size() * kMaxInflateRatio);
    EXPECT_FALSE(Decompress(ServerPacket(0xB002, 1, limit + 1, tiny), &e));
    EXPECT_EQ(e, DecompressError::Unreachable);
    // At the limit the stream itself decides (here: it inflates to less).
    EXPECT_FALSE(Decompress(ServerPacket(0xB002, 1, limit, tiny), &e));
    EXPECT_EQ(e, DecompressError::SizeMismatch);
    // The bound never refuses a real stream, even one that compresses as well
    // as deflate can: 8 MiB of zeros at the best level.
    Bytes zeros(8u << 20, 0);
    uLongf n = compressBound(static_cast<uLong>(zeros.size()));
    Bytes packed(n);
    ASSERT_EQ(compress2(packed.data(), &n, zeros.data(), static_cast<uLong>(zeros.size()), 9), Z_OK);
    packed.resize(n);
    ASSERT_GT(zeros.size(), packed.size() * 1000) << "not a near-limit stream";
    auto out = Decompress(ServerPacket(0xB002, 1, static_cast<uint32_t>(zeros.size()), packed), &e);
    ASSERT_TRUE(out) << DecompressErrorText(e);
    EXPECT_EQ(out->size(), 16 + zeros.size());
}

TEST(Decompress, ServerEncodingRoundTripsThroughTheClient) {
    QuoteReply reply;
    reply.serial = 42;
    reply.window = 0x1234;
    for (uint32_t i = 0; i < 50; ++i) {
        QuoteRecord r;
        r.handle = 1600000 + i;
        r.last = 10.0f + static_cast<float>(i);
        reply.quotes.push_back(r);
    }
    for (bool compress : {false, true}) {
        auto wire = EncodeReply(reply, compress);
        ASSERT_TRUE(wire);
        ReplyHeader h;
        std::memcpy(&h, wire->data(), sizeof h);
        EXPECT_EQ(h.packet.length, wire->size());
        EXPECT_EQ(h.flags, compress ? 1 : 0);
        EXPECT_EQ(uint32_t{h.rawLength}, 50u * 137u);
        auto normalized = Decompress(*wire);
        ASSERT_TRUE(normalized);
        EXPECT_EQ(*normalized, *reply.Encode());
        QuoteReply back;
        ASSERT_TRUE(back.Read(*normalized));
        EXPECT_EQ(back.serial, 42u);
        EXPECT_EQ(back.window, 0x1234u);
        ASSERT_EQ(back.quotes.size(), 50u);
        EXPECT_EQ(back.quotes[49].handle, 1600049u);
        EXPECT_FLOAT_EQ(back.quotes[49].last, 59.0f);
    }
}

}  // namespace
}  // namespace tessaro
