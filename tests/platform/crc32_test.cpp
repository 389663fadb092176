#include <gtest/gtest.h>

#include <string_view>

#include "platform/crc32.h"

namespace tessaro {
namespace {

uint32_t Crc(std::string_view s, uint32_t start = 0) {
    return Crc32({reinterpret_cast<const uint8_t*>(s.data()), s.size()}, start);
}

TEST(Crc32, MatchesHandComputation) {
    // From the definition: start 0, one byte 0x01 -> table[1] = 0x77073096
    // (no inversion at either end).
    EXPECT_EQ(Crc(std::string_view("\x01", 1)), 0x77073096u);
    // Byte 0x00 with start 0 -> table[0] = 0.
    EXPECT_EQ(Crc(std::string_view("\0", 1)), 0u);
    EXPECT_EQ(Crc(""), 0u);
    // "a" = 0x61: table[0x61], worked out bit by bit from the polynomial.
    EXPECT_EQ(Crc("a"), 0x3AB551CEu);
}

TEST(Crc32, DiffersFromZlibAndContinuesAcrossChunks) {
    // zlib's crc32("123456789") is 0xCBF43926; this checksum is not.
    EXPECT_NE(Crc("123456789"), 0xCBF43926u);
    // zlib's value equals ours started from ~0 and inverted at the end.
    EXPECT_EQ(~Crc("123456789", 0xFFFFFFFFu), 0xCBF43926u);
    EXPECT_EQ(Crc("6789", Crc("12345")), Crc("123456789"));
}

}  // namespace
}  // namespace tessaro
