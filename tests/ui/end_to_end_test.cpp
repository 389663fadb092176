// The real programs end to end: tessaro-quoted on a free loopback port, tessaro
// logging in to it with --auto-login --screenshot, and tessaro-cli asking the
// same server for the indexes the status bar must show.
#include <gtest/gtest.h>

#include <QImage>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QSet>
#include <QStandardPaths>
#include <QTcpServer>
#include <filesystem>

#include "market/demo_market.h"
#include "platform/files.h"
#include "platform/text.h"
#include "test_support/temp_dir.h"
#include "ui_test_support.h"

namespace tessaro {
namespace {

namespace fs = std::filesystem;

// "status 1: 上证 3061.24 +0.00 1147亿" → {3061.24, 1147}
struct PaneValues {
    double last = 0, amountYi = 0;
};
std::optional<PaneValues> ParseIndexPane(const QString& out, int pane, const QString& caption) {
    QRegularExpression re(QString("status %1: %2 ([0-9.]+) ([-+][0-9.]+) ([0-9]+)亿").arg(pane).arg(caption));
    auto m = re.match(out);
    if (!m.hasMatch()) return std::nullopt;
    return PaneValues{m.captured(1).toDouble(), m.captured(3).toDouble()};
}

// The first quote tessaro-cli connect --watch prints for the security:
// "2025-06-13 10:00:22,SH000001,3060.51,58858984,114680561664".
std::optional<PaneValues> ParseWatch(const QString& out, const QString& security) {
    QRegularExpression re(QString(",%1,([0-9.]+),[0-9.]+,([0-9.]+)").arg(security));
    auto m = re.match(out);
    if (!m.hasMatch()) return std::nullopt;
    return PaneValues{m.captured(1).toDouble(), m.captured(2).toDouble() / 1e8};
}

TEST(EndToEnd, LoggedInWindowShowsTheServersIndexesAndName) {
    TempDir temp;
    DemoMarketOptions options;
    options.outDir = temp.path() + "/server";
    options.securities = 20;
    options.days = 20;
    ASSERT_TRUE(GenerateDemoMarket(options));
    for (const char* copy : {"/client", "/cli"})
        fs::copy(options.outDir, temp.path() + copy, fs::copy_options::recursive);

    QuotedServer server;
    ASSERT_TRUE(server.Start(options.outDir)) << server.process.readAllStandardError().toStdString();
    // The client's server list names the server; the address given resolves to that name.
    std::string list = Utf8ToGbk("Tessaro普及版, 测试主站, 127.0.0.1, " + std::to_string(server.port) + "\r\n");
    ASSERT_TRUE(WriteFileAtomic(temp.path() + "/client/base/srvlist.txt", list));

    QProcess tessaro;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("XDG_CONFIG_HOME", QString::fromStdString(temp.path() + "/config"));
    env.insert("ASAN_OPTIONS", "detect_leaks=0");  // Qt's plugins keep what they load
    tessaro.setProcessEnvironment(env);
    QString shots = QString::fromStdString(temp.path() + "/shots");
    QString address = QString("127.0.0.1:%1").arg(server.port);
    tessaro.start(TESSARO_PROGRAM, {"--appdir", QString::fromStdString(temp.path() + "/client"), "--server", address,
                                    "--auto-login", "--screenshot", shots});
    ASSERT_TRUE(tessaro.waitForFinished(90000));
    QString out = QString::fromUtf8(tessaro.readAllStandardOutput());
    QString err = QString::fromUtf8(tessaro.readAllStandardError());
    ASSERT_EQ(tessaro.exitStatus(), QProcess::NormalExit);
    ASSERT_EQ(tessaro.exitCode(), 0) << out.toStdString() << err.toStdString();

    // What the server says the indexes are, asked right afterwards.
    QProcess cli;
    cli.start(TESSARO_CLI, {"connect", "--appdir", QString::fromStdString(temp.path() + "/cli"), "--server", address,
                            "--watch", "SH000001,SZ399001", "--seconds", "1"});
    ASSERT_TRUE(cli.waitForFinished(60000));
    QString watched = QString::fromUtf8(cli.readAllStandardOutput());

    auto sh = ParseIndexPane(out, 1, "上证"), sz = ParseIndexPane(out, 2, "深证");
    auto serverSh = ParseWatch(watched, "SH000001"), serverSz = ParseWatch(watched, "SZ399001");
    ASSERT_TRUE(sh && sz) << out.toStdString();
    ASSERT_TRUE(serverSh && serverSz) << watched.toStdString();
    // The market moves a little between the two readings; the amounts only grow.
    EXPECT_NEAR(sh->last, serverSh->last, serverSh->last * 0.002);
    EXPECT_NEAR(sz->last, serverSz->last, serverSz->last * 0.002);
    EXPECT_GT(sh->amountYi, 0);  // traded today: the store on disk had no amount for the session yet
    EXPECT_NEAR(sh->amountYi, serverSh->amountYi, serverSh->amountYi * 0.02 + 1);
    EXPECT_NEAR(sz->amountYi, serverSz->amountYi, serverSz->amountYi * 0.02 + 1);

    EXPECT_TRUE(out.contains("status 4: 测试主站")) << out.toStdString();

    // The pictures: the login dialog and the main window, neither blank.
    for (const char* name : {"login", "main"}) {
        QString path = shots + "/" + name + ".png";
        EXPECT_TRUE(out.contains("screenshot: " + path)) << out.toStdString();
        QImage image(path);
        ASSERT_FALSE(image.isNull()) << path.toStdString();
        QSet<QRgb> colours;
        for (int y = 0; y < image.height(); y += 3)
            for (int x = 0; x < image.width(); x += 3) colours.insert(image.pixel(x, y));
        EXPECT_GT(colours.size(), 8) << name;
    }
    QImage main(shots + "/main.png");
    EXPECT_GE(main.width(), 800);
}

TEST(EndToEnd, ExitAfterStartupAndUsageErrors) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("ASAN_OPTIONS", "detect_leaks=0");
    TempDir temp;
    env.insert("XDG_CONFIG_HOME", QString::fromStdString(temp.path()));
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(TESSARO_PROGRAM, {"--bogus"});
    ASSERT_TRUE(p.waitForFinished(30000));
    EXPECT_EQ(p.exitCode(), 2);
    EXPECT_TRUE(p.readAllStandardError().contains("unknown option --bogus"));

