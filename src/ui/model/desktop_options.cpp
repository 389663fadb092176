#include "ui/model/desktop_options.h"

#include <string_view>

namespace tessaro {

bool ParseDesktopOptions(const std::vector<std::string>& args, DesktopOptions& out, std::string& error) {
    out = DesktopOptions{};
    for (size_t i = 0; i < args.size(); ++i) {
        std::string_view arg = args[i];
        std::string value;
        bool hasInline = false;
        if (size_t eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string_view::npos) {
            value = std::string(arg.substr(eq + 1));
            arg = arg.substr(0, eq);
            hasInline = true;
        }
        auto take = [&](std::optional<std::string>& into) {
            if (!hasInline) {
                if (i + 1 >= args.size()) {
                    error = std::string(arg) + " needs a value";
                    return false;
                }
                value = args[++i];
            }
            if (value.empty()) {
                error = std::string(arg) + " needs a value";
                return false;
            }
            into = value;
            return true;
        };
        auto flag = [&](bool& into) {
            if (hasInline) {
                error = std::string(arg) + " takes no value";
                return false;
            }
            into = true;
            return true;
        };
        bool ok;
        if (arg == "--appdir") ok = take(out.appDir);
        else if (arg == "--server") ok = take(out.server);
        else if (arg == "--screenshot") ok = take(out.screenshotDir);
        else if (arg == "--auto-login") ok = flag(out.autoLogin);
        else if (arg == "--exit-after-startup") ok = flag(out.exitAfterStartup);
        else if (arg == "--help" || arg == "-h") ok = flag(out.help);
        else if (arg == "--version") ok = flag(out.version);
        else {
            error = "unknown option " + std::string(args[i]);
            return false;
        }
        if (!ok) return false;
    }
    return true;
}

}  // namespace tessaro
