// The quote client's socket for programs without Qt (the command line, tests):
// one non-blocking TCP socket driven by poll(2), feeding a QuoteSession with its
// events and a tick every 20 ms of the monotonic clock.
#pragma once

#include <cstdint>
#include <string>

#include "client/quote_session.h"

namespace tessaro {

class PosixTransport : public ClientTransport {
public:
    PosixTransport() = default;
    ~PosixTransport() override;
    PosixTransport(const PosixTransport&) = delete;
    PosixTransport& operator=(const PosixTransport&) = delete;

    void Attach(QuoteSession* session) { session_ = session; }

    void Connect(const std::string& host, uint16_t port) override;
    void Send(ByteSpan bytes) override;
    void Close() override;

    // Waits at most timeoutMs for socket events, hands them to the session, and
    // ticks it when 20 ms have passed since the last tick.
    void Poll(int timeoutMs = 20);
    bool open() const { return fd_ >= 0; }

    static uint64_t NowMs();

private:
    void Flush();

    QuoteSession* session_ = nullptr;
    int fd_ = -1;
    bool connecting_ = false;
    bool failPending_ = false;  // a connect that failed at once, reported by Poll
    unsigned generation_ = 0;   // changes with every Connect and Close
    Bytes out_;
    size_t outSent_ = 0;
    uint64_t lastTick_ = 0;
};

}  // namespace tessaro
