#include "ui/main_window.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QDateTime>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QProcess>
#include <QScreen>
#include <QStandardPaths>
#include <QStatusBar>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QToolBar>
#include <QUrl>
#include <QWindow>
#include <ctime>

#include "app/app_dir.h"
#include "app/exit_confirm.h"
#include "client/block_sink.h"
#include "client/machine_id.h"
#include "client/qt/qt_client_transport.h"
#include "market/market_store.h"
#include "platform/files.h"
#include "platform/settings_store.h"
#include "platform/store_time.h"
#include "platform/text.h"
#include "session/session.h"
#include "ui/boss_key.h"
#include "ui/dialogs.h"
#include "ui/status_panes.h"

namespace tessaro {

namespace {

QString Q(std::string_view s) { return QString::fromUtf8(s.data(), qsizetype(s.size())); }
QColor FromRef(ColorRef c) { return QColor(int(c & 0xFF), int((c >> 8) & 0xFF), int((c >> 16) & 0xFF)); }

class MessageBoxPrompter : public Prompter {
public:
    Answer Question(QWidget* parent, const QString& text, bool withCancel) override {
        auto buttons = QMessageBox::Yes | QMessageBox::No;
        if (withCancel) buttons |= QMessageBox::Cancel;
        auto r = QMessageBox::question(parent, QStringLiteral("系统提示"), text, buttons);
        return r == QMessageBox::Yes ? Answer::Yes : r == QMessageBox::No ? Answer::No : Answer::Cancel;
    }
    void Information(QWidget* parent, const QString& text) override {
        QMessageBox::information(parent, QStringLiteral("系统提示"), text);
    }
    void Error(QWidget* parent, const QString& text) override {
        QMessageBox::critical(parent, QStringLiteral("系统提示"), text);
    }
};

// The program icon: the logo's colours with a rising candle.
QIcon ProgramIcon() {
    QPixmap pm(32, 32);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(QColor(180, 20, 30));
    p.setPen(Qt::NoPen);
    p.drawRoundedRect(QRectF(1, 1, 30, 30), 6, 6);
    p.setPen(QPen(QColor(255, 215, 90), 2));
    p.drawLine(9, 24, 9, 12);
    p.drawLine(16, 26, 16, 6);
    p.drawLine(23, 20, 23, 9);
    p.setBrush(QColor(255, 215, 90));
    p.drawRect(14, 10, 4, 10);
    return QIcon(pm);
}

// A drawn toolbar image: a letter or two on a small tile.
QIcon TileIcon(const QString& text, QColor colour) {
    QPixmap pm(24, 24);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(colour.darker(150));
    p.setBrush(colour);
    p.drawRoundedRect(QRectF(1.5, 1.5, 21, 21), 4, 4);
    QFont f = QApplication::font();
    f.setPixelSize(text.size() > 1 ? 9 : 13);
    f.setBold(true);
    p.setFont(f);
    p.setPen(Qt::white);
    p.drawText(pm.rect(), Qt::AlignCenter, text);
    return QIcon(pm);
}

// A text file of the application directory read whole; one larger than a
// megabyte is not a ticker or a server list and reads as missing.
bool ReadFile(const std::string& path, std::string& out) {
    constexpr int64_t kLimit = 1 << 20;
    int64_t size = FileSize(path);
    if (size < 0 || size > kLimit) return false;
    auto bytes = ReadWholeFile(path);
    if (!bytes) return false;
    out.assign(bytes->begin(), bytes->end());
    return true;
}

}  // namespace

std::unique_ptr<Prompter> MakeMessageBoxPrompter() { return std::make_unique<MessageBoxPrompter>(); }

MainWindow::MainWindow(Session& session, ViewRegistry& registry, MainWindowOptions options, QWidget* parent)
    : QMainWindow(parent), session_(session), registry_(registry), options_(std::move(options)) {
    setObjectName("mainWindow");
    setWindowTitle(QStringLiteral("Tessaro普及版"));
    setWindowIcon(ProgramIcon());
    prompter_ = MakeMessageBoxPrompter();

    mdi_ = new QMdiArea(this);
    mdi_->setObjectName("mdi");
    mdi_->setBackground(FromRef(scheme().colors[kColorBackground]));
    mdi_->setViewMode(QMdiArea::SubWindowView);
    setCentralWidget(mdi_);
    connect(mdi_, &QMdiArea::subWindowActivated, this, &MainWindow::OnSubWindowActivated);

    // The quote connection.
    transport_ = std::make_unique<QtClientTransport>();
    ClientContext context;
    context.paths = session_.paths();
    context.store = session_.hasMarkets() ? &session_.store() : nullptr;
    context.formulas = session_.hasFormulas() ? &session_.formulas() : nullptr;
    context.settings = &session_.settingsStore();
    blockSink_ = session_.hasBlocks() ? std::make_unique<BlockSetSink>(session_.blocks()) : nullptr;
    context.blocks = blockSink_.get();
    quotes_ = std::make_unique<QuoteSession>(context, *transport_, [this](const ClientNotice& n) {
        // Notices may arrive inside a socket callback: handle them from the event loop.
        QMetaObject::invokeMethod(this, [this, n] { OnNotice(n); }, Qt::QueuedConnection);
    });
    quotes_->SetMachineId(MachineIdentifier(session_.settingsStore()));
    quotes_->SetAutocontime(ReadAutocontime(session_.settingsStore()));
    quotes_->SetQuoteObserver([this](const DecodedQuote& quote) { OnQuoteStored(quote); });
    transport_->Attach(quotes_.get());

    // Tickers, menus, bars, status bar.
    BuildActions();
    BuildToolBars();
    RebuildMenuBar();

    panes_ = new StatusPanes(this);
    panes_->setScheme(scheme());
    std::string tickerBytes;
    if (ReadFile(session_.paths().scrollMessageFile(), tickerBytes))
        panes_->setTicker(Q(TickerTextFromFile(tickerBytes)));
    statusBar()->addWidget(panes_, 1);
    statusBar()->setSizeGripEnabled(false);
    statusBar()->setVisible(session_.settings().statusBar);
    connect(panes_, &StatusPanes::connectionClicked, this, &MainWindow::ConnectCommand);
    UpdateIndexPanes();
    UpdateConnectionPane();

    timer_.setInterval(20);
    connect(&timer_, &QTimer::timeout, this, &MainWindow::OnTimer);
    timer_.start();

    RegisterBossKey();
    // The options sheet is the main window's own.
    tools_[CommandId::Options] = [this] { ShowOptions(); };

    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        tray_ = new QSystemTrayIcon(ProgramIcon(), this);
        tray_->setToolTip(QStringLiteral("Tessaro普及版"));
        connect(tray_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
            if (reason == QSystemTrayIcon::Trigger) OnTrayPress(TrayButton::Left);
            else if (reason == QSystemTrayIcon::Context) OnTrayPress(TrayButton::Right);
            else if (reason == QSystemTrayIcon::MiddleClick) OnTrayPress(TrayButton::Middle);
            else if (reason == QSystemTrayIcon::DoubleClick) OnTrayPress(TrayButton::Double);
        });
        tray_->show();
    }
    calculator_ = ResolveCalculator();
    UpdateCommandStates();
    resize(1024, 720);
}

