#include "ui/dialogs.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QTabWidget>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTextBrowser>
#include <QTimer>
#include <QUrl>
#include <QUrlQuery>
#include <QVBoxLayout>

#include "client/reply_handlers.h"
#include "platform/settings_store.h"
#include "platform/text.h"
#include "ui/main_window.h"

namespace tessaro {

namespace {
QString Q(std::string_view s) { return QString::fromUtf8(s.data(), qsizetype(s.size())); }
std::string S(const QString& s) { return s.toStdString(); }

// The sign-up and password-recovery pages: configuration under Net\Login
// ("RegisterURL", "ForgetURL"), these addresses when none is set.
constexpr char kDefaultRegisterUrl[] = "https://tessaro.example.com/register";
constexpr char kDefaultForgetUrl[] = "https://tessaro.example.com/forget";

QString ConfiguredUrl(const SettingsStore& settings, std::string_view name, const char* fallback) {
    auto v = settings.getString(SettingsKey(kLoginKey), name);
    return v && !v->empty() ? Q(GbkToUtf8(*v)) : QString::fromLatin1(fallback);
}
}  // namespace

// ---- 登录服务 --------------------------------------------------------------------------

LoginDialog::LoginDialog(SettingsStore& settings, std::vector<ServerEntry> entries, const QString& serverOverride,
                         Prompter& prompter, QWidget* parent)
    : QDialog(parent), settings_(settings), entries_(std::move(entries)), prompter_(prompter) {
    setObjectName("loginDialog");
    setWindowTitle(QStringLiteral("登录服务"));
    auto* grid = new QGridLayout;
    account_ = new QLineEdit;
    account_->setObjectName("account");
    password_ = new QLineEdit;
    password_->setObjectName("password");
    password_->setEchoMode(QLineEdit::Password);
    remember_ = new QCheckBox(QStringLiteral("记住我的密码"));
    remember_->setObjectName("remember");
    auto* signUp = new QPushButton(QStringLiteral("免费获取"));
    auto* forget = new QPushButton(QStringLiteral("忘记密码"));
    server_ = new QComboBox;
    server_->setObjectName("server");
    server_->setEditable(true);
    server_->setMinimumWidth(220);
    auto* speed = new QPushButton(QStringLiteral("测速"));
    auto* proxy = new QPushButton(QStringLiteral("通讯设置"));
    connect_ = new QPushButton(QStringLiteral("连接主站"));
    connect_->setObjectName("connect");
    connect_->setDefault(true);
    auto* offline = new QPushButton(QStringLiteral("脱机浏览"));
    offline->setObjectName("offline");
    progress_ = new QProgressBar;
    progress_->setRange(0, 100);
    progress_->setValue(0);
    progress_->setTextVisible(false);
    progress_->setMaximumHeight(10);
    progress_->setVisible(false);
    status_ = new QLabel;
    status_->setObjectName("status");
    status_->setMinimumHeight(status_->fontMetrics().height() + 4);

    grid->addWidget(new QLabel(QStringLiteral("用户名:")), 0, 0);
    grid->addWidget(account_, 0, 1);
    grid->addWidget(signUp, 0, 2);
    grid->addWidget(new QLabel(QStringLiteral("密  码:")), 1, 0);
    grid->addWidget(password_, 1, 1);
    grid->addWidget(forget, 1, 2);
    grid->addWidget(remember_, 2, 1);
    grid->addWidget(new QLabel(QStringLiteral("主  站:")), 3, 0);
    grid->addWidget(server_, 3, 1);
    grid->addWidget(speed, 3, 2);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(proxy);
    buttons->addStretch();
    buttons->addWidget(connect_);
    buttons->addWidget(offline);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(progress_);
    layout->addWidget(status_);
    layout->addLayout(buttons);

    for (const ServerEntry& e : entries_) server_->addItem(Q(e.name));
    LoginFields fields = LoadLoginFields(settings_);
    account_->setText(Q(fields.account));
    password_->setText(Q(fields.password));
    remember_->setChecked(fields.remember);
    server_->setCurrentText(serverOverride.isEmpty() ? Q(fields.server) : serverOverride);

    connect(connect_, &QPushButton::clicked, this, &LoginDialog::OnConnect);
    connect(offline, &QPushButton::clicked, this, [this] { done(kLoginOffline); });
    connect(proxy, &QPushButton::clicked, this, &LoginDialog::OnProxy);
    connect(speed, &QPushButton::clicked, this, &LoginDialog::OnSpeedTest);
    connect(signUp, &QPushButton::clicked, this, [this] {
        QDesktopServices::openUrl(QUrl(ConfiguredUrl(settings_, "RegisterURL", kDefaultRegisterUrl)));
    });
    connect(forget, &QPushButton::clicked, this, [this] {
        QUrl url(ConfiguredUrl(settings_, "ForgetURL", kDefaultForgetUrl));
        QUrlQuery query;
        query.addQueryItem("username", account_->text().trimmed());
        query.addQueryItem("version", QStringLiteral("Tessaro普及版"));
        url.setQuery(query);
        QDesktopServices::openUrl(url);
    });
}

void LoginDialog::setStatus(const QString& text) { status_->setText(text); }

void LoginDialog::setProgress(int percent) { progress_->setValue(std::clamp(percent, 0, 100)); }

void LoginDialog::connectEnded() {
    progress_->setValue(0);
    connect_->setEnabled(true);
}

void LoginDialog::clickConnect() {
    if (connect_->isEnabled()) OnConnect();
}

void LoginDialog::OnConnect() {
    LoginFields fields;
    fields.account = S(account_->text());
    fields.password = S(password_->text());
    fields.remember = remember_->isChecked();
    fields.server = S(server_->currentText());
    LoginDecision decision = ApplyLogin(settings_, fields, entries_);
    if (!decision.error.empty()) {
        prompter_.Error(this, Q(decision.error));
        return;
    }
    if (!decision.server) {
        // No server given: the servers of the list are offered (the speed test picks one).
        OnSpeedTest();
        return;
    }
    ConnectTarget target;
    target.serverName = decision.server->name;
    target.host = decision.server->host;
    target.port = decision.server->port;
    target.proxy = ReadProxySettings(settings_);
    connect_->setEnabled(false);
    progress_->setVisible(true);
    progress_->setValue(0);
    emit connectRequested(target, decision.account);
}

void LoginDialog::OnProxy() {
    ProxyDialog dialog(settings_, prompter_, this);
    QTimer::singleShot(0, &dialog, [this, &dialog] { emit dialogShown(&dialog, QStringLiteral("proxy")); });
    dialog.exec();
}

void LoginDialog::OnSpeedTest() {
    if (server_->count() == 0) {
        prompter_.Error(this, Q(kNoValidServer));
        return;
    }
    server_->setFocus();
    server_->showPopup();
}

// ---- 通讯设置 ----------------------------------------------------------------------------

ProxyDialog::ProxyDialog(SettingsStore& settings, Prompter& prompter, QWidget* parent)
    : QDialog(parent), settings_(settings), prompter_(prompter) {
    setObjectName("proxyDialog");
    setWindowTitle(QStringLiteral("通讯设置"));
    kind_ = new QComboBox;
    kind_->setObjectName("kind");
    for (std::string_view text : kProxyKindTexts) kind_->addItem(Q(text));
    address_ = new QLineEdit;
    address_->setObjectName("address");
    port_ = new QLineEdit;
    port_->setObjectName("port");
    port_->setMaxLength(5);
    user_ = new QLineEdit;
    user_->setObjectName("user");
    password_ = new QLineEdit;
    password_->setObjectName("password");
    password_->setEchoMode(QLineEdit::Password);
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("代理类型:"), kind_);
    form->addRow(QStringLiteral("代理地址:"), address_);
    form->addRow(QStringLiteral("端口:"), port_);
    form->addRow(QStringLiteral("用户名:"), user_);
    form->addRow(QStringLiteral("密码:"), password_);
    auto* ok = new QPushButton(QStringLiteral("确定&Y"));
    ok->setObjectName("ok");
    auto* cancel = new QPushButton(QStringLiteral("取消&C"));
    test_ = new QPushButton(QStringLiteral("测试&T"));
    test_->setObjectName("test");
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(test_);
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addLayout(buttons);

