// Market store: securities, lookups, quotes, minutes, minute extras and state.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "market/market_store_fixture.h"
#include "platform/text.h"

namespace tessaro {
namespace {

using namespace testing_store;

TEST_F(StoreTest, FreshStoreCreatesFilesAndTheCompositeIndex) {
    for (MarketCode m : {kMarketSH, kMarketSZ, kMarketSystem}) {
        EXPECT_EQ(FileSize(MarketFile(m)), static_cast<int64_t>(kMarketImageSize + kTickBlockSize));
        // Loading a market also makes its company-information directory.
        EXPECT_TRUE(DirectoryExists(AppPaths(dir_.path()).f10Dir(m)));
        EXPECT_FALSE(FileExists(DamagedMarketFilePath(MarketFile(m))));  // nothing was damaged
    }
    EXPECT_EQ(store_->SecurityCount(kMarketSH), 0);
    EXPECT_EQ(store_->SecurityCount(kMarketSZ), 0);
    auto composite = store_->GetCodeEntry(MakeSecurityId(kMarketSystem, "999999"));
    ASSERT_TRUE(composite);
    EXPECT_EQ(GbkToUtf8(composite->nameText()), "沪深A股指数");
    EXPECT_EQ(composite->securityClass, kClassIndex);
    auto own = store_->GetMarketIndexEntry(kMarketSystem);
    ASSERT_TRUE(own);
    EXPECT_EQ(own->id.codeText(), "999999");
}

TEST_F(StoreTest, CompositeIndexNameIsRefreshedOnLoad) {
    QuoteUpdate q = MakeQuote(MakeSecurityId(kMarketSystem, "999999"), 0, 0, 0, "old");
    store_->UpdateQuote(q);
    EXPECT_EQ(store_->GetName(MakeSecurityId(kMarketSystem, "999999")), "old");
    ASSERT_TRUE(store_->SaveAll());
    auto again = Reload();
    EXPECT_EQ(GbkToUtf8(again->GetName(MakeSecurityId(kMarketSystem, "999999"))), "沪深A股指数");
    EXPECT_EQ(again->SecurityCount(kMarketSystem), 1);
}

TEST_F(StoreTest, FindOrAddClassifiesAndMatchesCodesCaseInsensitively) {
    EXPECT_FALSE(store_->FindOrAdd(Sh("600000"), false));
    auto added = store_->FindOrAdd(Sh("600000"), true);
    ASSERT_TRUE(added);
    EXPECT_EQ(added->securityClass, kClassAShare);
    EXPECT_EQ(store_->FindOrAdd(Sz("000001"), true)->securityClass, kClassAShare);
    EXPECT_EQ(store_->FindOrAdd(Sh("000001"), true)->securityClass, kClassIndex);
    store_->FindOrAdd(Sh("1a0001"), true);
    EXPECT_TRUE(store_->GetCodeEntry(Sh("1A0001")));
    EXPECT_EQ(store_->SecurityCount(kMarketSH), 3);
    // Unknown market, empty code.
    EXPECT_FALSE(store_->FindOrAdd(MakeSecurityId(0x4141, "600000"), true));
    EXPECT_FALSE(store_->FindOrAdd(Sh(""), true));
    // A ten-character code is stored with nine.
    auto longCode = store_->FindOrAdd(Sh("1234567890"), true);
    ASSERT_TRUE(longCode);
    EXPECT_EQ(longCode->id.codeText(), "123456789");
}

TEST_F(StoreTest, MarketHoldsAtMost4096Securities) {
    char code[16];
    for (int i = 0; i < kMaxSecurities; ++i) {
        std::snprintf(code, sizeof code, "%06d", i);
        ASSERT_TRUE(store_->FindOrAdd(Sz(code), true)) << i;
    }
    EXPECT_FALSE(store_->FindOrAdd(Sz("999998"), true));
    QuoteUpdate q = MakeQuote(Sz("999998"), Day1(10, 0), 10, 100);
    EXPECT_EQ(store_->UpdateQuote(q), 0u);
    EXPECT_FALSE(store_->GetCodeEntry(Sz("999998")));
    EXPECT_TRUE(store_->GetCodeEntry(Sz("004095")));
    EXPECT_EQ(store_->SecurityCount(kMarketSZ), kMaxSecurities);
}

TEST_F(StoreTest, FindByTextHonoursMarketPrefixAndSlotOrder) {
    store_->FindOrAdd(Sh("000001"), true);
    store_->FindOrAdd(Sz("000001"), true);
    store_->FindOrAdd(Sz("399001"), true);
    auto sz = store_->FindByText("SZ000001");
    ASSERT_TRUE(sz);
    EXPECT_EQ(sz->id.market, kMarketSZ);
    auto plain = store_->FindByText("000001");
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->id.market, kMarketSH);
    EXPECT_EQ(store_->FindByText("sz399001")->id.market, kMarketSZ);
    EXPECT_FALSE(store_->FindByText("SH399001"));
    EXPECT_EQ(store_->FindByText("$$999999")->id.market, kMarketSystem);
    EXPECT_FALSE(store_->FindByText("0"));
    EXPECT_FALSE(store_->FindByText("SH"));
    EXPECT_FALSE(store_->FindByText(""));
}

TEST_F(StoreTest, ListingsAreInSlotOrderThenCodeOrder) {
    for (auto code : {"600010", "000001", "600000"}) store_->FindOrAdd(Sh(code), true);
    for (auto code : {"399001", "000002"}) store_->FindOrAdd(Sz(code), true);
    auto all = store_->ListAll();
    std::vector<std::string> texts;
    for (const CodeEntry& e : all) texts.push_back(SecurityText(e.id));
    EXPECT_EQ(texts, (std::vector<std::string>{"SH000001", "SH600000", "SH600010", "SZ000002", "SZ399001",
                                               "$$999999"}));
    auto ids = store_->ListSecurityIds(2);
    ASSERT_EQ(ids.size(), 2u);
    EXPECT_EQ(ids[0].codeText(), "000002");
    EXPECT_TRUE(store_->ListSecurities(0).empty());
    EXPECT_EQ(store_->ListSecurities(5).size(), 4u);
}

TEST_F(StoreTest, CodeOrderIgnoresAsciiCaseOnlyAndSurvivesAReload) {
    // Letters, signs between 'Z' and 'a', digits and GBK bytes: the order must be the
    // case-insensitive comparison's (letters folded, GBK bytes above ASCII, a trail
    // byte compared exactly), whether the index was built by adding or by loading.
    std::vector<std::string> codes = {"a_1", "A1", "_x", "Zz", "zZ9", "\xB0\xA1", "\xB0\x61",
                                      "\xB0\x41", "abc", "ABD", "[1", "`1", "600000", "60000"};
    for (const std::string& c : codes) ASSERT_TRUE(store_->FindOrAdd(Sh(c), true)) << c;
    std::vector<std::string> expected = codes;
    std::sort(expected.begin(), expected.end(),
              [](const std::string& a, const std::string& b) { return CompareNoCase(a, b) < 0; });
    auto listed = [](MarketStore& s) {
        std::vector<std::string> out;
        for (const CodeEntry& e : s.ListSecurities(1)) out.emplace_back(e.id.codeText());
        return out;
    };
    EXPECT_EQ(listed(*store_), expected);
    // Every code is found under its other case, and only its own record.
    for (const std::string& c : codes) {
        auto e = store_->GetCodeEntry(Sh(AsciiUpper(c)));
        ASSERT_TRUE(e) << c;
        EXPECT_EQ(e->id.codeText(), c);
        e = store_->GetCodeEntry(Sh(AsciiLower(c)));
        ASSERT_TRUE(e) << c;
        EXPECT_EQ(e->id.codeText(), c);
    }
    EXPECT_FALSE(store_->GetCodeEntry(Sh("\xB0\x62")));  // a trail byte does not fold
    EXPECT_EQ(store_->FindOrAdd(Sh("ZZ9"), true)->id.codeText(), "zZ9");  // no second record
    EXPECT_EQ(store_->SecurityCount(kMarketSH), static_cast<int>(codes.size()));
    ASSERT_TRUE(store_->SaveAll());
    auto again = Reload();
    EXPECT_EQ(listed(*again), expected);
    EXPECT_TRUE(again->GetCodeEntry(Sh("A_1")));
}

TEST_F(StoreTest, ClassAndDecimals) {
    EXPECT_EQ(store_->GetClass(Sh("900901")), kClassBShare);  // unknown: from the code
    store_->FindOrAdd(Sh("900901"), true);
    EXPECT_EQ(store_->GetClass(Sh("900901")), kClassBShare);
    EXPECT_EQ(store_->GetDecimals(kMarketSH, kClassBShare), 3);
    EXPECT_EQ(store_->GetDecimals(kMarketSZ, kClassFund), 3);
    EXPECT_EQ(store_->GetDecimals(kMarketSH, kClassOther), 2);

    settings_.setDword(SettingsKey("SH"), "defdec", 4);
    auto s = NewStore();
    s->LoadAll();
    EXPECT_EQ(s->GetDecimals(kMarketSH, kClassOther), 4);
    EXPECT_EQ(s->GetDecimals(kMarketSH, kClassAShare), 2);
    EXPECT_EQ(s->GetDecimals(kMarketSystem, kClassAShare), 2);
}

// ---- Quotes --------------------------------------------------------------------------------------

TEST_F(StoreTest, QuoteIsStoredWithItsFlags) {
    QuoteUpdate q = MakeQuote(Sh("600000"), Day1(10, 0), 10.5f, 1000, "浦发");
    unsigned flags = store_->UpdateQuote(q);
    EXPECT_EQ(flags, kQuoteAddedSecurity | kQuoteStored | kQuoteNewDay | kQuoteNewTrade);
    EXPECT_EQ(q.entry.securityClass, kClassAShare);
    StockRecord r;
    ASSERT_TRUE(store_->GetRecord(Sh("600000"), r));
    EXPECT_EQ(r.quote.bar.close, 10.5f);
    EXPECT_EQ(r.quote.bar.volume, 1000.0f);
    EXPECT_FLOAT_EQ(r.quote.prevClose, 10.4f);
    EXPECT_EQ(r.quote.lastTrade.direction, 1);
    EXPECT_EQ(r.entry.nameText(), "浦发");
    EXPECT_EQ(store_->MarketTradingDate(kMarketSH), Day1(10, 0));
    EXPECT_TRUE(store_->QuotesChanged(kMarketSH));
    EXPECT_FALSE(store_->QuotesChanged(kMarketSZ));
    EXPECT_TRUE(store_->NewTradeFlag(kMarketSH));
}

TEST_F(StoreTest, QuoteKeepsStoredClassAndFillsAnEmptyName) {
    QuoteUpdate named = MakeQuote(Sh("600000"), Day1(10, 0), 10, 100, "NAME");
    store_->UpdateQuote(named);
    QuoteUpdate q = MakeQuote(Sh("600000"), Day1(10, 1), 10, 100);
    q.entry.securityClass = kClassWarrant;
    store_->UpdateQuote(q);
    EXPECT_EQ(q.entry.securityClass, kClassAShare);
    EXPECT_EQ(q.entry.nameText(), "NAME");
    EXPECT_EQ(store_->GetClass(Sh("600000")), kClassAShare);
    // A code-table entry without a snapshot only renames.
    QuoteUpdate table;
    table.entry.id = Sh("600000");
    table.entry.setName("NEW");
    EXPECT_EQ(store_->UpdateQuote(table), 0u);
    EXPECT_EQ(store_->GetName(Sh("600000")), "NEW");
    EXPECT_EQ(store_->GetQuote(Sh("600000"))->bar.time, Day1(10, 1));
}

TEST_F(StoreTest, QuotesOfNoTradingTimeOrGarbageAreNotStored) {
    store_->FindOrAdd(Sh("600000"), true);
    auto rejected = [&](QuoteUpdate q) {
        unsigned flags = store_->UpdateQuote(q);
        return (flags & kQuoteStored) == 0;
    };
    EXPECT_TRUE(rejected(MakeQuote(Sh("600000"), Day1(5, 59), 10, 100)));
    EXPECT_TRUE(rejected(MakeQuote(Sh("600000"), Day1(6, 0, 0), 10, 100)));
    EXPECT_FALSE(rejected(MakeQuote(Sh("600000"), Day1(6, 0, 1), 10, 100)));
    EXPECT_TRUE(rejected(MakeQuote(Sh("600000"), StoreTimeFromUnix(99), 10, 100)));
    EXPECT_TRUE(rejected(MakeQuote(Sh("600000"), Day1(10, 0), 10, 2e11f)));
    // The limit itself is a value; the next float above it is not.
    const float above = std::nextafter(kMaxQuoteValue, std::numeric_limits<float>::infinity());
    EXPECT_FALSE(rejected(MakeQuote(Sh("600000"), Day1(6, 0, 1), 10, kMaxQuoteValue)));
    EXPECT_TRUE(rejected(MakeQuote(Sh("600000"), Day1(10, 0), 10, above)));
    EXPECT_FALSE(rejected(MakeQuote(Sh("600000"), Day1(6, 0, 1), kMaxQuoteValue, 100)));
    EXPECT_TRUE(rejected(MakeQuote(Sh("600000"), Day1(10, 0), above, 100)));
    EXPECT_TRUE(rejected(MakeQuote(Sh("600000"), Day1(10, 0), 2e11f, 100)));
    const float nan = std::numeric_limits<float>::quiet_NaN();
    EXPECT_TRUE(rejected(MakeQuote(Sh("600000"), Day1(10, 0), nan, 100)));
    EXPECT_TRUE(rejected(MakeQuote(Sh("600000"), Day1(10, 0), 10, nan)));
    QuoteUpdate nanOpen = MakeQuote(Sh("600000"), Day1(10, 0), 10, 100);
    nanOpen.snapshot.bar.open = nan;
    EXPECT_TRUE(rejected(nanOpen));
    QuoteUpdate infHigh = MakeQuote(Sh("600000"), Day1(10, 0), 10, 100);
    infHigh.snapshot.bar.high = std::numeric_limits<float>::infinity();
    EXPECT_TRUE(rejected(infHigh));
    EXPECT_EQ(store_->GetQuote(Sh("600000"))->bar.time, Day1(6, 0, 1));
}

TEST_F(StoreTest, QuoteWithAllPricesZeroLeavesTheTradingDate) {
    Quote(Sh("600000"), Day1(10, 0), 10, 100);
    QuoteUpdate zero = MakeQuote(Sh("600001"), Day2(9, 20), 0, 0);
    zero.snapshot.bar.open = zero.snapshot.bar.high = zero.snapshot.bar.low = 0;
    unsigned flags = store_->UpdateQuote(zero);
    EXPECT_TRUE(flags & kQuoteStored);
    EXPECT_FALSE(flags & kQuoteNewDay);
    EXPECT_EQ(store_->MarketTradingDate(kMarketSH), Day1(10, 0));
    // An open alone counts as priced.
    QuoteUpdate open = MakeQuote(Sh("600001"), Day2(9, 25), 0, 0);
    open.snapshot.bar.high = open.snapshot.bar.low = 0;
    open.snapshot.bar.open = 9.9f;
    EXPECT_TRUE(store_->UpdateQuote(open) & kQuoteNewDay);
    EXPECT_EQ(store_->MarketTradingDate(kMarketSH), Day2(9, 25));
}

TEST_F(StoreTest, OrderBookLevelsOutOfRangeAreZeroedAndVolumesSummed) {
    QuoteUpdate q = MakeQuote(Sh("600000"), Day1(10, 0), 10, 100);
    q.snapshot.book.bidPrice[1] = 0;
    q.snapshot.book.bidVolume[1] = 77;
    q.snapshot.book.askVolume[2] = -5;
    q.snapshot.book.askPrice[3] = std::numeric_limits<float>::quiet_NaN();
    q.snapshot.book.bidVolume[4] = std::numeric_limits<float>::quiet_NaN();
    store_->UpdateQuote(q);
    StockRecord r;
    store_->GetRecord(Sh("600000"), r);
    EXPECT_EQ(r.quote.book.bidPrice[1], 0.0f);
    EXPECT_EQ(r.quote.book.bidVolume[1], 0.0f);
    EXPECT_EQ(r.quote.book.askPrice[2], 0.0f);
    EXPECT_EQ(r.quote.book.askVolume[2], 0.0f);
    EXPECT_EQ(r.quote.book.askPrice[3], 0.0f);
    EXPECT_EQ(r.quote.book.bidPrice[4], 0.0f);
    EXPECT_EQ(r.quote.book.bidPrice[0], q.snapshot.book.bidPrice[0]);
    EXPECT_FLOAT_EQ(r.bidVolumeSum, 10 + 30 + 40);
    EXPECT_FLOAT_EQ(r.askVolumeSum, 20 + 40 + 100);
    // Each limit of a level is still valid; a hair beyond it empties the level.
    QuoteUpdate edges = MakeQuote(Sh("600000"), Day1(10, 0), 10, 100);
    const float inf = std::numeric_limits<float>::infinity();
    edges.snapshot.book.bidPrice[0] = kMaxQuoteValue;
    edges.snapshot.book.bidVolume[0] = -0.00001f;
    edges.snapshot.book.bidPrice[1] = std::nextafter(kMaxQuoteValue, inf);
    edges.snapshot.book.askPrice[0] = std::nextafter(0.0f, 1.0f);  // the smallest price above 0
    edges.snapshot.book.askVolume[0] = kMaxQuoteValue;
    edges.snapshot.book.askVolume[1] = std::nextafter(kMaxQuoteValue, inf);
    edges.snapshot.book.askVolume[2] = -0.00002f;
    edges.snapshot.book.askPrice[3] = -1;
    store_->UpdateQuote(edges);
    const OrderBook stored = store_->GetQuote(Sh("600000"))->book;
    EXPECT_EQ(stored.bidPrice[0], kMaxQuoteValue);
    EXPECT_EQ(stored.bidVolume[0], -0.00001f);
    EXPECT_EQ(stored.bidPrice[1], 0.0f);
    EXPECT_EQ(stored.bidVolume[1], 0.0f);
    EXPECT_GT(stored.askPrice[0], 0.0f);
    EXPECT_EQ(stored.askVolume[0], kMaxQuoteValue);
    EXPECT_EQ(stored.askPrice[1], 0.0f);
    EXPECT_EQ(stored.askVolume[1], 0.0f);
    EXPECT_EQ(stored.askPrice[2], 0.0f);
    EXPECT_EQ(stored.askPrice[3], 0.0f);
    EXPECT_EQ(stored.askVolume[3], 0.0f);

    // The sums grow with every update of the day.
    store_->NewDay(1);
    store_->UpdateQuote(q);
    QuoteUpdate again = MakeQuote(Sh("600000"), Day1(10, 1), 10, 100);
    store_->UpdateQuote(again);
    store_->GetRecord(Sh("600000"), r);
    EXPECT_FLOAT_EQ(r.bidVolumeSum, 80 + 150);
    EXPECT_FLOAT_EQ(r.askVolumeSum, 160 + 300);
}

TEST_F(StoreTest, CallerReceivesTheCapitalInForce) {
    store_->FindOrAdd(Sh("600000"), true);
    CapitalBlock capital;
    capital.circulating = 1234;
    capital.total = 5678;
    capital.extra[3] = 9;
    store_->SetCapitalBlock(Sh("600000"), capital);
    QuoteUpdate q = MakeQuote(Sh("600000"), Day1(10, 0), 10, 100);
    q.snapshot.capital.circulating = 1;  // what the wire brought is not stored
    store_->UpdateQuote(q);
    EXPECT_EQ(q.snapshot.capital.circulating, 1234.0f);
    EXPECT_EQ(q.snapshot.capital.extra[3], 9);
    EXPECT_EQ(store_->GetQuote(Sh("600000"))->capital.total, 5678.0f);
    store_->SetCapital(Sh("600000"), 1, 2);
    EXPECT_EQ(store_->GetQuote(Sh("600000"))->capital.extra[3], 9);
    EXPECT_EQ(store_->GetQuote(Sh("600000"))->capital.circulating, 1.0f);
}

TEST_F(StoreTest, TradeIsDetectedAgainstThePreviousVolumeAndPrice) {
    Quote(Sh("600000"), Day1(10, 0), 10, 100);
    store_->ClearNewTradeFlag(kMarketSH);
    auto flags = [&](StoreTime t, float price, float volume, float lastVolume = 5) {
        QuoteUpdate q = MakeQuote(Sh("600000"), t, price, volume);
        q.snapshot.lastTrade.volume = lastVolume;
        return store_->UpdateQuote(q);
    };
    EXPECT_TRUE(flags(Day1(10, 1), 10, 200) & kQuoteNewTrade);      // volume grew
    EXPECT_FALSE(flags(Day1(10, 2), 10, 200) & kQuoteNewTrade);     // nothing changed
    EXPECT_FALSE(flags(Day1(10, 3), 10, 200.05f) & kQuoteNewTrade); // growth within 0.1
    EXPECT_TRUE(flags(Day1(10, 4), 10.1f, 200.05f) & kQuoteNewTrade);  // price moved
    EXPECT_FALSE(flags(Day1(10, 5), 10.2f, 150) & kQuoteNewTrade);     // volume fell
    EXPECT_FALSE(flags(Day1(10, 6), 10.3f, 300, 0) & kQuoteNewTrade);  // no last trade
    EXPECT_TRUE(store_->NewTradeFlag(kMarketSH));
}

TEST_F(StoreTest, NewDayClearsTodayButKeepsCloseAverageAndCapital) {
    Quote(Sh("600000"), Day1(14, 59), 10, 1000);
    store_->SetCapital(Sh("600000"), 11, 22);
    MinuteSlot m = MakeMinute(Day1(10, 0), 10, 100);
    store_->UpdateMinutes(Sh("600000"), std::span(&m, 1));
    auto ticks = TickRun(Day1(10, 0), 1, 5);
    ASSERT_TRUE(store_->AppendTicks(Sh("600000"), ticks));
    store_->SetMarketCounters(kMarketSH, 1, 2, 3);
    Quote(Sz("000001"), Day1(14, 59), 5, 10);

    QuoteUpdate zero = MakeQuote(Sh("600001"), Day2(9, 31), 8, 10);
    EXPECT_TRUE(store_->UpdateQuote(zero) & kQuoteNewDay);
    StockRecord r;
    store_->GetRecord(Sh("600000"), r);
    EXPECT_FLOAT_EQ(r.quote.prevClose, 9.9f);
    EXPECT_EQ(r.quote.avgVolume5, 5000.0f);
    EXPECT_FLOAT_EQ(r.quote.price5MinAgo, 9.95f);
    EXPECT_EQ(r.quote.capital.circulating, 11.0f);
    EXPECT_EQ(r.quote.bar.close, 0.0f);
    EXPECT_EQ(r.quote.bar.time, 0u);
    EXPECT_EQ(r.quote.book.bidPrice[0], 0.0f);
    EXPECT_EQ(r.bidVolumeSum, 0.0f);
    EXPECT_EQ(r.minuteCount, 0);
    EXPECT_EQ(r.minutes[30].time, 0u);
    EXPECT_EQ(store_->TickCount(Sh("600000")), 0);
    EXPECT_EQ(store_->MarketCounters(kMarketSH), (std::array<uint16_t, 3>{0, 0, 0}));
    EXPECT_EQ(store_->MarketTradingDate(kMarketSH), Day2(9, 31));
    // The other market keeps its day.
    EXPECT_EQ(store_->GetQuote(Sz("000001"))->bar.close, 5.0f);
}

TEST_F(StoreTest, LateQuoteOfAnEarlierDayClearsNothing) {
    Quote(Sh("600000"), Day2(10, 0), 10, 1000);
    MinuteSlot m = MakeMinute(Day2(10, 0), 10, 100);
    store_->UpdateMinutes(Sh("600000"), std::span(&m, 1));
    ASSERT_TRUE(store_->AppendTicks(Sh("600000"), TickRun(Day2(9, 59), 1, 3)));

    // A late quote stamped yesterday (a suspended security, a slow feed).
    QuoteUpdate late = MakeQuote(Sh("600001"), Day1(15, 0), 7, 50);
    unsigned flags = store_->UpdateQuote(late);
    EXPECT_TRUE(flags & kQuoteStored);
    EXPECT_FALSE(flags & kQuoteNewDay);
    EXPECT_EQ(store_->MarketTradingDate(kMarketSH), Day2(10, 0));
    EXPECT_EQ(store_->TickCount(Sh("600000")), 3);
    Series minutes;
    store_->GetMinutes(Sh("600000"), minutes);
    EXPECT_EQ(minutes.size(), 1u);
    // An earlier time of the same day does not move the date back either.
    Quote(Sh("600000"), Day2(9, 45), 10, 900);
    EXPECT_EQ(store_->MarketTradingDate(kMarketSH), Day2(10, 0));
}

TEST_F(StoreTest, CurrentTradingDateIsTheNewestOfTheMarkets) {
    StoreTime before = NowStoreTime();
    StoreTime none = store_->CurrentTradingDate();
    EXPECT_GE(none, before);
    EXPECT_LE(none, NowStoreTime());
    Quote(Sh("600000"), Day1(10, 0), 10, 100);
    Quote(Sz("000001"), Day1(11, 0), 10, 100);
    EXPECT_EQ(store_->CurrentTradingDate(), Day1(11, 0));
}

// ---- Minutes ---------------------------------------------------------------------------------------

TEST_F(StoreTest, MinutesGoToTheirSlotsAndReadBackAsDifferences) {
    Quote(Sh("600000"), Day1(15, 0), 10, 1000);
    std::vector<MinuteSlot> slots = {
        MakeMinute(Day1(9, 25), 9.9f, 10),      // before the open: slot 0
        MakeMinute(Day1(9, 31, 40), 10, 30),    // slot 1, time rounded down
        MakeMinute(Day1(13, 0), 10.2f, 60),     // slot 121
        MakeMinute(Day1(15, 2), 10.1f, 100),    // after the close: slot 241
    };
    ASSERT_TRUE(store_->UpdateMinutes(Sh("600000"), slots));
    StockRecord r;
    store_->GetRecord(Sh("600000"), r);
    EXPECT_EQ(r.minuteCount, 4);
    EXPECT_EQ(r.minutes[0].time, Day1(9, 25));
    EXPECT_EQ(r.minutes[1].time, Day1(9, 31));
    EXPECT_EQ(r.minutes[121].close, 10.2f);
    EXPECT_EQ(r.minutes[241].volume, 100.0f);

    // Re-sending a slot does not count it twice.
    store_->UpdateMinutes(Sh("600000"), std::span(&slots[1], 1));
    store_->GetRecord(Sh("600000"), r);
    EXPECT_EQ(r.minuteCount, 4);

    Series s;
    ASSERT_TRUE(store_->GetMinutes(Sh("600000"), s));
    ASSERT_EQ(s.size(), 4u);
    EXPECT_EQ(s.bars[0].volume, 10.0f);
    EXPECT_EQ(s.bars[1].volume, 20.0f);
    EXPECT_EQ(s.bars[2].volume, 30.0f);
    EXPECT_EQ(s.bars[3].volume, 40.0f);
    EXPECT_FLOAT_EQ(s.bars[3].amount, 100 * 10.1f * 100 - 60 * 10.2f * 100);
    EXPECT_EQ(s.trades[2].volume, 30.0f);
    EXPECT_EQ(s.bars[2].close, 10.2f);
    EXPECT_EQ(s.bars[2].time, Day1(13, 0));
    EXPECT_FALSE(store_->GetMinutes(Sh("600999"), s));
    EXPECT_FALSE(store_->UpdateMinutes(Sh("600999"), slots));
}

TEST_F(StoreTest, MinutesWithoutTimeOrOfAnotherDayAreIgnored) {
    Quote(Sh("600000"), Day2(15, 0), 10, 1000);
    MinuteSlot open = MakeMinute(Day2(9, 30), 10, 10);
    MinuteSlot close = MakeMinute(Day2(15, 0), 10.5f, 500);
    store_->UpdateMinutes(Sh("600000"), std::vector<MinuteSlot>{open, close});
    std::vector<MinuteSlot> bad = {
        MakeMinute(0, 99, 99),                  // no time: not slot 0
        MakeMinute(Day1(9, 30), 98, 98),        // yesterday's open
        MakeMinute(Day1(15, 0), 97, 97),        // yesterday's close
        MakeMinute(Day1(14, 0), 96, 96),
    };
    store_->UpdateMinutes(Sh("600000"), bad);
    StockRecord r;
    store_->GetRecord(Sh("600000"), r);
    EXPECT_EQ(r.minuteCount, 2);
    EXPECT_EQ(r.minutes[0].close, 10.0f);
    EXPECT_EQ(r.minutes[241].close, 10.5f);
    EXPECT_EQ(r.minutes[181].time, 0u);
}

// ---- Minute extras ---------------------------------------------------------------------------------

MinuteExtra Extra(StoreTime t, float value, int16_t rising) {
    MinuteExtra f;
    f.time = static_cast<uint32_t>(UnixFromStoreTime(t));
    f.value = value;
    f.figures[0] = rising;
    f.figures[3] = rising;
    return f;
}

TEST_F(StoreTest, MinuteExtrasAreStoredBySlotAndEmptiedByNewDay) {
    EXPECT_EQ(store_->LastMinuteExtraIndex(1000001), 0);
    std::vector<MinuteExtra> figures = {Extra(Day1(9, 30), 1, 100), Extra(Day1(10, 0), 2, 200),
                                        Extra(Day1(9, 0), 3, 300), Extra(Day1(16, 0), 4, 400)};
    MinuteExtra empty;  // time 0: not stored
    empty.value = 42;
    figures.push_back(empty);
    MinuteExtra negative = Extra(Day1(11, 0), 5, 500);
    negative.time = 0x80000000u;  // not positive
    figures.push_back(negative);
    store_->SetMinuteExtra(1000001, figures);
    MinuteExtraDay day;
    ASSERT_TRUE(store_->GetMinuteExtra(1000001, day));
    EXPECT_EQ(day[0].value, 3.0f);  // 09:00 clamps onto 09:30's slot and comes later
    EXPECT_EQ(day[30].value, 2.0f);
    EXPECT_EQ(day[241].value, 4.0f);
    EXPECT_EQ(day[90].time, 0u);
    EXPECT_EQ(store_->LastMinuteExtraIndex(1000001), 241);
    EXPECT_FALSE(store_->GetMinuteExtra(399001, day));

    store_->NewDay(1);
    EXPECT_FALSE(store_->GetMinuteExtra(1000001, day));
    EXPECT_EQ(store_->LastMinuteExtraIndex(1000001), 0);
}

TEST_F(StoreTest, QuoteOpeningANewDayEmptiesTheMinuteExtras) {
    Quote(Sh("600000"), Day1(15, 0), 10, 1000);
    store_->SetMinuteExtra(1000001, std::vector<MinuteExtra>{Extra(Day1(14, 59), 7, 70)});
    store_->SetMinuteExtra(1, std::vector<MinuteExtra>{Extra(Day1(15, 0), 8, 80)});
    ASSERT_EQ(store_->LastMinuteExtraIndex(1000001), 240);
    // Another quote of the same day keeps them.
    Quote(Sh("600000"), Day1(15, 1), 10, 1100);
    EXPECT_EQ(store_->LastMinuteExtraIndex(1000001), 240);
    // The first quote of the next day: yesterday's 14:59 must not stand in today's chart.
    QuoteUpdate q = MakeQuote(Sh("600000"), Day2(9, 31), 10.2f, 50);
    ASSERT_TRUE(store_->UpdateQuote(q) & kQuoteNewDay);
    MinuteExtraDay day;
    EXPECT_FALSE(store_->GetMinuteExtra(1000001, day));
    EXPECT_FALSE(store_->GetMinuteExtra(1, day));  // the map is shared by all markets
    EXPECT_EQ(store_->LastMinuteExtraIndex(1000001), 0);
    // Today's figures are kept from then on.
    store_->SetMinuteExtra(1000001, std::vector<MinuteExtra>{Extra(Day2(9, 31), 1, 10)});
    Quote(Sh("600000"), Day2(9, 32), 10.2f, 60);
    EXPECT_EQ(store_->LastMinuteExtraIndex(1000001), 1);
}

// ---- Market state ----------------------------------------------------------------------------------

TEST_F(StoreTest, ServerTimeKeepsTheNewestAndSurvivesClearAndReload) {
    store_->SetServerTime(Day1(10, 0));
    store_->SetServerTime(Day1(9, 0));
    EXPECT_EQ(store_->ServerTime(), Day1(10, 0));
    store_->ClearMarkets(7);
    EXPECT_EQ(store_->ServerTime(), Day1(10, 0));
    ASSERT_TRUE(store_->SaveAll());
    EXPECT_EQ(Reload()->ServerTime(), Day1(10, 0));
}

TEST_F(StoreTest, CountersAndFlagsPerMarket) {
    EXPECT_TRUE(store_->SetMarketCounters(kMarketSZ, 7, 8, 9));
    EXPECT_FALSE(store_->SetMarketCounters(0x1234, 1, 2, 3));
    EXPECT_EQ(store_->MarketCounters(kMarketSZ), (std::array<uint16_t, 3>{7, 8, 9}));
    EXPECT_EQ(store_->MarketCounters(kMarketSH), (std::array<uint16_t, 3>{0, 0, 0}));
    Quote(Sz("000001"), Day1(10, 0), 10, 100);
    EXPECT_TRUE(store_->QuotesChanged(kMarketSZ));
    store_->ClearQuotesChanged(kMarketSZ);
    EXPECT_FALSE(store_->QuotesChanged(kMarketSZ));
    EXPECT_TRUE(store_->NewTradeFlag(kMarketSZ));
    store_->ClearNewTradeFlag(kMarketSZ);
    EXPECT_FALSE(store_->NewTradeFlag(kMarketSZ));
}

TEST_F(StoreTest, UnknownMarketIsNotFoundEverywhere) {
    SecurityId bad = MakeSecurityId(0x5858, "600000");
    QuoteUpdate q = MakeQuote(bad, Day1(10, 0), 10, 100);
    EXPECT_EQ(store_->UpdateQuote(q), 0u);
    EXPECT_FALSE(store_->GetCodeEntry(bad));
    EXPECT_EQ(store_->GetName(bad), "");
    StockRecord r;
    EXPECT_FALSE(store_->GetRecord(bad, r));
    Series s;
    EXPECT_FALSE(store_->GetTicks(bad, s));
    EXPECT_FALSE(store_->AppendTicks(bad, TickRun(Day1(10, 0), 1, 2)));
    EXPECT_FALSE(store_->GetMarketIndexEntry(0x5858));
    EXPECT_EQ(store_->MarketTradingDate(0x5858), 0u);
}

// ---- Base data ---------------------------------------------------------------------------------------

TEST_F(StoreTest, ExRightsAndCapitalChangesAreKeptSortedAndCopied) {
    store_->FindOrAdd(Sh("600000"), true);
    ExRightsRecord a{200, 0.1f, 0, 0, 0.5f}, b{100, 0.2f, 0, 0, 0};
    EXPECT_TRUE(store_->SetExRights(Sh("600000"), {a, b}));
    auto list = store_->GetExRights(Sh("600000"));
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].exDate, 100u);
    StockRecord r;
    std::vector<ExRightsRecord> copy;
    store_->GetRecord(Sh("600000"), r, &copy);
    EXPECT_EQ(copy.size(), 2u);
    EXPECT_FALSE(store_->SetExRights(Sh("600999"), {a}));

    CapitalChange c1{Day2(0, 0), 10, 20}, c2{Day1(0, 0), 5, 10};
    EXPECT_TRUE(store_->SetCapitalChanges(Sh("600000"), {c1, c2}));
    auto changes = store_->GetCapitalChanges(Sh("600000"));
    ASSERT_EQ(changes.size(), 2u);
    EXPECT_EQ(changes[0].day, Day1(0, 0));
    EXPECT_TRUE(store_->GetCapitalChanges(Sh("600999")).empty());

    FinanceBlock f;
    f.figures[0] = 123;
    EXPECT_TRUE(store_->SetFinance(Sh("600000"), f));
    store_->GetRecord(Sh("600000"), r);
    EXPECT_EQ(float{r.finance.figures[0]}, 123.0f);

    store_->SetBaseFileChecksum(BaseFile::Power, 0xABCD);
    EXPECT_EQ(store_->BaseFileChecksum(BaseFile::Power), 0xABCDu);
    EXPECT_EQ(store_->BaseFileChecksum(BaseFile::Finance), 0u);
}

