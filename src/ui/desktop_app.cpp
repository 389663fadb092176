#include "ui/desktop_app.h"

#include <QDateTime>
#include <QDir>
#include <QFontDatabase>
#include <QLabel>
#include <QMdiArea>
#include <QPushButton>
#include <QScreen>
#include <QSocketNotifier>
#include <QStatusBar>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <memory>

#include "app/app_dir.h"
#include "app/single_instance.h"
#include "app/startup.h"
#include "session/session.h"
#include "ui/dialogs.h"
#include "ui/main_window.h"
#include "ui/model/desktop_options.h"
#include "ui/splash.h"
#include "ui/status_panes.h"
#include "ui/view_registry.h"

namespace tessaro {

namespace {

QString Q(std::string_view s) { return QString::fromUtf8(s.data(), qsizetype(s.size())); }

// The CJK face when it is installed, so that Chinese texts measure and render alike everywhere.
void ChooseFont(QApplication& app) {
    const QStringList families = QFontDatabase::families();
    for (const char* face : {"WenQuanYi Micro Hei", "Noto Sans CJK SC", "Noto Sans SC", "WenQuanYi Zen Hei"}) {
        if (families.contains(QString::fromLatin1(face))) {
            QFont f(QString::fromLatin1(face));
            f.setPixelSize(13);
            app.setFont(f);
            return;
        }
    }
}

// Brings a window to the front: restored when minimised, raised and activated.
void Activate(QWidget* w) {
    if (w->isMinimized()) w->showNormal();
    if (!w->isVisible()) w->show();
    w->raise();
    w->activateWindow();
}

// The screenshots of --screenshot: each dialog once shown, the main window at the end.
class Screenshots {
public:
    explicit Screenshots(QString dir) : dir_(std::move(dir)) {}

    QString Save(QWidget* w, const QString& name) {
        QString base = dir_ + QLatin1Char('/') + name;
        QString path = base + QStringLiteral(".png");
        for (int n = 2; QFileInfo::exists(path) && saved_.contains(path); ++n)
            path = base + QStringLiteral("-%1.png").arg(n);
        if (!w->grab().save(path, "PNG")) {
            std::fprintf(stderr, "tessaro: cannot write %s\n", path.toLocal8Bit().constData());
            ok_ = false;
            return {};
        }
        saved_ << path;
        std::printf("screenshot: %s\n", path.toUtf8().constData());
        std::fflush(stdout);
        return path;
    }
    bool ok() const { return ok_; }

private:
    QString dir_;
    QStringList saved_;
    bool ok_ = true;
};

// Qt's notes that say nothing to a user of this program (the offscreen platform
// cannot size windows to hints; the runtime directory is chosen for it) are dropped.
QtMessageHandler previousHandler = nullptr;
void FilterQtMessages(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (message.contains(QLatin1String("does not support propagateSizeHints")) ||
        message.startsWith(QLatin1String("QStandardPaths: XDG_RUNTIME_DIR not set")) ||
        message.startsWith(QLatin1String("QStandardPaths: wrong permissions on runtime directory")))
        return;
    if (previousHandler) previousHandler(type, context, message);
}

// The prompter of scripted runs: nobody is there to answer, so every text goes to
// stderr and every question is answered No.
class ScriptedPrompter : public Prompter {
public:
    Answer Question(QWidget*, const QString& text, bool) override {
        std::fprintf(stderr, "tessaro: asked (answered No): %s\n", text.toUtf8().constData());
        return Answer::No;
    }
    void Information(QWidget*, const QString& text) override {
        std::fprintf(stderr, "tessaro: %s\n", text.toUtf8().constData());
    }
    void Error(QWidget*, const QString& text) override {
        std::fprintf(stderr, "tessaro: error: %s\n", text.toUtf8().constData());
        ++errors;
    }
    int errors = 0;
};

}  // namespace

void InstallDesktopMessageFilter() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    previousHandler = qInstallMessageHandler(FilterQtMessages);
}

