#include "chart/indicator_combo.h"

#include <algorithm>
#include <cstring>

#include "platform/files.h"

namespace tessaro::chart {
namespace {

uint32_t U32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

void PutU32(std::vector<uint8_t>& out, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) out[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
}

// A stored name: up to the first NUL, never more than 19 bytes.
std::string Name(const uint8_t* p) {
    size_t n = 0;
    while (n < kComboNameBytes - 1 && p[n] != 0) ++n;
    return std::string(reinterpret_cast<const char*>(p), n);
}

bool FormulaType(uint32_t t) { return t <= kFormulaColourKLine || t == kFormulaCombined; }

}  // namespace

bool ParseCombination(std::span<const uint8_t> bytes, IndicatorCombination& out, ComboError& error) {
    out.panes.clear();
    error = ComboError::kNone;
    if (bytes.size() < 4) {
        error = ComboError::kTooShort;
        return false;
    }
    const uint32_t magic = U32(bytes.data());
    size_t need = 0, entries = 0, entrySize = 0;
    if (magic == kComboMagic) {
        need = kComboFileSize;
        entries = kComboEntries;
        entrySize = 24;
    } else if (magic == kComboMagicV1) {
        need = 4 + 124;
        entries = 1;
        entrySize = kComboNameBytes;
    } else if (magic == kComboMagicV2) {
        need = 4 + 3604;
        entries = kComboEntries;
        entrySize = kComboNameBytes;
    } else {
        error = ComboError::kUnknownFormat;
        return false;
    }
    if (bytes.size() < need) {
        error = ComboError::kTooShort;
        return false;
    }
    const int32_t stored = static_cast<int32_t>(U32(bytes.data() + 4));
    const int panes = std::clamp<int32_t>(stored, 1, kComboPanes);
    out.panes.resize(static_cast<size_t>(panes));
    for (int pane = 0; pane < panes; ++pane) {
        for (size_t e = 0; e < entries; ++e) {
            const uint8_t* entry = bytes.data() + 8 + (static_cast<size_t>(pane) * entries + e) * entrySize;
            uint32_t type = kFormulaSubPane;
            const uint8_t* name = entry;
            if (magic == kComboMagic) {
                type = U32(entry);
                name = entry + 4;
            }
            std::string text = Name(name);
            if (text.empty()) break;
            if (!FormulaType(type)) continue;
            out.panes[static_cast<size_t>(pane)].emplace_back(type, std::move(text));
        }
    }
    return true;
}

std::vector<uint8_t> SerializeCombination(const IndicatorCombination& combo) {
    std::vector<uint8_t> out(kComboFileSize, 0);
    PutU32(out, 0, kComboMagic);
    const int panes = std::clamp(static_cast<int>(combo.panes.size()), 1, kComboPanes);
    PutU32(out, 4, static_cast<uint32_t>(panes));
    for (int pane = 0; pane < panes && pane < static_cast<int>(combo.panes.size()); ++pane) {
        const auto& list = combo.panes[static_cast<size_t>(pane)];
        for (size_t e = 0; e < list.size() && e < static_cast<size_t>(kComboEntries); ++e) {
            const size_t at = 8 + (static_cast<size_t>(pane) * kComboEntries + e) * 24;
            PutU32(out, at, list[e].first);
            const std::string& name = list[e].second;
            std::memcpy(out.data() + at + 4, name.data(), std::min<size_t>(name.size(), kComboNameBytes - 1));
        }
    }
    return out;
}

bool LoadCombination(const std::string& path, IndicatorCombination& out, ComboError& error) {
    std::optional<std::vector<uint8_t>> bytes = ReadWholeFile(path);
    if (!bytes) {
        out.panes.clear();
        error = ComboError::kUnreadable;
        return false;
    }
    return ParseCombination(*bytes, out, error);
}

bool SaveCombination(const std::string& path, const IndicatorCombination& combo) {
    const std::vector<uint8_t> bytes = SerializeCombination(combo);
    return WriteFileAtomic(path, std::span<const uint8_t>(bytes));
}

bool ComboFilePath(const std::string& dir, const std::string& name, std::string& path) {
    if (name.empty() || name == "." || name == ".." || name.size() > 200) return false;
    for (unsigned char c : name)
        if (c < 0x20 || c == 0x7F || std::strchr("\\/:*?\"<>|", c) != nullptr) return false;
    path = dir;
    if (!path.empty() && path.back() != '/') path += '/';
    path += name + ".icb";
    return true;
}

IndicatorCombination CombinationOf(const GraphPicture& picture) {
    IndicatorCombination combo;
    for (const GraphPane& pane : picture.panes) {
        auto& list = combo.panes.emplace_back();
        for (const PaneIndicator& s : pane.indicators) {
            if (list.size() >= static_cast<size_t>(kComboEntries)) break;
            list.emplace_back(s.formula.type, std::string(s.formula.nameText()));
        }
    }
    if (combo.panes.empty()) combo.panes.emplace_back();
    return combo;
}

void ApplyCombination(ChartView& view, const IndicatorCombination& combo) {
    for (int i = 0; i < view.pictureCount(); ++i) view.SetPanes(i, combo.panes);
}

}  // namespace tessaro::chart
