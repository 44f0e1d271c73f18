// The POSIX serial device on real pseudo-terminals: the test holds the master end.
#include "tty/PosixSerialDevice.h"
#include "tty/PseudoTerminal.h"

#include <gtest/gtest.h>

#include "support/DeviceWait.h"

#include <cerrno>
#include <chrono>
#include <functional>
#include <future>
#include <optional>
#include <string>
#include <thread>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

using namespace std::chrono_literals;
using TClock = std::chrono::steady_clock;

namespace {

constexpr auto Deadline = 5s;

// Polls `done` until it holds or the deadline passes.
bool WaitFor(const std::function<bool()> &done, std::chrono::milliseconds deadline = Deadline) {
  const auto end = TClock::now() + deadline;
  while (!done()) {
    if (TClock::now() > end)
      return false;
    std::this_thread::yield();
  }
  return true;
}

using testsupport::StartWait;
using testsupport::TWaitResult;

// One wait on another thread; a wait that does not end in time is cancelled and reported empty.
std::optional<TWaitResult> WaitEvent(TSerialDevice &device, std::chrono::milliseconds deadline = Deadline) {
  auto wait = StartWait(device);
  if (wait.wait_for(deadline) == std::future_status::ready)
    return wait.get();
  device.CancelWait();
  wait.get();
  return std::nullopt;
}

DCB Line(uint32_t baud, uint8_t byteSize = 8, uint8_t parity = NOPARITY, uint8_t stopBits = ONESTOPBIT) {
  DCB dcb;
  dcb.DCBlength = sizeof(DCB);
  dcb.BaudRate = baud;
  dcb.fBinary = 1;
  dcb.ByteSize = byteSize;
  dcb.Parity = parity;
  dcb.StopBits = stopBits;
  dcb.XonChar = 0x11;
  dcb.XoffChar = 0x13;
  return dcb;
}

class PosixSerialDeviceTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_EQ(Pty.Open(), 0);
    ASSERT_EQ(Device.Open(Pty.SlavePath()), 0);
  }

  std::string ReadAll(uint32_t count) {
    std::string bytes(count, '\0');
    uint32_t done = 0;
    EXPECT_EQ(Device.Read(bytes.data(), count, done), 0);
    bytes.resize(done);
    return bytes;
  }

  uint32_t BytesWaiting() {
    uint32_t errors = 0;
    COMSTAT stat;
    EXPECT_EQ(Device.ClearCommError(errors, stat), 0);
    return stat.cbInQue;
  }

  TPseudoTerminal Pty;
  TPosixSerialDevice Device;
};

struct TLineCase {
  const char *Name;
  DCB Dcb;
  uint32_t EarlierBaud; // applied first when not 0
  std::function<void(int fd, const termios &t)> Check;
};