MainWindow::~MainWindow() {
    timer_.stop();
    if (tray_) tray_->hide();
    bossKey_.reset();
    // Views unregister their packet handlers while the session still exists.
    for (QMdiSubWindow* w : mdi_->subWindowList()) delete w;
    quotes_->Disconnect(transport_->NowMs());
    quotes_.reset();
    transport_.reset();
}

const ColorScheme& MainWindow::scheme() const { return session_.settings().scheme(); }

void MainWindow::setPrompter(std::unique_ptr<Prompter> prompter) { prompter_ = std::move(prompter); }

// ---- Views -------------------------------------------------------------------------------

View* MainWindow::activeView() const {
    QMdiSubWindow* sub = mdi_->activeSubWindow();
    return sub ? qobject_cast<View*>(sub->widget()) : nullptr;
}

View* MainWindow::OpenView(ViewKind kind, const ViewTarget& target, bool newWindow) {
    View* view = nullptr;
    QMdiSubWindow* frame = nullptr;
    if (!newWindow) {
        // The most recently active window of the kind.
        for (QMdiSubWindow* sub : mdi_->subWindowList(QMdiArea::ActivationHistoryOrder)) {
            auto* v = qobject_cast<View*>(sub->widget());
            if (v && v->kind() == kind) {
                view = v;
                frame = sub;
            }
        }
    }
    if (!view) {
        view = registry_.Create(kind, *this, nullptr);
        if (!view) return nullptr;
        frame = mdi_->addSubWindow(view);
        frame->setAttribute(Qt::WA_DeleteOnClose);
        frame->setWindowTitle(view->title());
        connect(view, &View::titleChanged, frame, [frame, view] { frame->setWindowTitle(view->title()); });
        connect(view, &View::commandsChanged, this, &MainWindow::UpdateCommandStates);
        frame->showMaximized();
    }
    view->ShowTarget(target);
    frame->setWindowTitle(view->title());
    mdi_->setActiveSubWindow(frame);
    frame->raise();
    return view;
}