    DemoMarketOptions options;
    options.outDir = temp.path() + "/market";
    options.securities = 5;
    options.days = 5;
    ASSERT_TRUE(GenerateDemoMarket(options));
    p.start(TESSARO_PROGRAM, {"--appdir", QString::fromStdString(options.outDir), "--exit-after-startup"});
    ASSERT_TRUE(p.waitForFinished(60000));
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    EXPECT_TRUE(p.readAllStandardOutput().contains("main window shown"));

    // An automatic login that cannot succeed ends the scripted run at once, with the reason.
    QTcpServer closed;
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost, 0));
    QString dead = QString("127.0.0.1:%1").arg(closed.serverPort());
    closed.close();
    for (const QString& server : {QString("nowhere"), dead}) {
        QElapsedTimer t;
        t.start();
        p.start(TESSARO_PROGRAM, {"--appdir", QString::fromStdString(options.outDir), "--server", server,
                                  "--auto-login", "--screenshot", QString::fromStdString(temp.path() + "/shots")});
        ASSERT_TRUE(p.waitForFinished(60000));
        EXPECT_EQ(p.exitCode(), 1);
        EXPECT_LT(t.elapsed(), 20000);
        QString err = QString::fromUtf8(p.readAllStandardError());
        EXPECT_TRUE(err.contains(server == "nowhere" ? "请选择一个有效的主站!" : "无法连接,请检测是否已经连接Internet!"))
            << err.toStdString();
    }
}

TEST(EndToEnd, SecondStartActivatesTheFirst) {
    TempDir temp;
    DemoMarketOptions options;
    options.outDir = temp.path() + "/market";
    options.securities = 5;
    options.days = 5;
    ASSERT_TRUE(GenerateDemoMarket(options));
    fs::create_directories(temp.path() + "/run");
    fs::permissions(temp.path() + "/run", fs::perms::owner_all);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("ASAN_OPTIONS", "detect_leaks=0");
    env.insert("XDG_CONFIG_HOME", QString::fromStdString(temp.path() + "/config"));
    env.insert("XDG_RUNTIME_DIR", QString::fromStdString(temp.path() + "/run"));
    QStringList args{"--appdir", QString::fromStdString(options.outDir)};

    QProcess first;
    first.setProcessEnvironment(env);
    first.start(TESSARO_PROGRAM, args);  // waits in its login dialog
    ASSERT_TRUE(first.waitForStarted(10000));
    std::string socket = temp.path() + "/run/tessaro/TSR_PE.sock";
    ASSERT_TRUE(WaitFor([&] { return fs::exists(socket); }, 30000));

    QProcess second;
    second.setProcessEnvironment(env);
    second.start(TESSARO_PROGRAM, args);
    ASSERT_TRUE(second.waitForFinished(30000));
    EXPECT_EQ(second.exitCode(), 0) << second.readAllStandardError().toStdString();
    EXPECT_EQ(first.state(), QProcess::Running);  // the first goes on, brought to the front
    first.terminate();
    if (!first.waitForFinished(5000)) first.kill();
    first.waitForFinished(2000);
}