TEST_F(PosixSerialDeviceTest, lineSettingsReadBackFromTheSameDevice) {
  DCB xonxoff = Line(9600);
  xonxoff.fOutX = xonxoff.fInX = 1;
  xonxoff.XonChar = 0x01;
  xonxoff.XoffChar = 0x02;
  DCB rtscts = Line(9600);
  rtscts.fOutxCtsFlow = 1;
  rtscts.fRtsControl = RTS_CONTROL_HANDSHAKE;
  DCB checked = Line(9600);
  checked.fParity = 1;
  const TLineCase cases[] = {
      {"19200 8N1", Line(19200), 0,
       [](int, const termios &t) {
         EXPECT_EQ(cfgetospeed(&t), speed_t(B19200));
         EXPECT_EQ(cfgetispeed(&t), speed_t(B19200));
         EXPECT_EQ(t.c_cflag & CSIZE, tcflag_t(CS8));
         EXPECT_FALSE(t.c_cflag & (PARENB | CSTOPB | CRTSCTS));
         EXPECT_FALSE(t.c_iflag & (IXON | IXOFF | INPCK));
         EXPECT_TRUE(t.c_cflag & CLOCAL);
       }},
      {"115200", Line(115200), 0, [](int, const termios &t) { EXPECT_EQ(cfgetospeed(&t), speed_t(B115200)); }},
      {"250000 through termios2", Line(250000), 0,
       [](int fd, const termios &) {
         uint32_t in = 0, out = 0;
         ASSERT_EQ(GetLineSpeed(fd, in, out), 0);
         EXPECT_EQ(out, 250000u);
         EXPECT_EQ(in, 250000u);
       }},
      {"a standard rate after a custom one", Line(9600), 250000,
       [](int, const termios &t) { EXPECT_EQ(cfgetospeed(&t), speed_t(B9600)); }},
      {"two stop bits", Line(9600, 8, NOPARITY, TWOSTOPBITS),
       0, [](int, const termios &t) { EXPECT_TRUE(t.c_cflag & CSTOPB); }},
      {"one and a half stop bits become two", Line(9600, 8, NOPARITY, ONE5STOPBITS), 0,
       [](int, const termios &t) { EXPECT_TRUE(t.c_cflag & CSTOPB); }},
      {"XON/XOFF with their characters", xonxoff, 0,
       [](int, const termios &t) {
         EXPECT_EQ(t.c_iflag & (IXON | IXOFF), tcflag_t(IXON | IXOFF));
         EXPECT_EQ(t.c_cc[VSTART], 0x01);
         EXPECT_EQ(t.c_cc[VSTOP], 0x02);
       }},
      {"RTS/CTS handshake", rtscts, 0, [](int, const termios &t) { EXPECT_TRUE(t.c_cflag & CRTSCTS); }},
      {"parity checking marks faulty bytes", checked, 0,
       [](int, const termios &t) { EXPECT_EQ(t.c_iflag & (INPCK | PARMRK), tcflag_t(INPCK | PARMRK)); }},
      // A pty keeps 8 bits without parity; that is the device's business, not a failure.
      {"7O1 coerced by the pty", Line(9600, 7, ODDPARITY), 0, [](int, const termios &) {}},
  };
  for (const TLineCase &c : cases) {
    SCOPED_TRACE(c.Name);
    TPseudoTerminal pty;
    TPosixSerialDevice device;
    ASSERT_EQ(pty.Open(), 0);
    ASSERT_EQ(device.Open(pty.SlavePath()), 0);
    if (c.EarlierBaud) {
      ASSERT_EQ(device.SetCommState(Line(c.EarlierBaud)), 0);
    }
    ASSERT_EQ(device.SetCommState(c.Dcb), 0);
    termios t{};
    ASSERT_EQ(tcgetattr(device.Fd(), &t), 0);
    c.Check(device.Fd(), t);
    DCB back;
    ASSERT_EQ(device.GetCommState(back), 0);
    EXPECT_EQ(back.BaudRate, c.Dcb.BaudRate);
    EXPECT_EQ(back.ByteSize, c.Dcb.ByteSize);
    EXPECT_EQ(DcbFlags(back), DcbFlags(c.Dcb));
  }
}

TEST_F(PosixSerialDeviceTest, settingsNoLineCanCarryAreRefused) {
  DCB cases[] = {Line(0), Line(9600, 4), Line(9600, 9), Line(9600, 8, 5), Line(9600, 8, NOPARITY, 3)};
  for (const DCB &dcb : cases) {
    EXPECT_EQ(Device.SetCommState(dcb), EINVAL);
    EXPECT_EQ(TSerialDevice::LastError(), EINVAL);
  }
}