void MainWindow::OnSubWindowActivated(QMdiSubWindow* window) {
    View* view = window ? qobject_cast<View*>(window->widget()) : nullptr;
    bool changed = view != lastActive_;
    if (lastActive_ && changed) lastActive_->OnActivated(false);
    if (view && changed) view->OnActivated(true);
    lastActive_ = view;
    ViewKind kind = view ? view->kind() : ViewKind::Text;
    MenuBarKind bar = BarForActiveView(view ? &kind : nullptr);
    // Another chart brings its own "画面(&P)" items.
    if (bar != barKind_ || (changed && bar == MenuBarKind::Chart)) {
        barKind_ = bar;
        RebuildMenuBar();
    }
    UpdateCommandStates();
}

void MainWindow::RelayToViews(const std::function<void(View*)>& fn) {
    for (QMdiSubWindow* sub : mdi_->subWindowList())
        if (auto* v = qobject_cast<View*>(sub->widget())) fn(v);
}

// ---- Menus and toolbars --------------------------------------------------------------------

void MainWindow::BuildActions() {
    for (const CommandInfo& c : CommandTable()) {
        auto* a = new QAction(Q(c.text), this);
        a->setObjectName(QStringLiteral("command%1").arg(int(c.id)));
        if (!c.shortcut.empty()) a->setShortcut(QKeySequence(Q(c.shortcut)));
        a->setCheckable(c.checkable);
        CommandId id = c.id;
        connect(a, &QAction::triggered, this, [this, id] { RunCommand(id); });
        actions_[c.id] = a;
        addAction(a);  // shortcuts work whichever menu bar is shown
    }
    actions_[CommandId::StatusBar]->setChecked(session_.settings().statusBar);
}

