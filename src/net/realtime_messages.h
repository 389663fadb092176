// Real-time quote traffic: subscriptions and quotes, server-sorted pages, the
// paged refresh, today's minutes and ticks, history bars and capital-flow figures.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "net/message.h"
#include "net/wire_records.h"

namespace tessaro {

inline constexpr size_t kMaxSubscribeTagBytes = 10240;
inline constexpr size_t kMaxSubscribeHandles = 5000;

// 0xB001 from the client: replaces the window's subscription under the tag;
// an empty list ends it. A longer tag or list is refused both ways.
class QuoteSubscribe : public Message {
public:
    QuoteSubscribe() : Message(kCodeQuoteSubscribe) {}
    std::string tag;  // "MAINFRAME", "BVIEW", "GVIEW"
    std::vector<SecurityHandle> handles;

protected:
    void Fields(WireCursor& c) override;
    bool WithinLimits() const override;
};

// 0xB002 from the server.
class QuoteReply : public Message {
public:
    QuoteReply() : Message(kCodeQuoteReply) {}
    std::vector<QuoteRecord> quotes;

protected:
    void Fields(WireCursor& c) override;
};

// 0xB004 from the client (the chart always sends 0 and 1 after the handle).
class TicksRequest : public Message {
public:
    TicksRequest() : Message(kCodeTicks) {}
    SecurityHandle handle = 0;
    uint32_t value1 = 0;
    uint32_t value2 = 1;

protected:
    void Fields(WireCursor& c) override;
};

// 0xB004 from the server.
class TicksReply : public Message {
public:
    TicksReply() : Message(kCodeTicks) {}
    SecurityHandle handle = 0;
    std::vector<WireTick> ticks;

protected:
    void Fields(WireCursor& c) override;
};

// 0xB00B from the client: one page of every quote of today.
class QuoteRefreshRequest : public Message {
public:
    QuoteRefreshRequest() : Message(kCodeQuoteRefresh) {}
    uint32_t first = 0;
    uint32_t count = 100;

protected:
    void Fields(WireCursor& c) override;
};

// 0xB00B from the server.
class QuoteRefreshReply : public Message {
public:
    QuoteRefreshReply() : Message(kCodeQuoteRefresh) {}
    uint32_t first = 0;
    uint32_t total = 0;  // securities in all
    std::vector<QuoteRecord> quotes;

protected:
    void Fields(WireCursor& c) override;
};

// 0xB00E from the client: minutes newer than the store's newest.
class MinutesRequest : public Message {
public:
    MinutesRequest() : Message(kCodeMinutes) {}
    SecurityHandle handle = 0;
    float newestVolume = 0;  // cumulative volume of the newest stored minute, 0 when none

protected:
    void Fields(WireCursor& c) override;
};

// 0xB00E from the server.
class MinutesReply : public Message {
public:
    MinutesReply() : Message(kCodeMinutes) {}
    uint8_t value1 = 0;
    SecurityHandle handle = 0;
    uint8_t value2 = 0;
    std::vector<MinuteRecord> minutes;

protected:
    void Fields(WireCursor& c) override;
};

// Kinds of ranked page.
enum RankPageKind : uint32_t {
    kRankPageEnd = 0,
    kRankPageBlock = '=',          // a system block's page sorted by the server
    kRankPageComprehensive = 'Q',  // the comprehensive ranking of a market group
};

// 0x5005 from the client.
class RankPageRequest : public Message {
public:
    RankPageRequest() : Message(kCodeRankPageRequest) {}
    uint32_t kind = 0;
    std::string pageName;
    int32_t sortField = -1;  // -1: none
    uint32_t sortDirection = 0;
    uint32_t firstRow = 0;
    uint32_t rowCount = 0;

protected:
    void Fields(WireCursor& c) override;
};

// 0x5006 from the server: '=' carries quotes in row order from the first row,
// 'Q' nine tables of ranking entries (see RankTablePosition); any other kind
// carries nothing more.
class RankPageReply : public Message {
public:
    RankPageReply() : Message(kCodeRankPageReply) {}
    uint32_t kind = 0;
    std::string pageName;
    uint32_t firstRow = 0;
    std::vector<QuoteRecord> quotes;  // kind '='
    std::vector<RankEntry> entries;   // kind 'Q'

    // Entries per table (0 when fewer than nine were sent).
    size_t rowsPerTable() const { return entries.size() / kRankTables; }

protected:
    void Fields(WireCursor& c) override;
};

// 0x500A from the client, 31 bytes: bars of one security and period, by a
// time range (variant 0), a position range (1) or an anchor and count (2).
class BarsRequest : public Message {
public:
    BarsRequest() : Message(kCodeBars) {}
    SecurityHandle handle = 0;
    uint16_t period = 0;  // 8 day, 4 five-minute, 3 one-minute
    uint8_t variant = 0;
    uint32_t from = 0, to = 0;  // variant 0, wire times
    uint32_t anchor = 0;        // variant 2, wire time
    uint16_t first = 0;         // variant 1
    uint16_t count = 0;         // variants 1 and 2
    uint8_t optionA = 0, optionB = 0;
    std::array<uint8_t, 8> range{};  // any other variant: the range bytes as they are

protected:
    void Fields(WireCursor& c) override;
};

// 0x500A from the server.
class BarsReply : public Message {
public:
    BarsReply() : Message(kCodeBars) {}
    SecurityHandle handle = 0;
    uint16_t period = 0;
    std::array<uint8_t, 4> extra{};
    std::vector<BarRecord> bars;

protected:
    void Fields(WireCursor& c) override;
};

// 0xB014 from the client: index securities whose flow figures are pushed; empty ends it.
class FlowSubscribe : public Message {
public:
    FlowSubscribe() : Message(kCodeFlowSubscribe) {}
    std::vector<SecurityHandle> handles;

protected:
    void Fields(WireCursor& c) override;
};

// 0x5011 from the server.
class FlowPush : public Message {
public:
    FlowPush() : Message(kCodeFlowPush) {}
    std::vector<FlowRecord> records;

protected:
    void Fields(WireCursor& c) override;
};

// 0x5016 from the client: figures after the newest one the store holds.
class FlowRequest : public Message {
public:
    FlowRequest() : Message(kCodeFlow) {}
    SecurityHandle handle = 0;
    uint32_t newestIndex = 0;

protected:
    void Fields(WireCursor& c) override;
};

// 0x5016 from the server.
class FlowReply : public Message {
public:
    FlowReply() : Message(kCodeFlow) {}
    SecurityHandle handle = 0;
    uint8_t value = 0;
    std::vector<FlowFigure> figures;

protected:
    void Fields(WireCursor& c) override;
};

}  // namespace tessaro
