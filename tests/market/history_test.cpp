// History files: loading, the four write cases, the mended faults and the data maintenance.
#include "market/history.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/bytes.h"
#include "platform/files.h"
#include "test_support/temp_dir.h"

namespace tessaro {
namespace {

KLineRecord Bar(StoreTime time, float close, float volume = 100) {
    KLineRecord b;
    b.time = time;
    b.open = close - 0.5f;
    b.high = close + 1;
    b.low = close - 1;
    b.close = close;
    b.volume = volume;
    b.amount = volume * close * 100;
    b.count1 = 7;
    b.count2 = 55;
    return b;
}

StoreTime Day(int y, int m, int d) { return MakeStoreTime(y, m, d); }
StoreTime Minute(int y, int m, int d, int hh, int mm) { return MakeStoreTime(y, m, d, hh, mm); }

std::vector<uint8_t> BytesOf(const std::vector<KLineRecord>& bars) {
    const auto* p = reinterpret_cast<const uint8_t*>(bars.data());
    return std::vector<uint8_t>(p, p + bars.size() * sizeof(KLineRecord));
}

std::vector<KLineRecord> ReadBars(const std::string& path) {
    Series s;
    EXPECT_TRUE(LoadHistoryFile(path, kPeriodDay, s));
    return s.bars;
}

std::vector<StoreTime> TimesOf(const std::vector<KLineRecord>& bars) {
    std::vector<StoreTime> t;
    for (const auto& b : bars) t.push_back(b.time);
    return t;
}

// Every minute of one trading day: 09:31..11:30 and 13:01..15:00.
std::vector<KLineRecord> TradingDayMinutes(int y, int m, int d, float close) {
    std::vector<KLineRecord> out;
    for (int i = 1; i <= 120; ++i) out.push_back(Bar(Minute(y, m, d, 9, 30) + 60 * i, close));
    for (int i = 1; i <= 120; ++i) out.push_back(Bar(Minute(y, m, d, 13, 0) + 60 * i, close));
    return out;
}

class HistoryTest : public ::testing::Test {
protected:
    std::string file(const std::string& name) { return dir_.path() + "/" + name; }
    TempDir dir_;
};

// --- Loading ---------------------------------------------------------------

TEST_F(HistoryTest, MissingFileIsEmptySuccess) {
    Series s;
    s.push(Bar(Day(2020, 1, 2), 1));
    EXPECT_TRUE(LoadHistoryFile(file("none.day"), kPeriodDay, s));
    EXPECT_TRUE(s.empty());
    EXPECT_EQ(s.period, kPeriodDay);
    // A missing directory is the same.
    EXPECT_TRUE(LoadHistoryFile(file("no/such/dir.day"), kPeriodDay, s));
}

TEST_F(HistoryTest, LoadKeepsCompleteRecordsOfPartialFile) {
    std::vector<KLineRecord> bars = {Bar(Day(2020, 1, 2), 10), Bar(Day(2020, 1, 3), 11), Bar(Day(2020, 1, 6), 12),
                                     Bar(Day(2020, 1, 7), 13)};
    std::vector<uint8_t> bytes = BytesOf(bars);
    bytes.resize(100);  // three whole bars and four bytes of the fourth
    ASSERT_TRUE(WriteFileAtomic(file("a.day"), bytes));
    Series s;
    ASSERT_TRUE(LoadHistoryFile(file("a.day"), kPeriodDay, s));
    ASSERT_EQ(s.size(), 3u);
    EXPECT_EQ(s.bars[2].close, 12);
    EXPECT_EQ(s.orderBooks.size(), 3u);
    EXPECT_EQ(s.trades.size(), 3u);
    EXPECT_EQ(s.capital.size(), 3u);
    EXPECT_GE(s.bars.capacity(), 3u + kHistorySpareBars);
}

TEST_F(HistoryTest, LoadPutsRecordsInOrderKeepingTheLastOfEqualTimes) {
    // Reversed, with 2020-01-03 twice: the later record in the file (close 99) wins.
    std::vector<KLineRecord> bars = {Bar(Day(2020, 1, 7), 13), Bar(Day(2020, 1, 3), 11), Bar(Day(2020, 1, 6), 12),
                                     Bar(Day(2020, 1, 3), 99), Bar(Day(2020, 1, 2), 10)};
    ASSERT_TRUE(WriteFileAtomic(file("r.day"), BytesOf(bars)));
    Series s;
    ASSERT_TRUE(LoadHistoryFile(file("r.day"), kPeriodDay, s, std::vector<CapitalChange>{{Day(2020, 1, 6), 5, 6}}));
    EXPECT_EQ(TimesOf(s.bars), (std::vector<StoreTime>{Day(2020, 1, 2), Day(2020, 1, 3), Day(2020, 1, 6), Day(2020, 1, 7)}));
    EXPECT_EQ(s.bars[1].close, 99);
    ASSERT_EQ(s.trades.size(), 4u);
    ASSERT_EQ(s.capital.size(), 4u);
    EXPECT_EQ(s.capital[1].circulating, 0);  // capital follows the sorted bars
    EXPECT_EQ(s.capital[2].circulating, 5);
    EXPECT_EQ(s.trades[1].volume, s.bars[1].volume);
}

TEST_F(HistoryTest, AFileLongerThanFiftyYearsIsDamagedAndCostsNoMemory) {
    EXPECT_EQ(MaxHistoryRecords(kPeriodDay), 18300u);
    EXPECT_EQ(MaxHistoryRecords(kPeriodMin5), 18300u * 48);
    EXPECT_EQ(MaxHistoryRecords(kPeriodMin1), 18300u * 240);
    // A sparse 256 MB day file: nothing of it may be read into memory.
    {
        int fd = ::open(file("huge.day").c_str(), O_RDWR | O_CREAT, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, 256 << 20), 0);
        ::close(fd);
    }
    Series s;
    std::string error;
    EXPECT_FALSE(LoadHistoryFile(file("huge.day"), kPeriodDay, s, {}, &error));
    EXPECT_TRUE(s.empty());
    EXPECT_LT(s.bars.capacity(), 1000u);
    EXPECT_NE(error.find("damaged"), std::string::npos) << error;
    // Exactly the limit is still a history; one more record is not.
    std::vector<uint8_t> bytes(MaxHistoryRecords(kPeriodDay) * sizeof(KLineRecord));
    ASSERT_TRUE(WriteFileAtomic(file("full.day"), bytes));
    EXPECT_TRUE(LoadHistoryFile(file("full.day"), kPeriodDay, s));
    bytes.resize(bytes.size() + sizeof(KLineRecord));
    ASSERT_TRUE(WriteFileAtomic(file("full.day"), bytes));
    EXPECT_FALSE(LoadHistoryFile(file("full.day"), kPeriodDay, s));
}

TEST_F(HistoryTest, LoadRejectsPeriodsWithoutFiles) {
    ASSERT_TRUE(WriteHistoryFile(file("a.day"), kPeriodDay, std::vector{Bar(Day(2020, 1, 2), 1)}, false));
    Series s;
    for (int number : {2, 5, 6, 7, 9, 13, 14, -1})
        EXPECT_FALSE(LoadHistoryFile(file("a.day"), static_cast<Period>(number), s)) << number;
    AppPaths paths(dir_.path());
    EXPECT_FALSE(LoadHistory(paths, MakeSecurityId(kMarketSH, "600000"), kPeriodWeek, s));
}

TEST_F(HistoryTest, LoadFillsTradeAndCapitalPerBar) {
    std::vector<KLineRecord> bars;
    for (int d = 1; d <= 6; ++d) bars.push_back(Bar(Day(2021, 3, d) , 10 + d, 100.0f * d));
    ASSERT_TRUE(WriteFileAtomic(file("c.day"), BytesOf(bars)));
    // Given out of order: the load must still use the newest change not later than each bar.
    std::vector<CapitalChange> changes = {
        {Day(2021, 3, 5) + 3600, 500, 5000},  // a change stamped during its day counts from that day
        {Day(2021, 3, 2), 200, 2000},
        {Day(2021, 3, 9), 900, 9000},  // after every bar
    };
    Series s;
    ASSERT_TRUE(LoadHistoryFile(file("c.day"), kPeriodDay, s, changes));
    ASSERT_EQ(s.size(), 6u);
    EXPECT_EQ(s.capital[0].circulating, 0);
    EXPECT_EQ(s.capital[1].circulating, 200);
    EXPECT_EQ(s.capital[3].total, 2000);
    EXPECT_EQ(s.capital[4].circulating, 500);
    EXPECT_EQ(s.capital[5].total, 5000);
    for (size_t i = 0; i < s.size(); ++i) {
        EXPECT_EQ(float{s.trades[i].volume}, float{s.bars[i].volume});
        EXPECT_EQ(float{s.trades[i].amount}, float{s.bars[i].amount});
        EXPECT_EQ(s.trades[i].direction, 0);
        EXPECT_EQ(s.orderBooks[i].bidPrice[0], 0);
    }
}

// --- Writing: the four cases ------------------------------------------------

TEST_F(HistoryTest, DayBarStampedDuringTheDayIsStoredAtMidnight) {
    ASSERT_TRUE(WriteHistoryFile(file("a.day"), kPeriodDay, std::vector{Bar(Minute(2022, 5, 6, 14, 59), 5)}, false));
    auto stored = ReadBars(file("a.day"));
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(stored[0].time, Day(2022, 5, 6));
}

TEST_F(HistoryTest, DayWritesOverwriteInsertAndReplace) {
    std::string path = file("a.day");
    ASSERT_TRUE(WriteHistoryFile(path, kPeriodDay,
                                 std::vector{Bar(Day(2022, 5, 2), 1), Bar(Day(2022, 5, 4), 2), Bar(Day(2022, 5, 6), 3)},
                                 false));
    // The day already last in the file: exactly the last record changes.
    ASSERT_TRUE(WriteHistoryFile(path, kPeriodDay, std::vector{Bar(Minute(2022, 5, 6, 15, 0), 30)}, false));
    auto stored = ReadBars(path);
    ASSERT_EQ(stored.size(), 3u);
    EXPECT_EQ(stored[2].close, 30);
    EXPECT_EQ(stored[1].close, 2);
    EXPECT_EQ(FileSize(path), 3 * 32);
    // An older day is inserted in order.
    ASSERT_TRUE(WriteHistoryFile(path, kPeriodDay, std::vector{Bar(Day(2022, 5, 3), 15)}, false));
    stored = ReadBars(path);
    EXPECT_EQ(TimesOf(stored),
              (std::vector<StoreTime>{Day(2022, 5, 2), Day(2022, 5, 3), Day(2022, 5, 4), Day(2022, 5, 6)}));
    EXPECT_EQ(stored[1].close, 15);
    EXPECT_EQ(stored[3].close, 30);
    // A bar whose time equals a stored one replaces it and nothing else.
    ASSERT_TRUE(WriteHistoryFile(path, kPeriodDay, std::vector{Bar(Day(2022, 5, 2), 99)}, false));
    stored = ReadBars(path);
    ASSERT_EQ(stored.size(), 4u);
    EXPECT_EQ(stored[0].close, 99);
    EXPECT_EQ(stored[1].close, 15);
    // A later day is appended.
    ASSERT_TRUE(WriteHistoryFile(path, kPeriodDay, std::vector{Bar(Day(2022, 5, 9), 40)}, false));
    stored = ReadBars(path);
    ASSERT_EQ(stored.size(), 5u);
    EXPECT_EQ(stored[4].close, 40);
}

TEST_F(HistoryTest, TwoDaysOfMinutesReplaceTheLastDayAndAppendTheNext) {
    std::string path = file("a.min");
    auto day1 = TradingDayMinutes(2023, 2, 6, 1);
    auto day2 = TradingDayMinutes(2023, 2, 7, 1);
    ASSERT_TRUE(WriteHistoryFile(path, kPeriodMin1, day1, false));
    ASSERT_TRUE(WriteHistoryFile(path, kPeriodMin1, day2, false));
    auto day2New = TradingDayMinutes(2023, 2, 7, 2);
    auto day3 = TradingDayMinutes(2023, 2, 8, 3);
    std::vector<KLineRecord> both = day2New;
    both.insert(both.end(), day3.begin(), day3.end());
    ASSERT_TRUE(WriteHistoryFile(path, kPeriodMin1, both, false));
    Series s;
    ASSERT_TRUE(LoadHistoryFile(path, kPeriodMin1, s));
    ASSERT_EQ(s.size(), 720u);
    EXPECT_EQ(s.bars[0].close, 1);
    EXPECT_EQ(s.bars[239].close, 1);
    EXPECT_EQ(s.bars[240].close, 2);
    EXPECT_EQ(s.bars[479].close, 2);
    EXPECT_EQ(s.bars[480].close, 3);
    for (size_t i = 1; i < s.size(); ++i) ASSERT_LT(s.bars[i - 1].time, s.bars[i].time);
}

TEST_F(HistoryTest, WritingIntoEmptyOrTooShortFileWritesAllBars) {
    std::string path = file("g.fiv");
    ASSERT_TRUE(WriteFileAtomic(path, std::string_view("garbage!!")));  // 9 bytes, no whole record
    std::vector<KLineRecord> bars = {Bar(Minute(2023, 1, 3, 9, 35), 1), Bar(Minute(2023, 1, 3, 9, 40), 2)};
    ASSERT_TRUE(WriteHistoryFile(path, kPeriodMin5, bars, false));
    EXPECT_EQ(FileSize(path), 64);
    EXPECT_EQ(ReadBars(path)[1].close, 2);
}

TEST_F(HistoryTest, MinuteTimesRoundDownToTheMinute) {
    std::string path = file("r.min");
    ASSERT_TRUE(WriteHistoryFile(path, kPeriodMin1, std::vector{Bar(Minute(2023, 1, 3, 9, 31) + 59, 1)}, false));
    EXPECT_EQ(ReadBars(path)[0].time, Minute(2023, 1, 3, 9, 31));
}

// --- Writing: mended faults ----------------------------------------------------

TEST_F(HistoryTest, AppendAfterPartialRecordStartsAtTheLastCompleteRecord) {
    std::string path = file("p.day");
    std::vector<KLineRecord> bars = {Bar(Day(2020, 1, 2), 10), Bar(Day(2020, 1, 3), 11)};
    std::vector<uint8_t> bytes = BytesOf(bars);
    bytes.insert(bytes.end(), {1, 2, 3, 4, 5, 6, 7});  // a torn third record
    ASSERT_TRUE(WriteFileAtomic(path, bytes));
    ASSERT_TRUE(WriteHistoryFile(path, kPeriodDay, std::vector{Bar(Day(2020, 1, 6), 12)}, false));
    EXPECT_EQ(FileSize(path), 3 * 32);
    auto stored = ReadBars(path);
    ASSERT_EQ(stored.size(), 3u);
    EXPECT_EQ(stored[2].time, Day(2020, 1, 6));
    EXPECT_EQ(stored[2].close, 12);

    // Same with an older bar: the partial record is dropped and the order kept.
    bytes = BytesOf(stored);
    bytes.push_back(9);
    ASSERT_TRUE(WriteFileAtomic(path, bytes));
    ASSERT_TRUE(WriteHistoryFile(path, kPeriodDay, std::vector{Bar(Day(2019, 12, 31), 9)}, false));
    EXPECT_EQ(FileSize(path), 4 * 32);
    EXPECT_EQ(ReadBars(path)[0].close, 9);
}

TEST_F(HistoryTest, NewBarsAreSortedAndDeduplicatedBeforeMerging) {
    std::string path = file("s.day");
    // Out of order, and two bars of one day (10:00 and 14:59): only the later given reaches the file.
    std::vector<KLineRecord> bars = {Bar(Day(2022, 3, 4), 4), Bar(Minute(2022, 3, 2, 10, 0), 21),
                                     Bar(Day(2022, 3, 3), 3), Bar(Minute(2022, 3, 2, 14, 59), 22)};
    ASSERT_TRUE(WriteHistoryFile(path, kPeriodDay, bars, false));
    auto stored = ReadBars(path);
    EXPECT_EQ(TimesOf(stored), (std::vector<StoreTime>{Day(2022, 3, 2), Day(2022, 3, 3), Day(2022, 3, 4)}));
    EXPECT_EQ(stored[0].close, 22);

    // Into an existing file, an unsorted batch reaching back before its end.
    ASSERT_TRUE(WriteHistoryFile(path, kPeriodDay, std::vector{Bar(Day(2022, 3, 7), 7), Bar(Day(2022, 3, 1), 1)}, false));
    stored = ReadBars(path);
    EXPECT_EQ(TimesOf(stored), (std::vector<StoreTime>{Day(2022, 3, 1), Day(2022, 3, 2), Day(2022, 3, 3),
                                                       Day(2022, 3, 4), Day(2022, 3, 7)}));
}

TEST_F(HistoryTest, SameDayTopUpMergesWithTheDaysBars) {
    std::string path = file("t.min");
    std::vector<KLineRecord> morning;
    for (int i = 1; i <= 10; ++i) morning.push_back(Bar(Minute(2023, 4, 3, 9, 30 + i), 1));
    ASSERT_TRUE(WriteHistoryFile(path, kPeriodMin1, morning, false));
    // A top-up of 09:38..09:45: the day's first seven minutes must survive.
    std::vector<KLineRecord> topUp;
    for (int i = 8; i <= 15; ++i) topUp.push_back(Bar(Minute(2023, 4, 3, 9, 30 + i), 2));
    ASSERT_TRUE(WriteHistoryFile(path, kPeriodMin1, topUp, false));
    Series s;
    ASSERT_TRUE(LoadHistoryFile(path, kPeriodMin1, s));
    ASSERT_EQ(s.size(), 15u);
    EXPECT_EQ(s.bars[0].time, Minute(2023, 4, 3, 9, 31));
    EXPECT_EQ(s.bars[6].close, 1);
    EXPECT_EQ(s.bars[7].close, 2);
    EXPECT_EQ(s.bars[14].time, Minute(2023, 4, 3, 9, 45));
    // A top-up strictly after the last minute is an append.
    ASSERT_TRUE(WriteHistoryFile(path, kPeriodMin1, std::vector{Bar(Minute(2023, 4, 3, 9, 50), 3)}, false));
    ASSERT_TRUE(LoadHistoryFile(path, kPeriodMin1, s));
    EXPECT_EQ(s.size(), 16u);
}

TEST_F(HistoryTest, RewriteReplacesTheFileAtomicallyAndAppendKeepsIt) {
    std::string path = file("i.day");
    ASSERT_TRUE(WriteHistoryFile(path, kPeriodDay, std::vector{Bar(Day(2022, 1, 3), 1), Bar(Day(2022, 1, 4), 2)}, false));
    struct stat before {};
    ASSERT_EQ(::stat(path.c_str(), &before), 0);
    // A reader that opened the file before the rewrite keeps reading the whole old file.
    int oldFd = ::open(path.c_str(), O_RDONLY);
    ASSERT_GE(oldFd, 0);
    ASSERT_TRUE(WriteHistoryFile(path, kPeriodDay, std::vector{Bar(Day(2022, 1, 4), 20)}, false));
    struct stat after {};
    ASSERT_EQ(::stat(path.c_str(), &after), 0);
    EXPECT_NE(before.st_ino, after.st_ino);
    KLineRecord old[2];
    ASSERT_EQ(::pread(oldFd, old, sizeof old, 0), static_cast<ssize_t>(sizeof old));
    EXPECT_EQ(old[1].close, 2);
    ::close(oldFd);
    EXPECT_EQ(ReadBars(path)[1].close, 20);
    // No temporary file is left beside it (only the directory's lock file).
    int files = 0;
    for (auto& e : std::filesystem::directory_iterator(dir_.path()))
        files += e.is_regular_file() && e.path().filename() != ".tessaro.lock";
    EXPECT_EQ(files, 1);
    // An append of a later day touches the same file.
    ASSERT_TRUE(WriteHistoryFile(path, kPeriodDay, std::vector{Bar(Day(2022, 1, 5), 3)}, false));
    struct stat appended {};
    ASSERT_EQ(::stat(path.c_str(), &appended), 0);
    EXPECT_EQ(appended.st_ino, after.st_ino);
}

// --- Writing: failures and options ---------------------------------------------

TEST_F(HistoryTest, WriteFailsForOtherPeriodsAndMissingDirectories) {
    std::vector<KLineRecord> bars = {Bar(Day(2022, 1, 3), 1)};
    for (int number : {2, 5, 9, 14, 0})
        EXPECT_FALSE(WriteHistoryFile(file("x.day"), static_cast<Period>(number), bars, true));
    EXPECT_FALSE(FileExists(file("x.day")));
    std::string deep = file("data/sh/day/600000.day");
    EXPECT_FALSE(WriteHistoryFile(deep, kPeriodDay, bars, false));
    EXPECT_FALSE(FileExists(deep));
    EXPECT_TRUE(WriteHistoryFile(deep, kPeriodDay, bars, true));
    EXPECT_EQ(FileSize(deep), 32);
}

TEST_F(HistoryTest, WriteThroughPathsAndLoadBack) {
    AppPaths paths(dir_.path());
    SecurityId id = MakeSecurityId(kMarketSZ, "000001");
    std::vector<KLineRecord> bars = {Bar(Minute(2022, 1, 3, 9, 35), 1), Bar(Minute(2022, 1, 3, 9, 40), 2)};
    ASSERT_TRUE(WriteHistory(paths, id, kPeriodMin5, bars, true));
    EXPECT_TRUE(FileExists(dir_.path() + "/data/sz/fiv/000001.fiv"));
    Series s;
    ASSERT_TRUE(LoadHistory(paths, id, kPeriodMin5, s));
    ASSERT_EQ(s.size(), 2u);
    EXPECT_EQ(s.bars[1].close, 2);
    EXPECT_FALSE(WriteHistory(paths, id, kPeriodMin60, bars, true));
    // A code that would leave its directory names no file.
    EXPECT_FALSE(WriteHistory(paths, MakeSecurityId(kMarketSZ, ".."), kPeriodDay, bars, true));
}

TEST_F(HistoryTest, DayCacheReceivesTheNewestBars) {
    std::string path = file("c.day");
    std::vector<KLineRecord> bars;
    for (int i = 0; i < 400; ++i) bars.push_back(Bar(Day(2020, 1, 1) + 86400u * i, float(i)));
    DayCache cache;
    cache.capacity = 1000;  // never more than 365
    ASSERT_TRUE(WriteHistoryFile(path, kPeriodDay, bars, false, &cache));
    ASSERT_EQ(cache.bars.size(), 365u);
    EXPECT_EQ(cache.bars.front().close, 35);
    EXPECT_EQ(cache.bars.back().close, 399);
    DayCache small;
    small.capacity = 10;
    ASSERT_TRUE(WriteHistoryFile(path, kPeriodDay, std::vector{Bar(Day(2020, 1, 1) + 86400u * 400, 400)}, false, &small));
    ASSERT_EQ(small.bars.size(), 10u);
    EXPECT_EQ(small.bars.back().close, 400);
    EXPECT_EQ(small.bars.front().close, 391);
    // Minute writes leave a given cache alone.
    DayCache untouched;
    untouched.bars.push_back(Bar(1, 1));
    ASSERT_TRUE(WriteHistoryFile(file("c.min"), kPeriodMin1, std::vector{Bar(Minute(2020, 1, 2, 9, 31), 1)}, false, &untouched));
    EXPECT_EQ(untouched.bars.size(), 1u);
}

TEST(HistoryMergeTest, PrepareAndMerge) {
    auto prepared = PrepareNewBars(kPeriodMin5, std::vector{Bar(3600 * 24 * 10 + 125, 1), Bar(3600 * 24 * 10 + 61, 2),
                                                  Bar(3600 * 24 * 10 + 170, 3)});
    ASSERT_EQ(prepared.size(), 2u);
    EXPECT_EQ(prepared[0].time, 3600u * 24 * 10 + 60);
    EXPECT_EQ(prepared[1].time, 3600u * 24 * 10 + 120);
    EXPECT_EQ(prepared[1].close, 3);  // the later given of two bars of one minute

    std::vector<KLineRecord> stored = {Bar(10, 1), Bar(20, 2), Bar(30, 3), Bar(40, 4)};
    auto merged = MergeBars(stored, std::vector{Bar(20, 22), Bar(25, 25), Bar(50, 50)});
    EXPECT_EQ(TimesOf(merged), (std::vector<StoreTime>{10, 20, 25, 30, 40, 50}));
    EXPECT_EQ(merged[1].close, 22);
    EXPECT_EQ(merged[3].close, 3);
    EXPECT_EQ(MergeBars(stored, {}).size(), 4u);
    EXPECT_EQ(MergeBars({}, stored).size(), 4u);
}

// --- Extra data ----------------------------------------------------------------

TEST_F(HistoryTest, ExtraDataLoadsWholeRecords) {
    std::vector<ExtraDayRecord> out;
    EXPECT_TRUE(LoadExtraFile(file("none.exd"), out));
    EXPECT_TRUE(out.empty());

    std::vector<uint8_t> bytes(45);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i);
    ASSERT_TRUE(WriteFileAtomic(file("a.exd"), bytes));
    ASSERT_TRUE(LoadExtraFile(file("a.exd"), out));
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[1].day, LoadLE<uint32_t>(bytes.data() + 20));
    EXPECT_EQ(out[1].figures[15], 39);

    AppPaths paths(dir_.path());
    SecurityId id = MakeSecurityId(kMarketSH, "600000");
    ASSERT_TRUE(CreateDirectories(paths.exdataFile(id)));
    ASSERT_TRUE(WriteFileAtomic(paths.exdataFile(id), bytes));
    EXPECT_EQ(LoadExtra(paths, id).size(), 2u);
}

