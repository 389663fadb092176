// The trading sessions, minute slots and the bar slots into which intraday data
// is folded; the period type and its keywords are in platform/period.h.
#pragma once

#include <cstdint>
#include <string_view>

#include "platform/period.h"
#include "platform/store_time.h"

namespace tessaro {

inline constexpr int kDefaultMultiDay = 5;

// Bar length in seconds of an intraday period (period 14 counts as one minute); 0 otherwise.
int IntradayBarSeconds(Period p);

// The two trading sessions of a day, in seconds after midnight.
struct SessionRange {
    uint32_t start;
    uint32_t end;
};
inline constexpr int kSessionCount = 2;
inline constexpr SessionRange kSessions[kSessionCount] = {{34200, 41400}, {46800, 54000}};
inline constexpr int kTradingMinutes = 240;

// Minute slot index 0..241 of a time of day (seconds). Before 09:30 gives -1, or 0 when
// clamping; after 15:00 gives -1, or 241 when clamping; the lunch break gives 120.
int MinuteSlotIndex(uint32_t timeOfDay, bool clamp);

// Bar slots of an intraday period: labels (seconds after midnight) per session, starting
// at session start + bar length (for period 14 the first session starts at its start) and
// stepping by the bar length up to the session end.
// Number of slots in a day; 0 for a period that is not intraday.
int BarSlotCount(Period p);
// The label of slot i (seconds after midnight); 0 when i is out of range.
uint32_t BarSlotLabel(Period p, int slot);
// The slot a time of day belongs to: the first slot of its session whose label + 59 s is
// not earlier than the time. The first slot also takes the times before its label; the
// last slot of a session takes the times up to the next session; the last slot of the
// day those up to 23:59:59. -1 for a period that is not intraday.
int BarSlotOfTime(Period p, uint32_t timeOfDay);

// Number of period bars between two times, negative when t1 lies before t2.
// Intraday periods count trading bars by their slot labels (for sixty minutes
// 10:30, 11:30, 14:00, 15:00), days (and the multi-day period) compare the day,
// weeks count Monday-based calendar weeks, months, quarters and years their
// calendar numbers; ticks give the sign of t1 - t2.
int64_t BarDistance(StoreTime t1, StoreTime t2, Period p);

// Monday-based week number of a store day (days since 1899-12-30).
int64_t WeekNumberOfDay(int64_t day);

}  // namespace tessaro
