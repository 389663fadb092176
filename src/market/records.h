// The packed records of the market store, the market files and the history files.
//
// Layouts are byte-exact (little-endian, no padding); every size is asserted.
// Read them from bytes through ByteReader::read or memcpy, never by casting a
// buffer of unknown length.
#pragma once

#include <cstdint>

#include "platform/security_id.h"
#include "platform/store_time.h"

namespace tessaro {

#pragma pack(push, 1)

// 32 bytes: one bar of every history file and every series.
struct KLineRecord {
    StoreTime time = 0;  // day files: midnight of the day; minute files: start of the minute
    float open = 0, high = 0, low = 0, close = 0;
    float volume = 0;  // lots
    float amount = 0;  // yuan
    // Index: advancing securities; otherwise the number of trades.
    uint16_t count1 = 0;
    // Index: declining securities; otherwise the buyer-initiated share of the volume in percent.
    uint16_t count2 = 0;
};
static_assert(sizeof(KLineRecord) == 32);

// 17 bytes: one trade of today.
struct TickRecord {
    StoreTime time = 0;
    float price = 0;
    float volume = 0;  // cumulative lots
    float amount = 0;  // cumulative yuan
    int8_t direction = 0;
};
static_assert(sizeof(TickRecord) == 17);

// 28 bytes: one trading minute of today; time 0 = empty.
struct MinuteSlot {
    StoreTime time = 0;
    float open = 0, high = 0, low = 0, close = 0;
    float volume = 0;  // cumulative
    float amount = 0;  // cumulative
};
static_assert(sizeof(MinuteSlot) == 28);

// 17 bytes: the last trade of a snapshot, and the trade data of a series bar.
struct TradeData {
    float volume = 0;  // 现手 / the bar's volume
    float amount = 0;
    int8_t direction = 0;    // > 0 buyer-initiated, < 0 seller-initiated, 0 unknown
    float sellVolume = 0;    // 内盘
    float buyVolume = 0;     // 外盘
};
static_assert(sizeof(TradeData) == 17);

// 28 bytes: capital in force (lots) and 20 further bytes carried along.
struct CapitalBlock {
    float circulating = 0;
    float total = 0;
    uint8_t extra[20] = {};
};
static_assert(sizeof(CapitalBlock) == 28);

// 80 bytes: five levels of bids and asks, best first.
struct OrderBook {
    float bidPrice[5] = {};
    float bidVolume[5] = {};
    float askPrice[5] = {};
    float askVolume[5] = {};
};
static_assert(sizeof(OrderBook) == 80);

// 169 bytes: market-record offsets 54..222, copied as one unit.
struct QuoteSnapshot {
    float avgVolume5 = 0;    // 5日均量
    float prevClose = 0;     // 昨收
    float price5MinAgo = 0;  // reference of 涨速
    KLineRecord bar;         // time of the last quote, open, high, low, last, volume, amount
    OrderBook book;
    TradeData lastTrade;
    CapitalBlock capital;
};
static_assert(sizeof(QuoteSnapshot) == 169);

// 20 bytes: one ex-rights event, as in base/Power.pwr; kept per security sorted by date.
struct ExRightsRecord {
    uint32_t exDate = 0;      // seconds since 1970-01-01 UTC
    float bonusShares = 0;    // 送股 per share
    float rightsShares = 0;   // 配股 per share
    float rightsPrice = 0;    // 配股价
    float cashDividend = 0;   // 派息 per share
};
static_assert(sizeof(ExRightsRecord) == 20);

// 12 bytes: one capital change, kept per security sorted by date.
struct CapitalChange {
    StoreTime day = 0;        // StoreTime of the change day
    float circulating = 0;    // lots
    float total = 0;          // lots
};
static_assert(sizeof(CapitalChange) == 12);

inline constexpr int kFinanceFigures = 37;

// 164 bytes: the finance figures of a security (market-record offset 223).
// Figures in order: 总股本(万股), 国家股, 发起法人股, 法人股, B股, H股, 流通A股,
// 职工股, A2转配股, 总资产(千元), 流动资产, 固定资产, 无形资产, 长期投资, 流动负债,
// 长期负债, 资本公积金, 每股公积金, 股东权益, 主营收入, 主营利润, 其他利润, 营业利润,
// 投资收益, 补贴收入, 营业外收支, 上年损益调整, 利润总额, 税后利润, 净利润,
// 未分配利润, 每股未分配, 每股收益, 每股净资产, 调整每股净资, 股东权益比, 净资收益率.
struct FinanceBlock {
    uint32_t updateDate = 0;
    float figures[kFinanceFigures] = {};
    float reportKind = 0;  // 年/中/季报
    uint8_t zero[8] = {};
};
static_assert(sizeof(FinanceBlock) == 164);

inline constexpr int kMinuteSlots = 242;
inline constexpr int kMaxTickBlocksPerSecurity = 48;
inline constexpr int kTicksPerBlock = 100;

// 7383 bytes: one security in the market file.
struct StockRecord {
    CodeEntry entry;
    float bidVolumeSum = 0;  // sums of the five volumes over all of today's updates
    float askVolumeSum = 0;
    QuoteSnapshot quote;
    FinanceBlock finance;
    int16_t minuteCount = 0;
    MinuteSlot minutes[kMinuteSlots];
    int32_t tickBlockCount = 0;
    int32_t tickBlocks[kMaxTickBlocksPerSecurity] = {};
    int32_t ticksInLastBlock = 0;
    uint8_t reserved[18] = {};
};
static_assert(sizeof(StockRecord) == 7383);
static_assert(offsetof(StockRecord, quote) == 54);
static_assert(offsetof(StockRecord, finance) == 223);
static_assert(offsetof(StockRecord, minutes) == 389);
static_assert(offsetof(StockRecord, tickBlockCount) == 7165);
static_assert(offsetof(StockRecord, ticksInLastBlock) == 7361);

#pragma pack(pop)

}  // namespace tessaro
