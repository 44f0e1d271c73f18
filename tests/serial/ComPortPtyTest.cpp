// The port on real pseudo-terminals: line settings as the tty holds them, received records in
// order and complete, writes reaching the other end, a prompt close, a hangup that closes the
// port once and leaves the event thread asleep, and exclusive opening.
#include "serial/ComPort.h"
#include "serial/ComThread.h"

#include "platform/Application.h"
#include "tty/PosixSerialDevice.h"
#include "tty/PseudoTerminal.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTimer>
#include <gtest/gtest.h>

#include "support/TestSupport.h"

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <termios.h>

using namespace std::chrono_literals;

namespace {

// Waits on the event loop, looking every 5 ms at what other threads change.
bool RunUntil(const std::function<bool()> &done, std::chrono::milliseconds limit = 2000ms) {
  return testsupport::RunLoopUntil(done, limit, 5ms);
}

// Waits (without the event loop) until the device's event wait sleeps in the kernel.
bool WaitUntilBlocked(const TPosixSerialDevice &device) {
  QDeadlineTimer deadline(2000);
  while (!device.WaitBlocked()) {
    if (deadline.hasExpired())
      return false;
    std::this_thread::yield();
  }
  return true;
}

std::string Records(int first, int count) {
  std::string s;
  for (int i = first; i < first + count; ++i)
    s += "#" + std::to_string(i % 10 + 1) + "M" + std::to_string(i) + "." + std::to_string(i % 7) + "<";
  return s;
}

class ComPortPty : public ::testing::Test {
protected:
  TPseudoTerminal Pty;
  std::vector<std::string> Shown;
  TExceptionSink PreviousSink;
  std::string Received;
  TComLink Link;
  TComPort Port;

  void SetUp() override {
    ASSERT_EQ(Pty.Open(), 0);
    PreviousSink = SetExceptionSink([this](const std::string &m) { Shown.push_back(m); });
    Port.SetPort(Pty.SlavePath());
    Link.OnRxBuf = [this](TObject *, const char *b, int32_t n) { Received.append(b, size_t(n)); };
    Port.AttachLink(&Link);
  }
  void TearDown() override {
    Link = TComLink(); // its slots may refer to the finished test's locals
    try {
      Port.SetConnected(false);
    } catch (...) {
    }
    SetExceptionSink(PreviousSink);
  }
  std::shared_ptr<TPosixSerialDevice> Device() const {
    return std::dynamic_pointer_cast<TPosixSerialDevice>(Port.Device());
  }
  termios LineSettings() const {
    termios t{};
    EXPECT_EQ(tcgetattr(Device()->Fd(), &t), 0);
    return t;
  }
};

TEST_F(ComPortPty, lineSettingsReachTheTty) {
  struct TCase {
    const char *Name;
    std::function<void(TComPort &)> Setup;
    std::function<void(const termios &, int fd)> Check;
  };
  const TCase cases[] = {
      {"115200 8N1 raw", [](TComPort &p) { p.SetBaudRate(br115200); },
       [](const termios &t, int) {
         EXPECT_EQ(cfgetospeed(&t), speed_t(B115200));
         EXPECT_EQ(cfgetispeed(&t), speed_t(B115200));
         EXPECT_EQ(t.c_cflag & CSIZE, tcflag_t(CS8));
         EXPECT_EQ(t.c_cflag & (CSTOPB | CRTSCTS | PARENB), 0u);
         EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), tcflag_t(CLOCAL | CREAD));
         EXPECT_EQ(t.c_iflag & (IXON | IXOFF | ICRNL), 0u);
         EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
       }},
      {"two stop bits", [](TComPort &p) { p.SetBaudRate(br19200); p.SetStopBits(sbTwoStopBits); },
       [](const termios &t, int) {
         EXPECT_EQ(cfgetospeed(&t), speed_t(B19200));
         EXPECT_NE(t.c_cflag & CSTOPB, 0u);
       }},
      {"hardware handshake", [](TComPort &p) { p.FlowControl().SetFlowControl(fcHardware); },
       [](const termios &t, int) { EXPECT_NE(t.c_cflag & CRTSCTS, 0u); }},
      {"software handshake", [](TComPort &p) { p.FlowControl().SetFlowControl(fcSoftware);
                                               p.FlowControl().SetXonChar('a'); p.FlowControl().SetXoffChar('b'); },
       [](const termios &t, int) {
         EXPECT_EQ(t.c_iflag & (IXON | IXOFF), tcflag_t(IXON | IXOFF));
         EXPECT_EQ(t.c_cc[VSTART], cc_t('a'));
         EXPECT_EQ(t.c_cc[VSTOP], cc_t('b'));
         EXPECT_EQ(t.c_cflag & CRTSCTS, 0u);
       }},
      {"custom rate", [](TComPort &p) { p.SetBaudRate(brCustom); p.SetCustomBaudRate(250000); },
       [](const termios &, int fd) {
         uint32_t in = 0, out = 0;
         ASSERT_EQ(GetLineSpeed(fd, in, out), 0);
         EXPECT_EQ(out, 250000u);
       }},
  };
  for (const TCase &c : cases) {
    SCOPED_TRACE(c.Name);
    TComPort port;
    port.SetPort(Pty.SlavePath());
    port.SetEvents({});
    c.Setup(port);
    port.SetConnected(true);
    auto device = std::dynamic_pointer_cast<TPosixSerialDevice>(port.Device());
    ASSERT_NE(device, nullptr);
    termios t{};
    ASSERT_EQ(tcgetattr(device->Fd(), &t), 0);
    c.Check(t, device->Fd());
    port.SetConnected(false);
  }
}

