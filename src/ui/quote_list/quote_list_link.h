// The quote list's traffic with the quote server, without Qt: it registers the view's
// window with the quote session, sends the ranked page ('=' or 'Q') or the "BVIEW"
// subscription the model asks for (ending the other kind first), and applies the
// replies: quotes are stored through the session and copied into the model's rows,
// ranked pages move the rows into the server's order, 'Q' tables fill the ranking.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "client/quote_session.h"
#include "tools/quote_list/quote_details.h"
#include "tools/quote_list/quote_list.h"

namespace tessaro {

inline constexpr std::string_view kBoardSubscriptionTag = "BVIEW";

class QuoteListLink {
public:
    // `window` must be unique among the session's windows.
    QuoteListLink(QuoteSession& session, MarketStore& store, uint32_t window);
    ~QuoteListLink();
    QuoteListLink(const QuoteListLink&) = delete;
    QuoteListLink& operator=(const QuoteListLink&) = delete;

    // Where replies go (either may be null).
    void SetModel(QuoteListModel* model) { model_ = model; }
    void SetRanking(ComprehensiveRanking* ranking) { ranking_ = ranking; }
    // Called after a reply changed the model or the ranking.
    void SetChanged(std::function<void()> fn) { changed_ = std::move(fn); }
    // Called with the security of every stored quote (the detail lists follow them).
    void SetQuoteObserver(std::function<void(const QuoteUpdate&)> fn) { quoteObserver_ = std::move(fn); }

    // Brings the server to `wanted` (nothing is sent when it holds that already).
    void Request(const QuoteListRequest& wanted);
    // The comprehensive ranking of a block, `rows` entries per table.
    void RequestRanking(const std::string& blockGbk, uint32_t rows);
    // Ends whatever is held (the view stops being active, or closes).
    void EndAll();
    // Forgets what is held without sending (after a reconnection: the server holds nothing).
    void Forget() { held_ = {}; }
    const QuoteListRequest& held() const { return held_; }
    uint32_t window() const { return window_; }

    // The packet handler registered with the session (exposed for the tests).
    void OnPacket(const PacketHeader& header, ByteSpan packet);

private:
    void Send(const QuoteListStep& step);
    QuoteUpdate Store(const QuoteRecord& record);

    QuoteSession& session_;
    MarketStore& store_;
    uint32_t window_;
    QuoteListModel* model_ = nullptr;
    ComprehensiveRanking* ranking_ = nullptr;
    std::function<void()> changed_;
    std::function<void(const QuoteUpdate&)> quoteObserver_;
    QuoteListRequest held_;
    uint32_t rankSerial_ = 0;  // the ranked page request the replies must answer
};

}  // namespace tessaro
