#pragma once
// The main of the benchmarks that build widgets: offscreen unless a platform is asked for, one
// application object for all their runs.
#include <QApplication>
#include <benchmark/benchmark.h>

#include <cstdlib>

inline int RunWidgetBenchmarks(int argc, char **argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
