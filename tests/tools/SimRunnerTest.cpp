#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <mutex>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include "tty/PseudoTerminal.h"
#include "support/TestSupport.h"
#include "tools/SimRecords.h"
#include "tools/SimRunner.h"

using namespace std::chrono_literals;
using TClock = std::chrono::steady_clock;

namespace {

// The reading side of a pseudo-terminal, as the program would open it.
class TSlave {
public:
  explicit TSlave(const std::string &path) : FFd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) {}
  ~TSlave() {
    if (FFd >= 0) ::close(FFd);
  }
  int Fd() const { return FFd; }
  // Reads until `done` holds for what has come, or the deadline passes; `wake` readable also
  // ends a wait for data, so that `done` is asked again.
  template <class TDone>
  std::string ReadUntil(TDone done, std::chrono::milliseconds limit = testsupport::Deadline, int wake = -1) {
    const auto deadline = TClock::now() + limit;
    while (!done(FData) && TClock::now() < deadline) {
      char buf[65536];
      const ssize_t n = ::read(FFd, buf, sizeof buf);
      if (n > 0) {
        FData.append(buf, size_t(n));
        continue;
      }
      if (n == 0 || (errno != EAGAIN && errno != EINTR)) break;
      pollfd p[2] = {{FFd, POLLIN, 0}, {wake, POLLIN, 0}};
      ::poll(p, wake >= 0 ? 2 : 1, int(std::chrono::ceil<std::chrono::milliseconds>(deadline - TClock::now()).count()));
    }
    return FData;
  }

private:
  int FFd;
  std::string FData;
};

// The bytes a stream sends, worked out on simulated time.
std::string Expected(const TSimOptions &options) {
  TSimStream stream(options);
  const auto t0 = TSimStream::TTime() + 1s;
  stream.Start(t0);
  std::string all;
  while (!stream.Done()) stream.Take(std::max(stream.NextDeadline(), t0), all);
  return all;
}

struct TRun {
  TPseudoTerminal Pty;
  std::unique_ptr<TSlave> Slave;
  TRun() {
    EXPECT_EQ(Pty.Open(), 0);
    Slave = std::make_unique<TSlave>(Pty.SlavePath());
    EXPECT_GE(Slave->Fd(), 0);
  }
};

} // namespace

TEST(SimRunner, SendsExactlyTheStreamIntoAPseudoTerminal) {
  struct Case {
    const char *name;
    TSimOptions options;
  };
  TSimOptions plain;
  plain.Rate = 100000;
  plain.Count = 500;
  TSimOptions noisy = plain;
  noisy.Garbage = noisy.BadValues = noisy.UnknownInstruments = noisy.Split = true;
  noisy.DecimalSeparator = ',';
  TSimOptions fast;
  fast.Fast = true;
  fast.Count = 20000;
  for (const auto &c : std::vector<Case>{{"plain", plain}, {"noisy and split", noisy}, {"fast", fast}}) {
    SCOPED_TRACE(c.name);
    testsupport::TWatchdog watchdog(c.name);
    TRun run;
    const std::string expected = Expected(c.options);
    TSimulator sim(c.options);
    ASSERT_EQ(sim.Start(run.Pty.MasterFd()), 0);
    const std::string got = run.Slave->ReadUntil([&](const std::string &d) { return d.size() >= expected.size(); });
    sim.Wait();
    EXPECT_EQ(got, expected);
    const TSimResult r = sim.Result();
    EXPECT_EQ(r.Records, c.options.Count);
    EXPECT_EQ(r.Bytes, expected.size());
    EXPECT_EQ(r.Error, 0);
    EXPECT_FALSE(r.Stopped);
    EXPECT_FALSE(sim.Running());
  }
}

TEST(SimRunner, ADurationEndsTheRunByItself) {
  // The end falls between two records: the last Take finds nothing more to send.
  struct Case {
    const char *name;
    bool fast;
  };
  for (const auto &c : std::vector<Case>{{"paced", false}, {"fast", true}}) {
    SCOPED_TRACE(c.name);
    testsupport::TWatchdog watchdog(c.name);
    TRun run;
    TSimOptions o;
    o.Rate = 100;
    o.Duration = 0.25;
    o.Fast = c.fast;
    TSimulator sim(o);
    int finished[2];
    ASSERT_EQ(::pipe2(finished, O_CLOEXEC), 0);
    sim.SetOnFinished([&](const TSimResult &) { (void)!::write(finished[1], "x", 1); });
    ASSERT_EQ(sim.Start(run.Pty.MasterFd()), 0);
    // Read all along: in fast mode a full line would hold the run up.
    std::string got = run.Slave->ReadUntil(
        [&](const std::string &) {
          pollfd p{finished[0], POLLIN, 0};
          return ::poll(&p, 1, 0) == 1;
        },
        testsupport::Deadline, finished[0]);
    sim.Wait();
    ::close(finished[0]);
    ::close(finished[1]);
    const TSimResult r = sim.Result();
    EXPECT_FALSE(r.Stopped);
    EXPECT_EQ(r.Error, 0);
    if (!c.fast) {
      // Due at 0, 10 … 240 ms.
      EXPECT_EQ(r.Records, 25u);
      got = run.Slave->ReadUntil([](const std::string &d) { return std::count(d.begin(), d.end(), '<') >= 25; });
      EXPECT_EQ(simtest::Only(simtest::Parse(got), simtest::TKind::Good).size(), 25u);
    } else {
      EXPECT_GT(r.Records, 0u);
    }
  }
}

