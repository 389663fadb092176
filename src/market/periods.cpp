#include "market/periods.h"

namespace tessaro {
namespace {

int64_t FloorDiv(int64_t a, int64_t b) {
    int64_t q = a / b;
    return (a % b != 0 && ((a < 0) != (b < 0))) ? q - 1 : q;
}

// First label and number of slots of session s for period p.
struct SessionSlots {
    int64_t firstLabel;
    int count;
};

SessionSlots SlotsOfSession(Period p, int s) {
    int64_t length = IntradayBarSeconds(p);
    const SessionRange& session = kSessions[s];
    int64_t first = session.start + length;
    if (p == kPeriodTime && s == 0) first = session.start;
    int count = static_cast<int>((static_cast<int64_t>(session.end) - first) / length + 1);
    return {first, count};
}

}  // namespace

int IntradayBarSeconds(Period p) {
    switch (p) {
        case kPeriodMin1: return 60;
        case kPeriodMin5: return 300;
        case kPeriodMin15: return 900;
        case kPeriodMin30: return 1800;
        case kPeriodMin60: return 3600;
        case kPeriodTime: return 60;
        default: return 0;
    }
}

int MinuteSlotIndex(uint32_t timeOfDay, bool clamp) {
    int before = 0;  // minutes of the earlier sessions
    for (int s = 0; s < kSessionCount; ++s) {
        const SessionRange& session = kSessions[s];
        if (timeOfDay < session.start) {
            if (s == 0) return clamp ? 0 : -1;
            // Between two sessions: the last slot of the earlier one.
            return before + s - 1;
        }
        if (timeOfDay <= session.end)
            return before + s + static_cast<int>((timeOfDay - session.start) / 60);
        before += static_cast<int>((session.end - session.start) / 60);
    }
    return clamp ? before + kSessionCount - 1 : -1;
}

int BarSlotCount(Period p) {
    if (!IsIntradayPeriod(p)) return 0;
    int n = 0;
    for (int s = 0; s < kSessionCount; ++s) n += SlotsOfSession(p, s).count;
    return n;
}

uint32_t BarSlotLabel(Period p, int slot) {
    if (!IsIntradayPeriod(p) || slot < 0) return 0;
    for (int s = 0; s < kSessionCount; ++s) {
        SessionSlots ss = SlotsOfSession(p, s);
        if (slot < ss.count) return static_cast<uint32_t>(ss.firstLabel + int64_t{slot} * IntradayBarSeconds(p));
        slot -= ss.count;
    }
    return 0;
}

int BarSlotOfTime(Period p, uint32_t timeOfDay) {
    if (!IsIntradayPeriod(p)) return -1;
    // The session a time belongs to: the last one starting at or before it (the first
    // session also takes the times before it).
    int session = 0;
    for (int s = 1; s < kSessionCount; ++s)
        if (timeOfDay >= kSessions[s].start) session = s;
    int base = 0;
    for (int s = 0; s < session; ++s) base += SlotsOfSession(p, s).count;
    SessionSlots ss = SlotsOfSession(p, session);
    int64_t length = IntradayBarSeconds(p);
    // First label with label + 59 >= t.
    int64_t need = static_cast<int64_t>(timeOfDay) - 59 - ss.firstLabel;
    int64_t k = need <= 0 ? 0 : (need + length - 1) / length;
    if (k >= ss.count) k = ss.count - 1;
    return base + static_cast<int>(k);
}

int64_t WeekNumberOfDay(int64_t day) {
    // Store day 2 (1900-01-01) was a Monday.
    return FloorDiv(day - 2, 7);
}

int64_t BarDistance(StoreTime t1, StoreTime t2, Period p) {
    int64_t d1 = StoreDay(t1), d2 = StoreDay(t2);
    if (IsIntradayPeriod(p)) {
        int64_t perDay = BarSlotCount(p);
        int64_t i1 = d1 * perDay + BarSlotOfTime(p, TimeOfDay(t1));
        int64_t i2 = d2 * perDay + BarSlotOfTime(p, TimeOfDay(t2));
        return i1 - i2;
    }
    switch (p) {
        case kPeriodDay:
        case kPeriodMultiDay:
            return d1 - d2;
        case kPeriodWeek:
            return WeekNumberOfDay(d1) - WeekNumberOfDay(d2);
        case kPeriodMonth:
        case kPeriodQuarter:
        case kPeriodYear: {
            CivilDate c1 = CivilFromDay(static_cast<int32_t>(d1));
            CivilDate c2 = CivilFromDay(static_cast<int32_t>(d2));
            if (p == kPeriodMonth)
                return (int64_t{c1.year} * 12 + c1.month) - (int64_t{c2.year} * 12 + c2.month);
            if (p == kPeriodQuarter)
                return (int64_t{c1.year} * 4 + (c1.month - 1) / 3) - (int64_t{c2.year} * 4 + (c2.month - 1) / 3);
            return int64_t{c1.year} - c2.year;
        }
        default:
            return t1 > t2 ? 1 : t1 < t2 ? -1 : 0;
    }
}

}  // namespace tessaro
