// Field encodings and wire time.
#include <gtest/gtest.h>

#include "net/wire.h"
#include "platform/bytes.h"

namespace tessaro {
namespace {

TEST(WireCursor, StringCountPassingTheEndFailsWithoutAllocating) {
    ByteWriter w;
    w.put<uint32_t>(0xFFFFFFF0u).bytes(std::string_view("abc"));
    Bytes data = w.take();
    WireCursor c = WireCursor::Reader(data.data(), data.size());
    std::string s = "old";
    c.text(s);
    EXPECT_FALSE(c.ok());
    // Every later field is a no-op on a failed cursor.
    uint32_t v = 7;
    c.u32(v);
    EXPECT_EQ(v, 7u);
    EXPECT_EQ(c.remaining(), 0u);
}

TEST(WireCursor, StringExactlyToTheEndAndEmptyString) {
    ByteWriter w;
    w.put<uint32_t>(3).bytes(std::string_view("abc")).put<uint32_t>(0);
    Bytes data = w.take();
    WireCursor c = WireCursor::Reader(data.data(), data.size());
    std::string a, b = "x";
    c.text(a);
    c.text(b);
    EXPECT_TRUE(c.ok());
    EXPECT_EQ(a, "abc");
    EXPECT_EQ(b, "");
    EXPECT_EQ(c.remaining(), 0u);
}

TEST(WireCursor, FixedFieldPassingTheEndFails) {
    uint8_t data[3] = {1, 2, 3};
    WireCursor c = WireCursor::Reader(data, sizeof data);
    uint32_t v = 0;
    c.u32(v);
    EXPECT_FALSE(c.ok());
}

TEST(WireCursor, FixedTextWithoutNulEndsAtItsWidth) {
    const char data[] = "ABCDEFGHxyz";  // an 8-byte field, no NUL inside it
    WireCursor c = WireCursor::Reader(reinterpret_cast<const uint8_t*>(data), 8);
    std::string s;
    c.fixedText(s, 8);
    EXPECT_TRUE(c.ok());
    EXPECT_EQ(s, "ABCDEFGH");
}

TEST(WireCursor, FixedTextIsCutAtACharacterBoundaryAndNulPadded) {
    // "ab" + two double-byte characters = 6 bytes; a 6-byte field holds 5, so
    // the second character must go whole rather than in half.
    std::string text = "ab\xC6\xD5\xBC\xB0";
    uint8_t out[6];
    std::memset(out, 0xEE, sizeof out);
    WireCursor c = WireCursor::Writer(out, sizeof out);
    c.fixedText(text, 6);
    ASSERT_TRUE(c.ok());
    const uint8_t expected[6] = {'a', 'b', 0xC6, 0xD5, 0, 0};
    EXPECT_EQ(0, std::memcmp(out, expected, 6));
}

TEST(WireCursor, WritePastCapacityFails) {
    uint8_t out[5];
    WireCursor c = WireCursor::Writer(out, sizeof out);
    std::string s = "abcd";
    c.text(s);  // 8 bytes
    EXPECT_FALSE(c.ok());
}

TEST(WireCursor, RecordsTakeWholeRecordsOnly) {
    uint8_t data[11];
    for (int i = 0; i < 11; ++i) data[i] = static_cast<uint8_t>(i);
    WireCursor c = WireCursor::Reader(data, sizeof data);
    std::vector<uint32_t> list{99, 98, 97, 96, 95};
    c.records(list);
    EXPECT_TRUE(c.ok());
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0], 0x03020100u);
    EXPECT_EQ(list[1], 0x07060504u);
    EXPECT_EQ(c.remaining(), 0u);
}

TEST(WireCursor, ShortTextCutsLongNamesAtACharacterBoundary) {
    // 127 double-byte characters and one more byte = 255 bytes would split
    // nothing; 'a' + 128 characters = 257 bytes must be cut to 'a' + 127 characters.
    std::string name = "a";
    for (int i = 0; i < 128; ++i) name += "\xB0\xA1";
    std::vector<uint8_t> out(400);
    WireCursor w = WireCursor::Writer(out.data(), out.size());
    w.shortText(name);
    ASSERT_TRUE(w.ok());
    EXPECT_EQ(out[0], 255);
    EXPECT_EQ(w.pos(), 256u);
    WireCursor r = WireCursor::Reader(out.data(), w.pos());
    std::string back;
    r.shortText(back);
    EXPECT_TRUE(r.ok());
    EXPECT_EQ(back, name.substr(0, 255));
}

TEST(WireCursor, MeasureCountsEveryEncoding) {
    WireCursor m = WireCursor::Measurer();
    std::string s = "hello", f = "x", rest = "123";
    uint16_t v = 0;
    std::vector<uint64_t> list(3);
    m.text(s);        // 4 + 5
    m.fixedText(f, 10);
    m.u16(v);
    m.zeros(3);
    m.records(list);  // 24
    m.rest(rest);     // 3
    EXPECT_TRUE(m.ok());
    EXPECT_EQ(m.pos(), 9u + 10 + 2 + 3 + 24 + 3);
}

TEST(WireTime, ConvertsToMarketTimeFrom1899) {
    // 2024-03-15 01:30:00 UTC is 09:30 in Shanghai.
    uint32_t wire = 1710466200;
    EXPECT_EQ(WireToStoreTime(wire), MakeStoreTime(2024, 3, 15, 9, 30, 0));
    EXPECT_EQ(StoreToWireTime(MakeStoreTime(2024, 3, 15, 9, 30, 0)), wire);
    // The epoch itself: 1970-01-01 08:00 market time.
    EXPECT_EQ(WireToStoreTime(0), MakeStoreTime(1970, 1, 1, 8, 0, 0));
}

TEST(WireTime, WrapsModulo2To32BothWays) {
    for (uint32_t w : {0u, 1u, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu, 3000000000u})
        EXPECT_EQ(StoreToWireTime(WireToStoreTime(w)), w);
    EXPECT_EQ(WireToStoreTime(0xFFFFFFFFu), static_cast<StoreTime>(0xFFFFFFFFu + 2209190400ull));
}

}  // namespace
}  // namespace tessaro