TEST_F(StoreTest, LoadAllRunsTheBaseFileLoaderAfterTheMarkets) {
    Quote(Sh("600000"), Day1(10, 0), 10, 100);
    ASSERT_TRUE(store_->SaveAll());
    auto s = NewStore();
    int calls = 0;
    s->SetBaseFileLoader([&](MarketStore& st) {
        ++calls;
        // The markets are loaded and unlocked: the loader may use the store.
        EXPECT_TRUE(st.GetCodeEntry(Sh("600000")));
        st.SetExRights(Sh("600000"), {ExRightsRecord{1, 1, 0, 0, 0}});
    });
    EXPECT_TRUE(s->LoadAll());
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(s->GetExRights(Sh("600000")).size(), 1u);
}

TEST_F(StoreTest, MarketIndexEntryIsFoundOnceItExistsAndForgottenByClear) {
    EXPECT_FALSE(store_->GetMarketIndexEntry(kMarketSH));
    store_->FindOrAdd(Sh("000001"), true);
    ASSERT_TRUE(store_->GetMarketIndexEntry(kMarketSH));
    EXPECT_EQ(store_->GetMarketIndexEntry(kMarketSH)->securityClass, kClassIndex);
    // A name the server sends later is what the next caller gets.
    QuoteUpdate renamed = MakeQuote(Sh("000001"), Day1(10, 0), 3000, 1e6f, "INDEX");
    store_->UpdateQuote(renamed);
    EXPECT_EQ(store_->GetMarketIndexEntry(kMarketSH)->nameText(), "INDEX");
    EXPECT_FALSE(store_->GetMarketIndexEntry(kMarketSZ));
    store_->ClearMarkets(1);
    EXPECT_FALSE(store_->GetMarketIndexEntry(kMarketSH));
    EXPECT_EQ(store_->SecurityCount(kMarketSH), 0);
    EXPECT_FALSE(store_->GetCodeEntry(Sh("000001")));
}

}  // namespace
}  // namespace tessaro
