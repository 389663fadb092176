// Reassembly of packets from arbitrary arrivals.
#include <gtest/gtest.h>

#include <random>

#include "net/decompress.h"
#include "net/packet_assembler.h"
#include "net/realtime_messages.h"
#include "net/startup_messages.h"

namespace tessaro {
namespace {

using Stream = PacketAssembler::Stream;

Bytes RawPacket(uint16_t code, uint32_t serial, uint32_t window, size_t total, uint8_t fill) {
    Bytes p(total, fill);
    PacketHeader h{kPacketMagic, code, serial, window, static_cast<uint32_t>(total)};
    std::memcpy(p.data(), &h, sizeof h);
    return p;
}

struct Delivered {
    Bytes bytes;
    uint32_t target;
};

// Feeds `stream` in the given pieces and drains after every arrival.
std::vector<Delivered> FeedInPieces(PacketAssembler& a, const Bytes& stream, const std::vector<size_t>& cuts) {
    std::vector<Delivered> out;
    size_t from = 0;
    std::vector<size_t> ends = cuts;
    ends.push_back(stream.size());
    for (size_t to : ends) {
        EXPECT_TRUE(a.Feed(ByteSpan(stream.data() + from, to - from)));
        while (auto p = a.Next()) {
            EXPECT_EQ(p->bytes.size(), p->header.length);
            out.push_back({Bytes(p->bytes.begin(), p->bytes.end()), p->target});
        }
        from = to;
    }
    return out;
}

class AssemblerStream : public ::testing::Test {
protected:
    void SetUp() override {
        // Reply packets of assorted sizes, one addressed to the owner (window 0),
        // one made by the server encoder with a compressed payload.
        packets_.push_back(RawPacket(0xB002, 1, 0x100, 21, 0xAA));
        packets_.push_back(RawPacket(0xA002, 2, 0, 40, 0xBB));
        packets_.push_back(RawPacket(0xB00E, 3, 0x200, 22, 0xCC));
        ServerListReply list;
        list.serial = 4;
        list.window = 0x300;
        list.text = std::string(300, 'x');
        packets_.push_back(*EncodeReply(list, true));
        packets_.push_back(RawPacket(0x9000, 5, 0x100, 21, 0));
        for (const Bytes& p : packets_) stream_.insert(stream_.end(), p.begin(), p.end());
    }

    void ExpectAll(const std::vector<Delivered>& got) {
        ASSERT_EQ(got.size(), packets_.size());
        const uint32_t targets[] = {0x100, kOwner, 0x200, 0x300, 0x100};
        for (size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(got[i].bytes, packets_[i]) << i;
            EXPECT_EQ(got[i].target, targets[i]) << i;
        }
    }