// --- Data maintenance ------------------------------------------------------------

class RecordingHost : public DataMaintenanceHost {
public:
    bool answer = true;
    std::vector<std::string> questions, captions;
    std::vector<MarketCode> newDays;
    int dispatched = 0;
    bool Confirm(std::string_view q) override {
        questions.emplace_back(q);
        return answer;
    }
    void SetCaption(std::string_view c) override { captions.emplace_back(c); }
    void DispatchPending() override { ++dispatched; }
    void NewDay(MarketCode m) override { newDays.push_back(m); }
};

TEST_F(HistoryTest, DataMaintenanceDeletesTheTickedKinds) {
    AppPaths paths(dir_.path());
    std::vector<KLineRecord> bars = {Bar(Day(2022, 1, 3), 1)};
    SecurityId sh = MakeSecurityId(kMarketSH, "600000"), sz = MakeSecurityId(kMarketSZ, "000001");
    for (Period period : {kPeriodDay, kPeriodMin5, kPeriodMin1})
        for (const auto& id : {sh, sz}) ASSERT_TRUE(WriteHistory(paths, id, period, bars, true));
    ASSERT_TRUE(WriteFileAtomic(paths.dayDownFile(), std::string_view("x")));

    RecordingHost no;
    no.answer = false;
    DataMaintenanceOptions all{true, true, true, true, true};
    EXPECT_FALSE(DeleteHistory(paths, all, no).confirmed);
    EXPECT_TRUE(FileExists(paths.historyFile(sh, kPeriodDay)));
    EXPECT_TRUE(no.newDays.empty());

    RecordingHost yes;
    DataMaintenanceOptions dayOnly;
    dayOnly.deleteDay = true;
    dayOnly.marketMask = MarketBit(kMarketSZ);
    auto result = DeleteHistory(paths, dayOnly, yes);
    EXPECT_TRUE(result.confirmed);
    EXPECT_EQ(result.filesDeleted, 1);
    EXPECT_FALSE(FileExists(paths.historyFile(sz, kPeriodDay)));
    EXPECT_TRUE(FileExists(paths.historyFile(sh, kPeriodDay)));
    EXPECT_TRUE(FileExists(paths.historyFile(sz, kPeriodMin5)));
    ASSERT_EQ(yes.questions.size(), 1u);
    EXPECT_EQ(yes.questions[0], "真的要执行这些操作?");
    ASSERT_EQ(yes.captions.size(), 2u);
    EXPECT_EQ(yes.captions[0], "正在删除 000001.day ...");
    EXPECT_EQ(yes.captions[1], "执行操作完成!");
    EXPECT_EQ(yes.dispatched, 1);

    RecordingHost rest;
    DataMaintenanceOptions others;
    others.deleteFiveMinute = true;
    others.clearToday = true;
    others.deleteDayDownRecord = true;
    result = DeleteHistory(paths, others, rest);
    EXPECT_EQ(result.filesDeleted, 3);  // two five-minute files and daydown.dat
    EXPECT_FALSE(FileExists(paths.historyFile(sh, kPeriodMin5)));
    EXPECT_FALSE(FileExists(paths.dayDownFile()));
    EXPECT_TRUE(FileExists(paths.historyFile(sh, kPeriodMin1)));
    EXPECT_EQ(rest.newDays, (std::vector<MarketCode>{kMarketSH, kMarketSZ, kMarketSystem}));
}

}  // namespace
}  // namespace tessaro
