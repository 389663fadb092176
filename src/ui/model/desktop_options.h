// The desktop program's command line.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tessaro {

struct DesktopOptions {
    std::optional<std::string> appDir;      // --appdir DIR
    std::optional<std::string> server;      // --server HOST:PORT (fills the server box)
    bool autoLogin = false;                 // --auto-login
    std::optional<std::string> screenshotDir;  // --screenshot DIR
    bool exitAfterStartup = false;          // --exit-after-startup
    bool help = false;                      // --help
    bool version = false;                   // --version
};

inline constexpr char kDesktopUsage[] =
    "usage: tessaro [--appdir DIR] [--server HOST:PORT] [--auto-login] [--screenshot DIR]\n"
    "               [--exit-after-startup]\n";

inline constexpr char kDesktopHelp[] =
    "The Tessaro desktop client.\n"
    "\n"
    "Options:\n"
    "  --appdir DIR          the application directory (else TESSARO_HOME, the stored path, the default)\n"
    "  --server HOST:PORT    put this server in the login dialog's server box\n"
    "  --auto-login          connect with the saved (or guest) account without waiting for a click\n"
    "  --screenshot DIR      once started (and logged in with --auto-login), save PNG pictures of the\n"
    "                        main window and of each dialog opened into DIR, print what the status\n"
    "                        bar shows, and exit\n"
    "  --exit-after-startup  exit as soon as the main window is shown (for timing the start-up)\n"
    "\n"
    "Qt's own options (-platform offscreen, ...) are accepted as well.\n";

// Parses the arguments after the program name (Qt's own already removed).
// False with a message on a usage error.
bool ParseDesktopOptions(const std::vector<std::string>& args, DesktopOptions& out, std::string& error);

}  // namespace tessaro