void MainWindow::BuildToolBars() {
    standardBar_ = addToolBar(QStringLiteral("标准工具条"));
    standardBar_->setObjectName("standardToolBar");
    standardBar_->setIconSize(QSize(24, 24));
    struct Button {
        CommandId id;
        const char* tile;
        QColor colour;
    };
    const Button buttons[] = {
        {CommandId::Connect, "连", QColor(40, 120, 200)},   {CommandId::PriceBoard, "报", QColor(200, 60, 40)},
        {CommandId::SelectSecurity, "选", QColor(60, 140, 60)}, {CommandId::Download, "下", QColor(120, 90, 180)},
        {CommandId::FormulaManager, "式", QColor(180, 120, 30)}, {CommandId::Screening, "股", QColor(30, 140, 140)},
        {CommandId::FullScreen, "全", QColor(100, 100, 100)},  {CommandId::Help, "?", QColor(80, 80, 160)},
    };
    for (const Button& b : buttons) {
        QAction* a = actions_[b.id];
        a->setIcon(TileIcon(QString::fromUtf8(b.tile), b.colour));
        standardBar_->addAction(a);
    }
    drawingBar_ = addToolBar(QStringLiteral("画线工具"));
    drawingBar_->setObjectName("drawingToolBar");
    drawingBar_->setIconSize(QSize(24, 24));
    int n = 0;
    for (const DrawingToolInfo& tool : DrawingTools()) {
        if (n > 0 && n % 3 == 0) drawingBar_->addSeparator();
        QString name = Q(tool.name);
        auto* a = drawingBar_->addAction(TileIcon(name.left(1), QColor(90, 110, 140)), name);
        a->setObjectName(QStringLiteral("drawingTool%1").arg(tool.kind));
        int kind = tool.kind;
        connect(a, &QAction::triggered, this, [this, kind] {
            if (View* v = activeView(); v && v->TakesDrawingTools()) v->SelectDrawingTool(kind);
        });
        drawingTools_.push_back(a);
        ++n;
    }
}

void MainWindow::RebuildMenuBar() {
    QMenuBar* bar = menuBar();
    bar->clear();
    for (MenuId menu : MenusOfBar(barKind_)) {
        if (menu == MenuId::Video) {
            bar->addAction(actions_[CommandId::VideoTutorials]);
            continue;
        }
        QMenu* m = bar->addMenu(Q(MenuTitle(menu)));
        m->setObjectName(QStringLiteral("menu%1").arg(int(menu)));
        if (menu == MenuId::Picture) {
            if (View* v = activeView()) v->FillPictureMenu(m);
            if (m->isEmpty()) m->setEnabled(false);
            continue;
        }
        bool first = true;
        for (CommandId id : CommandsOf(barKind_, menu)) {
            if (Command(id).separatorBefore && !first) m->addSeparator();
            m->addAction(actions_[id]);
            first = false;
        }
    }
}

void MainWindow::UpdateCommandStates() {
    CommandAvailability available;
    available.openable = registry_.OpenableCommands();
    if (View* v = activeView())
        for (const CommandInfo& c : CommandTable())
            if (c.need == CommandNeed::ActiveView && v->HandlesCommand(c.id)) available.activeViewHandles.insert(c.id);
    for (const auto& [id, fn] : tools_) available.tools.insert(id);
    available.calculatorFound = !calculator_.isEmpty();
    available.helpFileFound = QFileInfo::exists(Q(session_.paths().helpFile("tessaro")));
    for (const CommandInfo& c : CommandTable()) actions_[c.id]->setEnabled(CommandEnabled(c.id, available));
    // The drawing tools draw on the active chart.
    bool drawing = activeView() && activeView()->TakesDrawingTools();
    for (QAction* a : drawingTools_) a->setEnabled(drawing);
    actions_[CommandId::Connect]->setText(Q(quotes_->connected() ? kDisconnectText : kConnectText));
    actions_[CommandId::FullScreen]->setChecked(fullScreen_.on());
}

QAction* MainWindow::action(CommandId id) const {
    auto it = actions_.find(id);
    return it == actions_.end() ? nullptr : it->second;
}

void MainWindow::RegisterTool(CommandId id, std::function<void()> open) {
    if (open)
        tools_[id] = std::move(open);
    else
        tools_.erase(id);
    UpdateCommandStates();
}

