#include "app/window/OneInstance.h"

#include <QCoreApplication>
#include <QWidget>
#include <gtest/gtest.h>

#include "support/TestSupport.h"

#include <memory>
#include <string>

#include <unistd.h>

namespace {

using testsupport::RunLoopUntil;

std::string TestKey() {
  return "ONEINSTANCETEST/" + std::to_string(::getpid()) + "/" +
         ::testing::UnitTest::GetInstance()->current_test_info()->name();
}

TEST(OneInstance, firstCopyRestoresAndActivatesItsMinimizedWindowOnRequest) {
  const std::string key = TestKey();
  TInstanceApplication app(key);
  QWidget window;
  auto *guard = new TOneInstance(&window);
  int activated = 0;
  guard->OnActivate = [&](TObject *sender) {
    EXPECT_EQ(sender, guard);
    ++activated;
  };
  guard->Loaded();
  EXPECT_FALSE(guard->Terminating());
  window.showMinimized();
  ASSERT_TRUE(RunLoopUntil([&] { return window.isMinimized(); }));

  TInstanceGuard second(key);
  ASSERT_TRUE(second.AnotherInstance());
  ASSERT_TRUE(second.RequestRaise());
  ASSERT_TRUE(RunLoopUntil([&] { return activated == 1; }));
  EXPECT_FALSE(window.isMinimized());
  EXPECT_TRUE(window.isVisible());
  EXPECT_TRUE(window.isActiveWindow());
}

TEST(OneInstance, laterCopyRaisesTheFirstAndClosesItsWindowOnceTheLoopRuns) {
  const std::string key = TestKey();
  TInstanceGuard first(key);
  int raised = 0;
  first.Serve([&] { ++raised; });
  TInstanceApplication app(key);
  ASSERT_TRUE(app.AnotherInstance());
  QWidget window;
  auto *guard = new TOneInstance(&window);
  guard->Loaded();
  EXPECT_TRUE(guard->Terminating());
  window.show(); // shown for a moment, as any run shows it
  EXPECT_TRUE(window.isVisible());
  EXPECT_TRUE(RunLoopUntil([&] { return raised == 1 && !window.isVisible(); }));
}

TEST(OneInstance, disabledGuardLetsALaterCopyRun) {
  const std::string key = TestKey();
  TInstanceGuard first(key);
  TInstanceApplication app(key);
  QWidget window;
  auto *guard = new TOneInstance(&window);
  guard->SetEnabled(false);
  guard->Loaded();
  EXPECT_FALSE(guard->Terminating());
  window.show();
  // A queued close would run within these passes.
  for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
  EXPECT_TRUE(window.isVisible());
}

} // namespace
