// The stock picker of 主图叠加: securities found by code, name or initials as the keyboard wizard
// finds them, each chosen once, never one the picture shows already.
#include <gtest/gtest.h>

#include "chart/stock_pick.h"
#include "platform/text.h"

namespace tessaro::chart {
namespace {

CodeEntry Entry(const char* text, const char* nameUtf8) {
    CodeEntry e;
    EXPECT_TRUE(ParseSecurityText(text, e.id));
    e.securityClass = kClassAShare;
    CopyToField(e.name, Utf8ToGbk(nameUtf8));
    return e;
}

TEST(StockPick, FindsByCodeOrInitialsAndChoosesEachSecurityOnce) {
    const std::vector<CodeEntry> market = {Entry("SH600519", "贵州茅台"), Entry("SH600600", "青岛啤酒"),
                                           Entry("SZ000001", "平安银行"), Entry("SZ000002", "万科A")};
    StockPick pick(market, nullptr);
    pick.Exclude({market[0]});  // the picture's own security

    ASSERT_EQ(pick.Match("6006").size(), 1u);
    EXPECT_EQ(pick.matches()[0]->entry.id.codeText(), "600600");
    EXPECT_NE(pick.Line(*pick.matches()[0]).find("600600"), std::string::npos);
    EXPECT_TRUE(pick.AddMatch(0));
    EXPECT_FALSE(pick.AddMatch(0)) << "chosen already";
    EXPECT_FALSE(pick.AddMatch(1)) << "no such match";

    ASSERT_EQ(pick.Match("600519").size(), 1u);
    EXPECT_FALSE(pick.AddMatch(0)) << "the picture shows it";

    ASSERT_EQ(pick.Match("00000").size(), 2u);  // both Shenzhen codes
    EXPECT_TRUE(pick.AddMatch(1));
    EXPECT_TRUE(pick.Match("").empty());
    ASSERT_EQ(pick.chosen().size(), 2u);
    EXPECT_EQ(pick.chosen()[1].id.codeText(), "000002");

    EXPECT_TRUE(pick.Remove(0));
    EXPECT_FALSE(pick.Remove(5));
    ASSERT_EQ(pick.chosen().size(), 1u);
    EXPECT_EQ(pick.chosen()[0].id.codeText(), "000002");
    EXPECT_TRUE(pick.Add(market[1])) << "removed, it may be chosen again";
}

}  // namespace
}  // namespace tessaro::chart