void MainWindow::RunCommand(CommandId id) {
    QAction* a = action(id);
    if (a && !a->isEnabled()) return;
    const CommandInfo& c = Command(id);
    switch (c.need) {
        case CommandNeed::Tool: {
            auto it = tools_.find(id);
            if (it != tools_.end()) it->second();
            return;
        }
        case CommandNeed::ActiveView:
            if (View* v = activeView(); v && v->HandlesCommand(id)) v->RunCommand(id);
            return;
        case CommandNeed::OpensView: {
            ViewTarget target;
            target.command = id;
            target.block = std::string(RankingBlock(id));
            // Details, news and company information are of the active view's security.
            if (View* v = activeView()) target.security = v->currentSecurity();
            OpenView(c.viewKind, target, false);
            return;
        }
        case CommandNeed::MainWindow: break;
    }
    switch (id) {
        case CommandId::Exit: close(); return;
        case CommandId::FullScreen: SetFullScreen(!fullScreen_.on()); return;
        case CommandId::StatusBar: {
            bool show = !statusBar()->isVisible();
            statusBar()->setVisible(show);
            session_.settings().statusBar = show;
            actions_[CommandId::StatusBar]->setChecked(show);
            return;
        }
        case CommandId::Connect: ConnectCommand(); return;
        case CommandId::RefreshToday: RefreshToday(); return;
        case CommandId::Calculator:
            if (!calculator_.isEmpty()) QProcess::startDetached(calculator_, {});
            return;
        case CommandId::Help:
            QDesktopServices::openUrl(QUrl::fromLocalFile(Q(session_.paths().helpFile("tessaro"))));
            return;
        case CommandId::About: ShowAbout(); return;
        default: return;
    }
}

QString MainWindow::ResolveCalculator() const {
    for (const char* name : {"gnome-calculator", "kcalc", "galculator", "mate-calc", "qalculate-gtk", "xcalc"}) {
        QString path = QStandardPaths::findExecutable(QString::fromLatin1(name));
        if (!path.isEmpty()) return path;
    }
    return {};
}

void MainWindow::ShowAbout() {
    QMessageBox box(this);
    box.setObjectName("aboutBox");
    box.setWindowTitle(QStringLiteral("关于"));
    box.setIconPixmap(ProgramIcon().pixmap(48, 48));
    box.setText(QStringLiteral("Tessaro普及版\n版本 5.01.001"));
    if (options_.onDialogShown)
        QTimer::singleShot(0, &box, [this, &box] { options_.onDialogShown(&box, QStringLiteral("about")); });
    box.exec();
}

void MainWindow::RegisterBossKey() {
    bossKey_.reset();  // the old key is released before the new one is taken
    const SystemSettings& s = session_.settings();
    bossKey_ = std::make_unique<BossKey>(this, s.bossKeyModifiers, s.bossKeyVirtualCode, [this] { OnBossKey(); });
    if (qEnvironmentVariableIsSet("TESSARO_VERBOSE"))
        qInfo("tessaro: boss key %s %s", HotKeyText(s.bossKeyModifiers, s.bossKeyVirtualCode).c_str(),
              bossKey_->global() ? "grabbed on the X server" : "as a shortcut of the program's windows");
}

void MainWindow::ShowOptions() {
    OptionsDialog dialog(session_.settings(), session_.settingsStore(), this);
    if (options_.onDialogShown)
        QTimer::singleShot(0, &dialog, [this, &dialog] { options_.onDialogShown(&dialog, QStringLiteral("options")); });
    if (dialog.exec() != QDialog::Accepted) return;
    // "WM_APPLYSETTINGS": the new key, the new colours, every view.
    RegisterBossKey();
    panes_->setScheme(scheme());
    mdi_->setBackground(FromRef(scheme().colors[kColorBackground]));
    RelayToViews([](View* v) { v->OnSettingsChanged(); });
}

// ---- Connection ------------------------------------------------------------------------------

