// The quote list's widgets offscreen over a generated market, and its live traffic with
// the quote server on loopback. Screenshots go to the build directory for a look.
#include <gtest/gtest.h>

#include "formula/standard_library.h"
#include "market/demo_market.h"
#include "market/market_store.h"
#include "platform/text.h"
#include "server/quote_server.h"
#include "server/sim_market.h"
#include "session/session.h"
#include "test_support/temp_dir.h"
#include "tools/blocks/block_set.h"
#include "ui/quote_list/quote_list_link.h"
#include "ui/quote_list/quote_list_view.h"
#include "ui/quote_list/wizard_popup.h"

// Qt after the core: Qt defines "slots", a member name of the core.
#include "client/qt/qt_client_transport.h"
#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QKeyEvent>
#include <QMouseEvent>

namespace tessaro {
namespace {

std::string G(std::string_view utf8) { return Utf8ToGbk(utf8); }

std::unique_ptr<Session> OpenDemo(const std::string& dir, int securities = 60) {
    DemoMarketOptions options;
    options.outDir = dir;
    options.securities = securities;
    options.days = 10;
    options.fiveMinuteDays = 0;
    options.oneMinuteDays = 0;
    EXPECT_TRUE(GenerateDemoMarket(options));
    EXPECT_TRUE(InstallStandardLibrary(AppPaths(dir)));  // base/common.fml, as tessaro-cli gen writes it
    SessionOptions o;
    o.appDir = dir;
    o.access = SessionAccess::ReadWrite;
    o.data = kSessionAll;
    auto session = std::make_unique<Session>(o);
    EXPECT_TRUE(session->Start()) << session->error();
    return session;
}

void Key(QWidget& w, int key, const QString& text = {}, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    QKeyEvent e(QEvent::KeyPress, key, mods, text);
    QApplication::sendEvent(&w, &e);
}

void Click(QWidget& w, QPoint at, Qt::MouseButton button = Qt::LeftButton, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    QMouseEvent press(QEvent::MouseButtonPress, at, w.mapToGlobal(at), button, button, mods);
    QApplication::sendEvent(&w, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, at, w.mapToGlobal(at), button, Qt::NoButton, mods);
    QApplication::sendEvent(&w, &release);
}

QPoint RowPoint(QuoteListView& v, int display) {
    return QPoint(10, v.rowHeight() * (display - v.firstRow() + 1) + v.rowHeight() / 2);
}

void Save(const QImage& image, const char* name) { image.save(QString(TESSARO_BINARY_DIR) + "/" + name); }

TEST(QuoteListView, StartPageTabsSortingAndTheWizard) {
    TempDir dir;
    auto session = OpenDemo(dir.path());
    QuoteListView view(*session);
    view.resize(1000, 560);
    view.show();
    QApplication::processEvents();

    // Start-up opens 沪市A股 on the first tab, captioned with the page.
    Block page = *session->blocks().FindBlock(G("沪市A股"));
    EXPECT_EQ(view.Title(), QStringLiteral("沪市A股"));
    EXPECT_EQ(view.currentTab(), 0);
    ASSERT_EQ(view.model().rowCount(), page.members.size());
    ASSERT_EQ(view.groups().size(), 4u);

    // A caption click sorts (offline: locally) by that column, descending first.
    int pct = view.model().ColumnOfField(kFieldChangePct);
    QRect caption = view.ColumnRect(pct);
    ASSERT_GT(caption.width(), 0);
    Click(view, QPoint(caption.center().x(), view.rowHeight() / 2));
    EXPECT_EQ(view.model().sortColumn(), pct);
    EXPECT_TRUE(view.model().descending());
    for (size_t i = 1; i < view.model().rowCount(); ++i) {
        QuoteCell a = view.model().Cell(i - 1, pct), b = view.model().Cell(i, pct);
        if (a.present && b.present) {
            EXPECT_GE(a.value, b.value);
        }
    }
    Save(view.grab().toImage(), "quote_list_sorted.png");
    // Dragging a caption's right edge sets the width, never below 20; Right scrolls the columns.
    QRect open = view.ColumnRect(kFixedColumnCount);
    QPoint edge(open.right(), view.rowHeight() / 2);
    QMouseEvent press(QEvent::MouseButtonPress, edge, view.mapToGlobal(edge), Qt::LeftButton, Qt::LeftButton, {});
    QApplication::sendEvent(&view, &press);
    QPoint left(edge.x() - 500, edge.y());
    QMouseEvent release(QEvent::MouseButtonRelease, left, view.mapToGlobal(left), Qt::LeftButton, Qt::NoButton, {});
    QApplication::sendEvent(&view, &release);
    EXPECT_EQ(view.model().columns().at(0).width, kMinColumnWidth);
    EXPECT_EQ(view.model().sortColumn(), pct);  // a resize is no caption click
    int second = view.ColumnRect(kFixedColumnCount + 1).left();
    Key(view, Qt::Key_Right);
    EXPECT_EQ(view.ColumnRect(kFixedColumnCount).width(), 0);  // scrolled out
    EXPECT_EQ(view.ColumnRect(kFixedColumnCount + 1).left(), open.left());
    EXPECT_GT(second, open.left());
    Key(view, Qt::Key_Left);
    // The 编号 caption does not sort.
    Click(view, QPoint(5, view.rowHeight() / 2));
    EXPECT_EQ(view.model().sortColumn(), pct);

    // An indicator column: the formula batch over the rows, then sorted by its values.
    ASSERT_TRUE(view.RunIndicatorBatch(kFixedColumnCount, "MA", 0));
    EXPECT_EQ(view.model().columns().at(0).kind, ColumnKind::Indicator);
    EXPECT_EQ(view.model().columns().at(0).results.size(), page.members.size());
    EXPECT_EQ(view.model().sortColumn(), kFixedColumnCount);
    for (size_t i = 1; i < view.model().rowCount(); ++i) {
        QuoteCell a = view.model().Cell(i - 1, kFixedColumnCount), b = view.model().Cell(i, kFixedColumnCount);
        ASSERT_TRUE(a.present && b.present);
        EXPECT_GE(a.value, b.value);
    }
    EXPECT_FALSE(view.RunIndicatorBatch(kFixedColumnCount, "NOSUCH", 0));

    // Typing the initials of a name opens the wizard; Enter jumps to the security.
    std::string name = GbkToUtf8(session->store().GetName(page.members[3]));
    std::string initials = NameToInitials(session->store().GetName(page.members[3]), &session->polyphonic()).firstLetters();
    QString shown;
    view.wizardRunner = [&](const QString& first) -> std::optional<WizardItem> {
        WizardPopup popup(WizardPopup::SessionSources(*session), &view);
        popup.SetText(first + QString::fromStdString(initials.substr(1)));
        shown = popup.lineText(0);
        return popup.chosen();
    };
    Key(view, Qt::Key_A + (initials[0] - 'A'), QString(QChar(initials[0]).toLower()));
    EXPECT_TRUE(shown.contains(QString::fromStdString(name))) << shown.toStdString();
    int at = view.model().FirstSelected();
    ASSERT_GE(at, 0);
    EXPECT_TRUE(SameSecurity(view.model().rowAt(static_cast<size_t>(at)).entry.id, page.members[3]));

    // A code of a security on another page opens the first rule block holding it.
    Block sz = *session->blocks().FindBlock(G("深市A股"));
    view.wizardRunner = [&](const QString&) -> std::optional<WizardItem> {
        WizardPopup popup(WizardPopup::SessionSources(*session), &view);
        popup.SetText(QString::fromStdString(std::string(sz.members[0].codeText())));
        return popup.chosen();
    };
    Key(view, Qt::Key_0, QStringLiteral("0"));
    EXPECT_EQ(view.Title(), QStringLiteral("深市A股"));
    // Quick commands: 63 opens 深市A股 sorted by 涨幅; 01 the tick list; 81 the ranking.
    EXPECT_TRUE(view.RunQuickCommand(FindQuickCommand("63")));
    EXPECT_EQ(view.model().sortColumn(), view.model().ColumnOfField(kFieldChangePct));
    EXPECT_TRUE(view.RunQuickCommand(FindQuickCommand("01")));
    EXPECT_EQ(view.mode(), QuoteListMode::TickDetail);
    ASSERT_NE(view.detail(), nullptr);
    EXPECT_GT(view.detail()->rowCount(), 0u);
    Save(view.grab().toImage(), "quote_list_ticks.png");
    Key(view, Qt::Key_P, {}, Qt::ControlModifier);
    EXPECT_EQ(view.mode(), QuoteListMode::PriceDetail);
    Save(view.grab().toImage(), "quote_list_ladder.png");
    Key(view, Qt::Key_Escape);
    EXPECT_EQ(view.mode(), QuoteListMode::Board);
    EXPECT_TRUE(view.RunQuickCommand(FindQuickCommand("81")));
    EXPECT_EQ(view.Title(), QStringLiteral("沪市A股综合排名"));
    EXPECT_FALSE(view.OpenRanking(G("自选股1")));  // only settings 0 and 1 are ranked
}

TEST(QuoteListView, SelfSelectedRowsMoveAndRemove) {
    TempDir dir;
    auto session = OpenDemo(dir.path());
    QuoteListView view(*session);
    view.resize(900, 400);
    QStringList told;
    int asked = 0;
    view.info = [&](const QString& t) { told << t; };
    view.question = [&](const QString& t) {
        ++asked;
        EXPECT_EQ(t, QStringLiteral("真的要将股票从该板块中删除吗?"));
        return true;
    };
    ASSERT_TRUE(view.OpenPage(G("自选股1")));
    Block before = *session->blocks().FindBlock(G("自选股1"));
    ASSERT_GE(before.members.size(), 3u);

    // Sorted: dragging the first row down is refused with the message.
    view.model().SetSort(1, true);
    SecurityId top = view.model().rowAt(0).entry.id;
    QPoint from = RowPoint(view, 0), to = RowPoint(view, 2);
    QMouseEvent press(QEvent::MouseButtonPress, from, view.mapToGlobal(from), Qt::LeftButton, Qt::LeftButton, {});
    QApplication::sendEvent(&view, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, to, view.mapToGlobal(to), Qt::LeftButton, Qt::NoButton, {});
    QApplication::sendEvent(&view, &release);
    ASSERT_EQ(told.size(), 1);
    EXPECT_EQ(told[0], QStringLiteral("排序状态下不能改变股票顺序!"));
    EXPECT_TRUE(SameSecurity(view.model().rowAt(0).entry.id, top));

    // Unsorted: the row moves below the target and the block file takes the order.
    view.model().ClearSort();
    SecurityId first = view.model().rowAt(0).entry.id;
    QApplication::sendEvent(&view, &press);
    QApplication::sendEvent(&view, &release);
    EXPECT_EQ(told.size(), 1);
    EXPECT_TRUE(SameSecurity(view.model().rowAt(2).entry.id, first));
    EXPECT_TRUE(SameSecurity(session->blocks().FindBlock(G("自选股1"))->members[2], first));

    // Ctrl and Shift select; Delete removes after the question.
    Click(view, RowPoint(view, 0));
    Click(view, RowPoint(view, 1), Qt::LeftButton, Qt::ShiftModifier);
    EXPECT_EQ(view.model().SelectedDisplayRows(), (std::vector<size_t>{0, 1}));
    Click(view, RowPoint(view, 1), Qt::LeftButton, Qt::ControlModifier);
    EXPECT_EQ(view.model().SelectedDisplayRows(), (std::vector<size_t>{0}));
    Key(view, Qt::Key_Delete);
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(session->blocks().FindBlock(G("自选股1"))->members.size(), before.members.size() - 1);
    EXPECT_EQ(view.model().rowCount(), before.members.size() - 1);
}

TEST(WizardPopup, KeysMoveTheSelectionAndEnterChooses) {
    TempDir dir;
    auto session = OpenDemo(dir.path(), 20);
    WizardPopup popup(WizardPopup::SessionSources(*session));
    popup.SetText(QStringLiteral("6"));
    ASSERT_GT(popup.matchCount(), 3);
    EXPECT_EQ(popup.lineText(0), QStringLiteral("6    日线"));
    EXPECT_EQ(popup.currentRow(), 0);
    for (QObject* child : popup.children())
        if (child->inherits("QLineEdit")) {
            Key(*static_cast<QWidget*>(child), Qt::Key_Down);
            Key(*static_cast<QWidget*>(child), Qt::Key_Down);
        }
    EXPECT_EQ(popup.currentRow(), 2);
    ASSERT_TRUE(popup.chosen());
    EXPECT_EQ(popup.chosen()->text1, "601");
    popup.show();
    popup.grab().toImage().save(QString(TESSARO_BINARY_DIR) + "/quote_list_wizard.png");
    popup.SetText(QString());
    EXPECT_EQ(popup.matchCount(), 0);
    EXPECT_FALSE(popup.chosen());  // Enter on an empty list cancels
}

// ---- Live quotes from the quote server ------------------------------------------------------------

class LiveFixture {
public:
    LiveFixture() {
        DemoMarketOptions options;
        options.outDir = serverDir_.path();
        options.securities = 60;
        options.days = 10;
        options.fiveMinuteDays = 0;
        options.oneMinuteDays = 0;
        EXPECT_TRUE(GenerateDemoMarket(options));
        SessionOptions o;
        o.appDir = serverDir_.path();
        o.data = kSessionMarkets;
        serverSession_ = std::make_unique<Session>(o);
        EXPECT_TRUE(serverSession_->Start());
        market_.LoadFrom(serverSession_->store());
        market_.Open(StartOfDay(serverSession_->store().CurrentTradingDate()), 10 * 3600);
        QuoteServerOptions so;
        so.speed = 30;
        server_ = std::make_unique<QuoteServer>(market_, ServerFiles(AppPaths(serverDir_.path())), so);
        std::string error;
        EXPECT_TRUE(server_->Listen(&error)) << error;
        server_->Start();

        client_ = OpenDemo(clientDir_.path());
        quotes_ = std::make_unique<QuoteSession>(
            ClientContext{client_->paths(), &client_->store(), &client_->formulas(), &client_->settingsStore(), nullptr},
            net_, [](const ClientNotice&) {});
        net_.Attach(quotes_.get());
        quotes_->Connect(ConnectTarget{"local", "127.0.0.1", server_->port(), {}}, LoginAccount{}, net_.NowMs());
        Wait([&] { return quotes_->ready(); });
    }
    ~LiveFixture() {
        quotes_->Disconnect(net_.NowMs());
        server_->Stop();
    }
    template <class Fn>
    bool Wait(Fn done, int limitMs = 8000) {
        QElapsedTimer t;
        t.start();
        while (!done() && t.elapsed() < limitMs) QApplication::processEvents(QEventLoop::AllEvents, 10);
        return done();
    }
    Session& client() { return *client_; }
    QuoteSession& quotes() { return *quotes_; }

private:
    TempDir serverDir_, clientDir_;
    std::unique_ptr<Session> serverSession_;
    SimMarket market_{3};
    std::unique_ptr<QuoteServer> server_;
    std::unique_ptr<Session> client_;
    QtClientTransport net_;
    std::unique_ptr<QuoteSession> quotes_;
};

TEST(QuoteListViewLive, LiveRankedPageSubscriptionAndRanking) {
    LiveFixture live;
    ASSERT_TRUE(live.quotes().ready());
    QuoteListView view(live.client());
    view.resize(1000, 560);
    view.show();
    view.SetQuoteSession(&live.quotes());
    // 沪市A股 is a rule page: the server sorts it and sends exactly the rows on screen.
    ASSERT_NE(view.link(), nullptr);
    EXPECT_EQ(view.link()->held().kind, QuoteListRequest::Kind::RankPage);
    EXPECT_EQ(view.link()->held().rowCount, std::min<uint32_t>(view.visibleRows(), view.model().rowCount()));
    int pct = view.model().ColumnOfField(kFieldChangePct);
    Click(view, QPoint(view.ColumnRect(pct).center().x(), view.rowHeight() / 2));
    EXPECT_EQ(view.link()->held().sortField, kFieldChangePct);
    EXPECT_EQ(view.link()->held().direction, 1u);
    // The reply puts the rows into the server's order: 涨幅 descending.
    ASSERT_TRUE(live.Wait([&] {
        if (view.model().rowCount() < 2) return false;
        for (size_t i = 1; i < view.model().rowCount(); ++i) {
            QuoteCell a = view.model().Cell(i - 1, pct), b = view.model().Cell(i, pct);
            if (a.present && b.present && a.value < b.value) return false;
        }
        return view.lastRepaint().all;
    }));
    // Later pushes repaint only the rows that changed.
    ASSERT_TRUE(live.Wait([&] { return !view.lastRepaint().all && !view.lastRepaint().displayRows.empty(); }, 15000));
    view.grab().toImage().save(QString(TESSARO_BINARY_DIR) + "/quote_list_live.png");

    // A self-selected page ends the ranked page and subscribes "BVIEW".
    ASSERT_TRUE(view.OpenPage(G("自选股1")));
    EXPECT_EQ(view.link()->held().kind, QuoteListRequest::Kind::Subscribe);
    EXPECT_EQ(view.link()->held().ids.size(), view.model().rowCount());

    // The comprehensive ranking: nine panels filled by the 'Q' reply.
    ASSERT_TRUE(view.OpenRanking(G("沪市A股")));
    ASSERT_TRUE(live.Wait([&] { return view.ranking().rowsPerPanel() > 0; }));
    EXPECT_FALSE(view.ranking().At(0, 0).empty());
    view.grab().toImage().save(QString(TESSARO_BINARY_DIR) + "/quote_list_ranking.png");

    // The tick list follows the live quotes of its security.
    ASSERT_TRUE(view.OpenPage(G("沪市A股")));
    view.SetMode(QuoteListMode::TickDetail);
    ASSERT_NE(view.detail(), nullptr);
    EXPECT_EQ(view.link()->held().kind, QuoteListRequest::Kind::Subscribe);
    ASSERT_EQ(view.link()->held().ids.size(), 1u);
    size_t before = view.detail()->rowCount();
    EXPECT_TRUE(live.Wait([&] { return view.detail()->rowCount() > before; }, 15000));
}

}  // namespace
}  // namespace tessaro

int main(int argc, char** argv) {
    // Offscreen unless told otherwise: test discovery runs the program without the test's environment.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
