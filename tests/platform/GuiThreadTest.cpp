#include "platform/GuiThread.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEvent>
#include <QObject>
#include <QTimer>
#include <gtest/gtest.h>

#include "support/TestSupport.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

namespace {

using testsupport::Deadline;
using testsupport::RunLoopUntil;
using testsupport::TWatchdog;


// A flag one thread raises and another waits for, with a deadline.
class TSignal {
public:
  void Set() {
    std::lock_guard lock(FMutex);
    FSet = true;
    FChanged.notify_all();
  }
  bool Wait() {
    std::unique_lock lock(FMutex);
    return FChanged.wait_for(lock, Deadline, [&] { return FSet; });
  }

private:
  std::mutex FMutex;
  std::condition_variable FChanged;
  bool FSet = false;
};


// Swallows the wake events of queued calls and counts them: once a wake has been seen, its call is
// certainly queued and its worker blocked, and only CheckSynchronize or JoinServing can serve it.
class TWakeEater : public QObject {
public:
  TWakeEater() { QCoreApplication::instance()->installEventFilter(this); }
  ~TWakeEater() override { QCoreApplication::instance()->removeEventFilter(this); }
  int Seen = 0;

protected:
  bool eventFilter(QObject *watched, QEvent *event) override {
    if (event->type() != SynchronizeEventType())
      return QObject::eventFilter(watched, event);
    ++Seen;
    return true;
  }
};

class TEventCounter : public QObject {
public:
  static QEvent::Type Type() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
  }
  int Count = 0;

protected:
  bool event(QEvent *e) override {
    if (e->type() != Type())
      return QObject::event(e);
    ++Count;
    return true;
  }
};

class GuiThread : public ::testing::Test {
protected:
  // Earlier tests leave wake events of calls already served by joining; deliver them now so that a
  // TWakeEater counts only the wakes of its own test.
  void SetUp() override { QCoreApplication::sendPostedEvents(); }
};

TEST_F(GuiThread, isGuiThreadTellsTheGuiThreadFromWorkers) {
  EXPECT_TRUE(IsGuiThread());
  bool onWorker = true;
  std::thread([&] { onWorker = IsGuiThread(); }).join();
  EXPECT_FALSE(onWorker);
}

TEST_F(GuiThread, callsFromTheGuiThreadRunInline) {
  bool ran = false;
  Synchronize([&] { ran = true; });
  EXPECT_TRUE(ran);
  EXPECT_THROW(Synchronize([] { throw std::runtime_error("inline"); }), std::runtime_error);
  EXPECT_FALSE(CheckSynchronize()); // nothing was queued
}

TEST_F(GuiThread, workerBlocksUntilTheGuiThreadHasRunItsCall) {
  std::atomic<int> stage{0};
  int stageSeenByCall = -1;
  bool callRan = false;
  std::thread::id callThread;
  int valueFromCall = 0;   // written by the call, read by the worker after the hand-off
  int valueSeenByWorker = 0;
  TWorkerThread worker;
  worker.Start([&] {
    stage = 1;
    Synchronize([&] {
      callThread = std::this_thread::get_id();
      stageSeenByCall = stage;
      valueFromCall = 42;
      callRan = true;
    });
    valueSeenByWorker = valueFromCall;
    stage = 2;
  });
  ASSERT_TRUE(RunLoopUntil([&] { return callRan; })); // served through the event loop
  EXPECT_EQ(callThread, std::this_thread::get_id());
  EXPECT_EQ(stageSeenByCall, 1);
  worker.JoinServing();
  EXPECT_EQ(stage, 2);
  EXPECT_EQ(valueSeenByWorker, 42);
}

