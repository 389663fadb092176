#include "formula/formula_management.h"

#include "formula/fml_file.h"
#include "formula/formula_cipher.h"
#include "platform/files.h"
#include "platform/text.h"

namespace tessaro {
namespace {

std::string Utf8(std::string_view gbk) { return GbkToUtf8(gbk); }

bool IsDefaultGroup(std::string_view gbk) { return gbk.empty() || gbk == DefaultGroupCaptionGbk(); }

}  // namespace

std::string_view FormulaTabCaption(uint32_t type) {
    switch (FormulaTypeClass(type)) {
    case kFormulaSelection: return "选股系统";
    case kFormulaTradingSystem: return "交易系统";
    case kFormulaSubPane: return "技术指标";
    case kFormulaColourKLine: return "五彩K线";
    case kFormulaCombined: return "组合选股";
    default: return "";
    }
}

std::string FormatMessage(std::string_view utf8Template, std::string_view arg) {
    std::string out(utf8Template);
    size_t at = out.find("%s");
    if (at != std::string::npos) out.replace(at, 2, arg);
    return out;
}

std::string FormatMessage(std::string_view utf8Template, long long arg) {
    std::string out(utf8Template);
    size_t at = out.find("%d");
    if (at != std::string::npos) out.replace(at, 2, std::to_string(arg));
    return out;
}

FormulaManager::FormulaManager(FormulaSet& set, FormulaPrompt& prompt, const void* window)
    : set_(set), prompt_(prompt), window_(window) {}

void FormulaManager::Changed(int code, uint32_t type, std::string_view name, uint32_t source, std::string_view newName) {
    if (code <= kNoticeFormulaDeleted) set_.MarkDirty(source);
    set_.Notify(FormulaNotice{code, type, std::string(name), std::string(newName), window_});
}

std::optional<FormulaRecord> FormulaManager::NewFormula(uint32_t type, std::string_view groupGbk,
                                                        uint32_t signalColour) const {
    if (type == kFormulaInternal || !IsKnownFormulaType(type)) return std::nullopt;
    FormulaRecord r;
    r.type = type;
    r.group = IsDefaultGroup(groupGbk) ? std::string() : std::string(groupGbk);
    r.defaultPeriod = 8;
    r.signalIcon = 6;
    r.signalPosition = 3;
    r.signalColour = signalColour;
    r.sourceOrigin = kSourceUser;
    return r;
}

bool FormulaManager::AddNewFormula(FormulaRecord record) {
    if (record.type == kFormulaInternal || record.nameText().empty()) return false;
    if (set_.Contains(record.type, record.nameText())) {
        prompt_.Message("公式已存在,不能新增!");
        return false;
    }
    record.sourceOrigin = kSourceUser;
    const uint32_t type = record.type;
    const std::string name(record.nameText());
    set_.Put(std::move(record));
    Changed(kNoticeFormulaAdded, type, name, kSourceUser);
    return true;
}

std::optional<std::string> FormulaManager::SaveAs(uint32_t type, std::string_view nameGbk) {
    std::optional<FormulaRecord> original = set_.Find(type, nameGbk);
    if (!original) return std::nullopt;
    if (original->sourceOrigin == kSourceBuiltIn) {
        prompt_.Message("该公式禁止编辑!");
        return std::nullopt;
    }
    std::optional<std::string> typed =
        prompt_.Input("另存公式", FormatMessage("将公式 %s 另存为", Utf8(nameGbk)), Utf8(nameGbk), false);
    if (!typed) return std::nullopt;
    std::string newName(CutGbk(Utf8ToGbk(TrimAscii(*typed)), kMaxFormulaNameLength));
    if (newName.empty()) {
        prompt_.Message("请输入公式名称!");
        return std::nullopt;
    }
    if (set_.Contains(type, newName)) {
        prompt_.Message("公式已存在,不能新增!");
        return std::nullopt;
    }
    // The copy keeps everything, the formula text (plain or locked) and its checksum included;
    // only the name and the source change.
    FormulaRecord copy = *original;
    copy.setName(newName);
    copy.sourceOrigin = kSourceUser;
    set_.Put(std::move(copy));
    Changed(kNoticeFormulaAdded, type, newName, kSourceUser);
    return newName;
}

bool FormulaManager::Delete(uint32_t type, std::string_view nameGbk) {
    std::optional<uint32_t> source = set_.SourceOf(type, nameGbk);
    if (!source) return false;
    if (*source == kSourceBuiltIn) {
        prompt_.Message("系统内置公式禁止删除!");
        return false;
    }
    if (prompt_.Ask(FormatMessage("真的要删除公式 %s 吗?", Utf8(nameGbk)), false) != FormulaPrompt::Answer::Yes)
        return false;
    if (!set_.Remove(type, nameGbk)) return false;
    Changed(kNoticeFormulaDeleted, type, nameGbk, *source);
    return true;
}

bool FormulaManager::NewGroup(uint32_t type) {
    std::optional<std::string> typed =
        prompt_.Input("新建公式组", FormatMessage("在'%s'下建立新公式组", FormulaTabCaption(type)), "", false);
    if (!typed) return false;
    std::string name = Utf8ToGbk(TrimAscii(*typed));
    if (name.empty()) return false;
    if (IsDefaultGroup(name) || !set_.AddGroup(type, name)) {
        prompt_.Message("同名公式组已存在,不能加入!");
        return false;
    }
    Changed(kNoticeGroupAdded, FormulaTypeClass(type), name, kSourceUser);
    return true;
}

bool FormulaManager::RenameGroup(uint32_t type, std::string_view groupGbk) {
    if (IsDefaultGroup(groupGbk)) {
        prompt_.Message("'其它'组为默认组,不能被重命名!");
        return false;
    }
    if (!set_.HasGroup(type, groupGbk)) return false;
    std::optional<std::string> typed =
        prompt_.Input("修改公式组名", FormatMessage("将 '%s' 修改成", Utf8(groupGbk)), Utf8(groupGbk), false);
    if (!typed) return false;
    std::string name = Utf8ToGbk(TrimAscii(*typed));
    if (name.empty() || name == groupGbk) return false;
    if (IsDefaultGroup(name) || set_.HasGroup(type, name) || !set_.RenameGroup(type, groupGbk, name)) {
        prompt_.Message("同名公式组已存在!");
        return false;
    }
    Changed(kNoticeGroupRenamed, FormulaTypeClass(type), groupGbk, kSourceUser, name);
    return true;
}

bool FormulaManager::DeleteGroup(uint32_t type, std::string_view groupGbk) {
    if (IsDefaultGroup(groupGbk)) {
        prompt_.Message("'其它'组为默认组,不能被删除!");
        return false;
    }
    if (!set_.HasGroup(type, groupGbk)) return false;
    if (prompt_.Ask(FormatMessage("真的要删除公式组 %s 吗(删除后该组下的所有公式将移至'其它'组中)?", Utf8(groupGbk)),
                    false) != FormulaPrompt::Answer::Yes)
        return false;
    if (!set_.RemoveGroup(type, groupGbk)) return false;
    Changed(kNoticeGroupDeleted, FormulaTypeClass(type), groupGbk, kSourceUser);
    return true;
}

bool FormulaManager::SetComment(uint32_t type, std::string_view nameGbk, std::string_view commentGbk) {
    uint32_t source = kSourceUser;
    bool found = set_.Update(type, nameGbk, [&](FormulaRecord& r) {
        r.comment.assign(commentGbk);
        source = r.sourceOrigin;
    });
    if (!found) return false;
    Changed(kNoticeFormulaChanged, type, nameGbk, source);
    return true;
}

int FormulaManager::Import(const std::string& path, const ImportSelector& select) {
    std::optional<Bytes> bytes = ReadWholeFile(path);
    FmlParseResult parsed = bytes ? ParseFmlImage(*bytes) : FmlParseResult{};
    if (!parsed.valid) {
        prompt_.Message("不是有效的公式文件!");
        return 0;
    }
    std::vector<size_t> chosen = select ? select(parsed.records) : std::vector<size_t>{};
    int imported = 0;
    for (size_t index : chosen) {
        if (index >= parsed.records.size()) continue;
        FormulaRecord r = parsed.records[index];
        const std::string name(r.nameText());
        std::optional<uint32_t> existing = set_.SourceOf(r.type, name);
        if (existing) {
            if (*existing == kSourceBuiltIn) {  // the program's own formulas are never replaced
                prompt_.Message("该公式禁止编辑!");
                continue;
            }
            FormulaPrompt::Answer a = prompt_.Ask(FormatMessage("存在同名公式:%s ,是否覆盖?", Utf8(name)), true);
            if (a == FormulaPrompt::Answer::Cancel) break;
            if (a == FormulaPrompt::Answer::No) continue;
            r.sourceOrigin = *existing;
            set_.Put(std::move(r));
            Changed(kNoticeFormulaChanged, parsed.records[index].type, name, *existing);
        } else {
            r.sourceOrigin = kSourceUser;
            set_.Put(std::move(r));
            Changed(kNoticeFormulaAdded, parsed.records[index].type, name, kSourceUser);
        }
        ++imported;
    }
    prompt_.Message(FormatMessage("共导入%d个公式!", static_cast<long long>(imported)));
    Flush();
    return imported;
}

int FormulaManager::Export(const std::vector<FormulaKey>& formulas, const std::string& path) {
    std::vector<FormulaRecord> records;
    for (const FormulaKey& k : formulas) {
        std::optional<FormulaRecord> r = set_.Find(k.type, k.name);
        if (!r || r->sourceOrigin == kSourceBuiltIn) continue;
        bool duplicate = false;
        for (const FormulaRecord& have : records)
            duplicate = duplicate || (SameFormulaTypeClass(have.type, r->type) && EqualsNoCase(have.nameText(), r->nameText()));
        if (!duplicate) records.push_back(std::move(*r));
    }
    if (!WriteFmlFile(path, records)) {
        prompt_.Message("保存公式文件失败!");
        return -1;
    }
    prompt_.Message(FormatMessage("共导出%d个公式!", static_cast<long long>(records.size())));
    return static_cast<int>(records.size());
}

bool FormulaManager::Flush() {
    std::string why;
    if (set_.SaveDirty(&why).empty()) return true;
    prompt_.Message("公式文件保存失败: " + why);
    return false;
}

std::optional<std::string> FormulaManager::OpenForEdit(uint32_t type, std::string_view nameGbk, std::string* password) {
    std::optional<FormulaRecord> r = set_.Find(type, nameGbk);
    if (!r) return std::nullopt;
    if (r->sourceOrigin == kSourceBuiltIn || r->lockChecksum == kBuiltInLockMarker) {
        prompt_.Message("该公式禁止编辑!");
        return std::nullopt;
    }
    if (password) password->clear();
    if (!r->isLocked()) return r->source;
    for (;;) {
        std::optional<std::string> typed = prompt_.Input("输入密码", "公式已加密，请输入密码", "", true);
        if (!typed) return std::nullopt;
        std::string pw = Utf8ToGbk(*typed);
        if (std::optional<std::string> text = OpenFormulaText(*r, pw)) {
            if (password) *password = pw;
            return text;
        }
    }
}

std::optional<std::string> FormulaManager::TextForViewing(uint32_t type, std::string_view nameGbk) {
    std::optional<FormulaRecord> r = set_.Find(type, nameGbk);
    if (!r) return std::nullopt;
    if (r->isLocked()) {
        prompt_.Message("公式被加密,无法查看!");
        return std::nullopt;
    }
    return r->source;
}

}  // namespace tessaro
