// The port reopened, with its settings, when its adapter comes back as another tty:
// pseudo-terminals behind a fake /dev and /sys stand in for the adapter.
#include "serial/ComReconnect.h"

#include "platform/Application.h"
#include "tty/PseudoTerminal.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/FakeDeviceTree.h"
#include "support/TestSupport.h"

namespace {

TEST(ComReconnectTest, theAdapterBackAsAnotherTtyIsReopenedUnderItsNewName) {
  const testsupport::TFakeAdapter adapter{"1a86", "7523", "5A7B0001", ""};
  testsupport::TFakeDeviceTree tree;
  const std::string dev = tree.Roots().Dev;
  TPseudoTerminal pty;
  std::vector<std::string> shown;
  const TExceptionSink previous = SetExceptionSink([&](const std::string &m) { shown.push_back(m); });
  TComPort port;
  TComReconnect reconnect(nullptr, tree.Roots());
  reconnect.SetComPort(&port);

  ASSERT_EQ(pty.Open(), 0);
  tree.Plug(adapter, "ttyUSB0", pty.SlavePath());
  port.SetPort(dev + "/ttyUSB0");
  port.SetBaudRate(br57600);
  port.SetConnected(true);
  for (const char *tty : {"ttyUSB1", "ttyUSB2"}) {
    const std::string before = port.Port();
    pty.CloseMaster();
    ASSERT_TRUE(testsupport::RunLoopUntil([&] { return reconnect.Waiting(); }));
    tree.Unplug(before.substr(before.rfind('/') + 1));
    ASSERT_EQ(pty.Open(), 0);
    tree.Plug(adapter, tty, pty.SlavePath());
    ASSERT_TRUE(testsupport::RunLoopUntil([&] { return port.Connected(); })) << tty;
    EXPECT_EQ(port.Port(), dev + "/" + tty);
    EXPECT_EQ(port.BaudRate(), br57600);
  }
  // Reported once, saying that the port opens again by itself.
  EXPECT_EQ(shown, std::vector<std::string>{"ReadFile function failed (Error: 5)\nThe device on " + dev +
                                            "/ttyUSB0 went away (unplugged, reset, or the program at its other end "
                                            "closed the line); the port is closed. Telmora waits for it and opens "
                                            "the port again when it is back."});
  port.SetConnected(false);
  SetExceptionSink(previous);
}

} // namespace