TEST_F(PosixSerialDeviceTest, receivedBytesAreAnnouncedCountedAndRead) {
  ASSERT_EQ(Device.SetCommMask(EV_RXCHAR), 0);
  ASSERT_EQ(Pty.Send("hello", Deadline), 5u);
  auto event = WaitEvent(Device);
  ASSERT_TRUE(event);
  EXPECT_EQ(event->Error, 0);
  EXPECT_EQ(event->Mask, EV_RXCHAR);
  EXPECT_EQ(BytesWaiting(), 5u);
  EXPECT_EQ(ReadAll(5), "hello");
  EXPECT_EQ(BytesWaiting(), 0u);
}

TEST_F(PosixSerialDeviceTest, bytesWaitingIncludesWhatTheKernelHolds) {
  ASSERT_EQ(Pty.Send("1234567", Deadline), 7u);
  EXPECT_TRUE(WaitFor([&] { return BytesWaiting() == 7; }));
  EXPECT_EQ(ReadAll(100), "1234567"); // default timeouts: at once, with what is there
  EXPECT_EQ(ReadAll(100), "");
}

TEST_F(PosixSerialDeviceTest, anUnreadBatchDoesNotWakeTheWaitAgain) {
  ASSERT_EQ(Device.SetCommMask(EV_RXCHAR), 0);
  ASSERT_EQ(Pty.Send("abc", Deadline), 3u);
  ASSERT_EQ(WaitEvent(Device)->Mask, EV_RXCHAR);

  const uint64_t before = Device.WaitWakeups();
  auto wait = StartWait(Device);
  // The announced bytes stay unread: the wait must sleep, not spin on the readable descriptor.
  EXPECT_EQ(wait.wait_for(50ms), std::future_status::timeout);
  EXPECT_LE(Device.WaitWakeups() - before, 1u);
  EXPECT_EQ(ReadAll(10), "abc");
  EXPECT_EQ(wait.wait_for(20ms), std::future_status::timeout) << "reading announced bytes is no new event";

  ASSERT_EQ(Pty.Send("d", Deadline), 1u);
  ASSERT_EQ(wait.wait_for(Deadline), std::future_status::ready);
  EXPECT_EQ(wait.get().Mask, EV_RXCHAR);
  EXPECT_EQ(ReadAll(10), "d");
}

TEST_F(PosixSerialDeviceTest, eventCharacterAndEightyPercentMarkAreReported) {
  struct TCase {
    std::string Bytes;
    uint32_t Expected;
  } cases[] = {
      {"abc", EV_RXCHAR},
      {"xZy", EV_RXCHAR | EV_RXFLAG},
      {"12345678", EV_RXCHAR | EV_RX80FULL}, // 8 of 10
      {"Z2345678", EV_RXCHAR | EV_RXFLAG | EV_RX80FULL},
  };
  DCB dcb = Line(9600);
  dcb.EvtChar = 'Z';
  ASSERT_EQ(Device.SetCommState(dcb), 0);
  ASSERT_EQ(Device.SetupComm(10, 10), 0);
  ASSERT_EQ(Device.SetCommMask(EV_RXCHAR | EV_RXFLAG | EV_RX80FULL), 0);
  for (const TCase &c : cases) {
    SCOPED_TRACE(c.Bytes);
    ASSERT_EQ(Pty.Send(c.Bytes, Deadline), c.Bytes.size());
    auto event = WaitEvent(Device);
    ASSERT_TRUE(event);
    EXPECT_EQ(event->Mask, c.Expected);
    EXPECT_EQ(ReadAll(100), c.Bytes);
  }
}

TEST_F(PosixSerialDeviceTest, writesArriveOnTheOtherEndAndTxEmptyFollows) {
  ASSERT_EQ(Device.SetCommMask(EV_RXCHAR | EV_TXEMPTY), 0);
  uint32_t done = 0;
  ASSERT_EQ(Device.Write("abc", 3, done), 0);
  EXPECT_EQ(done, 3u);
  EXPECT_EQ(Pty.Receive(3, Deadline), "abc");
  auto event = WaitEvent(Device);
  ASSERT_TRUE(event);
  EXPECT_EQ(event->Mask, EV_TXEMPTY);
}

