#include "client/posix_transport.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tessaro {

uint64_t PosixTransport::NowMs() {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return uint64_t(ts.tv_sec) * 1000 + uint64_t(ts.tv_nsec) / 1000000;
}

PosixTransport::~PosixTransport() {
    if (fd_ >= 0) ::close(fd_);
}

void PosixTransport::Connect(const std::string& host, uint16_t port) {
    Close();
    ++generation_;
    failPending_ = true;  // unless the connect below starts
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* res = nullptr;
    if (::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &res) != 0 || !res) return;
    int fd = ::socket(res->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        ::freeaddrinfo(res);
        return;
    }
    int one = 1, size = 65536;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
    int rc = ::connect(fd, res->ai_addr, res->ai_addrlen);
    ::freeaddrinfo(res);
    if (rc != 0 && errno != EINPROGRESS) {
        ::close(fd);
        return;
    }
    fd_ = fd;
    connecting_ = true;
    failPending_ = false;
}

void PosixTransport::Send(ByteSpan bytes) {
    if (fd_ < 0) return;
    out_.insert(out_.end(), bytes.begin(), bytes.end());
    if (!connecting_) Flush();
}

void PosixTransport::Flush() {
    while (fd_ >= 0 && outSent_ < out_.size()) {
        size_t n = std::min<size_t>(out_.size() - outSent_, 8192);
        ssize_t w = ::send(fd_, out_.data() + outSent_, n, MSG_NOSIGNAL);
        if (w < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return;
            // The connection itself is left to the close event.
            out_.clear();
            outSent_ = 0;
            return;
        }
        outSent_ += size_t(w);
    }
    if (outSent_ == out_.size()) {
        out_.clear();
        outSent_ = 0;
    }
}

void PosixTransport::Close() {
    if (fd_ >= 0) {
        ::shutdown(fd_, SHUT_RDWR);
        ::close(fd_);
    }
    fd_ = -1;
    connecting_ = false;
    failPending_ = false;
    out_.clear();
    outSent_ = 0;
    ++generation_;
}

void PosixTransport::Poll(int timeoutMs) {
    if (!session_) return;
    unsigned gen = generation_;
    if (failPending_) {
        failPending_ = false;
        session_->OnConnectFailed(NowMs());
    } else if (fd_ >= 0) {
        pollfd p{fd_, short(POLLIN | (connecting_ || !out_.empty() ? POLLOUT : 0)), 0};
        int n = ::poll(&p, 1, timeoutMs);
        if (n > 0 && connecting_ && (p.revents & (POLLOUT | POLLERR | POLLHUP))) {
            int err = 0;
            socklen_t len = sizeof err;
            ::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &err, &len);
            connecting_ = false;
            if (err != 0) {
                Close();
                session_->OnConnectFailed(NowMs());
            } else {
                session_->OnConnected(NowMs());
                if (gen == generation_) Flush();
            }
        } else if (n > 0) {
            if ((p.revents & POLLOUT) && !out_.empty()) Flush();
            if (gen == generation_ && (p.revents & (POLLIN | POLLHUP | POLLERR))) {
                uint8_t buf[65536];
                ssize_t r = ::recv(fd_, buf, sizeof buf, 0);
                if (r > 0) {
                    session_->OnBytes(ByteSpan(buf, size_t(r)), NowMs());
                } else if (r == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
                    Close();
                    session_->OnClosed(NowMs());
                }
            }
        }
    } else {
        ::poll(nullptr, 0, timeoutMs);
    }
    uint64_t now = NowMs();
    if (now - lastTick_ >= 20) {
        lastTick_ = now;
        session_->OnTick(now);
    }
}

}  // namespace tessaro
