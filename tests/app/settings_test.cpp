// The settings record: defaults, the reading rules, saving and the pane lists.
#include "app/settings.h"

#include <gtest/gtest.h>

#include <cstring>

#include "test_support/temp_dir.h"

namespace tessaro {
namespace {

const std::string kSettings = SettingsKey("Settings");

TEST(SystemSettings, DefaultsWhenNothingIsStored) {
    SettingsStore store;
    SystemSettings s;
    s.multiDay = 77;  // overwritten: loading starts from the defaults
    LoadSettings(store, s);
    EXPECT_EQ(s.activeScheme, 0);
    EXPECT_EQ(FieldText(s.scheme().name), Utf8ToGbk("经典(大)"));
    EXPECT_FALSE(s.bossKey);
    EXPECT_EQ(s.bossKeyModifiers, 1u);
    EXPECT_EQ(s.bossKeyVirtualCode, 83u);
    EXPECT_TRUE(s.statusBar);
    EXPECT_TRUE(s.stkInfo);
    EXPECT_EQ(s.stkInfoWidth, 275u);
    EXPECT_EQ(s.purview, 0);
    EXPECT_TRUE(s.hcoord);
    EXPECT_FALSE(s.vcoord);
    EXPECT_TRUE(s.emptyOver);
    EXPECT_TRUE(s.autoSelStk);
    EXPECT_EQ(s.multiDay, 5u);
    EXPECT_EQ(s.multiPics, 9u);
    EXPECT_EQ(s.cycle, 8u);
    EXPECT_EQ(s.coordType, 1u);
    EXPECT_EQ(s.formula0, "K");
    EXPECT_EQ(s.formula0Time, "TEND");
    EXPECT_EQ(s.ruler, 100u);
    EXPECT_EQ(s.daysTime, 1u);
    EXPECT_EQ(s.areas, 2u);
    EXPECT_EQ(s.areasTime, 2u);
    EXPECT_EQ(s.exitTipTime, 0u);
    EXPECT_EQ(s.sessionCount, 2);
    EXPECT_EQ(s.sessions[0].start, 34200);
    EXPECT_EQ(s.sessions[0].end, 41400);
    EXPECT_EQ(s.sessions[1].start, 46800);
    EXPECT_EQ(s.sessions[1].end, 54000);
    EXPECT_EQ(s.tradingSeconds(), 14400);
    EXPECT_EQ(s.tradingMinutes(), 240);
    EXPECT_EQ(s.dayChunkDays, 1460);
    EXPECT_EQ(s.min5ChunkDays, 20);

    const char* kline[6] = {"MA", "VOL", "AMOUNT", "MACD", "KDJ", "MACD"};
    for (int i = 0; i < 6; ++i) {
        ASSERT_EQ(s.kLinePanes[i].count, 1) << i;
        EXPECT_EQ(s.kLinePanes[i].types[0], i == 0 ? 3 : 4);
        EXPECT_EQ(s.kLinePanes[i].name(0), kline[i]);
    }
    EXPECT_EQ(s.timePanes[0].count, 0);
    for (int i = 1; i < 6; ++i) {
        ASSERT_EQ(s.timePanes[i].count, 1) << i;
        EXPECT_EQ(s.timePanes[i].types[0], 4);
        EXPECT_EQ(s.timePanes[i].name(0), "TENDV");
    }
}

TEST(SystemSettings, NonZeroOnlyValuesKeepTheirDefaultsWhenZero) {
    SettingsStore store;
    for (const char* name : {"StkInfoWidth2", "MultiDay", "MultiPics", "Cycle", "CoordType", "Areas", "Areas_Time"})
        store.setDword(kSettings, name, 0);
    // Plain DWORDs take a stored 0.
    for (const char* name : {"Ruler", "Days_time", "bkModifiers", "bkVirtualCode", "Purview", "ExitTipTime"})
        store.setDword(kSettings, name, 0);
    SystemSettings s;
    LoadSettings(store, s);
    EXPECT_EQ(s.stkInfoWidth, 275u);
    EXPECT_EQ(s.multiDay, 5u);
    EXPECT_EQ(s.multiPics, 9u);
    EXPECT_EQ(s.cycle, 8u);
    EXPECT_EQ(s.coordType, 1u);
    EXPECT_EQ(s.areas, 2u);
    EXPECT_EQ(s.areasTime, 2u);
    EXPECT_EQ(s.ruler, 0u);
    EXPECT_EQ(s.daysTime, 0u);
    EXPECT_EQ(s.bossKeyModifiers, 0u);
    EXPECT_EQ(s.bossKeyVirtualCode, 0u);

    store.setDword(kSettings, "MultiDay", 3);
    store.setDword(kSettings, "Areas", 4);
    store.setDword(kSettings, "Cycle", 9);
    LoadSettings(store, s);
    EXPECT_EQ(s.multiDay, 3u);
    EXPECT_EQ(s.areas, 4u);
    EXPECT_EQ(s.cycle, 9u);
}

TEST(SystemSettings, BooleansAreOnForAnyNonZeroValue) {
    SettingsStore store;
    store.setDword(kSettings, "bBossKey", 2);
    store.setDword(kSettings, "StatusBar", 0);
    store.setDword(kSettings, "StkInfo", 0);
    store.setDword(kSettings, "Hcoord", 0);
    store.setDword(kSettings, "Vcoord1", 0x80000000);
    store.setDword(kSettings, "EmptyOver", 0);
    store.setDword(kSettings, "AutoSelStk", 0);
    SystemSettings s;
    LoadSettings(store, s);
    EXPECT_TRUE(s.bossKey);
    EXPECT_FALSE(s.statusBar);
    EXPECT_FALSE(s.stkInfo);
    EXPECT_FALSE(s.hcoord);
    EXPECT_TRUE(s.vcoord);
    EXPECT_FALSE(s.emptyOver);
    EXPECT_FALSE(s.autoSelStk);
}

TEST(SystemSettings, WrongTypesAndOddValuesAreHandled) {
    SettingsStore store;
    store.setString(kSettings, "MultiDay", "7");       // a text where a DWORD belongs: absent
    store.setDword(kSettings, "Purview", 0x1234502);   // only the low byte counts
    store.setString(kSettings, "Formula0", "");        // empty keeps the default
    store.setString(kSettings, "Formula0_Time", std::string(40, 'T'));  // cut to 31 bytes
    SystemSettings s;
    LoadSettings(store, s);
    EXPECT_EQ(s.multiDay, 5u);
    EXPECT_EQ(s.purview, 2);
    EXPECT_EQ(s.formula0, "K");
    EXPECT_EQ(s.formula0Time, std::string(31, 'T'));

    // A 31-byte cut never splits a double-byte character.
    store.setString(kSettings, "Formula0", "A" + Utf8ToGbk("指标指标指标指标指标指标指标指标"));
    LoadSettings(store, s);
    EXPECT_EQ(s.formula0.size(), 31u);
    store.setString(kSettings, "Formula0", Utf8ToGbk("指标指标指标指标指标指标指标指标"));
    LoadSettings(store, s);
    EXPECT_EQ(s.formula0.size(), 30u);
}

TEST(SystemSettings, ActiveSchemeByNameAndUnknownNameSelectsTheFirst) {
    SettingsStore store;
    const std::string aspect = SettingsKey("Settings\\Aspect2");
    SystemSettings s;
    store.setString(aspect, "", Utf8ToGbk("白黑"));
    LoadSettings(store, s);
    EXPECT_EQ(s.activeScheme, 3);
    store.setString(aspect, "", Utf8ToGbk("时尚"));
    LoadSettings(store, s);
    EXPECT_EQ(s.activeScheme, 2);
    store.setString(aspect, "", "no such scheme");
    LoadSettings(store, s);
    EXPECT_EQ(s.activeScheme, 0);
    store.setString(aspect, "", std::string(5000, 'x'));
    LoadSettings(store, s);
    EXPECT_EQ(s.activeScheme, 0);
}

TEST(SystemSettings, SchemeColoursAndFontsAreReadOnlyAtTheirSizes) {
    SettingsStore store;
    SystemSettings s;
    const std::string key = SettingsKey("Settings\\Aspect2\\") + Utf8ToGbk("经典");
    std::string colors(128, '\0');
    colors[0] = 0x11;  // background red = 0x11
    store.setBinary(key, "Color", colors);
    std::string fonts(300, 'F');  // face names without a NUL
    store.setBinary(key, "Font1", fonts);
    LoadSettings(store, s);
    EXPECT_EQ(s.schemes[1].colors[kColorBackground], 0x11u);
    EXPECT_EQ(s.schemes[1].colors[kColorAxis], 0u);
    EXPECT_EQ(std::strlen(s.schemes[1].fonts[4].faceName), 31u);  // terminated

    // Damaged values of the wrong size leave the built-in scheme.
    const auto builtIn = BuiltInSchemes();
    store.setBinary(key, "Color", std::string(127, '\x22'));
    store.setBinary(key, "Font1", std::string(301, 'G'));
    LoadSettings(store, s);
    EXPECT_EQ(0, std::memcmp(&s.schemes[1], &builtIn[1], sizeof(ColorScheme)));
}

TEST(SystemSettings, SaveThenLoadRoundTripsThroughAFile) {
    TempDir dir;
    const std::string path = dir.path() + "/cfg/settings.reg";
    SystemSettings s;
    s.activeScheme = 2;
    s.schemes[2].colors[kColorRising] = Rgb(1, 2, 3);
    s.schemes[3].fonts[kFontChart].height = -21;
    s.statusBar = false;
    s.stkInfoWidth = 300;
    s.purview = 1;
    s.vcoord = true;
    s.multiDay = 10;
    s.multiPics = 4;
    s.cycle = 9;
    s.coordType = 2;
    s.formula0 = "BOLL";
    s.formula0Time = Utf8ToGbk("分时");
    s.ruler = 0;
    s.daysTime = 3;
    s.areas = 5;
    s.areasTime = 3;
    s.kLinePanes[1].clear();
    s.kLinePanes[1].add(4, "RSI");
    s.kLinePanes[1].add(4, Utf8ToGbk("指标"));
    s.timePanes[0].add(4, "LB");
    {
        SettingsStore store(path);
        SaveSettings(store, s);
        ASSERT_TRUE(store.save());
    }
    SettingsStore reread(path);
    SystemSettings t;
    LoadSettings(reread, t);
    EXPECT_EQ(t.activeScheme, 2);
    EXPECT_EQ(t.schemes[2].colors[kColorRising], Rgb(1, 2, 3));
    EXPECT_EQ(t.schemes[3].fonts[kFontChart].height, -21);
    EXPECT_FALSE(t.statusBar);
    EXPECT_EQ(t.stkInfoWidth, 300u);
    EXPECT_EQ(t.purview, 1);
    EXPECT_TRUE(t.vcoord);
    EXPECT_EQ(t.multiDay, 10u);
    EXPECT_EQ(t.multiPics, 4u);
    EXPECT_EQ(t.cycle, 9u);
    EXPECT_EQ(t.coordType, 2u);
    EXPECT_EQ(t.formula0, "BOLL");
    EXPECT_EQ(t.formula0Time, Utf8ToGbk("分时"));
    EXPECT_EQ(t.ruler, 0u);
    EXPECT_EQ(t.daysTime, 3u);
    EXPECT_EQ(t.areas, 5u);
    EXPECT_EQ(t.areasTime, 3u);
    for (int i = 0; i < kPaneCount; ++i) {
        EXPECT_EQ(t.kLinePanes[i], s.kLinePanes[i]) << i;
        EXPECT_EQ(t.timePanes[i], s.timePanes[i]) << i;
    }
    EXPECT_EQ(0, std::memcmp(t.schemes.data(), s.schemes.data(), sizeof(ColorScheme) * kSchemeCount));
}

TEST(SystemSettings, SaveLeavesTheExcludedValuesAlone) {
    SettingsStore store;
    SystemSettings s;
    s.bossKey = true;
    s.bossKeyModifiers = 6;
    s.bossKeyVirtualCode = 66;
    s.exitTipTime = 12345;
    SaveSettings(store, s);
    for (const char* name : {"bBossKey", "bkModifiers", "bkVirtualCode", "ExitTipTime"})
        EXPECT_FALSE(store.get(kSettings, name).has_value()) << name;
    for (const char* name : {"path", "exe", "version", "subversion"})
        EXPECT_FALSE(store.get(SettingsKey(""), name).has_value()) << name;
    for (const char* m : {"SH", "SZ", "$$"}) EXPECT_FALSE(store.get(SettingsKey(m), "defdec").has_value());
    EXPECT_EQ(store.getDword(kSettings, "StatusBar"), 1u);
    EXPECT_EQ(store.getDword(kSettings, "Vcoord1"), 0u);
    EXPECT_EQ(store.getString(kSettings, "AreaFormulaRec0"), "3\tMA\t");
    EXPECT_EQ(store.getString(kSettings, "AreaFormulaRec_Time0"), "");
    EXPECT_EQ(store.getString(kSettings, "AreaFormulaRec_Time5"), "4\tTENDV\t");
    EXPECT_EQ(store.getString(SettingsKey("Settings\\Aspect2"), ""), Utf8ToGbk("经典(大)"));
    EXPECT_EQ(store.subKeys(SettingsKey("Settings\\Aspect2")).size(), 4u);

    // The options dialog writes the boss key itself.
    SaveBossKey(store, s);
    EXPECT_EQ(store.getDword(kSettings, "bBossKey"), 1u);
    EXPECT_EQ(store.getDword(kSettings, "bkModifiers"), 6u);
    EXPECT_EQ(store.getDword(kSettings, "bkVirtualCode"), 66u);
    SystemSettings t;
    LoadSettings(store, t);
    EXPECT_TRUE(t.bossKey);
    EXPECT_EQ(t.bossKeyVirtualCode, 66u);
}

// ---- Pane formula lists -------------------------------------------------------

TEST(PaneFormulaList, ReadingKeepsOnlyExistingFormulas) {
    auto exists = [](int32_t type, std::string_view name) {
        return (type == 4 && (name == "VOL" || name == "MACD")) || (type == 3 && name == "MA");
    };
    PaneFormulaList l = ParsePaneList("4\tVOL\t4\tGONE\t3\tVOL\t4\tMACD\t", exists);
    ASSERT_EQ(l.count, 2);
    EXPECT_EQ(l.name(0), "VOL");
    EXPECT_EQ(l.name(1), "MACD");

    // Stored lists replace the defaults, even when nothing of them exists.
    SettingsStore store;
    store.setString(kSettings, "AreaFormulaRec1", "4\tGONE\t");
    store.setString(kSettings, "AreaFormulaRec_Time2", "3\tMA\t4\tMACD\t");
    SystemSettings s;
    LoadSettings(store, s, exists);
    EXPECT_EQ(s.kLinePanes[1].count, 0);
    EXPECT_EQ(s.kLinePanes[2].name(0), "AMOUNT");  // not stored: the default
    ASSERT_EQ(s.timePanes[2].count, 2);
    EXPECT_EQ(s.timePanes[2].types[0], 3);
    EXPECT_EQ(s.timePanes[2].name(1), "MACD");
}

TEST(PaneFormulaList, MalformedItemsAreDropped) {
    PaneFormulaList l = ParsePaneList("x\tA\t\tB\t4\t\t 4 \tC\t99999999999\tD\t-2\tE\t4\tLAST", {});
    ASSERT_EQ(l.count, 3);
    EXPECT_EQ(l.types[0], 4);
    EXPECT_EQ(l.name(0), "C");
    EXPECT_EQ(l.types[1], -2);
    EXPECT_EQ(l.name(2), "LAST");  // a final name without its tab still counts
    EXPECT_EQ(ParsePaneList("4", {}).count, 0);
    EXPECT_EQ(ParsePaneList("", {}).count, 0);
    // Names over 31 bytes cannot be formula names.
    EXPECT_EQ(ParsePaneList("4\t" + std::string(32, 'N') + "\t", {}).count, 0);
    EXPECT_EQ(ParsePaneList("4\t" + std::string(31, 'N') + "\t", {}).count, 1);
}

TEST(PaneFormulaList, AtMostThirtyItemsAreTaken) {
    std::string text;
    for (int i = 0; i < 40; ++i) text += "4\tF" + std::to_string(i) + "\t";
    PaneFormulaList l = ParsePaneList(text, {});
    ASSERT_EQ(l.count, 30);
    EXPECT_EQ(l.name(29), "F29");

    // The 30 are counted after dropping: a missing formula does not use a place.
    auto skipFirst = [](int32_t, std::string_view name) { return name != "F0"; };
    l = ParsePaneList(text, skipFirst);
    ASSERT_EQ(l.count, 30);
    EXPECT_EQ(l.name(0), "F1");
    EXPECT_EQ(l.name(29), "F30");
    EXPECT_FALSE(l.add(4, "MORE"));
}

TEST(PaneFormulaList, WritingKeepsWholeItemsWithin1023Bytes) {
    PaneFormulaList l;
    // 30 items of "-2147483648\t" + 31-byte name + "\t" = 44 bytes each: 23 fit in 1023.
    for (int i = 0; i < 30; ++i) {
        std::string name = std::string(29, 'N') + static_cast<char>('A' + i / 10) + static_cast<char>('0' + i % 10);
        ASSERT_TRUE(l.add(INT32_MIN, name));
    }
    std::string text = FormatPaneList(l);
    EXPECT_EQ(text.size(), 23u * 44u);
    EXPECT_LE(text.size(), kMaxSettingText);
    EXPECT_EQ(text.back(), '\t');
    PaneFormulaList back = ParsePaneList(text, {});
    ASSERT_EQ(back.count, 23);
    EXPECT_EQ(back.types[22], INT32_MIN);
    EXPECT_EQ(back.name(22), l.name(22));

    // Exactly 1023 bytes is still allowed.
    PaneFormulaList exact;
    std::string expect;
    for (int i = 0; i < 30 && expect.size() < 1023; ++i) {
        size_t left = 1023 - expect.size();
        size_t nameLen = left >= 35 ? 31 : left - 4;  // "10\t" + name + "\t"
        if (nameLen == 0 || nameLen > 31) break;
        std::string name(nameLen, static_cast<char>('a' + i));
        exact.add(10, name);
        expect += "10\t" + name + "\t";
    }
    ASSERT_EQ(expect.size(), 1023u);
    EXPECT_EQ(FormatPaneList(exact), expect);
}

TEST(PaneFormulaList, OverlongStoredTextIsReadToItsLastWholeField) {
    // 44-byte items: 23 lie wholly within the first 1023 bytes, the 24th does not.
    std::string text;
    for (int i = 0; i < 40; ++i) text += "-2147483648\t" + std::string(29, 'N') + std::to_string(10 + i) + "\t";
    ASSERT_EQ(text.size(), 40u * 44u);
    PaneFormulaList l = ParsePaneList(text, {});
    EXPECT_EQ(l.count, 23);
    std::string kept = FormatPaneList(l);
    EXPECT_EQ(text.compare(0, kept.size(), kept), 0);
    // A field cut in the middle is not read as a shorter name.
    std::string cut = "4\t" + std::string(1015, 'x') + "\t4\tLONGNAME_THAT_CROSSES\t";
    EXPECT_EQ(ParsePaneList(cut, {}).count, 0);
}

TEST(PaneFormulaList, AddRejectsBadNames) {
    PaneFormulaList l;
    EXPECT_FALSE(l.add(4, ""));
    EXPECT_FALSE(l.add(4, std::string(32, 'x')));
    EXPECT_FALSE(l.add(4, std::string("a\0b", 3)));
    EXPECT_TRUE(l.add(4, std::string(31, 'x')));
    EXPECT_EQ(l.name(0).size(), 31u);
}

TEST(ColorSchemes, BuiltInNamesFacesAndLayout) {
    auto schemes = BuiltInSchemes();
    const char* names[4] = {"经典(大)", "经典", "时尚", "白黑"};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(FieldText(schemes[i].name), Utf8ToGbk(names[i])) << i;
        EXPECT_EQ(FindScheme(schemes, Utf8ToGbk(names[i])), i);
        // The rising and falling colours differ from each other and from the background.
        EXPECT_NE(schemes[i].colors[kColorRising], schemes[i].colors[kColorFalling]);
        EXPECT_NE(schemes[i].colors[kColorBackground], schemes[i].colors[kColorChartText]);
        for (const LogFont& f : schemes[i].fonts) {
            std::string face = GbkToUtf8(FieldText(f.faceName));
            EXPECT_TRUE(face == "System" || face == "宋体" || face == "楷体_GB2312" || face == "Arial") << face;
            EXPECT_LT(f.height, 0);
        }
    }
    EXPECT_EQ(FindScheme(schemes, "nope"), 0);
    EXPECT_EQ(IndicatorColor(1), kColorIndicator1);
    EXPECT_EQ(IndicatorColor(16), 31);
    EXPECT_EQ(IndicatorColor(17), kColorIndicator1);
    EXPECT_EQ(offsetof(ColorScheme, colors), 16u);
    EXPECT_EQ(offsetof(ColorScheme, fonts), 144u);
    EXPECT_EQ(offsetof(LogFont, faceName), 28u);
}

}  // namespace
}  // namespace tessaro
