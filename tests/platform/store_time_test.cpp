#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "platform/store_time.h"

namespace tessaro {
namespace {

TEST(StoreTime, EpochsAndWireConversion) {
    EXPECT_EQ(DayFromCivil({1899, 12, 30}), 0);
    EXPECT_EQ(DayFromCivil({1970, 1, 1}), 25569);
    EXPECT_EQ(CivilFromDay(25569), (CivilDate{1970, 1, 1}));
    // 1970-01-01 00:00 UTC is 08:00 market time.
    EXPECT_EQ(StoreTimeFromUnix(0), 25569u * 86400 + 8 * 3600);
    EXPECT_EQ(UnixFromStoreTime(StoreTimeFromUnix(1700000000)), 1700000000);
    // 2024-02-29 09:30 market time = 01:30 UTC.
    StoreTime t = MakeStoreTime(2024, 2, 29, 9, 30);
    EXPECT_EQ(UnixFromStoreTime(t), 1709170200);
}

TEST(StoreTime, CalendarRoundTripOverCenturies) {
    for (int32_t day = 0; day < 80000; day += 7) {
        CivilDate d = CivilFromDay(day);
        ASSERT_EQ(DayFromCivil(d), day) << d.year << "-" << d.month << "-" << d.day;
    }
    EXPECT_EQ(CivilFromDay(DayFromCivil({2000, 2, 29})), (CivilDate{2000, 2, 29}));
    EXPECT_EQ(DayFromCivil({2100, 3, 1}) - DayFromCivil({2100, 2, 28}), 1);  // 2100 is no leap year
}

TEST(StoreTime, FormatLettersAndWeekday) {
    StoreTime t = MakeStoreTime(2026, 12, 9, 14, 5, 7);  // a Wednesday
    EXPECT_EQ(FormatStoreTime("Y-M-D H:N:S", t), "2026-12-09 14:05:07");
    EXPECT_EQ(FormatStoreTime("y-m-d(w)", t), "2026-12-09(三)");
    EXPECT_EQ(FormatStoreTime("H:N", t), "14:05");
    EXPECT_EQ(FormatStoreTime("[Y]", MakeStoreTime(2027, 1, 3)), "[2027]");
    EXPECT_EQ(FormatStoreTime("W", MakeStoreTime(2027, 1, 3)), "日");
    EXPECT_EQ(FormatStoreTime("W", 0), "六");  // 1899-12-30 was a Saturday
}

TEST(StoreTime, IndependentOfMachineTimeZone) {
    const char* old = std::getenv("TZ");
    std::string saved = old ? old : "";
    for (const char* zone : {"UTC", "America/New_York", "Asia/Shanghai"}) {
        setenv("TZ", zone, 1);
        tzset();
        EXPECT_EQ(FormatStoreTime("Y-M-D H:N", StoreTimeFromUnix(1709170200)), "2024-02-29 09:30") << zone;
    }
    if (old) setenv("TZ", saved.c_str(), 1); else unsetenv("TZ");
    tzset();
}

TEST(StoreTime, ParsesDatesAndRejectsNonsense) {
    StoreTime t = 0;
    ASSERT_TRUE(ParseStoreTime("2024-02-29", t));
    EXPECT_EQ(t, MakeStoreTime(2024, 2, 29));
    ASSERT_TRUE(ParseStoreTime("2024-02-29 13:01", t));
    EXPECT_EQ(t, MakeStoreTime(2024, 2, 29, 13, 1));
    EXPECT_FALSE(ParseStoreTime("2023-02-29", t));
    EXPECT_FALSE(ParseStoreTime("2024-13-01", t));
    EXPECT_FALSE(ParseStoreTime("2024-02-29 25:00", t));
    EXPECT_FALSE(ParseStoreTime("garbage", t));
    EXPECT_FALSE(ParseStoreTime("", t));
    // Signs are not digits: a negative field must not count back from midnight.
    EXPECT_FALSE(ParseStoreTime("2024-02-29 -1:00", t));
    EXPECT_FALSE(ParseStoreTime("2024-02-29 13:-1", t));
    EXPECT_FALSE(ParseStoreTime("2024-02-29 13:01:-1", t));
    EXPECT_FALSE(ParseStoreTime("+024-02-29", t));
    EXPECT_FALSE(ParseStoreTime("2024-+2-29", t));
    // The last second of a day and the first of the next are both fine.
    ASSERT_TRUE(ParseStoreTime("2024-02-29 23:59:59", t));
    EXPECT_EQ(t + 1, MakeStoreTime(2024, 3, 1));
}

TEST(StoreTime, TimesBeyondThirtyTwoBitsAreRefusedNotWrapped) {
    StoreTime t = 0;
    // 2^32 - 1 seconds after 1899-12-30 is 2036-02-05 06:28:15.
    ASSERT_TRUE(ParseStoreTime("2036-02-05 06:28:15", t));
    EXPECT_EQ(t, 0xFFFFFFFFu);
    ASSERT_TRUE(ParseStoreTime("2036-02-05", t));
    EXPECT_FALSE(ParseStoreTime("2036-02-05 06:28:16", t));
    EXPECT_FALSE(ParseStoreTime("2036-02-06", t));
    EXPECT_FALSE(ParseStoreTime("2099-12-31", t));
    EXPECT_FALSE(ParseStoreTime("20360206", t));
    t = 7;
    EXPECT_FALSE(ParseStoreTime("2040-01-01 10:00", t));
    EXPECT_EQ(t, 7u);  // nothing stored on failure
}

}  // namespace
}  // namespace tessaro
