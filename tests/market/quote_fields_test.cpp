#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>

#include "market/quote_fields.h"
#include "platform/text.h"

namespace tessaro {
namespace {

std::unique_ptr<StockRecord> Sample() {
    auto r = std::make_unique<StockRecord>();
    r->entry.id = MakeSecurityId(kMarketSH, "600000");
    r->entry.securityClass = kClassAShare;
    r->entry.setName(Utf8ToGbk("浦发银行"));
    QuoteSnapshot& q = r->quote;
    q.prevClose = 10.00f;
    q.avgVolume5 = 48000;
    q.price5MinAgo = 10.40f;
    q.bar.time = MakeStoreTime(2024, 3, 5, 10, 29, 30);  // minute slot 59
    q.bar.open = 10.10f, q.bar.high = 10.80f, q.bar.low = 9.90f, q.bar.close = 10.50f;
    q.bar.volume = 12000, q.bar.amount = 12345678;
    for (int i = 0; i < 5; ++i) {
        q.book.bidPrice[i] = 10.49f - 0.01f * i;
        q.book.bidVolume[i] = 100.0f * (i + 1);  // 1500 in all
        q.book.askPrice[i] = 10.50f + 0.01f * i;
        q.book.askVolume[i] = 50.0f * (i + 1);  // 750 in all
    }
    q.lastTrade.volume = 37, q.lastTrade.direction = -1;
    q.lastTrade.sellVolume = 5000, q.lastTrade.buyVolume = 7000;
    q.capital.circulating = 600000, q.capital.total = 900000;
    for (int f = 0; f < kFinanceFigures; ++f) r->finance.figures[f] = 1.0f + f;
    r->finance.figures[32] = 0.35f;  // 每股收益
    r->finance.reportKind = 2;       // 一季报: earnings x 4
    r->finance.updateDate = static_cast<uint32_t>(UnixFromStoreTime(MakeStoreTime(2023, 8, 30)));
    return r;
}

std::string T(const StockRecord& r, int field, int decimals = 2) { return ComputeQuoteField(field, r, decimals).text; }

TEST(QuoteFieldsTest, CatalogueNamesAndLookup) {
    EXPECT_EQ(QuoteFieldName(0), "昨收");
    EXPECT_EQ(QuoteFieldName(15), "5日均量");
    EXPECT_EQ(QuoteFieldName(24), "买五价");
    EXPECT_EQ(QuoteFieldName(39), "卖五量");
    EXPECT_EQ(QuoteFieldName(42), "总股本");
    EXPECT_EQ(QuoteFieldName(78), "净资收益率");
    EXPECT_EQ(QuoteFieldName(82), "股票名称");
    EXPECT_EQ(QuoteFieldName(83), "");
    EXPECT_EQ(QuoteFieldName(-1), "");
    for (int i = 0; i < kQuoteFieldCount; ++i) EXPECT_EQ(FindQuoteField(QuoteFieldName(i)), i) << i;
    EXPECT_EQ(FindQuoteField("b股"), 46);
    EXPECT_EQ(FindQuoteField("a2转配股"), 50);
    EXPECT_EQ(FindQuoteFieldGbk(Utf8ToGbk("涨幅")), 5);
    EXPECT_EQ(FindQuoteField("nothing"), -1);
}

TEST(QuoteFieldsTest, EveryFieldOfOneSecurityAgainstHandComputation) {
    auto r = Sample();
    // All 83 cells as the quote list shows them, worked out by hand from Sample().
    const char* expected[kQuoteFieldCount] = {
        "10.00", "10.10", "10.80", "9.90", "10.50",  // 昨收 今开 最高 最低 最新
        "+5.00%",                                    // 涨幅 = 0.50 / 10.00
        "12000", "37",                               // 总手 现手
        "1235",                                      // 总额 in 万元: 12345678 / 10000
        "10.29",                                     // 均价 = 12345678 / (12000 x 100)
        "+0.50",                                     // 涨跌
        "9.00%",                                     // 振幅 = (10.80 - 9.90) / 10.00
        "2.00%",                                     // 换手率 = 12000 / 600000
        "+33.33%",                                   // 委比 = (1500 - 750) / 2250
        "+750",                                      // 委差
        "48000",                                     // 5日均量
        "1.00",                                      // 量比 = 12000 x 240 / ((59 + 1) x 48000)
        "+0.95%",                                    // 涨速 = (10.50 - 10.40) / 10.50
        "5000", "7000",                              // 内盘 外盘
        "10.49", "10.48", "10.47", "10.46", "10.45", // 买一价 .. 买五价
        "100", "200", "300", "400", "500",           // 买一量 .. 买五量
        "10.50", "10.51", "10.52", "10.53", "10.54", // 卖一价 .. 卖五价
        "50", "100", "150", "200", "250",            // 卖一量 .. 卖五量
        "7.50",                                      // 市盈率 = 10.50 / (0.35 x 4), 一季报
        "20230830",                                  // 更新日期
        // The nine capital items with one decimal.
        "1.0", "2.0", "3.0", "4.0", "5.0", "6.0", "7.0", "8.0", "9.0",
        // 总资产 .. 资本公积金 with the price decimals, 每股公积金 with three.
        "10.00", "11.00", "12.00", "13.00", "14.00", "15.00", "16.00", "17.00", "18.000",
        // 股东权益 .. 未分配利润.
        "19.00", "20.00", "21.00", "22.00", "23.00", "24.00", "25.00", "26.00", "27.00", "28.00", "29.00",
        "30.00", "31.00",
        // 每股未分配, 每股收益, 每股净资产, 调整每股净资 with three; 股东权益比, 净资收益率.
        "32.000", "0.350", "34.000", "35.000", "36.00", "37.00",
        "一季报", "1600000", "600000", "浦发银行",
    };
    for (int i = 0; i < kQuoteFieldCount; ++i)
        EXPECT_EQ(T(*r, i), expected[i]) << i << " " << QuoteFieldName(i);
    // Every field of the catalogue computes something for this security.
    for (int i = 0; i < kQuoteFieldCount; ++i) EXPECT_TRUE(ComputeQuoteField(i, *r, 2).present) << i;
    EXPECT_FALSE(ComputeQuoteField(kQuoteFieldCount, *r, 2).present);
    EXPECT_FALSE(ComputeQuoteField(-3, *r, 2).present);
    // Values: percentages in percent, 总额 in yuan.
    EXPECT_NEAR(ComputeQuoteField(kFieldChangePct, *r, 2).value, 5.0, 1e-4);
    EXPECT_NEAR(ComputeQuoteField(kFieldAmount, *r, 2).value, 12345678.0, 1);
}

TEST(QuoteFieldsTest, Colours) {
    auto r = Sample();
    EXPECT_EQ(ComputeQuoteField(kFieldLast, *r, 2).colorSign, 1);
    EXPECT_EQ(ComputeQuoteField(kFieldLow, *r, 2).colorSign, -1);
    EXPECT_EQ(ComputeQuoteField(kFieldChangePct, *r, 2).colorSign, 1);
    EXPECT_EQ(ComputeQuoteField(kFieldLastVolume, *r, 2).colorSign, -1);  // seller-initiated
    EXPECT_EQ(ComputeQuoteField(kFieldBidVolume1, *r, 2).colorSign, 1);
    EXPECT_EQ(ComputeQuoteField(kFieldAskVolume1, *r, 2).colorSign, -1);
    EXPECT_EQ(ComputeQuoteField(kFieldAskPrice1, *r, 2).colorSign, 1);
    r->finance.figures[29] = -3;  // 净利润 negative
    EXPECT_EQ(ComputeQuoteField(kFieldFinance1 + 29, *r, 2).colorSign, -1);
    r->quote.bar.close = 10.0f;
    EXPECT_EQ(ComputeQuoteField(kFieldLast, *r, 2).colorSign, 0);
}

TEST(QuoteFieldsTest, NothingDividesByZero) {
    auto r = Sample();
    // No trade yet.
    r->quote.bar = KLineRecord{};
    r->quote.lastTrade = TradeData{};
    for (int f : {kFieldChangePct, kFieldChange, kFieldAvgPrice, kFieldAmplitude, kFieldTurnover, kFieldVolumeRatio,
                  kFieldSpeed, kFieldPe, kFieldLast, kFieldVolume, kFieldAmount})
        EXPECT_EQ(T(*r, f), "") << f;
    EXPECT_EQ(T(*r, kFieldPrevClose), "10.00");
    // No previous close.
    r = Sample();
    r->quote.prevClose = 0;
    for (int f : {kFieldChangePct, kFieldChange, kFieldAmplitude}) EXPECT_EQ(T(*r, f), "") << f;
    EXPECT_EQ(ComputeQuoteField(kFieldLast, *r, 2).colorSign, 0);
    // No capital, no 5-day volume, no bids and asks, no earnings.
    r = Sample();
    r->quote.capital.circulating = 0;
    r->quote.avgVolume5 = 0;
    r->quote.book = OrderBook{};
    r->finance.figures[32] = 0;
    for (int f : {kFieldTurnover, kFieldVolumeRatio, kFieldBidRatio, kFieldBidDiff, kFieldPe}) EXPECT_EQ(T(*r, f), "") << f;
    // Garbage floats never print inf or nan.
    r = Sample();
    r->quote.prevClose = std::numeric_limits<float>::infinity();
    r->quote.bar.volume = std::numeric_limits<float>::quiet_NaN();
    for (int i = 0; i < kQuoteFieldCount; ++i) {
        std::string text = T(*r, i);
        EXPECT_EQ(text.find("inf"), std::string::npos) << i;
        EXPECT_EQ(text.find("nan"), std::string::npos) << i;
    }
}

TEST(QuoteFieldsTest, VolumeRatioClampsItsSlotOutsideTradingHours) {
    auto r = Sample();
    r->quote.bar.time = MakeStoreTime(2024, 3, 5, 9, 20);  // before the open: slot 0
    EXPECT_EQ(T(*r, kFieldVolumeRatio), "60.00");          // 12000 * 240 / 48000
    r->quote.bar.time = MakeStoreTime(2024, 3, 5, 15, 30);  // after the close: slot 241
    EXPECT_EQ(T(*r, kFieldVolumeRatio), "0.25");
}

TEST(QuoteFieldsTest, ClassesDecimalsAndReportKinds) {
    auto r = Sample();
    r->entry.securityClass = kClassIndex;
    EXPECT_EQ(T(*r, kFieldAvgPrice), "");
    r->entry.securityClass = kClassBond;
    EXPECT_EQ(T(*r, kFieldAvgPrice), "102.88");  // ten-unit lots
    r->entry.securityClass = kClassBShare;
    EXPECT_EQ(T(*r, kFieldLast, 3), "10.500");
    EXPECT_EQ(T(*r, kFieldLast, 99), "10.500000");  // decimals clamp to 6
    EXPECT_EQ(T(*r, kFieldLast, -4), "10");          // and to 0
    EXPECT_EQ(T(*r, kFieldChangePct, 3), "+5.00%"); // percentages keep 2
    const char* kinds[] = {"年报", "中报", "一季报", "二季报", "三季报", "四季报"};
    for (int k = 0; k < 6; ++k) {
        r->finance.reportKind = static_cast<float>(k);
        EXPECT_EQ(T(*r, kFieldReportKind), kinds[k]);
    }
    for (float bad : {6.0f, -1.0f, 2.5f}) {
        r->finance.reportKind = bad;
        EXPECT_EQ(T(*r, kFieldReportKind), "");
    }
    // 市盈率 by report kind: 1 -> x2, 3 -> x2, 4 -> x4/3, else x1.
    r->finance.reportKind = 1;
    EXPECT_EQ(T(*r, kFieldPe), "15.00");
    r->finance.reportKind = 4;
    EXPECT_EQ(T(*r, kFieldPe), "22.50");
    r->finance.reportKind = 0;
    EXPECT_EQ(T(*r, kFieldPe), "30.00");
    r->finance.updateDate = 20240131;  // a stored YYYYMMDD stays as it is
    EXPECT_EQ(T(*r, kFieldUpdateDate), "20240131");
    r->finance.updateDate = 0;
    EXPECT_EQ(T(*r, kFieldUpdateDate), "");
    r->entry.id = MakeSecurityId(kMarketSZ, "000001");
    EXPECT_EQ(T(*r, kFieldNumber), "1");
    r->entry.id = MakeSecurityId(kMarketSystem, "999999");
    EXPECT_EQ(T(*r, kFieldNumber), "");
}

}  // namespace
}  // namespace tessaro
