#include "platform/process_lock.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <cerrno>
#include <cstdint>
#include <ctime>
#include <filesystem>

#include "platform/files.h"

namespace tessaro {

namespace {

// File locks take bytes [0, 2^30), group locks [2^30, 2^31).
constexpr long kRangeSize = 1L << 30;

int OpenLockFile(const std::string& lockPath) {
    for (;;) {
        int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (fd >= 0 || errno != EINTR) return fd;
    }
}

// Locks (or with lock false, unlocks) bytes [start, start + length) of the lock file.
bool SetRange(int fd, long start, long length, bool lock, bool wait = true) {
    struct flock fl {};
    fl.l_type = lock ? F_WRLCK : F_UNLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = start;
    fl.l_len = length;
    fl.l_pid = 0;  // required for open-file-description locks
    for (;;) {
        if (::fcntl(fd, wait && lock ? F_OFD_SETLKW : F_OFD_SETLK, &fl) == 0) return true;
        if (errno != EINTR) return false;
    }
}

bool SetLock(int fd, long byte, bool wait) { return SetRange(fd, byte, 1, true, wait); }

std::string_view NameOf(std::string_view path) {
    size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::string ProcessFileLock::LockFileOf(std::string_view path) {
    std::string directory = SplitPath(path).directory;
    return directory + std::string(kLockFileName);
}

long ProcessFileLock::ByteOf(std::string_view name, Scope scope) {
    // FNV-1a over the name with ASCII letters folded, as the in-process registry folds them.
    uint64_t h = 14695981039346656037ull;
    for (char c : name) {
        unsigned char u = static_cast<unsigned char>(c);
        if (u >= 'A' && u <= 'Z') u = static_cast<unsigned char>(u - 'A' + 'a');
        h = (h ^ u) * 1099511628211ull;
    }
    long byte = static_cast<long>(h % static_cast<uint64_t>(kRangeSize));
    return scope == Scope::Group ? byte + kRangeSize : byte;
}

namespace {

// One open lock file per directory and process, kept open: opening it for every write
// would cost more than the write. Locks taken through one shared descriptor do not
// exclude each other, so the bytes held by this process are tracked here as well and a
// second holder of a byte in this process waits for the first.
//
// A write costs the two fcntl calls of the lock and nothing more: the cache is keyed by the
// directory part of the path (no string is built), a fork is noticed by a handler instead of
// asking for the process id, and whether the lock file is still linked (its directory may
// have been replaced: a market generation moves a new data directory into place) is checked
// with fstat once a second per lock file rather than on every write.
class LockFileCache {
public:
    static LockFileCache& Instance() {
        static LockFileCache* cache = [] {
            auto* c = new LockFileCache();  // never destroyed: used until exit
            ::pthread_atfork(nullptr, nullptr, [] { forked_.store(true, std::memory_order_relaxed); });
            return c;
        }();
        return *cache;
    }

    // Takes (fd, byte) for this process once no other holder here has it, and returns the
    // descriptor of the lock file of `directory` ("dir/" or "" for the working directory);
    // -1 when the lock file cannot be opened. A lock file that was removed (or a cache
    // inherited through fork) is opened afresh. `covered` tells whether a directory hold of
    // this process already owns the byte in the lock file: the caller then takes no lock of
    // its own (and must not unlock the byte, which would punch a hole into the hold).
    int Enter(std::string_view directory, long byte, bool& covered) {
        std::unique_lock lock(mutex_);
        ForgetAfterFork();
        int fd = Descriptor(directory);
        if (fd < 0) return -1;
        // A directory hold being taken lets the bytes drain first; it covers what comes after.
        auto blocked = [&] {
            if (held_.count({fd, byte}) != 0) return true;
            const Hold* hold = HoldOf(fd);
            return IsFileByte(byte) && hold && hold->taking;
        };
        if (blocked()) {
            ++waiting_;
            released_.wait(lock, [&] { return !blocked(); });
            --waiting_;
        }
        held_.insert({fd, byte});
        const Hold* hold = HoldOf(fd);
        covered = IsFileByte(byte) && hold && hold->count > 0;
        return fd;
    }

    // The first holder of a directory in this process waits until no file byte of it is held
    // here, then takes every file byte at once; later holders share that hold. Returns the
    // descriptor, or -1.
    int EnterDirectory(std::string_view directory) {
        std::unique_lock lock(mutex_);
        ForgetAfterFork();
        int fd = Descriptor(directory);
        if (fd < 0) return -1;
        if (HoldOf(fd)) {
            ++waiting_;
            released_.wait(lock, [&] { return !HoldOf(fd) || !HoldOf(fd)->taking; });
            --waiting_;
            if (HoldOf(fd)) {
                ++holds_[fd].count;
                return fd;
            }
        }
        holds_[fd].taking = true;
        ++waiting_;
        released_.wait(lock, [&] { return !HoldsFileBytes(fd); });
        --waiting_;
        lock.unlock();
        const bool locked = SetRange(fd, 0, kRangeSize, true);
        lock.lock();
        if (locked)
            holds_[fd] = Hold{1, false};
        else
            holds_.erase(fd);
        lock.unlock();
        released_.notify_all();
        return locked ? fd : -1;
    }

    // The last holder lets the directory go once no covered writer is still inside.
    void LeaveDirectory(int fd) {
        std::unique_lock lock(mutex_);
        Hold& hold = holds_[fd];
        if (hold.count > 1) {
            --hold.count;
            return;
        }
        ++waiting_;
        released_.wait(lock, [&] { return !HoldsFileBytes(fd); });
        --waiting_;
        (void)SetRange(fd, 0, kRangeSize, false);
        holds_.erase(fd);
        lock.unlock();
        released_.notify_all();
    }
    void Leave(int fd, long byte) {
        bool wake;
        {
            std::lock_guard lock(mutex_);
            held_.erase({fd, byte});
            wake = waiting_ > 0;
        }
        if (wake) released_.notify_all();
    }

private:
    struct Entry {
        int fd = -1;
        std::chrono::steady_clock::time_point checked;
    };

    int Descriptor(std::string_view directory) {
        const auto now = std::chrono::steady_clock::now();
        auto it = entries_.find(directory);
        if (it != entries_.end()) {
            if (now - it->second.checked < std::chrono::seconds(1)) return it->second.fd;
            struct stat st {};
            if (::fstat(it->second.fd, &st) == 0 && st.st_nlink > 0) {
                it->second.checked = now;
                return it->second.fd;
            }
            if (!InUse(it->second.fd)) ::close(it->second.fd);
            entries_.erase(it);
        }
        std::string key(directory);
        int fd = OpenLockFile(key + std::string(kLockFileName));
        if (fd >= 0) entries_.emplace(std::move(key), Entry{fd, now});
        return fd;
    }

    struct Hold {
        int count = 0;        // directory holders in this process
        bool taking = false;  // the first is waiting for the file bytes to drain
    };

    void ForgetAfterFork() {
        if (!forked_.exchange(false, std::memory_order_relaxed)) return;
        // The descriptors share their open file descriptions (and so their locks) with the
        // parent: the child opens its own.
        for (auto& [path, entry] : entries_) ::close(entry.fd);
        entries_.clear();
        held_.clear();
        holds_.clear();
    }

    static bool IsFileByte(long byte) { return byte < kRangeSize; }

    const Hold* HoldOf(int fd) const {
        auto it = holds_.find(fd);
        return it == holds_.end() ? nullptr : &it->second;
    }

    bool HoldsFileBytes(int fd) const {
        for (auto it = held_.lower_bound({fd, 0}); it != held_.end() && it->first == fd; ++it)
            if (IsFileByte(it->second)) return true;
        return false;
    }

    bool InUse(int fd) const {
        for (const auto& [f, byte] : held_)
            if (f == fd) return true;
        return holds_.count(fd) != 0;
    }

    static inline std::atomic<bool> forked_{false};
    std::mutex mutex_;
    std::condition_variable released_;
    int waiting_ = 0;
    std::map<std::string, Entry, std::less<>> entries_;
    std::set<std::pair<int, long>> held_;
    std::map<int, Hold> holds_;
};

bool Unlock(int fd, long byte) { return SetRange(fd, byte, 1, false); }

}  // namespace

ProcessFileLock::ProcessFileLock(std::string_view path, Scope scope) {
    LockFileCache& cache = LockFileCache::Instance();
    const std::string_view name = NameOf(path);
    const long byte = ByteOf(name, scope);
    bool covered = false;
    int fd = cache.Enter(path.substr(0, path.size() - name.size()), byte, covered);
    if (fd < 0) return;
    if (!covered && !SetLock(fd, byte, true)) {
        cache.Leave(fd, byte);
        return;
    }
    fd_ = fd;
    byte_ = byte;
    covered_ = covered;
}

ProcessFileLock::ProcessFileLock(ProcessFileLock&& other) noexcept
    : fd_(other.fd_), byte_(other.byte_), covered_(other.covered_) {
    other.fd_ = -1;
}

ProcessFileLock::~ProcessFileLock() {
    if (fd_ < 0) return;
    if (!covered_) (void)Unlock(fd_, byte_);
    LockFileCache::Instance().Leave(fd_, byte_);
}

ProcessDirectoryLock::ProcessDirectoryLock(std::string_view directory)
    : fd_(LockFileCache::Instance().EnterDirectory(WithTrailingSlash(std::string(directory)))) {}

ProcessDirectoryLock::~ProcessDirectoryLock() {
    if (fd_ >= 0) LockFileCache::Instance().LeaveDirectory(fd_);
}

bool ProcessFileLock::IsFree(std::string_view path, Scope scope) {
    int fd = ::open(LockFileOf(path).c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT;
    bool free = SetLock(fd, ByteOf(NameOf(path), scope), false);
    ::close(fd);
    return free;
}

bool UpdateFileLocked(const std::string& path,
                      const std::function<std::optional<std::vector<uint8_t>>(const std::optional<std::vector<uint8_t>>&)>& change) {
    ProcessFileLock lock(path);
    if (!lock.held()) return false;
    std::optional<std::vector<uint8_t>> old;
    if (FileExists(path)) {
        old = ReadWholeFile(path);
        if (!old) return false;
    }
    std::optional<std::vector<uint8_t>> updated = change(old);
    if (!updated) return true;
    return WriteFileAtomic(path, *updated);
}

bool WriteFileLocked(const std::string& path, std::span<const uint8_t> data) {
    ProcessFileLock lock(path);
    return lock.held() && WriteFileAtomic(path, data);
}

std::string TemporaryFileName(const std::string& path) {
    static std::atomic<unsigned> counter{0};
    return path + ".tmp" + std::to_string(::getpid()) + "_" + std::to_string(counter++);
}

bool IsTemporaryFileName(std::string_view name) {
    size_t at = name.rfind(".tmp");
    if (at == std::string_view::npos || at == 0) return false;
    std::string_view rest = name.substr(at + 4);
    size_t underscore = rest.find('_');
    if (underscore == std::string_view::npos || underscore == 0 || underscore + 1 == rest.size()) return false;
    for (size_t i = 0; i < rest.size(); ++i)
        if (i != underscore && (rest[i] < '0' || rest[i] > '9')) return false;
    return true;
}

bool LockTemporaryFile(int fd) {
    struct flock fl {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = 0;
    fl.l_len = 0;  // the whole file
    return ::fcntl(fd, F_OFD_SETLK, &fl) == 0;
}

int RemoveStaleTemporaryFiles(const std::string& directory) {
    constexpr time_t kMinimumAgeSeconds = 10;
    int removed = 0;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(directory, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (!IsTemporaryFileName(name)) continue;
        const std::string path = it->path().string();
        int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
        if (fd < 0) continue;
        struct stat st {};
        bool stale = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_mtime + kMinimumAgeSeconds < ::time(nullptr);
        // Held while it is removed, so that no other cleaner takes it for its own.
        if (stale && LockTemporaryFile(fd) && ::unlink(path.c_str()) == 0) ++removed;
        ::close(fd);
    }
    return removed;
}

}  // namespace tessaro
