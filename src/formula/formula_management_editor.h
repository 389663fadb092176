// The formula editor's rules without its window: the parameter grid and coordinate-line
// checks, compiling ("编译", F7), and the OK path with its password confirmation, namesake
// check, immediate save and change notice. Field texts are UTF-8 as typed by the user.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "formula/formula_management.h"

namespace tessaro {

inline constexpr int kEditorParamRows = 64;

// "条件选股公式编辑器(按F7测试公式)" and the like: the type's name before the editor's title.
std::string FormulaEditorTitle(uint32_t type);

// One row of the parameter grid (columns name, "缺省值", minimum, maximum).
struct ParamRow {
    std::string name;
    std::string defaultValue;
    std::string min;
    std::string max;
};

// Reads the grid; rows with an empty name are skipped. The message (UTF-8) names the first
// bad row by its 1-based number. Each parameter's step is 1.0.
struct ParamCheck {
    std::vector<FormulaParam> params;
    std::string error;  // empty when the grid is good
};
ParamCheck CheckParamRows(const std::vector<ParamRow>& rows);

// "20;50;80": each piece must read completely as a number; at most 7 are taken. nullopt
// means "坐标含有非法字符!".
struct CoordinateLines {
    uint32_t count = 0;
    std::array<float, kMaxCoordinateLines> values{};
};
std::optional<CoordinateLines> ParseCoordinateLines(std::string_view text);

// Reads a whole field as a finite number ("12", "-0.5", "1e3"); nullopt for anything else.
std::optional<float> ParseNumberField(std::string_view text);

class FormulaEditorModel {
public:
    FormulaEditorModel(FormulaSet& set, FormulaPrompt& prompt, const void* window = nullptr);

    // Starts a new formula of `type` in `groupGbk`. Type 2 cannot be created.
    bool OpenNew(uint32_t type, std::string_view groupGbk, uint32_t signalColour = 0);
    // Opens an existing formula: built-ins refuse ("该公式禁止编辑!"), a locked one asks for
    // its password until it is right or the user cancels.
    bool OpenExisting(uint32_t type, std::string_view nameGbk);

    // The fields, as the window shows and edits them (UTF-8).
    std::string name;
    std::string description;
    std::string password;
    bool overlay = false;  // indicators: "主图叠加" (type 3) instead of "副图" (type 4)
    std::vector<ParamRow> paramRows = std::vector<ParamRow>(kEditorParamRows);
    std::string text;
    std::string coordinates;

    uint32_t type() const;
    std::string title() const { return FormulaEditorTitle(type()); }
    // The status field: "编译成功!" or the compiler's message with its position.
    const std::string& status() const { return status_; }
    // The text range the last failed compilation selects (byte offsets in the GBK text), or -1.
    int errorPosition() const { return errorPosition_; }
    int errorLength() const { return errorLength_; }

    // "编译": checks the grid and coordinate lines (their messages go to a box) and compiles
    // the text; true when it compiled.
    bool Compile();
    // "确定": compiles, checks the name, confirms a new password, refuses a namesake, stores
    // the formula in the set, saves its source and sends the change notice. True when done.
    bool Ok();

    // The record being edited as it stands after the last successful Compile or Ok.
    const FormulaRecord& record() const { return record_; }

private:
    void Reset();
    bool BuildRecord(FormulaRecord& out);

    FormulaSet& set_;
    FormulaPrompt& prompt_;
    const void* window_;
    FormulaRecord record_;
    bool isNew_ = true;
    std::string openedName_;      // GBK name the formula had when opened
    std::string openedPassword_;  // GBK password the formula was opened with
    std::string status_;
    int errorPosition_ = -1;
    int errorLength_ = 0;
};

}  // namespace tessaro
