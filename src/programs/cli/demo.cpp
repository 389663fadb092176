// tessaro-cli demo: shows what the core has on its built-in demo data.
#include <cstdio>

#include "app/app_dir.h"
#include "command.h"
#include "foundation.h"
#include "platform/settings_store.h"

namespace tessaro::cli {
namespace {

int RunDemo(Args& args) {
    AppDirSources sources = ProcessAppDirSources(SettingsStore(SettingsFilePath()));
    sources.option = args.option("appdir");
    const std::string appDir = ResolveAppDir(sources);
    std::printf("Tessaro demo\n\n");
    PrintFoundationDemo(appDir);
    return 0;
}

CommandRegistration demo("demo", "demo [--appdir DIR]", RunDemo);

}  // namespace
}  // namespace tessaro::cli
