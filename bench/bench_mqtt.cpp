// Figures of the broker link against a real mosquitto on loopback, with a counting subscriber in a
// process of its own.
//   bench_mqtt link [rate] [secs] [qos]   the link alone: values handed over at `rate` per second in
//                                         1 ms batches; CPU of this process with and without
//                                         publishing, and what the subscriber missed
//   bench_mqtt load [rate] [secs] [qos]   the built program (TELMORA=path, default beside this
//                                         binary) on a pseudo-terminal fed at `rate` records/s, once
//                                         without and once with --mqtt: its CPU (all threads, from
//                                         /proc) and the broker's, and what the subscriber missed
//   bench_mqtt fanout P RATE PANELS [secs] P publishing links in this process at RATE values/s
//                                         each, PANELS subscribers to all of them in processes of
//                                         their own: the broker's CPU and what the panels missed
//   bench_mqtt latency [rate] [secs]      the program publishes, this process is the remote panel
//                                         (ten visible meters): byte written -> value set on the
//                                         panel's meter, and -> the meter's first paint showing it
// Needs a display for the program (DISPLAY, or QT_QPA_PLATFORM=offscreen).
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <QApplication>
#include <QEvent>
#include <QFileInfo>
#include <QTimer>

#include <algorithm>
#include <vector>

#include "app/window/FormMain.h"
#include "bench/BenchWriter.h"
#include "broker/BrokerLink.h"
#include "instruments/AnVMeter.h"
#include "tests/support/Mosquitto.h"
#include "tty/PseudoTerminal.h"

