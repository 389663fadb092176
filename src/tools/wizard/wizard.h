// The keyboard wizard: typing in an analysis view lists everything that matches the
// typed text — quick commands by their number codes, securities by code or by the
// pinyin initials of their names, indicator formulas and blocks — and returns the
// chosen item. This is the wizard without its window: the candidate lists, the
// matching and ordering rules, and what each quick command asks the program to do.
//
// Texts are GBK inside (names, typed text), UTF-8 where they are shown.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "market/security_registry.h"
#include "platform/security_id.h"

namespace tessaro {

class FormulaSet;
class MarketStore;
class BlockSet;

enum WizardKind : uint16_t {
    kWizardCommand = 1,
    kWizardFormula = 2,
    kWizardSecurity = 4,
    kWizardBlock = 8,
};

// One candidate. `value` is the command index (commands), the formula type (formulas)
// or the block setting (blocks); securities carry their code-table entry.
struct WizardItem {
    uint16_t kind = kWizardCommand;
    uint32_t value = 0;
    std::string text1;  // GBK: command code, formula name or block name (at most 31 bytes)
    std::string text2;  // GBK: command name or formula description (at most 31 bytes)
    CodeEntry entry;    // securities
    InitialsString initials;  // of the command name, formula name, security name or block name
};

struct QuickCommand {
    std::string_view code;
    std::string_view name;  // UTF-8
};
inline constexpr int kQuickCommandCount = 52;
// The 52 quick commands in index order ("0" 分笔成交 ... "89" 中小板综合).
const std::array<QuickCommand, kQuickCommandCount>& QuickCommands();
// The index of a command code, or -1.
int FindQuickCommand(std::string_view code);

// What a quick command asks of the program.
struct QuickCommandAction {
    enum class Kind {
        Period,         // 0-9: a chart period (value: the period number of the command's code)
        ViewCommand,    // 基本资料, 分手明细, 分价明细, 分时/日线切换, 分析周期切换, 画线分析: left to the view
        IndexChart,     // 03 / 04: the market's own index in the time-sharing period (market)
        SelfPage,       // 06: the self-selected group's current block (block empty); 061-069: 自选股N
        SwitchIndex,    // 07: the chart's market index between SH and SZ
        BoardByChange,  // 60-69: the quote list on a rule block sorted by 涨幅 descending
        Ranking,        // 80-89: the comprehensive ranking of a block
    };
    Kind kind = Kind::ViewCommand;
    int value = 0;
    MarketCode market = 0;
    std::string block;  // UTF-8
};
QuickCommandAction QuickCommandActionOf(int index);

// The opening key: an ASCII letter or digit, or a character outside ASCII (a double-byte
// character once encoded); anything else does not open the wizard.
bool OpensWizard(char32_t ch);

class KeyboardWizard {
public:
    struct Sources {
        bool commands = true;
        const FormulaSet* formulas = nullptr;
        const MarketStore* store = nullptr;
        const BlockSet* blocks = nullptr;
        const PolyphonicTable* polyphonic = nullptr;
    };

    // Builds the candidate lists from the sources given (the others are skipped).
    void Build(const Sources& sources);
    // The parts of Build, for callers that hold their lists already.
    void AddCommands(const PolyphonicTable* polyphonic);
    void AddFormula(uint32_t type, std::string_view nameGbk, std::string_view descriptionGbk,
                    const PolyphonicTable* polyphonic);
    void SetSecurities(const std::vector<CodeEntry>& entries, const PolyphonicTable* polyphonic);
    void AddBlock(uint32_t setting, std::string_view nameGbk, const PolyphonicTable* polyphonic);
    void Clear();

    // The matches of a typed text (GBK), in list order; an empty text matches nothing.
    // The pointers stay valid until the lists change.
    const std::vector<const WizardItem*>& Match(std::string_view typedGbk);
    const std::vector<const WizardItem*>& matches() const { return matches_; }

    size_t candidateCount() const;

    // The line the list shows (UTF-8): commands "%- 4s %s" (code, name); formulas "%- 4s %s"
    // (name, description); securities found by code or name "%- 6s %s" (code, name), by
    // initials "%- 4s %s %s" (initials, name, code); blocks "%- 4s %s[板块]".
    std::string DisplayText(const WizardItem& item) const;

    // Whether an item's initials match the text: every position i (up to 32) must equal,
    // ignoring ASCII case, one of the candidates of slot i.
    static bool InitialsMatch(const InitialsString& initials, std::string_view typed);

private:
    bool SecurityByCodeOrName(const WizardItem& item) const;

    std::vector<WizardItem> commands_, formulas_, blocks_;
    std::vector<WizardItem> securities_;
    std::vector<size_t> byCode_, byInitials_;  // orders of securities_
    std::vector<std::string> firstLetters_;    // per security
    std::string typed_;
    std::vector<const WizardItem*> matches_;
};

}  // namespace tessaro
