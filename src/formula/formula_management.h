// The formula manager's rules without its window: creating, copying, deleting, importing
// and exporting formulas, formula groups, comments and the opening of locked formulas. Every
// box the user sees goes through FormulaPrompt with the manager's exact texts (UTF-8), so the
// Qt dialog and the tests share one behaviour.
//
// Every change marks the changed formula's source dirty and sends a change notice
// ("WM_FNOTIFY") through the set; Flush saves the dirty sources (on closing and after import).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "formula/formula_set.h"

namespace tessaro {

// The message boxes and prompts of the formula windows. Texts are UTF-8.
class FormulaPrompt {
public:
    enum class Answer { Yes, No, Cancel };
    virtual ~FormulaPrompt() = default;
    // An information or refusal box with an OK button.
    virtual void Message(std::string_view text) = 0;
    // A question with Yes and No (and Cancel when asked for).
    virtual Answer Ask(std::string_view text, bool withCancel) = 0;
    // A one-line input box; nullopt when cancelled. `masked` hides what is typed (passwords).
    virtual std::optional<std::string> Input(std::string_view title, std::string_view prompt,
                                             std::string_view initial, bool masked) = 0;
};

// The manager's tab caption of a type's class: "技术指标", "选股系统", "五彩K线", "组合选股",
// "交易系统".
std::string_view FormulaTabCaption(uint32_t type);

// Formats a message whose one "%s" or "%d" takes `arg`.
std::string FormatMessage(std::string_view utf8Template, std::string_view arg);
std::string FormatMessage(std::string_view utf8Template, long long arg);

class FormulaManager {
public:
    // `window` identifies the manager in the notices it sends.
    FormulaManager(FormulaSet& set, FormulaPrompt& prompt, const void* window = nullptr);

    // A new, empty formula of `type` in `groupGbk` for the editor: default period 8, signal
    // icon 6, signal price position 3, the configured signal colour, source user. Nullopt for
    // type 2, which only the program creates.
    std::optional<FormulaRecord> NewFormula(uint32_t type, std::string_view groupGbk, uint32_t signalColour) const;
    // Adds a new formula the editor produced (source user). Refuses a taken name with
    // "公式已存在,不能新增!".
    bool AddNewFormula(FormulaRecord record);

    // "另存公式": asks for the new name ("将公式 %s 另存为") and copies the whole formula, its
    // text included, as a user formula. Returns the new name (GBK), or nullopt.
    std::optional<std::string> SaveAs(uint32_t type, std::string_view nameGbk);
    // "真的要删除公式 %s 吗?"; built-in formulas refuse with "系统内置公式禁止删除!".
    bool Delete(uint32_t type, std::string_view nameGbk);

    // Groups of the tab of `type`.
    bool NewGroup(uint32_t type);
    bool RenameGroup(uint32_t type, std::string_view groupGbk);
    bool DeleteGroup(uint32_t type, std::string_view groupGbk);

    // The comment dialog ("注释"): replaces the formula's comment.
    bool SetComment(uint32_t type, std::string_view nameGbk, std::string_view commentGbk);

    // Import: the user picks from the file's formulas (indices into the list given). Returns
    // the number imported; the final box says "共导入%d个公式!".
    using ImportSelector = std::function<std::vector<size_t>(const std::vector<FormulaRecord>&)>;
    int Import(const std::string& path, const ImportSelector& select);
    // Export of the named formulas (built-ins are left out); "共导出%d个公式!". -1 when the
    // file cannot be written.
    struct FormulaKey {
        uint32_t type;
        std::string name;  // GBK
    };
    int Export(const std::vector<FormulaKey>& formulas, const std::string& path);

    // Saves every dirty source; a failure is shown and returns false.
    bool Flush();

    // The plain text of a formula for the editor. Built-ins refuse with "该公式禁止编辑!"; a
    // locked formula asks "公式已加密，请输入密码" until the password is right or the user
    // cancels. The password that opened it is stored in `password` (GBK) for saving.
    std::optional<std::string> OpenForEdit(uint32_t type, std::string_view nameGbk, std::string* password = nullptr);
    // Where a formula is only shown: a locked one says "公式被加密,无法查看!".
    std::optional<std::string> TextForViewing(uint32_t type, std::string_view nameGbk);

private:
    void Changed(int code, uint32_t type, std::string_view name, uint32_t source, std::string_view newName = {});

    FormulaSet& set_;
    FormulaPrompt& prompt_;
    const void* window_;
};

}  // namespace tessaro
