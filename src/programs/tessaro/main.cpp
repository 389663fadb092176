// tessaro: the desktop client.
#include <QApplication>

#include "ui/desktop_app.h"
#include "views.h"

int main(int argc, char** argv) {
    tessaro::InstallDesktopMessageFilter();
    QApplication app(argc, argv);
    tessaro::DesktopHooks hooks;
    hooks.registerViews = tessaro::RegisterViews;
    hooks.registerTools = tessaro::RegisterTools;
    return tessaro::RunDesktop(app, hooks);
}
