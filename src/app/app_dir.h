// Where the application's data and settings live, and the installation record.
//
// AppDir is the first of: the --appdir option, TESSARO_HOME, the stored "path",
// $XDG_DATA_HOME/tessaro/ (default ~/.local/share/tessaro/). It is absolute and
// ends in '/'. The settings file lives in $XDG_CONFIG_HOME/tessaro/ (default
// ~/.config/tessaro/).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/paths.h"
#include "platform/settings_store.h"

namespace tessaro {

inline constexpr std::string_view kEditionTitle = "Tessaro普及版";
inline constexpr std::string_view kVersionNumber = "5.01.001";

// What AppDir is chosen from; an absent or empty source is passed over.
struct AppDirSources {
    std::optional<std::string> option;       // --appdir
    std::optional<std::string> environment;  // TESSARO_HOME
    std::optional<std::string> stored;       // the stored "path"
    std::optional<std::string> xdgDataHome;  // XDG_DATA_HOME (used only when absolute)
    std::string home;                        // the user's home directory
    std::string currentDir;                  // makes a relative choice absolute
};

// The chosen directory, absolute, ending in '/'.
std::string ResolveAppDir(const AppDirSources& sources);

// The sources of this process: the environment, the user's home and the
// stored "path" of `store` (the option is left to the caller).
AppDirSources ProcessAppDirSources(const SettingsStore& store);

// Finds "--appdir DIR" or "--appdir=DIR" in a command line.
std::optional<std::string> FindAppDirOption(const std::vector<std::string>& args);

// $XDG_CONFIG_HOME/tessaro/ (default ~/.config/tessaro/), ending in '/'.
std::string ConfigDir();
// The settings file in ConfigDir().
std::string SettingsFilePath();
// $XDG_RUNTIME_DIR/tessaro/ when that is set and absolute, else ConfigDir().
std::string RuntimeDir();

// Writes "path", "exe", "version" and "subversion" under the root key, as
// every start does. exePath is the running program's path.
void RecordInstallation(SettingsStore& store, const std::string& appDir, std::string_view exePath);

// Creates data/<mk>/f10/ of the three markets, as start-up does while loading
// the markets. False when one could not be created.
bool CreateF10Directories(const AppPaths& paths);

// The executable's base name ("tessaro" of "/usr/bin/tessaro.exe" is "tessaro").
std::string ExeBaseName(std::string_view exePath);

}  // namespace tessaro
