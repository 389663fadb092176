// The chart benchmarks' main: Qt's offscreen platform (the painter needs a QGuiApplication),
// then Google Benchmark.
#pragma once

#include <QGuiApplication>
#include <benchmark/benchmark.h>

#define TESSARO_CHART_BENCHMARK_MAIN()           \
    int main(int argc, char** argv) {            \
        qputenv("QT_QPA_PLATFORM", "offscreen"); \
        QGuiApplication app(argc, argv);         \
        benchmark::Initialize(&argc, argv);      \
        benchmark::RunSpecifiedBenchmarks();     \
        benchmark::Shutdown();                   \
        return 0;                                \
    }
