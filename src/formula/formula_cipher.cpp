#include "formula/formula_cipher.h"

#include <cstring>

#include "formula/condition.h"
#include "platform/crc32.h"

namespace tessaro {
namespace {

std::string_view UpToNul(std::string_view s) {
    size_t nul = s.find('\0');
    return nul == std::string_view::npos ? s : s.substr(0, nul);
}

// Enciphered under the password, this block stands in for the checksum text of a condition
// list that names no formula (finance items and numbers only).
constexpr uint8_t kConditionMarkerBlock[8] = {'T', 'S', 'R', 'C', 'O', 'N', 'D', 0};

// The 16-byte name field in place as two blocks: bytes 0..7 (block 0) and 8..15 (block 1).
void EncipherNameField(const FormulaLockCipher& cipher, uint8_t* field) {
    cipher.EncipherBlock(field, 0);
    cipher.EncipherBlock(field + 8, 1);
}

void DecipherNameField(const FormulaLockCipher& cipher, uint8_t* field) {
    cipher.DecipherBlock(field, 0);
    cipher.DecipherBlock(field + 8, 1);
}

// Lists locked by earlier versions enciphered the field as two overlapping blocks, bytes
// 0..7 and then 7..14, and left byte 15 (a NUL) alone; they still open.
void DecipherOverlappedNameField(const FormulaLockCipher& cipher, uint8_t* field) {
    cipher.DecipherBlock(field + 7, 1);
    cipher.DecipherBlock(field, 0);
}

uint8_t* At(std::string& s, size_t offset) { return reinterpret_cast<uint8_t*>(s.data()) + offset; }

// The CRC, moved off the two values that mean "no password" and "built in".
uint32_t NonZeroChecksum(ByteSpan bytes) {
    uint32_t crc = Crc32(bytes);
    return (crc == 0 || crc == kBuiltInLockMarker) ? 0x00000001u : crc;
}

uint32_t MarkerChecksum(const FormulaLockCipher& cipher) {
    uint8_t block[8];
    std::memcpy(block, kConditionMarkerBlock, sizeof block);
    cipher.EncipherBlock(block, 0);
    return NonZeroChecksum(ByteSpan(block, sizeof block));
}

// The formula operands of a decoded condition list, in order (left before right).
std::vector<ConditionOperand*> FormulaOperands(std::vector<Condition>& conditions) {
    std::vector<ConditionOperand*> operands;
    for (Condition& c : conditions)
        for (ConditionOperand* op : {&c.left, &c.right})
            if (op->kind == kConditionOperandFormula) operands.push_back(op);
    return operands;
}

uint8_t* FieldBytes(char* field) { return reinterpret_cast<uint8_t*>(field); }

}  // namespace

FormulaLockCipher::FormulaLockCipher(std::string_view password) {
    if (password.empty()) return;
    std::string material(password);
    material.resize((material.size() + 7) / 8 * 8, '\0');
    for (size_t k = 0; k < material.size(); k += 8)
        keys_.emplace_back(reinterpret_cast<const uint8_t*>(material.data() + k));
    triple_ = password.size() >= 9;
}

void FormulaLockCipher::EncipherBlock(uint8_t* block, size_t index) const {
    if (keys_.empty()) return;
    const DesKey& k = keys_[index % keys_.size()];
    k.Encrypt(block);
    if (!triple_) return;
    keys_[(index + 1) % keys_.size()].Decrypt(block);
    k.Encrypt(block);
}

void FormulaLockCipher::DecipherBlock(uint8_t* block, size_t index) const {
    if (keys_.empty()) return;
    const DesKey& k = keys_[index % keys_.size()];
    k.Decrypt(block);
    if (!triple_) return;
    keys_[(index + 1) % keys_.size()].Encrypt(block);
    k.Decrypt(block);
}

void FormulaLockCipher::Encipher(std::string& bytes) const {
    for (size_t i = 0; i + 8 <= bytes.size(); i += 8) EncipherBlock(At(bytes, i), i / 8);
}

void FormulaLockCipher::Decipher(std::string& bytes) const {
    for (size_t i = 0; i + 8 <= bytes.size(); i += 8) DecipherBlock(At(bytes, i), i / 8);
}

uint32_t LockChecksum(std::string_view plain) {
    std::string_view text = UpToNul(plain);
    return NonZeroChecksum(ByteSpan(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

void SetFormulaPassword(FormulaRecord& record, std::string_view plainText, std::string_view password) {
    // The text may be the record's own source: copy it before anything is replaced.
    std::string text(UpToNul(plainText));
    if (password.empty()) {
        record.source = std::move(text);
        record.lockChecksum = 0;
        return;
    }
    const uint32_t checksum = LockChecksum(text);
    text.resize((text.size() + 7) / 8 * 8, '\0');
    FormulaLockCipher(password).Encipher(text);
    record.source = std::move(text);
    record.lockChecksum = checksum;
}

std::optional<std::string> OpenFormulaText(const FormulaRecord& record, std::string_view password) {
    if (record.lockChecksum == 0) return record.source;
    if (record.lockChecksum == kBuiltInLockMarker || password.empty()) return std::nullopt;
    std::string copy = record.source;
    FormulaLockCipher(password).Decipher(copy);
    std::string text(UpToNul(copy));
    if (LockChecksum(text) != record.lockChecksum) return std::nullopt;
    return text;
}

bool LockConditions(FormulaRecord& record, std::string_view password) {
    if (record.type != kFormulaCombined || record.isLocked() || record.instructions.empty()) return false;
    std::vector<Condition> conditions;
    if (!DecodeConditions(record, conditions)) return false;
    if (password.empty()) return true;
    FormulaLockCipher cipher(password);
    std::vector<ConditionOperand*> operands = FormulaOperands(conditions);
    // The first formula operand's name, while still plain, gives the checksum.
    const uint32_t checksum =
        operands.empty() ? MarkerChecksum(cipher) : LockChecksum(operands.front()->formulaNameText());
    for (ConditionOperand* op : operands) {
        for (char* field : {op->formulaName, op->lineName}) {
            field[sizeof op->formulaName - 1] = 0;  // the plain name, up to 15 bytes
            EncipherNameField(cipher, FieldBytes(field));
        }
    }
    SetConditions(record, conditions);
    record.lockChecksum = checksum;
    return true;
}

std::optional<std::vector<std::string>> OpenConditions(const FormulaRecord& record, std::string_view password) {
    if (record.lockChecksum == 0) return record.conditions;
    if (record.lockChecksum == kBuiltInLockMarker || password.empty()) return std::nullopt;
    std::vector<Condition> stored;
    if (!DecodeConditions(record, stored)) return std::nullopt;
    FormulaLockCipher cipher(password);
    // The two-block layout first; a list whose checksum fails under it is tried in the
    // overlapping layout of older lists.
    for (auto decipher : {DecipherNameField, DecipherOverlappedNameField}) {
        std::vector<Condition> conditions = stored;
        std::vector<ConditionOperand*> operands = FormulaOperands(conditions);
        for (ConditionOperand* op : operands) {
            for (char* field : {op->formulaName, op->lineName}) {
                decipher(cipher, FieldBytes(field));
                field[sizeof op->formulaName - 1] = 0;  // a plain name ends by byte 15
            }
        }
        const uint32_t expected =
            operands.empty() ? MarkerChecksum(cipher) : LockChecksum(operands.front()->formulaNameText());
        if (expected != record.lockChecksum) continue;
        std::vector<std::string> plain;
        plain.reserve(conditions.size());
        for (const Condition& c : conditions) plain.push_back(ConditionImage(c));
        return plain;
    }
    return std::nullopt;
}

}  // namespace tessaro
