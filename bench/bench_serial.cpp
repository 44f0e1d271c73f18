// End-to-end serial figures: a writer process feeds a pseudo-terminal; this process runs the
// port, the framer, the measurement handler and ten visible meters, as the program does.
//   bench_serial ingest [records]      saturating ingest, every record checked, plus a bare
//                                      read-and-frame loop on the same pty for the ratio
//   bench_serial paced [rate] [secs]   CPU of this process under a paced load, and idle CPU
//   bench_serial idle [secs]           CPU with the port open and no data
//   bench_serial latency [count]       byte written -> meter value set, p50 and p99
//   bench_serial pixel [rate] [secs]   byte written -> the first paint of its meter that shows
//                                      it, p50, p99 and max over every record
//   bench_serial replay FILE [speed]   a recording replayed: each record's arrival against its
//                                      recorded time, p50, p99 and max of the difference
//                                      (BENCH_LATE=1 lists the records more than 2 ms off)
//   bench_serial replug [count] [secs] the device unplugged and back [count] times: its return ->
//                                      first record on a meter, p50 and p99; then CPU while
//                                      waiting [secs] for a device that does not come back
// With BENCH_HIDDEN=1 the meters stay hidden, which separates the cost of drawing from the rest.
// With BENCH_RECORD=FILE every record is also recorded into FILE (BENCH_RECORD_RAW=1: raw).
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <dirent.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <QApplication>
#include <QEvent>
#include <QEventLoop>
#include <QLabel>
#include <QTimer>

#include "app/window/FormMain.h"
#include "app/startup/Replay.h"
#include "app/window/StatusLine.h"
#include "platform/Application.h"
#include "instruments/AnVMeter.h"
#include "tty/PseudoTerminal.h"
#include "serial/ComDataPacket.h"
#include "serial/ComPort.h"
#include "serial/ComThread.h"

