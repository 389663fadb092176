// The data requests of a K-line chart window: its "GVIEW" quote subscription and the history,
// minute and tick requests for the security and period it shows, sent one at a time through
// the window's queue, each reply stored (quotes in the store, history in the history files,
// minutes and ticks in the store) before the window is told that data arrived.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "app/paths.h"
#include "client/request_queue.h"
#include "market/records.h"
#include "net/message.h"
#include "platform/bytes.h"
#include "platform/period.h"

namespace tessaro {

class MarketStore;
class QuoteSession;

class ChartRequests {
public:
    using ArrivedFn = std::function<void()>;

    // Registers `window` with the session; `arrived` runs after each stored reply.
    ChartRequests(QuoteSession& session, MarketStore& store, AppPaths paths, uint32_t window, ArrivedFn arrived);
    ~ChartRequests();
    ChartRequests(const ChartRequests&) = delete;
    ChartRequests& operator=(const ChartRequests&) = delete;

    // Subscribes the security's quotes under "GVIEW" and queues what its period needs: today's
    // minutes (one-minute and time-sharing pictures; for an index in time-sharing also its
    // minute figures of breadth and turnover), five-minute history (5- to 60-minute pictures), day history
    // (day to multi-day pictures; `records` base records back from the newest) or today's ticks
    // (tick pictures); sends the first. False when nothing could be sent (no connection).
    // `morePictures`: a further picture of the same window in the same round; "GVIEW" keeps the
    // securities of the round's earlier requests, so every picture of a multi-picture view
    // stays live.
    bool Request(const CodeEntry& security, Period period, int records, bool morePictures = false);
    // The window stops being the active view: "GVIEW" ends, the queue is dropped.
    void Stop();

    size_t queued() const { return queue_.Count(); }

private:
    void OnPacket(const PacketHeader& header, ByteSpan packet);
    void Queue(Message& message);

    QuoteSession& session_;
    MarketStore& store_;
    AppPaths paths_;
    uint32_t window_;
    ArrivedFn arrived_;
    RequestQueue queue_;
    Subscriptions subscriptions_;
    std::vector<SecurityHandle> shown_;  // the round's securities, in "GVIEW"
};

}  // namespace tessaro
