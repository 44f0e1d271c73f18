// The trend charts' costs: a record into the history, one chart's frame (gather, compare, render
// off-screen, paint) at each span with full data, the memory of the history after an hour's
// worth of records at 37,500 records/s fed at full speed, and the CPU four charts add to the
// program running at 1,000 and 37,500 records/s.
#include <time.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <QWidget>
#include <benchmark/benchmark.h>

#include "app/window/FormMain.h"
#include "instruments/AnTrend.h"
#include "instruments/AnVMeter.h"
#include "bench/BenchMain.h"

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

double ProcessCpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// CPU seconds the X server (BENCH_XPID) has used so far; 0 without one.
double XServerCpuSeconds() {
  const char *env = std::getenv("BENCH_XPID");
  if (!env) return 0;
  std::ifstream stat(std::string("/proc/") + env + "/stat");
  std::string line;
  std::getline(stat, line);
  // Fields after the command's closing parenthesis: state is field 3, utime 14, stime 15.
  std::istringstream rest(line.substr(line.rfind(')') + 2));
  std::string f;
  double ticks = 0;
  for (int i = 3; i <= 15 && rest >> f; ++i)
    if (i >= 14) ticks += std::stod(f);
  return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// The running program's Show page: ten meters, records through the window's record handler at
// `rate` a second in real time, as a port delivers them, with the event loop running (frame
// pacer, blink service, the charts' ticks). The same run with the four charts hidden and shown,
// alternately, three times each: the CPU the charts add, of this process (and of the X server,
// when BENCH_XPID names it).
void FourChartsCpu(benchmark::State &state) {
  const int rate = static_cast<int>(state.range(0));
  const double seconds = std::getenv("BENCH_SECONDS") ? std::atof(std::getenv("BENCH_SECONDS")) : 5.0;
  TFormMain form;
  form.show();
  form.SetOuterSize(1600, 900);
  form.ShowPageByName("Show");
  form.ApplyFirstStartLayout();
  for (int n = 1; n <= 10; ++n) form.FindComponent<TAnVMeter>(QStringLiteral("Instr%1").arg(n))->SetVisible(true);
  // One chart per span, four instruments each, beside the meters.
  for (int k = 0; k < 4; ++k) {
    TAnTrend *t = form.Trend(k + 1);
    t->SetBounds(680 + (k % 2) * 450, 8 + (k / 2) * 300, 440, 290);
    t->SetSpan(static_cast<TTrendSpan>(k));
    for (int i = 0; i < 4; ++i) t->SetInstrument(i, 1 + (k + i) % 10);
  }
  std::vector<std::string> records;
  for (int i = 0; i < 10000; ++i) {
    char rec[32];
    std::snprintf(rec, sizeof rec, "#%dM%.2f<", 1 + i % 10,
                  50 + 40 * std::sin(i * 0.0021 + i % 10) + 5 * std::sin(i * 0.37));
    records.emplace_back(rec);
  }
  QApplication::processEvents();
  auto run = [&](bool charts) {
    for (int k = 1; k <= 4; ++k) form.Trend(k)->SetVisible(charts);
    QApplication::processEvents();
    QEventLoop loop;
    QTimer feed;
    feed.setTimerType(Qt::PreciseTimer);
    std::size_t fed = 0;
    const auto t0 = std::chrono::steady_clock::now();
    QObject::connect(&feed, &QTimer::timeout, [&] {
      const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
      const auto due = static_cast<std::size_t>(elapsed * rate);
      for (; fed < due; ++fed) form.ComDataPacket1Packet(&form, records[fed % records.size()]);
    });
    feed.start(2);
    QTimer::singleShot(static_cast<int>(seconds * 1000), &loop, &QEventLoop::quit);
    const double c0 = ProcessCpuSeconds(), x0 = XServerCpuSeconds();
    loop.exec();
    return std::pair<double, double>{(ProcessCpuSeconds() - c0) / seconds * 100, (XServerCpuSeconds() - x0) / seconds * 100};
  };
  double without = 0, with = 0, xWithout = 0, xWith = 0;
  std::uint64_t renders = 0;
  for (auto _ : state) {
    for (int round = 0; round < 3; ++round) {
      const auto off = run(false);
      for (int k = 1; k <= 4; ++k) renders -= form.Trend(k)->PlotRenderCount();
      const auto on = run(true);
      for (int k = 1; k <= 4; ++k) renders += form.Trend(k)->PlotRenderCount();
      without += off.first / 3;
      with += on.first / 3;
      xWithout += off.second / 3;
      xWith += on.second / 3;
    }
  }
  state.counters["cpu_%_without"] = without;
  state.counters["cpu_%_with"] = with;
  state.counters["added_%_of_a_core"] = with - without;
  if (std::getenv("BENCH_XPID")) state.counters["x_server_added_%"] = xWith - xWithout;
  state.counters["renders_per_s"] = static_cast<double>(renders) / (3 * seconds);
  state.SetLabel(std::to_string(rate) + " records/s, charts of 10 s, 1 min, 10 min and 1 h, 4 instruments each");
}
BENCHMARK(FourChartsCpu)->Arg(1000)->Arg(37500)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char **argv) { return RunWidgetBenchmarks(argc, argv); }
