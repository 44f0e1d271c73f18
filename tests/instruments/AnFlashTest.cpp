#include "instruments/AnFlashT.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTimer>
#include <QWidget>
#include <gtest/gtest.h>

#include "support/TestSupport.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/Application.h"
#include "platform/GuiThread.h"

using namespace std::chrono_literals;

namespace {

using testsupport::Deadline;
using testsupport::RunLoopUntil;
using testsupport::TWatchdog;



using TMessages = std::vector<std::pair<std::uint32_t, std::int32_t>>;

class TRecordingClient : public TBlinkClient {
public:
  TMessages Got;
  bool AllOnGuiThread = true;
  std::function<void()> OnTick; // runs after the message is recorded

  void BlinkTick(std::uint32_t TickCounter, std::int32_t State) override {
    Got.emplace_back(TickCounter, State);
    AllOnGuiThread = AllOnGuiThread && IsGuiThread();
    if (OnTick)
      OnTick();
  }
};

class TBlinkWidget : public QWidget, public TBlinkClient {
public:
  using QWidget::QWidget;
  int Ticks = 0;
  void BlinkTick(std::uint32_t, std::int32_t) override { ++Ticks; }
};

struct TProcCall {
  std::uint32_t Counter;
  std::int32_t State;
  std::int32_t Code;
  bool operator==(const TProcCall &) const = default;
};

// Callback clients are plain routines, so they record into a global.
std::vector<TProcCall> GProcCalls;
void RecordProc(std::uint32_t counter, std::int32_t state, std::int32_t code) {
  GProcCalls.push_back({counter, state, code});
}

void EndService() {
  SetApplicationShuttingDown(true);
  SetApplicationShuttingDown(false);
}

// Drives the service by hand on a fake clock: ticks are 16 ms apart and the service's own thread
// is paused, so nothing but Ticks() reaches the clients.
class BlinkList : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_EQ(BlinkService(), nullptr);
    FPreviousClock = SetBlinkClock([this] { return Now; });
    GProcCalls.clear();
  }
  void TearDown() override {
    EXPECT_EQ(BlinkClientCount(), 0);
    EndService();
    EXPECT_EQ(BlinkService(), nullptr);
    SetBlinkClock(std::move(FPreviousClock));
  }

  static void Pause() {
    if (TAnFlashTimer *service = BlinkService())
      service->SetEnabled(false);
  }
  static void Register(TBlinkClient *client, std::int32_t code) {
    BlinkRegister(client, code);
    Pause();
  }
  void Ticks(int n) {
    ASSERT_NE(BlinkService(), nullptr);
    for (int i = 0; i < n; ++i) {
      Now += 16;
      BlinkService()->BlinkTick();
    }
  }

  std::int64_t Now = 0;

private:
  TBlinkClock FPreviousClock;
};

TEST_F(BlinkList, eachRateCodeIsServedOnItsTicks) {
  struct TCase {
    std::int32_t Code;
    int Ticks;
    TMessages Expected;
  };
  const std::vector<TCase> cases = {
      // Blink codes: bit `Code` of the counter, reported when it flips.
      {2, 20, {{4, 1}, {8, 0}, {12, 1}, {16, 0}, {20, 1}}},
      {3, 40, {{8, 1}, {16, 0}, {24, 1}, {32, 0}, {40, 1}}},
      {4, 70, {{16, 1}, {32, 0}, {48, 1}, {64, 0}}},
      {5, 130, {{32, 1}, {64, 0}, {96, 1}, {128, 0}}},
      {6, 260, {{64, 1}, {128, 0}, {192, 1}, {256, 0}}},
      // Once per second: the service started at 0 ms, ticks come at 16 ms steps.
      {32, 200, {{63, 0}, {125, 0}, {188, 0}}},
      // Periods in ms with their lateness: the schedule keeps its pace on average.
      {100, 40, {{7, 12}, {13, 8}, {19, 4}, {25, 0}, {32, 12}, {38, 8}}},
      {50, 10, {{4, 14}, {7, 12}, {10, 10}}},
      // 1, 7 and 0 are periods too, shorter than a tick: they fire every tick, ever later.
      {1, 3, {{1, 15}, {2, 30}, {3, 45}}},
      {7, 3, {{1, 9}, {2, 18}, {3, 27}}},
      {0, 3, {{1, 16}, {2, 32}, {3, 48}}},
  };
  for (const TCase &c : cases) {
    SCOPED_TRACE("code " + std::to_string(c.Code));
    Now = 0;
    {
      TRecordingClient client;
      Register(&client, c.Code);
      Ticks(c.Ticks);
      EXPECT_EQ(client.Got, c.Expected);
    }
    EndService(); // the next case starts with a fresh counter
  }
}

