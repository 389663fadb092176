#include "player/file_io.h"
#include "player/scheme_registration.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace zuvo {
namespace {

// What a desktop-entry reader does with one quoted Exec argument: undo the string escapes, then the
// quoting. Returns "<bad>" when the text is not one well-formed quoted argument.
std::string UnquoteExecArgument(const std::string& text) {
    std::string unescaped;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            const char n = text[++i];
            unescaped += n == 's' ? ' ' : n == 'n' ? '\n' : n == 't' ? '\t' : n == 'r' ? '\r' : n;
        } else {
            unescaped += text[i];
        }
    }
    if (unescaped.size() < 2 || unescaped.front() != '"' || unescaped.back() != '"') return "<bad>";
    std::string arg;
    for (std::size_t i = 1; i + 1 < unescaped.size(); ++i) {
        char c = unescaped[i];
        if (c == '\\') {
            if (i + 2 >= unescaped.size()) return "<bad>";
            c = unescaped[++i];
            if (c != '"' && c != '`' && c != '$' && c != '\\') return "<bad>";
        } else if (c == '"' || c == '`' || c == '$') {
            return "<bad>";  // must have been escaped
        } else if (c == '%') {
            if (unescaped[i + 1] != '%') return "<bad>";  // a field code inside quotes
            ++i;
        }
        arg += c;
    }
    return arg;
}

TEST(ExecQuoting, RoundTripsAwkwardPaths) {
    for (const std::string path : {"/usr/bin/zuvoplayer", "/opt/Zuvo Player/zuvoplayer", "/a/\"q\"/b",
                                   "/a/$HOME/`id`", "/a\\b\\\\c", "/a/100%/%u", "/中文/播放器"}) {
        const auto quoted = QuoteExecArgument(path);
        ASSERT_TRUE(quoted) << path;
        EXPECT_EQ(UnquoteExecArgument(*quoted), path) << *quoted;
    }
    EXPECT_EQ(*QuoteExecArgument("/a b/$x"), "\"/a b/\\\\$x\"");
    EXPECT_EQ(*QuoteExecArgument("/a\\b"), "\"/a\\\\\\\\b\"");  // four backslashes for one
    EXPECT_EQ(*QuoteExecArgument("/100%"), "\"/100%%\"");
    EXPECT_FALSE(QuoteExecArgument("/a\nExec=/bin/evil"));  // a line break would add a key
    EXPECT_FALSE(QuoteExecArgument("/a\tb"));
}

TEST(DesktopEntry, DeclaresTheSchemeAndPassesTheLinkAfterTheSwitch) {
    const auto text = DesktopEntryText("/opt/zuvo/zuvoplayer");
    ASSERT_TRUE(text);
    EXPECT_EQ(text->rfind("[Desktop Entry]\n", 0), 0u);
    EXPECT_NE(text->find("\nType=Application\n"), std::string::npos);
    EXPECT_NE(text->find("\nExec=\"/opt/zuvo/zuvoplayer\" -zuvopurl %u\n"), std::string::npos);
    EXPECT_NE(text->find("\nMimeType=x-scheme-handler/zuvop2p;\n"), std::string::npos);
    EXPECT_FALSE(DesktopEntryText("/x\n"));
}

TEST(MimeApps, SetsTheDefaultHandlerKeepingOtherLines) {
    EXPECT_EQ(MimeAppsWithHandler(""), "[Default Applications]\nx-scheme-handler/zuvop2p=zuvoplayer.desktop\n");
    const std::string user =
        "[Added Associations]\ntext/plain=gedit.desktop;\n\n[Default Applications]\n"
        "x-scheme-handler/http=firefox.desktop\nx-scheme-handler/zuvop2p=other.desktop\n";
    EXPECT_EQ(MimeAppsWithHandler(user),
              "[Added Associations]\ntext/plain=gedit.desktop;\n\n[Default Applications]\n"
              "x-scheme-handler/http=firefox.desktop\nx-scheme-handler/zuvop2p=zuvoplayer.desktop\n");
    const std::string noDefaults = "[Added Associations]\ntext/plain=gedit.desktop;\n";
    EXPECT_EQ(MimeAppsWithHandler(noDefaults),
              noDefaults + "[Default Applications]\nx-scheme-handler/zuvop2p=zuvoplayer.desktop\n");
    // Applying it twice changes nothing more.
    EXPECT_EQ(MimeAppsWithHandler(MimeAppsWithHandler(user)), MimeAppsWithHandler(user));
}

struct RegistrationDirs {
    QTemporaryDir root;
    UserDirs dirs;
    RegistrationDirs() {
        dirs.configHome = root.path().toStdString() + "/config";
        dirs.dataHome = root.path().toStdString() + "/data";
    }
    std::string desktopFile() const { return dirs.dataHome + "/applications/zuvoplayer.desktop"; }
    std::string mimeApps() const { return dirs.configHome + "/mimeapps.list"; }
};

