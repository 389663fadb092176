#include "player/user_dirs.h"

#include <cstdlib>
#include <string_view>

namespace zuvo {

namespace {

bool IsUsableAbsolute(const char* path) {
    if (!path || path[0] != '/') return false;
    // A path with a line break or other control character is not a directory anyone set up.
    for (const char* p = path; *p; ++p) {
        if (static_cast<unsigned char>(*p) < 0x20) return false;
    }
    return true;
}

std::string WithoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

}  // namespace

std::string ResolveBaseDir(const char* xdgValue, const char* home, const char* fallback) {
    if (IsUsableAbsolute(xdgValue)) return WithoutTrailingSlashes(xdgValue);
    if (IsUsableAbsolute(home)) {
        std::string base = WithoutTrailingSlashes(home);
        if (base == "/") base.clear();
        return base + fallback;
    }
    return {};
}

UserDirs UserDirsFromEnvironment() {
    const char* home = std::getenv("HOME");
    UserDirs dirs;
    dirs.configHome = ResolveBaseDir(std::getenv("XDG_CONFIG_HOME"), home, "/.config");
    dirs.dataHome = ResolveBaseDir(std::getenv("XDG_DATA_HOME"), home, "/.local/share");
    dirs.runtimeDir = ResolveBaseDir(std::getenv("XDG_RUNTIME_DIR"), nullptr, "");
    dirs.home = ResolveBaseDir(home, nullptr, "");
    return dirs;
}

std::string ConfigFilePath(const UserDirs& dirs) {
    if (dirs.configHome.empty()) return {};
    return dirs.configHome + "/zuvoplayer/config.ini";
}

std::vector<std::string> WritableRoots(const UserDirs& dirs) {
    std::vector<std::string> roots;
    for (const std::string* dir : {&dirs.home, &dirs.configHome, &dirs.dataHome}) {
        if (!dir->empty()) roots.push_back(*dir);
    }
    return roots;
}

}  // namespace zuvo
