// Decoding received records into the store's records.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "net/wire.h"
#include "net/wire_records.h"
#include "platform/bytes.h"

namespace tessaro {
namespace {

// A quote record built byte by byte at the offsets of the layout table, so
// that a wrong field order in QuoteRecord cannot pass.
Bytes HandBuiltQuote(uint32_t handle, uint32_t time) {
    Bytes b(137, 0);
    StoreLE<uint32_t>(&b[0], handle);
    StoreLE<uint32_t>(&b[4], time);
    StoreLE<float>(&b[8], 10.0f);    // previous close
    StoreLE<float>(&b[12], 10.1f);   // open
    StoreLE<float>(&b[16], 10.9f);   // high
    StoreLE<float>(&b[20], 9.8f);    // low
    StoreLE<float>(&b[24], 10.5f);   // last
    StoreLE<float>(&b[28], 12345.0f);  // volume
    StoreLE<float>(&b[32], 1.3e7f);    // amount
    for (int i = 0; i < 5; ++i) {
        StoreLE<float>(&b[36 + 4 * i], 10.4f - 0.01f * i);  // bid prices
        StoreLE<float>(&b[56 + 4 * i], 100.0f + i);         // bid volumes
        StoreLE<float>(&b[76 + 4 * i], 10.5f + 0.01f * i);  // ask prices
        StoreLE<float>(&b[96 + 4 * i], 200.0f + i);         // ask volumes
    }
    StoreLE<float>(&b[116], 7.0f);  // 现手
    b[120] = static_cast<uint8_t>(-1);  // seller-initiated
    StoreLE<float>(&b[121], 10.2f);   // rise-speed reference
    StoreLE<float>(&b[125], 5000.0f);  // 内盘
    StoreLE<float>(&b[129], 7345.0f);  // 外盘
    StoreLE<float>(&b[133], 9999.0f);  // 5日均量
    return b;
}

QuoteRecord AsRecord(const Bytes& b) {
    QuoteRecord r;
    std::memcpy(&r, b.data(), sizeof r);
    return r;
}

TEST(QuoteRecordDecode, MapsEveryFieldOntoTheSnapshot) {
    uint32_t wire = 1710466200;  // 2024-03-15 09:30 market time
    QuoteRecord in = AsRecord(HandBuiltQuote(1600000, wire));
    SecurityId asked;
    DecodedQuote q;
    ASSERT_TRUE(DecodeQuoteRecord(in, [&](const SecurityId& id) { asked = id; return uint16_t{kClassAShare}; }, q));
    EXPECT_EQ(SecurityText(asked), "SH600000");
    EXPECT_EQ(SecurityText(q.entry.id), "SH600000");
    EXPECT_EQ(q.entry.securityClass, kClassAShare);
    EXPECT_EQ(q.entry.nameText(), "");
    EXPECT_EQ(q.wireTime, wire);
    const QuoteSnapshot& s = q.snapshot;
    EXPECT_FLOAT_EQ(s.avgVolume5, 9999.0f);
    EXPECT_FLOAT_EQ(s.prevClose, 10.0f);
    EXPECT_FLOAT_EQ(s.price5MinAgo, 10.2f);
    EXPECT_EQ(uint32_t{s.bar.time}, MakeStoreTime(2024, 3, 15, 9, 30, 0));
    EXPECT_FLOAT_EQ(s.bar.open, 10.1f);
    EXPECT_FLOAT_EQ(s.bar.high, 10.9f);
    EXPECT_FLOAT_EQ(s.bar.low, 9.8f);
    EXPECT_FLOAT_EQ(s.bar.close, 10.5f);
    EXPECT_FLOAT_EQ(s.bar.volume, 12345.0f);
    EXPECT_FLOAT_EQ(s.bar.amount, 1.3e7f);
    EXPECT_EQ(s.bar.count1, 0);
    EXPECT_EQ(s.bar.count2, 0);
    EXPECT_FLOAT_EQ(s.book.bidPrice[0], 10.4f);
    EXPECT_FLOAT_EQ(s.book.bidPrice[4], 10.36f);
    EXPECT_FLOAT_EQ(s.book.bidVolume[2], 102.0f);
    EXPECT_FLOAT_EQ(s.book.askPrice[1], 10.51f);
    EXPECT_FLOAT_EQ(s.book.askVolume[4], 204.0f);
    EXPECT_FLOAT_EQ(s.lastTrade.volume, 7.0f);
    EXPECT_FLOAT_EQ(s.lastTrade.amount, 7.0f * 10.5f * 100.0f);
    EXPECT_EQ(s.lastTrade.direction, -1);
    EXPECT_FLOAT_EQ(s.lastTrade.sellVolume, 5000.0f);
    EXPECT_FLOAT_EQ(s.lastTrade.buyVolume, 7345.0f);
    EXPECT_FLOAT_EQ(s.capital.circulating, 0.0f);
    EXPECT_FLOAT_EQ(s.capital.total, 0.0f);
}

TEST(QuoteRecordDecode, LastTradeAmountFollowsTheLotSizeOfTheClass) {
    QuoteRecord in = AsRecord(HandBuiltQuote(1, 100000));
    DecodedQuote q;
    auto classIs = [](uint16_t c) { return [c](const SecurityId&) { return c; }; };
    ASSERT_TRUE(DecodeQuoteRecord(in, classIs(kClassIndex), q));
    EXPECT_EQ(float{q.snapshot.lastTrade.amount}, 0.0f);  // an index, whatever its 现手
    ASSERT_TRUE(DecodeQuoteRecord(in, classIs(kClassBond), q));
    EXPECT_FLOAT_EQ(q.snapshot.lastTrade.amount, 7.0f * 10.5f * 10.0f);
    ASSERT_TRUE(DecodeQuoteRecord(in, classIs(kClassFund), q));
    EXPECT_FLOAT_EQ(q.snapshot.lastTrade.amount, 7.0f * 10.5f * 100.0f);
    ASSERT_TRUE(DecodeQuoteRecord(in, nullptr, q));  // no lookup: class 0, lots of 100
    EXPECT_EQ(q.entry.securityClass, 0);
    EXPECT_FLOAT_EQ(q.snapshot.lastTrade.amount, 7.0f * 10.5f * 100.0f);
}

TEST(QuoteRecordDecode, NonFiniteFloatsAndBadHandlesAreInvalid) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    // Every float offset of the record, each poisoned in turn.
    std::vector<size_t> offsets;
    for (size_t at = 8; at < 120; at += 4) offsets.push_back(at);
    for (size_t at = 121; at < 137; at += 4) offsets.push_back(at);
    ASSERT_EQ(offsets.size(), 32u);
    for (size_t at : offsets) {
        for (float bad : {nan, inf, -inf}) {
            Bytes b = HandBuiltQuote(1600000, 100000);
            StoreLE<float>(&b[at], bad);
            DecodedQuote q;
            EXPECT_FALSE(DecodeQuoteRecord(AsRecord(b), nullptr, q)) << "offset " << at;
        }
    }
    DecodedQuote q;
    EXPECT_FALSE(DecodeQuoteRecord(AsRecord(HandBuiltQuote(2000000, 100000)), nullptr, q));
    // The direction byte is no float: any value is fine.
    Bytes b = HandBuiltQuote(1, 100000);
    b[120] = 0xFF;
    EXPECT_TRUE(DecodeQuoteRecord(AsRecord(b), nullptr, q));
}

TEST(QuoteRecordDecode, EncodeIsTheInverse) {
    QuoteRecord in = AsRecord(HandBuiltQuote(1600000, 1710466200));
    DecodedQuote q;
    ASSERT_TRUE(DecodeQuoteRecord(in, nullptr, q));
    QuoteRecord out = EncodeQuoteRecord(1600000, q.snapshot);
    EXPECT_EQ(0, std::memcmp(&in, &out, sizeof in));
}

TEST(CodeRecordDecode, NameIsCutToThirteenBytesAtACharacterBoundary) {
    CodeRecord r;
    r.handle = 1600000;
    // 12 ASCII bytes then a double-byte character: the field is full, no NUL,
    // and the 13-byte limit falls inside the character.
    std::memcpy(r.name, "ABCDEFGHIJKL\xB0\xA1", 14);
    CodeEntry e;
    ASSERT_TRUE(DecodeCodeRecord(r, e));
    EXPECT_EQ(SecurityText(e.id), "SH600000");
    EXPECT_EQ(e.nameText(), "ABCDEFGHIJKL");
    EXPECT_EQ(e.securityClass, 0);

    std::memcpy(r.name, "\xC6\xD6\xB7\xA2\xD2\xF8\xD0\xD0" "AB\0\0\0\0", 14);  // 浦发银行AB
    r.handle = 1;
    ASSERT_TRUE(DecodeCodeRecord(r, e));
    EXPECT_EQ(SecurityText(e.id), "SZ000001");
    EXPECT_EQ(e.nameText(), "\xC6\xD6\xB7\xA2\xD2\xF8\xD0\xD0" "AB");

    r.handle = 3000000;
    EXPECT_FALSE(DecodeCodeRecord(r, e));
}

TEST(BarRecordDecode, ConvertsTimeAndKeepsTheCounts) {
    KLineRecord bar;
    bar.time = MakeStoreTime(2024, 3, 15);
    bar.open = 1;
    bar.high = 2;
    bar.low = 0.5f;
    bar.close = 1.5f;
    bar.volume = 100;
    bar.amount = 150;
    bar.count1 = 300;
    bar.count2 = 60;
    BarRecord wire = EncodeBarRecord(bar);
    EXPECT_EQ(wire.time, 1710432000u);  // 2024-03-15 00:00 +08:00
    KLineRecord back;
    ASSERT_TRUE(DecodeBarRecord(wire, back));
    EXPECT_EQ(0, std::memcmp(&bar, &back, sizeof bar));

    for (size_t at = 4; at < 28; at += 4) {
        BarRecord bad = wire;
        StoreLE<float>(reinterpret_cast<uint8_t*>(&bad) + at, std::nanf(""));
        EXPECT_FALSE(DecodeBarRecord(bad, back)) << at;
    }
}

TEST(MinuteAndTickDecode, MinuteBecomesATickAndAFlatSlot) {
    MinuteRecord m{1710466260, 10.5f, 1000, 1050000};
    TickRecord tick;
    MinuteSlot slot;
    ASSERT_TRUE(DecodeMinuteRecord(m, tick, slot));
    EXPECT_EQ(tick.time, MakeStoreTime(2024, 3, 15, 9, 31, 0));
    EXPECT_EQ(tick.direction, 0);
    EXPECT_FLOAT_EQ(tick.volume, 1000);
    EXPECT_EQ(slot.time, tick.time);
    EXPECT_FLOAT_EQ(slot.open, 10.5f);
    EXPECT_FLOAT_EQ(slot.high, 10.5f);
    EXPECT_FLOAT_EQ(slot.low, 10.5f);
    EXPECT_FLOAT_EQ(slot.close, 10.5f);
    EXPECT_FLOAT_EQ(slot.amount, 1050000);
    MinuteRecord encoded = EncodeMinuteRecord(slot);
    EXPECT_EQ(0, std::memcmp(&m, &encoded, sizeof m));
    m.volume = std::nanf("");
    EXPECT_FALSE(DecodeMinuteRecord(m, tick, slot));

    WireTick w{1710466261, 10.6f, 1001, 1050010, 1};
    ASSERT_TRUE(DecodeWireTick(w, tick));
    EXPECT_EQ(tick.time, MakeStoreTime(2024, 3, 15, 9, 31, 1));
    EXPECT_EQ(tick.direction, 1);
    WireTick again = EncodeWireTick(tick);
    EXPECT_EQ(0, std::memcmp(&w, &again, sizeof w));
    w.price = std::numeric_limits<float>::infinity();
    EXPECT_FALSE(DecodeWireTick(w, tick));
}

TEST(WireTimeRange, TimesTheStoreCannotHoldMakeARecordInvalid) {
    // 2036-02-05 06:28:15 +08:00 is the last StoreTime; one second on would wrap to 1899.
    constexpr uint32_t kLast = 2085776895u;
    EXPECT_TRUE(WireTimeFitsStore(kLast));
    EXPECT_EQ(WireToStoreTime(kLast), 0xFFFFFFFFu);
    EXPECT_FALSE(WireTimeFitsStore(kLast + 1));
    EXPECT_FALSE(WireTimeFitsStore(0xFFFFFFFFu));

    TickRecord tick;
    MinuteSlot slot;
    KLineRecord bar;
    EXPECT_TRUE(DecodeWireTick(WireTick{kLast, 10, 1, 10, 0}, tick));
    EXPECT_FALSE(DecodeWireTick(WireTick{kLast + 1, 10, 1, 10, 0}, tick));
    EXPECT_FALSE(DecodeMinuteRecord(MinuteRecord{kLast + 60, 10, 1, 10}, tick, slot));
    BarRecord wire = EncodeBarRecord(KLineRecord{});
    wire.time = kLast + 86400;
    EXPECT_FALSE(DecodeBarRecord(wire, bar));
    Bytes q = HandBuiltQuote(1600000, 100000);
    DecodedQuote decoded;
    ASSERT_TRUE(DecodeQuoteRecord(AsRecord(q), nullptr, decoded));
    StoreLE<uint32_t>(&q[4], kLast + 1);
    EXPECT_FALSE(DecodeQuoteRecord(AsRecord(q), nullptr, decoded));
}

TEST(RankTables, NineTablesOfEqualLength) {
    int table = -1;
    size_t row = 0;
    // 90 records: nine tables of ten.
    ASSERT_TRUE(RankTablePosition(0, 90, table, row));
    EXPECT_EQ(table, 0);
    EXPECT_EQ(row, 0u);
    ASSERT_TRUE(RankTablePosition(89, 90, table, row));
    EXPECT_EQ(table, 8);
    EXPECT_EQ(row, 9u);
    ASSERT_TRUE(RankTablePosition(25, 90, table, row));
    EXPECT_EQ(table, 2);
    EXPECT_EQ(row, 5u);
}

TEST(RankTables, ShortOrUnevenRepliesNeverDivideByZeroOrPassTheNinthTable) {
    int table = -1;
    size_t row = 0;
    for (size_t count = 0; count < 9; ++count)
        for (size_t i = 0; i <= count; ++i) EXPECT_FALSE(RankTablePosition(i, count, table, row));
    // 20 records: two per table; records 18 and 19 belong to no table.
    for (size_t i = 0; i < 18; ++i) {
        ASSERT_TRUE(RankTablePosition(i, 20, table, row));
        EXPECT_LT(table, kRankTables);
        EXPECT_LT(row, 2u);
    }
    EXPECT_FALSE(RankTablePosition(18, 20, table, row));
    EXPECT_FALSE(RankTablePosition(19, 20, table, row));
    EXPECT_FALSE(RankTablePosition(1000, 20, table, row));
}

}  // namespace
}  // namespace tessaro
