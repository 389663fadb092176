// The per-path reader/writer lock registry: sharing, exclusion, writer priority, lifetime.
#include "market/file_lock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/files.h"
#include "test_support/temp_dir.h"

namespace tessaro {
namespace {

using namespace std::chrono_literals;

// Polls until `pred` holds (or five seconds pass, which fails the caller's check).
template <class Pred>
bool WaitFor(Pred pred) {
    for (int i = 0; i < 5000; ++i) {
        if (pred()) return true;
        std::this_thread::sleep_for(1ms);
    }
    return pred();
}

TEST(FileLockTest, EntriesAreCountedPerPathAndCaseInsensitive) {
    FileLockRegistry registry;
    FileLockEntry* a = registry.Acquire("/tmp/tessaro-lock/Data/600000.DAY");
    FileLockEntry* b = registry.Acquire("/tmp/tessaro-lock/data/./600000.day");
    FileLockEntry* c = registry.Acquire("/tmp/tessaro-lock/data/000001.day");
    EXPECT_EQ(a, b);
    EXPECT_NE(a, c);
    EXPECT_EQ(registry.EntryCount(), 2u);
    registry.Release(a);
    EXPECT_EQ(registry.EntryCount(), 2u);  // still held through b
    registry.Release(b);
    registry.Release(c);
    EXPECT_EQ(registry.EntryCount(), 0u);
    registry.Release(nullptr);  // harmless
}

TEST(FileLockTest, RelativeAndAbsolutePathsShareAnEntry) {
    FileLockRegistry registry;
    std::string cwd = std::filesystem::current_path().string();
    FileLockEntry* a = registry.Acquire("x/y.day");
    FileLockEntry* b = registry.Acquire(cwd + "/x/../x/y.day");
    EXPECT_EQ(a, b);
    registry.Release(a);
    registry.Release(b);
}

TEST(FileLockTest, ReadersShareAndWritersExclude) {
    FileLockRegistry registry;
    const std::string path = "/tmp/tessaro-lock/share.day";
    FileLockEntry* e = registry.Acquire(path);
    FileLockRegistry::LockRead(e);
    FileLockRegistry::LockRead(e);
    EXPECT_EQ(registry.StateOf(path), 2);

    std::atomic<bool> writing{false};
    std::thread writer([&] {
        FileLockRegistry::LockWrite(e);
        writing = true;
        FileLockRegistry::Unlock(e);
    });
    ASSERT_TRUE(WaitFor([&] { return registry.WaitingWriters(path) == 1; }));
    FileLockRegistry::Unlock(e);
    std::this_thread::sleep_for(20ms);
    EXPECT_FALSE(writing);  // one reader is still inside
    FileLockRegistry::Unlock(e);
    writer.join();
    EXPECT_TRUE(writing);
    EXPECT_EQ(registry.StateOf(path), 0);
    FileLockRegistry::Unlock(e);  // a stray unlock leaves the free lock free
    EXPECT_EQ(registry.StateOf(path), 0);
    registry.Release(e);
}

TEST(FileLockTest, WaitingWriterKeepsLaterReadersOutUntilItHasWritten) {
    FileLockRegistry registry;
    const std::string path = "/tmp/tessaro-lock/priority.exd";
    FileLockEntry* e = registry.Acquire(path);
    std::mutex logMutex;
    std::vector<std::string> log;
    auto note = [&](const char* what) {
        std::lock_guard lock(logMutex);
        log.emplace_back(what);
    };

    FileLockRegistry::LockRead(e);  // the first reader is inside
    std::thread writer([&] {
        FileLockRegistry::LockWrite(e);
        note("written");
        FileLockRegistry::Unlock(e);
    });
    ASSERT_TRUE(WaitFor([&] { return registry.WaitingWriters(path) == 1; }));
    std::vector<std::thread> readers;
    for (int i = 0; i < 3; ++i) {
        readers.emplace_back([&] {
            FileLockRegistry::LockRead(e);
            note("read");
            FileLockRegistry::Unlock(e);
        });
    }
    ASSERT_TRUE(WaitFor([&] { return registry.WaitingReaders(path) == 3; }));
    {
        std::lock_guard lock(logMutex);
        EXPECT_TRUE(log.empty());
    }
    FileLockRegistry::Unlock(e);
    writer.join();
    for (auto& r : readers) r.join();
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[0], "written");
    EXPECT_EQ(registry.StateOf(path), 0);
    registry.Release(e);
}

TEST(FileLockTest, WriterHandsOverToAllWaitingReaders) {
    FileLockRegistry registry;
    const std::string path = "/tmp/tessaro-lock/handover.day";
    FileLockEntry* e = registry.Acquire(path);
    FileLockRegistry::LockWrite(e);
    std::atomic<int> inside{0};
    std::atomic<bool> release{false};
    std::vector<std::thread> readers;
    for (int i = 0; i < 4; ++i) {
        readers.emplace_back([&] {
            FileLockRegistry::LockRead(e);
            ++inside;
            while (!release) std::this_thread::sleep_for(1ms);
            FileLockRegistry::Unlock(e);
        });
    }
    ASSERT_TRUE(WaitFor([&] { return registry.WaitingReaders(path) == 4; }));
    EXPECT_EQ(registry.StateOf(path), -1);
    FileLockRegistry::Unlock(e);
    // All four are admitted together, not one by one.
    ASSERT_TRUE(WaitFor([&] { return inside == 4; }));
    EXPECT_EQ(registry.StateOf(path), 4);
    release = true;
    for (auto& r : readers) r.join();
    EXPECT_EQ(registry.StateOf(path), 0);
    registry.Release(e);
}

TEST(FileLockTest, DifferentPathsNeverBlockEachOther) {
    FileLockRegistry registry;
    FileLockEntry* a = registry.Acquire("/tmp/tessaro-lock/a.day");
    FileLockEntry* b = registry.Acquire("/tmp/tessaro-lock/b.day");
    FileLockRegistry::LockWrite(a);
    std::atomic<bool> got{false};
    std::thread t([&] {
        FileLockRegistry::LockWrite(b);
        got = true;
        FileLockRegistry::Unlock(b);
    });
    t.join();  // would hang if b waited for a
    EXPECT_TRUE(got);
    FileLockRegistry::Unlock(a);
    registry.Release(a);
    registry.Release(b);
}

TEST(FileLockTest, StressWritersAreExclusiveAndReadersSeeConsistentState) {
    FileLockRegistry registry;
    const std::string path = "/tmp/tessaro-lock/stress.day";
    // Two plain ints changed together by writers: a reader sees them equal, or the lock is broken.
    int first = 0, second = 0;
    std::atomic<int> torn{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 6; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 2000; ++i) {
                FileLockEntry* e = registry.Acquire(path);
                if (t % 3 == 0) {
                    FileLockRegistry::LockWrite(e);
                    ++first;
                    std::this_thread::yield();
                    ++second;
                } else {
                    FileLockRegistry::LockRead(e);
                    if (first != second) ++torn;
                }
                FileLockRegistry::Unlock(e);
                registry.Release(e);
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(torn, 0);
    EXPECT_EQ(first, 4000);
    EXPECT_EQ(second, 4000);
    EXPECT_EQ(registry.EntryCount(), 0u);
}

TEST(FileLockTest, LockedFileOpensAndReleases) {
    TempDir dir;
    FileLockRegistry registry;
    std::string path = dir.path() + "/f.exd";
    EXPECT_EQ(LockedFile::Open(path, LockedFile::Mode::Read, registry), nullptr);
    EXPECT_EQ(registry.EntryCount(), 0u);
    {
        auto created = LockedFile::Open(path, LockedFile::Mode::ReadWriteCreate, registry);
        ASSERT_NE(created, nullptr);
        EXPECT_GE(created->fd(), 0);
        auto again = LockedFile::Open(path, LockedFile::Mode::Read, registry);
        ASSERT_NE(again, nullptr);
        EXPECT_EQ(registry.EntryCount(), 1u);
        created->lockRead();
        again->lockRead();
        EXPECT_EQ(registry.StateOf(path), 2);
        created->unlock();
        again->unlock();
    }
    EXPECT_EQ(registry.EntryCount(), 0u);
    EXPECT_TRUE(FileExists(path));
}

}  // namespace
}  // namespace tessaro
