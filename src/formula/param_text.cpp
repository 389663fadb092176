#include "formula/param_text.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>

#include "platform/text.h"

namespace tessaro {
namespace {

// A whole finite decimal number.
bool ParseNumber(std::string_view text, float& out) {
    if (text.empty()) return false;
    std::string s(text);
    char* end = nullptr;
    out = std::strtof(s.c_str(), &end);
    return end == s.c_str() + s.size() && std::isfinite(out);
}

}  // namespace

bool ParseParamText(std::string_view text, FormulaParam& out) {
    size_t eq = text.find('=');
    if (eq == std::string_view::npos || eq == 0) return false;
    std::string name = Utf8ToGbk(text.substr(0, eq));
    if (name.size() > static_cast<size_t>(kMaxFormulaNameLength)) return false;
    std::string_view rest = text.substr(eq + 1);
    std::string_view parts[3];
    int n = 0;
    for (size_t start = 0;;) {
        size_t comma = rest.find(',', start);
        if (n == 3) return false;
        parts[n++] = rest.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start);
        if (comma == std::string_view::npos) break;
        start = comma + 1;
    }
    if (n != 1 && n != 3) return false;
    out = FormulaParam{};
    out.setName(name);
    if (!ParseNumber(parts[0], out.defaultValue)) return false;
    if (n == 1) {
        out.min = std::min(out.defaultValue, -1e9f);
        out.max = std::max(out.defaultValue, 1e9f);
        return true;
    }
    if (!ParseNumber(parts[1], out.min) || !ParseNumber(parts[2], out.max)) return false;
    return out.min <= out.defaultValue && out.defaultValue <= out.max;
}

}  // namespace tessaro
