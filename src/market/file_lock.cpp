#include "market/file_lock.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "platform/text.h"

namespace tessaro {

FileLockRegistry::~FileLockRegistry() = default;

FileLockRegistry& FileLockRegistry::Global() {
    // Never destroyed: worker threads may still release entries during exit.
    static FileLockRegistry* registry = new FileLockRegistry();
    return *registry;
}

std::string FileLockRegistry::KeyOf(std::string_view path) {
    std::error_code ec;
    std::filesystem::path p(path);
    std::filesystem::path abs = std::filesystem::absolute(p, ec);
    if (ec) abs = p;
    return AsciiLower(abs.lexically_normal().string());
}

FileLockEntry* FileLockRegistry::findLocked(const std::string& key) const {
    for (const auto& e : entries_)
        if (e->key_ == key) return e.get();
    return nullptr;
}

FileLockEntry* FileLockRegistry::Acquire(std::string_view path) {
    std::string key = KeyOf(path);
    std::lock_guard lock(mutex_);
    FileLockEntry* entry = findLocked(key);
    if (!entry) {
        entries_.push_back(std::make_unique<FileLockEntry>(key));
        entry = entries_.back().get();
    }
    ++entry->references_;
    return entry;
}

void FileLockRegistry::Release(FileLockEntry* entry) {
    if (!entry) return;
    std::lock_guard lock(mutex_);
    if (--entry->references_ > 0) return;
    auto it = std::find_if(entries_.begin(), entries_.end(), [&](const auto& e) { return e.get() == entry; });
    if (it != entries_.end()) entries_.erase(it);
}

void FileLockRegistry::LockRead(FileLockEntry* e) {
    std::unique_lock lock(e->mutex_);
    if (e->state_ < 0 || e->waitingWriters_ > 0) {
        // The unlocking writer counts us in before it opens the gate.
        ++e->waitingReaders_;
        lock.unlock();
        e->readerGate_.acquire();
        return;
    }
    ++e->state_;
}

void FileLockRegistry::LockWrite(FileLockEntry* e) {
    std::unique_lock lock(e->mutex_);
    if (e->state_ != 0) {
        ++e->waitingWriters_;
        lock.unlock();
        e->writerGate_.acquire();
        return;
    }
    e->state_ = -1;
}

void FileLockRegistry::Unlock(FileLockEntry* e) {
    std::unique_lock lock(e->mutex_);
    if (e->state_ > 0)
        --e->state_;
    else if (e->state_ < 0)
        e->state_ = 0;
    else
        return;  // not locked: a stray unlock changes nothing
    if (e->state_ != 0) return;
    if (e->waitingWriters_ > 0) {
        e->state_ = -1;
        --e->waitingWriters_;
        lock.unlock();
        e->writerGate_.release();
    } else if (e->waitingReaders_ > 0) {
        int n = e->waitingReaders_;
        e->state_ = n;
        e->waitingReaders_ = 0;
        lock.unlock();
        e->readerGate_.release(n);
    }
}

size_t FileLockRegistry::EntryCount() const {
    std::lock_guard lock(mutex_);
    return entries_.size();
}

int FileLockRegistry::StateOf(std::string_view path) const {
    std::string key = KeyOf(path);
    std::lock_guard lock(mutex_);
    FileLockEntry* e = findLocked(key);
    if (!e) return 0;
    std::lock_guard entryLock(e->mutex_);
    return e->state_;
}

int FileLockRegistry::WaitingReaders(std::string_view path) const {
    std::string key = KeyOf(path);
    std::lock_guard lock(mutex_);
    FileLockEntry* e = findLocked(key);
    if (!e) return 0;
    std::lock_guard entryLock(e->mutex_);
    return e->waitingReaders_;
}

int FileLockRegistry::WaitingWriters(std::string_view path) const {
    std::string key = KeyOf(path);
    std::lock_guard lock(mutex_);
    FileLockEntry* e = findLocked(key);
    if (!e) return 0;
    std::lock_guard entryLock(e->mutex_);
    return e->waitingWriters_;
}

ScopedFileLock::ScopedFileLock(std::string_view path, Mode mode, FileLockRegistry& registry)
    : registry_(registry), entry_(registry.Acquire(path)) {
    if (mode == Mode::Read)
        FileLockRegistry::LockRead(entry_);
    else
        FileLockRegistry::LockWrite(entry_);
}

ScopedFileLock::~ScopedFileLock() {
    FileLockRegistry::Unlock(entry_);
    registry_.Release(entry_);
}

std::unique_ptr<LockedFile> LockedFile::Open(std::string_view path, Mode mode, FileLockRegistry& registry) {
    int flags = O_CLOEXEC;
    switch (mode) {
    case Mode::Read: flags |= O_RDONLY; break;
    case Mode::ReadWrite: flags |= O_RDWR; break;
    case Mode::ReadWriteCreate: flags |= O_RDWR | O_CREAT; break;
    }
    std::string p(path);
    int fd = ::open(p.c_str(), flags, 0644);
    if (fd < 0) return nullptr;
    FileLockEntry* entry = registry.Acquire(path);
    return std::unique_ptr<LockedFile>(new LockedFile(registry, entry, fd));
}

LockedFile::~LockedFile() {
    ::close(fd_);
    registry_.Release(entry_);
}

}  // namespace tessaro