TEST(Registration, WritesTheEntryAndTheDefaultHandler) {
    RegistrationDirs d;
    ASSERT_TRUE(WriteFileAtomically(d.mimeApps(), "[Default Applications]\ntext/html=firefox.desktop\n"));
    const RegistrationResult result = RegisterSchemeHandler(d.dirs, "/opt/zuvo/zuvoplayer");
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(ReadSmallFile(d.desktopFile()).text, *DesktopEntryText("/opt/zuvo/zuvoplayer"));
    EXPECT_EQ(ReadSmallFile(d.mimeApps()).text,
              "[Default Applications]\ntext/html=firefox.desktop\nx-scheme-handler/zuvop2p=zuvoplayer.desktop\n");
    // Every start registers again; a moved program updates the entry.
    EXPECT_TRUE(RegisterSchemeHandler(d.dirs, "/new/place/zuvoplayer").ok);
    EXPECT_NE(ReadSmallFile(d.desktopFile()).text.find("Exec=\"/new/place/zuvoplayer\""), std::string::npos);
}

TEST(Registration, StopsAtTheFirstFailure) {
    {
        RegistrationDirs d;
        // A file where the applications directory should be: the first step fails, nothing else runs.
        ASSERT_TRUE(WriteFileAtomically(d.dirs.dataHome + "/applications", "x"));
        const RegistrationResult r = RegisterSchemeHandler(d.dirs, "/p/zuvoplayer");
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.failedAt, RegistrationStep::DataDirectory);
        EXPECT_EQ(ReadSmallFile(d.mimeApps()).status, ReadStatus::Missing);
    }
    {
        RegistrationDirs d;
        const RegistrationResult r = RegisterSchemeHandler(d.dirs, "/bad\npath");
        EXPECT_EQ(r.failedAt, RegistrationStep::DesktopEntry);
        EXPECT_EQ(ReadSmallFile(d.desktopFile()).status, ReadStatus::Missing);
        EXPECT_EQ(ReadSmallFile(d.mimeApps()).status, ReadStatus::Missing);
    }
    {
        RegistrationDirs d;
        ASSERT_TRUE(MakeDirectories(d.mimeApps()));  // unreadable as a file: left alone
        const RegistrationResult r = RegisterSchemeHandler(d.dirs, "/p/zuvoplayer");
        EXPECT_EQ(r.failedAt, RegistrationStep::DefaultHandler);
        EXPECT_EQ(ReadSmallFile(d.desktopFile()).status, ReadStatus::Ok);
    }
    {
        RegistrationDirs d;
        d.dirs.dataHome.clear();  // no usable directory: nothing is written anywhere
        EXPECT_EQ(RegisterSchemeHandler(d.dirs, "/p/zuvoplayer").failedAt, RegistrationStep::DataDirectory);
    }
}

TEST(Registration, NeverWritesThroughLinksOutOfTheUserDirectories) {
    RegistrationDirs d;
    d.dirs.home = d.root.path().toStdString() + "/home";
    const std::string outside = d.root.path().toStdString() + "/etc/mimeapps.list";
    ASSERT_TRUE(WriteFileAtomically(outside, "[Default Applications]\n"));
    ASSERT_TRUE(MakeDirectories(d.dirs.configHome));
    ASSERT_EQ(::symlink(outside.c_str(), d.mimeApps().c_str()), 0);
    const RegistrationResult r = RegisterSchemeHandler(d.dirs, "/p/zuvoplayer");
    EXPECT_EQ(r.failedAt, RegistrationStep::DefaultHandler);
    EXPECT_EQ(ReadSmallFile(outside).text, "[Default Applications]\n");
    // The desktop entry, inside the data directory, was written before the refusal.
    EXPECT_EQ(ReadSmallFile(d.desktopFile()).status, ReadStatus::Ok);
}

TEST(Registration, UnchangedFilesAreNotRewritten) {
    RegistrationDirs d;
    ASSERT_TRUE(RegisterSchemeHandler(d.dirs, "/p/zuvoplayer").ok);
    struct stat before {};
    ASSERT_EQ(::stat(d.desktopFile().c_str(), &before), 0);
    ASSERT_TRUE(RegisterSchemeHandler(d.dirs, "/p/zuvoplayer").ok);
    struct stat after {};
    ASSERT_EQ(::stat(d.desktopFile().c_str(), &after), 0);
    EXPECT_EQ(before.st_ino, after.st_ino);  // a rewrite would have renamed a new file over it
}

}  // namespace
}  // namespace zuvo