TEST_F(GuiThread, exceptionOfTheCallIsRethrownInTheWorker) {
  struct ECustom {
    int Code;
  };
  struct TCase {
    const char *Name;
    std::function<void()> Throw;
    std::function<bool(std::exception_ptr)> IsExpected;
  };
  const std::vector<TCase> cases = {
      {"std::runtime_error", [] { throw std::runtime_error("Unable to open com port"); },
       [](std::exception_ptr e) {
         try {
           std::rethrow_exception(e);
         } catch (const std::runtime_error &err) {
           return std::string(err.what()) == "Unable to open com port";
         } catch (...) {
         }
         return false;
       }},
      {"custom class", [] { throw ECustom{18}; },
       [](std::exception_ptr e) {
         try {
           std::rethrow_exception(e);
         } catch (const ECustom &err) {
           return err.Code == 18;
         } catch (...) {
         }
         return false;
       }},
  };
  for (const TCase &c : cases) {
    SCOPED_TRACE(c.Name);
    std::exception_ptr caught;
    bool laterCallRan = false;
    TWorkerThread worker;
    worker.Start([&] {
      try {
        Synchronize(c.Throw);
      } catch (...) {
        caught = std::current_exception();
      }
      Synchronize([&] { laterCallRan = true; }); // the hand-off still works afterwards
    });
    ASSERT_TRUE(RunLoopUntil([&] { return laterCallRan; }));
    worker.JoinServing();
    ASSERT_TRUE(caught);
    EXPECT_TRUE(c.IsExpected(caught));
    EXPECT_FALSE(worker.Failure());
  }
}

TEST_F(GuiThread, manyWorkersWithManyCallsRunEachCallExactlyOnceOnTheGuiThread) {
  constexpr int Workers = 8;
  constexpr int Calls = 250;
  std::vector<int> runs(Workers * Calls, 0);
  int total = 0; // touched by the calls only: a call run off the GUI thread would race here
  bool allOnGui = true;
  std::vector<std::unique_ptr<TWorkerThread>> workers;
  for (int w = 0; w < Workers; ++w) {
    workers.push_back(std::make_unique<TWorkerThread>());
    workers.back()->Start([&, w] {
      for (int i = 0; i < Calls; ++i)
        Synchronize([&, w, i] {
          ++runs[w * Calls + i];
          ++total;
          allOnGui = allOnGui && IsGuiThread();
        });
    });
  }
  // Half through the event loop, the rest while joining.
  ASSERT_TRUE(RunLoopUntil([&] { return total >= Workers * Calls / 2; }));
  {
    TWatchdog watchdog("joining many workers");
    for (auto &w : workers)
      w->JoinServing();
  }
  EXPECT_EQ(total, Workers * Calls);
  EXPECT_TRUE(allOnGui);
  for (int i = 0; i < Workers * Calls; ++i)
    ASSERT_EQ(runs[i], 1) << "call " << i;
}

TEST_F(GuiThread, joinServingServesCallsInOrderAndReturnsWhenTheBodyEnds) {
  std::vector<int> order;
  std::atomic<bool> bodyEnded{false};
  TWorkerThread worker;
  EXPECT_FALSE(worker.Running());
  worker.Start([&] {
    for (int i = 0; i < 5; ++i)
      Synchronize([&, i] { order.push_back(i); });
    bodyEnded = true;
  });
  {
    TWatchdog watchdog("JoinServing");
    worker.JoinServing();
  }
  EXPECT_TRUE(bodyEnded);
  EXPECT_FALSE(worker.Running());
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4}));
  worker.JoinServing(); // a second join has nothing to wait for
}

TEST_F(GuiThread, joiningAWorkerBlockedInSynchronizeServesItsCall) {
  struct TCase {
    const char *Name;
    bool ByDestructor;
  };
  for (const TCase c : {TCase{"JoinServing", false}, TCase{"destructor", true}}) {
    SCOPED_TRACE(c.Name);
    bool callRan = false;
    std::atomic<bool> bodyEnded{false};
    auto worker = std::make_unique<TWorkerThread>();
    {
      TWakeEater eater;
      worker->Start([&] {
        Synchronize([&] { callRan = true; });
        bodyEnded = true;
      });
      ASSERT_TRUE(RunLoopUntil([&] { return eater.Seen == 1; }));
    }
    EXPECT_TRUE(worker->Running());
    EXPECT_FALSE(callRan);
    {
      TWatchdog watchdog(c.Name);
      if (c.ByDestructor)
        worker.reset();
      else
        worker->JoinServing();
    }
    EXPECT_TRUE(callRan);
    EXPECT_TRUE(bodyEnded);
  }
}

