#include "platform/process_lock.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <utime.h>
#include <unistd.h>

#include <atomic>
#include <algorithm>
#include <chrono>
#include <optional>
#include <vector>
#include <string>
#include <thread>

#include "platform/files.h"
#include "test_support/temp_dir.h"

namespace tessaro {
namespace {

// A child process holds the lock of `path` until the parent writes to its pipe.
class LockingChild {
public:
    explicit LockingChild(const std::string& path) {
        int ready[2], go[2];
        if (::pipe(ready) != 0 || ::pipe(go) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ProcessFileLock lock(path);
            char c = lock.held() ? 'y' : 'n';
            (void)!::write(ready[1], &c, 1);
            (void)!::read(go[0], &c, 1);
            ::_exit(0);
        }
        ::close(ready[1]);
        ::close(go[0]);
        char c = 0;
        held_ = ::read(ready[0], &c, 1) == 1 && c == 'y';
        ::close(ready[0]);
        go_ = go[1];
    }
    ~LockingChild() { Release(); }
    bool held() const { return held_; }
    void Release() {
        if (go_ >= 0) {
            (void)!::write(go_, "x", 1);
            ::close(go_);
            go_ = -1;
        }
        if (pid_ > 0) {
            int status = 0;
            ::waitpid(pid_, &status, 0);
            pid_ = -1;
        }
    }

private:
    pid_t pid_ = -1;
    int go_ = -1;
    bool held_ = false;
};

TEST(FileLockProcess, AnotherProcessWaitsUntilTheHolderLetsGo) {
    TempDir dir;
    std::string path = dir.path() + "/600000.day";
    LockingChild child(path);
    ASSERT_TRUE(child.held());
    EXPECT_FALSE(ProcessFileLock::IsFree(path));
    // Another file of the same directory is not held up.
    EXPECT_TRUE(ProcessFileLock::IsFree(dir.path() + "/600001.day"));

    std::atomic<bool> got{false};
    std::thread waiter([&] {
        ProcessFileLock lock(path);
        got = lock.held();
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(got.load());
    child.Release();
    waiter.join();
    EXPECT_TRUE(got.load());
    EXPECT_TRUE(ProcessFileLock::IsFree(path));
}

TEST(FileLockProcess, ADeadHoldersLockIsGone) {
    TempDir dir;
    std::string path = dir.path() + "/f.dat";
    pid_t pid = ::fork();
    if (pid == 0) {
        ProcessFileLock lock(path);
        ::_exit(lock.held() ? 9 : 1);  // killed while holding: no unlock runs
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_EQ(WEXITSTATUS(status), 9);
    EXPECT_TRUE(ProcessFileLock::IsFree(path));
    EXPECT_TRUE(FileExists(dir.path() + "/" + std::string(kLockFileName)));
}

TEST(FileLockProcess, ADirectoryHoldKeepsEveryFileOfItFromOtherProcesses) {
    TempDir dir;
    const std::string a = dir.path() + "/600000.day", b = dir.path() + "/600001.day";
    {
        ProcessDirectoryLock hold(dir.path());
        ASSERT_TRUE(hold.held());
        // IsFree probes through a descriptor of its own, as another process would.
        EXPECT_FALSE(ProcessFileLock::IsFree(a));
        EXPECT_FALSE(ProcessFileLock::IsFree(b));
        EXPECT_TRUE(ProcessFileLock::IsFree(dir.path() + "/set", ProcessFileLock::Scope::Group))
            << "group locks are not part of the hold";
        {
            // A covered writer of this process takes and lets go of its file: that must not
            // open a hole in the hold.
            ProcessFileLock covered(a);
            ASSERT_TRUE(covered.held());
        }
        EXPECT_FALSE(ProcessFileLock::IsFree(a));
        {
            ProcessDirectoryLock shared(dir.path());  // a second holder here shares the hold
            EXPECT_TRUE(shared.held());
        }
        EXPECT_FALSE(ProcessFileLock::IsFree(b)) << "the first holder still holds it";
    }
    EXPECT_TRUE(ProcessFileLock::IsFree(a));
    EXPECT_TRUE(ProcessFileLock::IsFree(b));
}

TEST(FileLockProcess, ADirectoryHoldWaitsForAnotherProcesssFileLock) {
    TempDir dir;
    LockingChild child(dir.path() + "/600000.day");
    ASSERT_TRUE(child.held());
    std::atomic<bool> got{false};
    std::thread holder([&] {
        ProcessDirectoryLock hold(dir.path());
        got = hold.held();
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(got.load());
    child.Release();
    holder.join();
    EXPECT_TRUE(got.load());
}

TEST(FileLockConcurrency, ADirectoryHoldWaitsForThisProcesssWritersAndCoversLaterOnes) {
    TempDir dir;
    const std::string path = dir.path() + "/600000.day";
    std::optional<ProcessFileLock> early(std::in_place, path);
    ASSERT_TRUE(early->held());
    std::atomic<bool> got{false};
    std::thread holder([&] {
        ProcessDirectoryLock hold(dir.path());
        got = hold.held();
        // Writers arriving now are covered; each file still excludes its own writers here.
        std::atomic<int> inside{0}, most{0};
        std::vector<std::thread> writers;
        for (int i = 0; i < 4; ++i)
            writers.emplace_back([&] {
                for (int k = 0; k < 50; ++k) {
                    ProcessFileLock lock(path);
                    int now = ++inside;
                    most = std::max(most.load(), now);
                    --inside;
                }
            });
        for (auto& w : writers) w.join();
        EXPECT_EQ(most.load(), 1);
        EXPECT_FALSE(ProcessFileLock::IsFree(path));
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(got.load()) << "the hold waits for the writer that came first";
    early.reset();
    holder.join();
    EXPECT_TRUE(got.load());
    EXPECT_TRUE(ProcessFileLock::IsFree(path));
}

TEST(FileLockConcurrency, TwoHoldersInOneProcessExcludeEachOther) {
    TempDir dir;
    std::string path = dir.path() + "/counter";
    ASSERT_TRUE(WriteFileAtomic(path, std::string_view("0")));
    // Unlocked, these read-modify-writes would lose increments.
    auto bump = [&] {
        for (int i = 0; i < 100; ++i) {
            ASSERT_TRUE(UpdateFileLocked(path, [](const std::optional<std::vector<uint8_t>>& old) {
                int n = std::stoi(std::string(old->begin(), old->end())) + 1;
                std::string text = std::to_string(n);
                return std::optional<std::vector<uint8_t>>(std::vector<uint8_t>(text.begin(), text.end()));
            }));
        }
    };
    std::thread a(bump), b(bump), c(bump);
    a.join();
    b.join();
    c.join();
    auto bytes = ReadWholeFile(path);
    ASSERT_TRUE(bytes);
    EXPECT_EQ(std::string(bytes->begin(), bytes->end()), "300");
}

TEST(FileLockProcess, AGroupLockNeverWaitsForAFileLockOfItsDirectory) {
    TempDir dir;
    std::string base = dir.path() + "/";
    ProcessFileLock group(base + "formula set", ProcessFileLock::Scope::Group);
    ASSERT_TRUE(group.held());
    for (const char* name : {"user.fml", "common.fml", "download.fml", "formula set"})
        EXPECT_TRUE(ProcessFileLock::IsFree(base + name)) << name;
    EXPECT_FALSE(ProcessFileLock::IsFree(base + "formula set", ProcessFileLock::Scope::Group));
    // Case is folded as the in-process registry folds it.
    EXPECT_EQ(ProcessFileLock::ByteOf("USER.FML", ProcessFileLock::Scope::File),
              ProcessFileLock::ByteOf("user.fml", ProcessFileLock::Scope::File));
}

TEST(FileLockProcess, LeftOverTemporariesGoUnlessALiveWriterHoldsThem) {
    TempDir dir;
    auto make = [&](const std::string& name, bool old) {
        std::string path = dir.path() + "/" + name;
        EXPECT_TRUE(WriteFileAtomic(path, std::string_view("x")));
        if (old) {
            struct utimbuf t {1000000000, 1000000000};
            ::utime(path.c_str(), &t);
        }
        return path;
    };
    std::string killed = make("600000.day.tmp4242_0", true);
    std::string held = make("stkinfo.dat.tmp4243_7", true);
    std::string fresh = make("user.fml.tmp4244_1", false);
    std::string other = make("600000.day.tmpfile", true);
    std::string real = make("600000.day", true);
    int fd = ::open(held.c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(LockTemporaryFile(fd));  // a writer still at work

    EXPECT_EQ(RemoveStaleTemporaryFiles(dir.path()), 1);
    EXPECT_FALSE(FileExists(killed));
    EXPECT_TRUE(FileExists(held));
    EXPECT_TRUE(FileExists(fresh));
    EXPECT_TRUE(FileExists(other));
    EXPECT_TRUE(FileExists(real));
    ::close(fd);  // the writer is gone
    EXPECT_EQ(RemoveStaleTemporaryFiles(dir.path()), 1);
    EXPECT_FALSE(FileExists(held));

    EXPECT_TRUE(IsTemporaryFileName(TemporaryFileName("a/b.day").substr(4)));
    for (const char* name : {".tmp1_2", "a.tmp_2", "a.tmp1_", "a.tmp1x_2", "a.tmp12"})
        EXPECT_FALSE(IsTemporaryFileName(name)) << name;
}

TEST(FileLockProcess, AReadOnlyDirectoryGivesNoLockAndNoWrite) {
    if (::geteuid() == 0) GTEST_SKIP() << "root writes anywhere";
    TempDir dir;
    std::string sub = dir.path() + "/ro/";
    ASSERT_TRUE(CreateDirectories(sub));
    ::chmod(sub.c_str(), 0555);
    ProcessFileLock lock(sub + "f.dat");
    EXPECT_FALSE(lock.held());
    EXPECT_FALSE(WriteFileLocked(sub + "f.dat", std::span<const uint8_t>()));
    ::chmod(sub.c_str(), 0755);
}

}  // namespace
}  // namespace tessaro
