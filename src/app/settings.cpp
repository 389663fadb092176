#include "app/settings.h"

#include <charconv>
#include <cstring>

namespace tessaro {

// ---- Pane formula lists -----------------------------------------------------

bool PaneFormulaList::add(int32_t type, std::string_view gbkName) {
    if (count >= kMaxItems || gbkName.empty() || gbkName.size() > kMaxNameBytes) return false;
    if (gbkName.find('\0') != std::string_view::npos) return false;
    types[count] = type;
    CopyToField(names[count], gbkName);
    ++count;
    return true;
}

bool operator==(const PaneFormulaList& a, const PaneFormulaList& b) {
    if (a.count != b.count) return false;
    for (int i = 0; i < a.count; ++i)
        if (a.types[i] != b.types[i] || a.name(i) != b.name(i)) return false;
    return true;
}

std::string FormatPaneList(const PaneFormulaList& list) {
    std::string out;
    int n = list.count < 0 ? 0 : list.count > PaneFormulaList::kMaxItems ? PaneFormulaList::kMaxItems : list.count;
    for (int i = 0; i < n; ++i) {
        std::string item = std::to_string(list.types[i]) + '\t' + std::string(list.name(i)) + '\t';
        // Whole items only: a cut item would read back as a different formula.
        if (out.size() + item.size() > kMaxSettingText) break;
        out += item;
    }
    return out;
}

namespace {

bool ParseInt32(std::string_view text, int32_t& out) {
    text = TrimAscii(text);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty()) return false;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return ec == std::errc() && end == text.data() + text.size();
}

}  // namespace

PaneFormulaList ParsePaneList(std::string_view text, const FormulaExistsFn& exists) {
    if (text.size() > kMaxSettingText) {
        // Only what a 1023-byte value can hold, up to its last whole field.
        text = text.substr(0, kMaxSettingText);
        size_t lastTab = text.rfind('\t');
        text = lastTab == std::string_view::npos ? std::string_view{} : text.substr(0, lastTab + 1);
    }
    PaneFormulaList list;
    while (!text.empty() && list.count < PaneFormulaList::kMaxItems) {
        size_t tab1 = text.find('\t');
        if (tab1 == std::string_view::npos) break;  // a type without a name
        std::string_view typeText = text.substr(0, tab1);
        text.remove_prefix(tab1 + 1);
        size_t tab2 = text.find('\t');
        std::string_view name = text.substr(0, tab2);
        text = tab2 == std::string_view::npos ? std::string_view{} : text.substr(tab2 + 1);
        int32_t type = 0;
        if (!ParseInt32(typeText, type)) continue;
        if (name.empty() || name.size() > PaneFormulaList::kMaxNameBytes) continue;
        if (exists && !exists(type, name)) continue;
        list.add(type, name);
    }
    return list;
}

namespace {

PaneFormulaList OneItem(int32_t type, std::string_view name) {
    PaneFormulaList list;
    list.add(type, name);
    return list;
}

}  // namespace

PaneFormulaLists DefaultKLinePanes() {
    return {OneItem(3, "MA"), OneItem(4, "VOL"), OneItem(4, "AMOUNT"),
            OneItem(4, "MACD"), OneItem(4, "KDJ"), OneItem(4, "MACD")};
}

PaneFormulaLists DefaultTimePanes() {
    return {PaneFormulaList{}, OneItem(4, "TENDV"), OneItem(4, "TENDV"),
            OneItem(4, "TENDV"), OneItem(4, "TENDV"), OneItem(4, "TENDV")};
}

int32_t SystemSettings::tradingSeconds() const {
    int32_t total = 0;
    int n = sessionCount < 0 ? 0 : sessionCount > 3 ? 3 : sessionCount;
    for (int i = 0; i < n; ++i)
        if (sessions[static_cast<size_t>(i)].end > sessions[static_cast<size_t>(i)].start)
            total += sessions[static_cast<size_t>(i)].end - sessions[static_cast<size_t>(i)].start;
    return total;
}

// ---- Loading ------------------------------------------------------------------

namespace {

class Reader {
public:
    Reader(const SettingsStore& store, std::string key) : store_(store), key_(std::move(key)) {}

    void dword(std::string_view name, uint32_t& out) const {
        if (auto v = store_.getDword(key_, name)) out = *v;
    }
    void nonZero(std::string_view name, uint32_t& out) const {
        if (auto v = store_.getDword(key_, name); v && *v != 0) out = *v;
    }
    void boolean(std::string_view name, bool& out) const {
        if (auto v = store_.getDword(key_, name)) out = *v != 0;
    }
    // A text value of at most maxBytes bytes, never split inside a character.
    void text(std::string_view name, std::string& out, size_t maxBytes) const {
        if (auto v = store_.getString(key_, name)) {
            std::string_view s = FieldText(v->data(), v->size());
            s = CutGbk(s, maxBytes);
            if (!s.empty()) out = std::string(s);
        }
    }
    std::optional<std::string> string(std::string_view name) const { return store_.getString(key_, name); }

private:
    const SettingsStore& store_;
    std::string key_;
};

std::string SchemeKey(const ColorScheme& scheme) {
    return SettingsKey(kAspectSubKey) + "\\" + std::string(FieldText(scheme.name));
}

void LoadSchemes(const SettingsStore& store, SystemSettings& out) {
    if (auto name = store.getString(SettingsKey(kAspectSubKey), "")) {
        std::string_view n = CutGbk(FieldText(name->data(), name->size()), kMaxSettingText);
        out.activeScheme = FindScheme(out.schemes, n);
    }
    for (ColorScheme& scheme : out.schemes) {
        std::string key = SchemeKey(scheme);
        // A value of the wrong size is damaged: the built-in colours stay.
        if (auto colors = store.getBinary(key, "Color"); colors && colors->size() == sizeof scheme.colors)
            std::memcpy(scheme.colors, colors->data(), sizeof scheme.colors);
        if (auto fonts = store.getBinary(key, "Font1"); fonts && fonts->size() == sizeof scheme.fonts) {
            std::memcpy(scheme.fonts, fonts->data(), sizeof scheme.fonts);
            // A face name without its NUL would run into the next font.
            for (LogFont& f : scheme.fonts) f.faceName[sizeof f.faceName - 1] = 0;
        }
    }
}

std::string PaneValueName(bool time, int pane) {
    return std::string(time ? "AreaFormulaRec_Time" : "AreaFormulaRec") + std::to_string(pane);
}

}  // namespace

