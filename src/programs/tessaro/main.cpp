// tessaro: the desktop client.
#include <QApplication>

#include "render_command.h"
#include "ui/desktop_app.h"
#include "views.h"

int main(int argc, char** argv) {
    // --render draws one chart picture offscreen and exits.
    if (tessaro::WantsRender(argc, argv)) return tessaro::RunRender(argc, argv);
    tessaro::InstallDesktopMessageFilter();
    QApplication app(argc, argv);
    tessaro::DesktopHooks hooks;
    hooks.registerViews = tessaro::RegisterViews;
    hooks.registerTools = tessaro::RegisterTools;
    return tessaro::RunDesktop(app, hooks);
}
