#include <gtest/gtest.h>

#include "market/periods.h"

namespace tessaro {
namespace {

constexpr uint32_t Hm(int h, int m, int s = 0) { return static_cast<uint32_t>(h * 3600 + m * 60 + s); }

TEST(PeriodsTest, KeywordsMatchCaseInsensitivelyAndRoundTrip) {
    EXPECT_EQ(PeriodFromKeyword("day"), kPeriodDay);
    EXPECT_EQ(PeriodFromKeyword("DAY"), kPeriodDay);
    EXPECT_EQ(PeriodFromKeyword("quarter"), kPeriodQuarter);
    EXPECT_EQ(PeriodFromKeyword("Multi"), kPeriodMultiDay);
    EXPECT_EQ(PeriodFromKeyword("time"), kPeriodTime);
    EXPECT_EQ(PeriodFromKeyword("min"), kPeriodInvalid);
    EXPECT_EQ(PeriodFromKeyword(""), kPeriodInvalid);
    EXPECT_EQ(PeriodFromKeyword("day "), kPeriodInvalid);
    for (int n = PeriodNumber(kPeriodTick); n <= PeriodNumber(kPeriodTime); ++n) {
        const Period p = PeriodFromNumber(n);
        EXPECT_EQ(PeriodFromKeyword(PeriodKeyword(p)), p);
        EXPECT_FALSE(PeriodName(p).empty());
    }
    EXPECT_EQ(PeriodKeyword(Period{1}), "");
    EXPECT_EQ(PeriodName(Period{15}), "");
}

TEST(PeriodsTest, MinuteSlotIndexAtSessionEdges) {
    EXPECT_EQ(MinuteSlotIndex(Hm(9, 29, 59), false), -1);
    EXPECT_EQ(MinuteSlotIndex(Hm(9, 29, 59), true), 0);
    EXPECT_EQ(MinuteSlotIndex(Hm(9, 30), false), 0);
    EXPECT_EQ(MinuteSlotIndex(Hm(9, 30, 59), false), 0);
    EXPECT_EQ(MinuteSlotIndex(Hm(9, 31), false), 1);
    EXPECT_EQ(MinuteSlotIndex(Hm(11, 30), false), 120);
    EXPECT_EQ(MinuteSlotIndex(Hm(12, 15), false), 120);
    EXPECT_EQ(MinuteSlotIndex(Hm(12, 59, 59), false), 120);
    EXPECT_EQ(MinuteSlotIndex(Hm(13, 0), false), 121);
    EXPECT_EQ(MinuteSlotIndex(Hm(13, 1), false), 122);
    EXPECT_EQ(MinuteSlotIndex(Hm(15, 0), false), 241);
    EXPECT_EQ(MinuteSlotIndex(Hm(15, 0, 1), false), -1);
    EXPECT_EQ(MinuteSlotIndex(Hm(15, 0, 1), true), 241);
    EXPECT_EQ(MinuteSlotIndex(Hm(23, 59, 59), true), 241);
}

TEST(PeriodsTest, BarSlotsPerDay) {
    EXPECT_EQ(BarSlotCount(kPeriodMin1), 240);
    EXPECT_EQ(BarSlotCount(kPeriodMin5), 48);
    EXPECT_EQ(BarSlotCount(kPeriodMin15), 16);
    EXPECT_EQ(BarSlotCount(kPeriodMin30), 8);
    EXPECT_EQ(BarSlotCount(kPeriodMin60), 4);
    EXPECT_EQ(BarSlotCount(kPeriodTime), 241);
    EXPECT_EQ(BarSlotCount(kPeriodDay), 0);
    EXPECT_EQ(BarSlotLabel(kPeriodMin60, 0), Hm(10, 30));
    EXPECT_EQ(BarSlotLabel(kPeriodMin60, 1), Hm(11, 30));
    EXPECT_EQ(BarSlotLabel(kPeriodMin60, 2), Hm(14, 0));
    EXPECT_EQ(BarSlotLabel(kPeriodMin60, 3), Hm(15, 0));
    EXPECT_EQ(BarSlotLabel(kPeriodMin60, 4), 0u);
    EXPECT_EQ(BarSlotLabel(kPeriodTime, 0), Hm(9, 30));
    EXPECT_EQ(BarSlotLabel(kPeriodTime, 121), Hm(13, 1));
    EXPECT_EQ(BarSlotLabel(kPeriodTime, 240), Hm(15, 0));
    EXPECT_EQ(BarSlotLabel(kPeriodMin1, -1), 0u);
}

TEST(PeriodsTest, MinutesGoToTheBarsOfTheirLabels) {
    // The minutes starting at 09:30 and 09:31 both go into the first bar, labelled 09:31.
    EXPECT_EQ(BarSlotLabel(kPeriodMin1, BarSlotOfTime(kPeriodMin1, Hm(9, 30))), Hm(9, 31));
    EXPECT_EQ(BarSlotLabel(kPeriodMin1, BarSlotOfTime(kPeriodMin1, Hm(9, 31))), Hm(9, 31));
    EXPECT_EQ(BarSlotLabel(kPeriodMin1, BarSlotOfTime(kPeriodMin1, Hm(9, 32))), Hm(9, 32));
    // Before the open: the first bar.
    EXPECT_EQ(BarSlotOfTime(kPeriodMin1, Hm(9, 15)), 0);
    // 10:00 goes into the one- and five-minute bars labelled 10:00.
    EXPECT_EQ(BarSlotLabel(kPeriodMin1, BarSlotOfTime(kPeriodMin1, Hm(10, 0))), Hm(10, 0));
    EXPECT_EQ(BarSlotLabel(kPeriodMin5, BarSlotOfTime(kPeriodMin5, Hm(10, 0))), Hm(10, 0));
    EXPECT_EQ(BarSlotLabel(kPeriodMin5, BarSlotOfTime(kPeriodMin5, Hm(10, 1))), Hm(10, 5));
    // 13:00 and 13:01 go into the bar labelled 13:01; the lunch break stays in 11:30.
    EXPECT_EQ(BarSlotLabel(kPeriodMin1, BarSlotOfTime(kPeriodMin1, Hm(13, 0))), Hm(13, 1));
    EXPECT_EQ(BarSlotLabel(kPeriodMin1, BarSlotOfTime(kPeriodMin1, Hm(13, 1))), Hm(13, 1));
    EXPECT_EQ(BarSlotLabel(kPeriodMin1, BarSlotOfTime(kPeriodMin1, Hm(12, 10))), Hm(11, 30));
    // The time-sharing chart has a bar of its own at 09:30.
    EXPECT_EQ(BarSlotLabel(kPeriodTime, BarSlotOfTime(kPeriodTime, Hm(9, 30))), Hm(9, 30));
    EXPECT_EQ(BarSlotLabel(kPeriodTime, BarSlotOfTime(kPeriodTime, Hm(9, 31))), Hm(9, 31));
    // After the close: the day's last bar.
    EXPECT_EQ(BarSlotLabel(kPeriodMin60, BarSlotOfTime(kPeriodMin60, Hm(23, 59, 59))), Hm(15, 0));
    EXPECT_EQ(BarSlotOfTime(kPeriodDay, Hm(10, 0)), -1);
}

TEST(PeriodsTest, SixtyMinuteDistanceCountsLabelledBars) {
    StoreTime day = MakeStoreTime(2024, 3, 4);
    // 09:45 and 10:29 share the 10:30 bar; 10:31 is in 11:30, 13:10 in 14:00.
    EXPECT_EQ(BarDistance(day + Hm(10, 29), day + Hm(9, 45), kPeriodMin60), 0);
    EXPECT_EQ(BarDistance(day + Hm(10, 31), day + Hm(10, 29), kPeriodMin60), 1);
    // ceil(t/3600) would put 10:05 and 10:35 in one hour, 09:45 and 10:15 in two.
    EXPECT_EQ(BarDistance(day + Hm(10, 35), day + Hm(10, 5), kPeriodMin60), 1);
    EXPECT_EQ(BarDistance(day + Hm(10, 15), day + Hm(9, 45), kPeriodMin60), 0);
    EXPECT_EQ(BarDistance(day + Hm(13, 10), day + Hm(11, 0), kPeriodMin60), 1);
    EXPECT_EQ(BarDistance(day + Hm(15, 0), day + Hm(9, 30), kPeriodMin60), 3);
    EXPECT_EQ(BarDistance(day + Hm(9, 30), day + Hm(15, 0), kPeriodMin60), -3);
    // The next day's first bar follows the last one.
    EXPECT_EQ(BarDistance(day + 86400 + Hm(9, 35), day + Hm(13, 30), kPeriodMin60), 2);
    EXPECT_EQ(BarDistance(day + Hm(9, 36), day + Hm(9, 35), kPeriodMin5), 1);
    EXPECT_EQ(BarDistance(day + Hm(9, 35), day + Hm(9, 31), kPeriodMin5), 0);
}

TEST(PeriodsTest, DayWeekMonthQuarterYearDistances) {
    StoreTime fri = MakeStoreTime(2024, 3, 8, 14, 0);
    StoreTime sat = MakeStoreTime(2024, 3, 9);
    StoreTime sun = MakeStoreTime(2024, 3, 10);
    StoreTime mon = MakeStoreTime(2024, 3, 11);
    StoreTime prevMon = MakeStoreTime(2024, 3, 4);
    EXPECT_EQ(BarDistance(mon, fri, kPeriodDay), 3);
    EXPECT_EQ(BarDistance(fri, mon, kPeriodMultiDay), -3);
    EXPECT_EQ(BarDistance(mon, fri, kPeriodWeek), 1);
    EXPECT_EQ(BarDistance(sun, prevMon, kPeriodWeek), 0);  // Sunday is day 7 of its week
    EXPECT_EQ(BarDistance(sat, fri, kPeriodWeek), 0);
    EXPECT_EQ(BarDistance(MakeStoreTime(2024, 4, 1), MakeStoreTime(2024, 3, 31), kPeriodMonth), 1);
    EXPECT_EQ(BarDistance(MakeStoreTime(2024, 1, 2), MakeStoreTime(2023, 12, 29), kPeriodMonth), 1);
    EXPECT_EQ(BarDistance(MakeStoreTime(2024, 3, 31), MakeStoreTime(2024, 1, 2), kPeriodQuarter), 0);
    EXPECT_EQ(BarDistance(MakeStoreTime(2024, 4, 1), MakeStoreTime(2024, 3, 31), kPeriodQuarter), 1);
    EXPECT_EQ(BarDistance(MakeStoreTime(2023, 12, 31), MakeStoreTime(2024, 1, 1), kPeriodYear), -1);
    EXPECT_EQ(BarDistance(5, 7, kPeriodTick), -1);
    // A week across the turn of the year stays one week.
    EXPECT_EQ(BarDistance(MakeStoreTime(2025, 1, 3), MakeStoreTime(2024, 12, 30), kPeriodWeek), 0);
}

}  // namespace
}  // namespace tessaro