void LoadSettings(const SettingsStore& store, SystemSettings& out, const FormulaExistsFn& exists) {
    out = SystemSettings{};
    LoadSchemes(store, out);

    Reader s(store, SettingsKey(kSettingsSubKey));
    s.boolean("bBossKey", out.bossKey);
    s.dword("bkModifiers", out.bossKeyModifiers);
    s.dword("bkVirtualCode", out.bossKeyVirtualCode);
    s.boolean("StatusBar", out.statusBar);
    s.boolean("StkInfo", out.stkInfo);
    s.nonZero("StkInfoWidth2", out.stkInfoWidth);
    uint32_t purview = out.purview;
    s.dword("Purview", purview);
    out.purview = static_cast<uint8_t>(purview & 0xFF);
    s.boolean("Hcoord", out.hcoord);
    s.boolean("Vcoord1", out.vcoord);
    s.boolean("EmptyOver", out.emptyOver);
    s.boolean("AutoSelStk", out.autoSelStk);
    s.nonZero("MultiDay", out.multiDay);
    s.nonZero("MultiPics", out.multiPics);
    s.nonZero("Cycle", out.cycle);
    s.nonZero("CoordType", out.coordType);
    s.text("Formula0", out.formula0, 31);
    s.text("Formula0_Time", out.formula0Time, 31);
    s.dword("Ruler", out.ruler);
    s.dword("Days_time", out.daysTime);
    s.nonZero("Areas", out.areas);
    s.nonZero("Areas_Time", out.areasTime);
    s.dword("ExitTipTime", out.exitTipTime);
    for (int pane = 0; pane < kPaneCount; ++pane) {
        if (auto text = s.string(PaneValueName(false, pane)))
            out.kLinePanes[static_cast<size_t>(pane)] = ParsePaneList(*text, exists);
        if (auto text = s.string(PaneValueName(true, pane)))
            out.timePanes[static_cast<size_t>(pane)] = ParsePaneList(*text, exists);
    }
}

// ---- Saving -------------------------------------------------------------------

void SaveSettings(SettingsStore& store, const SystemSettings& in) {
    const std::string aspect = SettingsKey(kAspectSubKey);
    int active = in.activeScheme >= 0 && in.activeScheme < kSchemeCount ? in.activeScheme : 0;
    store.setString(aspect, "", FieldText(in.schemes[static_cast<size_t>(active)].name));
    for (const ColorScheme& scheme : in.schemes) {
        std::string key = SchemeKey(scheme);
        store.setBinary(key, "Color", std::string_view(reinterpret_cast<const char*>(scheme.colors), sizeof scheme.colors));
        store.setBinary(key, "Font1", std::string_view(reinterpret_cast<const char*>(scheme.fonts), sizeof scheme.fonts));
    }

    const std::string key = SettingsKey(kSettingsSubKey);
    auto dword = [&](std::string_view name, uint32_t v) { store.setDword(key, name, v); };
    dword("StatusBar", in.statusBar);
    dword("StkInfo", in.stkInfo);
    dword("StkInfoWidth2", in.stkInfoWidth);
    dword("Purview", in.purview);
    dword("Hcoord", in.hcoord);
    dword("Vcoord1", in.vcoord);
    dword("EmptyOver", in.emptyOver);
    dword("AutoSelStk", in.autoSelStk);
    dword("MultiDay", in.multiDay);
    dword("MultiPics", in.multiPics);
    dword("Cycle", in.cycle);
    dword("CoordType", in.coordType);
    store.setString(key, "Formula0", CutGbk(in.formula0, 31));
    store.setString(key, "Formula0_Time", CutGbk(in.formula0Time, 31));
    dword("Ruler", in.ruler);
    dword("Days_time", in.daysTime);
    dword("Areas", in.areas);
    dword("Areas_Time", in.areasTime);
    for (int pane = 0; pane < kPaneCount; ++pane) {
        store.setString(key, PaneValueName(false, pane), FormatPaneList(in.kLinePanes[static_cast<size_t>(pane)]));
        store.setString(key, PaneValueName(true, pane), FormatPaneList(in.timePanes[static_cast<size_t>(pane)]));
    }
}

void SaveBossKey(SettingsStore& store, const SystemSettings& in) {
    const std::string key = SettingsKey(kSettingsSubKey);
    store.setDword(key, "bBossKey", in.bossKey);
    store.setDword(key, "bkModifiers", in.bossKeyModifiers);
    store.setDword(key, "bkVirtualCode", in.bossKeyVirtualCode);
}

void SaveExitTipTime(SettingsStore& store, uint32_t tradingDate) {
    store.setDword(SettingsKey(kSettingsSubKey), "ExitTipTime", tradingDate);
}

}  // namespace tessaro
