// Whole-file reads with a size limit, and writes through a temporary file renamed over the old one.
#pragma once

#include <cstddef>
#include <string>

namespace zuvo {

enum class ReadStatus { Ok, Missing, Failed };

struct FileText {
    ReadStatus status = ReadStatus::Missing;
    std::string text;
};

// The small files the player owns are far below this; anything larger is not one of them.
constexpr std::size_t kMaxSmallFile = 1 << 20;

// Reads `path` whole. A file larger than `maxBytes`, a directory or an unreadable file is Failed.
FileText ReadSmallFile(const std::string& path, std::size_t maxBytes = kMaxSmallFile);

// Creates the parent directories and replaces `path` atomically with `content`. Symbolic links are
// followed, so a linked file is updated rather than replaced by a copy.
bool WriteFileAtomically(const std::string& path, const std::string& content);

// Creates `path` and its parents; true when it exists as a directory afterwards.
bool MakeDirectories(const std::string& path);

}  // namespace zuvo
