// Pinyin initials: CharInitial over both GB2312 levels, the polyphonic table
// and NameToInitials. Characters are given by their GBK codes, looked up by
// hand with the reading next to each.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "market/security_registry.h"
#include "platform/files.h"
#include "platform/text.h"
#include "test_support/temp_dir.h"

namespace tessaro {
namespace {

TEST(CharInitial, FullWidthDigitsLettersAndSigns) {
    EXPECT_EQ(CharInitial(0xA3B0), '0');
    EXPECT_EQ(CharInitial(0xA3B9), '9');
    EXPECT_EQ(CharInitial(0xA3C1), 'A');
    EXPECT_EQ(CharInitial(0xA3DA), 'Z');
    EXPECT_EQ(CharInitial(0xA3DB), '[');
    EXPECT_EQ(CharInitial(0xA3E4), 'd');  // the last one mapped
    // Just outside the two ranges.
    EXPECT_EQ(CharInitial(0xA3AF), 0);
    EXPECT_EQ(CharInitial(0xA3BA), 0);
    EXPECT_EQ(CharInitial(0xA3C0), 0);
    EXPECT_EQ(CharInitial(0xA3E5), 0);
}

TEST(CharInitial, LevelOneBoundariesByHand) {
    // The first character of each initial and the one just before it.
    struct Case {
        uint16_t code;
        char letter;
    };
    const Case cases[] = {
        {0xB0A1, 'A'},  // 啊 a
        {0xB0C4, 'A'}, {0xB0C5, 'B'}, {0xB2C0, 'B'},
        {0xB2C1, 'C'},  // 擦 ca
        {0xB4ED, 'C'}, {0xB4EE, 'D'},  // 搭 da
        {0xB6E9, 'D'}, {0xB6EA, 'E'},  // 蛾 e
        {0xB7A1, 'E'}, {0xB7A2, 'F'},  // 发 fa
        {0xB8C0, 'F'}, {0xB8C1, 'G'},  // 噶 ga
        {0xB9FD, 'G'}, {0xB9FE, 'H'},  // 哈 ha
        {0xBBF6, 'H'}, {0xBBF7, 'J'},  // 击 ji
        {0xBFA5, 'J'}, {0xBFA6, 'K'},  // 喀 ka
        {0xC0AB, 'K'}, {0xC0AC, 'L'},  // 垃 la
        {0xC2E7, 'L'}, {0xC2E8, 'M'},  // 妈 ma
        {0xC4C2, 'M'}, {0xC4C3, 'N'},  // 拿 na
        {0xC5B5, 'N'}, {0xC5B6, 'O'},  // 哦 o
        {0xC5BD, 'O'}, {0xC5BE, 'P'},  // 啪 pa
        {0xC6D9, 'P'}, {0xC6DA, 'Q'},  // 期 qi
        {0xC8BA, 'Q'}, {0xC8BB, 'R'},  // 然 ran
        {0xC8F5, 'R'}, {0xC8F6, 'S'},  // 撒 sa
        {0xCBF9, 'S'}, {0xCBFA, 'T'},  // 塌 ta
        {0xCDD9, 'T'}, {0xCDDA, 'W'},  // 挖 wa
        {0xCEF3, 'W'}, {0xCEF4, 'X'},  // 昔 xi
        {0xD1B8, 'X'}, {0xD1B9, 'Y'},  // 压 ya
        {0xD4D0, 'Y'}, {0xD4D1, 'Z'},  // 匝 za
        {0xD7F9, 'Z'},                 // 座 zuo, the last level-1 character
        {0xC9EE, 'S'},                 // 深 shen
        {0xD5B9, 'Z'},                 // 展 zhan
        {0xD0D0, 'X'},                 // 行 xing (its other reading is hang)
        {0xB3A4, 'C'},                 // 长 chang
    };
    for (const Case& c : cases) EXPECT_EQ(CharInitial(c.code), c.letter) << std::hex << c.code;
}

TEST(CharInitial, LevelTwoTableSpotChecksByHand) {
    struct Case {
        uint16_t code;
        char letter;
    };
    const Case cases[] = {
        {0xD8A1, 'C'},  // 亍 chu, first level-2 character
        {0xD8A2, 'Q'},  // 丌 qi
        {0xD8A3, 'W'},  // 兀 wu
        {0xD8A4, 'G'},  // 丐 gai
        {0xD8FE, 'G'},  // 佝 gou, last of the first row
        {0xDAB9, 'Q'},  // 诠 quan
        {0xE7F7, 'Q'},  // 琪 qi
        {0xE8A4, 'Y'},  // 瑜 yu
        {0xE8AB, 'H'},  // 璜 huang
        {0xEABB, 'H'},  // 昊 hao
        {0xEAC9, 'S'},  // 晟 sheng
        {0xEAD8, 'X'},  // 曦 xi
        {0xEEA3, 'R'},  // 睿 rui
        {0xEEDA, 'Y'},  // 钰 yu
        {0xF0C2, 'X'},  // 鹇 xian
        {0xF6CE, 'X'},  // 鑫 xin
        {0xF7A1, 'A'},  // 鳌 ao, first of the last row
        {0xF7FE, 'Z'},  // 齄 zha, the last level-2 character
    };
    for (const Case& c : cases) EXPECT_EQ(CharInitial(c.code), c.letter) << std::hex << c.code;
}

TEST(CharInitial, BothBytesAreChecked) {
    // GBK characters whose trail byte lies below 0xA1: a level-2 lead byte with
    // such a trail once indexed before the table's start.
    for (uint16_t code : {0xD940, 0xD8A0, 0xD840, 0xD880, 0xF740, 0xF7A0, 0xB040, 0xB0A0, 0xC9FF, 0xF7FF})
        EXPECT_EQ(CharInitial(code), 0) << std::hex << code;
    // Outside both levels.
    for (uint16_t code : {0x0000, 0x0041, 0x8140, 0xA1A1, 0xB0A0, 0xD7FA, 0xD7FE, 0xF8A1, 0xFEFE, 0xFFFF})
        EXPECT_EQ(CharInitial(code), 0) << std::hex << code;
}

TEST(CharInitial, EveryCodeGivesALetterOrNothing) {
    char previous = 'A';
    for (uint32_t code = 0; code <= 0xFFFF; ++code) {
        char c = CharInitial(static_cast<uint16_t>(code));
        const unsigned lead = code >> 8, trail = code & 0xFF;
        bool gb2312 = trail >= 0xA1 && trail <= 0xFE;
        if (gb2312 && code >= 0xB0A1 && code <= 0xD7F9) {
            // Level 1 is sorted by pinyin: its initials never go back.
            ASSERT_TRUE(c >= 'A' && c <= 'Z') << std::hex << code;
            ASSERT_GE(c, previous) << std::hex << code;
            previous = c;
        } else if (gb2312 && lead >= 0xD8 && lead <= 0xF7) {
            ASSERT_TRUE(c >= 'A' && c <= 'Z' && c != 'I' && c != 'U' && c != 'V') << std::hex << code;
        } else if (lead != 0xA3) {
            ASSERT_EQ(c, 0) << std::hex << code;
        }
    }
}

// ---- The polyphonic table ---------------------------------------------------

std::string Gbk(std::string_view utf8) { return Utf8ToGbk(utf8); }

TEST(PolyphonicTable, ReadsTrimmedLinesAndSkipsTheRest) {
    PolyphonicTable table;
    table.LoadText(Gbk("[duoyin]\r\n"
                       "  行 =  XH \r\n"
                       "no equals sign here\n"
                       "\n"
                       "=ABC\n"          // no character
                       "A=B\n"           // one byte: not a character
                       "长=CZ\n"
                       "重=zc\n"         // lower case is kept
                       "乐=LYYUELE123\n"  // only six bytes are kept
                       "\t单\t=\tDSC"));  // last line without a newline
    EXPECT_EQ(table.size(), 5u);
    auto find = [&](std::string_view utf8) {
        std::string g = Gbk(utf8);
        const PolyphonicRecord* r =
            table.Find(static_cast<uint8_t>(g[0]), static_cast<uint8_t>(g[1]));
        return r ? std::string(r->initials, strnlen(r->initials, 6)) : std::string("-");
    };
    EXPECT_EQ(find("行"), "XH");
    EXPECT_EQ(find("长"), "CZ");
    EXPECT_EQ(find("重"), "zc");
    EXPECT_EQ(find("乐"), "LYYUEL");
    EXPECT_EQ(find("单"), "DSC");
    EXPECT_EQ(find("深"), "-");
}

TEST(PolyphonicTable, UnsortedInputIsSortedForTheSearch) {
    // Characters inserted in descending order must all be found.
    std::string text;
    for (int lead = 0xF7; lead >= 0xB0; lead -= 3)
        for (int trail = 0xFE; trail >= 0xA1; trail -= 17) {
            text += static_cast<char>(lead);
            text += static_cast<char>(trail);
            text += "=Q\n";
        }
    PolyphonicTable table;
    table.LoadText(text);
    ASSERT_GT(table.size(), 100u);
    for (int lead = 0xF7; lead >= 0xB0; lead -= 3)
        for (int trail = 0xFE; trail >= 0xA1; trail -= 17)
            EXPECT_NE(table.Find(static_cast<uint8_t>(lead), static_cast<uint8_t>(trail)), nullptr);
    EXPECT_EQ(table.Find(0xB1, 0xFE), nullptr);
}

TEST(PolyphonicTable, FirstLineOfADuplicateWinsAndAsciiKeysIgnoreCase) {
    PolyphonicTable table;
    table.LoadText(Gbk("行=XH\n行=Y\nab=Q\n"));
    const std::string g = Gbk("行");
    const PolyphonicRecord* r = table.Find(static_cast<uint8_t>(g[0]), static_cast<uint8_t>(g[1]));
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(std::string(r->initials, 2), "XH");
    EXPECT_NE(table.Find('A', 'B'), nullptr);
}

TEST(PolyphonicTable, MissingFileLeavesItEmpty) {
    TempDir dir;
    PolyphonicTable table;
    table.LoadText(Gbk("行=XH\n"));
    EXPECT_FALSE(table.Load(dir.path() + "/base/duoyin.ini"));
    EXPECT_TRUE(table.empty());

    ASSERT_TRUE(WriteFileAtomic(dir.path() + "/duoyin.ini", Gbk("行=XH\n")));
    EXPECT_TRUE(table.Load(dir.path() + "/duoyin.ini"));
    EXPECT_EQ(table.size(), 1u);
}

TEST(PolyphonicTable, RandomBytesNeverBreakIt) {
    std::mt19937 rng(7);
    for (int round = 0; round < 200; ++round) {
        std::string text(rng() % 400, '\0');
        for (char& c : text) {
            unsigned r = rng() % 10;
            c = r == 0 ? '=' : r == 1 ? '\n' : static_cast<char>(rng());
        }
        PolyphonicTable table;
        table.LoadText(text);
        for (const PolyphonicRecord& rec : table.records()) {
            EXPECT_EQ(rec.character[2], 0);
            EXPECT_NE(table.Find(static_cast<uint8_t>(rec.character[0]), static_cast<uint8_t>(rec.character[1])),
                      nullptr);
        }
        InitialsString s = NameToInitials(text, &table);
        EXPECT_LE(s.usedSlots(), 32);
    }
}

// ---- Names to initials ------------------------------------------------------

TEST(NameToInitials, OneSlotPerSignificantCharacter) {
    InitialsString s = NameToInitials(Gbk("深发展Ａ"), nullptr);
    EXPECT_EQ(s.usedSlots(), 4);
    EXPECT_EQ(s.firstLetters(), "SFZA");
    EXPECT_EQ(s.candidates(3), "A");

    EXPECT_EQ(NameToInitials(Gbk("万 科Ａ"), nullptr).firstLetters(), "WKA");
    EXPECT_EQ(NameToInitials(Gbk("*ST 鑫琪"), nullptr).firstLetters(), "STXQ");
    EXPECT_EQ(NameToInitials(Gbk("G天威"), nullptr).firstLetters(), "GTW");
    EXPECT_EQ(NameToInitials("a-b.c_9", nullptr).firstLetters(), "abc9");
    EXPECT_EQ(NameToInitials("", nullptr).usedSlots(), 0);
    EXPECT_EQ(NameToInitials(" *()-", nullptr).usedSlots(), 0);
}

TEST(NameToInitials, SkippedBytesLeaveNoGap) {
    InitialsString s = NameToInitials(Gbk("万 科"), nullptr);
    EXPECT_EQ(s.slots[0][0], 'W');
    EXPECT_EQ(s.slots[1][0], 'K');
    for (int i = 2; i < InitialsString::kSlots; ++i)
        for (int j = 0; j < InitialsString::kSlotWidth; ++j) EXPECT_EQ(s.slots[i][j], 0);
}

TEST(NameToInitials, UnknownCharacterUsesAnEmptySlot) {
    // 0xB041 is a GBK extension character without an initial: its slot stays 0.
    InitialsString s = NameToInitials("\xB0\x41Z", nullptr);
    EXPECT_EQ(s.slots[0][0], 0);
    EXPECT_EQ(s.slots[1][0], 'Z');
    EXPECT_EQ(s.usedSlots(), 2);
    EXPECT_EQ(s.firstLetters(), "?Z");
}

TEST(NameToInitials, LoneLeadByteAtTheEndStops) {
    EXPECT_EQ(NameToInitials("AB\xC9", nullptr).firstLetters(), "AB");
    EXPECT_EQ(NameToInitials("\xC9", nullptr).usedSlots(), 0);
}

TEST(NameToInitials, CutAtThirtyTwoSlots) {
    std::string name;
    for (int i = 0; i < 40; ++i) name += static_cast<char>('A' + i % 26);
    InitialsString s = NameToInitials(name, nullptr);
    EXPECT_EQ(s.usedSlots(), 32);
    EXPECT_EQ(s.firstLetters(), name.substr(0, 32));

    // Thirty-two characters of two bytes, then one more: also cut.
    std::string chinese;
    for (int i = 0; i < 32; ++i) chinese += Gbk("深");
    chinese += Gbk("发");
    EXPECT_EQ(NameToInitials(chinese, nullptr).firstLetters(), std::string(32, 'S'));
    // Skipped bytes do not count towards the 32.
    std::string spaced;
    for (int i = 0; i < 32; ++i) spaced += " x";
    EXPECT_EQ(NameToInitials(spaced, nullptr).usedSlots(), 32);
}

TEST(NameToInitials, PolyphonicCharactersOfferEveryReading) {
    PolyphonicTable table;
    table.LoadText(Gbk("行=XH\n长=CZABCDEF\n"));
    InitialsString s = NameToInitials(Gbk("浦发银行"), &table);
    EXPECT_EQ(s.firstLetters(), "PFYX");
    EXPECT_EQ(s.candidates(3), "XH");
    // A full record of six letters has no NUL: all six are candidates.
    InitialsString l = NameToInitials(Gbk("长城"), &table);
    EXPECT_EQ(l.candidates(0), "CZABCD");
    EXPECT_EQ(l.candidates(1), "C");
    // Without the table the character gets its single letter.
    EXPECT_EQ(NameToInitials(Gbk("浦发银行"), nullptr).candidates(3), "X");
    EXPECT_EQ(s.candidates(-1), "");
    EXPECT_EQ(s.candidates(32), "");
}

}  // namespace
}  // namespace tessaro
