#include "formula/formula_management_editor.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <ctime>

#include "formula/compiler.h"
#include "formula/formula_cipher.h"
#include "formula/function_registry.h"
#include "platform/text.h"

namespace tessaro {
namespace {

// Words the formula language reads as something else than a parameter name.
bool IsReservedWord(std::string_view name) {
    std::string lower = AsciiLower(name);
    return lower == "and" || lower == "or" || lower == "stkindi" || FindFunction(name) >= 0 ||
           FindModifier(name) >= 0 || ParseColourLiteral(name) >= 0;
}

std::string FormatNumber(float v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g", static_cast<double>(v));
    return buf;
}

std::string RowMessage(std::string_view utf8Template, int row) { return FormatMessage(utf8Template, row); }

}  // namespace

std::string FormulaEditorTitle(uint32_t type) {
    std::string_view prefix;
    switch (type) {
    case kFormulaSelection: prefix = "条件选股"; break;
    case kFormulaTradingSystem: prefix = "交易系统"; break;
    case kFormulaInternal:
    case kFormulaMainOverlay:
    case kFormulaSubPane: prefix = "技术指标"; break;
    case kFormulaColourKLine: prefix = "五彩K线"; break;
    default: break;
    }
    return std::string(prefix) + "公式编辑器(按F7测试公式)";
}

std::optional<float> ParseNumberField(std::string_view text) {
    std::string_view t = TrimAscii(text);
    if (!t.empty() && t.front() == '+') t.remove_prefix(1);
    if (t.empty()) return std::nullopt;
    float v = 0;
    auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), v, std::chars_format::general);
    if (ec != std::errc() || end != t.data() + t.size() || !std::isfinite(v)) return std::nullopt;
    return v;
}

ParamCheck CheckParamRows(const std::vector<ParamRow>& rows) {
    ParamCheck check;
    auto fail = [&check](std::string message) {
        check.params.clear();
        check.error = std::move(message);
        return check;
    };
    for (size_t i = 0; i < rows.size() && i < static_cast<size_t>(kEditorParamRows); ++i) {
        const int row = static_cast<int>(i) + 1;
        const ParamRow& r = rows[i];
        std::string name = Utf8ToGbk(TrimAscii(r.name));
        if (name.empty()) continue;
        if (name.size() > static_cast<size_t>(kMaxFormulaNameLength)) {
            std::string m = RowMessage("第%d个参数名太长(最多%d个字符)!", row);
            return fail(FormatMessage(m, kMaxFormulaNameLength));
        }
        if (IsReservedWord(name)) return fail(RowMessage("第%d个参数名不能是保留字!", row));
        for (const FormulaParam& p : check.params)
            if (EqualsNoCase(p.nameText(), name)) return fail(RowMessage("第%d个参数名被重复定义!", row));
        if (TrimAscii(r.defaultValue).empty()) return fail(RowMessage("请输入第%d个参数值!", row));
        std::optional<float> def = ParseNumberField(r.defaultValue);
        if (!def) return fail(RowMessage("第%d个参数值存在非数字字符!", row));
        std::optional<float> min = TrimAscii(r.min).empty() ? def : ParseNumberField(r.min);
        if (!min) return fail(RowMessage("第%d个最小值存在非数字字符!", row));
        std::optional<float> max = TrimAscii(r.max).empty() ? def : ParseNumberField(r.max);
        if (!max) return fail(RowMessage("第%d个最大值存在非数字字符!", row));
        if (*def < *min || *def > *max) return fail(RowMessage("第%d个参数值超出最小、大值范围!", row));
        FormulaParam p;
        p.setName(name);
        p.defaultValue = *def;
        p.min = *min;
        p.max = *max;
        p.step = 1.0f;
        check.params.push_back(p);
    }
    return check;
}

std::optional<CoordinateLines> ParseCoordinateLines(std::string_view text) {
    CoordinateLines lines;
    size_t start = 0;
    while (start <= text.size()) {
        size_t semi = text.find(';', start);
        std::string_view piece = text.substr(start, semi == std::string_view::npos ? std::string_view::npos : semi - start);
        if (!TrimAscii(piece).empty()) {
            std::optional<float> v = ParseNumberField(piece);
            if (!v) return std::nullopt;
            if (lines.count < kMaxCoordinateLines) lines.values[lines.count++] = *v;
        }
        if (semi == std::string_view::npos) break;
        start = semi + 1;
    }
    return lines;
}

FormulaEditorModel::FormulaEditorModel(FormulaSet& set, FormulaPrompt& prompt, const void* window)
    : set_(set), prompt_(prompt), window_(window) {}

void FormulaEditorModel::Reset() {
    name.clear();
    description.clear();
    password.clear();
    overlay = false;
    paramRows.assign(kEditorParamRows, ParamRow{});
    text.clear();
    coordinates.clear();
    record_ = FormulaRecord{};
    isNew_ = true;
    openedName_.clear();
    openedPassword_.clear();
    status_.clear();
    errorPosition_ = -1;
    errorLength_ = 0;
}

uint32_t FormulaEditorModel::type() const {
    if (FormulaTypeClass(record_.type) == kFormulaSubPane) return overlay ? kFormulaMainOverlay : kFormulaSubPane;
    return record_.type;
}

