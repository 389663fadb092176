// Whole-file reads with a size limit, and writes through a temporary file renamed over the old one.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

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

// The file a write to `path` really lands in: symbolic links followed (as the atomic write follows
// them), "." and ".." removed, and the longest existing directory prefix resolved. Empty for a
// relative path or a loop of links.
std::string WriteTarget(const std::string& path);

// True when the write target of `path` lies inside one of `roots` (each resolved the same way).
bool WritesInside(const std::string& path, const std::vector<std::string>& roots);

// Creates the parent directories and replaces `path` atomically with `content`. Symbolic links are
// followed, so a linked file is updated rather than replaced by a copy, but only while the file that
// is really written stays inside `roots`; with no roots given, inside the directory `path` names.
// A write that would land elsewhere fails and touches nothing, not even a directory.
bool WriteFileAtomically(const std::string& path, const std::string& content,
                         const std::vector<std::string>& roots = {});

// Creates `path` and its parents; true when it exists as a directory afterwards.
bool MakeDirectories(const std::string& path);

}  // namespace zuvo