TEST_F(PosixSerialDeviceTest, cancelAndCloseWakeABlockedWaitPromptly) {
  for (bool close : {false, true}) {
    SCOPED_TRACE(close ? "Close" : "CancelWait");
    TPseudoTerminal pty;
    TPosixSerialDevice device;
    ASSERT_EQ(pty.Open(), 0);
    ASSERT_EQ(device.Open(pty.SlavePath()), 0);
    ASSERT_EQ(device.SetCommMask(EV_RXCHAR | EV_TXEMPTY), 0);
    auto wait = StartWait(device);
    ASSERT_TRUE(WaitFor([&] { return device.WaitBlocked(); }));
    const auto start = TClock::now();
    ASSERT_EQ(close ? device.Close() : device.CancelWait(), 0);
    ASSERT_EQ(wait.wait_for(100ms), std::future_status::ready);
    EXPECT_LT(TClock::now() - start, 100ms);
    EXPECT_EQ(wait.get().Error, ECANCELED);
    uint32_t mask = 0;
    EXPECT_EQ(device.WaitCommEvent(mask), close ? EBADF : ECANCELED) << "the stop signal stays set";
  }
}

TEST_F(PosixSerialDeviceTest, hangupIsReportedAndLaterWaitsDoNotSpin) {
  ASSERT_EQ(Device.SetCommMask(EV_RXCHAR | EV_TXEMPTY | EV_CTS), 0);
  auto wait = StartWait(Device);
  ASSERT_TRUE(WaitFor([&] { return Device.WaitBlocked(); }));
  const uint64_t before = Device.WaitWakeups();
  Pty.CloseMaster();
  ASSERT_EQ(wait.wait_for(Deadline), std::future_status::ready);
  EXPECT_EQ(wait.get().Error, EIO);
  EXPECT_TRUE(Device.HungUp());
  EXPECT_LE(Device.WaitWakeups() - before, 2u);

  const uint64_t after = Device.WaitWakeups();
  for (int i = 0; i < 100; ++i) {
    uint32_t mask = 0;
    ASSERT_EQ(Device.WaitCommEvent(mask), EIO);
  }
  EXPECT_EQ(Device.WaitWakeups(), after) << "a hung-up device answers without sleeping in the kernel";

  uint32_t done = 0;
  char byte;
  EXPECT_EQ(Device.Write("x", 1, done), EIO);
  EXPECT_EQ(Device.Read(&byte, 1, done), EIO);
  EXPECT_EQ(Device.PurgeComm(PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR), 0);
  EXPECT_EQ(Device.Close(), 0);
}

TEST_F(PosixSerialDeviceTest, bytesAnnouncedBeforeAHangupStayReadable) {
  ASSERT_EQ(Device.SetCommMask(EV_RXCHAR), 0);
  ASSERT_EQ(Pty.Send("abc", Deadline), 3u);
  ASSERT_EQ(WaitEvent(Device)->Mask, EV_RXCHAR);
  Pty.CloseMaster();
  EXPECT_EQ(BytesWaiting(), 3u);
  EXPECT_EQ(ReadAll(3), "abc");
  uint32_t mask = 0;
  EXPECT_EQ(Device.WaitCommEvent(mask), EIO);
}

TEST_F(PosixSerialDeviceTest, aSecondOpenerIsBusyUntilTheFirstCloses) {
  TPosixSerialDevice second;
  EXPECT_EQ(second.Open(Pty.SlavePath()), EBUSY);
  EXPECT_EQ(Device.Open(Pty.SlavePath()), EBUSY) << "one device, one open";
  ASSERT_EQ(Device.Close(), 0);
  EXPECT_EQ(second.Open(Pty.SlavePath()), 0);
}

