#include <gtest/gtest.h>

#include "platform/bytes.h"

namespace tessaro {
namespace {

TEST(ByteReader, ReadsLittleEndianAndFailsPastTheEnd) {
    const uint8_t data[] = {0x53, 0x48, 0x01, 0x00, 0x00, 0x00, 0xAA};
    ByteReader r(data, sizeof data);
    EXPECT_EQ(r.get<uint16_t>(), 0x4853);
    EXPECT_EQ(r.get<int32_t>(), 1);
    EXPECT_EQ(r.remaining(), 1u);
    EXPECT_EQ(r.get<uint16_t>(), 0);  // only one byte left
    EXPECT_FALSE(r.ok());
    EXPECT_EQ(r.remaining(), 0u);
    EXPECT_EQ(r.get<uint8_t>(), 0);  // stays failed
}

TEST(ByteReader, HugeLengthsNeverWrap) {
    const uint8_t data[4] = {};
    ByteReader r(data, sizeof data);
    r.skip(2);
    EXPECT_FALSE(r.has(SIZE_MAX));
    EXPECT_TRUE(r.bytes(SIZE_MAX - 1).empty());
    EXPECT_FALSE(r.ok());
    ByteReader s(data, sizeof data);
    EXPECT_FALSE(s.seek(5));
}

TEST(ByteReader, FixedTextStopsAtNulOrWidth) {
    const uint8_t data[] = {'a', 'b', 0, 'x', 'c', 'd', 'e', 'f'};
    ByteReader r(data, sizeof data);
    EXPECT_EQ(r.fixedText(4), "ab");
    EXPECT_EQ(r.fixedText(4), "cdef");
    EXPECT_TRUE(r.ok());
}

TEST(ByteWriter, RoundTripsThroughTheReader) {
    ByteWriter w;
    w.put<uint32_t>(0xDEADBEEF).put<float>(1.5f).fixedText("guest", 8).put<int8_t>(-3);
    ASSERT_EQ(w.size(), 17u);
    w.patch<uint32_t>(0, 7);
    ByteReader r(w.data());
    EXPECT_EQ(r.get<uint32_t>(), 7u);
    EXPECT_EQ(r.get<float>(), 1.5f);
    EXPECT_EQ(r.fixedText(8), "guest");
    EXPECT_EQ(r.get<int8_t>(), -3);
    EXPECT_TRUE(r.atEnd());
}

}  // namespace
}  // namespace tessaro
