// The trend charts' costs: a record into the history, one chart's frame (gather, compare, render
// off-screen, paint) at each span with full data, and the memory of the history after an hour's
// worth of records at 37,500 records/s fed at full speed.
//
// The CPU four charts add to the running program is measured by bench_trend_cpu.
#include <sys/resource.h>
#include <time.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include <QApplication>
#include <QWidget>
#include <benchmark/benchmark.h>

#include "instruments/AnTrend.h"

namespace {

constexpr std::int64_t Ms = 1'000'000;
constexpr std::int64_t S = 1'000'000'000;

double ThreadCpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

long RssKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  return -1;
}

float Wave(std::int64_t t, int instrument) {
  const double s = static_cast<double>(t) / 1e9;
  return static_cast<float>(50 + 35 * std::sin(s * 0.7 + instrument) + 8 * std::sin(s * 13.0 + instrument * 2));
}

// A record into the history: four slot updates, whatever the charts.
void HistoryAdd(benchmark::State &state) {
  TTrendHistory h;
  std::int64_t t = 1000 * S;
  int n = 0;
  for (auto _ : state) {
    h.AddAt(1 + n % 10, static_cast<float>(n & 1023), t);
    t += 26'667; // 37,500 records/s
    ++n;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(HistoryAdd);

// One chart with four instruments whose history is full for the span, moved on by a column each
// frame (the most a frame can have to do): the tick (gather, compare, render off-screen), and
// then the paint that blits it.
void ChartFrame(benchmark::State &state) {
  const auto span = static_cast<TTrendSpan>(state.range(0));
  QWidget host;
  host.resize(700, 400);
  TTrendHistory h;
  std::int64_t now = 10'000 * S;
  h.SetClock([&] { return now; });
  // Ten values per column and instrument over the whole span.
  const std::int64_t step = TrendSpanNs[span] / 6000;
  for (std::int64_t t = now - TrendSpanNs[span]; t < now; t += step)
    for (int n = 1; n <= 4; ++n) h.AddAt(n, Wave(t, n), t);
  auto *chart = new TAnTrend(&host, &h);
  chart->SetBounds(0, 0, 640, 300);
  chart->SetSpan(span);
  for (int i = 0; i < 4; ++i) chart->SetInstrument(i, i + 1);
  host.show();
  QApplication::processEvents();
  chart->repaint();
  const std::uint64_t renders = chart->PlotRenderCount();
  double tick = 0;
  for (auto _ : state) {
    state.PauseTiming();
    now = chart->Window().EndNs();
    for (int n = 1; n <= 4; ++n) h.AddAt(n, Wave(now, n), now);
    state.ResumeTiming();
    const double t0 = ThreadCpuSeconds();
    h.Tick();
    tick += ThreadCpuSeconds() - t0;
    QApplication::processEvents();
  }
  if (chart->PlotRenderCount() - renders != static_cast<std::uint64_t>(state.iterations()))
    state.SkipWithError("not one render per frame");
  state.counters["tick_us"] = tick * 1e6 / static_cast<double>(state.iterations());
  state.SetLabel(std::string(TrendSpanText(span)) + ", 4 instruments, plot " +
                 std::to_string(chart->Layout().Plot.Width()) + " columns");
}
BENCHMARK(ChartFrame)->DenseRange(0, 3)->Unit(benchmark::kMicrosecond);

// An hour of ten instruments at 37,500 records/s in total (135 million records), fed as fast as
// the history takes them: the memory before and after, and the time per record.
void HourAtFullSpeed(benchmark::State &state) {
  for (auto _ : state) {
    const long before = RssKiB();
    TTrendHistory h;
    const std::int64_t records = 37'500LL * 3600;
    const std::int64_t step = S / 37'500;
    const double t0 = ThreadCpuSeconds();
    std::int64_t t = 1000 * S;
    for (std::int64_t i = 0; i < records; ++i, t += step) h.AddAt(1 + int(i % 10), static_cast<float>(i & 1023), t);
    const double cpu = ThreadCpuSeconds() - t0;
    const long after = RssKiB();
    state.counters["rss_added_MiB"] = static_cast<double>(after - before) / 1024.0;
    state.counters["history_MiB"] = static_cast<double>(h.MemoryBytes()) / (1 << 20);
    state.counters["ns_per_record"] = cpu * 1e9 / static_cast<double>(records);
    benchmark::DoNotOptimize(h.Count(1));
  }
}
BENCHMARK(HourAtFullSpeed)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char **argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
