// What the windows' replies change: today's minutes and ticks into the store,
// history bars into the history files, capital-flow figures into the minute
// extras. Each reads a normalized packet with its message class; a reply that
// cannot be read changes nothing (false).
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "app/paths.h"
#include "client/request_queue.h"
#include "net/message.h"
#include "platform/bytes.h"

namespace tessaro {

class MarketStore;
class QuoteSession;

// MinutesReply: each minute a tick (AppendTicks) and a minute slot (UpdateMinutes).
bool ApplyMinutesReply(MarketStore& store, ByteSpan packet);
// TicksReply: times converted, appended with AppendTicks.
bool ApplyTicksReply(MarketStore& store, ByteSpan packet);
// BarsReply: written with WriteHistory for its security and period (day, five-minute, minute).
bool ApplyBarsReply(const AppPaths& paths, ByteSpan packet);
// FlowPush: each record's figure under its handle; FlowReply: the figures of its security.
bool ApplyFlowPush(MarketStore& store, ByteSpan packet);
bool ApplyFlowReply(MarketStore& store, ByteSpan packet);
// QuoteReply: every quote stored through the session (the new-day broadcast included).
bool ApplyQuoteReply(QuoteSession& session, MarketStore* store, ByteSpan packet);

// The paged refresh of every quote of today: asks for pages of 100 and stores
// each quote (without the new-day broadcast), showing "%0.0f%%" after each page.
class QuoteRefresh {
public:
    using ProgressFn = std::function<void(const std::string& text, int percent)>;

    QuoteRefresh(QuoteSession& session, MarketStore* store, uint32_t window, ProgressFn progress);
    ~QuoteRefresh();
    QuoteRefresh(const QuoteRefresh&) = delete;
    QuoteRefresh& operator=(const QuoteRefresh&) = delete;

    // Sends the first page; false (finished at once) when there is no connection.
    bool Start();
    bool finished() const { return finished_; }
    bool succeeded() const { return succeeded_; }
    uint32_t total() const { return total_; }
    size_t stored() const { return stored_; }

private:
    void OnPacket(const PacketHeader& header, ByteSpan packet);
    bool RequestPage(uint32_t first);

    QuoteSession& session_;
    MarketStore* store_;
    uint32_t window_;
    ProgressFn progress_;
    SerialGate gate_;
    uint32_t total_ = 0;
    size_t stored_ = 0;
    bool finished_ = false;
    bool succeeded_ = false;
};

}  // namespace tessaro