    setFields(LoadProxyFields(settings_));
    connect(kind_, &QComboBox::currentIndexChanged, this, [this] { UpdateEnabled(); });
    connect(ok, &QPushButton::clicked, this, [this] {
        SaveProxyFields(settings_, fields());
        accept();
    });
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(test_, &QPushButton::clicked, this, &ProxyDialog::runTest);
    connect(this, &QDialog::finished, this, [this] { CloseTestSocket(); });
}

ProxyDialog::~ProxyDialog() { CloseTestSocket(); }

ProxyFields ProxyDialog::fields() const {
    ProxyFields f;
    f.kind = kind_->currentIndex();
    f.address = S(address_->text());
    f.port = S(port_->text());
    f.user = S(user_->text());
    f.password = S(password_->text());
    return f;
}

void ProxyDialog::setFields(const ProxyFields& f) {
    kind_->setCurrentIndex(std::clamp(f.kind, 0, 3));
    address_->setText(Q(f.address));
    port_->setText(Q(f.port));
    user_->setText(Q(f.user));
    password_->setText(Q(f.password));
    UpdateEnabled();
}

void ProxyDialog::UpdateEnabled() {
    bool account = ProxyAccountEnabled(kind_->currentIndex());
    user_->setEnabled(account);
    password_->setEnabled(account);
}