    static constexpr uint32_t kOwner = 0xF00D;
    std::vector<Bytes> packets_;
    Bytes stream_;
};

TEST_F(AssemblerStream, SplitAtEveryOffsetDeliversEachPacketOnceInOrder) {
    for (size_t cut = 0; cut <= stream_.size(); ++cut) {
        PacketAssembler a(Stream::FromServer, kOwner);
        ExpectAll(FeedInPieces(a, stream_, {cut}));
        EXPECT_EQ(a.buffered(), 0u);
        EXPECT_FALSE(a.broken());
    }
}

TEST_F(AssemblerStream, SplitAtEveryPairOfOffsets) {
    for (size_t c1 = 0; c1 <= stream_.size(); c1 += 3)
        for (size_t c2 = c1; c2 <= stream_.size(); c2 += 5) {
            PacketAssembler a(Stream::FromServer, kOwner);
            ExpectAll(FeedInPieces(a, stream_, {c1, c2}));
        }
}

TEST_F(AssemblerStream, OneByteAtATime) {
    std::vector<size_t> cuts;
    for (size_t i = 1; i < stream_.size(); ++i) cuts.push_back(i);
    PacketAssembler a(Stream::FromServer, kOwner);
    ExpectAll(FeedInPieces(a, stream_, cuts));
}

TEST_F(AssemblerStream, RandomSplitsOfARepeatedStream) {
    Bytes longStream;
    for (int r = 0; r < 40; ++r) longStream.insert(longStream.end(), stream_.begin(), stream_.end());
    std::mt19937 rng(12345);
    for (int trial = 0; trial < 20; ++trial) {
        std::vector<size_t> cuts;
        size_t at = 0;
        while (true) {
            at += std::uniform_int_distribution<size_t>(0, 200)(rng);
            if (at >= longStream.size()) break;
            cuts.push_back(at);
        }
        PacketAssembler a(Stream::FromServer, kOwner);
        auto got = FeedInPieces(a, longStream, cuts);
        ASSERT_EQ(got.size(), packets_.size() * 40);
        for (size_t i = 0; i < got.size(); ++i) ASSERT_EQ(got[i].bytes, packets_[i % packets_.size()]);
    }
}

TEST_F(AssemblerStream, AllInOneArrivalComeOutInOrder) {
    PacketAssembler a(Stream::FromServer, kOwner);
    ExpectAll(FeedInPieces(a, stream_, {}));
}

TEST_F(AssemblerStream, SpansStayValidUntilTheNextFeed) {
    PacketAssembler a(Stream::FromServer, kOwner);
    ASSERT_TRUE(a.Feed(stream_));
    std::vector<PacketAssembler::Packet> held;
    while (auto p = a.Next()) held.push_back(*p);
    ASSERT_EQ(held.size(), packets_.size());
    for (size_t i = 0; i < held.size(); ++i)
        EXPECT_EQ(Bytes(held[i].bytes.begin(), held[i].bytes.end()), packets_[i]);
}

TEST(PacketAssembler, IncompletePacketReportsProgressAndWaits) {
    Bytes p = RawPacket(0xB002, 1, 0, 100, 1);
    PacketAssembler a(Stream::FromServer, 77);
    EXPECT_FALSE(a.HeadProgress());
    ASSERT_TRUE(a.Feed(ByteSpan(p.data(), 10)));
    EXPECT_FALSE(a.HeadProgress());  // the length is not known yet
    EXPECT_FALSE(a.Next());
    ASSERT_TRUE(a.Feed(ByteSpan(p.data() + 10, 40)));
    auto progress = a.HeadProgress();
    ASSERT_TRUE(progress);
    EXPECT_EQ(progress->target, 77u);
    EXPECT_EQ(progress->received, 50u);
    EXPECT_EQ(progress->length, 100u);
    EXPECT_FALSE(a.Next());
    ASSERT_TRUE(a.Feed(ByteSpan(p.data() + 50, 50)));
    EXPECT_FALSE(a.HeadProgress());
    auto got = a.Next();
    ASSERT_TRUE(got);
    EXPECT_EQ(got->target, 77u);
    EXPECT_FALSE(a.Next());  // consumed exactly once
}

TEST(PacketAssembler, LengthBelowTheReplyHeaderBreaksTheStream) {
    for (uint32_t bad : {0u, 1u, 15u, 16u, 20u}) {
        PacketAssembler a(Stream::FromServer);
        Bytes p = RawPacket(0xB002, 1, 1, 21, 0);
        StoreLE<uint32_t>(p.data() + 12, bad);
        EXPECT_FALSE(a.Feed(p)) << bad;
        EXPECT_TRUE(a.broken());
        EXPECT_FALSE(a.error().empty());
        EXPECT_FALSE(a.Next());
        // Later data is refused, never stalls nor resynchronises by guessing.
        EXPECT_FALSE(a.Feed(RawPacket(0xB002, 1, 1, 21, 0)));
        EXPECT_FALSE(a.Next());
        EXPECT_EQ(a.buffered(), 0u);
        a.Reset();
        EXPECT_FALSE(a.broken());
        EXPECT_TRUE(a.Feed(RawPacket(0xB002, 1, 1, 21, 0)));
        EXPECT_TRUE(a.Next());
    }
}

TEST(PacketAssembler, RequestStreamsAcceptHeaderOnlyPackets) {
    PacketAssembler a(Stream::FromClient);
    KeepAlive k;
    auto bytes = k.Encode();
    ASSERT_TRUE(bytes);
    ASSERT_EQ(bytes->size(), 16u);
    ASSERT_TRUE(a.Feed(*bytes));
    ASSERT_TRUE(a.Feed(*bytes));
    int n = 0;
    while (auto p = a.Next()) {
        EXPECT_EQ(p->bytes.size(), 16u);
        KeepAlive back;
        EXPECT_TRUE(back.Read(p->bytes));
        ++n;
    }
    EXPECT_EQ(n, 2);
    Bytes bad = RawPacket(0xA000, 1, 1, 16, 0);
    StoreLE<uint32_t>(bad.data() + 12, 15);
    EXPECT_FALSE(a.Feed(bad));
    EXPECT_TRUE(a.broken());
}

TEST(PacketAssembler, LengthAboveTheCapBreaksTheStream) {
    PacketAssembler a(Stream::FromServer);
    Bytes p = RawPacket(0xB002, 1, 1, 21, 0);
    StoreLE<uint32_t>(p.data() + 12, kMaxPacketLength + 1);
    EXPECT_FALSE(a.Feed(p));
    EXPECT_TRUE(a.broken());

    PacketAssembler small(Stream::FromServer, 0, 64);
    EXPECT_TRUE(small.Feed(RawPacket(0xB002, 1, 1, 64, 0)));
    EXPECT_TRUE(small.Next());
    EXPECT_FALSE(small.Feed(RawPacket(0xB002, 1, 1, 65, 0)));
}

TEST(PacketAssembler, BadHeaderAfterGoodPacketsInOneArrival) {
    Bytes stream = RawPacket(0xB002, 1, 1, 30, 0);
    Bytes bad = RawPacket(0xB002, 2, 1, 21, 0);
    StoreLE<uint32_t>(bad.data() + 12, 3);
    stream.insert(stream.end(), bad.begin(), bad.end());
    PacketAssembler a(Stream::FromServer);
    EXPECT_TRUE(a.Feed(stream));  // the head is sound
    auto first = a.Next();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->header.serial, 1u);
    EXPECT_TRUE(a.broken());  // seen as soon as it reaches the head
    EXPECT_FALSE(a.Next());
    EXPECT_FALSE(a.Feed(RawPacket(0xB002, 3, 1, 21, 0)));
    EXPECT_EQ(a.buffered(), 0u);  // the unframeable rest is let go, not kept
}

TEST(PacketAssembler, WindowZeroWithoutOwnerHasNoTarget) {
    PacketAssembler a(Stream::FromServer);
    ASSERT_TRUE(a.Feed(RawPacket(0xB002, 1, 0, 21, 0)));
    auto p = a.Next();
    ASSERT_TRUE(p);
    EXPECT_EQ(p->target, 0u);
}

}  // namespace
}  // namespace tessaro
