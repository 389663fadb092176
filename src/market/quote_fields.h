// The catalogue of the 83 quote, finance and identity fields of a security and the
// rules that compute, format and colour each one from its market record. Shared by
// the quote list, the formula functions DYNAREPORT and FINANCE, the chart's data
// window and the range statistics.
#pragma once

#include <string>
#include <string_view>

#include "market/records.h"

namespace tessaro {

inline constexpr int kQuoteFieldCount = 83;

enum QuoteFieldIndex : int {
    kFieldPrevClose = 0,   // 昨收
    kFieldOpen = 1,        // 今开
    kFieldHigh = 2,        // 最高
    kFieldLow = 3,         // 最低
    kFieldLast = 4,        // 最新
    kFieldChangePct = 5,   // 涨幅
    kFieldVolume = 6,      // 总手
    kFieldLastVolume = 7,  // 现手
    kFieldAmount = 8,      // 总额
    kFieldAvgPrice = 9,    // 均价
    kFieldChange = 10,     // 涨跌
    kFieldAmplitude = 11,  // 振幅
    kFieldTurnover = 12,   // 换手率
    kFieldBidRatio = 13,   // 委比
    kFieldBidDiff = 14,    // 委差
    kFieldAvgVolume5 = 15, // 5日均量
    kFieldVolumeRatio = 16,// 量比
    kFieldSpeed = 17,      // 涨速
    kFieldSellSide = 18,   // 内盘
    kFieldBuySide = 19,    // 外盘
    kFieldBidPrice1 = 20,  // 买一价 .. 买五价 (20..24)
    kFieldBidVolume1 = 25, // 买一量 .. 买五量 (25..29)
    kFieldAskPrice1 = 30,  // 卖一价 .. 卖五价 (30..34)
    kFieldAskVolume1 = 35, // 卖一量 .. 卖五量 (35..39)
    kFieldPe = 40,         // 市盈率
    kFieldUpdateDate = 41, // 更新日期
    kFieldFinance1 = 42,   // the 37 finance figures (42..78) in the order of FinanceBlock
    kFieldReportKind = 79, // 年/中/季报
    kFieldNumber = 80,     // 编号
    kFieldCode = 81,       // 股票代码
    kFieldName = 82,       // 股票名称
};

// UTF-8 name of a field; "" outside 0..82.
std::string_view QuoteFieldName(int index);
// Index of a field by its UTF-8 name (ASCII letters case-insensitive), or -1.
int FindQuoteField(std::string_view utf8Name);
// The same for a GBK name (formula text).
int FindQuoteFieldGbk(std::string_view gbkName);

// One computed cell.
struct QuoteCell {
    bool present = false;  // false: missing, shown empty
    double value = 0;      // the number (percentages in percent, 总额 in yuan, 编号 the packed number)
    std::string text;      // as the quote list shows it (UTF-8); empty when missing
    int colorSign = 0;     // +1 rising colour, -1 falling colour, 0 flat colour
};

// Computes field `index` of a security's record. `priceDecimals` is the security's price
// decimals (clamped to 0..6). A number whose magnitude is at most 0.00001, or that is not
// finite, is missing; so is every ratio whose divisor is zero (no trade yet, no volume,
// no capital, no bid or ask volume).
QuoteCell ComputeQuoteField(int index, const StockRecord& record, int priceDecimals);

// The lot size used by 均价: 100 shares, 10 for bonds, 0 (none) for indexes.
int LotSizeOfClass(int securityClass);

}  // namespace tessaro
