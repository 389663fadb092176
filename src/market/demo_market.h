// The demo market generator: a complete application directory with both exchanges,
// the system market, day, five-minute and one-minute history, ex-rights events,
// finance and capital-change files, the polyphonic table, and market files holding a
// trading day in progress. Deterministic for a seed: every test, benchmark and the
// demo use it.
//
// Each security is generated on its own (its own random stream), its history written
// at once and only its today's data kept, so that thousands of securities over
// thousands of days never sit in memory together.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "market/records.h"
#include "platform/store_time.h"

namespace tessaro {

struct DemoMarketOptions {
    std::string outDir;            // the application directory to fill
    int securities = 40;           // besides the composite index 999999 of the system market
    int days = 250;                // trading days of day history before today
    uint64_t seed = 1;
    CivilDate today{2025, 6, 13};  // the trading day in progress (a non-trading day: the one before)
    uint32_t now = 13 * 3600 + 45 * 60;  // time of day of the latest quote
    int fiveMinuteDays = 20;       // trading days of five-minute history before today
    int oneMinuteDays = 5;         // and of one-minute history
    bool blocks = true;            // server blocks (industries with indexes, concepts) and 自选股1
};

struct DemoMarketSummary {
    int securities = 0;
    int tradingDays = 0;
    StoreTime today = 0;  // midnight of the trading day in progress
    int exRightsEvents = 0;
    int64_t ticks = 0;
    int blocks = 0;  // block files written
};

// The demo's server blocks: industry blocks (category "行业", index codes
// 999100 + i) and concept blocks (category "概念").
inline constexpr int kDemoIndustryBlocks = 30;
inline constexpr int kDemoConceptBlocks = 10;

// Fills options.outDir. The market is generated into a staging directory beside it
// (".<name>.partial-<pid>") and moved into place at the end, its data/ directory last and
// in one rename, so that a generation cut short never leaves a partial market to be taken
// for a whole one; staging directories of generations that died are removed. False (with
// the reason in *error) when a file cannot be written.
bool GenerateDemoMarket(const DemoMarketOptions& options, DemoMarketSummary* summary = nullptr,
                        std::string* error = nullptr);

// ---- Pieces, exposed for the tests ------------------------------------------------

// Exchange holidays of the demo calendar: New Year's Day, the Spring Festival week,
// 1-3 May and 1-7 October.
bool IsDemoHoliday(const CivilDate& date);
bool IsDemoTradingDay(const CivilDate& date);
// The last trading day on or before `day`, then the `count` trading days before it,
// oldest first (count + 1 days).
std::vector<StoreTime> DemoTradingDays(const CivilDate& day, int count);

struct DemoSecurity {
    SecurityId id;
    uint16_t securityClass = 0;
    std::string nameGbk;
    float basePrice = 0;
};
// The securities of a demo market of `count` securities (the exchanges' indexes SH 000001
// and SZ 399001 always among them), both exchanges, every class.
std::vector<DemoSecurity> DemoSecurities(int count);

// One trading day of 240 minutes, labelled 09:31 .. 11:30 and 13:01 .. 15:00, from the
// day's open, high, low, close and volume: a bridge from open to close touching the high
// and the low, integer lots over a U-shaped day, amounts at the minute's mean price.
std::vector<KLineRecord> DemoMinutes(uint64_t seed, StoreTime day, const KLineRecord& dayBar, int decimals,
                                     int lotSize);

}  // namespace tessaro
