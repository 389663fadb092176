// tessaro-cli market, quote: what the market store holds, per market and per security.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "cli_parsing.h"
#include "cli_printing.h"
#include "command.h"
#include "market/market_store.h"
#include "platform/store_time.h"
#include "platform/text.h"
#include "series_commands.h"

namespace tessaro::cli {
namespace {

constexpr int kDefaultListed = 5;

constexpr const char* kMarketUsage = "market [--appdir DIR] [--first N]";

// Per market: "SH records=N date=YYYY-MM-DD", then the first N securities in code
// order as "  SH600000 name".
int RunMarket(Args& args) {
    std::string appDir = ResolveDir(args);
    std::optional<std::string> firstText = args.option("first");
    if (args.size() != 0) return UsageError(kMarketUsage);
    long long first = kDefaultListed;
    if (firstText && !ParseInteger(*firstText, 0, kMaxSecurities, first)) return UsageError(kMarketUsage);

    std::string error;
    auto session = OpenSession(appDir, kSessionMarkets, error);
    if (!session) return Fail(error);
    const MarketStore& store = session->store();
    for (int slot = 0; slot < kMarketCount; ++slot) {
        const MarketCode m = MarketAtSlot(slot);
        // One copy of the market's list, so that the count and the lines agree.
        std::vector<CodeEntry> entries = store.ListSecurities(MarketBit(m));
        StoreTime date = store.MarketTradingDate(m);
        std::printf("%s records=%zu date=%s\n", std::string(MarketLetters(m)).c_str(), entries.size(),
                    date != 0 ? FormatStoreTime("Y-M-D", date).c_str() : "none");
        for (size_t i = 0; i < entries.size() && i < static_cast<size_t>(first); ++i) {
            const CodeEntry& e = entries[i];
            std::printf("  %s %s\n", SecurityText(e.id).c_str(), GbkToUtf8(e.nameText()).c_str());
        }
    }
    return 0;
}

constexpr const char* kQuoteUsage = "quote [--appdir DIR] SECURITY (e.g. quote SH600000)";

void Line(const char* name, const std::string& value) { std::printf("%s=%s\n", name, value.c_str()); }
void Line(const char* name, float value) { Line(name, FloatText(value)); }
void Line(const std::string& name, float value) { Line(name.c_str(), FloatText(value)); }

// The stored snapshot of one security, one name=value a line, values as stored.
int RunQuote(Args& args) {
    std::string appDir = ResolveDir(args);
    if (args.size() != 1) return UsageError(kQuoteUsage);
    SecurityId id;
    if (!ParseSecurityText(args[0], id)) return UsageError(kQuoteUsage);

    std::string error;
    auto session = OpenSession(appDir, kSessionMarkets, error);
    if (!session) return Fail(error);
    const MarketStore& store = session->store();
    auto record = std::make_unique<StockRecord>();  // 7 KB: not on the stack
    if (!store.GetRecord(id, *record)) return Fail("unknown security " + SecurityText(id) + " in " + appDir);
    const StockRecord& r = *record;
    const QuoteSnapshot& q = r.quote;

    Line("code", SecurityText(r.entry.id));
    Line("name", GbkToUtf8(r.entry.nameText()));
    Line("class", std::to_string(r.entry.securityClass));
    Line("decimals", std::to_string(store.GetDecimals(id.market, r.entry.securityClass)));
    Line("time", q.bar.time != 0 ? FormatStoreTime("Y-M-D H:N:S", q.bar.time) : std::string());
    Line("prevClose", q.prevClose);
    Line("open", q.bar.open);
    Line("high", q.bar.high);
    Line("low", q.bar.low);
    Line("close", q.bar.close);
    Line("volume", q.bar.volume);
    Line("amount", q.bar.amount);
    Line("avgVolume5", q.avgVolume5);
    Line("price5MinAgo", q.price5MinAgo);
    for (int i = 0; i < 5; ++i) {
        const std::string level = std::to_string(i + 1);
        Line("bidPrice" + level, q.book.bidPrice[i]);
        Line("bidVolume" + level, q.book.bidVolume[i]);
    }
    for (int i = 0; i < 5; ++i) {
        const std::string level = std::to_string(i + 1);
        Line("askPrice" + level, q.book.askPrice[i]);
        Line("askVolume" + level, q.book.askVolume[i]);
    }
    Line("lastVolume", q.lastTrade.volume);
    Line("lastAmount", q.lastTrade.amount);
    Line("lastDirection", std::to_string(int{q.lastTrade.direction}));
    Line("sellVolume", q.lastTrade.sellVolume);
    Line("buyVolume", q.lastTrade.buyVolume);
    Line("circulating", q.capital.circulating);
    Line("totalCapital", q.capital.total);
    Line("bidVolumeSum", r.bidVolumeSum);
    Line("askVolumeSum", r.askVolumeSum);
    Line("minutes", std::to_string(r.minuteCount));
    Line("ticks", std::to_string(store.TickCount(id)));
    return 0;
}

CommandRegistration marketCommand("market", kMarketUsage, RunMarket,
                                  "Prints, per market, its record count and date and its first securities.");
CommandRegistration quoteCommand("quote", kQuoteUsage, RunQuote,
                                 "Prints what the market store holds for one security.");

}  // namespace
}  // namespace tessaro::cli
