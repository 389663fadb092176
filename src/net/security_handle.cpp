#include "net/security_handle.h"

#include <algorithm>

#include "platform/text.h"

namespace tessaro {

namespace {

// The value of 1..digits decimal digits, or nothing.
std::optional<uint32_t> DecimalValue(std::string_view text, size_t maxDigits) {
    if (text.empty() || text.size() > maxDigits) return std::nullopt;
    uint32_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        v = v * 10 + static_cast<uint32_t>(c - '0');
    }
    return v;
}

}  // namespace

bool HandleAliasTable::Add(std::string_view code, std::string_view numericText) {
    code = TrimAscii(code);
    numericText = TrimAscii(numericText);
    if (code.empty() || code.size() > 9) return false;
    // Seven digits at most, and the value must decode back to a six-digit code.
    std::optional<uint32_t> value = DecimalValue(numericText, 7);
    if (!value || *value > kMaxSecurityHandle) return false;
    std::string key = AsciiUpper(code);
    auto it = std::lower_bound(entries_.begin(), entries_.end(), key,
                               [](const Entry& e, const std::string& k) { return e.code < k; });
    if (it != entries_.end() && it->code == key) it->handle = *value;
    else entries_.insert(it, Entry{std::move(key), *value});
    return true;
}

std::optional<SecurityHandle> HandleAliasTable::Find(std::string_view code) const {
    std::string key = AsciiUpper(code);
    auto it = std::lower_bound(entries_.begin(), entries_.end(), key,
                               [](const Entry& e, const std::string& k) { return e.code < k; });
    if (it == entries_.end() || it->code != key) return std::nullopt;
    return it->handle;
}

std::optional<SecurityId> DecodeSecurityHandle(SecurityHandle handle) {
    if (handle > kMaxSecurityHandle) return std::nullopt;
    MarketCode market = kMarketSZ;
    if (handle >= kShanghaiHandleBase) {
        market = kMarketSH;
        handle -= kShanghaiHandleBase;
    }
    // Six digits with leading zeros, written directly: every quote and code
    // record goes through here, and a formatted print would dominate decoding.
    char code[6];
    for (int i = 5; i >= 0; --i) {
        code[i] = static_cast<char>('0' + handle % 10);
        handle /= 10;
    }
    return MakeSecurityId(market, std::string_view(code, sizeof code));
}

SecurityHandle EncodeSecurityHandle(const SecurityId& id, const HandleAliasTable* aliases) {
    std::string_view code = id.codeText();
    // More than six digits would collide with the Shanghai range: not a plain number.
    if (std::optional<uint32_t> v = DecimalValue(code, 6))
        return id.market == kMarketSH ? *v + kShanghaiHandleBase : *v;
    if (aliases) {
        if (std::optional<SecurityHandle> h = aliases->Find(code)) return *h;
    }
    return 0;
}

}  // namespace tessaro
