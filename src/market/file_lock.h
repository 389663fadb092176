// Per-path reader/writer locks for the history and extra-data files.
//
// One entry per open path (full path, compared case-insensitively), counted by
// its openers and destroyed with the last one. Writers have priority: once a
// writer waits, later readers queue behind it, so a stream of readers can never
// starve a writer. Different paths never block each other; the registry's own
// mutex is held only while entries are looked up, added or removed.
//
// History loads take no lock at all: writers replace rewritten files by rename
// and append only whole records, so a reader always sees whole bars.
#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <semaphore>
#include <string>
#include <string_view>
#include <vector>

namespace tessaro {

class FileLockEntry;

class FileLockRegistry {
public:
    FileLockRegistry() = default;
    FileLockRegistry(const FileLockRegistry&) = delete;
    FileLockRegistry& operator=(const FileLockRegistry&) = delete;
    ~FileLockRegistry();

    // The process-wide registry.
    static FileLockRegistry& Global();

    // Finds or creates the entry of `path` (made absolute and normalised first)
    // and counts one more holder. Never fails; release with Release.
    FileLockEntry* Acquire(std::string_view path);
    // Drops one holder; the entry is destroyed when none is left. The caller must
    // not hold or wait for the entry's lock any more.
    void Release(FileLockEntry* entry);

    // Reader/writer lock of an entry.
    static void LockRead(FileLockEntry* entry);
    static void LockWrite(FileLockEntry* entry);
    static void Unlock(FileLockEntry* entry);

    // Number of live entries (for diagnostics and tests).
    size_t EntryCount() const;
    // The lock state of the entry of `path`: > 0 readers, -1 a writer, 0 free;
    // also 0 when there is no entry.
    int StateOf(std::string_view path) const;
    // Waiting readers and writers of the entry of `path` (0 without an entry).
    int WaitingReaders(std::string_view path) const;
    int WaitingWriters(std::string_view path) const;

    // The key under which a path is registered: absolute, normalised, ASCII
    // letters folded to lower case.
    static std::string KeyOf(std::string_view path);

private:
    FileLockEntry* findLocked(const std::string& key) const;

    mutable std::mutex mutex_;
    std::vector<std::unique_ptr<FileLockEntry>> entries_;
};

class FileLockEntry {
public:
    explicit FileLockEntry(std::string key) : key_(std::move(key)) {}
    const std::string& key() const { return key_; }

private:
    friend class FileLockRegistry;

    std::string key_;
    int references_ = 0;  // guarded by the registry mutex
    std::mutex mutex_;     // guards the four counters below
    int state_ = 0;        // n > 0 readers, -1 one writer, 0 free
    int waitingReaders_ = 0;
    int waitingWriters_ = 0;
    std::counting_semaphore<> readerGate_{0};
    std::counting_semaphore<> writerGate_{0};
};

// Scoped holders of an entry reference and its read or write lock.
class ScopedFileLock {
public:
    enum class Mode { Read, Write };
    ScopedFileLock(std::string_view path, Mode mode, FileLockRegistry& registry = FileLockRegistry::Global());
    ~ScopedFileLock();
    ScopedFileLock(const ScopedFileLock&) = delete;
    ScopedFileLock& operator=(const ScopedFileLock&) = delete;

private:
    FileLockRegistry& registry_;
    FileLockEntry* entry_;
};

// A file opened with a registry entry for its path (the file lock interface of
// the history module). The file descriptor is closed and the reference dropped
// on destruction; lock and unlock around each access.
class LockedFile {
public:
    enum class Mode { Read, ReadWrite, ReadWriteCreate };

    // Opens `path`; an invalid LockedFile when the file cannot be opened.
    static std::unique_ptr<LockedFile> Open(std::string_view path, Mode mode,
                                            FileLockRegistry& registry = FileLockRegistry::Global());
    ~LockedFile();
    LockedFile(const LockedFile&) = delete;
    LockedFile& operator=(const LockedFile&) = delete;

    int fd() const { return fd_; }
    void lockRead() { FileLockRegistry::LockRead(entry_); }
    void lockWrite() { FileLockRegistry::LockWrite(entry_); }
    void unlock() { FileLockRegistry::Unlock(entry_); }

private:
    LockedFile(FileLockRegistry& registry, FileLockEntry* entry, int fd)
        : registry_(registry), entry_(entry), fd_(fd) {}

    FileLockRegistry& registry_;
    FileLockEntry* entry_;
    int fd_;
};

}  // namespace tessaro
