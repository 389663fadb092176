// The keyboard wizard's matching and ordering rules and its quick commands.
#include <gtest/gtest.h>

#include "platform/text.h"
#include "tools/wizard/wizard.h"

namespace tessaro {
namespace {

std::string G(std::string_view utf8) { return Utf8ToGbk(utf8); }

CodeEntry Entry(MarketCode m, std::string_view code, uint16_t cls, std::string_view nameGbk) {
    CodeEntry e;
    e.id = MakeSecurityId(m, code);
    e.securityClass = cls;
    e.setName(nameGbk);
    return e;
}

// "kind:text" per match: the command code, formula or block name, or the security's market and code.
std::vector<std::string> Listed(KeyboardWizard& w, std::string_view typedGbk) {
    std::vector<std::string> out;
    for (const WizardItem* item : w.Match(typedGbk)) {
        std::string text = item->kind == kWizardSecurity ? SecurityText(item->entry.id) : GbkToUtf8(item->text1);
        out.push_back(std::to_string(item->kind) + ":" + text);
    }
    return out;
}

class WizardTest : public ::testing::Test {
protected:
    void SetUp() override {
        polyphonic.LoadText(G("行=HX\r\n"));
        wizard.AddCommands(&polyphonic);
        wizard.AddFormula(4, "MACD", G("平滑异同平均"), &polyphonic);
        wizard.AddFormula(4, G("中轨"), G("描述"), &polyphonic);
        wizard.SetSecurities({Entry(kMarketSH, "000001", kClassIndex, G("上证指数")),
                              Entry(kMarketSH, "600016", kClassAShare, G("民生银行")),
                              Entry(kMarketSZ, "000001", kClassAShare, G("平安银行")),
                              Entry(kMarketSH, "600100", kClassAShare, G("同方股份")),
                              Entry(kMarketSZ, "200016", kClassBShare, G("深康佳B")),
                              Entry(kMarketSH, "900901", kClassBShare, G("云赛B股")),
                              Entry(kMarketSZ, "000002", kClassAShare, G("行业龙头")),
                              Entry(kMarketSystem, "000001", 0, G("系统"))},
                             &polyphonic);
        wizard.AddBlock(0, G("银行"), &polyphonic);
        wizard.AddBlock(2, G("自选股1"), &polyphonic);
    }
    PolyphonicTable polyphonic;
    KeyboardWizard wizard;
};

TEST_F(WizardTest, DigitsListCommandsThenSecuritiesByCodeWithClassTies) {
    std::vector<std::string> six = Listed(wizard, "6");
    std::vector<std::string> want = {"1:6",  "1:60", "1:601", "1:602", "1:61", "1:62", "1:63",
                                     "1:64", "1:65", "1:66",  "1:67",  "1:68", "1:69",
                                     // then the codes starting or ending with 6, in code order
                                     "4:SZ200016", "4:SH600016", "4:SH600100"};
    EXPECT_EQ(six, want);

    // Equal codes: the A share (class 2) before the index, the system market's class 0 last
    // in store order; the code that merely contains the text is not listed.
    EXPECT_EQ(Listed(wizard, "000001"), (std::vector<std::string>{"4:SZ000001", "4:SH000001", "4:$$000001"}));
    EXPECT_EQ(Listed(wizard, "81").front(), "1:81");
    EXPECT_EQ(Listed(wizard, "81").size(), 1u);
    std::vector<std::string> o1 = Listed(wizard, "01");  // 600100 contains "01" but neither starts nor ends with it
    EXPECT_EQ(std::count(o1.begin(), o1.end(), "4:SH600100"), 0);
    EXPECT_EQ(o1, (std::vector<std::string>{"1:01", "4:SZ000001", "4:SH000001", "4:$$000001", "4:SH900901"}));
    // A text longer than the code never matches its end.
    EXPECT_TRUE(Listed(wizard, "1600100").empty());
}

TEST_F(WizardTest, LettersMatchInitialsWithPolyphonesAndNamePrefixes) {
    // Securities by initials, ordered by the initials (ties: class 2 before 3).
    EXPECT_EQ(Listed(wizard, "pa"), (std::vector<std::string>{"4:SZ000001"}));
    EXPECT_EQ(Listed(wizard, "MSYH"), (std::vector<std::string>{"4:SH600016"}));
    EXPECT_TRUE(Listed(wizard, "MSYHX").empty());  // longer than the name
    // 行 is listed as polyphonic (H and X): 行业龙头 matches under both, and 银行 too.
    EXPECT_EQ(Listed(wizard, "HYLT"), (std::vector<std::string>{"4:SZ000002"}));
    EXPECT_EQ(Listed(wizard, "xylt"), (std::vector<std::string>{"4:SZ000002"}));
    EXPECT_EQ(Listed(wizard, "yx"), (std::vector<std::string>{"8:银行"}));
    EXPECT_EQ(Listed(wizard, "yh"), (std::vector<std::string>{"8:银行"}));
    // Formulas by initials or name prefix, before securities; commands by code only.
    EXPECT_EQ(Listed(wizard, "mac"), (std::vector<std::string>{"2:MACD"}));
    EXPECT_EQ(Listed(wizard, "zg"), (std::vector<std::string>{"2:中轨"}));
    EXPECT_EQ(Listed(wizard, G("中")), (std::vector<std::string>{"2:中轨"}));
    // Names by prefix (GBK).
    EXPECT_EQ(Listed(wizard, G("平安")), (std::vector<std::string>{"4:SZ000001"}));
    EXPECT_EQ(Listed(wizard, G("自选")), (std::vector<std::string>{"8:自选股1"}));
    std::vector<std::string> s = Listed(wizard, "s");  // 深康佳B and 上证指数; 系统 is XT
    EXPECT_EQ(s, (std::vector<std::string>{"4:SZ200016", "4:SH000001"}));  // SKJB < SZZS
}

TEST_F(WizardTest, EmptyLongAndDoubleByteTexts) {
    EXPECT_TRUE(wizard.Match("").empty());
    EXPECT_TRUE(Listed(wizard, std::string(300, 'm')).empty());
    EXPECT_TRUE(Listed(wizard, std::string(300, '6')).empty());
    // A double-byte character whose trail byte is an ASCII letter is not folded: 0x8141 and
    // 0x8161 are different characters.
    KeyboardWizard w;
    w.SetSecurities({Entry(kMarketSH, "600001", kClassAShare, "\x81\x61\xD2\xF8")}, nullptr);
    EXPECT_TRUE(w.Match("\x81\x41").empty());
    EXPECT_EQ(w.Match("\x81\x61").size(), 1u);
    // A lone lead byte typed so far matches the names starting with it.
    EXPECT_EQ(w.Match("\x81").size(), 1u);
}

TEST_F(WizardTest, DisplayTextsAndQuickCommands) {
    auto first = [&](std::string_view typed) { return wizard.DisplayText(*wizard.Match(typed).front()); };
    EXPECT_EQ(first("6"), "6    日线");
    EXPECT_EQ(first("mac"), "MACD 平滑异同平均");
    EXPECT_EQ(first("600016"), "600016 民生银行");
    EXPECT_EQ(first("msyh"), "MSYH 民生银行 600016");
    EXPECT_EQ(first("yx"), "YH   银行[板块]");

    ASSERT_EQ(QuickCommands().size(), 52u);
    EXPECT_EQ(FindQuickCommand("069"), 25);
    using K = QuickCommandAction::Kind;
    EXPECT_EQ(QuickCommandActionOf(0).kind, K::Period);
    EXPECT_EQ(QuickCommandActionOf(0).value, 2);
    EXPECT_EQ(QuickCommandActionOf(9).value, 13);
    EXPECT_EQ(QuickCommandActionOf(FindQuickCommand("04")).market, kMarketSZ);
    EXPECT_EQ(QuickCommandActionOf(FindQuickCommand("06")).block, "");
    EXPECT_EQ(QuickCommandActionOf(FindQuickCommand("063")).block, "自选股3");
    EXPECT_EQ(QuickCommandActionOf(FindQuickCommand("602")).block, "创业板");
    EXPECT_EQ(QuickCommandActionOf(FindQuickCommand("69")).block, "中小板");
    EXPECT_EQ(QuickCommandActionOf(FindQuickCommand("801")).block, "沪深权证");
    EXPECT_EQ(QuickCommandActionOf(FindQuickCommand("81")).block, "沪市A股");
    EXPECT_EQ(QuickCommandActionOf(FindQuickCommand("89")).kind, K::Ranking);
    EXPECT_EQ(QuickCommandActionOf(FindQuickCommand("89")).block, "中小板");
    EXPECT_EQ(QuickCommandActionOf(FindQuickCommand("01")).kind, K::ViewCommand);
    EXPECT_EQ(QuickCommandActionOf(52).kind, K::ViewCommand);
    EXPECT_TRUE(OpensWizard(U'a') && OpensWizard(U'7') && OpensWizard(U'中'));
    EXPECT_FALSE(OpensWizard(U' ') || OpensWizard(U'/') || OpensWizard(U'\r'));
}

}  // namespace
}  // namespace tessaro
