// --trace's writer: lines wait in a buffer and go out in one write when the stream pauses, after
// at most 100 ms under a steady stream, or when the buffer is large; a reader that goes away ends
// the tracing without ending the program.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <QTimer>
#include <gtest/gtest.h>

#include <chrono>
#include <algorithm>
#include <cmath>
#include <string>

#include "app/window/FormMain.h"
#include "app/records/Trace.h"
#include "instruments/AnVMeter.h"
#include "support/TestSupport.h"

using namespace std::chrono_literals;
using testsupport::RunLoopUntil;

namespace {

struct TPipe {
  int Read = -1, Write = -1;
  TPipe() {
    int fds[2];
    EXPECT_EQ(pipe2(fds, O_CLOEXEC), 0);
    Read = fds[0];
    Write = fds[1];
    fcntl(Read, F_SETFL, O_NONBLOCK);
  }
  ~TPipe() {
    if (Read >= 0) close(Read);
    close(Write);
  }
  std::string Take() {
    std::string out;
    char buf[4096];
    for (ssize_t n; (n = read(Read, buf, sizeof buf)) > 0;) out.append(buf, size_t(n));
    return out;
  }
  bool Readable() {
    pollfd p{Read, POLLIN, 0};
    return poll(&p, 1, 0) == 1;
  }
};

TEST(Trace, linesWaitForAPauseAndThenGoOutInOneWrite) {
  TPipe pipe;
  TTraceWriter trace(pipe.Write);
  for (const char *record : {"#1M1<", "#2M2<", "#3M3<"}) trace.Line(record);
  EXPECT_FALSE(pipe.Readable()) << "written before the stream paused";
  ASSERT_TRUE(RunLoopUntil([&] { return pipe.Readable(); }, 2s, 5ms));
  EXPECT_EQ(pipe.Take(), "#1M1<\n#2M2<\n#3M3<\n");
  EXPECT_EQ(trace.Writes(), 1u);
}

TEST(Trace, aSteadyStreamIsWrittenAtLeastEveryHundredMilliseconds) {
  TPipe pipe;
  TTraceWriter trace(pipe.Write);
  QTimer stream; // a record every 2 ms: the stream never pauses
  int sent = 0;
  std::chrono::steady_clock::time_point first;
  stream.setTimerType(Qt::PreciseTimer);
  stream.callOnTimeout([&] {
    if (sent == 0) first = std::chrono::steady_clock::now();
    trace.Line("#1M" + std::to_string(++sent) + "<");
  });
  stream.start(2);
  ASSERT_TRUE(RunLoopUntil([&] { return pipe.Readable(); }, 2s, 5ms));
  const auto waited = std::chrono::steady_clock::now() - first;
  stream.stop();
  EXPECT_LT(waited, 300ms) << "100 ms at most, with room for a busy host";
  const std::string out = pipe.Take();
  EXPECT_EQ(trace.Writes(), 1u);
  EXPECT_EQ(out.rfind("#1M1<\n", 0), 0u);
  EXPECT_GT(std::count(out.begin(), out.end(), '\n'), 1) << "one write per record";
}

TEST(Trace, aLargeBufferGoesOutAtOnceAndTheRestWhenTheWriterEnds) {
  TPipe pipe;
  fcntl(pipe.Write, F_SETPIPE_SZ, 1 << 20);
  std::string line(99, 'x');
  {
    TTraceWriter trace(pipe.Write);
    std::size_t written = 0;
    while (trace.Writes() == 0) {
      trace.Line(line);
      written += 100;
    }
    EXPECT_GE(written, TTraceWriter::FlushSize);
    EXPECT_EQ(pipe.Take().size(), written);
    trace.Line("last");
  }
  EXPECT_EQ(pipe.Take(), "last\n");
}

TEST(Trace, aReaderThatGoesAwayEndsTheTracingNotTheProgram) {
  TPipe pipe;
  close(pipe.Read);
  pipe.Read = -1;
  TTraceWriter trace(pipe.Write);
  trace.Line("#1M1<");
  trace.Flush(); // EPIPE, and no SIGPIPE
  EXPECT_TRUE(trace.Stopped());
  trace.Line("#1M2<");
  trace.Flush();
  EXPECT_EQ(trace.Writes(), 1u);
}

TEST(Trace, eachRecordShowsTheValueItSetOrWhyItWasDropped) {
  TFormMain form;
  auto *m3 = form.FindComponent<TAnVMeter>("Instr3");
  ASSERT_NE(m3, nullptr);
  struct TCase {
    const char *Record;
    float Value; // NaN: dropped
    const char *Line;
  };
  const TCase cases[] = {
      {"#3M25.5<", 25.5f, "#3M25.5< -> Instr3 = 25.5"},
      {"#3M0.000012345678<", 0.000012345678f, "#3M0.000012345678< -> Instr3 = 1.23457e-05"},
      {"#3M1234567<", 1234567.0f, "#3M1234567< -> Instr3 = 1.23457e+06"},
      {"#3M-40<", -40.0f, "#3M-40< -> Instr3 = -40"},
      {"#12M1<", NAN, "#12M1< -> dropped: no instrument 12 (instruments are 1 to 10)"},
      {"#3MX<", NAN, "#3MX< -> dropped: 'X' is not a value"},
  };
  for (const TCase &c : cases) {
    SCOPED_TRACE(c.Record);
    if (std::isnan(c.Value)) {
      EXPECT_EQ(TraceLine(c.Record, nullptr), c.Line);
      continue;
    }
    m3->SignalSettings().SetValueFrom(-1e7f);
    m3->SignalSettings().SetValueTo(1e7f);
    m3->SetValue(c.Value);
    EXPECT_EQ(TraceLine(c.Record, m3), c.Line);
  }
}

TEST(Trace, eachDiscardOfTheFramerIsOneLineInWords) {
  TPipe pipe;
  TTraceWriter trace(pipe.Write);
  TComDataPacket framer;
  framer.SetStartString("#");
  framer.SetStopString("<");
  framer.SetMaxBufferSize(64);
  TraceDiscards(trace, framer);
  const auto feed = [&](const std::string &s) { framer.Link()->OnRxBuf(nullptr, s.data(), std::int32_t(s.size())); };
  feed("noise#1M1<");
  feed("#2M" + std::string(70, '9'));
  trace.Flush();
  EXPECT_EQ(pipe.Take(), "5 bytes discarded: text outside records\n"
                         "73 bytes discarded: record longer than the 64-byte buffer\n");
}

} // namespace
