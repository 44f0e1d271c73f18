// Terminal flood: 64 MiB of text with CR/LF and tabs (and, for the VT100 parser, cursor, erase
// and attribute sequences) through the receive path into a 200 × 100 grid, in 4 KiB blocks as the
// port hands them over. Reports MB/s, peak memory, and for the shown terminal the paints Qt made
// while the event loop ran between blocks.
#include <sys/resource.h>

#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>

#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QWindow>
#include <benchmark/benchmark.h>

#include "serial/ComTerminal.h"
#include "bench/BenchMain.h"

namespace {

constexpr std::size_t ChunkSize = 1 << 20;
constexpr std::size_t FloodSize = 64 * ChunkSize;
constexpr std::size_t BlockSize = 4096;

// One MiB of lines of 0 … 150 characters; with sequences, about one line in three carries a
// cursor move, an attribute change or an erase.
std::string MakeChunk(bool sequences) {
  std::mt19937 rng(2024);
  std::string s;
  s.reserve(ChunkSize + 256);
  const std::string esc = "\x1b";
  while (s.size() < ChunkSize) {
    const int length = static_cast<int>(rng() % 151);
    for (int i = 0; i < length; ++i) {
      const unsigned r = rng() % 100;
      if (r < 3)
        s += '\t';
      else
        s += static_cast<char>(32 + rng() % 95);
    }
    if (sequences) {
      switch (rng() % 9) {
      case 0: s += esc + "[" + std::to_string(1 + rng() % 100) + ";" + std::to_string(1 + rng() % 200) + "H"; break;
      case 1: s += esc + "[1;3" + std::to_string(rng() % 8) + "m"; break;
      case 2: s += esc + "[0m"; break;
      case 3: s += esc + "[K"; break;
      case 4: s += esc + "[7;4" + std::to_string(rng() % 8) + "m"; break;
      case 5: s += esc + "[2A"; break;
      default: break;
      }
    }
    s += "\r\n";
  }
  s.resize(ChunkSize);
  return s;
}

class TCountingTerminal : public TComTerminal {
public:
  int Paints = 0;

protected:
  void paintEvent(QPaintEvent *e) override {
    ++Paints;
    TComTerminal::paintEvent(e);
  }
};

void Configure(TComTerminal &t, TTermEmulation emulation) {
  t.SetEmulation(emulation);
  t.SetColumns(200);
  t.SetRows(100);
  t.SetWrapLines(true);
  t.SetColor(clCream);
  TFont f;
  f.SetName("Courier");
  f.SetHeight(-17);
  f.SetStyle(fsBold);
  f.SetColor(clBlack);
  t.SetFont(f);
}

double MaxRssMiB() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_maxrss) / 1024.0;
}

// Hidden terminal: the grid and the damage book-keeping alone.
void TerminalFlood(benchmark::State &state) {
  const bool vt100 = state.range(0) != 0;
  const std::string chunk = MakeChunk(vt100);
  TComTerminal t;
  Configure(t, vt100 ? teVT100orANSI : teNone);
  for (auto _ : state) {
    for (std::size_t done = 0; done < FloodSize; done += BlockSize) {
      const std::size_t at = done % ChunkSize;
      t.Link()->OnRxBuf(nullptr, chunk.data() + at, static_cast<std::int32_t>(BlockSize));
    }
    benchmark::DoNotOptimize(t.Buffer().GetCell(1, 1));
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * FloodSize));
  state.counters["maxrss_MiB"] = MaxRssMiB();
  state.SetLabel(vt100 ? "VT100" : "no emulation");
}
BENCHMARK(TerminalFlood)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(3);

// Shown 1600 × 1000 terminal with the event loop run after every 64 KiB, as between the port's
// batches: the flushes are held to one per frame, and Qt paints only those.
void TerminalFloodShown(benchmark::State &state) {
  const bool vt100 = state.range(0) != 0;
  const std::string chunk = MakeChunk(vt100);
  TCountingTerminal t;
  Configure(t, vt100 ? teVT100orANSI : teNone);
  t.resize(1600, 1000);
  t.show();
  QElapsedTimer wait;
  wait.start();
  while (!(t.windowHandle() && t.windowHandle()->isExposed()) && wait.elapsed() < 5000)
    QCoreApplication::processEvents();
  QCoreApplication::processEvents();
  const int paintsBefore = t.Paints;
  QElapsedTimer clock;
  clock.start();
  for (auto _ : state) {
    for (std::size_t done = 0; done < FloodSize; done += BlockSize) {
      const std::size_t at = done % ChunkSize;
      t.Link()->OnRxBuf(nullptr, chunk.data() + at, static_cast<std::int32_t>(BlockSize));
      if ((done + BlockSize) % (16 * BlockSize) == 0) QCoreApplication::processEvents();
    }
  }
  const double seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * FloodSize));
  state.counters["paints"] = t.Paints - paintsBefore;
  state.counters["paints_per_s"] = (t.Paints - paintsBefore) / seconds;
  state.counters["maxrss_MiB"] = MaxRssMiB();
  state.SetLabel(vt100 ? "VT100, shown" : "no emulation, shown");
}
BENCHMARK(TerminalFloodShown)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace

int main(int argc, char **argv) { return RunWidgetBenchmarks(argc, argv); }
