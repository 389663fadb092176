// DES against published known-answer vectors, and the formula password lock built on it.
#include <gtest/gtest.h>

#include <random>

#include "formula/des.h"
#include "formula/formula_cipher.h"
#include "platform/crc32.h"
#include "platform/text.h"

namespace tessaro {
namespace {

std::array<uint8_t, 8> Hex(const char* hex) {
    std::array<uint8_t, 8> out{};
    for (size_t i = 0; i < 8; ++i) out[i] = static_cast<uint8_t>(std::stoul(std::string(hex + 2 * i, 2), nullptr, 16));
    return out;
}

struct Vector {
    const char* key;
    const char* plain;
    const char* cipher;
};

TEST(Des, PublishedKnownAnswerVectors) {
    const Vector vectors[] = {
        // The worked example that textbooks step through round by round.
        {"133457799BBCDFF1", "0123456789ABCDEF", "85E813540F0AB405"},
        // The "Now is the time for all " example of the DES modes standard (first block, ECB).
        {"0123456789ABCDEF", "4E6F772069732074", "3FA40E8A984D4815"},
        // Variable-plaintext known-answer test: the first vector under the all-ones-parity key.
        {"0101010101010101", "8000000000000000", "95F8A5E5DD31D900"},
        {"0101010101010101", "0000000000000000", "8CA64DE9C1B123A7"},
        // A key whose encryption of 87..87 is all zeros.
        {"0E329232EA6D0D73", "8787878787878787", "0000000000000000"},
    };
    for (const Vector& v : vectors) {
        auto key = Hex(v.key);
        auto block = Hex(v.plain);
        DesKey des(key.data());
        des.Encrypt(block.data());
        EXPECT_EQ(block, Hex(v.cipher)) << v.key << " " << v.plain;
        des.Decrypt(block.data());
        EXPECT_EQ(block, Hex(v.plain)) << v.key;
    }
}

TEST(Des, ParityBitsOfTheKeyAreIgnored) {
    auto a = Hex("133457799BBCDFF1");
    auto b = a;
    for (auto& x : b) x ^= 1;  // flip every parity bit
    auto block1 = Hex("0123456789ABCDEF");
    auto block2 = block1;
    DesKey(a.data()).Encrypt(block1.data());
    DesKey(b.data()).Encrypt(block2.data());
    EXPECT_EQ(block1, block2);
}

TEST(Des, WeakKeyIsItsOwnInverseAndRandomBlocksRoundTrip) {
    // Under a weak key every round key is the same, so encryption undoes itself.
    auto weak = Hex("0101010101010101");
    DesKey w(weak.data());
    std::mt19937 rng(7);
    for (int n = 0; n < 200; ++n) {
        std::array<uint8_t, 8> key, block;
        for (auto& x : key) x = static_cast<uint8_t>(rng());
        for (auto& x : block) x = static_cast<uint8_t>(rng());
        auto original = block;
        w.Encrypt(block.data());
        w.Encrypt(block.data());
        EXPECT_EQ(block, original);
        DesKey k(key.data());
        k.Encrypt(block.data());
        EXPECT_NE(block, original);
        k.Decrypt(block.data());
        EXPECT_EQ(block, original);
    }
}

TEST(FormulaLockCipher, ShortPasswordIsSingleDesPerBlockWithCyclingKeys) {
    // A password of up to 8 bytes is one key: every block is plain DES under it.
    FormulaLockCipher cipher("abc");
    std::string data = "01234567abcdefgh";
    std::string copy = data;
    cipher.Encipher(copy);
    const uint8_t key[8] = {'a', 'b', 'c', 0, 0, 0, 0, 0};
    DesKey des(key);
    for (size_t i = 0; i < 16; i += 8) {
        uint8_t block[8];
        std::memcpy(block, data.data() + i, 8);
        des.Encrypt(block);
        EXPECT_EQ(0, std::memcmp(block, copy.data() + i, 8)) << i;
    }
}

TEST(FormulaLockCipher, LongPasswordTriplesEachBlockWithTwoKeys) {
    // 9 bytes give two key blocks: block 0 is E(k0) D(k1) E(k0), block 1 is E(k1) D(k0) E(k1).
    const std::string password = "123456789";
    FormulaLockCipher cipher(password);
    std::string data = "ABCDEFGHIJKLMNOP";
    std::string copy = data;
    cipher.Encipher(copy);
    const uint8_t k0[8] = {'1', '2', '3', '4', '5', '6', '7', '8'};
    const uint8_t k1[8] = {'9', 0, 0, 0, 0, 0, 0, 0};
    DesKey d0(k0), d1(k1);
    uint8_t b0[8], b1[8];
    std::memcpy(b0, data.data(), 8);
    std::memcpy(b1, data.data() + 8, 8);
    d0.Encrypt(b0), d1.Decrypt(b0), d0.Encrypt(b0);
    d1.Encrypt(b1), d0.Decrypt(b1), d1.Encrypt(b1);
    EXPECT_EQ(0, std::memcmp(b0, copy.data(), 8));
    EXPECT_EQ(0, std::memcmp(b1, copy.data() + 8, 8));
    cipher.Decipher(copy);
    EXPECT_EQ(copy, data);
}

TEST(FormulaPassword, LockThenOpenGivesTheTextAndAWrongPasswordIsRefused) {
    const std::string text = Utf8ToGbk("DIF:EMA(CLOSE,SHORT)-EMA(CLOSE,LONG);{中文注释}");
    for (const std::string password : {"x", "12345678", "123456789", "a much longer password!!"}) {
        FormulaRecord r;
        SetFormulaPassword(r, text, password);
        EXPECT_TRUE(r.isLocked());
        EXPECT_EQ(r.source.size() % 8, 0u);
        EXPECT_GE(r.source.size(), text.size());
        EXPECT_EQ(r.source.find("EMA"), std::string::npos) << "the text must not stay readable";
        EXPECT_EQ(r.lockChecksum, Crc32(ByteSpan(reinterpret_cast<const uint8_t*>(text.data()), text.size())));
        auto open = OpenFormulaText(r, password);
        ASSERT_TRUE(open) << password;
        EXPECT_EQ(*open, text);
        EXPECT_FALSE(OpenFormulaText(r, password + "?"));
        EXPECT_FALSE(OpenFormulaText(r, ""));
    }
}

TEST(FormulaPassword, TextOfWholeBlocksHasNoTerminatorAndStillOpens) {
    // 16 bytes: the stored buffer is exactly the text, without a NUL after it.
    const std::string text = "A:C;B:O;CC:H+L;X";
    ASSERT_EQ(text.size(), 16u);
    FormulaRecord r;
    SetFormulaPassword(r, text, "pw");
    EXPECT_EQ(r.source.size(), 16u);
    auto open = OpenFormulaText(r, "pw");
    ASSERT_TRUE(open);
    EXPECT_EQ(*open, text);
    // A stored text of an odd length (a damaged file) deciphers its whole blocks only.
    r.source.resize(13);
    EXPECT_FALSE(OpenFormulaText(r, "pw"));
}

TEST(FormulaPassword, EmptyPasswordStoresPlainTextAndBuiltInsNeverOpen) {
    FormulaRecord r;
    SetFormulaPassword(r, "A:C;", "");
    EXPECT_EQ(r.source, "A:C;");
    EXPECT_EQ(r.lockChecksum, 0u);
    EXPECT_EQ(OpenFormulaText(r, "anything"), std::optional<std::string>("A:C;"));
    r.lockChecksum = kBuiltInLockMarker;
    EXPECT_FALSE(OpenFormulaText(r, "A:C;"));
    EXPECT_FALSE(OpenFormulaText(r, ""));
}

TEST(FormulaPassword, ChecksumIsNeverZeroOrTheBuiltInMarker) {
    // The empty text has CRC 0, which would read as "no password".
    EXPECT_NE(LockChecksum(""), 0u);
    EXPECT_NE(LockChecksum(""), kBuiltInLockMarker);
    EXPECT_EQ(LockChecksum(std::string("ab\0cd", 5)), LockChecksum("ab"));
}

}  // namespace
}  // namespace tessaro