TEST_F(BlinkList, callbackRoutinesGetCounterStateAndCode) {
  BlinkRegister(&RecordProc, 3);
  Pause();
  Ticks(16);
  EXPECT_EQ(GProcCalls, (std::vector<TProcCall>{{8, 1, 3}, {16, 0, 3}}));
  GProcCalls.clear();
  BlinkRegister(&RecordProc, 100); // the same routine: its code is replaced
  EXPECT_EQ(BlinkClientCount(), 1);
  Ticks(7); // due at 356 ms, served at 368 ms
  EXPECT_EQ(GProcCalls, (std::vector<TProcCall>{{23, 12, 100}}));
  BlinkUnregister(&RecordProc);
  EXPECT_EQ(BlinkClientCount(), 0);
}

TEST_F(BlinkList, clientMoreThanASecondBehindIsRescheduledFromNow) {
  BlinkRegister(&RecordProc, 100); // due at 100
  Pause();
  Now = 1500;
  BlinkService()->BlinkTick(); // 1400 late: served with lateness 0, next due 1600
  Now = 1616;
  BlinkService()->BlinkTick();
  Now = 1700;
  BlinkService()->BlinkTick();
  EXPECT_EQ(GProcCalls, (std::vector<TProcCall>{{1, 0, 100}, {2, 16, 100}, {3, 0, 100}}));
  BlinkUnregister(&RecordProc);
}

TEST_F(BlinkList, registeringAgainReplacesCodeAndDueTimeWithoutASecondItem) {
  BlinkRegister(&RecordProc, 100);
  Pause();
  Now = 90;
  BlinkRegister(&RecordProc, 100); // due again: 190
  EXPECT_EQ(BlinkClientCount(), 1);
  Ticks(7); // 106 … 202
  EXPECT_EQ(GProcCalls, (std::vector<TProcCall>{{7, 12, 100}}));
  BlinkUnregister(&RecordProc);

  TRecordingClient meter;
  Register(&meter, 4);
  Register(&meter, 4);
  Register(&meter, 2);
  EXPECT_EQ(BlinkClientCount(), 1);
  Ticks(4); // counter 8 … 11 after the 7 ticks above: bit 2 set from 12 on
  Ticks(1);
  EXPECT_EQ(meter.Got, (TMessages{{12, 1}}));
}

TEST_F(BlinkList, registrationsWithoutAClientAndRemovalsOfUnlistedOnesDoNothing) {
  BlinkRegister(static_cast<TBlinkClient *>(nullptr), 4);
  BlinkRegister(static_cast<TBlinkProc>(nullptr), 4);
  EXPECT_EQ(BlinkClientCount(), 0);
  EXPECT_EQ(BlinkService(), nullptr); // no client, no service
  TRecordingClient listed, unlisted;
  Register(&listed, 4);
  BlinkUnregister(&unlisted);
  BlinkUnregister(&RecordProc);
  BlinkUnregister(static_cast<TBlinkClient *>(nullptr));
  EXPECT_EQ(BlinkClientCount(), 1);
  BlinkUnregister(&listed);
  EXPECT_EQ(BlinkClientCount(), 0);
  EXPECT_NE(BlinkService(), nullptr); // kept until the application shuts down
}

