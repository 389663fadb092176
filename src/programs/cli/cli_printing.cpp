#include "cli_printing.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

#include "formula/function_registry.h"
#include "formula/opcodes.h"
#include "platform/text.h"

namespace tessaro::cli {

std::string FloatText(float v) {
    char buffer[64];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, v, std::chars_format::fixed);
    if (ec != std::errc()) return "0";
    return std::string(buffer, end);
}

std::string MarkErrorRange(const std::string& gbk, int position, int length) {
    if (position < 0 || static_cast<size_t>(position) > gbk.size()) return GbkToUtf8(gbk);
    size_t end = std::min(gbk.size(), static_cast<size_t>(position) + static_cast<size_t>(std::max(length, 0)));
    return GbkToUtf8(gbk.substr(0, static_cast<size_t>(position))) + "[" +
           GbkToUtf8(gbk.substr(static_cast<size_t>(position), end - static_cast<size_t>(position))) + "]" +
           GbkToUtf8(gbk.substr(end));
}

std::string OpName(uint32_t op) {
    if (const char* m = opcode::Mnemonic(op)) return m;
    const FunctionInfo* f = FunctionById(static_cast<int>(op));
    return f && f->name ? f->name : "?";
}

void PrintOutputLines(const FormulaRecord& r) {
    std::printf("outputs: %zu\n", r.outputs.size());
    for (size_t i = 0; i < r.outputs.size(); ++i) {
        const OutputLineDesc& d = r.outputs[i];
        std::printf("  %zu %s style %u width %d colour ", i, GbkToUtf8(r.lineDisplayName(i)).c_str(), d.style,
                    d.width());
        if (d.hasColour())
            std::printf("0x%06X\n", d.colour);
        else
            std::printf("none\n");
    }
}

void PrintStringPool(const FormulaRecord& r) {
    std::string shown;
    for (char c : GbkToUtf8(r.stringPool)) shown += c == '\t' ? std::string("\\t") : std::string(1, c);
    std::printf("string pool: \"%s\"\n", shown.c_str());
}

}  // namespace tessaro::cli
