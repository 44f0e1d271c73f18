// The vertical meter's drawing costs: a full paint, a value write with the redraw it causes, the
// composition once per frame, and the GUI thread's share with ten meters fed 10,000 values/s each
// at 60 frames/s.
//
// The meters live on the real Show page (gradient background included). Meters at the design
// size of 116 × 73 have no room for a scale and compose nothing, so the value benchmarks use
// meters enlarged to 116 × 306, where every value moves a pointer and rewrites the value text.
#include <time.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <thread>
#include <cstdlib>
#include <vector>

#include <QApplication>
#include <QImage>
#include <QString>
#include <benchmark/benchmark.h>

#include "app/window/FormMain.h"
#include "instruments/AnVMeter.h"
#include "platform/FramePacer.h"
#include "bench/BenchMain.h"

namespace {

constexpr int Meters = 10;
constexpr int ValuesPerMeterPerFrame = 167; // 10,000 values/s at 60 frames/s
constexpr double FrameMs = 1000.0 / 60.0;

double ThreadCpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// In-range values that wander over the scale like a real signal (nothing blinks).
std::vector<float> Signal(int count) {
  std::vector<float> v(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i)
    v[static_cast<std::size_t>(i)] = static_cast<float>(50.0 + 40.0 * std::sin(i * 0.013) + 5.0 * std::sin(i * 0.71));
  return v;
}

// The main window with Instr1 … Instr10 visible at the given size, shown offscreen and painted.
struct ShowPage {
  TFormMain Form;
  std::vector<TAnVMeter *> Meter;
  explicit ShowPage(int width, int height) {
    Form.show();
    Form.ShowPageByName("Show");
    for (int n = 1; n <= Meters; ++n) {
      auto *m = Form.FindComponent<TAnVMeter>(QStringLiteral("Instr%1").arg(n));
      const int i = n - 1;
      m->SetBounds(13 + (i % 5) * 132, 8 + (i / 5) * (height + 12), width, height);
      m->SetVisible(true);
      Meter.push_back(m);
    }
    Frame();
  }
  // One frame: the pacer serves the meters that asked (its timer would do so once per period),
  // and the paint they asked for follows.
  static void Frame() {
    TFramePacer::Instance().Tick();
    QApplication::processEvents();
    QApplication::processEvents();
  }
};

// A full paint: a trigger (Options written) and the paint that follows, rendered into an image.
void FullPaint(benchmark::State &state) {
  ShowPage page(116, static_cast<int>(state.range(0)));
  TAnVMeter &m = *page.Meter[0];
  QImage target(m.size(), QImage::Format_ARGB32_Premultiplied);
  const std::uint64_t before = m.FullPaintCount();
  for (auto _ : state) {
    m.SetOptions(m.Options());
    m.render(&target);
  }
  if (m.FullPaintCount() - before != static_cast<std::uint64_t>(state.iterations()))
    state.SkipWithError("not a full paint per iteration");
  state.SetLabel("116 x " + std::to_string(state.range(0)) + (m.TooSmall() ? " (no room for the scale)" : ""));
}
BENCHMARK(FullPaint)->Arg(73)->Arg(306)->Unit(benchmark::kMicrosecond);

// The same render without a trigger: only the face blit and the composition.
void RenderWithoutFullPaint(benchmark::State &state) {
  ShowPage page(116, 306);
  TAnVMeter &m = *page.Meter[0];
  QImage target(m.size(), QImage::Format_ARGB32_Premultiplied);
  const std::uint64_t before = m.FullPaintCount();
  for (auto _ : state) m.render(&target);
  if (m.FullPaintCount() != before) state.SkipWithError("a full paint happened");
}
BENCHMARK(RenderWithoutFullPaint)->Unit(benchmark::kMicrosecond);

// Every value gets its own frame: a write to the next meter, then the frame that redraws it.
void ValueWithItsRedrawRoundRobin(benchmark::State &state) {
  ShowPage page(116, 306);
  const std::vector<float> values = Signal(4096);
  std::size_t i = 0;
  for (auto _ : state) {
    page.Meter[i % Meters]->SetValue(values[i & 4095]);
    ++i;
    ShowPage::Frame();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(ValueWithItsRedrawRoundRobin)->Unit(benchmark::kMicrosecond);

// Value writes alone, ten meters round-robin: the model update and the dirty mark.
void ValueWriteRoundRobin(benchmark::State &state) {
  ShowPage page(116, 306);
  const std::vector<float> values = Signal(4096);
  std::size_t i = 0;
  for (auto _ : state) {
    page.Meter[i % Meters]->SetValue(values[i & 4095]);
    ++i;
  }
  state.SetItemsProcessed(state.iterations());
  ShowPage::Frame();
}
BENCHMARK(ValueWriteRoundRobin);

// One frame after every meter got a new value: ten compositions.
void ComposeOncePerFrame(benchmark::State &state) {
  ShowPage page(116, 306);
  const std::vector<float> values = Signal(4096);
  std::size_t i = 0;
  for (auto _ : state) {
    state.PauseTiming();
    for (TAnVMeter *m : page.Meter) m->SetValue(values[i++ & 4095]);
    state.ResumeTiming();
    ShowPage::Frame();
  }
  state.SetLabel("10 meters per frame");
}
BENCHMARK(ComposeOncePerFrame)->Unit(benchmark::kMicrosecond);

// Ten meters at 10,000 values/s each and 60 frames/s: per frame 167 writes per meter, then the
// frame. Reports the GUI thread's CPU time per frame as a share of the 16.7 ms frame.
// Arguments 1 and 2 show what the value model's tooltip rebuild costs beside the drawing:
// 1 without the min/max dates and times in it, 2 with the automatic tooltip off.
void GuiThreadLoad(benchmark::State &state) {
  ShowPage page(116, 306);
  const THintOptions hints[] = {AllHintOptions, AllHintOptions & ~(HintBit(hoMinMaxDate) | HintBit(hoMinMaxTime)),
                                AllHintOptions & ~HintBit(hoAutoHint)};
  const char *labels[] = {"design settings", "tooltip without dates and times", "tooltip off"};
  for (TAnVMeter *m : page.Meter) m->SetHintOptions(hints[state.range(0)]);
  state.SetLabel(labels[state.range(0)]);
  const std::vector<float> values = Signal(1 << 16);
  std::size_t i = 0;
  std::vector<std::uint64_t> composed, full;
  for (TAnVMeter *m : page.Meter) {
    composed.push_back(m->ValueRedrawCount());
    full.push_back(m->FullPaintCount());
  }
  double cpu = 0;
  for (auto _ : state) {
    const double t0 = ThreadCpuSeconds();
    for (int k = 0; k < ValuesPerMeterPerFrame; ++k)
      for (TAnVMeter *m : page.Meter) m->SetValue(values[i++ & 0xFFFF]);
    ShowPage::Frame();
    cpu += ThreadCpuSeconds() - t0;
  }
  const double frames = static_cast<double>(state.iterations());
  state.counters["cpu_ms_per_frame"] = cpu * 1000.0 / frames;
  state.counters["share_of_one_core_%"] = cpu * 1000.0 / frames / FrameMs * 100.0;
  double compositions = 0;
  for (int k = 0; k < Meters; ++k) {
    compositions += static_cast<double>(page.Meter[static_cast<std::size_t>(k)]->ValueRedrawCount() -
                                        composed[static_cast<std::size_t>(k)]);
    if (page.Meter[static_cast<std::size_t>(k)]->FullPaintCount() != full[static_cast<std::size_t>(k)])
      state.SkipWithError("a value caused a full paint");
  }
  state.counters["compositions_per_meter_per_frame"] = compositions / Meters / frames;
  state.SetItemsProcessed(state.iterations() * Meters * ValuesPerMeterPerFrame);
}
BENCHMARK(GuiThreadLoad)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);

// One frame of a stream of 37,500 records/s at 57 frames/s, as the window's record handler gets
// it: 650 records round-robin over the ten meters, then the frame that redraws them.
void StreamFrame(benchmark::State &state) {
  ShowPage page(116, 306);
  std::vector<std::string> records;
  for (int i = 0; i < 65536; ++i) {
    char rec[32];
    std::snprintf(rec, sizeof rec, "#%dM%.1f<", 1 + i % Meters, (i % 1000) / 10.0);
    records.emplace_back(rec);
  }
  std::size_t i = 0;
  double cpu = 0;
  for (auto _ : state) {
    const double t0 = ThreadCpuSeconds();
    for (int k = 0; k < 650; ++k) page.Form.ComDataPacket1Packet(&page.Form, records[i++ & 0xFFFF]);
    ShowPage::Frame();
    cpu += ThreadCpuSeconds() - t0;
    // With a pause the frame starts as in a real stream: after the thread slept a frame period.
    if (state.range(0) != 0) {
      state.PauseTiming();
      std::this_thread::sleep_for(std::chrono::microseconds(16'400));
      state.ResumeTiming();
    }
  }
  const double frames = static_cast<double>(state.iterations());
  state.counters["cpu_us_per_frame"] = cpu * 1e6 / frames;
  state.counters["share_of_one_core_%_at_57fps"] = cpu / frames * 57 * 100.0;
}
BENCHMARK(StreamFrame)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char **argv) { return RunWidgetBenchmarks(argc, argv); }