TEST_F(BlinkList, unregisteringInsideATickEndsThatPass) {
  TRecordingClient first, second, third;
  first.OnTick = [&] {
    if (first.Got.size() == 1)
      BlinkUnregister(&third);
  };
  Register(&first, 2);
  Register(&second, 2);
  Register(&third, 2);
  Ticks(5);
  EXPECT_EQ(first.Got, (TMessages{{4, 1}}));
  // The pass of tick 4 ended at the removal; the flip reaches the second client one tick late.
  EXPECT_EQ(second.Got, (TMessages{{5, 1}}));
  EXPECT_TRUE(third.Got.empty());
  second.OnTick = [&] { BlinkUnregister(&second); }; // removing itself
  Ticks(3);
  EXPECT_EQ(first.Got, (TMessages{{4, 1}, {8, 0}}));
  EXPECT_EQ(second.Got, (TMessages{{5, 1}, {8, 0}}));
  EXPECT_EQ(BlinkClientCount(), 1);
  BlinkUnregister(&first);
}

TEST_F(BlinkList, clientDestroyedWhileRegisteredIsNeverCalledAgain) {
  int laterCalls = 0;
  struct TCountingClient : TBlinkClient {
    int *Calls;
    explicit TCountingClient(int *calls) : Calls(calls) {}
    void BlinkTick(std::uint32_t, std::int32_t) override { ++*Calls; }
  };
  TRecordingClient first;
  auto later = std::make_unique<TCountingClient>(&laterCalls);
  first.OnTick = [&] { later.reset(); }; // destroyed inside the pass that would reach it next
  Register(&first, 2);
  Register(later.get(), 2);
  Ticks(8);
  EXPECT_EQ(laterCalls, 0);
  EXPECT_EQ(first.Got, (TMessages{{4, 1}, {8, 0}}));
  EXPECT_EQ(BlinkClientCount(), 1);

  auto parent = std::make_unique<QWidget>();
  auto *meter = new TBlinkWidget(parent.get());
  Register(meter, 2);
  EXPECT_EQ(BlinkClientCount(), 2);
  parent.reset(); // the widget goes with its parent and leaves the list
  EXPECT_EQ(BlinkClientCount(), 1);
  Ticks(8);
  EXPECT_EQ(first.Got.size(), 4u);
  BlinkUnregister(&first);
}

TEST_F(BlinkList, whileShuttingDownNobodyIsNotifiedAndTheLastRemovalFreesTheService) {
  TRecordingClient a, b;
  Register(&a, 2);
  Register(&b, 2);
  SetApplicationShuttingDown(true);
  Ticks(8);
  EXPECT_TRUE(a.Got.empty());
  BlinkUnregister(&a);
  EXPECT_NE(BlinkService(), nullptr);
  BlinkUnregister(&b);
  EXPECT_EQ(BlinkService(), nullptr);
  SetApplicationShuttingDown(false);
}

TEST_F(BlinkList, rangeFailuresOfAClientAreSwallowedOthersEndThePass) {
  struct TCase {
    const char *Name;
    std::function<void()> Throw;
    bool Swallowed;
  };
  const std::vector<TCase> cases = {
      {"overflow", [] { throw std::overflow_error("Integer overflow"); }, true},
      {"range", [] { throw std::out_of_range("Range check error"); }, true},
      {"other", [] { throw std::runtime_error("broken client"); }, false},
  };
  for (const TCase &c : cases) {
    SCOPED_TRACE(c.Name);
    Now = 0;
    {
      TRecordingClient failing, next;
      failing.OnTick = c.Throw;
      Register(&failing, 2);
      Register(&next, 2);
      Ticks(3);
      Now += 16;
      if (c.Swallowed) {
        EXPECT_NO_THROW(BlinkService()->BlinkTick());
        EXPECT_EQ(next.Got, (TMessages{{4, 1}}));
      } else {
        EXPECT_THROW(BlinkService()->BlinkTick(), std::runtime_error);
        EXPECT_TRUE(next.Got.empty());
      }
    }
    EndService();
  }
}

