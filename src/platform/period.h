// The analysis period of a series and its one keyword table: the formula keyword
// ("tick", "min1" ... "TIME"), the display name and the history directory key
// ("min", "fiv", "day").
#pragma once

#include <iosfwd>
#include <string_view>

namespace tessaro {

// Periods carry their stored numbers (settings, formula files, series headers).
enum class Period : int {
    kInvalid = -1,
    kTick = 2,       // 分笔成交: today's ticks
    kMin1 = 3,       // 1分钟线
    kMin5 = 4,       // 5分钟线
    kMin15 = 5,      // 15分钟线
    kMin30 = 6,      // 30分钟线
    kMin60 = 7,      // 60分钟线
    kDay = 8,        // 日线
    kWeek = 9,       // 周线
    kMonth = 10,     // 月线
    kQuarter = 11,   // 季线
    kYear = 12,      // 年线
    kMultiDay = 13,  // 多日线: N days per bar
    kTime = 14,      // 分时: the time-sharing chart
};

inline constexpr Period kPeriodInvalid = Period::kInvalid;
inline constexpr Period kPeriodTick = Period::kTick;
inline constexpr Period kPeriodMin1 = Period::kMin1;
inline constexpr Period kPeriodMin5 = Period::kMin5;
inline constexpr Period kPeriodMin15 = Period::kMin15;
inline constexpr Period kPeriodMin30 = Period::kMin30;
inline constexpr Period kPeriodMin60 = Period::kMin60;
inline constexpr Period kPeriodDay = Period::kDay;
inline constexpr Period kPeriodWeek = Period::kWeek;
inline constexpr Period kPeriodMonth = Period::kMonth;
inline constexpr Period kPeriodQuarter = Period::kQuarter;
inline constexpr Period kPeriodYear = Period::kYear;
inline constexpr Period kPeriodMultiDay = Period::kMultiDay;
inline constexpr Period kPeriodTime = Period::kTime;

inline constexpr int kPeriodCount = 13;  // periods 2..14

// The stored number of a period.
constexpr int PeriodNumber(Period p) { return static_cast<int>(p); }
constexpr bool IsValidPeriod(Period p) { return p >= kPeriodTick && p <= kPeriodTime; }
// A stored number as a period: kPeriodInvalid unless it is 2..14.
constexpr Period PeriodFromNumber(int n) {
    return n >= PeriodNumber(kPeriodTick) && n <= PeriodNumber(kPeriodTime) ? static_cast<Period>(n) : kPeriodInvalid;
}
// Periods whose bars are folded from today's minutes: 3..7 and 14.
constexpr bool IsIntradayPeriod(Period p) {
    return (p >= kPeriodMin1 && p <= kPeriodMin60) || p == kPeriodTime;
}
// Periods built from day bars: 8..13.
constexpr bool IsDayBasedPeriod(Period p) { return p >= kPeriodDay && p <= kPeriodMultiDay; }

// The formula keyword ("tick", "min1" ... "TIME"); matched case-insensitively.
// Any other word is kPeriodInvalid.
Period PeriodFromKeyword(std::string_view keyword);
std::string_view PeriodKeyword(Period p);  // "" for an invalid period
std::string_view PeriodName(Period p);     // UTF-8 display name, "" for an invalid period
// The short caption of the period lists in the formula dialogs ("分笔", "1分钟" ... "分时线").
std::string_view PeriodShortName(Period p);
// The history directory and file extension key: "min", "fiv", "day" for the periods
// 3, 4 and 8 that have history files; "" for every other period.
std::string_view PeriodDirName(Period p);
// The period whose history directory key is exactly `name`; kPeriodInvalid otherwise.
Period PeriodFromDirName(std::string_view name);
// Writes the period's number (for logs and test messages).
std::ostream& operator<<(std::ostream& out, Period p);

// A keyword or the period number 2..14 as written on a command line; kPeriodInvalid otherwise.
Period PeriodFromText(std::string_view text);

}  // namespace tessaro