void ProxyDialog::runTest() {
    auto target = ProxyTestTarget(fields());
    if (auto* error = std::get_if<std::string>(&target)) {
        prompter_.Error(this, Q(*error));
        return;
    }
    auto [host, port] = std::get<std::pair<std::string, uint16_t>>(target);
    CloseTestSocket();
    socket_ = new QTcpSocket(this);
    connect(socket_, &QTcpSocket::connected, this, [this] { TestDone(true); });
    connect(socket_, &QTcpSocket::errorOccurred, this, [this] { TestDone(false); });
    test_->setEnabled(false);
    socket_->connectToHost(Q(host), port);
}

void ProxyDialog::TestDone(bool reachable) {
    CloseTestSocket();
    test_->setEnabled(true);
    if (reachable)
        prompter_.Information(this, Q(kProxyReachable));
    else
        prompter_.Error(this, Q(kProxyUnreachable));
    emit testFinished(reachable);
}

void ProxyDialog::CloseTestSocket() {
    if (!socket_) return;
    QTcpSocket* s = socket_;
    socket_ = nullptr;
    s->disconnect(this);
    s->abort();
    s->deleteLater();
}

// ---- 友情提示 ------------------------------------------------------------------------------

QString LinkifyMessage(const QString& text) {
    QString html = text.toHtmlEscaped();
    static const QRegularExpression url(QStringLiteral(R"((https?://[^\s<>"']+|www\.[^\s<>"']+))"));
    html.replace(url, QStringLiteral("<a href=\"\\1\">\\1</a>"));
    html.replace(QStringLiteral("href=\"www."), QStringLiteral("href=\"http://www."));
    html.replace(QLatin1Char('\n'), QStringLiteral("<br>"));
    return html;
}

MessageDialog::MessageDialog(const QString& text, bool withCheckBox, QWidget* parent) : QDialog(parent) {
    setObjectName("messageDialog");
    setWindowTitle(QStringLiteral("友情提示"));
    text_ = new QTextBrowser;
    text_->setObjectName("text");
    text_->setOpenExternalLinks(true);
    text_->setReadOnly(true);
    text_->setHtml(LinkifyMessage(QString(text).remove(QLatin1Char('\r'))));
    auto* ok = new QPushButton(QStringLiteral("确定"));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    auto* buttons = new QHBoxLayout;
    if (withCheckBox) {
        check_ = new QCheckBox(QStringLiteral("今日不再显示"));
        check_->setObjectName("suppress");
        buttons->addWidget(check_);
    }
    buttons->addStretch();
    buttons->addWidget(ok);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(text_);
    layout->addLayout(buttons);
    resize(420, 260);
}

bool MessageDialog::suppressToday() const { return check_ && check_->isChecked(); }

// ---- 正在刷新行情数据... ------------------------------------------------------------------

QuoteRefreshDialog::QuoteRefreshDialog(QuoteSession& quotes, MarketStore* store, uint32_t window, QWidget* parent)
    : QDialog(parent) {
    setObjectName("quoteRefreshDialog");
    setWindowTitle(QStringLiteral("正在刷新行情数据..."));
    progress_ = new QProgressBar;
    progress_->setRange(0, 100);
    progress_->setValue(0);
    progress_->setTextVisible(false);
    percent_ = new QLabel(QStringLiteral("0%"));
    percent_->setObjectName("percent");
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(progress_, 1);
    layout->addWidget(percent_);
    setMinimumWidth(320);
    refresh_ = std::make_unique<QuoteRefresh>(quotes, store, window, [this](const std::string& text, int percent) {
        percent_->setText(Q(text));
        progress_->setValue(percent);
    });
    // The refresh ends on its last page; a connection lost meanwhile ends it too.
    auto* poll = new QTimer(this);
    poll->setInterval(20);
    connect(poll, &QTimer::timeout, this, [this, &quotes] {
        if (refresh_->finished())
            done(refresh_->succeeded() ? 1 : 0);
        else if (!quotes.connected())
            done(0);
    });
    poll->start();
}