TEST_F(PosixSerialDeviceTest, namesAreLookedUpInDev) {
  EXPECT_EQ(ResolveSerialDeviceName("ttyUSB0"), "/dev/ttyUSB0");
  EXPECT_EQ(ResolveSerialDeviceName("pts/7"), "/dev/pts/7");
  EXPECT_EQ(ResolveSerialDeviceName("/dev/serial/by-id/x"), "/dev/serial/by-id/x");
  TPosixSerialDevice device;
  EXPECT_EQ(device.Open("ttyXYZ"), ENOENT);
  EXPECT_EQ(TSerialDevice::LastError(), ENOENT);
  EXPECT_EQ(device.Path(), "/dev/ttyXYZ");
  EXPECT_FALSE(device.IsOpen());
  std::thread([] { EXPECT_EQ(TSerialDevice::LastError(), 0) << "the last error is per thread"; }).join();
}

TEST_F(PosixSerialDeviceTest, aDeviceWithoutModemLinesReportsAllOff) {
  uint32_t status = 0xFF;
  EXPECT_EQ(Device.GetCommModemStatus(status), 0);
  EXPECT_EQ(status, 0u);
  EXPECT_FALSE(Device.HasModemLines());
  DCB dcb = Line(9600);
  dcb.fDtrControl = DTR_CONTROL_ENABLE;
  dcb.fRtsControl = RTS_CONTROL_ENABLE;
  EXPECT_EQ(Device.SetCommState(dcb), 0) << "DTR and RTS levels on a pty are not a failure";
}

TEST_F(PosixSerialDeviceTest, purgeEmptiesBothTheDeviceQueueAndTheKernels) {
  ASSERT_EQ(Device.SetCommMask(EV_RXCHAR), 0);
  ASSERT_EQ(Pty.Send("abcdef", Deadline), 6u);
  ASSERT_EQ(WaitEvent(Device)->Mask, EV_RXCHAR); // now in the device's queue
  // With no wait watching the line (mask clear), bytes still in the kernel count as waiting.
  ASSERT_EQ(Device.SetCommMask(0), 0);
  ASSERT_EQ(Pty.Send("gh", Deadline), 2u); // these stay in the kernel's
  ASSERT_TRUE(WaitFor([&] { return BytesWaiting() == 8; }));
  ASSERT_EQ(Device.PurgeComm(PURGE_RXCLEAR), 0);
  EXPECT_EQ(BytesWaiting(), 0u);
  EXPECT_EQ(ReadAll(10), "");
  EXPECT_EQ(Device.PurgeComm(0), EINVAL);
}

TEST_F(PosixSerialDeviceTest, whileAWaitWatchesTheLineKernelBytesComeWithItsNextEvent) {
  ASSERT_EQ(Device.SetCommMask(EV_RXCHAR), 0);
  ASSERT_EQ(Pty.Send("abc", Deadline), 3u);
  ASSERT_EQ(WaitEvent(Device)->Mask, EV_RXCHAR);
  ASSERT_EQ(Pty.Send("de", Deadline), 2u);
  // Not yet moved into the device's queue: the next wait does that and reports them.
  EXPECT_EQ(BytesWaiting(), 3u);
  ASSERT_EQ(WaitEvent(Device)->Mask, EV_RXCHAR);
  EXPECT_EQ(BytesWaiting(), 5u);
  EXPECT_EQ(ReadAll(10), "abcde");
}

