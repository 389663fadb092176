// The main window: the MDI frame that holds every view, its three menu bars,
// the standard and drawing toolbars, the five-pane status bar, the tray icon,
// the boss key, full screen, the 20 ms timer, the connect command with the
// login dialog, the server messages and the exit confirmation.
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QTimer>
#include <deque>
#include <functional>
#include <map>
#include <memory>

#include "client/quote_session.h"
#include "ui/dialogs.h"
#include "ui/model/commands.h"
#include "ui/model/login_model.h"
#include "ui/model/shell_rules.h"
#include "ui/view_registry.h"

class QMdiArea;
class QMdiSubWindow;
class QAction;
class QMenu;
class QToolBar;
class QSystemTrayIcon;

namespace tessaro {

class Session;
class QtClientTransport;
class StatusPanes;
class LoginDialog;
class BossKey;
class BlockSetSink;

// How the window asks the user (message boxes); tests replace it.
class Prompter {
public:
    virtual ~Prompter() = default;
    enum class Answer { Yes, No, Cancel, Ok };
    // Yes/No (or Yes/No/Cancel) question with the caption "系统提示".
    virtual Answer Question(QWidget* parent, const QString& text, bool withCancel) = 0;
    virtual void Information(QWidget* parent, const QString& text) = 0;
    virtual void Error(QWidget* parent, const QString& text) = 0;
};
std::unique_ptr<Prompter> MakeMessageBoxPrompter();

struct MainWindowOptions {
    std::string serverOverride;  // --server: fills the login dialog's server box
    bool autoLogin = false;      // --auto-login: the login dialog connects by itself
    // Called with every dialog the window opens, once it is shown (screenshots).
    std::function<void(QWidget* dialog, const QString& name)> onDialogShown;
};

class MainWindow : public QMainWindow, public ViewContext {
    Q_OBJECT
public:
    MainWindow(Session& session, ViewRegistry& registry, MainWindowOptions options, QWidget* parent = nullptr);
    ~MainWindow() override;

    // ---- ViewContext --------------------------------------------------------------
    Session& session() override { return session_; }
    QuoteSession& quotes() override { return *quotes_; }
    uint32_t AllocateWindow() override { return nextWindow_++; }
    const ColorScheme& scheme() const override;
    View* OpenView(ViewKind kind, const ViewTarget& target, bool newWindow = false) override;

    // ---- Commands -----------------------------------------------------------------
    // Tool windows registered by later modules (formula manager, screening, ...).
    void RegisterTool(CommandId id, std::function<void()> open);
    void RunCommand(CommandId id);
    QAction* action(CommandId id) const;
    MenuBarKind menuBarKind() const { return barKind_; }
    // The active view, or nullptr.
    View* activeView() const;
    QMdiArea* mdiArea() const { return mdi_; }

    // The connect command: connects through the login dialog, or disconnects.
    void ConnectCommand();
    // Full screen and the status bar toggles.
    void SetFullScreen(bool on);
    bool fullScreenOn() const { return fullScreen_.on(); }
    // The boss key's hot key and a press on the tray icon.
    void OnBossKey();
    void OnTrayPress(TrayButton button);
    // Closes after the exit confirmation; `ask` false closes without asking.
    void setConfirmExit(bool ask) { confirmExit_ = ask; }
    void setPrompter(std::unique_ptr<Prompter> prompter);

    StatusPanes* statusPanes() const { return panes_; }
    // Both index panes show a quote the server sent since the last connect.
    bool indexesLive() const { return shLive_ && szLive_; }
    QSystemTrayIcon* trayIcon() const { return tray_; }
    BossKey* bossKey() const { return bossKey_.get(); }
    LoginDialog* loginDialog() const { return login_; }
    QToolBar* standardToolBar() const { return standardBar_; }
    QToolBar* drawingToolBar() const { return drawingBar_; }

signals:
    // The start-up chain finished ("WM_CONNECTED").
    void connected();
    // The status bar's index panes were updated from a MAINFRAME quote.
    void indexesUpdated();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildActions();
    void BuildToolBars();
    void RebuildMenuBar();
    void UpdateCommandStates();
    void OnSubWindowActivated(QMdiSubWindow* window);
    void OnTimer();
    void OnNotice(const ClientNotice& notice);
    void ShowNextServerMessage();
    void OfferUpdate(const QString& message);
    void RefreshToday();
    void ShowAbout();
    void UpdateConnectionPane();
    void UpdateIndexPanes();
    void RegisterBossKey();
    void ShowOptions();
    void OnQuoteStored(const DecodedQuote& quote);
    void RelayToViews(const std::function<void(View*)>& fn);
    QString ResolveCalculator() const;

    Session& session_;
    ViewRegistry& registry_;
    MainWindowOptions options_;
    std::unique_ptr<QtClientTransport> transport_;
    std::unique_ptr<BlockSetSink> blockSink_;
    std::unique_ptr<QuoteSession> quotes_;
    std::unique_ptr<Prompter> prompter_;
    uint32_t nextWindow_ = 2;

    QMdiArea* mdi_ = nullptr;
    std::map<CommandId, QAction*> actions_;
    std::map<CommandId, std::function<void()>> tools_;
    MenuBarKind barKind_ = MenuBarKind::NoView;
    QPointer<View> lastActive_;
    QToolBar* standardBar_ = nullptr;
    QToolBar* drawingBar_ = nullptr;
    std::vector<QAction*> drawingTools_;
    StatusPanes* panes_ = nullptr;
    QSystemTrayIcon* tray_ = nullptr;
    std::unique_ptr<BossKey> bossKey_;
    QPointer<LoginDialog> login_;
    QTimer timer_;
    uint64_t elapsedMs_ = 0;
    FullScreenState fullScreen_;
    bool confirmExit_ = true;
    bool closing_ = false;
    std::deque<ClientNotice> serverMessages_;
    bool showingMessage_ = false;
    QString calculator_;
    bool shLive_ = false, szLive_ = false;
};

}  // namespace tessaro