void MainWindow::ConnectCommand() {
    if (quotes_->connected()) {
        quotes_->Disconnect(transport_->NowMs());
        UpdateConnectionPane();
        UpdateCommandStates();
        return;
    }
    if (login_) {
        login_->raise();
        return;
    }
    quotes_->Disconnect(transport_->NowMs());  // clears the automatic reconnection
    std::vector<ServerEntry> entries;
    std::string listText;
    if (ReadFile(session_.paths().serverListFile(), listText)) entries = ParseServerList(listText);
    LoginDialog dialog(session_.settingsStore(), entries, Q(options_.serverOverride), *prompter_, this);
    login_ = &dialog;
    connect(&dialog, &LoginDialog::connectRequested, this,
            [this](const ConnectTarget& target, const LoginAccount& account) {
                shLive_ = szLive_ = false;
                quotes_->Connect(target, account, transport_->NowMs());
                UpdateConnectionPane();
            });
    if (options_.onDialogShown)
        connect(&dialog, &LoginDialog::dialogShown, this, [this](QWidget* d, const QString& name) {
            options_.onDialogShown(d, name);
        });
    QTimer::singleShot(0, &dialog, [this, &dialog] {
        if (options_.autoLogin) {
            dialog.clickConnect();
            QCoreApplication::processEvents();  // the first status text arrives
        }
        if (options_.onDialogShown) options_.onDialogShown(&dialog, QStringLiteral("login"));
    });
    int result = dialog.exec();
    login_ = nullptr;
    if (result == kLoginOffline && !quotes_->ready()) quotes_->Disconnect(transport_->NowMs());
    quotes_->SetAutocontime(ReadAutocontime(session_.settingsStore()));
    UpdateConnectionPane();
    UpdateCommandStates();
}

void MainWindow::OnNotice(const ClientNotice& notice) {
    switch (notice.kind) {
        case NoticeKind::Status:
            if (login_) login_->setStatus(Q(notice.text));
            break;
        case NoticeKind::ConnectFailed:
        case NoticeKind::Disconnected:
            if (login_) {
                if (!notice.text.empty()) login_->setStatus(Q(notice.text));
                login_->connectEnded();
            }
            break;
        case NoticeKind::LoginRefused:
            if (login_) login_->connectEnded();
            break;
        case NoticeKind::Connected:
            if (login_) {
                login_->done(kLoginConnected);
                // A login by the user ends on the information window's video page.
                if (tools_.count(CommandId::VideoTutorials))
                    QTimer::singleShot(0, this, [this] { RunCommand(CommandId::VideoTutorials); });
            }
            RelayToViews([](View* v) { v->OnConnected(); });
            UpdateIndexPanes();
            emit connected();
            break;
        case NoticeKind::DataChanged:
            RelayToViews([](View* v) { v->OnDataChanged(); });
            break;
        case NoticeKind::ServerMessage:
            serverMessages_.push_back(notice);
            QTimer::singleShot(0, this, &MainWindow::ShowNextServerMessage);
            break;
        case NoticeKind::UpdateOffered:
            if (login_) login_->done(kLoginUpdate);
            QTimer::singleShot(0, this, [this, text = Q(notice.text)] { OfferUpdate(text); });
            break;
        case NoticeKind::OfferLoginDialog:
            QTimer::singleShot(0, this, &MainWindow::ConnectCommand);
            break;
        case NoticeKind::Log:
            // What was skipped that the user need not see: only on request.
            if (qEnvironmentVariableIsSet("TESSARO_VERBOSE")) qInfo("tessaro: %s", notice.text.c_str());
            break;
    }
    UpdateConnectionPane();
    UpdateCommandStates();
}

