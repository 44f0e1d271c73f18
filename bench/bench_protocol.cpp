// Measurement handler plus value update per record: one meter, and ten meters round-robin.
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "app/window/FormMain.h"
#include "app/records/MeasurementProtocol.h"
#include "instruments/AnVMeter.h"
#include "bench/BenchMain.h"

namespace {

std::vector<std::string> Records(int instruments, int count) {
  std::vector<std::string> r;
  for (int i = 0; i < count; ++i)
    r.push_back("#" + std::to_string(1 + i % instruments) + "M" + std::to_string(i % 997) + "." +
                std::to_string(i % 10) + "<");
  return r;
}

void RecordsThroughTheWindow(benchmark::State &state) {
  TFormMain form;
  const auto records = Records(static_cast<int>(state.range(0)), 4096);
  std::size_t i = 0;
  for (auto _ : state) {
    form.ComDataPacket1Packet(&form, records[i++ & 4095]);
  }
  state.SetItemsProcessed(state.iterations());
  state.SetLabel(std::to_string(state.range(0)) + " meter(s)");
}
BENCHMARK(RecordsThroughTheWindow)->Arg(1)->Arg(10);

void ParseOnly(benchmark::State &state) {
  const auto records = Records(10, 4096);
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(ParseMeasurementRecord(records[i++ & 4095], FormatSettings()));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(ParseOnly);

} // namespace

int main(int argc, char **argv) { return RunWidgetBenchmarks(argc, argv); }