TEST(AnFlashTimer, secondInstanceIsRefused) {
  ASSERT_EQ(BlinkService(), nullptr);
  auto first = std::make_unique<TAnFlashTimer>();
  try {
    TAnFlashTimer second;
    ADD_FAILURE() << "a second instance was created";
  } catch (const EAnFlashTimer &e) {
    EXPECT_EQ(std::string(e.what()), "Only one TAnFlashTimer per Application!\nRemove it...");
  }
  TRecordingClient client; // the service cannot start beside it either
  EXPECT_THROW(BlinkRegister(&client, 4), EAnFlashTimer);
  BlinkUnregister(&client);
  first.reset();
  EXPECT_NO_THROW(TAnFlashTimer again);
}

// ---- The timer thread, in real time ----------------------------------------------------------

TEST(AnFlash, threadRunsOnlyWhenEnabledWithAHandlerAndAPositiveInterval) {
  struct TCase {
    bool Enabled;
    std::int32_t Interval;
    bool Handler;
    bool Runs;
  };
  const std::vector<TCase> cases = {
      {true, 16, true, true}, {false, 16, true, false}, {true, 0, true, false},
      {true, -5, true, false}, {true, 16, false, false},
  };
  TWatchdog watchdog("thread start conditions");
  for (const TCase &c : cases) {
    SCOPED_TRACE(testing::Message() << c.Enabled << " " << c.Interval << " " << c.Handler);
    TAnFlash flash;
    int calls = 0;
    flash.SetInterval(c.Interval);
    flash.SetEnabled(c.Enabled);
    if (c.Handler)
      flash.SetOnTimer([&](TObject *sender) {
        EXPECT_EQ(sender, &flash);
        ++calls;
      });
    EXPECT_EQ(flash.ThreadRunning(), c.Runs);
    flash.Tick();
    EXPECT_EQ(calls, c.Enabled && c.Handler ? 1 : 0);
  }
  TAnFlash flash; // a handler taken away pauses the thread
  flash.SetOnTimer([](TObject *) {});
  EXPECT_TRUE(flash.ThreadRunning());
  flash.SetOnTimer(nullptr);
  EXPECT_FALSE(flash.ThreadRunning());
}

TEST(AnFlash, ticksArriveOnTheGuiThread) {
  TWatchdog watchdog("ticks");
  TAnFlash flash;
  int ticks = 0;
  bool allOnGui = true;
  flash.SetOnTimer([&](TObject *) {
    ++ticks;
    allOnGui = allOnGui && IsGuiThread();
  });
  ASSERT_TRUE(RunLoopUntil([&] { return ticks >= 5; }));
  EXPECT_TRUE(allOnGui);
  flash.Stop();
  EXPECT_FALSE(flash.ThreadRunning());
}

TEST(AnFlash, stopEndsTheThreadWithoutWaitingOutThePeriod) {
  TWatchdog watchdog("prompt stop");
  TAnFlash flash;
  bool slowed = false;
  flash.SetOnTimer([&](TObject *) {
    if (slowed)
      return;
    slowed = true;
    flash.SetInterval(5000); // taken over by the re-apply below: the next period lasts 5 s
    flash.SetEnabled(false);
    flash.SetEnabled(true);
  });
  ASSERT_TRUE(RunLoopUntil([&] { return slowed; }));
  // A second timer's ticks let the first worker settle into its long wait.
  TAnFlash other;
  int otherTicks = 0;
  other.SetOnTimer([&](TObject *) { ++otherTicks; });
  ASSERT_TRUE(RunLoopUntil([&] { return otherTicks >= 2; }));
  const auto start = std::chrono::steady_clock::now();
  flash.Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 100ms);
  EXPECT_FALSE(flash.ThreadRunning());
}

TEST(AnFlash, stoppedInsideItsOwnTickItCanBeEnabledAgain) {
  TWatchdog watchdog("stop in tick");
  TAnFlash flash;
  int ticks = 0;
  flash.SetOnTimer([&](TObject *) {
    if (++ticks == 1)
      flash.Stop(); // cannot join here: the worker waits for this very tick
  });
  ASSERT_TRUE(RunLoopUntil([&] { return ticks == 1; }));
  EXPECT_FALSE(flash.ThreadRunning());
  EXPECT_FALSE(flash.Enabled());
  flash.SetEnabled(true);
  ASSERT_TRUE(RunLoopUntil([&] { return ticks >= 3; }));
}

