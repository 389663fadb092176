// What the widget tests share: a generated market in a temporary directory, a
// session over it, a prompter that records the texts it is asked to show, and
// a view of any kind.
#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QMenu>
#include <QString>
#include <QStringList>
#include <memory>

#include "market/demo_market.h"
#include "session/session.h"
#include "test_support/temp_dir.h"
#include "test_support/quoted_process.h"
#include "ui/main_window.h"
#include "ui/view_registry.h"

namespace tessaro {

// One generated market for the whole test program (read only by the sessions).
inline const std::string& SharedMarketDir() {
    static TempDir dir;
    static bool made = [] {
        DemoMarketOptions options;
        options.outDir = dir.path() + "/market";
        options.securities = 12;
        options.days = 30;
        return GenerateDemoMarket(options);
    }();
    (void)made;
    static std::string path = dir.path() + "/market";
    return path;
}

inline std::unique_ptr<Session> OpenTestSession() {
    SessionOptions o;
    o.appDir = SharedMarketDir();
    o.access = SessionAccess::ReadOnly;
    o.data = kSessionAll;
    o.settings = SessionSettings::BuiltIn;
    auto s = std::make_unique<Session>(o);
    if (!s->Start()) return nullptr;
    return s;
}

inline bool WaitFor(const std::function<bool()>& done, int ms = 10000) {
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms) QApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

class RecordingPrompter : public Prompter {
public:
    Answer Question(QWidget*, const QString& text, bool withCancel) override {
        asked << text;
        lastHadCancel = withCancel;
        return answer;
    }
    void Information(QWidget*, const QString& text) override { information << text; }
    void Error(QWidget*, const QString& text) override { errors << text; }

    Answer answer = Answer::No;
    bool lastHadCancel = false;
    QStringList asked, information, errors;
};

// A view of a given kind that records what it was asked to show.
class TestView : public View {
public:
    TestView(ViewContext& context, QWidget* parent, ViewKind kind) : View(context, parent), kind_(kind) {}
    ViewKind kind() const override { return kind_; }
    void ShowTarget(const ViewTarget& target) override {
        shown = target;
        ++shows;
    }
    QString title() const override { return QString::fromStdString(shown.block.empty() ? "view" : shown.block); }
    bool HandlesCommand(CommandId id) const override { return kind_ == ViewKind::QuoteList && id == CommandId::Open; }
    void RunCommand(CommandId id) override { ran.push_back(id); }
    void OnConnected() override { ++connects; }
    bool TakesDrawingTools() const override { return kind_ == ViewKind::Chart; }
    void SelectDrawingTool(int kind) override { tool = kind; }
    void FillPictureMenu(QMenu* menu) override { menu->addAction(QString("picture of %1").arg(quintptr(this))); }

    ViewKind kind_;
    ViewTarget shown;
    int shows = 0;
    int connects = 0;
    int tool = -1;
    std::vector<CommandId> ran;
};

}  // namespace tessaro
