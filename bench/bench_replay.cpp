// Reading recordings back: a 2 MB file whose quote is never closed (each further line once
// re-split the whole growing record: 11 s at 330 KB, no end at 1.6 MB; now the reading ends at the
// 1 MiB bound with a message), a quoted field of 1,000,000 bytes over 500,000 lines that closes,
// and a 2 MB plain recording, each read from its first record to its last (or to the message).
#include <cstdio>
#include <string>

#include <unistd.h>

#include <benchmark/benchmark.h>

#include "app/records/RecordingReader.h"

namespace {

const std::string Header = "Zeit,Instrument,Wert,Einheit\r\n";
const std::string Record = "2024-05-01T14:03:07.000+02:00,1,25.5,%\r\n";
std::string Recording(const std::string &opening, const std::string &line, const std::string &closing,
                      std::size_t size = 2 << 20) {
  std::string text = Header + Record + opening;
  while (text.size() < size) text += line;
  return text + closing + Record;
}

void ReadAll(benchmark::State &state, const std::string &text, bool expectError) {
  char path[] = "/tmp/bench-replay-XXXXXX";
  const int fd = mkstemp(path);
  if (fd < 0 || write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
    state.SkipWithError("cannot write the recording");
    return;
  }
  close(fd);
  for (auto _ : state) {
    TRecordingReader reader;
    if (!reader.Open(path, nullptr)) {
      state.SkipWithError("does not open");
      break;
    }
    TReplayRecord record;
    int records = 0;
    while (reader.Next(record)) ++records;
    if (reader.Error().empty() == expectError) {
      state.SkipWithError(("unexpected end: " + reader.Error()).c_str());
      break;
    }
    benchmark::DoNotOptimize(records);
  }
  unlink(path);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

void UnclosedQuote(benchmark::State &state) {
  ReadAll(state, Recording("2024-05-01T14:03:08.000+02:00,1,\"25.5\r\n", Record, ""), true);
}
BENCHMARK(UnclosedQuote)->Unit(benchmark::kMillisecond);

void QuotedFieldOverManyLines(benchmark::State &state) {
  ReadAll(state, Recording("2024-05-01T14:03:08.000+02:00,,,,\"#1M1", "\r\n", "<\"\r\n", 1000000), false);
}
BENCHMARK(QuotedFieldOverManyLines)->Unit(benchmark::kMillisecond);

void PlainRecording(benchmark::State &state) { ReadAll(state, Recording("", Record, ""), false); }
BENCHMARK(PlainRecording)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
