// The fixed-size records that travel in record lists, and their conversion to
// and from the store's records.
//
// Received records are never trusted: a handle must name a six-digit code and
// every float of a quote, bar, tick or minute must be finite (NaN and infinity
// are reported as invalid, so the caller drops that record and keeps the rest).
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>

#include "market/market_store.h"
#include "market/records.h"
#include "platform/security_id.h"
#include "net/security_handle.h"

namespace tessaro {

#pragma pack(push, 1)

// 137 bytes: one security's quote (QuoteReply, QuoteRefreshReply, RankPageReply '=').
struct QuoteRecord {
    SecurityHandle handle = 0;
    uint32_t time = 0;  // wire time
    float prevClose = 0, open = 0, high = 0, low = 0, last = 0;
    float volume = 0;  // lots
    float amount = 0;  // yuan
    float bidPrice[5] = {}, bidVolume[5] = {}, askPrice[5] = {}, askVolume[5] = {};
    float tradeVolume = 0;  // 现手
    int8_t tradeDirection = 0;
    float riseSpeedPrice = 0;  // reference of 涨速
    float sellVolume = 0;      // 内盘
    float buyVolume = 0;       // 外盘
    float avgVolume5 = 0;      // 5日均量
};
static_assert(sizeof(QuoteRecord) == 137);

// 18 bytes: one code-table entry.
struct CodeRecord {
    SecurityHandle handle = 0;
    char name[14] = {};  // GBK, NUL-padded; may fill the field without a NUL
};
static_assert(sizeof(CodeRecord) == 18);

// 36 bytes: a server block and the checksum of its member file.
struct BlockStampRecord {
    char name[32] = {};
    uint32_t checksum = 0;
};
static_assert(sizeof(BlockStampRecord) == 36);

// 17 bytes: a tick as it travels (wire time).
struct WireTick {
    uint32_t time = 0;
    float price = 0;
    float volume = 0;  // cumulative lots
    float amount = 0;  // cumulative yuan
    int8_t direction = 0;
};
static_assert(sizeof(WireTick) == 17);

// 16 bytes: one minute of today or of a past day.
struct MinuteRecord {
    uint32_t time = 0;  // wire time
    float price = 0;
    float volume = 0;  // cumulative
    float amount = 0;  // cumulative
};
static_assert(sizeof(MinuteRecord) == 16);

// 32 bytes: one history bar (wire time; the two counts go into the local bar as they are).
struct BarRecord {
    uint32_t time = 0;
    float open = 0, high = 0, low = 0, close = 0, volume = 0, amount = 0;
    uint16_t count1 = 0, count2 = 0;
};
static_assert(sizeof(BarRecord) == 32);

// 13 bytes: one entry of the comprehensive ranking.
struct RankEntry {
    SecurityHandle handle = 0;
    uint32_t extra = 0;
    float value = 0;
    uint8_t colour = 0;  // 0 level, 1 rise, 2 fall
};
static_assert(sizeof(RankEntry) == 13);

// 14 bytes: three counters of a market.
struct MarketCountRecord {
    MarketCode market = 0;
    uint32_t counters[3] = {};
};
static_assert(sizeof(MarketCountRecord) == 14);


#pragma pack(pop)

// 20 bytes: one capital-flow minute figure. It travels exactly as the store
// keeps it (wire time, value, six counts), so replies hand their figures to
// SetMinuteExtra without conversion.
using FlowFigure = MinuteExtra;
static_assert(sizeof(FlowFigure) == 20);

#pragma pack(push, 1)

// 24 bytes: a figure pushed for one security.
struct FlowRecord {
    SecurityHandle handle = 0;
    FlowFigure figure;
};
static_assert(sizeof(FlowRecord) == 24);

// 32 bytes: the day record of a past day's minutes; its first word is the day's time.
struct DayRecord {
    uint8_t bytes[32] = {};
};
static_assert(sizeof(DayRecord) == 32);

// 14 bytes: one detail record of an index's past day, interpreted by its window.
struct DayDetailRecord {
    uint8_t bytes[14] = {};
};
static_assert(sizeof(DayDetailRecord) == 14);

#pragma pack(pop)

// A decoded quote: the store's update input (the entry and the 169-byte
// snapshot) plus the quote's wire time, since a time of 0 must not move the
// store's server time.
struct DecodedQuote {
    CodeEntry entry;
    QuoteSnapshot snapshot;
    uint32_t wireTime = 0;
};

// The stored class of a security (the store's GetClass).
using ClassLookup = std::function<uint16_t(const SecurityId&)>;

// Lots to shares for the last-trade amount: 0 for indexes, 10 for bonds, else 100.
float LotSize(uint16_t securityClass);

// Quote record -> store input. False (the record is invalid) when the handle
// names no six-digit code, a float is not finite or the time lies beyond what a
// StoreTime holds (the same for every decoder below). Without a lookup the class
// is 0.
bool DecodeQuoteRecord(const QuoteRecord& in, const ClassLookup& classOf, DecodedQuote& out);
// The server's side: a snapshot as a quote record.
QuoteRecord EncodeQuoteRecord(SecurityHandle handle, const QuoteSnapshot& snapshot);

// Code record -> code-table entry: market and code from the handle, the name
// cut to 13 bytes at a character boundary, class 0 (the store keeps its own).
bool DecodeCodeRecord(const CodeRecord& in, CodeEntry& out);
CodeRecord EncodeCodeRecord(SecurityHandle handle, std::string_view gbkName);

bool DecodeWireTick(const WireTick& in, TickRecord& out);
WireTick EncodeWireTick(const TickRecord& tick);

// A minute record becomes a tick (direction 0) and a minute slot (all four
// prices the minute's price).
bool DecodeMinuteRecord(const MinuteRecord& in, TickRecord& tick, MinuteSlot& slot);
MinuteRecord EncodeMinuteRecord(const MinuteSlot& slot);

bool DecodeBarRecord(const BarRecord& in, KLineRecord& out);
BarRecord EncodeBarRecord(const KLineRecord& bar);

// Record i of a comprehensive-ranking reply of `count` records belongs to table
// i / n at row i % n, n = count / 9. False when the reply holds fewer than nine
// records or i falls in the remainder past the ninth table.
inline constexpr int kRankTables = 9;
bool RankTablePosition(size_t index, size_t count, int& table, size_t& row);

}  // namespace tessaro