TEST_F(ComPortPty, aChangedSpeedIsAppliedToTheOpenTty) {
  Port.SetConnected(true);
  const termios before = LineSettings();
  EXPECT_EQ(cfgetospeed(&before), speed_t(B9600));
  Port.SetBaudRate(br57600);
  const termios t = LineSettings();
  EXPECT_EQ(cfgetospeed(&t), speed_t(B57600));
}

TEST_F(ComPortPty, recordsWrittenInPiecesArriveInOrderWithNothingLost) {
  Port.SetConnected(true);
  const std::string sent = Records(0, 4000);
  // The other end writes from a thread of its own, in pieces of every size from 1 to 23 bytes.
  std::thread sender([&] {
    size_t at = 0, piece = 1;
    while (at < sent.size()) {
      const size_t n = std::min(piece, sent.size() - at);
      if (Pty.Send(std::string_view(sent).substr(at, n), 2s) != n)
        return; // the reader's check reports the shortfall
      at += n;
      piece = piece % 23 + 1;
    }
  });
  const bool complete = RunUntil([&] { return Received.size() >= sent.size(); }, 10s);
  sender.join();
  ASSERT_TRUE(complete) << Received.size() << " of " << sent.size();
  EXPECT_EQ(Received, sent);
  EXPECT_TRUE(Shown.empty());
}

TEST_F(ComPortPty, writtenTextArrivesOnTheOtherEnd) {
  std::string txData;
  Link.OnTxData = [&](TObject *, const char *b, int32_t n) { txData.append(b, size_t(n)); };
  Port.SetConnected(true);
  EXPECT_EQ(Port.WriteText("hello\r\n"), 7);
  EXPECT_EQ(Pty.Receive(7, 2s), "hello\r\n");
  EXPECT_EQ(txData, "hello\r\n");

  // More than the tty buffers: the write completes while the other end reads.
  const std::string big = Records(0, 5000);
  std::string got;
  std::thread reader([&] { got = Pty.Receive(big.size(), 5s); });
  EXPECT_EQ(Port.WriteText(big), int32_t(big.size()));
  reader.join();
  EXPECT_EQ(got, big);
}

TEST_F(ComPortPty, closingWhileTheThreadWaitsReturnsPromptly) {
  Port.SetConnected(true);
  const auto device = Device();
  ASSERT_TRUE(WaitUntilBlocked(*device));
  const auto start = std::chrono::steady_clock::now();
  Port.SetConnected(false);
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_LT(took, 100ms);
  EXPECT_FALSE(device->IsOpen());
  EXPECT_EQ(Port.EventThread(), nullptr);
}

