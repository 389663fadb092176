#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTextBrowser>

#include "client/qt/qt_client_transport.h"
#include "platform/settings_store.h"
#include "platform/text.h"
#include "ui/dialogs.h"
#include "ui_test_support.h"

namespace tessaro {
namespace {

// With TESSARO_TEST_SHOTS set, the dialogs are saved there as pictures to be looked at.
void MaybeSave(QWidget* w, const char* name) {
    QByteArray dir = qgetenv("TESSARO_TEST_SHOTS");
    if (dir.isEmpty()) return;
    w->show();
    QApplication::processEvents();
    w->grab().save(QString::fromUtf8(dir) + "/" + name + ".png");
}

TEST(LoginDialogWidget, DefaultsFromTheGuestAccountAndTheServerList) {
    SettingsStore store;
    RecordingPrompter prompter;
    std::vector<ServerEntry> entries{{"上海主站", "10.0.0.1", 6051}, {"深圳主站", "10.0.0.2", 7000}};
    LoginDialog d(store, entries, QString(), prompter);
    EXPECT_EQ(d.windowTitle(), "登录服务");
    EXPECT_EQ(d.accountEdit()->text(), "guest");
    EXPECT_EQ(d.passwordEdit()->text().size(), 5);
    EXPECT_EQ(d.passwordEdit()->echoMode(), QLineEdit::Password);
    EXPECT_TRUE(d.rememberBox()->isChecked());
    EXPECT_EQ(d.rememberBox()->text(), "记住我的密码");
    ASSERT_EQ(d.serverBox()->count(), 2);
    EXPECT_EQ(d.serverBox()->itemText(1), "深圳主站");
    EXPECT_TRUE(d.serverBox()->isEditable());
    EXPECT_EQ(d.connectButton()->text(), "连接主站");
    EXPECT_EQ(d.progressBar()->maximum(), 100);
    for (const char* text : {"脱机浏览", "免费获取", "忘记密码", "测速", "通讯设置"}) {
        bool found = false;
        for (QPushButton* b : d.findChildren<QPushButton*>()) found |= b->text() == QString::fromUtf8(text);
        EXPECT_TRUE(found) << text;
    }
    // --server fills the box over the stored choice.
    store.setString(SettingsKey("Net\\Server"), "selSvrName", Utf8ToGbk("上海主站"));
    LoginDialog stored(store, entries, QString(), prompter);
    EXPECT_EQ(stored.serverBox()->currentText(), "上海主站");
    MaybeSave(&stored, "login");
    LoginDialog overridden(store, entries, "127.0.0.1:7001", prompter);
    EXPECT_EQ(overridden.serverBox()->currentText(), "127.0.0.1:7001");
}

TEST(LoginDialogWidget, ConnectRefusesABadServerAndSendsAGoodOne) {
    SettingsStore store;
    RecordingPrompter prompter;
    std::vector<ServerEntry> entries{{"上海主站", "10.0.0.1", 6051}};
    LoginDialog d(store, entries, QString(), prompter);
    QSignalSpy spy(&d, &LoginDialog::connectRequested);
    d.serverBox()->setCurrentText("nowhere");
    d.clickConnect();
    EXPECT_EQ(prompter.errors, QStringList{"请选择一个有效的主站!"});
    EXPECT_EQ(spy.count(), 0);
    EXPECT_TRUE(d.connectButton()->isEnabled());

    d.serverBox()->setCurrentText("10.1.2.3");
    d.rememberBox()->setChecked(false);
    d.accountEdit()->setText(" trader ");
    d.clickConnect();
    ASSERT_EQ(spy.count(), 1);
    auto target = spy.at(0).at(0).value<ConnectTarget>();
    auto account = spy.at(0).at(1).value<LoginAccount>();
    EXPECT_EQ(target.host, "10.1.2.3");
    EXPECT_EQ(target.port, 6051);
    EXPECT_EQ(account.name, "trader");
    EXPECT_FALSE(d.connectButton()->isEnabled());  // until the attempt ends
    EXPECT_EQ(store.getString(SettingsKey("Net\\Login"), "name"), "");
    EXPECT_EQ(store.getDword(SettingsKey("Net\\Login"), "savecheck"), 0u);
    EXPECT_EQ(store.getString(SettingsKey("Net\\Server"), "selSvrName"), "10.1.2.3");
    d.connectEnded();
    EXPECT_TRUE(d.connectButton()->isEnabled());
    EXPECT_EQ(d.progressBar()->value(), 0);
}

TEST(ProxyDialogWidget, KindsEnabledStatesAndSettingsWritten) {
    SettingsStore store;
    RecordingPrompter prompter;
    ProxyDialog d(store, prompter);
    EXPECT_EQ(d.windowTitle(), "通讯设置");
    ASSERT_EQ(d.kindBox()->count(), 4);
    EXPECT_EQ(d.kindBox()->itemText(0), "不使用代理");
    EXPECT_EQ(d.kindBox()->itemText(1), "HTTP1.1");
    EXPECT_EQ(d.kindBox()->itemText(2), "SOCK4");
    EXPECT_EQ(d.kindBox()->itemText(3), "SOCK5");
    EXPECT_EQ(d.portEdit()->text(), "");
    EXPECT_FALSE(d.userEdit()->isEnabled());
    d.kindBox()->setCurrentIndex(3);
    EXPECT_TRUE(d.userEdit()->isEnabled());
    EXPECT_TRUE(d.passwordEdit()->isEnabled());
    d.kindBox()->setCurrentIndex(1);
    EXPECT_FALSE(d.passwordEdit()->isEnabled());
    d.addressEdit()->setText("proxy.local");
    d.portEdit()->setText("3128");
    MaybeSave(&d, "proxy");
    d.findChild<QPushButton*>("ok")->click();
    std::string key = SettingsKey("Net\\Proxy");
    EXPECT_EQ(store.getDword(key, "type"), 1u);
    EXPECT_EQ(store.getString(key, "addr"), "proxy.local");
    EXPECT_EQ(store.getDword(key, "port"), 3128u);
    ProxyDialog again(store, prompter);
    EXPECT_EQ(again.kindBox()->currentIndex(), 1);
    EXPECT_EQ(again.portEdit()->text(), "3128");
}

TEST(ProxyDialogWidget, TestReportsReachableAndUnreachable) {
    SettingsStore store;
    RecordingPrompter prompter;
    ProxyDialog d(store, prompter);
    d.runTest();
    EXPECT_EQ(prompter.errors, QStringList{"请输入有效的代理服务器地址!"});

    QTcpServer listener;
    ASSERT_TRUE(listener.listen(QHostAddress::LocalHost, 0));
    d.addressEdit()->setText("127.0.0.1");
    d.portEdit()->setText(QString::number(listener.serverPort()));
    d.runTest();
    EXPECT_FALSE(d.testButton()->isEnabled());  // while the test runs
    ASSERT_TRUE(WaitFor([&] { return !d.testRunning(); }));
    EXPECT_EQ(prompter.information, QStringList{"连接代理服务器正常!"});
    EXPECT_TRUE(d.testButton()->isEnabled());

    quint16 port = listener.serverPort();
    listener.close();
    d.portEdit()->setText(QString::number(port));
    d.runTest();
    ASSERT_TRUE(WaitFor([&] { return !d.testRunning(); }));
    EXPECT_EQ(prompter.errors.last(), "无法连接代理服务器!");
}

TEST(MessageDialogWidget, CheckBoxAndLinks) {
    MessageDialog with("今日公告\n详见 http://example.com/notice?id=1&x=2 与 <b>", true);
    EXPECT_EQ(with.windowTitle(), "友情提示");
    ASSERT_NE(with.checkBox(), nullptr);
    EXPECT_EQ(with.checkBox()->text(), "今日不再显示");
    EXPECT_FALSE(with.suppressToday());
    with.checkBox()->setChecked(true);
    EXPECT_TRUE(with.suppressToday());
    EXPECT_TRUE(with.textBox()->isReadOnly());
    EXPECT_TRUE(with.textBox()->openExternalLinks());
    QString html = LinkifyMessage("详见 http://example.com/notice?id=1&x=2 与 <b>");
    EXPECT_TRUE(html.contains("<a href=\"http://example.com/notice?id=1&amp;x=2\">")) << html.toStdString();
    EXPECT_TRUE(html.contains("&lt;b&gt;"));  // the server's text is never taken as markup
    MaybeSave(&with, "message");
    MessageDialog without("登录被拒绝", false);
    EXPECT_EQ(without.checkBox(), nullptr);
    EXPECT_FALSE(without.suppressToday());
}

TEST(QuoteRefreshDialogWidget, ClosesAtOnceWithoutConnection) {
    QtClientTransport transport;
    QuoteSession quotes(ClientContext{}, transport, {});
    QuoteRefreshDialog d(quotes, nullptr, 7);
    EXPECT_EQ(d.windowTitle(), "正在刷新行情数据...");
    EXPECT_FALSE(d.start());
    MaybeSave(&d, "refresh");
}

}  // namespace
}  // namespace tessaro
