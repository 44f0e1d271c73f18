#pragma once
// The hand-off between worker threads and the GUI thread. A worker queues a call and blocks until
// the GUI thread has run it; the GUI thread is woken through Qt's event loop and drains the queue.
// Waiting for a worker to end drains this queue only, never the general event queue, so user input
// is not re-entered while a port closes.
//
// Without an application object there is no event loop to wake: a worker's call then waits until
// the GUI thread runs CheckSynchronize() or JoinServing(), or until an application object is
// created (which wakes its loop for calls already queued). Before any application object exists
// the GUI thread is the process's main thread; afterwards it is the thread that created it.
#include <QEvent>

#include <exception>
#include <functional>
#include <thread>

// Runs `call` on the GUI thread and returns when it has run. From a worker the call is queued and
// the worker blocks; an exception thrown by the call is rethrown here, in the worker. On the GUI
// thread the call runs at once.
void Synchronize(const std::function<void()> &call);

// GUI thread only (std::logic_error elsewhere): runs the calls queued when it was entered, in
// queue order; returns whether any ran. Exceptions of the calls go back to their workers.
bool CheckSynchronize();

bool IsGuiThread();

struct THandOffCall;

// The same hand-off without the worker waiting at once: Post queues the call and returns, Wait
// blocks until it has run and rethrows what it threw. A worker that has nothing else to do until
// its next event posts and goes back to waiting for the event, and waits for the call only then:
// each hand-off costs the worker one wake-up instead of two. One call at a time: Post first waits
// for the previous one. `onFailure` runs on the GUI thread right after the call, if it threw, so
// that a worker asleep in another wait can be woken to learn of it. On the GUI thread Post runs
// the call at once (a failure is then rethrown by the next Wait).
class TDeferredSync {
public:
  TDeferredSync();
  // Waits for a pending call (a worker) or withdraws it if the GUI thread has not taken it yet.
  ~TDeferredSync();
  TDeferredSync(const TDeferredSync &) = delete;
  TDeferredSync &operator=(const TDeferredSync &) = delete;

  void Post(std::function<void()> call, std::function<void()> onFailure = nullptr);
  // Returns whether it had to block: the call had not run yet when Wait was entered.
  bool Wait();
  // A call was posted and Wait has not returned for it yet.
  bool Pending() const { return FPending; }

private:
  THandOffCall *FItem = nullptr;
  std::function<void()> FCall;
  std::function<void()> FOnFailure;
  bool FPending = false;
};

// The type of the event that wakes the GUI thread for queued calls (posted once per call).
QEvent::Type SynchronizeEventType();

// A worker thread the GUI thread can wait for without deadlocking against its hand-offs.
class TWorkerThread {
public:
  TWorkerThread() = default;
  // Joins serving if the body still runs (see JoinServing).
  ~TWorkerThread();
  TWorkerThread(const TWorkerThread &) = delete;
  TWorkerThread &operator=(const TWorkerThread &) = delete;

  // Starts `body` on a new thread; std::logic_error while a previous body still runs. An exception
  // escaping the body ends the thread and is kept in Failure().
  void Start(std::function<void()> body);
  // True from Start until the body has returned or thrown.
  bool Running() const;
  // Waits until the body has ended. On the GUI thread it runs queued hand-offs while waiting (and
  // nothing else: no events are delivered); elsewhere it just joins. No effect when not started.
  // A body must not join its own thread (std::logic_error).
  void JoinServing();
  // The exception that ended the last body, or null.
  std::exception_ptr Failure() const;

private:
  std::thread FThread;
  // Guarded by the hand-off mutex.
  bool FStarted = false;
  bool FFinished = false;
  std::exception_ptr FFailure;
};