namespace {

std::int64_t NowNs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return std::int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

double CpuSeconds() {
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  return ru.ru_utime.tv_sec + ru.ru_stime.tv_sec + (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

// Record number seq: instrument 1 + seq % 10, value (seq % 1000) / 10, so any lost, doubled or
// reordered record breaks the expected sequence.
// Written by hand: the receiver checks every record, and printf would weigh on the figures.
int FormatRecord(char *out, std::int64_t seq) {
  const int v = int(seq % 1000), instrument = int(1 + seq % 10), whole = v / 10;
  char *p = out;
  *p++ = '#';
  if (instrument == 10) *p++ = '1', *p++ = '0';
  else *p++ = char('0' + instrument);
  *p++ = 'M';
  if (whole >= 10) *p++ = char('0' + whole / 10);
  *p++ = char('0' + whole % 10);
  *p++ = '.';
  *p++ = char('0' + v % 10);
  *p++ = '<';
  *p = '\0';
  return int(p - out);
}

void WriteAll(int fd, const char *p, size_t n) {
  while (n > 0) {
    const ssize_t w = write(fd, p, n);
    if (w > 0) {
      p += w;
      n -= size_t(w);
    } else if (w < 0 && errno == EAGAIN) {
      pollfd pfd{fd, POLLOUT, 0};
      poll(&pfd, 1, 1000);
    } else if (w < 0 && errno != EINTR) {
      std::_Exit(3);
    }
  }
}

// The writer process: records as fast as the pty takes them, or paced by absolute deadlines.
// Send times go to shared memory for the latency figure.
void Writer(int master, const char *mode, std::int64_t count, double rate, std::int64_t *sent) {
  char buf[64 * 1024];
  std::int64_t seq = 0;
  if (std::strcmp(mode, "fast") == 0) {
    while (seq < count) {
      size_t n = 0;
      while (seq < count && n < sizeof buf - 32) n += size_t(FormatRecord(buf + n, seq++));
      WriteAll(master, buf, n);
    }
    return;
  }
  // Paced writes go out once per millisecond, as a USB serial adapter delivers its frames. They
  // start after a pause: right after the fork the receiver copies the pages it shares with this
  // process on first write, which would show as a stall of the first records.
  const timespec settle{0, 300000000};
  nanosleep(&settle, nullptr);
  const std::int64_t start = NowNs();
  for (std::int64_t tick = 1; seq < count; ++tick) {
    const std::int64_t wait = start + tick * 1000000 - NowNs();
    if (wait > 0) {
      timespec ts{time_t(wait / 1000000000), long(wait % 1000000000)};
      nanosleep(&ts, nullptr);
    }
    size_t n = 0;
    const auto due = std::min(count, std::int64_t(double(tick) * rate / 1000.0));
    while (seq < due && n < sizeof buf - 32) {
      if (sent) sent[seq] = NowNs();
      n += size_t(FormatRecord(buf + n, seq++));
    }
    if (n > 0) WriteAll(master, buf, n);
  }
}

// CPU seconds of each thread of this process, by thread name.
std::vector<std::pair<std::string, double>> ThreadCpu() {
  std::vector<std::pair<std::string, double>> out;
  const long hz = sysconf(_SC_CLK_TCK);
  char path[64];
  std::snprintf(path, sizeof path, "/proc/%d/task", int(getpid()));
  if (DIR *d = opendir(path)) {
    while (dirent *e = readdir(d)) {
      if (e->d_name[0] == '.') continue;
      std::string stat;
      if (FILE *f = std::fopen((std::string(path) + "/" + e->d_name + "/stat").c_str(), "r")) {
        char buf[1024];
        stat.assign(buf, std::fread(buf, 1, sizeof buf, f));
        std::fclose(f);
      }
      const size_t open = stat.find('('), close = stat.rfind(')');
      if (open == std::string::npos || close == std::string::npos) continue;
      unsigned long utime = 0, stime = 0;
      // After the name: state, then fields 4..13, then utime and stime.
      std::sscanf(stat.c_str() + close + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu", &utime, &stime);
      out.emplace_back(stat.substr(open + 1, close - open - 1) + "/" + e->d_name, double(utime + stime) / hz);
    }
    closedir(d);
  }
  return out;
}

struct TReceiver {
  std::int64_t expected = 0;
  std::int64_t bad = 0;
  std::vector<std::int64_t> latencies;
  std::int64_t *sent = nullptr;

  void Check(const std::string &record) {
    char want[32];
    const int n = FormatRecord(want, expected);
    if (record.size() != size_t(n) || std::memcmp(record.data(), want, size_t(n)) != 0) ++bad;
    if (sent) latencies.push_back(NowNs() - sent[expected]);
    ++expected;
  }
};

struct TRig {
  TPseudoTerminal pty;
  TFormMain form;
  TComPort port;
  TComDataPacket framer;
  TReceiver rx;

  TRig() {
    if (pty.Open() != 0) {
      std::perror("openpty");
      std::exit(1);
    }
    form.show();
    for (int i = 1; i <= 10; ++i) {
      auto *m = form.FindComponent<TAnVMeter>(QStringLiteral("Instr%1").arg(i));
      m->SetBounds(13 + (i - 1) % 5 * 132, 8 + (i - 1) / 5 * 318, 116, 306);
      if (!getenv("BENCH_HIDDEN")) m->SetVisible(true);
    }
    port.SetPort(pty.SlavePath());
    framer.SetStartString("#");
    framer.SetStopString("<");
    framer.SetIncludeStrings(true);
    framer.SetComPort(&port);
    framer.OnPacket = [this](TObject *s, const std::string &r) {
      rx.Check(r);
      form.ComDataPacket1Packet(s, r);
    };
    // The status line reports on this port and framer, as it does on the window's own.
    form.SetStatusSource(&port, &framer);
    port.SetConnected(true);
    if (const char *file = getenv("BENCH_RECORD")) {
      std::string error;
      if (!form.StartRecording(file, getenv("BENCH_RECORD_RAW") != nullptr, &error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        std::exit(1);
      }
    }
  }

  std::uint64_t Redraws() {
    std::uint64_t n = 0;
    for (int i = 1; i <= 10; ++i) n += form.FindComponent<TAnVMeter>(QStringLiteral("Instr%1").arg(i))->ValueRedrawCount();
    return n;
  }

  // Serves the GUI thread until `n` records arrived or `limitSec` passed.
  void RunUntil(std::int64_t n, double limitSec) {
    const std::int64_t end = NowNs() + std::int64_t(limitSec * 1e9);
    // Wakes the blocking wait once, at the end: a repeating tick would add wake-ups of its own
    // to the idle figures.
    QTimer tick;
    tick.setSingleShot(true);
    tick.setTimerType(Qt::PreciseTimer);
    tick.start(int(limitSec * 1000) + 1);
    while (rx.expected < n && NowNs() < end) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  }
};

pid_t StartWriter(int master, const char *mode, std::int64_t count, double rate, std::int64_t *sent) {
  const pid_t pid = fork();
  if (pid == 0) {
    Writer(master, mode, count, rate, sent);
    std::_Exit(0);
  }
  return pid;
}

int Ingest(std::int64_t count) {
  TRig rig;
  const std::int64_t t0 = NowNs();
  const pid_t w = StartWriter(rig.pty.MasterFd(), "fast", count, 0, nullptr);
  rig.RunUntil(count, 120);
  const double secs = (NowNs() - t0) / 1e9;
  waitpid(w, nullptr, 0);
  std::printf("end-to-end: %lld records in %.3f s = %.0f records/s, %lld lost or misframed, %lld checked\n",
              (long long)count, secs, count / secs, (long long)(count - rig.rx.expected + rig.rx.bad),
              (long long)rig.rx.expected);
  std::printf("status line at the end: %s | %s\n", rig.form.StatusLine1->StateLabel()->text().toUtf8().constData(),
              rig.form.StatusLine1->RateLabel()->text().toUtf8().constData());
  rig.port.SetConnected(false);

  // The same stream read straight from the slave and framed by hand, for the ratio.
  const int fd = open(rig.pty.SlavePath().c_str(), O_RDWR | O_NOCTTY);
  const std::int64_t t1 = NowNs();
  const pid_t w2 = StartWriter(rig.pty.MasterFd(), "fast", count, 0, nullptr);
  std::int64_t records = 0;
  char buf[65536];
  bool inRecord = false;
  while (records < count) {
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n <= 0) break;
    for (ssize_t i = 0; i < n; ++i) {
      if (buf[i] == '#') inRecord = true;
      else if (buf[i] == '<' && inRecord) {
        inRecord = false;
        ++records;
      }
    }
  }
  const double bare = (NowNs() - t1) / 1e9;
  waitpid(w2, nullptr, 0);
  close(fd);
  std::printf("bare read-and-frame: %.0f records/s; end-to-end reaches %.0f %% of it\n", records / bare,
              100.0 * (count / secs) / (records / bare));
  return 0;
}

// The least any program must spend on the same stream: one blocking read() per wake-up into a
// buffer that is thrown away. Returns its CPU in % of one core.
double MinimalReader(TPseudoTerminal &pty, double rate, std::int64_t count) {
  std::int64_t bytes = 0;
  char rec[32];
  for (std::int64_t i = 0; i < count; ++i) bytes += FormatRecord(rec, i);
  const int fd = open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY);
  const double c0 = CpuSeconds();
  const std::int64_t t0 = NowNs();
  const pid_t w = StartWriter(pty.MasterFd(), "paced", count, rate, nullptr);
  char buf[65536];
  std::int64_t got = 0, reads = 0;
  while (got < bytes) {
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n <= 0) break;
    got += n;
    ++reads;
  }
  const double wall = (NowNs() - t0) / 1e9, cpu = CpuSeconds() - c0;
  waitpid(w, nullptr, 0);
  close(fd);
  std::printf("minimal reader (one read() per wake-up): CPU %.2f %% of one core, %.0f reads/s, %lld of %lld bytes\n",
              100 * cpu / wall, reads / wall, (long long)got, (long long)bytes);
  return 100 * cpu / wall;
}

int Paced(double rate, double seconds) {
  TRig rig;
  const auto count = std::int64_t(rate * seconds);
  rig.RunUntil(0, 0.5); // settle the first paints
  const double c0 = CpuSeconds();
  const auto threads0 = ThreadCpu();
  const std::uint64_t r0 = rig.Redraws();
  const std::uint64_t b0 = rig.port.EventThread() ? rig.port.EventThread()->Batches() : 0;
  const std::int64_t t0 = NowNs();
  const pid_t w = StartWriter(rig.pty.MasterFd(), "paced", count, rate, nullptr);
  rig.RunUntil(count, seconds + 30);
  const double wall = (NowNs() - t0) / 1e9, cpu = CpuSeconds() - c0;
  waitpid(w, nullptr, 0);
  rusage child{};
  getrusage(RUSAGE_CHILDREN, &child);
  const double writerCpu = child.ru_utime.tv_sec + child.ru_stime.tv_sec +
                           (child.ru_utime.tv_usec + child.ru_stime.tv_usec) / 1e6;
  const std::uint64_t batches = rig.port.EventThread() ? rig.port.EventThread()->Batches() - b0 : 0;
  std::printf("paced %.0f records/s for %.1f s: CPU %.2f %% of one core, %lld lost or misframed, "
              "%.0f meter redraws/s, %.0f hand-offs/s\n",
              rate, wall, 100 * cpu / wall, (long long)(count - rig.rx.expected + rig.rx.bad),
              double(rig.Redraws() - r0) / wall, batches / wall);
  for (const auto &[name, secs] : ThreadCpu()) {
    double before = 0;
    for (const auto &[n0, s0] : threads0)
      if (n0 == name) before = s0;
    std::printf("  thread %-24s %.2f %% of one core\n", name.c_str(), 100 * (secs - before) / wall);
  }
  // The writer only sleeps and writes once a millisecond: what that alone costs on this machine.
  std::printf("reference: the writer process (1000 wake-ups and writes/s) used %.2f %% of one core\n",
              100 * writerCpu / wall);
  const double c1 = CpuSeconds();
  const std::int64_t t1 = NowNs();
  rig.RunUntil(count + 1, 5); // nothing more arrives: the port idles open
  const double idleWall = (NowNs() - t1) / 1e9;
  std::printf("idle with the port open: CPU %.3f %% of one core over %.1f s\n", 100 * (CpuSeconds() - c1) / idleWall,
              idleWall);
  rig.port.SetConnected(false);
  const double reader = MinimalReader(rig.pty, rate, count);
  std::printf("Telmora / minimal reader: %.2f\n", 100 * cpu / wall / reader);
  return 0;
}

int Idle(double seconds) {
  TRig rig;
  rig.RunUntil(1, 0.5);
  // One value out of range and back first, as a board's glitch would: the blink service must
  // come to rest again afterwards.
  auto *meter = rig.form.FindComponent<TAnVMeter>(QStringLiteral("Instr1"));
  meter->SetValue(meter->SignalSettings().ValueTo() * 2 + 1);
  rig.RunUntil(1, 0.3);
  meter->SetValue(meter->SignalSettings().ValueFrom());
  rig.RunUntil(1, 0.1);
  const TAnFlashTimer *blink = BlinkService();
  const std::uint64_t w0 = blink ? blink->WakeUps() : 0;
  const double c0 = CpuSeconds();
  const std::int64_t t0 = NowNs();
  rig.RunUntil(1, seconds);
  const double wall = (NowNs() - t0) / 1e9;
  std::printf("idle with the port open and no data: CPU %.3f %% of one core over %.1f s\n",
              100 * (CpuSeconds() - c0) / wall, wall);
  std::printf("  after a value out of range and back (blink service %s): %.2f blink wake-ups/s\n",
              blink ? "created" : "NOT created", blink ? double(blink->WakeUps() - w0) / wall : 0.0);
  return 0;
}

int Latency(std::int64_t count) {
  auto *sent = static_cast<std::int64_t *>(
      mmap(nullptr, size_t(count) * sizeof(std::int64_t), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
  TRig rig;
  rig.rx.sent = sent;
  rig.RunUntil(0, 0.5);
  const pid_t w = StartWriter(rig.pty.MasterFd(), "paced", count, 1000, sent);
  rig.RunUntil(count, count / 1000.0 + 30);
  waitpid(w, nullptr, 0);
  auto &l = rig.rx.latencies;
  std::sort(l.begin(), l.end());
  if (l.empty()) return 1;
  std::printf("latency over %zu records at 1000/s: p50 %.1f us, p99 %.1f us, max %.1f us\n", l.size(),
              l[l.size() / 2] / 1e3, l[l.size() * 99 / 100] / 1e3, l.back() / 1e3);
  return 0;
}

// Send times of the records each meter shows but has not painted yet; a meter's paint settles them.
// Taken when its paint starts: the window's buffer goes to the screen in the same pass.
class TPaintWatch : public QObject {
public:
  std::vector<QObject *> meters;
  std::vector<std::vector<std::int64_t>> pending;
  std::vector<std::int64_t> latencies;

  bool eventFilter(QObject *o, QEvent *e) override {
    if (e->type() != QEvent::Paint) return false;
    const std::int64_t now = NowNs();
    for (size_t i = 0; i < meters.size(); ++i)
      if (meters[i] == o) {
        for (const std::int64_t t : pending[i]) latencies.push_back(now - t);
        pending[i].clear();
      }
    return false;
  }
};

int Pixel(double rate, double seconds) {
  const auto count = std::int64_t(rate * seconds);
  auto *sent = static_cast<std::int64_t *>(
      mmap(nullptr, size_t(count) * sizeof(std::int64_t), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
  TRig rig;
  TPaintWatch watch;
  for (int i = 1; i <= 10; ++i) {
    auto *m = rig.form.FindComponent<TAnVMeter>(QStringLiteral("Instr%1").arg(i));
    watch.meters.push_back(m);
    m->installEventFilter(&watch);
  }
  watch.pending.resize(10);
  // Record seq goes to meter 1 + seq % 10 with a value of its own, so every record changes what
  // its meter shows.
  rig.framer.OnPacket = [&](TObject *s, const std::string &r) {
    const std::int64_t seq = rig.rx.expected;
    rig.rx.Check(r);
    rig.form.ComDataPacket1Packet(s, r);
    if (seq < count) watch.pending[size_t(seq % 10)].push_back(sent[seq]);
  };
  rig.RunUntil(0, 0.5);
  const pid_t w = StartWriter(rig.pty.MasterFd(), "paced", count, rate, sent);
  rig.RunUntil(count, seconds + 30);
  rig.RunUntil(count + 1, 0.1); // the last frame's paints
  waitpid(w, nullptr, 0);
  size_t unpainted = 0;
  for (const auto &p : watch.pending) unpainted += p.size();
  auto &l = watch.latencies;
  std::sort(l.begin(), l.end());
  if (l.empty()) return 1;
  std::printf("byte -> pixel over %zu records at %.0f/s: p50 %.2f ms, p99 %.2f ms, max %.2f ms; "
              "%lld lost or misframed, %zu never painted\n",
              l.size(), rate, l[l.size() / 2] / 1e6, l[l.size() * 99 / 100] / 1e6, l.back() / 1e6,
              (long long)(count - rig.rx.expected + rig.rx.bad), unpainted);
  return 0;
}

// Lines in the recording, once the rig (and with it the recording) is gone.
void ReportRecording() {
  const char *file = getenv("BENCH_RECORD");
  if (!file) return;
  std::int64_t lines = 0;
  if (FILE *f = std::fopen(file, "rb")) {
    char buf[65536];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) lines += std::count(buf, buf + n, '\n');
    std::fclose(f);
  }
  std::printf("recording: %lld lines after the header in %s\n", (long long)lines - 1, file);
}

int Replay(const char *file, double speed) {
  std::vector<std::int64_t> recorded;
  {
    TRecordingReader reader;
    std::string error;
    if (!reader.Open(file, &error)) {
      std::fprintf(stderr, "%s\n", error.c_str());
      return 1;
    }
    for (TReplayRecord r; reader.Next(r);) recorded.push_back(r.TimeMs);
  }
  TFormMain form;
  form.show();
  std::vector<std::int64_t> arrived;
  arrived.reserve(recorded.size());
  form.OnMeasurement = [&](const std::string &, const TAnVMeter *) { arrived.push_back(NowNs()); };
  {
    // The window's first paints are done before the first record, as in the other figures.
    QTimer settle;
    settle.start(500);
    const std::int64_t until = NowNs() + 500000000;
    while (NowNs() < until) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  }
  TReplay replay(form);
  std::string error;
  if (!replay.Start(file, speed, &error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  const std::int64_t end = NowNs() + std::int64_t((recorded.back() - recorded.front()) / (speed > 0 ? speed : 1e9) * 1e6) + 30000000000;
  QTimer tick;
  tick.start(100);
  while (arrived.size() < recorded.size() && NowNs() < end) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  if (arrived.size() != recorded.size()) {
    std::fprintf(stderr, "%zu of %zu records arrived\n", arrived.size(), recorded.size());
    return 1;
  }
  // Each record's arrival against its recorded time, both from the first; the median of that is
  // the line's constant delay (the first record's start-up among it), the rest is the error.
  std::vector<double> off;
  for (size_t i = 0; i < recorded.size(); ++i)
    off.push_back((arrived[i] - arrived[0]) / 1e6 - (recorded[i] - recorded[0]) / (speed > 0 ? speed : 1e300));
  std::vector<double> sorted = off;
  std::sort(sorted.begin(), sorted.end());
  const double median = sorted[sorted.size() / 2];
  for (double &o : off) o = std::abs(o - median);
  if (getenv("BENCH_LATE"))
    for (size_t i = 0; i < off.size(); ++i)
      if (off[i] > 2.0) std::printf("  late: record %zu at %.3f s by %.3f ms\n", i, (recorded[i] - recorded[0]) / 1e3, off[i]);
  std::sort(off.begin(), off.end());
  std::printf("constant delay of the first record against the others: %.3f ms\n", median);
  const auto late = std::count_if(off.begin(), off.end(), [](double o) { return o > 2.0; });
  std::printf("replay of %zu records at speed %g: |arrival - recorded time| p50 %.3f ms, p99 %.3f ms, max %.3f ms, "
              "%lld beyond 2 ms\n",
              off.size(), speed, off[off.size() / 2], off[off.size() * 99 / 100], off.back(), (long long)late);
  return 0;
}

// The board sits behind a stable link (as a udev rule gives it); unplugging closes the pty's
// master and removes the link, plugging makes a new pair and the link again. Once the link is
// back the board sends a record every millisecond, as a running board would.
int Replug(int replugs, double waitSeconds) {
  const TExceptionSink previous = SetExceptionSink([](const std::string &) {});
  char dir[] = "/tmp/bench-replug-XXXXXX";
  if (!mkdtemp(dir)) return 1;
  const std::string link = std::string(dir) + "/board";
  TFormMain form;
  form.show();
  form.FindComponent<TAnVMeter>(QStringLiteral("Instr1"))->SetVisible(true);
  std::int64_t seen = 0;
  form.OnMeasurement = [&](const std::string &, const TAnVMeter *meter) { seen += meter != nullptr; };
  auto runFor = [](double secs, const std::function<bool()> &done) {
    QTimer tick; // wakes the loop every millisecond to send and to look at the clock
    tick.setTimerType(Qt::PreciseTimer);
    tick.start(1);
    const std::int64_t until = NowNs() + std::int64_t(secs * 1e9);
    while (!done() && NowNs() < until) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return done();
  };
  TPseudoTerminal pty;
  auto plug = [&] { return pty.Open() == 0 && symlink(pty.SlavePath().c_str(), link.c_str()) == 0; };
  auto unplug = [&] {
    pty.CloseMaster();
    unlink(link.c_str());
    return runFor(5, [&] { return form.WaitingForDevice(); });
  };
  if (!plug()) return 1;
  form.UsePort(link, 0);
  form.ConnectSchnittstelle1->trigger();
  if (!form.ComPort1->Connected()) return 1;
  runFor(0.5, [] { return false; }); // the first paints
  std::vector<double> ms;
  for (int i = 0; i < replugs; ++i) {
    if (!unplug()) {
      std::fprintf(stderr, "replug %d: the loss was not noticed\n", i);
      return 1;
    }
    const std::int64_t before = seen;
    if (!plug()) return 1;
    const std::int64_t t0 = NowNs();
    std::int64_t nextSend = t0;
    const bool back = runFor(5, [&] {
      if (NowNs() >= nextSend) {
        pty.Send("#1M" + std::to_string(i % 100) + "<", std::chrono::milliseconds(0));
        nextSend += 1000000;
      }
      return seen > before;
    });
    if (!back) {
      std::fprintf(stderr, "replug %d: no record within 5 s\n", i);
      return 1;
    }
    ms.push_back((NowNs() - t0) / 1e6);
  }
  std::sort(ms.begin(), ms.end());
  std::printf("replug: device back -> first record on a meter over %zu replugs: p50 %.2f ms, p99 %.2f ms, max %.2f ms\n",
              ms.size(), ms[ms.size() / 2], ms[std::min(ms.size() - 1, ms.size() * 99 / 100)], ms.back());

  if (!unplug()) return 1;
  QTimer end;
  end.setSingleShot(true);
  QEventLoop loop;
  QObject::connect(&end, &QTimer::timeout, &loop, &QEventLoop::quit);
  const double c0 = CpuSeconds();
  const std::int64_t t0 = NowNs();
  end.start(int(waitSeconds * 1000));
  loop.exec();
  const double wall = (NowNs() - t0) / 1e9;
  std::printf("waiting for the device: CPU %.4f %% of one core over %.1f s\n", 100 * (CpuSeconds() - c0) / wall, wall);
  form.DisconnectSchnittstelle1->trigger();
  rmdir(dir);
  SetExceptionSink(previous);
  return 0;
}

} // namespace

int main(int argc, char **argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  signal(SIGPIPE, SIG_IGN);
  QApplication app(argc, argv);
  const std::string mode = argc > 1 ? argv[1] : "ingest";
  if (mode == "ingest") {
    const int rc = Ingest(argc > 2 ? std::atoll(argv[2]) : 2000000);
    ReportRecording();
    return rc;
  }
  if (mode == "replay" && argc > 2) return Replay(argv[2], argc > 3 ? std::atof(argv[3]) : 1);
  if (mode == "paced") return Paced(argc > 2 ? std::atof(argv[2]) : 37500, argc > 3 ? std::atof(argv[3]) : 10);
  if (mode == "idle") return Idle(argc > 2 ? std::atof(argv[2]) : 5);
  if (mode == "replug") return Replug(argc > 2 ? std::atoi(argv[2]) : 20, argc > 3 ? std::atof(argv[3]) : 60);
  if (mode == "latency") return Latency(argc > 2 ? std::atoll(argv[2]) : 5000);
  if (mode == "pixel") return Pixel(argc > 2 ? std::atof(argv[2]) : 1000, argc > 3 ? std::atof(argv[3]) : 10);
  std::fprintf(stderr, "usage: bench_serial ingest [records] | paced [rate] [seconds] | idle [seconds] | "
                       "latency [count] | pixel [rate] [seconds] | replug [count] [seconds] | replay FILE [speed]\n");
  return 2;
}
