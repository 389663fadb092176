// The desktop program's start-up: options, single-instance activation, the
// splash over the session's start-up stages, the main window with its first
// quote list and the connect command, and the scripted modes (--screenshot,
// --exit-after-startup).
#pragma once

#include <QApplication>
#include <functional>

namespace tessaro {

class ViewRegistry;
class MainWindow;

struct DesktopHooks {
    // Registers the view factories (before the main window opens).
    std::function<void(ViewRegistry&)> registerViews;
    // Registers tool windows with the main window once it exists.
    std::function<void(MainWindow&)> registerTools;
};

// Drops Qt's notes that mean nothing to the user; call before the QApplication
// exists to catch its own (RunDesktop calls it too).
void InstallDesktopMessageFilter();

// Runs the program over an existing QApplication (Qt's own options already
// taken out of its arguments); returns the exit status.
int RunDesktop(QApplication& app, const DesktopHooks& hooks);

}  // namespace tessaro
