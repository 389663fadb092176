// Locks that hold across processes: the desktop program, tessaro-cli and
// tessaro-quoted may share one application directory, so every
// read-modify-write of a shared file holds one of these from the read to the
// rename.
//
// Each directory has one lock file, ".tessaro.lock". A file's lock is an
// open-file-description lock (fcntl F_OFD_SETLKW) on one byte of that lock
// file, chosen by a hash of the file's name; a group lock (several files that
// change together, such as a formula set) takes a byte from a separate range,
// so that holding a group lock and then one file lock of the same directory can
// never wait for itself. Two names sharing a byte only serialise each other.
//
// Open-file-description locks belong to the open lock file, not the process: a
// killed holder's lock goes with its last descriptor. Each process keeps one
// descriptor per lock file open and tracks the bytes it holds, so two holders
// in one process exclude each other as two processes do. The in-process lock
// registry of the history files stays in front of these locks; everything else
// needs only this one.
//
// A reader of a file that writers replace by rename takes no lock.
#pragma once

#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tessaro {

inline constexpr std::string_view kLockFileName = ".tessaro.lock";

class ProcessFileLock {
public:
    enum class Scope { File, Group };

    // Blocks until the lock of `path` is held. For Scope::File, `path` names
    // the file; for Scope::Group, its directory part names the directory and
    // the rest the group ("base/formula set"). held() is false when the lock
    // file cannot be opened or created (a read-only directory): a writer then
    // fails, as it could not write there anyway.
    explicit ProcessFileLock(std::string_view path, Scope scope = Scope::File);
    ~ProcessFileLock();
    ProcessFileLock(ProcessFileLock&& other) noexcept;
    ProcessFileLock& operator=(ProcessFileLock&&) = delete;
    ProcessFileLock(const ProcessFileLock&) = delete;
    ProcessFileLock& operator=(const ProcessFileLock&) = delete;

    bool held() const { return fd_ >= 0; }

    // Tries once without waiting: true when the lock of `path` is free now
    // (nobody, in this or another process, holds it).
    static bool IsFree(std::string_view path, Scope scope = Scope::File);

    // The lock file of the directory of `path`, and the byte a name locks.
    static std::string LockFileOf(std::string_view path);
    static long ByteOf(std::string_view name, Scope scope);

private:
    int fd_ = -1;    // the process's shared descriptor of the lock file while held
    long byte_ = 0;
    bool covered_ = false;  // a ProcessDirectoryLock of this process holds the byte already
};

// Every file lock of one directory at once, for a writer of many files there (the close
// of a trading day, the after-hours download): while it is held, other processes wait for
// any file of the directory, and this process's file locks there cost no system call. Group
// locks are not covered. Holders in one process share the hold; the first waits until no
// file lock of the directory is held in this process, the last lets go once none is.
class ProcessDirectoryLock {
public:
    explicit ProcessDirectoryLock(std::string_view directory);  // blocks
    ~ProcessDirectoryLock();
    ProcessDirectoryLock(const ProcessDirectoryLock&) = delete;
    ProcessDirectoryLock& operator=(const ProcessDirectoryLock&) = delete;

    bool held() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

// Read-modify-write of one file under its lock: reads the file (nullopt when
// missing), lets `change` compute the new contents (nullopt: leave the file as
// it is) and writes them through a temporary file and a rename before the lock
// is let go. False when the lock, the read or the write fails. Blocks,
// settings and other whole-file stores use it.
bool UpdateFileLocked(const std::string& path,
                      const std::function<std::optional<std::vector<uint8_t>>(const std::optional<std::vector<uint8_t>>&)>& change);

// Writes `data` over `path` through a temporary file and a rename under the
// file's lock (a writer that does not read first).
bool WriteFileLocked(const std::string& path, std::span<const uint8_t> data);

// Temporary files: "<file>.tmp<pid>_<n>", made beside the file they replace. Their
// writer holds an open-file-description lock on the whole temporary file until the
// rename, so a lock that can be taken means its writer is gone.
std::string TemporaryFileName(const std::string& path);
bool IsTemporaryFileName(std::string_view name);
// Takes the writer's lock on a temporary file just created; true when held.
bool LockTemporaryFile(int fd);
// Removes from `directory` the temporary files of that naming that no live writer
// holds and that are older than a few seconds (a writer between creating and
// locking its file is never cut off). Returns how many were removed. Called when
// a directory is opened for writing.
int RemoveStaleTemporaryFiles(const std::string& directory);

}  // namespace tessaro
