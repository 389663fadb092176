// The real zuvoplayer program, several processes at once, each test in its own directories so that
// parallel runs never meet (the lock and socket live in the test's own runtime directory).
#include "player/file_io.h"

#include <QDir>
#include <QElapsedTimer>
#include <QLockFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>

namespace zuvo {
namespace {

constexpr int kWaitMs = 30000;  // generous for sanitizer builds; every wait is bounded

class PlayerProcesses : public ::testing::Test {
protected:
    QTemporaryDir root;
    QString dir(const char* name) const { return root.path() + "/" + name; }
    std::string trace() const { return (root.path() + "/trace.txt").toStdString(); }
    std::string configFile() const { return (dir("config") + "/zuvoplayer/config.ini").toStdString(); }

    void SetUp() override {
        ASSERT_TRUE(root.isValid());
        for (const char* d : {"config", "data", "home"}) ASSERT_TRUE(QDir().mkpath(dir(d)));
        ASSERT_TRUE(QDir().mkdir(dir("run")));
        QFile::setPermissions(dir("run"), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }

    void TearDown() override {
        for (auto& p : running_) {
            if (p->state() != QProcess::NotRunning) {
                p->kill();
                p->waitForFinished(kWaitMs);
            }
        }
    }

    QProcess* Start(const QStringList& args) {
        auto process = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("HOME", dir("home"));
        env.insert("XDG_CONFIG_HOME", dir("config"));
        env.insert("XDG_DATA_HOME", dir("data"));
        env.insert("XDG_RUNTIME_DIR", dir("run"));
        env.insert("ZUVOPLAYER_TRACE", QString::fromStdString(trace()));
        process->setProcessEnvironment(env);
        // Both channels go straight to ours: nothing is buffered in a pipe that nobody reads while
        // the test sleeps, so a chatty player can never block on a full pipe.
        process->setProcessChannelMode(QProcess::ForwardedChannels);
        process->start(ZUVOPLAYER_PROGRAM, args);
        EXPECT_TRUE(process->waitForStarted(kWaitMs));
        running_.push_back(std::move(process));
        return running_.back().get();
    }

    // Runs a start that must end by itself; returns its exit code (-1 when it did not end in time).
    int Run(const QStringList& args) {
        QProcess* p = Start(args);
        if (!p->waitForFinished(kWaitMs)) return -1;
        return p->exitStatus() == QProcess::NormalExit ? p->exitCode() : -2;
    }

    std::string TraceText() const { return ReadSmallFile(trace()).text; }

    bool WaitForTrace(const std::string& text) const {
        QElapsedTimer clock;
        clock.start();
        while (TraceText().find(text) == std::string::npos) {
            if (clock.elapsed() > kWaitMs) return false;
            QThread::msleep(20);
        }
        return true;
    }

    // Closes the window the way a session end does and returns the exit code.
    static int Close(QProcess* p) {
        ::kill(static_cast<pid_t>(p->processId()), SIGTERM);
        if (!p->waitForFinished(kWaitMs)) return -1;
        return p->exitStatus() == QProcess::NormalExit ? p->exitCode() : -2;
    }

private:
    std::vector<std::unique_ptr<QProcess>> running_;
};

TEST_F(PlayerProcesses, SecondStartHandsOverThirdRaisesAndCloseSavesTheSize) {
    ASSERT_TRUE(WriteFileAtomically(configFile(), "; kept\n[default]\nwidth=640\nheight=480\n"));
    QProcess* first = Start({"-zuvopurl", "zuvop2p://Volume=30|playmode=Live|nat=n|cgi=c|action=a"});
    ASSERT_TRUE(WaitForTrace("call Start\n")) << TraceText();
    EXPECT_EQ(TraceText(),
              "set volume number 30\nset playmode text Live\nset nat counted n\nset cgi counted c\n"
              "set action counted a\ncall Start\n");

    // Registered as the scheme handler.
    const std::string entry = ReadSmallFile((dir("data") + "/applications/zuvoplayer.desktop").toStdString()).text;
    EXPECT_NE(entry.find("MimeType=x-scheme-handler/zuvop2p;"), std::string::npos);
    EXPECT_NE(entry.find(" -zuvopurl %u\n"), std::string::npos);
    EXPECT_NE(ReadSmallFile((dir("config") + "/mimeapps.list").toStdString())
                  .text.find("x-scheme-handler/zuvop2p=zuvoplayer.desktop"),
              std::string::npos);

    // The second start's link is applied before the second start ends.
    EXPECT_EQ(Run({"-zuvopurl", "zuvop2p://volume=55|infostring=%E4%B8%AD%E6%96%87|nat=x|cgi=y"}), 0);
    const std::string afterSecond = TraceText();
    EXPECT_NE(afterSecond.find("set volume number 55\nset infostring text 中文\nset nat counted x\n"
                               "set cgi counted y\n"),
              std::string::npos)
        << afterSecond;
    EXPECT_EQ(afterSecond.find("call Start\n"), afterSecond.rfind("call Start\n"));  // two counted: no call

    // A third start without arguments only raises the window.
    EXPECT_EQ(Run({}), 0);
    EXPECT_EQ(TraceText(), afterSecond);
    EXPECT_EQ(first->state(), QProcess::Running);

    EXPECT_EQ(Close(first), 1);
    EXPECT_EQ(ReadSmallFile(configFile()).text, "; kept\n[default]\nwidth=640\nheight=480\n");
}

TEST_F(PlayerProcesses, TwoStartsAtOnceShareOneWindowAndApplyBothLinks) {
    // Neither waits for the other: whichever takes the lock keeps the window, the other hands over
    // even though the window may still be starting.
    QProcess* a = Start({"-zuvopurl", "zuvop2p://volume=11"});
    QProcess* b = Start({"-zuvopurl", "zuvop2p://volume=22"});
    QElapsedTimer clock;
    clock.start();
    while (a->state() != QProcess::NotRunning && b->state() != QProcess::NotRunning && clock.elapsed() < kWaitMs) {
        a->waitForFinished(20);
        b->waitForFinished(20);
    }
    QProcess* ended = a->state() == QProcess::NotRunning ? a : b;
    QProcess* window = ended == a ? b : a;
    ASSERT_EQ(ended->state(), QProcess::NotRunning) << "one start must hand over and end";
    EXPECT_EQ(ended->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(ended->exitCode(), 0);
    EXPECT_EQ(window->state(), QProcess::Running);
    // The hand-over is answered only once its link is applied, so both are in the trace by now.
    const std::string trace = TraceText();
    EXPECT_NE(trace.find("set volume number 11\n"), std::string::npos) << trace;
    EXPECT_NE(trace.find("set volume number 22\n"), std::string::npos) << trace;
    EXPECT_EQ(Close(window), 1);
}

TEST_F(PlayerProcesses, FirstStartWithoutConfigSavesTheDefaultSizeOnClose) {
    QProcess* first = Start({"-zuvopurl", "zuvop2p://mute=1"});
    ASSERT_TRUE(WaitForTrace("set mute flag true\n"));
    EXPECT_EQ(Close(first), 1);
    const std::string saved = ReadSmallFile(configFile()).text;
    // 800 x 600 unless the desktop is smaller; never below the minimum.
    EXPECT_EQ(saved.rfind("[default]\nwidth=", 0), 0u) << saved;
    EXPECT_NE(saved.find("\nheight="), std::string::npos);
}

TEST_F(PlayerProcesses, LaterStartWithNoWindowAnsweringEndsWithZero) {
    // Someone holds the lock but nobody listens.
    QLockFile lock(dir("run") + "/{1056A760-6642-4a2a-B2E8-E384D41A76B1}ZuvoP2P.lock");
    ASSERT_TRUE(lock.tryLock(0));
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(Run({"-zuvopurl", "zuvop2p://volume=1"}), 0);
    EXPECT_LT(clock.elapsed(), kWaitMs);
    EXPECT_EQ(TraceText(), "");
    // It still registered the scheme.
    EXPECT_EQ(ReadSmallFile((dir("data") + "/applications/zuvoplayer.desktop").toStdString()).status,
              ReadStatus::Ok);
}

TEST_F(PlayerProcesses, AKilledFirstInstanceDoesNotBlockTheNextStart) {
    QProcess* crashed = Start({"-zuvopurl", "zuvop2p://volume=1"});
    ASSERT_TRUE(WaitForTrace("set volume number 1\n"));
    crashed->kill();  // no clean-up: lock file and socket stay behind
    ASSERT_TRUE(crashed->waitForFinished(kWaitMs));
    QProcess* next = Start({"-zuvopurl", "zuvop2p://volume=2"});
    ASSERT_TRUE(WaitForTrace("set volume number 2\n")) << TraceText();
    EXPECT_EQ(Run({"-zuvopurl", "zuvop2p://volume=3"}), 0);
    EXPECT_NE(TraceText().find("set volume number 3\n"), std::string::npos);
    EXPECT_EQ(Close(next), 1);
}

}  // namespace
}  // namespace zuvo
