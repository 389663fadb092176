// FormulaSet: the process-wide set of formulas.
//
// Every user of a formula takes a copy of the record it needs under the set's lock and works
// on the copy; nobody keeps a pointer into the set. Names are unique within a type class
// (types 2, 3 and 4 are one class) and compared without regard to ASCII case. Adding a formula
// whose type class and name are already present replaces the old one in place, which is how a
// later formula file overrides an earlier one.
//
// Each formula remembers its source: 0 base/user.fml, 1 base/common.fml, 2 base/download.fml,
// 3 built into the program. A source loaded from a file remembers that file's path, and
// SaveSource writes every formula of the source back to it (after a backup of the old file).
// Formulas are sorted into named groups per type class; the group with an empty name is the
// class's default group, shown as "其它".
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "formula/compiled_formula.h"
#include "formula/compiler.h"
#include "formula/fml_file.h"

namespace tessaro {

enum FormulaSource : uint32_t {
    kSourceUser = 0,
    kSourceCommon = 1,
    kSourceDownload = 2,
    kSourceBuiltIn = 3,
};
inline constexpr uint32_t kFormulaSourceCount = 4;

// The default group's caption (UTF-8 and GBK).
inline constexpr std::string_view kDefaultGroupCaption = "其它";
std::string DefaultGroupCaptionGbk();

struct FormulaGroup {
    uint32_t typeClass = kFormulaSubPane;  // 0, 1, 4 (indicators of types 2, 3, 4), 5 or 7
    std::string name;                      // GBK; empty for the default group
    bool isDefault() const { return name.empty(); }
};

// What "WM_FNOTIFY" carries: a formula or group was added, changed, deleted or renamed.
enum FormulaNoticeCode : int {
    kNoticeFormulaAdded = 1,
    kNoticeFormulaChanged = 2,
    kNoticeFormulaDeleted = 3,
    kNoticeGroupAdded = 4,
    kNoticeGroupRenamed = 5,
    kNoticeGroupDeleted = 6,
};

struct FormulaNotice {
    int code = kNoticeFormulaChanged;
    uint32_t type = 0;          // the formula's type, or the group's type class
    std::string name;           // GBK: the formula or group (for a rename, the old group name)
    std::string newName;        // GBK: the new group name of a rename
    const void* origin = nullptr;  // the window that made the change, if any
};

// Windows holding copies of formulas observe the set and refresh or drop their copies.
class FormulaObserver {
public:
    virtual ~FormulaObserver() = default;
    virtual void OnFormulaNotice(const FormulaNotice& notice) = 0;
};

struct FmlLoadResult {
    bool opened = false;   // the file could be read
    bool valid = false;    // it is a formula file (right magic, whole header and offset table)
    size_t merged = 0;     // records added or overriding an earlier formula
    size_t skipped = 0;    // records cut short or hostile
    uint32_t checksum = 0; // CRC of the whole file's bytes (0 when it could not be read)
};

class FormulaSet {
public:
    FormulaSet();
    FormulaSet(const FormulaSet&) = delete;
    FormulaSet& operator=(const FormulaSet&) = delete;

    // ---- Formulas ----
    // A copy of the formula of `type`'s class named `name`, or nullopt.
    std::optional<FormulaRecord> Find(uint32_t type, std::string_view name) const;
    bool Contains(uint32_t type, std::string_view name) const;
    // Adds the formula, or replaces the one of the same type class and name (keeping its
    // position). Its group is created when missing. Returns true when it replaced one.
    bool Put(FormulaRecord record);
    // Put with the record's source set to `source` (how a loaded file merges into the set).
    bool Merge(FormulaRecord record, uint32_t source);
    // Removes the formula; false when there is none.
    bool Remove(uint32_t type, std::string_view name);
    // Changes a formula in place under the lock; the callback must not change its type class
    // or name (they are restored if it does). False when there is no such formula.
    bool Update(uint32_t type, std::string_view name, const std::function<void(FormulaRecord&)>& change);
    // The source of a formula, or nullopt when there is none.
    std::optional<uint32_t> SourceOf(uint32_t type, std::string_view name) const;
    void Clear();
    size_t Size() const;
    // Copies of every formula, in load order.
    std::vector<FormulaRecord> Snapshot() const;
    // Copies of the formulas of one source, in set order.
    std::vector<FormulaRecord> FormulasOfSource(uint32_t source) const;
    // What the compiler asks of referenced formulas, answered from this set under its lock.
    FormulaLookup CompilerLookup() const;