int RunDesktop(QApplication& app, const DesktopHooks& hooks) {
    auto started = std::chrono::steady_clock::now();
    InstallDesktopMessageFilter();
    app.setApplicationName(QStringLiteral("tessaro"));
    app.setQuitOnLastWindowClosed(false);

    std::vector<std::string> args;
    for (const QString& a : app.arguments().mid(1)) args.push_back(a.toStdString());
    DesktopOptions options;
    std::string error;
    if (!ParseDesktopOptions(args, options, error)) {
        std::fprintf(stderr, "tessaro: %s\n%s", error.c_str(), kDesktopUsage);
        return 2;
    }
    if (options.help) {
        std::fputs(kDesktopUsage, stdout);
        std::fputs(kDesktopHelp, stdout);
        return 0;
    }
    if (options.version) {
        std::printf("tessaro %s (%s)\n", std::string(kVersionNumber).c_str(), std::string(kEditionTitle).c_str());
        return 0;
    }
    bool scripted = options.screenshotDir || options.exitAfterStartup;
    if (options.screenshotDir && !QDir().mkpath(Q(*options.screenshotDir))) {
        std::fprintf(stderr, "tessaro: cannot create %s\n", options.screenshotDir->c_str());
        return 1;
    }
    ChooseFont(app);

    // One instance per user: a second start brings the first window to the front.
    // Scripted runs (screenshots, timing) stand apart and never activate another window.
    std::unique_ptr<SingleInstance> instance;
    if (!scripted) {
        instance = std::make_unique<SingleInstance>(RuntimeDir());
        switch (instance->acquire()) {
            case SingleInstance::Role::Secondary:
                if (instance->activatePrimary(args)) return 0;
                std::fprintf(stderr, "tessaro: another instance holds the lock but does not answer\n");
                return 1;
            case SingleInstance::Role::Failed:
                std::fprintf(stderr, "tessaro: single instance: %s (going on without it)\n",
                             instance->error().c_str());
                instance.reset();
                break;
            case SingleInstance::Role::Primary: break;
        }
    }

    SessionOptions sessionOptions;
    sessionOptions.appDir = options.appDir;
    sessionOptions.access = SessionAccess::ReadWrite;
    sessionOptions.data = kSessionAll;
    sessionOptions.settings = SessionSettings::File;
    sessionOptions.exePath = QCoreApplication::applicationFilePath().toStdString();
    Session session(sessionOptions);

    auto loginTried = std::make_shared<bool>(false);
    std::unique_ptr<Screenshots> shots;
    if (options.screenshotDir) shots = std::make_unique<Screenshots>(Q(*options.screenshotDir));
    auto splash = std::make_unique<Splash>(Q(session.paths().coverFile()));
    splash->show();
    bool startedOk = session.Start([&](StartupStage stage, std::string_view text) {
        splash->setStage(Q(text));
        if (shots && stage == StartupStage::Done) shots->Save(splash.get(), QStringLiteral("splash"));
    });
    if (!startedOk) {
        splash.reset();
        std::fprintf(stderr, "tessaro: start-up failed: %s\n", session.error().c_str());
        if (!scripted) {
            auto prompter = MakeMessageBoxPrompter();
            prompter->Error(nullptr, QStringLiteral("程序启动失败:\n") + Q(session.error()));
        }
        return 1;
    }

    ViewRegistry registry;
    if (hooks.registerViews) hooks.registerViews(registry);

    MainWindowOptions windowOptions;
    if (options.server) windowOptions.serverOverride = *options.server;
    windowOptions.autoLogin = options.autoLogin;
    if (shots) {
        bool autoLogin = options.autoLogin;
        windowOptions.onDialogShown = [&shots, autoLogin, loginTried](QWidget* dialog, const QString& name) {
            shots->Save(dialog, name);
            if (name == QLatin1String("login")) *loginTried = autoLogin;  // connect was pressed
            // Unattended: every dialog but the logging-in login dialog is closed once pictured.
            if (auto* d = qobject_cast<QDialog*>(dialog)) {
                if (name == QLatin1String("login")) {
                    if (!autoLogin) d->done(kLoginOffline);
                } else if (name != QLatin1String("refresh")) {
                    d->accept();
                }
            }
        };
    }
    auto windowOwner = std::make_unique<MainWindow>(session, registry, windowOptions);
    MainWindow& window = *windowOwner;
    // The window goes first, then the session writes back what changed (market files, settings).
    auto closeAll = [&] {
        windowOwner.reset();
        if (!session.Close()) {
            std::fprintf(stderr, "tessaro: the market files or the settings could not be written back\n");
            return false;
        }
        return true;
    };
    if (hooks.registerTools) hooks.registerTools(window);
    ScriptedPrompter* scriptedPrompter = nullptr;
    if (scripted) {
        window.setConfirmExit(false);
        auto p = std::make_unique<ScriptedPrompter>();
        scriptedPrompter = p.get();
        window.setPrompter(std::move(p));
    }

    // The start-up's first view: the quote list on the class page "沪市A股".
    if (registry.HasFactory(ViewKind::QuoteList)) {
        ViewTarget target;
        target.command = CommandId::Open;
        target.block = "沪市A股";
        window.OpenView(ViewKind::QuoteList, target);
    }
    splash->close();
    splash.reset();
    if (options.screenshotDir) {
        window.resize(1280, 800);
        window.show();
    } else {
        window.showMaximized();
    }

    std::unique_ptr<QSocketNotifier> notifier;
    if (instance && instance->listenFd() >= 0) {
        notifier = std::make_unique<QSocketNotifier>(instance->listenFd(), QSocketNotifier::Read);
        QObject::connect(notifier.get(), &QSocketNotifier::activated, &window, [&] {
            if (instance->serviceOne(0)) Activate(&window);
        });
    }

    if (options.exitAfterStartup) {
        QApplication::processEvents();
        double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count();
        std::printf("main window shown: %.1f ms after main, at %lld ms since the epoch\n", ms,
                    static_cast<long long>(QDateTime::currentMSecsSinceEpoch()));
        std::fflush(stdout);
        window.close();
        return closeAll() ? 0 : 1;
    }

    int status = 0;
    auto loginDone = std::make_shared<bool>(false);
    std::function<void(bool)> finish, tryFinish;  // the screenshot run's steps, alive until exec returns
    if (shots) {
        // The main window is pictured once the start-up chain has finished and both
        // index panes show a value, or when waiting longer is pointless.
        finish = [&](bool loggedIn) {
            QString why = window.statusPanes()->paneText(kPaneConnection);
            if (LoginDialog* login = window.loginDialog()) {
                if (!login->statusLabel()->text().isEmpty()) why = login->statusLabel()->text();
                login->done(kLoginOffline);
            }
            QApplication::processEvents();
            shots->Save(&window, QStringLiteral("main"));
            for (int pane : {kPaneSh, kPaneSz, kPaneTicker, kPaneConnection})
                std::printf("status %d: %s\n", pane, window.statusPanes()->paneText(pane).toUtf8().constData());
            std::fflush(stdout);
            if (options.autoLogin && !loggedIn) {
                std::fprintf(stderr, "tessaro: not logged in: %s\n", why.toUtf8().constData());
                status = 1;
            }
            if (!shots->ok()) status = 1;
            window.close();
            app.quit();
        };
        auto finished = std::make_shared<bool>(false);
        tryFinish = [&, finished, loginDone, loginTried](bool force) {
            if (*finished) return;
            bool ready = window.quotes().ready();
            bool indexes = window.indexesLive();
            // An automatic login that failed (a refused server text, an unreachable server,
            // a refused account) leaves the login dialog ready for another try: nobody will.
            LoginDialog* login = window.loginDialog();
            bool failed = *loginTried && login && (scriptedPrompter->errors > 0 ||
                                                         (login->connectButton()->isEnabled() &&
                                                          window.quotes().state() == QuoteSession::State::NoSocket));
            if (force || failed || (ready && indexes) || (!options.autoLogin && *loginDone)) {
                *finished = true;
                // Let the views paint what arrived before the picture is taken.
                QTimer::singleShot(300, &window, [&, ready] { finish(ready); });
            }
        };
        QObject::connect(&window, &MainWindow::indexesUpdated, &window, [&tryFinish] { tryFinish(false); });
        QObject::connect(&window, &MainWindow::connected, &window, [&tryFinish] { tryFinish(false); });
        auto* poll = new QTimer(&window);
        poll->setInterval(100);
        QObject::connect(poll, &QTimer::timeout, &window, [&tryFinish] { tryFinish(false); });
        poll->start();
        QTimer::singleShot(30000, &window, [&tryFinish] { tryFinish(true); });
    }
    // Closing the main window ends the program.
    QObject::connect(&app, &QApplication::lastWindowClosed, &app, &QApplication::quit);
    app.setQuitOnLastWindowClosed(true);

    // The connect command, posted once the main window is shown.
    QTimer::singleShot(0, &window, [&window, loginDone] {
        window.ConnectCommand();
        *loginDone = true;
    });
    int rc = app.exec();
    notifier.reset();
    if (!closeAll() && status == 0) status = 1;
    return status != 0 ? status : rc;
}

}  // namespace tessaro
