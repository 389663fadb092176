// Server messages through the main window against a real tessaro-quoted: a notice
// shown with "今日不再显示", the same kind dropped for the rest of the day once the
// box is ticked, a re-initialisation shown plainly and a refused login's reason.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QTextBrowser>
#include <QTimer>
#include <ctime>
#include <filesystem>

#include "platform/settings_store.h"
#include "ui/dialogs.h"
#include "ui/status_panes.h"
#include "ui_test_support.h"

namespace tessaro {
namespace {

struct Shown {
    QString name, text;
    bool checkBox = false;
};

struct Rig {
    TempDir temp;
    QuotedServer server;
    std::unique_ptr<Session> session;
    ViewRegistry registry;
    std::unique_ptr<MainWindow> window;
    std::vector<Shown> shown;
    int logins = 0;
    bool tick = true;
    std::function<void(LoginDialog*)> onLaterLogin = [](LoginDialog* d) { d->done(kLoginOffline); };

    bool Open(const QStringList& serverOptions = {}) {
        DemoMarketOptions options;
        options.outDir = temp.path() + "/server";
        options.securities = 8;
        options.days = 5;
        if (!GenerateDemoMarket(options)) return false;
        std::filesystem::copy(options.outDir, temp.path() + "/client", std::filesystem::copy_options::recursive);
        if (!server.Start(options.outDir, serverOptions)) return false;
        SessionOptions so;
        so.appDir = temp.path() + "/client";
        so.access = SessionAccess::ReadOnly;
        so.data = kSessionAll;
        session = std::make_unique<Session>(so);
        if (!session->Start()) return false;
        MainWindowOptions wo;
        wo.serverOverride = QString("127.0.0.1:%1").arg(server.port).toStdString();
        wo.autoLogin = true;
        wo.onDialogShown = [this](QWidget* dialog, const QString& name) {
            Shown s{name, {}, false};
            if (auto* m = qobject_cast<MessageDialog*>(dialog)) {
                s.text = m->textBox()->toPlainText();
                s.checkBox = m->checkBox() != nullptr;
                if (m->checkBox()) m->checkBox()->setChecked(tick);
                m->accept();
            }
            if (auto* login = qobject_cast<LoginDialog*>(dialog)) {
                s.text = login->statusLabel()->text();
                if (++logins > 1) onLaterLogin(login);
            }
            shown.push_back(s);
        };
        window = std::make_unique<MainWindow>(*session, registry, wo);
        window->setPrompter(std::make_unique<RecordingPrompter>());
        window->show();
        QTimer::singleShot(0, window.get(), [this] { window->ConnectCommand(); });
        return true;
    }
    const Shown& Last(const QString& name) const {
        return *std::find_if(shown.rbegin(), shown.rend(), [&](const Shown& s) { return s.name == name; });
    }
    int Count(const QString& name) const {
        return int(std::count_if(shown.begin(), shown.end(), [&](const Shown& s) { return s.name == name; }));
    }
};

TEST(ServerMessages, NoticeSuppressedForTheDayThenReinitShownPlainly) {
    Rig rig;
    ASSERT_TRUE(rig.Open());
    ASSERT_TRUE(WaitFor([&] { return rig.window->quotes().ready() && !rig.window->loginDialog(); }));
    EXPECT_EQ(rig.window->statusPanes()->paneText(kPaneConnection), QString("127.0.0.1:%1").arg(rig.server.port));

    rig.server.Command("notice 今日公告 详见 http://127.0.0.1/notice");
    ASSERT_TRUE(WaitFor([&] { return rig.Count("message") == 1; }));
    EXPECT_TRUE(rig.Last("message").text.contains("今日公告"));
    EXPECT_TRUE(rig.Last("message").checkBox);
    uint32_t stored = rig.session->settingsStore().getDword(SettingsKey("Settings"), "dismessage").value_or(0);
    EXPECT_NEAR(double(stored), double(std::time(nullptr)), 5.0);

    // The box was ticked: a second notice today is dropped unseen. The re-initialisation
    // that follows it on the same connection is always shown, without the box.
    rig.server.Command("notice 第二条公告");
    rig.server.Command("reinit");
    ASSERT_TRUE(WaitFor([&] { return rig.Count("message") == 2; }));
    EXPECT_EQ(rig.Last("message").text, "服务器端重新初始化,请稍后重连...");
    EXPECT_FALSE(rig.Last("message").checkBox);
    // With the login dialog closed, the re-initialisation opens it again.
    ASSERT_TRUE(WaitFor([&] { return rig.logins == 2; }));
    ASSERT_TRUE(WaitFor([&] { return !rig.window->loginDialog(); }));
    EXPECT_FALSE(rig.window->quotes().connected());
    EXPECT_EQ(rig.window->statusPanes()->paneText(kPaneConnection), "连接已断开");
}

TEST(ServerMessages, RefusedLoginShowsTheReasonAndKeepsTheDialog) {
    Rig rig;
    bool inspected = false, connectEnabled = false;
    rig.tick = false;
    // The login dialog runs modally until it is closed: it is looked at and closed from
    // inside its own loop, once the refusal's reason has been shown.
    QTimer poll;
    poll.setInterval(20);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        LoginDialog* login = rig.window ? rig.window->loginDialog() : nullptr;
        if (inspected || !login || rig.Count("message") == 0) return;
        inspected = true;
        connectEnabled = login->connectButton()->isEnabled();
        login->done(kLoginOffline);
    });
    poll.start();
    ASSERT_TRUE(rig.Open({"--fault", "refuse-login=帐号已过期"}));
    ASSERT_TRUE(WaitFor([&] { return inspected && !rig.window->loginDialog(); }));
    EXPECT_EQ(rig.Last("message").text, "帐号已过期");
    EXPECT_FALSE(rig.Last("message").checkBox);  // a refusal's reason is always shown
    EXPECT_TRUE(connectEnabled);                  // the dialog stays open for another try
    EXPECT_FALSE(rig.window->quotes().connected());
    EXPECT_EQ(rig.session->settingsStore().getDword(SettingsKey("Settings"), "disloginmessage"), std::nullopt);
}

}  // namespace
}  // namespace tessaro