namespace {

// CPU seconds of another process (all its threads), from /proc.
double ProcessCpu(pid_t pid) {
  char path[64];
  std::snprintf(path, sizeof path, "/proc/%d/stat", int(pid));
  FILE *f = std::fopen(path, "r");
  if (!f) return 0;
  char buf[1024];
  const size_t n = std::fread(buf, 1, sizeof buf - 1, f);
  std::fclose(f);
  buf[n] = '\0';
  const char *close = std::strrchr(buf, ')');
  unsigned long utime = 0, stime = 0;
  if (close) std::sscanf(close + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu", &utime, &stime);
  return double(utime + stime) / double(sysconf(_SC_CLK_TCK));
}

// The counting subscriber: a process that counts the value messages below `prefix` into shared
// memory (and notes "online" on the status topic) until it is told to end.
struct TCounts {
  std::atomic<std::int64_t> values{0};
  std::atomic<int> subscribed{0}, online{0};
};

struct TCounter {
  TCounts *counts = nullptr;
  pid_t pid = -1;

  void Start(int port, const std::string &prefix, int qos) {
    counts = static_cast<TCounts *>(mmap(nullptr, sizeof(TCounts), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
    new (counts) TCounts;
    pid = fork();
    if (pid != 0) {
      while (counts->subscribed.load() == 0) usleep(1000);
      return;
    }
    mosquitto_lib_init();
    const std::string id = "bench-counter-" + std::to_string(getpid());
    mosquitto *m = mosquitto_new(id.c_str(), true, counts);
    mosquitto_message_callback_set(m, [](mosquitto *, void *obj, const mosquitto_message *msg) {
      auto *c = static_cast<TCounts *>(obj);
      const char *level = std::strrchr(msg->topic, '/');
      if (level && level[1] >= '0' && level[1] <= '9')
        c->values.fetch_add(1);
      else if (level && std::strcmp(level, "/status") == 0)
        c->online.store(msg->payloadlen == 6 && std::memcmp(msg->payload, "online", 6) == 0);
    });
    mosquitto_subscribe_callback_set(m, [](mosquitto *, void *obj, int, int, const int *) {
      static_cast<TCounts *>(obj)->subscribed.store(1);
    });
    static std::string filter = prefix + "/+";
    static int subQos = qos;
    mosquitto_connect_callback_set(m, [](mosquitto *m, void *, int) { mosquitto_subscribe(m, nullptr, filter.c_str(), subQos); });
    if (mosquitto_connect(m, "127.0.0.1", port, 30) != MOSQ_ERR_SUCCESS) _exit(1);
    mosquitto_loop_forever(m, -1, 1);
    _exit(0);
  }
  // Waits until `expected` arrived, nothing came for two seconds, or a minute passed; returns the count.
  std::int64_t WaitFor(std::int64_t expected) {
    std::int64_t last = -1, lastChange = NowNs();
    const std::int64_t giveUp = NowNs() + 60000000000;
    for (;;) {
      const std::int64_t now = counts->values.load();
      if (now >= expected) return now;
      if (now != last) last = now, lastChange = NowNs();
      if (NowNs() - lastChange > 2000000000 || NowNs() > giveUp) return now;
      usleep(5000);
    }
  }
  void Stop() {
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
  }
};

// Hands `rate` values a second to each of `links` (none: to nobody) in 1 ms batches for `secs`
// seconds; returns this process's CPU seconds over the run.
double Pace(const std::vector<TBrokerLink *> &links, double rate, double secs) {
  const std::int64_t count = std::int64_t(rate * secs);
  const double cpu0 = CpuSeconds();
  const std::int64_t start = NowNs();
  char text[32];
  std::int64_t seq = 0;
  for (std::int64_t tick = 1; seq < count; ++tick) {
    const std::int64_t wait = start + tick * 1000000 - NowNs();
    if (wait > 0) {
      timespec ts{time_t(wait / 1000000000), long(wait % 1000000000)};
      nanosleep(&ts, nullptr);
    }
    const auto due = std::min(count, std::int64_t(double(tick) * rate / 1000.0));
    for (; seq < due; ++seq) {
      const int n = std::snprintf(text, sizeof text, "%lld.5", (long long)(seq % 100000));
      for (TBrokerLink *l : links) l->Value(int(seq % 10) + 1, std::string_view(text, size_t(n)));
    }
    for (TBrokerLink *l : links) l->Flush();
  }
  return CpuSeconds() - cpu0;
}

int Link(double rate, double secs, int qos) {
  testsupport::TMosquitto broker;
  broker.Start();
  TCounter counter;
  counter.Start(broker.Port(), "bench/link", qos);
  TBrokerSettings s;
  s.Url = *ParseBrokerUrl(broker.Url(), nullptr);
  s.Prefix = "bench/link";
  s.Qos = qos;
  const double idle = Pace({}, rate, secs);
  TBrokerLink link(s);
  link.Start();
  while (link.Counts().State != TBrokerState::Connected) usleep(1000);
  const double busy = Pace({&link}, rate, secs);
  const std::int64_t expected = std::int64_t(rate * secs);
  const std::int64_t got = counter.WaitFor(expected);
  const TBrokerCounts c = link.Counts();
  std::printf("link at %.0f/s for %.0f s, QoS %d: CPU %.2f %% of a core publishing, %.2f %% without; "
              "%lld values, subscriber got %lld (missed %lld), link dropped %llu, peak queue %zu bytes\n",
              rate, secs, qos, 100 * busy / secs, 100 * idle / secs, (long long)expected, (long long)got,
              (long long)(expected - got), (unsigned long long)c.Dropped, c.PeakQueuedBytes);
  link.Stop();
  counter.Stop();
  return got == expected ? 0 : 1;
}

// The built program: TELMORA, or telmora beside this benchmark's build folder, under a name of its
// own so that a running copy of Telmora does not turn it away.
std::string ProgramPath(const char *self) {
  if (const char *t = std::getenv("TELMORA")) return t;
  return QFileInfo(QString::fromLocal8Bit(self)).absolutePath().toStdString() + "/../app/telmora";
}

struct TProgram {
  pid_t pid = -1;
  std::string dir;
  TProgram(const std::string &program, const std::vector<std::string> &args) {
    dir = testsupport::MakeScratchFolder();
    const std::string own = dir + "/telmora-bench";
    if (link(program.c_str(), own.c_str()) != 0) testsupport::Shell("cp '" + program + "' '" + own + "'");
    pid = fork();
    if (pid == 0) {
      std::vector<char *> argv{const_cast<char *>(own.c_str())};
      const std::string settings = dir + "/t.ini";
      argv.push_back(const_cast<char *>("--settings"));
      argv.push_back(const_cast<char *>(settings.c_str()));
      for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
      argv.push_back(nullptr);
      const int null = open("/dev/null", O_WRONLY);
      dup2(null, 1);
      dup2(null, 2);
      execv(own.c_str(), argv.data());
      _exit(127);
    }
  }
  ~TProgram() {
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    testsupport::Shell("rm -rf '" + dir + "'");
  }
};

// One run of the program on a pseudo-terminal at `rate` records/s, publishing or not.
struct TLoadRun {
  double cpu = 0, brokerCpu = 0, secs = 0;
  std::int64_t sent = 0, got = 0;
};

TLoadRun LoadRun(const std::string &program, testsupport::TMosquitto &broker, pid_t brokerPid, double rate, double secs,
                 int qos, bool publish) {
  TPseudoTerminal pty;
  if (pty.Open() != 0) std::exit(1);
  TCounter counter;
  const std::string prefix = publish ? "bench/load" : "bench/none";
  counter.Start(broker.Port(), prefix, qos);
  std::vector<std::string> args{"--port", pty.SlavePath(), "--connect"};
  std::string url = broker.Url(prefix);
  if (publish) args.insert(args.end(), {"--mqtt", url});
  TProgram telmora(program, args);
  // Its port open and, when publishing, its broker connected; then a quiet settle.
  if (publish)
    for (int i = 0; i < 10000 && !counter.counts->online.load(); ++i) usleep(1000);
  usleep(1500000);
  const std::int64_t count = std::int64_t(rate * secs);
  const double c0 = ProcessCpu(telmora.pid), b0 = ProcessCpu(brokerPid);
  const std::int64_t t0 = NowNs();
  const pid_t w = StartWriter(pty.MasterFd(), "paced", count, rate, nullptr);
  waitpid(w, nullptr, 0);
  TLoadRun r;
  r.secs = (NowNs() - t0) / 1e9;
  r.cpu = ProcessCpu(telmora.pid) - c0;
  r.brokerCpu = ProcessCpu(brokerPid) - b0;
  r.sent = count;
  r.got = publish ? counter.WaitFor(count) : 0;
  counter.Stop();
  return r;
}

int Load(const char *self, double rate, double secs, int qos) {
  testsupport::TMosquitto broker;
  broker.Start();
  const pid_t brokerPid = broker.Pid();
  const std::string program = ProgramPath(self);
  const TLoadRun off = LoadRun(program, broker, brokerPid, rate, secs, qos, false);
  const TLoadRun on = LoadRun(program, broker, brokerPid, rate, secs, qos, true);
  std::printf("load %.0f records/s for %.0f s, QoS %d: telmora %.2f %% of a core without publishing, %.2f %% with "
              "(+%.2f); mosquitto %.2f %%; %lld records, subscriber got %lld, lost %lld\n",
              rate, secs, qos, 100 * off.cpu / off.secs, 100 * on.cpu / on.secs, 100 * (on.cpu / on.secs - off.cpu / off.secs),
              100 * on.brokerCpu / on.secs, (long long)on.sent, (long long)on.got, (long long)(on.sent - on.got));
  return on.got == on.sent ? 0 : 1;
}

// Send times of the records each panel meter took but has not painted yet; a paint settles them.
class TPanelWatch : public QObject {
public:
  std::vector<QObject *> meters;
  std::vector<std::vector<std::int64_t>> pending = std::vector<std::vector<std::int64_t>>(10);
  std::vector<std::int64_t> toValue, toPixel;
  bool eventFilter(QObject *o, QEvent *e) override {
    if (e->type() != QEvent::Paint) return false;
    const std::int64_t now = NowNs();
    for (size_t i = 0; i < meters.size(); ++i)
      if (meters[i] == o) {
        for (const std::int64_t t : pending[i]) toPixel.push_back(now - t);
        pending[i].clear();
      }
    return false;
  }
};

void Percentiles(const char *what, std::vector<std::int64_t> &l) {
  std::sort(l.begin(), l.end());
  if (l.empty()) return;
  std::printf("  %s over %zu records: p50 %.2f ms, p99 %.2f ms, max %.2f ms\n", what, l.size(), l[l.size() / 2] / 1e6,
              l[l.size() * 99 / 100] / 1e6, l.back() / 1e6);
}

int Latency(const char *self, double rate, double secs) {
  testsupport::TMosquitto broker;
  broker.Start();
  TPseudoTerminal pty;
  if (pty.Open() != 0) return 1;
  const std::int64_t count = std::int64_t(rate * secs);
  auto *sent = static_cast<std::int64_t *>(
      mmap(nullptr, size_t(count) * sizeof(std::int64_t), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
  TFormMain panel;
  panel.show();
  TPanelWatch watch;
  for (int i = 1; i <= 10; ++i) {
    auto *m = panel.FindComponent<TAnVMeter>(QStringLiteral("Instr%1").arg(i));
    m->SetBounds(13 + (i - 1) % 5 * 132, 8 + (i - 1) / 5 * 318, 116, 306);
    m->SetVisible(true);
    m->installEventFilter(&watch);
    watch.meters.push_back(m);
  }
  std::int64_t expected = 0, bad = 0;
  panel.OnRemoteMeasurement = [&](const std::string &text, const TAnVMeter *m, const std::string &) {
    if (text.size() > 9 && text.compare(text.size() - 9, 9, " (stored)") == 0) return;
    char want[32];
    FormatRecord(want, expected);
    const int instrument = int(1 + expected % 10);
    if (!m || m->objectName() != QStringLiteral("Instr%1").arg(instrument) || m->Value() != float(expected % 1000) / 10)
      ++bad;
    if (expected < count) {
      const std::int64_t age = NowNs() - sent[expected];
      watch.toValue.push_back(age);
      watch.pending[size_t(instrument - 1)].push_back(sent[expected]);
    }
    ++expected;
  };
  panel.UseBroker(broker.Url("bench/lat"), true);
  const auto run = [&](double limit, const std::function<bool()> &done) {
    const std::int64_t end = NowNs() + std::int64_t(limit * 1e9);
    QTimer tick;
    tick.start(50);
    while (!done() && NowNs() < end) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  };
  run(10, [&] { return panel.BrokerLink() && panel.BrokerLink()->Counts().State == TBrokerState::Connected; });
  TProgram telmora(ProgramPath(self), {"--port", pty.SlavePath(), "--connect", "--mqtt", broker.Url("bench/lat")});
  run(3, [] { return false; }); // its port and broker connection
  const pid_t w = StartWriter(pty.MasterFd(), "paced", count, rate, sent);
  run(secs + 30, [&] { return expected >= count; });
  run(0.1, [] { return false; }); // the last frame's paints
  waitpid(w, nullptr, 0);
  std::printf("latency at %.0f records/s over %.0f s through mosquitto: %lld of %lld records on the panel, %lld out of order or wrong\n",
              rate, secs, (long long)expected, (long long)count, (long long)bad);
  Percentiles("byte -> value on the panel's meter", watch.toValue);
  Percentiles("byte -> the panel meter's paint", watch.toPixel);
  return expected == count && bad == 0 ? 0 : 1;
}


// Several publishers, several panels, one broker: what it carries and what it costs.
int Fanout(int publishers, double rate, int panels, double secs) {
  testsupport::TMosquitto broker;
  broker.Start();
  std::vector<TCounter> counters(static_cast<std::size_t>(panels));
  for (TCounter &c : counters) c.Start(broker.Port(), "bench/fan/+", 0);
  std::vector<std::unique_ptr<TBrokerLink>> links;
  for (int i = 0; i < publishers; ++i) {
    TBrokerSettings s;
    s.Url = *ParseBrokerUrl(broker.Url(), nullptr);
    s.Prefix = "bench/fan/p" + std::to_string(i);
    links.push_back(std::make_unique<TBrokerLink>(s));
    links.back()->Start();
  }
  for (auto &l : links)
    while (l->Counts().State != TBrokerState::Connected) usleep(1000);
  // Status and descriptions are not counted: the panels count from zero once all are connected.
  usleep(300000);
  for (TCounter &c : counters) c.counts->values.store(0);
  const std::int64_t count = std::int64_t(rate * secs);
  const double b0 = ProcessCpu(broker.Pid()), c0 = CpuSeconds();
  const std::int64_t start = NowNs();
  std::vector<TBrokerLink *> publishing;
  for (auto &l : links) publishing.push_back(l.get());
  Pace(publishing, rate, secs);
  const double sending = (NowNs() - start) / 1e9;
  std::int64_t missed = 0;
  for (TCounter &c : counters) missed += count * publishers - c.WaitFor(count * publishers);
  // Over the whole run, until the last panel has the last value: a broker that falls behind
  // works on after the publishers are done.
  const double wall = (NowNs() - start) / 1e9;
  const double brokerCpu = ProcessCpu(broker.Pid()) - b0, ownCpu = CpuSeconds() - c0;
  std::printf("fanout: %d publishers x %.0f values/s, %d panels: broker in %.0f/s, out %.0f/s; all delivered %.2f s "
              "after %.2f s of sending; mosquitto %.1f %% of a core, the publishing process %.1f %%; panels missed %lld\n",
              publishers, rate, panels, publishers * rate, publishers * rate * panels, wall - sending, sending,
              100 * brokerCpu / wall, 100 * ownCpu / wall, (long long)missed);
  for (auto &l : links) l->Stop();
  for (TCounter &c : counters) c.Stop();
  return missed == 0 ? 0 : 1;
}
} // namespace

int main(int argc, char **argv) {
  signal(SIGPIPE, SIG_IGN);
  const std::string mode = argc > 1 ? argv[1] : "";
  const double rate = argc > 2 ? std::atof(argv[2]) : mode == "latency" ? 1000 : 37500;
  const double secs = argc > 3 ? std::atof(argv[3]) : 5;
  const int qos = argc > 4 ? std::atoi(argv[4]) : 0;
  if (mode == "link") {
    QCoreApplication app(argc, argv);
    return Link(rate, secs, qos);
  }
  if (mode == "load") {
    QCoreApplication app(argc, argv);
    return Load(argv[0], rate, secs, qos);
  }
  if (mode == "fanout") {
    QCoreApplication app(argc, argv);
    return Fanout(argc > 2 ? std::atoi(argv[2]) : 4, argc > 3 ? std::atof(argv[3]) : 1000, argc > 4 ? std::atoi(argv[4]) : 2,
                  argc > 5 ? std::atof(argv[5]) : 5);
  }
  if (mode == "latency") {
    QApplication app(argc, argv);
    return Latency(argv[0], rate, secs);
  }
  std::fprintf(stderr, "usage: bench_mqtt link|load [rate] [secs] [qos] | fanout P RATE PANELS [secs] | latency [rate] [secs]\n");
  return 2;
}
