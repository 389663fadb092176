// Single instance: the first start owns a lock file and listens on a local
// socket; a later start finds the lock taken, sends "activate" and its
// arguments to the first, and ends. The window layer polls listenFd() (for
// example with a socket notifier) and calls serviceOne() to bring itself to
// the front when a request arrives.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tessaro {

class SingleInstance {
public:
    enum class Role {
        Primary,    // this process is the one instance; it listens for activations
        Secondary,  // another instance runs; call activatePrimary() and exit
        Failed,     // the lock file or socket could not be set up
    };

    // dir holds "<name>.lock" and "<name>.sock" (created when missing).
    explicit SingleInstance(std::string dir, std::string name = "TSR_PE");
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    Role acquire();
    Role role() const { return role_; }
    const std::string& error() const { return error_; }

    // Secondary: asks the primary to come to the front, passing args. Waits up
    // to timeoutMs for its acknowledgement; false when none came.
    bool activatePrimary(const std::vector<std::string>& args, int timeoutMs = 3000);

    // Primary: the listening socket, -1 otherwise.
    int listenFd() const { return listenFd_; }
    // Primary: waits up to timeoutMs (0 = only what is pending) for one
    // activation request and returns its arguments; nullopt when none came or
    // the request was malformed (it is refused, never trusted).
    std::optional<std::vector<std::string>> serviceOne(int timeoutMs);

    // Largest request accepted, in bytes.
    static constexpr size_t kMaxRequestBytes = 64 * 1024;

private:
    std::string dir_, name_, lockPath_, socketPath_, error_;
    int lockFd_ = -1;
    int listenFd_ = -1;
    Role role_ = Role::Failed;
};

}  // namespace tessaro
