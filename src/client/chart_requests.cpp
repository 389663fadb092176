#include "client/chart_requests.h"

#include <algorithm>

#include "client/quote_session.h"
#include "client/reply_handlers.h"
#include "market/market_store.h"
#include "net/realtime_messages.h"
#include "net/security_handle.h"

namespace tessaro {

ChartRequests::ChartRequests(QuoteSession& session, MarketStore& store, AppPaths paths, uint32_t window,
                             ArrivedFn arrived)
    : session_(session),
      store_(store),
      paths_(std::move(paths)),
      window_(window),
      arrived_(std::move(arrived)),
      subscriptions_(window) {
    session_.RegisterWindow(window_, [this](const PacketHeader& h, ByteSpan p) { OnPacket(h, p); });
}

ChartRequests::~ChartRequests() { session_.UnregisterWindow(window_); }

void ChartRequests::Queue(Message& message) {
    if (std::optional<Bytes> packet = session_.Build(message, window_)) queue_.PushBack(std::move(*packet));
}

bool ChartRequests::Request(const CodeEntry& security, Period period, int records, bool morePictures) {
    queue_.Clear();
    if (!session_.connected()) return false;
    const SecurityHandle handle = EncodeSecurityHandle(security.id);
    if (!morePictures) shown_.clear();
    if (std::find(shown_.begin(), shown_.end(), handle) == shown_.end()) shown_.push_back(handle);
    subscriptions_.SetQuotes(session_, "GVIEW", shown_);
    if (period == kPeriodMin1 || period == kPeriodTime) {
        MinutesRequest m;
        m.handle = handle;
        Series minutes;
        if (store_.GetMinutes(security.id, minutes))
            for (const KLineRecord& b : minutes.bars) m.newestVolume += b.volume;
        Queue(m);
        if (period == kPeriodTime && security.securityClass == kClassIndex) {
            // An index's breadth and turnover by minute, from the newest slot held on (it may
            // still be changing).
            FlowRequest f;
            f.handle = handle;
            f.newestIndex = static_cast<uint32_t>(store_.LastMinuteExtraIndex(static_cast<int32_t>(handle)));
            Queue(f);
        }
    } else if (IsDayBasedPeriod(period) || (period >= kPeriodMin5 && period <= kPeriodMin60)) {
        BarsRequest b;
        b.handle = handle;
        b.period = static_cast<uint16_t>(IsDayBasedPeriod(period) ? PeriodNumber(kPeriodDay) : PeriodNumber(kPeriodMin5));
        b.variant = 1;
        b.first = 0;
        b.count = static_cast<uint16_t>(std::clamp(records, 1, 65535));
        b.optionA = 0;
        b.optionB = 1;
        Queue(b);
    } else if (period == kPeriodTick) {
        TicksRequest t;
        t.handle = handle;
        Queue(t);
    }
    return queue_.Next(session_);
}

void ChartRequests::Stop() {
    queue_.Clear();
    shown_.clear();
    subscriptions_.EndAll(session_);
}

void ChartRequests::OnPacket(const PacketHeader& header, ByteSpan packet) {
    // The next request goes out first, then the reply is applied.
    queue_.Next(session_);
    bool stored = false;
    switch (header.code) {
        case kCodeQuoteReply: stored = ApplyQuoteReply(session_, &store_, packet); break;
        case kCodeMinutes: stored = ApplyMinutesReply(store_, packet); break;
        case kCodeTicks: stored = ApplyTicksReply(store_, packet); break;
        case kCodeBars: stored = ApplyBarsReply(paths_, packet); break;
        case kCodeFlow: stored = ApplyFlowReply(store_, packet); break;
        default: break;  // not asked for
    }
    if (stored && arrived_) arrived_();
}

}  // namespace tessaro
