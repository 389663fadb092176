#include "render_command.h"

#include <QGuiApplication>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "chart/qt/render_png.h"
#include "session/session.h"

namespace tessaro {
namespace {

constexpr const char* kUsage =
    "usage: tessaro [--appdir DIR] --render SECURITY [--period day|week|min5|...] [--indicators MACD,KDJ]\n"
    "               [--size 1280x800] [--bars N] [--days N] [--panel 0-4|6] --out FILE.png\n";

int Usage(const std::string& why) {
    std::cerr << "tessaro: " << why << "\n" << kUsage;
    return 2;
}

std::vector<std::string> SplitList(const std::string& text) {
    std::vector<std::string> out;
    size_t from = 0;
    while (from <= text.size()) {
        size_t comma = text.find(',', from);
        if (comma == std::string::npos) comma = text.size();
        if (comma > from) out.push_back(text.substr(from, comma - from));
        from = comma + 1;
    }
    return out;
}

}  // namespace

bool WantsRender(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--render") == 0) return true;
    return false;
}

int RunRender(int argc, char** argv) {
    chart::RenderRequest request;
    std::optional<std::string> appDir;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (i + 1 >= argc) return Usage(option + " needs a value");
        const std::string value = argv[++i];
        if (option == "--appdir") {
            appDir = value;
        } else if (option == "--render") {
            request.security = value;
        } else if (option == "--period") {
            request.period = PeriodFromText(value);
            if (request.period == kPeriodInvalid) return Usage("unknown period " + value);
        } else if (option == "--indicators") {
            request.indicators = SplitList(value);
        } else if (option == "--size") {
            if (!chart::ParseRenderSize(value, request.width, request.height))
                return Usage("--size is WIDTHxHEIGHT, each 64 to 4096");
        } else if (option == "--bars") {
            char* end = nullptr;
            const long n = std::strtol(value.c_str(), &end, 10);
            if (end == value.c_str() || *end != '\0' || n < 8 || n > 100000) return Usage("--bars is 8 to 100000");
            request.bars = static_cast<int>(n);
        } else if (option == "--days") {
            char* end = nullptr;
            const long n = std::strtol(value.c_str(), &end, 10);
            if (end == value.c_str() || *end != '\0' || n < 1 || n > 10) return Usage("--days is 1 to 10");
            request.days = static_cast<int>(n);
        } else if (option == "--panel") {
            char* end = nullptr;
            const long n = std::strtol(value.c_str(), &end, 10);
            if (end == value.c_str() || *end != '\0' || n < 0 || (n > 4 && n != 6))
                return Usage("--panel is 0 to 4, or 6 for the price page");
            request.panelMode = static_cast<int>(n);
        } else if (option == "--out") {
            request.out = value;
        } else {
            return Usage("unknown option " + option);
        }
    }
    if (request.security.empty()) return Usage("--render needs a security");
    if (request.out.empty()) return Usage("--out is required");

    // Offscreen unless told otherwise: the picture needs fonts, not a display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);

    SessionOptions options;
    options.appDir = appDir;
    options.access = SessionAccess::ReadOnly;
    options.data = kSessionAll;  // the blocks fill the information panel's 板 page
    options.settings = SessionSettings::BuiltIn;
    options.requireMarket = true;
    Session session(options);
    if (!session.Start()) {
        std::cerr << "tessaro: " << session.error() << "\n";
        return 1;
    }
    std::string error;
    if (!chart::RenderChartPng(session.store(), session.paths(), session.formulas(), session.settings(), request,
                               &error, &session.blocks())) {
        std::cerr << "tessaro: " << error << "\n";
        return 1;
    }
    return 0;
}

}  // namespace tessaro