void MainWindow::ShowNextServerMessage() {
    if (showingMessage_ || serverMessages_.empty()) return;
    ClientNotice notice = serverMessages_.front();
    serverMessages_.pop_front();
    int64_t now = int64_t(std::time(nullptr));
    std::string_view valueName = SuppressionValueName(notice.code, notice.refused);
    SettingsStore& store = session_.settingsStore();
    uint32_t stored = valueName.empty() ? 0 : store.getDword(SettingsKey("Settings"), valueName).value_or(0);
    MessageShow show = DecideMessageShow(notice.code, notice.refused, stored, now);
    if (show != MessageShow::Drop) {
        showingMessage_ = true;
        MessageDialog dialog(Q(notice.text), show == MessageShow::WithCheckBox, this);
        if (options_.onDialogShown)
            QTimer::singleShot(0, &dialog, [this, &dialog] { options_.onDialogShown(&dialog, QStringLiteral("message")); });
        dialog.exec();
        showingMessage_ = false;
        if (show == MessageShow::WithCheckBox)
            store.setDword(SettingsKey("Settings"), valueName, SuppressionAfterDialog(dialog.suppressToday(), now));
        if (notice.code == 0xA007) {
            // The server re-initialises: the login dialog shows why, or opens.
            if (login_) {
                login_->setStatus(Q(notice.text));
                login_->connectEnded();
            } else {
                QTimer::singleShot(0, this, &MainWindow::ConnectCommand);
            }
        }
    }
    if (!serverMessages_.empty()) QTimer::singleShot(0, this, &MainWindow::ShowNextServerMessage);
}

void MainWindow::OfferUpdate(const QString& message) {
    QString text = QStringLiteral("检测到有新的程序版本，是否立即升级？");
    if (!message.isEmpty()) text += QStringLiteral("\n\n") + message;
    if (prompter_->Question(this, text, false) == Prompter::Answer::No) return;
    // The updater is an outside program in the application directory.
    QString updater;
    for (const char* name : {"Update", "Update.exe", "update"}) {
        QString path = Q(session_.appDir()) + QString::fromLatin1(name);
        QFileInfo info(path);
        if (info.isFile() && info.isExecutable()) {
            updater = path;
            break;
        }
    }
    if (updater.isEmpty()) {
        prompter_->Information(this, QStringLiteral("没有配置升级程序，继续使用当前版本。"));
        return;
    }
    QStringList args = QProcess::splitCommand(Q(GbkToUtf8(quotes_->updateParameters())));
    if (QProcess::startDetached(updater, args, Q(session_.appDir()))) {
        confirmExit_ = false;
        close();
    } else {
        prompter_->Error(this, QStringLiteral("无法启动升级程序，继续使用当前版本。"));
    }
}

void MainWindow::RefreshToday() {
    QuoteRefreshDialog dialog(*quotes_, session_.hasMarkets() ? &session_.store() : nullptr, AllocateWindow(), this);
    if (!dialog.start()) return;  // no connection: closes at once
    if (options_.onDialogShown)
        QTimer::singleShot(0, &dialog, [this, &dialog] { options_.onDialogShown(&dialog, QStringLiteral("refresh")); });
    dialog.exec();
}

// ---- Status bar and timer ---------------------------------------------------------------------

void MainWindow::UpdateConnectionPane() {
    ConnectionPaneState state = quotes_->connected() ? ConnectionPaneState::Connected
                                : quotes_->state() == QuoteSession::State::NoSocket ? ConnectionPaneState::NoSocket
                                                                                    : ConnectionPaneState::Connecting;
    panes_->setConnection(Q(ConnectionPaneText(state, quotes_->target().serverName)));
}

void MainWindow::OnQuoteStored(const DecodedQuote& quote) {
    // Only the two market indexes concern the main window.
    if (!session_.hasMarkets() || quote.entry.id.market == kMarketSystem) return;
    bool sh = quote.entry.id.market == kMarketSH;
    auto entry = session_.store().GetMarketIndexEntry(quote.entry.id.market);
    if (!entry || !SameSecurity(entry->id, quote.entry.id)) return;
    (sh ? shLive_ : szLive_) = true;
    UpdateIndexPanes();
}

