#include "tools/wizard/wizard.h"

#include <algorithm>
#include <cstdio>
#include <numeric>

#include "formula/formula_set.h"
#include "market/market_store.h"
#include "platform/period.h"
#include "platform/text.h"
#include "tools/blocks/block_set.h"

namespace tessaro {

namespace {

constexpr size_t kTextBytes = 31;

// The right-pane indicators built into the program are not offered.
constexpr std::string_view kRightPaneGroup = "右图指标";

const std::array<QuickCommand, kQuickCommandCount> kCommands = {{
    {"0", "分笔成交"},     {"1", "1分钟线"},      {"2", "5分钟线"},        {"3", "15分钟线"},
    {"4", "30分钟线"},     {"5", "60分钟线"},     {"6", "日线"},           {"7", "周线"},
    {"8", "月线"},         {"9", "多日线"},       {"10", "基本资料"},      {"01", "分手明细"},
    {"02", "分价明细"},    {"03", "上证领先"},    {"04", "深证领先"},      {"05", "分时/日线切换"},
    {"06", "自选股显示牌"}, {"061", "自选股1"},    {"062", "自选股2"},      {"063", "自选股3"},
    {"064", "自选股4"},    {"065", "自选股5"},    {"066", "自选股6"},      {"067", "自选股7"},
    {"068", "自选股8"},    {"069", "自选股9"},    {"07", "沪深市指数切换"}, {"08", "分析周期切换"},
    {"09", "画线分析"},    {"60", "沪深A股涨幅"}, {"601", "沪深权证涨幅"}, {"602", "创业板涨幅"},
    {"61", "沪A股涨幅"},   {"62", "沪B股涨幅"},   {"63", "深A股涨幅"},     {"64", "深B股涨幅"},
    {"65", "沪债券涨幅"},  {"66", "沪基金涨幅"},  {"67", "深债券涨幅"},   {"68", "深基金涨幅"},
    {"69", "中小板涨幅"},  {"80", "沪深A股综合"}, {"801", "沪深权证综合"}, {"81", "沪A股综合"},
    {"82", "沪B股综合"},   {"83", "深A股综合"},   {"84", "深B股综合"},     {"85", "沪债券综合"},
    {"86", "沪基金综合"},  {"87", "深债券综合"},  {"88", "深基金综合"},    {"89", "中小板综合"},
}};

// The rule blocks of the commands 60..69 and 80..89, by the command's position in its run.
constexpr std::string_view kRunBlocks[] = {"沪深A股", "沪深权证", "创业板", "沪市A股", "沪市B股", "深市A股",
                                           "深市B股", "沪市债券", "沪市基金", "深市债券", "深市基金", "中小板"};

constexpr Period kPeriods[10] = {Period::kTick,  Period::kMin1, Period::kMin5, Period::kMin15, Period::kMin30,
                                 Period::kMin60, Period::kDay,  Period::kWeek, Period::kMonth, Period::kMultiDay};

std::string Cut(std::string_view gbk) { return std::string(CutGbk(gbk, kTextBytes)); }

bool EndsWithNoCase(std::string_view s, std::string_view suffix) {
    return s.size() >= suffix.size() && CompareNoCase(s.substr(s.size() - suffix.size()), suffix) == 0;
}

// Class 2 first, then 3, then the rest.
int ClassRank(uint16_t cls) { return cls == kClassAShare ? 0 : cls == kClassBShare ? 1 : 2; }

std::string Format(const char* format, std::initializer_list<std::string_view> args) {
    // The formats take GBK texts; widths count bytes, so a Chinese character takes two
    // columns as it does on screen.
    std::vector<std::string> owned(args.begin(), args.end());
    char buffer[256];
    switch (owned.size()) {
        case 2: std::snprintf(buffer, sizeof buffer, format, owned[0].c_str(), owned[1].c_str()); break;
        case 3:
            std::snprintf(buffer, sizeof buffer, format, owned[0].c_str(), owned[1].c_str(), owned[2].c_str());
            break;
        default: buffer[0] = 0;
    }
    return GbkToUtf8(CutGbk(buffer, sizeof buffer - 1));
}

}  // namespace

const std::array<QuickCommand, kQuickCommandCount>& QuickCommands() { return kCommands; }

int FindQuickCommand(std::string_view code) {
    for (int i = 0; i < kQuickCommandCount; ++i)
        if (kCommands[i].code == code) return i;
    return -1;
}

QuickCommandAction QuickCommandActionOf(int index) {
    using K = QuickCommandAction::Kind;
    QuickCommandAction a;
    if (index < 0 || index >= kQuickCommandCount) return a;
    if (index <= 9) {
        a.kind = K::Period;
        a.value = PeriodNumber(kPeriods[index]);
    } else if (index == 13 || index == 14) {
        a.kind = K::IndexChart;
        a.market = index == 13 ? kMarketSH : kMarketSZ;
    } else if (index >= 16 && index <= 25) {
        a.kind = K::SelfPage;
        a.value = index - 16;  // 0: the current block of the group
        if (a.value > 0) a.block = "自选股" + std::to_string(a.value);
    } else if (index == 26) {
        a.kind = K::SwitchIndex;
    } else if (index >= 29 && index <= 40) {
        a.kind = K::BoardByChange;
        a.block = std::string(kRunBlocks[index - 29]);
    } else if (index >= 41) {
        a.kind = K::Ranking;
        // 80, 801, then 81..89: the same blocks as 60, 601, 61..69 (no 602).
        int run = index - 41;
        a.block = std::string(kRunBlocks[run <= 1 ? run : run + 1]);
    }
    return a;
}

bool OpensWizard(char32_t ch) {
    if (ch >= 0x80) return ch != 0xA0 && !(ch >= 0xD800 && ch <= 0xDFFF) && ch != 0x3000;
    return (ch >= '0' && ch <= '9') || (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z');
}

// ---- Candidate lists ------------------------------------------------------------------------

void KeyboardWizard::Clear() {
    commands_.clear();
    formulas_.clear();
    blocks_.clear();
    securities_.clear();
    byCode_.clear();
    byInitials_.clear();
    firstLetters_.clear();
    matches_.clear();
    typed_.clear();
}

void KeyboardWizard::AddCommands(const PolyphonicTable* polyphonic) {
    for (int i = 0; i < kQuickCommandCount; ++i) {
        WizardItem item;
        item.kind = kWizardCommand;
        item.value = static_cast<uint32_t>(i);
        item.text1 = std::string(kCommands[i].code);
        item.text2 = Cut(Utf8ToGbk(kCommands[i].name));
        item.initials = NameToInitials(item.text2, polyphonic);
        commands_.push_back(std::move(item));
    }
}

void KeyboardWizard::AddFormula(uint32_t type, std::string_view nameGbk, std::string_view descriptionGbk,
                                const PolyphonicTable* polyphonic) {
    WizardItem item;
    item.kind = kWizardFormula;
    item.value = type;
    item.text1 = Cut(nameGbk);
    item.text2 = Cut(descriptionGbk);
    item.initials = NameToInitials(item.text1, polyphonic);
    formulas_.push_back(std::move(item));
}

void KeyboardWizard::SetSecurities(const std::vector<CodeEntry>& entries, const PolyphonicTable* polyphonic) {
    securities_.clear();
    securities_.reserve(entries.size());
    firstLetters_.clear();
    for (const CodeEntry& e : entries) {
        WizardItem item;
        item.kind = kWizardSecurity;
        item.entry = e;
        item.initials = NameToInitials(e.nameText(), polyphonic);
        firstLetters_.push_back(item.initials.firstLetters());
        securities_.push_back(std::move(item));
    }
    // The two orders the matching uses, made once: by code and by initials, each with
    // class 2 before class 3 before the rest on equal keys (then the store's order).
    auto order = [&](auto keyOf) {
        std::vector<size_t> idx(securities_.size());
        std::iota(idx.begin(), idx.end(), size_t{0});
        std::stable_sort(idx.begin(), idx.end(), [&](size_t a, size_t b) {
            int c = CompareNoCase(keyOf(a), keyOf(b));
            if (c != 0) return c < 0;
            return ClassRank(securities_[a].entry.securityClass) < ClassRank(securities_[b].entry.securityClass);
        });
        return idx;
    };
    byCode_ = order([&](size_t i) { return securities_[i].entry.id.codeText(); });
    byInitials_ = order([&](size_t i) { return std::string_view(firstLetters_[i]); });
    matches_.clear();
}

void KeyboardWizard::AddBlock(uint32_t setting, std::string_view nameGbk, const PolyphonicTable* polyphonic) {
    WizardItem item;
    item.kind = kWizardBlock;
    item.value = setting;
    item.text1 = Cut(nameGbk);
    item.initials = NameToInitials(item.text1, polyphonic);
    blocks_.push_back(std::move(item));
}

void KeyboardWizard::Build(const Sources& s) {
    Clear();
    if (s.commands) AddCommands(s.polyphonic);
    if (s.formulas) {
        const std::string rightPane = Utf8ToGbk(kRightPaneGroup);
        for (const FormulaRecord& f : s.formulas->Snapshot()) {
            if (FormulaTypeClass(f.type) != kFormulaSubPane) continue;
            if (f.sourceOrigin == kSourceBuiltIn && f.group == rightPane) continue;
            AddFormula(f.type, f.nameText(), f.description, s.polyphonic);
        }
    }
    if (s.store) SetSecurities(s.store->ListAll(), s.polyphonic);
    if (s.blocks)
        for (const Block& b : s.blocks->Blocks()) AddBlock(b.setting, b.name, s.polyphonic);
}

size_t KeyboardWizard::candidateCount() const {
    return commands_.size() + formulas_.size() + securities_.size() + blocks_.size();
}

// ---- Matching -------------------------------------------------------------------------------

bool KeyboardWizard::InitialsMatch(const InitialsString& initials, std::string_view typed) {
    if (typed.empty()) return false;
    size_t n = std::min<size_t>(typed.size(), InitialsString::kSlots);
    for (size_t i = 0; i < n; ++i) {
        char t = typed[i];
        if (t >= 'a' && t <= 'z') t = static_cast<char>(t - 'a' + 'A');
        bool found = false;
        for (int k = 0; k < InitialsString::kSlotWidth && !found; ++k) {
            char c = initials.slots[i][k];
            if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
            found = c != 0 && c == t;
        }
        if (!found) return false;
    }
    return true;
}

bool KeyboardWizard::SecurityByCodeOrName(const WizardItem& item) const {
    std::string_view code = item.entry.id.codeText();
    return StartsWithNoCase(code, typed_) || (typed_.size() <= code.size() && EndsWithNoCase(code, typed_)) ||
           StartsWithNoCase(item.entry.nameText(), typed_);
}

const std::vector<const WizardItem*>& KeyboardWizard::Match(std::string_view typedGbk) {
    typed_ = std::string(typedGbk);
    matches_.clear();
    if (typed_.empty()) return matches_;
    for (const WizardItem& c : commands_)
        if (StartsWithNoCase(c.text1, typed_)) matches_.push_back(&c);
    for (const WizardItem& f : formulas_)
        if (InitialsMatch(f.initials, typed_) || StartsWithNoCase(f.text1, typed_)) matches_.push_back(&f);
    const bool digit = typed_[0] >= '0' && typed_[0] <= '9';
    for (size_t i : digit ? byCode_ : byInitials_) {
        const WizardItem& s = securities_[i];
        if (SecurityByCodeOrName(s) || InitialsMatch(s.initials, typed_)) matches_.push_back(&s);
    }
    for (const WizardItem& b : blocks_)
        if (InitialsMatch(b.initials, typed_) || StartsWithNoCase(b.text1, typed_)) matches_.push_back(&b);
    return matches_;
}

std::string KeyboardWizard::DisplayText(const WizardItem& item) const {
    switch (item.kind) {
        case kWizardCommand:
        case kWizardFormula: return Format("%-4s %s", {item.text1, item.text2});
        case kWizardSecurity: {
            std::string code(item.entry.id.codeText());
            std::string name(item.entry.nameText());
            if (typed_.empty() || SecurityByCodeOrName(item)) return Format("%-6s %s", {code, name});
            return Format("%-4s %s %s", {item.initials.firstLetters(), name, code});
        }
        case kWizardBlock: return Format("%-4s %s", {item.initials.firstLetters(), item.text1}) + "[板块]";
        default: return {};
    }
}

}  // namespace tessaro
