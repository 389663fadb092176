// The catalogue of message kinds: which side sends each code and which class
// reads it. Replies are told apart by code alone.
#include <functional>

#include "net/login_messages.h"
#include "net/message.h"
#include "net/realtime_messages.h"
#include "net/startup_messages.h"

namespace tessaro {

namespace {

struct KindEntry {
    MessageKind kind;
    std::function<std::unique_ptr<Message>()> make;
};

template <class T>
KindEntry Kind(uint16_t code, Sender sender, std::string_view name) {
    return KindEntry{MessageKind{code, sender, name}, [] { return std::make_unique<T>(); }};
}

const std::vector<KindEntry>& Entries() {
    static const std::vector<KindEntry> entries = {
        // From the client.
        Kind<Login>(kCodeLogin, Sender::Client, "Login"),
        Kind<KeepAlive>(kCodeKeepAlive, Sender::Client, "KeepAlive"),
        Kind<ServerListRequest>(kCodeServerList, Sender::Client, "ServerListRequest"),
        Kind<CodeTableRequest>(kCodeCodeTable, Sender::Client, "CodeTableRequest"),
        Kind<BlockListRequest>(kCodeBlockList, Sender::Client, "BlockListRequest"),
        Kind<BlockFileRequest>(kCodeBlockFile, Sender::Client, "BlockFileRequest"),
        Kind<BaseFileRequest>(kCodeBaseFile, Sender::Client, "BaseFileRequest"),
        Kind<QuoteSubscribe>(kCodeQuoteSubscribe, Sender::Client, "QuoteSubscribe"),
        Kind<TicksRequest>(kCodeTicks, Sender::Client, "TicksRequest"),
        Kind<QuoteRefreshRequest>(kCodeQuoteRefresh, Sender::Client, "QuoteRefreshRequest"),
        Kind<DayMinutesRequest>(kCodeDayMinutes, Sender::Client, "DayMinutesRequest"),
        Kind<BarTimesRequest>(kCodeBarTimes, Sender::Client, "BarTimesRequest"),
        Kind<MinutesRequest>(kCodeMinutes, Sender::Client, "MinutesRequest"),
        Kind<DayDetailRequest>(kCodeDayDetail, Sender::Client, "DayDetailRequest"),
        Kind<FlowSubscribe>(kCodeFlowSubscribe, Sender::Client, "FlowSubscribe"),
        Kind<BlockRankRequest>(kCodeBlockRankRequest, Sender::Client, "BlockRankRequest"),
        Kind<InfoIndexRequest>(kCodeInfoIndexRequest, Sender::Client, "InfoIndexRequest"),
        Kind<RankPageRequest>(kCodeRankPageRequest, Sender::Client, "RankPageRequest"),
        Kind<BarsRequest>(kCodeBars, Sender::Client, "BarsRequest"),
        Kind<LoadRequest>(kCodeLoad, Sender::Client, "LoadRequest"),
        Kind<FlowRequest>(kCodeFlow, Sender::Client, "FlowRequest"),
        // From the server.
        Kind<LoginReply>(kCodeLogin, Sender::Server, "LoginReply"),
        Kind<ServerClose>(kCodeServerClose, Sender::Server, "ServerClose"),
        Kind<ServerNotice>(kCodeServerNotice, Sender::Server, "ServerNotice"),
        Kind<KeepAlive>(kCodeKeepAlive, Sender::Server, "KeepAlive"),
        Kind<ServerListReply>(kCodeServerList, Sender::Server, "ServerListReply"),
        Kind<CodeTableReply>(kCodeCodeTable, Sender::Server, "CodeTableReply"),
        Kind<BlockListReply>(kCodeBlockList, Sender::Server, "BlockListReply"),
        Kind<BlockFileReply>(kCodeBlockFile, Sender::Server, "BlockFileReply"),
        Kind<BaseFileReply>(kCodeBaseFile, Sender::Server, "BaseFileReply"),
        Kind<ServerReinit>(kCodeServerReinit, Sender::Server, "ServerReinit"),
        Kind<QuoteReply>(kCodeQuoteReply, Sender::Server, "QuoteReply"),
        Kind<TicksReply>(kCodeTicks, Sender::Server, "TicksReply"),
        Kind<QuoteRefreshReply>(kCodeQuoteRefresh, Sender::Server, "QuoteRefreshReply"),
        Kind<DayMinutesReply>(kCodeDayMinutes, Sender::Server, "DayMinutesReply"),
        Kind<BarTimesReply>(kCodeBarTimes, Sender::Server, "BarTimesReply"),
        Kind<MinutesReply>(kCodeMinutes, Sender::Server, "MinutesReply"),
        Kind<DayDetailReply>(kCodeDayDetail, Sender::Server, "DayDetailReply"),
        Kind<MarketCountsPush>(kCodeMarketCounts, Sender::Server, "MarketCountsPush"),
        Kind<BlockRankText>(kCodeBlockRankRequest, Sender::Server, "BlockRankText"),
        Kind<BlockRankReply>(kCodeBlockRankReply, Sender::Server, "BlockRankReply"),
        Kind<InfoIndexReply>(kCodeInfoIndexReply, Sender::Server, "InfoIndexReply"),
        Kind<RankPageReply>(kCodeRankPageReply, Sender::Server, "RankPageReply"),
        Kind<BarsReply>(kCodeBars, Sender::Server, "BarsReply"),
        Kind<LoadReply>(kCodeLoad, Sender::Server, "LoadReply"),
        Kind<FlowPush>(kCodeFlowPush, Sender::Server, "FlowPush"),
        Kind<FlowReply>(kCodeFlow, Sender::Server, "FlowReply"),
    };
    return entries;
}

}  // namespace

const std::vector<MessageKind>& MessageCatalogue() {
    static const std::vector<MessageKind> kinds = [] {
        std::vector<MessageKind> out;
        for (const KindEntry& e : Entries()) out.push_back(e.kind);
        return out;
    }();
    return kinds;
}

std::unique_ptr<Message> CreateMessage(Sender sender, uint16_t code) {
    for (const KindEntry& e : Entries())
        if (e.kind.sender == sender && e.kind.code == code) return e.make();
    return nullptr;
}

}  // namespace tessaro
