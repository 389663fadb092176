// 主图叠加 (Ctrl+M) in the chart window of the main window: the stock picker searches as the
// keyboard wizard does, the chosen securities are overlaid and the percentage question follows
// the first overlay.
#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <functional>

#include "chart/qt/chart_widget.h"
#include "formula/standard_library.h"
#include "market/market_store.h"
#include "ui/chart/chart_view_host.h"
#include "ui/chart/stock_picker.h"
#include "chart_window_support.h"

namespace tessaro {
namespace {

// Runs `fn` on the next modal window once it is open.
void WhenModal(std::function<void(QWidget*)> fn) {
    QTimer::singleShot(20, [fn] {
        if (QWidget* modal = QApplication::activeModalWidget()) fn(modal);
        else WhenModal(fn);
    });
}

void Type(QWidget* w, int key, const QString& text = {}) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
    QApplication::sendEvent(w, &press);
}

TEST(StockPicker, CtrlMOverlaysTheChosenSecuritiesAndAsksForPercentage) {
    std::unique_ptr<Session> session = OpenChartSession();
    ASSERT_TRUE(session);
    ChartMainWindow shell(*session);
    MainWindow& window = shell.window;
    // Shanghai shares (codes 6xxxxx, found by their code alone).
    std::vector<CodeEntry> all;
    for (const CodeEntry& e : session->store().ListSecurities(1))
        if (e.id.codeText().starts_with("6")) all.push_back(e);
    ASSERT_GE(all.size(), 3u);
    ViewTarget target;
    target.security = all[0].id;
    auto* host = static_cast<ChartViewHost*>(window.OpenView(ViewKind::Chart, target));
    ASSERT_NE(host, nullptr);
    QApplication::processEvents();
    const std::string second(all[1].id.codeText()), third(all[2].id.codeText());

    // Two securities typed and chosen with Enter; the picture's own is not offered.
    bool asked = false;
    WhenModal([&](QWidget* modal) {
        auto* picker = qobject_cast<StockPickerDialog*>(modal);
        ASSERT_NE(picker, nullptr);
        picker->edit()->setText(QString::fromStdString(std::string(all[0].id.codeText())));
        ASSERT_EQ(picker->matchList()->count(), 1);
        Type(picker->edit(), Qt::Key_Return);
        EXPECT_EQ(picker->chosenList()->count(), 0) << "the picture shows it already";
        for (const std::string& code : {second, third}) {
            picker->edit()->setText(QString::fromStdString(code));
            ASSERT_EQ(picker->matchList()->count(), 1);
            Type(picker->edit(), Qt::Key_Return);
        }
        EXPECT_EQ(picker->chosenList()->count(), 2);
        picker->grab().save(QStringLiteral(TESSARO_BINARY_DIR "/ui_chart_stock_picker.png"));
        // Then the question, answered Yes.
        WhenModal([&](QWidget* box) {
            auto* question = qobject_cast<QMessageBox*>(box);
            ASSERT_NE(question, nullptr);
            EXPECT_EQ(question->text(), QStringLiteral("需要将主图坐标设为百分比坐标吗？"));
            asked = true;
            question->button(QMessageBox::Yes)->click();
        });
        picker->accept();
    });
    QKeyEvent ctrlM(QEvent::KeyPress, Qt::Key_M, Qt::ControlModifier);
    QApplication::sendEvent(&host->chart(), &ctrlM);
    const chart::GraphPicture& p = host->chart().view().picture(0);
    ASSERT_EQ(p.overlays.size(), 2u);
    EXPECT_EQ(p.overlays[0].security.id.codeText(), second);
    EXPECT_EQ(p.overlays[1].security.id.codeText(), third);
    EXPECT_TRUE(asked);
    EXPECT_EQ(p.panes[0].scaleMode & 3, chart::kScalePercentage);
    QApplication::processEvents();
    window.grab().save(QStringLiteral(TESSARO_BINARY_DIR "/ui_chart_overlays.png"));

    // A cancelled picker overlays nothing.
    WhenModal([](QWidget* modal) {
        auto* picker = qobject_cast<StockPickerDialog*>(modal);
        ASSERT_NE(picker, nullptr);
        picker->reject();
    });
    QApplication::sendEvent(&host->chart(), &ctrlM);
    EXPECT_EQ(p.overlays.size(), 2u);
}

}  // namespace
}  // namespace tessaro
