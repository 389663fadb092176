#include "player/value_convert.h"

#include <limits>

namespace zuvo {

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Compares `value` with the first value.size() characters of `word`, as a length-limited
// case-insensitive comparison does: a value longer than the word never matches.
bool MatchesPrefixOf(std::string_view value, std::string_view word) {
    if (value.size() > word.size()) return false;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (LowerAscii(value[i]) != LowerAscii(word[i])) return false;
    }
    return true;
}

}  // namespace

std::uint32_t ParseUnsignedDecimal(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && IsBlank(text[i])) ++i;
    constexpr std::uint64_t kMax = std::numeric_limits<std::uint32_t>::max();
    std::uint64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + static_cast<std::uint64_t>(text[i] - '0');
        if (value > kMax) return static_cast<std::uint32_t>(kMax);  // saturate, never wrap
    }
    return static_cast<std::uint32_t>(value);
}

bool ParseFlag(std::string_view text) {
    return MatchesPrefixOf(text, "true") || MatchesPrefixOf(text, "1") || MatchesPrefixOf(text, "-1");
}

std::string AsciiLower(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = LowerAscii(c);
    return out;
}

std::size_t Utf8SequenceLength(std::string_view text, std::size_t pos) {
    if (pos >= text.size()) return 0;
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char b0 = byte(pos);
    if (b0 < 0x80) return 1;
    std::size_t len;
    unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        len = 2;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        len = 3;
        if (b0 == 0xE0) lo = 0xA0;       // overlong
        if (b0 == 0xED) hi = 0x9F;       // UTF-16 surrogates
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        len = 4;
        if (b0 == 0xF0) lo = 0x90;       // overlong
        if (b0 == 0xF4) hi = 0x8F;       // above U+10FFFF
    } else {
        return 0;
    }
    if (text.size() - pos < len) return 0;
    if (byte(pos + 1) < lo || byte(pos + 1) > hi) return 0;
    for (std::size_t i = 2; i < len; ++i) {
        if (byte(pos + i) < 0x80 || byte(pos + i) > 0xBF) return 0;
    }
    return len;
}

bool IsValidUtf8(std::string_view text) {
    for (std::size_t pos = 0; pos < text.size();) {
        const std::size_t len = Utf8SequenceLength(text, pos);
        if (len == 0) return false;
        pos += len;
    }
    return true;
}

}  // namespace zuvo
