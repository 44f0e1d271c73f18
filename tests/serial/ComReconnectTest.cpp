// Reopening after the device came back, on pseudo-terminals behind a fake /dev: the same adapter
// under a new name, a pseudo-terminal named directly (never waited for), and the switch.
#include "serial/ComReconnect.h"

#include "platform/Application.h"
#include "tty/PseudoTerminal.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "support/FakeDeviceTree.h"
#include "support/TestSupport.h"

using namespace std::chrono_literals;
using testsupport::TFakeAdapter;

namespace {

const TFakeAdapter Adapter{"1a86", "7523", "5A7B0001", "3-2", ""};

class ComReconnectTest : public ::testing::Test {
protected:
  testsupport::TFakeDeviceTree Tree;
  TPseudoTerminal Pty;
  std::vector<std::string> Shown;
  TExceptionSink PreviousSink = SetExceptionSink([this](const std::string &m) { Shown.push_back(m); });
  std::string Received;
  std::vector<bool> Changes;
  TComLink Link;
  TComPort Port;
  TComReconnect Reconnect{nullptr, Tree.Roots()};

  void SetUp() override {
    Link.OnRxBuf = [this](TObject *, const char *b, int32_t n) { Received.append(b, size_t(n)); };
    Port.AttachLink(&Link);
    Reconnect.SetComPort(&Port);
    Reconnect.OnWaitingChange = [this](bool w) { Changes.push_back(w); };
  }
  void TearDown() override {
    Link = TComLink();
    Reconnect.SetComPort(nullptr);
    Port.SetConnected(false);
    SetExceptionSink(PreviousSink);
  }
  void Receive(TPseudoTerminal &pty, const std::string &bytes) {
    Received.clear();
    ASSERT_EQ(pty.Send(bytes, 2s), bytes.size());
    EXPECT_TRUE(testsupport::RunLoopUntil([&] { return Received == bytes; })) << Received;
  }
  void Unplug() {
    Pty.CloseMaster();
    ASSERT_TRUE(testsupport::RunLoopUntil([&] { return !Port.Connected(); }));
  }
};

TEST_F(ComReconnectTest, theAdapterBackAsAnotherTtyIsReopenedUnderItsNewName) {
  ASSERT_EQ(Pty.Open(), 0);
  Tree.Plug(Adapter, "ttyUSB0", Pty.SlavePath());
  Port.SetPort(Tree.Dev() + "/ttyUSB0");
  Port.SetBaudRate(br57600);
  Port.SetConnected(true);
  Receive(Pty, "#1M1<");
  EXPECT_EQ(Reconnect.Identity().Serial, "5A7B0001");

  for (const char *tty : {"ttyUSB1", "ttyUSB2"}) {
    const std::string before = Port.Port();
    Unplug();
    ASSERT_TRUE(Reconnect.Waiting());
    Tree.Unplug(Adapter, before.substr(before.rfind('/') + 1));
    ASSERT_EQ(Pty.Open(), 0);
    Tree.Plug(Adapter, tty, Pty.SlavePath());
    ASSERT_TRUE(testsupport::RunLoopUntil([&] { return Port.Connected(); })) << tty;
    EXPECT_EQ(Port.Port(), Tree.Dev() + "/" + tty);
    EXPECT_EQ(Port.BaudRate(), br57600);
    EXPECT_FALSE(Reconnect.Waiting());
    Receive(Pty, "#2M2<");
  }
  // Reported for the first loss only.
  EXPECT_EQ(Shown, std::vector<std::string>{"ReadFile function failed (Error: 5)"});
  EXPECT_EQ(Changes, (std::vector<bool>{true, false, true, false}));
}

TEST_F(ComReconnectTest, anotherAdapterOrAPseudoTerminalNamedDirectlyIsNotTaken) {
  ASSERT_EQ(Pty.Open(), 0);
  Tree.Plug(Adapter, "ttyUSB0", Pty.SlavePath());
  Port.SetPort(Tree.Dev() + "/ttyUSB0");
  Port.SetConnected(true);
  Unplug();
  ASSERT_TRUE(Reconnect.Waiting());
  Tree.Unplug(Adapter, "ttyUSB0");
  TFakeAdapter other = Adapter;
  other.Serial = "5A7B0002";
  ASSERT_EQ(Pty.Open(), 0);
  Tree.Plug(other, "ttyUSB1", Pty.SlavePath());
  // The event of the new node is handled, and the wait goes on.
  QCoreApplication::processEvents();
  EXPECT_FALSE(Port.Connected());
  EXPECT_TRUE(Reconnect.Waiting());
  Reconnect.Stop();

  // Named as /dev/pts/N the line is reported each time and never waited for.
  Shown.clear();
  for (int i = 0; i < 2; ++i) {
    ASSERT_EQ(Pty.Open(), 0);
    Port.SetPort(Pty.SlavePath());
    Port.SetConnected(true);
    Unplug();
    ASSERT_TRUE(testsupport::RunLoopUntil([&] { return Shown.size() == size_t(i + 1); }));
    EXPECT_FALSE(Reconnect.Waiting());
  }
}

TEST_F(ComReconnectTest, switchedOffTheLossIsReportedEveryTimeAndNothingWaits) {
  Reconnect.SetEnabled(false);
  for (int i = 0; i < 2; ++i) {
    ASSERT_EQ(Pty.Open(), 0);
    Tree.Unplug(Adapter, "ttyUSB0");
    Tree.Plug(Adapter, "ttyUSB0", Pty.SlavePath());
    Port.SetPort(Tree.Dev() + "/ttyUSB0");
    Port.SetConnected(true);
    Unplug();
    ASSERT_TRUE(testsupport::RunLoopUntil([&] { return Shown.size() == size_t(i + 1); }));
    EXPECT_FALSE(Reconnect.Waiting());
  }
  EXPECT_TRUE(Changes.empty());
}

} // namespace
