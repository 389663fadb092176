// A window's own requests: the per-window queue that keeps one data request in
// flight, the quote subscriptions a window holds (renewed on every ready
// broadcast), and the serial a window waits for.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "net/security_handle.h"
#include "platform/bytes.h"

namespace tessaro {

class QuoteSession;

class RequestQueue {
public:
    void PushFront(Bytes packet) { packets_.push_front(std::move(packet)); }
    void PushBack(Bytes packet) { packets_.push_back(std::move(packet)); }
    void Clear() { packets_.clear(); }
    size_t Count() const { return packets_.size(); }
    // Takes the first packet and sends it; false when the queue is empty or the
    // session is not connected (the packet is dropped then: a reconnection renews).
    bool Next(QuoteSession& session);

private:
    std::deque<Bytes> packets_;
};

// The subscriptions one window holds: quote lists by tag ("MAINFRAME", "BVIEW",
// "GVIEW") and the capital-flow list. Setting a list sends it; an empty list
// ends it. Renew sends every list held again (after a reconnection).
class Subscriptions {
public:
    explicit Subscriptions(uint32_t window) : window_(window) {}

    bool SetQuotes(QuoteSession& session, const std::string& tag, std::vector<SecurityHandle> handles);
    bool SetFlow(QuoteSession& session, std::vector<SecurityHandle> handles);
    // Ends every subscription (the window stops being active).
    void EndAll(QuoteSession& session);
    void Renew(QuoteSession& session);

    const std::vector<SecurityHandle>* quotes(const std::string& tag) const;
    const std::vector<SecurityHandle>& flow() const { return flow_; }

private:
    bool SendQuotes(QuoteSession& session, const std::string& tag, const std::vector<SecurityHandle>& handles);
    bool SendFlow(QuoteSession& session, const std::vector<SecurityHandle>& handles);

    uint32_t window_;
    std::map<std::string, std::vector<SecurityHandle>> quotes_;
    std::vector<SecurityHandle> flow_;
};

// The serial of the one request a window waits for: replies with another serial
// are stale and dropped.
class SerialGate {
public:
    void Expect(uint32_t serial) { serial_ = serial; }
    void Forget() { serial_ = 0; }
    bool Accept(uint32_t serial) const { return serial_ != 0 && serial == serial_; }

private:
    uint32_t serial_ = 0;
};

}  // namespace tessaro
