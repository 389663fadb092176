// Makes this program the handler of zuvop2p:// links for the current user: a desktop entry in
// $XDG_DATA_HOME/applications/ and the default-handler line in $XDG_CONFIG_HOME/mimeapps.list.
// Runs at every start, so a moved program re-registers itself.
#pragma once

#include "player/user_dirs.h"

#include <optional>
#include <string>
#include <string_view>

namespace zuvo {

inline constexpr const char* kDesktopFileName = "zuvoplayer.desktop";
inline constexpr const char* kSchemeMimeType = "x-scheme-handler/zuvop2p";

// The program path as one quoted argument of a desktop entry's Exec key, escaped for both levels the
// reader undoes (string escapes, then argument quoting). nullopt for a path holding a control
// character, which no Exec line can carry safely.
std::optional<std::string> QuoteExecArgument(std::string_view programPath);

// The whole desktop entry; nullopt when the path cannot be quoted.
std::optional<std::string> DesktopEntryText(std::string_view programPath);

// mimeapps.list text with the default handler of zuvop2p set to this program; every other line kept.
std::string MimeAppsWithHandler(std::string_view text);

enum class RegistrationStep { None, DataDirectory, DesktopEntry, DefaultHandler };

struct RegistrationResult {
    bool ok = false;
    RegistrationStep failedAt = RegistrationStep::None;  // the step that failed; later ones did not run
};

// The three steps in order, stopping at the first failure. Files already holding the right content
// are left untouched.
RegistrationResult RegisterSchemeHandler(const UserDirs& dirs, std::string_view programPath);

}  // namespace zuvo
