#include "player/player_app.h"

#include "player/player_window.h"
#include "player/scheme_registration.h"
#include "player/single_instance.h"
#include "player/trace_log.h"
#include "player/user_dirs.h"

#include <QApplication>
#include <QCoreApplication>
#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace zuvo {

namespace {

// How long a later start waits for the running window to listen, and then to apply its link. The
// first instance listens right after taking the lock, but on a loaded machine building the
// application object alone can take seconds.
constexpr int kConnectTimeoutMs = 10000;
constexpr int kAnswerTimeoutMs = 15000;

int signalPipe[2] = {-1, -1};

void OnTerminationSignal(int) {
    const char c = 1;
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &c, 1);
}

// SIGTERM, SIGINT and SIGHUP (a session ending, a terminal closing) close the window the normal
// way, so the size is saved as it is when the user closes it. The handlers are installed before
// the window exists (a signal that arrives while the first link is being applied waits in the
// pipe); the window is attached once it is built.
bool CatchTerminationSignals() {
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return false;
    struct sigaction action {};
    action.sa_handler = OnTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) ::sigaction(sig, &action, nullptr);
    return true;
}

void CloseOnTerminationSignals(QWidget* window) {
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, window);
    QObject::connect(notifier, &QSocketNotifier::activated, window, [window] {
        char buf[16];
        while (::read(signalPipe[0], buf, sizeof buf) > 0) {
        }
        window->close();
    });
}

std::string ProgramPath() {
    return QCoreApplication::applicationFilePath().trimmed().toStdString();
}

int RunLaterStart(int& argc, char** argv, const InstancePaths& paths, const UserDirs& dirs,
                  const std::string& commandLine) {
    QCoreApplication app(argc, argv);
    RegisterSchemeHandler(dirs, ProgramPath());
    // Whether or not a window answered, this start is over.
    HandOver(paths.socketName, commandLine, kConnectTimeoutMs, kAnswerTimeoutMs);
    return 0;
}

}  // namespace

std::string JoinCommandLine(int argc, char** argv) {
    QString line;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) line += ' ';
        line += QString::fromLocal8Bit(argv[i]);
    }
    return line.toStdString();
}

int RunPlayer(int argc, char** argv) {
    const std::string commandLine = JoinCommandLine(argc, argv);
    const UserDirs dirs = UserDirsFromEnvironment();
    const InstancePaths paths = InstancePathsFor(dirs.runtimeDir);
    InstanceLock lock(paths.lockFile);
    const InstanceLock::State lockState = lock.TryAcquire();
    if (lockState == InstanceLock::State::HeldElsewhere) {
        return RunLaterStart(argc, argv, paths, dirs, commandLine);
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName("zuvoplayer");
    // Closing the window ends the program with its own exit code, not the default 0.
    app.setQuitOnLastWindowClosed(false);
    RegisterSchemeHandler(dirs, ProgramPath());
    const bool signalsCaught = CatchTerminationSignals();

    // Listen before the window opens its own link, so that a later start never finds the lock taken
    // but nobody listening once that link is applied. Hand-overs are served by the event loop, so
    // they still come after the first link, as they would wait for the window to exist.
    PlayerWindow* target = nullptr;
    InstanceServer server([&target](const std::string& line) {
        if (target) target->ReceiveCommandLine(line);
    });
    // Without a lock there is no single instance to serve; the window still works on its own.
    if (lockState == InstanceLock::State::Acquired) server.Listen(paths.socketName);

    TraceLog& trace = TraceLog::FromEnvironment();
    PlayerWindow window([&trace](QWidget* parent) { return new StandInPlayer(&trace, parent); },
                        ConfigFilePath(dirs), commandLine);
    window.SetWritableRoots(WritableRoots(dirs));
    target = &window;
    if (signalsCaught) CloseOnTerminationSignals(&window);
    window.show();
    return app.exec();
}

}  // namespace zuvo