bool FormulaEditorModel::OpenNew(uint32_t type, std::string_view groupGbk, uint32_t signalColour) {
    if (!IsTextFormulaType(type)) return false;
    FormulaManager manager(set_, prompt_, window_);
    std::optional<FormulaRecord> r = manager.NewFormula(type, groupGbk, signalColour);
    if (!r) return false;
    Reset();
    record_ = std::move(*r);
    overlay = type == kFormulaMainOverlay;
    return true;
}

bool FormulaEditorModel::OpenExisting(uint32_t type, std::string_view nameGbk) {
    // Combined conditions have their own editor.
    if (std::optional<FormulaRecord> kind = set_.Find(type, nameGbk); !kind || !IsTextFormulaType(kind->type))
        return false;
    FormulaManager manager(set_, prompt_, window_);
    std::string pw;
    std::optional<std::string> plain = manager.OpenForEdit(type, nameGbk, &pw);
    if (!plain) return false;
    std::optional<FormulaRecord> r = set_.Find(type, nameGbk);
    if (!r) return false;
    Reset();
    record_ = std::move(*r);
    isNew_ = false;
    openedName_ = std::string(record_.nameText());
    openedPassword_ = pw;
    name = GbkToUtf8(record_.nameText());
    description = GbkToUtf8(record_.description);
    password = GbkToUtf8(pw);
    overlay = record_.type == kFormulaMainOverlay;
    for (size_t i = 0; i < record_.params.size() && i < paramRows.size(); ++i) {
        const FormulaParam& p = record_.params[i];
        paramRows[i] = ParamRow{GbkToUtf8(p.nameText()), FormatNumber(p.defaultValue), FormatNumber(p.min),
                                FormatNumber(p.max)};
    }
    text = GbkToUtf8(*plain);
    coordinates.clear();
    for (uint32_t i = 0; i < record_.coordinateCount && i < kMaxCoordinateLines; ++i)
        coordinates += (i ? ";" : "") + FormatNumber(record_.coordinates[i]);
    return true;
}

bool FormulaEditorModel::BuildRecord(FormulaRecord& out) {
    ParamCheck params = CheckParamRows(paramRows);
    if (!params.error.empty()) {
        prompt_.Message(params.error);
        return false;
    }
    std::optional<CoordinateLines> lines = ParseCoordinateLines(coordinates);
    if (!lines) {
        prompt_.Message("坐标含有非法字符!");
        return false;
    }
    out = record_;
    out.type = type();
    out.params = std::move(params.params);
    out.coordinateCount = lines->count;
    for (size_t i = 0; i < kMaxCoordinateLines; ++i) out.coordinates[i] = lines->values[i];
    out.description = Utf8ToGbk(description);
    out.source = Utf8ToGbk(text);
    out.lockChecksum = 0;
    CompileOptions options;
    options.lookup = set_.CompilerLookup();
    options.compileTime = static_cast<uint32_t>(std::time(nullptr));
    errorPosition_ = -1;
    errorLength_ = 0;
    try {
        CompileFormula(out, options);
    } catch (const CompileError& e) {
        status_ = e.displayUtf8();
        errorPosition_ = e.position();
        errorLength_ = e.length();
        return false;
    }
    status_ = "编译成功!";
    return true;
}

bool FormulaEditorModel::Compile() {
    FormulaRecord built;
    if (!BuildRecord(built)) return false;
    record_ = std::move(built);
    return true;
}

bool FormulaEditorModel::Ok() {
    FormulaRecord built;
    if (!BuildRecord(built)) return false;
    std::string nameGbk(CutGbk(Utf8ToGbk(TrimAscii(name)), kMaxFormulaNameLength));
    if (nameGbk.empty()) {
        prompt_.Message("请输入公式名称!");
        return false;
    }
    const std::string pw = Utf8ToGbk(password);
    if (!pw.empty() && pw != openedPassword_) {
        std::optional<std::string> again = prompt_.Input("重复输入密码", "请再输入一遍密码", "", true);
        if (!again || Utf8ToGbk(*again) != pw) {
            prompt_.Message("重复输入密码时错误!");
            return false;
        }
    }
    const bool renamed = !isNew_ && !EqualsNoCase(nameGbk, openedName_);
    if ((isNew_ || renamed) && set_.Contains(built.type, nameGbk)) {
        prompt_.Message("同名公式已存在,不能加入!");
        return false;
    }
    built.setName(nameGbk);
    SetFormulaPassword(built, built.source, pw);
    if (isNew_) built.sourceOrigin = kSourceUser;
    const uint32_t source = built.sourceOrigin;
    const uint32_t type = built.type;
    if (renamed) set_.Remove(type, openedName_);
    set_.Put(built);
    record_ = std::move(built);
    set_.MarkDirty(source);
    std::string why;
    if (!set_.SaveSource(source, &why)) prompt_.Message("公式文件保存失败: " + why);
    if (renamed) set_.Notify(FormulaNotice{kNoticeFormulaDeleted, type, openedName_, {}, window_});
    set_.Notify(FormulaNotice{isNew_ || renamed ? kNoticeFormulaAdded : kNoticeFormulaChanged, type, nameGbk, {}, window_});
    isNew_ = false;
    openedName_ = nameGbk;
    openedPassword_ = pw;
    return true;
}

}  // namespace tessaro
