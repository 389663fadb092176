// config.ini: the restored size of the main window, section "default", keys "width" and "height".
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zuvo {

struct WindowSize {
    int width = 800;
    int height = 600;
    bool operator==(const WindowSize&) const = default;
};

// One size value from the file's text: at most 64 characters are used; empty or missing gives
// `fallback`; otherwise unsigned decimal, capped at the largest signed 32-bit value.
int ConfigSizeValue(std::string_view fileText, const char* key, int fallback);

// The size stored in `path`; 800 x 600 for a missing, unreadable or empty file.
WindowSize LoadWindowSize(const std::string& path);

// Writes the size into `path`, keeping every other line of the file. Returns false on failure, and
// also when an existing file cannot be read (rewriting it would lose its other lines) or the write
// would land outside `roots` (see WriteFileAtomically).
bool SaveWindowSize(const std::string& path, WindowSize size, const std::vector<std::string>& roots = {});

}  // namespace zuvo
