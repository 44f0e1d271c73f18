#include "platform/InstanceGuard.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <gtest/gtest.h>

#include "support/TestSupport.h"

#include <future>
#include <map>
#include <memory>
#include <string>

#include <sys/wait.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// A key of its own per test, so that parallel runs and a user's copy never meet.
std::string TestKey() {
  const auto *info = ::testing::UnitTest::GetInstance()->current_test_info();
  return "GUARDTEST/" + std::to_string(::getpid()) + "/" + info->name();
}

std::string DesktopOf(const std::map<std::string, std::string> &env) {
  return InstanceDesktop([&](const char *name) -> const char * {
    const auto it = env.find(name);
    return it == env.end() ? nullptr : it->second.c_str();
  });
}

TEST(InstanceKey, programNameIsTheUpperCasedFileNameWithoutFolder) {
  const std::pair<const char *, const char *> cases[] = {
      {"/usr/local/bin/telmora", "TELMORA"}, {"./TelMora", "TELMORA"}, {"telmora", "TELMORA"},
      {"/opt/t/telmora-copy", "TELMORA-COPY"}, {"/usr/bin/telmora (deleted)", "TELMORA"},
      {"/home/ü/zähler", "ZÄHLER"}};
  for (const auto &[path, name] : cases) EXPECT_EQ(InstanceProgramName(path), name) << path;
}

TEST(InstanceKey, desktopScopeSeparatesDisplaysAndSessionsOnly) {
  using Env = std::map<std::string, std::string>;
  const std::pair<Env, Env> same[] = {
      {{{"DISPLAY", ":0"}}, {{"DISPLAY", ":0.0"}}},
      {{{"DISPLAY", ":0"}}, {{"DISPLAY", "unix:0.1"}}},
      {{{"WAYLAND_DISPLAY", "wayland-0"}, {"DISPLAY", ":0"}}, {{"WAYLAND_DISPLAY", "wayland-0"}, {"DISPLAY", ":1"}}},
      {{{"XDG_SESSION_ID", "3"}}, {{"XDG_SESSION_ID", "3"}, {"QT_QPA_PLATFORM", "xcb"}}},
      {{{"QT_QPA_PLATFORM", "offscreen"}, {"DISPLAY", ":0"}}, {{"QT_QPA_PLATFORM", "offscreen:size=800x600"}}}};
  for (const auto &[a, b] : same) EXPECT_EQ(DesktopOf(a), DesktopOf(b));
  const std::pair<Env, Env> different[] = {
      {{{"DISPLAY", ":0"}}, {{"DISPLAY", ":1"}}},
      {{{"DISPLAY", ":0"}}, {{"DISPLAY", "otherhost:0"}}},
      {{{"DISPLAY", ":0"}}, {{"DISPLAY", ":0"}, {"QT_QPA_PLATFORM", "offscreen"}}},
      {{{"WAYLAND_DISPLAY", "wayland-0"}}, {{"WAYLAND_DISPLAY", "wayland-1"}}},
      {{{"XDG_SESSION_ID", "3"}}, {{"XDG_SESSION_ID", "4"}}},
      {{}, {{"XDG_SESSION_ID", "4"}}}};
  for (const auto &[a, b] : different) EXPECT_NE(DesktopOf(a), DesktopOf(b));
}

TEST(InstanceKey, usersAndLongNamesGetTheirOwnSlotNames) {
  EXPECT_NE(InstanceKey("/bin/telmora", 1000, "x11::0"), InstanceKey("/bin/telmora", 1001, "x11::0"));
  const std::string longA = InstanceKey("/bin/" + std::string(200, 'a'), 1000, "x11::0");
  const std::string longB = InstanceKey("/bin/" + std::string(200, 'a') + "b", 1000, "x11::0");
  EXPECT_LE(InstanceSlotName(longA, 31).size(), sizeof(sockaddr_un::sun_path) - 1);
  EXPECT_NE(InstanceSlotName(longA, 0), InstanceSlotName(longB, 0));
  EXPECT_NE(InstanceSlotName(longA, 0), InstanceSlotName(longA, 1));
}

