// Market store: writers storing quotes and ticks while a reader lists securities and
// copies records. Every copy a reader gets must be one whole state of the security, and
// every write must land.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "market/market_store_fixture.h"
#include "platform/text.h"

namespace tessaro {
namespace {

using namespace testing_store;

constexpr int kSecuritiesPerWriter = 8;
constexpr int kUpdates = 400;     // quotes per security
constexpr int kTickEvery = 4;     // a batch of ticks after every fourth quote
constexpr int kTicksPerBatch = 5;
constexpr int kTicksPerSecurity = kUpdates / kTickEvery * kTicksPerBatch;  // 500: five blocks

std::string ExpectedName(const SecurityId& id) { return Utf8ToGbk("测试" + SecurityText(id)); }

// The c-th quote of a security (c = 1, 2, ...): every field a function of c, so that a
// copy mixing two quotes is detected. Values are small integers and quarters: exact floats.
QuoteUpdate NthQuote(const SecurityId& id, int c) {
    const float f = static_cast<float>(c);
    QuoteUpdate q;
    q.entry.id = id;
    q.entry.setName(ExpectedName(id));
    QuoteSnapshot& s = q.snapshot;
    s.avgVolume5 = 3 * f;
    s.prevClose = f + 0.25f;
    s.price5MinAgo = f + 0.5f;
    s.bar.time = Day1(10, 0) + static_cast<StoreTime>(c);
    s.bar.open = f;
    s.bar.high = f + 1;
    s.bar.low = f * 0.5f;
    s.bar.close = f + 0.75f;
    s.bar.volume = 100 * f;
    s.bar.amount = 200 * f;
    for (int j = 0; j < 5; ++j) {
        s.book.bidPrice[j] = f + 10 - static_cast<float>(j);
        s.book.bidVolume[j] = 1;
        s.book.askPrice[j] = f + 20 + static_cast<float>(j);
        s.book.askVolume[j] = 2;
    }
    s.lastTrade.volume = f;
    s.lastTrade.amount = 2 * f;
    s.lastTrade.direction = 1;
    s.lastTrade.sellVolume = f;
    s.lastTrade.buyVolume = 4 * f;
    return q;
}

// Batch n (0, 1, ...) of a security: ticks 5n .. 5n+4, one second and one lot apart from
// 09:30, all before the first quote's time.
std::vector<TickRecord> NthTickBatch(int n) {
    std::vector<TickRecord> out;
    for (int j = 0; j < kTicksPerBatch; ++j) {
        int t = n * kTicksPerBatch + j;
        out.push_back(MakeTick(Day1(9, 30) + static_cast<StoreTime>(t), 10 + 0.25f * static_cast<float>(t % 4),
                               static_cast<float>(t + 1), j % 2 ? 1 : -1));
    }
    return out;
}

// The quote number a snapshot belongs to, or an explanation of why it is no single quote.
int QuoteNumber(const QuoteSnapshot& s, std::string& why) {
    const float f = s.bar.open;
    const int c = static_cast<int>(f);
    if (static_cast<float>(c) != f || c < 1 || c > kUpdates) {
        why = "open " + std::to_string(f) + " is no quote number";
        return 0;
    }
    QuoteSnapshot expected = NthQuote(SecurityId{}, c).snapshot;
    expected.capital = s.capital;  // the store's own
    expected.bar.count1 = expected.bar.count2 = 0;
    if (std::memcmp(&expected, &s, sizeof s) != 0) {
        why = "snapshot of quote " + std::to_string(c) + " mixes in other values (close " + std::to_string(s.bar.close) +
              ", volume " + std::to_string(s.bar.volume) + ", bid1 " + std::to_string(s.book.bidPrice[0]) + ")";
        return 0;
    }
    return c;
}

int StoredTicks(const StockRecord& r) {
    return r.tickBlockCount <= 0 ? 0 : (r.tickBlockCount - 1) * kTicksPerBlock + r.ticksInLastBlock;
}

// The ticks of a security are always a prefix 1, 2, ..., n of whole batches.
bool TicksArePrefix(const Series& s, std::string& why) {
    if (s.size() % kTicksPerBatch != 0) {
        why = std::to_string(s.size()) + " ticks: not whole batches";
        return false;
    }
    for (size_t i = 0; i < s.size(); ++i) {
        if (s.bars[i].volume != static_cast<float>(i + 1) || s.bars[i].time != Day1(9, 30) + i ||
            s.trades[i].volume != 1.0f) {
            why = "tick " + std::to_string(i) + " has volume " + std::to_string(s.bars[i].volume);
            return false;
        }
    }
    return true;
}

struct Writer {
    MarketCode market;
    int firstCode;
    SecurityId Security(int i) const {
        char code[8];
        std::snprintf(code, sizeof code, "%06d", firstCode + i);
        return MakeSecurityId(market, code);
    }
};

// What a writer saw of its own stores.
struct WriterLog {
    int stored = 0, added = 0, trades = 0, newDays = 0, tickFailures = 0;
};

// Security i gets its first quote in round i, so securities are still being added while
// the reader lists them.
void RunWriter(MarketStore& store, const Writer& w, WriterLog& log) {
    for (int round = 0; round < kUpdates + kSecuritiesPerWriter; ++round) {
        for (int i = 0; i < kSecuritiesPerWriter; ++i) {
            const int c = round - i + 1;
            if (c < 1 || c > kUpdates) continue;
            QuoteUpdate q = NthQuote(w.Security(i), c);
            unsigned flags = store.UpdateQuote(q);
            log.stored += (flags & kQuoteStored) != 0;
            log.added += (flags & kQuoteAddedSecurity) != 0;
            log.trades += (flags & kQuoteNewTrade) != 0;
            log.newDays += (flags & kQuoteNewDay) != 0;
            if (c % kTickEvery == 0 && !store.AppendTicks(w.Security(i), NthTickBatch(c / kTickEvery - 1)))
                ++log.tickFailures;
        }
    }
}

// Lists and reads until told to stop, then once more; records what was wrong.
class Reader {
public:
    Reader(const MarketStore& store, std::vector<Writer> writers) : store_(store), writers_(std::move(writers)) {}