TEST_F(GuiThread, checkSynchronizeServesACallQueuedWhileTheGuiThreadWasBusy) {
  bool callRan = false;
  TWorkerThread worker;
  {
    TWakeEater eater;
    worker.Start([&] { Synchronize([&] { callRan = true; }); });
    ASSERT_TRUE(RunLoopUntil([&] { return eater.Seen == 1; }));
  }
  EXPECT_FALSE(callRan);
  EXPECT_TRUE(CheckSynchronize());
  EXPECT_TRUE(callRan);
  EXPECT_FALSE(CheckSynchronize());
  worker.JoinServing();
}

TEST_F(GuiThread, joinServingDeliversNoOtherEvents) {
  bool timerRan = false;
  TEventCounter receiver;
  QTimer::singleShot(0, [&] { timerRan = true; });
  QCoreApplication::postEvent(&receiver, new QEvent(TEventCounter::Type()));
  std::vector<bool> otherEventSeenByCall;
  TWorkerThread worker;
  worker.Start([&] {
    for (int i = 0; i < 3; ++i)
      Synchronize([&] { otherEventSeenByCall.push_back(timerRan || receiver.Count > 0); });
  });
  {
    TWatchdog watchdog("JoinServing");
    worker.JoinServing();
  }
  EXPECT_EQ(otherEventSeenByCall, (std::vector<bool>{false, false, false}));
  EXPECT_FALSE(timerRan);
  EXPECT_EQ(receiver.Count, 0);
  // They are delivered by the event loop later.
  EXPECT_TRUE(RunLoopUntil([&] { return timerRan && receiver.Count == 1; }));
}

TEST_F(GuiThread, aCallThatJoinsAnotherWorkerStillServesThatWorkersQueuedCall) {
  // Both workers are blocked in Synchronize; whichever call runs first joins the other worker,
  // whose call is queued behind it.
  TWorkerThread workers[2];
  bool joinedOther = false;
  int callsRun = 0;
  {
    TWakeEater eater;
    for (int i = 0; i < 2; ++i)
      workers[i].Start([&, i] {
        Synchronize([&, i] {
          ++callsRun;
          if (!joinedOther) {
            joinedOther = true;
            workers[1 - i].JoinServing();
          }
        });
      });
    ASSERT_TRUE(RunLoopUntil([&] { return eater.Seen == 2; }));
  }
  {
    TWatchdog watchdog("nested JoinServing");
    CheckSynchronize();
    workers[0].JoinServing();
    workers[1].JoinServing();
  }
  EXPECT_EQ(callsRun, 2);
}

TEST_F(GuiThread, exceptionEscapingTheBodyEndsTheThreadAndIsKept) {
  TWorkerThread worker;
  worker.Start([] { throw std::runtime_error("event thread ended"); });
  worker.JoinServing();
  EXPECT_FALSE(worker.Running());
  ASSERT_TRUE(worker.Failure());
  try {
    std::rethrow_exception(worker.Failure());
  } catch (const std::runtime_error &e) {
    EXPECT_STREQ(e.what(), "event thread ended");
  }
  // The object can run a new body, which clears the failure.
  bool ranAgain = false;
  worker.Start([&] { ranAgain = true; });
  worker.JoinServing();
  EXPECT_TRUE(ranAgain);
  EXPECT_FALSE(worker.Failure());
}

