#include <gtest/gtest.h>

#include "formula/param_text.h"

namespace tessaro {
namespace {

TEST(ParamText, DefaultAloneGetsAWideRangeAndARangeIsChecked) {
    FormulaParam p;
    ASSERT_TRUE(ParseParamText("N=5", p));
    EXPECT_EQ(p.nameText(), "N");
    EXPECT_EQ(p.defaultValue, 5.0f);
    EXPECT_EQ(p.min, -1e9f);
    EXPECT_EQ(p.max, 1e9f);
    ASSERT_TRUE(ParseParamText("LONG=2e9", p));  // the range widens to take a large default
    EXPECT_EQ(p.max, 2e9f);
    ASSERT_TRUE(ParseParamText("M=10,1,100", p));
    EXPECT_EQ(p.min, 1.0f);
    EXPECT_EQ(p.max, 100.0f);
    ASSERT_TRUE(ParseParamText("周期=3", p));  // UTF-8 name stored as GBK
    EXPECT_EQ(p.nameText(), "\xD6\xDC\xC6\xDA");
}

TEST(ParamText, MalformedTextIsRefused) {
    FormulaParam p;
    for (const char* bad : {"", "N", "=5", "N=", "N=abc", "N=5x", "N=5,1", "N=5,1,100,7", "N=0,1,100",
                            "N=5,,100", "N=nan", "N=inf", "N=1e39", "ABCDEFGHIJKLMNOP=1"})
        EXPECT_FALSE(ParseParamText(bad, p)) << bad;
    EXPECT_TRUE(ParseParamText("ABCDEFGHIJKLMNO=1", p));  // 15 bytes is the limit
}

}  // namespace
}  // namespace tessaro
