#pragma once
// What the end-to-end benchmarks share: clocks, the numbered records a writer process puts on a
// pseudo-terminal (fast or paced), and their send times in shared memory for latency figures.
#include <poll.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

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


pid_t StartWriter(int master, const char *mode, std::int64_t count, double rate, std::int64_t *sent) {
  const pid_t pid = fork();
  if (pid == 0) {
    Writer(master, mode, count, rate, sent);
    std::_Exit(0);
  }
  return pid;
}

} // namespace
