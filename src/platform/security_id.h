// The identity of a security: market, code, class and code-table entry.
//
// These are the packed records every module shares; the rules that derive a
// class from a code and decimals from a class live in security_registry.h.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/text.h"

namespace tessaro {

// Two ASCII letters, first letter in the low byte.
using MarketCode = uint16_t;
inline constexpr MarketCode kMarketSH = 0x4853;      // "SH"
inline constexpr MarketCode kMarketSZ = 0x5A53;      // "SZ"
inline constexpr MarketCode kMarketSystem = 0x2424;  // "$$"
inline constexpr int kMarketCount = 3;

// Store slot 0, 1, 2 of a market, or -1 for an unknown market code.
constexpr int MarketSlot(MarketCode m) {
    return m == kMarketSH ? 0 : m == kMarketSZ ? 1 : m == kMarketSystem ? 2 : -1;
}
constexpr MarketCode MarketAtSlot(int slot) {
    return slot == 0 ? kMarketSH : slot == 1 ? kMarketSZ : slot == 2 ? kMarketSystem : 0;
}
// Market bit for market masks: SH 1, SZ 2, $$ 4 (3 = both exchanges).
constexpr unsigned MarketBit(MarketCode m) {
    int slot = MarketSlot(m);
    return slot < 0 ? 0u : 1u << slot;
}
// Directory name "sh", "sz", "$$", or "" for an unknown market.
constexpr std::string_view MarketDirName(MarketCode m) {
    return m == kMarketSH ? "sh" : m == kMarketSZ ? "sz" : m == kMarketSystem ? "$$" : "";
}
// The two letters "SH", "SZ", "$$", or "" for an unknown market.
constexpr std::string_view MarketLetters(MarketCode m) {
    return m == kMarketSH ? "SH" : m == kMarketSZ ? "SZ" : m == kMarketSystem ? "$$" : "";
}
// "SH"/"sh" to the market code (case-insensitive), 0 when not a market.
inline MarketCode MarketFromLetters(std::string_view letters) {
    for (MarketCode m : {kMarketSH, kMarketSZ, kMarketSystem})
        if (EqualsNoCase(letters, MarketLetters(m))) return m;
    return 0;
}

enum SecurityClass : uint16_t {
    kClassOther = 0,
    kClassIndex = 1,
    kClassAShare = 2,
    kClassBShare = 3,
    kClassFund = 4,
    kClassBond = 5,
    kClassWarrant = 6,
};
// Class mask bit (class - 1); class 0 has no bit (mask 0 selects it).
constexpr unsigned ClassMaskBit(uint16_t cls) { return cls == 0 ? 0u : 1u << (cls - 1); }

#pragma pack(push, 1)

// 12 bytes: market and code (up to nine characters and a NUL).
struct SecurityId {
    MarketCode market = 0;
    char code[10] = {};

    std::string_view codeText() const { return FieldText(code); }
    void setCode(std::string_view text) { CopyToField(code, text); }
};
static_assert(sizeof(SecurityId) == 12);

// 46 bytes: the code-table entry, also the first 46 bytes of a market-file record.
struct CodeEntry {
    SecurityId id;
    uint16_t securityClass = 0;
    char name[32] = {};  // GBK, NUL-terminated

    std::string_view nameText() const { return FieldText(name); }
    void setName(std::string_view gbk) { CopyToField(name, gbk); }
};
static_assert(sizeof(CodeEntry) == 46);

#pragma pack(pop)

// Header-only so that the path builders of the application layer can use it.
inline SecurityId MakeSecurityId(MarketCode market, std::string_view code) {
    SecurityId id;
    id.market = market;
    id.setCode(code);
    return id;
}

// Codes compare case-insensitively.
inline bool SameSecurity(const SecurityId& a, const SecurityId& b) {
    return a.market == b.market && EqualsNoCase(a.codeText(), b.codeText());
}

// "SH600000" <-> SecurityId, the form used on the command line and in logs.
inline bool ParseSecurityText(std::string_view text, SecurityId& out) {
    if (text.size() < 3 || text.size() > 11) return false;
    MarketCode m = MarketFromLetters(text.substr(0, 2));
    if (m == 0) return false;
    out = MakeSecurityId(m, text.substr(2));
    return true;
}

inline std::string SecurityText(const SecurityId& id) {
    return std::string(MarketLetters(id.market)) + std::string(id.codeText());
}

}  // namespace tessaro
