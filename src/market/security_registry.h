// The security registry's rules: class of a code, price decimals, packed
// security numbers, and the pinyin initials that find a security by its name.
//
// The identity records themselves (MarketCode, SecurityId, CodeEntry) are in
// security_id.h; this file holds what is derived from them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/security_id.h"
#include "platform/settings_store.h"

namespace tessaro {

// ---- Classes and decimals -------------------------------------------------

// The class of a code in a market, by the ordered rule table: the leading
// decimal digits of the code are read as a number ("1A0001" reads 1, no digits
// read 0) and the first rule of the market that holds gives the class. An empty
// code or an unknown market gives class 0.
SecurityClass ClassifyCode(std::string_view code, MarketCode market);

// Price decimals of a class in a market's class table; -1 when the table lacks
// the class (class 0 everywhere, every class but 1 in the system market).
int ClassTableDecimals(MarketCode market, uint16_t cls);

// The class table's decimals, else defaultDecimals (the market's "defdec").
int PriceDecimals(MarketCode market, uint16_t cls, int defaultDecimals);

inline constexpr int kDefaultPriceDecimals = 2;
inline constexpr int kMaxPriceDecimals = 6;
// The DWORD "defdec" under the market's key (SH, SZ, $$): default 2. The value
// is read as a signed number and clamped to 0..6, so that a negative or huge
// stored value can never ask for an impossible number of decimals.
int ReadDefaultDecimals(const SettingsStore& settings, MarketCode market);

// ---- Packed security numbers ----------------------------------------------

// A Shenzhen code n packs to n, a Shanghai code n to 1000000 + n.
inline constexpr int32_t kPackedShanghaiBase = 1000000;

// Unpacks: 0..999999 is Shenzhen, 1000000..1999999 Shanghai; the code is the
// value printed with six digits. False (out untouched) for a negative number or
// one whose code would print more than six digits.
bool PackedToSecurity(int32_t packed, SecurityId& out);

// Packs an SH or SZ security whose code is exactly six ASCII digits; nullopt for
// any other market or code.
std::optional<int32_t> SecurityToPacked(const SecurityId& id);

// ---- Pinyin initials --------------------------------------------------------

// The initial of one GBK character (first byte * 256 + second byte): the ASCII
// counterpart of a full-width digit, letter or sign, the upper-case first letter
// of the pinyin of a GB2312 character, or 0 for anything else. Both bytes are
// checked, so a GBK extension character (such as 0xD940) gives 0.
char CharInitial(uint16_t gbkCode);

#pragma pack(push, 1)
// One record of the polyphonic-initials table: the character (two GBK bytes and
// a NUL) and up to six candidate initials, NUL-padded, not necessarily
// NUL-terminated.
struct PolyphonicRecord {
    char character[3] = {};
    char initials[6] = {};
};
static_assert(sizeof(PolyphonicRecord) == 9);
#pragma pack(pop)

// The initials of polyphonic characters, read from base/duoyin.ini: lines
// "<character>=<initials>". Loaded once at start-up and read-only afterwards,
// so concurrent lookups need no lock.
class PolyphonicTable {
public:
    // Replaces the table with the file's records. A missing or unreadable file
    // leaves the table empty and returns false.
    bool Load(const std::string& path);
    // Replaces the table with the records of a text (GBK bytes).
    void LoadText(std::string_view text);

    // The record of a two-byte character, or nullptr.
    const PolyphonicRecord* Find(uint8_t lead, uint8_t trail) const;

    size_t size() const { return records_.size(); }
    bool empty() const { return records_.empty(); }
    const std::vector<PolyphonicRecord>& records() const { return records_; }

private:
    std::vector<PolyphonicRecord> records_;  // sorted by character
};

// Start-up's name for PolyphonicTable::Load.
inline bool LoadPolyphonicTable(const std::string& path, PolyphonicTable& table) { return table.Load(path); }

#pragma pack(push, 1)
// 192 bytes: one 6-byte slot per significant character of a name, holding the
// candidate initials of that character (most have one; a polyphonic character
// up to six), NUL-padded. An unknown character leaves its slot all zero.
struct InitialsString {
    static constexpr int kSlots = 32;
    static constexpr int kSlotWidth = 6;
    char slots[kSlots][kSlotWidth] = {};

    // Slots up to the last one holding anything.
    int usedSlots() const;
    // The candidates of one slot, up to its first NUL.
    std::string_view candidates(int slot) const;
    // The first candidate of every slot up to the last used one; an empty
    // slot shows as '?'.
    std::string firstLetters() const;
};
static_assert(sizeof(InitialsString) == 192);
#pragma pack(pop)

// The initials of a GBK name: each two-byte character fills a slot from the
// polyphonic table (when given and listing it) or with CharInitial; an ASCII
// letter or digit fills a slot with itself; other bytes are skipped. Stops
// after 32 slots, at the end of the name, or at a lone lead byte at its end.
InitialsString NameToInitials(std::string_view gbkName, const PolyphonicTable* table);

}  // namespace tessaro
