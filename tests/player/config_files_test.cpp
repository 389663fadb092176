// config.ini, the INI rules under it, the user directories and the file helpers.
#include "player/file_io.h"
#include "player/ini_text.h"
#include "player/user_dirs.h"
#include "player/window_config.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace zuvo {
namespace {

std::string Slurp(const std::string& path) {
    const FileText f = ReadSmallFile(path);
    EXPECT_EQ(f.status, ReadStatus::Ok) << path;
    return f.text;
}

TEST(IniText, ReadsWithPrivateProfileRules) {
    const std::string text =
        "; comment\n[other]\nwidth=1\n[ Default ]\n  WIDTH =  1024  \nheight=\"768\"\nwidth=5\n[x]\nheight=9\n";
    EXPECT_EQ(ReadIniValue(text, "default", "width"), "1024");   // case-insensitive, trimmed, first wins
    EXPECT_EQ(ReadIniValue(text, "default", "height"), "768");   // quotes removed
    EXPECT_EQ(ReadIniValue(text, "other", "width"), "1");
    EXPECT_FALSE(ReadIniValue(text, "default", "depth"));
    EXPECT_FALSE(ReadIniValue(text, "missing", "width"));
    EXPECT_FALSE(ReadIniValue("", "default", "width"));
    EXPECT_EQ(ReadIniValue("[default]\r\nwidth=7\r\n", "default", "width"), "7");
    EXPECT_FALSE(ReadIniValue("[default\nwidth=7\n", "default", "width"));  // not a section header
}

TEST(IniText, WritingChangesOnlyTheOneLine) {
    const std::string text = "# mine\n[default]\nwidth=1\n\n[keep]\nwidth=2\n";
    EXPECT_EQ(WriteIniValue(text, "default", "WIDTH", "3"), "# mine\n[default]\nWIDTH=3\n\n[keep]\nwidth=2\n");
    // A new key goes after the section's last entry, before the blank line.
    EXPECT_EQ(WriteIniValue(text, "default", "height", "4"),
              "# mine\n[default]\nwidth=1\nheight=4\n\n[keep]\nwidth=2\n");
    // A new section is appended, after a last line without an ending.
    EXPECT_EQ(WriteIniValue("a=1", "default", "width", "5"), "a=1\n[default]\nwidth=5\n");
    EXPECT_EQ(WriteIniValue("", "default", "width", "5"), "[default]\nwidth=5\n");
    // CRLF files stay CRLF.
    EXPECT_EQ(WriteIniValue("[default]\r\nwidth=1\r\n", "default", "height", "2"),
              "[default]\r\nwidth=1\r\nheight=2\r\n");
    // A section that is the last line, without an ending.
    EXPECT_EQ(WriteIniValue("[default]", "default", "width", "1"), "[default]\nwidth=1\n");
}

TEST(ConfigSize, DefaultsAndUnsignedConversion) {
    EXPECT_EQ(ConfigSizeValue("", "width", 800), 800);
    EXPECT_EQ(ConfigSizeValue("[default]\nwidth=\n", "width", 800), 800);   // empty gives the default
    EXPECT_EQ(ConfigSizeValue("[default]\nwidth=  \n", "width", 800), 800);
    EXPECT_EQ(ConfigSizeValue("[default]\nwidth=abc\n", "width", 800), 0);  // no digits give 0
    EXPECT_EQ(ConfigSizeValue("[default]\nwidth=640px\n", "width", 800), 640);
    EXPECT_EQ(ConfigSizeValue("[default]\nwidth=-640\n", "width", 800), 0);
    // Too large for a signed size: capped, never negative.
    EXPECT_EQ(ConfigSizeValue("[default]\nwidth=3000000000\n", "width", 800), 2147483647);
    EXPECT_EQ(ConfigSizeValue("[default]\nwidth=99999999999999999999\n", "width", 800), 2147483647);
    // Only the first 64 characters count.
    EXPECT_EQ(ConfigSizeValue("[default]\nwidth=" + std::string(63, '0') + "12\n", "width", 800), 1);
}

TEST(ConfigFile, RoundTripKeepsOtherLines) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string path = dir.path().toStdString() + "/zuvoplayer/config.ini";
    EXPECT_EQ(LoadWindowSize(path), (WindowSize{800, 600}));  // missing file
    ASSERT_TRUE(SaveWindowSize(path, {1024, 700}));           // creates the directory
    EXPECT_EQ(Slurp(path), "[default]\nwidth=1024\nheight=700\n");
    EXPECT_EQ(LoadWindowSize(path), (WindowSize{1024, 700}));

