#include <gtest/gtest.h>

#include "platform/settings_store.h"
#include "test_support/temp_dir.h"

namespace tessaro {
namespace {

TEST(SettingsStore, AbsentIsDistinctFromZeroAndTypesAreKept) {
    SettingsStore s;
    const std::string key = SettingsKey("Settings");
    EXPECT_FALSE(s.getDword(key, "Areas"));
    s.setDword(key, "Areas", 0);
    ASSERT_TRUE(s.getDword(key, "Areas"));
    EXPECT_EQ(*s.getDword(key, "Areas"), 0u);
    s.setString(key, "Formula0", "K");
    EXPECT_FALSE(s.getDword(key, "Formula0"));  // a string is not a DWORD
    EXPECT_EQ(s.getString(SettingsKey("SETTINGS"), "formula0"), "K");  // names ignore ASCII case
    s.remove(key, "Areas");
    EXPECT_FALSE(s.getDword(key, "Areas"));
}

TEST(SettingsStore, FileRoundTripKeepsEveryByte) {
    TempDir dir;
    std::string path = dir.path() + "/cfg/settings.reg";
    {
        SettingsStore s(path);
        s.setString(SettingsKey(""), "version", "Tessaro\xC6\xD5\xBC\xB0\xB0\xE6");  // GBK bytes
        s.setString(SettingsKey("Settings\\Aspect2"), "", "quote\" back\\slash\ttab\nline\x01");
        s.setDword(SettingsKey("Settings"), "ExitTipTime", 0xFFFFFFFFu);
        s.setBinary(SettingsKey("Settings\\Aspect2\\x"), "Color", std::string("\x00\xFF\x10", 3));
        s.setBinary(SettingsKey("Settings"), "Empty", "");
        ASSERT_TRUE(s.save());
    }
    SettingsStore r(path);
    EXPECT_EQ(r.getString(SettingsKey(""), "version"), "Tessaro\xC6\xD5\xBC\xB0\xB0\xE6");
    EXPECT_EQ(r.getString(SettingsKey("Settings\\Aspect2"), ""), "quote\" back\\slash\ttab\nline\x01");
    EXPECT_EQ(r.getDword(SettingsKey("Settings"), "ExitTipTime"), 0xFFFFFFFFu);
    EXPECT_EQ(r.getBinary(SettingsKey("Settings\\Aspect2\\x"), "Color"), std::string("\x00\xFF\x10", 3));
    EXPECT_EQ(r.getBinary(SettingsKey("Settings"), "Empty"), "");
    EXPECT_EQ(r.subKeys(SettingsKey("Settings\\Aspect2")), std::vector<std::string>{"x"});
}

TEST(SettingsStore, MalformedLinesAreSkipped) {
    SettingsStore s;
    s.parse("[K]\n\"a\"=dword:zz\n\"b\"=hex:0g\n\"c\"=\"unterminated\n\"d\"=dword:123456789\n"
            "\"ok\"=dword:0000000a\nno equals\n[]\n\"e\"=\"x\"\n");
    EXPECT_FALSE(s.get("K", "a"));
    EXPECT_FALSE(s.get("K", "b"));
    EXPECT_FALSE(s.get("K", "c"));
    EXPECT_FALSE(s.get("K", "d"));
    EXPECT_EQ(s.getDword("K", "ok"), 10u);
    EXPECT_FALSE(s.get("", "e"));
}

}  // namespace
}  // namespace tessaro

#include <sys/stat.h>

namespace tessaro {
TEST(SettingsStore, FileIsReadableByItsOwnerOnly) {
    TempDir dir;
    std::string path = dir.path() + "/conf/settings.txt";
    SettingsStore store(path);
    store.setString(SettingsKey("Net\\Login"), "word", "secret");
    ASSERT_TRUE(store.save());
    struct stat st{};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    // Rewriting keeps it so (the temporary file is made 0600 from the start).
    ASSERT_TRUE(store.save());
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}
}  // namespace tessaro
