// Whole-file reading, atomic replacement and directory creation.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tessaro {

// The whole file; nullopt when it cannot be opened or read.
std::optional<std::vector<uint8_t>> ReadWholeFile(const std::string& path);

// Replaces `path` with `data`: writes a temporary file beside it, flushes it and
// renames it over the old one, so that a crash leaves either the old or the new
// file, never a torn one. False (and the old file untouched) on any error.
// `mode` is the new file's permission (before the umask); 0600 keeps a file
// that holds a password readable by its owner only, from its first byte.
bool WriteFileAtomic(const std::string& path, std::span<const uint8_t> data, unsigned mode = 0644);
bool WriteFileAtomic(const std::string& path, std::string_view data, unsigned mode = 0644);

// Creates every directory along `path`: each prefix ending in '/' (a path that
// names a file creates its directory only). Existing directories are fine.
bool CreateDirectories(const std::string& path);

bool FileExists(const std::string& path);
bool DirectoryExists(const std::string& path);
// File size, or -1 when the file does not exist.
int64_t FileSize(const std::string& path);

// Splits a path into its directory (ending in '/', or empty) and file name.
struct SplitPathResult {
    std::string directory;
    std::string fileName;
};
SplitPathResult SplitPath(std::string_view path);

// Appends '/' unless the path is empty or already ends in one.
std::string WithTrailingSlash(std::string path);

}  // namespace tessaro
