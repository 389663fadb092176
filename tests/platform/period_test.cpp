#include <gtest/gtest.h>

#include "platform/period.h"

namespace tessaro {
namespace {

// The one table serves the formula keywords, the history directory keys and the command line.
TEST(PeriodTable, DirectoryKeysOnlyForTheStoredPeriods) {
    EXPECT_EQ(PeriodDirName(kPeriodMin1), "min");
    EXPECT_EQ(PeriodDirName(kPeriodMin5), "fiv");
    EXPECT_EQ(PeriodDirName(kPeriodDay), "day");
    for (int n = -1; n <= 16; ++n) {
        Period p = PeriodFromNumber(n);
        if (p != kPeriodMin1 && p != kPeriodMin5 && p != kPeriodDay) {
            EXPECT_EQ(PeriodDirName(p), "") << n;
        }
    }
    EXPECT_EQ(PeriodDirName(Period{100}), "");
    EXPECT_EQ(PeriodFromDirName("fiv"), kPeriodMin5);
    EXPECT_EQ(PeriodFromDirName("FIV"), kPeriodInvalid);  // directory names are exact
    EXPECT_EQ(PeriodFromDirName(""), kPeriodInvalid);
    EXPECT_EQ(PeriodFromDirName("week"), kPeriodInvalid);
}

TEST(PeriodTable, NumbersAndCommandLineText) {
    EXPECT_EQ(PeriodFromNumber(1), kPeriodInvalid);
    EXPECT_EQ(PeriodFromNumber(2), kPeriodTick);
    EXPECT_EQ(PeriodFromNumber(14), kPeriodTime);
    EXPECT_EQ(PeriodFromNumber(15), kPeriodInvalid);
    EXPECT_EQ(PeriodNumber(kPeriodQuarter), 11);
    EXPECT_EQ(PeriodFromText("week"), kPeriodWeek);
    EXPECT_EQ(PeriodFromText("YEAR"), kPeriodYear);
    EXPECT_EQ(PeriodFromText("8"), kPeriodDay);
    EXPECT_EQ(PeriodFromText("14"), kPeriodTime);
    for (const char* bad : {"", "1", "15", "-8", "+8", "8 ", " 8", "8x", "day1", "99999999999999999999"})
        EXPECT_EQ(PeriodFromText(bad), kPeriodInvalid) << bad;
}

}  // namespace
}  // namespace tessaro