    ASSERT_TRUE(WriteFileAtomically(path, "; user notes\n[default]\nheight=1\nwidth=2\n[extra]\nk=v\n"));
    ASSERT_TRUE(SaveWindowSize(path, {640, 480}));
    EXPECT_EQ(Slurp(path), "; user notes\n[default]\nheight=480\nwidth=640\n[extra]\nk=v\n");
    EXPECT_FALSE(SaveWindowSize("", {1, 1}));
    EXPECT_EQ(LoadWindowSize(""), (WindowSize{800, 600}));
}

TEST(ConfigFile, UnreadableOrOversizedFilesGiveDefaultsAndAreNotOverwritten) {
    QTemporaryDir dir;
    const std::string path = dir.path().toStdString() + "/config.ini";
    // A directory in the file's place.
    ASSERT_TRUE(MakeDirectories(path));
    EXPECT_EQ(LoadWindowSize(path), (WindowSize{800, 600}));
    EXPECT_FALSE(SaveWindowSize(path, {400, 400}));

    const std::string big = dir.path().toStdString() + "/big.ini";
    std::string content = "[default]\nwidth=900\n" + std::string(kMaxSmallFile, ';');
    ASSERT_TRUE(WriteFileAtomically(big, content));
    EXPECT_EQ(LoadWindowSize(big), (WindowSize{800, 600}));
    EXPECT_FALSE(SaveWindowSize(big, {400, 400}));
    EXPECT_EQ(ReadSmallFile(big, content.size()).text, content);  // left as it was
}