TEST_F(PosixSerialDeviceTest, takingEventsNeverBlocksAndTakesInWhatTheLineDelivered) {
  ASSERT_EQ(Device.SetCommMask(EV_RXCHAR | EV_RXFLAG), 0);
  uint32_t mask = 123;
  ASSERT_EQ(Device.TakeCommEvents(mask), 0);
  EXPECT_EQ(mask, 0u) << "nothing happened: an empty mask at once";
  ASSERT_EQ(Pty.Send("ab", Deadline), 2u);
  // Nobody waits: taking the events moves the kernel's bytes into the queue.
  ASSERT_TRUE(WaitFor([&] { return Device.TakeCommEvents(mask) == 0 && mask != 0; }));
  EXPECT_EQ(mask, uint32_t(EV_RXCHAR));
  EXPECT_EQ(BytesWaiting(), 2u);
  ASSERT_EQ(Device.TakeCommEvents(mask), 0);
  EXPECT_EQ(mask, 0u) << "taken once";
  ASSERT_EQ(Device.CancelWait(), 0);
  EXPECT_EQ(Device.TakeCommEvents(mask), ECANCELED);
  EXPECT_EQ(ReadAll(10), "ab");
}

TEST_F(PosixSerialDeviceTest, parityMarksAndNullsAreFilteredOnTheWayIn) {
  struct TCase {
    const char *Name;
    bool Check, DiscardNull;
    std::string Sent, Read;
  } cases[] = {
      // With checking on the kernel doubles a real FF; the device undoes it.
      {"checked FF", true, false, std::string("a\xff" "b", 3), std::string("a\xff" "b", 3)},
      {"unchecked FF", false, false, std::string("\xff", 1), std::string("\xff", 1)},
      {"nulls discarded", false, true, std::string("a\0b\0", 4), "ab"},
  };
  for (const TCase &c : cases) {
    SCOPED_TRACE(c.Name);
    DCB dcb = Line(9600);
    dcb.fParity = c.Check;
    dcb.fNull = c.DiscardNull;
    ASSERT_EQ(Device.SetCommState(dcb), 0);
    ASSERT_EQ(Pty.Send(c.Sent, Deadline), c.Sent.size());
    std::string got;
    ASSERT_TRUE(WaitFor([&] {
      got += ReadAll(16);
      return got.size() >= c.Read.size();
    }));
    EXPECT_EQ(got, c.Read);
  }
}

TEST_F(PosixSerialDeviceTest, readTimeoutsEndAReadAsConfigured) {
  struct TCase {
    const char *Name;
    COMMTIMEOUTS Timeouts;
    std::string Before, Later; // sent before the read, and once it blocks
    uint32_t Count;
    std::string Expected;
    std::chrono::milliseconds AtLeast;
  } cases[] = {
      {"total constant ends with what came", {0, 0, 60, 0, 0}, "ab", "", 5, "ab", 50ms},
      {"interval after the first byte", {40, 0, 0, 0, 0}, "abc", "", 10, "abc", 30ms},
      {"first-byte mode returns with the first byte", {MAXDWORD, MAXDWORD, 5000, 0, 0}, "", "x", 10, "x", 0ms},
      {"no timeouts wait for the whole count", {0, 0, 0, 0, 0}, "ab", "cd", 4, "abcd", 0ms},
  };
  for (const TCase &c : cases) {
    SCOPED_TRACE(c.Name);
    ASSERT_EQ(Device.SetCommTimeouts(c.Timeouts), 0);
    ASSERT_EQ(Pty.Send(c.Before, Deadline), c.Before.size());
    ASSERT_TRUE(WaitFor([&] { return BytesWaiting() == c.Before.size(); }));
    const auto start = TClock::now();
    auto read = std::async(std::launch::async, [&] { return ReadAll(c.Count); });
    if (!c.Later.empty()) {
      ASSERT_TRUE(WaitFor([&] { return Device.ReadBlocked(); }));
      ASSERT_EQ(Pty.Send(c.Later, Deadline), c.Later.size());
    }
    ASSERT_EQ(read.wait_for(Deadline), std::future_status::ready);
    EXPECT_EQ(read.get(), c.Expected);
    EXPECT_GE(TClock::now() - start, c.AtLeast);
  }
}

