#include "platform/store_time.h"

#include <charconv>
#include <chrono>
#include <cstdio>

namespace tessaro {

// Civil-calendar conversions after H. Hinnant's days_from_civil, shifted so that
// day 0 is 1899-12-30.
int32_t DayFromCivil(const CivilDate& date) {
    int y = date.year - (date.month <= 2 ? 1 : 0);
    int era = (y >= 0 ? y : y - 399) / 400;
    unsigned yoe = static_cast<unsigned>(y - era * 400);
    unsigned mp = static_cast<unsigned>(date.month > 2 ? date.month - 3 : date.month + 9);
    unsigned doy = (153 * mp + 2) / 5 + static_cast<unsigned>(date.day) - 1;
    unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    int64_t daysSince1970 = static_cast<int64_t>(era) * 146097 + doe - 719468;
    return static_cast<int32_t>(daysSince1970 + kUnixEpochDay);
}

CivilDate CivilFromDay(int32_t day) {
    int64_t z = static_cast<int64_t>(day) - kUnixEpochDay + 719468;
    int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    unsigned doe = static_cast<unsigned>(z - era * 146097);
    unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    int64_t y = static_cast<int64_t>(yoe) + era * 400;
    unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    unsigned mp = (5 * doy + 2) / 153;
    unsigned d = doy - (153 * mp + 2) / 5 + 1;
    unsigned m = mp < 10 ? mp + 3 : mp - 9;
    return CivilDate{static_cast<int>(y + (m <= 2 ? 1 : 0)), static_cast<int>(m), static_cast<int>(d)};
}

int WeekdayOfDay(int32_t day) {
    // 1899-12-30 was a Saturday.
    int w = static_cast<int>((static_cast<int64_t>(day) + 6) % 7);
    return w < 0 ? w + 7 : w;
}

StoreTime MakeStoreTime(int year, int month, int day, int hour, int minute, int second) {
    int64_t days = DayFromCivil(CivilDate{year, month, day});
    return static_cast<StoreTime>(days * kSecondsPerDay + hour * 3600 + minute * 60 + second);
}

CivilDateTime SplitStoreTime(StoreTime t) {
    CivilDateTime out;
    out.date = CivilFromDay(static_cast<int32_t>(StoreDay(t)));
    uint32_t s = TimeOfDay(t);
    out.hour = static_cast<int>(s / 3600);
    out.minute = static_cast<int>(s / 60 % 60);
    out.second = static_cast<int>(s % 60);
    return out;
}

StoreTime NowStoreTime() {
    auto now = std::chrono::system_clock::now();
    return StoreTimeFromUnix(std::chrono::duration_cast<std::chrono::seconds>(now.time_since_epoch()).count());
}

std::string FormatStoreTime(std::string_view format, StoreTime t) {
    static const char* const kWeekdays[7] = {"日", "一", "二", "三", "四", "五", "六"};
    CivilDateTime c = SplitStoreTime(t);
    std::string out;
    char buf[16];
    for (char ch : format) {
        int value = -1;
        switch (ch) {
            case 'Y': case 'y':
                std::snprintf(buf, sizeof buf, "%04d", c.date.year);
                out += buf;
                continue;
            case 'M': case 'm': value = c.date.month; break;
            case 'D': case 'd': value = c.date.day; break;
            case 'H': case 'h': value = c.hour; break;
            case 'N': case 'n': value = c.minute; break;
            case 'S': case 's': value = c.second; break;
            case 'W': case 'w':
                out += kWeekdays[WeekdayOfDay(static_cast<int32_t>(StoreDay(t)))];
                continue;
            default:
                out += ch;
                continue;
        }
        std::snprintf(buf, sizeof buf, "%02d", value);
        out += buf;
    }
    return out;
}

namespace {
// Digits only: a sign would let "-1:00" through as an hour.
bool ParseInt(std::string_view s, int& out) {
    if (s.empty()) return false;
    for (char c : s)
        if (c < '0' || c > '9') return false;
    auto r = std::from_chars(s.data(), s.data() + s.size(), out);
    return r.ec == std::errc() && r.ptr == s.data() + s.size();
}
}  // namespace

namespace {
// A civil date and time as StoreTime; false when it lies beyond 2036-02-05 06:28:15,
// the last moment 32 bits of seconds hold, instead of wrapping as MakeStoreTime does.
bool MakeStoreTimeChecked(int year, int month, int day, int hour, int minute, int second, StoreTime& out) {
    int64_t seconds = static_cast<int64_t>(DayFromCivil(CivilDate{year, month, day})) * kSecondsPerDay +
                      hour * 3600 + minute * 60 + second;
    if (seconds < 0 || seconds > int64_t{0xFFFFFFFF}) return false;
    out = static_cast<StoreTime>(seconds);
    return true;
}
}  // namespace

bool ParseStoreTime(std::string_view text, StoreTime& out) {
    // YYYY-MM-DD[ HH:MM[:SS]]; also accepts YYYYMMDD.
    int y, m, d, h = 0, n = 0, s = 0;
    std::string_view date = text.substr(0, text.find(' '));
    std::string_view time = date.size() < text.size() ? text.substr(date.size() + 1) : std::string_view{};
    if (date.size() == 10 && date[4] == '-' && date[7] == '-') {
        if (!ParseInt(date.substr(0, 4), y) || !ParseInt(date.substr(5, 2), m) || !ParseInt(date.substr(8, 2), d)) return false;
    } else if (date.size() == 8) {
        if (!ParseInt(date.substr(0, 4), y) || !ParseInt(date.substr(4, 2), m) || !ParseInt(date.substr(6, 2), d)) return false;
    } else {
        return false;
    }
    if (!time.empty()) {
        if (time.size() < 5 || time[2] != ':' || !ParseInt(time.substr(0, 2), h) || !ParseInt(time.substr(3, 2), n)) return false;
        if (time.size() == 8 && (time[5] != ':' || !ParseInt(time.substr(6, 2), s))) return false;
        if (time.size() != 5 && time.size() != 8) return false;
    }
    if (y < 1900 || y > 2099 || m < 1 || m > 12 || d < 1 || d > 31 || h > 23 || n > 59 || s > 59) return false;
    if (CivilFromDay(DayFromCivil({y, m, d})) != CivilDate{y, m, d}) return false;
    return MakeStoreTimeChecked(y, m, d, h, n, s, out);
}


}  // namespace tessaro