TEST(InstanceGuard, registrationLastsWhileAnyCopyHoldsIt) {
  const std::string key = TestKey();
  auto first = std::make_unique<TInstanceGuard>(key);
  ASSERT_TRUE(first->Registered());
  EXPECT_FALSE(first->AnotherInstance());
  auto second = std::make_unique<TInstanceGuard>(key);
  EXPECT_TRUE(second->AnotherInstance());
  first.reset();
  // The first has gone while the second still ends: a third is turned away all the same.
  auto third = std::make_unique<TInstanceGuard>(key);
  EXPECT_TRUE(third->AnotherInstance());
  second.reset();
  third.reset();
  TInstanceGuard fourth(key);
  EXPECT_TRUE(fourth.Registered());
  EXPECT_FALSE(fourth.AnotherInstance());
}

TEST(InstanceGuard, raiseRequestReachesTheFirstCopyOnly) {
  const std::string key = TestKey();
  TInstanceGuard first(key);
  int raised = 0;
  first.Serve([&] { ++raised; });
  TInstanceGuard second(key);
  second.Serve([] { ADD_FAILURE() << "a later copy must not raise its window"; });
  TInstanceGuard third(key); // looks at the second too
  ASSERT_TRUE(second.RequestRaise());
  ASSERT_TRUE(third.RequestRaise());
  EXPECT_TRUE(testsupport::RunLoopUntil([&] { return raised == 2; }));
  EXPECT_FALSE(first.RequestRaise()); // the first has nobody to ask
}

TEST(InstanceGuard, simultaneousStartsLeaveExactlyOneFirst) {
  for (int round = 0; round < 20; ++round) {
    const std::string key = TestKey() + "/" + std::to_string(round);
    auto start = [&] { return std::make_unique<TInstanceGuard>(key); };
    auto a = std::async(std::launch::async, start);
    auto b = std::async(std::launch::async, start);
    const auto ga = a.get(), gb = b.get();
    EXPECT_NE(ga->AnotherInstance(), gb->AnotherInstance()) << "round " << round;
  }
}

sockaddr_un SlotAddress(const std::string &key, int slot, socklen_t &len) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  const std::string name = InstanceSlotName(key, slot);
  name.copy(addr.sun_path + 1, name.size());
  len = static_cast<socklen_t>(sizeof addr.sun_family + 1 + name.size());
  return addr;
}

TEST(InstanceGuard, copyCaughtBetweenBindAndListenStillCountsAsEarlier) {
  const std::string key = TestKey();
  socklen_t len0 = 0, len1 = 0;
  const sockaddr_un slot0 = SlotAddress(key, 0, len0), slot1 = SlotAddress(key, 1, len1);
  const int early = ::socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_EQ(::bind(early, reinterpret_cast<const sockaddr *>(&slot0), len0), 0);
  auto later = std::async(std::launch::async, [&] { return std::make_unique<TInstanceGuard>(key); });
  // Once the later copy listens on the next slot, the early one gets to its listen.
  QDeadlineTimer deadline(testsupport::Deadline);
  for (;;) {
    const int probe = ::socket(AF_UNIX, SOCK_STREAM, 0);
    const bool up = ::connect(probe, reinterpret_cast<const sockaddr *>(&slot1), len1) == 0;
    ::close(probe);
    if (up || deadline.hasExpired()) break;
  }
  ASSERT_EQ(::listen(early, 4), 0);
  EXPECT_TRUE(later.get()->AnotherInstance());
  ::close(early);
}

TEST(InstanceGuard, anotherUsersSocketUnderTheNameTurnsNobodyAway) {
  if (::getuid() != 0) GTEST_SKIP() << "needs root to act as another user";
  const std::string key = TestKey();
  // Another user takes the first slot's name and sits on it until the parent lets go.
  int ready[2], release[2];
  ASSERT_EQ(::pipe(ready) | ::pipe(release), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::close(release[1]);
    socklen_t len = 0;
    const sockaddr_un addr = SlotAddress(key, 0, len);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (::setuid(65534) != 0 || ::bind(fd, reinterpret_cast<const sockaddr *>(&addr), len) != 0 || ::listen(fd, 4) != 0)
      ::_exit(1);
    char c = 1;
    (void)!::write(ready[1], &c, 1);
    (void)!::read(release[0], &c, 1);
    ::_exit(0);
  }
  ::close(ready[1]);
  ::close(release[0]);
  char c = 0;
  ASSERT_EQ(::read(ready[0], &c, 1), 1); // 0 when the child could not take the name

  {
    TInstanceGuard guard(key);
    EXPECT_TRUE(guard.Registered());
    EXPECT_FALSE(guard.AnotherInstance());
  }
  ::close(release[1]);
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_EQ(WEXITSTATUS(status), 0);
  ::close(ready[0]);
}

} // namespace
