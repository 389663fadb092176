// The per-user directories the player writes to. It never writes beside the program (an installed
// program's directory is not writable) and never into system-wide directories.
#pragma once

#include <string>
#include <vector>

namespace zuvo {

struct UserDirs {
    std::string configHome;  // $XDG_CONFIG_HOME, else $HOME/.config; empty when neither is usable
    std::string dataHome;    // $XDG_DATA_HOME, else $HOME/.local/share; empty when neither is usable
    std::string runtimeDir;  // $XDG_RUNTIME_DIR; empty when unset or not absolute
    std::string home;        // $HOME; empty when unset or not absolute
};

// One XDG base directory: `xdgValue` when it is an absolute path, else `home` + `fallback` when home
// is absolute, else empty. A relative value is ignored as the XDG rules require, because it would
// resolve against whatever the current directory happens to be.
std::string ResolveBaseDir(const char* xdgValue, const char* home, const char* fallback);

// The directories from the process environment.
UserDirs UserDirsFromEnvironment();

// The configuration file: <configHome>/zuvoplayer/config.ini, or empty when configHome is unusable.
std::string ConfigFilePath(const UserDirs& dirs);

// The directories the player may write into: home and the two XDG base directories (the usable
// ones). A file linked from there to anywhere else is not written through.
std::vector<std::string> WritableRoots(const UserDirs& dirs);

}  // namespace zuvo
