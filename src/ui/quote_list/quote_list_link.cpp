#include "ui/quote_list/quote_list_link.h"

#include <vector>

#include "market/market_store.h"
#include "net/realtime_messages.h"
#include "net/security_handle.h"
#include "net/wire_records.h"

namespace tessaro {

QuoteListLink::QuoteListLink(QuoteSession& session, MarketStore& store, uint32_t window)
    : session_(session), store_(store), window_(window) {
    session_.RegisterWindow(window_, [this](const PacketHeader& h, ByteSpan p) { OnPacket(h, p); });
}

QuoteListLink::~QuoteListLink() {
    EndAll();
    session_.UnregisterWindow(window_);
}

void QuoteListLink::Send(const QuoteListStep& step) {
    using K = QuoteListStep::Kind;
    switch (step.kind) {
        case K::EndRankPage: {
            RankPageRequest end;
            end.kind = kRankPageEnd;
            end.pageName = step.request.pageGbk;
            session_.Send(end, window_);
            break;
        }
        case K::EndSubscription: {
            QuoteSubscribe end;
            end.tag = std::string(kBoardSubscriptionTag);
            session_.Send(end, window_);
            break;
        }
        case K::RankPage: {
            RankPageRequest r;
            r.kind = kRankPageBlock;
            r.pageName = step.request.pageGbk;
            r.sortField = step.request.sortField;
            r.sortDirection = step.request.direction;
            r.firstRow = step.request.firstRow;
            r.rowCount = step.request.rowCount;
            rankSerial_ = session_.Send(r, window_);
            break;
        }
        case K::Subscribe: {
            QuoteSubscribe s;
            s.tag = std::string(kBoardSubscriptionTag);
            for (const SecurityId& id : step.request.ids) s.handles.push_back(EncodeSecurityHandle(id));
            session_.Send(s, window_);
            break;
        }
    }
}

void QuoteListLink::Request(const QuoteListRequest& wanted) {
    for (const QuoteListStep& step : PlanRequests(held_, wanted)) Send(step);
    held_ = wanted;
}

void QuoteListLink::RequestRanking(const std::string& blockGbk, uint32_t rows) {
    QuoteListRequest wanted;
    wanted.kind = QuoteListRequest::Kind::RankPage;
    wanted.pageGbk = blockGbk;
    wanted.sortField = -2;  // marks the comprehensive ranking among held requests
    wanted.rowCount = rows;
    if (held_ == wanted) return;
    for (const QuoteListStep& step : PlanRequests(held_, QuoteListRequest{}))
        if (step.kind != QuoteListStep::Kind::EndRankPage || !EqualsNoCase(step.request.pageGbk, blockGbk)) Send(step);
    RankPageRequest r;
    r.kind = kRankPageComprehensive;
    r.pageName = blockGbk;
    r.rowCount = rows;
    rankSerial_ = session_.Send(r, window_);
    held_ = wanted;
}

void QuoteListLink::EndAll() {
    if (session_.connected())
        for (const QuoteListStep& step : PlanRequests(held_, QuoteListRequest{})) Send(step);
    held_ = {};
    rankSerial_ = 0;
}

QuoteUpdate QuoteListLink::Store(const QuoteRecord& record) {
    DecodedQuote d;
    QuoteUpdate out;
    if (!DecodeQuoteRecord(record, [this](const SecurityId& id) { return store_.GetClass(id); }, d)) return out;
    session_.StoreQuote(d);
    out.entry = d.entry;
    out.snapshot = d.snapshot;
    if (quoteObserver_) quoteObserver_(out);
    return out;
}

void QuoteListLink::OnPacket(const PacketHeader& header, ByteSpan packet) {
    if (header.code == kCodeQuoteReply) {
        QuoteReply reply;
        if (!reply.Read(packet)) return;
        std::vector<QuoteUpdate> updates;
        updates.reserve(reply.quotes.size());
        for (const QuoteRecord& r : reply.quotes) {
            QuoteUpdate u = Store(r);
            if (!u.entry.id.codeText().empty()) updates.push_back(u);
        }
        if (model_) model_->ApplyQuotes(updates);
        if (changed_) changed_();
        return;
    }
    if (header.code != kCodeRankPageReply) return;
    RankPageReply reply;
    if (!reply.Read(packet)) return;
    if (rankSerial_ == 0 || header.serial != rankSerial_) return;  // a stale page
    if (reply.kind == kRankPageBlock) {
        std::vector<QuoteUpdate> updates;
        updates.reserve(reply.quotes.size());
        for (const QuoteRecord& r : reply.quotes) {
            QuoteUpdate u = Store(r);
            updates.push_back(u);  // an undecodable record keeps its position (no row matches it)
        }
        if (model_ && EqualsNoCase(reply.pageName, model_->pageGbk())) model_->ApplyRankPage(reply.firstRow, updates);
    } else if (reply.kind == kRankPageComprehensive && ranking_) {
        std::vector<RankItem> items;
        items.reserve(reply.entries.size());
        for (const RankEntry& e : reply.entries) {
            RankItem item;
            if (std::optional<SecurityId> id = DecodeSecurityHandle(e.handle); id && e.handle != 0) item.id = *id;
            item.value = e.value;
            item.colour = e.colour;
            items.push_back(item);
        }
        ranking_->Apply(items, [this](const SecurityId& id) { return store_.GetName(id); });
    }
    if (changed_) changed_();
}

}  // namespace tessaro
