// A temporary directory removed with everything in it when the test ends.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

namespace tessaro {

class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "tessaro-test-XXXXXX").string();
        if (char* p = ::mkdtemp(pattern.data())) path_ = p;
    }
    ~TempDir() {
        std::error_code ec;
        if (!path_.empty()) std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // Without a trailing slash.
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

}  // namespace tessaro
