// Exact bytes of messages, built by hand from the layout tables.
#include <gtest/gtest.h>

#include "net/login_messages.h"
#include "net/realtime_messages.h"
#include "net/startup_messages.h"
#include "platform/bytes.h"

namespace tessaro {
namespace {

Bytes Header(uint16_t code, uint32_t serial, uint32_t window, uint32_t length) {
    ByteWriter w;
    w.put<uint16_t>(0x444B).put<uint16_t>(code).put<uint32_t>(serial).put<uint32_t>(window).put<uint32_t>(length);
    return w.take();
}

Bytes Concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(MessageBytes, KeepAliveIsTheHeaderAlone) {
    KeepAlive m;
    m.serial = 0x01020304;
    m.window = 0xA0B0C0D0;
    EXPECT_EQ(m.Size(), 16u);
    auto bytes = m.Encode();
    ASSERT_TRUE(bytes);
    const Bytes expected = {0x4B, 0x44, 0x00, 0xA0, 0x04, 0x03, 0x02, 0x01,
                            0xD0, 0xC0, 0xB0, 0xA0, 0x10, 0x00, 0x00, 0x00};
    EXPECT_EQ(*bytes, expected);
    // 'K', 'D' on the wire.
    EXPECT_EQ((*bytes)[0], 'K');
    EXPECT_EQ((*bytes)[1], 'D');
}

TEST(MessageBytes, LoginForGuestIsRotatedLeftByThreeBits) {
    Login m;
    m.serial = 1;
    m.window = 0;
    m.account = "guest";
    m.password = "abcde";
    m.machineId = 0x12345678;
    ASSERT_EQ(m.Size(), 132u);
    auto bytes = m.Encode();
    ASSERT_TRUE(bytes);
    ASSERT_EQ(bytes->size(), 132u);
    EXPECT_EQ(*bytes, Concat(Header(0x4001, 1, 0, 132), Bytes(bytes->begin() + 16, bytes->end())));
    const uint8_t* block = bytes->data() + 16;
    const uint8_t guest[5] = {0x3B, 0xAB, 0x2B, 0x9B, 0xA3};
    EXPECT_EQ(0, std::memcmp(block, guest, 5));
    for (int i = 5; i < 32; ++i) EXPECT_EQ(block[i], 0) << i;  // zero bytes stay zero
    // "abcde": 'a' 0x61 -> 0x0B, 'b' 0x62 -> 0x13 ...
    EXPECT_EQ(block[32], 0x0B);
    EXPECT_EQ(block[33], 0x13);
    // Maker "Halvex": 'H' 0x48 -> 0x42.
    EXPECT_EQ(block[64], 0x42);
    // Product "Tessaro普及版" in GBK, rotated: 'T' 0x54 -> 0xA2; 0xC6 -> 0x36.
    EXPECT_EQ(block[80], 0xA2);
    EXPECT_EQ(block[87], 0x36);
    EXPECT_EQ(block[93], 0x00);
    // Version "5.01.001": '5' 0x35 -> 0xA9.
    EXPECT_EQ(block[96], 0xA9);
    // Machine identifier 0x12345678, little-endian, each byte rotated.
    EXPECT_EQ(block[112], 0xC3);  // 0x78
    EXPECT_EQ(block[113], 0xB2);  // 0x56
    EXPECT_EQ(block[114], 0xA1);  // 0x34
    EXPECT_EQ(block[115], 0x90);  // 0x12

    Login back;
    ASSERT_TRUE(back.Read(*bytes));
    EXPECT_EQ(back.account, "guest");
    EXPECT_EQ(back.password, "abcde");
    EXPECT_EQ(back.maker, "Halvex");
    EXPECT_EQ(back.product, "Tessaro\xC6\xD5\xBC\xB0\xB0\xE6");
    EXPECT_EQ(back.version, "5.01.001");
    EXPECT_EQ(back.machineId, 0x12345678u);
}

TEST(MessageBytes, LoginCutsAnOverlongAccountAtACharacterBoundary) {
    Login m;
    m.account = std::string(30, 'a') + "\xB0\xA1";  // 32 bytes: the last character does not fit
    auto bytes = m.Encode();
    ASSERT_TRUE(bytes);
    Login back;
    ASSERT_TRUE(back.Read(*bytes));
    EXPECT_EQ(back.account, std::string(30, 'a'));
}

TEST(MessageBytes, BarsRequestIs31BytesInEveryVariant) {
    BarsRequest m;
    m.serial = 7;
    m.window = 9;
    m.handle = 1600000;
    m.period = 8;
    m.variant = 1;
    m.first = 0x0102;
    m.count = 300;
    m.optionA = 0;
    m.optionB = 1;
    auto bytes = m.Encode();
    ASSERT_TRUE(bytes);
    ByteWriter w;
    w.put<uint32_t>(1600000).put<uint16_t>(8).put<uint8_t>(1);
    w.put<uint16_t>(0x0102).put<uint16_t>(300).put<uint8_t>(0).put<uint8_t>(1).zeros(2);
    EXPECT_EQ(*bytes, Concat(Header(0x500A, 7, 9, 31), w.take()));

    m.variant = 0;
    m.from = 100;
    m.to = 200;
    bytes = m.Encode();
    ASSERT_TRUE(bytes);
    ASSERT_EQ(bytes->size(), 31u);
    EXPECT_EQ(LoadLE<uint32_t>(bytes->data() + 23), 100u);
    EXPECT_EQ(LoadLE<uint32_t>(bytes->data() + 27), 200u);

    m.variant = 2;
    m.anchor = 0xAABBCCDD;
    m.count = 5;
    m.optionA = 3;
    m.optionB = 4;
    bytes = m.Encode();
    ASSERT_TRUE(bytes);
    ASSERT_EQ(bytes->size(), 31u);
    EXPECT_EQ(LoadLE<uint32_t>(bytes->data() + 23), 0xAABBCCDDu);
    EXPECT_EQ(LoadLE<uint16_t>(bytes->data() + 27), 5u);
    EXPECT_EQ((*bytes)[29], 3);
    EXPECT_EQ((*bytes)[30], 4);

    BarsRequest back;
    ASSERT_TRUE(back.Read(*bytes));
    EXPECT_EQ(back.variant, 2);
    EXPECT_EQ(back.anchor, 0xAABBCCDDu);
    EXPECT_EQ(back.count, 5);

    m.variant = 9;  // unknown variant: the range bytes travel as they are
    m.range = {1, 2, 3, 4, 5, 6, 7, 8};
    bytes = m.Encode();
    ASSERT_TRUE(bytes);
    ASSERT_EQ(bytes->size(), 31u);
    EXPECT_EQ((*bytes)[23], 1);
    EXPECT_EQ((*bytes)[30], 8);
}

TEST(MessageBytes, QuoteSubscribeAndItsLimits) {
    QuoteSubscribe m;
    m.serial = 2;
    m.window = 3;
    m.tag = "GVIEW";
    m.handles = {1600000, 1};
    auto bytes = m.Encode();
    ASSERT_TRUE(bytes);
    ByteWriter w;
    w.put<uint32_t>(5).bytes(std::string_view("GVIEW")).put<uint32_t>(1600000).put<uint32_t>(1);
    EXPECT_EQ(*bytes, Concat(Header(0xB001, 2, 3, 33), w.take()));

    m.handles.assign(5000, 1);
    EXPECT_TRUE(m.Encode());
    m.handles.assign(5001, 1);
    EXPECT_FALSE(m.Encode());
    m.handles.clear();
    m.tag.assign(10240, 'x');
    EXPECT_TRUE(m.Encode());
    m.tag.assign(10241, 'x');
    EXPECT_FALSE(m.Encode());

    // The server refuses an oversized list the same way.
    ByteWriter big;
    big.put<uint32_t>(0);
    for (int i = 0; i < 5001; ++i) big.put<uint32_t>(1);
    Bytes packet = Concat(Header(0xB001, 1, 1, static_cast<uint32_t>(16 + big.size())), big.data());
    QuoteSubscribe read;
    EXPECT_FALSE(read.Read(packet));
}

TEST(MessageBytes, RequestsWithFixedFields) {
    RankPageRequest rank;
    rank.kind = kRankPageBlock;
    rank.pageName = "A";
    rank.sortField = -1;
    rank.sortDirection = 1;
    rank.firstRow = 20;
    rank.rowCount = 30;
    ByteWriter w;
    w.put<uint32_t>('=').put<uint32_t>(1).bytes(std::string_view("A"));
    w.put<uint32_t>(0xFFFFFFFF).put<uint32_t>(1).put<uint32_t>(20).put<uint32_t>(30);
    EXPECT_EQ(*rank.Encode(), Concat(Header(0x5005, 0, 0, 16 + 25), w.take()));

    InfoIndexRequest info;
    info.numbers = {5, 0xFFFFFFFF, 7, 8};
    ByteWriter wi;
    wi.put<uint32_t>(5).put<uint32_t>(0xFFFFFFFF).put<uint32_t>(7).put<uint32_t>(8).zeros(4);
    EXPECT_EQ(*info.Encode(), Concat(Header(0xB019, 0, 0, 36), wi.take()));

    DayMinutesRequest day;
    day.handle = 1;
    day.day = 1000;
    day.step = -1;
    ByteWriter wd;
    wd.put<uint32_t>(1).put<uint32_t>(1000).put<int32_t>(-1);
    EXPECT_EQ(*day.Encode(), Concat(Header(0xB00C, 0, 0, 28), wd.take()));

    TicksRequest ticks;
    ticks.handle = 1600000;
    ByteWriter wt;
    wt.put<uint32_t>(1600000).put<uint32_t>(0).put<uint32_t>(1);
    EXPECT_EQ(*ticks.Encode(), Concat(Header(0xB004, 0, 0, 28), wt.take()));

    MinutesRequest minutes;
    minutes.handle = 2;
    minutes.newestVolume = 1.5f;
    ByteWriter wm;
    wm.put<uint32_t>(2).put<float>(1.5f);
    EXPECT_EQ(*minutes.Encode(), Concat(Header(0xB00E, 0, 0, 24), wm.take()));

    BarTimesRequest times;
    times.handle = 1000001;
    times.period = 4;
    times.since = 77;
    ByteWriter wb;
    wb.put<uint32_t>(1000001).put<uint16_t>(4).put<uint32_t>(77);
    EXPECT_EQ(*times.Encode(), Concat(Header(0xB00D, 0, 0, 26), wb.take()));

    BaseFileRequest base;
    base.kind = kBaseFilePower;
    base.checksum = 0xCAFEBABE;
    ByteWriter wf;
    wf.put<uint32_t>(2).put<uint32_t>(0xCAFEBABE);
    EXPECT_EQ(*base.Encode(), Concat(Header(0xA006, 0, 0, 24), wf.take()));

    for (uint16_t code : {kCodeServerList, kCodeCodeTable, kCodeBlockList, kCodeLoad}) {
        auto m = CreateMessage(Sender::Client, code);
        ASSERT_TRUE(m);
        m->serial = 4;
        EXPECT_EQ(*m->Encode(), Header(code, 4, 0, 16));
    }
}

TEST(MessageBytes, LoginReplyReadFromHandBuiltBytes) {
    ByteWriter w;
    w.put<uint8_t>(1);
    w.put<uint32_t>(6).bytes(std::string_view("denied"));
    w.put<uint32_t>(0);
    w.put<uint32_t>(5).bytes(std::string_view("video"));
    w.put<uint16_t>(1460).put<uint16_t>(20);
    for (int i = 0; i < 32; ++i) w.put<uint8_t>(static_cast<uint8_t>(i));
    for (const char* s : {"f9", "f10", "notice", "market", "tech", "scroll", "SID-1"})
        w.put<uint32_t>(static_cast<uint32_t>(std::strlen(s))).bytes(std::string_view(s));
    Bytes packet = Concat(Header(0x4001, 9, 0, static_cast<uint32_t>(16 + w.size())), w.data());

    LoginReply r;
    ASSERT_TRUE(r.Read(packet));
    EXPECT_EQ(r.serial, 9u);
    EXPECT_EQ(r.refused, 1);
    EXPECT_EQ(r.message, "denied");
    EXPECT_EQ(r.updateParameters, "");
    EXPECT_EQ(r.videoPage, "video");
    EXPECT_EQ(r.daySpan, 1460);
    EXPECT_EQ(r.fiveMinuteSpan, 20);
    EXPECT_EQ(r.reserved[31], 31);
    EXPECT_EQ(r.f9Page, "f9");
    EXPECT_EQ(r.scrollMessagePage, "scroll");
    EXPECT_EQ(r.sid, "SID-1");
    EXPECT_EQ(*r.Encode(), packet);

    // Any cut short of the last String fails: a String whose bytes pass the end,
    // or a fixed field that does.
    for (size_t cut = 16; cut < packet.size(); ++cut) {
        Bytes shorter(packet.begin(), packet.begin() + static_cast<std::ptrdiff_t>(cut));
        StoreLE<uint32_t>(shorter.data() + 12, static_cast<uint32_t>(cut));
        LoginReply partial;
        EXPECT_FALSE(partial.Read(shorter)) << cut;
    }
}

TEST(MessageBytes, BlockRankReplyReadFromHandBuiltBytes) {
    ByteWriter w;
    w.put<uint32_t>(2).bytes(std::string_view("AB"));
    w.put<uint32_t>(77);
    w.put<uint32_t>(2);
    w.put<uint8_t>(3).bytes(std::string_view("one")).put<uint32_t>(1).zeros(16).put<uint16_t>(5).put<uint16_t>(6);
    w.put<uint8_t>(0).put<uint32_t>(2).zeros(16).put<uint16_t>(7).put<uint16_t>(8);
    w.put<uint32_t>(1);
    w.put<uint8_t>(2).bytes(std::string_view("xy")).put<uint32_t>(9).zeros(16);
    Bytes packet = Concat(Header(0xB018, 1, 1, static_cast<uint32_t>(16 + w.size())), w.data());
    BlockRankReply r;
    ASSERT_TRUE(r.Read(packet));
    EXPECT_EQ(r.blockName, "AB");
    EXPECT_EQ(r.value, 77u);
    ASSERT_EQ(r.ranked.size(), 2u);
    EXPECT_EQ(r.ranked[0].name, "one");
    EXPECT_EQ(r.ranked[0].count2, 6);
    EXPECT_EQ(r.ranked[1].name, "");
    EXPECT_EQ(r.ranked[1].count1, 7);
    ASSERT_EQ(r.leaders.size(), 1u);
    EXPECT_EQ(r.leaders[0].name, "xy");
    EXPECT_EQ(r.leaders[0].value, 9u);
    EXPECT_EQ(*r.Encode(), packet);

    // A hostile count: the read fails at the end of the packet, having
    // allocated nothing for the count.
    Bytes hostile = packet;
    StoreLE<uint32_t>(hostile.data() + 16 + 6 + 4, 0xFFFFFFFFu);
    BlockRankReply h;
    EXPECT_FALSE(h.Read(hostile));
    // A name length passing the end fails too.
    Bytes badName = packet;
    badName[16 + 6 + 8] = 200;
    EXPECT_FALSE(h.Read(badName));
}

TEST(MessageBytes, ReplyRecordListsStartAfterTheFixedFields) {
    ByteWriter w;
    w.put<uint8_t>(4).put<uint32_t>(1600000).put<uint8_t>(5);
    w.put<uint32_t>(100).put<float>(10.5f).put<float>(1000).put<float>(10500);
    w.put<uint32_t>(160).put<float>(10.75f).put<float>(2000).put<float>(21000);
    w.put<uint8_t>(0xEE).put<uint8_t>(0xEE);  // a partial record is ignored
    Bytes packet = Concat(Header(0xB00E, 1, 1, static_cast<uint32_t>(16 + w.size())), w.data());
    MinutesReply r;
    ASSERT_TRUE(r.Read(packet));
    EXPECT_EQ(r.value1, 4);
    EXPECT_EQ(r.handle, 1600000u);
    EXPECT_EQ(r.value2, 5);
    ASSERT_EQ(r.minutes.size(), 2u);
    EXPECT_EQ(r.minutes[1].time, 160u);
    EXPECT_FLOAT_EQ(r.minutes[1].price, 10.75f);
    EXPECT_FLOAT_EQ(r.minutes[1].amount, 21000.0f);

    ByteWriter b;
    b.put<uint32_t>(1).put<uint16_t>(8).put<uint32_t>(0xDDCCBBAA);
    b.put<uint32_t>(500).put<float>(1).put<float>(2).put<float>(0.5f).put<float>(1.5f);
    b.put<float>(100).put<float>(150).put<uint16_t>(11).put<uint16_t>(12);
    packet = Concat(Header(0x500A, 1, 1, static_cast<uint32_t>(16 + b.size())), b.data());
    BarsReply bars;
    ASSERT_TRUE(bars.Read(packet));
    EXPECT_EQ(bars.period, 8);
    EXPECT_EQ(bars.extra[0], 0xAA);
    ASSERT_EQ(bars.bars.size(), 1u);
    EXPECT_EQ(bars.bars[0].time, 500u);
    EXPECT_FLOAT_EQ(bars.bars[0].close, 1.5f);
    EXPECT_EQ(bars.bars[0].count2, 12);

    ByteWriter c;
    c.put<uint16_t>(kMarketSZ).put<uint32_t>(1).put<uint32_t>(2).put<uint32_t>(3);
    packet = Concat(Header(0xB012, 0, 0, static_cast<uint32_t>(16 + c.size())), c.data());
    MarketCountsPush counts;
    ASSERT_TRUE(counts.Read(packet));
    ASSERT_EQ(counts.records.size(), 1u);
    EXPECT_EQ(counts.records[0].market, kMarketSZ);
    EXPECT_EQ(uint32_t{counts.records[0].counters[2]}, 3u);

    // A fixed field cut off fails; a missing record list is an empty list.
    BarsReply shortBars;
    packet = Concat(Header(0x500A, 0, 0, 16 + 9), Bytes(9, 0));
    EXPECT_FALSE(shortBars.Read(packet));
    packet = Concat(Header(0x500A, 0, 0, 16 + 10), Bytes(10, 0));
    EXPECT_TRUE(shortBars.Read(packet));
    EXPECT_TRUE(shortBars.bars.empty());
}

TEST(MessageBytes, FileRepliesCarryTheirBytesToTheEnd) {
    ByteWriter w;
    w.put<uint32_t>(3).put<uint32_t>(0x11223344).bytes(std::string_view("file\0bytes", 10));
    Bytes packet = Concat(Header(0xA006, 0, 0, static_cast<uint32_t>(16 + w.size())), w.data());
    BaseFileReply r;
    ASSERT_TRUE(r.Read(packet));
    EXPECT_EQ(r.kind, 3u);
    EXPECT_EQ(r.checksum, 0x11223344u);
    EXPECT_EQ(r.fileBytes, std::string("file\0bytes", 10));

    ByteWriter b;
    b.put<uint32_t>(4).bytes(std::string_view("\xBB\xA6\xC9\xEE"));  // a GBK block name, no file
    packet = Concat(Header(0xA005, 0, 0, static_cast<uint32_t>(16 + b.size())), b.data());
    BlockFileReply f;
    ASSERT_TRUE(f.Read(packet));
    EXPECT_EQ(f.blockName, "\xBB\xA6\xC9\xEE");
    EXPECT_TRUE(f.fileBytes.empty());
}

TEST(MessageBytes, WriteRefusesBadBuffers) {
    KeepAlive k;
    uint8_t buf[64];
    EXPECT_FALSE(k.Write(nullptr, 64));
    EXPECT_FALSE(k.Write(buf, 1));
    EXPECT_FALSE(k.Write(buf, 15));
    EXPECT_TRUE(k.Write(buf, 16));
    BaseFileRequest b;
    EXPECT_FALSE(b.Write(buf, 23));
    EXPECT_TRUE(b.Write(buf, 24));
    EXPECT_EQ(LoadLE<uint32_t>(buf + 12), 24u);
}

TEST(MessageBytes, ReadRefusesTruncatedOrShortPackets) {
    KeepAlive k;
    Bytes h = Header(0xA000, 0, 0, 16);
    EXPECT_TRUE(k.Read(h));
    EXPECT_FALSE(k.Read(h.data(), 15));
    EXPECT_FALSE(k.Read(nullptr, 16));
    Bytes lying = Header(0xA000, 0, 0, 15);
    EXPECT_FALSE(k.Read(lying));
    // The header promises more than the buffer holds: a truncated packet.
    BaseFileRequest b;
    Bytes truncated = Concat(Header(0xA006, 0, 0, 24), Bytes(4, 0));
    EXPECT_FALSE(b.Read(truncated));
    // Bytes after the header's length belong to the next packet and are not read.
    Bytes longer = Concat(Header(0xA005, 0, 0, 20), Bytes{0, 0, 0, 0, 'x', 'y'});
    BlockFileReply f;
    ASSERT_TRUE(f.Read(longer));
    EXPECT_TRUE(f.fileBytes.empty());
}

}  // namespace
}  // namespace tessaro
