// The DES block cipher (FIPS 46): 64-bit blocks under a 64-bit key whose parity bits are
// ignored. Used only by the formula password lock; written out in full so that locked
// formulas read the same on every machine, with no crypto library behind it.
#pragma once

#include <array>
#include <cstdint>

namespace tessaro {

class DesKey {
public:
    // The eight key bytes as stored: byte 0 holds key bits 1..8 (bit 1 the most significant).
    explicit DesKey(const uint8_t key[8]);

    // One block in place, eight bytes, big-endian bit order as in the standard.
    void Encrypt(uint8_t block[8]) const;
    void Decrypt(uint8_t block[8]) const;

private:
    uint64_t Crypt(uint64_t block, bool decrypt) const;

    std::array<uint64_t, 16> subkeys_{};  // 48-bit round keys in the low bits
};

}  // namespace tessaro
