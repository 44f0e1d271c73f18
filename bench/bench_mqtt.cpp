// Figures of the broker link against a real mosquitto on loopback, with a counting subscriber in a
// process of its own.
//   bench_mqtt link [rate] [secs] [qos]   the link alone: values handed over at `rate` per second in
//                                         1 ms batches; CPU of this process with and without
//                                         publishing, and what the subscriber missed
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

#include <QCoreApplication>

#include "broker/BrokerLink.h"
#include "tests/support/Mosquitto.h"

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
// memory until it is told to end.
struct TCounter {
  std::atomic<std::int64_t> *count = nullptr;
  pid_t pid = -1;

  void Start(int port, const std::string &prefix, int qos) {
    count = static_cast<std::atomic<std::int64_t> *>(
        mmap(nullptr, sizeof *count, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
    new (count) std::atomic<std::int64_t>(0);
    std::atomic<std::int64_t> *ready = count;
    pid = fork();
    if (pid != 0) {
      // Subscribed: it counts -1 until then.
      while (ready->load() != -1) usleep(1000);
      ready->store(0);
      return;
    }
    mosquitto_lib_init();
    mosquitto *m = mosquitto_new("bench-counter", true, count);
    mosquitto_message_callback_set(m, [](mosquitto *, void *obj, const mosquitto_message *msg) {
      const char *level = std::strrchr(msg->topic, '/');
      if (level && level[1] >= '0' && level[1] <= '9') static_cast<std::atomic<std::int64_t> *>(obj)->fetch_add(1);
    });
    mosquitto_subscribe_callback_set(m, [](mosquitto *, void *obj, int, int, const int *) {
      static_cast<std::atomic<std::int64_t> *>(obj)->store(-1);
    });
    static std::string filter = prefix + "/+";
    static int subQos = qos;
    mosquitto_connect_callback_set(m, [](mosquitto *m, void *, int) { mosquitto_subscribe(m, nullptr, filter.c_str(), subQos); });
    if (mosquitto_connect(m, "127.0.0.1", port, 30) != MOSQ_ERR_SUCCESS) _exit(1);
    mosquitto_loop_forever(m, -1, 1);
    _exit(0);
  }
  // Waits until `expected` arrived or nothing came for two seconds; returns the count.
  std::int64_t WaitFor(std::int64_t expected) {
    std::int64_t last = -1, lastChange = NowNs();
    for (;;) {
      const std::int64_t now = count->load();
      if (now >= expected) return now;
      if (now != last) last = now, lastChange = NowNs();
      if (NowNs() - lastChange > 2000000000) return now;
      usleep(5000);
    }
  }
  void Stop() {
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
  }
};

// Hands `rate` values a second to `link` (or to nobody) in 1 ms batches for `secs` seconds;
// returns this process's CPU seconds over the run.
double Pace(TBrokerLink *link, double rate, double secs) {
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
      if (link) link->Value(int(seq % 10) + 1, std::string_view(text, size_t(n)));
    }
    if (link) link->Flush();
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
  const double idle = Pace(nullptr, rate, secs);
  TBrokerLink link(s);
  link.Start();
  while (link.Counts().State != TBrokerState::Connected) usleep(1000);
  const double busy = Pace(&link, rate, secs);
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

} // namespace

int main(int argc, char **argv) {
  signal(SIGPIPE, SIG_IGN);
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "link") {
    QCoreApplication app(argc, argv);
    return Link(argc > 2 ? std::atof(argv[2]) : 37500, argc > 3 ? std::atof(argv[3]) : 5, argc > 4 ? std::atoi(argv[4]) : 0);
  }
  std::fprintf(stderr, "usage: bench_mqtt link [rate] [secs] [qos]\n");
  return 2;
}
