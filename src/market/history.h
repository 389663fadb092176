// Local history files: one headerless array of 32-byte bars per security and
// stored period (data/<mk>/min|fiv|day/<code>.<per>), plus the read-only daily
// extra figures (data/<mk>/exdata/<code>.exd).
//
// Consistency without reader locks: a writer holds the path's write lock
// (FileLockRegistry) and either appends whole records after the last complete
// record of a file whose length is a multiple of 32, or builds the new contents
// in a temporary file and renames it over the old one. A load that runs at the
// same time therefore reads the old file, or the old file plus some whole
// appended bars, or the new file; never a torn bar.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "app/paths.h"
#include "market/records.h"
#include "market/series.h"

namespace tessaro {

inline constexpr size_t kHistoryRecordSize = sizeof(KLineRecord);
// Spare capacity a load leaves for today's bars.
inline constexpr size_t kHistorySpareBars = 5;
inline constexpr size_t kDayCacheMax = 365;

// Periods with history files: 3 (one-minute), 4 (five-minute), 8 (day).
constexpr bool IsHistoryPeriod(Period period) {
    return period == kPeriodMin1 || period == kPeriodMin5 || period == kPeriodDay;
}

#pragma pack(push, 1)
// 20 bytes: one day of the extra-data file; the 16 figure bytes are carried
// unchanged into the capital data of that day's bar.
struct ExtraDayRecord {
    StoreTime day = 0;
    uint8_t figures[16] = {};
};
static_assert(sizeof(ExtraDayRecord) == 20);
#pragma pack(pop)

// --- Loading ---------------------------------------------------------------

// Fills each bar's trade data with its own volume and amount, and its capital
// data with the newest capital change whose day is not later than the bar's
// day (zero before the first change). `changes` should be sorted by day; an
// unsorted list is sorted first.
void AttachBarData(Series& series, std::span<const CapitalChange> changes);

// The most records a history file of the period can hold: 50 years of bars
// (366 days a year; 240 one-minute or 48 five-minute bars a day). A longer file
// is damaged, whatever its contents.
size_t MaxHistoryRecords(Period period);

// Loads the history file at `path` into `out` (cleared first; period set).
// A missing file is an empty series and success; a trailing partial record is
// ignored; records out of time order are put in order, and of several with one
// time the last in the file is kept. A read error, or a file longer than
// MaxHistoryRecords, is failure (an empty series, the reason in *error).
// With `barsOnly` only the bars are read: the order books, trade and capital data stay
// empty (for callers that read none of them; a day file of 4,000 bars then costs 128 KB
// instead of half a megabyte of zeroed per-bar data).
bool LoadHistoryFile(const std::string& path, Period period, Series& out,
                     std::span<const CapitalChange> capitalChanges = {}, std::string* error = nullptr,
                     bool barsOnly = false);

// The history of one security in period 3, 4 or 8; any other period fails.
bool LoadHistory(const AppPaths& paths, const SecurityId& id, Period period, Series& out,
                 std::span<const CapitalChange> capitalChanges = {}, bool barsOnly = false);

// --- Writing ---------------------------------------------------------------

// The stored time of a bar: one-minute and five-minute bars start on a whole
// minute, day bars at the local midnight of their day. Other periods: unchanged.
StoreTime NormaliseBarTime(StoreTime time, Period period);

// New bars as they are stored: times normalised, sorted, and of several bars
// with one time only the last given kept.
std::vector<KLineRecord> PrepareNewBars(Period period, std::span<const KLineRecord> bars);

// Merges new bars (prepared) into stored bars: stored bars older than the first
// new bar stay as they are; the rest are merged with the new bars in time order,
// a new bar replacing a stored bar of the same time.
std::vector<KLineRecord> MergeBars(std::span<const KLineRecord> stored, std::span<const KLineRecord> fresh);

// The newest day bars of a day file, refreshed by every day write that asks.
struct DayCache {
    size_t capacity = kDayCacheMax;  // at most kDayCacheMax are kept
    std::vector<KLineRecord> bars;   // oldest first
};

// Writes new bars into the history file at `path` under its write lock.
// A later bar than the file's last is appended in place; anything else rewrites
// the file through a temporary file and a rename. With createDirectories the
// file's directories are made first. When dayCache is given and the period is 8,
// it receives the file's newest bars afterwards. False on any error, the old
// file then left whole.
bool WriteHistoryFile(const std::string& path, Period period, std::span<const KLineRecord> bars,
                      bool createDirectories, DayCache* dayCache = nullptr);

bool WriteHistory(const AppPaths& paths, const SecurityId& id, Period period, std::span<const KLineRecord> bars,
                  bool createDirectories, DayCache* dayCache = nullptr);

// --- Extra data --------------------------------------------------------------

// The whole .exd file under its read lock; a missing file is no records and
// success; a trailing partial record is ignored.
bool LoadExtraFile(const std::string& path, std::vector<ExtraDayRecord>& out);
std::vector<ExtraDayRecord> LoadExtra(const AppPaths& paths, const SecurityId& id);

// --- Local data maintenance ("本地数据管理") ---------------------------------

struct DataMaintenanceOptions {
    bool deleteDay = false;          // 日线数据
    bool deleteFiveMinute = false;   // 5分钟数据
    bool deleteOneMinute = false;    // 1分钟数据
    bool clearToday = false;         // today's data of every market
    bool deleteDayDownRecord = false;  // daydown.dat
    unsigned marketMask = 7;         // MarketBit of the markets whose history goes
};

// What the maintenance dialog does around the work; texts are UTF-8.
class DataMaintenanceHost {
public:
    virtual ~DataMaintenanceHost() = default;
    // Yes/No question; false cancels everything.
    virtual bool Confirm(std::string_view question) = 0;
    virtual void SetCaption(std::string_view caption) = 0;
    // Lets the user interface breathe between files.
    virtual void DispatchPending() {}
    // Starts a new day in the market store for one market.
    virtual void NewDay(MarketCode market) = 0;
};

struct DataMaintenanceResult {
    bool confirmed = false;
    int filesDeleted = 0;
    int failures = 0;  // files that could not be removed
};

inline constexpr std::string_view kMaintenanceQuestion = "真的要执行这些操作?";
inline constexpr std::string_view kMaintenanceDeleting = "正在删除 %s ...";
inline constexpr std::string_view kMaintenanceDone = "执行操作完成!";

DataMaintenanceResult DeleteHistory(const AppPaths& paths, const DataMaintenanceOptions& options,
                                    DataMaintenanceHost& host);

}  // namespace tessaro
