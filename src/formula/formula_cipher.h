// The formula password lock.
//
// A locked formula keeps its text enciphered with DES in ECB mode, keyed by the password:
// the password's bytes, zero-padded to a multiple of 8, give K key blocks, and data block i
// uses key block i mod K. A password of 9 or more bytes processes each block three times
// (encrypt with key i mod K, decrypt with key (i + 1) mod K, encrypt with key i mod K).
// The record's lock checksum is the CRC of the plain text; a password is right when the
// deciphered text has that checksum.
//
// Combined conditions keep their compiled code in plain form (so they still evaluate) and
// encipher only the formula and line names of their formula operands, in place.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "formula/compiled_formula.h"
#include "formula/des.h"

namespace tessaro {

class FormulaLockCipher {
public:
    // `password` holds the password's bytes (GBK); an empty password enciphers nothing.
    explicit FormulaLockCipher(std::string_view password);

    bool empty() const { return keys_.empty(); }
    // Block `index` (8 bytes at `block`) in place.
    void EncipherBlock(uint8_t* block, size_t index) const;
    void DecipherBlock(uint8_t* block, size_t index) const;
    // Every whole 8-byte block of the buffer, numbered from 0; a tail shorter than 8 bytes
    // is left as it is (a stored text cut to an odd length is never read past its end).
    void Encipher(std::string& bytes) const;
    void Decipher(std::string& bytes) const;

private:
    std::vector<DesKey> keys_;
    bool triple_ = false;
};

// The checksum that marks a locked formula: the CRC of the text up to its first NUL. It is
// never 0 (0 means "no password") and never the built-in marker, so a text whose CRC happens
// to be either still locks and no text ever opens a built-in formula.
uint32_t LockChecksum(std::string_view plain);
// The lock checksum of the built-in indicators: no password opens them.
inline constexpr uint32_t kBuiltInLockMarker = 0xFFFFFFFFu;

// Stores `plainText` in the record, enciphered under `password` (lock checksum set), or plain
// with checksum 0 when the password is empty. The text is taken up to its first NUL.
void SetFormulaPassword(FormulaRecord& record, std::string_view plainText, std::string_view password);
// The plain text of a formula: its source when it has no password, else the deciphered text
// when `password` is right; nullopt for a wrong password or a built-in formula.
std::optional<std::string> OpenFormulaText(const FormulaRecord& record, std::string_view password);

// Locks a combined-condition formula (type 7) that has been compiled: sets the lock checksum
// and enciphers the formula and line names of every formula operand in place, each 16-byte
// name field whole as two blocks (bytes 0..7 and 8..15). A condition list without a formula
// operand is still locked: its
// checksum then comes from a block enciphered under the password. An empty password clears
// the lock. False (record unchanged) for another type, an uncompiled formula, a formula that
// is already locked or a condition image that cannot be read.
bool LockConditions(FormulaRecord& record, std::string_view password);
// The plain condition images of a locked combined condition, or nullopt for a wrong password
// or a damaged list. Lists locked by earlier versions (fields enciphered as overlapping blocks
// 0..7 and 7..14, byte 15 left alone) open too; locking always writes the two-block layout.
// An unlocked formula returns its conditions as they are.
std::optional<std::vector<std::string>> OpenConditions(const FormulaRecord& record, std::string_view password);

}  // namespace tessaro