TEST_F(PosixSerialDeviceTest, abortAndCloseEndBlockedReadsAndWrites) {
  const std::string big(1 << 20, 'x'); // far more than the pty holds while nobody reads
  for (bool close : {false, true}) {
    for (bool write : {false, true}) {
      SCOPED_TRACE(std::string(close ? "Close " : "PurgeComm ") + (write ? "write" : "read"));
      TPseudoTerminal pty;
      TPosixSerialDevice device;
      ASSERT_EQ(pty.Open(), 0);
      ASSERT_EQ(device.Open(pty.SlavePath()), 0);
      ASSERT_EQ(device.SetCommTimeouts(COMMTIMEOUTS{0, 0, 0, 0, 0}), 0);
      auto call = std::async(std::launch::async, [&] {
        std::string buffer(4, '\0');
        uint32_t done = 0;
        return write ? device.Write(big.data(), uint32_t(big.size()), done)
                     : device.Read(buffer.data(), 4, done);
      });
      ASSERT_TRUE(WaitFor([&] { return write ? device.WriteBlocked() : device.ReadBlocked(); }));
      ASSERT_EQ(close ? device.Close() : device.PurgeComm(write ? PURGE_TXABORT : PURGE_RXABORT), 0);
      ASSERT_EQ(call.wait_for(Deadline), std::future_status::ready);
      EXPECT_EQ(call.get(), ECANCELED);
    }
  }
}

TEST_F(PosixSerialDeviceTest, aWriteTimeoutReturnsWhatFitWithoutFailing) {
  ASSERT_EQ(Device.SetCommTimeouts(COMMTIMEOUTS{MAXDWORD, 0, 0, 0, 30}), 0);
  const std::string big(1 << 20, 'x');
  uint32_t done = 0;
  const auto start = TClock::now();
  EXPECT_EQ(Device.Write(big.data(), uint32_t(big.size()), done), 0);
  EXPECT_GT(done, 0u);
  EXPECT_LT(done, big.size());
  EXPECT_GE(TClock::now() - start, 25ms);
}

TEST_F(PosixSerialDeviceTest, aPendingWaitEndsEmptyWhenTheMaskChangesAndWaitsAreSingle) {
  ASSERT_EQ(Device.SetCommMask(EV_RXCHAR), 0);
  auto wait = StartWait(Device);
  ASSERT_TRUE(WaitFor([&] { return Device.WaitBlocked(); }));
  uint32_t mask = 0;
  EXPECT_EQ(Device.WaitCommEvent(mask), EBUSY);
  ASSERT_EQ(Device.SetCommMask(EV_RXCHAR | EV_TXEMPTY), 0);
  ASSERT_EQ(wait.wait_for(Deadline), std::future_status::ready);
  const TWaitResult result = wait.get();
  EXPECT_EQ(result.Error, 0);
  EXPECT_EQ(result.Mask, 0u);
}

// Another opener of the tty (this test, opened first) claims it as another process would; root
// gets past TIOCEXCL, so the device itself must tell.
TEST(PosixSerialDeviceExclusive, aTtyClaimedByAnotherOpenerIsBusyAndItsClaimStays) {
  const auto exclusive = [](int fd) {
    int on = -1;
    return ioctl(fd, TIOCGEXCL, &on) == 0 ? on : -1;
  };
  for (const bool lock : {true, false}) {
    TPseudoTerminal pty;
    ASSERT_EQ(pty.Open(), 0);
    const int other = open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_EQ(lock ? flock(other, LOCK_EX | LOCK_NB) : ioctl(other, TIOCEXCL), 0);
    TPosixSerialDevice device;
    EXPECT_EQ(device.Open(pty.SlavePath()), EBUSY) << lock;
    EXPECT_EQ(exclusive(other), lock ? 0 : 1) << "the other opener's mode is left as it was";
    ASSERT_EQ(lock ? flock(other, LOCK_UN) : ioctl(other, TIOCNXCL), 0);
    ASSERT_EQ(device.Open(pty.SlavePath()), 0);
    EXPECT_EQ(exclusive(other), 1) << "the device's own claim";
    ASSERT_EQ(device.Close(), 0);
    EXPECT_EQ(exclusive(other), 0) << "and closing gives it up";
    close(other);
  }
}

