// The update offer: a server whose login reply names a newer version. The updater
// is an outside program in the application directory; without one the user is told
// and the program goes on.
#include <gtest/gtest.h>

#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include "net/decompress.h"
#include "net/login_messages.h"
#include "platform/bytes.h"
#include "platform/files.h"
#include "platform/text.h"
#include "ui_test_support.h"

namespace tessaro {
namespace {

// Answers the first login with a reply that announces a newer version.
class UpdatingServer : public QObject {
public:
    UpdatingServer() {
        server_.listen(QHostAddress::LocalHost, 0);
        connect(&server_, &QTcpServer::newConnection, this, [this] {
            QTcpSocket* s = server_.nextPendingConnection();
            connect(s, &QTcpSocket::readyRead, s, [s] {
                QByteArray request = s->readAll();  // the 132-byte login, header first
                // Only the login is answered; the start-up chain that follows waits.
                if (request.size() < 16 || s->property("answered").toBool()) return;
                s->setProperty("answered", true);
                LoginReply reply;
                reply.message = Utf8ToGbk("5.02 版修正了若干问题");
                reply.updateParameters = "--from 5.01.001 --to 5.02";
                Bytes header(request.begin(), request.begin() + 16);
                reply.serial = LoadLE<uint32_t>(header.data() + 4);
                reply.window = LoadLE<uint32_t>(header.data() + 8);
                auto packet = EncodeReply(reply, false);
                if (packet) s->write(reinterpret_cast<const char*>(packet->data()), qint64(packet->size()));
            });
        });
    }
    quint16 port() const { return server_.serverPort(); }

private:
    QTcpServer server_;
};

struct UpdateRig {
    TempDir temp;
    UpdatingServer server;
    std::unique_ptr<Session> session;
    ViewRegistry registry;
    std::unique_ptr<MainWindow> window;
    RecordingPrompter* prompter = nullptr;

    bool Open(bool withUpdater) {
        DemoMarketOptions options;
        options.outDir = temp.path() + "/app";
        options.securities = 4;
        options.days = 3;
        if (!GenerateDemoMarket(options)) return false;
        if (withUpdater) {
            // The updater records its command line and working directory.
            std::string script = "#!/bin/sh\necho \"$@\" > \"" + temp.path() + "/updater-ran\"\npwd >> \"" +
                                 temp.path() + "/updater-ran\"\n";
            if (!WriteFileAtomic(options.outDir + "/Update", script, 0755)) return false;
        }
        SessionOptions so;
        so.appDir = options.outDir;
        so.data = kSessionAll;
        session = std::make_unique<Session>(so);
        if (!session->Start()) return false;
        MainWindowOptions wo;
        wo.serverOverride = QString("127.0.0.1:%1").arg(server.port()).toStdString();
        wo.autoLogin = true;
        window = std::make_unique<MainWindow>(*session, registry, wo);
        auto p = std::make_unique<RecordingPrompter>();
        p->answer = Prompter::Answer::Yes;
        prompter = p.get();
        window->setPrompter(std::move(p));
        window->show();
        QTimer::singleShot(0, window.get(), [this] { window->ConnectCommand(); });
        return true;
    }
};

TEST(UpdateOffer, StartsTheUpdaterAndCloses) {
    UpdateRig rig;
    ASSERT_TRUE(rig.Open(true));
    std::string ran = rig.temp.path() + "/updater-ran";
    ASSERT_TRUE(WaitFor([&] { return FileExists(ran) && FileSize(ran) > 0 && !rig.window->isVisible(); }));
    ASSERT_EQ(rig.prompter->asked.size(), 1);
    EXPECT_TRUE(rig.prompter->asked[0].startsWith("检测到有新的程序版本，是否立即升级？"));
    EXPECT_TRUE(rig.prompter->asked[0].contains("5.02 版修正了若干问题"));
    QFile f(QString::fromStdString(ran));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    QStringList lines = QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 2);
    EXPECT_EQ(lines[0], "--from 5.01.001 --to 5.02");
    EXPECT_EQ(lines[1] + "/", QString::fromStdString(rig.session->appDir()));  // run in the program directory
}

TEST(UpdateOffer, WithoutAnUpdaterSaysSoAndGoesOn) {
    UpdateRig rig;
    ASSERT_TRUE(rig.Open(false));
    ASSERT_TRUE(WaitFor([&] { return !rig.prompter->information.isEmpty(); }));
    EXPECT_EQ(rig.prompter->asked.size(), 1);
    EXPECT_EQ(rig.prompter->information, QStringList{"没有配置升级程序，继续使用当前版本。"});
    EXPECT_TRUE(rig.window->isVisible());
    EXPECT_EQ(rig.window->loginDialog(), nullptr);  // closed with the announcement
}

}  // namespace
}  // namespace tessaro
