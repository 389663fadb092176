// The dialogs of the connection and of the server's messages: the login dialog
// "登录服务", the proxy dialog "通讯设置", the message dialog "友情提示" and the
// quote refresh dialog "正在刷新行情数据...". Their rules live in
// ui/model/login_model.h and ui/model/shell_rules.h; these only show and forward.
#pragma once

#include <QDialog>
#include <QPointer>
#include <memory>
#include <vector>

#include "app/settings.h"
#include "client/quote_session.h"
#include "ui/model/login_model.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTcpSocket;
class QTextBrowser;

namespace tessaro {

class Prompter;
class SettingsStore;
class QuoteRefresh;
class QuoteSession;
class MarketStore;

// Result codes of the login dialog.
enum LoginResult { kLoginOffline = 0, kLoginConnected = 1, kLoginUpdate = 2 };

class LoginDialog : public QDialog {
    Q_OBJECT
public:
    // entries: the servers of base/srvlist.txt; serverOverride fills the server
    // box when not empty.
    LoginDialog(SettingsStore& settings, std::vector<ServerEntry> entries, const QString& serverOverride,
                Prompter& prompter, QWidget* parent = nullptr);

    // The session's status texts, and the end of a connect attempt.
    void setStatus(const QString& text);
    void setProgress(int percent);
    // The attempt failed or the connection closed: "连接主站" is enabled again.
    void connectEnded();
    // Presses "连接主站" (the --auto-login option, tests).
    void clickConnect();

    QLineEdit* accountEdit() const { return account_; }
    QLineEdit* passwordEdit() const { return password_; }
    QCheckBox* rememberBox() const { return remember_; }
    QComboBox* serverBox() const { return server_; }
    QPushButton* connectButton() const { return connect_; }
    QLabel* statusLabel() const { return status_; }
    QProgressBar* progressBar() const { return progress_; }

signals:
    // "连接主站" resolved a server: the main window connects.
    void connectRequested(const tessaro::ConnectTarget& target, const tessaro::LoginAccount& account);
    // The proxy dialog opened (for screenshots).
    void dialogShown(QWidget* dialog, const QString& name);

private:
    void OnConnect();
    void OnProxy();
    void OnSpeedTest();

    SettingsStore& settings_;
    std::vector<ServerEntry> entries_;
    Prompter& prompter_;
    QLineEdit* account_ = nullptr;
    QLineEdit* password_ = nullptr;
    QCheckBox* remember_ = nullptr;
    QComboBox* server_ = nullptr;
    QPushButton* connect_ = nullptr;
    QLabel* status_ = nullptr;
    QProgressBar* progress_ = nullptr;
};

class ProxyDialog : public QDialog {
    Q_OBJECT
public:
    ProxyDialog(SettingsStore& settings, Prompter& prompter, QWidget* parent = nullptr);
    ~ProxyDialog() override;

    ProxyFields fields() const;
    void setFields(const ProxyFields& fields);
    // "测试&T".
    void runTest();

    QComboBox* kindBox() const { return kind_; }
    QLineEdit* addressEdit() const { return address_; }
    QLineEdit* portEdit() const { return port_; }
    QLineEdit* userEdit() const { return user_; }
    QLineEdit* passwordEdit() const { return password_; }
    QPushButton* testButton() const { return test_; }
    bool testRunning() const { return socket_ != nullptr; }

signals:
    void testFinished(bool reachable);

private:
    void UpdateEnabled();
    void CloseTestSocket();
    void TestDone(bool reachable);

    SettingsStore& settings_;
    Prompter& prompter_;
    QComboBox* kind_ = nullptr;
    QLineEdit* address_ = nullptr;
    QLineEdit* port_ = nullptr;
    QLineEdit* user_ = nullptr;
    QLineEdit* password_ = nullptr;
    QPushButton* test_ = nullptr;
    QTcpSocket* socket_ = nullptr;
};

// "友情提示": the text in a read-only rich-text box whose links open in the
// browser, an "确定" button and, when asked for, "今日不再显示".
class MessageDialog : public QDialog {
    Q_OBJECT
public:
    MessageDialog(const QString& text, bool withCheckBox, QWidget* parent = nullptr);
    bool suppressToday() const;
    QTextBrowser* textBox() const { return text_; }
    QCheckBox* checkBox() const { return check_; }

private:
    QTextBrowser* text_ = nullptr;
    QCheckBox* check_ = nullptr;
};
// Plain text to HTML with its web addresses as links.
QString LinkifyMessage(const QString& text);

// "正在刷新行情数据...": asks for every quote of today in pages of 100 and
// closes with result 1 after the last page; at once when not connected.
class QuoteRefreshDialog : public QDialog {
    Q_OBJECT
public:
    QuoteRefreshDialog(QuoteSession& quotes, MarketStore* store, uint32_t window, QWidget* parent = nullptr);
    ~QuoteRefreshDialog() override;
    // Starts the refresh; false when there is no connection (the dialog is done).
    bool start();
    QProgressBar* progressBar() const { return progress_; }
    QLabel* percentLabel() const { return percent_; }

private:
    std::unique_ptr<QuoteRefresh> refresh_;
    QProgressBar* progress_ = nullptr;
    QLabel* percent_ = nullptr;
};

// "系统选项": the boss key (on or off, modifiers and key) and the colour scheme.
// "确定" writes the boss-key values at once ("bBossKey", "bkModifiers",
// "bkVirtualCode"); the scheme is kept in the settings record, saved at exit.
class OptionsDialog : public QDialog {
    Q_OBJECT
public:
    OptionsDialog(SystemSettings& settings, SettingsStore& store, QWidget* parent = nullptr);
    // Writes what the pages show (what "确定" does before closing).
    void apply();

    QCheckBox* bossKeyBox() const { return bossKey_; }
    QCheckBox* modifierBox(int bit) const;  // 1 Alt, 2 Ctrl, 4 Shift
    QComboBox* keyBox() const { return key_; }
    QComboBox* schemeBox() const { return scheme_; }

private:
    SystemSettings& settings_;
    SettingsStore& store_;
    QCheckBox* bossKey_ = nullptr;
    QCheckBox* alt_ = nullptr;
    QCheckBox* ctrl_ = nullptr;
    QCheckBox* shift_ = nullptr;
    QComboBox* key_ = nullptr;
    QComboBox* scheme_ = nullptr;
};

}  // namespace tessaro

Q_DECLARE_METATYPE(tessaro::ConnectTarget)
Q_DECLARE_METATYPE(tessaro::LoginAccount)
