// What the trend chart's frame would cost drawn by Qt Charts: the same history and columns as
// bench_trend's ChartFrame (four instruments, 640 × 300, moved on by a column each frame), handed
// to a QChartView as a minimum and a maximum point per column and series, with a clock-time axis,
// a value axis, a legend, no animation and no antialiasing; then the view painted.
#include <time.h>

#include <cmath>
#include <string>
#include <vector>

#include <QApplication>
#include <QDateTime>
#include <QtCharts/QChart>
#include <QtCharts/QChartView>
#include <QtCharts/QDateTimeAxis>
#include <QtCharts/QLineSeries>
#include <QtCharts/QValueAxis>
#include <benchmark/benchmark.h>

#include "instruments/TrendGeometry.h"
#include "instruments/TrendHistory.h"
#include "bench/BenchMain.h"

namespace {

constexpr std::int64_t S = 1'000'000'000;

double ThreadCpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

float Wave(std::int64_t t, int instrument) {
  const double s = static_cast<double>(t) / 1e9;
  return static_cast<float>(50 + 35 * std::sin(s * 0.7 + instrument) + 8 * std::sin(s * 13.0 + instrument * 2));
}

void QtChartsFrame(benchmark::State &state) {
  const auto span = static_cast<TTrendSpan>(state.range(0));
  TTrendHistory h;
  std::int64_t now = 10'000 * S;
  const std::int64_t step = TrendSpanNs[span] / 6000;
  for (std::int64_t t = now - TrendSpanNs[span]; t < now; t += step)
    for (int n = 1; n <= 4; ++n) h.AddAt(n, Wave(t, n), t);

  auto *chart = new QChart;
  chart->setAnimationOptions(QChart::NoAnimation);
  auto *timeAxis = new QDateTimeAxis;
  timeAxis->setFormat(QStringLiteral("hh:mm:ss"));
  auto *valueAxis = new QValueAxis;
  valueAxis->setRange(0, 100);
  chart->addAxis(timeAxis, Qt::AlignBottom);
  chart->addAxis(valueAxis, Qt::AlignLeft);
  std::vector<QLineSeries *> series;
  for (int n = 1; n <= 4; ++n) {
    auto *s = new QLineSeries;
    s->setName(QStringLiteral("#%1 SignalName1 (%)").arg(n, 2, 10, QLatin1Char('0')));
    chart->addSeries(s);
    s->attachAxis(timeAxis);
    s->attachAxis(valueAxis);
    series.push_back(s);
  }
  QChartView view(chart);
  view.setRenderHint(QPainter::Antialiasing, false);
  view.resize(640, 300);
  view.show();
  QApplication::processEvents();
  const int columns = static_cast<int>(chart->plotArea().width());

  std::vector<TTrendSlot> slotBuf, cols;
  QList<QPointF> points;
  double cpu = 0;
  for (auto _ : state) {
    const double t0 = ThreadCpuSeconds();
    const TTrendWindow w = TrendWindow(span, columns, now);
    const TSlotRange r = SlotsOfWindow(w);
    for (int n = 1; n <= 4; ++n) {
      h.Read(n, span, r.First, r.Count, slotBuf);
      GatherColumns(slotBuf, r.First, w, cols);
      points.clear();
      for (int c = 0; c < w.Columns; ++c) {
        if (cols[static_cast<std::size_t>(c)].Empty()) continue;
        const double x = static_cast<double>(w.ColumnStartNs(c) / 1'000'000);
        points.append(QPointF(x, cols[static_cast<std::size_t>(c)].Min));
        points.append(QPointF(x, cols[static_cast<std::size_t>(c)].Max));
      }
      series[static_cast<std::size_t>(n - 1)]->replace(points);
    }
    timeAxis->setRange(QDateTime::fromMSecsSinceEpoch(w.StartNs() / 1'000'000),
                       QDateTime::fromMSecsSinceEpoch(w.EndNs() / 1'000'000));
    view.viewport()->repaint();
    cpu += ThreadCpuSeconds() - t0;
    state.PauseTiming();
    now = w.EndNs();
    for (int n = 1; n <= 4; ++n) h.AddAt(n, Wave(now, n), now);
    state.ResumeTiming();
  }
  state.counters["cpu_us_per_frame"] = cpu * 1e6 / static_cast<double>(state.iterations());
  state.SetLabel(std::string("plot ") + std::to_string(columns) + " columns");
}
BENCHMARK(QtChartsFrame)->DenseRange(0, 3)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char **argv) { return RunWidgetBenchmarks(argc, argv); }
