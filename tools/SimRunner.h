#pragma once
// Sends a simulated measurement stream into a file descriptor: the master of a pseudo-terminal,
// or a tty of any kind. Waits on the descriptor and on a stop signal together: while the line is
// full, until the next record falls due, never a busy loop, and a stop ends it promptly.
//
// Embedding (the program's demo mode):
//
//   TPseudoTerminal pty;  pty.Open();
//   TSimulator sim(options);
//   sim.Start(pty.MasterFd());          // sends on a thread of its own
//   … open pty.SlavePath() like any port …
//   sim.Stop();                          // before the pty goes
#include "tools/SimStream.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>

struct TSimResult {
  uint64_t Records = 0; // ordinary records generated (the last block may be unsent after a stop)
  uint64_t Bytes = 0;   // bytes the descriptor took
  int Error = 0;        // errno of the write that failed (EIO: the other end hung up), else 0
  bool Stopped = false; // ended by the stop signal before the stream was done
};

// The stop signal: an eventfd that stays readable once raised, so every wait polled together with
// it wakes, plus a flag checked between writes.
class TSimStop {
public:
  TSimStop();
  ~TSimStop();
  TSimStop(const TSimStop &) = delete;
  TSimStop &operator=(const TSimStop &) = delete;

  // False when the eventfd could not be made (see Error()).
  bool Valid() const { return FFd >= 0; }
  int Error() const { return FError; }
  int Fd() const { return FFd; }
  // Safe in a signal handler.
  void Raise();
  bool Raised() const { return FRaised.load(std::memory_order_acquire); }

private:
  int FFd = -1;
  int FError = 0;
  std::atomic<bool> FRaised{false};
};

// Runs `stream` (started here) into `fd` until it is done, the stop is raised or a write fails.
// Makes `fd` non-blocking: a blocking write could not be stopped.
TSimResult RunSimulation(int fd, TSimStream &stream, const TSimStop &stop);

// The simulator on a thread of its own. Start, Stop and Wait belong to the owner's thread.
class TSimulator {
public:
  using TFinishedEvent = std::function<void(const TSimResult &)>;

  explicit TSimulator(const TSimOptions &options);
  // Stops and joins.
  ~TSimulator();
  TSimulator(const TSimulator &) = delete;
  TSimulator &operator=(const TSimulator &) = delete;

  // Called on the simulator's thread when a run ends, whatever the reason; set before Start.
  // It must not call Stop or Wait (they join that very thread): hand the news to another thread.
  void SetOnFinished(TFinishedEvent handler) { FOnFinished = std::move(handler); }
  // Starts sending into `fd`, which stays the caller's and must stay open until Stop or Wait
  // returns. 0, EBUSY while a run is going on, or the errno of making the stop signal.
  int Start(int fd);
  // Ends the run promptly (also while the line is full) and joins the thread. Harmless when
  // nothing runs.
  void Stop();
  // Joins a run that ends by itself (count or duration); blocks until then.
  void Wait();
  // The thread was started and its run has not ended.
  bool Running() const { return FRunning.load(std::memory_order_acquire); }
  // The last run's result; complete once Stop or Wait has returned.
  TSimResult Result() const { return FResult; }

private:
  TSimOptions FOptions;
  TFinishedEvent FOnFinished;
  std::unique_ptr<TSimStop> FStop;
  std::thread FThread;
  std::atomic<bool> FRunning{false};
  TSimResult FResult;
};