    void Run(const std::atomic<bool>& stop) {
        while (!stop.load()) Pass();
        Pass();
    }
    const std::vector<std::string>& problems() const { return problems_; }
    int passes() const { return passes_; }

private:
    void Problem(const std::string& what) {
        if (problems_.size() < 20) problems_.push_back(what);
    }

    bool Known(const SecurityId& id) const {
        for (const Writer& w : writers_)
            for (int i = 0; i < kSecuritiesPerWriter; ++i)
                if (SameSecurity(w.Security(i), id)) return true;
        return false;
    }

    void Pass() {
        ++passes_;
        std::vector<CodeEntry> entries = store_.ListSecurities(3);
        // Per market in code order, each once; no security ever disappears.
        std::map<MarketCode, size_t> count;
        for (size_t i = 0; i < entries.size(); ++i) {
            const CodeEntry& e = entries[i];
            ++count[e.id.market];
            if (!Known(e.id)) Problem("listed a security nobody wrote: " + SecurityText(e.id));
            // The name is set under the same lock that adds the security.
            if (e.nameText() != ExpectedName(e.id)) Problem("listed " + SecurityText(e.id) + " without its name");
            if (i > 0 && entries[i - 1].id.market == e.id.market &&
                CompareNoCase(entries[i - 1].id.codeText(), e.id.codeText()) >= 0)
                Problem("list out of code order at " + SecurityText(e.id));
        }
        for (auto [market, n] : count) {
            if (n < listed_[market]) Problem("the list of a market shrank");
            listed_[market] = n;
        }

        auto record = std::make_unique<StockRecord>();
        for (const CodeEntry& e : entries) {
            const std::string text = SecurityText(e.id);
            if (!store_.GetRecord(e.id, *record)) {
                Problem("listed " + text + " but cannot read its record");
                continue;
            }
            std::string why;
            const int c = QuoteNumber(record->quote, why);
            if (c == 0) {
                Problem(text + ": " + why);
                continue;
            }
            // The rest of the record belongs to the same moment as its quote.
            if (record->bidVolumeSum != 5.0f * static_cast<float>(c) ||
                record->askVolumeSum != 10.0f * static_cast<float>(c))
                Problem(text + ": volume sums " + std::to_string(record->bidVolumeSum) + " after quote " +
                        std::to_string(c));
            const int ticks = StoredTicks(*record);
            const int after = c / kTickEvery * kTicksPerBatch;
            if (ticks != after && !(c % kTickEvery == 0 && ticks == after - kTicksPerBatch))
                Problem(text + ": " + std::to_string(ticks) + " ticks after quote " + std::to_string(c));
            if (c < lastQuote_[text]) Problem(text + ": quote " + std::to_string(c) + " seen after a later one");
            lastQuote_[text] = c;

            if (auto q = store_.GetQuote(e.id)) {
                if (QuoteNumber(*q, why) == 0) Problem(text + " GetQuote: " + why);
            } else {
                Problem(text + ": no quote");
            }
        }
        // One security's ticks per pass, read from the file while they are written.
        if (!entries.empty()) {
            const CodeEntry& e = entries[static_cast<size_t>(passes_) % entries.size()];
            Series s;
            std::string why;
            if (!store_.GetTicks(e.id, s))
                Problem(SecurityText(e.id) + ": cannot read its ticks");
            else if (!TicksArePrefix(s, why))
                Problem(SecurityText(e.id) + " ticks: " + why);
        }
    }

