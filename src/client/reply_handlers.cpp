#include "client/reply_handlers.h"

#include <cstdio>
#include <vector>

#include "client/quote_session.h"
#include "market/history.h"
#include "market/market_store.h"
#include "net/realtime_messages.h"
#include "net/security_handle.h"
#include "net/wire_records.h"

namespace tessaro {

bool ApplyMinutesReply(MarketStore& store, ByteSpan packet) {
    MinutesReply reply;
    if (!reply.Read(packet)) return false;
    auto id = DecodeSecurityHandle(reply.handle);
    if (!id) return false;
    std::vector<TickRecord> ticks;
    std::vector<MinuteSlot> slots;
    for (const MinuteRecord& r : reply.minutes) {
        TickRecord tick;
        MinuteSlot slot;
        if (!DecodeMinuteRecord(r, tick, slot)) continue;
        ticks.push_back(tick);
        slots.push_back(slot);
    }
    store.AppendTicks(*id, ticks);
    store.UpdateMinutes(*id, slots);
    return true;
}

bool ApplyTicksReply(MarketStore& store, ByteSpan packet) {
    TicksReply reply;
    if (!reply.Read(packet)) return false;
    auto id = DecodeSecurityHandle(reply.handle);
    if (!id) return false;
    std::vector<TickRecord> ticks;
    for (const WireTick& w : reply.ticks) {
        TickRecord t;
        if (DecodeWireTick(w, t)) ticks.push_back(t);
    }
    store.AppendTicks(*id, ticks);
    return true;
}

bool ApplyBarsReply(const AppPaths& paths, ByteSpan packet) {
    BarsReply reply;
    if (!reply.Read(packet)) return false;
    auto id = DecodeSecurityHandle(reply.handle);
    // Only the periods that have history files: day, five-minute, one-minute.
    if (!id || (reply.period != 8 && reply.period != 4 && reply.period != 3)) return false;
    std::vector<KLineRecord> bars;
    bars.reserve(reply.bars.size());
    for (const BarRecord& b : reply.bars) {
        KLineRecord k;
        if (DecodeBarRecord(b, k)) bars.push_back(k);
    }
    return WriteHistory(paths, *id, PeriodFromNumber(reply.period), bars, true);
}

bool ApplyFlowPush(MarketStore& store, ByteSpan packet) {
    FlowPush push;
    if (!push.Read(packet)) return false;
    for (const FlowRecord& r : push.records) store.SetMinuteExtra(int32_t(r.handle), std::span(&r.figure, 1));
    return true;
}

bool ApplyFlowReply(MarketStore& store, ByteSpan packet) {
    FlowReply reply;
    if (!reply.Read(packet)) return false;
    store.SetMinuteExtra(int32_t(reply.handle), reply.figures);
    return true;
}

bool ApplyQuoteReply(QuoteSession& session, MarketStore* store, ByteSpan packet) {
    QuoteReply reply;
    if (!reply.Read(packet)) return false;
    ClassLookup classOf;
    if (store) classOf = [store](const SecurityId& id) { return store->GetClass(id); };
    for (const QuoteRecord& r : reply.quotes) {
        DecodedQuote q;
        if (DecodeQuoteRecord(r, classOf, q)) session.StoreQuote(q);
    }
    return true;
}

// ---- Quote refresh ----------------------------------------------------------------

QuoteRefresh::QuoteRefresh(QuoteSession& session, MarketStore* store, uint32_t window, ProgressFn progress)
    : session_(session), store_(store), window_(window), progress_(std::move(progress)) {
    session_.RegisterWindow(window_, [this](const PacketHeader& h, ByteSpan p) { OnPacket(h, p); });
}

QuoteRefresh::~QuoteRefresh() { session_.UnregisterWindow(window_); }

bool QuoteRefresh::RequestPage(uint32_t first) {
    QuoteRefreshRequest request;
    request.first = first;
    request.count = 100;
    uint32_t serial = session_.Send(request, window_);
    gate_.Expect(serial);
    return serial != 0;
}

bool QuoteRefresh::Start() {
    finished_ = succeeded_ = false;
    stored_ = 0;
    if (!session_.connected() || !RequestPage(0)) {
        finished_ = true;
        return false;
    }
    return true;
}

void QuoteRefresh::OnPacket(const PacketHeader& header, ByteSpan packet) {
    if (finished_ || header.code != kCodeQuoteRefresh || !gate_.Accept(header.serial)) return;
    QuoteRefreshReply reply;
    if (!reply.Read(packet)) return;
    total_ = reply.total;
    uint64_t reached = uint64_t(reply.first) + reply.quotes.size();
    if (reply.total != 0 && progress_) {
        double percent = double(reached) / double(reply.total) * 100.0;
        char text[32];
        std::snprintf(text, sizeof text, "%0.0f%%", percent);
        progress_(text, int(percent > 100 ? 100 : percent));
    }
    ClassLookup classOf;
    if (store_) classOf = [this](const SecurityId& id) { return store_->GetClass(id); };
    for (const QuoteRecord& r : reply.quotes) {
        DecodedQuote q;
        if (!DecodeQuoteRecord(r, classOf, q)) continue;
        session_.StoreQuote(q, false);
        ++stored_;
    }
    if (reached < reply.total) {
        // A page that brings nothing would ask for the same page for ever.
        if (reply.quotes.empty() || !RequestPage(uint32_t(reached))) finished_ = true;
        return;
    }
    gate_.Forget();
    finished_ = true;
    succeeded_ = true;
}

}  // namespace tessaro