// The boss key on a real X server: the hot key (Alt+S) is grabbed globally, so a key
// press sent to the X server hides the main window and the next one shows it again.
TEST(EndToEnd, BossKeyGrabbedOnX11) {
    QString xvfb = QStandardPaths::findExecutable("Xvfb"), xdotool = QStandardPaths::findExecutable("xdotool");
    if (xvfb.isEmpty() || xdotool.isEmpty()) GTEST_SKIP() << "needs Xvfb and xdotool (scripts/setup.sh installs them)";
    TempDir temp;
    DemoMarketOptions options;
    options.outDir = temp.path() + "/market";
    options.securities = 5;
    options.days = 5;
    ASSERT_TRUE(GenerateDemoMarket(options));
    fs::create_directories(temp.path() + "/config/tessaro");
    ASSERT_TRUE(WriteFileAtomic(temp.path() + "/config/tessaro/settings.reg",
                                std::string("[SOFTWARE\\Halvex\\TSR_PE\\Settings]\n\"bBossKey\"=dword:00000001\n")));

    QProcess x;
    // -noreset: by default the server resets when its last client leaves (each xdotool call), and a
    // program connecting during that reset is refused.
    x.start(xvfb, {"-displayfd", "1", "-noreset", "-screen", "0", "1024x768x24", "-nolisten", "tcp"});
    ASSERT_TRUE(x.waitForStarted(10000));
    QByteArray number;
    while (!number.contains('\n') && x.waitForReadyRead(20000)) number += x.readAllStandardOutput();
    ASSERT_FALSE(number.trimmed().isEmpty());
    QString display = ":" + QString::fromLatin1(number.trimmed());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", display);
    env.remove("WAYLAND_DISPLAY");
    env.insert("QT_QPA_PLATFORM", "xcb");
    env.insert("ASAN_OPTIONS", "detect_leaks=0");
    env.insert("XDG_CONFIG_HOME", QString::fromStdString(temp.path() + "/config"));
    env.insert("XDG_RUNTIME_DIR", QString::fromStdString(temp.path()));
    env.insert("TESSARO_VERBOSE", "1");
    // The display answers before the program starts: a loaded machine may be slow to bring
    // Xvfb up even after it named its display.
    const bool answering = WaitFor([&] {
        QProcess probe;
        probe.setProcessEnvironment(env);
        probe.start(xdotool, {"getdisplaygeometry"});
        return probe.waitForFinished(5000) && probe.exitStatus() == QProcess::NormalExit && probe.exitCode() == 0;
    }, 20000);
    ASSERT_TRUE(answering) << "Xvfb on " << display.toStdString() << " does not answer";
    QProcess tessaro;
    tessaro.setProcessEnvironment(env);
    tessaro.start(TESSARO_PROGRAM, {"--appdir", QString::fromStdString(options.outDir)});
    auto visible = [&] {
        QProcess search;
        search.setProcessEnvironment(env);
        // The start-up's quote list is maximized: its caption follows in brackets.
        search.start(xdotool, {"search", "--onlyvisible", "--name", "^Tessaro普及版( - \\[.*\\])?$"});
        search.waitForFinished(10000);
        return !search.readAllStandardOutput().trimmed().isEmpty();
    };
    auto key = [&] {
        QProcess k;
        k.setProcessEnvironment(env);
        k.start(xdotool, {"key", "alt+s"});
        k.waitForFinished(10000);
    };
    bool shown = WaitFor(visible, 30000);
    if (shown) {
        key();
        EXPECT_TRUE(WaitFor([&] { return !visible(); }, 10000));
        key();
        EXPECT_TRUE(WaitFor(visible, 10000));
        // Another program (here a second instance apart from the first) cannot have the
        // key: its grab is refused and it goes on with a window shortcut.
        QProcessEnvironment other = env;
        fs::create_directories(temp.path() + "/run2");
        fs::permissions(temp.path() + "/run2", fs::perms::owner_all);
        other.insert("XDG_RUNTIME_DIR", QString::fromStdString(temp.path() + "/run2"));
        QProcess second;
        second.setProcessEnvironment(other);
        second.start(TESSARO_PROGRAM, {"--appdir", QString::fromStdString(options.outDir)});
        QByteArray secondErr;
        WaitFor([&] {
            secondErr += second.readAllStandardError();
            return secondErr.contains("boss key");
        }, 30000);
        EXPECT_TRUE(secondErr.contains("boss key Alt+S as a shortcut")) << secondErr.toStdString();
        EXPECT_EQ(second.state(), QProcess::Running);
        second.terminate();
        if (!second.waitForFinished(5000)) second.kill();
    }
    tessaro.terminate();
    if (!tessaro.waitForFinished(5000)) tessaro.kill();
    tessaro.waitForFinished(2000);
    x.terminate();
    x.waitForFinished(5000);
    QString err = QString::fromUtf8(tessaro.readAllStandardError());
    ASSERT_TRUE(shown) << err.toStdString();
    EXPECT_TRUE(err.contains("boss key Alt+S grabbed on the X server")) << err.toStdString();
}

}  // namespace
}  // namespace tessaro