    const MarketStore& store_;
    std::vector<Writer> writers_;
    std::vector<std::string> problems_;
    std::map<MarketCode, size_t> listed_;
    std::map<std::string, int> lastQuote_;
    int passes_ = 0;
};

class StoreConcurrencyTest : public StoreTest {
protected:
    // Runs the writers, one thread each, with the reader on a thread of its own.
    std::vector<WriterLog> RunConcurrently(const std::vector<Writer>& writers) {
        std::vector<WriterLog> logs(writers.size());
        std::atomic<bool> stop{false};
        Reader reader(*store_, writers);
        std::thread readerThread([&] { reader.Run(stop); });
        std::vector<std::thread> threads;
        for (size_t i = 0; i < writers.size(); ++i)
            threads.emplace_back([&, i] { RunWriter(*store_, writers[i], logs[i]); });
        for (std::thread& t : threads) t.join();
        stop = true;
        readerThread.join();
        for (const std::string& p : reader.problems()) ADD_FAILURE() << p;
        EXPECT_GE(reader.passes(), 1);
        return logs;
    }

    // Every quote and every tick is there, as the last write left it.
    void ExpectEverythingLanded(MarketStore& store, const std::vector<Writer>& writers) {
        auto record = std::make_unique<StockRecord>();
        for (const Writer& w : writers) {
            for (int i = 0; i < kSecuritiesPerWriter; ++i) {
                const SecurityId id = w.Security(i);
                SCOPED_TRACE(SecurityText(id));
                ASSERT_TRUE(store.GetRecord(id, *record));
                std::string why;
                EXPECT_EQ(QuoteNumber(record->quote, why), kUpdates) << why;
                EXPECT_EQ(record->bidVolumeSum, 5.0f * kUpdates);
                EXPECT_EQ(record->entry.nameText(), ExpectedName(id));
                EXPECT_EQ(store.TickCount(id), kTicksPerSecurity);
                Series s;
                ASSERT_TRUE(store.GetTicks(id, s));
                ASSERT_EQ(s.size(), static_cast<size_t>(kTicksPerSecurity));
                EXPECT_TRUE(TicksArePrefix(s, why)) << why;
                EXPECT_EQ(s.bars[kTicksPerSecurity - 1].close, 10.75f);  // tick 499: 10 + 0.25 * 3
                EXPECT_EQ(s.trades[0].direction, -1);
                EXPECT_EQ(s.trades[1].direction, 1);
            }
        }
    }
};

TEST_F(StoreConcurrencyTest, WritersInBothExchangesAndAReader) {
    const std::vector<Writer> writers = {{kMarketSH, 600000}, {kMarketSZ, 1}};
    std::vector<WriterLog> logs = RunConcurrently(writers);
    for (const WriterLog& log : logs) {
        EXPECT_EQ(log.stored, kSecuritiesPerWriter * kUpdates);
        EXPECT_EQ(log.added, kSecuritiesPerWriter);
        // The volume grows with every quote, so every one is a trade.
        EXPECT_EQ(log.trades, kSecuritiesPerWriter * kUpdates);
        // Each market's day is opened once, by its first quote.
        EXPECT_EQ(log.newDays, 1);
        EXPECT_EQ(log.tickFailures, 0);
    }
    EXPECT_EQ(store_->SecurityCount(kMarketSH), kSecuritiesPerWriter);
    EXPECT_EQ(store_->SecurityCount(kMarketSZ), kSecuritiesPerWriter);
    EXPECT_EQ(store_->MarketTradingDate(kMarketSH), Day1(10, 0) + kUpdates);
    EXPECT_EQ(store_->MarketTradingDate(kMarketSZ), Day1(10, 0) + kUpdates);
    ExpectEverythingLanded(*store_, writers);

    // What was written concurrently survives a save and a restart, byte for byte.
    ASSERT_TRUE(store_->SaveAll());
    auto reloaded = Reload();
    ExpectEverythingLanded(*reloaded, writers);
    auto a = std::make_unique<StockRecord>();
    auto b = std::make_unique<StockRecord>();
    for (const SecurityId& id : store_->ListSecurityIds(3)) {
        ASSERT_TRUE(store_->GetRecord(id, *a));
        ASSERT_TRUE(reloaded->GetRecord(id, *b));
        EXPECT_EQ(std::memcmp(a.get(), b.get(), sizeof(StockRecord)), 0) << SecurityText(id);
    }
}

TEST_F(StoreConcurrencyTest, TwoWritersInOneMarketAndAReader) {
    // Both writers add securities to the same index and take tick blocks from the same counter.
    const std::vector<Writer> writers = {{kMarketSH, 600000}, {kMarketSH, 601000}};
    std::vector<WriterLog> logs = RunConcurrently(writers);
    int newDays = 0;
    for (const WriterLog& log : logs) {
        EXPECT_EQ(log.stored, kSecuritiesPerWriter * kUpdates);
        EXPECT_EQ(log.added, kSecuritiesPerWriter);
        EXPECT_EQ(log.tickFailures, 0);
        newDays += log.newDays;
    }
    // Only one of the two opened the day: the other's first quote found it open.
    EXPECT_EQ(newDays, 1);
    EXPECT_EQ(store_->SecurityCount(kMarketSH), 2 * kSecuritiesPerWriter);
    ExpectEverythingLanded(*store_, writers);
    // 16 securities of five blocks each from one counter: a block handed out twice would
    // have broken a security's ticks above, and makes the reload drop the later owner.
    ASSERT_TRUE(store_->SaveAll());
    auto reloaded = Reload();
    EXPECT_EQ(reloaded->SecurityCount(kMarketSH), 2 * kSecuritiesPerWriter);
    ExpectEverythingLanded(*reloaded, writers);
}

// ---- Minute extras: written on one thread, read on others ---------------------------

// Batch v of a key: a figure for every one of the 242 minute slots, each carrying v.
std::vector<MinuteExtra> ExtraBatch(int v) {
    std::vector<MinuteExtra> out;
    for (StoreTime session : {Day1(9, 30), Day1(13, 0)})
        for (int m = 0; m <= 120; ++m) {
            MinuteExtra f;
            f.time = static_cast<uint32_t>(UnixFromStoreTime(session + 60 * static_cast<StoreTime>(m)));
            f.value = static_cast<float>(v);
            for (int16_t& x : f.figures) x = static_cast<int16_t>(v);
            out.push_back(f);
        }
    return out;
}

TEST_F(StoreConcurrencyTest, MinuteExtrasReadOnWorkersWhileWrittenAndCleared) {
    ASSERT_EQ(ExtraBatch(1).size(), static_cast<size_t>(kMinuteSlots));
    constexpr int kKeys = 4;
    constexpr int kBatches = 300;
    std::atomic<bool> stop{false};
    std::atomic<int> torn{0}, seen{0};
    // The series loader's view: one whole batch per read, or nothing after a clear.
    auto reader = [&] {
        MinuteExtraDay day;
        while (!stop.load()) {
            for (int key = 1; key <= kKeys; ++key) {
                const int last = store_->LastMinuteExtraIndex(1000000 + key);
                if (last != 0 && last != kMinuteSlots - 1) ++torn;
                if (!store_->GetMinuteExtra(1000000 + key, day)) continue;
                ++seen;
                const float v = day[0].value;
                for (const MinuteExtra& f : day)
                    if (f.value != v || f.figures[5] != static_cast<int16_t>(v) || f.time == 0) ++torn;
            }
            // Operations over several markets lock them one after another.
            (void)store_->CurrentTradingDate();
            (void)store_->FindByText("600000");
        }
    };
    std::thread r1(reader), r2(reader);
    std::thread writer([&] {
        for (int v = 1; v < kBatches; ++v) {
            for (int key = 1; key <= kKeys; ++key) store_->SetMinuteExtra(1000000 + key, ExtraBatch(v));
            if (v % 50 == 0) store_->ClearMinuteExtras();
        }
    });
    // Quotes of a new day empty the map from yet another thread.
    std::thread quoter([&] {
        for (int day = 0; day < 20; ++day) {
            QuoteUpdate q = NthQuote(Sh("600000"), 1);
            q.snapshot.bar.time = Day2(10, 0) + 86400u * static_cast<StoreTime>(day);
            store_->UpdateQuote(q);
        }
    });
    writer.join();
    quoter.join();
    // The last batch, once nothing clears any more, while the readers still read.
    store_->SetMinuteExtra(1000001, ExtraBatch(kBatches));
    stop = true;
    r1.join();
    r2.join();
    EXPECT_EQ(torn.load(), 0);
    EXPECT_GT(seen.load(), 0);
    MinuteExtraDay day;
    ASSERT_TRUE(store_->GetMinuteExtra(1000001, day));
    EXPECT_EQ(day[241].value, static_cast<float>(kBatches));
}

}  // namespace
}  // namespace tessaro
