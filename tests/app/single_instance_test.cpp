// Single instance across real processes: the second start activates the
// first and ends; a crashed first leaves nothing that blocks the next.
#include "app/single_instance.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

#include "platform/files.h"
#include "test_support/temp_dir.h"

namespace tessaro {
namespace {

// Runs a second instance in a child process: exit 0 when it found the first
// and was acknowledged, 3 when it became the primary itself, 4 on failure.
pid_t StartSecond(const std::string& dir, std::vector<std::string> args) {
    pid_t pid = ::fork();
    if (pid == 0) {
        SingleInstance second(dir);
        SingleInstance::Role role = second.acquire();
        if (role == SingleInstance::Role::Primary) ::_exit(3);
        if (role != SingleInstance::Role::Secondary) ::_exit(4);
        ::_exit(second.activatePrimary(args, 5000) ? 0 : 5);
    }
    return pid;
}

int WaitExit(pid_t pid) {
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

TEST(SingleInstance, SecondStartActivatesTheFirstWithItsArguments) {
    TempDir dir;
    SingleInstance first(dir.path());
    ASSERT_EQ(first.acquire(), SingleInstance::Role::Primary) << first.error();
    ASSERT_GE(first.listenFd(), 0);

    pid_t child = StartSecond(dir.path(), {"--appdir", "/x", "SH600000", ""});
    auto args = first.serviceOne(5000);
    ASSERT_TRUE(args.has_value());
    EXPECT_EQ(*args, (std::vector<std::string>{"--appdir", "/x", "SH600000", ""}));
    EXPECT_EQ(WaitExit(child), 0);

    // A second activation works the same; one with no arguments too.
    child = StartSecond(dir.path(), {});
    args = first.serviceOne(5000);
    ASSERT_TRUE(args.has_value());
    EXPECT_TRUE(args->empty());
    EXPECT_EQ(WaitExit(child), 0);
}

TEST(SingleInstance, NextStartAfterTheFirstEndsIsPrimary) {
    TempDir dir;
    {
        SingleInstance first(dir.path());
        ASSERT_EQ(first.acquire(), SingleInstance::Role::Primary);
    }
    EXPECT_EQ(WaitExit(StartSecond(dir.path(), {})), 3);
}

TEST(SingleInstance, CrashedFirstLeavesAStaleSocketThatIsReplaced) {
    TempDir dir;
    // A first instance that dies without cleaning up: the kernel drops its lock,
    // its socket file stays.
    pid_t crashed = ::fork();
    if (crashed == 0) {
        SingleInstance first(dir.path());
        ::_exit(first.acquire() == SingleInstance::Role::Primary ? 0 : 1);  // no destructor runs
    }
    ASSERT_EQ(WaitExit(crashed), 0);
    ASSERT_TRUE(::access((dir.path() + "/TSR_PE.sock").c_str(), F_OK) == 0);

    SingleInstance next(dir.path());
    ASSERT_EQ(next.acquire(), SingleInstance::Role::Primary) << next.error();
    pid_t child = StartSecond(dir.path(), {"again"});
    auto args = next.serviceOne(5000);
    ASSERT_TRUE(args.has_value());
    EXPECT_EQ(*args, std::vector<std::string>{"again"});
    EXPECT_EQ(WaitExit(child), 0);
}

TEST(SingleInstance, SecondGivesUpWhenTheFirstNeverAnswers) {
    TempDir dir;
    SingleInstance first(dir.path());
    ASSERT_EQ(first.acquire(), SingleInstance::Role::Primary);
    SingleInstance second(dir.path());
    ASSERT_EQ(second.acquire(), SingleInstance::Role::Secondary);
    // Nobody services the request: no acknowledgement within the time-out.
    EXPECT_FALSE(second.activatePrimary({"x"}, 200));
}

// A client that sends raw bytes to the primary's socket.
bool SendRaw(const std::string& socketPath, const std::string& bytes, bool closeWrite) {
    int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, socketPath.c_str(), socketPath.size() + 1);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return false;
    }
    size_t off = 0;
    while (off < bytes.size()) {
        ssize_t w = ::send(fd, bytes.data() + off, bytes.size() - off, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (w <= 0) break;
        off += static_cast<size_t>(w);
    }
    if (closeWrite) ::shutdown(fd, SHUT_WR);
    ::close(fd);
    return true;
}

TEST(SingleInstance, MalformedRequestsAreRefused) {
    TempDir dir;
    SingleInstance first(dir.path());
    ASSERT_EQ(first.acquire(), SingleInstance::Role::Primary);
    const std::string sock = dir.path() + "/TSR_PE.sock";

    ASSERT_TRUE(SendRaw(sock, "hello", true));
    EXPECT_FALSE(first.serviceOne(2000).has_value());
    ASSERT_TRUE(SendRaw(sock, std::string("activate\0x", 10), true));  // unterminated argument
    EXPECT_FALSE(first.serviceOne(2000).has_value());
    ASSERT_TRUE(SendRaw(sock, "", true));
    EXPECT_FALSE(first.serviceOne(2000).has_value());
    // Nothing pending: returns at once.
    EXPECT_FALSE(first.serviceOne(0).has_value());

    // After all that, a real activation still works.
    pid_t child = StartSecond(dir.path(), {"ok"});
    auto args = first.serviceOne(5000);
    ASSERT_TRUE(args.has_value());
    EXPECT_EQ(WaitExit(child), 0);
}

TEST(SingleInstance, OversizedRequestIsRefused) {
    TempDir dir;
    SingleInstance first(dir.path());
    ASSERT_EQ(first.acquire(), SingleInstance::Role::Primary);
    pid_t child = ::fork();
    if (child == 0) {
        std::string big = std::string("activate\0", 9) + std::string(SingleInstance::kMaxRequestBytes + 10, 'a');
        big.push_back('\0');
        SendRaw(dir.path() + "/TSR_PE.sock", big, true);
        ::_exit(0);
    }
    EXPECT_FALSE(first.serviceOne(5000).has_value());
    WaitExit(child);
    // The sending side refuses to build one too.
    SingleInstance second(dir.path());
    ASSERT_EQ(second.acquire(), SingleInstance::Role::Secondary);
    EXPECT_FALSE(second.activatePrimary({std::string(SingleInstance::kMaxRequestBytes, 'b')}, 200));
}

TEST(SingleInstance, UnusableDirectoryFails) {
    TempDir dir;
    ASSERT_TRUE(WriteFileAtomic(dir.path() + "/file", "x"));
    SingleInstance blocked(dir.path() + "/file/sub");  // a file stands where a directory must be
    EXPECT_EQ(blocked.acquire(), SingleInstance::Role::Failed);
    EXPECT_FALSE(blocked.error().empty());
    SingleInstance tooLong("/tmp/" + std::string(120, 'd'));
    EXPECT_EQ(tooLong.acquire(), SingleInstance::Role::Failed);
}

}  // namespace
}  // namespace tessaro
