// Bars read back from CSV text.
#include <gtest/gtest.h>

#include "market/bars_csv.h"
#include "platform/store_time.h"

namespace tessaro {
namespace {

TEST(BarsCsv, ReadsRowsWithOrWithoutHeaderAndCrLf) {
    Series s;
    std::string error;
    ASSERT_TRUE(ParseBarsCsv("date,open,high,low,close,volume,amount\r\n"
                             "2024-01-02,9.5,10.5,9,10,100,1000\r\n"
                             "\r\n"
                             "2024-01-03 14:30, 10.5 ,11.5,10,11,+200,2200.25\n",
                             s, &error))
        << error;
    ASSERT_EQ(s.size(), 2u);
    EXPECT_EQ(s.bars[0].time, MakeStoreTime(2024, 1, 2));
    EXPECT_EQ(s.bars[1].time, MakeStoreTime(2024, 1, 3, 14, 30));
    EXPECT_FLOAT_EQ(s.bars[1].open, 10.5f);
    EXPECT_FLOAT_EQ(s.bars[1].volume, 200);
    EXPECT_FLOAT_EQ(s.bars[1].amount, 2200.25f);
    EXPECT_EQ(s.trades.size(), 2u);  // the parallel arrays follow the bars

    ASSERT_TRUE(ParseBarsCsv("2024-01-02,1,2,0.5,1.5,3,4", s, &error)) << error;
    EXPECT_EQ(s.size(), 1u);
    ASSERT_TRUE(ParseBarsCsv("", s, &error));
    EXPECT_EQ(s.size(), 0u);
}

TEST(BarsCsv, RefusesBadRowsNamingTheLine) {
    struct Bad {
        const char* text;
        const char* reason;
    };
    const Bad bads[] = {
        {"date\n2024-01-02,1,2,3,4,5\n", "line 2: expected 7 fields"},
        {"2024-01-02,1,2,3,4,5,6,7\n", "line 1: expected 7 fields"},
        {"2024-13-02,1,2,3,4,5,6\n", "line 1: bad date"},
        {"2024-01-02,1,2,x,4,5,6\n", "line 1: bad number 'x'"},
        {"2024-01-02,1,2,,4,5,6\n", "line 1: bad number"},
        {"2024-01-02,1,2,nan,4,5,6\n", "line 1: bad number"},
        {"2024-01-02,1,2,inf,4,5,6\n", "line 1: bad number"},
        {"2024-01-02,1,2,1e39,4,5,6\n", "line 1: bad number"},
        {"2024-01-02,1,3,1,2,5,6\n2024-01-02,1,3,1,2,5,6\n", "line 2: dates must increase"},
        {"2024-01-03,1,3,1,2,5,6\n2024-01-02,1,3,1,2,5,6\n", "line 2: dates must increase"},
        {"2024-01-02,1,2,1,1,5,6\n2024-01-03,-1,2,1,1,5,6\n", "line 2: negative open"},
        {"2024-01-02,1,2,1,1,-5,6\n", "line 1: negative volume"},
        {"2024-01-02,1,2,1,1,5,-6\n", "line 1: negative amount"},
        {"2024-01-02,1,2,-1,1,5,6\n", "line 1: negative low"},
        {"2024-01-02,1,1,2,1,5,6\n", "line 1: high below low"},
        {"2036-02-06,1,2,1,1,5,6\n", "line 1: bad date"},
        {"2036-02-05 09:30,1,2,1,1,5,6\n", "line 1: bad date"},
    };
    for (const Bad& b : bads) {
        Series s;
        std::string error;
        EXPECT_FALSE(ParseBarsCsv(b.text, s, &error)) << b.text;
        EXPECT_EQ(error.rfind(b.reason, 0), 0u) << error;
    }
}

TEST(BarsCsv, AByteOrderMarkIsSkippedAndABadLineLeavesNothing) {
    Series s;
    std::string error;
    // Headerless: without skipping the mark the first row would be taken for a header.
    ASSERT_TRUE(ParseBarsCsv("\xEF\xBB\xBF" "2024-01-02,1,2,0.5,1.5,3,4\n2024-01-03,1,2,0.5,1.5,3,4\n", s, &error))
        << error;
    ASSERT_EQ(s.size(), 2u);
    EXPECT_EQ(s.bars[0].time, MakeStoreTime(2024, 1, 2));
    ASSERT_TRUE(ParseBarsCsv("\xEF\xBB\xBF" "date,open,high,low,close,volume,amount\n2024-01-02,1,2,0.5,1.5,3,4\n", s));
    EXPECT_EQ(s.size(), 1u);

    // All or nothing: the good rows before a bad one are not handed out.
    EXPECT_FALSE(ParseBarsCsv("2024-01-02,1,2,0.5,1.5,3,4\n2024-01-03,1,1,2,1.5,3,4\n", s, &error));
    EXPECT_EQ(s.size(), 0u);
    EXPECT_EQ(error, "line 2: high below low");

    // An import takes rows in any order; the other checks still hold.
    BarsCsvOptions anyOrder;
    anyOrder.increasingDates = false;
    ASSERT_TRUE(ParseBarsCsv("2024-01-03,1,2,0.5,1.5,3,4\n2024-01-02,1,2,0.5,1.5,3,4\n", s, &error, anyOrder));
    EXPECT_EQ(s.size(), 2u);
    EXPECT_FALSE(ParseBarsCsv("2024-01-03,1,2,0.5,1.5,3,4\n2024-01-02,nan,2,0.5,1.5,3,4\n", s, &error, anyOrder));
    EXPECT_EQ(error.rfind("line 2: bad number", 0), 0u) << error;
}

}  // namespace
}  // namespace tessaro
