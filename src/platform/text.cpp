#include "platform/text.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>

namespace tessaro {
namespace {

// One converter per thread and direction: iconv_t carries state and is not thread-safe.
class Converter {
public:
    Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~Converter() {
        if (cd_ != reinterpret_cast<iconv_t>(-1)) iconv_close(cd_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    // Converts `in`; an input sequence that cannot be converted is skipped
    // (skipLength(first byte) bytes) and `replacement` is written instead.
    std::string run(std::string_view in, std::string_view replacement, size_t (*skipLength)(uint8_t)) {
        std::string out;
        if (cd_ == reinterpret_cast<iconv_t>(-1)) return out;
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        out.resize(in.size() * 2 + 8);
        char* src = const_cast<char*>(in.data());
        size_t srcLeft = in.size();
        size_t done = 0;
        while (srcLeft > 0) {
            char* dst = out.data() + done;
            size_t dstLeft = out.size() - done;
            size_t r = iconv(cd_, &src, &srcLeft, &dst, &dstLeft);
            done = out.size() - dstLeft;
            if (r != static_cast<size_t>(-1)) break;
            if (errno == E2BIG) {
                out.resize(out.size() * 2);
                continue;
            }
            // EILSEQ or EINVAL (truncated sequence at the end): replace and go on.
            size_t n = std::min(skipLength(static_cast<uint8_t>(*src)), srcLeft);
            src += n;
            srcLeft -= n;
            if (out.size() - done < replacement.size()) out.resize(out.size() * 2 + replacement.size());
            out.replace(done, replacement.size(), replacement);
            done += replacement.size();
            iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        }
        out.resize(done);
        return out;
    }

private:
    iconv_t cd_;
};

size_t OneByte(uint8_t) { return 1; }

size_t Utf8SequenceLength(uint8_t lead) {
    if (lead < 0x80) return 1;
    if ((lead & 0xE0) == 0xC0) return 2;
    if ((lead & 0xF0) == 0xE0) return 3;
    if ((lead & 0xF8) == 0xF0) return 4;
    return 1;
}

}  // namespace

std::string GbkToUtf8(std::string_view gbk) {
    thread_local Converter conv("UTF-8", "GBK");
    return conv.run(gbk, "\xEF\xBF\xBD", OneByte);
}

std::string Utf8ToGbk(std::string_view utf8) {
    thread_local Converter conv("GBK", "UTF-8");
    return conv.run(utf8, "?", Utf8SequenceLength);
}

std::string_view CutGbk(std::string_view gbk, size_t maxBytes) {
    if (gbk.size() <= maxBytes) return gbk;
    size_t i = 0;
    while (i < maxBytes) {
        size_t n = IsGbkLead(static_cast<uint8_t>(gbk[i])) && i + 1 < gbk.size() ? 2 : 1;
        if (i + n > maxBytes) break;
        i += n;
    }
    return gbk.substr(0, i);
}

void CopyToField(char* field, size_t width, std::string_view gbk) {
    if (width == 0) return;
    std::string_view text = CutGbk(gbk.substr(0, std::min(gbk.find('\0'), gbk.size())), width - 1);
    std::fill(field, field + width, '\0');
    std::copy(text.begin(), text.end(), field);
}

std::string_view FieldText(const char* field, size_t width) {
    size_t n = 0;
    while (n < width && field[n] != '\0') ++n;
    return std::string_view(field, n);
}

namespace {
// Applies f to ASCII bytes only, stepping over both bytes of double-byte characters.
template <class F>
std::string MapAscii(std::string_view s, F f) {
    std::string out(s);
    for (size_t i = 0; i < out.size(); ++i) {
        auto b = static_cast<uint8_t>(out[i]);
        if (IsGbkLead(b)) {
            ++i;
            continue;
        }
        out[i] = f(out[i]);
    }
    return out;
}
char Upper(char c) { return c >= 'a' && c <= 'z' ? char(c - 32) : c; }
char Lower(char c) { return c >= 'A' && c <= 'Z' ? char(c + 32) : c; }
}  // namespace

std::string AsciiUpper(std::string_view s) { return MapAscii(s, Upper); }
std::string AsciiLower(std::string_view s) { return MapAscii(s, Lower); }

int CompareNoCase(std::string_view a, std::string_view b) {
    size_t n = std::min(a.size(), b.size());
    bool trail = false;  // the byte under test is the second byte of a double-byte character
    for (size_t i = 0; i < n; ++i) {
        auto x = static_cast<uint8_t>(a[i]);
        auto y = static_cast<uint8_t>(b[i]);
        if (!trail) {
            x = static_cast<uint8_t>(Lower(static_cast<char>(x)));
            y = static_cast<uint8_t>(Lower(static_cast<char>(y)));
        }
        if (x != y) return x < y ? -1 : 1;
        trail = !trail && IsGbkLead(static_cast<uint8_t>(a[i]));
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && CompareNoCase(s.substr(0, prefix.size()), prefix) == 0;
}

std::string_view TrimAscii(std::string_view s) {
    auto space = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; };
    while (!s.empty() && space(s.front())) s.remove_prefix(1);
    while (!s.empty() && space(s.back())) s.remove_suffix(1);
    return s;
}

}  // namespace tessaro