TEST_F(GuiThread, misuseIsRefused) {
  TSignal release;
  TWorkerThread worker;
  bool refusedOnWorker = false;
  worker.Start([&] {
    try {
      CheckSynchronize();
    } catch (const std::logic_error &) {
      refusedOnWorker = true;
    }
    release.Wait();
  });
  EXPECT_TRUE(worker.Running());
  EXPECT_THROW(worker.Start([] {}), std::logic_error);
  release.Set();
  worker.JoinServing();
  EXPECT_TRUE(refusedOnWorker);

  bool selfJoinRefused = false;
  TWorkerThread self;
  TSignal started, attempted; // the thread object is only read by the body between the two
  self.Start([&] {
    started.Wait();
    try {
      self.JoinServing();
    } catch (const std::logic_error &) {
      selfJoinRefused = true;
    }
    attempted.Set();
  });
  started.Set();
  ASSERT_TRUE(attempted.Wait());
  self.JoinServing();
  EXPECT_TRUE(selfJoinRefused);
}

} // namespace

// --- the deferred hand-off --------------------------------------------------------------------

TEST_F(GuiThread, deferredCallsRunInOrderWhileTheWorkerGoesOn) {
  TWakeEater eater; // calls stay queued until the test serves them
  TDeferredSync sync;
  std::vector<int> ran;
  std::atomic<bool> posted{false}, secondPosted{false};
  bool firstSawSecondPosted = true;
  TWorkerThread worker;
  worker.Start([&] {
    sync.Post([&] {
      firstSawSecondPosted = secondPosted.load();
      ran.push_back(1);
    });
    posted = true; // Post returned although nothing has run
    sync.Post([&] { ran.push_back(2); });
    secondPosted = true;
    sync.Wait();
  });
  ASSERT_TRUE(RunLoopUntil([&] { return posted.load(); }));
  EXPECT_TRUE(ran.empty());
  EXPECT_TRUE(sync.Pending());
  ASSERT_TRUE(RunLoopUntil([&] {
    CheckSynchronize();
    return !worker.Running();
  }));
  worker.JoinServing();
  EXPECT_EQ(ran, (std::vector<int>{1, 2}));
  EXPECT_FALSE(firstSawSecondPosted) << "the second Post must wait for the first call";
  EXPECT_FALSE(sync.Pending());
}

TEST_F(GuiThread, aDeferredCallsFailureRunsItsHandlerAndIsRethrownByWait) {
  TDeferredSync sync;
  std::atomic<bool> failureSeen{false};
  std::thread::id failureThread;
  std::string rethrown;
  bool blocked = false;
  TSignal handlerRan;
  TWorkerThread worker;
  worker.Start([&] {
    sync.Post([] { throw std::runtime_error("batch failed"); },
              [&] {
                failureThread = std::this_thread::get_id();
                failureSeen = true;
                handlerRan.Set();
              });
    // Asleep elsewhere (as in a wait for the line) until the failure handler wakes it.
    handlerRan.Wait();
    try {
      blocked = sync.Wait();
    } catch (const std::runtime_error &e) {
      rethrown = e.what();
    }
  });
  ASSERT_TRUE(RunLoopUntil([&] { return !worker.Running(); }));
  worker.JoinServing();
  EXPECT_TRUE(failureSeen);
  EXPECT_EQ(failureThread, std::this_thread::get_id());
  EXPECT_EQ(rethrown, "batch failed");
  EXPECT_FALSE(blocked);
  EXPECT_FALSE(sync.Pending());
}

TEST_F(GuiThread, aDeferredCallOnTheGuiThreadRunsAtOnceAndAnUntakenOneCanBeWithdrawn) {
  TDeferredSync inline_;
  bool ran = false;
  inline_.Post([&] { ran = true; });
  EXPECT_TRUE(ran);
  EXPECT_FALSE(inline_.Wait());
  inline_.Post([] { throw std::runtime_error("inline"); });
  EXPECT_THROW(inline_.Wait(), std::runtime_error);

  // Queued by a worker that ended without waiting: destroying it withdraws the call.
  TWakeEater eater;
  bool queuedRan = false;
  {
    TDeferredSync queued;
    std::thread([&] { queued.Post([&] { queuedRan = true; }); }).join();
    EXPECT_TRUE(queued.Pending());
  }
  EXPECT_FALSE(CheckSynchronize());
  EXPECT_FALSE(queuedRan);
}
