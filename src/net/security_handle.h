// SecurityHandle: the 32-bit wire form of a security.
//
// A Shenzhen code n travels as n, a Shanghai code n as 1000000 + n; codes that
// are not plain six-digit numbers travel under a numeric alias. A handle is
// decoded back only when it names a six-digit code: anything above 1999999
// would need a seventh digit, which neither the 10-byte code field nor a file
// name built from the code may receive.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/security_id.h"

namespace tessaro {

using SecurityHandle = uint32_t;

inline constexpr SecurityHandle kShanghaiHandleBase = 1000000;
inline constexpr SecurityHandle kMaxSecurityHandle = 1999999;

// Codes that are not entirely decimal digits, each with the number the server
// knows it by. Lookups ignore ASCII case, like every code comparison.
class HandleAliasTable {
public:
    // Adds or replaces an alias. Fails (returns false) when the numeric text is
    // not a decimal number that decodes to a six-digit code, or the code is empty.
    bool Add(std::string_view code, std::string_view numericText);
    std::optional<SecurityHandle> Find(std::string_view code) const;
    size_t size() const { return entries_.size(); }
    void Clear() { entries_.clear(); }

private:
    struct Entry {
        std::string code;  // upper-cased
        SecurityHandle handle;
    };
    std::vector<Entry> entries_;  // sorted by code
};

// The security a handle names: below 1000000 Shenzhen, up to 1999999 Shanghai,
// the code written with six digits. Larger handles give nothing.
std::optional<SecurityId> DecodeSecurityHandle(SecurityHandle handle);

// The handle of a security: a code of one to six decimal digits is its value,
// plus 1000000 in Shanghai (other markets get no offset); any other code is
// looked up in the alias table. A code found nowhere gives 0.
SecurityHandle EncodeSecurityHandle(const SecurityId& id, const HandleAliasTable* aliases = nullptr);

}  // namespace tessaro
