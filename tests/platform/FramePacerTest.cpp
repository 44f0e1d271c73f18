// The frame pacer: every client asking before a frame is served once in it, a request waits for
// the rest of the period after the last frame, clients may ask again or destroy one another
// while being served, and the timer serves pending clients from the event loop.
#include "platform/FramePacer.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

#include "support/TestSupport.h"

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

using namespace std::chrono_literals;

namespace {

struct TClient : TFrameClient {
  std::string Name;
  std::vector<std::string> *Log = nullptr;
  std::function<void()> OnFrame;
  int Frames = 0;
  void FrameDue() override {
    ++Frames;
    if (Log)
      Log->push_back(Name);
    if (OnFrame)
      OnFrame();
  }
};

// A pacer on a clock the test moves by hand.
struct TPaced {
  std::chrono::nanoseconds Now = 1000s;
  TFramePacer Pacer;
  TPaced() {
    // The tables below are worked out for 60 frames per second.
    Pacer.SetPeriod(16'666'667ns);
    Pacer.SetClock([this] { return Now; });
  }
};

TEST(FramePacer, everyClientAskingBeforeTheFrameIsServedOnceInOrder) {
  TPaced p;
  std::vector<std::string> log;
  TClient a{}, b{}, c{};
  a.Name = "a", b.Name = "b", c.Name = "c";
  a.Log = b.Log = c.Log = &log;
  p.Pacer.Request(&b);
  p.Pacer.Request(&a);
  p.Pacer.Request(&b);
  p.Pacer.Request(&c);
  p.Pacer.Cancel(&c);
  EXPECT_EQ(p.Pacer.PendingCount(), 2u);
  p.Pacer.Tick();
  EXPECT_EQ(log, (std::vector<std::string>{"b", "a"}));
  EXPECT_EQ(p.Pacer.PendingCount(), 0u);
  p.Pacer.Tick();
  EXPECT_EQ(log.size(), 2u) << "a frame with nobody waiting serves nobody";
  EXPECT_EQ(p.Pacer.MillisecondsToNextFrame(), -1);
}

TEST(FramePacer, byDefaultAValueWaitsAtMostSixteenMillisecondsForItsFrame) {
  std::chrono::nanoseconds now = 1000s;
  TFramePacer pacer;
  pacer.SetClock([&] { return now; });
  TClient a{};
  pacer.Request(&a);
  pacer.Tick();
  pacer.Request(&a); // just after a frame: the longest wait
  EXPECT_LE(pacer.MillisecondsToNextFrame(), 16);
  now += 16ms;
  EXPECT_EQ(pacer.MillisecondsToNextFrame(), 0);
}

TEST(FramePacer, aRequestWaitsForTheRestOfThePeriodAfterTheLastFrame) {
  struct Case {
    std::chrono::nanoseconds sinceFrame;
    int wait;
  };
  // The period is 16.67 ms; waits are rounded down to whole milliseconds.
  const Case cases[] = {{0ns, 16}, {1ms, 15}, {5ms, 11}, {15'666'666ns, 1}, {16ms, 0}, {16'666'667ns, 0},
                        {17ms, 0}, {10s, 0}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.sinceFrame.count());
    TPaced p;
    TClient a{};
    p.Pacer.Request(&a);
    EXPECT_EQ(p.Pacer.MillisecondsToNextFrame(), 0) << "the first request after a quiet spell is served at once";
    p.Pacer.Tick();
    p.Now += c.sinceFrame;
    p.Pacer.Request(&a);
    EXPECT_EQ(p.Pacer.MillisecondsToNextFrame(), c.wait);
  }
}

// A timer that fires up to a millisecond early keeps the 60-per-second cadence; held-back data is
// served at once, but never within half a period of the last frame.
TEST(FramePacer, cadenceAndDataHeldForItsFrame) {
  enum TAction { Timer, Held, Nothing };
  struct Step {
    const char *What;
    std::chrono::nanoseconds Advance;
    TAction Action;
    int Frames;
    int Wait; // for the next request, after the step
  };
  const Step steps[] = {
      {"first frame", 0ns, Timer, 1, 16},
      {"timer 0.9 ms early: counted as on time", 15'766'667ns, Timer, 2, 17},
      {"the next is due a period after that time, not after the early tick", 16ms, Nothing, 2, 1},
      {"served on time", 1'566'667ns, Timer, 3, 16},
      {"held data a third of a period later waits", 5'555'556ns, Held, 3, 11},
      {"held data half a period after the frame goes at once", 2'777'778ns, Held, 4, 16},
      {"timer 2 ms early starts the period anew", 14'666'667ns, Timer, 5, 16},
  };
  TPaced p;
  TClient a{};
  for (const Step &s : steps) {
    p.Now += s.Advance;
    p.Pacer.Request(&a);
    if (s.Action == Timer)
      p.Pacer.Tick();
    else if (s.Action == Held)
      p.Pacer.ServeHeldData();
    EXPECT_EQ(a.Frames, s.Frames) << s.What;
    p.Pacer.Request(&a);
    EXPECT_EQ(p.Pacer.MillisecondsToNextFrame(), s.Wait) << s.What;
    p.Pacer.Cancel(&a);
  }
}

TEST(FramePacer, clientsAskingAgainOrDestroyingOthersWhileServed) {
  TPaced p;
  std::vector<std::string> log;
  auto victim = std::make_unique<TClient>();
  TClient again{}, killer{};
  again.Name = "again", killer.Name = "killer", victim->Name = "victim";
  again.Log = killer.Log = victim->Log = &log;
  again.OnFrame = [&] { p.Pacer.Request(&again); };
  killer.OnFrame = [&] {
    p.Pacer.Cancel(victim.get());
    victim.reset();
  };
  p.Pacer.Request(&again);
  p.Pacer.Request(&killer);
  p.Pacer.Request(victim.get());
  p.Pacer.Tick();
  EXPECT_EQ(log, (std::vector<std::string>{"again", "killer"}));
  EXPECT_TRUE(p.Pacer.IsPending(&again)) << "asking while served waits for the next frame";
  EXPECT_EQ(p.Pacer.MillisecondsToNextFrame(), 16);
  p.Now += 17ms;
  p.Pacer.Tick();
  EXPECT_EQ(again.Frames, 2);
  EXPECT_EQ(killer.Frames, 1);
}

TEST(FramePacer, theEventLoopServesPendingClientsAndForgetDropsThem) {
  TFramePacer &pacer = TFramePacer::Instance();
  EXPECT_EQ(&pacer, &TFramePacer::Instance());
  TClient a{}, b{};
  const std::uint64_t frames = pacer.FrameCount();
  pacer.Request(&a);
  ASSERT_TRUE(testsupport::RunLoopUntil([&] { return a.Frames == 1; }));
  // Asked again at once: served by the timer one period later, together with b.
  pacer.Request(&a);
  pacer.Request(&b);
  ASSERT_TRUE(testsupport::RunLoopUntil([&] { return a.Frames == 2 && b.Frames == 1; }));
  EXPECT_EQ(pacer.FrameCount(), frames + 2);
  pacer.Request(&a);
  TFramePacer::Forget(&a);
  EXPECT_FALSE(pacer.IsPending(&a));
  EXPECT_EQ(pacer.MillisecondsToNextFrame(), -1);
}

} // namespace
