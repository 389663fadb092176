#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/files.h"
#include "test_support/temp_dir.h"

namespace tessaro {
namespace {

TEST(Files, CreateDirectoriesAlongAPath) {
    TempDir dir;
    std::string file = dir.path() + "/a/b/c/file.dat";
    ASSERT_TRUE(CreateDirectories(file));
    EXPECT_TRUE(DirectoryExists(dir.path() + "/a/b/c"));
    EXPECT_FALSE(FileExists(file));  // only its directory is made
    ASSERT_TRUE(CreateDirectories(dir.path() + "/x/y/"));
    EXPECT_TRUE(DirectoryExists(dir.path() + "/x/y"));
    EXPECT_TRUE(CreateDirectories(dir.path() + "/x/y/"));  // existing is fine
    // A file standing where a directory is needed fails.
    ASSERT_TRUE(WriteFileAtomic(dir.path() + "/plain", std::string_view("x")));
    EXPECT_FALSE(CreateDirectories(dir.path() + "/plain/sub/f"));
}

TEST(Files, AtomicWriteReplacesWholeAndLeavesNoTemporary) {
    TempDir dir;
    std::string path = dir.path() + "/f.dat";
    ASSERT_TRUE(WriteFileAtomic(path, std::string_view("old contents")));
    ASSERT_TRUE(WriteFileAtomic(path, std::string_view("new")));
    auto data = ReadWholeFile(path);
    ASSERT_TRUE(data);
    EXPECT_EQ(std::string(data->begin(), data->end()), "new");
    int entries = 0;
    for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator(dir.path())) ++entries;
    EXPECT_EQ(entries, 1);
    // Writing into a missing directory fails and creates nothing.
    EXPECT_FALSE(WriteFileAtomic(dir.path() + "/missing/f.dat", std::string_view("x")));
    EXPECT_FALSE(ReadWholeFile(dir.path() + "/missing/f.dat"));
}

TEST(Files, SplitPathAndTrailingSlash) {
    auto s = SplitPath("/opt/tessaro/tessaro-cli");
    EXPECT_EQ(s.directory, "/opt/tessaro/");
    EXPECT_EQ(s.fileName, "tessaro-cli");
    EXPECT_EQ(SplitPath("name").directory, "");
    EXPECT_EQ(WithTrailingSlash("/a"), "/a/");
    EXPECT_EQ(WithTrailingSlash("/a/"), "/a/");
    EXPECT_EQ(WithTrailingSlash(""), "");
}

}  // namespace
}  // namespace tessaro