TEST(AnFlash, destroyedInsideItsOwnTickDoesNotDeadlock) {
  TWatchdog watchdog("destroyed in tick");
  auto *flash = new TAnFlash;
  int ticks = 0;
  flash->SetOnTimer([&](TObject *) {
    ++ticks;
    delete flash;
  });
  ASSERT_TRUE(RunLoopUntil([&] { return ticks == 1; }));
  QCoreApplication::sendPostedEvents(); // the deferred join of its worker
  QCoreApplication::processEvents();
  EXPECT_EQ(ticks, 1);
}

TEST(AnFlash, failingHandlerIsShownAndTheTimerGoesOn) {
  TWatchdog watchdog("failing handler");
  std::vector<std::string> shown;
  TExceptionSink previous = SetExceptionSink([&](const std::string &message) { shown.push_back(message); });
  {
    TAnFlash flash;
    int ticks = 0;
    flash.SetOnTimer([&](TObject *) {
      if (++ticks == 1)
        throw std::runtime_error("tick failed");
    });
    ASSERT_TRUE(RunLoopUntil([&] { return ticks >= 3; }));
  }
  SetExceptionSink(std::move(previous));
  EXPECT_EQ(shown, (std::vector<std::string>{"tick failed"}));
}

// The wake-ups are counted, not timed: with no client the worker sits in a wait without a timeout,
// so a span of several periods must pass without a single one.
TEST(AnFlash, serviceRestsWithoutWakeUpsWhileNoClientIsListedAndResumesWithTheNext) {
  TWatchdog watchdog("rest");
  ASSERT_EQ(BlinkService(), nullptr);
  TRecordingClient meter;
  BlinkRegister(&meter, 2);
  TAnFlashTimer &service = *BlinkService();
  service.SetInterval(1); // many periods in a short span: a stray wake-up would show
  service.Stop();
  service.SetEnabled(true);
  ASSERT_TRUE(RunLoopUntil([&] { return meter.Got.size() >= 2; }));
  EXPECT_GT(service.WakeUps(), 4u);

  BlinkUnregister(&meter);
  EXPECT_FALSE(service.ThreadRunning());
  ASSERT_TRUE(RunLoopUntil([&] { return service.ThreadParked(); }, Deadline, 1ms));
  const std::uint64_t parkedAt = service.WakeUps();
  const std::uint32_t ticksAt = service.TickCounter();
  RunLoopUntil([] { return false; }, 50ms, 5ms); // 50 periods of 1 ms
  EXPECT_EQ(service.WakeUps(), parkedAt);
  EXPECT_EQ(service.TickCounter(), ticksAt);

  meter.Got.clear();
  BlinkRegister(&meter, 2);
  EXPECT_TRUE(service.ThreadRunning());
  ASSERT_TRUE(RunLoopUntil([&] { return meter.Got.size() >= 2; }));
  EXPECT_GT(service.WakeUps(), parkedAt);
  BlinkUnregister(&meter);
  EndService();
}

TEST(AnFlash, serviceBlinksARegisteredClientOnTheGuiThreadAndEndsAtShutdown) {
  TWatchdog watchdog("service");
  ASSERT_EQ(BlinkService(), nullptr);
  TRecordingClient meter;
  BlinkRegister(&meter, 4);
  ASSERT_NE(BlinkService(), nullptr);
  EXPECT_TRUE(BlinkService()->ThreadRunning());
  ASSERT_TRUE(RunLoopUntil([&] { return meter.Got.size() >= 2; }));
  EXPECT_TRUE(meter.AllOnGuiThread);
  EXPECT_EQ(meter.Got[1].first - meter.Got[0].first, 16u);
  EXPECT_NE(meter.Got[1].second, meter.Got[0].second);
  SetApplicationShuttingDown(true);
  const auto start = std::chrono::steady_clock::now();
  BlinkUnregister(&meter); // the last client at shutdown: the service and its thread end
  EXPECT_LT(std::chrono::steady_clock::now() - start, 100ms);
  EXPECT_EQ(BlinkService(), nullptr);
  SetApplicationShuttingDown(false);
}

} // namespace