TEST(ConfigFile, AtomicWriteFollowsSymlinks) {
    QTemporaryDir dir;
    const std::string target = dir.path().toStdString() + "/real.ini";
    const std::string link = dir.path().toStdString() + "/config.ini";
    ASSERT_TRUE(WriteFileAtomically(target, "[default]\nwidth=1\n"));
    ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
    ASSERT_TRUE(SaveWindowSize(link, {500, 400}));
    struct stat st {};
    ASSERT_EQ(::lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(LoadWindowSize(target), (WindowSize{500, 400}));
}

// The user's directories in a sandbox, and a file outside them that must never change.
struct Sandbox {
    QTemporaryDir root;
    std::string home() const { return root.path().toStdString() + "/home"; }
    std::string config() const { return home() + "/.config"; }
    std::string outside() const { return root.path().toStdString() + "/system/passwd"; }
    std::vector<std::string> roots() const { return {home(), config()}; }
    Sandbox() {
        EXPECT_TRUE(MakeDirectories(config()));
        EXPECT_TRUE(WriteFileAtomically(outside(), "root:x:0:0\n"));
    }
    void ExpectOutsideUntouched() const { EXPECT_EQ(Slurp(outside()), "root:x:0:0\n"); }
};

TEST(ConfigFile, WritesNeverLeaveTheUserDirectories) {
    Sandbox box;
    const std::string file = box.config() + "/zuvoplayer/config.ini";
    // A linked config file pointing out of the user's directories is not written through.
    ASSERT_TRUE(MakeDirectories(box.config() + "/zuvoplayer"));
    ASSERT_EQ(::symlink(box.outside().c_str(), file.c_str()), 0);
    EXPECT_FALSE(SaveWindowSize(file, {500, 400}, box.roots()));
    box.ExpectOutsideUntouched();
    struct stat st {};
    ASSERT_EQ(::lstat(file.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));  // the link itself is left as it was

    // A linked directory on the way out is caught as well, and so is a link that points nowhere yet.
    Sandbox dirLink;
    const std::string systemDir = dirLink.root.path().toStdString() + "/system";
    ASSERT_EQ(::symlink(systemDir.c_str(), (dirLink.config() + "/zuvoplayer").c_str()), 0);
    EXPECT_FALSE(SaveWindowSize(dirLink.config() + "/zuvoplayer/passwd", {1, 1}, dirLink.roots()));
    EXPECT_FALSE(SaveWindowSize(dirLink.config() + "/zuvoplayer/new.ini", {1, 1}, dirLink.roots()));
    EXPECT_FALSE(QFile::exists(QString::fromStdString(systemDir + "/new.ini")));
    dirLink.ExpectOutsideUntouched();
    Sandbox dangling;
    const std::string pending = dangling.config() + "/pending.ini";
    const std::string planted = dangling.root.path().toStdString() + "/system/planted";
    ASSERT_EQ(::symlink(planted.c_str(), pending.c_str()), 0);
    EXPECT_FALSE(WriteFileAtomically(pending, "x", dangling.roots()));
    EXPECT_FALSE(QFile::exists(QString::fromStdString(planted)));

    // ".." cannot climb out, and a relative path is never written.
    Sandbox dots;
    EXPECT_FALSE(WriteFileAtomically(dots.config() + "/../../system/passwd", "x", dots.roots()));
    dots.ExpectOutsideUntouched();
    EXPECT_FALSE(WriteFileAtomically("relative.ini", "x", dots.roots()));
    EXPECT_FALSE(QFile::exists("relative.ini"));

    // Links that stay inside (a dotfile kept elsewhere in home) are followed, and the link stays.
    Sandbox dotfiles;
    const std::string kept = dotfiles.home() + "/dotfiles/config.ini";
    ASSERT_TRUE(WriteFileAtomically(kept, "[default]\nwidth=1\n"));
    const std::string linked = dotfiles.config() + "/config.ini";
    ASSERT_EQ(::symlink(kept.c_str(), linked.c_str()), 0);
    ASSERT_TRUE(SaveWindowSize(linked, {700, 500}, dotfiles.roots()));
    EXPECT_EQ(LoadWindowSize(kept), (WindowSize{700, 500}));
    ASSERT_EQ(::lstat(linked.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
}

TEST(ConfigFile, WriteTargetResolvesLinksLikeTheWriteDoes) {
    QTemporaryDir dir;
    const std::string base = QFileInfo(dir.path()).canonicalFilePath().toStdString();
    EXPECT_EQ(WriteTarget(base + "/a/./b/../c.ini"), base + "/a/c.ini");
    EXPECT_EQ(WriteTarget("c.ini"), "");
    const std::string loopA = base + "/loopA", loopB = base + "/loopB";
    ASSERT_EQ(::symlink(loopB.c_str(), loopA.c_str()), 0);
    ASSERT_EQ(::symlink(loopA.c_str(), loopB.c_str()), 0);
    EXPECT_EQ(WriteTarget(loopA), "");  // a loop of links has no target
    EXPECT_FALSE(WriteFileAtomically(loopA, "x", {base}));
    EXPECT_TRUE(WritesInside(base + "/x", {"/"}));
    EXPECT_FALSE(WritesInside(base, {base}));  // the root itself is no file inside it
}

TEST(UserDirs, OnlyAbsolutePathsAreUsed) {
    EXPECT_EQ(ResolveBaseDir("/x/cfg", "/home/u", "/.config"), "/x/cfg");
    EXPECT_EQ(ResolveBaseDir("/x/cfg//", "/home/u", "/.config"), "/x/cfg");
    EXPECT_EQ(ResolveBaseDir(nullptr, "/home/u", "/.config"), "/home/u/.config");
    EXPECT_EQ(ResolveBaseDir("", "/home/u/", "/.config"), "/home/u/.config");
    // A relative value would write wherever the program was started: ignored.
    EXPECT_EQ(ResolveBaseDir("cfg", "/home/u", "/.config"), "/home/u/.config");
    EXPECT_EQ(ResolveBaseDir("../../etc", "/home/u", "/.config"), "/home/u/.config");
    EXPECT_EQ(ResolveBaseDir("cfg", "home", "/.config"), "");
    EXPECT_EQ(ResolveBaseDir(nullptr, nullptr, "/.config"), "");
    EXPECT_EQ(ResolveBaseDir("/a\nb", nullptr, ""), "");
    EXPECT_EQ(ResolveBaseDir(nullptr, "/", "/.config"), "/.config");
    EXPECT_EQ(ConfigFilePath({"/c", "/d", ""}), "/c/zuvoplayer/config.ini");
    EXPECT_EQ(ConfigFilePath({"", "/d", ""}), "");  // no usable directory: nothing is written
    EXPECT_EQ(WritableRoots({"/c", "", "", "/h"}), (std::vector<std::string>{"/h", "/c"}));
}

}  // namespace
}  // namespace zuvo
