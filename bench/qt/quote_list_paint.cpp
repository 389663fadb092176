// Quote list painting: one full page of 40 rows and 20 columns (3 fixed, 17 scrolling)
// painted offscreen into an image, as a repaint of the whole list does (the tab bar and the
// scroll bars are Qt's own widgets and not counted).
#include <benchmark/benchmark.h>

#include <filesystem>
#include <memory>

#include "market/demo_market.h"
#include "platform/text.h"
#include "session/session.h"
#include "ui/quote_list/quote_list_view.h"

#include <QApplication>
#include <QImage>
#include <QPainter>

namespace tessaro {
namespace {

struct Fixture {
    std::string dir = (std::filesystem::temp_directory_path() / "tessaro-bench-quote-list").string();
    std::unique_ptr<Session> session;
    std::unique_ptr<QuoteListView> view;
    Fixture() {
        std::filesystem::remove_all(dir);
        DemoMarketOptions options;
        options.outDir = dir;
        options.securities = 200;
        options.days = 2;
        options.fiveMinuteDays = 0;
        options.oneMinuteDays = 0;
        GenerateDemoMarket(options);
        SessionOptions o;
        o.appDir = dir;
        o.data = kSessionAll;
        session = std::make_unique<Session>(o);
        session->Start();
        view = std::make_unique<QuoteListView>(*session);
        view->OpenPage(Utf8ToGbk("沪深A股"));
        // Wide and tall enough for 17 scrolling columns and 40 rows.
        int width = 0;
        for (int i = 0; i < kFixedColumnCount; ++i) width += view->model().columns().fixedWidth(i);
        for (size_t i = 0; i < 17; ++i) width += view->model().columns().at(i).width;
        view->resize(width + 20, view->rowHeight() * 41 + 40);
    }
    ~Fixture() {
        view.reset();
        session.reset();
        std::filesystem::remove_all(dir);
    }
};

void BM_PaintFullPage(benchmark::State& state) {
    Fixture f;
    QImage image(f.view->size(), QImage::Format_ARGB32_Premultiplied);
    if (f.view->visibleRows() < 40 || f.view->model().rowCount() < 40) {
        state.SkipWithError("the page does not show 40 rows");
        return;
    }
    for (auto _ : state) {
        QPainter p(&image);
        f.view->PaintTo(p, image.rect());
        p.end();
        benchmark::DoNotOptimize(image.constBits());
    }
    state.counters["rows"] = f.view->visibleRows();
    image.save(QString::fromStdString(f.dir + "-page.png"));
}
BENCHMARK(BM_PaintFullPage)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tessaro

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