TEST_F(ComPortPty, aHangupClosesThePortReportsOnceAndTheThreadSleeps) {
  std::vector<std::string> connection;
  Link.OnConnChange = [&](TObject *, bool on) { connection.push_back(on ? "open" : "closed"); };
  Port.SetConnected(true);
  const auto device = Device();
  const std::string first = Records(0, 200);
  ASSERT_EQ(Pty.Send(first, 2s), first.size());
  ASSERT_TRUE(RunUntil([&] { return Received.size() >= first.size(); }));

  // Mid-stream: more records are on their way when the other end goes away.
  const std::string second = Records(200, 200);
  ASSERT_EQ(Pty.Send(second, 2s), second.size());
  const uint64_t wakeupsBefore = device->WaitWakeups();
  Pty.CloseMaster();
  ASSERT_TRUE(RunUntil([&] { return !Port.Connected(); }));
  ASSERT_TRUE(RunUntil([&] { return !Shown.empty(); }));
  // The failure, and on a second line what happened: the terminal's other end went away.
  EXPECT_EQ(Shown, std::vector<std::string>{"ReadFile function failed (Error: 5)\nThe device on " + Pty.SlavePath() +
                                            " went away (unplugged, reset, or the program at its other end closed "
                                            "the line); the port is closed."});
  EXPECT_EQ(connection, (std::vector<std::string>{"open", "closed"}));
  EXPECT_EQ(Port.EventThread(), nullptr);
  EXPECT_FALSE(device->IsOpen());
  // A loop that kept waiting on the hung-up tty would have woken thousands of times by now.
  const uint64_t wakeupsAfter = device->WaitWakeups();
  EXPECT_LE(wakeupsAfter - wakeupsBefore, 10u);
  QCoreApplication::processEvents();
  EXPECT_EQ(device->WaitWakeups(), wakeupsAfter);
  EXPECT_EQ(Shown.size(), 1u);
  // What arrived is the sent stream's beginning, unmangled.
  const std::string all = first + second;
  EXPECT_EQ(Received, all.substr(0, Received.size()));

  // The device comes back (a new pseudo-terminal): Connect works again.
  ASSERT_EQ(Pty.Open(), 0);
  Received.clear();
  Port.SetPort(Pty.SlavePath());
  Port.SetConnected(true);
  ASSERT_EQ(Pty.Send("#1M2<", 2s), 5u);
  EXPECT_TRUE(RunUntil([&] { return Received == "#1M2<"; }));
  EXPECT_EQ(Shown.size(), 1u);
}

TEST_F(ComPortPty, aSecondOpenerGetsFailureOne) {
  Port.SetConnected(true);
  TComPort second;
  second.SetPort(Pty.SlavePath());
  try {
    second.SetConnected(true);
    FAIL() << "the second open succeeded";
  } catch (const EComPort &e) {
    EXPECT_EQ(e.PortErrorCode(), 1);
    EXPECT_EQ(e.SystemErrorCode(), EBUSY);
    // Only this process holds the line, and it does not name itself.
    EXPECT_EQ(e.what(), "Unable to open com port (Error: 16)\n" + Pty.SlavePath() +
                            " is in use by another program. Close it there, then connect again.");
  }
  EXPECT_FALSE(second.Connected());
  // Once the first lets go, the second gets the line.
  Port.SetConnected(false);
  second.SetConnected(true);
  EXPECT_TRUE(second.Connected());
}

TEST_F(ComPortPty, aMissingDeviceNameGetsFailureOneWithNotFound) {
  const std::string names[] = {"ttyTelmoraMissing7", "/dev/ttyTelmoraMissing7", "COM10"};
  for (const std::string &name : names) {
    TComPort port;
    port.SetPort(name);
    try {
      port.SetConnected(true);
      ADD_FAILURE() << name << " opened";
    } catch (const EComPort &e) {
      const std::string message = e.what();
      EXPECT_EQ(message.substr(0, message.find('\n')), "Unable to open com port (Error: 2)") << name;
      EXPECT_EQ(message.find("\nThere is no port " + name), message.find('\n')) << message;
    }
  }
}

TEST_F(ComPortPty, aWriteDrainsToTxEmptyAndEndsTxActivity) {
  std::vector<std::string> activity;
  Link.OnTxActivity = [&](TObject *, bool on) { activity.push_back(on ? "on" : "off"); };
  Link.OnTxEmpty = [&](TObject *) { activity.push_back("empty"); };
  Port.SetConnected(true);
  Port.WriteText("ping");
  ASSERT_TRUE(RunUntil([&] { return activity.size() >= 3; }));
  EXPECT_EQ(activity, (std::vector<std::string>{"on", "off", "empty"}));
  EXPECT_EQ(Pty.Receive(4, 2s), "ping");
}

} // namespace