void MainWindow::UpdateIndexPanes() {
    if (!session_.hasMarkets()) return;
    const MarketStore& store = session_.store();
    for (bool sh : {true, false}) {
        std::optional<QuoteSnapshot> quote;
        if (auto entry = store.GetMarketIndexEntry(sh ? kMarketSH : kMarketSZ)) quote = store.GetQuote(entry->id);
        panes_->setIndex(sh, FormatIndexPane(sh, quote));
    }
    emit indexesUpdated();
}

void MainWindow::OnTimer() {
    elapsedMs_ += 20;
    panes_->stepTicker();
    UpdateConnectionPane();
}

// ---- Full screen, boss key, tray -----------------------------------------------------------------

void MainWindow::SetFullScreen(bool on) {
    if (on == fullScreen_.on()) return;
    if (on) {
        WindowPlacement current{{normalGeometry().x(), normalGeometry().y(), normalGeometry().width(),
                                 normalGeometry().height()},
                                isMaximized()};
        QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
        QRect work = screen->availableGeometry();
        FrameExtents frame;
        frame.menu = menuBar()->isVisible() ? menuBar()->height() : 0;
        // Qt places the client area; the frame's borders lie outside it already.
        Rect target = fullScreen_.Enter(current, Rect{work.x(), work.y(), work.width(), work.height()}, frame);
        if (isMaximized()) showNormal();
        setGeometry(target.x, target.y, target.width, target.height);
    } else {
        auto saved = fullScreen_.Leave();
        if (saved) {
            if (saved->maximized) {
                setGeometry(saved->normal.x, saved->normal.y, saved->normal.width, saved->normal.height);
                showMaximized();
            } else {
                showNormal();
                setGeometry(saved->normal.x, saved->normal.y, saved->normal.width, saved->normal.height);
            }
        }
    }
    actions_[CommandId::FullScreen]->setChecked(fullScreen_.on());
}

static void ShowWithoutActivating(QMainWindow* w) {
    w->setAttribute(Qt::WA_ShowWithoutActivating, true);
    w->show();
    w->setAttribute(Qt::WA_ShowWithoutActivating, false);
}

void MainWindow::OnBossKey() {
    switch (tessaro::OnBossHotKey(session_.settings().bossKey, isVisible())) {
        case WindowAction::Hide: hide(); break;
        case WindowAction::ShowWithoutActivating: ShowWithoutActivating(this); break;
        case WindowAction::Nothing: break;
    }
}

void MainWindow::OnTrayPress(TrayButton button) {
    switch (tessaro::OnTrayPress(button, isVisible())) {
        case WindowAction::Hide: hide(); break;
        case WindowAction::ShowWithoutActivating: ShowWithoutActivating(this); break;
        case WindowAction::Nothing: break;
    }
}

// ---- Exit ---------------------------------------------------------------------------------------------

void MainWindow::closeEvent(QCloseEvent* event) {
    if (confirmExit_ && !closing_) {
        StoreTime tradingDate = session_.hasMarkets() ? session_.store().CurrentTradingDate() : NowStoreTime();
        // Today's day data is saved by the after-hours download: without that window the
        // question would offer what cannot be done, so only the plain question is asked.
        bool canSaveDayData = tools_.count(CommandId::Download) > 0;
        ExitAction action = ConfirmExit(session_.settingsStore(), NowStoreTime(), quotes_->connected() && canSaveDayData,
                                        tradingDate,
                                        [this](ExitQuestion question, std::string_view text) {
                                            auto a = prompter_->Question(this, Q(text),
                                                                         question == ExitQuestion::SaveDayData);
                                            return a == Prompter::Answer::Yes ? ExitAnswer::Yes
                                                   : a == Prompter::Answer::No ? ExitAnswer::No
                                                                               : ExitAnswer::Cancel;
                                        });
        if (action == ExitAction::KeepRunning) {
            event->ignore();
            return;
        }
        if (action == ExitAction::SaveDayDataThenClose) tools_[CommandId::Download]();
    }
    closing_ = true;
    timer_.stop();
    event->accept();
}

}  // namespace tessaro