    // ---- Groups ----
    std::vector<FormulaGroup> Groups() const;
    // The groups of `type`'s class, the default group first.
    std::vector<FormulaGroup> GroupsOf(uint32_t type) const;
    bool HasGroup(uint32_t type, std::string_view name) const;
    // False when the group exists (the default group always does).
    bool AddGroup(uint32_t type, std::string_view name);
    // Every formula of the group takes the new name and its source is marked dirty. False when
    // either name is the default group's, the old group is missing or the new one exists.
    bool RenameGroup(uint32_t type, std::string_view oldName, std::string_view newName);
    // Moves the group's formulas to the default group (sources marked dirty) and removes it.
    bool RemoveGroup(uint32_t type, std::string_view name);

    // ---- Sources and files ----
    // Remembers the file of a source (the first path given for it stays).
    void SetSourcePath(uint32_t source, const std::string& path);
    // The remembered file of a source, or "".
    std::string SourcePath(uint32_t source) const;
    // Remembers (source, path), reads the file and merges its formulas as that source. A file
    // that cannot be read or is no formula file adds nothing.
    FmlLoadResult LoadFile(const std::string& path, uint32_t source);
    // Merges one file image as `source`; returns what was merged and skipped.
    FmlLoadResult ParseImage(ByteSpan image, uint32_t source);
    // Backs up and rewrites the file of `source` with the formulas of that source, through a
    // temporary file and a rename; a source without formulas deletes its file. False with a
    // reason (UTF-8) when the source has no file or the file cannot be written; the old file
    // and the backup then stay as they were.
    bool SaveSource(uint32_t source, std::string* error = nullptr);
    // Sources changed since they were last saved.
    void MarkDirty(uint32_t source);
    bool IsDirty(uint32_t source) const;
    // Saves every dirty source; the sources that failed stay dirty and are returned.
    std::vector<uint32_t> SaveDirty(std::string* error = nullptr);
    // CRC of base/download.fml as last loaded (0 when it was missing).
    uint32_t DownloadChecksum() const;

    // ---- Start-up ----
    // The start-up load, under the set's lock: the built-in image (stored rotated; the
    // program ships none, so this is normally empty), the internal indicators, then
    // common.fml, download.fml and user.fml from `baseFiles` (indexed by source 0..2; an
    // empty path is skipped), and TENDV and ZDL moved into a "传统指标" group when one exists.
    struct StartupReport {
        size_t builtIn = 0;
        size_t internal = 0;
        FmlLoadResult files[3];  // by source: user, common, download
    };
    StartupReport LoadAtStartup(const std::string (&baseFiles)[3], ByteSpan builtInImage = {});

    // ---- Change notification ("WM_FNOTIFY") ----
    void AddObserver(FormulaObserver* observer);
    void RemoveObserver(FormulaObserver* observer);
    // Tells every observer, outside the set's lock.
    void Notify(const FormulaNotice& notice) const;

private:
    // The caller holds mutex_ for every *Locked function.
    int IndexOfLocked(uint32_t type, std::string_view name) const;
    bool PutLocked(FormulaRecord record);
    void EnsureGroupLocked(uint32_t type, std::string_view name);
    int GroupIndexLocked(uint32_t type, std::string_view name) const;
    void RememberPathLocked(uint32_t source, const std::string& path);
    FmlLoadResult LoadFileLocked(const std::string& path, uint32_t source);
    FmlLoadResult ParseImageLocked(ByteSpan image, uint32_t source);
    bool SaveSourceLocked(uint32_t source, std::string* error);

    mutable std::mutex mutex_;
    std::vector<FormulaRecord> formulas_;
    std::vector<FormulaGroup> groups_;
    std::vector<std::pair<uint32_t, std::string>> sourceFiles_;
    bool dirty_[kFormulaSourceCount] = {};
    uint32_t downloadChecksum_ = 0;
    mutable std::mutex observerMutex_;
    std::vector<FormulaObserver*> observers_;
};

// The one set of the process.
FormulaSet& ProcessFormulaSet();

}  // namespace tessaro
