#include "app/single_instance.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "platform/files.h"

namespace tessaro {

// Request: "activate\0" followed by each argument and a NUL; the sender then
// shuts down its writing side. Reply: "ok\n".
namespace {

constexpr std::string_view kActivate("activate\0", 9);
constexpr std::string_view kAck = "ok\n";

using Clock = std::chrono::steady_clock;

int RemainingMs(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left < 0 ? 0 : static_cast<int>(left);
}

bool WaitFor(int fd, short events, Clock::time_point deadline) {
    for (;;) {
        pollfd p{fd, events, 0};
        int r = ::poll(&p, 1, RemainingMs(deadline));
        if (r > 0) return true;
        if (r == 0) return false;
        if (errno != EINTR) return false;
    }
}

bool SendAll(int fd, const char* p, size_t n, Clock::time_point deadline) {
    while (n > 0) {
        ssize_t w = ::send(fd, p, n, MSG_NOSIGNAL);
        if (w < 0) {
            if (errno == EINTR) continue;
            if ((errno == EAGAIN || errno == EWOULDBLOCK) && WaitFor(fd, POLLOUT, deadline)) continue;
            return false;
        }
        p += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

// Reads until end of stream, the deadline, or more than `limit` bytes (false).
bool ReadAll(int fd, std::string& out, size_t limit, Clock::time_point deadline) {
    char buf[4096];
    for (;;) {
        if (!WaitFor(fd, POLLIN, deadline)) return false;
        ssize_t r = ::recv(fd, buf, sizeof buf, 0);
        if (r < 0) {
            if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
            return false;
        }
        if (r == 0) return true;
        if (out.size() + static_cast<size_t>(r) > limit) return false;
        out.append(buf, static_cast<size_t>(r));
    }
}

bool FillAddress(const std::string& path, sockaddr_un& addr) {
    std::memset(&addr, 0, sizeof addr);
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path) return false;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    return true;
}

}  // namespace

SingleInstance::SingleInstance(std::string dir, std::string name)
    : dir_(WithTrailingSlash(std::move(dir))), name_(std::move(name)) {
    lockPath_ = dir_ + name_ + ".lock";
    socketPath_ = dir_ + name_ + ".sock";
}

SingleInstance::~SingleInstance() {
    if (listenFd_ >= 0) {
        ::close(listenFd_);
        // Only the lock holder removes the socket, and before giving up the lock.
        ::unlink(socketPath_.c_str());
    }
    if (lockFd_ >= 0) ::close(lockFd_);
}

SingleInstance::Role SingleInstance::acquire() {
    if (role_ == Role::Primary) return role_;
    sockaddr_un addr;
    if (!FillAddress(socketPath_, addr)) {
        error_ = "socket path too long: " + socketPath_;
        return role_ = Role::Failed;
    }
    if (!CreateDirectories(dir_)) {
        error_ = "cannot create " + dir_;
        return role_ = Role::Failed;
    }
    if (lockFd_ < 0) lockFd_ = ::open(lockPath_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lockFd_ < 0) {
        error_ = "cannot open " + lockPath_ + ": " + std::strerror(errno);
        return role_ = Role::Failed;
    }
    if (::flock(lockFd_, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK) return role_ = Role::Secondary;
        error_ = "cannot lock " + lockPath_ + ": " + std::strerror(errno);
        return role_ = Role::Failed;
    }
    // The lock is ours: a socket file left by a crashed instance is stale.
    ::unlink(socketPath_.c_str());
    listenFd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (listenFd_ < 0 || ::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listenFd_, 8) != 0) {
        error_ = "cannot listen on " + socketPath_ + ": " + std::strerror(errno);
        if (listenFd_ >= 0) ::close(listenFd_);
        listenFd_ = -1;
        ::flock(lockFd_, LOCK_UN);
        return role_ = Role::Failed;
    }
    return role_ = Role::Primary;
}

bool SingleInstance::activatePrimary(const std::vector<std::string>& args, int timeoutMs) {
    sockaddr_un addr;
    if (!FillAddress(socketPath_, addr)) return false;
    std::string request(kActivate);
    for (const std::string& a : args) {
        request.append(a.c_str());  // an argument cannot hold a NUL
        request.push_back('\0');
    }
    if (request.size() > kMaxRequestBytes) return false;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    // The primary may hold the lock but not be listening yet: retry until the deadline.
    for (;;) {
        int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) return false;
        if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
            std::string reply;
            bool ok = SendAll(fd, request.data(), request.size(), deadline) && ::shutdown(fd, SHUT_WR) == 0 &&
                      ReadAll(fd, reply, 16, deadline) && reply == kAck;
            ::close(fd);
            return ok;
        }
        ::close(fd);
        if (RemainingMs(deadline) == 0) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

std::optional<std::vector<std::string>> SingleInstance::serviceOne(int timeoutMs) {
    if (listenFd_ < 0) return std::nullopt;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    if (!WaitFor(listenFd_, POLLIN, deadline)) return std::nullopt;
    int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) return std::nullopt;
    // A client that connects and says nothing must not stall the window: it
    // gets one second whatever timeoutMs is.
    const auto readDeadline = Clock::now() + std::chrono::seconds(1);
    std::string request;
    std::optional<std::vector<std::string>> args;
    if (ReadAll(fd, request, kMaxRequestBytes, readDeadline) && request.size() >= kActivate.size() &&
        request.compare(0, kActivate.size(), kActivate) == 0 && request.back() == '\0') {
        args.emplace();
        size_t pos = kActivate.size();
        while (pos < request.size()) {
            size_t nul = request.find('\0', pos);
            args->push_back(request.substr(pos, nul - pos));
            pos = nul + 1;
        }
        SendAll(fd, kAck.data(), kAck.size(), readDeadline);
    }
    ::close(fd);
    return args;
}

}  // namespace tessaro