QuoteRefreshDialog::~QuoteRefreshDialog() = default;

bool QuoteRefreshDialog::start() { return refresh_->Start(); }

// ---- 系统选项 ------------------------------------------------------------------------------

OptionsDialog::OptionsDialog(SystemSettings& settings, SettingsStore& store, QWidget* parent)
    : QDialog(parent), settings_(settings), store_(store) {
    setObjectName("optionsDialog");
    setWindowTitle(QStringLiteral("系统选项"));
    auto* tabs = new QTabWidget;

    auto* boss = new QWidget;
    bossKey_ = new QCheckBox(QStringLiteral("启用老板键 (按下时隐藏主窗口, 再按显示)"));
    bossKey_->setObjectName("bossKey");
    alt_ = new QCheckBox(QStringLiteral("Alt"));
    ctrl_ = new QCheckBox(QStringLiteral("Ctrl"));
    shift_ = new QCheckBox(QStringLiteral("Shift"));
    key_ = new QComboBox;
    key_->setObjectName("key");
    // The keys a hot key may use: letters, digits, F1..F12 (virtual-key codes as item data).
    for (uint32_t vk = 0x41; vk <= 0x5A; ++vk) key_->addItem(QString(QChar(char16_t(vk))), vk);
    for (uint32_t vk = 0x30; vk <= 0x39; ++vk) key_->addItem(QString(QChar(char16_t(vk))), vk);
    for (uint32_t vk = 0x70; vk <= 0x7B; ++vk) key_->addItem(QStringLiteral("F%1").arg(vk - 0x70 + 1), vk);
    auto* keys = new QHBoxLayout;
    keys->addWidget(ctrl_);
    keys->addWidget(alt_);
    keys->addWidget(shift_);
    keys->addWidget(new QLabel(QStringLiteral("+")));
    keys->addWidget(key_);
    keys->addStretch();
    auto* bossLayout = new QVBoxLayout(boss);
    bossLayout->addWidget(bossKey_);
    bossLayout->addLayout(keys);
    bossLayout->addStretch();
    tabs->addTab(boss, QStringLiteral("老板键"));

    auto* colours = new QWidget;
    scheme_ = new QComboBox;
    scheme_->setObjectName("scheme");
    for (const ColorScheme& c : settings_.schemes) scheme_->addItem(Q(GbkToUtf8(FieldText(c.name))));
    auto* colourLayout = new QFormLayout(colours);
    colourLayout->addRow(QStringLiteral("配色方案:"), scheme_);
    tabs->addTab(colours, QStringLiteral("颜色"));

    auto* ok = new QPushButton(QStringLiteral("确定"));
    ok->setObjectName("ok");
    ok->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("取消"));
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tabs);
    layout->addLayout(buttons);

    bossKey_->setChecked(settings_.bossKey);
    alt_->setChecked(settings_.bossKeyModifiers & 1);
    ctrl_->setChecked(settings_.bossKeyModifiers & 2);
    shift_->setChecked(settings_.bossKeyModifiers & 4);
    int index = key_->findData(settings_.bossKeyVirtualCode);
    key_->setCurrentIndex(index >= 0 ? index : key_->findData(83u));
    scheme_->setCurrentIndex(std::clamp(settings_.activeScheme, 0, kSchemeCount - 1));
    connect(ok, &QPushButton::clicked, this, [this] {
        apply();
        accept();
    });
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

QCheckBox* OptionsDialog::modifierBox(int bit) const { return bit == 1 ? alt_ : bit == 2 ? ctrl_ : shift_; }

void OptionsDialog::apply() {
    settings_.bossKey = bossKey_->isChecked();
    settings_.bossKeyModifiers = (alt_->isChecked() ? 1u : 0u) | (ctrl_->isChecked() ? 2u : 0u) |
                                 (shift_->isChecked() ? 4u : 0u);
    settings_.bossKeyVirtualCode = key_->currentData().toUInt();
    SaveBossKey(store_, settings_);
    settings_.activeScheme = scheme_->currentIndex();
}

}  // namespace tessaro
