#include "app/app_dir.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/files.h"
#include "platform/text.h"

namespace tessaro {

namespace {

std::optional<std::string> Env(const char* name) {
    const char* v = std::getenv(name);
    if (!v || !*v) return std::nullopt;
    return std::string(v);
}

std::string HomeDir() {
    if (auto home = Env("HOME")) return *home;
    if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) return pw->pw_dir;
    return "/tmp";
}

std::string CurrentDir() {
    char buf[4096];
    return ::getcwd(buf, sizeof buf) ? std::string(buf) : std::string("/");
}

std::string Absolute(std::string path, const std::string& base) {
    if (!path.empty() && path.front() != '/') path = WithTrailingSlash(base.empty() ? "/" : base) + path;
    return path;
}

bool Usable(const std::optional<std::string>& s) { return s && !s->empty(); }

}  // namespace

std::string ResolveAppDir(const AppDirSources& src) {
    std::string dir;
    if (Usable(src.option))
        dir = *src.option;
    else if (Usable(src.environment))
        dir = *src.environment;
    else if (Usable(src.stored))
        dir = *src.stored;
    else if (Usable(src.xdgDataHome) && src.xdgDataHome->front() == '/')
        dir = WithTrailingSlash(*src.xdgDataHome) + "tessaro";
    else
        dir = WithTrailingSlash(src.home.empty() ? "/tmp" : src.home) + ".local/share/tessaro";
    return WithTrailingSlash(Absolute(std::move(dir), src.currentDir));
}

AppDirSources ProcessAppDirSources(const SettingsStore& store) {
    AppDirSources s;
    s.environment = Env("TESSARO_HOME");
    s.stored = store.getString(SettingsKey(""), "path");
    s.xdgDataHome = Env("XDG_DATA_HOME");
    s.home = HomeDir();
    s.currentDir = CurrentDir();
    return s;
}

std::optional<std::string> FindAppDirOption(const std::vector<std::string>& args) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--appdir" && i + 1 < args.size()) return args[i + 1];
        if (a.rfind("--appdir=", 0) == 0) return a.substr(9);
    }
    return std::nullopt;
}

std::string ConfigDir() {
    auto xdg = Env("XDG_CONFIG_HOME");
    std::string base = xdg && xdg->front() == '/' ? *xdg : WithTrailingSlash(HomeDir()) + ".config";
    return WithTrailingSlash(base) + "tessaro/";
}

std::string SettingsFilePath() { return ConfigDir() + "settings.reg"; }

std::string RuntimeDir() {
    auto xdg = Env("XDG_RUNTIME_DIR");
    if (xdg && xdg->front() == '/') return WithTrailingSlash(*xdg) + "tessaro/";
    return ConfigDir();
}

std::string ExeBaseName(std::string_view exePath) {
    std::string name = SplitPath(exePath).fileName;
    size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0) name.resize(dot);
    return name;
}

bool CreateF10Directories(const AppPaths& paths) {
    bool ok = true;
    for (MarketCode m : {kMarketSH, kMarketSZ, kMarketSystem}) ok = CreateDirectories(paths.f10Dir(m)) && ok;
    return ok;
}

void RecordInstallation(SettingsStore& store, const std::string& appDir, std::string_view exePath) {
    const std::string root = SettingsKey("");
    store.setString(root, "path", appDir);
    store.setString(root, "exe", SplitPath(exePath).fileName);
    store.setString(root, "version", Utf8ToGbk(kEditionTitle));
    store.setString(root, "subversion", kVersionNumber);
}

}  // namespace tessaro
