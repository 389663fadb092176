// GBK text: conversion to and from UTF-8, fixed fields and ASCII-only case folding.
//
// Records, files and the wire hold GBK bytes; the program's own code, logs and
// command-line output use UTF-8. Convert only at those boundaries.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tessaro {

// A byte that starts a GBK double-byte character.
inline bool IsGbkLead(uint8_t b) { return b >= 0x81 && b <= 0xFE; }

// GBK (code page 936) to UTF-8. Invalid sequences become U+FFFD.
std::string GbkToUtf8(std::string_view gbk);
// UTF-8 to GBK. Characters GBK lacks become '?'.
std::string Utf8ToGbk(std::string_view utf8);

// The longest prefix of `gbk` of at most maxBytes bytes that does not split a
// double-byte character.
std::string_view CutGbk(std::string_view gbk, size_t maxBytes);

// Copies text into a fixed field of `width` bytes: at most width - 1 bytes
// (never half a character), then NUL padding to the field's end.
void CopyToField(char* field, size_t width, std::string_view gbk);

// The text of a fixed field: up to the first NUL, or the whole field when it has none.
std::string_view FieldText(const char* field, size_t width);

template <size_t N>
std::string_view FieldText(const char (&field)[N]) { return FieldText(field, N); }
template <size_t N>
void CopyToField(char (&field)[N], std::string_view gbk) { CopyToField(field, N, gbk); }

// ASCII-only case folding: bytes of double-byte characters are never changed.
std::string AsciiUpper(std::string_view s);
std::string AsciiLower(std::string_view s);
// Case-insensitive comparison of ASCII letters only; a trail byte of a
// double-byte character is compared exactly.
int CompareNoCase(std::string_view a, std::string_view b);
inline bool EqualsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && CompareNoCase(a, b) == 0;
}
bool StartsWithNoCase(std::string_view s, std::string_view prefix);

// Trims ASCII white space at both ends.
std::string_view TrimAscii(std::string_view s);

}  // namespace tessaro
