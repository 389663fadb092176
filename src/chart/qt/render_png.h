// One chart picture rendered offscreen: the security's K-lines with their main-pane indicator,
// volume and the indicator panes asked for, written as a PNG. A QGuiApplication must exist
// (fonts); on the command line it runs with the offscreen platform.
#pragma once

#include <QImage>
#include <string>
#include <vector>

#include "app/paths.h"
#include "app/settings.h"
#include "chart/chart_view.h"
#include "platform/period.h"

namespace tessaro {
class MarketStore;
class FormulaSet;
class BlockSet;
}  // namespace tessaro

namespace tessaro::chart {

struct RenderRequest {
    std::string security;                         // "SH600519", or "600519" (SH, SZ, $$ in order)
    Period period = kPeriodDay;                   // 2 .. 14 (14: the time-sharing picture)
    std::vector<std::string> indicators{"MACD"};  // sub-chart formulas below the volume, at most 4
    int width = 1280, height = 800;
    int bars = 0;                                 // visible bars; 0: the "Ruler" setting
    int days = 0;                                 // time-sharing days 1 .. 10; 0: the "Days_time" setting
    int panelMode = 0;                            // the information panel's tab, 0 .. 4
    std::string out;                              // the PNG file
};

// Parses "1280x800"; false for anything else (each side 64 .. 4096).
bool ParseRenderSize(const std::string& text, int& width, int& height);

// The view of the request over `source`, updated through every level. Null with the reason in
// *error when an indicator is unknown or the period is invalid.
std::unique_ptr<ChartView> BuildRenderView(ChartSource& source, const CodeEntry& security, const SystemSettings& settings,
                                           const RenderRequest& request, const ChartMetrics& metrics, const TextMeasure& measure,
                                           std::string* error);
// The picture as an image.
QImage RenderChartImage(ChartSource& source, const CodeEntry& security, const SystemSettings& settings,
                        const RenderRequest& request, std::string* error);

// Renders from the market store and history files of `paths` and writes request.out (through a
// temporary file). False with the reason in *error: unknown security, bad request, write error.
// `blocks`, when given, fills the panel's 板 page.
bool RenderChartPng(const MarketStore& store, const AppPaths& paths, const FormulaSet& formulas,
                    const SystemSettings& settings, const RenderRequest& request, std::string* error,
                    const BlockSet* blocks = nullptr);

}  // namespace tessaro::chart
