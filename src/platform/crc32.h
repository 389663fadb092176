// The checksum of formula, block and base files.
//
// Table CRC-32 with the reflected polynomial 0xEDB88320, initial value 0 and no
// final inversion. This differs from zlib's crc32 (which starts from and ends
// with an inversion), so the two must not be mixed.
#pragma once

#include <cstdint>
#include <span>

namespace tessaro {

// Continues a checksum over `data`; start with crc = 0.
uint32_t Crc32(std::span<const uint8_t> data, uint32_t crc = 0);

}  // namespace tessaro