TEST(PosixSerialDeviceClosed, everyOperationOnAClosedDeviceFailsWithEbadf) {
  TPosixSerialDevice device;
  uint32_t value = 0;
  COMSTAT stat;
  DCB dcb = Line(9600);
  COMMTIMEOUTS timeouts;
  char byte = 0;
  const std::function<int()> calls[] = {
      [&] { return device.Close(); },
      [&] { return device.SetupComm(16, 16); },
      [&] { return device.SetCommState(dcb); },
      [&] { return device.GetCommState(dcb); },
      [&] { return device.SetCommTimeouts(timeouts); },
      [&] { return device.GetCommTimeouts(timeouts); },
      [&] { return device.SetCommMask(EV_RXCHAR); },
      [&] { return device.GetCommMask(value); },
      [&] { return device.WaitCommEvent(value); },
      [&] { return device.CancelWait(); },
      [&] { return device.Read(&byte, 1, value); },
      [&] { return device.Write(&byte, 1, value); },
      [&] { return device.ClearCommError(value, stat); },
      [&] { return device.GetCommModemStatus(value); },
      [&] { return device.PurgeComm(PURGE_RXCLEAR); },
  };
  for (size_t i = 0; i < std::size(calls); ++i)
    EXPECT_EQ(calls[i](), EBADF) << "call " << i;
}

TEST(InputFilter, marksAreUndoneAcrossReadBoundaries) {
  struct TCase {
    const char *Name;
    bool Replace, DiscardNull;
    std::string In, Out;
  } cases[] = {
      {"doubled FF", false, false, std::string("a\xff\xff" "b", 4), std::string("a\xff" "b", 3)},
      {"marked byte passes", false, false, std::string("\xff\0q", 3), "q"},
      {"marked byte replaced", true, false, std::string("\xff\0q", 3), "?"},
      {"break arrives as NUL", false, false, std::string("\xff\0\0", 3), std::string("\0", 1)},
      {"break dropped with nulls", false, true, std::string("x\xff\0\0y", 5), "xy"},
      {"plain bytes", false, false, "hello", "hello"},
  };
  for (const TCase &c : cases) {
    // Every split point of the input into two reads gives the same bytes.
    for (size_t split = 0; split <= c.In.size(); ++split) {
      SCOPED_TRACE(std::string(c.Name) + " split at " + std::to_string(split));
      TInputFilter filter;
      filter.Configure(true, c.Replace, '?', c.DiscardNull);
      std::string first = c.In.substr(0, split), second = c.In.substr(split);
      first.resize(filter.Apply(first.data(), first.size()));
      second.resize(filter.Apply(second.data(), second.size()));
      EXPECT_EQ(first + second, c.Out);
    }
  }
}

TEST(InterruptibleLoop, stopInterruptsAStepBlockedInTheKernel) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  std::atomic<int> steps{0};
  TInterruptibleLoop loop;
  ASSERT_TRUE(loop.Start([&] {
    ++steps;
    char byte;
    return read(fds[0], &byte, 1) < 0 && errno == EINTR ? true : false; // blocks: nobody writes
  }));
  ASSERT_TRUE(WaitFor([&] { return steps.load() > 0; }));
  auto stop = std::async(std::launch::async, [&] { loop.Stop(); });
  EXPECT_EQ(stop.wait_for(1s), std::future_status::ready);
  stop.get();
  EXPECT_FALSE(loop.Running());

  // A loop whose step says "done" ends by itself and can be started again.
  ASSERT_TRUE(loop.Start([] { return false; }));
  EXPECT_TRUE(WaitFor([&] { return !loop.Running(); }));
  loop.Stop();
  close(fds[0]);
  close(fds[1]);
}

} // namespace