TEST(SimRunner, ADurationEndsTheRunAlsoWhenNobodyReads) {
  testsupport::TWatchdog watchdog("duration on a full line");
  TRun run;
  TSimOptions o;
  o.Fast = true;
  o.Duration = 0.2;
  TSimulator sim(o);
  ASSERT_EQ(sim.Start(run.Pty.MasterFd()), 0);
  sim.Wait();
  EXPECT_FALSE(sim.Result().Stopped);
  EXPECT_EQ(sim.Result().Error, 0);
  EXPECT_GT(sim.Result().Bytes, 0u);
}

TEST(SimRunner, FastModeArrivesCompleteAndInOrder) {
  testsupport::TWatchdog watchdog("fast mode");
  TRun run;
  TSimOptions o;
  o.Fast = true;
  o.Split = true; // odd write sizes on top
  o.Count = 300000;
  TSimulator sim(o);
  ASSERT_EQ(sim.Start(run.Pty.MasterFd()), 0);
  TSimFastChecker checker;
  size_t scanned = 0;
  auto feed = [&](const std::string &d) {
    // A framer of its own: "#" to "<".
    for (size_t start; (start = d.find('#', scanned)) != std::string::npos;) {
      const size_t stop = d.find('<', start);
      if (stop == std::string::npos) break;
      checker.Check(std::string_view(d).substr(start, stop + 1 - start));
      scanned = stop + 1;
    }
    return checker.Received() >= o.Count;
  };
  run.Slave->ReadUntil(feed);
  sim.Wait();
  EXPECT_EQ(checker.Received(), o.Count);
  EXPECT_TRUE(checker.Clean()) << checker.Lost() << " lost, " << checker.OutOfOrder() << " out of order, "
                               << checker.Malformed() << " malformed";
  EXPECT_EQ(checker.Expected(), o.Count);
}

TEST(SimRunner, StopIsPrompt) {
  // While the line is full (nobody reads any more), and while the next record is far away.
  struct Case {
    const char *name;
    bool fast;
    double rate;
  };
  for (const auto &c : std::vector<Case>{{"line full", true, 1}, {"next record in 1000 s", false, 0.001}}) {
    SCOPED_TRACE(c.name);
    testsupport::TWatchdog watchdog(c.name);
    TRun run;
    TSimOptions o;
    o.Fast = c.fast;
    o.Rate = c.rate;
    TSimulator sim(o);
    ASSERT_EQ(sim.Start(run.Pty.MasterFd()), 0);
    // The first record shows the run is under way.
    const std::string first = run.Slave->ReadUntil([](const std::string &d) { return d.find('<') != std::string::npos; });
    ASSERT_NE(first.find('<'), std::string::npos);
    EXPECT_TRUE(sim.Running());
    const auto before = TClock::now();
    sim.Stop();
    EXPECT_LT(TClock::now() - before, 500ms);
    EXPECT_TRUE(sim.Result().Stopped);
    EXPECT_EQ(sim.Result().Error, 0);
    EXPECT_FALSE(sim.Running());
  }
}

TEST(SimRunner, AHungUpLineEndsTheRunWithItsError) {
  testsupport::TWatchdog watchdog("hangup");
  TPseudoTerminal pty;
  ASSERT_EQ(pty.Open(), 0);
  // Sending from the slave side, as into a socat pty: the other end goes away.
  const int fd = ::open(pty.SlavePath().c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  pty.CloseMaster();
  TSimOptions o;
  o.Fast = true;
  TSimStream stream(o);
  TSimStop stop;
  const TSimResult r = RunSimulation(fd, stream, stop);
  EXPECT_EQ(r.Error, EIO);
  EXPECT_EQ(r.Bytes, 0u);
  EXPECT_FALSE(r.Stopped);
  // The descriptor was made non-blocking: a blocking write could not be stopped.
  EXPECT_TRUE(::fcntl(fd, F_GETFL) & O_NONBLOCK);
  ::close(fd);
}

TEST(SimRunner, ABadDescriptorIsReported) {
  TSimStream stream(TSimOptions{});
  TSimStop stop;
  EXPECT_EQ(RunSimulation(-1, stream, stop).Error, EBADF);
}

TEST(SimRunner, AStopRaisedBeforeTheRunSendsNothing) {
  TRun run;
  TSimStream stream(TSimOptions{});
  TSimStop stop;
  stop.Raise();
  const TSimResult r = RunSimulation(run.Pty.MasterFd(), stream, stop);
  EXPECT_TRUE(r.Stopped);
  EXPECT_EQ(r.Bytes, 0u);
  EXPECT_EQ(run.Pty.Pending(), 0);
}

TEST(SimRunner, FinishedIsReportedOnceAndASecondStartWaitsItsTurn) {
  testsupport::TWatchdog watchdog("finished");
  TRun run;
  TSimOptions o;
  o.Rate = 1e6;
  o.Count = 100;
  TSimulator sim(o);
  std::mutex m;
  std::vector<TSimResult> reports;
  sim.SetOnFinished([&](const TSimResult &r) {
    std::lock_guard lock(m);
    reports.push_back(r);
  });
  ASSERT_EQ(sim.Start(run.Pty.MasterFd()), 0);
  sim.Wait();
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].Records, 100u);
  EXPECT_FALSE(reports[0].Stopped);

  // A run again on the same simulator, and no second one while it goes on.
  TSimOptions endless;
  TSimulator again(endless);
  ASSERT_EQ(again.Start(run.Pty.MasterFd()), 0);
  EXPECT_EQ(again.Start(run.Pty.MasterFd()), EBUSY);
  again.Stop();
  EXPECT_EQ(again.Start(run.Pty.MasterFd()), 0);
  again.Stop();
  EXPECT_TRUE(again.Result().Stopped);
}
