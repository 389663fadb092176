// StoreTime: seconds since 1899-12-30 00:00 market time (China Standard Time,
// UTC+8, no daylight saving), the time of the store, the market files and the
// history files. time / 86400 is the market day, time % 86400 the time of day.
//
// All conversions here are pure arithmetic on the civil calendar: the machine's
// time zone never enters.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tessaro {

using StoreTime = uint32_t;

inline constexpr int64_t kSecondsPerDay = 86400;
inline constexpr int64_t kMarketUtcOffset = 28800;        // UTC+8
inline constexpr int64_t kStoreEpochToUnix = 2209161600;  // 1899-12-30 .. 1970-01-01
inline constexpr int32_t kUnixEpochDay = 25569;           // store day of 1970-01-01

struct CivilDate {
    int year = 1899;
    int month = 12;  // 1..12
    int day = 30;    // 1..31
    friend bool operator==(const CivilDate&, const CivilDate&) = default;
};

struct CivilDateTime {
    CivilDate date;
    int hour = 0, minute = 0, second = 0;
};

// Wire time (seconds since 1970-01-01 UTC) to StoreTime, modulo 2^32.
constexpr StoreTime StoreTimeFromUnix(int64_t unixSeconds) {
    return static_cast<StoreTime>(static_cast<uint64_t>(unixSeconds + kMarketUtcOffset + kStoreEpochToUnix));
}
// StoreTime back to seconds since 1970-01-01 UTC.
constexpr int64_t UnixFromStoreTime(StoreTime t) {
    return static_cast<int64_t>(t) - kMarketUtcOffset - kStoreEpochToUnix;
}

constexpr uint32_t StoreDay(StoreTime t) { return t / kSecondsPerDay; }
constexpr uint32_t TimeOfDay(StoreTime t) { return t % kSecondsPerDay; }
constexpr StoreTime StartOfDay(StoreTime t) { return t - t % kSecondsPerDay; }

// Days since 1899-12-30 of a proleptic Gregorian date, and back.
int32_t DayFromCivil(const CivilDate& date);
CivilDate CivilFromDay(int32_t day);
// 0 = Sunday .. 6 = Saturday.
int WeekdayOfDay(int32_t day);

StoreTime MakeStoreTime(int year, int month, int day, int hour = 0, int minute = 0, int second = 0);
CivilDateTime SplitStoreTime(StoreTime t);

// The present time as StoreTime.
StoreTime NowStoreTime();

// Renders a time with the letters Y (year, %04d), M, D, H, N (minute), S (each
// %02d) and W (weekday as one character 日 一 二 三 四 五 六), case-insensitive;
// every other character is copied. The result is UTF-8.
std::string FormatStoreTime(std::string_view format, StoreTime t);

// "YYYY-MM-DD" or "YYYY-MM-DD HH:MM[:SS]" to StoreTime; false on malformed text.
bool ParseStoreTime(std::string_view text, StoreTime& out);

}  // namespace tessaro
