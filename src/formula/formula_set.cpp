#include "formula/formula_set.h"

#include <algorithm>
#include <cstdio>

#include "formula/internal_formulas.h"
#include "platform/files.h"
#include "platform/process_lock.h"
#include "platform/text.h"

namespace tessaro {
namespace {

bool IsDefaultGroupName(std::string_view gbk) { return gbk.empty() || gbk == DefaultGroupCaptionGbk(); }

// "其它" written out in a file or by a caller is the default group, not a second group of
// the same caption.
void NormaliseGroup(FormulaRecord& r) {
    if (IsDefaultGroupName(r.group)) r.group.clear();
}

bool ValidSource(uint32_t source) { return source < kFormulaSourceCount; }

}  // namespace

std::string DefaultGroupCaptionGbk() {
    static const std::string gbk = Utf8ToGbk(kDefaultGroupCaption);
    return gbk;
}

FormulaSet::FormulaSet() {
    for (uint32_t type : {kFormulaSelection, kFormulaTradingSystem, kFormulaSubPane, kFormulaColourKLine,
                          kFormulaCombined})
        groups_.push_back(FormulaGroup{type, {}});
}

// ---- Formulas ----

int FormulaSet::IndexOfLocked(uint32_t type, std::string_view name) const {
    for (size_t i = 0; i < formulas_.size(); ++i) {
        const FormulaRecord& f = formulas_[i];
        if (SameFormulaTypeClass(f.type, type) && EqualsNoCase(f.nameText(), name)) return static_cast<int>(i);
    }
    return -1;
}

std::optional<FormulaRecord> FormulaSet::Find(uint32_t type, std::string_view name) const {
    std::lock_guard lock(mutex_);
    int i = IndexOfLocked(type, name);
    if (i < 0) return std::nullopt;
    return formulas_[static_cast<size_t>(i)];
}

bool FormulaSet::Contains(uint32_t type, std::string_view name) const {
    std::lock_guard lock(mutex_);
    return IndexOfLocked(type, name) >= 0;
}

bool FormulaSet::PutLocked(FormulaRecord record) {
    NormaliseGroup(record);
    EnsureGroupLocked(record.type, record.group);
    int i = IndexOfLocked(record.type, record.nameText());
    if (i >= 0) {
        formulas_[static_cast<size_t>(i)] = std::move(record);
        return true;
    }
    formulas_.push_back(std::move(record));
    return false;
}

bool FormulaSet::Put(FormulaRecord record) {
    std::lock_guard lock(mutex_);
    return PutLocked(std::move(record));
}

bool FormulaSet::Merge(FormulaRecord record, uint32_t source) {
    record.sourceOrigin = source;
    return Put(std::move(record));
}

bool FormulaSet::Remove(uint32_t type, std::string_view name) {
    std::lock_guard lock(mutex_);
    int i = IndexOfLocked(type, name);
    if (i < 0) return false;
    formulas_.erase(formulas_.begin() + i);
    return true;
}

bool FormulaSet::Update(uint32_t type, std::string_view name, const std::function<void(FormulaRecord&)>& change) {
    std::lock_guard lock(mutex_);
    int i = IndexOfLocked(type, name);
    if (i < 0) return false;
    FormulaRecord& r = formulas_[static_cast<size_t>(i)];
    const uint32_t oldType = r.type;
    char oldName[sizeof r.name];
    std::memcpy(oldName, r.name, sizeof oldName);
    change(r);
    if (!SameFormulaTypeClass(r.type, oldType)) r.type = oldType;
    std::memcpy(r.name, oldName, sizeof oldName);
    NormaliseGroup(r);
    EnsureGroupLocked(r.type, r.group);
    return true;
}

std::optional<uint32_t> FormulaSet::SourceOf(uint32_t type, std::string_view name) const {
    std::lock_guard lock(mutex_);
    int i = IndexOfLocked(type, name);
    if (i < 0) return std::nullopt;
    return formulas_[static_cast<size_t>(i)].sourceOrigin;
}

void FormulaSet::Clear() {
    std::lock_guard lock(mutex_);
    formulas_.clear();
}

size_t FormulaSet::Size() const {
    std::lock_guard lock(mutex_);
    return formulas_.size();
}

std::vector<FormulaRecord> FormulaSet::Snapshot() const {
    std::lock_guard lock(mutex_);
    return formulas_;
}

std::vector<FormulaRecord> FormulaSet::FormulasOfSource(uint32_t source) const {
    std::lock_guard lock(mutex_);
    std::vector<FormulaRecord> out;
    for (const FormulaRecord& f : formulas_)
        if (f.sourceOrigin == source) out.push_back(f);
    return out;
}

FormulaLookup FormulaSet::CompilerLookup() const {
    return [this](uint32_t typeClass, std::string_view name) -> std::optional<ReferencedFormula> {
        std::lock_guard lock(mutex_);
        int i = IndexOfLocked(typeClass, name);
        if (i < 0) return std::nullopt;
        return DescribeForReference(formulas_[static_cast<size_t>(i)]);
    };
}

// ---- Groups ----

int FormulaSet::GroupIndexLocked(uint32_t type, std::string_view name) const {
    const uint32_t cls = FormulaTypeClass(type);
    for (size_t i = 0; i < groups_.size(); ++i)
        if (groups_[i].typeClass == cls && groups_[i].name == name) return static_cast<int>(i);
    return -1;
}

void FormulaSet::EnsureGroupLocked(uint32_t type, std::string_view name) {
    if (GroupIndexLocked(type, name) < 0) groups_.push_back(FormulaGroup{FormulaTypeClass(type), std::string(name)});
}

std::vector<FormulaGroup> FormulaSet::Groups() const {
    std::lock_guard lock(mutex_);
    return groups_;
}

std::vector<FormulaGroup> FormulaSet::GroupsOf(uint32_t type) const {
    std::lock_guard lock(mutex_);
    std::vector<FormulaGroup> out;
    const uint32_t cls = FormulaTypeClass(type);
    out.push_back(FormulaGroup{cls, {}});
    for (const FormulaGroup& g : groups_)
        if (g.typeClass == cls && !g.isDefault()) out.push_back(g);
    return out;
}

bool FormulaSet::HasGroup(uint32_t type, std::string_view name) const {
    std::lock_guard lock(mutex_);
    return IsDefaultGroupName(name) || GroupIndexLocked(type, name) >= 0;
}

bool FormulaSet::AddGroup(uint32_t type, std::string_view name) {
    std::lock_guard lock(mutex_);
    if (IsDefaultGroupName(name) || GroupIndexLocked(type, name) >= 0) return false;
    groups_.push_back(FormulaGroup{FormulaTypeClass(type), std::string(name)});
    return true;
}

bool FormulaSet::RenameGroup(uint32_t type, std::string_view oldName, std::string_view newName) {
    std::lock_guard lock(mutex_);
    if (IsDefaultGroupName(oldName) || IsDefaultGroupName(newName)) return false;
    int g = GroupIndexLocked(type, oldName);
    if (g < 0 || GroupIndexLocked(type, newName) >= 0) return false;
    const std::string from(oldName);
    groups_[static_cast<size_t>(g)].name.assign(newName);
    for (FormulaRecord& f : formulas_) {
        if (!SameFormulaTypeClass(f.type, type) || f.group != from) continue;
        f.group.assign(newName);
        if (ValidSource(f.sourceOrigin)) dirty_[f.sourceOrigin] = true;
    }
    return true;
}

bool FormulaSet::RemoveGroup(uint32_t type, std::string_view name) {
    std::lock_guard lock(mutex_);
    if (IsDefaultGroupName(name)) return false;
    int g = GroupIndexLocked(type, name);
    if (g < 0) return false;
    groups_.erase(groups_.begin() + g);
    for (FormulaRecord& f : formulas_) {
        if (!SameFormulaTypeClass(f.type, type) || f.group != name) continue;
        f.group.clear();
        if (ValidSource(f.sourceOrigin)) dirty_[f.sourceOrigin] = true;
    }
    return true;
}

// ---- Sources and files ----

void FormulaSet::RememberPathLocked(uint32_t source, const std::string& path) {
    for (const auto& [s, p] : sourceFiles_)
        if (s == source) return;
    sourceFiles_.emplace_back(source, path);
}

void FormulaSet::SetSourcePath(uint32_t source, const std::string& path) {
    std::lock_guard lock(mutex_);
    RememberPathLocked(source, path);
}

std::string FormulaSet::SourcePath(uint32_t source) const {
    std::lock_guard lock(mutex_);
    for (const auto& [s, p] : sourceFiles_)
        if (s == source) return p;
    return {};
}

FmlLoadResult FormulaSet::ParseImageLocked(ByteSpan image, uint32_t source) {
    FmlLoadResult result;
    result.opened = true;
    FmlParseResult parsed = ParseFmlImage(image);
    result.valid = parsed.valid;
    result.skipped = parsed.skipped;
    for (FormulaRecord& r : parsed.records) {
        r.sourceOrigin = source;
        PutLocked(std::move(r));
        ++result.merged;
    }
    return result;
}

FmlLoadResult FormulaSet::ParseImage(ByteSpan image, uint32_t source) {
    std::lock_guard lock(mutex_);
    return ParseImageLocked(image, source);
}

FmlLoadResult FormulaSet::LoadFileLocked(const std::string& path, uint32_t source) {
    RememberPathLocked(source, path);
    std::optional<Bytes> bytes = ReadWholeFile(path);
    if (!bytes) return {};
    FmlLoadResult result = ParseImageLocked(*bytes, source);
    result.checksum = FmlChecksum(*bytes);
    if (source == kSourceDownload) downloadChecksum_ = result.checksum;
    return result;
}

FmlLoadResult FormulaSet::LoadFile(const std::string& path, uint32_t source) {
    std::lock_guard lock(mutex_);
    return LoadFileLocked(path, source);
}

bool FormulaSet::SaveSourceLocked(uint32_t source, std::string* error) {
    auto fail = [error](std::string why) {
        if (error) *error = std::move(why);
        return false;
    };
    std::string path;
    for (const auto& [s, p] : sourceFiles_)
        if (s == source) path = p;
    if (path.empty()) return fail("formula source " + std::to_string(source) + " has no file");
    if (!CreateDirectories(path)) return fail("cannot write " + path);
    // From the backup's read to the rename: no other process writes this file meanwhile.
    ProcessFileLock processLock(path);
    if (!processLock.held()) return fail("cannot lock " + path);

    // Back up the old file when it is a formula file: a failed or unwanted save can be undone.
    if (std::optional<Bytes> old = ReadWholeFile(path);
        old && old->size() >= 4 && LoadLE<uint32_t>(old->data()) == kFmlMagic) {
        SplitPathResult parts = SplitPath(path);
        std::string backup = parts.directory + "backup/" + parts.fileName;
        if (!CreateDirectories(backup) || !WriteFileAtomic(backup, *old))
            return fail("cannot write the backup " + backup);
    }

    std::vector<FormulaRecord> records;
    for (const FormulaRecord& f : formulas_)
        if (f.sourceOrigin == source) records.push_back(f);
    if (records.empty()) {
        if (FileExists(path) && std::remove(path.c_str()) != 0) return fail("cannot delete " + path);
    } else if (!WriteFileAtomic(path, WriteFmlImage(records))) {
        return fail("cannot write " + path);
    }
    dirty_[source] = false;
    return true;
}

bool FormulaSet::SaveSource(uint32_t source, std::string* error) {
    if (!ValidSource(source)) {
        if (error) *error = "no such formula source";
        return false;
    }
    std::lock_guard lock(mutex_);
    return SaveSourceLocked(source, error);
}

void FormulaSet::MarkDirty(uint32_t source) {
    std::lock_guard lock(mutex_);
    if (ValidSource(source)) dirty_[source] = true;
}

bool FormulaSet::IsDirty(uint32_t source) const {
    std::lock_guard lock(mutex_);
    return ValidSource(source) && dirty_[source];
}

std::vector<uint32_t> FormulaSet::SaveDirty(std::string* error) {
    std::lock_guard lock(mutex_);
    std::vector<uint32_t> failed;
    for (uint32_t s = 0; s < kFormulaSourceCount; ++s) {
        if (!dirty_[s]) continue;
        if (s == kSourceBuiltIn) {  // nothing of the program's own is ever written
            dirty_[s] = false;
            continue;
        }
        std::string why;
        if (!SaveSourceLocked(s, &why)) {
            failed.push_back(s);
            if (error) *error = why;
        }
    }
    return failed;
}

uint32_t FormulaSet::DownloadChecksum() const {
    std::lock_guard lock(mutex_);
    return downloadChecksum_;
}

// ---- Start-up ----

FormulaSet::StartupReport FormulaSet::LoadAtStartup(const std::string (&baseFiles)[3], ByteSpan builtInImage) {
    StartupReport report;
    std::lock_guard lock(mutex_);
    if (!builtInImage.empty()) {
        Bytes plain = DecodeBuiltInImage(builtInImage);
        report.builtIn = ParseImageLocked(plain, kSourceBuiltIn).merged;
    }
    for (FormulaRecord& r : InternalIndicators()) {
        if (IndexOfLocked(r.type, r.nameText()) >= 0) continue;
        PutLocked(std::move(r));
        ++report.internal;
    }
    // Later files override earlier ones formula by formula: user over download over common.
    for (uint32_t source : {kSourceCommon, kSourceDownload, kSourceUser}) {
        if (baseFiles[source].empty()) continue;
        report.files[source] = LoadFileLocked(baseFiles[source], source);
    }
    // The time-sharing volume and advance/decline lines join a traditional-indicator group.
    const std::string traditional = Utf8ToGbk("传统指标");
    const FormulaGroup* target = nullptr;
    for (const FormulaGroup& g : groups_)
        if (g.typeClass == kFormulaSubPane && g.name.find(traditional) != std::string::npos) {
            target = &g;
            break;
        }
    if (target) {
        for (const char* name : {"TENDV", "ZDL"}) {
            int i = IndexOfLocked(kFormulaSubPane, name);
            if (i >= 0 && formulas_[static_cast<size_t>(i)].type == kFormulaSubPane)
                formulas_[static_cast<size_t>(i)].group = target->name;
        }
    }
    return report;
}

// ---- Notification ----

void FormulaSet::AddObserver(FormulaObserver* observer) {
    std::lock_guard lock(observerMutex_);
    if (observer && std::find(observers_.begin(), observers_.end(), observer) == observers_.end())
        observers_.push_back(observer);
}

void FormulaSet::RemoveObserver(FormulaObserver* observer) {
    std::lock_guard lock(observerMutex_);
    observers_.erase(std::remove(observers_.begin(), observers_.end(), observer), observers_.end());
}

void FormulaSet::Notify(const FormulaNotice& notice) const {
    std::vector<FormulaObserver*> copy;
    {
        std::lock_guard lock(observerMutex_);
        copy = observers_;
    }
    for (FormulaObserver* o : copy) o->OnFormulaNotice(notice);
}

FormulaSet& ProcessFormulaSet() {
    static FormulaSet set;
    return set;
}

}  // namespace tessaro
