// The views of the main window and how a view module plugs in.
//
// Every window inside the main window's MDI area is a View of one kind: 1 quote
// list, 2 chart, 3 text. A view module registers one factory per kind it
// provides, with the commands of the "查看(&V)" menu its view can show:
//
//     void RegisterQuoteListView(ViewRegistry& registry) {
//         registry.RegisterFactory(ViewKind::QuoteList,
//             [](ViewContext& context, QWidget* parent) -> View* {
//                 return new QuoteListView(context, parent);
//             },
//             {CommandId::PriceBoard, CommandId::DynamicRanking, CommandId::RankingShA, ...});
//     }
//
// The tessaro program calls every module's registration function before the
// main window opens (src/programs/tessaro/views.cpp). A kind without a factory
// leaves its commands disabled.
//
// Opening: MainWindow::OpenView(kind, target, newWindow) finds the most
// recently active view of that kind (or creates one when there is none, or when
// newWindow is set), calls ShowTarget with the target and brings its frame to
// the front. The views talk to the quote server through ViewContext::quotes():
// each view takes its own window number from AllocateWindow(), registers a
// packet handler under it and sends its requests with it.
//
// The main window tells every view when the start-up chain has finished
// (OnConnected: renew subscriptions) and when a new trading day began
// (OnDataChanged: reload everything). Menu commands that act on the active view
// (打开, 加入自选股, ...) go to its RunCommand when HandlesCommand says yes.
#pragma once

#include <QWidget>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/security_id.h"
#include "ui/model/commands.h"

class QMenu;

namespace tessaro {

class Session;
class QuoteSession;
struct ColorScheme;

// What an open command asks a view to show.
struct ViewTarget {
    // The command that opened the view (PriceBoard, a ranking, News, ...); Open
    // for a plain "show this security / this block".
    CommandId command = CommandId::Open;
    std::optional<SecurityId> security;  // the security to show (chart, text, details)
    std::string block;                   // UTF-8 block name of a quote list page ("沪市A股")
    std::vector<SecurityId> list;        // the page it was opened from, in display order (chart paging)
};

// What the main window offers its views.
class ViewContext {
public:
    virtual ~ViewContext() = default;
    virtual Session& session() = 0;
    virtual QuoteSession& quotes() = 0;
    // A fresh window number for the packets of one view (never the main window's).
    virtual uint32_t AllocateWindow() = 0;
    // The active colour scheme.
    virtual const ColorScheme& scheme() const = 0;
    // Opens (or activates) a view of `kind` showing `target`; nullptr when no
    // factory exists for the kind.
    virtual class View* OpenView(ViewKind kind, const ViewTarget& target, bool newWindow = false) = 0;
};

// The base of every hosted view.
class View : public QWidget {
    Q_OBJECT
public:
    View(ViewContext& context, QWidget* parent) : QWidget(parent), context_(context) {}

    virtual ViewKind kind() const = 0;
    // Shows what an open command asks for.
    virtual void ShowTarget(const ViewTarget& target) = 0;
    // The frame's caption.
    virtual QString title() const = 0;
    // The security the view shows or has selected (news, company information
    // and the detail pages open on it).
    virtual std::optional<SecurityId> currentSecurity() const { return std::nullopt; }

    // The start-up chain finished ("WM_CONNECTED"): renew subscriptions.
    virtual void OnConnected() {}
    // A new trading day began ("WM_DATACHANGED"): reload.
    virtual void OnDataChanged() {}
    // The options changed ("WM_APPLYSETTINGS"): colours and fonts from the scheme again.
    virtual void OnSettingsChanged() {}
    // The view became (true) or stopped being (false) the active view.
    virtual void OnActivated(bool active) { (void)active; }
    // Commands the view carries out while it is active.
    virtual bool HandlesCommand(CommandId id) const { (void)id; return false; }
    virtual void RunCommand(CommandId id) { (void)id; }
    // The drawing toolbar: enabled while the active view takes drawing tools
    // (kinds as DrawingTools() lists them; 0 cancels the tool in use).
    virtual bool TakesDrawingTools() const { return false; }
    virtual void SelectDrawingTool(int kind) { (void)kind; }
    // A chart fills the "画面(&P)" menu; other kinds leave it alone.
    virtual void FillPictureMenu(QMenu* menu) { (void)menu; }

    ViewContext& context() const { return context_; }

signals:
    // The caption changed (the frame follows), or the commands it handles did.
    void titleChanged();
    void commandsChanged();

private:
    ViewContext& context_;
};

using ViewFactory = std::function<View*(ViewContext& context, QWidget* parent)>;

class ViewRegistry {
public:
    // Registers (or replaces) the factory of a kind and the OpensView commands
    // its views can show.
    void RegisterFactory(ViewKind kind, ViewFactory factory, std::set<CommandId> opens = {});
    bool HasFactory(ViewKind kind) const { return factories_.count(kind) > 0; }
    // The OpensView commands of every registered kind.
    std::set<CommandId> OpenableCommands() const;
    // A new view of the kind, or nullptr without a factory.
    View* Create(ViewKind kind, ViewContext& context, QWidget* parent) const;

private:
    struct Entry {
        ViewFactory factory;
        std::set<CommandId> opens;
    };
    std::map<ViewKind, Entry> factories_;
};

}  // namespace tessaro
